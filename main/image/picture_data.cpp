#include "main/image/picture_data.h"

#include <QByteArray>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace {

// A JPEG holds a few dozen segments before its first scan; junk that looks
// like one is not walked for ever.
constexpr int kMaxJpegSegments = 4096;
constexpr qint64 kBackwardChunk = 64 * 1024;

QByteArray ReadAt(QIODevice& device, qint64 pos, qint64 size) {
    if (pos < 0 || !device.seek(pos))
        return QByteArray();
    return device.read(size);
}

uint32_t Le(const QByteArray& b, int at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | uint8_t(b[at + i]);
    return v;
}

uint32_t Be16(const QByteArray& b, int at) {
    return uint32_t(uint8_t(b[at])) << 8 | uint8_t(b[at + 1]);
}

PictureData CheckBmp(QIODevice& device, qint64 size) {
    PictureData out;
    const QByteArray h = ReadAt(device, 0, 14 + 40);
    if (h.size() < 18) {
        out.cut = true;
        return out;
    }
    const qint64 offset = Le(h, 10, 4);
    const qint64 headerSize = Le(h, 14, 4);
    qint64 width = 0, height = 0, bits = 0, compression = 0, imageSize = 0;
    if (headerSize == 12 && h.size() >= 26) {
        width = Le(h, 18, 2);
        height = Le(h, 20, 2);
        bits = Le(h, 24, 2);
    } else if (headerSize >= 16 && h.size() >= 30) {
        width = int32_t(Le(h, 18, 4));
        height = int32_t(Le(h, 22, 4));
        bits = Le(h, 28, 2);
        if (headerSize >= 20 && h.size() >= 34)
            compression = Le(h, 30, 4);
        if (headerSize >= 24 && h.size() >= 38)
            imageSize = Le(h, 34, 4);
    } else {
        out.cut = size < 14 + headerSize;
        return out;
    }
    if (width <= 0 || height == 0 || height == INT32_MIN)
        return out;
    out.claimed = QSize(int(std::min<qint64>(width, INT32_MAX)), int(std::llabs(height)));
    qint64 needed = 0;
    switch (compression) {
    case 0: // rows as they are
    case 3: // with colour masks
    case 6: {
        const qint64 row = (width * bits + 31) / 32 * 4;
        qint64 rows = 0;
        if (__builtin_mul_overflow(row, std::llabs(height), &rows) ||
            __builtin_add_overflow(rows, offset, &needed))
            needed = INT64_MAX;
        break;
    }
    case 1: // run lengths: only the size the header gives
    case 2:
        needed = offset + imageSize;
        break;
    default:
        return out;
    }
    out.cut = size < std::max<qint64>(needed, 14 + headerSize);
    return out;
}

// The position of the last end marker (FF D9) at or after `from`, or -1.
qint64 LastEndMarker(QIODevice& device, qint64 from, qint64 size) {
    qint64 end = size;
    while (end - from >= 2) {
        const qint64 start = std::max(from, end - kBackwardChunk);
        const QByteArray chunk = ReadAt(device, start, end - start);
        if (chunk.size() != end - start)
            return -1;
        for (qint64 i = chunk.size() - 2; i >= 0; --i)
            if (uint8_t(chunk[i]) == 0xFF && uint8_t(chunk[i + 1]) == 0xD9)
                return start + i;
        // The next chunk overlaps this one by a byte: a marker split between them.
        end = start + 1;
    }
    return -1;
}

PictureData CheckJpeg(QIODevice& device, qint64 size) {
    PictureData out;
    qint64 pos = 2;
    qint64 width = 0, height = 0, maxH = 1, maxV = 1;
    bool frame = false, arithmetic = false;
    for (int segments = 0; segments < kMaxJpegSegments; ++segments) {
        QByteArray m = ReadAt(device, pos, 4);
        // Fill bytes before a marker (a few at most).
        for (int fill = 0; m.size() >= 2 && uint8_t(m[0]) == 0xFF && uint8_t(m[1]) == 0xFF;
             ++fill) {
            if (fill == kMaxJpegSegments)
                return out;
            ++pos;
            m = ReadAt(device, pos, 4);
        }
        if (m.size() < 2 || uint8_t(m[0]) != 0xFF) {
            out.cut = m.size() < 2;
            return out;
        }
        const uint8_t marker = uint8_t(m[1]);
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            pos += 2;
            continue;
        }
        if (marker == 0xD9) { // the end before any scan
            out.cut = frame;
            return out;
        }
        if (m.size() < 4) {
            out.cut = true;
            return out;
        }
        const qint64 length = Be16(m, 2);
        if (length < 2 || pos + 2 + length > size) {
            out.cut = true;
            return out;
        }
        const bool sof =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof) {
            const QByteArray f = ReadAt(device, pos + 4, length - 2);
            if (f.size() < 6)
                return out;
            height = Be16(f, 1);
            width = Be16(f, 3);
            const int components = uint8_t(f[5]);
            for (int c = 0; c < components && 6 + 3 * c + 1 < f.size(); ++c) {
                const uint8_t sampling = uint8_t(f[6 + 3 * c + 1]);
                maxH = std::max<qint64>(maxH, std::clamp(sampling >> 4, 1, 4));
                maxV = std::max<qint64>(maxV, std::clamp(sampling & 15, 1, 4));
            }
            arithmetic = marker >= 0xC9;
            frame = true;
            out.claimed = QSize(int(width), int(height));
        }
        if (marker == 0xDA) {
            if (!frame)
                return out;
            const qint64 scan = pos + 2 + length;
            const qint64 end = LastEndMarker(device, scan, size);
            if (end < 0) {
                out.cut = true;
                return out;
            }
            // A height of 0 is given later (DNL); arithmetic coding has no
            // whole bits to count.
            if (!arithmetic && width > 0 && height > 0) {
                const qint64 mcus =
                    (width + 8 * maxH - 1) / (8 * maxH) * ((height + 8 * maxV - 1) / (8 * maxV));
                out.cut = (end - scan) * 8 < mcus;
            }
            return out;
        }
        pos += 2 + length;
    }
    return out;
}

} // namespace

PictureData CheckPictureData(QIODevice& device) {
    const qint64 size = device.size();
    const QByteArray magic = ReadAt(device, 0, 2);
    if (magic == QByteArrayLiteral("BM"))
        return CheckBmp(device, size);
    if (magic == QByteArrayLiteral("\xFF\xD8"))
        return CheckJpeg(device, size);
    return PictureData();
}
