#include "devices/t5160/form1.h"

#include "common/ui/message.h"
#include "common/ui/picturebox.h"
#include "common/serial/serial_line.h"
#include "common/ui/uifont.h"
#include "devices/support/device_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
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

Form1::Form1(QWidget* parent)
    : devices::TabletForm(QStringLiteral("T5160"), RecordFramer::Mode::Line, parent) {
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
    Text1 = devices::PlaceLogBox(this, Twips(240, 1920, 3135, 4695));
    Command5 = Place(new QPushButton(QStringLiteral("text Clear"), this), "Command5",
                     Twips(1200, 6840, 1095, 375));
    Command2 = Place(new QPushButton(QStringLiteral("終了"), this), "Command2",
                     Twips(1200, 7320, 1095, 375));
    Picture1 = Place(new PictureBox(this), "Picture1", Twips(3840, 720, 6000, 6000));

    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Text3, &QLineEdit::textChanged, this, &Form1::Text3_Change);
}

bool Form1::Form_Load() {
    // 1.-2. The installation folder and the room name.
    if (!readStart())
        return false;
    scalePath_ = ScaleFilePath(instPath_);

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

    // 4.-5. 座標.txt emptied, then the port.
    return startTaking(kHandshakeRtsCts, LineSettingsText());
}

void Form1::Text3_Change() {
    if (!loaded_)
        return;
    if (const auto written = WriteScaleFile(scalePath_, Text3->text(), codec_); !written)
        MsgBox(this, QStringLiteral("縮尺.txt を書き込めません（%1）。").arg(written.error()));
}

void Form1::Command5_Click() {
    clearLog();
}

void Form1::Command2_Click() {
    // 座標.txt keeps the lines written so far; no sketch is made.
    stopTaking();
    endProgram(0);
}

devices::TabletForm::Record Form1::readRecord(const QByteArray& bytes) {
    Record record{ParseT5160Record(bytes, Text3->text()), {}, {}, {}};
    if (const Result<TabletPoint>& p = record.parsed) {
        record.coordLine = T5160CoordLine(p->xM, p->yM, p->code);
        // The third field as received, the tablet's line end included.
        record.logText = QStringLiteral("(  ") + p->xText + QStringLiteral(" ,  ") + p->yText +
                         QStringLiteral(" )  Flg = ") + p->thirdField;
    }
    return record;
}

} // namespace t5160
