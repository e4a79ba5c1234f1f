#include "main/image/calibration.h"

#include "common/core/numtext.h"
#include "common/core/refusals.h"

#include "common/core/file_lock.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

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

Result<> WriteCalibrationFile(const QString& path, const CalibrationTexts& texts,
                              const TextCodec& codec) {
    return WriteTextLines(path, CalibrationFileLines(texts), codec);
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
    const Result<QStringList> file = ReadTextFile(path, codec, kMaxCalibrationFileBytes);
    if (!file) {
        read.error = QStringLiteral("校正ファイルを読めません: ") + path;
        return read;
    }
    for (const QString& line : *file) {
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

Result<> CheckCalibrationValue(CalRow row, bool y, const QString& text) {
    double least = 0, most = 0;
    QString what, range;
    switch (row) {
    case CalRow::Origin:
        least = -kMaxOriginPixels;
        most = kMaxOriginPixels;
        what = QStringLiteral("原点");
        range = QStringLiteral("-1000000 から 1000000 ピクセル");
        break;
    case CalRow::OriginCoordinate:
        least = -kMaxOriginMetres;
        most = kMaxOriginMetres;
        what = QStringLiteral("原点の座標");
        range = QStringLiteral("-1000000 から 1000000 m");
        break;
    case CalRow::Coefficient:
        // Compared with a little room: "0.00001" is the least a text can say.
        least = kMinMetresPerPixel * (1 - 1e-9);
        most = kMaxMetresPerPixel;
        what = QStringLiteral("軸係数");
        range = QStringLiteral("1 ピクセルあたり 0.00001 m（0.01 mm）から 100 m");
        break;
    default:
        return {};
    }
    const double v = Val(text);
    if (v >= least && v <= most)
        return {};
    return Fail(QStringLiteral("%1 %2 の値「%3」は範囲外です。\r\n%4 までの値にして下さい")
                    .arg(what, y ? QStringLiteral("Y") : QStringLiteral("X"), Brief(text), range));
}

Result<> CheckCalibration(const CalibrationTexts& texts) {
    for (CalRow row : {CalRow::Origin, CalRow::OriginCoordinate, CalRow::Coefficient})
        for (bool y : {false, true})
            if (auto checked = CheckCalibrationValue(row, y, y ? texts.Y(row) : texts.X(row));
                !checked)
                return checked;
    return {};
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

QString ScalePromptX() {
    return QStringLiteral("X寸法(単位：mm)を入力して下さい\r\n但し単位の入力は不要です");
}

QString ScalePromptY() {
    return QStringLiteral("Y寸法(単位：mm)を入力して下さい\r\n但し単位の入力は不要です");
}

Result<> CheckScaleDrag(const CalibrationTexts& t) {
    const double dx = std::fabs(Val(t.X(CalRow::MouseDown)) - Val(t.X(CalRow::MouseUp)));
    const double dy = std::fabs(Val(t.Y(CalRow::MouseDown)) - Val(t.Y(CalRow::MouseUp)));
    if (dx > 0 && dy > 0)
        return {};
    return Fail(QStringLiteral("ドラッグの%1がありません。\r\n"
                               "寸法の分かる範囲を斜めにドラッグしてから、"
                               "もう一度 基準値--->スケール を選んで下さい")
                    .arg(dx > 0   ? QStringLiteral("高さ")
                         : dy > 0 ? QStringLiteral("幅")
                                  : QStringLiteral("幅と高さ")));
}

ScaleOutcome ScaleFromDrag(const CalibrationTexts& current, const QString& answerX,
                           const QString& answerY, float zoom) {
    ScaleOutcome out;
    CalibrationTexts& t = out.texts;
    t = current;
    const auto axis = [&](std::array<QString, kCalRows>& v, const QString& answer) {
        auto at = [&v](CalRow r) -> QString& { return v[static_cast<int>(r)]; };
        // The drag: start, end and their difference, in box units.
        at(CalRow::CalibrationStart) = DoubleToText(Val(at(CalRow::MouseDown)));
        at(CalRow::CalibrationEnd) = DoubleToText(Val(at(CalRow::MouseUp)));
        at(CalRow::Difference) = DoubleToText(
            std::fabs(Val(at(CalRow::CalibrationStart)) - Val(at(CalRow::CalibrationEnd))));
        // The real length, millimetres to metres; none counts as 1 m.
        at(CalRow::RealLength) = DoubleToText(Val(answer) * 0.001);
        if (Val(at(CalRow::RealLength)) == 0)
            at(CalRow::RealLength) = QStringLiteral("1");
        // Metres per drawing pixel, rounded once: the drag is in box units,
        // zoom of them to a drawing pixel.
        at(CalRow::Coefficient) =
            Format(Val(at(CalRow::RealLength)) / Val(at(CalRow::Difference)) * double(zoom),
                   QStringLiteral("0.00000"));
        // The start of the drag is the origin, at drawing coordinate 0.
        at(CalRow::OriginCoordinate) = QStringLiteral("0");
        at(CalRow::Origin) = SingleToText(float(Val(at(CalRow::CalibrationStart)) / double(zoom)));
    };
    axis(t.x, answerX);
    axis(t.y, answerY);
    const double coefX = Val(t.X(CalRow::Coefficient));
    const double coefY = Val(t.Y(CalRow::Coefficient));
    if (!CheckCalibrationValue(CalRow::Coefficient, false, t.X(CalRow::Coefficient)) ||
        !CheckCalibrationValue(CalRow::Coefficient, true, t.Y(CalRow::Coefficient))) {
        out.refusal = QStringLiteral("この寸法では縮尺が範囲外になります"
                                     "（1 ピクセルあたり X %1 m、Y %2 m）。\r\n"
                                     "1 ピクセルあたり 0.00001 m（0.01 mm）から 100 m "
                                     "までになる寸法を入力して下さい")
                          .arg(DoubleToText(coefX), DoubleToText(coefY));
        return out;
    }
    out.delt = std::fabs(Val(t.X(CalRow::Coefficient)) - Val(t.Y(CalRow::Coefficient)));
    out.accepted = out.delt < 0.005;
    // Axes that pass Delt may still disagree far more than a scan stretches.
    const double disagreement = out.delt / std::max(coefX, coefY);
    if (out.accepted && disagreement > kAxesDisagreementLimit)
        out.question =
            QStringLiteral("X軸係数 %1 と Y軸係数 %2 が %3 % 違います。\r\n"
                           "寸法の入力に誤りがないか確かめて下さい。このまま設定しますか？")
                .arg(t.X(CalRow::Coefficient), t.Y(CalRow::Coefficient),
                     Format(disagreement * 100, QStringLiteral("0.0")));
    out.message = QStringLiteral("Delt = ") + DoubleToText(out.delt) + QStringLiteral("\r\n") +
                  (out.accepted ? QStringLiteral("正しく設定されました")
                                : QStringLiteral("設定誤差が大き過ぎます\r\n"
                                                 "基準値を再設定して下さい--->基準値（スケール）"));
    return out;
}

CalibrationTexts OriginFromPress(const CalibrationTexts& current, float zoom) {
    CalibrationTexts t = current;
    t.X(CalRow::Origin) = SingleToText(float(Val(t.X(CalRow::MouseDown)) / double(zoom)));
    t.Y(CalRow::Origin) = SingleToText(float(Val(t.Y(CalRow::MouseDown)) / double(zoom)));
    return t;
}

CalibrationFileState ReadCalibrationState(const QString& path, const TextCodec& codec,
                                          const CalibrationTexts& base) {
    CalibrationFileState state;
    // Another session may replace the file between the stamp and the read:
    // then both are taken again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        state.stamp = StampFile(path);
        state.texts = base;
        state.read = ReadCalibrationFile(path, codec, state.texts);
        if (StampFile(path) == state.stamp)
            break;
    }
    return state;
}

namespace {

// The values a calibration is made of: origin, origin coordinates,
// coefficients and units.
bool SameValues(const CalibrationTexts& a, const CalibrationTexts& b) {
    for (CalRow row : {CalRow::Origin, CalRow::OriginCoordinate, CalRow::Coefficient, CalRow::Unit})
        if (a.X(row) != b.X(row) || a.Y(row) != b.Y(row))
            return false;
    return true;
}

} // namespace

bool SameCalibration(const CalibrationFileState& a, const CalibrationFileState& b) {
    if (a.read.ok != b.read.ok)
        return false;
    return !a.read.ok || SameValues(a.texts, b.texts);
}

void CalibrationWatch::know(const QString& imagePath, const CalibrationFileState& state) {
    imagePath_ = imagePath;
    known_ = state;
    kept_.reset();
    own_.reset();
}

std::optional<CalibrationFileState> CalibrationWatch::differing(const TextCodec& codec,
                                                                bool keptCounts) {
    if (imagePath_.isEmpty())
        return std::nullopt;
    const QString path = CalibrationFilePath(imagePath_);
    const FileStamp now = StampFile(path);
    if (now == known_.stamp || (keptCounts && kept_ && now == *kept_))
        return std::nullopt;
    CalibrationFileState state = ReadCalibrationState(path, codec, known_.texts);
    // The file holds the calibration in force here (written again with the
    // same values): nothing to choose.
    const bool same = !kept_ ? SameCalibration(state, known_)
                      : own_ ? state.read.ok && SameValues(state.texts, *own_)
                             : !state.read.ok;
    if (same) {
        know(imagePath_, state);
        return std::nullopt;
    }
    return state;
}

std::optional<CalibrationFileState> CalibrationWatch::changed(const TextCodec& codec) {
    return differing(codec, true);
}

std::optional<CalibrationFileState> CalibrationWatch::othersFile(const TextCodec& codec) {
    return differing(codec, false);
}

void CalibrationWatch::keepOwn(const CalibrationFileState& theirs,
                               const std::optional<CalibrationTexts>& own) {
    kept_ = theirs.stamp;
    own_ = own;
}

std::optional<CalibrationTexts> CalibrationWatch::inForce() const {
    if (kept_)
        return own_;
    if (known_.read.ok && CheckCalibration(known_.texts))
        return known_.texts;
    return std::nullopt;
}

bool CalibrationWatch::keepsOwn() const {
    return kept_ && !imagePath_.isEmpty() && StampFile(CalibrationFilePath(imagePath_)) == *kept_;
}

CalibrationWatch::Write CalibrationWatch::write(const CalibrationTexts& texts,
                                                const FileStamp& expected, const TextCodec& codec,
                                                QString* error, int waitMs) {
    FileLock lock;
    if (const auto locked = LockDrawing(lock, imagePath_, waitMs); !locked) {
        if (error)
            *error = locked.error();
        return Write::Locked;
    }
    // Checked under the lock: the file the user was asked about, or the one
    // known, is the one replaced.
    const QString path = CalibrationFilePath(imagePath_);
    const FileStamp now = StampFile(path);
    if (!(now == expected))
        return Write::Changed;
    const bool existed = now.exists || QFileInfo(path).isSymLink();
    if (const auto written = WriteCalibrationFile(path, texts, codec); !written) {
        if (error)
            *error = written.error();
        return Write::Failed;
    }
    if (!existed)
        ShareWithFolderGroup(path);
    know(imagePath_, ReadCalibrationState(path, codec, texts));
    return Write::Written;
}

QString CalibrationChangedQuestion(const QString& imagePath, bool removed, int points) {
    QString text =
        (removed ? QStringLiteral("この図面の基準値が、他の画面で削除されました:\r\n")
                 : QStringLiteral("この図面の基準値が、他の画面で変更されました:\r\n")) +
        imagePath +
        (removed ? QStringLiteral("\r\n基準値なしに切り替えますか\r\n"
                                  "「はい」: 基準値なしにします（スケールの設定が必要です）")
                 : QStringLiteral("\r\n新しい基準値に切り替えますか\r\n"
                                  "「はい」: 新しい基準値で拾います"));
    if (points > 0)
        text +=
            QStringLiteral("。拾い中の %1 点は今までの基準値で測ったため破棄します").arg(points);
    return text + QStringLiteral("\r\n「いいえ」: この画面は今までの基準値のまま続けます"
                                 "（他の画面の基準値はファイルに残ります）");
}

QString ReplaceCalibrationQuestion(const QString& imagePath) {
    return QStringLiteral("この図面の基準値は、他の画面で変更されています:\r\n") + imagePath +
           QStringLiteral("\r\nこちらの基準値で置き換えますか\r\n"
                          "「いいえ」: 保存しません（他の画面の基準値が残り、"
                          "この画面は今の基準値のまま続けます）");
}

CalibrationTexts TurnedCalibration(const CalibrationTexts& texts, QuarterTurn turn, int width,
                                   int height) {
    CalibrationTexts t = texts;
    for (int r = 0; r < kCalRows; ++r)
        std::swap(t.x[r], t.y[r]);
    const double ox = Val(texts.X(CalRow::Origin));
    const double oy = Val(texts.Y(CalRow::Origin));
    const QPointF o = TurnedPoint(QPointF(ox, oy), turn, width, height);
    t.X(CalRow::Origin) = SingleToText(float(o.x()));
    t.Y(CalRow::Origin) = SingleToText(float(o.y()));
    return t;
}
