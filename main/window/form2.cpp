#include "main/window/form2.h"

#include "common/ui/message.h"
#include "common/ui/uifont.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

QLabel* NamedLabel(QWidget* parent, const char* name, const QString& caption) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QString::fromUtf8(name));
    return l;
}

// A value shown as a label: sunken like a text box, so the grid reads as one table.
QLabel* ValueLabel(QWidget* parent, const char* name) {
    QLabel* l = NamedLabel(parent, name, QString());
    l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    l->setTextFormat(Qt::PlainText);
    l->setMinimumWidth(110);
    return l;
}

QLineEdit* ValueBox(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromUtf8(name));
    e->setMinimumWidth(110);
    return e;
}

} // namespace

Form2::Form2(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("設定"));
    setFont(JapaneseUiFont(9));

    Label5 = NamedLabel(this, "Label5", QStringLiteral("mouse down 座標(Twip)"));
    Label6 = NamedLabel(this, "Label6", QStringLiteral("mouse up    座標(Twip)"));
    Label1 = NamedLabel(this, "Label1", QStringLiteral("mouse down 座標(変換後)"));
    Label2 = NamedLabel(this, "Label2", QStringLiteral("mouse up    座標(変換後)"));
    Label7 = NamedLabel(this, "Label7", QStringLiteral("基準値座標(Twip)"));
    Label8 = NamedLabel(this, "Label8", QStringLiteral("基準値座標(指定座標)"));
    Label21 = NamedLabel(this, "Label21", QStringLiteral("校正に用いる始めの座標(Twip)"));
    Label22 = NamedLabel(this, "Label22", QStringLiteral("校正に用いる終わりの座標(Twip)"));
    Label23 = NamedLabel(this, "Label23", QStringLiteral("その差(Twip)"));
    Label17 = NamedLabel(this, "Label17", QStringLiteral("その差を、次の指定する長さにしたい"));
    Label3 = NamedLabel(this, "Label3", QStringLiteral("以上から得た軸係数"));
    Label4 = NamedLabel(this, "Label4", QStringLiteral("指定したい単位"));
    Label9 = NamedLabel(this, "Label9", QStringLiteral("X"));
    Label10 = NamedLabel(this, "Label10", QStringLiteral("Y"));

    down座標x = ValueLabel(this, "down座標x");
    down座標y = ValueLabel(this, "down座標y");
    up座標x = ValueLabel(this, "up座標x");
    up座標y = ValueLabel(this, "up座標y");
    変換down座標x = ValueLabel(this, "変換down座標x");
    変換down座標y = ValueLabel(this, "変換down座標y");
    変換up座標x = ValueLabel(this, "変換up座標x");
    変換up座標y = ValueLabel(this, "変換up座標y");
    基準値X = ValueLabel(this, "基準値X");
    基準値Y = ValueLabel(this, "基準値Y");
    指定基準X = ValueBox(this, "指定基準X");
    指定基準Y = ValueBox(this, "指定基準Y");
    校正始めX = ValueLabel(this, "校正始めX");
    校正始めY = ValueLabel(this, "校正始めY");
    校正終わりX = ValueLabel(this, "校正終わりX");
    校正終わりY = ValueLabel(this, "校正終わりY");
    その差X = ValueLabel(this, "その差X");
    その差Y = ValueLabel(this, "その差Y");
    指定校正X = ValueBox(this, "指定校正X");
    指定校正Y = ValueBox(this, "指定校正Y");
    x軸係数 = ValueBox(this, "x軸係数");
    Y軸係数 = ValueBox(this, "Y軸係数");
    x軸単位 = ValueBox(this, "x軸単位");
    Y軸単位 = ValueBox(this, "Y軸単位");
    Command1 = new QPushButton(QStringLiteral("戻る"), this);
    Command1->setObjectName(QStringLiteral("Command1"));

    xControls_ = {down座標x, up座標x,     変換down座標x, 変換up座標x, 基準値X, 指定基準X,
                  校正始めX, 校正終わりX, その差X,       指定校正X,   x軸係数, x軸単位};
    yControls_ = {down座標y, up座標y,     変換down座標y, 変換up座標y, 基準値Y, 指定基準Y,
                  校正始めY, 校正終わりY, その差Y,       指定校正Y,   Y軸係数, Y軸単位};
    const std::array<QLabel*, kCalRows> rowLabels = {Label5,  Label6,  Label1,  Label2,
                                                     Label7,  Label8,  Label21, Label22,
                                                     Label23, Label17, Label3,  Label4};

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label9, 0, 1, Qt::AlignCenter);
    grid->addWidget(Label10, 0, 2, Qt::AlignCenter);
    for (int r = 0; r < kCalRows; ++r) {
        grid->addWidget(rowLabels[r], r + 1, 0);
        grid->addWidget(xControls_[r], r + 1, 1);
        grid->addWidget(yControls_[r], r + 1, 2);
    }
    grid->addWidget(Command1, kCalRows + 1, 2);
    setTexts(CalibrationTexts::defaults());
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    for (CalRow row : {CalRow::OriginCoordinate, CalRow::Coefficient})
        for (bool y : {false, true})
            connect(static_cast<QLineEdit*>((y ? yControls_ : xControls_)[int(row)]),
                    &QLineEdit::editingFinished, this, [this, row, y] { checkTyped(row, y); });
}

bool Form2::checkTyped(CalRow row, bool y) {
    QString& kept = (y ? keptY_ : keptX_)[int(row)];
    const QString typed = text(row, y);
    if (const auto checked = CheckCalibrationValue(row, y, typed); !checked) {
        setText(row, y, kept);
        MsgBox(this, checked.error());
        return false;
    }
    kept = typed;
    return true;
}

void Form2::checkAllTyped() {
    for (CalRow row : {CalRow::OriginCoordinate, CalRow::Coefficient})
        for (bool y : {false, true})
            checkTyped(row, y);
}

void Form2::done(int result) {
    checkAllTyped();
    QDialog::done(result);
}

QString Form2::text(CalRow row, bool y) const {
    QWidget* w = (y ? yControls_ : xControls_)[static_cast<int>(row)];
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    return static_cast<QLineEdit*>(w)->text();
}

void Form2::setText(CalRow row, bool y, const QString& text) {
    (y ? keptY_ : keptX_)[static_cast<int>(row)] = text;
    QWidget* w = (y ? yControls_ : xControls_)[static_cast<int>(row)];
    if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(text);
    else
        static_cast<QLineEdit*>(w)->setText(text);
}

CalibrationTexts Form2::texts() const {
    CalibrationTexts t;
    for (int r = 0; r < kCalRows; ++r) {
        t.x[r] = text(CalRow(r), false);
        t.y[r] = text(CalRow(r), true);
    }
    return t;
}

void Form2::setTexts(const CalibrationTexts& t) {
    for (int r = 0; r < kCalRows; ++r) {
        setText(CalRow(r), false, t.x[r]);
        setText(CalRow(r), true, t.y[r]);
    }
}

void Form2::Command1_Click() {
    checkAllTyped();
    hide();
}
