#include "common/core/exchange_files.h"

#include "common/core/atomic_file.h"
#include "common/core/file_read.h"
#include "common/core/numtext.h"
#include "common/core/outline_store.h"
#include "common/core/refusals.h"

#include <QFileInfo>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString fileName(const QString& path) {
    return QFileInfo(path).fileName();
}

QString systemMessage(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

bool isBlankLine(const QString& line) {
    for (QChar c : line) {
        if (c != u' ' && c != u'\t')
            return false;
    }
    return true;
}

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

QString lineError(const QString& path, int lineNo, const QString& what) {
    return QStringLiteral("%1 の %2 行目%3").arg(fileName(path)).arg(lineNo).arg(what);
}

// A coordinate field of line lineNo: a plain decimal below the bound once
// multiplied by toMetres. The number, or the message.
Result<double> coordField(const QString& path, int lineNo, const char* axis, const QString& field,
                          double toMetres) {
    if (!IsDecimalField(field))
        return Fail(lineError(path, lineNo,
                              QStringLiteral("の %1 座標「%2」が数値ではありません。")
                                  .arg(QLatin1String(axis), Brief(field))));
    const double v = Val(field);
    if (std::fabs(v * toMetres) >= kMaxCoordinateMetres)
        return Fail(lineError(path, lineNo,
                              QStringLiteral("の %1 座標「%2」が大きすぎます"
                                             "（%3 m 以上の座標は取り込めません）。")
                                  .arg(QLatin1String(axis), Brief(field))
                                  .arg(kMaxCoordinateMetres, 0, 'f', 0)));
    return v;
}

QString shortLineError(const QString& path, int lineNo, const QString& line) {
    return lineError(path, lineNo,
                     QStringLiteral("が短すぎます（%1 文字。%2 文字必要です）。")
                         .arg(line.size())
                         .arg(kCoordLineLength));
}

QString codeError(const QString& path, int lineNo, QChar code) {
    return lineError(path, lineNo,
                     QStringLiteral("の点コード「%1」が数字ではありません。").arg(Brief(code)));
}

// The first line of a single-line file, read up to its end (at most
// kMaxLineFileBytes). `empty` tells a file of length 0.
enum class FirstLine { Read, Failed, TooLong };
FirstLine readFirstLine(const QString& path, const TextCodec& codec, QString* line, bool* empty,
                        QString* error) {
    const Result<FileStart> file = ReadFileStart(path, kMaxLineFileBytes);
    if (!file) {
        *error = file.error();
        return FirstLine::Failed;
    }
    *empty = file->bytes.isEmpty();
    qsizetype end = 0;
    while (end < file->bytes.size() && file->bytes[end] != '\r' && file->bytes[end] != '\n')
        ++end;
    if (end == file->bytes.size() && file->more) {
        *error = QStringLiteral("%1 の 1 行目が長すぎます（%2 バイトまでです）:「%3」")
                     .arg(fileName(path))
                     .arg(kMaxLineFileBytes)
                     .arg(Brief(codec.decode(file->bytes.left(kBriefLength * 2))));
        return FirstLine::TooLong;
    }
    *line = SplitTextLines(file->bytes.left(end), codec).value(0);
    return FirstLine::Read;
}

} // namespace

QString InstFilePath(const QString& instPath, const QString& name) {
    if (instPath.isEmpty() || instPath.endsWith(u'/'))
        return instPath + name;
    return instPath + u'/' + name;
}

QString CoordFilePath(const QString& instPath) {
    return InstFilePath(instPath, QStringLiteral("座標.txt"));
}

QString ScaleFilePath(const QString& instPath) {
    return InstFilePath(instPath, QStringLiteral("縮尺.txt"));
}

QString RoomNameFilePath(const QString& instPath) {
    return InstFilePath(instPath, QStringLiteral("roomName.txt"));
}

QString SketchFilePath(const QString& instPath) {
    return InstFilePath(instPath, QStringLiteral("curGazo.bmp"));
}

Result<QVector<CoordLine>> ReadCoordLines(const QString& path, const TextCodec& codec) {
    Result<QStringList> read = ReadTextFile(path, codec, kMaxCoordFileBytes);
    if (!read)
        return Fail(read.error());
    QStringList& lines = *read;
    while (!lines.isEmpty() && isBlankLine(lines.last()))
        lines.removeLast();
    if (lines.isEmpty())
        return Fail(QStringLiteral("%1 に座標がありません（%2）。").arg(fileName(path), path));
    if (lines.size() > kMaxCoordLines)
        return Fail(QStringLiteral("%1 の行が多すぎます（%2 行。取り込めるのは %3 行までです）。")
                        .arg(fileName(path))
                        .arg(lines.size())
                        .arg(kMaxCoordLines));
    QVector<CoordLine> taken;
    taken.reserve(lines.size());
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (line.size() < kCoordLineLength)
            return Fail(shortLineError(path, i + 1, line));
        CoordLine row;
        row.xText = line.mid(1, 9);
        row.yText = line.mid(10, 9);
        row.codeText = line.mid(19, 1);
        // The main program takes the file's numbers as millimetres.
        const Result<double> x = coordField(path, i + 1, "X", row.xText, 0.001);
        if (!x)
            return Fail(x.error());
        const Result<double> y = coordField(path, i + 1, "Y", row.yText, 0.001);
        if (!y)
            return Fail(y.error());
        if (!isDigit(row.codeText[0]))
            return Fail(codeError(path, i + 1, row.codeText[0]));
        row.x = *x;
        row.y = *y;
        row.code = row.codeText[0].unicode() - u'0';
        taken.push_back(row);
    }
    return taken;
}

bool FillOutlineStore(OutlineStore& store, const QVector<CoordLine>& lines) {
    if (lines.size() > kMaxCoordLines)
        return false;
    store.beginOutline();
    for (const CoordLine& line : lines)
        store.appendMillimetres(line.x, line.y, static_cast<float>(line.code));
    if (!lines.isEmpty())
        store.lastPointText = {lines.last().xText, lines.last().yText, lines.last().codeText};
    store.appendMillimetres(0.0, 0.0, 4.0f);
    return true;
}

QString T5160CoordLine(double xMetres, double yMetres, int code) {
    return QStringLiteral("  ") + CoordText(xMetres) + u' ' + CoordText(yMetres) +
           QString::number(code);
}

QString Mt4500CoordLine(const QString& xField, const QString& yField, int code) {
    if (xField.size() > 9 || yField.size() > 9)
        return QString();
    return u' ' + xField.rightJustified(9, u' ') + yField.rightJustified(9, u' ') +
           QString::number(code);
}

CoordFileWriter::CoordFileWriter(const TextCodec& codec) : codec_(codec) {}

CoordFileWriter::~CoordFileWriter() {
    close();
}

Result<> CoordFileWriter::open(const QString& path) {
    close();
    lines_ = 0;
    // Opened first, then checked, then emptied (never checked and then
    // opened by name): only a regular file is emptied, a FIFO is not waited
    // on, a device is no place for the points, and a link is written through
    // only where a replacement would follow it.
    const Result<int> opened = OpenEmptiedInPlace(path);
    if (!opened)
        return Fail(opened.error());
    // QFile owns the descriptor from here.
    if (!file_.open(*opened, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return Fail(QStringLiteral("%1 を書き込み用に開けません（%2）: %3")
                        .arg(fileName(path), path, file_.errorString()));
    // A file opened by its descriptor has no name of its own: the object's
    // name keeps it for the messages.
    file_.setObjectName(path);
    return {};
}

Result<> CoordFileWriter::appendLine(const QString& line) {
    if (!file_.isOpen())
        return Fail(QStringLiteral("座標ファイルが開かれていません。"));
    const QByteArray bytes = CrLfLine(line, codec_);
    bool ok = file_.write(bytes) == bytes.size() && file_.flush();
    int err = 0;
    if (ok) {
        while (::fsync(file_.handle()) != 0) {
            if (errno != EINTR) {
                err = errno;
                ok = false;
                break;
            }
        }
    }
    if (!ok)
        return Fail(QStringLiteral("%1 に書き込めません（%2）: %3")
                        .arg(fileName(file_.objectName()), file_.objectName(),
                             err ? systemMessage(err) : file_.errorString()));
    ++lines_;
    return {};
}

void CoordFileWriter::close() {
    if (file_.isOpen())
        file_.close();
}

Result<> WriteCoordFileWhole(const QString& path, const QStringList& lines,
                             const TextCodec& codec) {
    return WriteTextLines(path, lines, codec);
}

Result<QVector<NumoraPoint>> ReadNumoraCoordFile(const QString& path, const TextCodec& codec) {
    const Result<QStringList> read = ReadTextFile(path, codec, kMaxCoordFileBytes);
    if (!read)
        return Fail(read.error());
    const QStringList& lines = *read;
    if (lines.isEmpty())
        return Fail(QStringLiteral("%1 に座標がありません（%2）。").arg(fileName(path), path));
    QVector<NumoraPoint> points;
    for (int i = 0; i < kMaxCoordLines; ++i) {
        if (i >= lines.size())
            return Fail(
                QStringLiteral(
                    "%1 に最後の行（1 桁目が 4 の行）がないまま、%2 行でファイルが終わっています。")
                    .arg(fileName(path))
                    .arg(lines.size()));
        const QString& line = lines[i];
        if (line.size() < kCoordLineLength)
            return Fail(shortLineError(path, i + 1, line));
        const Result<double> x = coordField(path, i + 1, "X", line.mid(2, 8), 1.0);
        if (!x)
            return Fail(x.error());
        const Result<double> y = coordField(path, i + 1, "Y", line.mid(11, 8), 1.0);
        if (!y)
            return Fail(y.error());
        if (!isDigit(line[19]))
            return Fail(codeError(path, i + 1, line[19]));
        NumoraPoint p;
        p.x = static_cast<float>(*x);
        p.y = static_cast<float>(*y);
        if (line[1] == u'-')
            p.x = -p.x;
        if (line[10] == u'-')
            p.y = -p.y;
        p.x = p.x * 1000.0f;
        p.y = p.y * 1000.0f;
        p.code = static_cast<int16_t>(line[19].unicode() - u'0');
        points.push_back(p);
        if (line[0] == u'4')
            return points;
    }
    return Fail(QStringLiteral("%1 の最初の %2 行に最後の行（1 桁目が 4 の行）がありません。")
                    .arg(fileName(path))
                    .arg(kMaxCoordLines));
}

ScaleFileContent ReadScaleFile(const QString& path, const TextCodec& codec) {
    ScaleFileContent result;
    bool empty = false;
    switch (readFirstLine(path, codec, &result.firstLine, &empty, &result.error)) {
    case FirstLine::Failed:
        result.status = ScaleFileContent::Missing;
        break;
    case FirstLine::TooLong:
        result.status = ScaleFileContent::TooLong;
        break;
    case FirstLine::Read:
        result.status = empty ? ScaleFileContent::Empty : ScaleFileContent::Present;
        break;
    }
    return result;
}

Result<> WriteScaleFile(const QString& path, const QString& scaleText, const TextCodec& codec) {
    return WriteTextLines(path, {scaleText}, codec);
}

Result<QString> ReadRoomNameFile(const QString& path, const TextCodec& codec) {
    QString name;
    QString error;
    bool empty = false;
    if (readFirstLine(path, codec, &name, &empty, &error) != FirstLine::Read)
        return Fail(error);
    return name;
}

FileStamp StampFile(const QString& path) {
    FileStamp stamp;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.size = st.st_size;
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.inode = st.st_ino;
    return stamp;
}
