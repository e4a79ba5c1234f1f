#pragma once
// Form2 ("設定"): the calibration values of the drawing shown in the
// digitizer, twelve rows of an X and a Y value. It explains the values and
// is their store: the digitizer writes the press and release positions into
// its labels and reads the origin and coefficients from it; the calibration
// file is written from and read into its texts. Created hidden on first use,
// it lives as long as the main window.

#include "main/image/calibration.h"

#include <QDialog>

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;

class Form2 : public QDialog {
    Q_OBJECT
public:
    explicit Form2(QWidget* parent = nullptr);

    // All 24 texts, in the calibration file's order.
    CalibrationTexts texts() const;
    void setTexts(const CalibrationTexts& texts);

    // One value's text (a label's caption or a text box's text).
    QString text(CalRow row, bool y) const;
    void setText(CalRow row, bool y, const QString& text);

    // Row labels and column heads.
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label21;
    QLabel* Label22;
    QLabel* Label23;
    QLabel* Label17;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label9;
    QLabel* Label10;
    // The values: labels, except the rows the user may type in.
    QLabel* down座標x;
    QLabel* down座標y;
    QLabel* up座標x;
    QLabel* up座標y;
    QLabel* 変換down座標x;
    QLabel* 変換down座標y;
    QLabel* 変換up座標x;
    QLabel* 変換up座標y;
    QLabel* 基準値X;
    QLabel* 基準値Y;
    QLineEdit* 指定基準X;
    QLineEdit* 指定基準Y;
    QLabel* 校正始めX;
    QLabel* 校正始めY;
    QLabel* 校正終わりX;
    QLabel* 校正終わりY;
    QLabel* その差X;
    QLabel* その差Y;
    QLineEdit* 指定校正X;
    QLineEdit* 指定校正Y;
    QLineEdit* x軸係数;
    QLineEdit* Y軸係数;
    QLineEdit* x軸単位;
    QLineEdit* Y軸単位;
    QPushButton* Command1;

public slots:
    void Command1_Click();
    // Closing the dialog, however, first checks what was typed.
    void done(int result) override;

private:
    // A typed origin coordinate or coefficient outside its range
    // (CheckCalibrationValue) is refused with a message and the box gets
    // back the value it had; false then.
    bool checkTyped(CalRow row, bool y);
    void checkAllTyped();

    std::array<QWidget*, kCalRows> xControls_{};
    std::array<QWidget*, kCalRows> yControls_{};
    // The last value of each box that was set or taken.
    std::array<QString, kCalRows> keptX_;
    std::array<QString, kCalRows> keptY_;
};
