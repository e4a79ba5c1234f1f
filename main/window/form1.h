#pragma once
// The main window of VarpadLumo: take-off name and serial number, the choice
// of input device, serial reception of the two tablets, the outline sketch,
// and the worksheet that receives one row per outline.

#include "common/core/outline_store.h"
#include "main/image/calibration.h"
#include "main/image/taken_outlines.h"
#include "main/takeoff/reception.h"
#include "main/takeoff/recovery.h"
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
class Form2;
class PictureBox;
class SerialLine;

// Program-wide values shared with the digitizer window.
struct ProgramState {
    QString instPath;     // installation folder, ends with "/"
    QString GsDllPath;    // Ghostscript program, empty when none was found
    QString takeoffName;  // the take-off name
    int16_t serialNo = 1; // serial number of the next row
    int16_t rowNo = 2;    // worksheet row the next "実行" writes
    OutlineStore outline; // pointsM, pointsMm, pointCount, finishedCount, lastPointText
    QString imagePath;    // drawing image (digitizer)
    QString statePath;    // instPath & "curPass.txt" once the digitizer was loaded
    // The outline finished on screen, until "実行" writes its row.
    OnScreenOutlines onScreen;
    // The drawing's calibration file as this session knows it: it outlives
    // each digitizer, so a calibration the user kept over another session's
    // stays kept.
    CalibrationWatch calibration;
};

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

    ProgramState& state() { return state_; }
    const ProgramState& state() const { return state_; }
    Worksheet& sheet() { return *sheet_; }
    SerialLine& port1() { return *MSComm1; }
    SerialLine& port2() { return *MSComm2; }

    // The received-points log exactly as taken (lines ended by CR LF).
    const QString& receivedText() const { return receivedText_; }

    // The sheet holds changes ("実行" rows, edits, a restored recovery) the
    // user has not saved.
    bool hasUnsavedRows() const { return unsavedRows_; }
    // The size-input module runs (the keypad road waits for it).
    bool keypadRunning() const { return keypadRunning_; }

    // The text the sketch prints as the outline's name.
    QString sketchName() const;

    // For the digitizer: appends one line (CR LF ended) to the log of
    // received points; shows the thumbnail of a finished take-off and
    // enables "キャンセル" and "実行"; the calibration dialog, created hidden
    // on first use and kept as long as this window.
    void AppendLogLine(const QString& line);
    void ShowTakeoffThumbnail(const QString& path);
    Form2& form2();
    // Takes lines appended last back out of 受信データ (a point taken back,
    // a take-off given up); nothing when the log does not end with them.
    void TakeBackLog(const QString& lines);

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
    void closePorts();
    // Opens the port when its mode is selected and it is closed (start-up,
    // "設定", "キャンセル", after "実行").
    void reopenChosenPort();
    void openPort(SerialLine* port);
    void showSerialNumber();
    void writeHeadingRow();
    void takeRecord(SerialLine* port, bool mt4500);
    // Appends CR LF ended lines to the log.
    void appendLog(const QString& text);
    // A new outline begins: the refusals of the one that ends are forgotten.
    void forgetRefusals();
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

    ProgramState state_;
    Worksheet* sheet_;
    Reception reception_;
    QString receivedText_;
    bool unsavedRows_ = false;
    // The recovery workbook holds rows of an earlier run that could not be
    // moved aside: it is not written over.
    bool recoveryHeld_ = false;
    RecoveryFound recoveryFound_; // what Form_Load found, until offerRecovery()
    bool keypadRunning_ = false;
    QString lastSavePath_;
    bool unloaded_ = false;
    Form2* form2_ = nullptr;
};
