#include "main/digitizer/view_state.h"

#include "common/core/numtext.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

// One line of a path and seven numbers.
constexpr qint64 kMaxViewStateBytes = 64 * 1024;

// The zoom commands stay within 0.3 and 2; their single-precision steps may
// end a little below or above.
constexpr float kMinZoom = 0.29f;
constexpr float kMaxZoom = 2.01f;

int RoundedHalfEven(double v) {
    return static_cast<int>(RoundHalfEven(v));
}

} // namespace

QString ViewState::line() const {
    QStringList f{imagePath};
    for (float v :
         {savedTop, savedLeft, formHeight, formWidth, pictureHeight, pictureWidth, zoomFactor})
        f << SingleToText(v);
    return f.join(QLatin1Char(','));
}

std::optional<ViewState> ViewState::parse(const QString& line) {
    QStringList f = line.split(QLatin1Char(','));
    if (f.size() < 8)
        return std::nullopt;
    const QStringList numbers = f.mid(f.size() - 7);
    f.resize(f.size() - 7);
    ViewState s;
    s.imagePath = f.join(QLatin1Char(','));
    float* targets[] = {&s.savedTop,      &s.savedLeft,    &s.formHeight, &s.formWidth,
                        &s.pictureHeight, &s.pictureWidth, &s.zoomFactor};
    for (int i = 0; i < 7; ++i) {
        const double v = Val(numbers[i]);
        *targets[i] = std::isfinite(v) && std::fabs(v) < 1e7 ? float(v) : 0.0f;
    }
    if (!(s.zoomFactor >= kMinZoom && s.zoomFactor <= kMaxZoom))
        s.zoomFactor = 1;
    return s;
}

ViewStateRead ReadViewState(const QString& path, const TextCodec& codec) {
    ViewStateRead read;
    const QFileInfo info(path);
    if (!info.exists() || info.size() == 0)
        return read;
    if (!info.isFile() || info.size() > kMaxViewStateBytes) {
        read.empty = false;
        read.error = QStringLiteral("表示状態のファイルを読めません: ") + path;
        return read;
    }
    const Result<QStringList> file = ReadTextFile(path, codec, kMaxViewStateBytes);
    if (!file) {
        read.empty = false;
        read.error = QStringLiteral("表示状態のファイルを読めません: ") + path;
        return read;
    }
    const QStringList& lines = *file;
    if (lines.isEmpty() || lines.first().isEmpty())
        return read;
    read.empty = false;
    read.state = ViewState::parse(lines.first());
    if (!read.state)
        read.error = QStringLiteral("表示状態のファイルの形式が違います: ") + path;
    return read;
}

Result<> WriteViewState(const QString& path, const ViewState& state, const TextCodec& codec) {
    return WriteTextLines(path, {state.line()}, codec);
}

ScrollRange ScrollRangeFor(int boxSize, int viewSize) {
    ScrollRange r;
    r.max = std::max(0, boxSize - std::max(0, viewSize));
    if (r.max > 0) {
        r.largeChange = std::max(1, RoundedHalfEven(r.max / 60.0));
        r.smallChange = std::max(1, RoundedHalfEven(r.largeChange / 4.0));
    }
    return r;
}

Thumbnail ThumbnailFor(float minX, float maxX, float minY, float maxY, float metresPerUnitX,
                       double thumbnailHeight) {
    Thumbnail t;
    const double m = 1.0 / double(metresPerUnitX);
    t.x0 = std::max(0.0, double(minX) - m);
    t.y0 = std::max(0.0, double(minY) - m);
    t.w = double(maxX) - double(minX) + 2 * m;
    t.h = double(maxY) - double(minY) + 2 * m;
    const double s = t.w >= t.h ? t.w : t.h;
    t.k = std::min(2.0, thumbnailHeight / s);
    return t;
}

QString CommentText(const QString& name, const QString& serialText, bool numbered) {
    return numbered ? name + QLatin1Char('-') + serialText : name;
}
