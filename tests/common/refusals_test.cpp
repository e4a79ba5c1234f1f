#include "common/core/refusals.h"

#include <gtest/gtest.h>

TEST(Refusals, PointAdmissionKeepsTheLastRowForTheEndRecord) {
    OutlineStore store;
    EXPECT_FALSE(CheckPoint(store, 4)); // end before any point
    EXPECT_TRUE(CheckPoint(store, 1));
    for (int i = 0; i < OutlineStore::kMaxRows - 1; ++i)
        store.appendMetres(i, i, 1.0f);
    EXPECT_FALSE(CheckPoint(store, 1));
    EXPECT_FALSE(CheckPoint(store, 2));
    EXPECT_TRUE(CheckPoint(store, 4)); // row 100 is the end record
    store.appendMetres(0, 0, 4.0f);
    EXPECT_FALSE(CheckPoint(store, 4));
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
