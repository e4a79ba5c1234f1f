#include "devices/numora/form1.h"

#include "common/core/exchange_files.h"
#include "common/core/numtext.h"
#include "common/ui/message.h"
#include "common/ui/outline_sketch.h"
#include "common/ui/picturebox.h"
#include "common/ui/uifont.h"
#include "devices/support/device_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace numora {

Form1::Form1(QWidget* parent) : QWidget(parent), codec_(TextCodec::fromRegistry()) {
    buildControls();
}

Form1::~Form1() = default;

void Form1::buildControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("KeyIN積算"));
    setFixedSize(Twips(0, 0, 10470, 7560).size());
    setFont(JapaneseUiFont(9));

    Label1 =
        Place(new QLabel(QStringLiteral("作業部位名"), this), "Label1", Twips(240, 840, 1095, 255));
    Text2 = Place(new QLineEdit(this), "Text2", Twips(240, 1080, 2055, 270));
    Label2 = Place(new QLabel(QStringLiteral("送受信テキストエリア"), this), "Label2",
                   Twips(360, 1680, 1935, 255));
    Text1 = devices::PlaceLogBox(this, Twips(240, 1920, 3135, 4695));
    Command5 = Place(new QPushButton(QStringLiteral("text Clear"), this), "Command5",
                     Twips(1200, 6840, 1095, 375));
    Picture1 = Place(new PictureBox(this), "Picture1", Twips(3840, 720, 6000, 6000));

    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Text1, &QPlainTextEdit::textChanged, this, &Form1::Text1_Change);
}

bool Form1::Form_Load() {
    QString instPath;
    QString room;
    if (!devices::ReadStart(this, codec_, &instPath, &room))
        return false;
    Text2->setText(room);

    // The file is taken whole or not at all: a file cut short, a short line or
    // no last line leaves the old sketch as it was.
    const Result<QVector<NumoraPoint>> outline =
        ReadNumoraCoordFile(CoordFilePath(instPath), codec_);
    if (!outline) {
        MsgBox(this, outline.error() + QStringLiteral("\n略図は作成しません。"));
        return false;
    }

    store_.clear();
    QString list;
    for (const NumoraPoint& p : *outline) {
        store_.appendMillimetres(p.x, p.y, static_cast<float>(p.code));
        list += QStringLiteral("(  ") + SingleToText(p.x) + QStringLiteral(" ,  ") +
                SingleToText(p.y) + QStringLiteral(" )  Flg = ") + QString::number(p.code);
    }
    Text1->setPlainText(list);
    n_ = store_.pointCount();

    // The line marked 4 is itself a point of the outline.
    DrawOutline(*Picture1, store_, n_, Text2->text());
    return devices::SaveSketch(this, *Picture1, SketchFilePath(instPath));
}

void Form1::Command5_Click() {
    Text1->setPlainText(QString());
}

} // namespace numora
