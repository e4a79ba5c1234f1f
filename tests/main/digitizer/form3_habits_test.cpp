// Form3 as estimators use it: the faults found in use (Return in コメント, a
// double-click, closing mid-take-off, an uncalibrated drawing, a calibration
// while zoomed, the view after a reload, the window's least size) and the
// habits of on-screen take-off (focus and keys, wheel, Space-drag, undo, the
// snap to the first point, the running length, the outlines shown as done).
#include "main/window/form3.h"
#include "tests/support/session_access.h"

#include "common/core/numtext.h"
#include "common/ui/picturebox.h"
#include "main/image/taken_outlines.h"
#include "main/window/form2.h"
#include "tests/main/digitizer/drawing_fixture.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>

namespace {

class Form3HabitsTest : public Form3DrawingTest {
protected:
    static void wheel(QWidget* w, QPoint at, int notches, Qt::KeyboardModifiers mods = {}) {
        QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, notches * 120), Qt::NoButton,
                      mods, Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &e);
    }
    static QPoint viewAt(const Form3& f) { return {f.HScroll1->value(), f.VScroll1->value()}; }
    static QPoint at(const Form3& f, QPointF drawingPixel) {
        return (drawingPixel * f.zoomFactor).toPoint();
    }
    // The trace's values, to compare before and after.
    static std::vector<float> values(const TakeoffTrace& t) {
        return {t.lastX, t.lastY, float(t.segmentCount), t.sumX, t.sumY, t.minX, t.maxX,
                t.minY,  t.maxY};
    }
};

TEST_F(Form3HabitsTest, ReturnDoubleClickAndClosingDoNotTakeOrLosePointsUnasked) {
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "1");
    Form1 form;
    startMain(form);
    const auto f3 = openDigitizer(form);
    f3->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f3.get()));
    EXPECT_FALSE(f3->Command1->autoDefault() || f3->Command1->isDefault());
    EXPECT_EQ(f3->Command1->focusPolicy(), Qt::NoFocus);
    // A double-click on the second corner takes it once.
    click(*f3, kRoom[0]);
    EXPECT_TRUE(f3->Picture1->hasFocus());
    QTest::mouseDClick(f3->Picture1, Qt::LeftButton, {}, kRoom[1]);
    EXPECT_EQ(StoreOf(form).pointCount(), 2);
    EXPECT_EQ(f3->trace.segmentCount, 1);
    const QString log = form.receivedText();
    EXPECT_EQ(log.count("Flg = 1"), 2);
    // Return in コメント: text typing, no finish; BackSpace there edits the text.
    QTest::mouseClick(f3->コメント, Qt::LeftButton);
    QTest::keyClicks(f3->コメント, "x");
    QTest::keyClick(f3->コメント, Qt::Key_Return);
    QTest::keyClick(f3->コメント, Qt::Key_Backspace);
    EXPECT_TRUE(f3->isVisible());
    EXPECT_EQ(f3->コメント->text(), QStringLiteral("拾い-1"));
    EXPECT_EQ(StoreOf(form).pointCount(), 2);
    EXPECT_FALSE(StoreOf(form).endReceived());
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();

    // Closing mid-take-off asks, by the close button, Esc and "終了" alike;
    // "No" keeps everything.
    const QString question = QStringLiteral("拾い中の点を破棄して閉じますか");
    answer = MsgAnswer::No;
    f3->close();
    QTest::keyClick(f3.get(), Qt::Key_Escape);
    f3->A13->trigger();
    EXPECT_EQ(messages, QStringList(3, question));
    EXPECT_TRUE(f3->isVisible());
    EXPECT_EQ(form.receivedText(), log);
    // "Yes" discards them as "中断" does, their lines included.
    answer = MsgAnswer::Yes;
    f3->close();
    EXPECT_FALSE(f3->isVisible());
    EXPECT_EQ(StoreOf(form).pointCount(), 0);
    EXPECT_TRUE(form.receivedText().isEmpty());
    EXPECT_TRUE(form.Text1->toPlainText().isEmpty());
    EXPECT_FALSE(form.Command2->isEnabled());
}

TEST_F(Form3HabitsTest, UncalibratedDrawingSaysSoAndTheWindowKeepsItsPanels) {
    writeDrawing(drawing, QImage::Format_RGB32, false);
    writeViewState(drawing, "1");
    Form1 form;
    startMain(form);
    // Form2 still holds another drawing's calibration.
    CalibrationTexts other = CalibrationTexts::defaults();
    other.X(CalRow::Coefficient) = other.Y(CalRow::Coefficient) = "0.02000";
    form.form2().setTexts(other);
    const auto f3 = openDigitizer(form);
    EXPECT_EQ(messages, QStringList{kScaleMessage});
    messages.clear();
    EXPECT_EQ(f3->statusText->text(), QStringLiteral("スケール未設定: 基準値--->スケール"));
    QTest::mouseMove(f3->Picture1, QPoint(300, 200));
    click(*f3, QPoint(300, 200));
    EXPECT_EQ(f3->panelText(2), QStringLiteral("未設定"));
    EXPECT_EQ(f3->panelText(5), QStringLiteral("未設定"));
    // The press and release still recorded (a calibration drag needs them),
    // nothing taken, nothing asked.
    EXPECT_EQ(form.form2().down座標x->text(), "300");
    EXPECT_EQ(form.form2().up座標y->text(), "200");
    EXPECT_EQ(StoreOf(form).pointCount(), 0);
    EXPECT_TRUE(messages.isEmpty());

    // The window cannot be made smaller than its panels and bottom row.
    f3->resize(200, 120);
    QApplication::processEvents();
    EXPECT_GE(f3->width(), f3->minimumWidth());
    for (int i = 0; i < 10; ++i)
        EXPECT_LE(f3->panels[i]->geometry().right(), f3->StatusBar1->width()) << i;
    EXPECT_LE(f3->statusText->geometry().right(), f3->StatusBar1->width());
    EXPECT_GE(f3->statusText->width(),
              f3->statusText->fontMetrics().horizontalAdvance(f3->statusText->text()));
    EXPECT_LE(f3->Command1->geometry().right(), f3->VScroll1->geometry().left());
    EXPECT_GT(f3->view->height(), 100);
}

TEST_F(Form3HabitsTest, CalibrationWhileZoomedIsRoundedOnceAndDisagreeingAxesAreAsked) {
    writeDrawing(drawing, QImage::Format_RGB32, false);
    writeViewState(drawing, "1.5");
    Form1 form;
    startMain(form);
    const auto f3 = openDigitizer(form);
    const QString inf = drawing + ".inf";
    // 3 m by 2 m over 450 by 300 units at zoom 1.5: 0.01000 m a pixel, not
    // 0.00667 x 1.5 = 0.01001.
    drag(*f3, QPoint(20, 20), QPoint(470, 320));
    answers = {QString("3000"), QString("2000")};
    f3->E12->trigger();
    EXPECT_EQ(form.form2().x軸係数->text(), "0.01000");
    EXPECT_EQ(form.form2().Y軸係数->text(), "0.01000");
    click(*f3, QPoint(470, 320));
    EXPECT_EQ(form.form2().変換down座標x->text(), "3.00");
    EXPECT_EQ(form.form2().変換down座標y->text(), "-2.00");

    // 5000 by 6000 mm over 500 by 400 pixels (0.010 and 0.015 m) pass Delt
    // by floating-point luck: asked first. "No" leaves Form2 and the file.
    f3->D11->trigger();
    f3->HScroll1->setValue(40);
    f3->VScroll1->setValue(30);
    drag(*f3, QPoint(100, 50), QPoint(600, 450));
    const CalibrationTexts before = form.form2().texts();
    const QByteArray file = Contents(inf);
    answers = {QString("5000"), QString("6000")};
    messages.clear();
    answer = MsgAnswer::No;
    f3->E12->trigger();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], QStringLiteral("X軸係数 0.01000 と Y軸係数 0.01500 が 33.3 % 違います。"
                                          "\r\n寸法の入力に誤りがないか確かめて下さい。"
                                          "このまま設定しますか？"));
    EXPECT_EQ(form.form2().texts(), before);
    EXPECT_EQ(Contents(inf), file);
    EXPECT_FLOAT_EQ(f3->metresPerUnitX, 0.01f);
    // "Yes": the Delt verdict and the save; the view stays where it was.
    answers = {QString("5000"), QString("6000")};
    answer = MsgAnswer::Yes;
    f3->E12->trigger();
    ASSERT_EQ(messages.size(), 3);
    EXPECT_TRUE(messages[2].endsWith(QStringLiteral("正しく設定されました")));
    EXPECT_TRUE(TextCodec().decode(Contents(inf)).contains(",0.01500,"));
    EXPECT_EQ(viewAt(*f3), QPoint(40, 30));
    // So after an origin setting and "中断-->再開".
    f3->E11->trigger();
    EXPECT_EQ(viewAt(*f3), QPoint(40, 30));
    f3->A12->trigger();
    EXPECT_EQ(viewAt(*f3), QPoint(40, 30));
}

TEST_F(Form3HabitsTest, RoomWithUndoWheelZoomAndNearMissWritesExactRowAndShowsAsDone) {
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "0.7");
    Form1 form;
    startMain(form);
    auto f3 = openDigitizer(form);
    f3->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f3.get()));
    const QPointF a(100, 100), b(600, 100), c(600, 500), d(100, 500);
    click(*f3, at(*f3, a));
    click(*f3, at(*f3, b));
    EXPECT_EQ(f3->panelText(10), QStringLiteral("延長 5.00 ｍ"));
    // A slip, taken back by BackSpace: every sum as before it.
    const std::vector<float> kept = values(f3->trace);
    const QString log = form.receivedText();
    click(*f3, at(*f3, QPointF(600, 400)));
    EXPECT_EQ(f3->panelText(10), QStringLiteral("延長 8.00 ｍ"));
    const QPoint slip = at(*f3, QPointF(600, 250));
    EXPECT_EQ(f3->Picture1->Point(slip.x(), slip.y()), 0xff0000);
    QTest::keyClick(f3->Picture1, Qt::Key_Backspace);
    EXPECT_EQ(values(f3->trace), kept);
    EXPECT_EQ(StoreOf(form).pointCount(), 2);
    EXPECT_EQ(form.receivedText(), log);
    EXPECT_EQ(f3->panelText(10), QStringLiteral("延長 5.00 ｍ"));
    EXPECT_EQ(f3->Picture1->Point(slip.x(), slip.y()), 0xffffff);
    // Ctrl+Z takes back down to no point, and the points come again.
    QTest::keyClick(f3->Picture1, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(f3->Picture1, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(f3->Picture1, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(f3->trace.underway());
    EXPECT_TRUE(form.receivedText().isEmpty());
    click(*f3, at(*f3, a));
    click(*f3, at(*f3, b));
    click(*f3, at(*f3, c));
    // The wheel zooms a step around the pointer; the take-off follows.
    wheel(f3->Picture1, QPoint(5, 5), 1, Qt::ControlModifier);
    EXPECT_EQ(SingleToText(f3->zoomFactor), "0.8");
    click(*f3, at(*f3, d));
    // The last click 3 pixels off the first corner closes the outline there.
    click(*f3, at(*f3, a) + QPoint(3, -2));
    EXPECT_EQ(form.form2().down座標x->text(), SingleToText(f3->trace.points().front().x));
    EXPECT_EQ(f3->panelText(10), QStringLiteral("延長 18.00 ｍ"));
    QTest::mouseClick(f3->Command1, Qt::LeftButton);
    EXPECT_FALSE(f3->isVisible());
    // Opening the digitizer again before "実行" asks; "No" opens nothing.
    messages.clear();
    answer = MsgAnswer::No;
    QTest::mouseClick(form.Command5, Qt::LeftButton);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_TRUE(StoreOf(form).endReceived());
    answer = MsgAnswer::Yes;
    messages.clear();
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    const std::vector<double> expected{18, 18, 2400, 20, 43.2, 20};
    EXPECT_EQ(row(form), expected);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    f3.reset();

    // Opened again, the room shows faintly as done, outside what the box
    // holds (so never in a thumbnail); the menu hides it.
    const TakenOutlinesRead kept2 =
        ReadTakenOutlines(TakenOutlinesPath(drawing), TextCodec::fromRegistry());
    ASSERT_EQ(kept2.outlines.size(), 1);
    EXPECT_EQ(kept2.outlines[0].points, (QList<QPointF>{a, b, c, d, a}));
    EXPECT_EQ(kept2.outlines[0].comment, QStringLiteral("拾い-1"));
    const auto again = openDigitizer(form);
    ASSERT_EQ(again->takenOutlines, kept2.outlines);
    const QPoint inside = at(*again, QPointF(350, 450));
    const QRgb seen =
        again->view->grab().toImage().pixel(again->Picture1->mapTo(again->view, inside));
    EXPECT_GT(qBlue(seen), qRed(seen) + 10);
    EXPECT_EQ(again->Picture1->Point(inside.x(), inside.y()), 0xffffff);
    again->D18->trigger();
    const QRgb hidden =
        again->view->grab().toImage().pixel(again->Picture1->mapTo(again->view, inside));
    EXPECT_EQ(hidden & 0xffffff, 0xffffffu);
}

TEST_F(Form3HabitsTest, WheelScrollsAndZoomsQuietlyAtItsLimitsAndSpaceDragOnlyMovesTheView) {
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "2");
    Form1 form;
    startMain(form);
    const auto f3 = openDigitizer(form);
    messages.clear();
    wheel(f3->Picture1, QPoint(100, 100), -1);
    EXPECT_EQ(f3->VScroll1->value(), 120);
    wheel(f3->Picture1, QPoint(100, 100), -2, Qt::ShiftModifier);
    EXPECT_EQ(f3->HScroll1->value(), 240);
    wheel(f3->Picture1, QPoint(300, 300), 1, Qt::ControlModifier);
    EXPECT_EQ(f3->zoomFactor, 2.0f);
    // Around the pointer: the drawing point under it stays under it.
    const QPoint pointer = f3->Picture1->mapTo(f3->view, QPoint(600, 500));
    wheel(f3->Picture1, QPoint(600, 500), -1, Qt::ControlModifier);
    EXPECT_EQ(SingleToText(f3->zoomFactor), "1.9");
    EXPECT_NEAR(f3->Picture1->mapFrom(f3->view, pointer).x(), 600 * 1.9 / 2, 1);
    for (int i = 0; i < 20; ++i)
        wheel(f3->Picture1, QPoint(10, 10), -1, Qt::ControlModifier);
    EXPECT_LE(f3->zoomFactor, kMinZoom);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();

    // Space held with the left button drags the view and records nothing.
    f3->D11->trigger();
    f3->HScroll1->setValue(100);
    f3->VScroll1->setValue(100);
    const CalibrationTexts labels = form.form2().texts();
    const QPoint from(400, 300);
    QTest::keyPress(f3->Picture1, Qt::Key_Space);
    QTest::mousePress(f3->Picture1, Qt::LeftButton, {}, from);
    QTest::mouseMove(f3->Picture1, from - QPoint(100, 50));
    QTest::mouseRelease(f3->Picture1, Qt::LeftButton, {}, from - QPoint(100, 50));
    QTest::keyRelease(f3->Picture1, Qt::Key_Space);
    EXPECT_EQ(viewAt(*f3), QPoint(200, 150));
    EXPECT_EQ(StoreOf(form).pointCount(), 0);
    EXPECT_TRUE(form.receivedText().isEmpty());
    EXPECT_EQ(form.form2().texts(), labels);
    // The same with the focus in コメント (as right after opening), the
    // pointer over the drawing: Space pans and types nothing; away from the
    // drawing it types.
    const QString comment = f3->コメント->text();
    QCursor::setPos(f3->Picture1->mapToGlobal(from));
    QTest::keyPress(f3->コメント, Qt::Key_Space);
    QTest::mousePress(f3->Picture1, Qt::LeftButton, {}, from);
    QTest::mouseMove(f3->Picture1, from + QPoint(100, 50));
    QTest::mouseRelease(f3->Picture1, Qt::LeftButton, {}, from + QPoint(100, 50));
    QTest::keyRelease(f3->コメント, Qt::Key_Space);
    EXPECT_EQ(viewAt(*f3), QPoint(100, 100));
    EXPECT_EQ(f3->コメント->text(), comment);
    EXPECT_EQ(StoreOf(form).pointCount(), 0);
    QCursor::setPos(f3->コメント->mapToGlobal(QPoint(5, 5)));
    QTest::keyClick(f3->コメント, Qt::Key_Space);
    EXPECT_EQ(f3->コメント->text(), comment + " ");
    f3->コメント->setText(comment);
    // The left button alone places points again.
    click(*f3, QPoint(400, 300));
    EXPECT_EQ(StoreOf(form).pointCount(), 1);
}

// The drawing's keys: + and - zoom (quietly at the limits), the arrows move
// the view, Return finishes as "中ボタン".
TEST_F(Form3HabitsTest, KeysOnTheDrawingZoomMoveAndFinish) {
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "1");
    Form1 form;
    startMain(form);
    const auto f3 = openDigitizer(form);
    messages.clear();
    click(*f3, kRoom[0]);
    QTest::keyClick(f3->Picture1, Qt::Key_Plus);
    EXPECT_GT(f3->zoomFactor, 1.0f);
    for (int i = 0; i < 12; ++i)
        QTest::keyClick(f3->Picture1, Qt::Key_Minus);
    EXPECT_LE(f3->zoomFactor, kMinZoom);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    f3->D11->trigger();
    f3->D13->trigger();
    f3->HScroll1->setValue(100);
    f3->VScroll1->setValue(100);
    const QPoint before = viewAt(*f3);
    QTest::keyClick(f3->Picture1, Qt::Key_Right);
    QTest::keyClick(f3->Picture1, Qt::Key_Down);
    EXPECT_GT(viewAt(*f3).x(), before.x());
    EXPECT_GT(viewAt(*f3).y(), before.y());
    QTest::keyClick(f3->Picture1, Qt::Key_Left);
    QTest::keyClick(f3->Picture1, Qt::Key_Up);
    EXPECT_EQ(viewAt(*f3), before);
    // F: the whole drawing in the view, from its top-left corner.
    QTest::keyClick(f3->Picture1, Qt::Key_F);
    EXPECT_FLOAT_EQ(f3->zoomFactor,
                    std::min(f3->view->width() / 1000.0f, f3->view->height() / 700.0f));
    EXPECT_LE(f3->Picture1->width(), f3->view->width());
    EXPECT_LE(f3->Picture1->height(), f3->view->height());
    EXPECT_EQ(viewAt(*f3), QPoint(0, 0));
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    // Back at zoom 1, the room's corners, then Return.
    f3->D11->trigger();
    f3->HScroll1->setValue(0);
    f3->VScroll1->setValue(0);
    for (int i = 1; i < 5; ++i)
        click(*f3, kRoom[i]);
    QTest::keyClick(f3->Picture1, Qt::Key_Return);
    EXPECT_FALSE(f3->isVisible());
    EXPECT_TRUE(StoreOf(form).endReceived());
    form.Command2_Click();
    EXPECT_EQ(row(form), (std::vector<double>{14, 14, 2400, 12, 33.6, 12}));
}

TEST_F(Form3HabitsTest, OnePixelLinesStayVisibleWhenShrunk) {
    // One-pixel lines at every offset a shrink can fall on (ten apart by one
    // more each time), down and across.
    QImage img(1200, 900, QImage::Format_RGB32);
    img.fill(Qt::white);
    std::vector<int> at;
    for (int k = 0; k < 20; ++k)
        at.push_back(40 + 41 * k);
    for (const int c : at) {
        const QRgb ink = qRgb(0, 0, 0);
        for (int i = 0; i < 900; ++i)
            img.setPixel(c, i, ink);
        for (int i = 0; i < 1200 && c < 900; ++i)
            img.setPixel(i, c, ink);
    }
    ASSERT_TRUE(img.save(drawing));
    writeViewState(drawing, "0.6");
    Form1 form;
    startMain(form);
    const auto f3 = openDigitizer(form);
    messages.clear();
    // Each zoom below 1 the menu reaches, down to the least: every line
    // darkens the screen pixels it crosses (darkest of the three nearest).
    for (int step = 0; step < 4; ++step) {
        const float z = f3->zoomFactor;
        const QImage seen = f3->Picture1->Image();
        for (const int c : at) {
            const int p = int(c * z);
            int across = 255, down = 255;
            for (int d = -1; d <= 1; ++d) {
                across = std::min(across, qGray(seen.pixel(p + d, int(15 * z))));
                if (c < 900)
                    down = std::min(down, qGray(seen.pixel(int(15 * z), p + d)));
            }
            EXPECT_LT(across, 235) << "zoom " << z << " column " << c;
            EXPECT_LT(down, 235) << "zoom " << z << " row " << c;
        }
        f3->D14->trigger();
    }
    EXPECT_EQ(SingleToText(f3->zoomFactor), "0.3");
    EXPECT_EQ(messages, QStringList{QStringLiteral("既に画像スケールは最小値です")});
}

TEST_F(Form3HabitsTest, TurnKeepsTheMiddleOfTheViewAndShowsThatItIsBusy) {
    // A drawing big enough for the turn to take a moment.
    QImage img(3000, 2000, QImage::Format_RGB32);
    img.fill(Qt::white);
    for (int x = 0; x < 3000; x += 7)
        for (int y = 0; y < 2000; ++y)
            img.setPixel(x, y, qRgb(x % 256, y % 256, 90));
    ASSERT_TRUE(img.save(drawing));
    writeViewState(drawing, "1");
    Form1 form;
    startMain(form);
    const auto f3 = openDigitizer(form);
    f3->HScroll1->setValue(1000);
    f3->VScroll1->setValue(600);
    const QPointF middle =
        QPointF(viewAt(*f3)) + QPointF(f3->view->width(), f3->view->height()) / 2;
    int busy = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        busy += f3->converting() && f3->statusText->text() == QStringLiteral("回転中…") &&
                f3->Picture1->cursor().shape() == Qt::BusyCursor && !f3->D16->isEnabled();
    });
    poll.start(2);
    f3->D16->trigger();
    poll.stop();
    EXPECT_GT(busy, 0);
    ASSERT_EQ(f3->Image1.size(), QSize(2000, 3000));
    const QPointF now = QPointF(viewAt(*f3)) + QPointF(f3->view->width(), f3->view->height()) / 2;
    EXPECT_NEAR(now.x(), 2000 - middle.y(), 1);
    EXPECT_NEAR(now.y(), middle.x(), 1);
    EXPECT_EQ(f3->Picture1->cursor().shape(), Qt::CrossCursor);
}

} // namespace
