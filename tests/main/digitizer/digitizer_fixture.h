#pragma once
// Shared set-up of the digitizer window tests: an installation with an image
// folder, a generated drawing with a room of known size, the view-state
// file, and the main window in the "Varpad" mode.

#include "main/image/calibration.h"
#include "main/window/form1.h"
#include "main/window/form3.h"
#include "tests/main/window/window_test_helpers.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QRadioButton>
#include <QTest>

#include <memory>
#include <vector>

// The drawing: 1000 x 700 pixels, a 4 m x 3 m room drawn from (100, 100) to
// (500, 400) at 0.01 m a pixel, the origin at the bottom-left corner.
inline const QPoint kRoom[] = {{100, 100}, {500, 100}, {500, 400}, {100, 400}, {100, 100}};

class DigitizerFixture : public InstallationFixture {
protected:
    void SetUp() override {
        InstallationFixture::SetUp();
        SetTitledMessageHook([this](const QString& title, const QString& text) {
            titles << title;
            messages << text;
            return answer;
        });
        ASSERT_TRUE(QDir(instPath()).mkpath(QStringLiteral("見積用画像")));
        drawing = instPath() + QStringLiteral("見積用画像/間取り.bmp");
    }
    void TearDown() override {
        SetTitledMessageHook({});
        InstallationFixture::TearDown();
    }

    // Writes the drawing in a format (BMP by the path's extension) and, when
    // asked, its calibration file. `mark` is filled black as well.
    void writeDrawing(const QString& path, QImage::Format format, bool calibrated = true,
                      const QRect& mark = QRect()) {
        QImage img(1000, 700, QImage::Format_RGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        p.setPen(QPen(Qt::black, 3));
        p.drawRect(QRect(kRoom[0], kRoom[2]));
        if (mark.isValid())
            p.fillRect(mark, Qt::black);
        p.end();
        ASSERT_TRUE(img.convertToFormat(format).save(path));
        if (calibrated) {
            CalibrationTexts t = CalibrationTexts::defaults();
            t.X(CalRow::Origin) = "0";
            t.Y(CalRow::Origin) = "700";
            t.X(CalRow::OriginCoordinate) = "0";
            t.Y(CalRow::OriginCoordinate) = "0";
            t.X(CalRow::Coefficient) = "0.01000";
            t.Y(CalRow::Coefficient) = "0.01000";
            ASSERT_TRUE(WriteCalibrationFile(CalibrationFilePath(path), t, TextCodec()));
        }
    }

    void writeViewState(const QString& path, const QString& zoom, const QString& top = "0",
                        const QString& left = "0", const QString& size = "9000,12000") {
        QFile f(instPath() + "curPass.txt");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(TextCodec().encode(path + "," + top + "," + left + "," + size + ",0,0," + zoom +
                                   "\r\n"));
    }

    // Form1 in the "Varpad" mode with a ceiling height.
    void startMain(Form1& form) {
        ASSERT_TRUE(form.Form_Load());
        QTest::mouseClick(form.Option3, Qt::LeftButton);
        form.Text4->setText("2400");
    }

    // The digitizer over the main window, loaded and shown.
    static std::unique_ptr<Form3> openDigitizer(Form1& form) {
        auto f = std::make_unique<Form3>(form.session(), form.form2(), &form);
        f->Form_Load();
        f->show();
        return f;
    }

    static void click(Form3& f, QPoint p, Qt::MouseButton b = Qt::LeftButton) {
        QTest::mouseMove(f.Picture1, p);
        QTest::mouseClick(f.Picture1, b, {}, p);
    }

    // The row "実行" wrote.
    static std::vector<double> row(Form1& form, int r = 2) {
        std::vector<double> v;
        for (int c = 2; c <= 7; ++c)
            v.push_back(form.sheet().Cells(r, c).value().toDouble());
        return v;
    }

    QStringList titles;
    QString drawing;
    const std::vector<double> kRoomRow{14, 14, 2400, 12, 33.6, 12};
};
