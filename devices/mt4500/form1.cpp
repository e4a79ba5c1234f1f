#include "devices/mt4500/form1.h"

#include "common/ui/message.h"
#include "common/ui/picturebox.h"
#include "common/core/point_log.h"
#include "common/serial/serial_line.h"
#include "common/ui/uifont.h"
#include "devices/support/device_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
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

Form1::Form1(QWidget* parent)
    : devices::TabletForm(QStringLiteral("MT4500"), RecordFramer::Mode::FixedLength, parent) {
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
    Text1 = devices::PlaceLogBox(this, Twips(240, 1320, 3255, 4815));
    Command2 = Place(new QPushButton(QStringLiteral("設定"), this), "Command2",
                     Twips(240, 6360, 1455, 495));
    Command5 = Place(new QPushButton(QStringLiteral("処理中断"), this), "Command5",
                     Twips(2040, 6360, 1455, 495));
    Picture1 = Place(new PictureBox(this), "Picture1", Twips(3720, 840, 6000, 6000));

    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Text1, &QPlainTextEdit::textChanged, this, &Form1::Text1_Change);
}

bool Form1::Form_Load() {
    return readStart() && startTaking(kHandshakeRtsXonXoff, LineSettingsText());
}

void Form1::Command2_Click() {
    // The settings again; the port stays as it is.
    applyLineSettings();
}

void Form1::Command5_Click() {
    // The outline is abandoned: 座標.txt holds only the abandon line, the
    // last curGazo.bmp stays.
    clearLog();
    (void)MSComm1->setPortOpen(false);
    endProgram(abandonCoordFile() ? 0 : devices::kExitFailed);
}

bool Form1::abandonCoordFile() {
    coordFile_.close();
    const Result<> written =
        WriteCoordFileWhole(coordPath_, {QString::fromLatin1(kMt4500AbandonLine)}, codec_);
    if (written)
        return true;
    MsgBox(this, QStringLiteral("座標.txt に中断を書き込めません（%1）。").arg(written.error()));
    return false;
}

devices::TabletForm::Record Form1::readRecord(const QByteArray& bytes) {
    Record record{ParseMt4500Record(bytes), {}, {}, {}};
    if (const Result<TabletPoint>& p = record.parsed) {
        record.coordLine = Mt4500CoordLine(p->xText, p->yText, p->code);
        record.coordRefusal = QStringLiteral("座標の桁が多すぎます");
        record.logText = PointLogLine(p->xText, p->yText, QString::number(p->code));
    }
    return record;
}

} // namespace mt4500
