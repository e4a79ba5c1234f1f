// The registry file reader and GetRegistryValue on real export files.
#include "common/core/registry.h"

#include "common/core/installation.h"
#include "test_paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

const QString kRoot = QString::fromLatin1(HKEY_LOCAL_MACHINE);
const QString kKey = QString::fromLatin1(kPointraKey);

QString fixture(const char* name) {
    return QDataPath("/registry/") + QString::fromLatin1(name);
}

QVariant get(const RegistryFile& reg, const char* name, const QVariant& def = QString()) {
    return GetRegistryValue(reg, kRoot, kKey, QString::fromUtf8(name), def);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Runs the checks shared by the UTF-8 and the UTF-16 fixture.
void checkEveryType(const RegistryFile& reg) {
    // Strings: the text without its terminating NUL; expandable not expanded.
    EXPECT_EQ(get(reg, "InstPath"), QVariant(QStringLiteral("/opt/pointra/")));
    EXPECT_EQ(get(reg, "Name").toString(), QStringLiteral("拾い"));
    EXPECT_EQ(get(reg, "Empty"), QVariant(QString()));
    EXPECT_EQ(get(reg, "Path").toString(), QStringLiteral("%HOME%/x"));
    EXPECT_EQ(get(reg, "Path").typeId(), QMetaType::QString);
    // The default value "@" is the value with the empty name.
    EXPECT_EQ(get(reg, "").toString(), QStringLiteral("default text"));

    // Multi-string: separators stay, the two final NULs go.
    const QString lines = get(reg, "Lines").toString();
    EXPECT_EQ(lines, QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("c"));

    // Double words are signed 32-bit integers.
    const QVariant count = get(reg, "Count");
    EXPECT_EQ(count.typeId(), QMetaType::Int);
    EXPECT_EQ(count.toInt(), 10);
    EXPECT_EQ(get(reg, "Negative").toInt(), -1);

    // Binary data: the bytes as they are, continued lines included.
    EXPECT_EQ(get(reg, "Blob"), QVariant(QByteArray("\x01\x02\xff", 3)));
    EXPECT_EQ(get(reg, "EmptyBlob").typeId(), QMetaType::QByteArray);
    EXPECT_TRUE(get(reg, "EmptyBlob").toByteArray().isEmpty());
    QByteArray expectedLong;
    for (int i = 0; i <= 0x20; ++i)
        expectedLong.append(char(i));
    EXPECT_EQ(get(reg, "Long").toByteArray(), expectedLong);

    // Escapes: \\ and \" only; another backslash stays as written.
    EXPECT_EQ(get(reg, "Quoted").toString(), QStringLiteral("say \"hi\" to C:\\inst\\"));
    EXPECT_EQ(get(reg, "Literal").toString(), QStringLiteral("a\\b"));

    // A line that is not understood is skipped, the rest of the key is read.
    EXPECT_EQ(get(reg, "AfterBadLine").toString(), QStringLiteral("still read"));
    ASSERT_EQ(reg.problems().size(), 1);
    EXPECT_TRUE(reg.problems()[0].contains(QStringLiteral("this line is not understood")));

    // Other keys of the same file.
    EXPECT_EQ(GetRegistryValue(reg, kRoot, kKey + QStringLiteral("\\VarpadLumo\\MSComm1"),
                               QStringLiteral("Handshaking"))
                  .toInt(),
              3);
    EXPECT_EQ(
        GetRegistryValue(reg, kRoot, QString::fromLatin1(kGhostscriptKey), QStringLiteral("GS_DLL"))
            .toString(),
        QStringLiteral("/usr/local/bin/gs"));
}

TEST(RegistryFile, ReadsEveryValueTypeFromUtf8File) {
    const RegistryFile reg = RegistryFile::load(fixture("pointra.reg"));
    checkEveryType(reg);
}

TEST(RegistryFile, ReadsUtf16FileWithByteOrderMarkAndCrLf) {
    const RegistryFile reg = RegistryFile::load(fixture("pointra-utf16.reg"));
    checkEveryType(reg);
}

TEST(RegistryFile, ReadsUtf8WithBomAndCrLf) {
    const QByteArray bytes = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\r\n"
                             "\"InstPath\"=\"/srv/inst/\"\r\n"
                             "\"Blob\"=hex:0a,\\\r\n  0b\r\n";
    const RegistryFile reg = RegistryFile::parse(bytes);
    EXPECT_EQ(get(reg, "InstPath").toString(), QStringLiteral("/srv/inst/"));
    EXPECT_EQ(get(reg, "Blob").toByteArray(), QByteArray("\x0a\x0b"));
    EXPECT_TRUE(reg.problems().isEmpty()) << reg.problems().join(u'\n').toStdString();
}

TEST(RegistryFile, StoresStringsAsTheRegistryDoes) {
    const RegistryFile reg = RegistryFile::parse("Windows Registry Editor Version 5.00\n"
                                                 "[HKEY_LOCAL_MACHINE\\K]\n\"S\"=\"A\"\n");
    const auto raw = reg.value(kRoot, QStringLiteral("K"), QStringLiteral("S"));
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(raw->type, REG_SZ);
    EXPECT_EQ(raw->data, QByteArray("A\0\0\0", 4));
}

TEST(RegistryFile, UnsupportedTypesRaiseError1001) {
    const RegistryFile reg = RegistryFile::load(fixture("pointra.reg"));
    for (const char* name : {"Big", "Nothing", "Link"}) {
        try {
            get(reg, name);
            ADD_FAILURE() << name << " gave no error";
        } catch (const RegistryError& e) {
            EXPECT_EQ(e.number(), 1001) << name;
            EXPECT_STREQ(e.what(), "Unsupported value type") << name;
        }
    }
    EXPECT_EQ(reg.value(kRoot, kKey, QStringLiteral("Big"))->type, REG_QWORD);
    EXPECT_EQ(reg.value(kRoot, kKey, QStringLiteral("Link"))->type, 6);
}

TEST(RegistryFile, MissingKeyOrValueGivesTheDefault) {
    const RegistryFile reg = RegistryFile::load(fixture("pointra.reg"));
    // Without a default the result is the empty text.
    const QVariant none =
        GetRegistryValue(reg, kRoot, QStringLiteral("Software\\Nobody"), QStringLiteral("X"));
    EXPECT_EQ(none.typeId(), QMetaType::QString);
    EXPECT_TRUE(none.toString().isEmpty());
    EXPECT_EQ(GetRegistryValue(reg, kRoot, QStringLiteral("Software\\Nobody"), QStringLiteral("X"),
                               QVariant(42)),
              QVariant(42));
    // A missing value in an existing key: the default too, never error 1001.
    EXPECT_EQ(get(reg, "NoSuchValue", QVariant(7)), QVariant(7));
    EXPECT_EQ(get(reg, "NoSuchValue"), QVariant(QString()));
    // Keys above a written key exist; an unreadable file is an empty registry.
    EXPECT_TRUE(reg.hasKey(kRoot, QStringLiteral("Software\\VarnelSystem")));
    const RegistryFile missing = RegistryFile::load(QStringLiteral("/nonexistent/registry.reg"));
    EXPECT_FALSE(missing.hasKey(kRoot, kKey));
    EXPECT_FALSE(missing.problems().isEmpty());
}

TEST(RegistryFile, KeyAndValueNamesIgnoreCase) {
    const RegistryFile reg = RegistryFile::load(fixture("pointra.reg"));
    EXPECT_EQ(GetRegistryValue(reg, QStringLiteral("hkey_local_machine"),
                               QStringLiteral("SOFTWARE\\varnelsystem\\POINTRA"),
                               QStringLiteral("instpath"))
                  .toString(),
              QStringLiteral("/opt/pointra/"));
    EXPECT_EQ(GetRegistryValue(reg, QStringLiteral("HKLM"), kKey, QStringLiteral("COUNT")).toInt(),
              10);
}

TEST(RegistryFile, Regedit4DeletionsAndLaterDefinitions) {
    const QByteArray bytes = "REGEDIT4\n"
                             "[HKEY_LOCAL_MACHINE\\A]\n"
                             "\"Gone\"=\"x\"\n"
                             "\"Kept\"=\"first\"\n"
                             "\"Expand\"=hex(2):25,50,25,00\n"
                             "[HKEY_LOCAL_MACHINE\\A\\Sub]\n"
                             "\"V\"=dword:1\n"
                             "[HKEY_LOCAL_MACHINE\\A]\n"
                             "\"Gone\"=-\n"
                             "\"Kept\"=\"second\"\n"
                             "[-HKEY_LOCAL_MACHINE\\A\\Sub]\n"
                             "\"Orphan\"=\"no key\"\n";
    const RegistryFile reg = RegistryFile::parse(bytes);
    const QString a = QStringLiteral("A");
    EXPECT_EQ(GetRegistryValue(reg, kRoot, a, QStringLiteral("Gone"), QVariant(0)), QVariant(0));
    EXPECT_EQ(GetRegistryValue(reg, kRoot, a, QStringLiteral("Kept")).toString(),
              QStringLiteral("second"));
    // REGEDIT4 holds strings in hex as 8-bit text.
    EXPECT_EQ(GetRegistryValue(reg, kRoot, a, QStringLiteral("Expand")).toString(),
              QStringLiteral("%P%"));
    EXPECT_FALSE(reg.hasKey(kRoot, QStringLiteral("A\\Sub")));
    // A value after a deleted key belongs to no key and is reported.
    EXPECT_EQ(reg.problems().size(), 1);
}

TEST(RegistryFile, MalformedDataIsSkipped) {
    const QByteArray bytes = "Windows Registry Editor Version 5.00\n"
                             "\"NoKeyYet\"=\"x\"\n"
                             "[HKEY_LOCAL_MACHINE\\K]\n"
                             "\"BadDword\"=dword:123456789\n"
                             "\"BadHex\"=hex:1,zz\n"
                             "\"Open\"=\"no end\n"
                             "\"Tail\"=\"x\" y\n"
                             "[HKEY_LOCAL_MACHINE\\Broken\n"
                             "\"Good\"=dword:00000001\n";
    const RegistryFile reg = RegistryFile::parse(bytes);
    EXPECT_EQ(reg.problems().size(), 7);
    const QString k = QStringLiteral("K");
    EXPECT_EQ(GetRegistryValue(reg, kRoot, k, QStringLiteral("BadDword"), QVariant(-5)),
              QVariant(-5));
    // After the broken key line, values have no key to go to.
    EXPECT_EQ(GetRegistryValue(reg, kRoot, k, QStringLiteral("Good"), QVariant(-5)), QVariant(-5));
}

TEST(RegistryFile, KeysAreStoredOnceAndTheKeysAboveThemStillExist) {
    // CR-only line ends as well; a key 512 levels deep is still taken.
    QByteArray deep = "[HKEY_LOCAL_MACHINE";
    for (int i = 0; i < kMaxRegistryKeyDepth; ++i)
        deep += "\\k" + QByteArray::number(i);
    const RegistryFile reg = RegistryFile::parse("Windows Registry Editor Version 5.00\r" + deep +
                                                 "]\r\"V\"=dword:2\r"
                                                 "[HKEY_LOCAL_MACHINE\\A\\B\\C]\r"
                                                 "[HKEY_LOCAL_MACHINE\\A\\B0]\r"
                                                 "[-HKEY_LOCAL_MACHINE\\A\\B\\C]\r"
                                                 "[-HKEY_LOCAL_MACHINE\\X\\Y]\r");
    EXPECT_TRUE(reg.failure().isEmpty()) << reg.failure().toStdString();
    QString path;
    for (int i = 0; i < kMaxRegistryKeyDepth; ++i) {
        path += (i ? "\\k" : "k") + QString::number(i);
        ASSERT_TRUE(reg.hasKey(kRoot, path)) << i;
    }
    EXPECT_EQ(GetRegistryValue(reg, kRoot, path, QStringLiteral("V")).toInt(), 2);
    EXPECT_FALSE(reg.hasKey(kRoot, path + QStringLiteral("\\more")));
    // Deleting a key leaves the key above it (B had only C below it, and a
    // sibling B0 sorts between B and B\C); deleting a missing key makes none.
    EXPECT_FALSE(reg.hasKey(kRoot, QStringLiteral("A\\B\\C")));
    EXPECT_TRUE(reg.hasKey(kRoot, QStringLiteral("A\\B")));
    EXPECT_TRUE(reg.hasKey(kRoot, QStringLiteral("A\\B0")));
    EXPECT_FALSE(reg.hasKey(kRoot, QStringLiteral("X")));
}

TEST(RegistryFile, FilesPastABoundOrWithoutHeaderAreNotReadAtAll) {
    const QByteArray header = "Windows Registry Editor Version 5.00\n";
    const QByteArray key = "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\n"
                           "\"InstPath\"=\"/opt/pointra/\"\n";
    QByteArray tooDeep = "[HKEY_LOCAL_MACHINE";
    for (int i = 0; i <= kMaxRegistryKeyDepth; ++i)
        tooDeep += "\\k";
    struct Case {
        const char* what;
        QByteArray bytes;
        const char* inFailure;
    };
    const Case cases[] = {
        {"no header", key, "Windows Registry Editor Version 5.00"},
        {"long line", header + key + "\"X\"=\"" + QByteArray(kMaxRegistryLineLength, 'x') + "\"\n",
         "4 行目が長すぎます"},
        // The 40,000-level key that once took gigabytes at every start.
        {"huge key line", header + key + "[HKEY_LOCAL_MACHINE" + QByteArray(80000, '\\') + "]\n",
         "4 行目が長すぎます"},
        {"deep key", header + key + tooDeep + "]\n", "4 行目のキーの階層が深すぎます"},
    };
    for (const Case& c : cases) {
        const RegistryFile reg = RegistryFile::parse(c.bytes);
        EXPECT_TRUE(reg.failure().contains(QString::fromUtf8(c.inFailure)))
            << c.what << ": " << reg.failure().toStdString();
        EXPECT_FALSE(reg.hasKey(kRoot, kKey)) << c.what;
        EXPECT_LT(reg.failure().size(), 200) << c.what;
    }
    EXPECT_TRUE(RegistryFile::parse("").failure().isEmpty());
    EXPECT_TRUE(RegistryFile::parse("\n; only a comment\n").failure().isEmpty());
}

// Environment of the location rule, restored after each test.
class RegistryLocation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        for (const char* name : {"POINTRA_REGISTRY", "XDG_CONFIG_HOME", "PATH", "HOME",
                                 "XDG_DATA_HOME", "POINTRA_TEMPLATE"})
            saved_.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
    }
    void TearDown() override {
        for (const auto& s : saved_) {
            if (s.wasSet)
                qputenv(s.name, s.value);
            else
                qunsetenv(s.name);
        }
        RegistryFile::reload();
    }
    QString path(const QString& name) const { return dir_.filePath(name); }

    struct Saved {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    QTemporaryDir dir_;
    QList<Saved> saved_;
};

TEST_F(RegistryLocation, EnvironmentVariableNamesTheFile) {
    const QString file = path(QStringLiteral("mine.reg"));
    writeFile(file, "Windows Registry Editor Version 5.00\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\n"
                    "\"InstPath\"=\"/first/\"\n");
    qputenv("POINTRA_REGISTRY", QFile::encodeName(file));
    RegistryFile::reload();
    EXPECT_EQ(RegistryFile::defaultPath(), file);
    EXPECT_EQ(ReadInstPath(), QStringLiteral("/first/"));
    EXPECT_EQ(GetRegistryValue(kRoot, kKey, QStringLiteral("InstPath")).toString(),
              QStringLiteral("/first/"));

    // current() keeps what it read until reload().
    writeFile(file, "Windows Registry Editor Version 5.00\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\n"
                    "\"InstPath\"=\"/second/\"\n");
    EXPECT_EQ(ReadInstPath(), QStringLiteral("/first/"));
    RegistryFile::reload();
    EXPECT_EQ(ReadInstPath(), QStringLiteral("/second/"));
}

TEST_F(RegistryLocation, ConfigFolderThenSystemFile) {
    qunsetenv("POINTRA_REGISTRY");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
    const QString userFile = path(QStringLiteral("pointra/registry.reg"));
    // Without the user file: the system file if there is one, else the user path.
    const QString expectedWithout = QFile::exists(QStringLiteral("/etc/pointra/registry.reg"))
                                        ? QStringLiteral("/etc/pointra/registry.reg")
                                        : userFile;
    EXPECT_EQ(RegistryFile::defaultPath(), expectedWithout);
    ASSERT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("pointra")));
    writeFile(userFile, "Windows Registry Editor Version 5.00\n"
                        "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\n"
                        "\"InstPath\"=\"/user/\"\n");
    EXPECT_EQ(RegistryFile::defaultPath(), userFile);
    RegistryFile::reload();
    EXPECT_EQ(ReadInstPath(), QStringLiteral("/user/"));
}

TEST_F(RegistryLocation, AFileThatCannotBeReadIsNamedAtStart) {
    const QString file = path(QStringLiteral("bad.reg"));
    qputenv("POINTRA_REGISTRY", QFile::encodeName(file));
    // Missing: nothing is installed, which is no reading problem.
    RegistryFile::reload();
    EXPECT_TRUE(RegistryStartProblem().isEmpty());
    EXPECT_EQ(ReadInstPath(), QString());

    writeFile(file, "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\n"
                    "\"InstPath\"=\"/opt/pointra/\"\n");
    RegistryFile::reload();
    EXPECT_EQ(ReadInstPath(), QString());
    QString problem = RegistryStartProblem();
    EXPECT_TRUE(
        problem.startsWith(QStringLiteral("レジストリファイル（%1）を読み込めません").arg(file)))
        << problem.toStdString();

    // Larger than any registry file of the system: refused unread.
    writeFile(file, QByteArray("Windows Registry Editor Version 5.00\n") +
                        QByteArray(kMaxRegistryFileBytes, ';'));
    RegistryFile::reload();
    problem = RegistryStartProblem();
    EXPECT_TRUE(problem.contains(QStringLiteral("大きすぎます"))) << problem.toStdString();
    EXPECT_TRUE(problem.contains(file));
}

// Every start-up failure names its cause: the places looked at, the file,
// the value, the folder.
TEST_F(RegistryLocation, InstallationCheckSaysWhatIsWrong) {
    const QString file = path(QStringLiteral("mine.reg"));
    const auto check = [&](const QByteArray& lines) {
        writeFile(file, "Windows Registry Editor Version 5.00\n"
                        "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\n" +
                            lines);
        qputenv("POINTRA_REGISTRY", QFile::encodeName(file));
        RegistryFile::reload();
        return CheckInstallation();
    };
    const QString where =
        QStringLiteral("レジストリファイル（%1）の HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\"
                       "Pointra")
            .arg(file);
    EXPECT_EQ(check("").problem,
              where + QStringLiteral(" に \"InstPath\"（インストールフォルダ）がありません。"));
    EXPECT_EQ(check("\"InstPath\"=\"\"\n").problem,
              where + QStringLiteral(" の \"InstPath\" が空です。"));
    EXPECT_EQ(check("\"InstPath\"=dword:00000001\n").problem,
              where + QStringLiteral(" の \"InstPath\" が文字列ではありません。"));
    const QString absent = path(QStringLiteral("does-not-exist"));
    EXPECT_EQ(check("\"InstPath\"=\"" + QFile::encodeName(absent) + "\"\n").problem,
              QStringLiteral("インストールフォルダ「%1/」がありません（レジストリファイル（%2）の "
                             "\"InstPath\"）。")
                  .arg(absent, file));
    EXPECT_EQ(check("\"InstPath\"=\"" + QFile::encodeName(file) + "\"\n").problem,
              QStringLiteral("インストールフォルダ「%1/」がフォルダではありません（レジストリ"
                             "ファイル（%1）の \"InstPath\"）。")
                  .arg(file));
    // A folder registered without its "/" is taken with one.
    const InstallationCheck fine =
        check("\"InstPath\"=\"" + QFile::encodeName(dir_.path()) + "\"\n");
    EXPECT_EQ(fine.problem, QString());
    EXPECT_EQ(fine.instPath, dir_.path() + QLatin1Char('/'));
    // The code page is checked before "InstPath".
    EXPECT_TRUE(check("\"CodePage\"=\"UTF-16\"\n").problem.contains(QStringLiteral("CodePage")));

    // A set POINTRA_REGISTRY is the only place looked at.
    qputenv("POINTRA_REGISTRY", QFile::encodeName(path(QStringLiteral("typo.reg"))));
    RegistryFile::reload();
    EXPECT_EQ(RegistryFile::searchPlaces(), QStringList{path(QStringLiteral("typo.reg"))});
    EXPECT_EQ(CheckInstallation().problem,
              QStringLiteral("環境変数 POINTRA_REGISTRY が指すレジストリファイル（%1）が"
                             "ありません。POINTRA_REGISTRY が設定されているときは、ほかの場所は"
                             "探しません。")
                  .arg(path(QStringLiteral("typo.reg"))));

    // Unset: every place, in order.
    qunsetenv("POINTRA_REGISTRY");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
    RegistryFile::reload();
    if (QFile::exists(QStringLiteral("/etc/pointra/registry.reg")))
        return; // this machine has a system-wide file
    EXPECT_EQ(CheckInstallation().problem,
              QStringLiteral("レジストリファイルがありません。次の場所を順に探しました:\r\n"
                             "  1. 環境変数 POINTRA_REGISTRY（設定されていません）\r\n"
                             "  2. %1/pointra/registry.reg\r\n"
                             "  3. /etc/pointra/registry.reg")
                  .arg(dir_.path()));
}

// One system registry file gives each user a working folder of their own:
// "$XDG_DATA_HOME/pointra/" expanded, made at first start (mode 0700, its
// parents too) from the template; a folder others may write, or that
// another session holds, is refused, naming why.
TEST_F(RegistryLocation, EachUserGetsAWorkingFolderOfTheirOwn) {
    const QString home = path(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(home));
    qputenv("HOME", QFile::encodeName(home));
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(ExpandUserPath(QStringLiteral("~/a:$HOME/b:${HOME}/c:$HOMEPATH/d:$XDG_DATA_HOME/e")),
              home + "/a:" + home + "/b:" + home + "/c:$HOMEPATH/d:" + home + "/.local/share/e");
    const QString model = path(QStringLiteral("template"));
    ASSERT_TRUE(QDir().mkpath(model + QStringLiteral("/見積用画像")));
    writeFile(model + QStringLiteral("/runtm.cfg"), "# runtime\n");
    ASSERT_TRUE(QFile::link(QStringLiteral("/usr/lib/pointra-module"), model + "/LUMO80"));
    qputenv("POINTRA_TEMPLATE", QFile::encodeName(model));
    const QString file = path(QStringLiteral("system.reg"));
    writeFile(file, "Windows Registry Editor Version 5.00\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\n"
                    "\"InstPath\"=\"$XDG_DATA_HOME/pointra/\"\n");
    qputenv("POINTRA_REGISTRY", QFile::encodeName(file));
    RegistryFile::reload();
    const QString folder = home + QStringLiteral("/.local/share/pointra");
    const InstallationCheck made = CheckInstallation();
    ASSERT_EQ(made.problem, QString());
    EXPECT_EQ(made.instPath, folder + "/");
    QStringList seen;
    for (const QString& p : {home + "/.local", home + "/.local/share", folder}) {
        struct stat st {};
        ::stat(QFile::encodeName(p).constData(), &st);
        seen << QString::number(st.st_mode & 07777, 8);
    }
    EXPECT_EQ(seen.join(' '), QStringLiteral("700 700 700"));
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/見積用画像")).isDir());
    EXPECT_EQ(QFileInfo(folder + "/LUMO80").symLinkTarget(),
              QStringLiteral("/usr/lib/pointra-module"));
    QFile cfg(folder + "/runtm.cfg");
    ASSERT_TRUE(cfg.open(QIODevice::ReadOnly));
    EXPECT_EQ(cfg.readAll(), QByteArray("# runtime\n"));
    // This process holds the folder now: checking again in it is fine.
    EXPECT_EQ(CheckInstallation().problem, QString());

    // Another session of the user holds a folder: a process holding the
    // session's lock as the programs take it.
    const QString other = path(QStringLiteral("other"));
    ASSERT_TRUE(QDir().mkpath(other));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    struct Session {
        pid_t pid;
        ~Session() {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } session{::fork()};
    if (session.pid == 0) {
        const int fd = ::open(QFile::encodeName(other + "/" + kSessionLockName).constData(),
                              O_RDWR | O_CREAT, 0600);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        const bool ok = fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
        ssize_t n = ::write(ready[1], ok ? "y" : "n", 1);
        (void)n;
        ::pause();
        ::_exit(0);
    }
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ASSERT_EQ(held, 'y');
    writeFile(file, "Windows Registry Editor Version 5.00\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\n"
                    "\"InstPath\"=\"" +
                        QFile::encodeName(other) + "/\"\n");
    RegistryFile::reload();
    EXPECT_TRUE(CheckInstallation().problem.startsWith(
        QStringLiteral("作業フォルダ「%1」は、別の拾いのセッション（VarpadLumo、T5160、MT4500 "
                       "または Numora）が使っています。")
            .arg(other)))
        << CheckInstallation().problem.toStdString();
    ::kill(session.pid, SIGKILL);
    ::waitpid(session.pid, nullptr, 0);
    // Others may write it: refused whoever holds it.
    ASSERT_EQ(::chmod(QFile::encodeName(other).constData(), 0775), 0);
    EXPECT_TRUE(CheckInstallation().problem.startsWith(
        QStringLiteral("作業フォルダ「%1」はほかの利用者も書き込めるため使えません").arg(other)))
        << CheckInstallation().problem.toStdString();
    ASSERT_EQ(::chmod(QFile::encodeName(other).constData(), 0700), 0);
    EXPECT_EQ(CheckInstallation().problem, QString()); // the session ended: free
}

TEST_F(RegistryLocation, HelpersNeverThrow) {
    const QString file = path(QStringLiteral("helpers.reg"));
    writeFile(file, "Windows Registry Editor Version 5.00\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\VarnelSystem\\Pointra]\n"
                    "\"InstPath\"=hex(b):00,00,00,00,00,00,00,00\n"
                    "\"CodePage\"=\"UTF-8\"\n"
                    "\"Number\"=dword:00000010\n"
                    "\"NumberText\"=\" 1200 \"\n"
                    "\"Word\"=\"n\"\n");
    qputenv("POINTRA_REGISTRY", QFile::encodeName(file));
    RegistryFile::reload();
    EXPECT_THROW(GetRegistryValue(kRoot, kKey, QStringLiteral("InstPath")), RegistryError);
    EXPECT_EQ(ReadInstPath(), QString());
    EXPECT_EQ(RegistryText(kKey, QStringLiteral("InstPath"), QStringLiteral("d")),
              QStringLiteral("d"));
    EXPECT_EQ(RegistryText(kKey, QStringLiteral("CodePage"), QString()), QStringLiteral("UTF-8"));
    EXPECT_EQ(RegistryText(kKey, QStringLiteral("Number"), QString()), QStringLiteral("16"));
    EXPECT_EQ(RegistryText(kKey, QStringLiteral("Missing"), QStringLiteral("def")),
              QStringLiteral("def"));
    EXPECT_EQ(RegistryDword(kKey, QStringLiteral("Number"), -1), 16);
    EXPECT_EQ(RegistryDword(kKey, QStringLiteral("NumberText"), -1), 1200);
    EXPECT_EQ(RegistryDword(kKey, QStringLiteral("Word"), -1), -1);
    EXPECT_EQ(RegistryDword(kKey, QStringLiteral("Missing"), 20), 20);
}

TEST_F(RegistryLocation, GhostscriptFromRegistryElsePath) {
    const QString file = path(QStringLiteral("gs.reg"));
    writeFile(file, "Windows Registry Editor Version 5.00\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\GPL Ghostscript\\8.64]\n"
                    "\"GS_DLL\"=\"/opt/gs/bin/gs\"\n");
    qputenv("POINTRA_REGISTRY", QFile::encodeName(file));
    RegistryFile::reload();
    EXPECT_EQ(GhostscriptPath(), QStringLiteral("/opt/gs/bin/gs"));

    // No key: the gs program on PATH.
    writeFile(file, "Windows Registry Editor Version 5.00\n");
    RegistryFile::reload();
    const QString bin = path(QStringLiteral("bin"));
    ASSERT_TRUE(QDir().mkpath(bin));
    const QString gs = bin + QStringLiteral("/gs");
    writeFile(gs, "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(gs,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("PATH", QFile::encodeName(bin));
    EXPECT_EQ(GhostscriptPath(), gs);
    EXPECT_EQ(GhostscriptProgram(), gs);

    // The key may name the program's folder.
    writeFile(file, "Windows Registry Editor Version 5.00\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\GPL Ghostscript\\8.64]\n"
                    "\"GS_DLL\"=\"" +
                        QFile::encodeName(bin) + "\"\n");
    RegistryFile::reload();
    EXPECT_EQ(GhostscriptPath(), bin);
    EXPECT_EQ(GhostscriptProgram(), gs);
    // Neither: empty.
    writeFile(file, "Windows Registry Editor Version 5.00\n");
    RegistryFile::reload();
    qputenv("PATH", QFile::encodeName(path(QStringLiteral("nothing-here"))));
    EXPECT_EQ(GhostscriptPath(), QString());
    EXPECT_EQ(GhostscriptProgram(), QString());
}

} // namespace
