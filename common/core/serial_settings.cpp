#include "common/core/serial_settings.h"

#include "common/core/registry.h"

#include <QStringList>
#include <QVariant>
#include <QtDebug>

std::optional<SerialSettings> ParseSettingsText(const QString& text) {
    const QStringList parts = text.split(',');
    if (parts.size() != 4)
        return std::nullopt;

    SerialSettings s;
    bool ok = false;
    const QString baudText = parts[0].trimmed();
    for (QChar c : baudText)
        if (!c.isDigit())
            return std::nullopt;
    s.baud = baudText.toInt(&ok);
    if (!ok || s.baud <= 0 || s.baud > 4000000)
        return std::nullopt;

    const QString parityText = parts[1].trimmed().toLower();
    if (parityText.size() != 1 || !QStringLiteral("neoms").contains(parityText[0]))
        return std::nullopt;
    s.parity = parityText[0].toLatin1();

    const QString dataText = parts[2].trimmed();
    if (dataText.size() != 1 || dataText[0] < '5' || dataText[0] > '8')
        return std::nullopt;
    s.dataBits = dataText[0].unicode() - '0';

    const QString stopText = parts[3].trimmed();
    if (stopText == "1")
        s.stopBits = 1;
    else if (stopText == "2")
        s.stopBits = 2;
    else if (stopText == "1.5")
        s.stopBits = 3;
    else
        return std::nullopt;
    return s;
}

bool ApplySettingsText(SerialSettings& settings, const QString& text) {
    const std::optional<SerialSettings> parsed = ParseSettingsText(text);
    if (!parsed)
        return false;
    settings.baud = parsed->baud;
    settings.parity = parsed->parity;
    settings.dataBits = parsed->dataBits;
    settings.stopBits = parsed->stopBits;
    return true;
}

QString SettingsText(const SerialSettings& s) {
    const QString stop = s.stopBits == 3 ? QStringLiteral("1.5") : QString::number(s.stopBits);
    return QStringLiteral("%1,%2,%3,%4")
        .arg(s.baud)
        .arg(QChar::fromLatin1(s.parity))
        .arg(s.dataBits)
        .arg(stop);
}

namespace {

SerialSettings Mt4500Line() {
    SerialSettings s;
    s.baud = 1200;
    s.parity = 'n';
    s.dataBits = 7;
    s.stopBits = 1;
    s.handshaking = kHandshakeRtsXonXoff;
    s.rThreshold = 20;
    return s;
}

SerialSettings T5160Line() {
    SerialSettings s;
    s.baud = 9600;
    s.parity = 'e';
    s.dataBits = 7;
    s.stopBits = 1;
    s.handshaking = kHandshakeRtsCts;
    s.rThreshold = 13;
    return s;
}

bool Same(const QString& a, const char* b) {
    return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

// A registry value read as a whole number: a dword, or a text holding one.
std::optional<qint64> WholeNumber(const QVariant& v) {
    if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::UInt ||
        v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::ULongLong)
        return v.toLongLong();
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const qint64 n = v.toString().trimmed().toLongLong(&ok);
        if (ok)
            return n;
    }
    return std::nullopt;
}

// Reads one value; an invalid QVariant when missing or unreadable.
QVariant ReadValue(const QString& key, const char* name) {
    try {
        return GetRegistryValue(HKEY_LOCAL_MACHINE, key, QLatin1String(name), QVariant());
    } catch (const RegistryError& e) {
        qWarning("serial settings: %s\\%s: %s", qPrintable(key), name, e.what());
        return QVariant();
    }
}

void LoadNumber(const QString& key, const char* name, qint64 lo, qint64 hi, int& field) {
    const QVariant v = ReadValue(key, name);
    if (!v.isValid())
        return;
    const std::optional<qint64> n = WholeNumber(v);
    if (!n || *n < lo || *n > hi) {
        qWarning("serial settings: %s\\%s holds an unusable value, %d is used", qPrintable(key),
                 name, field);
        return;
    }
    field = static_cast<int>(*n);
}

} // namespace

SerialSettings DefaultSettings(const QString& program, const QString& control) {
    if (Same(program, "VarpadLumo")) {
        if (Same(control, "MSComm1"))
            return Mt4500Line();
        if (Same(control, "MSComm2"))
            return T5160Line();
    } else if (Same(program, "MT4500") && Same(control, "MSComm1")) {
        return Mt4500Line();
    } else if (Same(program, "T5160") && Same(control, "MSComm1")) {
        return T5160Line();
    }
    return SerialSettings();
}

QString SerialSettingsKey(const QString& program, const QString& control) {
    return QLatin1String(kPointraKey) + '\\' + program + '\\' + control;
}

SerialSettings LoadSerialSettings(const QString& program, const QString& control) {
    SerialSettings s = DefaultSettings(program, control);
    const QString key = SerialSettingsKey(program, control);

    const QVariant port = ReadValue(key, "PortName");
    if (port.isValid()) {
        const QString name = port.toString().trimmed();
        if (port.typeId() == QMetaType::QString && !name.isEmpty())
            s.portName = name;
        else
            qWarning("serial settings: %s\\PortName is not a device name, %s is used",
                     qPrintable(key), qPrintable(s.portName));
    }

    const QVariant text = ReadValue(key, "Settings");
    if (text.isValid() &&
        (text.typeId() != QMetaType::QString || !ApplySettingsText(s, text.toString())))
        qWarning("serial settings: %s\\Settings is not a settings text, %s is used",
                 qPrintable(key), qPrintable(SettingsText(s)));

    LoadNumber(key, "Handshaking", 0, 3, s.handshaking);
    LoadNumber(key, "RThreshold", 0, 32767, s.rThreshold);
    LoadNumber(key, "InBufferSize", 1, 1 << 20, s.inBufferSize);
    LoadNumber(key, "OutBufferSize", 1, 1 << 20, s.outBufferSize);
    return s;
}
