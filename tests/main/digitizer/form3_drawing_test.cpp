// Form3's menus on real files: choosing a drawing and converting PDFs with
// the real Ghostscript, calibrating scale and origin, zooming during a
// take-off, and turning the drawing.
#include "main/window/form3.h"
#include "tests/support/session_access.h"

#include "common/core/numtext.h"
#include "common/core/registry.h"
#include "common/ui/picturebox.h"
#include "main/image/drawing_choice.h"
#include "main/image/taken_outlines.h"
#include "main/window/form2.h"
#include "tests/main/digitizer/drawing_fixture.h"

#include <QAction>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <deque>

namespace {

TEST_F(Form3DrawingTest, BitmapsAreShownWhereTheyLieAndACancelChangesNothing) {
    ASSERT_TRUE(QDir(instPath()).mkpath("b.c"));
    const QString plan = instPath() + "b.c/plan.bmp";
    writeDrawing(plan, QImage::Format_RGB32);
    Form1 form;
    startMain(form);
    const auto opened = openDigitizer(form);
    Form3& f3 = *opened;
    EXPECT_EQ(messages, QStringList{QStringLiteral("画像ファイルを設定して下さい")});
    choose(f3, plan);
    EXPECT_EQ(filters,
              QStringList{QStringLiteral("*.bmp;*.jpg;*.jpeg;*.pdf (*.bmp *.jpg *.jpeg *.pdf)")});
    EXPECT_EQ(imagePath(form), plan);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_EQ(f3.scaleIsSet, 1);
    EXPECT_EQ(f3.Picture1->size(), QSize(1000, 700));
    // Chosen again, it keeps its calibration.
    choose(f3, plan);
    EXPECT_TRUE(QFileInfo::exists(plan + ".inf"));
    EXPECT_EQ(f3.scaleIsSet, 1);
    // A take-off under way survives a cancelled dialog.
    click(f3, kRoom[0]);
    click(f3, kRoom[1]);
    choose(f3, QString());
    EXPECT_EQ(imagePath(form), plan);
    EXPECT_TRUE(f3.trace.underway());
    EXPECT_EQ(StoreOf(form).pointCount(), 2);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(f3.Picture1->Point(300, 100), 0xff0000);
    // "中断-->再開": the take-off starts afresh, its sums and figure with it.
    f3.A12->trigger();
    EXPECT_EQ(messages, QStringList{QStringLiteral("最初から拾い直して下さい")});
    EXPECT_EQ(StoreOf(form).pointCount(), 0);
    EXPECT_FALSE(f3.trace.underway());
    EXPECT_EQ(f3.trace.sumX, 0);
    EXPECT_EQ(f3.trace.maxX, -1e8f);
    EXPECT_EQ(f3.Picture1->Point(300, 100), 0); // the wall again, no red segment
    messages.clear();
    // Without Ghostscript a PDF is refused and the drawing stays, path and all.
    form.session().setInstallation(form.session().instPath(), QString());
    choose(f3, instPath() + "plan.pdf");
    EXPECT_EQ(messages, QStringList{QStringLiteral(
                            "pdfファイルを利用する為には\r\nGhostscriptをインストールして下さい")});
    EXPECT_EQ(imagePath(form), plan);
    EXPECT_FALSE(f3.Image1.isNull());
    EXPECT_EQ(f3.scaleIsSet, 1);
}

TEST_F(Form3DrawingTest, PdfIsCopiedAndConvertedByGhostscript) {
    needGhostscript();
    // The image folder is made when missing; the PDF lies in a folder with
    // blanks and Japanese in its name.
    ASSERT_TRUE(QDir(images()).removeRecursively());
    ASSERT_TRUE(QDir(instPath()).mkpath(QStringLiteral("図面 セット (改)")));
    const QString pdf = instPath() + QStringLiteral("図面 セット (改)/平面 図.pdf");
    ASSERT_TRUE(MakePdf(pdf, 1));
    Form1 form;
    startMain(form);
    const auto opened = openDigitizer(form);
    Form3& f3 = *opened;
    choose(f3, pdf);
    const QString copy = images() + QStringLiteral("平面 図.pdf");
    EXPECT_EQ(Contents(copy), Contents(pdf));
    EXPECT_EQ(imagePath(form), copy + ".jpg");
    EXPECT_TRUE(asked.isEmpty()) << asked.join("|").toStdString(); // one page: no question
    EXPECT_EQ(messages, QStringList{kScaleMessage});
    EXPECT_EQ(f3.scaleIsSet, 0);
    EXPECT_EQ(QImageReader(copy + ".jpg").format(), "jpeg");
    EXPECT_EQ(f3.Picture1->size(), QSize(400, 300));
    EXPECT_TRUE(PageMarked(f3.Image1, 1));

    // Chosen again, from its folder or from the image folder (not copied
    // again), the page converted from the same bytes is shown as it lies,
    // with the calibration another session gave it meanwhile (noticed and
    // asked about while the page was shown); a JPEG without the record of
    // what it was made from is converted again, after a question, and its
    // calibration is kept aside under a dated name, never deleted.
    const QByteArray jpeg = Contents(copy + ".jpg");
    const QDateTime copied = QFileInfo(copy).lastModified();
    messages.clear();
    ASSERT_TRUE(WriteCalibrationFile(copy + ".jpg.inf", CalibrationTexts::defaults(), TextCodec()));
    ASSERT_TRUE(WaitFor([&] { return f3.scaleIsSet == 1; }));
    EXPECT_EQ(messages, QStringList{CalibrationChangedQuestion(copy + ".jpg", false, 0)});
    choose(f3, pdf);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_EQ(f3.scaleIsSet, 1);
    choose(f3, copy);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_EQ(f3.scaleIsSet, 1);
    EXPECT_EQ(Contents(copy + ".jpg"), jpeg);
    EXPECT_TRUE(QFileInfo::exists(copy + ".jpg.inf"));
    const QByteArray calibration = Contents(copy + ".jpg.inf");
    ASSERT_TRUE(QFile::remove(copy + ".jpg.source"));
    choose(f3, copy);
    EXPECT_EQ(QFileInfo(copy).lastModified(), copied);
    EXPECT_FALSE(QFileInfo::exists(copy + ".jpg.inf"));
    EXPECT_TRUE(QFileInfo::exists(copy + ".jpg.source"));
    EXPECT_EQ(imagePath(form), copy + ".jpg");
    const QStringList kept =
        QDir(images()).entryList({QFileInfo(copy).fileName() + ".jpg.inf.*.old"}, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(Contents(images() + kept[0]), calibration);
    EXPECT_EQ(messages, (QStringList{ReconvertPageQuestion(copy + ".jpg"),
                                     KeptAsideMessage({images() + kept[0]}, {}), kScaleMessage}));

    // An extension in capitals is a PDF all the same.
    ASSERT_TRUE(QFile::copy(pdf, instPath() + "PLAN.PDF"));
    choose(f3, instPath() + "PLAN.PDF");
    EXPECT_EQ(imagePath(form), images() + "PLAN.PDF.jpg");
    EXPECT_EQ(messages, QStringList{kScaleMessage});
    EXPECT_FALSE(f3.Image1.isNull());
}

TEST_F(Form3DrawingTest, DrawingSetAsksForThePageAndEachPageKeepsItsJpeg) {
    needGhostscript();
    const QString pdf = instPath() + QStringLiteral("図面集.pdf");
    ASSERT_TRUE(MakePdf(pdf, 3));
    Form1 form;
    startMain(form);
    const auto opened = openDigitizer(form);
    Form3& f3 = *opened;
    answers = {QString("2")};
    choose(f3, pdf);
    EXPECT_EQ(asked, QStringList{kPageTitle + "|" + PageQuestion(3)});
    const QString copy = images() + QStringLiteral("図面集.pdf");
    EXPECT_EQ(imagePath(form), copy + "-p2.jpg");
    EXPECT_EQ(messages, QStringList{kScaleMessage});
    ASSERT_EQ(f3.Image1.size(), QSize(400, 300));
    EXPECT_TRUE(PageMarked(f3.Image1, 2));
    EXPECT_FALSE(PageMarked(f3.Image1, 1));
    EXPECT_FALSE(PageMarked(f3.Image1, 3));
    // A cancelled or wrong page changes nothing.
    answers = {std::nullopt};
    choose(f3, pdf);
    EXPECT_TRUE(messages.isEmpty());
    answers = {QString("9")};
    choose(f3, pdf);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("ページ番号は 1 から 3 まで")));
    EXPECT_EQ(imagePath(form), copy + "-p2.jpg");
    EXPECT_TRUE(PageMarked(f3.Image1, 2));
    // Page 1 goes to copy & ".jpg", that page alone; page 2 keeps its own.
    answers = {QString("1")};
    choose(f3, pdf);
    EXPECT_EQ(imagePath(form), copy + ".jpg");
    EXPECT_TRUE(PageMarked(f3.Image1, 1));
    EXPECT_FALSE(PageMarked(f3.Image1, 2));
    EXPECT_EQ(QImageReader(copy + ".jpg").imageCount(), 1);
    EXPECT_EQ(Contents(copy + ".jpg").count("\xFF\xD9"), 1); // one page, not the set
    EXPECT_TRUE(QFileInfo::exists(copy + "-p2.jpg"));
}

// Going back to a page of a set that changed: nothing of the old page is
// removed without a question, and what is replaced is kept aside.
TEST_F(Form3DrawingTest, APageOfAChangedSetIsAskedAboutAndItsTakeoffKeptAside) {
    needGhostscript();
    const QString pdf = images() + QStringLiteral("変更図面.pdf");
    ASSERT_TRUE(MakePdf(pdf, 3));
    Form1 form;
    startMain(form);
    const auto opened = openDigitizer(form);
    Form3& f3 = *opened;
    answers = {QString("2")};
    choose(f3, pdf);
    const QString page = pdf + "-p2.jpg";
    ASSERT_EQ(imagePath(form), page);
    // Calibrated and taken off (by another session: asked about, taken).
    ASSERT_TRUE(WriteCalibrationFile(page + ".inf", CalibrationTexts::defaults(), TextCodec()));
    ASSERT_TRUE(WaitFor([&] { return f3.scaleIsSet == 1; }));
    ASSERT_TRUE(AppendTakenOutlines(
        page, {TakenOutline{{QPointF(100, 100), QPointF(200, 100), QPointF(200, 200)}, "居間"}},
        TextCodec()));
    ASSERT_TRUE(WaitFor([&] { return f3.takenOutlines.size() == 1; }));
    const QByteArray before[] = {Contents(page), Contents(page + ".inf"),
                                 Contents(TakenOutlinesPath(page))};
    // The same bytes again: the page as it lies, no question.
    answers = {QString("2")};
    choose(f3, pdf);
    EXPECT_TRUE(messages.filter(ReconvertPageQuestion(page)).isEmpty());
    EXPECT_EQ(Contents(page + ".inf"), before[1]);

    ASSERT_TRUE(MakePdf(pdf, 3, 150));
    answer = MsgAnswer::No;
    answers = {QString("2")};
    choose(f3, pdf);
    EXPECT_EQ(messages, QStringList{ReconvertPageQuestion(page)});
    EXPECT_EQ(Contents(page), before[0]);
    EXPECT_EQ(Contents(page + ".inf"), before[1]);
    EXPECT_EQ(Contents(TakenOutlinesPath(page)), before[2]);

    answer = MsgAnswer::Yes;
    answers = {QString("2")};
    choose(f3, pdf);
    EXPECT_NE(Contents(page), before[0]);
    EXPECT_FALSE(QFileInfo::exists(page + ".inf"));
    EXPECT_FALSE(QFileInfo::exists(TakenOutlinesPath(page)));
    const QDir folder(images());
    const QString name = QFileInfo(page).fileName();
    const QStringList inf = folder.entryList({name + ".inf.*.old"}, QDir::Files);
    const QStringList taken = folder.entryList({name + ".takeoff.*.old"}, QDir::Files);
    ASSERT_EQ(inf.size(), 1);
    ASSERT_EQ(taken.size(), 1);
    EXPECT_EQ(Contents(images() + inf[0]), before[1]);
    EXPECT_EQ(Contents(images() + taken[0]), before[2]);
    EXPECT_EQ(messages, (QStringList{ReconvertPageQuestion(page),
                                     KeptAsideMessage({images() + inf[0], images() + taken[0]}, {}),
                                     kScaleMessage}));
}

TEST_F(Form3DrawingTest, FailedCopiesAndConversionsLeaveTheDrawingAsItWas) {
    needGhostscript();
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "1");
    Form1 form;
    startMain(form);
    const auto opened = openDigitizer(form);
    Form3& f3 = *opened;
    ASSERT_EQ(f3.scaleIsSet, 1);
    auto unchanged = [&](const char* what) {
        EXPECT_EQ(imagePath(form), drawing) << what;
        EXPECT_EQ(f3.scaleIsSet, 1) << what;
        EXPECT_EQ(f3.Image1.size(), QSize(1000, 700)) << what;
        ASSERT_EQ(messages.size(), 1) << what;
    };
    // The copy cannot be made: a folder holds its name.
    ASSERT_TRUE(QDir(instPath()).mkpath("other"));
    ASSERT_TRUE(MakePdf(instPath() + "other/x.pdf", 1));
    ASSERT_TRUE(QDir(images()).mkdir("x.pdf"));
    choose(f3, instPath() + "other/x.pdf");
    unchanged("copy");
    EXPECT_TRUE(messages[0].contains(QStringLiteral("コピーできませんでした")));
    // Not a PDF: Ghostscript fails, the message names the PDF.
    const QString broken = instPath() + QStringLiteral("壊れた.pdf");
    QFile f(broken);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("%PDF-1.4\nnot really\n");
    f.close();
    choose(f3, broken);
    unchanged("broken");
    EXPECT_TRUE(messages[0].startsWith(
        QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n") + broken))
        << messages[0].toStdString();
    // An encrypted PDF: Ghostscript writes nothing; the message says why.
    const QString locked = instPath() + QStringLiteral("鍵付き.pdf");
    ASSERT_TRUE(MakePdf(
        locked, 1, 144, 108,
        {"-sOwnerPassword=owner", "-sUserPassword=user", "-dEncryptionR=3", "-dKeyLength=128"}));
    choose(f3, locked);
    unchanged("encrypted");
    EXPECT_EQ(messages[0], QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n") + locked +
                               QStringLiteral("\r\nパスワードで保護されたPDFファイルです。"
                                              "パスワードを外したPDFファイルを選んで下さい"));
    EXPECT_FALSE(QFileInfo::exists(images() + QStringLiteral("鍵付き.pdf.jpg")));
    // A Ghostscript that fails or cannot start.
    ASSERT_TRUE(MakePdf(instPath() + "good.pdf", 1));
    form.session().setInstallation(form.session().instPath(), "/bin/false");
    choose(f3, instPath() + "good.pdf");
    unchanged("false");
    EXPECT_TRUE(messages[0].contains(QStringLiteral("終了コード: 1")));
    form.session().setInstallation(form.session().instPath(), instPath() + "no-such-gs");
    choose(f3, instPath() + "good.pdf");
    unchanged("missing");
    EXPECT_TRUE(messages[0].contains(QStringLiteral("起動できません")));
}

TEST_F(Form3DrawingTest, WhileGhostscriptRunsTheWindowPaintsButTakesNoCommand) {
    needGhostscript();
    // An A2 sheet: a conversion that takes a moment.
    const QString pdf = instPath() + "a2.pdf";
    ASSERT_TRUE(MakePdf(pdf, 1, 1191, 1684));
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "1");
    Form1 form;
    startMain(form);
    const auto opened = openDigitizer(form);
    Form3& f3 = *opened;
    int seenRunning = 0, seenOpen = 0, seenSaid = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!f3.converting())
            return;
        ++seenRunning;
        seenOpen += !f3.A11->isEnabled() && !f3.A13->isEnabled() && !f3.D16->isEnabled() &&
                    !f3.E12->isEnabled() && !f3.Command1->isEnabled() && !f3.Picture1->isEnabled();
        // Said in the status bar, the busy cursor over the drawing too.
        seenSaid += f3.statusText->text().startsWith(QStringLiteral("変換中… ")) &&
                    f3.statusText->text().contains("a2.pdf") &&
                    f3.Picture1->cursor().shape() == Qt::BusyCursor;
        // Neither closing nor a second conversion.
        f3.reject();
        f3.close();
        f3.A11->trigger();
        f3.A13->trigger();
    });
    poll.start(5);
    choose(f3, pdf);
    poll.stop();
    EXPECT_GT(seenRunning, 2);
    EXPECT_EQ(seenOpen, seenRunning);
    EXPECT_EQ(seenSaid, seenRunning);
    EXPECT_EQ(f3.statusText->text(), QStringLiteral("スケール未設定: 基準値--->スケール"));
    EXPECT_EQ(f3.Picture1->cursor().shape(), Qt::CrossCursor);
    EXPECT_TRUE(f3.isVisible());
    EXPECT_EQ(filters.size(), 1);
    EXPECT_EQ(imagePath(form), images() + "a2.pdf.jpg");
    EXPECT_EQ(f3.Image1.size(), QSize(3308, 4678));
    EXPECT_TRUE(f3.A11->isEnabled());
    EXPECT_TRUE(f3.A13->isEnabled());
    EXPECT_TRUE(f3.Picture1->isEnabled());
}

TEST_F(Form3DrawingTest, ScaleAndOriginAtZoomOneAndAHalf) {
    writeDrawing(drawing, QImage::Format_RGB32, false);
    writeViewState(drawing, "1.5");
    Form1 form;
    startMain(form);
    const auto opened = openDigitizer(form);
    Form3& f3 = *opened;
    const QString inf = drawing + ".inf";
    // The drag (100, 200)-(340, 380), 3600 mm by 2700 mm.
    drag(f3, QPoint(100, 200), QPoint(340, 380));
    answers = {QString("3600"), QString("2700")};
    messages.clear();
    f3.E12->trigger();
    EXPECT_EQ(
        asked,
        (QStringList{
            QStringLiteral("X校正値|X寸法(単位：mm)を入力して下さい\r\n但し単位の入力は不要です"),
            QStringLiteral(
                "Y校正値|Y寸法(単位：mm)を入力して下さい\r\n但し単位の入力は不要です")}));
    EXPECT_EQ(messages, QStringList{QStringLiteral("Delt = 0\r\n正しく設定されました")});
    const QString file = TextCodec().decode(Contents(inf));
    const QStringList lines = file.split("\r\n");
    ASSERT_EQ(lines.size(), 3) << file.toStdString();
    EXPECT_TRUE(lines[0].startsWith("100,340,")) << file.toStdString();
    EXPECT_EQ(lines[0].section(',', 4), QStringLiteral("66.66666,0,100,340,240,3.6,0.02250,ｍ"));
    EXPECT_EQ(lines[1].section(',', 4), QStringLiteral("133.3333,0,200,380,180,2.7,0.02250,ｍ"));
    EXPECT_EQ(f3.scaleIsSet, 1);
    EXPECT_FLOAT_EQ(f3.metresPerUnitX, 0.015f);
    // The drag's start is (0, 0); 240 units right is 3.6 m.
    click(f3, QPoint(340, 200));
    EXPECT_EQ(form.form2().変換down座標x->text(), "3.60");
    EXPECT_EQ(form.form2().変換down座標y->text(), "0.00");

    // Axes that disagree (0.02250 and 0.03000): the message, nothing written,
    // the calibration in force stays.
    drag(f3, QPoint(100, 200), QPoint(340, 380));
    answers = {QString("3600"), QString("3600")};
    messages.clear();
    f3.E12->trigger();
    EXPECT_EQ(messages,
              QStringList{QStringLiteral("Delt = 0.0075\r\n設定誤差が大き過ぎます\r\n"
                                         "基準値を再設定して下さい--->基準値（スケール）")});
    EXPECT_EQ(TextCodec().decode(Contents(inf)), file);
    EXPECT_FLOAT_EQ(f3.metresPerUnitY, 0.015f);
    EXPECT_EQ(form.form2().Y軸係数->text(), "0.03000");
    // The origin command after it writes the rejected coefficients, with the
    // last press (400, 300) as the origin in drawing pixels.
    click(f3, QPoint(400, 300));
    messages.clear();
    f3.E11->trigger();
    EXPECT_EQ(messages, QStringList{kOriginQuestion});
    EXPECT_EQ(StoreOf(form).pointCount(), 0);
    const QStringList origin = TextCodec().decode(Contents(inf)).split("\r\n");
    EXPECT_EQ(origin[0].section(',', 4, 4), "266.6667");
    EXPECT_EQ(origin[1].section(',', 4, 4), "200");
    EXPECT_EQ(origin[1].section(',', 10, 10), "0.03000");
    EXPECT_FLOAT_EQ(f3.metresPerUnitY, 0.02f);
    // Cancel: the origin stays, the drawing is reloaded (no take-off under way).
    const QByteArray kept = Contents(inf);
    click(f3, QPoint(10, 10));
    ASSERT_TRUE(f3.trace.underway());
    answer = MsgAnswer::Cancel;
    f3.E11->trigger();
    EXPECT_EQ(Contents(inf), kept);
    EXPECT_FALSE(f3.trace.underway());

    // A cancelled or empty length, and a drag without a height: nothing changes.
    const CalibrationTexts before = form.form2().texts();
    messages.clear();
    drag(f3, QPoint(100, 200), QPoint(340, 380));
    const CalibrationTexts dragged = form.form2().texts();
    answers = {std::nullopt};
    f3.E12->trigger();
    answers = {QString("3600"), QString(" ")};
    f3.E12->trigger();
    EXPECT_EQ(messages,
              QStringList{QStringLiteral("寸法が入力されていないため、スケールは変更されません")});
    drag(f3, QPoint(100, 200), QPoint(340, 200));
    asked.clear();
    f3.E12->trigger();
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_TRUE(messages.last().startsWith(QStringLiteral("ドラッグの高さがありません")));
    EXPECT_EQ(Contents(inf), kept);
    CalibrationTexts now = form.form2().texts();
    EXPECT_EQ(now.X(CalRow::Coefficient), dragged.X(CalRow::Coefficient));
    EXPECT_EQ(now.X(CalRow::CalibrationEnd), before.X(CalRow::CalibrationEnd));
    EXPECT_EQ(f3.scaleIsSet, 1);
}

TEST_F(Form3DrawingTest, ZoomStepsAndATakeoffAcrossAZoom) {
    writeDrawing(drawing, QImage::Format_RGB32, false);
    writeViewState(drawing, "1");
    Form1 form;
    startMain(form);
    auto f3 = openDigitizer(form);
    // Calibrated at zoom 1 by a drag across the room: 4000 by 3000 mm, the
    // origin at its top-left corner.
    drag(*f3, kRoom[0], kRoom[2]);
    answers = {QString("4000"), QString("3000")};
    f3->E12->trigger();
    ASSERT_EQ(f3->scaleIsSet, 1);
    click(*f3, kRoom[0]);
    click(*f3, kRoom[1]);
    // To 1.5: the box and the bars follow, the marks stay on the drawing.
    f3->D13->trigger();
    f3->D13->trigger();
    f3->D12->trigger();
    const float z = f3->zoomFactor;
    EXPECT_EQ(SingleToText(z), "1.5");
    EXPECT_EQ(f3->Picture1->size(), QSize(int(std::lround(1000 * z)), int(std::lround(700 * z))));
    EXPECT_EQ(f3->HScroll1->maximum(), f3->Picture1->width() - f3->view->width());
    EXPECT_FLOAT_EQ(f3->metresPerUnitX, 0.01f / z);
    EXPECT_EQ(f3->Picture1->Point(300 * z, 100 * z), 0xff0000);
    auto at = [z](QPoint p) {
        return QPoint(int(std::lround(p.x() * z)), int(std::lround(p.y() * z)));
    };
    for (int i = 2; i < 5; ++i)
        click(*f3, at(kRoom[i]));
    EXPECT_EQ(f3->Picture1->Point(500 * z, 250 * z), 0xff0000);
    click(*f3, at(QPoint(10, 10)), Qt::MiddleButton);
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    EXPECT_EQ(row(form), kRoomRow);
    f3.reset();

    // The table's limits and messages; D11 restores 1 and its coefficients.
    messages.clear();
    const auto again = openDigitizer(form);
    Form3& g = *again;
    EXPECT_FLOAT_EQ(g.zoomFactor, 1.5f); // curPass.txt holds the zoom's 7-digit text
    g.D11->trigger();
    for (int i = 0; i < 6; ++i)
        g.D13->trigger();
    EXPECT_EQ(g.zoomFactor, 2.0f);
    EXPECT_EQ(g.Picture1->size(), QSize(2000, 1400));
    g.D11->trigger();
    EXPECT_EQ(g.zoomFactor, 1.0f);
    EXPECT_FLOAT_EQ(g.metresPerUnitX, 0.01f);
    for (int i = 0; i < 4; ++i)
        g.D15->trigger();
    EXPECT_EQ(g.zoomFactor, kMinZoom);
    EXPECT_EQ(g.Picture1->size(), QSize(300, 210));
    EXPECT_EQ(g.HScroll1->maximum(), 0);
    g.D14->trigger();
    EXPECT_EQ(messages, (QStringList{QStringLiteral("既に画像スケールは最大値です"),
                                     QStringLiteral("既に画像スケールは最小値です")}));
}

TEST_F(Form3DrawingTest, TurnsKeepTheDrawingsFormatCalibrationAndOutlines) {
    // A black mark at the top-left corner shows where the drawing went.
    writeDrawing(drawing, QImage::Format_RGB32, true, QRect(0, 0, 100, 50));
    writeViewState(drawing, "1");
    const TakenOutline room{{QPointF(100, 100), QPointF(500.25, 100), QPointF(500.25, 400)},
                            QStringLiteral("居間-1")};
    ASSERT_TRUE(AppendTakenOutlines(drawing, {room}, TextCodec()));
    const QByteArray calibration = Contents(drawing + ".inf");
    CalibrationTexts texts = CalibrationTexts::defaults();
    ASSERT_TRUE(ReadCalibrationFile(drawing + ".inf", TextCodec(), texts).ok);
    const QImage original = QImage(drawing).convertToFormat(QImage::Format_RGB32);
    Form1 form;
    startMain(form);
    const auto opened = openDigitizer(form);
    Form3& f3 = *opened;
    ASSERT_EQ(f3.scaleIsSet, 1);
    messages.clear();
    // Turned right: still a bitmap, every pixel kept; the calibration and the
    // outlines turned with it, so nothing asks for a new scale.
    f3.D16->trigger();
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_EQ(imagePath(form), drawing);
    EXPECT_EQ(QImageReader(drawing).format(), "bmp");
    EXPECT_EQ(f3.scaleIsSet, 1);
    CalibrationTexts turned = CalibrationTexts::defaults();
    ASSERT_TRUE(ReadCalibrationFile(drawing + ".inf", TextCodec(), turned).ok);
    EXPECT_EQ(turned, TurnedCalibration(texts, QuarterTurn::Right, 1000, 700));
    EXPECT_EQ(ReadTakenOutlines(TakenOutlinesPath(drawing), TextCodec()).outlines,
              (QList<TakenOutline>{{{QPointF(600, 100), QPointF(600, 500.25), QPointF(300, 500.25)},
                                    QStringLiteral("居間-1")}}));
    ASSERT_EQ(f3.Image1.size(), QSize(700, 1000));
    EXPECT_EQ(f3.Picture1->size(), QSize(700, 1000));
    EXPECT_LT(qGray(f3.Image1.pixel(674, 50)), 60); // (50, 25) turned right
    EXPECT_GT(qGray(f3.Image1.pixel(25, 50)), 200);
    // Back left: the very drawing, calibration and outlines of before.
    f3.D17->trigger();
    ASSERT_EQ(f3.Image1.size(), QSize(1000, 700));
    EXPECT_EQ(QImage(drawing).convertToFormat(QImage::Format_RGB32), original);
    EXPECT_EQ(Contents(drawing + ".inf"), calibration);
    EXPECT_EQ(ReadTakenOutlines(TakenOutlinesPath(drawing), TextCodec()).outlines,
              QList<TakenOutline>{room});
    f3.D17->trigger();
    ASSERT_EQ(f3.Image1.size(), QSize(700, 1000));
    EXPECT_LT(qGray(f3.Image1.pixel(25, 949)), 60); // (50, 25) turned left
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();

    // A save that cannot complete: the drawing and its calibration stay.
    ASSERT_TRUE(WriteCalibrationFile(drawing + ".inf", CalibrationTexts::defaults(), TextCodec()));
    f3.LoadDrawing();
    ASSERT_EQ(f3.scaleIsSet, 1);
    ASSERT_TRUE(QFile::rename(drawing, drawing + ".kept"));
    ASSERT_TRUE(QDir().mkdir(drawing));
    messages.clear();
    f3.D16->trigger();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("画像を保存できませんでした: ") + drawing));
    EXPECT_TRUE(QFileInfo::exists(drawing + ".inf"));
    EXPECT_EQ(f3.scaleIsSet, 1);
    EXPECT_EQ(f3.Image1.size(), QSize(700, 1000));
}

} // namespace
