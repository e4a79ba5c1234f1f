// The editable sheet of Form1: cells typed in place, Delete, rows inserted
// and deleted; edits are unsaved changes that reach the recovery workbook and
// the saved workbook, and rowNo follows the last used row.
#include "main/window/form1.h"
#include "tests/support/session_access.h"

#include "main/takeoff/recovery.h"
#include "main/takeoff/workbook.h"
#include "window_test_helpers.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTableView>
#include <QTest>

namespace {

class Form1SheetTest : public InstallationFixture {
protected:
    void SetUp() override {
        InstallationFixture::SetUp();
        SetFileDialogHook([this](bool, const QString&) { return savePath; });
    }
    void TearDown() override {
        SetFileDialogHook({});
        InstallationFixture::TearDown();
    }
    QString savePath;

    // Types a text into a cell of the view as a user does: select it, start
    // the edit (the first key of an ASCII text, F2 otherwise: an input method
    // delivers the rest), Enter.
    static void Type(Form1& form, int row, int column, const QString& text) {
        QTableView* view = form.OLE1;
        view->setCurrentIndex(view->model()->index(row - 1, column - 1));
        view->setFocus();
        const bool ascii = text.at(0).unicode() < 0x80;
        if (ascii)
            QTest::keyClicks(view, text.left(1));
        else
            QTest::keyClick(view, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        ASSERT_TRUE(editor) << "the key starts an edit";
        if (!ascii)
            editor->clear(); // F2 keeps the cell's text: type over it
        editor->insert(ascii ? text.mid(1) : text);
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents(); // the delegate commits from the event loop
    }
    static void Row(Form1& form, double width) {
        OutlineStore& s = StoreOf(form);
        s.clear();
        for (auto [x, y] :
             {std::pair{0.0, 0.0}, {width, 0.0}, {width, 1.0}, {0.0, 1.0}, {0.0, 0.0}})
            s.appendMetres(x, y, 1);
        s.appendMetres(0, 0, 4);
        s.finishWith(s.pointCount() - 1);
        form.Command2_Click();
    }
};

TEST_F(Form1SheetTest, TypedCellsDeleteAndRowsAreUnsavedChangesEverywhere) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    Row(form, 2); // row 2: 拾い-1
    Row(form, 3); // row 3: 拾い-2
    savePath = dir_.path() + "/first.xlsx";
    ASSERT_TRUE(form.SaveSheet());
    EXPECT_FALSE(form.hasUnsavedRows());

    Type(form, 5, 2, QStringLiteral("2400"));
    Type(form, 5, 3, QStringLiteral("3600mm"));
    Type(form, 5, 4, QStringLiteral("２４．５"));
    Type(form, 2, 1, QStringLiteral("居間-1"));
    const Worksheet& sh = form.sheet();
    EXPECT_EQ(sh.cellValue(5, 2), QVariant(2400.0));
    EXPECT_EQ(sh.cellValue(5, 3), QVariant(QStringLiteral("3600mm")));
    EXPECT_EQ(sh.cellValue(5, 4), QVariant(24.5));
    EXPECT_EQ(sh.cellValue(2, 1), QVariant(QStringLiteral("居間-1")));
    EXPECT_TRUE(form.hasUnsavedRows());
    EXPECT_EQ(form.session().rowNo(), 6);

    // Delete empties the selected cells.
    QItemSelectionModel* selection = form.OLE1->selectionModel();
    selection->select(QItemSelection(sh.index(4, 1), sh.index(4, 3)),
                      QItemSelectionModel::ClearAndSelect);
    form.OLE1->setFocus();
    QTest::keyClick(form.OLE1, Qt::Key_Delete);
    EXPECT_FALSE(sh.cellValue(5, 2).isValid());
    EXPECT_FALSE(sh.cellValue(5, 4).isValid());
    EXPECT_EQ(form.session().rowNo(), 4);

    // A row inserted above 拾い-2 moves it down; "実行" writes below the last row.
    form.insertSheetRow(3);
    EXPECT_EQ(sh.cellValue(4, 1), QVariant(QStringLiteral("拾い-2")));
    EXPECT_EQ(form.session().rowNo(), 5);
    Row(form, 4);
    EXPECT_EQ(sh.cellValue(5, 1), QVariant(QStringLiteral("拾い-3")));
    form.deleteSheetRows(3, 1);
    EXPECT_EQ(sh.cellValue(3, 1), QVariant(QStringLiteral("拾い-2")));
    EXPECT_EQ(sh.cellValue(4, 1), QVariant(QStringLiteral("拾い-3")));
    EXPECT_EQ(form.session().rowNo(), 5);

    // The recovery workbook holds the edited sheet, not yet saved; the saved
    // workbook too once saved.
    RecoveryFound found = FindRecoveryWorkbook(instPath());
    ASSERT_EQ(found.state, RecoveryFound::State::Unsaved);
    EXPECT_EQ(found.data.value(2, 1), QVariant(QStringLiteral("居間-1")));
    EXPECT_EQ(found.data.value(4, 1), QVariant(QStringLiteral("拾い-3")));
    EXPECT_EQ(found.data.lastRow(), 4);
    savePath = dir_.path() + "/edited.xlsx";
    ASSERT_TRUE(form.SaveSheet());
    const auto saved = ReadWorkbook(savePath);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->cells, found.data.cells);
    EXPECT_EQ(FindRecoveryWorkbook(instPath()).state, RecoveryFound::State::Saved);
    EXPECT_TRUE(messages.isEmpty()) << messages.join("|").toStdString();
}

} // namespace
