#include "main/image/pixels.h"

#include "common/atomic_file.h"
#include "main/image/picture_data.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace {

const QString kGetSource = QStringLiteral("DDBHelper.GetBitmapPixels");
const QString kMatchSource = QStringLiteral("DDBHelper.MatchColorPalette");

QList<QRgb> GreyRamp() {
    QList<QRgb> ramp(256);
    for (int i = 0; i < 256; ++i)
        ramp[i] = qRgb(i, i, i);
    return ramp;
}

QRgb RecordColour(const PixelRecord& p) {
    return qRgb(p.red, p.green, p.blue);
}

} // namespace

void PixelArray::setSize(int width, int height) {
    width_ = std::clamp(width, 0, kMaxSide);
    height_ = std::clamp(height, 0, kMaxSide);
    if (width_ == 0 || height_ == 0)
        width_ = height_ = 0;
}

void PixelArray::resize(int width, int height) {
    setSize(width, height);
    data_.assign(std::size_t(width_) * std::size_t(height_), PixelRecord{});
}

void PixelArray::reshape(int width, int height) {
    setSize(width, height);
    const std::size_t n = std::size_t(width_) * std::size_t(height_);
    if (n != data_.size()) {
        data_.clear();
        data_.shrink_to_fit();
        data_.resize(n);
    }
}

void PixelArray::clear() {
    setSize(0, 0);
    data_.clear();
    data_.shrink_to_fit();
}

BitmapError::BitmapError(int32_t number, const QString& source, const QString& description)
    : std::runtime_error(description.toStdString()), number_(number), source_(source),
      description_(description) {}

void CheckDepth(int depth) {
    switch (depth) {
    case 8:
    case 15:
    case 16:
    case 24:
    case 32:
        return;
    default:
        throw BitmapError(kInvalidDepthError, kGetSource,
                          QStringLiteral("Invalid number of bits per pixel: ") +
                              QString::number(depth));
    }
}

int DepthFromWhite16(uint16_t whiteValue) {
    return (whiteValue & 0x8000) ? 16 : 15;
}

qsizetype WrittenRowLength(int width, int depth) {
    CheckDepth(depth);
    const int bytes = depth == 8 ? 1 : depth == 24 ? 3 : depth == 32 ? 4 : 2;
    const qsizetype n = qsizetype(width) * bytes;
    return (n + 1) & ~qsizetype(1);
}

void RowsToPixels(const uint8_t* bits, qsizetype bytesPerLine, int depth,
                  const QList<QRgb>& palette, PixelArray& pixels) {
    CheckDepth(depth);
    const int w = pixels.width();
    for (int y = 0; y < pixels.height(); ++y) {
        const uint8_t* src = bits + qsizetype(y) * bytesPerLine;
        PixelRecord* dst = pixels.row(y);
        switch (depth) {
        case 8:
            for (int x = 0; x < w; ++x) {
                const QRgb c = src[x] < palette.size() ? palette[src[x]] : 0;
                dst[x] = PixelRecord{uint8_t(qBlue(c)), uint8_t(qGreen(c)), uint8_t(qRed(c))};
            }
            break;
        case 15:
        case 16:
            for (int x = 0; x < w; ++x) {
                const unsigned v = src[2 * x] + 256u * src[2 * x + 1];
                if (depth == 15)
                    dst[x] =
                        PixelRecord{uint8_t(v % 32), uint8_t((v / 32) % 32), uint8_t(v / 1024)};
                else
                    dst[x] =
                        PixelRecord{uint8_t(v % 32), uint8_t((v / 32) % 64), uint8_t(v / 2048)};
            }
            break;
        case 24:
            // The record has the byte order of the row: whole rows are copied.
            std::memcpy(dst, src, std::size_t(w) * 3);
            break;
        case 32:
            for (int x = 0; x < w; ++x)
                dst[x] = PixelRecord{src[4 * x], src[4 * x + 1], src[4 * x + 2]};
            break;
        }
    }
}

int NearestPaletteIndex(const QList<QRgb>& palette, QRgb colour) {
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < palette.size(); ++i) {
        const long dr = qRed(palette[i]) - qRed(colour);
        const long dg = qGreen(palette[i]) - qGreen(colour);
        const long db = qBlue(palette[i]) - qBlue(colour);
        const long d = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
            if (d == 0)
                break;
        }
    }
    return best;
}

void PixelsToRowsInto(PixelArray& pixels, int depth, const QList<QRgb>& palette, uint8_t* bits,
                      qsizetype bytesPerLine, uint8_t padByte) {
    CheckDepth(depth);
    const int w = pixels.width();
    // A drawing has few distinct colours: each is looked up once, and runs
    // of one colour not even that.
    std::unordered_map<QRgb, uint8_t> nearest;
    QRgb lastColour = 0;
    uint8_t lastIndex = 0;
    bool haveLast = false;
    for (int y = 0; y < pixels.height(); ++y) {
        uint8_t* dst = bits + qsizetype(y) * bytesPerLine;
        PixelRecord* src = pixels.row(y);
        switch (depth) {
        case 8:
            for (int x = 0; x < w; ++x) {
                const QRgb c = RecordColour(src[x]);
                if (!haveLast || c != lastColour) {
                    auto it = nearest.find(c);
                    if (it == nearest.end())
                        it = nearest.emplace(c, uint8_t(NearestPaletteIndex(palette, c) & 0xff))
                                 .first;
                    lastColour = c;
                    lastIndex = it->second;
                    haveLast = true;
                }
                dst[x] = lastIndex;
            }
            break;
        case 15:
        case 16:
            for (int x = 0; x < w; ++x) {
                PixelRecord& p = src[x];
                p.red = std::min<uint8_t>(p.red, 31);
                p.blue = std::min<uint8_t>(p.blue, 31);
                p.green = std::min<uint8_t>(p.green, depth == 15 ? 31 : 63);
                const unsigned v = depth == 15 ? (p.red * 32u + p.green) * 32u + p.blue
                                               : (p.red * 64u + p.green) * 32u + p.blue;
                dst[2 * x] = uint8_t(v % 256);
                dst[2 * x + 1] = uint8_t(v / 256);
            }
            break;
        case 24:
            std::memcpy(dst, src, std::size_t(w) * 3);
            break;
        case 32:
            // Blue, green, red and the pad byte, little-endian: one word a pixel.
            for (int x = 0; x < w; ++x) {
                const uint32_t v = uint32_t(src[x].blue) | uint32_t(src[x].green) << 8 |
                                   uint32_t(src[x].red) << 16 | uint32_t(padByte) << 24;
                std::memcpy(dst + 4 * x, &v, 4);
            }
            break;
        }
    }
}

QByteArray PixelsToRows(PixelArray& pixels, int depth, const QList<QRgb>& palette) {
    const qsizetype rowLength = WrittenRowLength(pixels.width(), depth);
    QByteArray out(rowLength * pixels.height(), '\0');
    if (!out.isEmpty())
        PixelsToRowsInto(pixels, depth, palette, reinterpret_cast<uint8_t*>(out.data()), rowLength);
    return out;
}

bool IsPixelFormat(QImage::Format format) {
    switch (format) {
    case QImage::Format_Indexed8:
    case QImage::Format_RGB555:
    case QImage::Format_RGB16:
    case QImage::Format_BGR888:
    case QImage::Format_RGB32:
        return true;
    default:
        return false;
    }
}

QImage::Format FormatOfDepth(int depth) {
    CheckDepth(depth);
    switch (depth) {
    case 8:
        return QImage::Format_Indexed8;
    case 15:
        return QImage::Format_RGB555;
    case 16:
        return QImage::Format_RGB16;
    case 24:
        return QImage::Format_BGR888;
    default:
        return QImage::Format_RGB32;
    }
}

int DepthOfImage(const QImage& image) {
    switch (image.format()) {
    case QImage::Format_Indexed8:
        return 8;
    case QImage::Format_RGB555:
        return 15;
    case QImage::Format_RGB16:
        return 16;
    case QImage::Format_BGR888:
        return 24;
    case QImage::Format_RGB32:
        return 32;
    default:
        return 0;
    }
}

QImage ToPixelFormat(const QImage& loaded) {
    if (loaded.isNull() || IsPixelFormat(loaded.format()))
        return loaded;
    switch (loaded.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        // Qt widens the bits to bytes and keeps the two colours.
        return loaded.convertToFormat(QImage::Format_Indexed8);
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
    case QImage::Format_Alpha8: {
        const QImage grey = loaded.format() == QImage::Format_Grayscale8
                                ? loaded
                                : loaded.convertToFormat(QImage::Format_Grayscale8);
        QImage out(grey.size(), QImage::Format_Indexed8);
        if (out.isNull())
            return out;
        out.setColorTable(GreyRamp());
        for (int y = 0; y < grey.height(); ++y)
            std::memcpy(out.scanLine(y), grey.constScanLine(y), std::size_t(grey.width()));
        out.setDotsPerMeterX(loaded.dotsPerMeterX());
        out.setDotsPerMeterY(loaded.dotsPerMeterY());
        return out;
    }
    default:
        break;
    }
    if (!loaded.hasAlphaChannel())
        return loaded.convertToFormat(QImage::Format_RGB32);
    QImage out(loaded.size(), QImage::Format_RGB32);
    if (out.isNull())
        return out;
    out.fill(Qt::white);
    QPainter p(&out);
    p.drawImage(0, 0, loaded);
    p.end();
    out.setDotsPerMeterX(loaded.dotsPerMeterX());
    out.setDotsPerMeterY(loaded.dotsPerMeterY());
    return out;
}

void MatchColorPalette(QImage& picture) {
    if (picture.format() != QImage::Format_Indexed8)
        throw BitmapError(kPaletteMatchError, kMatchSource,
                          QStringLiteral("Error matching bitmap palette"));
    QList<QRgb> table = picture.colorTable();
    if (table.size() < 256) {
        table.resize(256, qRgb(0, 0, 0));
        picture.setColorTable(table);
    }
}

void GetBitmapPixels(QImage& picture, PixelArray& pixels, int16_t& colourDepth) {
    if (!IsPixelFormat(picture.format()))
        picture = ToPixelFormat(picture);
    int depth = picture.depth();
    if (depth == 16 && !picture.isNull()) {
        // Both 16-bit layouts report 16 bits: white tells them apart.
        const QRgb kept = picture.pixel(0, 0);
        picture.setPixel(0, 0, qRgb(255, 255, 255));
        const uint8_t* b = picture.constScanLine(0);
        depth = DepthFromWhite16(uint16_t(b[0] | (b[1] << 8)));
        picture.setPixel(0, 0, kept);
    }
    CheckDepth(depth);
    pixels.reshape(picture.width(), picture.height());
    QList<QRgb> palette;
    if (depth == 8) {
        MatchColorPalette(picture);
        palette = picture.colorTable();
    }
    if (!pixels.empty())
        RowsToPixels(picture.constBits(), picture.bytesPerLine(), depth, palette, pixels);
    colourDepth = int16_t(depth);
}

void SetBitmapPixels(QImage& picture, int16_t colourDepth, PixelArray& pixels) {
    const QImage::Format format = FormatOfDepth(colourDepth);
    QList<QRgb> palette;
    if (colourDepth == 8) {
        palette = picture.colorTable();
        if (palette.isEmpty())
            palette = GreyRamp();
    }
    QImage out(pixels.width(), pixels.height(), format);
    if (out.isNull() && !pixels.empty())
        throw BitmapError(kOutOfMemoryError, QStringLiteral("DDBHelper.SetBitmapPixels"),
                          QStringLiteral("メモリが不足しています"));
    if (colourDepth == 8)
        out.setColorTable(palette);
    // The rows go straight into the picture's own; Qt's RGB32 keeps 0xff in
    // the byte the record leaves out.
    if (!out.isNull())
        PixelsToRowsInto(pixels, colourDepth, palette, out.bits(), out.bytesPerLine(), 0xff);
    out.setDotsPerMeterX(picture.dotsPerMeterX());
    out.setDotsPerMeterY(picture.dotsPerMeterY());
    picture = std::move(out);
}

void RotatePixels(const PixelArray& pixels, QuarterTurn turn, PixelArray& rotated) {
    const int w = pixels.width();
    const int h = pixels.height();
    rotated.reshape(h, w);
    // A strip of source rows at a time: each source column of the strip
    // becomes a short run of one turned row, so reads stay in the cache and
    // writes are sequential.
    constexpr int kStrip = 64;
    const PixelRecord* src[kStrip];
    for (int by = 0; by < h; by += kStrip) {
        const int n = std::min(kStrip, h - by);
        for (int k = 0; k < n; ++k)
            src[k] = pixels.row(by + k);
        for (int x = 0; x < w; ++x) {
            if (turn == QuarterTurn::Right) {
                // (x, y) -> (h - 1 - y, x)
                PixelRecord* d = rotated.row(x) + (h - 1 - by);
                for (int k = 0; k < n; ++k)
                    d[-k] = src[k][x];
            } else {
                // (x, y) -> (y, w - 1 - x)
                PixelRecord* d = rotated.row(w - 1 - x) + by;
                for (int k = 0; k < n; ++k)
                    d[k] = src[k][x];
            }
        }
    }
}

std::optional<QString> RefuseRotation(qint64 width, qint64 height) {
    if (width <= PixelArray::kMaxSide && height <= PixelArray::kMaxSide)
        return std::nullopt;
    return QStringLiteral("画像が大きすぎるため回転できません（%1 × %2 ピクセル、一辺 %3 "
                          "ピクセルまで）")
        .arg(width)
        .arg(height)
        .arg(PixelArray::kMaxSide);
}

bool DCSavetoJPEG(const QImage& image, const QString& path, int quality, QString* error) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("画像を保存できませんでした: ") + path +
                     QStringLiteral("\r\n") + why;
        return false;
    };
    if (image.isNull())
        return fail(QStringLiteral("画像がありません"));
    // Encoded whole first: the file is replaced only by a complete JPEG.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    if (!writer.write(image))
        return fail(writer.errorString());
    buffer.close();
    QString why;
    if (!WriteFileAtomically(path, bytes, &why))
        return fail(why);
    return true;
}

QImage LoadPicture(const QString& path, QString* description, const QString& shownPath) {
    const QString name = shownPath.isEmpty() ? path : shownPath;
    auto fail = [&](const QString& why) {
        if (description)
            *description = why;
        return QImage();
    };
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return fail(QStringLiteral("ファイルが見つかりません: ") + name);
    if (!info.isFile())
        return fail(QStringLiteral("画像ファイルではありません: ") + name);
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (size.isValid() &&
        (size.width() > PixelArray::kMaxSide || size.height() > PixelArray::kMaxSide))
        return fail(QStringLiteral("画像が大きすぎます（%1 × %2 ピクセル、一辺 %3 ピクセルまで）: ")
                        .arg(size.width())
                        .arg(size.height())
                        .arg(PixelArray::kMaxSide) +
                    name);
    if (size.isValid() && qint64(size.width()) * size.height() * 4 > kMaxPictureBytes)
        return fail(QStringLiteral("画像が大きすぎます（%1 × %2 ピクセル）: ")
                        .arg(size.width())
                        .arg(size.height()) +
                    name);
    // A header whose data the file does not hold is not decoded at all.
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const PictureData data = CheckPictureData(file);
        if (data.cut)
            return fail(QStringLiteral("画像データが途中で切れています") +
                        (data.claimed.isValid() ? QStringLiteral("（%1 × %2 ピクセル）")
                                                      .arg(data.claimed.width())
                                                      .arg(data.claimed.height())
                                                : QString()) +
                        QStringLiteral(": ") + name);
    }
    file.close();
    // The reader's own cap is below a big scan; the checks above bound it.
    QImageReader::setAllocationLimit(int(kMaxPictureBytes / (1024 * 1024)) + 1);
    QImage image = reader.read();
    if (image.isNull())
        return fail(QStringLiteral("画像を読み込めません: ") + name + QStringLiteral("\r\n") +
                    reader.errorString());
    if (image.width() > PixelArray::kMaxSide || image.height() > PixelArray::kMaxSide)
        return fail(QStringLiteral("画像が大きすぎます（一辺 %1 ピクセルまで）: ")
                        .arg(PixelArray::kMaxSide) +
                    name);
    QImage converted = ToPixelFormat(image);
    if (converted.isNull())
        return fail(QStringLiteral("メモリが不足しています: ") + name);
    return converted;
}

DrawingPicture ReadDrawingPicture(const QString& path, const QString& shownPath) {
    DrawingPicture d;
    d.picture = LoadPicture(path, &d.error, shownPath);
    if (d.picture.isNull())
        return d;
    try {
        GetBitmapPixels(d.picture, d.pixels, d.colourDepth);
    } catch (const BitmapError& e) {
        d.error = e.description();
        d.picture = QImage();
        d.pixels.clear();
        return d;
    }
    // A scan in black and white or greyscale is held as 8 bits.
    d.shown = d.picture.format() == QImage::Format_RGB32
                  ? d.picture
                  : d.picture.convertToFormat(QImage::Format_RGB32);
    if (d.shown.isNull()) {
        d.error =
            QStringLiteral("メモリが不足しています: ") + (shownPath.isEmpty() ? path : shownPath);
        d.picture = QImage();
        d.pixels.clear();
    }
    return d;
}
