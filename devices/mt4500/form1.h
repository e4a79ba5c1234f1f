#pragma once
// MT4500: takes one outline from an MT4500 tablet. The points are written to
// 座標.txt as they arrive; the end button draws the sketch, saves it as
// curGazo.bmp and ends the program (the flow of devices::TabletForm). Its
// own: the fixed 20-column record, its log line, "設定" and "処理中断", which
// leaves the abandon line.

#include "devices/support/tablet_form.h"

class QLabel;
class QPushButton;

namespace mt4500 {

class Form1 : public devices::TabletForm {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up. False when the program cannot take an outline (the reason has
    // been shown). 座標.txt is emptied before the port is opened, so when the
    // tablet cannot be reached it is left holding the abandon line; a failure
    // before that (the registry file, the room name) changes nothing.
    bool Form_Load();

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Command2 = nullptr; // 設定
    QPushButton* Command5 = nullptr; // 処理中断

public slots:
    void Command2_Click();
    void Command5_Click();
    void Text1_Change() {}

protected:
    Record readRecord(const QByteArray& record) override;
    // The run ends as an abandoned one: 座標.txt holds the abandon line.
    void portNotOpened() override { abandonCoordFile(); }

private:
    void buildControls();
    bool abandonCoordFile();
};

} // namespace mt4500
