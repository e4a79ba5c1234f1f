#include "common/exchange_files.h"

#include "common/atomic_file.h"
#include "common/numtext.h"
#include "common/outline_store.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString joinPath(const QString& instPath, const char* name, PathStyle style) {
    QString path = instPath;
    if (style == PathStyle::ExtraSeparator)
        path += u'/';
    return path + QString::fromUtf8(name);
}

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

// The lines of a file, or a message: missing, unreadable.
bool readLines(const QString& path, const TextCodec& codec, QStringList* lines, QString* error) {
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("%1 がありません（%2）。").arg(fileName(path), path);
        return false;
    }
    bool ok = false;
    *lines = ReadTextLines(path, codec, &ok);
    if (!ok) {
        *error = QStringLiteral("%1 を読めません（%2）。").arg(fileName(path), path);
        return false;
    }
    return true;
}

QString lineError(const QString& path, int lineNo, const QString& what) {
    return QStringLiteral("%1 の %2 行目%3").arg(fileName(path)).arg(lineNo).arg(what);
}

} // namespace

QString CoordFilePath(const QString& instPath, PathStyle style) {
    return joinPath(instPath, "座標.txt", style);
}

QString ScaleFilePath(const QString& instPath, PathStyle style) {
    return joinPath(instPath, "縮尺.txt", style);
}

QString RoomNameFilePath(const QString& instPath, PathStyle style) {
    return joinPath(instPath, "roomName.txt", style);
}

QString SketchFilePath(const QString& instPath, PathStyle style) {
    return joinPath(instPath, "curGazo.bmp", style);
}

CoordFileContent ReadCoordLines(const QString& path, const TextCodec& codec) {
    CoordFileContent result;
    QStringList lines;
    if (!readLines(path, codec, &lines, &result.error))
        return result;
    while (!lines.isEmpty() && isBlankLine(lines.last()))
        lines.removeLast();
    if (lines.isEmpty()) {
        result.error = QStringLiteral("%1 に座標がありません（%2）。").arg(fileName(path), path);
        return result;
    }
    if (lines.size() > kMaxCoordLines) {
        result.error =
            QStringLiteral("%1 の行が多すぎます（%2 行。取り込めるのは %3 行までです）。")
                .arg(fileName(path))
                .arg(lines.size())
                .arg(kMaxCoordLines);
        return result;
    }
    QVector<CoordLine> taken;
    taken.reserve(lines.size());
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (line.size() < kCoordLineLength) {
            result.error = lineError(path, i + 1,
                                     QStringLiteral("が短すぎます（%1 文字。%2 文字必要です）。")
                                         .arg(line.size())
                                         .arg(kCoordLineLength));
            return result;
        }
        CoordLine row;
        row.xText = line.mid(1, 9);
        row.yText = line.mid(10, 9);
        row.codeText = line.mid(19, 1);
        if (!isDigit(row.codeText[0])) {
            result.error = lineError(
                path, i + 1,
                QStringLiteral("の点コード「%1」が数字ではありません。").arg(row.codeText));
            return result;
        }
        row.x = Val(row.xText);
        row.y = Val(row.yText);
        row.code = row.codeText[0].unicode() - u'0';
        taken.push_back(row);
    }
    result.ok = true;
    result.lines = std::move(taken);
    return result;
}

bool FillOutlineStore(OutlineStore& store, const QVector<CoordLine>& lines) {
    if (lines.size() > kMaxCoordLines)
        return false;
    store.pointCount = 0;
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

bool CoordFileWriter::open(const QString& path, QString* error) {
    close();
    lines_ = 0;
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = QStringLiteral("%1 を書き込み用に開けません（%2）: %3")
                         .arg(fileName(path), path, file_.errorString());
        return false;
    }
    return true;
}

bool CoordFileWriter::appendLine(const QString& line, QString* error) {
    if (!file_.isOpen()) {
        if (error)
            *error = QStringLiteral("座標ファイルが開かれていません。");
        return false;
    }
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
    if (!ok) {
        if (error)
            *error = QStringLiteral("%1 に書き込めません（%2）: %3")
                         .arg(fileName(file_.fileName()), file_.fileName(),
                              err ? systemMessage(err) : file_.errorString());
        return false;
    }
    ++lines_;
    return true;
}

void CoordFileWriter::close() {
    if (file_.isOpen())
        file_.close();
}

bool WriteCoordFileWhole(const QString& path, const QStringList& lines, const TextCodec& codec,
                         QString* error) {
    return WriteTextLines(path, lines, codec, error);
}

NumoraOutline ReadNumoraCoordFile(const QString& path, const TextCodec& codec) {
    NumoraOutline result;
    QStringList lines;
    if (!readLines(path, codec, &lines, &result.error))
        return result;
    if (lines.isEmpty()) {
        result.error = QStringLiteral("%1 に座標がありません（%2）。").arg(fileName(path), path);
        return result;
    }
    QVector<NumoraPoint> points;
    for (int i = 0; i < kMaxCoordLines; ++i) {
        if (i >= lines.size()) {
            result.error =
                QStringLiteral(
                    "%1 に最後の行（1 桁目が 4 の行）がないまま、%2 行でファイルが終わっています。")
                    .arg(fileName(path))
                    .arg(lines.size());
            return result;
        }
        const QString& line = lines[i];
        if (line.size() < kCoordLineLength) {
            result.error = lineError(path, i + 1,
                                     QStringLiteral("が短すぎます（%1 文字。%2 文字必要です）。")
                                         .arg(line.size())
                                         .arg(kCoordLineLength));
            return result;
        }
        if (!isDigit(line[19])) {
            result.error =
                lineError(path, i + 1,
                          QStringLiteral("の点コード「%1」が数字ではありません。").arg(line[19]));
            return result;
        }
        NumoraPoint p;
        p.x = static_cast<float>(Val(line.mid(2, 8)));
        p.y = static_cast<float>(Val(line.mid(11, 8)));
        if (line[1] == u'-')
            p.x = -p.x;
        if (line[10] == u'-')
            p.y = -p.y;
        p.x = p.x * 1000.0f;
        p.y = p.y * 1000.0f;
        p.code = static_cast<int16_t>(line[19].unicode() - u'0');
        points.push_back(p);
        if (line[0] == u'4') {
            result.ok = true;
            result.points = std::move(points);
            return result;
        }
    }
    result.error = QStringLiteral("%1 の最初の %2 行に最後の行（1 桁目が 4 の行）がありません。")
                       .arg(fileName(path))
                       .arg(kMaxCoordLines);
    return result;
}

ScaleFileContent ReadScaleFile(const QString& path, const TextCodec& codec) {
    ScaleFileContent result;
    QStringList lines;
    if (!readLines(path, codec, &lines, &result.error))
        return result;
    if (QFileInfo(path).size() == 0) {
        result.status = ScaleFileContent::Empty;
        return result;
    }
    result.status = ScaleFileContent::Present;
    result.firstLine = lines.isEmpty() ? QString() : lines.first();
    return result;
}

bool WriteScaleFile(const QString& path, const QString& scaleText, const TextCodec& codec,
                    QString* error) {
    return WriteTextLines(path, {scaleText}, codec, error);
}

RoomNameContent ReadRoomNameFile(const QString& path, const TextCodec& codec) {
    RoomNameContent result;
    QStringList lines;
    if (!readLines(path, codec, &lines, &result.error))
        return result;
    result.ok = true;
    result.name = lines.isEmpty() ? QString() : lines.first();
    return result;
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
