// Form3 on a generated drawing: loading, the view, a take-off by mouse and its
// hand-back to the main window, where "実行" writes the row.
#include "main/window/form3.h"
#include "tests/support/session_access.h"

#include "common/core/numtext.h"
#include "common/ui/picturebox.h"
#include "main/window/form1.h"
#include "main/window/form2.h"
#include "tests/main/digitizer/digitizer_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

namespace {

using Form3Test = DigitizerFixture;

TEST_F(Form3Test, RoomTakenOffByMouseBecomesTheRow) {
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "1");
    Form1 form;
    startMain(form);
    Form3 f3(form.session(), form.form2(), &form);
    f3.Form_Load();
    f3.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f3));
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_EQ(f3.windowTitle(), "Varpadizer");
    EXPECT_EQ(f3.scaleIsSet, 1);
    EXPECT_EQ(f3.colourDepth, 32);
    EXPECT_EQ(f3.Picture1->size(), QSize(1000, 700));
    EXPECT_EQ(f3.コメント->text(), QStringLiteral("拾い-1"));
    // The drawing is painted at the box's origin.
    EXPECT_EQ(f3.Picture1->Point(100, 250) & 0xffffff, 0);
    EXPECT_EQ(f3.Picture1->Point(300, 250), 0xffffff);

    for (const QPoint& p : kRoom)
        click(f3, p);
    // The live coordinates of the last position.
    EXPECT_EQ(f3.panelText(1), QStringLiteral("X軸"));
    EXPECT_EQ(f3.panelText(2), "1.00");
    EXPECT_EQ(f3.panelText(5), "6.00");
    EXPECT_EQ(f3.panelText(6), QStringLiteral("ｍ"));
    EXPECT_EQ(f3.panelText(8), "1.0");
    EXPECT_EQ(form.form2().down座標x->text(), "100");
    EXPECT_EQ(form.form2().変換up座標y->text(), "6.00");
    // A red segment and its number on the drawing.
    EXPECT_EQ(f3.Picture1->Point(300, 100), 0xff0000);
    EXPECT_EQ(f3.trace.segmentCount, 4);
    EXPECT_EQ(StoreOf(form).pointCount(), 5);

    click(f3, QPoint(700, 600), Qt::MiddleButton);
    EXPECT_FALSE(f3.isVisible());
    const OutlineStore& s = StoreOf(form);
    EXPECT_EQ(s.finishedCount(), 5);
    EXPECT_EQ(s.pointCount(), 0);
    EXPECT_TRUE(s.endReceived());
    EXPECT_EQ(s.pointsM[6][3], 4.0f);
    EXPECT_EQ(form.receivedText(), QStringLiteral("(  1.000000 ,  6.000000 )  Flg = 1\r\n"
                                                  "(  5.000000 ,  6.000000 )  Flg = 1\r\n"
                                                  "(  5.000000 ,  3.000000 )  Flg = 1\r\n"
                                                  "(  1.000000 ,  3.000000 )  Flg = 1\r\n"
                                                  "(  1.000000 ,  6.000000 )  Flg = 1\r\n"
                                                  "(  7.000000 ,  1.000000 )  Flg = 4\r\n"));
    // The thumbnail: 400 x 400, the room (4 m + 2 m margin) at 400 / 600.
    const QImage thumb(instPath() + "curGazo.bmp");
    ASSERT_EQ(thumb.size(), QSize(400, 400));
    EXPECT_EQ(form.Picture1->Picture().size(), QSize(400, 400));
    int dark = 0;
    for (int x = 0; x < 400; ++x)
        dark += qGray(thumb.pixel(x, 67)) < 100; // the room's top side, (100 - 0) x 2/3
    EXPECT_GT(dark, 150);
    QFile pass(instPath() + "curPass.txt");
    ASSERT_TRUE(pass.open(QIODevice::ReadOnly));
    const QString line = TextCodec().decode(pass.readAll());
    EXPECT_TRUE(line.startsWith(drawing + ",0,0,")) << line.toStdString();
    EXPECT_TRUE(line.endsWith(",700,1000,1\r\n")) << line.toStdString();

    EXPECT_TRUE(form.Command1->isEnabled());
    ASSERT_TRUE(form.Command2->isEnabled());
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    EXPECT_EQ(form.sheet().Cells(2, 1).value().toString(), QStringLiteral("拾い-1"));
    EXPECT_EQ(row(form), kRoomRow);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

TEST_F(Form3Test, ZoomAndAScrollInTheMiddleGiveTheSameRowAndComeBack) {
    writeDrawing(drawing, QImage::Format_RGB32);
    // Zoom 1.5, a window smaller than the drawing.
    writeViewState(drawing, "1.5", "0", "0", "9000,12000");
    Form1 form;
    startMain(form);
    auto f3 = std::make_unique<Form3>(form.session(), form.form2(), &form);
    f3->Form_Load();
    f3->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f3.get()));
    EXPECT_EQ(f3->Picture1->size(), QSize(1500, 1050));
    EXPECT_FLOAT_EQ(f3->metresPerUnitX, 0.01f / 1.5f);
    const int visibleW = f3->view->width();
    EXPECT_EQ(f3->HScroll1->maximum(), 1500 - visibleW);
    EXPECT_EQ(f3->HScroll1->pageStep(), int(RoundHalfEven((1500 - visibleW) / 60.0)));

    auto zoomed = [](QPoint p) { return QPoint(p.x() * 3 / 2, p.y() * 3 / 2); };
    click(*f3, zoomed(kRoom[0]));
    click(*f3, zoomed(kRoom[1]));
    f3->HScroll1->setValue(300);
    f3->VScroll1->setValue(200);
    EXPECT_EQ(f3->Picture1->pos(), QPoint(-300, -200));
    // The drawing moved with the box: the room's corner (750, 600) is seen
    // at (450, 400) of the view, and the first segment is still drawn.
    const QImage seen = f3->view->grab().toImage();
    EXPECT_LT(qGray(seen.pixel(450, 400)), 100);
    EXPECT_EQ(f3->Picture1->Point(450, 150), 0xff0000);
    for (int i = 2; i < 5; ++i) {
        // Through the view: where the drawing point is seen after the scroll.
        const QPoint inView = zoomed(kRoom[i]) - QPoint(300, 200);
        click(*f3, f3->Picture1->mapFrom(f3->view, inView));
    }
    click(*f3, QPoint(10, 10), Qt::MiddleButton);
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    EXPECT_EQ(row(form), kRoomRow);
    f3.reset();

    // The next opening comes back at the same zoom and scroll position.
    QFile pass(instPath() + "curPass.txt");
    ASSERT_TRUE(pass.open(QIODevice::ReadOnly));
    const QString line = TextCodec().decode(pass.readAll());
    EXPECT_TRUE(line.startsWith(drawing + ",-200,-300,")) << line.toStdString();
    Form3 again(form.session(), form.form2(), &form);
    again.Form_Load();
    again.show();
    EXPECT_EQ(again.zoomFactor, 1.5f);
    EXPECT_EQ(again.HScroll1->value(), 300);
    EXPECT_EQ(again.VScroll1->value(), 200);
    EXPECT_EQ(again.Picture1->pos(), QPoint(-300, -200));
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

TEST_F(Form3Test, BlackAndWhiteAndGreyScansTakeOffLikeColour) {
    const std::pair<const char*, QImage::Format> scans[] = {
        {"mono.png", QImage::Format_Mono},
        {"grey.png", QImage::Format_Grayscale8},
        {"grey.jpg", QImage::Format_Grayscale8}};
    int r = 2;
    Form1 form;
    startMain(form);
    for (const auto& [name, format] : scans) {
        const QString path = instPath() + QString::fromLatin1(name);
        writeDrawing(path, format);
        writeViewState(path, "1");
        Form3 f3(form.session(), form.form2(), &form);
        f3.Form_Load();
        f3.show();
        EXPECT_EQ(f3.colourDepth, 8) << name;
        EXPECT_EQ(f3.Image1.format(), QImage::Format_Indexed8);
        EXPECT_EQ(f3.scaleIsSet, 1);
        EXPECT_LT(qGray(QRgb(f3.Picture1->Point(100, 250))), 100) << name;
        for (const QPoint& p : kRoom)
            click(f3, p);
        QTest::mouseClick(f3.Command1, Qt::LeftButton);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
        EXPECT_EQ(row(form, r++), kRoomRow) << name;
    }
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

TEST_F(Form3Test, WithoutViewStateDrawingOrCalibrationNothingIsTaken) {
    Form1 form;
    startMain(form);
    form.Text2->setText(QStringLiteral("居間"));
    form.Text3->setText("2");
    {
        // No curPass.txt at all: as an empty one.
        Form3 f3(form.session(), form.form2(), &form);
        f3.Form_Load();
        EXPECT_EQ(f3.コメント->text(), QStringLiteral("居間-2"));
        EXPECT_EQ(messages, QStringList{QStringLiteral("画像ファイルを設定して下さい")});
        EXPECT_EQ(f3.zoomFactor, 1.0f);
        EXPECT_TRUE(f3.Image1.isNull());
        EXPECT_EQ(form.session().drawing().statePath, instPath() + "curPass.txt");
    }
    QTest::mouseClick(form.Check1, Qt::LeftButton);
    form.Text2->setText(QStringLiteral("居間"));
    {
        // curPass.txt naming a drawing that is gone: the message, an empty window.
        messages.clear();
        titles.clear();
        writeViewState(instPath() + "gone.bmp", "1");
        Form3 f3(form.session(), form.form2(), &form);
        f3.Form_Load();
        f3.show();
        EXPECT_EQ(f3.コメント->text(), QStringLiteral("居間"));
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].contains("gone.bmp"));
        EXPECT_EQ(titles, QStringList{QStringLiteral("エラー")});
        EXPECT_EQ(f3.Picture1->size(), QSize(0, 0));
        EXPECT_EQ(f3.scaleIsSet, 0);
        QTest::mouseClick(f3.Command1, Qt::LeftButton);
        EXPECT_TRUE(f3.isVisible());
        EXPECT_EQ(messages.last(), NoCalibrationMessage());
    }
    {
        // A drawing without its calibration file: shown, presses only fill the labels.
        messages.clear();
        writeDrawing(drawing, QImage::Format_RGB32, false);
        writeViewState(drawing, "0.5");
        StoreOf(form).clear();
        Form3 f3(form.session(), form.form2(), &form);
        f3.Form_Load();
        f3.show();
        EXPECT_EQ(messages, QStringList{QStringLiteral(
                                "画像のスケールを設定をして下さい\r\n基準値--->スケール")});
        EXPECT_EQ(f3.Picture1->size(), QSize(500, 350));
        EXPECT_EQ(f3.scaleIsSet, 0);
        const std::size_t ops = f3.Picture1->retainedOperationCount();
        click(f3, QPoint(123, 45));
        EXPECT_EQ(form.form2().down座標x->text(), "123");
        EXPECT_EQ(form.form2().down座標y->text(), "45");
        EXPECT_EQ(StoreOf(form).pointCount(), 0);
        EXPECT_EQ(f3.Picture1->retainedOperationCount(), ops);
        EXPECT_TRUE(form.receivedText().isEmpty());
    }
}

TEST_F(Form3Test, FinishesWithoutASegmentAreRefusedAndTheButtonFinishes) {
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "0.5");
    Form1 form;
    startMain(form);
    Form3 f3(form.session(), form.form2(), &form);
    f3.Form_Load();
    f3.show();
    // zoom 0.5 doubles the coefficients per unit.
    EXPECT_FLOAT_EQ(f3.metresPerUnitX, 0.02f);
    QTest::mouseClick(f3.Command1, Qt::LeftButton);
    click(f3, QPoint(50, 50), Qt::MiddleButton);
    click(f3, QPoint(50, 50));
    click(f3, QPoint(60, 60), Qt::MiddleButton);
    EXPECT_EQ(messages, QStringList(3, NoSegmentMessage()));
    EXPECT_TRUE(f3.isVisible());
    EXPECT_EQ(StoreOf(form).pointCount(), 1);
    // Right button: a perimeter-only segment in cyan.
    click(f3, QPoint(250, 50), Qt::RightButton);
    EXPECT_EQ(f3.Picture1->Point(150, 50), 0x00ffff);
    QTest::mouseClick(f3.Command1, Qt::LeftButton);
    EXPECT_FALSE(f3.isVisible());
    const OutlineStore& s = StoreOf(form);
    // "中ボタン" stores no closing point: every stored point counts.
    EXPECT_EQ(s.finishedCount(), 2);
    EXPECT_EQ(s.pointsM[2][3], 2.0f);
    EXPECT_TRUE(s.endReceived());
    EXPECT_TRUE(
        form.receivedText().endsWith(QStringLiteral("(  5.000000 ,  6.000000 )  Flg = 2\r\n"
                                                    "(  5.000000 ,  6.000000 )  Flg = 4\r\n")));
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    const std::vector<double> expected{4, 0, 2400, 0, 0, 0};
    EXPECT_EQ(row(form), expected);
    EXPECT_FALSE(StoreOf(form).endReceived());
}

TEST_F(Form3Test, PictureButtonShowsTheDigitizerModally) {
    writeDrawing(drawing, QImage::Format_BGR888);
    writeViewState(drawing, "1");
    Form1 form;
    startMain(form);
    form.show();
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* f3 = qobject_cast<Form3*>(QApplication::activeModalWidget());
        ASSERT_NE(f3, nullptr);
        seen = f3->isModal() && f3->isVisible();
        for (const QPoint& p : kRoom)
            click(*f3, p);
        click(*f3, kRoom[0], Qt::MiddleButton);
    });
    QTest::mouseClick(form.Command5, Qt::LeftButton);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(form.Command2->isEnabled());
    EXPECT_EQ(form.Picture1->Picture().size(), QSize(400, 400));
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    EXPECT_EQ(row(form), kRoomRow);
    // Form2 outlives the digitizer window, with the values of the take-off.
    EXPECT_EQ(form.form2().down座標x->text(), "100");
    EXPECT_FALSE(form.form2().isVisible());
}

} // namespace
