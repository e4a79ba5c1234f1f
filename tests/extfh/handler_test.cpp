// The handler called in-process as libcob calls it, with FCDs made here:
// every allocation on its roads failed in turn, and the statuses of record
// lengths no COBOL statement here makes.
#include "bxmlfh.h"
#include "host_fixture.h"

#include <cstring>
#include <string>

namespace {

const unsigned kOpenInput = 0xFA00, kOpenOutput = 0xFA01, kClose = 0xFA80, kRead = 0xFAF5,
               kWrite = 0xFAF3, kRewrite = 0xFAF4;

// A record of ops.cpy: OPS-ID 9(6), OPS-QTY S9(7)V99 COMP-3, OPS-NAME X(12).
const unsigned char kRecord[23] = {'0', '0', '0', '0', '0', '1', 0x00, 0x00, 0x00, 0x12, 0x5C, 'i',
                                   't', 'e', 'm', ' ', '0', '0', '0',  '0',  '0',  '1',  ' '};

// A file of ops.cpy's record, or of records `min` to `max` bytes long.
struct File {
    std::string name;
    std::string area;
    FCD3 fcd{};

    explicit File(std::string n, unsigned max = sizeof kRecord, unsigned min = sizeof kRecord)
        : name(std::move(n)), area(max, ' ') {
        if (max == sizeof kRecord)
            area.assign(reinterpret_cast<const char*>(kRecord), sizeof kRecord);
        fcd.fcdVer = FCD_VER_64Bit;
        fcd.fileOrg = ORG_SEQ;
        fcd.openMode = OPEN_NOT_OPEN;
        STCOMPX2(name.size(), fcd.fnameLen);
        fcd.fnamePtr = name.data();
        fcd.recPtr = reinterpret_cast<unsigned char*>(area.data());
        STCOMPX4(max, fcd.curRecLen);
        STCOMPX4(min, fcd.minRecLen);
        STCOMPX4(max, fcd.maxRecLen);
    }
    unsigned length() const { return LDCOMPX4(fcd.curRecLen); }
    std::string call(unsigned op) {
        unsigned char code[2] = {static_cast<unsigned char>(op >> 8),
                                 static_cast<unsigned char>(op)};
        bxmlfh(code, &fcd);
        return std::string(fcd.fileStatus, fcd.fileStatus + 2);
    }
};

class HandlerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        cob_init(0, nullptr);
        // The libraries load once, with what they keep for the process.
        File none("/nonexistent/folder/x.xml");
        none.call(kOpenInput);
    }
    void SetUp() override {
        brelrt_mem_fail_nth(0);
        held_ = brelrt_mem_outstanding();
    }
    void TearDown() override {
        brelrt_mem_fail_nth(0);
        EXPECT_EQ(brelrt_mem_outstanding(), held_);
    }
    TempDir dir;
    EnvVar copybooks{"COBCPY", POINTRA_COBOL_SOURCES ":" POINTRA_EXAMPLES_COBOL};
    size_t held_ = 0;
};

// OPEN, WRITE, CLOSE and OPEN, READ, CLOSE with the n-th allocation failing,
// n = 1, 2, ... until all succeed: each failure is a clean 30 and leaves
// nothing allocated; the document then holds the one record.
TEST_F(HandlerTest, EveryAllocationFailureIsACleanPermanentError) {
    const std::string name = dir.file("ops.xml");
    for (unsigned first : {kOpenOutput, kOpenInput}) {
        bool done = false;
        long n = 1;
        for (; n < 2000 && !done; ++n) {
            File f(name);
            ::testing::internal::CaptureStderr();
            brelrt_mem_fail_nth(n);
            std::string open = f.call(first);
            std::string record = open == "00" ? f.call(first == kOpenOutput ? kWrite : kRead) : "";
            std::string close = open == "00" ? f.call(kClose) : "";
            brelrt_mem_fail_nth(0);
            std::string said = ::testing::internal::GetCapturedStderr();
            done = open == "00" && record == "00" && close == "00";
            if (!done) {
                EXPECT_TRUE(open == "30" || record == "30") << n << ": " << open << record;
                EXPECT_NE(said.find("bxmlfh: "), std::string::npos) << n;
                EXPECT_EQ(close, open == "00" ? "00" : "") << n;
            }
            EXPECT_EQ(brelrt_mem_outstanding(), held_) << "allocation " << n;
        }
        EXPECT_TRUE(done);
        EXPECT_GT(n, 10) << "the roads allocate: some allocations must have failed";
    }
    File f(name);
    f.area.assign(f.area.size(), '#');
    EXPECT_EQ(f.call(kOpenInput), "00");
    EXPECT_EQ(f.call(kRead), "00");
    EXPECT_EQ(f.area, std::string(reinterpret_cast<const char*>(kRecord), sizeof kRecord));
    EXPECT_EQ(f.call(kRead), "10");
    EXPECT_EQ(f.call(kClose), "00");
}

// A WRITE whose length lies outside the FD's minimum and maximum is 44, and
// writes nothing; REWRITE of a sequential file is 49 in any state. A READ
// gives the length of the record type it read (orders.cpy: an order of 217
// bytes, a trailer of 26).
TEST_F(HandlerTest, RecordLengths) {
    File f(dir.file("orders.xml"), 217, 26);
    EXPECT_EQ(f.call(kRewrite), "49");
    ASSERT_EQ(f.call(kOpenOutput), "00");
    f.area.replace(0, 1, "O");
    for (unsigned length : {25u, 218u, 217u}) {
        STCOMPX4(length, f.fcd.curRecLen);
        EXPECT_EQ(f.call(kWrite), length == 217 ? "00" : "44") << length;
    }
    f.area.replace(0, 1, "T");
    STCOMPX4(26, f.fcd.curRecLen);
    EXPECT_EQ(f.call(kWrite), "00");
    EXPECT_EQ(f.call(kRewrite), "49");
    EXPECT_EQ(f.call(kClose), "00");
    File back(dir.file("orders.xml"), 217, 26);
    EXPECT_EQ(back.call(kOpenInput), "00");
    std::string lengths;
    while (back.call(kRead) == "00")
        lengths += std::to_string(back.length()) + " ";
    EXPECT_EQ(lengths, "217 26 ");
    EXPECT_EQ(back.call(kClose), "00");
}

} // namespace
