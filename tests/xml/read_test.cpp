// Reading records (slot 47): documents written by hand, by the writer and by
// other programs come back into record areas.
#include "write_helpers.h"

#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <functional>

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

// Bytes of every tracked block still allocated.
size_t tracked_bytes() {
    FILE* report = std::tmpfile();
    brelrt_mem_report(report);
    std::rewind(report);
    size_t total = 0;
    char line[512];
    while (std::fgets(line, sizeof line, report)) {
        const char* open = std::strrchr(line, '(');
        if (open)
            total += std::strtoul(open + 1, nullptr, 10);
    }
    std::fclose(report);
    return total;
}

// `n` copies of `s`.
std::string times(size_t n, const std::string& s) {
    std::string out;
    out.reserve(n * s.size());
    for (size_t k = 0; k < n; ++k)
        out += s;
    return out;
}

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
    // not fit whole (in the program's encoding, here the document's).
    for (const char* encoding : {"Shift_JIS", "EUC-JP", "UTF-8"}) {
        EnvVar program("BXML_ENCODING", encoding);
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
         19},                                          // not UTF-8
        {"<orders>" + one + "</orders><junk>", 1, 19}, // after the root
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
// allocated once the file is closed: for records of every usage, and for
// records that skip elements, cut texts, are read through the record index
// and have a name too long for a small buffer.
TEST_F(ReadTest, AShortageAtAnyAllocationIsReported) {
    std::vector<std::string> records = ledger_records();
    ASSERT_EQ(records.size(), 5u);
    document("ledger", records);
    copybook("tab", "       01 TAB-REC.\n"
                    "          05 ROW OCCURS 20.\n"
                    "             10 V PIC X(3).\n");
    std::string rows;
    for (int k = 0; k < 30; ++k)
        rows += "<row><v>" + std::to_string(k) + std::string(k, ' ') + "x</v><z>1</z></row>";
    const std::string name(300, 'n');
    write_file(path("tab.xml"), "<tab><tab_rec>" + rows + "</tab_rec><" + name + ">" + rows + "</" +
                                    name + "></tab>");
    for (const auto& [file, size] : {std::pair<std::string, size_t>{"ledger.xml", 300},
                                     std::pair<std::string, size_t>{"tab.xml", 60}}) {
        Records clean = read_all(path(file), size, ' ');
        ASSERT_FALSE(clean.areas.empty());
        ASSERT_EQ(clean.end, 8);
        bool completed = false;
        for (long n = 1; n < 5000 && !completed; ++n) {
            XmlFile* xml = open(path(file), 0);
            ASSERT_NE(xml, nullptr);
            brelrt_mem_fail_nth(n);
            std::vector<std::string> areas;
            for (;;) {
                std::string area(size, ' ');
                if (read(xml, area) == 0)
                    break;
                areas.push_back(area);
            }
            int end = *brelrt_file_error();
            brelrt_mem_fail_nth(0);
            completed = end == 8;
            if (completed) {
                EXPECT_EQ(areas, clean.areas);
            } else {
                EXPECT_EQ(end, 14) << file << ", allocation " << n;
                // What was read before the shortage is what a clean read gave.
                EXPECT_EQ(areas, std::vector<std::string>(clean.areas.begin(),
                                                          clean.areas.begin() + areas.size()));
                // Another read fails the same (the file stopped inside a
                // record), or gives the record that failed: none is lost.
                std::string area(size, ' ');
                if (read(xml, area) == 0) {
                    EXPECT_EQ(*brelrt_file_error(), 14);
                    EXPECT_EQ(area, std::string(size, ' '));
                } else {
                    EXPECT_EQ(area, clean.areas[areas.size()]) << file << ", allocation " << n;
                }
            }
            close(xml);
            ASSERT_EQ(brelrt_mem_outstanding(), 0u) << file << ", allocation " << n;
        }
        EXPECT_TRUE(completed) << file;
    }
}

// Elements no item can use are counted, not kept: wrappers of names the
// layout does not have, occurrences past the largest OCCURS count, texts
// past what the field takes. Hostile records read in a few hundred tracked
// blocks and bytes (the pool keeps the largest record's elements), and the
// records around them read as ever.
TEST_F(ReadTest, WhatNoItemUsesIsCountedNotKept) {
    copybook("small", "       01 SMALL-REC.\n"
                      "          05 A PIC X(4).\n"
                      "          05 B PIC 9(6).\n");
    const std::string rec = "<small_rec>";
    const std::string end = "</small_rec>\n";
    std::string text_gt = "XY" + times(2000, std::string(999, 'x') + ">"); // 2 MB, a ">" a KB
    std::string cdata = "<![CDATA[" + times(2000, std::string(999, 'c') + ">") + "]]>";
    write_file(path("small.xml"),
               "<small>\n" + rec + "<a>AB</a><b>12</b>" + end +                        //
                   rec + times(125000, "<z>1</z>") + "<a>CD</a><b>3</b>" + end +       //
                   rec + times(125000, "<a>1</a>") + "<b>4</b>" + end +                //
                   rec + "<w><a>EF</a><q><b>9</b></q></w><b>5</b>" + end +             //
                   rec + "<a>" + text_gt + "</a><b>6</b>" + end +                      //
                   rec + "<a>C<z>zz</z>D<b>x</b>E</a><b>7</b>" + end +                 //
                   rec + "<a>" + cdata + "</a><b>7</b><b>8</b>" + times(50000, "<b/>") //
                   + end + rec + "<a>GH</a><b>000009</b>" + end + "</small>\n");
    XmlFile* file = open(path("small.xml"), 0);
    ASSERT_NE(file, nullptr);
    std::vector<std::string> areas;
    size_t blocks = 0, bytes = 0;
    std::string trace = with_trace(2, [&] {
        for (;;) {
            std::string area(10, '#');
            if (read(file, area) == 0)
                break;
            areas.push_back(area);
            blocks = std::max(blocks, brelrt_mem_outstanding());
            bytes = std::max(bytes, tracked_bytes());
        }
    });
    EXPECT_EQ(*brelrt_file_error(), 8);
    close(file);
    EXPECT_EQ(areas, (std::vector<std::string>{
                         "AB  000012", "CD  000003",
                         // 125000 a: two kept, which no item takes (not a table)
                         "####000004",
                         // a field wrapped in an element of no item's name is not read
                         "####000005", "XYxx000006",
                         // text around skipped and kept children is the field's
                         "CDE 000007", "cccc######", "GH  000009"}));
    EXPECT_LT(blocks, 400u);
    EXPECT_LT(bytes, 400000u);
    for (const char* line : {"record 2: 125000 elements skipped (no item uses them)",
                             "record 3: 124998 elements skipped", "record 4: 4 elements skipped",
                             "text of a: 23 bytes kept, 1999979 dropped",
                             "record 6: 1 elements skipped", "record 7: 50000 elements skipped"})
        EXPECT_NE(trace.find(line), std::string::npos) << line;
}

// A field's text is kept only as far as the field and the conversion can
// use it; what is dropped decides the trimming, so the field gets the bytes
// the whole text gives: trailing blanks are cut only when nothing but blanks
// (double-byte ones where the encoding has them) was dropped.
TEST_F(ReadTest, TextsPastTheFieldGiveTheBytesOfTheWholeText) {
    copybook("cut", "       01 CUT-REC.\n"
                    "          05 C PIC X(6).\n"
                    "          05 N PIC 9(5)V99.\n"
                    "      *> BINARY\n"
                    "          05 H PIC X(2).\n");
    const std::string tabs(100, '\t'), wide = times(40, "\xE3\x80\x80");
    const struct {
        std::string c, n, h, expected;
    } cases[] = {
        {"AB" + tabs + "Z", "12.5" + std::string(500, ' ') + "x", "0A0B" + std::string(100, ' '),
         "AB\t\t\t\t0001250\x0A\x0B"},
        {"AB" + tabs, "1" + std::string(450, '0'), "0A0B" + std::string(100, ' ') + "0C",
         "AB    0000000##"},
        {"AB" + wide, "  7.25" + std::string(300, ' '), times(100, "0A"), "AB    0000725##"},
        {"AB" + wide + "Z", "", "", "AB\xE3\x80\x80 0000000\0\0"},
    };
    std::string records;
    for (const auto& c : cases)
        records += "<cut_rec><c>" + c.c + "</c><n>" + c.n + "</n><h>" + c.h + "</h></cut_rec>";
    write_file(path("cut.xml"), "<cut>" + records + "</cut>");
    Records r = read_all(path("cut.xml"), 15);
    std::vector<std::string> expected;
    for (const auto& c : cases)
        expected.push_back(c.expected.size() == 15 ? c.expected
                                                   : c.expected + std::string(2, '\0'));
    EXPECT_EQ(r.areas, expected);

    // Shift_JIS: the double-byte blank is a blank.
    EnvVar encoding("BXML_ENCODING", "Shift_JIS");
    write_file(path("cut.xml"),
               "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><cut><cut_rec><c>AB" +
                   times(40, "\x81\x40") + "</c></cut_rec><cut_rec><c>AB" + times(40, "\x81\x40") +
                   "Z</c></cut_rec></cut>");
    r = read_all(path("cut.xml"), 15);
    EXPECT_EQ(r.areas,
              (std::vector<std::string>{"AB    #########", "AB\x81\x40\x81\x40#########"}));
}

// A record past the bounds of a record read (16384 + 2 per layout item
// elements kept, 3 x the record size + 1 MB of text kept) is refused with
// 19, the reason and a trace line naming the record; the file stays
// stopped.
TEST_F(ReadTest, ARecordPastTheBoundsIsRefused) {
    copybook("nest", "       01 NEST-REC.\n"
                     "          05 G OCCURS 3.\n"
                     "             10 T PIC X(400).\n");
    // Every g may hold 4 g (one more than the largest OCCURS) and 4 t.
    std::function<std::string(int, const std::string&)> tree = [&](int depth,
                                                                   const std::string& leaf) {
        std::string inner;
        for (int k = 0; k < 4; ++k)
            inner += leaf + (depth ? tree(depth - 1, leaf) : "");
        return "<g>" + inner + "</g>";
    };
    const std::string first = "<nest_rec><g><t>one</t></g></nest_rec>";
    const struct {
        std::string record;
        const char* reason;
    } cases[] = {
        {"<nest_rec>" + tree(7, "") + "</nest_rec>",
         "record 2 holds more than 16398 elements (at g)"},
        {"<nest_rec>" + tree(4, "<t>" + std::string(2000, 't') + "</t>") + "</nest_rec>",
         "record 2 holds more than 1052176 bytes of text (at t)"},
    };
    for (const auto& c : cases) {
        write_file(path("nest.xml"), "<nest>" + first + c.record + first + "</nest>");
        std::string trace = with_trace(1, [&] {
            Records r = read_all(path("nest.xml"), 1200);
            ASSERT_EQ(r.areas.size(), 1u);
            EXPECT_EQ(r.areas[0].substr(0, 4), "one ");
            EXPECT_EQ(r.end, 19);
        });
        EXPECT_NE(trace.find(std::string("Document refused: ") + c.reason), std::string::npos)
            << trace.substr(0, 300);
    }
}

// After the root element only comments, processing instructions and white
// space may follow; anything else (a second root) is malformed and reported
// with 19 once the records before it are read, never taken for the end.
TEST_F(ReadTest, WhatFollowsTheRootIsCheckedToTheEnd) {
    copybook("orders", kOrdersCopybook);
    const std::string one = "<ord_rec><ord_no>A0001</ord_no></ord_rec>";
    const struct {
        std::string doc;
        size_t records;
        int end;
    } cases[] = {
        {"<orders>" + one + "</orders>\n<!-- end --><?done yes?>\n \n", 1, 8},
        {"<orders>" + one + "</orders>\n<orders>" + one + one + "</orders>", 1, 19},
        {"<orders>" + one + "</orders>tail", 1, 19},
        {"<orders/> <orders/>", 0, 19},
        {"<orders>" + one + "</orders>" + std::string(70000, ' ') + "<x/>", 1, 19},
    };
    for (const auto& c : cases) {
        write_file(path("orders.xml"), c.doc);
        std::string trace = with_trace(6, [&] {
            Records r = read_all(path("orders.xml"), 21);
            EXPECT_EQ(r.areas.size(), c.records) << c.doc.substr(0, 80);
            EXPECT_EQ(r.end, c.end) << c.doc.substr(0, 80);
        });
        if (c.end == 19) {
            EXPECT_STREQ(*brelrt_error_text(), XML_ErrorString(XML_ERROR_JUNK_AFTER_DOC_ELEMENT));
            EXPECT_NE(trace.find("Parse error 9 at line"), std::string::npos);
        }
    }
}

// Tables read the same through the record index (records that repeat
// names often) as through the walks over a name's elements and a parent's
// children (records that do not), in every configuration. The rows hold
// missing, single, repeated and differently cased elements (with
// 4GL_COLUMN_CASE 1 and 2 the layout's names are upper case).
TEST_F(ReadTest, TablesReadTheSameWithAndWithoutTheIndexInEveryConfiguration) {
    const std::string rows[] = {"<ROW><V>a</V><W>b</W><W>c</W></ROW>", "<row><w>d</w></row>",
                                "<Row><V>e</V><v>f</v><v>g</v><W>h</W><w>i</w></Row>"};
    auto read_rows = [&](int count) {
        copybook("tab", "       01 TAB-REC.\n"
                        "          05 ROW OCCURS " +
                            std::to_string(count) +
                            ".\n"
                            "             10 V PIC X.\n"
                            "             10 W OCCURS 2 PIC X.\n");
        std::string doc;
        for (int k = 0; k < count; ++k)
            doc += rows[k % 3];
        write_file(path("tab.xml"), "<tab><TAB_REC>" + doc + "</TAB_REC></tab>");
        Records r = read_all(path("tab.xml"), static_cast<size_t>(3 * count));
        return r.areas.size() == 1 ? r.areas[0] : std::string();
    };
    // Case modes 1 and 2 take only the upper-case rows as rows; their v and
    // w are found as the first of a name among a row's children.
    const std::string upper = times(8, "abc") + std::string(48, '#');
    const struct {
        const char* exact;
        const char* column_case;
        std::string few;  // 3 rows: walks
        std::string many; // 24 rows: the index
    } cases[] = {
        {"yes", "0", "abc####hi", times(8, "abc####hi")},
        {"no", "0", "abc#d##hi", times(8, "abc#d##hi")},
        {"yes", "1", "ah#######", upper},
        {"no", "1", "abc######", upper},
        {"yes", "2", "ah#######", upper},
        {"no", "2", "abc######", upper},
    };
    for (const auto& c : cases) {
        EnvVar exact("BXML_EXACT_TABLE_MATCH", c.exact);
        EnvVar column_case("4GL_COLUMN_CASE", c.column_case);
        EXPECT_EQ(read_rows(3), c.few) << c.exact << c.column_case;
        EXPECT_EQ(read_rows(24), c.many) << c.exact << c.column_case;
    }
}

} // namespace

// Records of every shape in one document come back as each does alone, and
// once every shape was read, reading more costs no block: a record's
// elements (given back whole, or walked) serve the next whatever its shape,
// with nothing of the last one left in them.
TEST_F(ReadTest, RecordsReuseTheLastRecordsElementsWithNothingOfItLeft) {
    copybook("tab", "       01 TAB-REC.\n"
                    "          05 ID PIC 9(4).\n"
                    "          05 ROW OCCURS 60.\n"
                    "             10 V PIC X(3).\n"
                    "             10 W OCCURS 2 PIC X.\n");
    auto rows = [](int count, const std::string& row) { return times(size_t(count), row); };
    const std::vector<std::string> records = {
        // through the record index (names repeated 32 times and more)
        "<tab_rec><id>1</id>" + rows(60, "<row><v>abc</v><w>x</w><w>y</w></row>") + "</tab_rec>",
        "<tab_rec><id>2</id><row><v>d</v></row></tab_rec>",
        // skipped elements, texts cut, a row without w
        "<tab_rec><id>3</id>" +
            rows(40, "<row><z><v>no</v></z><v>" + std::string(300, 'l') + "</v><w>q</w></row>") +
            "<row><v>e</v></row></tab_rec>",
        "<tab_rec/>",
        // rows past the table's, skipped unmade
        "<tab_rec><ID>5</ID>" + rows(70, "<ROW><V>f</V><W>1</W><W>2</W></ROW>") + "</tab_rec>",
        "<tab_rec><id>6</id><row><v> g </v><w></w></row><row/></tab_rec>",
    };
    const size_t size = 4 + 60 * 5;
    std::vector<std::string> alone;
    for (const std::string& r : records) {
        write_file(path("tab.xml"), "<tab>" + r + "</tab>");
        Records one = read_all(path("tab.xml"), size);
        ASSERT_EQ(one.areas.size(), 1u) << r.substr(0, 60);
        alone.push_back(one.areas[0]);
    }
    std::string doc = "<tab>";
    for (int cycle = 0; cycle < 3; ++cycle)
        for (const std::string& r : records)
            doc += r + "\n";
    write_file(path("tab.xml"), doc + "</tab>");
    XmlFile* file = open(path("tab.xml"), 0);
    ASSERT_NE(file, nullptr);
    size_t blocks = 0;
    for (int cycle = 0; cycle < 3; ++cycle) {
        for (size_t k = 0; k < records.size(); ++k) {
            std::string area(size, '#');
            ASSERT_GT(read(file, area), 0) << cycle << ", " << k;
            EXPECT_EQ(area, alone[k]) << cycle << ", " << k;
        }
        if (cycle == 1)
            blocks = brelrt_mem_outstanding();
    }
    EXPECT_EQ(brelrt_mem_outstanding(), blocks);
    std::string area(size, '#');
    EXPECT_EQ(read(file, area), 0);
    EXPECT_EQ(*brelrt_file_error(), 8);
    close(file);
}
