#include "common/core/tablet_records.h"

#include "common/core/numtext.h"
#include "common/core/refusals.h"

#include <QList>
#include <QRegularExpression>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr int kMt4500FieldWidth = 9;
constexpr int kMt4500ButtonColumn = 19;

// A decimal number with blanks around it: "   1.2345", "0002.0000", "-.5".
bool IsDecimalText(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^ *[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+) *$"));
    return re.match(text).hasMatch();
}

// A decimal text as a whole number, rounded halves to even as the serial
// programs have always converted it; nullopt when not a number or outside lo..hi.
enum class WholeStatus { Ok, NotNumber, OutOfRange };
WholeStatus WholeNumber(const QString& text, double lo, double hi, long* out) {
    if (!IsDecimalText(text))
        return WholeStatus::NotNumber;
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return WholeStatus::NotNumber;
    const double r = std::nearbyint(v);
    if (r < lo || r > hi)
        return WholeStatus::OutOfRange;
    *out = static_cast<long>(r);
    return WholeStatus::Ok;
}

Failure Refuse(const QString& detail, const QByteArray& record) {
    return Fail(QStringLiteral("受信データが正しくありません（%1）\n受信データ：「%2」")
                    .arg(detail, PrintableRecord(record)));
}

bool IsDigit(QChar c) {
    return c >= '0' && c <= '9';
}

} // namespace

int Mt4500ButtonCode(QChar button) {
    if (button == '1')
        return 2;
    if (button == '2')
        return 1;
    return 4;
}

int T5160ButtonCode(QChar button) {
    if (button == '2')
        return 1;
    if (button == '4')
        return 2;
    return 4;
}

QString PrintableRecord(const QByteArray& record) {
    constexpr qsizetype kMaxShown = 40;
    QString out;
    for (qsizetype i = 0; i < record.size() && i < kMaxShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(record[i]);
        out.append(c >= 0x20 && c < 0x7f ? QChar(c) : QChar('?'));
    }
    if (record.size() > kMaxShown)
        out.append(QStringLiteral("…"));
    return out;
}

Result<TabletPoint> ParseMt4500Record(const QByteArray& record) {
    if (record.size() < kMt4500ButtonColumn)
        return Refuse(QStringLiteral("データが短すぎます：%1文字").arg(record.size()), record);

    TabletPoint p;
    p.xText = QString::fromLatin1(record.mid(0, kMt4500FieldWidth));
    p.yText = QString::fromLatin1(record.mid(kMt4500FieldWidth, kMt4500FieldWidth));
    const QChar button = QChar::fromLatin1(record[kMt4500ButtonColumn - 1]);
    if (!IsDigit(button))
        return Refuse(QStringLiteral("ボタンが数字ではありません"), record);
    p.buttonText = button;
    p.code = Mt4500ButtonCode(button);
    // The end record is checked as any other: line noise that happens to
    // carry an end digit must not close the outline.
    if (!IsDecimalText(p.xText))
        return Refuse(QStringLiteral("X座標が数値ではありません"), record);
    if (!IsDecimalText(p.yText))
        return Refuse(QStringLiteral("Y座標が数値ではありません"), record);
    p.xM = Val(p.xText);
    p.yM = Val(p.yText);
    if (std::fabs(p.xM) >= kMaxCoordinateMetres || std::fabs(p.yM) >= kMaxCoordinateMetres)
        return Refuse(QStringLiteral("座標が大きすぎます"), record);
    return p;
}

Result<long> ParseScaleDenominator(const QString& scaleText) {
    const QString t = scaleText.trimmed();
    if (t.isEmpty())
        return Fail(QStringLiteral("縮尺が設定されていません。縮尺を入力して下さい"));
    long d = 0;
    if (WholeNumber(t, 1, std::numeric_limits<int32_t>::max(), &d) != WholeStatus::Ok)
        return Fail(
            QStringLiteral("縮尺が正しくありません（%1）。縮尺を入力して下さい").arg(Brief(t)));
    return d;
}

Result<TabletPoint> ParseT5160Record(const QByteArray& record, const QString& scaleText) {
    const Result<long> d = ParseScaleDenominator(scaleText);
    if (!d)
        return Fail(d.error());

    const QList<QByteArray> fields = record.split(',');
    if (fields.size() < 3)
        return Refuse(QStringLiteral("項目が足りません"), record);

    long counts[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        const QString axis = i == 0 ? QStringLiteral("X") : QStringLiteral("Y");
        switch (WholeNumber(QString::fromLatin1(fields[i]), std::numeric_limits<int16_t>::min(),
                            std::numeric_limits<int16_t>::max(), &counts[i])) {
        case WholeStatus::Ok:
            break;
        case WholeStatus::NotNumber:
            return Refuse(QStringLiteral("%1座標が整数ではありません").arg(axis), record);
        case WholeStatus::OutOfRange:
            return Refuse(QStringLiteral("%1座標が範囲外です").arg(axis), record);
        }
    }

    TabletPoint p;
    p.thirdField = QString::fromLatin1(fields[2]);
    if (p.thirdField.isEmpty())
        return Refuse(QStringLiteral("ボタンがありません"), record);
    const QChar button = p.thirdField[0];
    if (!IsDigit(button))
        return Refuse(QStringLiteral("ボタンが数字ではありません"), record);
    p.buttonText = button;
    p.code = T5160ButtonCode(button);

    const double x = counts[0] / 10000.0 * static_cast<double>(*d);
    const double y = counts[1] / 10000.0 * static_cast<double>(*d);
    // The coordinate texts keep 8 characters: more before the "." would be
    // cut into a number 10 or more times too small.
    bool xFits = false;
    bool yFits = false;
    p.xText = CoordText(x, &xFits);
    p.yText = CoordText(y, &yFits);
    if (!xFits || !yFits)
        return Fail(QStringLiteral("座標の桁が多すぎます（%1 m）\n受信データ：「%2」")
                        .arg(Brief(DoubleToText(xFits ? y : x)), PrintableRecord(record)));
    p.xM = Val(p.xText);
    p.yM = Val(p.yText);
    if (std::fabs(p.xM) >= kMaxCoordinateMetres || std::fabs(p.yM) >= kMaxCoordinateMetres)
        return Refuse(QStringLiteral("座標が大きすぎます"), record);
    return p;
}
