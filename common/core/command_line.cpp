#include "common/core/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#ifndef POINTRA_VERSION
#define POINTRA_VERSION "0"
#endif

QString ProgramVersion() {
    return QStringLiteral(POINTRA_VERSION);
}

namespace {

// A wrong argument is quoted, but only its first few dozen characters.
QString Quoted(const QString& argument) {
    constexpr qsizetype kMax = 40;
    return argument.size() <= kMax ? argument : argument.left(kMax) + QStringLiteral("…");
}

QString HelpText(const ProgramText& program) {
    QString text =
        QStringLiteral("使い方: %1 [オプション]\n%2\n\n").arg(program.name, program.purpose);
    text += QStringLiteral("オプション:\n"
                           "  -h, --help     この説明を表示して終了します\n"
                           "  -v, --version  版数を表示して終了します\n");
    if (!program.details.isEmpty())
        text += QLatin1Char('\n') + program.details;
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    return text;
}

} // namespace

CommandLineAnswer AnswerCommandLine(const QStringList& arguments, const ProgramText& program) {
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
    parser.addOptions({help, version});
    CommandLineAnswer answer;
    const QString tryHelp = QStringLiteral("%1 --help で使い方を表示します。\n").arg(program.name);
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            const QString& name = unknown.first();
            answer.err = QStringLiteral("%1: オプション「%2%3」はありません。\n")
                             .arg(program.name,
                                  name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"),
                                  Quoted(name));
        } else {
            answer.err = QStringLiteral("%1: %2\n").arg(program.name, Quoted(parser.errorText()));
        }
        answer.err += tryHelp;
        answer.exitStatus = kExitUsage;
        return answer;
    }
    if (parser.isSet(help)) {
        answer.out = HelpText(program);
        answer.exitStatus = 0;
    } else if (parser.isSet(version)) {
        answer.out = QStringLiteral("%1 %2\n").arg(program.name, ProgramVersion());
        answer.exitStatus = 0;
    } else if (!parser.positionalArguments().isEmpty()) {
        answer.err = QStringLiteral("%1: 引数「%2」は使いません。\n")
                         .arg(program.name, Quoted(parser.positionalArguments().first())) +
                     tryHelp;
        answer.exitStatus = kExitUsage;
    }
    return answer;
}

bool DisplayExpected(const QString& qpaPlatform, const QString& display,
                     const QString& waylandDisplay) {
    // QT_QPA_PLATFORM may list several platforms ("wayland;xcb") and give
    // options after a colon ("offscreen:fontengine=freetype").
    const QStringList platforms = qpaPlatform.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& entry : platforms) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0).trimmed();
        if (name == QLatin1String("xcb")) {
            if (!display.isEmpty())
                return true;
        } else if (name.startsWith(QLatin1String("wayland"))) {
            if (!waylandDisplay.isEmpty())
                return true;
        } else if (!name.isEmpty()) {
            return true;
        }
    }
    if (!platforms.isEmpty())
        return false;
    return !display.isEmpty() || !waylandDisplay.isEmpty();
}

QString NoDisplayMessage(const QString& program) {
    return QStringLiteral("%1: 画面（ディスプレイ）に接続できないため起動できません。"
                          "デスクトップから起動するか、DISPLAY を設定してください。")
        .arg(program);
}

std::optional<int> StartProgram(int argc, char** argv, const ProgramText& program,
                                bool needsDisplay) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLineAnswer answer = AnswerCommandLine(arguments, program);
    std::fputs(answer.out.toLocal8Bit().constData(), stdout);
    std::fputs(answer.err.toLocal8Bit().constData(), stderr);
    if (answer.exitStatus)
        return answer.exitStatus;
    if (needsDisplay &&
        !DisplayExpected(qEnvironmentVariable("QT_QPA_PLATFORM"), qEnvironmentVariable("DISPLAY"),
                         qEnvironmentVariable("WAYLAND_DISPLAY"))) {
        std::fprintf(stderr, "%s\n", NoDisplayMessage(program.name).toLocal8Bit().constData());
        return kExitNoDisplay;
    }
    return std::nullopt;
}

namespace {

struct HeldMessage {
    QtMsgType type;
    QString category;
    QString text;
};

QtMessageHandler gPreviousHandler = nullptr;
QString gGuardedProgram;
QList<HeldMessage>* gHeld = nullptr;

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        gHeld->append({type, QString::fromLatin1(context.category ? context.category : ""), text});
        return;
    }
    bool noDisplay = false;
    for (const HeldMessage& m : *gHeld)
        noDisplay = noDisplay || m.text.contains(QLatin1String("could not connect to display"),
                                                 Qt::CaseInsensitive);
    if (!noDisplay) {
        // Not the display itself (a platform plugin missing, say): Qt's own
        // words say what, without its advice to reinstall.
        for (const HeldMessage& m : *gHeld)
            std::fprintf(stderr, "%s\n", m.text.toLocal8Bit().constData());
    }
    std::fprintf(stderr, "%s\n", NoDisplayMessage(gGuardedProgram).toLocal8Bit().constData());
    std::fflush(stderr);
    ::_exit(kExitNoDisplay);
}

} // namespace

DisplayConnectGuard::DisplayConnectGuard(const QString& program) {
    gGuardedProgram = program;
    gHeld = new QList<HeldMessage>;
    gPreviousHandler = qInstallMessageHandler(HoldMessage);
}

DisplayConnectGuard::~DisplayConnectGuard() {
    qInstallMessageHandler(gPreviousHandler);
    QList<HeldMessage>* held = gHeld;
    gHeld = nullptr;
    for (const HeldMessage& m : *held) {
        const QByteArray category = m.category.toLatin1();
        const QMessageLogContext context(nullptr, 0, nullptr, category.constData());
        qt_message_output(m.type, context, m.text);
    }
    delete held;
}
