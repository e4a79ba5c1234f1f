// tabletsim: plays an MT4500 or T5160-25 tablet on a pseudo-terminal.
//
// The first line on stdout is the device path of the tablet's serial port.
// Records come from a script (--script, or --raw for records sent verbatim),
// sent once, each time the port is opened (--on-open) or on stdin commands
// (--repeat), or from keys (--keys). The master side stays
// open until the simulator ends, so the port never sees a hang-up mid-outline.

#include "tools/tabletsim/pty.h"
#include "tools/tabletsim/tabletsim.h"

#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <utility>
#include <variant>

using namespace tabletsim;

namespace {

volatile std::sig_atomic_t gStop = 0;
int gSignalPipe[2] = {-1, -1};

void OnSignal(int sig) {
    if (sig != SIGUSR1)
        gStop = 1;
    const char c = sig == SIGUSR1 ? 'u' : 's';
    [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &c, 1);
}

void InstallSignals() {
    if (pipe(gSignalPipe) == 0) {
        fcntl(gSignalPipe[0], F_SETFL, O_NONBLOCK);
        fcntl(gSignalPipe[1], F_SETFL, O_NONBLOCK);
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no restart: a blocking wait ends on a signal
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void SleepMs(int ms) {
    if (ms <= 0)
        return;
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (!gStop && nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

struct Options {
    std::optional<Mode> mode;
    QString script;
    bool raw = false;
    QString link;
    int delayMs = 0;
    int splitGapMs = 50;
    int settleMs = 300;
    bool split = false;
    bool merge = false;
    bool waitOpen = false;
    bool repeat = false;
    bool onOpen = false;
    bool keys = false;
};

void Usage(FILE* to) {
    std::fputs(
        "usage: tabletsim --mode mt4500|t5160 [--script FILE | --raw FILE] [options]\n"
        "  --script FILE   lines \"x y button\" (MT4500: metres; T5160: counts of 0.1 mm)\n"
        "  --raw FILE      one record per line sent verbatim (escapes \\r \\n \\t \\\\ \\xHH)\n"
        "  --link PATH     make PATH a symbolic link to the port\n"
        "  --delay MS      pause between records\n"
        "  --split         send each record in two writes (--split-gap MS between them)\n"
        "  --merge         send all records in one write\n"
        "  --wait-open     wait until the port is opened (then --settle MS, default 300)\n"
        "  --repeat        stay; on each stdin line send: empty line = the script,\n"
        "                  \"send FILE\", \"raw TEXT\", \"q\" = quit; SIGUSR1 sends the script\n"
        "  --on-open       stay; send the script each time the port is opened\n"
        "                  (printing \"opened\" and \"closed\" as the port is seen so)\n"
        "                  (after --settle MS); stdin commands as with --repeat\n"
        "  --keys          interactive: keys move the cursor and press buttons\n"
        "  -h, --help      this text;  -v, --version  the version\n"
        "Exit status: 0 done, 1 the pseudo-terminal or the link failed, 2 a wrong command line or "
        "script.\n"
        "The first line on stdout is the port's device path.\n",
        to);
}

bool ParseInt(const QString& text, int* out) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < 0 || v > 3600000)
        return false;
    *out = v;
    return true;
}

// A wrong argument is quoted, but only its first few dozen characters.
QString Quoted(const QString& text) {
    return text.size() <= 40 ? text : text.left(40) + QStringLiteral("...");
}

// The options, or the exit status after --help, --version or a wrong command
// line (which is named on stderr).
std::variant<Options, int> ParseArgs(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const auto valued = [](const char* name) {
        return QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value"));
    };
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
    const QCommandLineOption mode = valued("mode"), script = valued("script"), raw = valued("raw"),
                             link = valued("link"), delay = valued("delay"),
                             splitGap = valued("split-gap"), settle = valued("settle");
    const QCommandLineOption split(QStringLiteral("split")), merge(QStringLiteral("merge")),
        waitOpen(QStringLiteral("wait-open")), repeat(QStringLiteral("repeat")),
        onOpen(QStringLiteral("on-open")), keys(QStringLiteral("keys"));
    parser.addOptions({help, version, mode, script, raw, link, delay, splitGap, settle, split,
                       merge, waitOpen, repeat, onOpen, keys});
    const auto wrong = [](const QString& why) {
        std::fprintf(stderr, "tabletsim: %s\n", qPrintable(why));
        Usage(stderr);
        return 2;
    };
    if (!parser.parse(args)) {
        if (!parser.unknownOptionNames().isEmpty())
            return wrong(QStringLiteral("unknown option '%1'")
                             .arg(Quoted(parser.unknownOptionNames().first())));
        return wrong(Quoted(parser.errorText()));
    }
    if (parser.isSet(help)) {
        Usage(stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("tabletsim %s\n", POINTRA_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return wrong(QStringLiteral("unexpected argument '%1'")
                         .arg(Quoted(parser.positionalArguments().first())));
    Options o;
    if (parser.isSet(mode)) {
        o.mode = ParseMode(parser.value(mode).toLocal8Bit().constData());
        if (!o.mode)
            return wrong(QStringLiteral("unknown mode '%1'").arg(Quoted(parser.value(mode))));
    }
    if (parser.isSet(script) && parser.isSet(raw))
        return wrong(QStringLiteral("--script and --raw exclude each other"));
    o.raw = parser.isSet(raw);
    o.script = parser.value(o.raw ? raw : script);
    o.link = parser.value(link);
    for (const auto& [option, out] :
         {std::pair{&delay, &o.delayMs}, std::pair{&splitGap, &o.splitGapMs},
          std::pair{&settle, &o.settleMs}}) {
        if (parser.isSet(*option) && !ParseInt(parser.value(*option), out))
            return wrong(QStringLiteral("--%1 takes milliseconds from 0 to 3600000, not '%2'")
                             .arg(option->names().first(), Quoted(parser.value(*option))));
    }
    o.split = parser.isSet(split);
    o.merge = parser.isSet(merge);
    o.waitOpen = parser.isSet(waitOpen);
    o.repeat = parser.isSet(repeat);
    o.onOpen = parser.isSet(onOpen);
    o.keys = parser.isSet(keys);
    if (!o.mode && !(o.raw && !o.keys))
        return wrong(QStringLiteral("--mode is needed (only --raw without --keys goes without)"));
    return o;
}

std::optional<std::vector<QByteArray>> LoadRecords(const QString& path, bool raw,
                                                   std::optional<Mode> mode) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "tabletsim: cannot read %s\n", qPrintable(path));
        return std::nullopt;
    }
    const QByteArray text = f.readAll();
    Result<std::vector<QByteArray>> s = raw ? ParseRawScript(text) : ParseScript(text, *mode);
    if (!s) {
        std::fprintf(stderr, "tabletsim: %s: %s\n", qPrintable(path), qPrintable(s.error()));
        return std::nullopt;
    }
    return std::move(*s);
}

bool Send(const Pty& pty, const std::vector<QByteArray>& records, const Options& o) {
    if (o.merge) {
        QByteArray all;
        for (const QByteArray& r : records)
            all += r;
        if (!pty.writeAll(all, &gStop))
            return false;
    } else {
        for (size_t i = 0; i < records.size() && !gStop; ++i) {
            if (i > 0)
                SleepMs(o.delayMs);
            if (o.split) {
                const auto [first, rest] = SplitRecord(records[i]);
                if (!pty.writeAll(first, &gStop))
                    return false;
                SleepMs(o.splitGapMs);
                if (!pty.writeAll(rest, &gStop))
                    return false;
            } else if (!pty.writeAll(records[i], &gStop)) {
                return false;
            }
        }
    }
    std::printf("sent %zu\n", records.size());
    std::fflush(stdout);
    return true;
}

void DrainSignals() {
    char buf[64];
    while (::read(gSignalPipe[0], buf, sizeof buf) > 0) {
    }
}

bool WaitForOpen(const Pty& pty, const Options& o) {
    if (!pty.waitForSlaveOpen(-1, &gStop))
        return false;
    SleepMs(o.settleMs); // let the program finish setting up its port
    return !gStop;
}

// Stdin commands of --repeat, and the sends of --on-open.
int RunRepeat(const Pty& pty, const Options& o, const std::vector<QByteArray>& script) {
    if (o.waitOpen && !o.onOpen && WaitForOpen(pty, o))
        Send(pty, script, o);
    QByteArray pending;
    bool stdinOpen = true;
    bool wasOpen = false;
    while (!gStop) {
        pollfd fds[2] = {{gSignalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const int n = poll(fds, stdinOpen ? 2 : 1, 50);
        pty.drain();
        const bool open = pty.slaveOpen();
        if (o.onOpen && open != wasOpen) {
            std::printf("%s\n", open ? "opened" : "closed");
            std::fflush(stdout);
        }
        if (o.onOpen && open && !wasOpen) {
            SleepMs(o.settleMs); // let the program finish setting up its port
            if (!gStop && pty.slaveOpen())
                Send(pty, script, o);
        }
        wasOpen = open;
        if (n <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            char buf[64];
            const ssize_t got = ::read(gSignalPipe[0], buf, sizeof buf);
            for (ssize_t i = 0; i < got; ++i)
                if (buf[i] == 'u')
                    Send(pty, script, o);
        }
        if (stdinOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
            char buf[512];
            const ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf);
            if (got <= 0) {
                stdinOpen = false; // no more commands; stay until a signal
                continue;
            }
            pending.append(buf, got);
            qsizetype nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                QByteArray line = pending.left(nl);
                pending.remove(0, nl + 1);
                if (line.endsWith('\r'))
                    line.chop(1);
                if (line == "q" || line == "quit")
                    return 0;
                if (line.isEmpty()) {
                    Send(pty, script, o);
                } else if (line.startsWith("send ")) {
                    if (auto r = LoadRecords(QString::fromLocal8Bit(line.mid(5)), o.raw, o.mode))
                        Send(pty, *r, o);
                } else if (line.startsWith("raw ")) {
                    if (const auto r = DecodeEscapes(line.mid(4)))
                        Send(pty, {*r}, o);
                    else
                        std::fprintf(stderr, "tabletsim: %s\n", qPrintable(r.error()));
                } else {
                    std::fprintf(stderr, "tabletsim: unknown command \"%s\"\n", line.constData());
                }
            }
        }
    }
    return 0;
}

int RunKeys(const Pty& pty, const Options& o) {
    KeyPad pad(*o.mode);
    termios saved{};
    const bool tty = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (tty) {
        termios raw = saved;
        raw.c_lflag &= ~(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    std::fprintf(stderr, "%s\n%s\n", qPrintable(KeyPad::help()), qPrintable(pad.status()));
    int status = 0;
    while (!gStop) {
        pollfd fds[2] = {{gSignalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(fds, 2, 200) <= 0) {
            pty.drain();
            continue;
        }
        DrainSignals();
        if (!(fds[1].revents & (POLLIN | POLLHUP)))
            continue;
        char c = 0;
        if (::read(STDIN_FILENO, &c, 1) != 1)
            break;
        const KeyPad::Action a = pad.key(c);
        if (a.kind == KeyPad::Action::Quit)
            break;
        if (a.kind == KeyPad::Action::Help)
            std::fprintf(stderr, "%s\n", qPrintable(KeyPad::help()));
        else if (a.kind == KeyPad::Action::Refused)
            std::fputs("\a", stderr);
        else if (a.kind == KeyPad::Action::Record && !Send(pty, {a.record}, o))
            status = 1;
        if (a.kind != KeyPad::Action::None)
            std::fprintf(stderr, "%s\n", qPrintable(pad.status()));
    }
    if (tty)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return status;
}

// One outline: send the script, then stay until the program closes its port.
int RunOnce(const Pty& pty, const Options& o, const std::vector<QByteArray>& script) {
    if (o.waitOpen && !WaitForOpen(pty, o))
        return 0;
    if (!Send(pty, script, o))
        return 1;
    if (!pty.waitForSlaveOpen(-1, &gStop))
        return 0;
    while (!gStop && pty.slaveOpen()) {
        pty.drain();
        SleepMs(50);
    }
    return 0;
}

class Link {
public:
    Link(QString path, const QString& target) : path_(std::move(path)), target_(target) {}
    bool make() {
        const QByteArray p = path_.toLocal8Bit();
        struct stat st {};
        if (lstat(p.constData(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "tabletsim: %s exists and is not a link\n", p.constData());
                return false;
            }
            ::unlink(p.constData());
        }
        if (symlink(target_.toLocal8Bit().constData(), p.constData()) != 0) {
            std::fprintf(stderr, "tabletsim: cannot link %s: %s\n", p.constData(),
                         std::strerror(errno));
            return false;
        }
        made_ = true;
        return true;
    }
    ~Link() {
        if (!made_)
            return;
        const QByteArray p = path_.toLocal8Bit();
        char buf[4096];
        const ssize_t n = readlink(p.constData(), buf, sizeof buf - 1);
        if (n > 0 && QByteArray(buf, n) == target_.toLocal8Bit())
            ::unlink(p.constData());
    }

private:
    QString path_;
    QString target_;
    bool made_ = false;
};

} // namespace

int main(int argc, char** argv) {
    const std::variant<Options, int> parsed = ParseArgs(argc, argv);
    if (const int* status = std::get_if<int>(&parsed))
        return *status;
    const Options& o = std::get<Options>(parsed);

    std::vector<QByteArray> script;
    if (!o.script.isEmpty()) {
        const auto records = LoadRecords(o.script, o.raw, o.mode);
        if (!records)
            return 2;
        script = *records;
    }

    InstallSignals();
    Result<Pty> pty = Pty::create();
    if (!pty) {
        std::fprintf(stderr, "tabletsim: %s\n", qPrintable(pty.error()));
        return 1;
    }
    std::printf("%s\n", qPrintable(pty->slavePath()));
    std::fflush(stdout);

    std::optional<Link> link;
    if (!o.link.isEmpty()) {
        link.emplace(o.link, pty->slavePath());
        if (!link->make())
            return 1;
    }

    if (o.keys)
        return RunKeys(*pty, o);
    if (o.repeat || o.onOpen)
        return RunRepeat(*pty, o, script);
    return RunOnce(*pty, o, script);
}
