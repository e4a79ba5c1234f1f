#include "common/core/refusals.h"

#include <gtest/gtest.h>

TEST(Refusals, PointAdmissionKeepsTheLastRowForTheEndRecord) {
    OutlineStore store;
    EXPECT_TRUE(RefusePoint(store, 4).has_value()); // end before any point
    EXPECT_FALSE(RefusePoint(store, 1).has_value());
    for (int i = 0; i < OutlineStore::kMaxRows - 1; ++i)
        store.appendMetres(i, i, 1.0f);
    EXPECT_TRUE(RefusePoint(store, 1).has_value());
    EXPECT_TRUE(RefusePoint(store, 2).has_value());
    EXPECT_FALSE(RefusePoint(store, 4).has_value()); // row 100 is the end record
    store.appendMetres(0, 0, 4.0f);
    EXPECT_TRUE(RefusePoint(store, 4).has_value());
}

TEST(Refusals, OneMessageTwentyLinesThenACount) {
    OutlineRefusals r;
    QString log, messages;
    for (int i = 0; i < 25; ++i) {
        const auto out = r.refuse(QStringLiteral("短い記録です\r\n詳しくは…"));
        messages += out.message;
        log += out.logLine;
    }
    log += r.flush();
    EXPECT_EQ(messages, QStringLiteral("短い記録です\r\n詳しくは…"));
    EXPECT_EQ(log.count(QStringLiteral("× 取り込みません: 短い記録です\r\n")), 20);
    EXPECT_TRUE(log.endsWith(QStringLiteral("× ほかに 5 件の記録を取り込みませんでした\r\n")));
    EXPECT_EQ(r.flush(), QString());
    EXPECT_EQ(r.refusedCount(), 25);
    r.reset();
    EXPECT_FALSE(r.refuse(QStringLiteral("x")).message.isEmpty());
}

TEST(Refusals, BriefQuotesAFewDozenCharactersWithoutControls) {
    EXPECT_EQ(Brief(QStringLiteral("ab\x01\tc")), QStringLiteral("ab??c"));
    const QString big(100000, QChar(u'9'));
    EXPECT_EQ(Brief(big), QString(kBriefLength, QChar(u'9')) + QChar(0x2026));
}
