#include "common/core/refusals.h"

#include <QRegularExpression>

#include <algorithm>

Result<> CheckPoint(const OutlineStore& store, int code, OutlineEnd how) {
    const bool end = code == 4;
    if (!end && store.pointCount() >= OutlineStore::kMaxRows - 1)
        return Fail(QStringLiteral("点は %1 点までです。この点は取り込みません。")
                        .arg(OutlineStore::kMaxRows - 1) +
                    (how == OutlineEnd::TabletButton
                         ? QStringLiteral("終点のボタンで外形を閉じて下さい。")
                         : QStringLiteral("マウスの中ボタンか「中ボタン」で外形を閉じて下さい。")));
    if (end && store.pointCount() == 0)
        return Fail(QStringLiteral("まだ点がありません。終点のボタンの前に点を取って下さい。"));
    if (store.isFull())
        return Fail(QStringLiteral("1つの図形で受け付けられる点は%1点までです。")
                        .arg(OutlineStore::kMaxRows));
    return {};
}

QString Brief(const QString& text, int length) {
    QString out;
    const int n = std::min<int>(text.size(), length);
    out.reserve(n + 1);
    for (int i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        out.append(c.unicode() < 0x20 || c.unicode() == 0x7f ? QChar(u'?') : c);
    }
    if (text.size() > length)
        out.append(QChar(0x2026));
    return out;
}

OutlineRefusals::Outcome OutlineRefusals::refuse(const QString& reason) {
    Outcome out;
    if (refused_ == 0)
        out.message = reason;
    ++refused_;
    if (logged_ < kMaxLines) {
        ++logged_;
        // The log takes the reason's first line: a message box may have more.
        const QString first = reason.section(QRegularExpression(QStringLiteral("[\r\n]")), 0, 0);
        out.logLine = QStringLiteral("× 取り込みません: ") + first + QStringLiteral("\r\n");
    } else {
        ++unlogged_;
    }
    return out;
}

QString OutlineRefusals::flush() {
    if (unlogged_ == 0)
        return {};
    const QString line =
        QStringLiteral("× ほかに %1 件の記録を取り込みませんでした\r\n").arg(unlogged_);
    unlogged_ = 0;
    return line;
}

QString OutlineRefusals::reset() {
    const QString last = flush();
    refused_ = logged_ = unlogged_ = 0;
    return last;
}
