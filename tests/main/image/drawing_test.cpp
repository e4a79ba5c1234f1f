// Choosing a drawing (the extension rule, the PDF copy, Ghostscript's
// command lines), the calibration commands' arithmetic, and the quarter
// turns with their JPEG, without the window.
#include "main/image/calibration.h"
#include "main/image/drawing_choice.h"
#include "main/image/pixels.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace {

const QStringList kPartArguments{"-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=jpeg", "-r200"};

CalibrationTexts Drag(const char* downX, const char* downY, const char* upX, const char* upY) {
    CalibrationTexts t = CalibrationTexts::defaults();
    t.X(CalRow::MouseDown) = downX;
    t.Y(CalRow::MouseDown) = downY;
    t.X(CalRow::MouseUp) = upX;
    t.Y(CalRow::MouseUp) = upY;
    return t;
}

} // namespace

TEST(DrawingChoice, ExtensionRuleCopyPathAndGhostscriptArguments) {
    // A folder with a "." does not make the extension.
    EXPECT_EQ(PathExtension("C:/a/b.c/plan.bmp"), "bmp");
    EXPECT_FALSE(IsPdfPath("C:/a/b.c/plan.bmp"));
    EXPECT_EQ(PathExtension("/a/b.c/plan"), "c/plan");
    EXPECT_TRUE(IsPdfPath("/x/plan.pdf"));
    EXPECT_TRUE(IsPdfPath("/x/PLAN.PDF"));
    EXPECT_TRUE(IsPdfPath("/x/Plan.Pdf"));
    EXPECT_FALSE(IsPdfPath("/x/plan.pdf.jpg"));

    // D:/x/plan.pdf with the installation /inst/.
    const QString copy = PdfCopyPath("D:/x/plan.pdf", "/inst/");
    EXPECT_EQ(copy, QStringLiteral("/inst/見積用画像/plan.pdf"));
    EXPECT_EQ(PdfCopyPath(copy, "/inst/"), copy); // chosen from the image folder: no copy
    EXPECT_EQ(PdfJpegPath(copy, 1), QStringLiteral("/inst/見積用画像/plan.pdf.jpg"));
    EXPECT_EQ(PdfJpegPath(copy, 3), QStringLiteral("/inst/見積用画像/plan.pdf-p3.jpg"));
    // A one-page PDF: exactly the arguments of the command line, one by one.
    const QStringList one =
        kPartArguments + QStringList{QStringLiteral("-sOutputFile=") + PdfJpegPath(copy, 1), copy};
    EXPECT_EQ(GhostscriptArguments(PdfJpegPath(copy, 1), copy, 1, 1), one);
    // A page of a set: that page alone, the range before the output file.
    const QString blanks = QStringLiteral("/inst/見積用画像/図面 セット (改).pdf");
    const QStringList second =
        kPartArguments +
        QStringList{"-dFirstPage=2", "-dLastPage=2", "-sOutputFile=" + blanks + "-p2.jpg", blanks};
    EXPECT_EQ(GhostscriptArguments(PdfJpegPath(blanks, 2), blanks, 2, 3), second);
    // Page 1 of a set is that page alone too, into copy & ".jpg".
    const QStringList first =
        kPartArguments +
        QStringList{"-dFirstPage=1", "-dLastPage=1", "-sOutputFile=" + blanks + ".jpg", blanks};
    EXPECT_EQ(GhostscriptArguments(PdfJpegPath(blanks, 1), blanks, 1, 3), first);
    // "%" is a page-number template in the output file only: doubled there,
    // the input named as it is.
    const QString percent = QStringLiteral("/inst/見積用画像/p14_pct%d.pdf");
    const QStringList escaped =
        kPartArguments +
        QStringList{QStringLiteral("-sOutputFile=/inst/見積用画像/p14_pct%%d.pdf.jpg"), percent};
    EXPECT_EQ(GhostscriptArguments(PdfJpegPath(percent, 1), percent, 1, 1), escaped);

    QTemporaryDir dir;
    EXPECT_EQ(GhostscriptProgramFor(dir.path()), dir.path() + "/gs");
    EXPECT_EQ(GhostscriptProgramFor(dir.path() + "/"), dir.path() + "/gs");
    EXPECT_EQ(GhostscriptProgramFor("/usr/bin/gs"), "/usr/bin/gs");
    EXPECT_TRUE(PageCountArguments(blanks).contains("-sFile=" + blanks));
}

TEST(DrawingChoice, PageCountAndPageAnswers) {
    EXPECT_EQ(ParsePageCount("3\n"), 3);
    EXPECT_EQ(ParsePageCount("GPL Ghostscript 10\nwarning\n12\n\n"), 12);
    EXPECT_EQ(ParsePageCount("   **** Error: Couldn't initialise file.\n0\n"), std::nullopt);
    EXPECT_EQ(ParsePageCount("Catalog dictionary not located"), std::nullopt);
    EXPECT_EQ(ParsePageCount(""), std::nullopt);

    EXPECT_EQ(ParsePageAnswer("2", 3).value(), 2);
    EXPECT_EQ(ParsePageAnswer(" 3 ", 3).value(), 3);
    EXPECT_TRUE(ParsePageAnswer("1", 3));
    for (const char* bad : {"0", "4", "1.5", "", "二", "2ページ", "-1"}) {
        const Result<int> a = ParsePageAnswer(QString::fromUtf8(bad), 3);
        ASSERT_FALSE(a) << bad;
        EXPECT_TRUE(a.error().startsWith(QStringLiteral("ページ番号は 1 から 3 まで"))) << bad;
    }
    // A huge answer is quoted briefly.
    EXPECT_LT(ParsePageAnswer(QString(5000, 'x'), 3).error().size(), 100);
}

TEST(DrawingChoice, NamesPagesOfACopyAndWhatAFailedConversionSays) {
    // The drawing's path must survive the code page of curPass.txt.
    const QString korean = QStringLiteral("/inst/평면도.bmp");
    EXPECT_EQ(
        CheckDrawingName(korean, TextCodec("CP932")).error(),
        QStringLiteral("図面のファイル名に文字コード CP932 で表せない文字があるため、"
                       "使えません:\r\n/inst/평면도.bmp\r\nファイル名を変えてから選んで下さい"));
    EXPECT_TRUE(CheckDrawingName(korean, TextCodec("UTF-8")));
    EXPECT_TRUE(CheckDrawingName(QStringLiteral("/inst/見積用画像/図面 (改)～.pdf.jpg"),
                                 TextCodec("CP932")));

    // The calibrated pages of a copy: its own JPEGs' calibrations only.
    QTemporaryDir dir;
    for (const char* name : {"plan.pdf", "plan.pdf.jpg", "plan.pdf.jpg.inf", "plan.pdf-p2.jpg.inf",
                             "plan.pdf-p12.jpg.inf", "plan.pdf-px.jpg.inf", "plan.pdf-p.jpg.inf",
                             "plan.pdf.bak.jpg.inf", "plan.pdfx.jpg.inf", "other.pdf.jpg.inf"}) {
        QFile f(dir.filePath(QString::fromUtf8(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QStringList pages = CalibratedPages(dir.filePath("plan.pdf"));
    for (QString& p : pages)
        p = QFileInfo(p).fileName();
    EXPECT_EQ(pages,
              QStringList({"plan.pdf-p12.jpg.inf", "plan.pdf-p2.jpg.inf", "plan.pdf.jpg.inf"}));
    EXPECT_TRUE(CalibratedPages(dir.filePath("none.pdf")).isEmpty());

    // An encrypted PDF: Ghostscript ends with 0, writes nothing, and says why
    // in English; the message says it in the user's words.
    ProcessOutcome locked;
    locked.started = true;
    locked.exitCode = 0;
    locked.output = "   **** Error: Couldn't initialise file.\n"
                    "   No pages will be processed (FirstPage > LastPage).\n"
                    "   **** This file requires a password for access.\n";
    EXPECT_EQ(ConversionFailureMessage("/x/locked.pdf", locked, true),
              QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n/x/locked.pdf\r\n"
                             "パスワードで保護されたPDFファイルです。"
                             "パスワードを外したPDFファイルを選んで下さい"));
    // A full disk is said as such, whatever Ghostscript's words.
    ProcessOutcome cut;
    cut.started = true;
    cut.exitCode = 0;
    cut.output = "Page 1\n   **** Error: Page drawing error occurred.\n";
    EXPECT_EQ(ConversionFailureMessage("/x/plan.pdf", cut, false, true),
              QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n/x/plan.pdf\r\n"
                             "ディスクの空き容量が足りません"));
}

TEST(ScaleCalibration, DragAtZoomOneAndAHalf) {
    // (100, 200) to (340, 380) at zoom 1.5, 3600 mm and 2700 mm.
    CalibrationTexts before = Drag("100", "200", "340", "380");
    before.X(CalRow::OriginCoordinate) = "5";
    ASSERT_TRUE(CheckScaleDrag(before));
    const ScaleOutcome s = ScaleFromDrag(before, "3600", "2700", 1.5f);
    EXPECT_TRUE(s.accepted);
    EXPECT_EQ(s.delt, 0);
    EXPECT_EQ(s.message, QStringLiteral("Delt = 0\r\n正しく設定されました"));
    const QStringList lines = CalibrationFileLines(s.texts);
    // The origin is the drag's start in drawing pixels: 100 / 1.5 as a Single.
    EXPECT_EQ(lines[0], QStringLiteral("100,340,1,1,66.66666,0,100,340,240,3.6,0.02250,ｍ"));
    EXPECT_EQ(lines[1], QStringLiteral("200,380,1,1,133.3333,0,200,380,180,2.7,0.02250,ｍ"));
    // At zoom 1 the origin is the start itself.
    EXPECT_EQ(ScaleFromDrag(before, "3600", "2700", 1).texts.X(CalRow::Origin), "100");
}

TEST(ScaleCalibration, AxesMustAgreeAndEmptyLengthsCountAsAMetre) {
    const CalibrationTexts drag = Drag("100", "200", "340", "380");
    // 0.02250 and 0.02800 a pixel: Delt 0.0055 fails; 0.02740: 0.0049 passes.
    const ScaleOutcome bad = ScaleFromDrag(drag, "5400", "5040", 1);
    EXPECT_EQ(bad.texts.Y(CalRow::Coefficient), "0.02800");
    EXPECT_FALSE(bad.accepted);
    EXPECT_EQ(bad.message, QStringLiteral("Delt = 0.0055\r\n設定誤差が大き過ぎます\r\n"
                                          "基準値を再設定して下さい--->基準値（スケール）"));
    const ScaleOutcome good = ScaleFromDrag(drag, "5400", "4932mm", 1);
    EXPECT_EQ(good.texts.Y(CalRow::Coefficient), "0.02740");
    EXPECT_TRUE(good.accepted);
    EXPECT_TRUE(good.message.startsWith("Delt = 0.0049\r\n"));
    // A length that is no number is 1 m.
    const ScaleOutcome metre = ScaleFromDrag(drag, "abc", "0", 1);
    EXPECT_EQ(metre.texts.X(CalRow::RealLength), "1");
    EXPECT_EQ(metre.texts.X(CalRow::Coefficient), "0.00417");

    // No width, no height, neither: refused.
    EXPECT_EQ(CheckScaleDrag(Drag("100", "200", "100", "380")).error(),
              QStringLiteral("ドラッグの幅がありません。\r\n寸法の分かる範囲を斜めにドラッグしてか"
                             "ら、もう一度 基準値--->スケール を選んで下さい"));
    EXPECT_TRUE(
        CheckScaleDrag(Drag("100", "200", "340", "200")).error().startsWith("ドラッグの高さ"));
    EXPECT_TRUE(CheckScaleDrag(Drag("5", "5", "5", "5")).error().startsWith("ドラッグの幅と高さ"));

    // The origin command: the last press in drawing pixels, nothing else changes.
    CalibrationTexts t = bad.texts;
    t.X(CalRow::MouseDown) = "300";
    t.Y(CalRow::MouseDown) = "150";
    const CalibrationTexts o = OriginFromPress(t, 1.5f);
    EXPECT_EQ(o.X(CalRow::Origin), "200");
    EXPECT_EQ(o.Y(CalRow::Origin), "100");
    CalibrationTexts rest = o;
    rest.X(CalRow::Origin) = t.X(CalRow::Origin);
    rest.Y(CalRow::Origin) = t.Y(CalRow::Origin);
    EXPECT_EQ(rest, t);
}

TEST(ScaleCalibration, ValuesOutsideWhatADrawingCanMeanAreRefused) {
    // Each value on its own: coefficients from 0.00001 to 100 m a pixel,
    // origins within 1,000,000 pixels, origin coordinates within 1,000,000 m.
    const std::tuple<CalRow, bool, const char*> values[] = {
        {CalRow::Coefficient, false, "0.02250"}, {CalRow::Coefficient, true, "0.00001"},
        {CalRow::Coefficient, false, "100"},     {CalRow::Coefficient, false, "100.00001"},
        {CalRow::Coefficient, false, "1E+308"},  {CalRow::Coefficient, true, "1e39"},
        {CalRow::Coefficient, false, "1e-300"},  {CalRow::Coefficient, false, "1000000"},
        {CalRow::Coefficient, false, "0.00000"}, {CalRow::Coefficient, false, "-0.01"},
        {CalRow::Coefficient, true, "abc"},      {CalRow::Origin, false, "-1000000"},
        {CalRow::Origin, true, "1000000.5"},     {CalRow::Origin, false, "1e308"},
        {CalRow::OriginCoordinate, true, "1e7"}, {CalRow::OriginCoordinate, false, "-999999.9"},
        {CalRow::RealLength, false, "1e308"},    {CalRow::Unit, false, "1e308"},
    };
    QStringList refused;
    for (const auto& [row, y, text] : values)
        if (const auto checked = CheckCalibrationValue(row, y, QString::fromUtf8(text)); !checked)
            refused << checked.error().section(QStringLiteral("\r\n"), 0, 0);
    EXPECT_EQ(refused, QStringList({
                           QStringLiteral("軸係数 X の値「100.00001」は範囲外です。"),
                           QStringLiteral("軸係数 X の値「1E+308」は範囲外です。"),
                           QStringLiteral("軸係数 Y の値「1e39」は範囲外です。"),
                           QStringLiteral("軸係数 X の値「1e-300」は範囲外です。"),
                           QStringLiteral("軸係数 X の値「1000000」は範囲外です。"),
                           QStringLiteral("軸係数 X の値「0.00000」は範囲外です。"),
                           QStringLiteral("軸係数 X の値「-0.01」は範囲外です。"),
                           QStringLiteral("軸係数 Y の値「abc」は範囲外です。"),
                           QStringLiteral("原点 Y の値「1000000.5」は範囲外です。"),
                           QStringLiteral("原点 X の値「1e308」は範囲外です。"),
                           QStringLiteral("原点の座標 Y の値「1e7」は範囲外です。"),
                       }));
    EXPECT_EQ(
        CheckCalibrationValue(CalRow::Coefficient, false, "0").error(),
        QStringLiteral("軸係数 X の値「0」は範囲外です。\r\n"
                       "1 ピクセルあたり 0.00001 m（0.01 mm）から 100 m までの値にして下さい"));
    CalibrationTexts t = Drag("100", "200", "340", "380");
    t.X(CalRow::Coefficient) = t.Y(CalRow::Coefficient) = "0.01000";
    EXPECT_TRUE(CheckCalibration(t));
    t.Y(CalRow::Origin) = "-1e9";
    EXPECT_TRUE(CheckCalibration(t).error().startsWith(QStringLiteral("原点 Y")));

    // A scale whose lengths give such a coefficient changes nothing: 10^12 mm
    // over 240 pixels, or a micrometre.
    const CalibrationTexts drag = Drag("100", "200", "340", "380");
    const ScaleOutcome huge = ScaleFromDrag(drag, "1000000000000", "750000000000", 1);
    ASSERT_TRUE(huge.refusal);
    EXPECT_EQ(
        *huge.refusal,
        QStringLiteral("この寸法では縮尺が範囲外になります（1 ピクセルあたり X 4166666.66667 m、"
                       "Y 4166666.66667 m）。\r\n1 ピクセルあたり 0.00001 m（0.01 mm）から 100 m "
                       "までになる寸法を入力して下さい"));
    EXPECT_FALSE(huge.accepted);
    EXPECT_TRUE(ScaleFromDrag(drag, "0.001", "0.001", 1).refusal);
    EXPECT_FALSE(ScaleFromDrag(drag, "24000000", "18000000", 1).refusal); // 100 m a pixel
}

TEST(QuarterTurn, IndexMappingsAndTheirLimit) {
    // 4 x 2: pixel (0, 0) goes to (1, 0) turned right and (0, 3) turned left.
    PixelArray p(4, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            p(x, y) = PixelRecord{uint8_t(x), uint8_t(y), 7};
    PixelArray r;
    RotatePixels(p, QuarterTurn::Right, r);
    ASSERT_EQ(r.width(), 2);
    ASSERT_EQ(r.height(), 4);
    EXPECT_EQ(r(1, 0), p(0, 0));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(r(1 - y, x), p(x, y));
    PixelArray l;
    RotatePixels(p, QuarterTurn::Left, l);
    EXPECT_EQ(l(0, 3), p(0, 0));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(l(y, 3 - x), p(x, y));
    // Right then left is the drawing again, over the block edges too.
    PixelArray big(131, 70), there, back;
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 131; ++x)
            big(x, y) = PixelRecord{uint8_t(x), uint8_t(y), uint8_t(x ^ y)};
    RotatePixels(big, QuarterTurn::Right, there);
    RotatePixels(there, QuarterTurn::Left, back);
    EXPECT_EQ(back.width(), 131);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 131; ++x)
            ASSERT_EQ(back(x, y), big(x, y));

    EXPECT_TRUE(CheckRotation(32767, 100));
    const Result<> turned = CheckRotation(32768, 100);
    ASSERT_FALSE(turned);
    EXPECT_TRUE(turned.error().contains("32768 × 100"));
}

TEST(QuarterTurn, JpegReplacesTheDrawingOnlyWhenComplete) {
    QTemporaryDir dir;
    // The drawing keeps its name, whatever its extension.
    const QString path = dir.filePath("plan.bmp");
    QImage old(30, 20, QImage::Format_RGB32);
    old.fill(Qt::white);
    ASSERT_TRUE(old.save(path, "BMP"));
    PixelArray p(20, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 20; ++x)
            p(x, y) = x < 10 ? PixelRecord{0, 0, 0} : PixelRecord{255, 255, 255};
    QImage canvas;
    SetBitmapPixels(canvas, 32, p);
    const Result<> saved = DCSavetoJPEG(canvas, path, 80);
    ASSERT_TRUE(saved) << saved.error().toStdString();
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), "jpeg");
    const QImage back = reader.read();
    ASSERT_EQ(back.size(), QSize(20, 30));
    EXPECT_LT(qGray(back.pixel(2, 15)), 30);
    EXPECT_GT(qGray(back.pixel(17, 15)), 225);
    // A save that cannot complete leaves the old file and no temporary one.
    const QString folder = dir.filePath("taken.jpg");
    ASSERT_TRUE(QDir(dir.path()).mkdir("taken.jpg"));
    const Result<> onFolder = DCSavetoJPEG(canvas, folder, 80);
    EXPECT_FALSE(onFolder);
    EXPECT_TRUE(onFolder.error().contains("taken.jpg"));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_FALSE(DCSavetoJPEG(canvas, dir.filePath("none/plan.jpg"), 80));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"plan.bmp"});
}

TEST(ScaleCalibration, RoundedOnceAtAZoomAndAxesThatDisagreeAreAsked) {
    // A 12 m side over 1800 units at zoom 1.5: 0.01000 m a pixel (rounding
    // per unit first gave 0.00667 x 1.5 = 0.01001).
    const ScaleOutcome z = ScaleFromDrag(Drag("0", "0", "1800", "1200"), "12000", "8000", 1.5f);
    EXPECT_EQ(z.texts.X(CalRow::Coefficient), "0.01000");
    EXPECT_EQ(z.texts.Y(CalRow::Coefficient), "0.01000");
    EXPECT_FALSE(z.question);
    // Up to 2 % apart quietly; beyond, asked with both values and the difference.
    EXPECT_FALSE(ScaleFromDrag(Drag("0", "0", "1000", "1000"), "10000", "10200", 1).question);
    EXPECT_TRUE(ScaleFromDrag(Drag("0", "0", "1000", "1000"), "10000", "10210", 1).question);
    const ScaleOutcome half = ScaleFromDrag(Drag("0", "0", "500", "400"), "5000", "6000", 1);
    EXPECT_TRUE(half.accepted); // Delt 0.005 passes by floating-point luck
    EXPECT_EQ(*half.question, QStringLiteral("X軸係数 0.01000 と Y軸係数 0.01500 が 33.3 % "
                                             "違います。\r\n寸法の入力に誤りがないか確かめて"
                                             "下さい。このまま設定しますか？"));
    // A refused scale is not asked about.
    EXPECT_FALSE(ScaleFromDrag(Drag("100", "200", "340", "380"), "5400", "5040", 1).question);
}

TEST(QuarterTurn, TurnedJpegFollowsTheMappingInEveryFormatAndGreyStaysGrey) {
    QTemporaryDir dir;
    // 8 x 8 blocks of one colour (little JPEG error), sides that cut the
    // bands and tiles of the turn unevenly, big enough to be turned by two
    // threads.
    QImage colour(2056, 2004, QImage::Format_RGB32);
    for (int y = 0; y < colour.height(); ++y)
        for (int x = 0; x < colour.width(); ++x)
            colour.setPixel(x, y, qRgb(x / 8 * 15 % 256, y / 8 * 28, 255 - x / 8 * 15 % 256));
    QImage grey =
        colour.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_Indexed8);
    for (const QImage& picture : {colour, colour.convertToFormat(QImage::Format_RGB16), grey}) {
        for (const QuarterTurn turn : {QuarterTurn::Right, QuarterTurn::Left}) {
            const QString path = dir.filePath("turned.bmp");
            const Result<> saved = SaveTurnedJpeg(picture, turn, path, 80);
            ASSERT_TRUE(saved) << saved.error().toStdString();
            const QImage back = QImageReader(path).read();
            ASSERT_EQ(back.size(), picture.size().transposed());
            EXPECT_EQ(back.isGrayscale(), picture.format() == QImage::Format_Indexed8);
            const int w = picture.width(), h = picture.height();
            for (int y = 4; y < h; y += 24)
                for (int x = 4; x < w; x += 24) {
                    const QPoint to =
                        turn == QuarterTurn::Right ? QPoint(h - 1 - y, x) : QPoint(y, w - 1 - x);
                    const QRgb a = picture.pixel(x, y), b = back.pixel(to);
                    ASSERT_LE(std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                                  std::abs(qBlue(a) - qBlue(b)),
                              24)
                        << x << "," << y;
                }
        }
    }
    // The half-size copy: each pixel the mean of its 2 x 2 block, an odd
    // side's last column with itself; an 8-bit scan through its colours.
    QImage small(3, 2, QImage::Format_Indexed8);
    small.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(200, 100, 0)});
    const uchar rows[2][3] = {{0, 1, 2}, {1, 1, 2}};
    for (int y = 0; y < 2; ++y)
        std::memcpy(small.scanLine(y), rows[y], 3);
    const QImage half = HalfSize(small);
    ASSERT_EQ(half.size(), QSize(2, 1));
    EXPECT_EQ(half.pixel(0, 0), qRgb(191, 191, 191));
    EXPECT_EQ(half.pixel(1, 0), qRgb(200, 100, 0));
}

namespace {

// Files kept aside as another user might have left them: a link is moved as
// a link (what it points to is neither read nor moved), a name already taken
// gets a number, and a file that cannot be moved is said, not lost.
TEST(KeepAside, MovesLinksAsLinksNeverOverAnotherFile) {
    QTemporaryDir dir;
    const QString target = dir.filePath("elsewhere.txt");
    QFile t(target);
    ASSERT_TRUE(t.open(QIODevice::WriteOnly));
    t.write("not ours");
    t.close();
    const QString link = dir.filePath("p.jpg.inf");
    ASSERT_TRUE(QFile::link(target, link));
    const QString taken = dir.filePath("p.jpg.takeoff");
    QFile f(taken);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("outlines");
    f.close();
    const QDateTime when(QDate(2026, 12, 10), QTime(17, 15, 0));
    // The dated name of the outlines is taken already.
    QFile other(taken + ".20261210-171500.old");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("older");
    other.close();
    QStringList failed;
    const QStringList kept = KeepAside({link, taken, dir.filePath("missing.inf")}, when, &failed);
    EXPECT_EQ(kept, (QStringList{link + ".20261210-171500.old", taken + ".20261210-171500-2.old"}));
    EXPECT_EQ(failed, QStringList{dir.filePath("missing.inf")});
    EXPECT_TRUE(QFileInfo(kept[0]).isSymLink());
    EXPECT_EQ(QFileInfo(kept[0]).symLinkTarget(), target);
    QFile back(taken + ".20261210-171500.old");
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_EQ(back.readAll(), "older");
    EXPECT_TRUE(QFileInfo::exists(target));
    EXPECT_FALSE(QFileInfo::exists(link) || QFileInfo(link).isSymLink());
}

} // namespace
