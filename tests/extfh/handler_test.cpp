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

struct File {
    std::string name;
    unsigned char area[23];
    FCD3 fcd{};

    explicit File(std::string n) : name(std::move(n)) {
        std::memcpy(area, kRecord, sizeof area);
        fcd.fcdVer = FCD_VER_64Bit;
        fcd.fileOrg = ORG_SEQ;
        fcd.openMode = OPEN_NOT_OPEN;
        STCOMPX2(name.size(), fcd.fnameLen);
        fcd.fnamePtr = name.data();
        fcd.recPtr = area;
        for (unsigned char* length : {fcd.curRecLen, fcd.minRecLen, fcd.maxRecLen})
            STCOMPX4(sizeof area, length);
    }
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
    EnvVar copybooks{"COBCPY", POINTRA_COBOL_SOURCES};
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
    std::memset(f.area, '#', sizeof f.area);
    EXPECT_EQ(f.call(kOpenInput), "00");
    EXPECT_EQ(f.call(kRead), "00");
    EXPECT_EQ(std::string(f.area, f.area + 23), std::string(kRecord, kRecord + 23));
    EXPECT_EQ(f.call(kRead), "10");
    EXPECT_EQ(f.call(kClose), "00");
}

// A WRITE whose length lies outside the FD's minimum and maximum is 44, and
// writes nothing; REWRITE of a sequential file is 49 in any state.
TEST_F(HandlerTest, RecordLengthsOutsideTheFileAre44) {
    File f(dir.file("ops.xml"));
    EXPECT_EQ(f.call(kRewrite), "49");
    ASSERT_EQ(f.call(kOpenOutput), "00");
    STCOMPX4(22, f.fcd.curRecLen);
    EXPECT_EQ(f.call(kWrite), "44");
    STCOMPX4(24, f.fcd.curRecLen);
    EXPECT_EQ(f.call(kWrite), "44");
    STCOMPX4(23, f.fcd.curRecLen);
    EXPECT_EQ(f.call(kWrite), "00");
    EXPECT_EQ(f.call(kRewrite), "49");
    EXPECT_EQ(f.call(kClose), "00");
    File back(dir.file("ops.xml"));
    EXPECT_EQ(back.call(kOpenInput), "00");
    EXPECT_EQ(back.call(kRead), "00");
    EXPECT_EQ(back.call(kRead), "10");
    EXPECT_EQ(back.call(kClose), "00");
}

} // namespace
