#pragma once
// The registry file: a text file in the format of a Windows registry export
// standing in for HKEY_LOCAL_MACHINE, and GetRegistryValue over it.
//
// File location: $POINTRA_REGISTRY when set (the only place looked at then),
// else $XDG_CONFIG_HOME/pointra/registry.reg (default
// ~/.config/pointra/registry.reg), else /etc/pointra/registry.reg.
// UTF-8 (or UTF-16 with BOM), CR LF, LF or CR.
//
// The file is read within bounds, since every program reads it at start: at
// most kMaxRegistryFileBytes, lines of at most kMaxRegistryLineLength
// characters, keys at most kMaxRegistryKeyDepth levels deep (the limit of the
// Windows registry). A file past a bound, or without the export header, is
// not read at all (failure()).

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <stdexcept>

// The only root used by the system.
inline constexpr const char* HKEY_LOCAL_MACHINE = "HKEY_LOCAL_MACHINE";

// Main key of the system and its value names.
inline constexpr const char* kPointraKey = "Software\\VarnelSystem\\Pointra";
inline constexpr const char* kGhostscriptKey = "Software\\GPL Ghostscript\\8.64";

inline constexpr qint64 kMaxRegistryFileBytes = 1024 * 1024;
inline constexpr int kMaxRegistryLineLength = 8192;
inline constexpr int kMaxRegistryKeyDepth = 512;

// Value types as the registry numbers them.
enum RegistryType : int {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_MULTI_SZ = 7,
    REG_QWORD = 11,
};

struct RegistryRawValue {
    int type = REG_NONE;
    QByteArray data; // the value's bytes as the registry stores them (strings: UTF-16LE with NUL)
};

// Raised for a value of a type GetRegistryValue does not support.
class RegistryError : public std::runtime_error {
public:
    RegistryError(int number, const char* text) : std::runtime_error(text), number_(number) {}
    int number() const { return number_; }

private:
    int number_;
};

class RegistryFile {
public:
    // Parses registry export text; malformed lines are skipped (problems()).
    // Text without the export header, or past a bound, gives an empty
    // registry and failure().
    static RegistryFile parse(const QByteArray& fileBytes);
    // Reads the file at path. A missing file is an empty registry (nothing
    // is installed); one that cannot be read or parsed is an empty registry
    // with failure().
    static RegistryFile load(const QString& path);
    // The places the file is looked for, in order: a set $POINTRA_REGISTRY
    // alone, else the user's file and then the system's.
    static QStringList searchPlaces();
    // The registry file in force: the first of searchPlaces() that exists,
    // else the first of them.
    static QString defaultPath();
    static const RegistryFile& current();
    // Re-reads current() from defaultPath() (used after the environment changes, e.g. in tests).
    static void reload();

    bool hasKey(const QString& root, const QString& key) const;
    std::optional<RegistryRawValue> value(const QString& root, const QString& key,
                                          const QString& name) const;

    // Lines that were skipped while reading, as "line N: text" (and a note
    // when the file could not be read), so a tool can tell the user what in
    // the file was not understood.
    const QStringList& problems() const { return problems_; }

    // Why nothing of the file was taken, for the user; empty when it was
    // read. After load() the message names the file and where it is.
    const QString& failure() const { return failure_; }

private:
    void addProblem(int lineNo, const QString& text);
    void fail(const QString& why);
    void removeKey(const QString& folded);
    QStringList problems_;
    QString failure_;
    // The keys written in the file, each once, as "ROOT\\key" folded to lower
    // case (the registry's keys and names ignore case). The keys above a
    // written key exist without being stored: hasKey() finds them by prefix.
    QMap<QString, QMap<QString, RegistryRawValue>> keys_;
};

// Reads one value: text for REG_SZ / REG_EXPAND_SZ (not expanded), text with
// NUL separators for REG_MULTI_SZ (all but the last two NULs), qint32 for
// REG_DWORD, QByteArray for REG_BINARY; defaultValue when the key cannot be
// opened (and when the value is missing). Other types throw RegistryError(1001,
// "Unsupported value type").
// A missing value gives defaultValue, not error 1001: a failed query reports
// no type, which the type switch would otherwise treat as unsupported and
// raise at start-up for an optional value such as "GS_DLL".
// Strings drop only a terminating NUL that is present (a hex(1) value without
// one keeps all its characters); a multi-string drops at most its two final
// NULs; a double word shorter than four bytes is read with zero high bytes.
QVariant GetRegistryValue(const QString& root, const QString& keyName, const QString& valueName,
                          const QVariant& defaultValue = QVariant(QString()));

// The same lookup in a given registry (for tests and tools).
QVariant GetRegistryValue(const RegistryFile& reg, const QString& root, const QString& keyName,
                          const QString& valueName,
                          const QVariant& defaultValue = QVariant(QString()));

// Text of the value "InstPath" under kPointraKey in the registry file in
// force, as stored; empty when the key or value is missing or not a text.
// Never throws.
QString ReadInstPath();

// An XDG base folder, "XDG_CONFIG_HOME" or "XDG_DATA_HOME": the variable when
// it holds an absolute path, else its default under the home folder
// (~/.config, ~/.local/share).
QString XdgBaseFolder(const char* variable);

// Text of a value under HKEY_LOCAL_MACHINE\\key in the registry file in force:
// strings as they are, a double word as its decimal text; `def` when the key
// or value is missing or of another type. Never throws.
QString RegistryText(const QString& key, const QString& name, const QString& def = QString());

// A double word under HKEY_LOCAL_MACHINE\\key in the registry file in force; a
// string value holding a number (a hand-written file) is read as that
// number; `def` when missing or of another type. Never throws.
qint32 RegistryDword(const QString& key, const QString& name, qint32 def);

// The Ghostscript location (GsDllPath): the value "GS_DLL" of kGhostscriptKey
// as stored when it is a non-empty text (the program or its folder), else the
// program gs found on PATH, else empty.
QString GhostscriptPath();

// The Ghostscript program to run: GhostscriptPath(), with "/gs" appended when
// it names a folder; empty when Ghostscript is not found.
QString GhostscriptProgram();
