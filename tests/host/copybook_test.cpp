// Record layouts from copybooks, with offsets and sizes checked against what
// GnuCOBOL itself allocates for the same copybook.
#include "host_fixture.h"
#include "test_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

namespace {

const std::string data_dir = DataPath("/host");

std::string cobol_name(const char* name) {
    std::string s = name;
    for (char& c : s)
        if (c == '_')
            c = '-';
    return s;
}

std::string subscripts(const LayoutItem& item) {
    if (item.depth == 0)
        return "";
    std::string s = " (";
    for (int k = 1; k <= item.depth; ++k)
        s += (k > 1 ? " " : "") + std::to_string(item.occurrence[k]);
    return s + ")";
}

// Builds a program that has the copybook in WORKING-STORAGE and prints, for
// every item of the layout, its offset from its level 01 record and its
// length, as GnuCOBOL lays them out.
std::string offsets_program(const RecordLayout* layout, bool enclose) {
    std::ostringstream p;
    p << "       IDENTIFICATION DIVISION.\n"
         "       PROGRAM-ID. OFFSETS.\n"
         "       DATA DIVISION.\n"
         "       WORKING-STORAGE SECTION.\n"
      << (enclose ? "       01 LAYOUT-REC.\n" : "")
      << "       COPY \"layout.cpy\".\n"
         "       01 PTRS.\n"
         "          05 P0 USAGE POINTER.\n"
         "          05 P0N REDEFINES P0 PIC S9(18) COMP-5.\n"
         "          05 P1 USAGE POINTER.\n"
         "          05 P1N REDEFINES P1 PIC S9(18) COMP-5.\n"
         "       01 OFS PIC 9(9).\n"
         "       01 LEN PIC 9(9).\n"
         "       PROCEDURE DIVISION.\n";
    std::string record;
    for (int i = 0; i < layout->item_count; ++i) {
        const LayoutItem& item = layout->items[i];
        std::string name = cobol_name(item.name);
        if (name == "filler")
            continue;
        if (item.level == 1)
            record = name;
        // Qualified by the record: a name may recur in another record.
        std::string ref = name + (item.level == 1 ? "" : " IN " + record) + subscripts(item);
        p << "           SET P0 TO ADDRESS OF " << record << "\n"
          << "           SET P1 TO ADDRESS OF\n               " << ref << "\n"
          << "           COMPUTE OFS = P1N - P0N\n"
          << "           MOVE LENGTH OF\n               " << ref << "\n           TO LEN\n"
          << "           DISPLAY \"" << i << " \" OFS \" \" LEN\n";
    }
    p << "           STOP RUN.\n";
    return p.str();
}

// `enclose`: the copybook has no level 01, the program gives it the one the
// layout reader makes up. `options`: more options of cobc.
void expect_gnucobol_layout(const std::string& copybook, bool free_format, bool enclose = false,
                            const std::string& options = "") {
    RecordLayout* layout = brelrt_parse_copybook((data_dir + "/" + copybook).c_str(), "layout");
    ASSERT_NE(layout, nullptr) << brelrt_xfd_last_error();
    TempDir dir;
    write_file(dir.file("layout.cpy"), read_file(data_dir + "/" + copybook));
    std::string out = run_cobol(dir, offsets_program(layout, enclose), free_format, options);
    std::istringstream lines(out);
    int index;
    long offset, length;
    int checked = 0;
    while (lines >> index >> offset >> length) {
        ASSERT_GE(index, 0);
        ASSERT_LT(index, layout->item_count);
        const LayoutItem& item = layout->items[index];
        EXPECT_EQ(item.offset, offset) << item.name << subscripts(item);
        EXPECT_EQ(item.field.size, length) << item.name << subscripts(item);
        if (item.level == 1) {
            EXPECT_LE(length, layout->record_size);
        }
        ++checked;
    }
    EXPECT_GT(checked, 10) << out;
    B4XFDFree(layout);
}

const LayoutItem* find(const RecordLayout* l, const char* name, int o1 = 0, int o2 = 0) {
    for (int i = 0; i < l->item_count; ++i) {
        const LayoutItem& it = l->items[i];
        if (std::strcmp(it.name, name) == 0 && (o1 == 0 || it.occurrence[1] == o1) &&
            (o2 == 0 || it.occurrence[2] == o2))
            return &it;
    }
    return nullptr;
}

TEST_F(HostTest, FixedFormCopybookMatchesGnuCobolOffsets) {
    expect_gnucobol_layout("orders.xfd", false);
}

TEST_F(HostTest, FreeFormRecordTypesMatchGnuCobolOffsets) {
    expect_gnucobol_layout("sales.xfd", true);
}

// Tabs, a line in the sequence area only, a continued literal and a
// continued word, REDEFINES with OCCURS, long names sharing 30 characters,
// CR LF and a trailing 0x1A, and no level 01.
TEST_F(HostTest, PublishedCopybookMatchesGnuCobolOffsets) {
    expect_gnucobol_layout("published.xfd", false, true);
    RecordLayout* l = brelrt_parse_copybook((data_dir + "/published.xfd").c_str(), "layout");
    ASSERT_NE(l, nullptr) << brelrt_xfd_last_error();
    EXPECT_STREQ(l->items[0].name, "layout_rec");
    EXPECT_EQ(l->items[0].level, 1);
    EXPECT_EQ(l->record_size, 214);
    EXPECT_EQ(find(l, "cont_word")->field.size, 12);
    EXPECT_NE(find(l, "customer_address_line_number_one_a"), nullptr);
    EXPECT_NE(find(l, "customer_address_line_number_one_b"), nullptr);
    const LayoutItem* months = find(l, "month_names");
    const LayoutItem* march = find(l, "month_name", 3);
    ASSERT_NE(march, nullptr);
    EXPECT_EQ(march->offset, months->offset + 6);
    EXPECT_EQ(march->flags, BRELRT_ITEM_REDEFINES | BRELRT_ITEM_SHADOW);
    EXPECT_EQ(&l->items[march->redefined], months);
    EXPECT_EQ(months->flags, BRELRT_ITEM_REDEFINED);
    B4XFDFree(l);
}

// Record variants: a WHEN before a redefining group below level 01.
TEST_F(HostTest, RecordVariantsMatchGnuCobolAndNameTheirGroup) {
    expect_gnucobol_layout("../xml/ledger.xfd", false);
    RecordLayout* l = brelrt_parse_copybook((data_dir + "/../xml/ledger.xfd").c_str(), "ledger");
    ASSERT_NE(l, nullptr) << brelrt_xfd_last_error();
    ASSERT_EQ(l->condition_count, 5); // three records, two variants
    const LayoutItem* body = find(l, "dtl_body");
    const LayoutItem* addr = find(l, "body_addr");
    const ConditionEntry& c = l->conditions[2];
    EXPECT_EQ(&l->items[c.item], addr);
    EXPECT_EQ(&l->items[c.tested], find(l, "dtl_kind"));
    EXPECT_EQ(addr->flags, BRELRT_ITEM_REDEFINES | BRELRT_ITEM_VARIANT);
    EXPECT_EQ(&l->items[addr->redefined], body);
    EXPECT_EQ(body->flags, BRELRT_ITEM_REDEFINED);
    EXPECT_EQ(addr->condition, BRELRT_CONDITION_GROUP);
    EXPECT_EQ(find(l, "addr_city")->condition, 3);
    EXPECT_EQ(find(l, "num_value")->condition, 4);
    EXPECT_EQ(find(l, "body_text")->condition, 2); // the detail record's own
    EXPECT_EQ(find(l, "dtl_kind")->condition, 0);  // tested: read first
    EXPECT_EQ(find(l, "hdr_date_n")->flags, BRELRT_ITEM_REDEFINES | BRELRT_ITEM_SHADOW);
    EXPECT_EQ(&l->items[l->conditions[4].item], find(l, "trl_rec"));
    B4XFDFree(l);
}

// Binary items sized by each binary-size rule as cobc sizes them under the
// option or the dialect that sets it (COMP-5 of 1 or 2 digits keeps 1 byte
// under 2-4-8), and a table of 0 to 3 rows laid out at 3 rows.
TEST_F(HostTest, BinarySizeRulesAndDependingTablesMatchGnuCobol) {
    const struct {
        const char* rule;
        const char* options;
        int32_t record_size;
    } rules[] = {
        {"1-2-4-8", "", 96},
        {"2-4-8", "-std=ibm", 99},
        {"2-4-8", "-fbinary-size=2-4-8", 99},
        {"1--8", "-std=mf", 80},
        {"1--8", "-std=ibm -fbinary-size=1--8", 80},
    };
    for (const auto& r : rules) {
        SCOPED_TRACE(std::string(r.rule) + " " + r.options);
        ASSERT_EQ(brelrt_set_binary_size(r.rule), 1);
        EXPECT_STREQ(brelrt_binary_size(), r.rule);
        expect_gnucobol_layout("binary.xfd", false, false, r.options);
        RecordLayout* l = brelrt_parse_copybook((data_dir + "/binary.xfd").c_str(), "binary");
        ASSERT_NE(l, nullptr) << brelrt_xfd_last_error();
        EXPECT_EQ(l->record_size, r.record_size);
        EXPECT_EQ(find(l, "t_name", 3)->occurs_count[1], 3);
        B4XFDFree(l);
    }
    for (const char* unknown : {"1-2-4", "", "1-2-4-8 ", "2--8"})
        EXPECT_EQ(brelrt_set_binary_size(unknown), 0) << unknown;
    EXPECT_EQ(brelrt_set_binary_size(nullptr), 0);
    EXPECT_STREQ(brelrt_binary_size(), "1--8");
    brelrt_set_binary_size("1-2-4-8");
}

TEST_F(HostTest, TablesGetAnItemPerOccurrenceWithNumbersAndCounts) {
    RecordLayout* l = brelrt_parse_copybook((data_dir + "/orders.xfd").c_str(), "orders");
    ASSERT_NE(l, nullptr) << brelrt_xfd_last_error();
    EXPECT_STREQ(l->name, "orders");
    EXPECT_EQ(l->flags & BRELRT_LAYOUT_MULTIPLE, 0);
    EXPECT_EQ(l->field_count, l->item_count);
    EXPECT_EQ(find(l, "filler"), nullptr); // elementary FILLER carries no field
    const LayoutItem* rec = &l->items[0];
    EXPECT_STREQ(rec->name, "order_rec");
    EXPECT_EQ(rec->condition, BRELRT_CONDITION_GROUP);
    EXPECT_EQ(rec->field.size, l->record_size);
    // Item order follows the record: each occurrence, then its children.
    int line2 = static_cast<int>(find(l, "ord_line", 2) - l->items);
    EXPECT_STREQ(l->items[line2 + 1].name, "line_item");
    EXPECT_EQ(l->items[line2 + 1].occurrence[1], 2);
    const LayoutItem* tax = find(l, "tax_amt", 3, 2);
    ASSERT_NE(tax, nullptr);
    EXPECT_EQ(tax->depth, 2);
    EXPECT_EQ(tax->occurs_count[1], 3);
    EXPECT_EQ(tax->occurs_count[2], 2);
    EXPECT_EQ(tax->field.type, BRELRT_T_PACKED);
    EXPECT_EQ(tax->field.digits, 4);
    EXPECT_EQ(tax->field.scale, -1);
    EXPECT_EQ(tax->level, 15);
    const LayoutItem* line = find(l, "ord_line", 3);
    EXPECT_EQ(line->depth, 1);
    EXPECT_EQ(line->condition, BRELRT_CONDITION_GROUP);
    int lines = 0;
    for (int i = 0; i < l->item_count; ++i)
        lines += std::strcmp(l->items[i].name, "tax_code") == 0;
    EXPECT_EQ(lines, 6);
    EXPECT_EQ(find(l, "ord_date_n")->offset, find(l, "ord_date")->offset);
    EXPECT_EQ(find(l, "cust_bal")->field.type, BRELRT_T_PACKED);
    EXPECT_EQ(find(l, "ord_count")->field.type, BRELRT_T_BINARY);
    EXPECT_EQ(find(l, "ord_weight")->field.type, BRELRT_T_NATIVE_UNSIGNED);
    EXPECT_EQ(find(l, "line_qty")->field.type, BRELRT_T_SIGN_LEADING_SEP);
    EXPECT_EQ(find(l, "line_price")->field.type, BRELRT_T_SIGN_TRAILING_SEP);
    EXPECT_EQ(find(l, "ord_rate")->field.type, BRELRT_T_DOUBLE);
    EXPECT_EQ(find(l, "ord_factor")->field.type, BRELRT_T_FLOAT);
    EXPECT_EQ(find(l, "amt_net")->field.type, BRELRT_T_PACKED); // usage of the group
    EXPECT_EQ(find(l, "ord_status")->field.type, BRELRT_T_ALPHABETIC);
    EXPECT_EQ(find(l, "ord_short")->field.type, BRELRT_T_SIGN_LEADING);
    EXPECT_EQ(find(l, "ord_flags")->field.size, 1);
    EXPECT_EQ(find(l, "ord_note")->field.type, BRELRT_T_ALPHANUMERIC);
    B4XFDFree(l);
}

class SalesLayout : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        xfd_dir_ = std::make_unique<EnvVar>("BRELRT_XFD_DIR", data_dir.c_str());
        layout_ = B4ParseXFD("sales", 14, 30);
        ASSERT_NE(layout_, nullptr) << brelrt_xfd_last_error();
    }
    void TearDown() override {
        B4XFDFree(layout_);
        xfd_dir_.reset();
        HostTest::TearDown();
    }
    bool holds(int k) { return (layout_->conditions[k - 1].result & 1) != 0; }

    std::unique_ptr<EnvVar> xfd_dir_;
    RecordLayout* layout_ = nullptr;
};

TEST_F(SalesLayout, RecordTypesCarryTheirConditions) {
    EXPECT_EQ(layout_->flags & BRELRT_LAYOUT_MULTIPLE, BRELRT_LAYOUT_MULTIPLE);
    EXPECT_EQ(layout_->record_count, 3);
    ASSERT_EQ(layout_->condition_count, 3);
    EXPECT_EQ(layout_->record_size, 1 + 10 + 4 + 12);
    // Fields named by a WHEN are read before the conditions are tested.
    EXPECT_EQ(find(layout_, "rec_type")->condition, 0);
    EXPECT_EQ(find(layout_, "dtl_type")->condition, 0);
    EXPECT_EQ(find(layout_, "trl_type")->condition, 0);
    EXPECT_EQ(find(layout_, "hdr_date")->condition, 1);
    EXPECT_EQ(find(layout_, "dtl_size", 4)->condition, 2);
    EXPECT_EQ(find(layout_, "trl_count")->condition, 3);
    EXPECT_EQ(find(layout_, "dtl_rec")->condition, BRELRT_CONDITION_GROUP);
    const ConditionEntry& c = layout_->conditions[1];
    EXPECT_EQ(&layout_->items[c.tested], find(layout_, "dtl_type"));
    EXPECT_EQ(&layout_->items[c.item], find(layout_, "dtl_rec"));
    // The fixed positions other runtimes read.
    EXPECT_EQ(offsetof(ConditionEntry, item), 120u);
    EXPECT_EQ(offsetof(ConditionEntry, result), 124u);
    EXPECT_EQ(sizeof(ConditionEntry), 128u);
}

TEST_F(SalesLayout, ConditionsSetAndClearTheirBit) {
    unsigned char record[27];
    std::memset(record, ' ', sizeof record);
    std::memcpy(record, "H20240131MAIN", 13);
    EXPECT_EQ(B4TestCOBOLCond(layout_, 1, record), 1);
    EXPECT_EQ(B4TestCOBOLCond(layout_, 2, record), 0);
    EXPECT_EQ(B4TestCOBOLCond(layout_, 3, record), 0);
    EXPECT_TRUE(holds(1));
    EXPECT_FALSE(holds(2));
    record[0] = 'D';
    EXPECT_EQ(B4TestCOBOLCond(layout_, 1, record), 0);
    EXPECT_EQ(B4TestCOBOLCond(layout_, 2, record), 1);
    EXPECT_FALSE(holds(1));
    EXPECT_TRUE(holds(2));
    record[0] = '9'; // the trailer's type is numeric, compared by value
    EXPECT_EQ(B4TestCOBOLCond(layout_, 3, record), 1);
    record[0] = 'X'; // not a valid digit: the numeric condition fails
    EXPECT_EQ(B4TestCOBOLCond(layout_, 3, record), 0);
    EXPECT_FALSE(holds(3));
    EXPECT_EQ(B4TestCOBOLCond(layout_, 0, record), -1);
    EXPECT_EQ(B4TestCOBOLCond(layout_, 4, record), -1);
    EXPECT_EQ(B4TestCOBOLCond(nullptr, 1, record), -1);
}

class CopybookErrors : public HostTest {
protected:
    // Parses `text`; expects null and a message naming line `line`.
    void expect_error(const std::string& text, int line, const std::string& what) {
        write_file(dir_.file("bad.xfd"), text);
        EnvVar quiet("BRELRT_TRACE", "0");
        RecordLayout* l = brelrt_parse_copybook(dir_.file("bad.xfd").c_str(), "bad");
        EXPECT_EQ(l, nullptr) << text;
        B4XFDFree(l);
        std::string message = brelrt_xfd_last_error();
        std::string where = dir_.file("bad.xfd") + ":" + std::to_string(line) + ":";
        EXPECT_EQ(message.rfind(where, 0), 0u) << message;
        EXPECT_NE(message.find(what), std::string::npos) << message;
    }
    TempDir dir_;
};

TEST_F(CopybookErrors, SyntaxErrorsNameTheLine) {
    expect_error("01 r.\n   05 a pic x(3)\n   05 b pic x.\n", 3, "unexpected '05'");
    expect_error("01 r.\n   05 a pic q(3).\n", 2, "not supported");
    expect_error("01 r.\n   05 a pic x(0).\n", 2, "repeat count");
    expect_error("01 r.\n   05 a pic x.\n   05 b redefines c pic x.\n", 3, "REDEFINES");
    expect_error("01 r.\n   05 a.\n      10 b pic x.\n     07 c pic x.\n", 4, "does not match");
    expect_error("*> WHEN nothing = 1\n01 r.\n   05 a pic x.\n", 1, "names no field");
    expect_error("01 r.\n   05 a pic x value \"open.\n", 2, "literal not closed");
    expect_error("01 r.\n   05 a pic x comp-3.\n", 2, "numeric");
    expect_error("01 r.\n   05 a pic s9(19) comp.\n", 2, "18 digits");
    expect_error("01 r.\n   05 a pic 9(4) sync.\n", 2, "SYNCHRONIZED");
    expect_error("01 r.\n   05 a.\n", 2, "without PICTURE");
    expect_error("01 r.\n   05 a pic x.\n   05 b pic x", 3, "period");
    expect_error("01 r.\n   05 a pic x.\n*> WHEN a = \"X\"\n   05 b pic x.\n", 3, "REDEFINES");
    expect_error("01 r.\n   05 a usage pointer.\n", 2, "USAGE POINTER is not supported");
    expect_error("01 r.\n   05 a index.\n", 2, "USAGE INDEX is not supported");
    expect_error("01 r.\n   05 a pic 9(3)p.\n", 2, "P in PICTURE");
    expect_error("01 r.\n   05 t occurs 2.\n      10 a pic x.\n*> WHEN a = \"X\"\n"
                 "      10 b redefines a pic 9.\n",
                 4, "WHEN inside an OCCURS table");
    expect_error("01 r.\n*> BINARY\n   05 g.\n      10 a pic x.\n", 2, "BINARY must precede");
    expect_error("      -    05 A PIC X.\n       01 R.\n", 1, "continuation line");
    expect_error("01 r.\n   05 t occurs 0.\n      10 a pic x.\n", 2, "positive count");
    expect_error("01 r.\n   05 t occurs 0 to 0 depending on n.\n", 2, "positive count not below");
    expect_error("01 r.\n   05 t occurs 3 to 2.\n", 2, "positive count not below");
}

// Sizes are counted so that they cannot overflow: a picture or a record
// past 64 MiB is refused at its line, one at the bound is taken. Messages
// quote a few dozen characters of a long picture. Entries are bounded too.
TEST_F(CopybookErrors, RecordsAndPicturesLargerThanTheBoundAreRefused) {
    auto repeated = [](const std::string& piece, int times) {
        std::string s;
        for (int i = 0; i < times; ++i)
            s += piece;
        return s;
    };
    std::string huge_x = repeated("X(65535)", 32769), huge_z = repeated("Z(65535)", 32769);
    expect_error("01 r.\n   05 a pic " + huge_x + ".\n", 2, "larger than a record may be");
    EXPECT_LT(std::string(brelrt_xfd_last_error()).size(), dir_.path().size() + 140)
        << brelrt_xfd_last_error();
    expect_error("01 r.\n   05 a pic " + huge_z + ".\n", 2, "larger than a record may be");
    expect_error("01 r.\n   05 t occurs 32767.\n      10 u occurs 32767.\n"
                 "         15 b pic x(65535).\n",
                 3, "record larger than 67108864 bytes");
    // Each entry is held until the layout is made: at most 32767 of them.
    expect_error("01 r.\n" + repeated("   05 filler pic x.\n", 32767), 32768,
                 "layout has too many entries");
    // 64 MiB: 1024 times X(65535), and X(1024).
    std::string bound = repeated("X(65535)", 1024) + "X(1024)";
    expect_error("01 r.\n   05 a pic " + bound + "X.\n", 2, "larger than a record may be");
    expect_error("01 r.\n   05 t occurs 2048.\n      10 b pic x(32768).\n   05 c pic x.\n", 4,
                 "record larger than 67108864 bytes");
    const std::string at_bound[] = {"01 r.\n   05 a pic " + bound + ".\n",
                                    "01 r.\n   05 t occurs 2048.\n      10 b pic x(32768).\n"};
    for (const std::string& text : at_bound) {
        write_file(dir_.file("big.xfd"), text);
        RecordLayout* l = brelrt_parse_copybook(dir_.file("big.xfd").c_str(), "big");
        ASSERT_NE(l, nullptr) << brelrt_xfd_last_error();
        EXPECT_EQ(l->record_size, BRELRT_RECORD_SIZE_MAX);
        EXPECT_EQ(l->items[l->item_count - 1].offset + l->items[l->item_count - 1].field.size,
                  BRELRT_RECORD_SIZE_MAX);
        B4XFDFree(l);
    }
}

// A copybook is a regular file of at most 16 MiB: anything else gives no
// layout, and the error names the file and why.
TEST_F(HostTest, CopybookMustBeARegularFileWithinTheBound) {
    TempDir dir;
    EnvVar quiet("BRELRT_TRACE", "0");
    std::string big = dir.file("big.xfd"), fifo = dir.file("fifo.xfd");
    write_file(big, "01 r.\n   05 a pic x.\n");
    ASSERT_EQ(truncate(big.c_str(), 100 * 1024 * 1024), 0); // sparse
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string errors;
    for (const std::string& path : {big, fifo, dir.path()}) {
        EXPECT_EQ(brelrt_parse_copybook(path.c_str(), "r"), nullptr);
        errors += std::string(brelrt_xfd_last_error()) + "\n";
    }
    EXPECT_EQ(errors, big + ": cannot be read: 104857600 bytes, more than 16777216\n" + fifo +
                          ": cannot be read: a FIFO, not a regular file\n" + dir.path() +
                          ": cannot be read: a folder, not a regular file\n");
}

// Fixed form whatever comment banners and identification areas run past
// column 72; the source format directives switch the form from their line on.
TEST_F(HostTest, LongCommentLinesAndFormatDirectivesMatchGnuCobol) {
    expect_gnucobol_layout("banners.xfd", false);
    expect_gnucobol_layout("formats.xfd", false);
    RecordLayout* l = brelrt_parse_copybook((data_dir + "/formats.xfd").c_str(), "formats");
    ASSERT_NE(l, nullptr) << brelrt_xfd_last_error();
    EXPECT_EQ(l->record_size, 152);
    EXPECT_EQ(find(l, "cust_name")->field.size, 60);
    B4XFDFree(l);
}

TEST_F(CopybookErrors, UnknownSourceFormatsAreRefused) {
    expect_error("01 r.\n>>SOURCE FORMAT IS VARIABLE\n   05 a pic x.\n", 2,
                 "source format VARIABLE is not supported");
    expect_error("01 r.\n>>SOURCE FREE FIXED\n", 2, ">>SOURCE needs one format");
    expect_error("       01 R.\n      $SET SOURCEFORMAT\"TERMINAL\"\n", 2,
                 "source format TERMINAL is not supported");
}

TEST_F(HostTest, LayoutLookupByNameAndCase) {
    TempDir dir;
    write_file(dir.file("stock.xfd"), "01 Stock-Rec.\n   05 Item-No pic 9(4).\n");
    EnvVar xfd("BRELRT_XFD_DIR", dir.path().c_str());
    RecordLayout* l = B4ParseXFD("STOCK", 14, 30);
    ASSERT_NE(l, nullptr); // found as stock.xfd
    EXPECT_STREQ(l->name, "STOCK");
    EXPECT_STREQ(l->items[1].name, "item_no");
    B4XFDFree(l);
    {
        EnvVar keep_case("4GL_COLUMN_CASE", "1");
        l = B4ParseXFD("stock", 14, 30);
        ASSERT_NE(l, nullptr);
        EXPECT_STREQ(l->items[1].name, "Item_No");
        B4XFDFree(l);
    }
    EXPECT_EQ(B4ParseXFD("missing", 14, 30), nullptr);
    EXPECT_EQ(B4ParseXFD("../stock", 14, 30), nullptr);
    EXPECT_EQ(B4ParseXFD(nullptr, 14, 30), nullptr);
    write_file(dir.file("long.xfd"), "01 r.\n   05 a-very-long-field-name-of-thirty-one pic x.\n");
    l = B4ParseXFD("long", 14, 30);
    ASSERT_NE(l, nullptr);
    EXPECT_STREQ(l->items[1].name, "a_very_long_field_name_of_thirty_one"); // kept whole
    B4XFDFree(l);
}

// Layouts are found along COBCPY as cobc finds copybooks: folder after
// folder, in each the suffixes in cobc's order. cobc compiling "COPY stock"
// and B4ParseXFD("stock") pick the same file as the files are taken away
// one by one (each copybook's record has a size of its own).
TEST_F(HostTest, LayoutsAreFoundAlongCobcpyAsCobcFindsCopybooks) {
    TempDir program, xfd, first, second;
    EnvVar xfd_dir("BRELRT_XFD_DIR", xfd.path().c_str());
    EnvVar cobcpy("COBCPY", (":" + first.path() + "::" + second.path() + "/").c_str());
    auto copybook = [](const std::string& path, int size) {
        write_file(path, "       01 STOCK-REC PIC X(" + std::to_string(size) + ").\n");
    };
    const char* suffixes[] = {"", ".CPY", ".cpy", ".CBL", ".cbl", ".COB", ".cob"};
    std::map<int, std::string> files;
    for (int k = 0; k < 7; ++k)
        files[k + 1] = first.file(std::string("stock") + suffixes[k]);
    files[8] = second.file("stock.cpy");
    for (const auto& [size, path] : files)
        copybook(path, size);
    const std::string source = "       IDENTIFICATION DIVISION.\n"
                               "       PROGRAM-ID. PICKS.\n"
                               "       DATA DIVISION.\n"
                               "       WORKING-STORAGE SECTION.\n"
                               "       COPY stock.\n"
                               "       PROCEDURE DIVISION.\n"
                               "           DISPLAY LENGTH OF STOCK-REC\n"
                               "           STOP RUN.\n";
    std::string cobol, host;
    while (!files.empty()) {
        ASSERT_TRUE(build_cobol(program, source));
        int picked = std::stoi(run_program(program));
        cobol += std::to_string(picked) + " ";
        RecordLayout* l = B4ParseXFD("stock", 14, 30);
        host += (l ? std::to_string(l->record_size) : std::string("none")) + " ";
        B4XFDFree(l);
        ASSERT_EQ(files.count(picked), 1u) << cobol;
        std::filesystem::remove(files[picked]);
        files.erase(picked);
    }
    EXPECT_EQ(cobol, "1 2 4 6 3 5 7 8 ");
    EXPECT_EQ(host, cobol);
    // Nothing left: the error names every place looked at.
    EXPECT_EQ(B4ParseXFD("Stock", 14, 30), nullptr);
    EXPECT_EQ(std::string(brelrt_xfd_last_error()),
              xfd.file("Stock.xfd: no such layout (nor ") + xfd.file("stock.xfd, ") +
                  xfd.file("STOCK.xfd; nor Stock, stock or STOCK with .xfd, no suffix, .CPY, "
                           ".CBL, .COB, .cpy, .cbl or .cob in the COBCPY folders ") +
                  first.path() + ", " + second.path() + "/)");
    // The layout's own .xfd comes first in each folder, and the layout
    // folder before COBCPY; the name is also tried in lower and upper case.
    copybook(second.file("stock.CBL"), 10);
    copybook(second.file("STOCK.xfd"), 11);
    RecordLayout* l = B4ParseXFD("Stock", 14, 30);
    ASSERT_NE(l, nullptr) << brelrt_xfd_last_error();
    EXPECT_EQ(l->record_size, 11);
    EXPECT_STREQ(l->name, "Stock");
    B4XFDFree(l);
    copybook(xfd.file("stock.xfd"), 12);
    l = B4ParseXFD("Stock", 14, 30);
    ASSERT_NE(l, nullptr) << brelrt_xfd_last_error();
    EXPECT_EQ(l->record_size, 12);
    B4XFDFree(l);
    EnvVar unset("COBCPY", nullptr);
    EXPECT_EQ(B4ParseXFD("other", 14, 30), nullptr);
    EXPECT_EQ(std::string(brelrt_xfd_last_error()),
              xfd.file("other.xfd: no such layout (nor ") + xfd.file("OTHER.xfd; COBCPY not set)"));
}

// A program named like its copybook (inv beside inv.cpy, COBCPY=.), a
// FIFO and a folder are passed over, and named when nothing else is found.
TEST_F(HostTest, TheSearchPassesOverWhatIsNoCopybook) {
    TempDir folder;
    EnvVar xfd_dir("BRELRT_XFD_DIR", folder.path().c_str());
    EnvVar cobcpy("COBCPY", folder.path().c_str());
    std::filesystem::copy_file("/bin/true", folder.file("inv"));
    ASSERT_EQ(mkfifo(folder.file("inv.xfd").c_str(), 0600), 0);
    std::filesystem::create_directory(folder.file("inv.CPY"));
    write_file(folder.file("inv.CBL"), std::string("       01 INV-REC PIC X(3).\0", 29));
    EXPECT_EQ(B4ParseXFD("inv", 14, 30), nullptr);
    const std::string missing = brelrt_xfd_last_error();
    EXPECT_NE(missing.find("passed over: " + folder.file("inv.xfd") + " (a FIFO), " +
                           folder.file("inv") + " (a program (ELF)), " + folder.file("inv.CPY") +
                           " (a folder), " + folder.file("inv.CBL") + " (not a text file))"),
              std::string::npos)
        << missing;
    write_file(folder.file("inv.cpy"), "       01 INV-REC PIC X(7).\n");
    RecordLayout* l = B4ParseXFD("inv", 14, 30);
    ASSERT_NE(l, nullptr) << brelrt_xfd_last_error();
    EXPECT_EQ(l->record_size, 7);
    B4XFDFree(l);
}

// What a layout says beyond offsets: a table of variable length and its
// counter, in the same occurrence of the table around it; JUSTIFIED; a
// numeric-edited picture and BLANK WHEN ZERO; a FILLER group whose
// REDEFINES carries the data.
TEST_F(HostTest, LayoutsCarryCountersJustificationPicturesAndFillerGroups) {
    TempDir folder;
    write_file(folder.file("shape.cpy"),
               "       01  SHAPE-REC.\n"
               "           05  S-WHEN              PIC X(8).\n"
               "           05  S-WHEN-PARTS REDEFINES S-WHEN.\n"
               "               10  S-YEAR          PIC 9(4).\n"
               "               10  S-MONTH         PIC 99.\n"
               "               10  FILLER          PIC XX.\n"
               "           05  S-DATE.\n"
               "               10  FILLER          PIC X(4).\n"
               "               10  FILLER          PIC X(4).\n"
               "           05  S-DATE-N REDEFINES S-DATE.\n"
               "               10  S-YY            PIC 9(4).\n"
               "               10  S-MMDD          PIC 9(4).\n"
               "           05  S-DATE-X REDEFINES S-DATE PIC X(8).\n"
               "           05  S-CODE              PIC X(6) JUST RIGHT.\n"
               "           05  S-PRINTED           PIC $$,$$9.99CR.\n"
               "           05  S-COUNT             PIC 9(5) BLANK WHEN ZERO.\n"
               "           05  S-GROUP             OCCURS 2.\n"
               "               10  S-N             PIC 9.\n"
               "               10  S-ITEM          PIC X OCCURS 0 TO 3 DEPENDING ON S-N.\n");
    RecordLayout* l = brelrt_parse_copybook(folder.file("shape.cpy").c_str(), "shape");
    ASSERT_NE(l, nullptr) << brelrt_xfd_last_error();
    std::string seen;
    for (int i = 0; i < l->item_count; ++i) {
        const LayoutItem& it = l->items[i];
        seen += std::string(it.name) + subscripts(it) + ":";
        const std::pair<uint16_t, const char*> flags[] = {
            {BRELRT_ITEM_REDEFINES, " redefines"}, {BRELRT_ITEM_SHADOW, " shadow"},
            {BRELRT_ITEM_REDEFINED, " redefined"}, {BRELRT_ITEM_JUSTIFIED, " justified"},
            {BRELRT_ITEM_EDITED, " edited"},       {BRELRT_ITEM_BLANK_ZERO, " blank-zero"},
            {BRELRT_ITEM_VARYING, " varying"}};
        for (const auto& [bit, word] : flags)
            if (it.flags & bit)
                seen += word;
        if (it.flags & BRELRT_ITEM_REDEFINES)
            seen += std::string(" of ") + l->items[it.redefined].name;
        if (it.picture)
            seen += std::string(" ") + it.picture;
        if (it.flags & BRELRT_ITEM_VARYING)
            seen += " " + std::to_string(it.occurs_min) + " to " +
                    std::to_string(it.occurs_count[it.depth]) + " by " +
                    l->items[it.depending].name + subscripts(l->items[it.depending]);
        seen += "\n";
    }
    EXPECT_EQ(seen, "shape_rec:\n"
                    "s_when: redefined\n"
                    "s_when_parts: redefines shadow of s_when\n"
                    "s_year: shadow\ns_month: shadow\n"
                    "s_date: redefines shadow of s_date_n\n"
                    "s_date_n: redefined\ns_yy:\ns_mmdd:\n"
                    "s_date_x: redefines shadow of s_date_n\n"
                    "s_code: justified\n"
                    "s_printed: edited $$,$$9.99CR\n"
                    "s_count: edited blank-zero 9(5)\n"
                    "s_group (1):\ns_n (1):\n"
                    "s_item (1 1): varying 0 to 3 by s_n (1)\n"
                    "s_item (1 2): varying 0 to 3 by s_n (1)\n"
                    "s_item (1 3): varying 0 to 3 by s_n (1)\n"
                    "s_group (2):\ns_n (2):\n"
                    "s_item (2 1): varying 0 to 3 by s_n (2)\n"
                    "s_item (2 2): varying 0 to 3 by s_n (2)\n"
                    "s_item (2 3): varying 0 to 3 by s_n (2)\n");
    B4XFDFree(l);
}

TEST_F(HostTest, LayoutSurvivesFailedAllocations) {
    EnvVar xfd("BRELRT_XFD_DIR", data_dir.c_str());
    for (long n = 1; n <= 4; ++n) {
        brelrt_mem_fail_nth(n);
        RecordLayout* l = B4ParseXFD("sales", 14, 30);
        brelrt_mem_fail_nth(0);
        B4XFDFree(l);
    }
}

} // namespace
