#include "devices/support/tablet_form.h"

#include "common/ui/message.h"
#include "common/ui/outline_sketch.h"
#include "common/ui/picturebox.h"
#include "common/serial/serial_line.h"
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
    refusals_.reset();
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
    bool lost = false;
    appendLog(TakeLineEvent(this, *MSComm1, refusals_, coordFile_, &lost));
    if (lost)
        endProgram(kExitLostTablet);
}

void TabletForm::refuse(const QString& reason) {
    appendLog(RefuseRecord(this, refusals_, reason));
}

void TabletForm::takeRecord(const QByteArray& bytes) {
    const Record record = readRecord(bytes);
    if (!record.parsed)
        return refuse(record.parsed.error());
    const TabletPoint& p = *record.parsed;
    if (const auto checked = CheckPoint(store_, p.code); !checked)
        return refuse(checked.error());
    if (record.coordLine.isEmpty())
        return refuse(record.coordRefusal);
    if (const auto appended = coordFile_.appendLine(record.coordLine); !appended)
        return refuse(QStringLiteral("座標.txt に書き込めません（%1）").arg(appended.error()));
    appendLog(refusals_.flush());
    appendLog(record.logText);
    store_.appendMetres(p.xM, p.yM, static_cast<float>(p.code));
    if (p.code == 4)
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
