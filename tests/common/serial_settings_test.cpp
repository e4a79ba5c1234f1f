// Line settings of the serial controls and their stored configuration.
#include "common/core/registry.h"
#include "common/core/serial_settings.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(SettingsText, ParsesTheTextsTheProgramsSet) {
    const auto mt = ParseSettingsText("1200,n,7,1");
    ASSERT_TRUE(mt);
    EXPECT_EQ(mt->baud, 1200);
    EXPECT_EQ(mt->parity, 'n');
    EXPECT_EQ(mt->dataBits, 7);
    EXPECT_EQ(mt->stopBits, 1);

    const auto t = ParseSettingsText("9600,E,7,1");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->baud, 9600);
    EXPECT_EQ(t->parity, 'e');

    const auto other = ParseSettingsText(" 19200 , O , 8 , 1.5 ");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->parity, 'o');
    EXPECT_EQ(other->stopBits, 3);
    EXPECT_EQ(SettingsText(*other), "19200,o,8,1.5");
    EXPECT_EQ(SettingsText(*t), "9600,e,7,1");
}

TEST(SettingsText, RefusesMalformedTexts) {
    for (const char* text : {"", "1200", "1200,n,7", "1200,n,7,1,1", "fast,n,7,1", "-1200,n,7,1",
                             "0,n,7,1", "1200,x,7,1", "1200,ne,7,1", "1200,n,9,1", "1200,n,4,1",
                             "1200,n,7,3", "1200,n,7,", "12 00,n,7,1"})
        EXPECT_FALSE(ParseSettingsText(text)) << text;

    SerialSettings s = DefaultSettings("MT4500", "MSComm1");
    const SerialSettings before = s;
    EXPECT_FALSE(ApplySettingsText(s, "1200,q,7,1"));
    EXPECT_EQ(s, before);
    EXPECT_TRUE(ApplySettingsText(s, "9600,E,7,1"));
    EXPECT_EQ(s.handshaking, before.handshaking) << "only the line fields change";
    EXPECT_EQ(s.baud, 9600);
}

TEST(DefaultSettings, FactoryConfigurationOfEachControl) {
    const SerialSettings mt = DefaultSettings("VarpadLumo", "MSComm1");
    EXPECT_EQ(SettingsText(mt), "1200,n,7,1");
    EXPECT_EQ(mt.handshaking, kHandshakeRtsXonXoff);
    EXPECT_EQ(mt.rThreshold, 20);
    EXPECT_EQ(mt.inBufferSize, 1024);
    EXPECT_EQ(mt.outBufferSize, 512);
    EXPECT_EQ(mt.portName, "/dev/ttyS0");

    const SerialSettings t = DefaultSettings("VarpadLumo", "MSComm2");
    EXPECT_EQ(SettingsText(t), "9600,e,7,1");
    EXPECT_EQ(t.handshaking, kHandshakeRtsCts);
    EXPECT_EQ(t.rThreshold, 13);

    EXPECT_EQ(DefaultSettings("T5160", "MSComm1"), t);
    EXPECT_EQ(DefaultSettings("MT4500", "MSComm1"), mt);
    EXPECT_EQ(DefaultSettings("varpadlumo", "mscomm2"), t);

    const SerialSettings unknown = DefaultSettings("Numora", "MSComm1");
    EXPECT_EQ(SettingsText(unknown), "9600,n,8,1");
    EXPECT_EQ(unknown.rThreshold, 0);
}

class StoredSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        if (const char* old = std::getenv("POINTRA_REGISTRY"))
            saved_ = old;
        path_ = dir_.filePath("registry.reg");
    }
    void TearDown() override {
        if (saved_.isEmpty())
            unsetenv("POINTRA_REGISTRY");
        else
            setenv("POINTRA_REGISTRY", saved_.constData(), 1);
        RegistryFile::reload();
    }
    void useRegistry(const QByteArray& body) {
        QFile f(path_);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Windows Registry Editor Version 5.00\r\n\r\n" + body);
        f.close();
        setenv("POINTRA_REGISTRY", path_.toLocal8Bit().constData(), 1);
        RegistryFile::reload();
    }

    QTemporaryDir dir_;
    QString path_;
    QByteArray saved_;
};

TEST_F(StoredSettings, KeyNamesProgramAndControl) {
    EXPECT_EQ(SerialSettingsKey("T5160", "MSComm1"),
              "Software\\VarnelSystem\\Pointra\\T5160\\MSComm1");
}

TEST_F(StoredSettings, StoredValuesOverrideAndMissingOnesKeepTheFactoryConfiguration) {
    useRegistry("[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra\\VarpadLumo\\MSComm2]\r\n"
                "\"PortName\"=\"/tmp/tablet-t5160\"\r\n"
                "\"RThreshold\"=dword:00000001\r\n"
                "\r\n"
                "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra\\MT4500\\MSComm1]\r\n"
                "\"Settings\"=\"4800,o,8,2\"\r\n"
                "\"Handshaking\"=dword:00000000\r\n"
                "\"InBufferSize\"=dword:00000800\r\n"
                "\"OutBufferSize\"=dword:00000100\r\n");

    const SerialSettings t = LoadSerialSettings("VarpadLumo", "MSComm2");
    SerialSettings expectT = DefaultSettings("VarpadLumo", "MSComm2");
    expectT.portName = "/tmp/tablet-t5160";
    expectT.rThreshold = 1;
    EXPECT_EQ(t, expectT);

    const SerialSettings mt = LoadSerialSettings("MT4500", "MSComm1");
    EXPECT_EQ(SettingsText(mt), "4800,o,8,2");
    EXPECT_EQ(mt.handshaking, kHandshakeNone);
    EXPECT_EQ(mt.inBufferSize, 2048);
    EXPECT_EQ(mt.outBufferSize, 256);
    EXPECT_EQ(mt.portName, "/dev/ttyS0");
    EXPECT_EQ(mt.rThreshold, 20);

    // A control without a key of its own.
    EXPECT_EQ(LoadSerialSettings("VarpadLumo", "MSComm1"),
              DefaultSettings("VarpadLumo", "MSComm1"));
}

TEST_F(StoredSettings, UnusableValuesKeepTheFactoryConfiguration) {
    useRegistry("[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra\\T5160\\MSComm1]\r\n"
                "\"PortName\"=\"\"\r\n"
                "\"Settings\"=\"9600,E,7\"\r\n"
                "\"Handshaking\"=dword:00000007\r\n"
                "\"RThreshold\"=\"many\"\r\n"
                "\"InBufferSize\"=dword:00000000\r\n"
                "\"OutBufferSize\"=hex(b):01,00,00,00,00,00,00,00\r\n");
    EXPECT_EQ(LoadSerialSettings("T5160", "MSComm1"), DefaultSettings("T5160", "MSComm1"));
}

TEST_F(StoredSettings, NumbersWrittenAsTextAreRead) {
    useRegistry("[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra\\T5160\\MSComm1]\r\n"
                "\"Handshaking\"=\"3\"\r\n"
                "\"RThreshold\"=\" 14 \"\r\n");
    const SerialSettings s = LoadSerialSettings("T5160", "MSComm1");
    EXPECT_EQ(s.handshaking, 3);
    EXPECT_EQ(s.rThreshold, 14);
}

} // namespace
