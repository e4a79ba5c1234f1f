#pragma once
// What every program does before it opens a window: its command line
// (--help, --version, a wrong option named) and the check that there is a
// display to open the window on. Both run before the QApplication, so they
// answer without a display, and a program started without one says so in
// one line instead of Qt's abort.

#include <QString>
#include <QStringList>

#include <optional>

// Exit statuses every program shares besides its own.
inline constexpr int kExitUsage = 64;     // a wrong command line
inline constexpr int kExitNoDisplay = 69; // no display to open the window on

struct ProgramText {
    QString name;    // the executable's name, also the first word of messages
    QString purpose; // one line: what the program is
    QString details; // the rest of the help: files, environment, exit statuses
};

// The program's version, as the package carries it.
QString ProgramVersion();

// The answer to a command line: the exit status when the program ends here
// (after --help or --version on `out`, or a message on `err`), nothing when it
// goes on. Qt's parser reads the arguments; the programs take no others.
struct CommandLineAnswer {
    std::optional<int> exitStatus;
    QString out;
    QString err;
};
CommandLineAnswer AnswerCommandLine(const QStringList& arguments, const ProgramText& program);

// Whether Qt can be expected to find a display, from the environment: a
// platform named in QT_QPA_PLATFORM other than xcb and wayland needs none
// (offscreen, minimal, vnc...); otherwise DISPLAY or WAYLAND_DISPLAY must be
// set.
bool DisplayExpected(const QString& qpaPlatform, const QString& display,
                     const QString& waylandDisplay);
// The one line said when there is none.
QString NoDisplayMessage(const QString& program);

// The start of a program's main(): answers the command line and, for a
// program with a window, checks the environment for a display. The exit
// status when the program ends here, after printing what it has to say.
std::optional<int> StartProgram(int argc, char** argv, const ProgramText& program,
                                bool needsDisplay = true);

// Held around the QApplication's construction: when Qt still cannot connect
// to the display named (a DISPLAY that answers no one), the program says so
// in the same one line and ends with kExitNoDisplay instead of Qt's abort.
// Qt's other messages of that time are passed on when it ends.
class DisplayConnectGuard {
public:
    explicit DisplayConnectGuard(const QString& program);
    ~DisplayConnectGuard();
    DisplayConnectGuard(const DisplayConnectGuard&) = delete;
    DisplayConnectGuard& operator=(const DisplayConnectGuard&) = delete;
};
