#pragma once
// PictureBox: the picture box every window of the system draws in. It keeps
// what is drawn on it (a background picture plus a list of drawing
// operations), so the drawing survives repaints and can be rendered to an
// image or saved as a Windows bitmap at any time, shown or not.
//
// Coordinates are in the box's scale unit: twips (15 twips = 1 pixel, the
// default, used by the outline sketches) or pixels (the digitizer). Drawing
// operations convert to pixels when they are called, as the original boxes
// did, so changing the scale mode later does not move what is already drawn.
//
// Painting renders only the exposed area: a background picture or a stretched
// source rectangle of a huge drawing costs the visible pixels, not the whole
// image. Pictures painted into the box (PaintPicture) are kept as they are,
// never dropped or rasterised; a long run of other drawings is flattened
// into tiles covering only where something was drawn, so a big box costs
// no more than a small one.

#include "common/core/result.h"

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <cstddef>
#include <vector>

class QPainter;

class PictureBox : public QWidget {
    Q_OBJECT

public:
    enum class ScaleMode { Twips = 1, Pixels = 3 };
    // Solid fills circles with FillColor; Transparent leaves them hollow.
    enum class FillStyle { Solid = 0, Transparent = 1 };
    // Line pattern of one-pixel lines and outlines; wider lines are solid.
    enum class DrawStyle {
        Solid = 0,
        Dash = 1,
        Dot = 2,
        DashDot = 3,
        DashDotDot = 4,
        Transparent = 5,
        InsideSolid = 6
    };

    static constexpr double kTwipsPerPixel = 15.0;
    // Operations kept before a run of drawings is flattened into tiles.
    static constexpr std::size_t kMaxOperations = 10000;
    // Side of a flattening tile, pixels.
    static constexpr int kTileSize = 256;

    explicit PictureBox(QWidget* parent = nullptr);
    ~PictureBox() override;

    // Drawing state, read by the next operation.
    ScaleMode scaleMode() const { return scaleMode_; }
    void setScaleMode(ScaleMode mode) { scaleMode_ = mode; }
    QColor ForeColor() const { return foreColor_; }
    void setForeColor(const QColor& c) { foreColor_ = c; }
    QColor BackColor() const { return backColor_; }
    void setBackColor(const QColor& c); // also clears the drawings (Cls)
    QColor FillColor() const { return fillColor_; }
    void setFillColor(const QColor& c) { fillColor_ = c; }
    FillStyle fillStyle() const { return fillStyle_; }
    void setFillStyle(FillStyle s) { fillStyle_ = s; }
    int DrawWidth() const { return drawWidth_; }
    void setDrawWidth(int pixels); // at least 1
    DrawStyle drawStyle() const { return drawStyle_; }
    void setDrawStyle(DrawStyle s) { drawStyle_ = s; }
    bool FontBold() const { return fontBold_; }
    void setFontBold(bool bold) { fontBold_ = bold; }
    float FontSize() const { return fontSize_; } // points
    void setFontSize(float points);
    QString FontName() const { return fontName_; }
    void setFontName(const QString& family);
    float CurrentX() const { return currentX_; }
    float CurrentY() const { return currentY_; }
    void setCurrentX(float x) { currentX_ = x; }
    void setCurrentY(float y) { currentY_ = y; }

    // Inner size in scale units (6000 for 400 pixels in twips).
    float ScaleWidth() const;
    float ScaleHeight() const;

    // Clears every drawing and sets CurrentX/CurrentY to 0; the background
    // picture stays.
    void Cls();
    // The background picture, shown unscaled from the top-left corner.
    // Setting or clearing it also clears the drawings, as a picture box with
    // a persistent image does.
    void setPicture(const QImage& picture);
    void clearPicture();
    const QImage& Picture() const { return picture_; }
    bool hasPicture() const { return !picture_.isNull(); }

    // A line in the given colour (ForeColor when invalid), DrawWidth pixels
    // wide, both end points included. Leaves CurrentX/CurrentY at (x2, y2).
    void Line(float x1, float y1, float x2, float y2, const QColor& color = QColor());
    // A circle outlined in the given colour (ForeColor when invalid), filled
    // with FillColor when FillStyle is Solid. A radius below one pixel draws
    // a dot of DrawWidth pixels. Leaves CurrentX/CurrentY at the centre.
    void Circle(float x, float y, float radius, const QColor& color = QColor());
    // One point in the given colour (ForeColor when invalid), DrawWidth
    // pixels across. Leaves CurrentX/CurrentY at (x, y).
    void PSet(float x, float y, const QColor& color = QColor());
    // The colour shown at (x, y) as 0xRRGGBB, or -1 outside the box.
    qint64 Point(float x, float y) const;
    // Text in ForeColor, FontName/FontSize/FontBold, its top-left corner at
    // CurrentX/CurrentY; then CurrentX = 0 and CurrentY moves one line down.
    void Print(const QString& text);
    // Paints the source rectangle of an image stretched into the destination
    // rectangle, both in scale units (pixels of the source in pixel mode).
    void PaintPicture(const QImage& source, const QRectF& dest, const QRectF& src);
    // The whole source image into the destination rectangle.
    void PaintPicture(const QImage& source, const QRectF& dest);
    // The same with a copy of the source at half its size, each pixel the
    // mean of a 2 x 2 block: shrunk, the picture is painted smoothed, from
    // the half-size copy below half its size, so that lines one pixel wide
    // stay visible. Enlarged, it is painted pixel for pixel as above.
    void PaintPicture(const QImage& source, const QImage& half, const QRectF& dest,
                      const QRectF& src);

    // Text extent in scale units with the current font.
    float TextWidth(const QString& text) const;
    float TextHeight(const QString& text = QString()) const;

    // Background, picture and drawings at the widget's pixel size.
    QImage Image() const;
    // The same for one area (in widget pixels) only; the image has the size
    // of that area.
    QImage Image(const QRect& pixelArea) const;
    // One area (widget pixels) rendered at a scale: an image of the area's
    // size times scale, costing that size, not the area's.
    QImage Image(const QRectF& pixelArea, double scale) const;
    // Saves Image() as a 24-bit Windows bitmap, replacing the file atomically.
    Result<> SavePicture(const QString& path) const;

    // Conversions between scale units and widget pixels.
    double unitsToPixels(double units) const;
    double pixelsToUnits(double pixels) const;

    // Number of drawing operations currently retained (for diagnostics).
    std::size_t retainedOperationCount() const;
    // Bytes held by flattened tiles (for diagnostics).
    qint64 flattenedBytes() const;

signals:
    // Button: 1 left, 2 right, 4 middle (the buttons held, for a move);
    // shift: 1 Shift, 2 Ctrl, 4 Alt; x, y in scale units.
    void MouseDown(int button, int shift, float x, float y);
    void MouseMove(int button, int shift, float x, float y);
    void MouseUp(int button, int shift, float x, float y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Operation;
    struct Tiles;

    void addOperation(Operation&& op);
    void flattenOperations();
    bool flattenRun(std::vector<Operation>& run, std::vector<Operation>& out) const;
    void renderArea(QPainter& painter, const QRect& area) const;
    static void drawOperation(QPainter& painter, const Operation& op, const QRect& area);
    QFont currentFont() const;
    QPointF toPixels(float x, float y) const;

    ScaleMode scaleMode_ = ScaleMode::Twips;
    QColor foreColor_ = Qt::black;
    QColor backColor_ = Qt::white;
    QColor fillColor_ = Qt::black;
    FillStyle fillStyle_ = FillStyle::Transparent;
    int drawWidth_ = 1;
    DrawStyle drawStyle_ = DrawStyle::Solid;
    bool fontBold_ = false;
    float fontSize_ = 9.0f;
    QString fontName_;
    float currentX_ = 0.0f;
    float currentY_ = 0.0f;

    QImage picture_;
    std::vector<Operation> ops_;
};

// Encodes an image as a 24-bit bottom-up Windows bitmap (BITMAPFILEHEADER +
// BITMAPINFOHEADER, 96 dpi). Empty result for a null image or one too large
// for the format.
QByteArray EncodeBmp24(const QImage& image);
// Replaces the file with EncodeBmp24(image) (WriteFileAtomically), so readers
// never see a half-written bitmap and a failed save leaves the old one.
Result<> SaveImageAsBmp(const QImage& image, const QString& path);
