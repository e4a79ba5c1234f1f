#pragma once
// The keypad road's process: the COBOL runtime (cobcrun) on the estimating
// program's size-input module, started without a shell in the installation
// folder (the module writes 座標.txt into its current folder) and waited for
// without a time limit.

#include "common/core/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The module, relative to the installation folder, without ".so".
inline constexpr const char* kSizeinModuleFolder = "LUMO80/Object/";
inline constexpr const char* kSizeinModuleName = "LumoSizein";
// The runtime's configuration file, relative to the installation folder.
inline constexpr const char* kRuntimeConfigName = "runtm.cfg";
// cobcrun refuses a module argument longer than this many bytes.
inline constexpr int kRuntimeModuleArgLimit = 31;

// Exit codes of the demo size-input module.
inline constexpr int kSizeinWritten = 0;   // 座標.txt holds the new outline
inline constexpr int kSizeinCancelled = 1; // the user cancelled; 座標.txt untouched
// RunAndWait results that are no exit code of the runtime.
inline constexpr int kRunNotStarted = -1; // the program could not be started
inline constexpr int kRunCrashed = -2;    // it ended by a signal

struct RuntimeCommand {
    QString program;
    QStringList arguments;
    QString workingDirectory;
};

// A command text split into words: blanks separate words; "..." and '...'
// group blanks into a word; outside single quotes a backslash takes the next
// character as it is. `x-terminal-emulator -e` -> {x-terminal-emulator, -e};
// `"/opt/my term/bin/term" -e` -> {/opt/my term/bin/term, -e}.
QStringList SplitCommandWords(const QString& text);

// The program of a command word: a path is taken as it is, a bare name is
// looked up on PATH. True when it names an executable file.
bool ProgramExists(const QString& program);

// The terminal prefix the runtime is started with: the registry value
// "Terminal" when it is set; none when this program's standard input is a
// terminal (the console size input shares it); else "x-terminal-emulator -e"
// or "xterm -e", the first one `exists`. nullopt when none is found: a
// console program started without a terminal could not be seen or answered.
std::optional<QString> ChooseTerminalPrefix(const QString& registered, bool stdinIsTerminal,
                                            const std::function<bool(const QString&)>& exists);

// runtime (empty: "cobcrun"), "-c", instPath + "runtm.cfg", and the module
// instPath + "LUMO80/Object/LumoSizein" as one argument; when that argument
// would be longer than cobcrun takes (31 bytes in the file-name encoding),
// "-M", instPath + "LUMO80/Object/", "LumoSizein" instead. With a terminal
// prefix (its words, see SplitCommandWords) the prefix's first word is the
// program and the runtime follows its other words. Working directory:
// instPath.
RuntimeCommand BuildRuntimeCommand(const QString& instPath, const QString& runtime,
                                   const QString& terminalPrefix);

// Whether the keypad road may run the size-input module of the working
// folder, or why not: the module (LUMO80/Object/LumoSizein.so) or the runtime's
// configuration (runtm.cfg) is missing, or lies where another user could
// replace it — a folder or file on its path (links followed, each link's
// own folder checked too) that is owned by neither root nor this user, or
// that others may write (a folder with the sticky bit excepted, whose
// entries only their owners replace). Code run for the user comes only from
// root-owned places or the user's own.
Result<> CheckKeypadFiles(const QString& instPath);

// The same check of any one file (the message names it as `what`).
Result<> CheckPlaceForCode(const QString& path, const QString& what);

// One run of a command. By default the child shares this program's standard
// input and output (its console, or the terminal of the prefix).
class KeypadRun {
public:
    explicit KeypadRun(RuntimeCommand command) : command_(std::move(command)) {}

    // Bytes written to the child's standard input once it runs; the input is
    // closed after them (an unattended run, as the tests do it).
    void setStandardInput(const QByteArray& bytes) {
        input_ = bytes;
        hasInput_ = true;
    }
    // Keep the child's standard output and error (merged) instead of
    // forwarding them; read them with output() after run().
    void setCaptureOutput(bool capture) { capture_ = capture; }

    // Starts the command and runs a local event loop until it ends (the
    // window keeps repainting; the caller disables it meanwhile). Returns the
    // exit code, kRunNotStarted or kRunCrashed; for the last two `error`
    // gets a message for the user.
    int run(QString* error = nullptr);

    const QByteArray& output() const { return output_; }

private:
    RuntimeCommand command_;
    QByteArray input_;
    bool hasInput_ = false;
    bool capture_ = false;
    QByteArray output_;
};

// KeypadRun(command).run(error).
int RunAndWait(const RuntimeCommand& command, QString* error = nullptr);
