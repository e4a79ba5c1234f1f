#include "main/digitizer/form3.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

Form3::Form3(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("デジタイザ"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QStringLiteral("画面デジタイザはこの版ではまだ使えません。\n"
                                           "タブレットまたはKeyINで入力して下さい。"),
                            this);
    layout->addWidget(text);
    auto* close = new QPushButton(QStringLiteral("閉じる"), this);
    close->setObjectName(QStringLiteral("Command1"));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close);
}
