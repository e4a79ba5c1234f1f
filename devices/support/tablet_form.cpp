#include "devices/support/tablet_form.h"

#include "common/serial/serial_line.h"
#include "common/ui/message.h"
#include "common/ui/outline_sketch.h"
#include "common/ui/picturebox.h"
#include "devices/support/device_support.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>

namespace devices {

TabletForm::TabletForm(const QString& program, RecordFramer::Mode mode, QWidget* parent)
    : QWidget(parent), codec_(TextCodec::fromRegistry()) {
    MSComm1 = new SerialLine(program, QStringLiteral("MSComm1"), mode, this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    connect(MSComm1, &SerialLine::OnComm, this, &TabletForm::MSComm1_OnComm);
}

TabletForm::~TabletForm() = default;

bool TabletForm::readStart() {
    QString room;
    if (!ReadStart(this, codec_, &instPath_, &room))
        return false;
    coordPath_ = CoordFilePath(instPath_);
    Text2->setText(room);
    return true;
}

bool TabletForm::startTaking(int handshaking, const QString& settingsText) {
    handshaking_ = handshaking;
    settingsText_ = settingsText;
    if (const auto opened = coordFile_.open(coordPath_); !opened) {
        MsgBox(this, opened.error());
        return false;
    }
    if (const auto opened = MSComm1->setPortOpen(true); !opened) {
        coordFile_.close();
        portNotOpened();
        MsgBox(this,
               opened.error() + QStringLiteral("。タブレットから受信できないため終了します。"));
        return false;
    }
    applyLineSettings();
    store_.clear();
    reception_.reset();
    return true;
}

void TabletForm::applyLineSettings() {
    MSComm1->setHandshaking(handshaking_);
    MSComm1->setSettingsText(settingsText_);
}

void TabletForm::stopTaking() {
    (void)MSComm1->setPortOpen(false);
    coordFile_.close();
}

void TabletForm::closeEvent(QCloseEvent* event) {
    // Closing the window keeps what was taken so far (座標.txt as written).
    if (!ended_) {
        stopTaking();
        endProgram(0);
    }
    event->accept();
}

void TabletForm::MSComm1_OnComm() {
    if (ended_)
        return;
    if (MSComm1->CommEvent() == kComEvReceive)
        return takeRecord(MSComm1->Input());
    const ReceptionOutcome got = reception_.lineEvent(MSComm1->CommEvent(), MSComm1->errorText());
    if (!got.lineLost)
        return showReceived(got);
    // The points taken so far stay in 座標.txt; the program ends.
    coordFile_.close();
    appendLog(reception_.flush());
    MsgBox(this, got.message +
                     QStringLiteral("。\n外形の終わりを受信する前にタブレットとの接続が切れたため"
                                    "終了します。受信した点は 座標.txt に残っています。"));
    endProgram(kExitLostTablet);
}

void TabletForm::showReceived(const ReceptionOutcome& got) {
    if (!got.message.isEmpty())
        MsgBox(this, got.message + QStringLiteral("\nこの点は取り込みません。"));
    appendLog(got.logText);
}

void TabletForm::takeRecord(const QByteArray& bytes) {
    const Record record = readRecord(bytes);
    // Each point's line of 座標.txt is written before the point is taken.
    const auto writeCoordLine = [&](const TabletPoint&) -> Result<> {
        if (record.coordLine.isEmpty())
            return Fail(record.coordRefusal);
        if (const auto written = coordFile_.appendLine(record.coordLine); !written)
            return Fail(QStringLiteral("座標.txt に書き込めません（%1）").arg(written.error()));
        return {};
    };
    const ReceptionOutcome got =
        reception_.take(record.parsed, store_, record.logText, writeCoordLine);
    showReceived(got);
    if (got.endOfOutline)
        finishOutline();
}

void TabletForm::finishOutline() {
    stopTaking();
    DrawOutline(*Picture1, store_, Text2->text());
    const bool saved = SaveSketch(this, *Picture1, SketchFilePath(instPath_));
    endProgram(saved ? 0 : kExitFailed);
}

void TabletForm::appendLog(const QString& text) {
    // The log keeps the records' own line ends; the box shows them as lines.
    if (text.isEmpty())
        return;
    logText_ += text;
    QString shown = text;
    shown.remove(QLatin1Char('\r'));
    Text1->moveCursor(QTextCursor::End);
    Text1->insertPlainText(shown);
    Text1->verticalScrollBar()->setValue(Text1->verticalScrollBar()->maximum());
}

void TabletForm::clearLog() {
    Text1->clear();
    logText_.clear();
}

void TabletForm::endProgram(int code) {
    if (ended_)
        return;
    ended_ = true;
    exitCode_ = code;
    emit programEnded(code);
}

} // namespace devices
