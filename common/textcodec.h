#pragma once
// The code page of the system's text files (座標.txt, 縮尺.txt, roomName.txt,
// curPass.txt, calibration files): CP932 (Shift-JIS) as on the target
// system, or UTF-8, chosen by the registry value "CodePage" under the Pointra
// key. Lines are written with CR LF and read with CR LF or LF.

#include <QByteArray>
#include <QString>
#include <QStringList>

class TextCodec {
public:
    // The codec named by "CodePage" under kPointraKey in the registry file in
    // force; CP932 when the value is missing, empty or names no known code page.
    static TextCodec fromRegistry();

    // "CP932" (also "Shift_JIS", "SJIS", "MS932", "Windows-31J"), "UTF-8"
    // (also "UTF8"), or any other name iconv knows. A name iconv does not know
    // gives an invalid codec that works as UTF-8.
    explicit TextCodec(const QString& name = QStringLiteral("CP932"));

    // Characters the code page cannot hold become '?'.
    QByteArray encode(const QString& text) const;
    // Bytes that are no character of the code page become U+FFFD.
    QString decode(const QByteArray& bytes) const;

    // The canonical name: "CP932", "UTF-8" or the name as given.
    QString name() const { return name_; }
    bool isUtf8() const { return utf8_; }
    bool isValid() const { return valid_; }

private:
    QString name_;
    bool utf8_ = false;
    bool valid_ = true;
};

// The lines of a text file: CR LF or LF line ends, a last line without an end
// is kept, a line end at the end of the file gives no extra empty line; a
// UTF-8 byte-order mark is dropped when the codec is UTF-8. An unreadable
// file gives no lines and *ok = false.
QStringList ReadTextLines(const QString& path, const TextCodec& codec, bool* ok = nullptr);

// Writes every line followed by CR LF, replacing the file whole (a temporary
// file renamed over it): the old file stays as it was when writing fails.
bool WriteTextLines(const QString& path, const QStringList& lines, const TextCodec& codec,
                    QString* error = nullptr);

// One line in the code page followed by CR LF.
QByteArray CrLfLine(const QString& line, const TextCodec& codec);
