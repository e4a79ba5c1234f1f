// The drawing's pixel routines, the check of its file's data, its
// calibration file and the outlines taken off it.
#include "common/core/numtext.h"
#include "main/image/calibration.h"
#include "main/image/picture_data.h"
#include "main/image/pixels.h"
#include "main/image/taken_outlines.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <QTransform>
#include <QtEndian>
#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> Bytes(const QByteArray& b) {
    return std::vector<uint8_t>(b.begin(), b.end());
}

// A small picture with a distinct colour in every pixel, as the depth holds it.
QImage Sample(QImage::Format format) {
    QImage img(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            img.setPixel(x, y, qRgb(40 * x + 8, 96 * y + 16, 200 - 24 * x));
    if (format == QImage::Format_Indexed8) {
        QImage ix(5, 3, QImage::Format_Indexed8);
        ix.setColorCount(15);
        for (int i = 0; i < 15; ++i) {
            ix.setColor(i, img.pixel(i % 5, i / 5));
            ix.setPixel(i % 5, i / 5, uint(i));
        }
        return ix;
    }
    return img.convertToFormat(format);
}

} // namespace

TEST(PixelRows, ConversionsOfEachDepth) {
    // 15 bits: 0x7C00 is pure red; 16 bits splits 5-6-5.
    PixelArray p(2, 1);
    const uint8_t row15[] = {0x00, 0x7C, 0xFF, 0x7F};
    RowsToPixels(row15, 4, 15, {}, p);
    EXPECT_EQ(p(0, 0), (PixelRecord{0, 0, 31}));
    EXPECT_EQ(p(1, 0), (PixelRecord{31, 31, 31}));
    const uint8_t row16[] = {0xE0, 0x07, 0xFF, 0xFF};
    RowsToPixels(row16, 4, 16, {}, p);
    EXPECT_EQ(p(0, 0), (PixelRecord{0, 63, 0}));
    EXPECT_EQ(p(1, 0), (PixelRecord{31, 63, 31}));

    // Writing red 40 at 15 bits stores 31 and changes the record.
    PixelArray w(1, 1);
    w(0, 0) = PixelRecord{0, 0, 40};
    EXPECT_EQ(Bytes(PixelsToRows(w, 15)), (std::vector<uint8_t>{0x00, 0x7C}));
    EXPECT_EQ(w(0, 0).red, 31);
    w(0, 0) = PixelRecord{200, 200, 200};
    EXPECT_EQ(Bytes(PixelsToRows(w, 16)), (std::vector<uint8_t>{0xFF, 0xFF}));
    EXPECT_EQ(w(0, 0), (PixelRecord{31, 63, 31}));

    // Row lengths are even: 3 pixels at 24 bits are 10 bytes, a zero pad last.
    PixelArray three(3, 2);
    three(2, 1) = PixelRecord{1, 2, 3};
    EXPECT_EQ(WrittenRowLength(3, 24), 10);
    EXPECT_EQ(WrittenRowLength(3, 8), 4);
    EXPECT_EQ(WrittenRowLength(3, 16), 6);
    EXPECT_EQ(WrittenRowLength(3, 32), 12);
    const QByteArray rows = PixelsToRows(three, 24);
    ASSERT_EQ(rows.size(), 20);
    EXPECT_EQ(Bytes(rows.mid(16, 4)), (std::vector<uint8_t>{1, 2, 3, 0}));

    // 32 bits: the fourth byte is not read and written as 0.
    const uint8_t row32[] = {10, 20, 30, 99};
    PixelArray one(1, 1);
    RowsToPixels(row32, 4, 32, {}, one);
    EXPECT_EQ(one(0, 0), (PixelRecord{10, 20, 30}));
    EXPECT_EQ(Bytes(PixelsToRows(one, 32)), (std::vector<uint8_t>{10, 20, 30, 0}));

    // 8 bits: the index of the nearest palette entry, the lowest on a tie.
    const QList<QRgb> pal = {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(250, 0, 0), qRgb(250, 0, 0)};
    PixelArray c(3, 1);
    c(0, 0) = PixelRecord{10, 10, 10};
    c(1, 0) = PixelRecord{0, 0, 255};
    c(2, 0) = PixelRecord{240, 230, 220};
    EXPECT_EQ(Bytes(PixelsToRows(c, 8, pal)), (std::vector<uint8_t>{0, 2, 1, 0}));

    EXPECT_EQ(DepthFromWhite16(0x7FFF), 15);
    EXPECT_EQ(DepthFromWhite16(0xFFFF), 16);
}

TEST(PixelRows, UnsupportedDepthRaisesTheNumberedError) {
    for (int depth : {4, 1, 0, 48}) {
        try {
            WrittenRowLength(3, depth);
            FAIL() << depth;
        } catch (const BitmapError& e) {
            EXPECT_EQ(e.number(), int32_t(0x800403E9u));
            EXPECT_EQ(e.number(), -2147220503);
            EXPECT_EQ(e.source(), QStringLiteral("DDBHelper.GetBitmapPixels"));
            EXPECT_EQ(e.description(), QStringLiteral("Invalid number of bits per pixel: ") +
                                           QString::number(depth));
        }
    }
    QImage rgb(2, 2, QImage::Format_RGB32);
    try {
        MatchColorPalette(rgb);
        FAIL();
    } catch (const BitmapError& e) {
        EXPECT_EQ(e.number(), -2147220502);
        EXPECT_EQ(e.source(), QStringLiteral("DDBHelper.MatchColorPalette"));
        EXPECT_EQ(e.description(), QStringLiteral("Error matching bitmap palette"));
    }
}

TEST(BitmapPixels, RoundTripAtEveryDepth) {
    const std::pair<QImage::Format, int> cases[] = {{QImage::Format_Indexed8, 8},
                                                    {QImage::Format_RGB555, 15},
                                                    {QImage::Format_RGB16, 16},
                                                    {QImage::Format_BGR888, 24},
                                                    {QImage::Format_RGB32, 32}};
    for (const auto& [format, depth] : cases) {
        QImage picture = Sample(format);
        const QImage before = picture.copy();
        PixelArray px;
        int16_t got = 0;
        GetBitmapPixels(picture, px, got);
        EXPECT_EQ(got, depth);
        ASSERT_EQ(px.width(), 5);
        ASSERT_EQ(px.height(), 3);
        // The 16-bit test leaves the top-left pixel as it was.
        EXPECT_EQ(picture.pixel(0, 0), before.pixel(0, 0)) << depth;
        // Records in the depth's own precision.
        const PixelRecord r = px(4, 2);
        if (depth == 15 || depth == 16) {
            const auto* raw = reinterpret_cast<const uint16_t*>(before.constScanLine(2));
            const unsigned v = raw[4];
            EXPECT_EQ(
                r, depth == 15
                       ? (PixelRecord{uint8_t(v & 31), uint8_t((v >> 5) & 31), uint8_t(v >> 10)})
                       : (PixelRecord{uint8_t(v & 31), uint8_t((v >> 5) & 63), uint8_t(v >> 11)}));
        } else {
            const QRgb c = before.pixel(4, 2);
            EXPECT_EQ(r, (PixelRecord{uint8_t(qBlue(c)), uint8_t(qGreen(c)), uint8_t(qRed(c))}));
        }

        QImage canvas = picture;
        SetBitmapPixels(canvas, got, px);
        EXPECT_EQ(canvas.format(), format);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(canvas.pixel(x, y), before.pixel(x, y)) << depth << " " << x << "," << y;
    }
}

TEST(BitmapPixels, ScansAndOtherFormatsTakeOneOfTheFive) {
    QImage mono(16, 4, QImage::Format_Mono);
    mono.fill(0);
    mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    mono.setPixel(3, 1, 1);
    QImage grey(4, 4, QImage::Format_Grayscale8);
    grey.fill(200);
    grey.setPixel(1, 2, qRgb(7, 7, 7));
    QImage argb(4, 4, QImage::Format_ARGB32);
    argb.fill(Qt::transparent);
    argb.setPixel(0, 0, qRgb(1, 2, 3));
    QImage rgb888(4, 4, QImage::Format_RGB888);
    rgb888.fill(qRgb(10, 20, 30));

    QImage m = ToPixelFormat(mono);
    EXPECT_EQ(m.format(), QImage::Format_Indexed8);
    QImage g = ToPixelFormat(grey);
    EXPECT_EQ(g.format(), QImage::Format_Indexed8);
    QImage a = ToPixelFormat(argb);
    EXPECT_EQ(a.format(), QImage::Format_RGB32);
    EXPECT_EQ(a.pixel(1, 1), qRgb(255, 255, 255)); // transparent shown on white
    // GetBitmapPixels converts on its own too: no scan fails with the depth error.
    PixelArray px;
    int16_t depth = 0;
    GetBitmapPixels(mono, px, depth);
    EXPECT_EQ(depth, 8);
    EXPECT_EQ(px(3, 1), (PixelRecord{0, 0, 0}));
    EXPECT_EQ(px(4, 1), (PixelRecord{255, 255, 255}));
    GetBitmapPixels(g, px, depth);
    EXPECT_EQ(px(1, 2), (PixelRecord{7, 7, 7}));
    EXPECT_EQ(px(0, 0), (PixelRecord{200, 200, 200}));
    GetBitmapPixels(rgb888, px, depth);
    EXPECT_EQ(depth, 32);
    EXPECT_EQ(px(2, 2), (PixelRecord{30, 20, 10}));
}

TEST(BitmapPixels, LoadPictureRefusesWhatItCannotHold) {
    QTemporaryDir dir;
    Result<QImage> loaded = LoadPicture(dir.filePath("none.bmp"));
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(loaded.error().contains(QStringLiteral("ファイルが見つかりません")))
        << loaded.error().toStdString();
    QFile junk(dir.filePath("junk.jpg"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a picture at all");
    junk.close();
    loaded = LoadPicture(junk.fileName());
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(loaded.error().contains(QStringLiteral("画像を読み込めません")))
        << loaded.error().toStdString();
    // A bitmap header claiming 40000 x 10 pixels is refused before decoding.
    QImage wide(40000, 1, QImage::Format_Mono);
    wide.fill(0);
    ASSERT_TRUE(wide.save(dir.filePath("wide.png")));
    loaded = LoadPicture(dir.filePath("wide.png"));
    EXPECT_FALSE(loaded);
    EXPECT_TRUE(loaded.error().contains(QStringLiteral("大きすぎます")))
        << loaded.error().toStdString();
    // A greyscale JPEG comes back as 8 bits.
    QImage grey(30, 20, QImage::Format_Grayscale8);
    grey.fill(128);
    ASSERT_TRUE(grey.save(dir.filePath("grey.jpg")));
    loaded = LoadPicture(dir.filePath("grey.jpg"));
    ASSERT_TRUE(loaded) << loaded.error().toStdString();
    EXPECT_EQ(loaded->format(), QImage::Format_Indexed8);
}

TEST(BitmapPixels, DataCutShortOrClaimedByALyingHeaderIsNoPicture) {
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter(&picture).fillRect(20, 20, 100, 150, Qt::black);
    auto encoded = [&](const QImage& image, const char* format, bool progressive = false) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        writer.setProgressiveScanWrite(progressive);
        EXPECT_TRUE(writer.write(image));
        return bytes;
    };
    const QByteArray bmp = encoded(picture, "bmp");
    const QByteArray jpeg = encoded(picture, "jpeg");
    // A 154-byte BMP claiming 32767 x 8000 at 24 bits.
    QByteArray lyingBmp = bmp.left(154);
    qToLittleEndian<qint32>(32767, lyingBmp.data() + 18);
    qToLittleEndian<qint32>(8000, lyingBmp.data() + 22);
    // A BMP stored top-down (a negative height) holds the same rows.
    QByteArray topDown = bmp;
    qToLittleEndian<qint32>(-200, topDown.data() + 22);
    // A small JPEG whose frame claims 16000 x 16000: whole, with its end
    // marker, but with less coded data than so many blocks need.
    QByteArray lyingJpeg = encoded(QImage(8, 8, QImage::Format_RGB32), "jpeg");
    const qsizetype frame = lyingJpeg.indexOf("\xFF\xC0");
    ASSERT_GT(frame, 0);
    qToBigEndian<quint16>(16000, lyingJpeg.data() + frame + 5);
    qToBigEndian<quint16>(16000, lyingJpeg.data() + frame + 7);
    // A thumbnail with its own end marker before the scan does not make a
    // cut JPEG whole.
    const QByteArray thumb = encoded(QImage(8, 8, QImage::Format_RGB32), "jpeg");
    QByteArray app1("\xFF\xE1");
    app1 += char((thumb.size() + 2) >> 8);
    app1 += char((thumb.size() + 2) & 0xFF);
    const QByteArray withThumb = jpeg.left(2) + app1 + thumb + jpeg.mid(2);
    QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);

    const std::pair<const char*, QByteArray> files[] = {
        {"bmp", bmp},
        {"bmp 8-bit", encoded(picture.convertToFormat(QImage::Format_Indexed8), "bmp")},
        {"bmp top-down", topDown},
        {"bmp cut in half", bmp.left(bmp.size() / 2)},
        {"bmp one byte short", bmp.left(bmp.size() - 1)},
        {"bmp lying", lyingBmp},
        {"bmp header only", bmp.left(20)},
        {"jpeg", jpeg},
        {"jpeg progressive", encoded(picture, "jpeg", true)},
        {"jpeg grey", encoded(grey, "jpeg")},
        {"jpeg with bytes after its end", jpeg + QByteArray(5000, '\0')},
        {"jpeg cut in half", jpeg.left(jpeg.size() / 2)},
        {"jpeg without its end marker", jpeg.left(jpeg.size() - 2)},
        {"jpeg lying", lyingJpeg},
        {"jpeg thumbnail, cut", withThumb.left(withThumb.size() * 2 / 3)},
        {"jpeg cut in its headers", jpeg.left(100)},
        {"png", encoded(picture, "png")},
        {"junk", QByteArray("not a picture at all")},
    };
    QStringList seen;
    for (const auto& [name, bytes] : files) {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        const PictureData d = CheckPictureData(buffer);
        QString verdict = d.cut ? QStringLiteral(": cut") : QStringLiteral(": whole");
        if (d.cut && d.claimed.isValid())
            verdict += QStringLiteral(" %1x%2").arg(d.claimed.width()).arg(d.claimed.height());
        seen << QString::fromUtf8(name) + verdict;
    }
    EXPECT_EQ(seen.join(QLatin1Char('\n')).toStdString(),
              "bmp: whole\nbmp 8-bit: whole\nbmp top-down: whole\n"
              "bmp cut in half: cut 300x200\nbmp one byte short: cut 300x200\n"
              "bmp lying: cut 32767x8000\nbmp header only: cut\n"
              "jpeg: whole\njpeg progressive: whole\njpeg grey: whole\n"
              "jpeg with bytes after its end: whole\njpeg cut in half: cut 300x200\n"
              "jpeg without its end marker: cut 300x200\njpeg lying: cut 16000x16000\n"
              "jpeg thumbnail, cut: cut 300x200\njpeg cut in its headers: cut\n"
              "png: whole\njunk: whole");

    // Loaded from a file, a cut picture is refused before it is decoded.
    QTemporaryDir dir;
    const QString path = dir.filePath("plan.bmp");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(lyingBmp);
    f.close();
    const Result<QImage> loaded = LoadPicture(path, "/shown/plan.bmp");
    EXPECT_FALSE(loaded);
    EXPECT_EQ(loaded.error(),
              QStringLiteral("画像データが途中で切れています（32767 × 8000 ピクセル）: "
                             "/shown/plan.bmp"));
}

TEST(CalibrationFile, WrittenAndReadBackWithEveryText) {
    QTemporaryDir dir;
    const QString path = CalibrationFilePath(dir.filePath("plan.bmp"));
    EXPECT_TRUE(path.endsWith("plan.bmp.inf"));
    CalibrationTexts t = CalibrationTexts::defaults();
    EXPECT_EQ(t.X(CalRow::Unit), QStringLiteral("ｍ"));
    EXPECT_EQ(t.Y(CalRow::Difference), QStringLiteral("1"));
    const char* xs[] = {"100", "340", "0.00", "3.60", "100",     "0",
                        "100", "340", "240",  "3.6",  "0.02250", "ｍ"};
    const char* ys[] = {"200", "380", "0.00", "-2.70", "200",     "0",
                        "200", "380", "180",  "2.7",   "0.02250", "ｍｍ"};
    for (int i = 0; i < kCalRows; ++i) {
        t.x[i] = QString::fromUtf8(xs[i]);
        t.y[i] = QString::fromUtf8(ys[i]);
    }
    for (const char* cp : {"CP932", "UTF-8"}) {
        const TextCodec codec{QString::fromLatin1(cp)};
        ASSERT_TRUE(WriteCalibrationFile(path, t, codec));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(codec.decode(f.readAll()),
                  QStringLiteral("100,340,0.00,3.60,100,0,100,340,240,3.6,0.02250,ｍ\r\n"
                                 "200,380,0.00,-2.70,200,0,200,380,180,2.7,0.02250,ｍｍ\r\n"));
        CalibrationTexts back = CalibrationTexts::defaults();
        const CalibrationRead read = ReadCalibrationFile(path, codec, back);
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(read.items, 24);
        EXPECT_EQ(back, t);
    }
}

TEST(CalibrationFile, ShortMissingOrHugeFilesAreNoCalibration) {
    QTemporaryDir dir;
    const TextCodec codec;
    const QString path = dir.filePath("a.bmp.inf");
    // Items separated by lines as well as commas; a short file keeps what it had.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("7\r\n8,9\r\n");
    f.close();
    CalibrationTexts t = CalibrationTexts::defaults();
    CalibrationRead read = ReadCalibrationFile(path, codec, t);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.items, 3);
    EXPECT_EQ(t.X(CalRow::MouseDown), "7");
    EXPECT_EQ(t.X(CalRow::ConvertedDown), "9");
    EXPECT_EQ(t.X(CalRow::Unit), QStringLiteral("ｍ"));

    read = ReadCalibrationFile(dir.filePath("none.inf"), codec, t);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.items, 0);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(200 * 1024, ','));
    f.close();
    read = ReadCalibrationFile(path, codec, t);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.items, 0);
}

TEST(CalibrationFile, PositionsConvertTheSameAtEveryZoom) {
    CalibrationTexts t = CalibrationTexts::defaults();
    t.X(CalRow::Origin) = "100";
    t.Y(CalRow::Origin) = "200";
    t.X(CalRow::OriginCoordinate) = "0";
    t.Y(CalRow::OriginCoordinate) = "0";
    // Zoom 1, 0.02250 m per pixel: (300, 100) is (4.50, 2.25).
    DrawingPoint p = PositionToDrawing(300, 100, DrawingFrame::from(t, 1.0f, 0.0225f, 0.0225f));
    EXPECT_NEAR(p.x, 4.5, 1e-6);
    EXPECT_NEAR(p.y, 2.25, 1e-6);
    // Zoom 2: the same drawing point is at (600, 200), the coefficient per unit halved.
    p = PositionToDrawing(600, 200, DrawingFrame::from(t, 2.0f, 0.0225f / 2, 0.0225f / 2));
    EXPECT_NEAR(p.x, 4.5, 1e-6);
    EXPECT_NEAR(p.y, 2.25, 1e-6);
    // Left of and above the origin, with an origin coordinate of its own.
    t.X(CalRow::OriginCoordinate) = "10";
    t.Y(CalRow::OriginCoordinate) = "-1";
    p = PositionToDrawing(90, 150, DrawingFrame::from(t, 1.5f, 0.0225f / 1.5f, 0.0225f / 1.5f));
    EXPECT_NEAR(p.x, 10 + (90 - 150) * 0.015, 1e-6);
    EXPECT_NEAR(p.y, -1 + (300 - 150) * 0.015, 1e-6);
}

TEST(TakenOutlines, KeptLineByLineAndWrittenForTheRowOfTheirOutlineOnly) {
    QTemporaryDir dir;
    const TextCodec codec;
    const QString path = TakenOutlinesPath(dir.filePath("plan.bmp"));
    EXPECT_EQ(path, dir.filePath("plan.bmp.takeoff"));
    EXPECT_TRUE(ReadTakenOutlines(path, codec).error.isEmpty()); // none yet
    const TakenOutline room{{{100, 100}, {600.004, 100}, {600, 500}, {100, 100}},
                            QStringLiteral("居間, 北-1")};
    EXPECT_EQ(TakenOutlineLine(room),
              QStringLiteral("4,100,100,600,100,600,500,100,100,居間, 北-1"));

    // Only the outline whose row "実行" wrote goes into the file, once.
    OutlineStore finished;
    finished.appendMetres(1, 6, 1);
    finished.appendMetres(6, 6, 1);
    finished.finishWith(2);
    OutlineStore other = finished;
    other.pointsM[2][3] = 2;
    OnScreenOutlines waiting;
    waiting.finished(dir.filePath("plan.bmp"), room, finished);
    EXPECT_FALSE(waiting.rowWritten(other, codec));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(waiting.rowWritten(finished, codec));
    EXPECT_FALSE(waiting.rowWritten(finished, codec));
    const TakenOutlinesRead one = ReadTakenOutlines(path, codec);
    const TakenOutline rounded{{{100, 100}, {600, 100}, {600, 500}, {100, 100}}, room.comment};
    EXPECT_EQ(one.outlines, QList<TakenOutline>{rounded});

    // Lines no reader takes stay byte for byte; the first is quoted briefly.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    const QByteArray junk = "3,1,2,nan,4,5,6," + QByteArray(200, 'x') + "\r\n\xff\xfe\r\n";
    f.write(junk);
    f.close();
    ASSERT_TRUE(AppendTakenOutlines(dir.filePath("plan.bmp"), {room}, codec));
    QFile back(path);
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_TRUE(back.readAll().contains(junk));
    const TakenOutlinesRead three = ReadTakenOutlines(path, codec);
    EXPECT_EQ(three.outlines.size(), 2);
    EXPECT_TRUE(
        three.error.startsWith(QStringLiteral("拾い済みの記録の 2 行目を読めません: 「3,1,2,nan")));
    EXPECT_TRUE(three.error.contains(QStringLiteral("…」（ほかに 1 行）\r\n") + path));
    EXPECT_LT(three.error.size(), 120 + path.size());
    // A line longer than an outline holds (a comment of 3 MB) is refused,
    // with its length, and quoted briefly.
    {
        const QString kept = path + ".kept";
        ASSERT_TRUE(QFile::copy(path, kept));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("2,1,2,3,4," + QByteArray(3 * 1024 * 1024, 'x') + "\r\n2,1,2,3,4,ok\r\n");
        f.close();
        const TakenOutlinesRead long_ = ReadTakenOutlines(path, codec);
        EXPECT_EQ(long_.outlines, (QList<TakenOutline>{{{{1, 2}, {3, 4}}, QStringLiteral("ok")}}));
        EXPECT_TRUE(long_.error.startsWith(
            QStringLiteral("拾い済みの記録の 1 行目を読めません（図形の記録としては長すぎます: "
                           "3145738 文字）: 「2,1,2,3,4,xxx")));
        EXPECT_LT(long_.error.size(), 150 + path.size());
        ASSERT_TRUE(QFile::remove(path));
        ASSERT_TRUE(QFile::rename(kept, path));
    }

    // A file past its bound is neither read nor replaced; a write that fails
    // is said once a file, and its outlines wait for the next row written.
    const QByteArray huge(int(kMaxTakenOutlinesBytes) + 1, '\n');
    QFile big(path);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly | QIODevice::Truncate));
    big.write(huge);
    big.close();
    const Result<> added = AppendTakenOutlines(dir.filePath("plan.bmp"), {room}, codec);
    EXPECT_FALSE(added);
    EXPECT_TRUE(added.error().contains(path));
    EXPECT_EQ(QFileInfo(path).size(), huge.size());
    for (int i = 0; i < 2; ++i)
        waiting.finished(dir.filePath("plan.bmp"), room, finished);
    const auto said = waiting.rowWritten(finished, codec);
    ASSERT_TRUE(said);
    EXPECT_TRUE(said->startsWith(QStringLiteral("拾い済みの図形を図面に記録できませんでした")));
    EXPECT_TRUE(said->endsWith(QStringLiteral("図形は残してあり、次の「実行」で記録し直します")));
    const TakenOutline kitchen{{{1, 2}, {3, 4}}, QStringLiteral("台所-2")};
    waiting.finished(dir.filePath("plan.bmp"), kitchen, finished);
    EXPECT_FALSE(waiting.rowWritten(finished, codec));
    EXPECT_EQ(waiting.unsaved(dir.filePath("plan.bmp")), (QList<TakenOutline>{room, kitchen}));
    EXPECT_EQ(QFileInfo(path).size(), huge.size());
    // Room again: the next row written, of any outline, writes both in order.
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_FALSE(waiting.rowWritten(other, codec));
    EXPECT_TRUE(waiting.unsaved(dir.filePath("plan.bmp")).isEmpty());
    EXPECT_EQ(ReadTakenOutlines(path, codec).outlines, (QList<TakenOutline>{rounded, kitchen}));
}

namespace {

// A turned calibration measures the turned drawing as the old one measured
// the drawing: every length between two points, in both directions of turn,
// with coefficients that differ by axis and an origin off the corner.
TEST(TurnedCalibration, LengthsStayWhatTheyWere) {
    CalibrationTexts t = CalibrationTexts::defaults();
    t.X(CalRow::Origin) = "123.5";
    t.Y(CalRow::Origin) = "610";
    t.X(CalRow::OriginCoordinate) = "2";
    t.Y(CalRow::OriginCoordinate) = "-1.5";
    t.X(CalRow::Coefficient) = "0.01";
    t.Y(CalRow::Coefficient) = "0.0125";
    const int w = 1000, h = 700;
    const QPointF a(10.5, 20), b(900, 640.25);
    const auto frame = [](const CalibrationTexts& c) {
        return DrawingFrame::from(c, 1, float(Val(c.X(CalRow::Coefficient))),
                                  float(Val(c.Y(CalRow::Coefficient))));
    };
    const auto length = [&](const CalibrationTexts& c, QPointF p, QPointF q) {
        const DrawingPoint dp = PositionToDrawing(float(p.x()), float(p.y()), frame(c));
        const DrawingPoint dq = PositionToDrawing(float(q.x()), float(q.y()), frame(c));
        return std::hypot(dp.x - dq.x, dp.y - dq.y);
    };
    for (QuarterTurn turn : {QuarterTurn::Right, QuarterTurn::Left}) {
        const CalibrationTexts turned = TurnedCalibration(t, turn, w, h);
        EXPECT_EQ(turned.X(CalRow::Coefficient), "0.0125");
        EXPECT_EQ(turned.Y(CalRow::OriginCoordinate), "2");
        EXPECT_NEAR(length(turned, TurnedPoint(a, turn, w, h), TurnedPoint(b, turn, w, h)),
                    length(t, a, b), 1e-4);
        // Turned back, the calibration it was.
        const QuarterTurn back =
            turn == QuarterTurn::Right ? QuarterTurn::Left : QuarterTurn::Right;
        EXPECT_EQ(TurnedCalibration(turned, back, h, w), t);
    }
}

} // namespace

namespace {

// A drawing turned into a bitmap holds exactly the turned pixels, whatever
// its pixel format, both ways, across more than one band of rows.
TEST(TurnedBitmap, HoldsTheTurnedPixelsOfEveryFormat) {
    QImage rgb(130, 71, QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            rgb.setPixel(x, y, qRgb((x * 7) & 255, (y * 13) & 255, (x * y) & 255));
    QTemporaryDir dir;
    const QString path = dir.filePath("turned.bmp");
    for (const QImage& drawing :
         {rgb, rgb.convertToFormat(QImage::Format_Grayscale8),
          rgb.convertToFormat(QImage::Format_Indexed8), rgb.convertToFormat(QImage::Format_Mono)})
        for (QuarterTurn turn : {QuarterTurn::Right, QuarterTurn::Left}) {
            ASSERT_TRUE(SaveTurnedBmp(drawing, turn, path));
            const QImage expected =
                drawing.transformed(QTransform().rotate(turn == QuarterTurn::Right ? 90 : -90))
                    .convertToFormat(QImage::Format_RGB32);
            EXPECT_EQ(QImage(path).convertToFormat(QImage::Format_RGB32), expected)
                << drawing.format() << (turn == QuarterTurn::Right ? " right" : " left");
        }
}

} // namespace
