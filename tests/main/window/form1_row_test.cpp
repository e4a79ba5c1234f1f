// "実行": one worksheet row per finished outline, and the state after it.
#include "main/window/form1.h"
#include "tests/support/session_access.h"

#include "common/serial/serial_line.h"
#include "common/ui/picturebox.h"
#include "window_test_helpers.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {

class Form1RowTest : public InstallationFixture {
protected:
    // Delivers a finished outline as the keypad road or the digitizer would.
    static void Deliver(Form1& form, std::initializer_list<std::tuple<double, double, int>> pts) {
        OutlineStore& s = StoreOf(form);
        s.clear();
        for (auto [x, y, c] : pts)
            s.appendMetres(x, y, float(c));
        s.appendMetres(0, 0, 4);
        s.finishWith(s.pointCount() - 1);
        form.Command1->setEnabled(true);
        form.Command2->setEnabled(true);
    }
};

TEST_F(Form1RowTest, RowIsWrittenAndTheWindowReturnsToAnEmptyOutline) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Text4->setText("2400");
    Deliver(form, {{0, 0, 1}, {4, 0, 1}, {4, 3, 1}, {0, 3, 1}, {0, 0, 1}});
    form.Picture1->Line(0, 0, 3000, 3000, Qt::red);
    QTest::mouseClick(form.Command2, Qt::LeftButton);

    Worksheet& sh = form.sheet();
    EXPECT_EQ(sh.Cells(2, 1).value().toString(), QStringLiteral("拾い-1"));
    const double expected[] = {14, 14, 2400, 12, 33.6, 12};
    for (int c = 2; c <= 7; ++c)
        EXPECT_EQ(sh.Cells(2, c).value().toDouble(), expected[c - 2]) << c;
    EXPECT_EQ(form.session().rowNo(), 3);
    EXPECT_EQ(form.session().serialNo(), 2);
    EXPECT_EQ(form.Text3->text(), "2");
    EXPECT_EQ(form.Text2->text(), QStringLiteral("拾い"));
    EXPECT_EQ(StoreOf(form).pointCount(), 0);
    EXPECT_EQ(StoreOf(form).finishedCount(), 0);
    EXPECT_FALSE(form.Command1->isEnabled());
    EXPECT_FALSE(form.Command2->isEnabled());
    EXPECT_TRUE(form.Text1->toPlainText().isEmpty());
    EXPECT_EQ(form.Picture1->retainedOperationCount(), 0u);
    EXPECT_TRUE(form.hasUnsavedRows());

    Deliver(form, {{0, 0, 1}, {2, 0, 1}, {2, 2, 1}, {0, 2, 1}, {0, 0, 1}});
    form.Command2_Click();
    EXPECT_EQ(sh.Cells(3, 1).value().toString(), QStringLiteral("拾い-2"));
    EXPECT_EQ(sh.Cells(3, 5).value().toDouble(), 4.0);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(Form1RowTest, SerialNumberZeroAfterClearingTheCheckBox) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    QTest::mouseClick(form.Check1, Qt::LeftButton);
    for (int i = 0; i < 2; ++i) {
        Deliver(form, {{0, 0, 1}, {1, 0, 1}});
        form.Command2_Click();
    }
    EXPECT_EQ(form.sheet().Cells(2, 1).value().toString(), QStringLiteral("拾い-0"));
    EXPECT_EQ(form.sheet().Cells(3, 1).value().toString(), QStringLiteral("拾い-1"));
    EXPECT_EQ(form.Text3->text(), " ");
}

TEST_F(Form1RowTest, ExecuteBeforeTheOutlineIsFinishedWritesNothing) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    StoreOf(form).appendMetres(1, 1, 1); // points arriving, no end record yet
    form.Command2->setEnabled(true);
    form.Command2_Click();
    EXPECT_EQ(messages.size(), 1);
    EXPECT_FALSE(form.sheet().Cells(2, 1).value().isValid());
    EXPECT_EQ(form.session().rowNo(), 2);
    EXPECT_EQ(StoreOf(form).pointCount(), 1) << "the points taken so far stay";
}

} // namespace
