#pragma once
// Line settings of a serial control (the stored configuration of an MSComm
// control): port, "1200,n,7,1" settings text, handshaking, receive threshold
// and buffer sizes. Each control keeps them in the registry file under
// Software\VarnelSystem\Pointra\<program>\<control>; missing values take the
// control's factory configuration.

#include <QString>

#include <optional>

struct SerialSettings {
    QString portName = "/dev/ttyS0";
    int baud = 9600;
    char parity = 'n';   // 'n' none, 'e' even, 'o' odd, 'm' mark, 's' space
    int dataBits = 8;    // 5 to 8
    int stopBits = 1;    // 1 or 2; 3 stands for 1.5
    int handshaking = 0; // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 RTS/CTS and XON/XOFF
    int rThreshold = 0;  // characters that raise a receive event; 0 raises none
    int inBufferSize = 1024;
    int outBufferSize = 512;

    bool operator==(const SerialSettings&) const = default;
};

// Handshaking modes as the serial control numbers them.
enum SerialHandshaking : int {
    kHandshakeNone = 0,
    kHandshakeXonXoff = 1,
    kHandshakeRtsCts = 2,
    kHandshakeRtsXonXoff = 3,
};

// Parses a settings text "speed,parity,data bits,stop bits" ("1200,n,7,1",
// "9600,E,7,1"; parity letters in either case, stop bits 1, 1.5 or 2, blanks
// around the parts allowed). Only the line fields of the result are set; the
// others keep their defaults. nullopt when the text is malformed.
std::optional<SerialSettings> ParseSettingsText(const QString& text);

// Applies a settings text to existing settings (line fields only). False and
// nothing changed when the text is malformed.
bool ApplySettingsText(SerialSettings& settings, const QString& text);

// The settings text of the line fields: "1200,n,7,1" (parity in lower case,
// 1.5 stop bits written "1.5").
QString SettingsText(const SerialSettings& settings);

// The factory configuration of a control ("VarpadLumo"/"MSComm1" is the
// MT4500, "VarpadLumo"/"MSComm2" the T5160-25, "T5160"/"MSComm1" and
// "MT4500"/"MSComm1" the device programs' tablets). Names are compared
// without regard to case; an unknown control gets the serial control's
// plain defaults (9600,n,8,1, no handshaking, threshold 0).
SerialSettings DefaultSettings(const QString& program, const QString& control);

// Registry key of a control: "Software\VarnelSystem\Pointra\<program>\<control>".
QString SerialSettingsKey(const QString& program, const QString& control);

// The stored configuration of a control: the registry values "PortName",
// "Settings", "Handshaking", "RThreshold", "InBufferSize", "OutBufferSize"
// over DefaultSettings(). A value that is missing, of the wrong type or out
// of range keeps the default (with a warning on the console for the bad ones).
SerialSettings LoadSerialSettings(const QString& program, const QString& control);

// What a serial line reports (its CommEvent): a record received, the carrier
// (the device) lost, received bytes dropped.
enum CommEventCode : int {
    kComEvReceive = 2,
    kComEvCD = 5,
    kComEventRxOver = 1008,
};
