#pragma once
// T5160: takes one outline from a T5160-25 tablet. The points are written to
// 座標.txt as they arrive; the end button draws the sketch, saves it as
// curGazo.bmp and ends the program (the flow of devices::TabletForm). Its
// own: the scale field and 縮尺.txt, the record of three comma-separated
// fields, and its log line.

#include "devices/support/tablet_form.h"

#include <QString>

class QLabel;
class QPushButton;

namespace t5160 {

class Form1 : public devices::TabletForm {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up. False when the program cannot take an outline (the reason has
    // been shown). 座標.txt is emptied before the port is opened, so when the
    // tablet cannot be reached it is left empty; a failure before that (the
    // registry file, the room name, the scale file) changes nothing.
    bool Form_Load();

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Text3 = nullptr;      // scale denominator
    QPushButton* Command2 = nullptr; // 終了
    QPushButton* Command5 = nullptr; // text Clear

public slots:
    void Command2_Click();
    void Command5_Click();
    void Text3_Change();

protected:
    Record readRecord(const QByteArray& record) override;

private:
    void buildControls();

    QString scalePath_;
    bool loaded_ = false; // 縮尺.txt is rewritten only once the start has read it
};

} // namespace t5160
