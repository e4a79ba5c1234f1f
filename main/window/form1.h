#pragma once
// The main window of VarpadLumo: take-off name and serial number, the choice
// of input road (the two tablets, the on-screen digitizer, the keypad), the
// outline sketch, and the worksheet that receives one row per outline. The
// take-off itself is the session's; the roads feed it; this window shows it.

#include "common/core/sketch_geometry.h"
#include "main/takeoff/recovery.h"
#include "main/takeoff/takeoff_session.h"
#include "main/takeoff/worksheet.h"

#include <QDateTime>
#include <QWidget>

#include <cstdint>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTableView;
class DigitizerSource;
class Form2;
class KeypadSource;
class OutlineSource;
class TabletSource;
class PictureBox;
class SerialLine;

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up. Returns false when the installation is missing: the message
    // has been shown and the program is to end. A recovery workbook holding
    // rows nobody saved is found here and held (not written over) until
    // offerRecovery() settles it.
    bool Form_Load();
    // Once the window shows: rows a run left unsaved in the recovery workbook
    // are offered back; what is not taken back is kept under a dated name.
    void offerRecovery();

    TakeoffSession& session() { return *session_; }
    const TakeoffSession& session() const { return *session_; }
    Worksheet& sheet() { return *sheet_; }
    SerialLine& port1() { return *MSComm1; }
    SerialLine& port2() { return *MSComm2; }

    // The received-points log exactly as taken (lines ended by CR LF).
    const QString& receivedText() const { return session_->receivedText(); }

    // The sheet holds changes ("実行" rows, edits, a restored recovery) the
    // user has not saved.
    bool hasUnsavedRows() const { return unsavedRows_; }
    // The size-input module runs (the keypad road waits for it).
    bool keypadRunning() const;

    // The text the sketch prints as the outline's name.
    QString sketchName() const { return session_->sketchName(); }

    // The digitizer's calibration dialog, created hidden on first use and
    // kept as long as this window.
    Form2& form2();

    // Controls, named as the window's layout names them.
    QLabel* Label1;
    QLineEdit* Text2;
    QLabel* Label3;
    QLineEdit* Text3;
    QCheckBox* Check1;
    QPushButton* Command5;
    QLabel* Label4;
    QLineEdit* Text4;
    QPushButton* Command4;
    QPushButton* CommandSave; // saves the sheet as a workbook (also Ctrl+S)
    QGroupBox* Frame1;
    QRadioButton* Option4;
    QRadioButton* Option3;
    QRadioButton* Option1;
    QRadioButton* Option2;
    PictureBox* Picture1;
    QTableView* OLE1;
    QLabel* Label2;
    QPlainTextEdit* Text1;
    QLabel* Label5;
    QLabel* Label6;
    QLineEdit* Text5;
    QPushButton* Command3;
    QPushButton* Command1;
    QPushButton* Command2;
    SerialLine* MSComm1;
    SerialLine* MSComm2;

public slots:
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();
    void Check1_Click();
    void Text2_Change();
    void Text3_Change();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void ReadCoordFile();
    // Asks for a file name and saves the sheet there; false when cancelled or failed.
    bool SaveSheet();
    // The sheet's row menu and the Delete key (rows counted from 1).
    void insertSheetRow(int row);
    void deleteSheetRows(int firstRow, int count);
    void clearSelectedCells();
    void MSComm1_OnComm();
    void MSComm2_OnComm();
    void Form_Unload();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void selectOption(QRadioButton* chosen);
    // The road of an option.
    OutlineSource* roadOf(QRadioButton* option) const;
    // Every road stops taking (the tablets' lines close).
    void stopRoads();
    // The chosen road takes again (start-up, "設定", "キャンセル", after
    // "実行": a tablet's line closed is opened).
    void reopenChosenPort();
    void showSerialNumber();
    void writeHeadingRow();
    // What the session reports, shown: the log (appended, replaced), the
    // sketch of an outline ended, the thumbnail of a digitizer take-off.
    void showLogAppended(const QString& text);
    void showLog(const QString& text);
    void showSketch(const SketchGeometry& geometry, bool fresh);
    void showThumbnail(const QString& path);
    // Something arrived from a road: "キャンセル" and "実行" apply to it.
    void enableOutlineButtons();
    // After a change of the sheet: it holds work not yet saved by the user,
    // rowNo follows its last used row, and the recovery workbook is brought
    // up to date.
    void sheetChanged();
    // rowNo = the row after the last used one (at least 2, below the headings).
    void followLastRow();
    void writeRecovery();
    // Renames the recovery workbook to its dated name; false (with a message)
    // when it cannot be moved, and then it is no longer written.
    bool keepRecoveryAside(const QDateTime& when);
    // Offers to save unsaved rows; false when the user cancels (or the save
    // fails). When the user declines, the recovery workbook that holds them
    // is kept under a dated name.
    bool offerToSave(const QString& question);
    void showSheetMenu(const QPoint& position);

    Worksheet* sheet_;
    TakeoffSession* session_;
    TabletSource* mt4500Road_;
    TabletSource* t5160Road_;
    DigitizerSource* digitizerRoad_;
    KeypadSource* keypadRoad_;
    OutlineSource* road_ = nullptr; // the chosen road
    bool unsavedRows_ = false;
    // The recovery workbook holds rows of an earlier run that could not be
    // moved aside: it is not written over.
    bool recoveryHeld_ = false;
    RecoveryFound recoveryFound_; // what Form_Load found, until offerRecovery()
    QString lastSavePath_;
    bool unloaded_ = false;
};
