// Form1 and its workbooks: saving the sheet, the recovery workbook, loading a
// past workbook, and the question before unsaved rows would be lost.
#include "main/window/form1.h"
#include "tests/support/session_access.h"

#include "main/takeoff/recovery.h"
#include "main/takeoff/workbook.h"
#include "window_test_helpers.h"

#include "common/ui/picturebox.h"
#include "test_paths.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>

namespace {

class Form1WorkbookTest : public InstallationFixture {
protected:
    void SetUp() override {
        InstallationFixture::SetUp();
        SetFileDialogHook([this](bool save, const QString& filter) {
            dialogs << QString(save ? "save:" : "open:") + filter;
            return save ? savePath : openPath;
        });
    }
    void TearDown() override {
        SetFileDialogHook({});
        InstallationFixture::TearDown();
    }
    static void TakeRectangle(Form1& form) {
        OutlineStore& s = StoreOf(form);
        s.clear();
        for (auto [x, y] : {std::pair{0, 0}, {4, 0}, {4, 3}, {0, 3}, {0, 0}})
            s.appendMetres(x, y, 1);
        s.appendMetres(0, 0, 4);
        s.finishWith(s.pointCount() - 1);
        form.Text4->setText("2400");
        form.Command2_Click();
    }
    // A workbook of `rows` rows and 7 columns written by the program itself.
    QString MakeWorkbook(int rows) {
        Worksheet sheet;
        for (int r = 1; r <= rows; ++r)
            for (int c = 1; c <= 7; ++c)
                sheet.Cells(r, c) = c == 1 ? QVariant(QString("行%1").arg(r)) : QVariant(r * c);
        const QString path = dir_.path() + QString("/past-%1.xlsx").arg(rows);
        EXPECT_TRUE(SaveWorkbook(sheet, path));
        return path;
    }

    QStringList dialogs;
    QString savePath;
    QString openPath;
};

TEST_F(Form1WorkbookTest, EveryRowReachesTheRecoveryWorkbook) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    TakeRectangle(form);
    TakeRectangle(form);
    const auto book = ReadWorkbook(RecoveryWorkbookPath(instPath()));
    ASSERT_TRUE(book) << book.error().toStdString();
    EXPECT_EQ(book->usedRows, 3);
    EXPECT_EQ(book->value(1, 1).toString(), QStringLiteral("処理名称"));
    EXPECT_EQ(book->value(3, 1).toString(), QStringLiteral("拾い-2"));
    EXPECT_EQ(book->value(3, 6).toDouble(), 33.6);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(Form1WorkbookTest, SavingClearsTheUnsavedMarkAndAddsTheExtension) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    TakeRectangle(form);
    EXPECT_TRUE(form.hasUnsavedRows());
    savePath = dir_.path() + "/saved";
    ASSERT_TRUE(form.SaveSheet());
    EXPECT_FALSE(form.hasUnsavedRows());
    EXPECT_TRUE(QFileInfo::exists(savePath + ".xlsx"));
    // Cancelling the dialog saves nothing.
    TakeRectangle(form);
    savePath.clear();
    EXPECT_FALSE(form.SaveSheet());
    EXPECT_TRUE(form.hasUnsavedRows());
}

TEST_F(Form1WorkbookTest, PastWorkbookContinuesBelowItsLastRow) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    openPath = MakeWorkbook(10);
    form.Command4_Click();
    ASSERT_EQ(dialogs.size(), 1);
    EXPECT_TRUE(dialogs[0].contains("*.xlsx *.xls"));
    EXPECT_EQ(form.session().rowNo(), 11);
    EXPECT_EQ(form.sheet().Cells(10, 1).value().toString(), QStringLiteral("行10"));
    EXPECT_EQ(form.sheet().Cells(10, 7).value().toInt(), 70);
    EXPECT_FALSE(form.sheet().Cells(1, 8).value().isValid());
    TakeRectangle(form);
    EXPECT_EQ(form.sheet().Cells(11, 1).value().toString(), QStringLiteral("拾い-1"));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(Form1WorkbookTest, CancelledDialogOrUnreadableFileLeavesTheSheet) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    TakeRectangle(form);
    openPath.clear();
    form.Command4_Click();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(form.sheet().Cells(2, 1).value().toString(), QStringLiteral("拾い-1"));

    openPath = dir_.path() + "/not-a-workbook.xlsx";
    QFile f(openPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("just some text, not a workbook\n");
    f.close();
    form.Command4_Click();
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(form.sheet().Cells(2, 1).value().toString(), QStringLiteral("拾い-1"));
    EXPECT_EQ(form.session().rowNo(), 3);
}

TEST_F(Form1WorkbookTest, UnsavedRowsAreOfferedForSavingBeforeTheyAreReplaced) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    TakeRectangle(form);
    openPath = MakeWorkbook(4);

    answer = MsgAnswer::Cancel;
    form.Command4_Click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(form.sheet().Cells(2, 1).value().toString(), QStringLiteral("拾い-1"));

    answer = MsgAnswer::Yes;
    savePath = dir_.path() + "/before-load.xlsx";
    form.Command4_Click();
    EXPECT_TRUE(QFileInfo::exists(savePath));
    EXPECT_EQ(form.session().rowNo(), 5);
    EXPECT_EQ(form.sheet().Cells(2, 1).value().toString(), QStringLiteral("行2"));
    const auto saved = ReadWorkbook(savePath);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->value(2, 1).toString(), QStringLiteral("拾い-1"));
}

TEST_F(Form1WorkbookTest, ClosingWithUnsavedRowsAsks) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.show();
    TakeRectangle(form);
    answer = MsgAnswer::Cancel;
    EXPECT_FALSE(form.close());
    EXPECT_EQ(messages.size(), 1);
    answer = MsgAnswer::No;
    EXPECT_TRUE(form.close());
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList DatedRecoveries(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("worksheet-recovery-*.xlsx")}, QDir::Files);
}

// A run killed after two rows (nothing runs at a kill: the object is only
// destroyed) leaves them in the recovery workbook; the next start offers
// them, Yes restores them unsaved, and rows go on below them.
TEST_F(Form1WorkbookTest, RowsOfAKilledRunAreOfferedAndRestored) {
    {
        Form1 killed;
        ASSERT_TRUE(killed.Form_Load());
        killed.Text2->setText(QStringLiteral("A-棟"));
        TakeRectangle(killed);
        TakeRectangle(killed);
    }
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    EXPECT_TRUE(messages.isEmpty()) << "asked once the window shows";
    form.offerRecovery();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("前回保存されなかった行")))
        << messages[0].toStdString();
    EXPECT_EQ(form.sheet().Cells(3, 1).value().toString(), QStringLiteral("A-棟-2"));
    EXPECT_EQ(form.sheet().Cells(3, 6).value().toDouble(), 33.6);
    EXPECT_EQ(form.session().rowNo(), 4);
    EXPECT_TRUE(form.hasUnsavedRows());
    // The take-off goes on from the last restored row: its name, its number + 1.
    EXPECT_EQ(form.Text2->text(), QStringLiteral("A-棟"));
    EXPECT_EQ(form.Text3->text(), QStringLiteral("3"));
    TakeRectangle(form);
    EXPECT_EQ(form.sheet().Cells(4, 1).value().toString(), QStringLiteral("A-棟-3"));
    const auto book = ReadWorkbook(RecoveryWorkbookPath(instPath()));
    ASSERT_TRUE(book);
    EXPECT_EQ(book->lastRow(), 4);
    EXPECT_TRUE(DatedRecoveries(dir_.path()).isEmpty());
}

// Declined at start (anything but Yes), at a load or at closing (No): the rows stay in
// a dated workbook beside it and are not offered again; a save leaves
// nothing to offer.
TEST_F(Form1WorkbookTest, DeclinedRowsAreKeptUnderADatedNameAndSavedOnesNotOffered) {
    {
        Form1 killed;
        ASSERT_TRUE(killed.Form_Load());
        TakeRectangle(killed);
    }
    answer = MsgAnswer::Cancel;
    {
        Form1 form;
        ASSERT_TRUE(form.Form_Load());
        form.offerRecovery();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_FALSE(form.sheet().Cells(2, 1).value().isValid());
        EXPECT_EQ(form.session().rowNo(), 2);
        const QStringList kept = DatedRecoveries(dir_.path());
        ASSERT_EQ(kept.size(), 1);
        EXPECT_TRUE(messages[0].contains(kept[0])) << "the question names the dated file";
        const auto book = ReadWorkbook(dir_.filePath(kept[0]));
        ASSERT_TRUE(book);
        EXPECT_EQ(book->value(2, 1).toString(), QStringLiteral("拾い-1"));
        EXPECT_FALSE(QFileInfo::exists(RecoveryWorkbookPath(instPath())));

        // Saved rows: the next start has nothing to offer.
        TakeRectangle(form);
        savePath = dir_.path() + "/saved.xlsx";
        ASSERT_TRUE(form.SaveSheet());
    }
    messages.clear();
    answer = MsgAnswer::No;
    {
        Form1 form;
        ASSERT_TRUE(form.Form_Load());
        form.offerRecovery();
        EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
        EXPECT_FALSE(form.sheet().Cells(2, 1).value().isValid());
        // Closing with "No" keeps the unsaved row aside as well.
        form.show();
        TakeRectangle(form);
        EXPECT_TRUE(form.close());
    }
    EXPECT_EQ(DatedRecoveries(dir_.path()).size(), 2);
    EXPECT_FALSE(QFileInfo::exists(RecoveryWorkbookPath(instPath())));
    messages.clear();
    Form1 last;
    ASSERT_TRUE(last.Form_Load());
    last.offerRecovery();
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(Form1WorkbookTest, UnreadableRecoveryIsKeptAsideWithAMessage) {
    QFile f(RecoveryWorkbookPath(instPath()));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("PK\x03\x04 damaged");
    f.close();
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    TakeRectangle(form); // held until settled: the damaged file is not written over
    EXPECT_EQ(ReadAll(RecoveryWorkbookPath(instPath())), QByteArray("PK\x03\x04 damaged"));
    form.offerRecovery();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(DatedRecoveries(dir_.path()).size(), 1);
    TakeRectangle(form);
    EXPECT_TRUE(ReadWorkbook(RecoveryWorkbookPath(instPath())));
}

// A table laid out from B2 by another program keeps every cell at its
// address; the load starts a clean outline, as "キャンセル" does.
TEST_F(Form1WorkbookTest, PastWorkbookFromB2KeepsItsCellsAndClearsTheOutline) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    OutlineStore& s = StoreOf(form);
    for (auto [x, y] : {std::pair{0, 0}, {4, 0}, {4, 3}})
        s.appendMetres(x, y, 1);
    s.appendMetres(0, 0, 4);
    s.finishWith(3);
    form.Picture1->Line(0, 0, 3000, 3000, Qt::red);
    form.Command2->setEnabled(true);
    openPath = QDataPath("/workbooks/openpyxl_from_b2.xlsx");
    form.Command4_Click();
    ASSERT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_FALSE(form.sheet().Cells(1, 1).value().isValid()) << "the headings of A1 are replaced";
    EXPECT_EQ(form.sheet().Cells(2, 2).value().toString(), QStringLiteral("処理名称"));
    EXPECT_EQ(form.sheet().Cells(2, 8).value().toString(), QStringLiteral("天井面積"));
    EXPECT_EQ(form.sheet().Cells(6, 8).value().toString(), QStringLiteral("最後の列"));
    EXPECT_EQ(form.sheet().Cells(3, 7).value().toDouble(), 33.6);
    EXPECT_EQ(form.session().rowNo(), 7);
    EXPECT_EQ(s.pointCount(), 0);
    EXPECT_EQ(s.finishedCount(), 0);
    EXPECT_FALSE(form.Command2->isEnabled());
    EXPECT_EQ(form.Picture1->retainedOperationCount(), 0u);
    EXPECT_FALSE(form.hasUnsavedRows());
    form.Command2_Click(); // nothing to write: the old outline is gone
    EXPECT_FALSE(form.sheet().Cells(7, 1).value().isValid());
}

// A hostile workbook is refused with a short message, the sheet as it was.
TEST_F(Form1WorkbookTest, HostileWorkbookIsRefusedBrieflyAndTheSheetStays) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    TakeRectangle(form);
    openPath = dir_.path() + "/hostile.xlsx";
    QProcess py;
    py.start("/usr/bin/python3",
             {QDataPath("/workbooks/make_hostile.py"), "long_shared_string", openPath});
    ASSERT_TRUE(py.waitForFinished(120000) && py.exitCode() == 0);
    form.Command4_Click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_LT(messages[0].size(), openPath.size() + 120) << messages[0].left(200).toStdString();
    EXPECT_EQ(form.sheet().Cells(2, 1).value().toString(), QStringLiteral("拾い-1"));
    EXPECT_EQ(form.session().rowNo(), 3);
    EXPECT_TRUE(form.hasUnsavedRows());
}

// rowNo and serialNo are 16-bit: "実行" is refused before either would wrap.
TEST_F(Form1WorkbookTest, ExecuteIsRefusedBeforeRowOrSerialNumberWouldWrap) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    Worksheet full;
    full.Cells(Worksheet::kLastRow, 1) = QStringLiteral("最後の行");
    openPath = dir_.path() + "/full.xlsx";
    ASSERT_TRUE(SaveWorkbook(full, openPath));
    form.Command4_Click();
    ASSERT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
    EXPECT_EQ(form.session().rowNo(), 32767);
    TakeRectangle(form);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("32766")) << messages[0].toStdString();
    EXPECT_EQ(form.session().rowNo(), 32767);
    EXPECT_EQ(StoreOf(form).finishedCount(), 5) << "the outline stays for a retry";

    Form1 other;
    ASSERT_TRUE(other.Form_Load());
    messages.clear();
    other.Text3->setText("32767");
    TakeRectangle(other);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_FALSE(other.sheet().Cells(2, 1).value().isValid());
    EXPECT_EQ(other.session().serialNo(), 32767);
}

} // namespace
