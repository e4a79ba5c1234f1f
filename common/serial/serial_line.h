#pragma once
// A serial port with the behaviour of the serial control the programs were
// written against: PortOpen, Settings, Handshaking, Input, CommEvent and the
// OnComm event.
//
// Received bytes are cut into records (RecordFramer) and OnComm is raised once
// per complete record with CommEvent() == kComEvReceive; Input() hands over
// the oldest waiting record, terminator included, and consumes it. A handler
// that reads Input() once per event therefore sees every record, however the
// bytes were split or merged on the line. Events are never nested: records
// that arrive while a handler runs (a message box, say) are announced after
// it returns. Closing the port discards what is waiting, so a handler that
// closes the port stops the delivery of records already received; opening
// the port empties the buffers.
//
// Bytes received with a parity error become "?" (as the serial control's
// parity replacement character did): after every change of the line the
// driver is asked to mark them (PARMRK) and the framer replaces them. A
// pseudo-terminal has no parity to check; its line works the same.
//
// Other events: kComEventRxOver when received bytes had to be dropped (a line
// without a line end longer than the input buffer, or a full buffer), and
// kComEvCD when the device went away (the port is closed then). errorText()
// describes both for the user.

#include "common/core/record_framer.h"
#include "common/core/result.h"
#include "common/core/serial_settings.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

class SerialLine : public QObject {
    Q_OBJECT
public:
    // The stored configuration of a control (LoadSerialSettings).
    SerialLine(const QString& program, const QString& control, RecordFramer::Mode mode,
               QObject* parent = nullptr);
    SerialLine(const SerialSettings& settings, RecordFramer::Mode mode, QObject* parent = nullptr);
    ~SerialLine() override;

    bool PortOpen() const;
    // Opens or closes the port. Opening applies the settings before and after
    // the open; a missing device, a refused access or a line setting the
    // device refuses fails with a message (also in errorText()). A
    // pseudo-terminal cannot hold 7 data bits or parity: their refusal there
    // passes silently, any other refused setting there is a warning. Opening an open port or
    // closing a closed one succeeds and changes nothing.
    Result<> setPortOpen(bool open);

    int CommEvent() const { return commEvent_; }
    // The oldest waiting record, removed; empty when none waits.
    QByteArray Input();
    // Complete records waiting to be read (of the bytes taken from the port so far).
    int pendingRecords() const { return framer_.pendingRecords(); }

    SerialSettings settings() const { return settings_; }
    // New settings; line settings and handshaking take effect at once on an
    // open port, the port name at the next open.
    void setSettings(const SerialSettings& settings);
    // The Settings property: "9600,E,7,1". False (nothing changed) when malformed.
    bool setSettingsText(const QString& text);
    QString settingsText() const;
    void setHandshaking(int mode);
    int Handshaking() const { return settings_.handshaking; }

    RecordFramer::Mode framing() const { return framer_.mode(); }
    // The last failure or line event, for the user; empty when none.
    QString errorText() const { return errorText_; }

signals:
    void OnComm();

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void deliver();
    void absorb(); // moves what the port has read into the framer
    // Sets the line parameters on the port; on an open port, each refusal is a
    // failure (naming the settings refused) on a real line; on a
    // pseudo-terminal, refused data bits and parity pass silently and the
    // rest are warnings.
    Result<> applyLine();
    bool isPseudoTerminal() const;
    // The failure of setPortOpen(), kept in errorText() too.
    Failure fail(const QString& message);

    SerialSettings settings_;
    QSerialPort port_;
    RecordFramer framer_;
    int commEvent_ = 0;
    int announced_ = 0; // waiting records whose OnComm has been raised
    bool delivering_ = false;
    QString errorText_;
};
