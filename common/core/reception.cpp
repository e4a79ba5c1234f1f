#include "common/core/reception.h"

#include "common/core/point_log.h"
#include "common/core/serial_settings.h"

QString Reception::outlineWaitingMessage() {
    return QStringLiteral("前の図形がまだ「実行」されていません。\r\n"
                          "「実行」か「キャンセル」を押してから次の図形を入力して下さい");
}

ReceptionOutcome Reception::refuse(const QString& reason) {
    const OutlineRefusals::Outcome refused = refusals_.refuse(reason);
    ReceptionOutcome out;
    out.logText = refused.logLine;
    out.message = refused.message;
    return out;
}

ReceptionOutcome Reception::lineEvent(int commEvent, const QString& errorText) {
    if (commEvent == kComEventRxOver)
        return refuse(errorText);
    ReceptionOutcome out;
    if (commEvent == kComEvCD) {
        out.lineLost = true;
        out.message = errorText;
    }
    return out;
}

ReceptionOutcome Reception::take(const Result<TabletPoint>& parsed, OutlineStore& store,
                                 const QString& logLine, const Step& step) {
    if (!parsed)
        return refuse(parsed.error());
    const TabletPoint& p = *parsed;
    // A finished outline waits for "実行" or "キャンセル" (the port was
    // reopened by "設定" or another mode): the new record must not be
    // appended to it, its sketch has already rewritten the millimetre rows.
    if (store.endReceived())
        return refuse(outlineWaitingMessage());
    if (const auto checked = CheckPoint(store, p.code); !checked)
        return refuse(checked.error());
    if (step) {
        if (const auto taken = step(p); !taken)
            return refuse(taken.error());
    }
    const QString code = QString::number(p.code);
    store.lastPointText = {p.xText, p.yText, code};
    store.appendMetres(p.xM, p.yM, static_cast<float>(p.code));
    ReceptionOutcome out;
    out.stored = true;
    // Refusals only counted so far are told before the point that follows them.
    out.logText =
        refusals_.flush() + (logLine.isEmpty() ? PointLogLine(p.xText, p.yText, code) : logLine);
    out.endOfOutline = p.code == 4;
    return out;
}
