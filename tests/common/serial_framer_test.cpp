// Cutting the serial byte stream into tablet records.
#include "common/core/record_framer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Mode = RecordFramer::Mode;

std::vector<QByteArray> Drain(RecordFramer& f) {
    std::vector<QByteArray> out;
    while (auto r = f.next())
        out.push_back(*r);
    return out;
}

const QByteArray kMtA = QByteArray("   1.2345   2.5000") + "2\r";
const QByteArray kMtB = QByteArray("   0.0000  10.0000") + "1\r";
const QByteArray kMtEnd = QByteArray("   0.0000   0.0000") + "3\r";

TEST(FixedLengthFraming, SeveralRecordsInOneFeedAndOneSplitAcrossFeeds) {
    RecordFramer f(Mode::FixedLength);
    f.feed(kMtA + kMtB + kMtEnd.left(7));
    EXPECT_EQ(Drain(f), (std::vector<QByteArray>{kMtA, kMtB}));
    EXPECT_EQ(f.partial(), kMtEnd.left(7));
    f.feed(kMtEnd.mid(7, 5));
    EXPECT_FALSE(f.next());
    f.feed(kMtEnd.mid(12));
    EXPECT_EQ(Drain(f), (std::vector<QByteArray>{kMtEnd}));
}

TEST(FixedLengthFraming, ByteByByteFeedGivesTheSameRecords) {
    RecordFramer f(Mode::FixedLength);
    const QByteArray all = kMtA + kMtB;
    for (char c : all)
        f.feed(QByteArray(1, c));
    EXPECT_EQ(Drain(f), (std::vector<QByteArray>{kMtA, kMtB}));
}

TEST(FixedLengthFraming, ShortRecordIsCutAtItsTerminatorAndTheNextStaysInStep) {
    RecordFramer f(Mode::FixedLength);
    const QByteArray shortRecord = QByteArray("   1.2345   2.5") + "\r"; // 15 characters, then CR
    f.feed(shortRecord + kMtA + kMtB);
    EXPECT_EQ(Drain(f), (std::vector<QByteArray>{shortRecord, kMtA, kMtB}));
}

TEST(FixedLengthFraming, StrayLineEndsBetweenRecordsAreSkipped) {
    // A tablet that ends its records with CR LF, and blank lines on the wire.
    RecordFramer f(Mode::FixedLength);
    f.feed("\r\n" + kMtA + "\n" + kMtB + "\n\r\n");
    EXPECT_EQ(Drain(f), (std::vector<QByteArray>{kMtA, kMtB}));
    EXPECT_TRUE(f.partial().isEmpty());
}

TEST(FixedLengthFraming, TwentiethCharacterEndsTheRecordWhateverItIs) {
    RecordFramer f(Mode::FixedLength);
    const QByteArray noTerminator = QByteArray("   1.2345   2.5000") + "2X";
    f.feed(noTerminator + kMtB);
    EXPECT_EQ(Drain(f), (std::vector<QByteArray>{noTerminator, kMtB}));
}

TEST(LineFraming, CrLfIsOneTerminatorAndRecordsKeepIt) {
    RecordFramer f(Mode::Line);
    f.feed("12345,6789,2\r\n1000,500,4\r\n");
    EXPECT_EQ(Drain(f), (std::vector<QByteArray>{"12345,6789,2\r\n", "1000,500,4\r\n"}));
}

TEST(LineFraming, CrOnlyAndLfOnlyLinesAndEmptyLines) {
    RecordFramer f(Mode::Line);
    f.feed("\r\n\r\n1,2,2\r\r\n3,4,4\n\n\n5,6,8\r");
    EXPECT_EQ(Drain(f), (std::vector<QByteArray>{"1,2,2\r", "3,4,4\n", "5,6,8\r"}));
}

TEST(LineFraming, RecordSplitAcrossFeedsAnywhere) {
    const QByteArray all = "12345,6789,2\r\n1000,500,4\r\n";
    for (qsizetype cut = 1; cut < all.size(); ++cut) {
        SCOPED_TRACE(cut);
        RecordFramer f(Mode::Line);
        f.feed(all.left(cut));
        std::vector<QByteArray> got = Drain(f);
        f.feed(all.mid(cut));
        for (QByteArray& r : Drain(f))
            got.push_back(r);
        ASSERT_EQ(got.size(), 2u);
        // The record ends at its CR; only a cut between CR and LF loses the LF.
        if (cut == 13)
            EXPECT_EQ(got[0], "12345,6789,2\r");
        else
            EXPECT_EQ(got[0], "12345,6789,2\r\n");
        EXPECT_EQ(got[1].left(11), "1000,500,4\r");
    }
}

TEST(LineFraming, LfAfterAHandedOnCrDoesNotSwallowALaterRecord) {
    RecordFramer f(Mode::Line);
    f.feed("1,2,2\r");
    EXPECT_EQ(f.next(), QByteArray("1,2,2\r"));
    f.feed("3,4,4\r\n"); // no LF first: nothing to drop
    EXPECT_EQ(f.next(), QByteArray("3,4,4\r\n"));
}

TEST(FramerBounds, GarbageWithoutLineEndIsDroppedAndReportedThenFramingRecovers) {
    RecordFramer f(Mode::Line, 64);
    f.feed(QByteArray(50, 'x'));
    EXPECT_EQ(f.takeOverflows(), 0);
    f.feed(QByteArray(5000, 'x'));
    EXPECT_LE(f.partial().size(), 64);
    EXPECT_EQ(f.takeOverflows(), 1);
    EXPECT_EQ(f.takeOverflows(), 0);
    // The rest of the overlong line up to its line end is not a record either.
    f.feed("tail of garbage\r\n1,2,2\r\n");
    EXPECT_EQ(Drain(f), (std::vector<QByteArray>{"1,2,2\r\n"}));
}

TEST(FramerBounds, FullQueueDropsNewRecordsAndKeepsThoseAlreadyHeld) {
    RecordFramer f(Mode::FixedLength, 45);
    f.feed(kMtA + kMtB + kMtEnd); // 60 bytes, room for two records
    EXPECT_EQ(f.takeOverflows(), 1);
    EXPECT_EQ(Drain(f), (std::vector<QByteArray>{kMtA, kMtB}));
    f.feed(kMtEnd);
    EXPECT_EQ(Drain(f), (std::vector<QByteArray>{kMtEnd}));
}

TEST(ParityMarks, MarkedBytesBecomeQuestionMarksAndDoubledFfOneFf) {
    // The driver's marks (0xFF 0x00 x for a byte received with an error,
    // 0xFF 0xFF for a real 0xFF), split across reads at every point.
    const QByteArray marked = QByteArray("12", 2) + QByteArray("\xff\x00\x33", 3) + "45,6" +
                              QByteArray("\xff\xff", 2) + ",2\r\n" + "7," +
                              QByteArray("\xff\x00\x00", 3) + ",4\r\n";
    // (A record is handed on at its CR, so a cut between CR and LF leaves
    // the LF out of it: the line ends are not compared.)
    const std::vector<QByteArray> want{QByteArray("12?45,6\xff,2\r"), "7,?,4\r"};
    for (qsizetype cut = 0; cut <= marked.size(); ++cut) {
        RecordFramer f(Mode::Line);
        f.setParityMarks(true);
        f.feed(marked.left(cut));
        f.feed(marked.mid(cut));
        std::vector<QByteArray> got = Drain(f);
        for (QByteArray& r : got)
            r.replace("\n", "");
        EXPECT_EQ(got, want) << "cut at " << cut;
    }
    // Fixed-length records count the decoded bytes.
    RecordFramer mt(Mode::FixedLength);
    mt.setParityMarks(true);
    QByteArray garbled = kMtA;
    garbled.replace(4, 1, QByteArray("\xff\x00\x32", 3));
    mt.feed(garbled + kMtB);
    QByteArray expected = kMtA;
    expected[4] = '?';
    EXPECT_EQ(Drain(mt), (std::vector<QByteArray>{expected, kMtB}));
    // Without marks the bytes pass as they are.
    RecordFramer plain(Mode::Line);
    plain.feed(QByteArray("1\xff\xff,2,2\r\n"));
    EXPECT_EQ(plain.next(), QByteArray("1\xff\xff,2,2\r\n"));
}

TEST(FramerBounds, ClearForgetsQueuePartialAndOverflow) {
    RecordFramer f(Mode::Line, 16);
    f.feed("1,2,2\r\n" + QByteArray(40, 'z'));
    f.clear();
    EXPECT_EQ(f.pendingRecords(), 0);
    EXPECT_TRUE(f.partial().isEmpty());
    EXPECT_EQ(f.takeOverflows(), 0);
    f.feed("3,4,4\r\n"); // not taken for the tail of the dropped line
    EXPECT_EQ(f.next(), QByteArray("3,4,4\r\n"));
}

} // namespace
