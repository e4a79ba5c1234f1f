// Reading records (slot 47): documents written by hand, by the writer and by
// other programs come back into record areas.
#include "write_helpers.h"

#include <iconv.h>

#include <cstring>

using namespace xmltest;

namespace {

class ReadTest : public WriteTest {
protected:
    int read(XmlFile* file, std::string& record) const {
        return runtime().slot<BxmlSreadFn>(BXML_SLOT_SREAD)(
            file, reinterpret_cast<unsigned char*>(record.data()));
    }

    // Every record of the document `name`, each read into an area of `size`
    // bytes of `fill`, with what each read returned; then the file-error
    // word of the read that ended it.
    struct Records {
        std::vector<std::string> areas;
        std::vector<int> results;
        int end = -1;
    };
    Records read_all(const std::string& name, size_t size, char fill = '#') {
        Records r;
        XmlFile* file = open(name, 0);
        EXPECT_NE(file, nullptr) << name << ": " << *brelrt_file_error();
        if (!file)
            return r;
        for (int k = 0; k < 100000; ++k) {
            std::string area(size, fill);
            int n = read(file, area);
            if (n == 0)
                break;
            r.areas.push_back(area);
            r.results.push_back(n);
        }
        r.end = *brelrt_file_error();
        std::string area(size, fill);
        EXPECT_EQ(read(file, area), 0); // and again
        EXPECT_EQ(*brelrt_file_error(), r.end);
        EXPECT_EQ(area, std::string(size, fill));
        close(file);
        return r;
    }
};

std::string orders_document(const std::string& records) {
    return "<?xml version=\"1.0\"?>\n<orders>\n" + records + "</orders>\n";
}

TEST_F(ReadTest, OrdersFieldsByNameAndOccurrence) {
    copybook("orders", kOrdersCopybook);
    write_file(
        path("orders.xml"),
        orders_document(
            // no ord_no: its bytes stay
            " <ord_rec><lines><item>X1</item></lines><lines><item>Y2</item></lines>"
            "</ord_rec>\n"
            // three lines: the third is ignored
            " <ord_rec><ord_no>A0002</ord_no><lines><item>L1</item></lines>"
            "<lines><item>L2</item></lines><lines><item>L3</item></lines></ord_rec>\n"
            // one lines without a number: occurrence 1
            " <ord_rec><ord_no>A0003</ord_no><lines><item>ONLY</item></lines></ord_rec>\n"
            // cut, padded, leading blanks and line breaks dropped, empty blanked
            " <ord_rec><ord_no>A000456789</ord_no><lines><item>\n   \n  ABCDEFGHIJ</item>"
            "</lines><lines><item>  </item></lines></ord_rec>\n"
            // elements no item claims, and attributes and comments, are ignored
            " <!-- c --><ord_rec kind=\"x\"><extra>1</extra><ord_no>B1</ord_no></ord_rec>\n"));
    const std::vector<std::string> expected = {
        "#####X1      Y2      ", "A0002L1      L2      ", "A0003ONLY    ########",
        "A0004ABCDEFGH        ", "B1   ################",
    };
    for (const char* exact : {"yes", "no"}) {
        EnvVar match("BXML_EXACT_TABLE_MATCH", exact);
        Records r = read_all(path("orders.xml"), 21);
        EXPECT_EQ(r.areas, expected) << exact;
        EXPECT_EQ(r.results, (std::vector<int>{22, 22, 14, 22, 6})) << exact;
        EXPECT_EQ(r.end, 8);
    }
}

TEST_F(ReadTest, ExactTableMatchDecidesWhetherLevelsMayBeLeftOut) {
    copybook("grid", "       01 GRID-REC.\n"
                     "          05 ROW OCCURS 2.\n"
                     "             10 CELL OCCURS 2 PIC X.\n");
    // One row only, so it carries no number: its cells are (1) and (2); a
    // row with one cell gives that cell the row's number only.
    write_file(path("grid.xml"), "<grid><grid_rec><row><cell>a</cell><cell>b</cell></row>"
                                 "</grid_rec><grid_rec><row><cell>c</cell></row><row><cell>d"
                                 "</cell><cell>e</cell></row></grid_rec></grid>");
    {
        Records r = read_all(path("grid.xml"), 4);
        EXPECT_EQ(r.areas, (std::vector<std::string>{"####", "##de"}));
    }
    EnvVar match("BXML_EXACT_TABLE_MATCH", "no");
    Records r = read_all(path("grid.xml"), 4);
    EXPECT_EQ(r.areas, (std::vector<std::string>{"ab##", "c#de"}));
}

// Records of every usage, three record types and the variants of a WHEN,
// written by the writer and read back: the same bytes. The area is blank
// before each read, as the FILLER of a variant is not in the document.
TEST_F(ReadTest, LedgerRecordsComeBackByteForByte) {
    std::vector<std::string> records = ledger_records();
    ASSERT_EQ(records.size(), 5u);
    std::string doc = document("ledger", records);
    ASSERT_FALSE(doc.empty());
    Records r = read_all(path("ledger.xml"), 300, ' ');
    ASSERT_EQ(r.areas.size(), records.size());
    EXPECT_EQ(r.end, 8);
    for (size_t k = 0; k < records.size(); ++k) {
        EXPECT_EQ(r.areas[k].substr(0, records[k].size()), records[k]) << "record " << k;
        EXPECT_EQ(r.areas[k].substr(records[k].size()), std::string(300 - records[k].size(), ' '));
    }

    // The same document indented by another program, with comments and
    // attributes added, reads the same.
    std::string formatted = run_command("xmllint --format '" + path("ledger.xml") + "'");
    size_t at = 0;
    while ((at = formatted.find("<dtl_rec>", at)) != std::string::npos) {
        formatted.replace(at, 9, "<!-- a detail --><dtl_rec id=\"x\">\n<!-- inside -->");
        at += 20;
    }
    write_file(path("ledger.xml"), formatted);
    Records again = read_all(path("ledger.xml"), 300, ' ');
    EXPECT_EQ(again.areas, r.areas);
}

// The whole record comes back whatever the area held before: the bytes of
// the last record never show through a field that is empty now.
TEST_F(ReadTest, EmptyFieldsDoNotKeepThePreviousRecordsBytes) {
    copybook("orders", kOrdersCopybook);
    std::string doc = document("orders", {"A0001LINE-ONELINE-TWO", "A0002        LINE-TWO"});
    XmlFile* file = open(path("orders.xml"), 0);
    ASSERT_NE(file, nullptr);
    std::string area(21, '#');
    EXPECT_EQ(read(file, area), 22);
    EXPECT_EQ(area, "A0001LINE-ONELINE-TWO");
    EXPECT_EQ(read(file, area), 22);
    EXPECT_EQ(area, "A0002        LINE-TWO");
    close(file);
}

// Binary fields come back from their hexadecimal text; text that is not
// hexadecimal of the field's size leaves the field as it was.
TEST_F(ReadTest, BinaryFieldsComeBackAsBytes) {
    copybook("bin", "       01 BIN-REC.\n"
                    "          05 KEY-A PIC X(3).\n"
                    "      *> BINARY\n"
                    "          05 RAW PIC X(4).\n"
                    "          05 N5 PIC S9(4) COMP-5.\n");
    const std::string record = std::string("K01") + std::string("\x00\x9F\xFF\x41", 4) + "\xFF\x7F";
    std::string doc = document("bin", {record});
    EXPECT_NE(doc.find("<raw>009FFF41</raw>"), std::string::npos);
    Records r = read_all(path("bin.xml"), 9);
    EXPECT_EQ(r.areas, std::vector<std::string>{record});
    write_file(path("bin.xml"), "<bin><bin_rec><raw>zz12</raw></bin_rec><bin_rec><raw>0A"
                                "</raw></bin_rec><bin_rec><raw>0A0B0C0D0E</raw></bin_rec></bin>");
    r = read_all(path("bin.xml"), 9);
    EXPECT_EQ(r.areas, (std::vector<std::string>{"#########", std::string("###\x0A\0\0\0##", 9),
                                                 "#########"}));
}

std::string converted(const std::string& utf8, const char* encoding) {
    iconv_t cd = iconv_open(encoding, "UTF-8");
    std::string out(utf8.size() * 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t in_left = utf8.size();
    char* o = out.data();
    size_t out_left = out.size();
    iconv(cd, &in, &in_left, &o, &out_left);
    iconv_close(cd);
    out.resize(out.size() - out_left);
    return out;
}

// Records in the document's encoding come back with their own bytes; a
// text cut at the field's end never splits a character; trailing
// double-byte blanks are blanks.
TEST_F(ReadTest, RecordsInEveryEncodingComeBackInTheirOwnBytes) {
    copybook("names", "       01 NAME-REC.\n"
                      "          05 NAME-A PIC X(12).\n"
                      "          05 NAME-B PIC X(7).\n"
                      "          05 CODE-C PIC X(4).\n");
    const struct {
        const char* encoding;
        std::string a, b, b_read; // b_read: b as it comes back
    } cases[] = {
        {"ISO-8859-1", converted("Müller-Lüd", "ISO-8859-1"), converted("Ça va", "ISO-8859-1"),
         converted("Ça va", "ISO-8859-1")},
        {"UTF-8", "日本語", "株式", "株式"},
        {"Shift_JIS", converted("日本語テスト", "SHIFT_JIS"), converted("見積　", "SHIFT_JIS"),
         converted("見積", "SHIFT_JIS")},
        {"CP932", converted("①髙橋", "CP932"), converted("拾い　", "CP932"),
         converted("拾い", "CP932")},
        {"EUC-JP", converted("内装工事", "EUC-JP"), converted("天井　", "EUC-JP"),
         converted("天井", "EUC-JP")},
    };
    for (const auto& c : cases) {
        EnvVar encoding("BXML_ENCODING", c.encoding);
        auto field = [](std::string s, size_t n) {
            s.resize(n, ' ');
            return s;
        };
        std::string record = field(c.a, 12) + field(c.b, 7) + "X1  ";
        ASSERT_EQ(record.size(), 23u) << c.encoding;
        document("names", {record});
        Records r = read_all(path("names.xml"), 23);
        ASSERT_EQ(r.areas.size(), 1u) << c.encoding;
        EXPECT_EQ(r.areas[0], field(c.a, 12) + field(c.b_read, 7) + "X1  ") << c.encoding;
        EXPECT_EQ(r.end, 8) << c.encoding;
    }
    // A text longer than its field is cut before the character that would
    // not fit whole.
    for (const char* encoding : {"Shift_JIS", "EUC-JP", "UTF-8"}) {
        std::string text =
            converted("あいうえお", encoding == std::string("UTF-8") ? "UTF-8" : encoding);
        write_file(path("names.xml"), "<?xml version=\"1.0\" encoding=\"" + std::string(encoding) +
                                          "\"?><names><name_rec><name_b>" + text +
                                          "</name_b></name_rec></names>");
        Records r = read_all(path("names.xml"), 23);
        ASSERT_EQ(r.areas.size(), 1u) << encoding;
        size_t width = std::string(encoding) == "UTF-8" ? 3 : 2;
        size_t whole = 7 / width * width;
        EXPECT_EQ(r.areas[0].substr(12, 7), text.substr(0, whole) + std::string(7 - whole, ' '))
            << encoding;
    }
}

// A document cut off after a complete record gives that record, then 19;
// malformed ones give 19 without a crash, and nothing is left allocated.
TEST_F(ReadTest, BrokenDocumentsEndWithNineteenAfterEveryCompleteRecord) {
    copybook("orders", kOrdersCopybook);
    const std::string one = " <ord_rec><ord_no>A0001</ord_no></ord_rec>\n";
    std::string deep;
    for (int k = 0; k < 2000; ++k)
        deep += "<d>";
    const struct {
        std::string doc;
        size_t records;
        int end;
    } cases[] = {
        {"<?xml version=\"1.0\"?>\n<orders>\n" + one + one, 2, 19},                // no end tag
        {"<?xml version=\"1.0\"?>\n<orders>\n" + one + " <ord_rec><ord_n", 1, 19}, // in a record
        {"<orders>" + one + "<ord_rec><ord_no>x</ord_rec></orders>", 1, 19},       // bad nesting
        {"<?xml version=\"1.0\"?><orders>" + one + "<ord_rec><ord_no>\xFF</ord_no></ord_rec>", 1,
         19},                                         // not UTF-8
        {"<orders>" + one + "</orders><junk>", 1, 8}, // after the root: never read
        {"<orders/>", 0, 8},
        // past the limits, inside a record
        {"<orders>" + one + "<ord_rec>" + deep + "</ord_rec></orders>", 1, 19},
        {"<orders>" + one + "<ord_rec a=\"" + std::string(2 << 20, 'x') + "\"/></orders>", 1, 19},
    };
    for (const auto& c : cases) {
        write_file(path("orders.xml"), c.doc);
        Records r = read_all(path("orders.xml"), 21);
        EXPECT_EQ(r.areas.size(), c.records) << c.doc;
        EXPECT_EQ(r.end, c.end) << c.doc;
    }
    // An encoding nobody decodes fails the open.
    write_file(path("orders.xml"), "<?xml version=\"1.0\" encoding=\"Big5\"?><orders/>");
    EXPECT_EQ(open(path("orders.xml"), 0), nullptr);
    EXPECT_EQ(*brelrt_file_error(), 19);
}

// A record type is told by its element; each variant's condition is tested
// once the fields it tests are in; the trace shows every step.
TEST_F(ReadTest, TraceOfARecordRead) {
    copybook("orders", kOrdersCopybook);
    document("orders", {"A0001X1      Y2      "});
    std::string trace = with_trace(11, [&] {
        Records r = read_all(path("orders.xml"), 21);
        EXPECT_EQ(r.areas, std::vector<std::string>{"A0001X1      Y2      "});
    });
    for (const char* line :
         {"xml_sread", " dump_bxml_element", "read_xml_data 1 (ord_no)", "find_element 1 (ord_no)",
          "Leaving, only one element, not a table", "find_element 5 (item)",
          "same_array_signature for items item(2) and item(2)", "Leaving, TRUE",
          "Leaving, returning pTarget because count == 1", "Leaving, 22", "Leaving, EOF",
          "Parsing to next >"}) {
        EXPECT_NE(trace.find(line), std::string::npos) << line;
    }
}

// Tables of many occurrences are found through an index by occurrence
// numbers; it gives what the walk over the elements gives, also for
// duplicates and missing occurrences.
TEST_F(ReadTest, LongTablesReadLikeShortOnes) {
    for (int count : {5, 60}) {
        std::string n = std::to_string(count);
        copybook("tab", "       01 TAB-REC.\n"
                        "          05 ROW OCCURS " +
                            n +
                            ".\n"
                            "             10 V PIC X.\n"
                            "             10 W OCCURS 2 PIC X.\n");
        std::string rows;
        std::string expected;
        for (int k = 0; k < count; ++k) {
            char v = static_cast<char>('a' + k % 26);
            if (k == 2) { // a row without its v, and with one w only, which
                          // carries no number of its own
                rows += "<row><w>y</w></row>";
                expected += "###";
            } else if (k == 3) { // a row with two v: neither is taken, and the
                                 // first child named v under row 4 is
                rows += "<row><v>1</v><v>2</v><w>p</w><w>q</w></row>";
                expected += "#pq";
            } else {
                rows += std::string("<row><v>") + v + "</v><w>" + v + "</w><w>z</w></row>";
                expected += std::string(1, v) + v + "z";
            }
        }
        write_file(path("tab.xml"), "<tab><tab_rec>" + rows + "</tab_rec></tab>");
        Records r = read_all(path("tab.xml"), static_cast<size_t>(3 * count));
        ASSERT_EQ(r.areas.size(), 1u);
        EXPECT_EQ(r.areas[0], expected) << count;
    }
}

// A shortage at any allocation of a read ends it with 14 and leaves nothing
// allocated once the file is closed.
TEST_F(ReadTest, AShortageAtAnyAllocationIsReported) {
    std::vector<std::string> records = ledger_records();
    ASSERT_EQ(records.size(), 5u);
    document("ledger", records);
    bool completed = false;
    for (long n = 1; n < 5000 && !completed; ++n) {
        XmlFile* file = open(path("ledger.xml"), 0);
        ASSERT_NE(file, nullptr);
        brelrt_mem_fail_nth(n);
        std::string area(300, ' ');
        int count = 0;
        while (read(file, area) > 0)
            ++count;
        int end = *brelrt_file_error();
        brelrt_mem_fail_nth(0);
        completed = end == 8;
        if (completed) {
            EXPECT_EQ(count, 5);
        } else {
            EXPECT_EQ(end, 14) << "allocation " << n;
        }
        close(file);
        ASSERT_EQ(brelrt_mem_outstanding(), 0u) << "allocation " << n;
    }
    EXPECT_TRUE(completed);
}

} // namespace
