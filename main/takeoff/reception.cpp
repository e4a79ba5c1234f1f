#include "main/takeoff/reception.h"

#include "common/point_log.h"

QString Reception::storeFullMessage() {
    return QStringLiteral("1つの図形で受け付けられる点は%1点までです。\r\n"
                          "これ以上の点は受け付けません。「キャンセル」でやり直して下さい")
        .arg(OutlineStore::kMaxRows);
}

QString Reception::outlineWaitingMessage() {
    return QStringLiteral("前の図形がまだ「実行」されていません。\r\n"
                          "「実行」か「キャンセル」を押してから次の図形を入力して下さい");
}

QString Reception::warnOnce(const QString& text) {
    if (warned_)
        return {};
    warned_ = true;
    return text;
}

ReceptionOutcome Reception::take(const ParseResult& parsed, OutlineStore& store) {
    ReceptionOutcome out;
    if (!parsed.point) {
        out.message = warnOnce(parsed.error);
        return out;
    }
    const TabletPoint& p = *parsed.point;
    // A finished outline waits for "実行" or "キャンセル" (the port was
    // reopened by "設定" or another mode): the new record must not be
    // appended to it, its sketch has already rewritten the millimetre rows.
    if (store.endReceived()) {
        out.message = warnOnce(outlineWaitingMessage());
        return out;
    }
    if (store.isFull()) {
        out.message = warnOnce(storeFullMessage());
        return out;
    }
    const QString code = QString::number(p.code);
    store.lastPointText = {p.xText, p.yText, code};
    store.appendMetres(p.xM, p.yM, static_cast<float>(p.code));
    out.stored = true;
    out.logLine = PointLogLine(p.xText, p.yText, code);
    out.endOfOutline = p.code == 4;
    return out;
}
