#include "main/takeoff/keypad.h"

#include "common/exchange_files.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

bool ProgramExists(const QString& program) {
    if (program.isEmpty())
        return false;
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

std::optional<QString> ChooseTerminalPrefix(const QString& registered, bool stdinIsTerminal,
                                            const std::function<bool(const QString&)>& exists) {
    if (!registered.trimmed().isEmpty())
        return registered.trimmed();
    if (stdinIsTerminal)
        return QString();
    for (const char* terminal : {"x-terminal-emulator", "xterm"})
        if (exists(QString::fromLatin1(terminal)))
            return QString::fromLatin1(terminal) + QStringLiteral(" -e");
    return std::nullopt;
}

QStringList SplitCommandWords(const QString& text) {
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!quote.isNull()) {
            if (c == quote) {
                quote = QChar();
            } else if (c == u'\\' && quote == u'"' && i + 1 < text.size()) {
                word += text[++i];
            } else {
                word += c;
            }
            continue;
        }
        if (c == u' ' || c == u'\t') {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'\\' && i + 1 < text.size()) {
            word += text[++i];
        } else {
            word += c;
        }
    }
    if (inWord)
        words << word;
    return words;
}

RuntimeCommand BuildRuntimeCommand(const QString& instPath, const QString& runtime,
                                   const QString& terminalPrefix) {
    const QString folder = InstFilePath(instPath, QString::fromLatin1(kSizeinModuleFolder));
    const QString name = QString::fromLatin1(kSizeinModuleName);
    const QString module = folder + name;

    QStringList runtimeArgs{QStringLiteral("-c"),
                            InstFilePath(instPath, QString::fromLatin1(kRuntimeConfigName))};
    if (QFile::encodeName(module).size() <= kRuntimeModuleArgLimit)
        runtimeArgs << module;
    else
        runtimeArgs << QStringLiteral("-M") << folder << name;

    const QString program =
        runtime.trimmed().isEmpty() ? QStringLiteral("cobcrun") : runtime.trimmed();
    RuntimeCommand command;
    command.workingDirectory = instPath;
    QStringList prefix = SplitCommandWords(terminalPrefix);
    if (prefix.isEmpty()) {
        command.program = program;
        command.arguments = runtimeArgs;
    } else {
        command.program = prefix.takeFirst();
        command.arguments = prefix;
        command.arguments << program << runtimeArgs;
    }
    return command;
}

int KeypadRun::run(QString* error) {
    output_.clear();
    QProcess process;
    process.setProgram(command_.program);
    process.setArguments(command_.arguments);
    process.setWorkingDirectory(command_.workingDirectory);
    process.setInputChannelMode(hasInput_ ? QProcess::ManagedInputChannel
                                          : QProcess::ForwardedInputChannel);
    process.setProcessChannelMode(capture_ ? QProcess::MergedChannels
                                           : QProcess::ForwardedChannels);

    QEventLoop loop;
    bool ended = false;
    QObject::connect(&process, &QProcess::finished, &loop, [&] {
        ended = true;
        loop.quit();
    });
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            ended = true;
            loop.quit();
        }
    });
    if (capture_) {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop,
                         [&] { output_ += process.readAllStandardOutput(); });
    }
    if (hasInput_) {
        QObject::connect(&process, &QProcess::started, &loop, [&] {
            process.write(input_);
            process.closeWriteChannel();
        });
    }

    process.start();
    if (!ended)
        loop.exec();
    if (capture_)
        output_ += process.readAllStandardOutput();

    const QString shown = command_.program;
    if (process.error() == QProcess::FailedToStart) {
        if (error)
            *error = QStringLiteral("COBOLランタイム（%1）を起動できません: %2")
                         .arg(shown, process.errorString());
        return kRunNotStarted;
    }
    if (process.exitStatus() == QProcess::CrashExit) {
        if (error)
            *error = QStringLiteral("COBOLランタイム（%1）が異常終了しました。").arg(shown);
        return kRunCrashed;
    }
    return process.exitCode();
}

int RunAndWait(const RuntimeCommand& command, QString* error) {
    return KeypadRun(command).run(error);
}
