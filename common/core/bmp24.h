#pragma once
// The layout of a 24-bit Windows bitmap file: rows of 3-byte BGR pixels,
// padded to 4 bytes, bottom row first, after a 54-byte header. Shared by
// every writer of bitmaps (the sketches, a turned drawing).

#include <QByteArray>

#include <cstdint>
#include <limits>

inline constexpr qint64 kBmp24HeaderSize = 14 + 40;

// Bytes of one row of a bitmap `width` pixels wide.
inline qint64 Bmp24RowBytes(qint64 width) {
    return (width * 3 + 3) & ~qint64(3);
}

// The file and info headers of a width x height bitmap; empty when the file
// would be larger than a bitmap can say.
inline QByteArray Bmp24Header(qint64 width, qint64 height, int dotsPerMetreX, int dotsPerMetreY) {
    const qint64 dataSize = Bmp24RowBytes(width) * height;
    if (width < 0 || height < 0 || width > std::numeric_limits<int32_t>::max() ||
        height > std::numeric_limits<int32_t>::max() ||
        kBmp24HeaderSize + dataSize > std::numeric_limits<uint32_t>::max())
        return QByteArray();
    QByteArray header(kBmp24HeaderSize, '\0');
    auto put = [&header](int at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            header[at + i] = char((v >> (8 * i)) & 0xff);
    };
    header[0] = 'B';
    header[1] = 'M';
    put(2, uint32_t(kBmp24HeaderSize + dataSize), 4);
    put(10, uint32_t(kBmp24HeaderSize), 4);
    put(14, 40, 4);
    put(18, uint32_t(width), 4);
    put(22, uint32_t(height), 4); // positive: rows run bottom-up
    put(26, 1, 2);                // planes
    put(28, 24, 2);               // bits per pixel; BI_RGB (0) at 30
    put(34, uint32_t(dataSize), 4);
    put(38, uint32_t(dotsPerMetreX < 0 ? 0 : dotsPerMetreX), 4);
    put(42, uint32_t(dotsPerMetreY < 0 ? 0 : dotsPerMetreY), 4);
    return header;
}
