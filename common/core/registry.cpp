#include "common/core/registry.h"

#include "common/core/file_read.h"
#include "common/core/numtext.h"
#include "common/core/refusals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <optional>

namespace {

// Registry text as the registry holds it: UTF-16LE with a terminating NUL.
QByteArray utf16leBytes(const QString& text, bool terminate) {
    QByteArray out;
    out.reserve((text.size() + 1) * 2);
    for (QChar c : text) {
        const char16_t u = c.unicode();
        out.append(char(u & 0xFF));
        out.append(char(u >> 8));
    }
    if (terminate) {
        out.append('\0');
        out.append('\0');
    }
    return out;
}

QString fromUtf16le(const QByteArray& bytes) {
    QString out;
    const qsizetype units = bytes.size() / 2;
    out.reserve(units);
    for (qsizetype i = 0; i < units; ++i) {
        const auto lo = uchar(bytes[2 * i]);
        const auto hi = uchar(bytes[2 * i + 1]);
        out.append(QChar(char16_t(lo | (hi << 8))));
    }
    return out;
}

// The file's text: UTF-16 with a byte-order mark (as registry exports are),
// UTF-16LE without one (recognised by its zero high bytes), else UTF-8 with or
// without BOM; invalid UTF-8 becomes U+FFFD.
QString decodeFile(const QByteArray& bytes) {
    if (bytes.startsWith("\xFF\xFE"))
        return fromUtf16le(bytes.mid(2));
    if (bytes.startsWith("\xFE\xFF")) {
        QByteArray swapped = bytes.mid(2);
        for (qsizetype i = 0; i + 1 < swapped.size(); i += 2)
            std::swap(swapped[i], swapped[i + 1]);
        return fromUtf16le(swapped);
    }
    if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0')
        return fromUtf16le(bytes);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    return QString::fromUtf8(bytes);
}

QString canonicalRoot(const QString& root) {
    const QString upper = root.trimmed().toUpper();
    if (upper == u"HKLM")
        return QStringLiteral("HKEY_LOCAL_MACHINE");
    if (upper == u"HKCU")
        return QStringLiteral("HKEY_CURRENT_USER");
    if (upper == u"HKCR")
        return QStringLiteral("HKEY_CLASSES_ROOT");
    if (upper == u"HKU")
        return QStringLiteral("HKEY_USERS");
    if (upper == u"HKCC")
        return QStringLiteral("HKEY_CURRENT_CONFIG");
    return upper;
}

// "ROOT\\sub\\key" folded for comparison; repeated and outer backslashes dropped.
QString foldedPath(const QString& root, const QString& key) {
    QStringList parts{canonicalRoot(root)};
    for (const QString& part : key.split(u'\\', Qt::SkipEmptyParts))
        parts << part;
    return parts.join(u'\\').toCaseFolded();
}

// A full key path as written in a key line: the first component is the root.
QString foldedFullPath(const QString& path) {
    const qsizetype slash = path.indexOf(u'\\');
    if (slash < 0)
        return foldedPath(path, QString());
    return foldedPath(path.left(slash), path.mid(slash + 1));
}

// Reads a quoted string starting at text[pos] == '"' with the escapes \\ and
// \" (a backslash before any other character stays as it is). On success
// `end` is the index after the closing quote.
std::optional<QString> readQuoted(const QString& text, qsizetype pos, qsizetype& end) {
    if (pos >= text.size() || text[pos] != u'"')
        return std::nullopt;
    QString out;
    for (qsizetype i = pos + 1; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\\' && i + 1 < text.size() && (text[i + 1] == u'\\' || text[i + 1] == u'"')) {
            out.append(text[i + 1]);
            ++i;
        } else if (c == u'"') {
            end = i + 1;
            return out;
        } else {
            out.append(c);
        }
    }
    return std::nullopt;
}

qsizetype skipSpaces(const QString& text, qsizetype pos) {
    while (pos < text.size() && (text[pos] == u' ' || text[pos] == u'\t'))
        ++pos;
    return pos;
}

// Name part of a value line: `"Name"` or `@`, then '='. Returns the name and
// sets `dataPos` to the first character of the data.
std::optional<QString> readValueName(const QString& line, qsizetype& dataPos) {
    QString name;
    qsizetype pos = 0;
    if (line.startsWith(u'@')) {
        pos = 1;
    } else {
        auto quoted = readQuoted(line, 0, pos);
        if (!quoted)
            return std::nullopt;
        name = *quoted;
    }
    pos = skipSpaces(line, pos);
    if (pos >= line.size() || line[pos] != u'=')
        return std::nullopt;
    dataPos = skipSpaces(line, pos + 1);
    return name;
}

bool isHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// "01,02, ff" -> bytes; empty text -> no bytes; a trailing comma is allowed.
std::optional<QByteArray> readHexList(const QString& text) {
    QByteArray out;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return out;
    const QStringList items = trimmed.split(u',');
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QString item = items[i].trimmed();
        if (item.isEmpty() && i == items.size() - 1)
            break;
        if (item.isEmpty() || item.size() > 2 || !isHexDigit(item[0]) ||
            (item.size() == 2 && !isHexDigit(item[1])))
            return std::nullopt;
        out.append(char(item.toUInt(nullptr, 16)));
    }
    return out;
}

enum class DataKind { Value, Delete, Bad };

// Data part of a value line. REGEDIT4 files hold hex(1), hex(2) and hex(7)
// strings as 8-bit text; they are turned into the UTF-16 form here.
DataKind readData(const QString& data, bool regedit4, RegistryRawValue& out) {
    const QString text = data.trimmed();
    if (text.startsWith(u'"')) {
        qsizetype end = 0;
        auto str = readQuoted(text, 0, end);
        if (!str || !text.mid(end).trimmed().isEmpty())
            return DataKind::Bad;
        out.type = REG_SZ;
        out.data = utf16leBytes(*str, true);
        return DataKind::Value;
    }
    if (text == u"-")
        return DataKind::Delete;
    const QString lower = text.toLower();
    if (lower.startsWith(u"dword:")) {
        const QString digits = text.mid(6).trimmed();
        if (digits.isEmpty() || digits.size() > 8)
            return DataKind::Bad;
        for (QChar c : digits) {
            if (!isHexDigit(c))
                return DataKind::Bad;
        }
        const quint32 v = digits.toUInt(nullptr, 16);
        out.type = REG_DWORD;
        out.data = QByteArray(4, '\0');
        for (int i = 0; i < 4; ++i)
            out.data[i] = char((v >> (8 * i)) & 0xFF);
        return DataKind::Value;
    }
    if (!lower.startsWith(u"hex"))
        return DataKind::Bad;
    qsizetype pos = 3;
    int type = REG_BINARY;
    if (pos < text.size() && text[pos] == u'(') {
        const qsizetype close = text.indexOf(u')', pos);
        if (close < 0)
            return DataKind::Bad;
        bool ok = false;
        type = text.mid(pos + 1, close - pos - 1).trimmed().toInt(&ok, 16);
        if (!ok || type < 0)
            return DataKind::Bad;
        pos = close + 1;
    }
    if (pos >= text.size() || text[pos] != u':')
        return DataKind::Bad;
    auto bytes = readHexList(text.mid(pos + 1));
    if (!bytes)
        return DataKind::Bad;
    out.type = type;
    out.data = *bytes;
    if (regedit4 && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ))
        out.data = utf16leBytes(QString::fromUtf8(*bytes), false);
    return DataKind::Value;
}

bool isHeader(const QString& line, bool& regedit4) {
    if (line == u"Windows Registry Editor Version 5.00") {
        regedit4 = false;
        return true;
    }
    if (line == u"REGEDIT4") {
        regedit4 = true;
        return true;
    }
    return false;
}

// A key exists when it is written or some written key lies below it.
// The keys below it are contiguous from folded + "\\" on.
template <class Keys> bool hasKeyFolded(const Keys& keys, const QString& folded) {
    if (keys.contains(folded))
        return true;
    const QString prefix = folded + QLatin1Char('\\');
    const auto it = keys.lowerBound(prefix);
    return it != keys.end() && it.key().startsWith(prefix);
}

// The lines of the file's text: CR LF, LF and a lone CR end a line.
QStringList splitLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        lines << text.mid(start, end - start);
        if (end >= text.size())
            break;
        if (text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

std::optional<RegistryFile>& currentSlot() {
    static std::optional<RegistryFile> slot;
    return slot;
}

} // namespace

void RegistryFile::addProblem(int lineNo, const QString& text) {
    problems_ << QStringLiteral("line %1: %2").arg(lineNo).arg(Brief(text, 80));
}

void RegistryFile::fail(const QString& why) {
    keys_.clear();
    failure_ = why;
}

void RegistryFile::removeKey(const QString& folded) {
    if (!hasKeyFolded(keys_, folded))
        return;
    keys_.remove(folded);
    const QString prefix = folded + u'\\';
    for (auto it = keys_.lowerBound(prefix); it != keys_.end() && it.key().startsWith(prefix);)
        it = keys_.erase(it);
    // The key above stays, even when only the removed key made it exist.
    const qsizetype slash = folded.lastIndexOf(u'\\');
    if (slash > 0 && !hasKeyFolded(keys_, folded.left(slash)))
        keys_.insert(folded.left(slash), {});
}

RegistryFile RegistryFile::parse(const QByteArray& fileBytes) {
    RegistryFile reg;
    const QStringList lines = splitLines(decodeFile(fileBytes));
    bool regedit4 = false;
    bool headerSeen = false;
    std::optional<QString> currentKey;

    for (qsizetype idx = 0; idx < lines.size(); ++idx) {
        const int lineNo = int(idx) + 1;
        if (lines[idx].size() > kMaxRegistryLineLength) {
            reg.fail(QStringLiteral("%1 行目が長すぎます（1 行 %2 文字までです）。")
                         .arg(lineNo)
                         .arg(kMaxRegistryLineLength));
            return reg;
        }
        const QString line = lines[idx].trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (!headerSeen) {
            if (!isHeader(line, regedit4)) {
                reg.fail(QStringLiteral("先頭に \"Windows Registry Editor Version 5.00\" の行が"
                                        "ありません（%1 行目:「%2」）。")
                             .arg(lineNo)
                             .arg(Brief(line)));
                return reg;
            }
            headerSeen = true;
            continue;
        }
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']')) {
                reg.addProblem(lineNo, line);
                currentKey.reset();
                continue;
            }
            QString path = line.mid(1, line.size() - 2).trimmed();
            const bool remove = path.startsWith(u'-');
            if (remove)
                path = path.mid(1).trimmed();
            const QString folded = foldedFullPath(path);
            if (folded.count(u'\\') > kMaxRegistryKeyDepth) {
                reg.fail(QStringLiteral("%1 行目のキーの階層が深すぎます（%2 階層までです）。")
                             .arg(lineNo)
                             .arg(kMaxRegistryKeyDepth));
                return reg;
            }
            if (remove) {
                reg.removeKey(folded);
                currentKey.reset();
                continue;
            }
            reg.keys_[folded]; // the key exists, with or without values
            currentKey = folded;
            continue;
        }
        qsizetype dataPos = 0;
        auto name = readValueName(line, dataPos);
        if (!name) {
            reg.addProblem(lineNo, line);
            continue;
        }
        // Hex lists may go on over several lines, each but the last ending in '\'.
        QString data = line.mid(dataPos);
        if (data.startsWith(u"hex", Qt::CaseInsensitive)) {
            while (data.endsWith(u'\\') && idx + 1 < lines.size()) {
                data.chop(1);
                const QString& next = lines[++idx];
                if (next.size() > kMaxRegistryLineLength) {
                    reg.fail(QStringLiteral("%1 行目が長すぎます（1 行 %2 文字までです）。")
                                 .arg(idx + 1)
                                 .arg(kMaxRegistryLineLength));
                    return reg;
                }
                data += next.trimmed();
            }
        }
        RegistryRawValue value;
        const DataKind kind = readData(data, regedit4, value);
        if (kind == DataKind::Bad || !currentKey) {
            reg.addProblem(lineNo, line);
            continue;
        }
        auto& values = reg.keys_[*currentKey];
        if (kind == DataKind::Delete)
            values.remove(name->toCaseFolded());
        else
            values.insert(name->toCaseFolded(), value);
    }
    return reg;
}

RegistryFile RegistryFile::load(const QString& path) {
    RegistryFile reg;
    const Result<FileStart> file = ReadWholeFile(path, kMaxRegistryFileBytes);
    if (!file) {
        reg.problems_ << QStringLiteral("cannot read %1").arg(path);
        // A missing file is a registry with nothing in it: nothing is installed.
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
            reg.failure_ = QStringLiteral("レジストリファイルを読み込めません。") + file.error();
        return reg;
    }
    reg = parse(file->bytes);
    if (!reg.failure_.isEmpty())
        reg.failure_ =
            QStringLiteral("レジストリファイル（%1）を読み込めません。%2").arg(path, reg.failure_);
    return reg;
}

QStringList RegistryFile::searchPlaces() {
    const QString explicitPath = qEnvironmentVariable("POINTRA_REGISTRY");
    if (!explicitPath.isEmpty())
        return {explicitPath};
    return {XdgBaseFolder("XDG_CONFIG_HOME") + QStringLiteral("/pointra/registry.reg"),
            QStringLiteral("/etc/pointra/registry.reg")};
}

QString RegistryFile::defaultPath() {
    const QStringList places = searchPlaces();
    for (const QString& place : places) {
        if (QFileInfo::exists(place))
            return place;
    }
    return places.first();
}

const RegistryFile& RegistryFile::current() {
    auto& slot = currentSlot();
    if (!slot)
        slot = load(defaultPath());
    return *slot;
}

void RegistryFile::reload() {
    currentSlot() = load(defaultPath());
}

bool RegistryFile::hasKey(const QString& root, const QString& key) const {
    return hasKeyFolded(keys_, foldedPath(root, key));
}

std::optional<RegistryRawValue> RegistryFile::value(const QString& root, const QString& key,
                                                    const QString& name) const {
    const auto keyIt = keys_.constFind(foldedPath(root, key));
    if (keyIt == keys_.constEnd())
        return std::nullopt;
    const auto valueIt = keyIt->constFind(name.toCaseFolded());
    if (valueIt == keyIt->constEnd())
        return std::nullopt;
    return *valueIt;
}

QVariant GetRegistryValue(const RegistryFile& reg, const QString& root, const QString& keyName,
                          const QString& valueName, const QVariant& defaultValue) {
    // Opening the key: a missing key gives the default.
    if (!reg.hasKey(root, keyName))
        return defaultValue;
    const auto raw = reg.value(root, keyName, valueName);
    if (!raw)
        return defaultValue;
    const QByteArray& data = raw->data;
    switch (raw->type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        QByteArray bytes = data;
        if (bytes.size() % 2 != 0)
            bytes.chop(1);
        if (bytes.size() >= 2 && bytes[bytes.size() - 1] == '\0' && bytes[bytes.size() - 2] == '\0')
            bytes.chop(2);
        return QVariant(fromUtf16le(bytes));
    }
    case REG_MULTI_SZ: {
        QString text = fromUtf16le(data);
        for (int i = 0; i < 2 && text.endsWith(QChar(u'\0')); ++i)
            text.chop(1);
        return QVariant(text);
    }
    case REG_DWORD: {
        quint32 v = 0;
        for (int i = 0; i < 4 && i < data.size(); ++i)
            v |= quint32(uchar(data[i])) << (8 * i);
        return QVariant(qint32(v));
    }
    case REG_BINARY:
        return QVariant(data);
    default:
        throw RegistryError(1001, "Unsupported value type");
    }
}

QVariant GetRegistryValue(const QString& root, const QString& keyName, const QString& valueName,
                          const QVariant& defaultValue) {
    return GetRegistryValue(RegistryFile::current(), root, keyName, valueName, defaultValue);
}

namespace {

std::optional<QVariant> safeValue(const QString& key, const QString& name) {
    try {
        const QVariant v =
            GetRegistryValue(QString::fromLatin1(HKEY_LOCAL_MACHINE), key, name, QVariant());
        if (!v.isValid())
            return std::nullopt;
        return v;
    } catch (const RegistryError&) {
        return std::nullopt;
    }
}

} // namespace

QString RegistryText(const QString& key, const QString& name, const QString& def) {
    const auto v = safeValue(key, name);
    if (!v)
        return def;
    if (v->typeId() == QMetaType::QString)
        return v->toString();
    if (v->typeId() == QMetaType::Int)
        return QString::number(v->toInt());
    return def;
}

qint32 RegistryDword(const QString& key, const QString& name, qint32 def) {
    const auto v = safeValue(key, name);
    if (!v)
        return def;
    if (v->typeId() == QMetaType::Int)
        return v->toInt();
    if (v->typeId() == QMetaType::QString && IsNumericText(v->toString())) {
        const double d = Val(v->toString());
        if (d >= -2147483648.0 && d <= 2147483647.0)
            return qint32(d);
    }
    return def;
}

QString ReadInstPath() {
    const auto v = safeValue(QString::fromLatin1(kPointraKey), QStringLiteral("InstPath"));
    if (!v || v->typeId() != QMetaType::QString)
        return QString();
    return v->toString();
}

QString GhostscriptPath() {
    const QString fromRegistry =
        RegistryText(QString::fromLatin1(kGhostscriptKey), QStringLiteral("GS_DLL"));
    if (!fromRegistry.isEmpty())
        return fromRegistry;
    return QStandardPaths::findExecutable(QStringLiteral("gs"));
}

QString GhostscriptProgram() {
    const QString path = GhostscriptPath();
    if (!path.isEmpty() && QFileInfo(path).isDir())
        return QDir(path).filePath(QStringLiteral("gs"));
    return path;
}

QString XdgBaseFolder(const char* variable) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    return QDir::homePath() + (qstrcmp(variable, "XDG_DATA_HOME") == 0
                                   ? QStringLiteral("/.local/share")
                                   : QStringLiteral("/.config"));
}
