#include "common/core/command_line.h"

#include <gtest/gtest.h>

namespace {

const ProgramText kProgram{QStringLiteral("Prog"), QStringLiteral("一行の説明です。"),
                           QStringLiteral("終了状態:\n  0   正常\n")};

// Each command line as "status|stdout|stderr" ("-" for going on).
QString Answer(const QStringList& args) {
    const CommandLineAnswer a =
        AnswerCommandLine(QStringList{QStringLiteral("Prog")} + args, kProgram);
    return (a.exitStatus ? QString::number(*a.exitStatus) : QStringLiteral("-")) +
           QLatin1Char('|') + a.out + QLatin1Char('|') + a.err;
}

} // namespace

TEST(CommandLine, HelpVersionAndWrongArgumentsWithoutAnApplication) {
    const QString help = QStringLiteral("使い方: Prog [オプション]\n一行の説明です。\n\n"
                                        "オプション:\n"
                                        "  -h, --help     この説明を表示して終了します\n"
                                        "  -v, --version  版数を表示して終了します\n\n"
                                        "終了状態:\n  0   正常\n");
    const QString tryHelp = QStringLiteral("Prog --help で使い方を表示します。\n");
    const QString longArg(300, QLatin1Char('x'));
    const QStringList got{Answer({}),
                          Answer({QStringLiteral("--help")}),
                          Answer({QStringLiteral("-h"), QStringLiteral("--bogus")}),
                          Answer({QStringLiteral("--version")}),
                          Answer({QStringLiteral("--bogus")}),
                          Answer({QStringLiteral("-x")}),
                          Answer({QStringLiteral("--") + longArg}),
                          Answer({QStringLiteral("plan.pdf")})};
    const QStringList want{
        QStringLiteral("-||"),
        QStringLiteral("0|") + help + QStringLiteral("|"),
        QStringLiteral("64||Prog: オプション「--bogus」はありません。\n") + tryHelp,
        QStringLiteral("0|Prog ") + ProgramVersion() + QStringLiteral("\n|"),
        QStringLiteral("64||Prog: オプション「--bogus」はありません。\n") + tryHelp,
        QStringLiteral("64||Prog: オプション「-x」はありません。\n") + tryHelp,
        QStringLiteral("64||Prog: オプション「--") + longArg.left(40) +
            QStringLiteral("…」はありません。\n") + tryHelp,
        QStringLiteral("64||Prog: 引数「plan.pdf」は使いません。\n") + tryHelp};
    EXPECT_EQ(got.join(QStringLiteral("\n~~\n")), want.join(QStringLiteral("\n~~\n")));
    EXPECT_FALSE(ProgramVersion().isEmpty());
}

TEST(CommandLine, ADisplayIsExpectedOnlyWhereQtCanFindOne) {
    struct Case {
        const char* platform;
        const char* display;
        const char* wayland;
        bool expected;
    };
    const Case cases[] = {
        {"", "", "", false},
        {"", ":0", "", true},
        {"", "", "wayland-0", true},
        {"xcb", "", "wayland-0", false},
        {"xcb", ":1", "", true},
        {"wayland", ":1", "", false},
        {"wayland;xcb", ":1", "", true},
        {"offscreen", "", "", true},
        {"offscreen:fontengine=freetype", "", "", true},
        {"minimal", "", "", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DisplayExpected(QString::fromLatin1(c.platform), QString::fromLatin1(c.display),
                                  QString::fromLatin1(c.wayland)),
                  c.expected)
            << c.platform << " DISPLAY=" << c.display << " WAYLAND_DISPLAY=" << c.wayland;
}
