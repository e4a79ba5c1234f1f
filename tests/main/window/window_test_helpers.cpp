#include "window_test_helpers.h"

#include <QTextStream>

void InstallationFixture::SetUp() {
    ASSERT_TRUE(dir_.isValid());
    messages.clear();
    SetMessageHook([this](const QString& text) {
        messages << text;
        return answer;
    });
    writeRegistry(instPath());
}

void InstallationFixture::TearDown() {
    SetMessageHook({});
    qunsetenv("POINTRA_REGISTRY");
    RegistryFile::reload();
}

void InstallationFixture::writeRegistry(const QString& instPathValue, const QString& extra) {
    const QString regPath = dir_.path() + QStringLiteral("/registry.reg");
    QFile f(regPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QString text = QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                                  "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\r\n");
    if (!instPathValue.isNull())
        text += QStringLiteral("\"InstPath\"=\"%1\"\r\n").arg(instPathValue);
    text += QStringLiteral("\r\n") + extra;
    f.write(text.toUtf8());
    f.close();
    qputenv("POINTRA_REGISTRY", regPath.toUtf8());
    RegistryFile::reload();
}
