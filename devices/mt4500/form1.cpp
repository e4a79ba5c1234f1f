#include "devices/mt4500/form1.h"

#include "common/message.h"
#include "common/outline_sketch.h"
#include "common/picturebox.h"
#include "common/point_log.h"
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

namespace mt4500 {

namespace {

// The tablet's line: 1200 baud, no parity, 7 data bits, 1 stop bit.
QString LineSettingsText() {
    return QStringList{QStringLiteral("1200"), QStringLiteral("n"), QStringLiteral("7"),
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
    setWindowTitle(QStringLiteral("シリアル転送 (MT4500)"));
    setFixedSize(Twips(0, 0, 10080, 7320).size());
    setFont(JapaneseUiFont(9));

    Label1 = Place(new QLabel(QStringLiteral("作業部位名称"), this), "Label1",
                   Twips(240, 360, 1335, 255));
    Text2 = Place(new QLineEdit(this), "Text2", Twips(240, 600, 2055, 270));
    Label2 = Place(new QLabel(QStringLiteral("受信テキストエリア"), this), "Label2",
                   Twips(240, 1080, 1935, 255));
    Text1 = Place(new QPlainTextEdit(this), "Text1", Twips(240, 1320, 3255, 4815));
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Command2 = Place(new QPushButton(QStringLiteral("設定"), this), "Command2",
                     Twips(240, 6360, 1455, 495));
    Command5 = Place(new QPushButton(QStringLiteral("処理中断"), this), "Command5",
                     Twips(2040, 6360, 1455, 495));
    Picture1 = Place(new PictureBox(this), "Picture1", Twips(3720, 840, 6000, 6000));

    MSComm1 = new SerialLine(QStringLiteral("MT4500"), QStringLiteral("MSComm1"),
                             RecordFramer::Mode::FixedLength, this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));

    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Text1, &QPlainTextEdit::textChanged, this, &Form1::Text1_Change);
    connect(MSComm1, &SerialLine::OnComm, this, &Form1::MSComm1_OnComm);
}

bool Form1::Form_Load() {
    instPath_ = devices::ReadInstallationFolder(this);
    if (instPath_.isEmpty())
        return false;
    roomNamePath_ = RoomNameFilePath(instPath_);
    coordPath_ = CoordFilePath(instPath_);

    QString room;
    if (!devices::ReadRoomName(this, roomNamePath_, codec_, &room))
        return false;
    Text2->setText(room);

    // 座標.txt is emptied before the port is opened: whatever happens next,
    // the last room's outline is never taken for this one.
    QString error;
    if (!coordFile_.open(coordPath_, &error)) {
        MsgBox(this, error);
        return false;
    }
    if (!MSComm1->setPortOpen(true, &error)) {
        // The run ends as an abandoned one: 座標.txt holds the abandon line.
        abandonCoordFile();
        MsgBox(this, error + QStringLiteral("。タブレットから受信できないため終了します。"));
        return false;
    }
    applyLineSettings();
    store_.clear();
    refusals_.reset();
    return true;
}

void Form1::applyLineSettings() {
    MSComm1->setHandshaking(kHandshakeRtsXonXoff);
    MSComm1->setSettingsText(LineSettingsText());
}

void Form1::Command2_Click() {
    // The settings again; the port stays as it is.
    applyLineSettings();
}

void Form1::Command5_Click() {
    // The outline is abandoned: 座標.txt holds only the abandon line, the
    // last curGazo.bmp stays.
    Text1->clear();
    logText_.clear();
    MSComm1->setPortOpen(false);
    endProgram(abandonCoordFile() ? 0 : devices::kExitFailed);
}

bool Form1::abandonCoordFile() {
    coordFile_.close();
    QString error;
    if (WriteCoordFileWhole(coordPath_, {QString::fromLatin1(kMt4500AbandonLine)}, codec_, &error))
        return true;
    MsgBox(this, QStringLiteral("座標.txt に中断を書き込めません（%1）。").arg(error));
    return false;
}

void Form1::closeEvent(QCloseEvent* event) {
    // Closing the window keeps what was taken so far (座標.txt as written).
    if (!ended_) {
        MSComm1->setPortOpen(false);
        coordFile_.close();
        endProgram(0);
    }
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
    const ParseResult parsed = ParseMt4500Record(record);
    if (!parsed.point)
        return refuse(parsed.error);
    const TabletPoint& p = *parsed.point;
    if (const auto refusal = RefusePoint(store_, p.code))
        return refuse(*refusal);
    const QString line = Mt4500CoordLine(p.xText, p.yText, p.code);
    if (line.isEmpty())
        return refuse(QStringLiteral("座標の桁が多すぎます"));
    QString error;
    if (!coordFile_.appendLine(line, &error))
        return refuse(QStringLiteral("座標.txt に書き込めません（%1）").arg(error));
    appendLog(refusals_.flush());
    const QString code = QString::number(p.code);
    appendLog(PointLogLine(p.xText, p.yText, code));
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
    if (text.isEmpty())
        return;
    logText_ += text;
    QString shown = text;
    if (shown.endsWith(QStringLiteral("\r\n")))
        shown.chop(2);
    Text1->appendPlainText(shown);
    Text1->verticalScrollBar()->setValue(Text1->verticalScrollBar()->maximum());
}

void Form1::endProgram(int code) {
    if (ended_)
        return;
    ended_ = true;
    exitCode_ = code;
    emit programEnded(code);
}

} // namespace mt4500
