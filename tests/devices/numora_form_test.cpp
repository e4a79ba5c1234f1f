// The Numora window in process: the points it lists and keeps.
#include "device_test_helpers.h"

#include "devices/numora/form1.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

class NumoraForm : public InProcessFixture {
protected:
    void SetUp() override {
        InProcessFixture::SetUp();
        inst.writeFile(QStringLiteral("roomName.txt"), Sjis(QStringLiteral("廊下")) + "\r\n");
        useRegistry(QStringLiteral("Numora"), QString());
    }
    bool load(const QByteArray& coords) {
        inst.writeFile(QStringLiteral("座標.txt"), coords);
        form = std::make_unique<numora::Form1>();
        return form->Form_Load();
    }
    std::unique_ptr<numora::Form1> form;
};

TEST_F(NumoraForm, FourLinesAreListedInMillimetresWithoutLineBreaks) {
    ASSERT_TRUE(load("  0001.500 0002.0001\r\n"
                     "  0004.500 0002.0001\r\n"
                     "  0004.500 0004.0002\r\n"
                     "4 0001.500 0004.0001\r\n"));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("KeyIN積算"));
    EXPECT_EQ(form->Text2->text(), QStringLiteral("廊下"));
    EXPECT_EQ(form->Text1->toPlainText(), QStringLiteral("(  1500 ,  2000 )  Flg = 1"
                                                         "(  4500 ,  2000 )  Flg = 1"
                                                         "(  4500 ,  4000 )  Flg = 2"
                                                         "(  1500 ,  4000 )  Flg = 1"));
    EXPECT_EQ(form->pointCount(), 4);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(IsSketchBitmap(inst.readFile(QStringLiteral("curGazo.bmp"))));

    form->Command5->click();
    EXPECT_TRUE(form->Text1->toPlainText().isEmpty());
}

TEST_F(NumoraForm, SignColumnAndSignInsideTheNumberBothCount) {
    ASSERT_TRUE(load("  -0.75000 1.0000001\r\n"
                     " -0002.500-0001.0002\r\n"
                     "4 0002.500 0001.5001\r\n"));
    EXPECT_EQ(form->Text1->toPlainText(), QStringLiteral("(  -750 ,  1000 )  Flg = 1"
                                                         "(  -2500 ,  -1000 )  Flg = 2"
                                                         "(  2500 ,  1500 )  Flg = 1"));
}

} // namespace
