#include "main/takeoff/keypad.h"

#include <sys/stat.h>
#include <unistd.h>

#include "common/core/exchange_files.h"

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

namespace {

// The parts of an absolute path ("/a/b" -> {"a", "b"}).
QStringList PathParts(const QString& path) {
    return path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

bool TrustedOwner(uid_t owner) {
    return owner == 0 || owner == ::geteuid();
}

} // namespace

Result<> CheckPlaceForCode(const QString& path, const QString& what) {
    // Walks the path one part at a time as the kernel would, following links
    // (each link's target walked from its own folder), checking every folder
    // and the file reached.
    QStringList left = PathParts(QFileInfo(path).absoluteFilePath());
    QString at; // the part walked so far, links resolved
    for (int links = 0; !left.isEmpty();) {
        const QString part = left.takeFirst();
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            at = QFileInfo(at.isEmpty() ? QStringLiteral("/") : at).path();
            if (at == QLatin1String("/"))
                at.clear();
            continue;
        }
        const QString next = at + QLatin1Char('/') + part;
        struct stat st {};
        if (::lstat(QFile::encodeName(next).constData(), &st) != 0)
            return Fail(QStringLiteral("%1「%2」がありません").arg(what, path));
        if (!TrustedOwner(st.st_uid))
            return Fail(QStringLiteral("%1「%2」はほかの利用者のもの（%3）を通るため実行しません")
                            .arg(what, path, next));
        if (S_ISLNK(st.st_mode)) {
            if (++links > 40)
                return Fail(QStringLiteral("%1「%2」のリンクをたどれません").arg(what, path));
            char target[4096];
            const ssize_t n =
                ::readlink(QFile::encodeName(next).constData(), target, sizeof target - 1);
            if (n < 0)
                return Fail(QStringLiteral("%1「%2」のリンクをたどれません").arg(what, path));
            const QString to = QFile::decodeName(QByteArray(target, qsizetype(n)));
            if (to.startsWith(QLatin1Char('/')))
                at.clear();
            left = PathParts(to) + left;
            continue;
        }
        const bool others = st.st_mode & (S_IWGRP | S_IWOTH);
        const bool sticky = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX);
        if (others && !sticky)
            return Fail(QStringLiteral("%1「%2」はほかの利用者が書き換えられる場所（%3）にあるため"
                                       "実行しません")
                            .arg(what, path, next));
        at = next;
    }
    return {};
}

Result<> CheckKeypadFiles(const QString& instPath) {
    const QString module = InstFilePath(instPath, QString::fromLatin1(kSizeinModuleFolder)) +
                           QString::fromLatin1(kSizeinModuleName) + QStringLiteral(".so");
    if (auto checked = CheckPlaceForCode(module, QStringLiteral("サイズ入力モジュール")); !checked)
        return checked;
    return CheckPlaceForCode(InstFilePath(instPath, QString::fromLatin1(kRuntimeConfigName)),
                             QStringLiteral("COBOLランタイムの設定ファイル"));
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
