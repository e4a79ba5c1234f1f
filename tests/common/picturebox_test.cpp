#include "common/ui/picturebox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QPixmap>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

const QRgb kWhite = qRgb(255, 255, 255) & 0xffffff;
const QRgb kRed = qRgb(255, 0, 0) & 0xffffff;
const QRgb kBlue = qRgb(0, 0, 255) & 0xffffff;
const QRgb kGreen = qRgb(0, 255, 0) & 0xffffff;

// Pixels of the area that are not the given colour.
int countOther(const QImage& img, const QRect& area, QRgb colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if ((img.pixel(x, y) & 0xffffff) != (colour & 0xffffff))
                ++n;
    return n;
}

int countColour(const QImage& img, const QRect& area, QRgb colour) {
    return area.width() * area.height() - countOther(img, area, colour);
}

QRgb at(const QImage& img, int x, int y) {
    return img.pixel(x, y) & 0xffffff;
}

uint32_t le32(const QByteArray& b, int offset) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(b[offset + i]);
    return v;
}

uint16_t le16(const QByteArray& b, int offset) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[offset]) |
                                 (static_cast<unsigned char>(b[offset + 1]) << 8));
}

QImage solid(int w, int h, QRgb c) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

class PictureBoxTest : public ::testing::Test {
protected:
    void SetUp() override { box.resize(400, 400); }
    PictureBox box;
};

} // namespace

TEST_F(PictureBoxTest, LineCoversBothEndPointsInTwips) {
    EXPECT_FLOAT_EQ(box.ScaleWidth(), 6000.0f);
    EXPECT_FLOAT_EQ(box.ScaleHeight(), 6000.0f);
    box.Line(600, 900, 3000, 900, QColor(kRed));
    const QImage img = box.Image();
    ASSERT_EQ(img.size(), QSize(400, 400));
    EXPECT_EQ(countOther(img, QRect(40, 60, 161, 1), kRed), 0); // pixels 40..200
    EXPECT_EQ(at(img, 39, 60), kWhite);
    EXPECT_EQ(at(img, 201, 60), kWhite);
    EXPECT_EQ(at(img, 100, 59), kWhite);
    EXPECT_EQ(at(img, 100, 61), kWhite);
    EXPECT_FLOAT_EQ(box.CurrentX(), 3000.0f);
    EXPECT_FLOAT_EQ(box.CurrentY(), 900.0f);
}

TEST_F(PictureBoxTest, LineWithoutColourUsesForeColorAndDrawWidth) {
    box.setForeColor(QColor(kBlue));
    box.setDrawWidth(3);
    box.Line(0, 3000, 6000, 3000);
    const QImage img = box.Image();
    int rows = 0;
    for (int y = 190; y < 210; ++y)
        if (at(img, 200, y) == kBlue)
            ++rows;
    EXPECT_EQ(rows, 3);
    box.setDrawWidth(0); // refused: at least one pixel
    EXPECT_EQ(box.DrawWidth(), 1);
}

TEST_F(PictureBoxTest, FarOrInvalidCoordinatesAreDrawnSafely) {
    // A line to a point far outside still shows its visible part, straight.
    box.Line(0, 3000, 1e12f, 3000, QColor(kRed));
    box.Line(3000, -3e15f, 3000, 3e15f, QColor(kBlue));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    box.Line(nan, 0, 100, 100);
    box.Circle(inf, 0, 10);
    box.Circle(100, 100, nan);
    box.setCurrentX(nan);
    box.Print(QStringLiteral("x"));
    box.PaintPicture(solid(2, 2, kGreen), QRectF(0, 0, 1e30, 10));
    box.PaintPicture(solid(2, 2, kGreen), QRectF(0, 0, nan, 10));
    const QImage img = box.Image();
    EXPECT_EQ(countOther(img, QRect(0, 200, 200, 1), kRed), 0);
    EXPECT_EQ(countOther(img, QRect(200, 0, 1, 200), kBlue), 0);
    EXPECT_EQ(countOther(img, QRect(0, 0, 400, 400), kWhite), 400 + 400 - 1);
    EXPECT_EQ(box.retainedOperationCount(), 2u);
}

TEST_F(PictureBoxTest, CirclesBelowAPixelAreDotsAndLargerOnesFillWhenSolid) {
    box.Circle(600, 600, 0.5f, QColor(kRed));
    QImage img = box.Image();
    EXPECT_EQ(at(img, 40, 40), kRed);
    EXPECT_EQ(countOther(img, img.rect(), kWhite), 1);

    box.Cls();
    box.Circle(3000, 3000, 150, QColor(kRed)); // 10 pixels, hollow by default
    img = box.Image();
    EXPECT_EQ(at(img, 200, 200), kWhite);
    EXPECT_EQ(at(img, 210, 200), kRed);
    EXPECT_EQ(at(img, 200, 190), kRed);

    box.Cls();
    box.setFillStyle(PictureBox::FillStyle::Solid);
    box.setFillColor(QColor(kGreen));
    box.Circle(3000, 3000, 150, QColor(kRed));
    box.setFillColor(QColor(kBlue)); // later changes do not recolour it
    img = box.Image();
    EXPECT_EQ(at(img, 200, 200), kGreen);
    EXPECT_EQ(at(img, 205, 203), kGreen);
    EXPECT_EQ(at(img, 210, 200), kRed);
    EXPECT_EQ(at(img, 215, 200), kWhite);
    EXPECT_FLOAT_EQ(box.CurrentX(), 3000.0f);
}

TEST_F(PictureBoxTest, PrintDrawsAtCurrentPositionAndMovesToTheNextLine) {
    box.setForeColor(QColor(kRed));
    box.setFontBold(true);
    box.setFontSize(14);
    box.setCurrentX(1500);
    box.setCurrentY(1500);
    const float lineHeight = box.TextHeight();
    const float textWidth = box.TextWidth(QStringLiteral("[12]"));
    box.Print(QStringLiteral("[12]"));

    EXPECT_FLOAT_EQ(box.CurrentX(), 0.0f);
    EXPECT_FLOAT_EQ(box.CurrentY(), 1500.0f + lineHeight);
    EXPECT_GT(lineHeight, 15.0f * 14); // a 14 pt line is taller than 14 pixels
    EXPECT_GT(textWidth, 0.0f);

    const QImage img = box.Image();
    const int w = static_cast<int>(textWidth / 15) + 2;
    const int h = static_cast<int>(lineHeight / 15) + 1;
    const QRect cell(100, 100, w, h);
    EXPECT_GT(countColour(img, cell, kRed), 20);
    // Nothing but the text was drawn, and nothing above or left of its cell.
    EXPECT_EQ(countOther(img, QRect(0, 0, 400, 99), kWhite), 0);
    EXPECT_EQ(countOther(img, QRect(0, 0, 99, 400), kWhite), 0);
    EXPECT_EQ(countColour(img, img.rect(), kRed), countColour(img, cell, kRed));
}

TEST_F(PictureBoxTest, BoldAndSizeChangeTheText) {
    auto redPixels = [&](bool bold, float size) {
        box.Cls();
        box.setForeColor(QColor(kRed));
        box.setFontBold(bold);
        box.setFontSize(size);
        box.Print(QStringLiteral("居間-2"));
        return countColour(box.Image(), QRect(0, 0, 400, 400), kRed);
    };
    const int regular = redPixels(false, 14);
    const int bold = redPixels(true, 14);
    const int small = redPixels(false, 9);
    EXPECT_GT(bold, regular);
    EXPECT_GT(regular, small);
    EXPECT_GT(small, 0);
}

TEST_F(PictureBoxTest, ClsClearsDrawingsButKeepsThePicture) {
    box.setPicture(solid(100, 100, kGreen));
    box.Line(0, 3000, 6000, 3000, QColor(kRed));
    box.setCurrentX(10);
    box.setCurrentY(20);
    box.Cls();
    const QImage img = box.Image();
    EXPECT_EQ(countOther(img, QRect(0, 0, 100, 100), kGreen), 0);
    EXPECT_EQ(at(img, 100, 50), kWhite); // the picture is not stretched
    EXPECT_EQ(at(img, 300, 200), kWhite);
    EXPECT_EQ(box.CurrentX(), 0.0f);
    EXPECT_EQ(box.CurrentY(), 0.0f);
    EXPECT_TRUE(box.hasPicture());
}

TEST_F(PictureBoxTest, SettingOrClearingThePictureErasesDrawings) {
    box.Line(0, 3000, 6000, 3000, QColor(kRed));
    box.setPicture(solid(50, 50, kGreen));
    QImage img = box.Image();
    EXPECT_EQ(at(img, 300, 200), kWhite);
    EXPECT_EQ(at(img, 10, 10), kGreen);

    box.Line(0, 3000, 6000, 3000, QColor(kRed));
    box.clearPicture();
    EXPECT_FALSE(box.hasPicture());
    img = box.Image();
    EXPECT_EQ(countOther(img, img.rect(), kWhite), 0);
}

TEST_F(PictureBoxTest, PaintPictureStretchesTheSourceRectangle) {
    box.setScaleMode(PictureBox::ScaleMode::Pixels);
    QImage src(2, 2, QImage::Format_RGB32);
    src.setPixel(0, 0, kRed);
    src.setPixel(1, 0, kGreen);
    src.setPixel(0, 1, kBlue);
    src.setPixel(1, 1, qRgb(1, 2, 3));

    box.PaintPicture(src, QRectF(0, 0, 200, 200));
    QImage img = box.Image();
    EXPECT_EQ(countOther(img, QRect(0, 0, 100, 100), kRed), 0);
    EXPECT_EQ(countOther(img, QRect(100, 0, 100, 100), kGreen), 0);
    EXPECT_EQ(countOther(img, QRect(0, 100, 100, 100), kBlue), 0);
    EXPECT_EQ(countOther(img, QRect(100, 100, 100, 100), qRgb(1, 2, 3)), 0);
    EXPECT_EQ(countOther(img, QRect(200, 0, 200, 400), kWhite), 0);

    box.Cls();
    box.PaintPicture(src, QRectF(50, 50, 100, 100), QRectF(1, 0, 1, 1));
    img = box.Image();
    EXPECT_EQ(countOther(img, QRect(50, 50, 100, 100), kGreen), 0);
    EXPECT_EQ(at(img, 49, 100), kWhite);
    EXPECT_EQ(at(img, 150, 100), kWhite);

    box.Cls();
    box.PaintPicture(src, QRectF(0, 0, -100, 100), QRectF(0, 0, 2, 2)); // mirrored: not drawn
    EXPECT_EQ(box.retainedOperationCount(), 0u);
}

TEST_F(PictureBoxTest, RenderingAnAreaMatchesTheWholeImage) {
    // An exposed area must show exactly what the full image shows there,
    // whatever the stretch factor, or scrolling would leave seams.
    box.setScaleMode(PictureBox::ScaleMode::Pixels);
    QImage src(30, 30, QImage::Format_RGB32);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x)
            src.setPixel(x, y, qRgb((x * 37) & 255, (y * 53) & 255, (x * y) & 255));
    box.setPicture(solid(120, 80, kGreen));
    box.PaintPicture(src, QRectF(13, 7, 70, 70), QRectF(3, 2, 21, 25));
    box.Line(0, 0, 399, 250, QColor(kBlue));
    box.Line(390, 3, 20, 399, QColor(kBlue));
    box.Line(-5000, 30, 5000, 37, QColor(kRed)); // far beyond the box
    box.setDrawWidth(3);
    box.Line(10, 390, 300, 100, QColor(kGreen));
    box.setDrawWidth(1);
    box.Circle(45, 45, 9, QColor(kRed));
    box.setFillStyle(PictureBox::FillStyle::Solid);
    box.Circle(150, 30, 12.5f, QColor(kBlue));
    box.setForeColor(QColor(kRed));
    box.setCurrentX(150);
    box.setCurrentY(150);
    box.Print(QStringLiteral("[3]"));

    const QImage whole = box.Image();
    const std::vector<QRect> areas = {
        QRect(0, 0, 50, 50),     QRect(17, 23, 31, 19), QRect(40, 40, 1, 1), QRect(60, 5, 90, 200),
        QRect(140, 140, 60, 40), QRect(399, 399, 1, 1), QRect(36, 36, 9, 9), QRect(45, 30, 20, 30),
        QRect(140, 20, 10, 20),  QRect(150, 30, 7, 3)};
    for (const QRect& r : areas) {
        const QImage part = box.Image(r);
        ASSERT_EQ(part.size(), r.size());
        EXPECT_EQ(part, whole.copy(r))
            << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
    }
}

TEST_F(PictureBoxTest, PaintEventShowsTheRetainedImage) {
    box.setPicture(solid(60, 60, kGreen));
    box.Line(0, 3000, 6000, 3000, QColor(kRed));
    box.Circle(3000, 1500, 300, QColor(kBlue));
    const QImage shown = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown, box.Image());
}

TEST_F(PictureBoxTest, OperationListStaysBoundedAndKeepsWhatWasDrawn) {
    box.Line(0, 150, 6000, 150, QColor(kRed)); // pixel row 10
    for (std::size_t i = 0; i < PictureBox::kMaxOperations + 50; ++i)
        box.Line(0, 3000, 6000, 3000, QColor(kBlue));
    box.Line(0, 4500, 6000, 4500, QColor(kGreen)); // pixel row 300
    EXPECT_LE(box.retainedOperationCount(), PictureBox::kMaxOperations);
    const QImage img = box.Image();
    EXPECT_EQ(countOther(img, QRect(0, 10, 400, 1), kRed), 0);
    EXPECT_EQ(countOther(img, QRect(0, 200, 400, 1), kBlue), 0);
    EXPECT_EQ(countOther(img, QRect(0, 300, 400, 1), kGreen), 0);
    box.Cls();
    EXPECT_EQ(box.retainedOperationCount(), 0u);
    EXPECT_EQ(countOther(box.Image(), QRect(0, 0, 400, 400), kWhite), 0);
}

TEST_F(PictureBoxTest, MouseEventsReportButtonsShiftAndScaleUnits) {
    struct Event {
        int kind, button, shift;
        float x, y;
    };
    std::vector<Event> seen;
    QObject::connect(&box, &PictureBox::MouseDown, [&](int b, int s, float x, float y) {
        seen.push_back({0, b, s, x, y});
    });
    QObject::connect(&box, &PictureBox::MouseMove, [&](int b, int s, float x, float y) {
        seen.push_back({1, b, s, x, y});
    });
    QObject::connect(&box, &PictureBox::MouseUp, [&](int b, int s, float x, float y) {
        seen.push_back({2, b, s, x, y});
    });
    auto send = [&](QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons held,
                    Qt::KeyboardModifiers mods) {
        QMouseEvent e(type, pos, box.mapToGlobal(pos), button, held, mods);
        QCoreApplication::sendEvent(&box, &e);
    };
    send(QEvent::MouseButtonPress, QPointF(10, 20), Qt::RightButton, Qt::RightButton,
         Qt::ShiftModifier);
    send(QEvent::MouseMove, QPointF(11, 21), Qt::NoButton, Qt::RightButton | Qt::LeftButton,
         Qt::ControlModifier | Qt::AltModifier);
    box.setScaleMode(PictureBox::ScaleMode::Pixels);
    send(QEvent::MouseButtonRelease, QPointF(12.5, 22), Qt::MiddleButton, Qt::NoButton,
         Qt::NoModifier);

    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].kind, 0);
    EXPECT_EQ(seen[0].button, 2);
    EXPECT_EQ(seen[0].shift, 1);
    EXPECT_FLOAT_EQ(seen[0].x, 150.0f);
    EXPECT_FLOAT_EQ(seen[0].y, 300.0f);
    EXPECT_EQ(seen[1].kind, 1);
    EXPECT_EQ(seen[1].button, 3);
    EXPECT_EQ(seen[1].shift, 6);
    EXPECT_EQ(seen[2].kind, 2);
    EXPECT_EQ(seen[2].button, 4);
    EXPECT_FLOAT_EQ(seen[2].x, 12.5f);
    EXPECT_FLOAT_EQ(seen[2].y, 22.0f);
}

TEST_F(PictureBoxTest, SavePictureWritesA24BitBitmapThatReloadsIdentically) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    box.setPicture(solid(30, 30, qRgb(10, 20, 30)));
    box.Line(600, 5400, 5400, 5400, QColor(kRed));
    box.Line(5400, 5400, 5400, 600, QColor(kBlue));
    box.setForeColor(QColor(kRed));
    box.Print(QStringLiteral("居間"));
    const QString path = dir.filePath(QStringLiteral("curGazo.bmp"));
    const Result<> saved = box.SavePicture(path);
    ASSERT_TRUE(saved) << saved.error().toStdString();

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray b = f.readAll();
    ASSERT_GE(b.size(), 54);
    EXPECT_EQ(b.left(2), QByteArray("BM"));
    EXPECT_EQ(le32(b, 2), static_cast<uint32_t>(b.size()));
    EXPECT_EQ(le32(b, 10), 54u);
    EXPECT_EQ(le32(b, 14), 40u);
    EXPECT_EQ(static_cast<int32_t>(le32(b, 18)), 400);
    EXPECT_EQ(static_cast<int32_t>(le32(b, 22)), 400); // bottom-up
    EXPECT_EQ(le16(b, 26), 1);
    EXPECT_EQ(le16(b, 28), 24);
    EXPECT_EQ(le32(b, 30), 0u);
    EXPECT_EQ(b.size(), 54 + 400 * 1200);
    // The bottom row comes first: its first pixel is the box's lower left.
    EXPECT_EQ(static_cast<unsigned char>(b[54]), 255); // blue byte of white
    // Pixel (10, 10) lies in the background picture: row 389 from the bottom.
    const int off = 54 + 389 * 1200 + 10 * 3;
    EXPECT_EQ(static_cast<unsigned char>(b[off]), 30);
    EXPECT_EQ(static_cast<unsigned char>(b[off + 1]), 20);
    EXPECT_EQ(static_cast<unsigned char>(b[off + 2]), 10);

    const QImage back(path);
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), box.Image());
    // Only the bitmap is left in the folder: no temporary file remains.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("curGazo.bmp")});
}

TEST(BitmapFile, RowsArePaddedToFourBytes) {
    QImage img(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            img.setPixel(x, y, qRgb(x * 40, y * 80, 7));
    const QByteArray b = EncodeBmp24(img);
    EXPECT_EQ(b.size(), 54 + 16 * 3); // 15 bytes of pixels + 1 byte of padding per row
    EXPECT_EQ(le32(b, 34), 48u);
    QImage back;
    ASSERT_TRUE(back.loadFromData(b, "BMP"));
    EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), img);
    EXPECT_TRUE(EncodeBmp24(QImage()).isEmpty());
}

TEST(BitmapFile, FailedSaveReportsAndKeepsTheOldFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const Result<> missing = SaveImageAsBmp(solid(4, 4, kRed), dir.filePath("missing/x.bmp"));
    EXPECT_FALSE(missing);
    EXPECT_FALSE(missing.error().isEmpty());

    // Replacing an existing bitmap leaves either the old or the new one whole.
    const QString path = dir.filePath("x.bmp");
    ASSERT_TRUE(SaveImageAsBmp(solid(4, 4, kRed), path));
    EXPECT_FALSE(SaveImageAsBmp(QImage(), path));
    EXPECT_EQ(QImage(path).convertToFormat(QImage::Format_RGB32), solid(4, 4, kRed));
    ASSERT_TRUE(SaveImageAsBmp(solid(2, 6, kBlue), path));
    EXPECT_EQ(QImage(path).size(), QSize(2, 6));

    PictureBox empty; // never sized: nothing to save
    empty.resize(0, 0);
    EXPECT_FALSE(empty.SavePicture(dir.filePath("y.bmp")));
    EXPECT_FALSE(QFile::exists(dir.filePath("y.bmp")));
}

TEST(PictureBoxBig, DrawingSurvivesLongRunsAndMarksCostWhatTheyCover) {
    // A zoomed drawing larger than any raster layer would be allowed.
    PictureBox big;
    big.setScaleMode(PictureBox::ScaleMode::Pixels);
    big.resize(13000, 9000);
    const QImage drawing = solid(6500, 4500, kGreen);
    big.PaintPicture(drawing, QRectF(0, 0, 13000, 9000), QRectF(0, 0, 6500, 4500));
    big.Line(12000, 8000, 12900, 8000, QColor(kRed));
    for (std::size_t i = 0; i < PictureBox::kMaxOperations + 10; ++i)
        big.PSet(float(100 + i % 50), 100, QColor(kBlue));
    EXPECT_LT(big.retainedOperationCount(), 20u);
    // The drawing and every mark are still there; tiles only where marks are.
    EXPECT_EQ(big.Point(5000, 5000), qint64(kGreen));
    EXPECT_EQ(big.Point(12500, 8000), qint64(kRed));
    EXPECT_EQ(big.Point(120, 100), qint64(kBlue));
    EXPECT_LE(big.flattenedBytes(), 8 * PictureBox::kTileSize * PictureBox::kTileSize * 4);
    // A picture painted after the marks covers them; later marks lie on top.
    big.PaintPicture(solid(10, 10, kWhite), QRectF(0, 0, 200, 200));
    big.PSet(150, 150, QColor(kRed));
    for (std::size_t i = 0; i < PictureBox::kMaxOperations; ++i)
        big.PSet(3000, 3000, QColor(kBlue));
    EXPECT_EQ(big.Point(120, 100), qint64(kWhite));
    EXPECT_EQ(big.Point(150, 150), qint64(kRed));
    EXPECT_EQ(big.Point(3000, 3000), qint64(kBlue));
    EXPECT_EQ(big.Point(5000, 5000), qint64(kGreen));
    EXPECT_EQ(big.Point(-1, 5), -1);
    EXPECT_EQ(big.Point(13000, 5), -1);
    // An area rendered at a scale costs the scaled size.
    const QImage part = big.Image(QRectF(11900, 7900, 1100, 200), 0.5);
    EXPECT_EQ(part.size(), QSize(550, 100));
    EXPECT_EQ(at(part, 300, 50), kRed);
    EXPECT_EQ(at(part, 20, 20), kGreen);
}

TEST_F(PictureBoxTest, DrawStylesBreakThinLinesOnly) {
    box.setScaleMode(PictureBox::ScaleMode::Pixels);
    box.setDrawStyle(PictureBox::DrawStyle::Dash);
    box.Line(0, 10, 119, 10, QColor(kRed));
    box.setDrawStyle(PictureBox::DrawStyle::Dot);
    box.Line(0, 20, 119, 20, QColor(kRed));
    box.setDrawStyle(PictureBox::DrawStyle::Transparent);
    box.Line(0, 30, 119, 30, QColor(kRed));
    EXPECT_EQ(box.CurrentX(), 119);
    box.setDrawStyle(PictureBox::DrawStyle::Dash);
    box.setDrawWidth(3);
    box.Line(0, 40, 119, 40, QColor(kRed));
    const QImage img = box.Image();
    EXPECT_EQ(countColour(img, QRect(0, 10, 120, 1), kRed), 80); // 8 on, 4 off
    EXPECT_EQ(countColour(img, QRect(0, 20, 120, 1), kRed), 60); // 2 on, 2 off
    EXPECT_EQ(countColour(img, QRect(0, 30, 120, 1), kRed), 0);
    EXPECT_EQ(countOther(img, QRect(2, 40, 116, 1), kRed), 0); // wide lines stay solid
    // The same pixels when only a part is rendered.
    EXPECT_EQ(box.Image(QRect(50, 10, 30, 1)), img.copy(50, 10, 30, 1));
}
