// The tablet simulator: records, scripts, keys and its pseudo-terminal.
#include "common/core/tablet_records.h"
#include "tools/tabletsim/pty.h"
#include "tools/tabletsim/tabletsim.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

using namespace tabletsim;

TEST(SimRecords, Mt4500RecordIsTwentyColumnsAsTheTabletSendsIt) {
    EXPECT_EQ(FormatMt4500Record(1.2345, 2.5, '2'), QByteArray("   1.2345   2.5000") + "2\r");
    EXPECT_EQ(FormatMt4500Record(-999.9999, 9999.9999, '1'),
              QByteArray("-999.9999") + "9999.9999" + "1\r");
    EXPECT_EQ(FormatMt4500Record(0.00004, 0.00006, '3'), QByteArray("   0.0000   0.0001") + "3\r");
    EXPECT_FALSE(FormatMt4500Record(10000, 0, '1')) << "ten columns do not fit";
    EXPECT_FALSE(FormatMt4500Record(-1000, 0, '1'));
    EXPECT_FALSE(FormatMt4500Record(1, 1, 'x'));
}

TEST(SimRecords, T5160RecordIsCountsButtonAndCrLf) {
    EXPECT_EQ(FormatT5160Record(12345, 6789, '2'), QByteArray("12345,6789,2\r\n"));
    EXPECT_EQ(FormatT5160Record(-32768, 32767, '8'), QByteArray("-32768,32767,8\r\n"));
    EXPECT_FALSE(FormatT5160Record(40000, 0, '2'));
    EXPECT_FALSE(FormatT5160Record(0, -32769, '2'));
    EXPECT_FALSE(FormatT5160Record(0, 0, '\r'));
}

TEST(SimRecords, WhatTheSimulatorSendsTheReceiversRead) {
    const Result<TabletPoint> mt = ParseMt4500Record(*FormatMt4500Record(12.5, -0.25, '1'));
    ASSERT_TRUE(mt);
    EXPECT_DOUBLE_EQ(mt->xM, 12.5);
    EXPECT_DOUBLE_EQ(mt->yM, -0.25);
    EXPECT_EQ(mt->code, 2);

    const Result<TabletPoint> t = ParseT5160Record(*FormatT5160Record(1000, 500, '4'), "200");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->xText, "20.00000");
    EXPECT_EQ(t->code, 2);
}

TEST(SimScript, LinesBecomeRecordsSkippingCommentsAndBlanks) {
    const Result<std::vector<QByteArray>> s =
        ParseScript("# outline\n\n1.5 2 1\r\n  0\t0   2  \n0 0 3", Mode::Mt4500);
    ASSERT_TRUE(s) << s.error().toStdString();
    ASSERT_EQ(s->size(), 3u);
    EXPECT_EQ((*s)[0], QByteArray("   1.5000   2.0000") + "1\r");
    EXPECT_EQ((*s)[2], QByteArray("   0.0000   0.0000") + "3\r");

    // CR-only lines.
    const Result<std::vector<QByteArray>> t =
        ParseScript("12345 6789 2\r1000 500 8\r", Mode::T5160);
    ASSERT_TRUE(t) << t.error().toStdString();
    ASSERT_EQ(t->size(), 2u);
    EXPECT_EQ((*t)[1], "1000,500,8\r\n");
}

TEST(SimScript, BadLinesAreNamedByNumberAndNothingIsSent) {
    struct Case {
        const char* text;
        Mode mode;
        const char* line;
    };
    const Case cases[] = {
        {"1 2 1\n1 2\n", Mode::Mt4500, "line 2"},     {"1 2 12\n", Mode::Mt4500, "line 1"},
        {"1 2 1\n\nx 2 1\n", Mode::Mt4500, "line 3"}, {"1 2 a\n", Mode::T5160, "line 1"},
        {"1.5 2 2\n", Mode::T5160, "line 1"},         {"0 0 2\n40000 0 2\n", Mode::T5160, "line 2"},
        {"12345.5 0 1\n", Mode::Mt4500, "line 1"},
    };
    for (const Case& c : cases) {
        const Result<std::vector<QByteArray>> s = ParseScript(c.text, c.mode);
        EXPECT_FALSE(s) << c.text;
        EXPECT_TRUE(s.error().startsWith(c.line)) << c.text << " -> " << s.error().toStdString();
    }
}

TEST(SimScript, RawLinesAreSentAsWrittenWithEscapes) {
    const Result<std::vector<QByteArray>> s =
        ParseRawScript("   1.2345   2.5\\r\n40000,1,2\\r\\n\n\\x00\\t\\\\\n");
    ASSERT_TRUE(s);
    ASSERT_EQ(s->size(), 3u);
    EXPECT_EQ((*s)[0], "   1.2345   2.5\r");
    EXPECT_EQ((*s)[1], "40000,1,2\r\n");
    EXPECT_EQ((*s)[2], QByteArray("\0\t\\", 3));

    for (const char* bad : {"abc\\", "\\q", "\\x4", "\\xZZ"}) {
        const Result<QByteArray> decoded = DecodeEscapes(bad);
        EXPECT_FALSE(decoded) << bad;
        EXPECT_FALSE(decoded.error().isEmpty());
    }
    EXPECT_TRUE(ParseRawScript("ok\nbad\\\n").error().startsWith("line 2"));
}

TEST(SimScript, SplitRecordGivesTwoNonEmptyHalves) {
    const auto [a, b] = SplitRecord("12345,6789,2\r\n");
    EXPECT_FALSE(a.isEmpty());
    EXPECT_FALSE(b.isEmpty());
    EXPECT_EQ(a + b, "12345,6789,2\r\n");
}

TEST(SimKeys, MovesAndButtonsOfTheMt4500Cursor) {
    KeyPad pad(Mode::Mt4500);
    EXPECT_EQ(pad.key('l').kind, KeyPad::Action::Moved);
    pad.key('l');
    pad.key('k');
    EXPECT_EQ(pad.key('1').record, QByteArray("   0.2000   0.1000") + "1\r");
    // Arrow keys arrive as escape sequences.
    for (char c : QByteArray("\x1b[D\x1b[B\x1b[B"))
        pad.key(c);
    EXPECT_EQ(pad.key('3').record, QByteArray("   0.1000  -0.1000") + "3\r");
    EXPECT_EQ(pad.key('+').kind, KeyPad::Action::StepChanged);
    EXPECT_DOUBLE_EQ(pad.step(), 1.0);
    EXPECT_EQ(pad.key('q').kind, KeyPad::Action::Quit);
    EXPECT_EQ(pad.key('?').kind, KeyPad::Action::Help);
    EXPECT_EQ(pad.key('z').kind, KeyPad::Action::None);
}

TEST(SimKeys, T5160CursorStaysWithinTheTablet) {
    KeyPad pad(Mode::T5160);
    pad.key('+');
    pad.key('+'); // step 10000 counts
    EXPECT_EQ(pad.key('+').kind, KeyPad::Action::Refused);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pad.key('l').kind, KeyPad::Action::Moved);
    EXPECT_EQ(pad.key('l').kind, KeyPad::Action::Refused) << "40000 counts are off the tablet";
    EXPECT_EQ(pad.key('4').record, "30000,0,4\r\n");
    EXPECT_EQ(pad.status(), "x=30000 y=0 step=10000");
}

TEST(SimPty, RecordsPassByteForByteAndTheOpenSideIsSeen) {
    Result<Pty> pty = Pty::create();
    ASSERT_TRUE(pty) << pty.error().toStdString();
    EXPECT_FALSE(pty->slaveOpen());
    EXPECT_FALSE(pty->waitForSlaveOpen(0));

    const int slave = ::open(pty->slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    EXPECT_TRUE(pty->slaveOpen());
    EXPECT_TRUE(pty->waitForSlaveOpen(0));

    // CR must not become LF and nothing may be echoed back.
    const QByteArray record = "12345,6789,2\r\n\x13\x11";
    ASSERT_TRUE(pty->writeAll(record));
    QByteArray got;
    while (got.size() < record.size()) {
        pollfd p{slave, POLLIN, 0};
        ASSERT_GT(poll(&p, 1, 15000), 0) << "record did not arrive";
        char buf[64];
        const ssize_t n = ::read(slave, buf, sizeof buf);
        ASSERT_GT(n, 0);
        got.append(buf, n);
    }
    EXPECT_EQ(got, record);
    char echo[8];
    EXPECT_LE(::read(pty->master(), echo, sizeof echo), 0);

    ::close(slave);
    EXPECT_FALSE(pty->slaveOpen());
}

} // namespace
