#pragma once
// The exchange files of the installation folder, shared by the main program,
// the device programs and the estimating program's side:
//   座標.txt     the outline's points, one line of 20 characters per point
//   縮尺.txt     the drawing's scale denominator (one line)
//   roomName.txt the name of the room being taken off (one line)
//   curGazo.bmp  the sketch of the last outline
// Text files are in the configured code page (TextCodec) with CR LF.
//
// Coordinate line: column 1 blank (Numora's reader takes "4" there as the
// last line), X in columns 2-10, Y in columns 11-19, point code in column 20.
//
// Every reader reads regular files only and within a size bound (file_read.h),
// takes CR LF, LF and a lone CR as line ends and drops a UTF-8 byte-order
// mark. A number field must be a plain decimal (IsDecimalField) below
// kMaxCoordinateMetres: anything else refuses the whole file, so no outline
// is ever read half or wrong.

#include "common/core/result.h"
#include "common/core/textcodec.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>

#include <cstdint>

class OutlineStore;

// A file of the installation folder: the folder and the name with one "/"
// between them, whether or not the registered folder ends in "/". Every
// program names the files of the installation folder through it.
QString InstFilePath(const QString& instPath, const QString& name);

QString CoordFilePath(const QString& instPath);
QString ScaleFilePath(const QString& instPath);
QString RoomNameFilePath(const QString& instPath);
QString SketchFilePath(const QString& instPath);

// The outline store takes at most this many lines of 座標.txt (plus the end
// record the main program appends).
inline constexpr int kMaxCoordLines = 99;
// Characters a coordinate line must have (the code stands in column 20).
inline constexpr int kCoordLineLength = 20;
// Bytes 座標.txt may hold: far more than its 99 lines of 20 characters need,
// with room for longer lines and blank lines left at the end.
inline constexpr qint64 kMaxCoordFileBytes = 64 * 1024;
// Bytes the one line of roomName.txt or 縮尺.txt may hold.
inline constexpr qint64 kMaxLineFileBytes = 1024;

// ---------------------------------------------------------------------------
// The main program's reader.

struct CoordLine {
    QString xText;    // columns 2-10 as they stand
    QString yText;    // columns 11-19
    QString codeText; // column 20
    double x = 0.0;   // the number of xText
    double y = 0.0;   // the number of yText
    int code = 0;     // the code digit
};

// Reads every line of 座標.txt. Refused whole (a message naming the file and
// the line) when the file is missing, no
// regular file, unreadable or larger than kMaxCoordFileBytes, holds no
// line, holds more than kMaxCoordLines lines, has a line shorter than 20
// characters, a field that is no plain decimal or a coordinate of
// kMaxCoordinateMetres or more (the numbers are millimetres), or a code
// (column 20) that is not a digit.
// Blank lines at the end of the file (nothing or only blanks, as an editor
// may leave them) are not lines of the outline and are dropped; a blank line
// followed by coordinate lines is a short line and refuses the file.
Result<QVector<CoordLine>> ReadCoordLines(const QString& path, const TextCodec& codec);

// What the main program does with the lines read: the store's rows from 1
// on are the lines (their numbers taken as millimetres; the metre store gets
// one thousandth), then the end record (0, 0, 4); lastPointText is the last
// line's texts. finishedCount is left to the sketch. Refuses (false, store
// unchanged) more than kMaxCoordLines lines.
bool FillOutlineStore(OutlineStore& store, const QVector<CoordLine>& lines);

// ---------------------------------------------------------------------------
// The writers' line forms (without the line end).

// T5160: two blanks, CoordText(x), one blank, CoordText(y), the code
// (X in columns 3-10, Y in 12-19). (1.5, -0.75, 1) -> "  1.500000 -0.750001".
QString T5160CoordLine(double xMetres, double yMetres, int code);

// MT4500: one blank, the record's 9-character X field, its Y field, the code.
// A field shorter than 9 characters is padded with blanks on the left (its
// number reads the same); an empty result means a field longer than 9
// characters, which cannot be written without moving the columns.
QString Mt4500CoordLine(const QString& xField, const QString& yField, int code);

// The abandon line of the MT4500 (a blank, 18 zeros and the code 8).
inline constexpr const char* kMt4500AbandonLine = " 0000000000000000008";

// 座標.txt written as points arrive: open() opens the file, checks what it
// opened and only then empties it (a regular file only, by the rules of
// CheckWritingTo, but written in place: one without write permission is
// refused), or creates it; appendLine() writes one line and
// CR LF and pushes it to the disk before it returns, so the lines taken so
// far survive a crash or a power cut.
class CoordFileWriter {
public:
    explicit CoordFileWriter(const TextCodec& codec = TextCodec());
    ~CoordFileWriter();
    CoordFileWriter(const CoordFileWriter&) = delete;
    CoordFileWriter& operator=(const CoordFileWriter&) = delete;

    Result<> open(const QString& path);
    Result<> appendLine(const QString& line);
    void close();

    bool isOpen() const { return file_.isOpen(); }
    int linesWritten() const { return lines_; }

private:
    TextCodec codec_;
    QFile file_;
    int lines_ = 0;
};

// Replaces 座標.txt whole with the given lines (temporary file renamed over
// it), e.g. the MT4500's abandon line.
Result<> WriteCoordFileWhole(const QString& path, const QStringList& lines, const TextCodec& codec);

// ---------------------------------------------------------------------------
// Numora's reader.

struct NumoraPoint {
    float x = 0.0f; // millimetres
    float y = 0.0f;
    int16_t code = 0;
};

// Reads 座標.txt as Numora does, up to and including the line marked 4:
// column 1 "4" marks the last line, which is itself a point; column 2 "-"
// negates X, columns 3-10 are X in metres; column 11 and columns 12-19 the
// same for Y; column 20 the code. The values are Singles, times 1000. At
// most kMaxCoordLines lines are read.
// Refused with a message: a missing, unreadable or oversized file (as for
// ReadCoordLines), an empty file, a line shorter than 20 characters, a field
// that is no plain decimal or of kMaxCoordinateMetres or more, a code that
// is not a digit, the end of the file before a line marked 4, no line marked
// 4 within kMaxCoordLines.
Result<QVector<NumoraPoint>> ReadNumoraCoordFile(const QString& path, const TextCodec& codec);

// ---------------------------------------------------------------------------
// 縮尺.txt and roomName.txt.

// The single-line files are read up to the end of their first line, which
// must end within kMaxLineFileBytes; what follows it is not read.

struct ScaleFileContent {
    enum Status { Missing, Empty, TooLong, Present };
    Status status = Missing;
    QString firstLine; // when Present (may be empty for a file of just a line end)
    QString error;     // when Missing or TooLong: the message for the user
};

// Present when the file has a length greater than 0; Empty for a file of
// length 0 (the T5160 then asks for the scale); TooLong (with a message
// quoting its start) when the first line does not end within
// kMaxLineFileBytes; Missing (with a message) when there is no file, it is
// no regular file or it cannot be read.
ScaleFileContent ReadScaleFile(const QString& path, const TextCodec& codec);

// Rewrites 縮尺.txt whole with one line; the old file stays when this fails.
Result<> WriteScaleFile(const QString& path, const QString& scaleText, const TextCodec& codec);

// The first line of roomName.txt (empty for an empty file); a missing or
// unreadable file, one that is no regular file or whose first line does not
// end within kMaxLineFileBytes gives a message.
Result<QString> ReadRoomNameFile(const QString& path, const TextCodec& codec);

// ---------------------------------------------------------------------------

// Identity of a file at one moment, to tell whether a program that ran in
// between replaced or rewrote it (the size-input module renames a new
// 座標.txt over the old one; a cancelled run leaves it alone).
struct FileStamp {
    bool exists = false;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    quint64 inode = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampFile(const QString& path);
