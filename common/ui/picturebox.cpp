#include "common/ui/picturebox.h"

#include "common/core/bmp24.h"

#include "common/core/atomic_file.h"
#include "common/ui/uifont.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStringList>
#include <QTransform>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <utility>

namespace {

// The screen the twip scale assumes: 1440 twips per inch at 15 twips per
// pixel is 96 dots per inch, so a point is 96/72 pixels.
constexpr double kDotsPerInch = 96.0;
constexpr int kDotsPerMetre = 3780; // 96 dpi, as written into the bitmap header

// Flattened tiles of one box stay within this many bytes (64 MB); past it
// the oldest drawings of a run are forgotten instead.
constexpr qint64 kTileBudgetBytes = qint64(64) * 1024 * 1024;

// Pixel coordinates are kept within this distance of the origin: far beyond
// any box, yet small enough that no pixel arithmetic can overflow.
constexpr double kCoordLimit = 1 << 22;

int roundToPixel(double v) {
    return static_cast<int>(std::lround(std::clamp(v, -kCoordLimit, kCoordLimit)));
}

bool isFinite(const QPointF& p) {
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

// Cuts the segment a-b to the square of kCoordLimit (Liang-Barsky), so a line
// to a point far outside keeps its direction where it can be seen. False
// when nothing of it lies inside.
bool clipToLimit(QPointF& a, QPointF& b) {
    double t0 = 0.0, t1 = 1.0;
    const double d[2] = {b.x() - a.x(), b.y() - a.y()};
    const double o[2] = {a.x(), a.y()};
    for (int k = 0; k < 2; ++k) {
        for (const double edge : {-kCoordLimit, kCoordLimit}) {
            // Inside means o + t d on the inner side of this edge.
            const double p = edge < 0 ? -d[k] : d[k];
            const double q = edge < 0 ? o[k] - edge : edge - o[k];
            if (p == 0.0) {
                if (q < 0.0)
                    return false;
                continue;
            }
            const double t = q / p;
            if (p < 0.0)
                t0 = std::max(t0, t);
            else
                t1 = std::min(t1, t);
        }
    }
    if (t0 > t1)
        return false;
    const QPointF start(o[0] + t0 * d[0], o[1] + t0 * d[1]);
    const QPointF end(o[0] + t1 * d[0], o[1] + t1 * d[1]);
    a = start;
    b = end;
    return true;
}

int mouseButtons(Qt::MouseButtons buttons) {
    int b = 0;
    if (buttons & Qt::LeftButton)
        b |= 1;
    if (buttons & Qt::RightButton)
        b |= 2;
    if (buttons & Qt::MiddleButton)
        b |= 4;
    return b;
}

int shiftState(Qt::KeyboardModifiers mods) {
    int s = 0;
    if (mods & Qt::ShiftModifier)
        s |= 1;
    if (mods & Qt::ControlModifier)
        s |= 2;
    if (mods & Qt::AltModifier)
        s |= 4;
    return s;
}

QPen strokePen(const QColor& color, int width) {
    QPen pen(color);
    pen.setWidth(width);
    // A one-pixel line includes its last point; wider lines end rounded.
    pen.setCapStyle(width <= 1 ? Qt::SquareCap : Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// a / b rounded to the nearest integer, halves away from zero (b != 0).
int64_t roundedQuotient(int64_t a, int64_t b) {
    if (b < 0) {
        a = -a;
        b = -b;
    }
    return a >= 0 ? (2 * a + b) / (2 * b) : -((-2 * a + b) / (2 * b));
}

// On and off runs (pixels) of the broken line styles, counted from the
// line's first point; empty for a solid line.
std::vector<int> stylePattern(PictureBox::DrawStyle style) {
    using S = PictureBox::DrawStyle;
    switch (style) {
    case S::Dash:
        return {8, 4};
    case S::Dot:
        return {2, 2};
    case S::DashDot:
        return {8, 3, 2, 3};
    case S::DashDotDot:
        return {8, 3, 2, 3, 2, 3};
    default:
        return {};
    }
}

// Whether the pixel at distance t from the line's start is drawn.
bool patternOn(const std::vector<int>& pattern, int64_t t) {
    if (pattern.empty())
        return true;
    int64_t period = 0;
    for (int n : pattern)
        period += n;
    t %= period;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (t < pattern[i])
            return i % 2 == 0;
        t -= pattern[i];
    }
    return true;
}

Qt::PenStyle penStyle(PictureBox::DrawStyle style) {
    using S = PictureBox::DrawStyle;
    switch (style) {
    case S::Dash:
        return Qt::DashLine;
    case S::Dot:
        return Qt::DotLine;
    case S::DashDot:
        return Qt::DashDotLine;
    case S::DashDotDot:
        return Qt::DashDotDotLine;
    case S::Transparent:
        return Qt::NoPen;
    default:
        return Qt::SolidLine;
    }
}

// The pixels of a one-pixel line inside an area. Each pixel follows from its
// own column (or row) alone, so drawing a line in pieces, one exposed area at
// a time, gives the same pixels as drawing it whole; a clipped painter line
// does not promise that. Only the columns inside the area are visited. A
// broken style keeps the pixels of its on runs, counted from a.
QVector<QPoint> thinLinePixels(QPoint a, QPoint b, const QRect& area,
                               const std::vector<int>& pattern = {}) {
    QVector<QPoint> pts;
    const int64_t dx = int64_t(b.x()) - a.x();
    const int64_t dy = int64_t(b.y()) - a.y();
    if (dx == 0 && dy == 0) {
        if (area.contains(a))
            pts.push_back(a);
        return pts;
    }
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const int64_t from = xMajor ? std::min(a.x(), b.x()) : std::min(a.y(), b.y());
    const int64_t to = xMajor ? std::max(a.x(), b.x()) : std::max(a.y(), b.y());
    const int64_t lo = std::max<int64_t>(from, xMajor ? area.left() : area.top());
    const int64_t hi = std::min<int64_t>(to, xMajor ? area.right() : area.bottom());
    const int64_t start = xMajor ? a.x() : a.y();
    for (int64_t u = lo; u <= hi; ++u) {
        if (!patternOn(pattern, std::llabs(u - start)))
            continue;
        if (xMajor) {
            const int64_t y = a.y() + roundedQuotient((u - a.x()) * dy, dx);
            if (y >= area.top() && y <= area.bottom())
                pts.push_back(QPoint(int(u), int(y)));
        } else {
            const int64_t x = a.x() + roundedQuotient((u - a.y()) * dx, dy);
            if (x >= area.left() && x <= area.right())
                pts.push_back(QPoint(int(x), int(u)));
        }
    }
    return pts;
}

} // namespace

// Flattened drawings: transparent tiles of kTileSize pixels, only where
// something was drawn, keyed by (tile row, tile column).
struct PictureBox::Tiles {
    std::map<std::pair<int, int>, QImage> tiles;
    qint64 bytes() const { return qint64(tiles.size()) * kTileSize * kTileSize * 4; }
};

struct PictureBox::Operation {
    enum class Kind { Line, Dot, Circle, Text, Picture, Layer };
    Kind kind = Kind::Line;
    DrawStyle style = DrawStyle::Solid;
    QRect bounds; // widget pixels touched, for skipping unexposed operations
    QColor color;
    QColor fill;
    bool filled = false;
    int width = 1;
    QPointF p1, p2; // pixels
    double radius = 0.0;
    QString text;
    QFont font;
    QImage image;
    QImage half;                  // image at half its size, for smoothed shrinking (or null)
    QRectF dest, src;             // dest in pixels, src in source pixels
    std::shared_ptr<Tiles> tiles; // Layer
};

PictureBox::PictureBox(QWidget* parent) : QWidget(parent), fontName_(kJapaneseFontName) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true); // moves are reported with no button held too
}

PictureBox::~PictureBox() = default;

std::size_t PictureBox::retainedOperationCount() const {
    return ops_.size();
}

qint64 PictureBox::flattenedBytes() const {
    qint64 n = 0;
    for (const Operation& op : ops_)
        if (op.tiles)
            n += op.tiles->bytes();
    return n;
}

void PictureBox::setBackColor(const QColor& c) {
    backColor_ = c;
    // A new background colour erases the drawings; the picture stays.
    Cls();
}

void PictureBox::setDrawWidth(int pixels) {
    drawWidth_ = std::clamp(pixels, 1, 32767);
}

void PictureBox::setFontSize(float points) {
    if (std::isfinite(points) && points > 0.0f)
        fontSize_ = std::min(points, 2048.0f);
}

void PictureBox::setFontName(const QString& family) {
    fontName_ = family.isEmpty() ? kJapaneseFontName : family;
}

double PictureBox::unitsToPixels(double units) const {
    return scaleMode_ == ScaleMode::Twips ? units / kTwipsPerPixel : units;
}

double PictureBox::pixelsToUnits(double pixels) const {
    return scaleMode_ == ScaleMode::Twips ? pixels * kTwipsPerPixel : pixels;
}

QPointF PictureBox::toPixels(float x, float y) const {
    return QPointF(unitsToPixels(x), unitsToPixels(y));
}

float PictureBox::ScaleWidth() const {
    return static_cast<float>(pixelsToUnits(width()));
}

float PictureBox::ScaleHeight() const {
    return static_cast<float>(pixelsToUnits(height()));
}

QFont PictureBox::currentFont() const {
    QFont font;
    QStringList families{fontName_};
    for (const QString& f : JapaneseFontFallbacks())
        if (f != fontName_)
            families << f;
    font.setFamilies(families);
    font.setPixelSize(std::max(1, roundToPixel(fontSize_ * kDotsPerInch / 72.0)));
    font.setBold(fontBold_);
    // Plain pixels in the text colour, as the sketches are read as bitmaps.
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

float PictureBox::TextWidth(const QString& text) const {
    QFontMetrics fm(currentFont());
    return static_cast<float>(pixelsToUnits(fm.horizontalAdvance(text)));
}

float PictureBox::TextHeight(const QString&) const {
    QFontMetrics fm(currentFont());
    return static_cast<float>(pixelsToUnits(fm.height()));
}

void PictureBox::Cls() {
    ops_.clear();
    ops_.shrink_to_fit();
    currentX_ = 0.0f;
    currentY_ = 0.0f;
    update();
}

void PictureBox::setPicture(const QImage& picture) {
    picture_ = picture;
    ops_.clear();
    update();
}

void PictureBox::clearPicture() {
    setPicture(QImage());
}

void PictureBox::Line(float x1, float y1, float x2, float y2, const QColor& color) {
    Operation op;
    op.kind = Operation::Kind::Line;
    op.color = color.isValid() ? color : foreColor_;
    op.width = drawWidth_;
    // Only one-pixel lines are broken; wider lines are solid.
    op.style = drawWidth_ <= 1 ? drawStyle_ : DrawStyle::Solid;
    QPointF a = toPixels(x1, y1);
    QPointF b = toPixels(x2, y2);
    currentX_ = x2;
    currentY_ = y2;
    if (op.style == DrawStyle::Transparent)
        return;
    if (!isFinite(a) || !isFinite(b) || !clipToLimit(a, b))
        return; // nothing of it can be seen
    op.p1 = QPointF(roundToPixel(a.x()), roundToPixel(a.y()));
    op.p2 = QPointF(roundToPixel(b.x()), roundToPixel(b.y()));
    const int m = op.width + 1;
    op.bounds = QRectF(op.p1, op.p2).normalized().toAlignedRect().adjusted(-m, -m, m, m);
    addOperation(std::move(op));
}

void PictureBox::Circle(float x, float y, float radius, const QColor& color) {
    Operation op;
    op.color = color.isValid() ? color : foreColor_;
    op.width = drawWidth_;
    op.style = drawWidth_ <= 1 ? drawStyle_ : DrawStyle::Solid;
    op.filled = fillStyle_ == FillStyle::Solid;
    op.fill = fillColor_;
    const QPointF c = toPixels(x, y);
    currentX_ = x;
    currentY_ = y;
    const double r = std::fabs(unitsToPixels(radius));
    if (!isFinite(c) || !std::isfinite(r))
        return;
    op.p1 = QPointF(roundToPixel(c.x()), roundToPixel(c.y()));
    op.radius = std::min(r, kCoordLimit);
    // A circle smaller than a pixel shows as a dot of the pen's size.
    op.kind = op.radius < 1.0 ? Operation::Kind::Dot : Operation::Kind::Circle;
    const int m = static_cast<int>(std::ceil(op.radius)) + op.width + 1;
    op.bounds = QRect(op.p1.toPoint(), op.p1.toPoint()).adjusted(-m, -m, m, m);
    addOperation(std::move(op));
}

void PictureBox::PSet(float x, float y, const QColor& color) {
    Operation op;
    op.kind = Operation::Kind::Dot;
    op.color = color.isValid() ? color : foreColor_;
    op.width = drawWidth_;
    const QPointF c = toPixels(x, y);
    currentX_ = x;
    currentY_ = y;
    if (!isFinite(c))
        return;
    op.p1 = QPointF(roundToPixel(c.x()), roundToPixel(c.y()));
    const int m = op.width + 1;
    op.bounds = QRect(op.p1.toPoint(), op.p1.toPoint()).adjusted(-m, -m, m, m);
    addOperation(std::move(op));
}

qint64 PictureBox::Point(float x, float y) const {
    const QPointF p = toPixels(x, y);
    if (!isFinite(p))
        return -1;
    const QPoint px(static_cast<int>(std::floor(std::clamp(p.x(), -kCoordLimit, kCoordLimit))),
                    static_cast<int>(std::floor(std::clamp(p.y(), -kCoordLimit, kCoordLimit))));
    if (!rect().contains(px))
        return -1;
    return Image(QRect(px, QSize(1, 1))).pixel(0, 0) & 0xffffff;
}

void PictureBox::Print(const QString& text) {
    Operation op;
    op.kind = Operation::Kind::Text;
    op.color = foreColor_;
    op.font = currentFont();
    op.text = text;
    const QPointF p = toPixels(currentX_, currentY_);
    QFontMetrics fm(op.font);
    const int h = fm.height();
    const int w = std::min(fm.horizontalAdvance(text), int(kCoordLimit));
    currentX_ = 0.0f;
    currentY_ += static_cast<float>(pixelsToUnits(h));
    if (!isFinite(p))
        return;
    op.p1 = QPointF(roundToPixel(p.x()), roundToPixel(p.y()));
    // Generous margins: bold and italic glyphs may overhang their advance.
    op.bounds = QRect(op.p1.toPoint(), QSize(w, h)).adjusted(-h, -h, h, h);
    addOperation(std::move(op));
}

void PictureBox::PaintPicture(const QImage& source, const QRectF& dest, const QRectF& src) {
    PaintPicture(source, QImage(), dest, src);
}

void PictureBox::PaintPicture(const QImage& source, const QImage& half, const QRectF& dest,
                              const QRectF& src) {
    if (source.isNull())
        return;
    Operation op;
    op.half = half; // implicitly shared too
    op.kind = Operation::Kind::Picture;
    op.image = source; // implicitly shared: no pixel copy
    op.dest = QRectF(toPixels(dest.x(), dest.y()),
                     QSizeF(unitsToPixels(dest.width()), unitsToPixels(dest.height())));
    op.src = QRectF(toPixels(src.x(), src.y()),
                    QSizeF(unitsToPixels(src.width()), unitsToPixels(src.height())));
    // Mirrored, empty or unreasonable rectangles are not drawn.
    const QRectF limit(-kCoordLimit, -kCoordLimit, 2 * kCoordLimit, 2 * kCoordLimit);
    if (!(op.dest.width() > 0 && op.dest.height() > 0 && op.src.width() > 0 &&
          op.src.height() > 0) ||
        !limit.contains(op.dest) || !limit.contains(op.src))
        return;
    op.bounds = op.dest.toAlignedRect();
    addOperation(std::move(op));
}

void PictureBox::PaintPicture(const QImage& source, const QRectF& dest) {
    PaintPicture(source, dest,
                 QRectF(0, 0, pixelsToUnits(source.width()), pixelsToUnits(source.height())));
}

void PictureBox::addOperation(Operation&& op) {
    const QRect dirty = op.bounds;
    ops_.push_back(std::move(op));
    if (ops_.size() > kMaxOperations)
        flattenOperations();
    update(dirty);
}

// Keeps memory bounded when a box is drawn on for a long time without being
// cleared. Pictures stay as they are; each run of other drawings between
// them is painted into transparent tiles that sit at its place in the list,
// covering only what the box shows of them. A run whose tiles would pass the
// budget forgets its oldest half instead.
void PictureBox::flattenOperations() {
    std::vector<Operation> out;
    std::vector<Operation> run;
    auto endRun = [&]() {
        if (run.empty())
            return;
        if (!flattenRun(run, out)) {
            // Keep the newer half as it is.
            run.erase(run.begin(), run.begin() + static_cast<std::ptrdiff_t>(run.size() / 2));
            for (Operation& op : run)
                out.push_back(std::move(op));
        }
        run.clear();
    };
    for (Operation& op : ops_) {
        if (op.kind == Operation::Kind::Picture) {
            endRun();
            out.push_back(std::move(op));
        } else {
            run.push_back(std::move(op));
        }
    }
    endRun();
    // Pictures wholly covered by a later opaque picture cannot be seen.
    std::vector<Operation> kept;
    for (std::size_t i = 0; i < out.size(); ++i) {
        bool hidden = false;
        if (out[i].kind == Operation::Kind::Picture && out.size() > kMaxOperations)
            for (std::size_t j = i + 1; j < out.size() && !hidden; ++j)
                hidden = out[j].kind == Operation::Kind::Picture &&
                         !out[j].image.hasAlphaChannel() && out[j].dest.contains(out[i].dest);
        if (!hidden)
            kept.push_back(std::move(out[i]));
    }
    ops_ = std::move(kept);
}

bool PictureBox::flattenRun(std::vector<Operation>& run, std::vector<Operation>& out) const {
    const QRect box = rect();
    if (box.isEmpty())
        return false;
    // The run's first operation may be the tiles of an earlier flattening.
    auto tiles = std::make_shared<Tiles>();
    std::size_t first = 0;
    if (run.front().kind == Operation::Kind::Layer) {
        *tiles = *run.front().tiles;
        first = 1;
    }
    // Which operations touch which tile.
    std::map<std::pair<int, int>, std::vector<const Operation*>> touched;
    for (std::size_t i = first; i < run.size(); ++i) {
        const QRect b = run[i].bounds & box;
        if (b.isEmpty())
            continue;
        for (int ty = b.top() / kTileSize; ty <= b.bottom() / kTileSize; ++ty)
            for (int tx = b.left() / kTileSize; tx <= b.right() / kTileSize; ++tx)
                touched[{ty, tx}].push_back(&run[i]);
    }
    qint64 newTiles = 0;
    for (const auto& entry : touched)
        if (!tiles->tiles.count(entry.first))
            ++newTiles;
    if (tiles->bytes() + newTiles * kTileSize * kTileSize * 4 > kTileBudgetBytes)
        return false;
    for (const auto& [key, list] : touched) {
        QImage& tile = tiles->tiles[key];
        if (tile.isNull()) {
            tile = QImage(kTileSize, kTileSize, QImage::Format_ARGB32_Premultiplied);
            if (tile.isNull())
                return false;
            tile.fill(Qt::transparent);
        }
        const QRect area(key.second * kTileSize, key.first * kTileSize, kTileSize, kTileSize);
        QPainter p(&tile);
        p.translate(-area.topLeft());
        p.setClipRect(area);
        for (const Operation* op : list)
            drawOperation(p, *op, area);
    }
    Operation layer;
    layer.kind = Operation::Kind::Layer;
    layer.tiles = std::move(tiles);
    for (const auto& entry : layer.tiles->tiles)
        layer.bounds |= QRect(entry.first.second * kTileSize, entry.first.first * kTileSize,
                              kTileSize, kTileSize);
    if (!layer.tiles->tiles.empty())
        out.push_back(std::move(layer));
    return true;
}

void PictureBox::drawOperation(QPainter& painter, const Operation& op, const QRect& area) {
    switch (op.kind) {
    case Operation::Kind::Line:
        painter.setPen(strokePen(op.color, op.width));
        if (op.width <= 1) {
            const QVector<QPoint> pts =
                thinLinePixels(op.p1.toPoint(), op.p2.toPoint(), area, stylePattern(op.style));
            if (!pts.isEmpty())
                painter.drawPoints(pts.constData(), int(pts.size()));
        } else {
            painter.drawLine(op.p1, op.p2);
        }
        break;
    case Operation::Kind::Dot:
        painter.setPen(strokePen(op.color, op.width));
        painter.drawPoint(op.p1);
        break;
    case Operation::Kind::Circle: {
        QPen pen = strokePen(op.color, op.width);
        pen.setStyle(penStyle(op.style));
        painter.setPen(pen);
        painter.setBrush(op.filled ? QBrush(op.fill) : QBrush(Qt::NoBrush));
        painter.drawEllipse(op.p1, op.radius, op.radius);
        painter.setBrush(Qt::NoBrush);
        break;
    }
    case Operation::Kind::Layer: {
        const QRect want = area & op.bounds;
        if (want.isEmpty())
            break;
        for (int ty = want.top() / kTileSize; ty <= want.bottom() / kTileSize; ++ty)
            for (int tx = want.left() / kTileSize; tx <= want.right() / kTileSize; ++tx) {
                const auto it = op.tiles->tiles.find({ty, tx});
                if (it == op.tiles->tiles.end())
                    continue;
                const QRect tileArea(tx * kTileSize, ty * kTileSize, kTileSize, kTileSize);
                const QRect part = tileArea & want;
                painter.drawImage(part.topLeft(), it->second, part.translated(-tileArea.topLeft()));
            }
        break;
    }
    case Operation::Kind::Text: {
        painter.setPen(op.color);
        painter.setFont(op.font);
        const QFontMetricsF fm(op.font);
        painter.drawText(QPointF(op.p1.x(), op.p1.y() + fm.ascent()), op.text);
        break;
    }
    case Operation::Kind::Picture: {
        // Only the part of the source that lands in the exposed area is
        // handed to the painter, so a zoomed drawing far larger than the
        // screen costs what is visible.
        const QRectF visible = op.dest & QRectF(area);
        if (visible.isEmpty())
            break;
        double sx = op.dest.width() / op.src.width();
        double sy = op.dest.height() / op.src.height();
        // Shrunk below half, from the half-size copy: its pixel (x, y)
        // covers the source's (2x, 2y) to (2x + 1, 2y + 1).
        const bool fromHalf = !op.half.isNull() && sx < 0.5 && sy < 0.5;
        const QImage& image = fromHalf ? op.half : op.image;
        const QRectF src = fromHalf ? QRectF(op.src.topLeft() / 2, op.src.size() / 2) : op.src;
        if (fromHalf) {
            sx *= 2;
            sy *= 2;
        }
        const QTransform toDest(sx, 0, 0, sy, op.dest.x() - src.x() * sx,
                                op.dest.y() - src.y() * sy);
        const QRectF needed = toDest.inverted().mapRect(visible);
        const QRect srcPart = QRect(QPoint(static_cast<int>(std::floor(needed.left())) - 1,
                                           static_cast<int>(std::floor(needed.top())) - 1),
                                    QPoint(static_cast<int>(std::ceil(needed.right())),
                                           static_cast<int>(std::ceil(needed.bottom())))) &
                              image.rect();
        if (srcPart.isEmpty())
            break;
        painter.save();
        painter.setClipRect(visible, Qt::IntersectClip);
        painter.setTransform(toDest, true);
        // A shrunk picture with its half-size copy is filtered; otherwise
        // every screen pixel shows one source pixel.
        painter.setRenderHint(QPainter::SmoothPixmapTransform,
                              !op.half.isNull() && (sx < 1 || sy < 1));
        painter.drawImage(QRectF(srcPart), image, QRectF(srcPart));
        painter.restore();
        break;
    }
    }
}

void PictureBox::renderArea(QPainter& painter, const QRect& area) const {
    painter.save();
    painter.setClipRect(area);
    painter.fillRect(area, backColor_);
    const QRect pic = area & picture_.rect();
    if (!pic.isEmpty())
        painter.drawImage(pic.topLeft(), picture_, pic);
    for (const Operation& op : ops_)
        if (op.bounds.intersects(area))
            drawOperation(painter, op, area);
    painter.restore();
}

QImage PictureBox::Image() const {
    return Image(rect());
}

QImage PictureBox::Image(const QRect& pixelArea) const {
    if (pixelArea.isEmpty())
        return QImage();
    QImage image(pixelArea.size(), QImage::Format_RGB32);
    if (image.isNull()) // allocation refused
        return image;
    image.setDotsPerMeterX(kDotsPerMetre);
    image.setDotsPerMeterY(kDotsPerMetre);
    QPainter p(&image);
    p.translate(-pixelArea.topLeft());
    renderArea(p, pixelArea);
    p.end();
    return image;
}

QImage PictureBox::Image(const QRectF& pixelArea, double scale) const {
    if (pixelArea.isEmpty() || !(scale > 0) || !std::isfinite(scale))
        return QImage();
    const QSize size(std::max(1, int(std::ceil(pixelArea.width() * scale - 1e-9))),
                     std::max(1, int(std::ceil(pixelArea.height() * scale - 1e-9))));
    if (qint64(size.width()) * size.height() > qint64(1) << 28)
        return QImage();
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    // The scaled size is rounded up: its last row and column may lie beyond
    // what the area paints, and must not keep what the memory held.
    image.fill(backColor_);
    image.setDotsPerMeterX(kDotsPerMetre);
    image.setDotsPerMeterY(kDotsPerMetre);
    QPainter p(&image);
    p.scale(scale, scale);
    p.translate(-pixelArea.topLeft());
    renderArea(p, pixelArea.toAlignedRect());
    p.end();
    return image;
}

Result<> PictureBox::SavePicture(const QString& path) const {
    const QImage image = Image();
    if (image.isNull())
        return Fail(QStringLiteral("the picture box has no area to save"));
    return SaveImageAsBmp(image, path);
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    for (const QRect& r : event->region())
        renderArea(p, r);
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    const QPointF pos = event->position();
    emit MouseDown(mouseButtons(event->button()), shiftState(event->modifiers()),
                   static_cast<float>(pixelsToUnits(pos.x())),
                   static_cast<float>(pixelsToUnits(pos.y())));
}

void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    const QPointF pos = event->position();
    emit MouseMove(mouseButtons(event->buttons()), shiftState(event->modifiers()),
                   static_cast<float>(pixelsToUnits(pos.x())),
                   static_cast<float>(pixelsToUnits(pos.y())));
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    const QPointF pos = event->position();
    emit MouseUp(mouseButtons(event->button()), shiftState(event->modifiers()),
                 static_cast<float>(pixelsToUnits(pos.x())),
                 static_cast<float>(pixelsToUnits(pos.y())));
}

QByteArray EncodeBmp24(const QImage& image) {
    if (image.isNull())
        return QByteArray();
    const qint64 w = image.width();
    const qint64 h = image.height();
    const qint64 rowBytes = Bmp24RowBytes(w);
    const QByteArray header = Bmp24Header(w, h, kDotsPerMetre, kDotsPerMetre);
    if (header.isEmpty())
        return QByteArray();
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    if (rgb.isNull())
        return QByteArray();

    QByteArray out(static_cast<qsizetype>(kBmp24HeaderSize + rowBytes * h), '\0');
    char* d = out.data();
    std::copy(header.begin(), header.end(), d);
    for (qint64 y = 0; y < h; ++y) {
        const auto* src =
            reinterpret_cast<const QRgb*>(rgb.constScanLine(static_cast<int>(h - 1 - y)));
        auto* row = reinterpret_cast<unsigned char*>(d + kBmp24HeaderSize + y * rowBytes);
        for (qint64 x = 0; x < w; ++x) {
            row[3 * x] = static_cast<unsigned char>(qBlue(src[x]));
            row[3 * x + 1] = static_cast<unsigned char>(qGreen(src[x]));
            row[3 * x + 2] = static_cast<unsigned char>(qRed(src[x]));
        }
    }
    return out;
}

Result<> SaveImageAsBmp(const QImage& image, const QString& path) {
    const QByteArray bytes = EncodeBmp24(image);
    if (bytes.isEmpty())
        return Fail(QStringLiteral("the image cannot be written as a bitmap"));
    return WriteFileAtomically(path, bytes);
}
