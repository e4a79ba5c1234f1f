#include "main/image/calibration.h"

#include "common/numtext.h"
#include "common/refusals.h"

#include <QFile>
#include <QFileInfo>

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

bool WriteCalibrationFile(const QString& path, const CalibrationTexts& texts,
                          const TextCodec& codec, QString* error) {
    return WriteTextLines(path, CalibrationFileLines(texts), codec, error);
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
    const TextFileContent file = ReadTextFile(path, codec, kMaxCalibrationFileBytes);
    const QStringList& lines = file.lines;
    if (!file.ok) {
        read.error = QStringLiteral("校正ファイルを読めません: ") + path;
        return read;
    }
    for (const QString& line : lines) {
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

std::optional<QString> RefuseCalibrationValue(CalRow row, bool y, const QString& text) {
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
        return std::nullopt;
    }
    const double v = Val(text);
    if (v >= least && v <= most)
        return std::nullopt;
    return QStringLiteral("%1 %2 の値「%3」は範囲外です。\r\n%4 までの値にして下さい")
        .arg(what, y ? QStringLiteral("Y") : QStringLiteral("X"), Brief(text), range);
}

std::optional<QString> RefuseCalibration(const CalibrationTexts& texts) {
    for (CalRow row : {CalRow::Origin, CalRow::OriginCoordinate, CalRow::Coefficient})
        for (bool y : {false, true})
            if (auto why = RefuseCalibrationValue(row, y, y ? texts.Y(row) : texts.X(row)))
                return why;
    return std::nullopt;
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

std::optional<QString> RefuseScaleDrag(const CalibrationTexts& t) {
    const double dx = std::fabs(Val(t.X(CalRow::MouseDown)) - Val(t.X(CalRow::MouseUp)));
    const double dy = std::fabs(Val(t.Y(CalRow::MouseDown)) - Val(t.Y(CalRow::MouseUp)));
    if (dx > 0 && dy > 0)
        return std::nullopt;
    return QStringLiteral("ドラッグの%1がありません。\r\n"
                          "寸法の分かる範囲を斜めにドラッグしてから、"
                          "もう一度 基準値--->スケール を選んで下さい")
        .arg(dx > 0   ? QStringLiteral("高さ")
             : dy > 0 ? QStringLiteral("幅")
                      : QStringLiteral("幅と高さ"));
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
        // Metres per box unit, then per drawing pixel: rounded twice.
        at(CalRow::Coefficient) = Format(Val(at(CalRow::RealLength)) / Val(at(CalRow::Difference)),
                                         QStringLiteral("0.00000"));
        at(CalRow::Coefficient) =
            Format(Val(at(CalRow::Coefficient)) * double(zoom), QStringLiteral("0.00000"));
        // The start of the drag is the origin, at drawing coordinate 0.
        at(CalRow::OriginCoordinate) = QStringLiteral("0");
        at(CalRow::Origin) = SingleToText(float(Val(at(CalRow::CalibrationStart)) / double(zoom)));
    };
    axis(t.x, answerX);
    axis(t.y, answerY);
    const double coefX = Val(t.X(CalRow::Coefficient));
    const double coefY = Val(t.Y(CalRow::Coefficient));
    if (RefuseCalibrationValue(CalRow::Coefficient, false, t.X(CalRow::Coefficient)) ||
        RefuseCalibrationValue(CalRow::Coefficient, true, t.Y(CalRow::Coefficient))) {
        out.refusal = QStringLiteral("この寸法では縮尺が範囲外になります"
                                     "（1 ピクセルあたり X %1 m、Y %2 m）。\r\n"
                                     "1 ピクセルあたり 0.00001 m（0.01 mm）から 100 m "
                                     "までになる寸法を入力して下さい")
                          .arg(DoubleToText(coefX), DoubleToText(coefY));
        return out;
    }
    out.delt = std::fabs(Val(t.X(CalRow::Coefficient)) - Val(t.Y(CalRow::Coefficient)));
    out.accepted = out.delt < 0.005;
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
