#pragma once
// Numora: the sketch of the outline the size-input module left in 座標.txt.
// Everything happens while the window is being made: the points are read and
// listed, the sketch is drawn and saved as curGazo.bmp, and the program ends
// before its window would be shown.

#include "common/core/outline_store.h"
#include "common/core/textcodec.h"

#include <QString>
#include <QWidget>

class PictureBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace numora {

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // The whole run. True once curGazo.bmp is saved; false after a message
    // (nothing is written then).
    bool Form_Load();

    // Points as read, in millimetres (rows 1 to n, the line marked 4 included).
    const OutlineStore& store() const { return store_; }
    int pointCount() const { return n_; }

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text2 = nullptr; // room name
    QPlainTextEdit* Text1 = nullptr;
    QPushButton* Command5 = nullptr; // text Clear
    PictureBox* Picture1 = nullptr;

public slots:
    void Command5_Click();
    void Text1_Change() {}

private:
    void buildControls();

    TextCodec codec_;
    OutlineStore store_;
    int n_ = 0;
};

} // namespace numora
