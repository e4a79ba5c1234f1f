// Two estimators on one machine, each in a session and a working folder of
// their own, taking off rooms of one PDF set in a drawing folder they share
// at the same time, one of them calibrating the page again meanwhile, while
// a second session on a held working folder is refused. Run as root: the
// sessions are whole main windows with their digitizers, in processes of
// their own as two real users of the shop's group.
#include "main/window/form3.h"

#include "common/ui/picturebox.h"
#include "main/image/calibration.h"
#include "main/image/taken_outlines.h"
#include "main/takeoff/workbook.h"
#include "main/window/form1.h"
#include "main/window/form2.h"
#include "tests/main/digitizer/drawing_fixture.h"
#include "tests/main/window/window_test_helpers.h"

#include "file_systems.h"
#include "test_paths.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The room both take off on page 2, at zoom 1: 160 x 120 pixels, at
// 0.015 m a pixel 2.4 m x 1.8 m; its row with a ceiling 2400 mm high.
const QPoint kPageRoom[] = {{50, 50}, {210, 50}, {210, 170}, {50, 170}, {50, 50}};
const QString kPageRoomRow = QStringLiteral("8.40 8.40 2400.00 4.32 20.16 4.32");
constexpr int kRooms = 12;
const QString kCalibrated = QStringLiteral("Delt = 0\r\n正しく設定されました");

QString Env(const char* name) {
    return qEnvironmentVariable(name);
}

// The sessions meet at marks left in a folder all of them may write.
QString MarkPath(const QString& name) {
    return Env("POINTRA_MEETING") + QLatin1Char('/') + name;
}
bool WaitForMark(const QString& name) {
    QElapsedTimer waited;
    waited.start();
    while (!QFileInfo::exists(MarkPath(name))) {
        if (waited.elapsed() > 120000)
            return false;
        QTest::qWait(20); // the windows go on handling their events
    }
    return true;
}
void LeaveMark(const QString& name) {
    QFile mark(MarkPath(name));
    mark.open(QIODevice::WriteOnly);
}

// One estimator's session, when this program is run as one:
//   first   calibrates page 2 and takes off rooms named 北, then is asked
//           about the calibration the second writes while its digitizer is open
//   second  takes off rooms named 南 on the first one's calibration and
//           calibrates the page again half-way
//   again   a second session on the first one's working folder
class EstimatorSession : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageHook([this](const QString& text) {
            messages << text;
            return MsgAnswer::Yes;
        });
        SetTitledMessageHook([this](const QString&, const QString& text) {
            messages << text;
            return MsgAnswer::Yes;
        });
        SetInputBoxHook([this](const QString&, const QString&) {
            if (answers.isEmpty())
                return std::optional<QString>();
            return std::optional<QString>(answers.takeFirst());
        });
        SetFileDialogHook([this](bool save, const QString&) { return save ? saveAs : chosen; });
    }
    void TearDown() override {
        SetMessageHook({});
        SetTitledMessageHook({});
        SetInputBoxHook({});
        SetFileDialogHook({});
    }
    static std::unique_ptr<Form3> openDigitizer(Form1& form) {
        auto f = std::make_unique<Form3>(form.session(), form.form2(), &form);
        f->setModal(false);
        f->Form_Load();
        f->show();
        return f;
    }
    void calibrate(Form3& f, QPoint from, QPoint to) {
        QTest::mousePress(f.Picture1, Qt::LeftButton, {}, from);
        QTest::mouseMove(f.Picture1, to);
        QTest::mouseRelease(f.Picture1, Qt::LeftButton, {}, to);
        answers = {QStringLiteral("3600"), QStringLiteral("2700")};
        f.E12->trigger();
    }
    // The room, handed back, and its row written by "実行".
    static void takeRoom(Form1& form, Form3& f) {
        for (const QPoint& p : kPageRoom) {
            QTest::mouseMove(f.Picture1, p);
            QTest::mouseClick(f.Picture1, Qt::LeftButton, {}, p);
        }
        QTest::mouseClick(f.Command1, Qt::LeftButton);
        QTest::mouseClick(form.Command2, Qt::LeftButton);
    }

    QStringList messages;
    QStringList answers;
    QString chosen;
    QString saveAs;
};

TEST_F(EstimatorSession, Run) {
    const QString role = Env("POINTRA_ESTIMATOR");
    if (role.isEmpty())
        GTEST_SKIP() << "an estimator's session, run by the test of two estimators";
    const QString working = Env("HOME") + QStringLiteral("/.local/share/pointra");
    if (role == QStringLiteral("again")) {
        Form1 form;
        EXPECT_FALSE(form.Form_Load());
        ASSERT_EQ(messages.size(), 1);
        // Said alone: nothing is wrong with the installation.
        EXPECT_TRUE(messages[0].startsWith(QStringLiteral("作業フォルダ「") + working +
                                           QStringLiteral("」は、別の拾いのセッション")))
            << messages[0].toStdString();
        return;
    }
    const bool first = role == QStringLiteral("first");
    const QString shared = Env("POINTRA_SHARED");
    // The page as this session names it, through its image folder.
    const QString jpeg = working + QStringLiteral("/見積用画像/図面集.pdf-p2.jpg");

    // The first start makes the working folder; its image folder becomes
    // the shop's drawing folder.
    Form1 form;
    ASSERT_TRUE(form.Form_Load()) << messages.join(QLatin1Char('|')).toStdString();
    ASSERT_EQ(form.session().instPath(), working + QLatin1Char('/'));
    ASSERT_TRUE(QDir(working).rmdir(QStringLiteral("見積用画像")));
    ASSERT_TRUE(QFile::link(shared, working + QStringLiteral("/見積用画像")));
    QTest::mouseClick(form.Option3, Qt::LeftButton);
    form.Text4->setText(QStringLiteral("2400"));
    if (!form.Check1->isChecked())
        QTest::mouseClick(form.Check1, Qt::LeftButton); // numbered rooms
    form.Text2->setText(first ? QStringLiteral("北") : QStringLiteral("南"));

    if (!first) {
        ASSERT_TRUE(WaitForMark(QStringLiteral("go")));
    }
    auto f3 = openDigitizer(form);
    chosen = shared + QStringLiteral("/図面集.pdf");
    answers = {QStringLiteral("2")};
    f3->A11->trigger();
    ASSERT_EQ(form.session().drawing().imagePath, jpeg)
        << messages.join(QLatin1Char('|')).toStdString();
    if (first) {
        calibrate(*f3, QPoint(40, 40), QPoint(280, 220));
        LeaveMark(QStringLiteral("calibrated"));
        ASSERT_TRUE(WaitForMark(QStringLiteral("go")));
    }
    ASSERT_EQ(f3->scaleIsSet, 1) << messages.join(QLatin1Char('|')).toStdString();
    takeRoom(form, *f3);
    for (int room = 2; room <= kRooms; ++room) {
        f3 = openDigitizer(form);
        if (room == kRooms / 2 && first) {
            // The other's new calibration is asked about while this
            // digitizer shows the page (by the watcher, or at the latest
            // when the window looks again).
            LeaveMark(QStringLiteral("waiting"));
            ASSERT_TRUE(WaitForMark(QStringLiteral("recalibrated")));
            f3->checkSharedFiles();
        } else if (room == kRooms / 2) {
            ASSERT_TRUE(WaitForMark(QStringLiteral("waiting")));
            calibrate(*f3, QPoint(60, 50), QPoint(300, 230));
            LeaveMark(QStringLiteral("recalibrated"));
        }
        takeRoom(form, *f3);
    }
    saveAs = Env("HOME") + (first ? QStringLiteral("/北.xlsx") : QStringLiteral("/南.xlsx"));
    ASSERT_TRUE(form.SaveSheet());
    form.close();

    const QStringList expected =
        first ? QStringList{QStringLiteral("画像ファイルを設定して下さい"), kScaleMessage,
                            kCalibrated, CalibrationChangedQuestion(jpeg, false, 0)}
              : QStringList{QStringLiteral("画像ファイルを設定して下さい"), kCalibrated};
    EXPECT_EQ(messages.join(QLatin1Char('|')).toStdString(),
              expected.join(QLatin1Char('|')).toStdString());
}

// A user of the shop's group, as the sessions run.
struct Estimator {
    uid_t uid;
    gid_t gid;
    gid_t shop;
    mode_t umask;
    QString home;
};

class TwoEstimatorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!IsRoot())
            GTEST_SKIP() << "two estimators need two real users (run as root)";
        if (GhostscriptPath().isEmpty())
            GTEST_SKIP() << "Ghostscript (gs) is not installed";
        est_ = MakeEstimators();
        if (!est_.ok)
            GTEST_SKIP() << "cannot make the test users (groupadd/useradd)";
        ASSERT_TRUE(dir_.isValid());
        base_ = dir_.path();
        ASSERT_EQ(::chmod(QFile::encodeName(base_).constData(), 0755), 0);
        program_ = ProgramForOtherUsers(base_, &env_);
        ASSERT_FALSE(program_.isEmpty());
    }
    void TearDown() override {
        for (auto& s : sessions_)
            if (!s->waitForFinished(10000))
                s->kill();
    }

    // A folder of `uid`'s and `gid`'s under the test's own, with this mode.
    QString folder(const QString& name, uid_t uid, gid_t gid, mode_t mode) {
        const QString path = base_ + QLatin1Char('/') + name;
        EXPECT_TRUE(QDir().mkpath(path));
        EXPECT_EQ(::chown(QFile::encodeName(path).constData(), uid, gid), 0);
        EXPECT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
        return path;
    }
    Estimator estimator(int i, mode_t umask) {
        return {est_.uid[i], est_.own[i], est_.shared, umask,
                folder(QStringLiteral("home%1").arg(i + 1), est_.uid[i], est_.own[i], 0700)};
    }

    QProcess& start(const QString& role, const Estimator& who) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = env_;
        for (const char* name : {"XDG_RUNTIME_DIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("HOME"), who.home);
        env.insert(QStringLiteral("POINTRA_ESTIMATOR"), role);
        env.insert(QStringLiteral("POINTRA_SHARED"), shared_);
        env.insert(QStringLiteral("POINTRA_MEETING"), meeting_);
        env.insert(QStringLiteral("POINTRA_REGISTRY"), base_ + QStringLiteral("/registry.reg"));
        env.insert(QStringLiteral("POINTRA_TEMPLATE"), base_ + QStringLiteral("/template"));
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(who.home);
        StartAsUser(*p, who.uid, who.gid, who.shop, who.umask);
        p->start(program_, {QStringLiteral("--gtest_filter=EstimatorSession.Run")});
        sessions_.push_back(std::move(p));
        return *sessions_.back();
    }
    // The session ended by itself and its test passed; what it said in `said`.
    bool passed(QProcess& p) {
        const bool ended = p.waitForFinished(180000);
        said = p.readAllStandardOutput() + p.readAllStandardError();
        return ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 &&
               said.contains("[  PASSED  ] 1 test");
    }
    static bool markLeft(const QString& path, QProcess& a, QProcess& b) {
        QElapsedTimer waited;
        waited.start();
        while (!QFileInfo::exists(path)) {
            if (waited.elapsed() > 120000 || a.state() == QProcess::NotRunning ||
                b.state() == QProcess::NotRunning)
                return false;
            QTest::qWait(20);
        }
        return true;
    }
    // The rows of a saved workbook: name and the six values.
    static QStringList Rows(const QString& path) {
        const auto book = ReadWorkbook(path);
        if (!book)
            return {book.error()};
        QStringList rows;
        for (int r = 2; r <= book->lastRow(); ++r) {
            QStringList cells{book->value(r, 1).toString()};
            for (int c = 2; c <= 7; ++c)
                cells << QString::number(book->value(r, c).toDouble(), 'f', 2);
            rows << cells.join(QLatin1Char(' '));
        }
        return rows;
    }

    Estimators est_;
    QTemporaryDir dir_;
    QString base_, program_, shared_, meeting_;
    QProcessEnvironment env_ = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> sessions_;
    QByteArray said;
};

TEST_F(TwoEstimatorsTest, TakeOffOneSharedPdfSetAtOnceAndKeepEveryRowAndOutline) {
    // The installation: the system's registry file naming each user's own
    // folder, and the template it is made from.
    {
        QFile reg(base_ + QStringLiteral("/registry.reg"));
        ASSERT_TRUE(reg.open(QIODevice::WriteOnly));
        reg.write("Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\r\n"
                  "\"InstPath\"=\"$XDG_DATA_HOME/pointra/\"\r\n");
    }
    folder(QStringLiteral("template/見積用画像"), 0, 0, 0755);
    ASSERT_TRUE(QFile::copy(QSourcePath("/examples/demo/runtm.cfg"),
                            base_ + QStringLiteral("/template/runtm.cfg")));
    // The shop's drawing folder (group-writable, setgid) with a PDF set, and
    // a folder for the sessions' marks.
    shared_ = folder(QStringLiteral("図面共有"), 0, est_.shared, 02770);
    const QString pdf = shared_ + QStringLiteral("/図面集.pdf");
    ASSERT_TRUE(MakePdf(pdf, 3));
    ASSERT_EQ(::chown(QFile::encodeName(pdf).constData(), 0, est_.shared), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(pdf).constData(), 0660), 0);
    meeting_ = folder(QStringLiteral("meeting"), 0, 0, 01777);
    const Estimator north = estimator(0, 022), south = estimator(1, 077);

    QProcess& one = start(QStringLiteral("first"), north);
    QProcess& two = start(QStringLiteral("second"), south);
    ASSERT_TRUE(markLeft(meeting_ + QStringLiteral("/calibrated"), one, two))
        << one.readAllStandardOutput().toStdString() << two.readAllStandardOutput().toStdString();
    // While the first session runs, a second one on its folder is refused.
    QProcess& again = start(QStringLiteral("again"), north);
    ASSERT_TRUE(passed(again)) << said.toStdString();
    QFile(meeting_ + QStringLiteral("/go")).open(QIODevice::WriteOnly);
    ASSERT_TRUE(passed(one)) << said.toStdString();
    ASSERT_TRUE(passed(two)) << said.toStdString();

    // Both worksheets have every row, each its own.
    QStringList rowsNorth, rowsSouth;
    QList<TakenOutline> expected;
    for (int i = 1; i <= kRooms; ++i) {
        rowsNorth << QStringLiteral("北-%1 ").arg(i) + kPageRoomRow;
        rowsSouth << QStringLiteral("南-%1 ").arg(i) + kPageRoomRow;
    }
    EXPECT_EQ(Rows(north.home + QStringLiteral("/北.xlsx")), rowsNorth);
    EXPECT_EQ(Rows(south.home + QStringLiteral("/南.xlsx")), rowsSouth);

    // The page's outlines hold every room of both.
    const QString jpeg = shared_ + QStringLiteral("/図面集.pdf-p2.jpg");
    const TakenOutlinesRead kept = ReadTakenOutlines(TakenOutlinesPath(jpeg), TextCodec());
    ASSERT_TRUE(kept.error.isEmpty()) << kept.error.toStdString();
    QStringList comments;
    for (const TakenOutline& o : kept.outlines) {
        comments << o.comment;
        EXPECT_EQ(o.points.size(), 5) << o.comment.toStdString();
        if (!o.points.isEmpty()) {
            EXPECT_EQ(o.points.first(), QPointF(kPageRoom[0])) << o.comment.toStdString();
        }
    }
    comments.sort();
    QStringList all;
    for (int i = 1; i <= kRooms; ++i)
        all << QStringLiteral("北-%1").arg(i) << QStringLiteral("南-%1").arg(i);
    all.sort();
    EXPECT_EQ(comments, all);
    // The calibration is the second's, drawn from (60, 50).
    CalibrationTexts texts = CalibrationTexts::defaults();
    const CalibrationRead cal = ReadCalibrationFile(CalibrationFilePath(jpeg), TextCodec(), texts);
    ASSERT_TRUE(cal.ok) << cal.error.toStdString();
    EXPECT_EQ(texts.X(CalRow::Coefficient), QStringLiteral("0.01500"));
    EXPECT_EQ(texts.Y(CalRow::Coefficient), QStringLiteral("0.01500"));

    // Each working folder is its user's alone; the image folder is a link
    // of theirs to the shop's folder; the drawing's files are the group's,
    // for every member to replace, and no temporary file is left.
    for (const Estimator* e : {&north, &south}) {
        const QString working = e->home + QStringLiteral("/.local/share/pointra");
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(working).constData(), &st), 0);
        EXPECT_EQ(st.st_uid, e->uid);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        EXPECT_EQ(QFileInfo(working + QStringLiteral("/見積用画像")).symLinkTarget(), shared_);
    }
    const QDir folder(shared_);
    for (const QFileInfo& f : folder.entryInfoList(QDir::Files | QDir::Hidden)) {
        struct stat st {};
        ASSERT_EQ(::lstat(QFile::encodeName(f.filePath()).constData(), &st), 0);
        EXPECT_EQ(st.st_gid, est_.shared) << f.fileName().toStdString();
        EXPECT_EQ(st.st_mode & 0060, 0060u) << f.fileName().toStdString();
        EXPECT_FALSE(f.fileName().startsWith(QLatin1Char('.'))) << f.fileName().toStdString();
    }
}

} // namespace
