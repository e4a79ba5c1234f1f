#pragma once
// The code page of the system's text files (座標.txt, 縮尺.txt, roomName.txt,
// curPass.txt, calibration files): CP932 (Shift-JIS) as on the target
// system, or UTF-8, chosen by the registry value "CodePage" under the Pointra
// key. Lines are written with CR LF and read with CR LF, LF or a lone CR.
//
// No other code page is taken: the files are read by the estimating program's
// side as Shift-JIS (or UTF-8), and a code page such as UTF-16 or UCS-4 would
// rewrite 縮尺.txt into bytes nobody else can read.

#include "common/core/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class TextCodec {
public:
    // The codec named by "CodePage" under kPointraKey in the registry file in
    // force; CP932 when the value is missing or empty. A value naming another
    // code page also gives CP932, with the message refusing it in *refusal
    // (the programs refuse to start then: see CheckInstallation() in
    // common/installation.h).
    static TextCodec fromRegistry(QString* refusal = nullptr);

    // "CP932" (also "Shift_JIS", "SJIS", "MS932", "Windows-31J") or "UTF-8"
    // (also "UTF8"), in any case. Any other name gives an invalid codec that
    // works as CP932.
    explicit TextCodec(const QString& name = QStringLiteral("CP932"));

    // Characters the code page cannot hold become '?'.
    QByteArray encode(const QString& text) const;
    // Every character of the text has a code in the code page: it is read
    // back from a file as it was written.
    bool canEncode(const QString& text) const;
    // Bytes that are no character of the code page become U+FFFD.
    QString decode(const QByteArray& bytes) const;

    // The canonical name: "CP932" or "UTF-8".
    QString name() const { return name_; }
    bool isUtf8() const { return utf8_; }
    bool isValid() const { return valid_; }

private:
    QString name_;
    bool utf8_ = false;
    bool valid_ = true;
};

// The lines of a text: CR LF, LF and a lone CR each end a line, a last line
// without an end is kept, a line end at the end gives no extra empty line. A
// UTF-8 byte-order mark at the start is dropped whatever the code page (read
// as CP932 it would become two characters that shift every column).
QStringList SplitTextLines(const QByteArray& bytes, const TextCodec& codec);

// The lines of a regular file of at most maxBytes bytes (ReadWholeFile):
// a missing file, one that is no regular file or one that is larger is
// refused with a message naming the file and its path.
Result<QStringList> ReadTextFile(const QString& path, const TextCodec& codec, qint64 maxBytes);

// Writes every line followed by CR LF, replacing the file whole (a temporary
// file renamed over it): the old file stays as it was when writing fails.
Result<> WriteTextLines(const QString& path, const QStringList& lines, const TextCodec& codec);

// One line in the code page followed by CR LF.
QByteArray CrLfLine(const QString& line, const TextCodec& codec);
