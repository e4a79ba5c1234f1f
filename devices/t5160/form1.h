#pragma once
// T5160: takes one outline from a T5160-25 tablet. The points are written to
// 座標.txt as they arrive; the end button draws the sketch, saves it as
// curGazo.bmp and ends the program.

#include "common/exchange_files.h"
#include "common/outline_store.h"
#include "common/refusals.h"
#include "common/textcodec.h"

#include <QString>
#include <QWidget>

class PictureBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class SerialLine;

namespace t5160 {

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up. False when the program cannot take an outline (the reason has
    // been shown). 座標.txt is emptied before the port is opened, so when the
    // tablet cannot be reached it is left empty; a failure before that (the
    // registry file, the room name, the scale file) changes nothing.
    bool Form_Load();

    // The log as the tablet's records made it (line ends as received).
    const QString& logText() const { return logText_; }
    const OutlineStore& store() const { return store_; }
    QString instPath() const { return instPath_; }
    // Set once the program has ended itself, with the status it ended with.
    bool hasEnded() const { return ended_; }
    int exitCode() const { return exitCode_; }

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Text2 = nullptr; // room name
    QLineEdit* Text3 = nullptr; // scale denominator
    QPlainTextEdit* Text1 = nullptr;
    QPushButton* Command2 = nullptr; // 終了
    QPushButton* Command5 = nullptr; // text Clear
    PictureBox* Picture1 = nullptr;
    SerialLine* MSComm1 = nullptr;

signals:
    // The program is over: 0 after the sketch was saved or the user ended it,
    // devices::kExitLostTablet when the tablet went away mid-outline, another
    // non-zero status after a failure that was reported.
    void programEnded(int exitCode);

public slots:
    void Command2_Click();
    void Command5_Click();
    void Text3_Change();
    void MSComm1_OnComm();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void takeRecord(const QByteArray& record);
    void refuse(const QString& reason);
    void finishOutline();
    void appendLog(const QString& text);
    void endProgram(int code);

    TextCodec codec_;
    QString instPath_;
    QString roomNamePath_;
    QString coordPath_;
    QString scalePath_;
    CoordFileWriter coordFile_;
    OutlineStore store_;
    OutlineRefusals refusals_;
    QString logText_;
    bool loaded_ = false; // 縮尺.txt is rewritten only once the start has read it
    bool ended_ = false;
    int exitCode_ = 0;
};

} // namespace t5160
