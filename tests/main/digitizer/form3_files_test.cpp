// Form3 against the files it meets: a full disk (a small tmpfs), read-only
// files (an ordinary user), links to devices and FIFOs, names the code page
// cannot hold, damaged or lying images, a "%" in a PDF's name, another
// folder's PDF of the same name, and calibrations no drawing can mean.
#include "main/window/form3.h"
#include "tests/support/session_access.h"

#include "common/core/numtext.h"
#include "common/ui/picturebox.h"
#include "main/window/form2.h"
#include "tests/main/digitizer/drawing_fixture.h"

#include "file_systems.h"

#include <QLineEdit>
#include <QPushButton>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const QString kFull = QStringLiteral("ディスクの空き容量が足りません");

class Form3FilesTest : public Form3DrawingTest {
protected:
    // The bytes of every file, to show that none of them changed.
    static QList<QByteArray> Snapshot(const QStringList& files) {
        QList<QByteArray> all;
        for (const QString& f : files)
            all << (QFileInfo::exists(f) ? Contents(f) : QByteArray("<none>"));
        return all;
    }
    static QStringList Entries(const QString& folder) {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    static void writeBytes(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    static void takeRoomOff(Form3& f) {
        for (const QPoint& p : kRoom)
            click(f, p);
        click(f, QPoint(700, 600), Qt::MiddleButton);
    }
    // The messages so far (choose() starts afresh) joined for one comparison.
    void record() {
        seen << messages;
        messages.clear();
    }
    std::string seenText() const { return seen.join("\n|").toStdString(); }
    static std::string joined(const QStringList& texts) { return texts.join("\n|").toStdString(); }

    QStringList seen;
};

TEST_F(Form3FilesTest, AFullDiskLeavesEveryDrawingCalibrationAndViewFileWhole) {
    needGhostscript();
    SmallFileSystem disk(24 * 1024 * 1024);
    if (!disk.ok())
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    // The installation on the small file system; the other folder's PDF
    // outside it.
    const QString inst = disk.path();
    // A working folder others may write is refused at start.
    ASSERT_EQ(::chmod(QFile::encodeName(inst).constData(), 0700), 0);
    writeRegistry(inst);
    const QString folder = inst + QStringLiteral("見積用画像/");
    ASSERT_TRUE(QDir(inst).mkpath(QStringLiteral("見積用画像")));
    const QString plan = folder + QStringLiteral("間取り.bmp");
    writeDrawing(plan, QImage::Format_RGB32);
    const QString copy = folder + "set.pdf";
    ASSERT_TRUE(MakePdf(copy, 1));
    const QString other = instPath() + "set.pdf";
    ASSERT_TRUE(MakePdf(other, 1, 200, 150));
    writeBytes(inst + "curPass.txt",
               TextCodec().encode(plan + ",0,0,9000,12000,0,0,1\r\n").constData());
    writeBytes(inst + "curGazo.bmp", "an earlier sketch");
    Form1 form;
    startMain(form);
    auto f3 = openDigitizer(form);
    choose(*f3, copy); // its page, converted while there is room
    ASSERT_EQ(imagePath(form), copy + ".jpg");
    choose(*f3, plan);
    ASSERT_EQ(f3->scaleIsSet, 1);
    const QStringList files{plan,          plan + ".inf",        copy,
                            copy + ".jpg", inst + "curPass.txt", inst + "curGazo.bmp"};
    const QList<QByteArray> before = Snapshot(files);

    // Its page's JPEG of unknown origin is converted again when chosen (one
    // whose source is recorded would be shown as it lies).
    ASSERT_TRUE(QFile::remove(copy + ".jpg.source"));
    ASSERT_TRUE(disk.fill());
    click(*f3, QPoint(300, 300));
    messages.clear();
    f3->E11->trigger();
    record();
    f3->D16->trigger();
    record();
    choose(*f3, other); // a copy over the old one
    record();
    choose(*f3, copy); // converted where it lies
    record();
    takeRoomOff(*f3);
    record();
    EXPECT_EQ(
        seenText(),
        joined({
            kOriginQuestion,
            QStringLiteral("ファイル「%1.inf」を書き込めません: %2").arg(plan, kFull),
            QStringLiteral("画像を保存できませんでした: %1\r\n"
                           "ファイル「%1」を書き込めません: %2")
                .arg(plan, kFull),
            QStringLiteral("PDFファイルを画像フォルダにコピーできませんでした:\r\n"
                           "%1\r\n→ %2\r\nファイル「%2」を書き込めません: %3")
                .arg(other, copy, kFull),
            QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n%1\r\n%2").arg(copy, kFull),
            QStringLiteral("図形の画像を保存できませんでした: %1curGazo.bmp\r\n"
                           "ファイル「%1curGazo.bmp」を書き込めません: %2")
                .arg(inst, kFull),
            QStringLiteral("表示状態を保存できませんでした: %1curPass.txt\r\n"
                           "ファイル「%1curPass.txt」を書き込めません: %2")
                .arg(inst, kFull),
        }));
    // Every old file whole, no temporary file left.
    EXPECT_TRUE(Snapshot(files) == before);
    // (and the lock files of the drawings, made while there was room)
    EXPECT_EQ(
        Entries(folder),
        QStringList({"set.pdf", "set.pdf.jpg", "set.pdf.jpg.lock", QStringLiteral("間取り.bmp"),
                     QStringLiteral("間取り.bmp.inf"), QStringLiteral("間取り.bmp.lock")}));
    EXPECT_EQ(Entries(inst),
              QStringList({".filler", ".session.lock", "curGazo.bmp", "curPass.txt"}));
}

TEST_F(Form3FilesTest, ReadOnlyCalibrationsAndDrawingsStayForAnOrdinaryUser) {
    if (IsRoot()) {
        const UserRun run = RerunAsOrdinaryUser();
        if (run.skipped)
            GTEST_SKIP() << "cannot run as an ordinary user here";
        EXPECT_TRUE(run.passed) << run.output.toStdString();
        return;
    }
    needGhostscript();
    writeDrawing(drawing, QImage::Format_RGB32);
    const QString locked = images() + QStringLiteral("固定.bmp");
    writeDrawing(locked, QImage::Format_RGB32, false);
    const QString pdf = images() + "set.pdf";
    ASSERT_TRUE(MakePdf(pdf, 1));
    writeViewState(drawing, "1");
    Form1 form;
    startMain(form);
    auto f3 = openDigitizer(form);
    choose(*f3, pdf);
    ASSERT_TRUE(WriteCalibrationFile(pdf + ".jpg.inf", CalibrationTexts::defaults(), TextCodec()));
    choose(*f3, drawing);
    ASSERT_EQ(f3->scaleIsSet, 1);
    // Read-only in folders the user may write.
    for (const QString& readOnly : {drawing + ".inf", locked, pdf + ".jpg.inf"})
        ASSERT_TRUE(
            QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ReadOther));
    const QStringList files{drawing, drawing + ".inf", locked, pdf + ".jpg", pdf + ".jpg.inf"};
    const QList<QByteArray> before = Snapshot(files);

    click(*f3, QPoint(300, 300));
    messages.clear();
    f3->E11->trigger(); // the origin into a read-only calibration
    f3->D16->trigger(); // a turn would delete it
    record();
    choose(*f3, locked);
    f3->D16->trigger(); // a read-only drawing
    record();
    // A JPEG of unknown origin is converted again, which would delete its
    // page's calibration.
    ASSERT_TRUE(QFile::remove(pdf + ".jpg.source"));
    choose(*f3, pdf);
    record();
    const QString readOnly = QStringLiteral("ファイル「%1」は読み取り専用のため書き込めません");
    EXPECT_EQ(
        seenText(),
        joined({kOriginQuestion, readOnly.arg(drawing + ".inf"),
                readOnly.arg(drawing + ".inf") +
                    QStringLiteral("\r\n回転すると基準値も書き換えるため、図面は回転しません"),
                kScaleMessage,
                QStringLiteral("画像を保存できませんでした: ") + locked + QStringLiteral("\r\n") +
                    readOnly.arg(locked),
                QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n") + pdf +
                    QStringLiteral("\r\n") + readOnly.arg(pdf + ".jpg.inf")}));
    EXPECT_TRUE(Snapshot(files) == before);
}

TEST_F(Form3FilesTest, LinksToDevicesFifosAndFoldersAreRefusedAndTheProgramEnds) {
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "1");
    Form1 form;
    startMain(form);
    auto f3 = openDigitizer(form);
    ASSERT_EQ(f3->scaleIsSet, 1);
    // Once the drawing is loaded: its calibration becomes a link to a device
    // node (one of our own: as root the old file's replacement would have
    // turned it into a regular file), curPass.txt a FIFO with a reader (so a
    // write that should not happen does not wait either), curGazo.bmp a link
    // to a folder.
    const QString inf = drawing + ".inf";
    const QString node = instPath() + "node";
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 3)), 0);
        ASSERT_TRUE(QFile::remove(inf));
        ASSERT_TRUE(QFile::link(node, inf));
    }
    const QString pass = instPath() + "curPass.txt";
    ASSERT_TRUE(QFile::remove(pass));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pass).constData(), 0666), 0);
    const int reader = ::open(QFile::encodeName(pass).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const QString sketch = instPath() + "curGazo.bmp";
    ASSERT_TRUE(QDir(instPath()).mkdir("sketches"));
    ASSERT_TRUE(QFile::link(instPath() + "sketches", sketch));

    click(*f3, QPoint(300, 300));
    messages.clear();
    f3->E11->trigger();
    const QString odd =
        QStringLiteral("ファイル「%1」は通常のファイルではない（%2）ため書き込めません");
    QStringList expected{kOriginQuestion};
    if (root) // and the link to a device is no calibration
        expected << odd.arg(inf + QStringLiteral("」→「") + node, QStringLiteral("デバイス"))
                 << kScaleMessage;
    // Calibrated again, the take-off is finished; then the program ends.
    ASSERT_TRUE(QFile::remove(inf) || !root);
    ASSERT_TRUE(WriteCalibrationFile(inf, CalibrationTexts::defaults(), TextCodec()));
    f3->LoadDrawing();
    takeRoomOff(*f3);
    form.Form_Unload();
    // The calibration written behind the window's back is asked about first.
    expected << CalibrationChangedQuestion(drawing, false, 0)
             << QStringLiteral("図形の画像を保存できませんでした: ") + sketch +
                    QStringLiteral("\r\n") +
                    odd.arg(sketch + QStringLiteral("」→「") + instPath() + "sketches",
                            QStringLiteral("フォルダ"))
             << QStringLiteral("表示状態を保存できませんでした: ") + pass + QStringLiteral("\r\n") +
                    odd.arg(pass, QStringLiteral("名前付きパイプ"))
             << QStringLiteral("表示状態のファイルを空にできませんでした:\r\n") +
                    odd.arg(pass, QStringLiteral("名前付きパイプ"));
    EXPECT_EQ(joined(messages), joined(expected));
    struct stat st {};
    if (root) {
        ASSERT_EQ(::lstat(QFile::encodeName(node).constData(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }
    ASSERT_EQ(::lstat(QFile::encodeName(pass).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    char byte = 0;
    EXPECT_EQ(::read(reader, &byte, 1), 0); // nothing was written into it
    ::close(reader);
    EXPECT_TRUE(QFileInfo(instPath() + "sketches").isDir());
    EXPECT_TRUE(QDir(instPath() + "sketches").isEmpty());
}

TEST_F(Form3FilesTest, DrawingsThatCannotBeTakenLeaveTheShownOneItsPathAndViewState) {
    needGhostscript();
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "1");
    Form1 form;
    startMain(form);
    auto f3 = openDigitizer(form);
    ASSERT_EQ(f3->scaleIsSet, 1);
    const QByteArray whole = Contents(drawing);
    // A BMP cut in half; a small JPEG claiming 16000 x 16000; names CP932
    // cannot hold; a PDF page of 4.2 m x 1 cm (over 32767 pixels at 200 dpi),
    // whose JPEG an earlier failure left empty.
    const QString cut = instPath() + "cut.bmp";
    writeBytes(cut, whole.left(whole.size() / 2));
    QImage tiny(8, 8, QImage::Format_RGB32);
    tiny.fill(Qt::white);
    ASSERT_TRUE(tiny.save(instPath() + "lying.jpg", "JPEG"));
    QByteArray lying = Contents(instPath() + "lying.jpg");
    const qsizetype frame = lying.indexOf("\xFF\xC0");
    ASSERT_GT(frame, 0);
    lying[frame + 5] = lying[frame + 7] = char(16000 >> 8);
    lying[frame + 6] = lying[frame + 8] = char(16000 & 0xFF);
    writeBytes(instPath() + "lying.jpg", lying);
    const QString korean = instPath() + QStringLiteral("평면도.bmp");
    ASSERT_TRUE(QFile::copy(drawing, korean));
    const QString koreanPdf = instPath() + QStringLiteral("평면도.pdf");
    ASSERT_TRUE(MakePdf(koreanPdf, 1));
    const QString longPdf = instPath() + "long.pdf";
    ASSERT_TRUE(MakePdf(longPdf, 1, 11906, 28));
    writeBytes(images() + "long.pdf.jpg", QByteArray());
    // A FIFO named as a PDF: Ghostscript would wait on it.
    const QString fifo = instPath() + "fifo.pdf";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0666), 0);

    for (const QString& path : {fifo, cut, instPath() + "lying.jpg", korean, koreanPdf, longPdf}) {
        titles.clear();
        choose(*f3, path);
        EXPECT_EQ(imagePath(form), drawing) << path.toStdString();
        EXPECT_EQ(f3->Image1.size(), QSize(1000, 700)) << path.toStdString();
        EXPECT_EQ(f3->scaleIsSet, 1) << path.toStdString();
    }
    const QString cp932 =
        QStringLiteral("図面のファイル名に文字コード CP932 で表せない文字があるため、"
                       "使えません:\r\n%1\r\nファイル名を変えてから選んで下さい");
    // Only the last refusal is in `messages`; each was seen on the way.
    EXPECT_EQ(messages, QStringList{QStringLiteral("画像が大きすぎます（33072 × 78 ピクセル、一辺 "
                                                   "32767 ピクセルまで）: ") +
                                    images() + "long.pdf.jpg"});
    EXPECT_EQ(titles, QStringList{QStringLiteral("エラー")});
    // Neither the page's JPEG (the empty one went too) nor the copy made for it.
    EXPECT_EQ(Entries(images()),
              QStringList({QStringLiteral("間取り.bmp"), QStringLiteral("間取り.bmp.inf")}));
    choose(*f3, fifo);
    EXPECT_EQ(messages, QStringList{QStringLiteral("PDFファイルを画像に変換できませんでした:\r\n") +
                                    fifo + QStringLiteral("\r\n通常のファイルではありません")});
    choose(*f3, cut);
    EXPECT_EQ(messages, QStringList{QStringLiteral("画像データが途中で切れています（1000 × 700 "
                                                   "ピクセル）: ") +
                                    cut});
    choose(*f3, instPath() + "lying.jpg");
    EXPECT_EQ(messages, QStringList{QStringLiteral("画像データが途中で切れています（16000 × 16000 "
                                                   "ピクセル）: ") +
                                    instPath() + "lying.jpg"});
    choose(*f3, korean);
    EXPECT_EQ(messages, QStringList{cp932.arg(korean)});
    choose(*f3, koreanPdf);
    EXPECT_EQ(messages, QStringList{cp932.arg(images() + QStringLiteral("평면도.pdf.jpg"))});

    // The drawing shown, damaged on the disk since: reloading it keeps it.
    writeBytes(drawing, whole.left(whole.size() - 1000));
    f3->A12->trigger();
    EXPECT_EQ(messages.last(), QStringLiteral("画像データが途中で切れています（1000 × 700 "
                                              "ピクセル）: ") +
                                   drawing);
    EXPECT_EQ(f3->Image1.size(), QSize(1000, 700));
    EXPECT_EQ(f3->scaleIsSet, 1);
    // A take-off on it still finishes, and the view state names it.
    messages.clear();
    takeRoomOff(*f3);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_TRUE(TextCodec().decode(Contents(instPath() + "curPass.txt")).startsWith(drawing + ","));
}

TEST_F(Form3FilesTest, APercentInANameOrAnotherFoldersPdfTouchesNoCalibratedDrawing) {
    needGhostscript();
    // A calibrated drawing named as Ghostscript's page template would name
    // page 1 of "p14_pct%d.pdf".
    const QString victim = images() + "p14_pct1.pdf.jpg";
    QImage white(50, 40, QImage::Format_RGB32);
    white.fill(Qt::white);
    ASSERT_TRUE(white.save(victim, "JPEG"));
    ASSERT_TRUE(WriteCalibrationFile(victim + ".inf", CalibrationTexts::defaults(), TextCodec()));
    const QList<QByteArray> victimBefore = Snapshot({victim, victim + ".inf"});
    const QString percent = instPath() + "p14_pct%d.pdf";
    ASSERT_TRUE(MakePdf(percent, 2));
    Form1 form;
    startMain(form);
    auto f3 = openDigitizer(form);
    answers = {QString("1")};
    choose(*f3, percent);
    EXPECT_EQ(imagePath(form), images() + "p14_pct%d.pdf.jpg");
    EXPECT_TRUE(PageMarked(f3->Image1, 1));
    answers = {QString("2")};
    choose(*f3, percent);
    EXPECT_EQ(imagePath(form), images() + "p14_pct%d.pdf-p2.jpg");
    EXPECT_TRUE(PageMarked(f3->Image1, 2));
    EXPECT_TRUE(Snapshot({victim, victim + ".inf"}) == victimBefore);

    // Another folder's plan.pdf after a calibrated page of this one's.
    ASSERT_TRUE(QDir(instPath()).mkpath("A") && QDir(instPath()).mkpath("B"));
    const QString a = instPath() + "A/plan.pdf", b = instPath() + "B/plan.pdf";
    ASSERT_TRUE(MakePdf(a, 1));
    ASSERT_TRUE(MakePdf(b, 3));
    const QString copy = images() + "plan.pdf";
    choose(*f3, a);
    ASSERT_EQ(imagePath(form), copy + ".jpg");
    ASSERT_TRUE(WriteCalibrationFile(copy + ".jpg.inf", CalibrationTexts::defaults(), TextCodec()));
    f3->LoadDrawing();
    ASSERT_EQ(f3->scaleIsSet, 1);
    const QStringList files{copy, copy + ".jpg", copy + ".jpg.inf"};
    const QList<QByteArray> calibrated = Snapshot(files);
    // "いいえ": nothing changes, not even a page is asked for.
    answer = MsgAnswer::No;
    choose(*f3, b);
    EXPECT_EQ(messages, QStringList{ReplaceDrawingQuestion(copy)});
    EXPECT_TRUE(
        messages[0].startsWith(QStringLiteral("同じ名前の図面が既にあります。置き換えますか")));
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_TRUE(Snapshot(files) == calibrated);
    EXPECT_EQ(imagePath(form), copy + ".jpg");
    EXPECT_EQ(f3->scaleIsSet, 1);
    // The same PDF again is no question: its page is shown as it lies,
    // calibrated.
    choose(*f3, a);
    EXPECT_TRUE(messages.isEmpty()) << seenText();
    EXPECT_TRUE(Snapshot(files) == calibrated);
    EXPECT_EQ(f3->scaleIsSet, 1);
    // "はい": the other PDF replaces the copy, as the copy rule says.
    answer = MsgAnswer::Yes;
    answers = {QString("3")};
    choose(*f3, b);
    EXPECT_EQ(messages, (QStringList{ReplaceDrawingQuestion(copy), kScaleMessage}));
    EXPECT_EQ(Contents(copy), Contents(b));
    EXPECT_EQ(imagePath(form), copy + "-p3.jpg");
    EXPECT_TRUE(PageMarked(f3->Image1, 3));
    EXPECT_TRUE(QFileInfo::exists(copy + ".jpg.inf")); // page 1 was not converted
}

TEST_F(Form3FilesTest, CalibrationsNoDrawingCanMeanAreNoneAndPointsThatDoNotFitAreRefused) {
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "1");
    Form1 form;
    startMain(form);
    auto f3 = openDigitizer(form);
    ASSERT_EQ(f3->scaleIsSet, 1);
    Form2& f2 = form.form2();
    const CalibrationTexts good = f2.texts();
    auto calibrate = [&](const char* originX, const char* referenceX, const char* coefficient,
                         int points = 0) {
        CalibrationTexts t = good;
        t.X(CalRow::Origin) = originX;
        t.X(CalRow::OriginCoordinate) = referenceX;
        t.X(CalRow::Coefficient) = t.Y(CalRow::Coefficient) = coefficient;
        EXPECT_TRUE(WriteCalibrationFile(drawing + ".inf", t, TextCodec()));
        messages.clear();
        // Written behind the window's back, as another session would: the
        // drawing shown again asks first ("はい" takes it).
        f3->LoadDrawing();
        ASSERT_FALSE(messages.isEmpty());
        EXPECT_EQ(messages.takeFirst(), CalibrationChangedQuestion(drawing, false, points));
    };
    // Each of these wrote a row of zeros or a cut perimeter: now no calibration.
    const char* bad[][3] = {{"0", "0", "1e308"},       {"0", "0", "1E+39"},
                            {"0", "0", "1e-300"},      {"0", "0", "1000000"},
                            {"1e308", "0", "0.01000"}, {"0", "1e308", "0.01000"}};
    for (const auto& c : bad) {
        calibrate(c[0], c[1], c[2]);
        EXPECT_EQ(f3->scaleIsSet, 0) << c[0] << " " << c[1] << " " << c[2];
        EXPECT_EQ(messages, QStringList{kScaleMessage});
        EXPECT_EQ(f2.texts(), good); // its values are not taken either
    }
    // 100 m a pixel with the origin 999,500 pixels to the left: 1 and 101
    // pixels from the left edge fit the 9-character point text, 600 do not.
    calibrate("-999500", "0", "100");
    ASSERT_EQ(f3->scaleIsSet, 1);
    click(*f3, QPoint(1, 100));
    click(*f3, QPoint(101, 100));
    click(*f3, QPoint(600, 100));
    f3->Command1->click(); // the finish takes the last press as its point
    const QString tooLong =
        QStringLiteral("座標の桁が多すぎます（X 100010000.00 m、Y 60000.00 m）。\r\n"
                       "この点は取り込みません。基準値を確かめて下さい");
    EXPECT_EQ(messages, (QStringList{tooLong, tooLong}));
    EXPECT_EQ(StoreOf(form).pointCount(), 2);
    EXPECT_EQ(form.receivedText(), QStringLiteral("(  99950100 ,  60000.00 )  Flg = 1\r\n"
                                                  "(  99960100 ,  60000.00 )  Flg = 1\r\n"));
    EXPECT_TRUE(f3->isVisible());

    // Typed into 設定: refused, the box gets its value back. (The two points
    // taken go with the old calibration.)
    calibrate("0", "0", "0.01000", 2);
    EXPECT_EQ(StoreOf(form).pointCount(), 0);
    messages.clear();
    f2.指定基準X->setText("1e308");
    emit f2.指定基準X->editingFinished();
    f2.x軸係数->setText("0");
    f2.Command1->click();
    EXPECT_EQ(f2.指定基準X->text(), "0");
    EXPECT_EQ(f2.x軸係数->text(), "0.01000");
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("原点の座標 X の値「1e308」は範囲外です。")));
    EXPECT_TRUE(messages[1].startsWith(QStringLiteral("軸係数 X の値「0」は範囲外です。")));
    f2.Y軸係数->setText("0.02000");
    f2.Command1->click();
    EXPECT_EQ(f2.Y軸係数->text(), "0.02000");

    // A scale whose lengths give 4,000,000 m a pixel changes nothing.
    const QByteArray inf = Contents(drawing + ".inf");
    drag(*f3, QPoint(100, 100), QPoint(340, 280));
    answers = {QString("1000000000000"), QString("720000000000")};
    messages.clear();
    f3->E12->trigger();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("この寸法では縮尺が範囲外になります")));
    EXPECT_EQ(Contents(drawing + ".inf"), inf);
    EXPECT_EQ(f2.x軸係数->text(), "0.01000");
}

} // namespace
