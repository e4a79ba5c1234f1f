#include "common/serial/serial_line.h"

#include <QFile>
#include <QPointer>
#include <QtDebug>

#include <cerrno>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <utility>

namespace {

// Whether the device's access rights refuse the user reading and writing it
// (not in the group that owns serial lines, dialout on Debian).
bool PortRefusesUser(const QString& path) {
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0 && errno == EACCES;
}

QSerialPort::DataBits DataBitsOf(int bits) {
    switch (bits) {
    case 5:
        return QSerialPort::Data5;
    case 6:
        return QSerialPort::Data6;
    case 7:
        return QSerialPort::Data7;
    default:
        return QSerialPort::Data8;
    }
}

QSerialPort::Parity ParityOf(char parity) {
    switch (parity) {
    case 'e':
    case 'E':
        return QSerialPort::EvenParity;
    case 'o':
    case 'O':
        return QSerialPort::OddParity;
    case 'm':
    case 'M':
        return QSerialPort::MarkParity;
    case 's':
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits StopBitsOf(int bits) {
    if (bits == 2)
        return QSerialPort::TwoStop;
    if (bits == 3)
        return QSerialPort::OneAndHalfStop;
    return QSerialPort::OneStop;
}

// The port takes one flow control; RTS/CTS with XON/XOFF adds the software
// flags by hand (see applyLine).
QSerialPort::FlowControl FlowOf(int handshaking) {
    switch (handshaking) {
    case kHandshakeXonXoff:
        return QSerialPort::SoftwareControl;
    case kHandshakeRtsCts:
    case kHandshakeRtsXonXoff:
        return QSerialPort::HardwareControl;
    default:
        return QSerialPort::NoFlowControl;
    }
}

} // namespace

SerialLine::SerialLine(const QString& program, const QString& control, RecordFramer::Mode mode,
                       QObject* parent)
    : SerialLine(LoadSerialSettings(program, control), mode, parent) {}

SerialLine::SerialLine(const SerialSettings& settings, RecordFramer::Mode mode, QObject* parent)
    : QObject(parent), settings_(settings), framer_(mode, settings.inBufferSize) {
    connect(&port_, &QSerialPort::readyRead, this, &SerialLine::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialLine::onError);
}

SerialLine::~SerialLine() {
    if (port_.isOpen())
        port_.close();
}

bool SerialLine::PortOpen() const {
    return port_.isOpen();
}

Failure SerialLine::fail(const QString& message) {
    errorText_ = message;
    return Fail(message);
}

bool SerialLine::isPseudoTerminal() const {
    struct stat st {};
    if (!port_.isOpen() || fstat(port_.handle(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    // Unix98 pseudo-terminal slaves have the major numbers 136 to 143.
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}

Result<> SerialLine::applyLine() {
    const bool open = port_.isOpen();
    QStringList refused;
    // What a pseudo-terminal cannot hold (it has no character size or parity
    // of its own): refused there as expected, a failure on a real line.
    QStringList ptyCannotHold;
    if (!port_.setBaudRate(settings_.baud))
        refused << QStringLiteral("%1 bps").arg(settings_.baud);
    if (!port_.setDataBits(DataBitsOf(settings_.dataBits)))
        ptyCannotHold << QStringLiteral("data bits %1").arg(settings_.dataBits);
    if (!port_.setParity(ParityOf(settings_.parity)))
        ptyCannotHold << QStringLiteral("parity %1").arg(QChar::fromLatin1(settings_.parity));
    if (!port_.setStopBits(StopBitsOf(settings_.stopBits)))
        refused << QStringLiteral("stop bits %1").arg(settings_.stopBits);
    if (!port_.setFlowControl(FlowOf(settings_.handshaking)))
        refused << QStringLiteral("handshaking %1").arg(settings_.handshaking);
    if (open) {
        termios tio{};
        if (tcgetattr(port_.handle(), &tio) == 0) {
            // RTS/CTS and XON/XOFF together: add the software flags to the line.
            if (settings_.handshaking == kHandshakeRtsXonXoff)
                tio.c_iflag |= IXON | IXOFF;
            else if (settings_.handshaking != kHandshakeXonXoff)
                tio.c_iflag &= ~(IXON | IXOFF | IXANY);
            // The port's parity setting ignores bytes with a parity error
            // (IGNPAR, no INPCK). Have the driver check and mark them
            // instead, with all 8 bits kept so a real 0xFF stays apart from
            // a mark; the framer turns each marked byte into "?".
            tio.c_iflag &= ~(IGNPAR | ISTRIP);
            tio.c_iflag |= INPCK | PARMRK;
            if (tcsetattr(port_.handle(), TCSANOW, &tio) != 0)
                refused
                    << QStringLiteral("handshaking %1, parity marks").arg(settings_.handshaking);
        }
        termios now{};
        const bool marked = tcgetattr(port_.handle(), &now) == 0 && (now.c_iflag & PARMRK) &&
                            !(now.c_iflag & (ISTRIP | IGNPAR));
        framer_.setParityMarks(marked);
    }
    port_.clearError();
    if ((refused.isEmpty() && ptyCannotHold.isEmpty()) || !open)
        return {};

    if (isPseudoTerminal()) {
        // Tests, tabletsim and the demo run on pseudo-terminals: 7 data bits
        // and parity are expected to be refused there and say nothing.
        if (!refused.isEmpty())
            qWarning("serial line %s: a pseudo-terminal does not take %s; going on",
                     qPrintable(settings_.portName),
                     qPrintable(refused.join(QStringLiteral(", "))));
        return {};
    }
    return Fail((ptyCannotHold + refused).join(QStringLiteral(", ")));
}

Result<> SerialLine::setPortOpen(bool open) {
    if (open == port_.isOpen())
        return {};

    if (!open) {
        port_.close();
        framer_.clear();
        announced_ = 0;
        return {};
    }

    const QString name = settings_.portName;
    if (name.trimmed().isEmpty())
        return fail(QStringLiteral("シリアルポートが設定されていません"));

    port_.setPortName(name);
    port_.setReadBufferSize(settings_.inBufferSize);
    (void)applyLine();
    if (!port_.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError e = port_.error();
        const QString reason = port_.errorString();
        port_.clearError();
        if (e == QSerialPort::DeviceNotFoundError)
            return fail(QStringLiteral("シリアルポート「%1」が見つかりません").arg(name));
        // Qt reports a port in use as a permission error too: only the
        // device's own access rights mean the user is not in dialout.
        if (e == QSerialPort::PermissionError && PortRefusesUser(name))
            return fail(
                QStringLiteral("シリアルポート「%1」を使う権限がありません。"
                               "利用者を dialout グループに入れてください"
                               "（sudo usermod -aG dialout ユーザー名 の後、ログインし直します）")
                    .arg(name));
        if (e == QSerialPort::PermissionError || e == QSerialPort::OpenError)
            return fail(QStringLiteral("シリアルポート「%1」を開けません"
                                       "（他のプログラムが使用中か、使用が許可されていません）")
                            .arg(name));
        // The device may have refused the line settings while opening (a
        // pseudo-terminal refuses 7 data bits or parity): open it on a plain
        // line and set the line again below.
        const SerialSettings wanted = settings_;
        settings_ = SerialSettings();
        settings_.portName = name;
        (void)applyLine();
        settings_ = wanted;
        if (!port_.open(QIODevice::ReadWrite)) {
            port_.clearError();
            return fail(QStringLiteral("シリアルポート「%1」を開けません（%2）").arg(name, reason));
        }
    }

    if (const auto applied = applyLine(); !applied) {
        port_.close();
        return fail(QStringLiteral("シリアルポート「%1」は設定 %2 を受け付けません（%3）")
                        .arg(name, SettingsText(settings_), applied.error()));
    }
    port_.clear(QSerialPort::AllDirections);
    framer_.clear();
    framer_.setCapacity(settings_.inBufferSize);
    announced_ = 0;
    errorText_.clear();
    return {};
}

QByteArray SerialLine::Input() {
    if (framer_.pendingRecords() == 0)
        absorb();
    std::optional<QByteArray> r = framer_.next();
    if (!r)
        return QByteArray();
    if (announced_ > 0)
        --announced_;
    return std::move(*r);
}

void SerialLine::setSettings(const SerialSettings& settings) {
    if (port_.isOpen() && settings.portName != settings_.portName)
        qWarning("serial line %s: the port name changes at the next open",
                 qPrintable(settings_.portName));
    const QString openName = settings_.portName;
    settings_ = settings;
    framer_.setCapacity(settings_.inBufferSize);
    if (port_.isOpen()) {
        if (const auto applied = applyLine(); !applied) {
            errorText_ = QStringLiteral("シリアルポート「%1」は設定 %2 を受け付けません（%3）")
                             .arg(openName, SettingsText(settings_), applied.error());
            qWarning("serial line %s: %s refused", qPrintable(openName),
                     qPrintable(applied.error()));
        }
    }
}

bool SerialLine::setSettingsText(const QString& text) {
    SerialSettings s = settings_;
    if (!ApplySettingsText(s, text)) {
        qWarning("serial line %s: \"%s\" is not a settings text", qPrintable(settings_.portName),
                 qPrintable(text));
        return false;
    }
    setSettings(s);
    return true;
}

QString SerialLine::settingsText() const {
    return SettingsText(settings_);
}

void SerialLine::setHandshaking(int mode) {
    if (mode < kHandshakeNone || mode > kHandshakeRtsXonXoff) {
        qWarning("serial line %s: handshaking %d does not exist", qPrintable(settings_.portName),
                 mode);
        return;
    }
    SerialSettings s = settings_;
    s.handshaking = mode;
    setSettings(s);
}

void SerialLine::onReadyRead() {
    absorb();
    deliver();
}

void SerialLine::onError(QSerialPort::SerialPortError error) {
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || !port_.isOpen())
        return;
    if (error == QSerialPort::ReadError) {
        // A failed read is a lost device when the line has hung up (the far
        // end of a pseudo-terminal closed); otherwise it passes.
        pollfd p{port_.handle(), POLLIN, 0};
        if (poll(&p, 1, 0) < 0 || !(p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            return;
    }
    // The device went away: hand on what had arrived, then close.
    absorb();
    deliver();
    if (!port_.isOpen())
        return;
    qWarning("serial line %s: the device went away", qPrintable(settings_.portName));
    (void)setPortOpen(false);
    errorText_ = QStringLiteral("シリアルポート「%1」との接続が切れました").arg(settings_.portName);
    commEvent_ = kComEvCD;
    emit OnComm();
}

void SerialLine::absorb() {
    if (port_.isOpen() && port_.bytesAvailable() > 0)
        framer_.feed(port_.readAll());
}

void SerialLine::deliver() {
    if (delivering_)
        return; // the running handler's loop below announces what arrived meanwhile
    delivering_ = true;
    const QPointer<SerialLine> alive(this); // a handler may delete the line
    while (port_.isOpen()) {
        // The port raises no new readyRead for bytes that came in while a
        // handler ran: take them here.
        absorb();
        if (const int dropped = framer_.takeOverflows()) {
            errorText_ = QStringLiteral("受信データがあふれたため、一部の受信データを破棄しました");
            qWarning("serial line %s: receive overflow (%d)", qPrintable(settings_.portName),
                     dropped);
            commEvent_ = kComEventRxOver;
            emit OnComm();
            if (!alive)
                return;
            continue;
        }
        if (settings_.rThreshold <= 0 || framer_.pendingRecords() <= announced_)
            break;
        ++announced_;
        commEvent_ = kComEvReceive;
        emit OnComm();
        if (!alive)
            return;
    }
    delivering_ = false;
}
