// The handler called in-process as libcob calls it, with FCDs made here:
// every allocation on its roads failed in turn, and the statuses of record
// lengths no COBOL statement here makes.
#include "bxmlfh.h"
#include "host_fixture.h"
#include "test_paths.h"

#include <cstring>
#include <filesystem>
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
    EnvVar copybooks{
        "COBCPY", (SourcePath("/tests/extfh/cobol") + ":" + SourcePath("/examples/cobol")).c_str()};
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

// Records of variable length (a FCD of 4 to 24 bytes, no hook: the FCD's
// length is all the handler knows): a length that cuts a text writes the
// text as far as it reaches; one that cuts a number, or a counter outside
// its table's bounds, is refused with 44 and a line naming it; READ gives
// the length the counter makes. Several records without WHEN cannot be
// told apart without the hook: OPEN OUTPUT refuses them, saying how to fix it.
TEST_F(HandlerTest, VariableRecordsAreCarriedWholeOrRefused) {
    write_file(dir.file("vary.xfd"), "       01  VARY-REC.\n"
                                     "           05  V-KEY       PIC X(4).\n"
                                     "           05  V-AMOUNT    PIC S9(5) COMP-3.\n"
                                     "           05  V-TEXT      PIC X(10).\n"
                                     "           05  V-COUNT     PIC 9.\n"
                                     "           05  V-ITEMS.\n"
                                     "               10  V-ITEM  PIC XX OCCURS 1 TO 3\n"
                                     "                           DEPENDING ON V-COUNT.\n");
    write_file(dir.file("two.xfd"), "       01  A-REC PIC X(10).\n       01  B-REC PIC X(24).\n");
    EnvVar layouts("BRELRT_XFD_DIR", dir.path().c_str());
    File f(dir.file("vary.xml"), 24, 4);
    ASSERT_EQ(f.call(kOpenOutput), "00");
    const unsigned char amount[3] = {0x00, 0x12, 0x3D}; // -123
    struct Write {
        unsigned length;
        char count;
        const char* status;
        const char* said; // a part of standard error; "" for none
    } writes[] = {
        {6, '1', "44",
         "WRITE 1 of this OPEN not written: the record's length 6 cuts field "
         "v_amount (bytes 5 to 7)"},
        {12, '1', "00", ""},
        {22, '2', "00", ""},
        {24, '4', "44",
         "WRITE 4 of this OPEN not written: the counter v_count of table v_item "
         "holds 4, outside 1 to 3"},
        {18, '0', "44", "holds 0, outside 1 to 3"},
    };
    for (const Write& w : writes) {
        std::string bytes = "KEY1" + std::string(reinterpret_cast<const char*>(amount), 3) +
                            "some text!" + w.count + "a1b2c3";
        f.area.replace(0, bytes.size(), bytes); // in place: the FCD points at it
        STCOMPX4(w.length, f.fcd.curRecLen);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(f.call(kWrite), w.status) << w.length;
        std::string err = ::testing::internal::GetCapturedStderr();
        if (*w.said)
            EXPECT_NE(err.find(w.said), std::string::npos) << err;
        else
            EXPECT_EQ(err, "");
    }
    EXPECT_EQ(f.call(kClose), "00");
    std::string doc = read_file(dir.file("vary.xml"));
    EXPECT_NE(doc.find("<v_amount>-123</v_amount>\n     <v_text>some</v_text>\n </vary_rec>"),
              std::string::npos)
        << doc;
    EXPECT_NE(doc.find("<v_count>2</v_count>\n     <v_items>\n          <v_item>a1</v_item>\n"
                       "          <v_item>b2</v_item>\n     </v_items>"),
              std::string::npos)
        << doc;
    File back(dir.file("vary.xml"), 24, 4);
    EXPECT_EQ(back.call(kOpenInput), "00");
    std::string lengths;
    while (back.call(kRead) == "00")
        lengths += std::to_string(back.length()) + " ";
    EXPECT_EQ(lengths, "20 22 "); // the counter says one and two occurrences
    EXPECT_EQ(back.call(kClose), "00");
    // A document with more occurrences than its counter says, or a counter
    // outside the table's bounds: read, and said.
    write_file(dir.file("vary.xml"),
               "<vary><vary_rec><v_count>1</v_count><v_items><v_item>a</v_item><v_item>b</v_item>"
               "</v_items></vary_rec><vary_rec><v_count>7</v_count></vary_rec></vary>");
    File partner(dir.file("vary.xml"), 24, 4);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(partner.call(kOpenInput), "00");
    EXPECT_EQ(partner.call(kRead), "00");
    EXPECT_EQ(partner.length(), 20u);
    EXPECT_EQ(partner.call(kRead), "00");
    EXPECT_EQ(partner.length(), 24u);
    EXPECT_EQ(partner.call(kClose), "00");
    std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("record 1: 2 <v_item> in the document, its counter <v_count> holds 1 (1 "
                        "to 3): those past it are no part of the record"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("record 2: 0 <v_item> in the document, its counter <v_count> holds 7"),
              std::string::npos)
        << said;

    File two(dir.file("two.xml"), 24, 10);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(two.call(kOpenOutput), "30");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("has several level-01 records without a WHEN, told apart by the length of "
                       "the record a WRITE names, which a program learns only when built with "
                       "scripts/cobc-xml: build it so, or put a line \"*> WHEN field = value\""),
              std::string::npos)
        << err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("two.xml")));
}

} // namespace
