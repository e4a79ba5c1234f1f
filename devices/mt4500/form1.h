#pragma once
// MT4500: takes one outline from an MT4500 tablet. The points are written to
// 座標.txt as they arrive; the end button draws the sketch, saves it as
// curGazo.bmp and ends the program; "処理中断" leaves the abandon line.

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

namespace mt4500 {

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up. False when the program cannot take an outline (the reason has
    // been shown). 座標.txt is emptied before the port is opened, so when the
    // tablet cannot be reached it is left holding the abandon line; a failure before that (the
    // registry file, the room name) changes nothing.
    bool Form_Load();

    const QString& logText() const { return logText_; }
    const OutlineStore& store() const { return store_; }
    bool hasEnded() const { return ended_; }
    int exitCode() const { return exitCode_; }

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text2 = nullptr; // room name
    QPlainTextEdit* Text1 = nullptr;
    QPushButton* Command2 = nullptr; // 設定
    QPushButton* Command5 = nullptr; // 処理中断
    PictureBox* Picture1 = nullptr;
    SerialLine* MSComm1 = nullptr;

signals:
    // 0 after the sketch was saved or the outline was abandoned,
    // devices::kExitLostTablet when the tablet went away mid-outline, another
    // non-zero status after a failure that was reported.
    void programEnded(int exitCode);

public slots:
    void Command2_Click();
    void Command5_Click();
    void MSComm1_OnComm();
    void Text1_Change() {}

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void applyLineSettings();
    void takeRecord(const QByteArray& record);
    void refuse(const QString& reason);
    bool abandonCoordFile();
    void finishOutline();
    void appendLog(const QString& text);
    void endProgram(int code);

    TextCodec codec_;
    QString instPath_;
    QString roomNamePath_;
    QString coordPath_;
    CoordFileWriter coordFile_;
    OutlineStore store_; // only the millimetre rows are drawn from
    OutlineRefusals refusals_;
    QString logText_;
    bool ended_ = false;
    int exitCode_ = 0;
};

} // namespace mt4500
