// Writing XML files as the runtime does it: open (slot 45), write (48) and
// close (46) through the dispatch table, the documents compared whole.
#include "write_helpers.h"

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

using namespace xmltest;

namespace {

std::string prologue() {
    return "<?xml version=\"1.0\"?>\n<!-- Created by BrelXML(tm) version 7.2.2 JPN on " +
           today_text() + " -->\n";
}

const char kOrdersDtd[] = "<!DOCTYPE orders [\n"
                          "<!ELEMENT orders (ord_rec)*>\n"
                          " <!ELEMENT ord_rec (ord_no, lines*)>\n"
                          "     <!ELEMENT ord_no (#PCDATA)>\n"
                          "     <!ELEMENT lines (item)>\n"
                          "          <!ELEMENT item (#PCDATA)>\n"
                          "]>\n";

const char kOrdersRecord[] = " <ord_rec>\n"
                             "     <ord_no>A0001</ord_no>\n"
                             "     <lines>\n"
                             "          <item>X1</item>\n"
                             "     </lines>\n"
                             "     <lines>\n"
                             "          <item>Y2</item>\n"
                             "     </lines>\n"
                             " </ord_rec>\n";

class OrdersTest : public WriteTest {
protected:
    void SetUp() override {
        WriteTest::SetUp();
        copybook("orders", kOrdersCopybook);
    }
};

TEST_F(OrdersTest, DtdStyleDocumentByteForByte) {
    std::string doc = document("orders", {"A0001X1      Y2      "});
    EXPECT_EQ(doc, prologue() + kOrdersDtd + "<orders>\n" + kOrdersRecord + "</orders>\n");
    write_file(path("orders.xml"), doc);
    EXPECT_EQ(run_command("xmllint --noout --valid '" + path("orders.xml") + "'"), "");
}

TEST_F(OrdersTest, SchemaStyleRootTagAndSchemaFile) {
    EnvVar style("BXML_CREATE_STYLE", "schema");
    EnvVar schema("BXML_SCHEMA_NAME", path("orders.xsd").c_str());
    std::string doc = document("orders", {"A0001X1      Y2      "});
    EXPECT_EQ(doc, prologue() +
                       "<orders xmlns:xs=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
                       "    xs:noNamespaceSchemaLocation=\"" +
                       path("orders.xsd") + "\">\n" + kOrdersRecord + "</orders>\n");
    EXPECT_EQ(read_file(path("orders.xsd")),
              "<?xml version=\"1.0\"?>\n"
              "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">\n"
              "  <xs:annotation>\n"
              "    <xs:documentation>\n"
              "      Created by BrelXML(tm) version 7.2.2 JPN on " +
                  today_text() +
                  "\n"
                  "    </xs:documentation>\n"
                  "  </xs:annotation>\n"
                  "\n"
                  "  <xs:element name=\"orders\">\n"
                  "    <xs:complexType>\n"
                  "      <xs:sequence>\n"
                  "        <xs:element maxOccurs=\"unbounded\" ref=\"ord_rec\"/>\n"
                  "      </xs:sequence>\n"
                  "    </xs:complexType>\n"
                  "  </xs:element>\n"
                  "\n"
                  "  <xs:element name=\"ord_rec\">\n"
                  "    <xs:complexType>\n"
                  "      <xs:sequence>\n"
                  "        <xs:element ref=\"ord_no\"/>\n"
                  "        <xs:element ref=\"lines\" maxOccurs=\"2\"/>\n"
                  "      </xs:sequence>\n"
                  "    </xs:complexType>\n"
                  "  </xs:element>\n"
                  "\n"
                  "  <xs:element name=\"lines\">\n"
                  "    <xs:complexType>\n"
                  "      <xs:sequence>\n"
                  "        <xs:element ref=\"item\"/>\n"
                  "      </xs:sequence>\n"
                  "    </xs:complexType>\n"
                  "  </xs:element>\n"
                  "\n"
                  "  <xs:element name=\"ord_no\">\n"
                  "    <xs:simpleType>\n"
                  "      <xs:restriction base=\"xs:string\">\n"
                  "        <xs:maxLength value=\"5\"/>\n"
                  "      </xs:restriction>\n"
                  "    </xs:simpleType>\n"
                  "  </xs:element>\n"
                  "\n"
                  "  <xs:element name=\"item\">\n"
                  "    <xs:simpleType>\n"
                  "      <xs:restriction base=\"xs:string\">\n"
                  "        <xs:maxLength value=\"8\"/>\n"
                  "      </xs:restriction>\n"
                  "    </xs:simpleType>\n"
                  "  </xs:element>\n"
                  "\n"
                  "</xs:schema>\n");
    EXPECT_EQ(run_command("xmllint --noout --schema '" + path("orders.xsd") + "' '" +
                          path("orders.xml") + "'"),
              path("orders.xml") + " validates\n");
}

const char kCases[] = "      *> WHEN REC-KIND = \"C\"\n"
                      "       01 CASE-REC.\n"
                      "          05 REC-KIND      PIC X.\n"
                      "          05 TEXT-A        PIC X(6).\n"
                      "          05 TEXT-B        PIC X(3).\n"
                      "      *> BINARY\n"
                      "          05 RAW           PIC X(3).\n"
                      "          05 AMOUNT        PIC S9(5)V99.\n"
                      "          05 COUNT-5       PIC S9(4) COMP-5.\n"
                      "          05 PACKED        PIC S9(5)V99 COMP-3.\n"
                      "          05 LONG-TEXT     PIC X(1000).\n"
                      "      *> WHEN REC-KIND = \"T\"\n"
                      "       01 TRAILER-REC.\n"
                      "          05 TRL-KIND      PIC X.\n"
                      "          05 TRL-COUNT     PIC 9(5).\n";

class FieldsTest : public WriteTest {
protected:
    void SetUp() override {
        WriteTest::SetUp();
        copybook("cases", kCases);
        long_text_ = "<" + std::string(996, 'x') + "&\"'";
        record_ = std::string("C") + "  AB  " + "A<B" + std::string("\x00\x9F\xFF", 3) + "0000000" +
                  std::string("\xFF\x7F", 2) + std::string("\x00\x12\x34\x5D", 4) + long_text_;
    }
    // The document between the root tags.
    std::string records(const std::vector<std::string>& r) {
        EnvVar none("BXML_CREATE_STYLE", "none");
        std::string doc = document("cases", r);
        std::string head = prologue() + "<cases>\n";
        EXPECT_EQ(doc.substr(0, head.size()), head);
        EXPECT_EQ(doc.substr(doc.size() - 9), "</cases>\n");
        return doc.size() < head.size() + 9 ? doc
                                            : doc.substr(head.size(), doc.size() - head.size() - 9);
    }
    std::string long_text_, record_;
};

TEST_F(FieldsTest, EveryKindOfFieldWithAndWithoutIgnoreEmpty) {
    std::string escaped = "&lt;" + std::string(996, 'x') + "&amp;&quot;&apos;";
    std::string full = " <case_rec>\n"
                       "     <rec_kind>C</rec_kind>\n"
                       "     <text_a>AB</text_a>\n"
                       "     <text_b>A&lt;B</text_b>\n"
                       "     <raw>009FFF</raw>\n"
                       "     <amount>0.00</amount>\n"
                       "     <count_5>32767</count_5>\n"
                       "     <packed>-123.45</packed>\n"
                       "     <long_text>" +
                       escaped +
                       "</long_text>\n"
                       " </case_rec>\n";
    // No record type's condition holds: the first is written, its fields
    // whose condition failed stay empty; the tested field holds its text.
    std::string unknown = "X" + std::string(record_.size() - 1, ' ');
    std::string failed = " <case_rec>\n"
                         "     <rec_kind>X</rec_kind>\n"
                         "     <text_a></text_a>\n"
                         "     <text_b></text_b>\n"
                         "     <raw></raw>\n"
                         "     <amount></amount>\n"
                         "     <count_5></count_5>\n"
                         "     <packed></packed>\n"
                         "     <long_text></long_text>\n"
                         " </case_rec>\n";
    std::string trailer = " <trailer_rec>\n"
                          "     <trl_kind>T</trl_kind>\n"
                          "     <trl_count>42</trl_count>\n"
                          " </trailer_rec>\n";
    // A record shorter than its layout: the fields that end beyond it are
    // left out.
    std::string shorter = record_.substr(0, 20);
    std::string short_element = " <case_rec>\n"
                                "     <rec_kind>C</rec_kind>\n"
                                "     <text_a>AB</text_a>\n"
                                "     <text_b>A&lt;B</text_b>\n"
                                "     <raw>009FFF</raw>\n"
                                "     <amount>0.00</amount>\n"
                                " </case_rec>\n";
    EXPECT_EQ(records({record_, unknown, "T00042", shorter}),
              full + failed + trailer + short_element);

    EnvVar ignore("BXML_IGNORE_EMPTY_DATA", "yes");
    std::string blank_texts = record_;
    blank_texts.replace(1, 9, std::string(9, ' '));
    EXPECT_EQ(records({record_, unknown, blank_texts, "T00000", std::string(6, ' ')}),
              " <case_rec>\n"
              "     <rec_kind>C</rec_kind>\n"
              "     <text_a>AB</text_a>\n"
              "     <text_b>A&lt;B</text_b>\n"
              "     <raw>009FFF</raw>\n"
              "     <count_5>32767</count_5>\n"
              "     <packed>-123.45</packed>\n"
              "     <long_text>" +
                  escaped +
                  "</long_text>\n"
                  " </case_rec>\n"
                  " <case_rec>\n"
                  "     <rec_kind>X</rec_kind>\n"
                  " </case_rec>\n"
                  " <case_rec>\n"
                  "     <rec_kind>C</rec_kind>\n"
                  "     <raw>009FFF</raw>\n"
                  "     <count_5>32767</count_5>\n"
                  "     <packed>-123.45</packed>\n"
                  "     <long_text>" +
                  escaped +
                  "</long_text>\n"
                  " </case_rec>\n"
                  " <trailer_rec>\n"
                  "     <trl_kind>T</trl_kind>\n"
                  " </trailer_rec>\n");
}

TEST_F(FieldsTest, BadBytesRefuseTheRecordAndNameTheField) {
    std::string control = record_;
    control[3] = '\x01';
    std::string bad_utf8 = record_;
    bad_utf8.replace(1, 2, "\xC3\x28");
    std::string japanese = record_;
    japanese.replace(1, 6, "\xE6\x97\xA5\xE6\x9C\xAC"); // 日本
    japanese[8] = '\0';                                 // LOW-VALUES: a blank
    std::string low_number = record_;
    low_number.replace(13, 7, std::string(7, '\0'));

    std::string name = path("cases.xml");
    XmlFile* file = nullptr;
    std::string trace = with_trace(1, [&] {
        EnvVar none("BXML_CREATE_STYLE", "none");
        file = open(name);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(write(file, control), 0);
        EXPECT_EQ(*brelrt_file_error(), BXML_FILE_BAD_XML);
        EXPECT_EQ(write(file, bad_utf8), 0);
        EXPECT_EQ(*brelrt_file_error(), BXML_FILE_BAD_XML);
        EXPECT_EQ(write(file, japanese), 1);
        EXPECT_EQ(*brelrt_file_error(), 0);
        EXPECT_EQ(write(file, low_number), 1);
        EXPECT_EQ(close(file), 0);
    });
    EXPECT_NE(trace.find("field text_a has byte 0x01 at 2, which UTF-8 XML cannot carry\n"
                         "  xml_swrite: write 1 not written"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("field text_a has byte 0xC3 at 0, which UTF-8 XML cannot carry\n"
                         "  xml_swrite: write 2 not written"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("record 2, field amount holds no valid number"), std::string::npos)
        << trace;
    std::string doc = read_file(name);
    size_t records = 0;
    for (size_t at = doc.find("<case_rec>"); at != std::string::npos;
         at = doc.find("<case_rec>", at + 1))
        ++records;
    EXPECT_EQ(records, 2u) << doc;
    EXPECT_NE(doc.find("<text_a>\xE6\x97\xA5\xE6\x9C\xAC</text_a>\n     <text_b>A B</text_b>"),
              std::string::npos);
    EXPECT_NE(doc.find("<amount></amount>\n     <count_5>32767"), std::string::npos);
    EXPECT_EQ(doc.find('\x01'), std::string::npos);
    EXPECT_EQ(run_command("xmllint --noout '" + name + "'"), "");
}

// A text is looked at eight bytes at a time, its last bytes by one word
// ending at its end: an entity or a control byte is found at every place of
// texts of every length around those words.
TEST_F(FieldsTest, EveryByteOfATextIsLookedAtWhereverItLies) {
    const size_t kLongText = 26; // LONG-TEXT's offset
    std::string name = path("cases.xml");
    std::vector<std::string> expected;
    {
        EnvVar none("BXML_CREATE_STYLE", "none");
        XmlFile* file = open(name);
        ASSERT_NE(file, nullptr);
        for (size_t n = 1; n <= 25; ++n)
            for (size_t j = 0; j < n; ++j) {
                std::string text(n, 'x');
                std::string record = record_;
                text[j] = '\x01';
                record.replace(kLongText, 1000, text + std::string(1000 - n, ' '));
                EXPECT_EQ(write(file, record), 0) << n << " " << j;
                text[j] = '<';
                record.replace(kLongText, 1000, text + std::string(1000 - n, ' '));
                EXPECT_EQ(write(file, record), 1) << n << " " << j;
                expected.push_back(text.substr(0, j) + "&lt;" + text.substr(j + 1));
            }
        EXPECT_EQ(close(file), 0);
    }
    std::string doc = read_file(name);
    std::vector<std::string> texts;
    const std::string open_tag = "<long_text>", close_tag = "</long_text>";
    for (size_t at = doc.find(open_tag); at != std::string::npos; at = doc.find(open_tag, at)) {
        at += open_tag.size();
        texts.push_back(doc.substr(at, doc.find(close_tag, at) - at));
    }
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(doc.find('\x01'), std::string::npos);
}

TEST_F(FieldsTest, ShiftJisDocumentsCarryShiftJisText) {
    EnvVar encoding("BXML_ENCODING", "Shift_JIS");
    EnvVar none("BXML_CREATE_STYLE", "none");
    std::string good = record_;
    good.replace(1, 4, "\x93\xFA\x96\x7B"); // 日本: the trail byte 0x7B is in the ASCII range
    std::string bad = record_;
    bad.replace(1, 2, "\x81\x20");
    XmlFile* file = open(path("cases.xml"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(write(file, good), 1);
    EXPECT_EQ(write(file, bad), 0);
    EXPECT_EQ(*brelrt_file_error(), BXML_FILE_BAD_XML);
    EXPECT_EQ(close(file), 0);
    std::string doc = read_file(path("cases.xml"));
    EXPECT_EQ(doc.substr(0, 40), "<?xml version=\"1.0\" encoding=\"Shift_JIS\"");
    EXPECT_NE(doc.find("<text_a>\x93\xFA\x96\x7B</text_a>"), std::string::npos);
    EXPECT_EQ(run_command("xmllint --noout '" + path("cases.xml") + "'"), "");
}

// Record types and variants whose conditions test fields far into the
// record (offset 8000): the first record type tests offset 0, the second
// offset 8000, the third is OTHER; FAR-REC's variants test offset 8000.
const char kFar[] = "      *> WHEN F-TYPE = \"F\"\n"
                    "       01 FAR-REC.\n"
                    "          05 F-TYPE      PIC X.\n"
                    "          05 F-KEY       PIC X(4).\n"
                    "          05 F-BODY      PIC X(6).\n"
                    "      *> WHEN F-KIND = \"N\"\n"
                    "          05 F-NUM REDEFINES F-BODY.\n"
                    "             10 F-AMOUNT PIC 9(6).\n"
                    "      *> WHEN F-KIND = OTHER\n"
                    "          05 F-TXT REDEFINES F-BODY.\n"
                    "             10 F-TEXT   PIC X(6).\n"
                    "          05 FILLER      PIC X(7989).\n"
                    "          05 F-KIND      PIC X.\n"
                    "      *> WHEN L-TYPE = \"L\"\n"
                    "       01 LONG-REC.\n"
                    "          05 L-KEY       PIC X(4).\n"
                    "          05 FILLER      PIC X(7996).\n"
                    "          05 L-TYPE      PIC X.\n"
                    "      *> WHEN S-TYPE = OTHER\n"
                    "       01 SHORT-REC.\n"
                    "          05 S-KEY       PIC X(4).\n"
                    "          05 S-TYPE      PIC X.\n";

// The bytes of a record placed right before a page no one may read: a read
// past its end kills the process.
class GuardedRecord {
public:
    explicit GuardedRecord(const std::string& bytes) {
        size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        size_ = (bytes.size() / page + 2) * page;
        void* m = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE(m, MAP_FAILED);
        base_ = static_cast<unsigned char*>(m);
        mprotect(base_ + size_ - page, page, PROT_NONE);
        data_ = base_ + size_ - page - bytes.size();
        std::memcpy(data_, bytes.data(), bytes.size());
    }
    ~GuardedRecord() { munmap(base_, size_); }
    GuardedRecord(const GuardedRecord&) = delete;
    GuardedRecord& operator=(const GuardedRecord&) = delete;
    const unsigned char* data() const { return data_; }

private:
    unsigned char* base_;
    unsigned char* data_;
    size_t size_;
};

TEST_F(FieldsTest, ShortRecordsAreNeverReadPastTheirLength) {
    copybook("far", kFar);
    auto full = [](char type, const std::string& head, char at_8000) {
        std::string r = std::string(1, type) + head;
        r.resize(8000, ' ');
        return r + at_8000;
    };
    // A condition on a field beyond the record is false, and an OTHER then
    // holds; fields beyond it are left out.
    const std::vector<std::string> records = {
        "FK001ABCDEF",                // FAR-REC; its variant's field beyond: OTHER
        full('F', "K002000042", 'N'), // FAR-REC, variant N
        "XK003",                      // LONG-REC's field beyond: SHORT-REC (OTHER)
        full('Z', "K004", 'L'),       // LONG-REC
        "",                           // nothing at all: SHORT-REC, empty
    };
    std::string name = path("far.xml");
    EnvVar none("BXML_CREATE_STYLE", "NONE");
    XmlFile* file = open(name);
    ASSERT_NE(file, nullptr);
    auto swrite = runtime().slot<BxmlSwriteFn>(BXML_SLOT_SWRITE);
    for (const std::string& r : records) {
        GuardedRecord guarded(r);
        EXPECT_EQ(swrite(file, guarded.data(), static_cast<int>(r.size())), 1);
    }
    EXPECT_EQ(close(file), 0);
    EXPECT_EQ(read_file(name), prologue() + "<far>\n"
                                            " <far_rec>\n"
                                            "     <f_type>F</f_type>\n"
                                            "     <f_key>K001</f_key>\n"
                                            "     <f_txt>\n"
                                            "          <f_text>ABCDEF</f_text>\n"
                                            "     </f_txt>\n"
                                            " </far_rec>\n"
                                            " <far_rec>\n"
                                            "     <f_type>F</f_type>\n"
                                            "     <f_key>K002</f_key>\n"
                                            "     <f_num>\n"
                                            "          <f_amount>42</f_amount>\n"
                                            "     </f_num>\n"
                                            "     <f_kind>N</f_kind>\n"
                                            " </far_rec>\n"
                                            " <short_rec>\n"
                                            "     <s_key>XK00</s_key>\n"
                                            "     <s_type>3</s_type>\n"
                                            " </short_rec>\n"
                                            " <long_rec>\n"
                                            "     <l_key>ZK00</l_key>\n"
                                            "     <l_type>L</l_type>\n"
                                            " </long_rec>\n"
                                            " <short_rec>\n"
                                            " </short_rec>\n"
                                            "</far>\n");
}

// Single-byte code pages expat does not know itself are decoded through
// iconv: what is written in them is read back byte for byte.
TEST_F(OrdersTest, SingleByteCodePagesComeBackByteForByte) {
    const struct {
        const char* encoding;
        std::string ord_no, item1, item2;
    } cases[] = {
        {"windows-1252", "\x80\xE9\x97\x8A\x9F",
         "Fa\xE7"
         "ade",
         "\x93q\x94 \x85"},
        {"ISO-8859-15", "\xA4\xA6\xBD\xBE\xE9", "\xB4\xB8\xA8", "na\xEFve \xA4"},
        {"KOI8-R", "\xF0\xD2\xC9\xD7\xC5", "\xCD\xC9\xD2", "\xE1\xE2 \xFF"},
    };
    for (const auto& c : cases) {
        EnvVar encoding("BXML_ENCODING", c.encoding);
        auto pad = [](std::string s, size_t n) { return s.append(n - s.size(), ' '); };
        std::vector<std::string> records = {
            pad(c.ord_no, 5) + pad(c.item1, 8) + pad(c.item2, 8),
            pad("A1", 5) + pad(c.item2, 8) + pad("", 8),
        };
        std::string doc = document("orders", records);
        EXPECT_EQ(doc.substr(0, 34 + std::strlen(c.encoding)),
                  std::string("<?xml version=\"1.0\" encoding=\"") + c.encoding + "\"?>\n")
            << c.encoding;
        EXPECT_NE(doc.find("<ord_no>" + c.ord_no + "</ord_no>"), std::string::npos) << doc;
        EXPECT_EQ(run_command("xmllint --noout --valid '" + path("orders.xml") + "'"), "")
            << c.encoding;
        EXPECT_EQ(read_back(path("orders.xml"), 21), records) << c.encoding;
    }
}

} // namespace
