#pragma once
// The window of a tablet program (T5160, MT4500): one outline from the
// tablet, written to 座標.txt line by line as the points arrive, the sketch
// saved as curGazo.bmp at the end button, and the program over. The flow is
// here, once; each program gives only what is its own: its controls and
// names, its line settings, its record format and its log line.

#include "common/core/exchange_files.h"
#include "common/core/outline_store.h"
#include "common/core/reception.h"
#include "common/core/record_framer.h"
#include "common/core/tablet_records.h"
#include "common/core/textcodec.h"

#include <QString>
#include <QWidget>

#include <optional>

class PictureBox;
class QLineEdit;
class QPlainTextEdit;
class SerialLine;

namespace devices {

class TabletForm : public QWidget {
    Q_OBJECT
public:
    ~TabletForm() override;

    // The log as the records made it (line ends as they came).
    const QString& logText() const { return logText_; }
    const OutlineStore& store() const { return store_; }
    QString instPath() const { return instPath_; }
    // Set once the program has ended itself, with the status it ended with.
    bool hasEnded() const { return ended_; }
    int exitCode() const { return exitCode_; }

    // The controls every tablet program has, each placed by the program.
    QLineEdit* Text2 = nullptr;      // room name
    QPlainTextEdit* Text1 = nullptr; // log of the records
    PictureBox* Picture1 = nullptr;  // the sketch, saved as curGazo.bmp
    SerialLine* MSComm1 = nullptr;   // the tablet

signals:
    // The program is over: 0 after the sketch was saved or the user ended
    // it, kExitLostTablet when the tablet went away mid-outline, another
    // non-zero status after a failure that was reported.
    void programEnded(int exitCode);

public slots:
    void MSComm1_OnComm();

protected:
    // `program` names the registry key of the tablet's line
    // (...\Pointra\<program>\MSComm1), `mode` how its records are framed.
    TabletForm(const QString& program, RecordFramer::Mode mode, QWidget* parent);

    // A record as the program reads it.
    struct Record {
        Result<TabletPoint> parsed; // the point, or why the record is refused
        QString coordLine;          // its line of 座標.txt (empty: refused, see below)
        QString coordRefusal;       // why no coordinate line could be made
        QString logText;            // what the log shows for it
    };
    virtual Record readRecord(const QByteArray& record) = 0;
    // The port could not be opened; 座標.txt has been emptied and closed.
    virtual void portNotOpened() {}

    // Start-up, first half: the installation folder and the room name into
    // Text2. False after a message.
    bool readStart();
    // Start-up, second half: 座標.txt emptied, then the port opened and its
    // line set. 座標.txt is emptied before the port is opened, so the last
    // room's outline is never taken for this one. False after a message.
    bool startTaking(int handshaking, const QString& settingsText);
    // The line settings again (the port stays as it is).
    void applyLineSettings();
    // The port and 座標.txt closed; the lines written so far stay.
    void stopTaking();
    void appendLog(const QString& text);
    void clearLog();
    void endProgram(int code);
    void closeEvent(QCloseEvent* event) override;

    TextCodec codec_;
    QString instPath_;
    QString coordPath_;
    CoordFileWriter coordFile_;
    OutlineStore store_;
    Reception reception_;

private:
    void takeRecord(const QByteArray& record);
    // The log lines of what was received, and the message of a refusal.
    void showReceived(const ReceptionOutcome& got);
    void finishOutline();

    QString logText_;
    int handshaking_ = 0;
    QString settingsText_;
    bool ended_ = false;
    int exitCode_ = 0;
};

} // namespace devices
