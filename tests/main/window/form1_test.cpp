// Form1: start-up, device choice, serial numbering, "キャンセル" and "設定".
#include "main/window/form1.h"

#include "common/serial/serial_line.h"
#include "common/ui/picturebox.h"
#include "window_test_helpers.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTextDocument>

namespace {

const QString kMissingInstallation = QStringLiteral("VarpadXLは正しくインストールされていません\r\n"
                                                    "再度インストールをして下さい");

class Form1Test : public InstallationFixture {
protected:
    // Serial lines of the main window point at devices that do not exist, so
    // that choosing a tablet mode never touches a real port.
    void SetUp() override {
        InstallationFixture::SetUp();
        writeRegistry(instPath(), portKeys(dir_.path() + "/no-tty-1", dir_.path() + "/no-tty-2"));
    }
    static QString portKeys(const QString& port1, const QString& port2) {
        return QStringLiteral("[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra\\VarpadLumo\\"
                              "MSComm1]\r\n\"PortName\"=\"%1\"\r\n\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra\\VarpadLumo\\"
                              "MSComm2]\r\n\"PortName\"=\"%2\"\r\n")
            .arg(port1, port2);
    }
};

TEST_F(Form1Test, StartsInKeyInModeWithHeadingsAndNothingOpen) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Tallio(Excel連携)"));
    EXPECT_TRUE(form.Option4->isChecked());
    EXPECT_FALSE(form.Option1->isChecked() || form.Option2->isChecked() ||
                 form.Option3->isChecked());
    EXPECT_FALSE(form.Command5->isHidden());
    EXPECT_TRUE(form.Label5->isHidden() && form.Label6->isHidden() && form.Text5->isHidden());
    EXPECT_EQ(form.Text2->text(), QStringLiteral("拾い"));
    EXPECT_EQ(form.Text3->text(), QStringLiteral("1"));
    EXPECT_TRUE(form.Text3->isEnabled());
    EXPECT_TRUE(form.Check1->isChecked());
    EXPECT_FALSE(form.Command1->isEnabled());
    EXPECT_FALSE(form.Command2->isEnabled());
    EXPECT_FALSE(form.port1().PortOpen());
    EXPECT_FALSE(form.port2().PortOpen());
    EXPECT_EQ(form.session().instPath(), instPath());
    EXPECT_EQ(form.session().rowNo(), 2);
    EXPECT_EQ(form.session().serialNo(), 1);
    const QStringList headings{"処理名称", "全体周長", "基準長さ", "天井高",
                               "床面積",   "壁面積",   "天井面積"};
    for (int c = 1; c <= 7; ++c)
        EXPECT_EQ(form.sheet().Cells(1, c).value().toString(), headings[c - 1]);
    EXPECT_FALSE(form.sheet().Cells(1, 8).value().isValid());
    EXPECT_FALSE(form.sheet().Cells(2, 1).value().isValid());
}

TEST_F(Form1Test, ControlsSitWhereTheLayoutPutsThem) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    EXPECT_EQ(form.size(), QSize(1016, 626));
    EXPECT_EQ(form.Picture1->geometry(), QRect(0, 56, 400, 400));
    EXPECT_EQ(form.Command2->geometry(), QRect(328, 541, 73, 25));
    EXPECT_EQ(form.Option4->parentWidget(), static_cast<QWidget*>(form.Frame1));
    EXPECT_EQ(form.Command5->toolTip(), QStringLiteral("デジタイザで数量拾い"));
    EXPECT_EQ(form.Command4->toolTip(), QStringLiteral("過去の積算を編集"));
    EXPECT_EQ(form.findChild<QPushButton*>("Command1")->text(), QStringLiteral("キャンセル"));
    // The four options read alike: one font, one stretch, each caption whole.
    for (QRadioButton* o : {form.Option1, form.Option2, form.Option3, form.Option4}) {
        EXPECT_EQ(o->font(), form.Option4->font()) << o->objectName().toStdString();
        EXPECT_LE(o->sizeHint().width(), o->width()) << o->objectName().toStdString();
    }
}

TEST_F(Form1Test, ReceivedRecordsStayOnTheirLinesWithAHorizontalScrollBar) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.show();
    const QString record = QStringLiteral("( 0.0 , 4000.0 )  Flg = 1");
    form.Text1->setPlainText(record + u'\n' + record);
    QApplication::processEvents();
    EXPECT_EQ(form.Text1->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(form.Text1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    // Two records, two lines, however narrow the box.
    EXPECT_EQ(form.Text1->document()->lineCount(), 2);
}

TEST_F(Form1Test, MissingOrEmptyInstallationFolderEndsWithTheMessageAndItsCause) {
    const QString reg = dir_.path() + QStringLiteral("/registry.reg");
    const QString where = QStringLiteral("レジストリファイル（%1）の "
                                         "HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra")
                              .arg(reg);
    const QString absent = dir_.path() + "/absent/";
    const QList<std::pair<QString, QString>> cases{
        {QString(),
         where + QStringLiteral(" に \"InstPath\"（インストールフォルダ）がありません。")},
        {QStringLiteral(""), where + QStringLiteral(" の \"InstPath\" が空です。")},
        {absent,
         QStringLiteral("インストールフォルダ「%1」がありません（レジストリファイル（%2）の "
                        "\"InstPath\"）。")
             .arg(absent, reg)},
    };
    for (const auto& [value, cause] : cases) {
        writeRegistry(value);
        messages.clear();
        Form1 form;
        EXPECT_FALSE(form.Form_Load()) << value.toStdString();
        EXPECT_EQ(messages, QStringList{kMissingInstallation + QStringLiteral("\r\n\r\n") + cause});
    }
    // A mistyped POINTRA_REGISTRY names the file that is not there.
    qputenv("POINTRA_REGISTRY", QFile::encodeName(dir_.path() + "/typo.reg"));
    RegistryFile::reload();
    messages.clear();
    Form1 form;
    EXPECT_FALSE(form.Form_Load());
    EXPECT_EQ(messages, QStringList{kMissingInstallation +
                                    QStringLiteral(
                                        "\r\n\r\n環境変数 POINTRA_REGISTRY が指すレジストリファイル"
                                        "（%1/typo.reg）がありません。POINTRA_REGISTRY が"
                                        "設定されているときは、ほかの場所は探しません。")
                                        .arg(dir_.path())});
}

TEST_F(Form1Test, InstallationFolderWithoutTrailingSlashGetsOne) {
    writeRegistry(dir_.path());
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    EXPECT_EQ(form.session().instPath(), instPath());
}

TEST_F(Form1Test, SerialNumberFollowsNameAndCheckBox) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.Text3->setText("7");
    EXPECT_EQ(form.session().serialNo(), 7);
    // Editing the name, even slightly, starts the numbering again.
    QTest::keyClick(form.Text2, Qt::Key_End);
    QTest::keyClicks(form.Text2, "A");
    EXPECT_EQ(form.session().takeoffName(), QStringLiteral("拾いA"));
    EXPECT_EQ(form.session().serialNo(), 1);
    EXPECT_EQ(form.Text3->text(), "1");

    // Clearing the check box blanks the number: serial 0 from then on.
    QTest::mouseClick(form.Check1, Qt::LeftButton);
    EXPECT_FALSE(form.Check1->isChecked());
    EXPECT_EQ(form.Text3->text(), " ");
    EXPECT_FALSE(form.Text3->isEnabled());
    EXPECT_TRUE(form.Text3->isHidden());
    EXPECT_TRUE(form.Label3->isHidden());
    EXPECT_EQ(form.session().serialNo(), 0);
    EXPECT_EQ(form.sketchName(), QStringLiteral("拾いA"));
    // Typing a name sets it back to 1, the box stays blank and disabled.
    QTest::keyClicks(form.Text2, "B");
    EXPECT_EQ(form.session().serialNo(), 1);
    EXPECT_EQ(form.Text3->text(), " ");

    QTest::mouseClick(form.Check1, Qt::LeftButton);
    EXPECT_TRUE(form.Check1->isChecked());
    EXPECT_EQ(form.Text3->text(), "1");
    EXPECT_TRUE(form.Text3->isEnabled());
    EXPECT_FALSE(form.Text3->isHidden());
    EXPECT_EQ(form.sketchName(), QStringLiteral("拾いAB-1"));
}

TEST_F(Form1Test, SerialNumberRoundsHalvesToEvenAndReadsTheLeadingNumber) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    const std::pair<const char*, int> cases[] = {{"2.5", 2}, {"3.5", 4}, {"12abc", 12},
                                                 {"abc", 0}, {" 5", 5},  {"-1.5", -2}};
    for (auto [text, expected] : cases) {
        form.Text3->setText(text);
        EXPECT_EQ(form.session().serialNo(), expected) << text;
    }
    form.Text3->setText("99999999");
    EXPECT_EQ(form.session().serialNo(), 32767);
}

TEST_F(Form1Test, OptionsBehaveAsOneGroupAndShowTheirControls) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    QTest::mouseClick(form.Option3, Qt::LeftButton);
    EXPECT_TRUE(form.Option3->isChecked());
    EXPECT_FALSE(form.Option4->isChecked());
    EXPECT_FALSE(form.Command5->isHidden());
    EXPECT_TRUE(messages.isEmpty());

    // Clicking the chosen option again keeps it chosen and does nothing else.
    QTest::mouseClick(form.Option3, Qt::LeftButton);
    EXPECT_TRUE(form.Option3->isChecked());

    form.Option2_Click();
    EXPECT_TRUE(form.Option2->isChecked());
    EXPECT_FALSE(form.Option3->isChecked());
    EXPECT_TRUE(form.Command5->isHidden());
    EXPECT_FALSE(form.Text5->isHidden());
    EXPECT_FALSE(form.Label5->isHidden());
    EXPECT_FALSE(form.Label6->isHidden());
    // The port cannot be opened here (no such device): that is said, then the scale request.
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].contains(dir_.path() + "/no-tty-2")) << messages[0].toStdString();
    EXPECT_EQ(messages[1], QStringLiteral("最初に縮尺を設定して下さい"));

    form.Option1_Click();
    EXPECT_TRUE(form.Option1->isChecked());
    EXPECT_FALSE(form.Option2->isChecked());
    EXPECT_TRUE(form.Text5->isHidden());
    EXPECT_TRUE(form.Command5->isHidden());
}

TEST_F(Form1Test, SettingButtonDoesNothingWithoutATabletMode) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    for (QRadioButton* o : {form.Option3, form.Option4}) {
        QTest::mouseClick(o, Qt::LeftButton);
        QTest::mouseClick(form.Command3, Qt::LeftButton);
        EXPECT_FALSE(form.port1().PortOpen());
        EXPECT_FALSE(form.port2().PortOpen());
        EXPECT_TRUE(messages.isEmpty());
    }
}

TEST_F(Form1Test, UnloadTruncatesTheDigitizerStateFile) {
    const QString statePath = instPath() + "curPass.txt";
    {
        QFile f(statePath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("/some/drawing.jpg\r\n");
    }
    {
        Form1 form;
        ASSERT_TRUE(form.Form_Load());
        form.close();
        EXPECT_EQ(QFileInfo(statePath).size(), 19) << "untouched unless the digitizer was loaded";
    }
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.session().drawing().statePath = statePath;
    form.close();
    EXPECT_EQ(QFileInfo(statePath).size(), 0);
}

} // namespace

namespace {

TEST_F(Form1Test, SheetOpensOnA1ToH31) {
    Form1 form;
    ASSERT_TRUE(form.Form_Load());
    form.show();
    QTableView* sheet = form.OLE1;
    const QRect viewport = sheet->viewport()->rect();
    EXPECT_EQ(sheet->indexAt(QPoint(1, 1)), form.sheet().index(0, 0));
    const QModelIndex h31 = form.sheet().index(30, 7);
    EXPECT_TRUE(viewport.contains(sheet->visualRect(h31))) << "H31 visible";
}

} // namespace
