#include "main/image/pixels.h"

#include "common/core/bmp24.h"

#include "common/core/atomic_file.h"
#include "main/image/picture_data.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>
#include <unordered_map>
#include <vector>

// libjpeg's header needs FILE declared first.
#include <jpeglib.h>

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

// Rows of a quarter turn are made a band at a time: each source row gives a
// short run of every row of the band, so reads stay in the cache and a band
// of the turned picture is all that is held at once.
constexpr int kTurnBand = 256;

// Rows r0 to r0 + n - 1 of the picture (w x h pixels of type P, srcStride
// bytes a row) turned by a quarter, into dst (dstStride bytes a row, h
// pixels each). Right: turned (h - 1 - y, x) = (x, y); left: (y, w - 1 - x).
template <class P>
void TurnedRows(const uint8_t* src, qsizetype srcStride, int w, int h, QuarterTurn turn, int r0,
                int n, uint8_t* dst, qsizetype dstStride) {
    // In tiles of kTile source rows: the tile's runs stay in the cache while
    // each turned row receives kTile neighbouring pixels at once.
    constexpr int kTile = 16;
    for (int y0 = 0; y0 < h; y0 += kTile) {
        const int m = std::min(kTile, h - y0);
        const P* s[kTile];
        for (int i = 0; i < m; ++i)
            s[i] = reinterpret_cast<const P*>(src + qsizetype(y0 + i) * srcStride);
        for (int k = 0; k < n; ++k) {
            P* d = reinterpret_cast<P*>(dst + qsizetype(k) * dstStride);
            if (turn == QuarterTurn::Right) {
                const int x = r0 + k;
                for (int i = 0; i < m; ++i)
                    d[h - 1 - (y0 + i)] = s[i][x];
            } else {
                const int x = w - 1 - (r0 + k);
                for (int i = 0; i < m; ++i)
                    d[y0 + i] = s[i][x];
            }
        }
    }
}

struct Pixel16 {
    uint16_t v;
};
struct Pixel32 {
    uint32_t v;
};

// The same for a picture of 8, 16, 24 or 32 bits a pixel; false for another depth.
bool TurnedPictureRows(const QImage& picture, QuarterTurn turn, int r0, int n, uint8_t* dst,
                       qsizetype dstStride) {
    const uint8_t* src = picture.constBits();
    const qsizetype stride = picture.bytesPerLine();
    const int w = picture.width(), h = picture.height();
    switch (picture.depth()) {
    case 8:
        TurnedRows<uint8_t>(src, stride, w, h, turn, r0, n, dst, dstStride);
        return true;
    case 16:
        TurnedRows<Pixel16>(src, stride, w, h, turn, r0, n, dst, dstStride);
        return true;
    case 24:
        TurnedRows<PixelRecord>(src, stride, w, h, turn, r0, n, dst, dstStride);
        return true;
    case 32:
        TurnedRows<Pixel32>(src, stride, w, h, turn, r0, n, dst, dstStride);
        return true;
    default:
        return false;
    }
}

// The same with the band's rows shared by two threads for a big picture.
bool TurnedPictureRowsOnTwo(const QImage& picture, QuarterTurn turn, int r0, int n, uint8_t* dst,
                            qsizetype dstStride) {
    if (qint64(picture.width()) * picture.height() < 4'000'000 || n < 2)
        return TurnedPictureRows(picture, turn, r0, n, dst, dstStride);
    const int m = n / 2;
    bool upper = true;
    std::thread other([&] { upper = TurnedPictureRows(picture, turn, r0, m, dst, dstStride); });
    const bool lower =
        TurnedPictureRows(picture, turn, r0 + m, n - m, dst + qsizetype(m) * dstStride, dstStride);
    other.join();
    return upper && lower;
}

// The mean of four RGB32 pixels, channel by channel, rounded: the red and
// blue channels side by side in one word, green and the pad byte in another.
inline QRgb Mean4(QRgb a, QRgb b, QRgb c, QRgb d) {
    constexpr uint32_t m = 0x00ff00ff;
    const uint32_t rb = (a & m) + (b & m) + (c & m) + (d & m) + 0x00020002;
    const uint32_t ag =
        ((a >> 8) & m) + ((b >> 8) & m) + ((c >> 8) & m) + ((d >> 8) & m) + 0x00020002;
    return ((rb >> 2) & m) | (((ag >> 2) & m) << 8);
}

bool AllGrey(const QImage& image) {
    if (image.format() == QImage::Format_Grayscale8)
        return true;
    if (image.format() != QImage::Format_Indexed8)
        return false;
    for (QRgb c : image.colorTable())
        if (qRed(c) != qGreen(c) || qGreen(c) != qBlue(c))
            return false;
    return true;
}

// libjpeg's failures come back here through longjmp, with its message.
struct JpegErrors {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr c) {
    auto* e = reinterpret_cast<JpegErrors*>(c->err);
    (*c->err->format_message)(c, e->message);
    std::longjmp(e->jump, 1);
}

// The encoder's output goes into the replacement a buffer at a time; the
// first failed write is kept and the rest of the output dropped.
struct JpegSink {
    jpeg_destination_mgr mgr;
    AtomicReplacement* file;
    JOCTET buffer[64 * 1024];
    bool failed;
    QString error; // why the first failed write failed

    void flush(std::size_t n) {
        if (failed || n == 0)
            return;
        if (const auto appended = file->append(reinterpret_cast<const char*>(buffer), qsizetype(n));
            !appended) {
            failed = true;
            error = appended.error();
        }
    }
};

void SinkInit(j_compress_ptr c) {
    auto* s = reinterpret_cast<JpegSink*>(c->dest);
    s->mgr.next_output_byte = s->buffer;
    s->mgr.free_in_buffer = sizeof(s->buffer);
}

boolean SinkEmpty(j_compress_ptr c) {
    auto* s = reinterpret_cast<JpegSink*>(c->dest);
    s->flush(sizeof(s->buffer));
    s->mgr.next_output_byte = s->buffer;
    s->mgr.free_in_buffer = sizeof(s->buffer);
    return TRUE;
}

void SinkTerm(j_compress_ptr c) {
    auto* s = reinterpret_cast<JpegSink*>(c->dest);
    s->flush(sizeof(s->buffer) - s->mgr.free_in_buffer);
}

// Encodes the picture, turned when `turn` is given, into `file` (begun): a
// band of rows at a time, each made in the picture's own format and then in
// RGB32 (or 8-bit grey for a grey picture), which libjpeg takes as it is.
Result<> EncodeJpeg(const QImage& picture, const std::optional<QuarterTurn>& turn, int quality,
                    AtomicReplacement& file) {
    const bool grey = AllGrey(picture);
    const int outW = turn ? picture.height() : picture.width();
    const int outH = turn ? picture.width() : picture.height();
    // Everything with a destructor lives outside the part libjpeg may jump out of.
    QImage band, converted;
    if (turn) {
        band = QImage(outW, kTurnBand, picture.format());
        if (picture.format() == QImage::Format_Indexed8)
            band.setColorTable(picture.colorTable());
        if (band.isNull())
            return Fail(QStringLiteral("メモリが不足しています"));
    }
    std::vector<JSAMPROW> rows(kTurnBand);
    auto sink = std::make_unique<JpegSink>();
    sink->file = &file;
    sink->failed = false;
    sink->mgr.init_destination = SinkInit;
    sink->mgr.empty_output_buffer = SinkEmpty;
    sink->mgr.term_destination = SinkTerm;
    jpeg_compress_struct cinfo;
    JpegErrors errors;
    cinfo.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = OnJpegError;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        return Fail(sink->failed ? sink->error : QString::fromLocal8Bit(errors.message));
    }
    jpeg_create_compress(&cinfo);
    cinfo.dest = &sink->mgr;
    cinfo.image_width = JDIMENSION(outW);
    cinfo.image_height = JDIMENSION(outH);
    cinfo.input_components = grey ? 1 : 4;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(quality, 0, 100), TRUE);
    if (picture.dotsPerMeterX() > 0 && picture.dotsPerMeterY() > 0) {
        cinfo.density_unit = 1; // dots per inch
        cinfo.X_density = UINT16(std::lround(picture.dotsPerMeterX() * 0.0254));
        cinfo.Y_density = UINT16(std::lround(picture.dotsPerMeterY() * 0.0254));
    }
    jpeg_start_compress(&cinfo, TRUE);
    const QImage::Format wanted = grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32;
    for (int r0 = 0; r0 < outH && !sink->failed; r0 += kTurnBand) {
        const int n = std::min(kTurnBand, outH - r0);
        const QImage* rowsOf = &picture;
        int first = r0;
        if (turn) {
            TurnedPictureRowsOnTwo(picture, *turn, r0, n, band.bits(), band.bytesPerLine());
            rowsOf = &band;
            first = 0;
        }
        if (rowsOf->format() != wanted) {
            converted = rowsOf->copy(0, first, outW, n).convertToFormat(wanted);
            rowsOf = &converted;
            first = 0;
        }
        if (rowsOf->isNull())
            break;
        for (int k = 0; k < n; ++k)
            rows[k] = const_cast<JSAMPROW>(rowsOf->constScanLine(first + k));
        jpeg_write_scanlines(&cinfo, rows.data(), JDIMENSION(n));
    }
    if (sink->failed || cinfo.next_scanline < cinfo.image_height) {
        jpeg_destroy_compress(&cinfo);
        return Fail(sink->failed ? sink->error : QStringLiteral("メモリが不足しています"));
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (sink->failed)
        return Fail(sink->error);
    return {};
}

Result<> SaveJpeg(const QImage& image, const std::optional<QuarterTurn>& turn, const QString& path,
                  int quality) {
    auto fail = [&](const QString& why) {
        return Fail(QStringLiteral("画像を保存できませんでした: ") + path + QStringLiteral("\r\n") +
                    why);
    };
    if (image.isNull())
        return fail(QStringLiteral("画像がありません"));
    if (turn && image.depth() != 8 && image.depth() != 16 && image.depth() != 24 &&
        image.depth() != 32)
        return fail(QStringLiteral("Invalid number of bits per pixel: ") +
                    QString::number(image.depth()));
    if (image.width() > 65500 || image.height() > 65500)
        return fail(QStringLiteral("JPEGにできる大きさを超えています"));
    // Encoded into the temporary file: the drawing is replaced only by a
    // complete JPEG.
    AtomicReplacement file(path);
    if (const auto begun = file.begin(); !begun)
        return fail(begun.error());
    if (const auto encoded = EncodeJpeg(image, turn, quality, file); !encoded)
        return fail(encoded.error());
    if (const auto committed = file.commit(); !committed)
        return fail(committed.error());
    return {};
}

} // namespace

Result<> SaveTurnedBmp(const QImage& image, QuarterTurn turn, const QString& path) {
    auto fail = [&](const QString& why) {
        return Fail(QStringLiteral("画像を保存できませんでした: ") + path + QStringLiteral("\r\n") +
                    why);
    };
    if (image.isNull())
        return fail(QStringLiteral("画像がありません"));
    // The turned drawing: as wide as the drawing is high.
    const qint64 w = image.height(), h = image.width();
    const qint64 rowBytes = Bmp24RowBytes(w);
    const QByteArray header = Bmp24Header(w, h, image.dotsPerMeterY(), image.dotsPerMeterX());
    if (header.isEmpty())
        return fail(QStringLiteral("ビットマップにできる大きさを超えています"));
    // Written a band of rows at a time straight from the drawing: no turned
    // copy of it is ever held. The drawing is replaced only by a complete file.
    AtomicReplacement file(path);
    if (const auto begun = file.begin(); !begun)
        return fail(begun.error());
    if (const auto written = file.append(header.constData(), header.size()); !written)
        return fail(written.error());
    constexpr qint64 kBandRows = 64;
    // A band of turned rows is a band of the drawing's columns: the drawing is
    // read row by row, a short run of neighbouring pixels each, so the reads
    // follow memory instead of striding down a column.
    const bool direct =
        image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32;
    QByteArray band;
    for (qint64 first = 0; first < h; first += kBandRows) {
        const qint64 rows = std::min(kBandRows, h - first);
        band.fill('\0', rows * rowBytes);
        // File row first + r is the turned drawing's row h - 1 - (first + r).
        // Turned right, turned (tx, ty) shows the drawing's (ty, w - 1 - tx);
        // turned left, its (h - 1 - ty, tx).
        for (qint64 y = 0; y < w; ++y) {
            const qint64 tx = turn == QuarterTurn::Right ? w - 1 - y : y;
            const auto* line =
                direct ? reinterpret_cast<const QRgb*>(image.constScanLine(int(y))) : nullptr;
            for (qint64 r = 0; r < rows; ++r) {
                const qint64 ty = h - 1 - (first + r);
                const qint64 x = turn == QuarterTurn::Right ? ty : h - 1 - ty;
                const QRgb c = line ? line[x] : image.pixel(int(x), int(y));
                auto* out = reinterpret_cast<unsigned char*>(band.data() + r * rowBytes + 3 * tx);
                out[0] = uchar(qBlue(c));
                out[1] = uchar(qGreen(c));
                out[2] = uchar(qRed(c));
            }
        }
        if (const auto written = file.append(band.constData(), band.size()); !written)
            return fail(written.error());
    }
    if (const auto committed = file.commit(); !committed)
        return fail(committed.error());
    return {};
}

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
    if (rotated.empty())
        return;
    const auto* src = reinterpret_cast<const uint8_t*>(pixels.row(0));
    for (int r0 = 0; r0 < w; r0 += kTurnBand)
        TurnedRows<PixelRecord>(src, qsizetype(w) * 3, w, h, turn, r0, std::min(kTurnBand, w - r0),
                                reinterpret_cast<uint8_t*>(rotated.row(r0)), qsizetype(h) * 3);
}

Result<> CheckRotation(qint64 width, qint64 height) {
    if (width <= PixelArray::kMaxSide && height <= PixelArray::kMaxSide)
        return {};
    return Fail(QStringLiteral("画像が大きすぎるため回転できません（%1 × %2 ピクセル、一辺 %3 "
                               "ピクセルまで）")
                    .arg(width)
                    .arg(height)
                    .arg(PixelArray::kMaxSide));
}

Result<> DCSavetoJPEG(const QImage& image, const QString& path, int quality) {
    return SaveJpeg(image, std::nullopt, path, quality);
}

Result<> SaveTurnedJpeg(const QImage& image, QuarterTurn turn, const QString& path, int quality) {
    return SaveJpeg(image, turn, path, quality);
}

Result<QImage> LoadPicture(const QString& path, const QString& shownPath) {
    const QString name = shownPath.isEmpty() ? path : shownPath;
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return Fail(QStringLiteral("ファイルが見つかりません: ") + name);
    if (!info.isFile())
        return Fail(QStringLiteral("画像ファイルではありません: ") + name);
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (size.isValid() &&
        (size.width() > PixelArray::kMaxSide || size.height() > PixelArray::kMaxSide))
        return Fail(QStringLiteral("画像が大きすぎます（%1 × %2 ピクセル、一辺 %3 ピクセルまで）: ")
                        .arg(size.width())
                        .arg(size.height())
                        .arg(PixelArray::kMaxSide) +
                    name);
    if (size.isValid() && qint64(size.width()) * size.height() * 4 > kMaxPictureBytes)
        return Fail(QStringLiteral("画像が大きすぎます（%1 × %2 ピクセル）: ")
                        .arg(size.width())
                        .arg(size.height()) +
                    name);
    // A header whose data the file does not hold is not decoded at all.
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const PictureData data = CheckPictureData(file);
        if (data.cut)
            return Fail(QStringLiteral("画像データが途中で切れています") +
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
        return Fail(QStringLiteral("画像を読み込めません: ") + name + QStringLiteral("\r\n") +
                    reader.errorString());
    if (image.width() > PixelArray::kMaxSide || image.height() > PixelArray::kMaxSide)
        return Fail(QStringLiteral("画像が大きすぎます（一辺 %1 ピクセルまで）: ")
                        .arg(PixelArray::kMaxSide) +
                    name);
    QImage converted = ToPixelFormat(image);
    if (converted.isNull())
        return Fail(QStringLiteral("メモリが不足しています: ") + name);
    return converted;
}

QImage HalfSize(const QImage& picture) {
    if (picture.isNull())
        return QImage();
    const int w = picture.width(), h = picture.height();
    QImage half((w + 1) / 2, (h + 1) / 2, QImage::Format_RGB32);
    if (half.isNull())
        return half;
    const bool direct = picture.format() == QImage::Format_RGB32;
    // Taken once: scanLine() of a QImage is no call for two threads.
    uchar* const halfBits = half.bits();
    const qsizetype halfStride = half.bytesPerLine();
    const int halfWidth = half.width();
    // Rows ya to yb - 1 of the copy; false when memory is refused. Another
    // format is taken into RGB32 a few rows at a time.
    auto rows = [&](int ya, int yb) {
        constexpr int kBandRows = 32;
        QImage band;
        int bandFirst = -kBandRows;
        auto row = [&](int y) -> const QRgb* {
            if (direct)
                return reinterpret_cast<const QRgb*>(picture.constScanLine(y));
            if (y < bandFirst || y >= bandFirst + band.height()) {
                bandFirst = y;
                band = picture.copy(0, y, w, std::min(kBandRows, h - y))
                           .convertToFormat(QImage::Format_RGB32);
                if (band.isNull())
                    return nullptr;
            }
            return reinterpret_cast<const QRgb*>(band.constScanLine(y - bandFirst));
        };
        for (int y = ya; y < yb; ++y) {
            const QRgb* a = row(2 * y);
            const QRgb* b = row(std::min(2 * y + 1, h - 1));
            if (!a || !b)
                return false;
            auto* out = reinterpret_cast<QRgb*>(halfBits + qsizetype(y) * halfStride);
            for (int x = 0; x < halfWidth; ++x) {
                const int x0 = 2 * x, x1 = std::min(2 * x + 1, w - 1);
                out[x] = Mean4(a[x0], a[x1], b[x0], b[x1]);
            }
        }
        return true;
    };
    // A big picture in two halves side by side (a turn waits for it).
    const int split = qint64(w) * h >= 4'000'000 ? half.height() / 2 : 0;
    bool lowerDone = true;
    std::thread lower;
    if (split > 0)
        lower = std::thread([&] { lowerDone = rows(split, half.height()); });
    const bool upperDone = rows(0, split > 0 ? split : half.height());
    if (lower.joinable())
        lower.join();
    if (!upperDone || !lowerDone)
        return QImage();
    half.setDotsPerMeterX(picture.dotsPerMeterX() / 2);
    half.setDotsPerMeterY(picture.dotsPerMeterY() / 2);
    return half;
}

Result<DrawingPicture> ReadDrawingPicture(const QString& path, const QString& shownPath) {
    Result<QImage> loaded = LoadPicture(path, shownPath);
    if (!loaded)
        return Fail(loaded.error());
    DrawingPicture d;
    d.picture = std::move(*loaded);
    d.colourDepth = int16_t(DepthOfImage(d.picture));
    // Every index byte of an 8-bit scan names a colour.
    if (d.colourDepth == 8)
        MatchColorPalette(d.picture);
    d.half = HalfSize(d.picture);
    if (d.half.isNull())
        return Fail(QStringLiteral("メモリが不足しています: ") +
                    (shownPath.isEmpty() ? path : shownPath));
    return d;
}

QPointF TurnedPoint(QPointF p, QuarterTurn turn, int width, int height) {
    return turn == QuarterTurn::Right ? QPointF(height - p.y(), p.x())
                                      : QPointF(p.y(), width - p.x());
}
