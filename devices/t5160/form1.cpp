#include "devices/t5160/form1.h"

#include "common/message.h"
#include "common/outline_sketch.h"
#include "common/picturebox.h"
#include "common/refusals.h"
#include "common/serial_line.h"
#include "common/tablet_records.h"
#include "common/uifont.h"
#include "devices/support/device_support.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStringList>

namespace t5160 {

namespace {

// The tablet's line: 9600 baud, even parity, 7 data bits, 1 stop bit, RTS/CTS.
QString LineSettingsText() {
    return QStringList{QStringLiteral("9600"), QStringLiteral("E"), QStringLiteral("7"),
                       QStringLiteral("1")}
        .join(QLatin1Char(','));
}

} // namespace

Form1::Form1(QWidget* parent) : QWidget(parent), codec_(TextCodec::fromRegistry()) {
    buildControls();
}

Form1::~Form1() = default;

void Form1::buildControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("シリアル転送 (T5160-25)"));
    setFixedSize(Twips(0, 0, 10470, 7980).size());
    setFont(JapaneseUiFont(9));

    Label3 =
        Place(new QLabel(QStringLiteral("縮尺　1 / "), this), "Label3", Twips(240, 430, 735, 180));
    Text3 = Place(new QLineEdit(this), "Text3", Twips(1080, 360, 615, 270));
    // A scale denominator is a whole number of a few digits; 縮尺.txt may not
    // grow past its one line through the field either.
    Text3->setMaxLength(int(kMaxLineFileBytes));
    Label1 =
        Place(new QLabel(QStringLiteral("作業部位名"), this), "Label1", Twips(240, 840, 1095, 255));
    Text2 = Place(new QLineEdit(this), "Text2", Twips(240, 1080, 2055, 270));
    Label2 = Place(new QLabel(QStringLiteral("送受信テキストエリア"), this), "Label2",
                   Twips(360, 1680, 1935, 255));
    Text1 = Place(new QPlainTextEdit(this), "Text1", Twips(240, 1920, 3135, 4695));
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Command5 = Place(new QPushButton(QStringLiteral("text Clear"), this), "Command5",
                     Twips(1200, 6840, 1095, 375));
    Command2 = Place(new QPushButton(QStringLiteral("終了"), this), "Command2",
                     Twips(1200, 7320, 1095, 375));
    Picture1 = Place(new PictureBox(this), "Picture1", Twips(3840, 720, 6000, 6000));

    MSComm1 = new SerialLine(QStringLiteral("T5160"), QStringLiteral("MSComm1"),
                             RecordFramer::Mode::Line, this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));

    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Text3, &QLineEdit::textChanged, this, &Form1::Text3_Change);
    connect(MSComm1, &SerialLine::OnComm, this, &Form1::MSComm1_OnComm);
}

bool Form1::Form_Load() {
    // 1. The installation folder and the three files in it.
    instPath_ = devices::ReadInstallationFolder(this);
    if (instPath_.isEmpty())
        return false;
    roomNamePath_ = RoomNameFilePath(instPath_);
    coordPath_ = CoordFilePath(instPath_);
    scalePath_ = ScaleFilePath(instPath_);

    // 2. The room name.
    QString room;
    if (!devices::ReadRoomName(this, roomNamePath_, codec_, &room))
        return false;
    Text2->setText(room);

    // 3. The scale; its field rewrites 縮尺.txt from here on.
    const ScaleFileContent scale = ReadScaleFile(scalePath_, codec_);
    if (scale.status == ScaleFileContent::Missing) {
        MsgBox(this, scale.error + QStringLiteral("縮尺.txt を用意してから起動して下さい。"));
        return false;
    }
    loaded_ = true;
    if (scale.status == ScaleFileContent::Present)
        Text3->setText(scale.firstLine);
    else if (scale.status == ScaleFileContent::TooLong)
        MsgBox(this, scale.error + QStringLiteral("\n最初に縮尺を設定して下さい"));
    else
        MsgBox(this, QStringLiteral("最初に縮尺を設定して下さい"));

    // 4. 座標.txt is emptied before the port is opened: whatever happens
    // next, the last room's outline is never taken for this one.
    QString error;
    if (!coordFile_.open(coordPath_, &error)) {
        MsgBox(this, error);
        return false;
    }
    // 5. The port.
    if (!MSComm1->setPortOpen(true, &error)) {
        coordFile_.close();
        MsgBox(this, error + QStringLiteral("。タブレットから受信できないため終了します。"));
        return false;
    }
    MSComm1->setHandshaking(kHandshakeRtsCts);
    MSComm1->setSettingsText(LineSettingsText());
    refusals_.reset();
    return true;
}

void Form1::Text3_Change() {
    if (!loaded_)
        return;
    QString error;
    if (!WriteScaleFile(scalePath_, Text3->text(), codec_, &error))
        MsgBox(this, QStringLiteral("縮尺.txt を書き込めません（%1）。").arg(error));
}

void Form1::Command5_Click() {
    Text1->clear();
    logText_.clear();
}

void Form1::Command2_Click() {
    // 座標.txt keeps the lines written so far; no sketch is made.
    MSComm1->setPortOpen(false);
    coordFile_.close();
    endProgram(0);
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!ended_)
        Command2_Click();
    event->accept();
}

void Form1::MSComm1_OnComm() {
    if (ended_)
        return;
    if (MSComm1->CommEvent() == kComEvReceive)
        return takeRecord(MSComm1->Input());
    bool lost = false;
    appendLog(devices::TakeLineEvent(this, *MSComm1, refusals_, coordFile_, &lost));
    if (lost)
        endProgram(devices::kExitLostTablet);
}

void Form1::refuse(const QString& reason) {
    appendLog(devices::RefuseRecord(this, refusals_, reason));
}

void Form1::takeRecord(const QByteArray& record) {
    const ParseResult parsed = ParseT5160Record(record, Text3->text());
    if (!parsed.point)
        return refuse(parsed.error);
    const TabletPoint& p = *parsed.point;
    if (const auto refusal = RefusePoint(store_, p.code))
        return refuse(*refusal);
    QString error;
    if (!coordFile_.appendLine(T5160CoordLine(p.xM, p.yM, p.code), &error))
        return refuse(QStringLiteral("座標.txt に書き込めません（%1）").arg(error));
    appendLog(refusals_.flush());
    appendLog(QStringLiteral("(  ") + p.xText + QStringLiteral(" ,  ") + p.yText +
              QStringLiteral(" )  Flg = ") + p.thirdField);
    store_.appendMetres(p.xM, p.yM, static_cast<float>(p.code));
    if (p.code == 4)
        finishOutline();
}

void Form1::finishOutline() {
    MSComm1->setPortOpen(false);
    coordFile_.close();
    DrawOutline(*Picture1, store_, Text2->text());
    const bool saved = devices::SaveSketch(this, *Picture1, SketchFilePath(instPath_));
    endProgram(saved ? 0 : devices::kExitFailed);
}

void Form1::appendLog(const QString& text) {
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

void Form1::endProgram(int code) {
    if (ended_)
        return;
    ended_ = true;
    exitCode_ = code;
    emit programEnded(code);
}

} // namespace t5160
