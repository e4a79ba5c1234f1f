#include "main/image/calibration.h"

#include "common/numtext.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Two lines of twelve short fields: anything much larger is no calibration file.
constexpr qint64 kMaxCalibrationFileBytes = 64 * 1024;

} // namespace

CalibrationTexts CalibrationTexts::defaults() {
    CalibrationTexts t;
    t.x.fill(QStringLiteral("1"));
    t.y.fill(QStringLiteral("1"));
    t.X(CalRow::Unit) = QStringLiteral("ｍ");
    t.Y(CalRow::Unit) = QStringLiteral("ｍ");
    return t;
}

QString CalibrationFilePath(const QString& imagePath) {
    return imagePath + QStringLiteral(".inf");
}

QStringList CalibrationFileLines(const CalibrationTexts& texts) {
    QStringList xs(texts.x.begin(), texts.x.end());
    QStringList ys(texts.y.begin(), texts.y.end());
    return {xs.join(QLatin1Char(',')), ys.join(QLatin1Char(','))};
}

bool WriteCalibrationFile(const QString& path, const CalibrationTexts& texts,
                          const TextCodec& codec, QString* error) {
    return WriteTextLines(path, CalibrationFileLines(texts), codec, error);
}

CalibrationRead ReadCalibrationFile(const QString& path, const TextCodec& codec,
                                    CalibrationTexts& texts) {
    CalibrationRead read;
    const QFileInfo info(path);
    if (!info.isFile()) {
        read.error = QStringLiteral("校正ファイルがありません: ") + path;
        return read;
    }
    if (info.size() > kMaxCalibrationFileBytes) {
        read.error = QStringLiteral("校正ファイルが大きすぎます: ") + path;
        return read;
    }
    const TextFileContent file = ReadTextFile(path, codec, kMaxCalibrationFileBytes);
    const QStringList& lines = file.lines;
    if (!file.ok) {
        read.error = QStringLiteral("校正ファイルを読めません: ") + path;
        return read;
    }
    for (const QString& line : lines) {
        for (const QString& item : line.split(QLatin1Char(','))) {
            if (read.items >= kCalItems)
                break;
            QString& target =
                read.items < kCalRows ? texts.x[read.items] : texts.y[read.items - kCalRows];
            target = item;
            ++read.items;
        }
    }
    read.ok = read.items == kCalItems;
    if (!read.ok)
        read.error = QStringLiteral("校正ファイルの値が足りません（%1 / %2）: ")
                         .arg(read.items)
                         .arg(kCalItems) +
                     path;
    return read;
}

DrawingFrame DrawingFrame::from(const CalibrationTexts& texts, float zoom, float metresPerUnitX,
                                float metresPerUnitY) {
    DrawingFrame f;
    f.originX = Val(texts.X(CalRow::Origin));
    f.originY = Val(texts.Y(CalRow::Origin));
    f.refX = Val(texts.X(CalRow::OriginCoordinate));
    f.refY = Val(texts.Y(CalRow::OriginCoordinate));
    f.zoom = zoom;
    f.metresPerUnitX = metresPerUnitX;
    f.metresPerUnitY = metresPerUnitY;
    return f;
}

DrawingPoint PositionToDrawing(float x, float y, const DrawingFrame& f) {
    DrawingPoint p;
    p.x = (double(x) - f.originX * double(f.zoom)) * double(f.metresPerUnitX) + f.refX;
    p.y = (f.originY * double(f.zoom) - double(y)) * double(f.metresPerUnitY) + f.refY;
    return p;
}
