// Several estimators on one drawing in a folder they share: sessions in
// processes of their own (as other users of the folder's group when the
// tests run as root), or two main windows with their digitizers side by
// side. Outlines of every session are kept and appear in the others; a held
// lock keeps an outline waiting, never lost; a calibration changed
// underneath is asked about; a PDF page chosen again keeps its files.
#include "main/window/form3.h"
#include "tests/support/session_access.h"

#include "common/core/file_lock.h"
#include "common/ui/picturebox.h"
#include "main/image/taken_outlines.h"
#include "main/window/form2.h"
#include "tests/main/digitizer/drawing_fixture.h"

#include "file_systems.h"

#include <QFileSystemWatcher>
#include <QLabel>
#include <QPushButton>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// What another session does, when this program is run as one: the task
// in POINTRA_SHARED_TASK on the drawing in POINTRA_SHARED_DRAWING.
//   hold      holds the drawing's lock until its input ends ("held" once it has it)
//   outlines  finishes POINTRA_SHARED_COUNT outlines named POINTRA_SHARED_NAME and
//             has their rows written, one by one
TakenOutline SessionOutline(const QString& name, int i) {
    return {{{10.0 + i, 20}, {110.0 + i, 20}, {110.0 + i, 90}, {10.0 + i, 20}},
            name + QStringLiteral("-%1").arg(i + 1)};
}

TEST(SharedDrawingSession, Run) {
    const QByteArray task = qgetenv("POINTRA_SHARED_TASK");
    if (task.isEmpty())
        GTEST_SKIP() << "another session's work, run by the tests of shared drawings";
    const QString drawing = qEnvironmentVariable("POINTRA_SHARED_DRAWING");
    if (task == "hold") {
        FileLock lock;
        QString error;
        ASSERT_EQ(lock.acquire(DrawingLockPath(drawing), 10000, &error), FileLock::Outcome::Held)
            << error.toStdString();
        std::fputs("held\n", stdout);
        std::fflush(stdout);
        char c = 0;
        while (::read(0, &c, 1) > 0) {
        }
        return;
    }
    ASSERT_EQ(task, "outlines");
    const QString name = qEnvironmentVariable("POINTRA_SHARED_NAME");
    const int count = qEnvironmentVariableIntValue("POINTRA_SHARED_COUNT");
    OnScreenOutlines screen;
    for (int i = 0; i < count; ++i) {
        OutlineStore store;
        store.appendMetres(i, 1, 1);
        store.appendMetres(i, 2, 1);
        store.finishWith(2);
        screen.finished(drawing, SessionOutline(name, i), store);
        const std::optional<QString> said = screen.rowWritten(store, TextCodec());
        ASSERT_FALSE(said) << said->toStdString();
    }
    EXPECT_TRUE(screen.unsaved(drawing).isEmpty());
}

// A user of the shared folder's group, with a umask of their own.
struct Account {
    uid_t uid;
    gid_t gid;
    gid_t group;
    mode_t umask;
};

constexpr gid_t kShopGroup = 4242;

class SharedDrawingTest : public Form3DrawingTest {
protected:
    void SetUp() override {
        Form3DrawingTest::SetUp();
        // The questions about another session's calibration take their answers in turn.
        SetTitledMessageHook([this](const QString& title, const QString& text) {
            titles << title;
            messages << text;
            if (text.startsWith(QStringLiteral("この図面の基準値")) &&
                !calibrationAnswers.empty()) {
                const MsgAnswer a = calibrationAnswers.front();
                calibrationAnswers.pop_front();
                return a;
            }
            return answer;
        });
    }
    void TearDown() override {
        for (auto& s : sessions_) {
            s->closeWriteChannel();
            if (!s->waitForFinished(10000))
                s->kill();
        }
        Form3DrawingTest::TearDown();
    }

    // Another session in a process of its own, as `as` when given.
    QProcess& startSession(const QByteArray& task, const QString& drawingPath,
                           const QString& name = QString(), int count = 0,
                           std::optional<Account> as = std::nullopt) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("XDG_RUNTIME_DIR")); // the parent's private one
        env.insert(QStringLiteral("POINTRA_SHARED_TASK"), QString::fromLatin1(task));
        env.insert(QStringLiteral("POINTRA_SHARED_DRAWING"), drawingPath);
        env.insert(QStringLiteral("POINTRA_SHARED_NAME"), name);
        env.insert(QStringLiteral("POINTRA_SHARED_COUNT"), QString::number(count));
        if (as)
            StartAsUser(*p, as->uid, as->gid, as->group, as->umask);
        QString program = QCoreApplication::applicationFilePath();
        if (as) {
            // A copy the other user can reach, wherever the build lies.
            if (program_.isEmpty()) {
                ::chmod(QFile::encodeName(programDir_.path()).constData(), 0755);
                program_ = ProgramForOtherUsers(programDir_.path(), &programEnv_);
            }
            program = program_;
            if (programEnv_.contains(QStringLiteral("LSAN_OPTIONS")))
                env.insert(QStringLiteral("LSAN_OPTIONS"),
                           programEnv_.value(QStringLiteral("LSAN_OPTIONS")));
        }
        p->setProcessEnvironment(env);
        p->start(program, {QStringLiteral("--gtest_filter=SharedDrawingSession.Run")});
        sessions_.push_back(std::move(p));
        return *sessions_.back();
    }
    // The session ended and its work passed; what it said is kept in `said`.
    bool passed(QProcess& p) {
        const bool ended = p.waitForFinished(60000);
        said = p.readAllStandardOutput() + p.readAllStandardError();
        return ended && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 &&
               said.contains("[  PASSED  ] 1 test");
    }

    // A digitizer beside another one, as two programs would show theirs:
    // neither blocks the other's window.
    static std::unique_ptr<Form3> openBeside(Form1& form) {
        auto f = std::make_unique<Form3>(form.session(), form.form2(), &form);
        f->setModal(false);
        f->Form_Load();
        f->show();
        return f;
    }
    static void takeRoomOff(Form3& f) {
        for (const QPoint& p : kRoom)
            click(f, p);
        click(f, QPoint(700, 600), Qt::MiddleButton);
    }
    static QFileSystemWatcher* watcherOf(Form3& f) { return f.findChild<QFileSystemWatcher*>(); }
    static quint64 inode(const QString& path) { return StampFile(path).inode; }
    static QByteArray calibrationBytes(const CalibrationTexts& t) {
        QByteArray bytes;
        for (const QString& line : CalibrationFileLines(t))
            bytes += TextCodec().encode(line) + "\r\n";
        return bytes;
    }

    std::deque<MsgAnswer> calibrationAnswers;
    QByteArray said;
    std::vector<std::unique_ptr<QProcess>> sessions_;
    QTemporaryDir programDir_;
    QString program_;
    QProcessEnvironment programEnv_ = QProcessEnvironment::systemEnvironment();
};

TEST_F(SharedDrawingTest, TwoUsersAddingAtOnceKeepEveryOutlineAndTheOpenDrawingShowsThem) {
    // A group folder (setgid, group-writable) two users of the group write
    // into at once, one with a umask that keeps everything to themselves.
    QTemporaryDir base;
    ASSERT_EQ(::chmod(QFile::encodeName(base.path()).constData(), 0755), 0);
    const QString shared = base.path() + QStringLiteral("/図面共有");
    ASSERT_TRUE(QDir().mkdir(shared));
    std::optional<Account> first, second;
    if (IsRoot()) {
        ASSERT_EQ(::chown(QFile::encodeName(shared).constData(), 0, kShopGroup), 0);
        first = Account{4001, 4001, kShopGroup, 077};
        second = Account{4002, 4002, kShopGroup, 022};
    }
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 02770), 0);
    const QString plan = shared + QStringLiteral("/平面図.bmp");
    writeDrawing(plan, QImage::Format_RGB32);
    ASSERT_EQ(::chmod(QFile::encodeName(plan).constData(), 0644), 0);
    writeViewState(plan, "1");
    Form1 form;
    startMain(form);
    auto f3 = openBeside(form);
    ASSERT_EQ(f3->scaleIsSet, 1);

    constexpr int kEach = 30;
    QProcess& one = startSession("outlines", plan, QStringLiteral("北"), kEach, first);
    QProcess& two = startSession("outlines", plan, QStringLiteral("南"), kEach, second);
    ASSERT_TRUE(passed(one)) << said.toStdString();
    ASSERT_TRUE(passed(two)) << said.toStdString();

    // Every outline of both, each session's in its order.
    const TakenOutlinesRead kept = ReadTakenOutlines(TakenOutlinesPath(plan), TextCodec());
    EXPECT_TRUE(kept.error.isEmpty()) << kept.error.toStdString();
    QList<TakenOutline> north, south;
    for (int i = 0; i < kEach; ++i) {
        north << SessionOutline(QStringLiteral("北"), i);
        south << SessionOutline(QStringLiteral("南"), i);
    }
    QList<TakenOutline> keptNorth, keptSouth;
    for (const TakenOutline& o : kept.outlines)
        (o.comment.startsWith(QStringLiteral("北")) ? keptNorth : keptSouth) << o;
    EXPECT_EQ(keptNorth, north);
    EXPECT_EQ(keptSouth, south);
    // The window showing the drawing read them again as the file changed.
    ASSERT_TRUE(WaitFor([&] { return f3->takenOutlines.size() == 2 * kEach; }));
    EXPECT_EQ(f3->takenOutlines, kept.outlines);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();

    // The lock file and the outlines are the group's, whoever made them.
    for (const QString& file : {DrawingLockPath(plan), TakenOutlinesPath(plan)}) {
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0) << file.toStdString();
        EXPECT_EQ(st.st_mode & 0060, 0060u) << file.toStdString();
        if (IsRoot()) {
            EXPECT_EQ(st.st_gid, kShopGroup) << file.toStdString();
        }
    }
}

TEST_F(SharedDrawingTest, TwoDigitizersOnOneDrawingKeepBothOutlinesAndSeeEachOthers) {
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "1");
    Form1 a, b;
    startMain(a);
    startMain(b);
    a.Text2->setText(QStringLiteral("居間"));
    b.Text2->setText(QStringLiteral("寝室"));
    auto fa = openBeside(a);
    auto fb = openBeside(b);
    messages.clear();

    takeRoomOff(*fa);
    ASSERT_FALSE(fa->isVisible());
    QTest::mouseClick(a.Command2, Qt::LeftButton);
    EXPECT_EQ(row(a), kRoomRow);
    const QList<TakenOutline> first =
        ReadTakenOutlines(TakenOutlinesPath(drawing), TextCodec()).outlines;
    ASSERT_EQ(first.size(), 1);
    EXPECT_EQ(first[0].comment, QStringLiteral("居間-1"));
    // The other digitizer, open meanwhile, shows it as done.
    ASSERT_TRUE(WaitFor([&] { return fb->takenOutlines == first; }));

    // Its own room goes after it, and both show when either opens again.
    for (QPoint p : kRoom)
        click(*fb, p + QPoint(400, 200));
    click(*fb, QPoint(10, 10), Qt::MiddleButton);
    QTest::mouseClick(b.Command2, Qt::LeftButton);
    const TakenOutlinesRead both = ReadTakenOutlines(TakenOutlinesPath(drawing), TextCodec());
    ASSERT_EQ(both.outlines.size(), 2);
    EXPECT_EQ(both.outlines[0], first[0]);
    EXPECT_EQ(both.outlines[1].comment, QStringLiteral("寝室-1"));
    EXPECT_EQ(both.outlines[1].points.first(), QPointF(500, 300));
    EXPECT_EQ(openBeside(a)->takenOutlines, both.outlines);
    EXPECT_EQ(openBeside(b)->takenOutlines, both.outlines);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

TEST_F(SharedDrawingTest, ALockHeldLongerThanTheWaitKeepsTheOutlineWaitingAndTheFileUnchanged) {
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "1");
    const TakenOutline earlier{{{1, 1}, {2, 2}}, QStringLiteral("先の部屋-1")};
    ASSERT_TRUE(AppendTakenOutlines(drawing, {earlier}, TextCodec()));
    const QByteArray taken = Contents(TakenOutlinesPath(drawing));
    const QByteArray inf = Contents(drawing + ".inf");
    Form1 form;
    startMain(form);
    auto f3 = openDigitizer(form);
    ASSERT_EQ(f3->takenOutlines, QList<TakenOutline>{earlier});

    // Another process holds the drawing's lock throughout.
    QProcess& holder = startSession("hold", drawing);
    QByteArray out;
    while (!out.contains("held\n") && holder.waitForReadyRead(30000))
        out += holder.readAllStandardOutput();
    ASSERT_TRUE(out.contains("held\n")) << holder.readAllStandardError().toStdString();
    const QString busy =
        QStringLiteral("図面「%1」のファイルを他の画面が書き込み中です（5 秒待ちました）")
            .arg(drawing);
    QElapsedTimer waited;
    waited.start();
    click(*f3, QPoint(300, 300));
    messages.clear();
    f3->E11->trigger();
    EXPECT_EQ(messages, (QStringList{kOriginQuestion,
                                     QStringLiteral("基準値を保存できませんでした。\r\n") + busy}));
    EXPECT_EQ(Contents(drawing + ".inf"), inf);
    EXPECT_GE(waited.elapsed(), 5000);
    messages.clear();
    takeRoomOff(*f3);
    QTest::mouseClick(form.Command2, Qt::LeftButton);
    EXPECT_EQ(row(form), kRoomRow); // the row is written all the same
    EXPECT_EQ(messages,
              QStringList{QStringLiteral("拾い済みの図形を図面に記録できませんでした"
                                         "（行は書き込まれています）。\r\n") +
                          busy +
                          QStringLiteral("\r\n図形は残してあり、次の「実行」で記録し直します")});
    EXPECT_EQ(Contents(TakenOutlinesPath(drawing)), taken);
    const QList<TakenOutline> waiting = form.session().onScreen().unsaved(drawing);
    ASSERT_EQ(waiting.size(), 1);
    EXPECT_EQ(waiting[0].comment, QStringLiteral("拾い-1"));

    // Free again: the digitizer opened next writes it, after the one before.
    holder.closeWriteChannel();
    ASSERT_TRUE(passed(holder)) << said.toStdString();
    messages.clear();
    auto again = openDigitizer(form);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_TRUE(form.session().onScreen().unsaved(drawing).isEmpty());
    EXPECT_EQ(Contents(TakenOutlinesPath(drawing)),
              taken + TextCodec().encode(TakenOutlineLine(waiting[0])) + "\r\n");
    EXPECT_EQ(again->takenOutlines, (QList<TakenOutline>{earlier, waiting[0]}));
}

TEST_F(SharedDrawingTest, ACalibrationChangedUnderneathIsAskedAboutAndEachAnswerDoesWhatItSays) {
    writeDrawing(drawing, QImage::Format_RGB32);
    writeViewState(drawing, "1");
    const QString inf = drawing + ".inf";
    Form1 a, b;
    startMain(a);
    startMain(b);
    auto fa = openBeside(a);
    auto fb = openBeside(b);
    Form2& a2 = a.form2();
    Form2& b2 = b.form2();
    // b scales the drawing at 0.02 m a pixel (8 m x 6 m over 400 x 300).
    auto scaleInB = [&] {
        drag(*fb, QPoint(100, 100), QPoint(500, 400));
        answers = {QString("8000"), QString("6000")};
        fb->E12->trigger();
    };

    // 1. Points in progress in a; "いいえ": a goes on with its own, the
    // file stays b's, the room is measured and written with a's.
    click(*fa, kRoom[0]);
    click(*fa, kRoom[1]);
    messages.clear();
    scaleInB();
    const QByteArray bs = Contents(inf);
    ASSERT_TRUE(TextCodec().decode(bs).contains(QStringLiteral(",0.02000,")));
    calibrationAnswers = {MsgAnswer::No};
    ASSERT_TRUE(WaitFor([&] { return messages.size() == 2; }));
    EXPECT_EQ(messages[1], CalibrationChangedQuestion(drawing, false, 2));
    EXPECT_TRUE(messages[1].contains(
        QStringLiteral("拾い中の 2 点は今までの基準値で測ったため破棄します")));
    EXPECT_EQ(a2.x軸係数->text(), "0.01000");
    EXPECT_EQ(StoreOf(a).pointCount(), 2);
    for (int i = 2; i < 5; ++i)
        click(*fa, kRoom[i]);
    click(*fa, QPoint(700, 600), Qt::MiddleButton);
    ASSERT_FALSE(fa->isVisible());
    QTest::mouseClick(a.Command2, Qt::LeftButton);
    EXPECT_EQ(row(a), kRoomRow);
    EXPECT_EQ(messages.size(), 2);
    EXPECT_EQ(Contents(inf), bs);

    // 2. Opened again, a keeps its own without asking again. Its origin
    // would replace b's calibration: asked; "いいえ" writes nothing, "はい"
    // writes a's.
    messages.clear();
    fa = openBeside(a);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_EQ(fa->scaleIsSet, 1);
    EXPECT_FLOAT_EQ(fa->metresPerUnitX, 0.01f);
    click(*fa, QPoint(300, 300));
    calibrationAnswers = {MsgAnswer::No};
    fa->E11->trigger();
    EXPECT_EQ(messages, (QStringList{kOriginQuestion, ReplaceCalibrationQuestion(drawing)}));
    EXPECT_EQ(Contents(inf), bs);
    EXPECT_EQ(a2.text(CalRow::Origin, false), "300"); // in force here
    messages.clear();
    calibrationAnswers = {MsgAnswer::Yes};
    fa->E11->trigger();
    EXPECT_EQ(messages, (QStringList{kOriginQuestion, ReplaceCalibrationQuestion(drawing)}));
    EXPECT_EQ(Contents(inf), calibrationBytes(a2.texts()));
    const CalibrationTexts as = a2.texts();
    // b, open all along, is asked in turn and takes it.
    messages.clear();
    calibrationAnswers = {MsgAnswer::Yes};
    ASSERT_TRUE(WaitFor([&] { return !messages.isEmpty(); }));
    EXPECT_EQ(messages, QStringList{CalibrationChangedQuestion(drawing, false, 0)});
    EXPECT_EQ(b2.texts(), as);
    EXPECT_FLOAT_EQ(fb->metresPerUnitX, 0.01f);

    // 3. A change the watcher misses is caught before the finish: "はい"
    // takes b's calibration and discards the points measured with the old.
    watcherOf(*fa)->blockSignals(true);
    click(*fa, kRoom[0]);
    click(*fa, kRoom[1]);
    messages.clear();
    scaleInB();
    QTest::qWait(300);
    EXPECT_EQ(messages.size(), 1); // b's verdict only
    calibrationAnswers = {MsgAnswer::Yes};
    fa->Command1->click();
    EXPECT_EQ(messages.last(), CalibrationChangedQuestion(drawing, false, 2));
    EXPECT_TRUE(fa->isVisible());
    EXPECT_FALSE(fa->trace.underway());
    EXPECT_EQ(StoreOf(a).pointCount(), 0);
    EXPECT_EQ(a2.x軸係数->text(), "0.02000");
    EXPECT_FLOAT_EQ(fa->metresPerUnitX, 0.02f);

    // 4. ... and when the window gets the focus; "いいえ" leaves b's file.
    click(*fb, QPoint(200, 200));
    answer = MsgAnswer::Yes;
    fb->E11->trigger();
    const QByteArray moved = Contents(inf);
    messages.clear();
    QTest::qWait(300);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(fa.get(), &activate);
    calibrationAnswers = {MsgAnswer::No};
    ASSERT_TRUE(WaitFor([&] { return !messages.isEmpty(); }));
    EXPECT_EQ(messages, QStringList{CalibrationChangedQuestion(drawing, false, 0)});
    EXPECT_EQ(a2.text(CalRow::Origin, false), "100");
    EXPECT_EQ(Contents(inf), moved);
}

TEST_F(SharedDrawingTest, APdfPageChosenAgainKeepsItsJpegCalibrationAndOutlines) {
    needGhostscript();
    ASSERT_TRUE(QDir(instPath()).mkpath("A"));
    const QString pdf = instPath() + "A/plan.pdf";
    ASSERT_TRUE(MakePdf(pdf, 2));
    Form1 a;
    startMain(a);
    auto fa = openBeside(a);
    answers = {QString("2")};
    choose(*fa, pdf);
    const QString copy = images() + "plan.pdf";
    const QString jpeg = copy + "-p2.jpg";
    ASSERT_EQ(imagePath(a), jpeg);
    // What the JPEG was made from, beside it.
    EXPECT_EQ(Contents(jpeg + ".source"),
              PageSourceText({QFileInfo(pdf).size(), StampFile(copy).modifiedNs, FileSha256(pdf), 2,
                              200, QFileInfo(jpeg).size()}));
    EXPECT_EQ(FileSha256(pdf).size(), 64);
    // Another session calibrates the page and takes a room off it.
    CalibrationTexts t = CalibrationTexts::defaults();
    t.X(CalRow::Coefficient) = t.Y(CalRow::Coefficient) = "0.01000";
    ASSERT_TRUE(WriteCalibrationFile(jpeg + ".inf", t, TextCodec()));
    const TakenOutline room{{{10, 10}, {100, 10}, {100, 80}, {10, 10}}, QStringLiteral("倉庫-1")};
    ASSERT_TRUE(AppendTakenOutlines(jpeg, {room}, TextCodec()));
    ASSERT_TRUE(WaitFor([&] { return fa->scaleIsSet == 1 && fa->takenOutlines.size() == 1; }));
    const QStringList files{jpeg, jpeg + ".inf", jpeg + ".takeoff", jpeg + ".source", copy};
    auto snapshot = [&] {
        QList<QByteArray> all;
        for (const QString& f : files)
            all << Contents(f);
        return all;
    };
    const QList<QByteArray> page2 = snapshot();
    const quint64 jpegInode = inode(jpeg);

    // Chosen again: from its folder here, from the image folder in another
    // session, with the copy touched (the same bytes): shown as it lies.
    answers = {QString("2")};
    choose(*fa, pdf);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_EQ(asked, QStringList{kPageTitle + "|" + PageQuestion(2)});
    EXPECT_EQ(fa->scaleIsSet, 1);
    EXPECT_EQ(fa->takenOutlines, QList<TakenOutline>{room});
    Form1 b;
    startMain(b);
    auto fb = openBeside(b);
    answers = {QString("2")};
    choose(*fb, copy);
    EXPECT_EQ(imagePath(b), jpeg);
    EXPECT_EQ(fb->scaleIsSet, 1);
    EXPECT_EQ(fb->takenOutlines, QList<TakenOutline>{room});
    QFile touched(copy);
    ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
    ASSERT_TRUE(touched.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                    QFileDevice::FileModificationTime));
    touched.close();
    answers = {QString("2")};
    choose(*fa, pdf);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_TRUE(snapshot() == page2);
    EXPECT_EQ(inode(jpeg), jpegInode);

    // Page 1 is converted beside it; page 2 stays.
    answers = {QString("1")};
    choose(*fa, pdf);
    EXPECT_EQ(imagePath(a), copy + ".jpg");
    EXPECT_EQ(messages, QStringList{kScaleMessage});
    EXPECT_TRUE(snapshot() == page2);
    // A JPEG made at another resolution is converted again, as one of
    // unknown origin is: its calibration and outlines go.
    QByteArray record = Contents(jpeg + ".source");
    record.replace("resolution=200", "resolution=300");
    QFile rewrite(jpeg + ".source");
    ASSERT_TRUE(rewrite.open(QIODevice::WriteOnly | QIODevice::Truncate));
    rewrite.write(record);
    rewrite.close();
    answers = {QString("2")};
    choose(*fa, pdf);
    EXPECT_EQ(imagePath(a), jpeg);
    EXPECT_FALSE(QFileInfo::exists(jpeg + ".inf"));
    EXPECT_FALSE(QFileInfo::exists(jpeg + ".takeoff"));
    EXPECT_TRUE(Contents(jpeg + ".source").contains("resolution=200"));
    EXPECT_EQ(fa->scaleIsSet, 0);
}

TEST(SharedDrawingFiles, TheRecordOfAPageAndTheCalibrationKnownWithoutWindows) {
    QTemporaryDir dir;
    const TextCodec codec;
    const QString plan = dir.filePath(QStringLiteral("plan.bmp"));
    // A record reads back as written; one with a value missing is none.
    const PageSource s{12345, 1700000000123456789, QByteArray(64, 'a'), 3, 200, 999};
    EXPECT_EQ(ParsePageSource(PageSourceText(s)), s);
    EXPECT_FALSE(ParsePageSource(PageSourceText(s).replace("page=3\n", "")));
    EXPECT_FALSE(ParsePageSource("pdf-size=x\n"));

    CalibrationWatch watch;
    watch.know(
        plan, ReadCalibrationState(CalibrationFilePath(plan), codec, CalibrationTexts::defaults()));

    // Written here, then by another session: noticed once; kept over, not
    // again; a write expecting the old file writes nothing; the same values
    // written again with other presses are no change.
    CalibrationTexts mine = CalibrationTexts::defaults();
    ASSERT_EQ(watch.write(mine, watch.knownStamp(), codec), CalibrationWatch::Write::Written);
    EXPECT_FALSE(watch.changed(codec));
    CalibrationTexts theirs = mine;
    theirs.X(CalRow::Coefficient) = "0.02000";
    ASSERT_TRUE(WriteCalibrationFile(CalibrationFilePath(plan), theirs, codec));
    const auto seen = watch.changed(codec);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->texts, theirs);
    watch.keepOwn(*seen, mine);
    EXPECT_FALSE(watch.changed(codec));
    EXPECT_TRUE(watch.keepsOwn());
    EXPECT_EQ(watch.inForce(), mine);
    ASSERT_TRUE(watch.othersFile(codec));
    const FileStamp before = StampFile(CalibrationFilePath(plan));
    EXPECT_EQ(watch.write(mine, watch.knownStamp(), codec), CalibrationWatch::Write::Changed);
    EXPECT_EQ(StampFile(CalibrationFilePath(plan)), before);
    ASSERT_EQ(watch.write(mine, before, codec), CalibrationWatch::Write::Written);
    EXPECT_FALSE(watch.keepsOwn());
    mine.X(CalRow::MouseDown) = "77";
    ASSERT_TRUE(WriteCalibrationFile(CalibrationFilePath(plan), mine, codec));
    EXPECT_FALSE(watch.changed(codec));
    EXPECT_FALSE(watch.othersFile(codec));
}

} // namespace
