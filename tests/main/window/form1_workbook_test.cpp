// Form1 and its workbooks: saving the sheet, the recovery workbook, loading a
// past workbook, and the question before unsaved rows would be lost.
#include "main/window/form1.h"

#include "main/takeoff/recovery.h"
#include "main/takeoff/workbook.h"
#include "window_test_helpers.h"

#include <QFileInfo>
#include <QLineEdit>
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
        OutlineStore& s = form.state().outline;
        s.clear();
        for (auto [x, y] : {std::pair{0, 0}, {4, 0}, {4, 3}, {0, 3}, {0, 0}})
            s.appendMetres(x, y, 1);
        s.appendMetres(0, 0, 4);
        s.finishedCount = s.pointCount - 1;
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
    QString error;
    const auto book = ReadWorkbook(RecoveryWorkbookPath(instPath()), &error);
    ASSERT_TRUE(book) << error.toStdString();
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
    EXPECT_EQ(form.state().rowNo, 11);
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
    EXPECT_EQ(form.state().rowNo, 3);
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
    EXPECT_EQ(form.state().rowNo, 5);
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

} // namespace
