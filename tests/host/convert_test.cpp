// Bconvert against the bytes GnuCOBOL itself writes for each usage: the
// bytes of a record written by a real program turn into the expected text,
// and that text turns back into the same bytes.
#include "host_fixture.h"

#include <cstring>
#include <vector>

namespace {

const std::string data_dir = std::string(POINTRA_TEST_DATA) + "/host";

struct Case {
    const char* field;
    const char* move;     // what the program MOVEs
    const char* text;     // what the field reads as
    const char* xml_text; // a text that must give the same bytes ("" = text)
};

const Case cases[] = {
    {"d_unsigned", "123.45", "123.45", ""},
    {"d_trailing", "-123.45", "-123.45", ""},
    {"d_trail_pos", "42", "42", "+42"},
    {"d_leading", "-7", "-7", " -7 "},
    {"d_lead_sep", "-12.5", "-12.5", "12.5-"},
    {"d_trail_sep", "99", "99", "99.0"},
    {"p_signed", "-1234567.89", "-1234567.89", ""},
    {"p_unsigned", "45", "45", "0045"},
    {"p_even", "-123456", "-123456", ""},
    {"b_short", "-2", "-2", ""},
    {"b_byte", "99", "99", ""},
    {"b_long", "-123456789", "-123456789", ""},
    {"b_quad", "1234567890123.45", "1234567890123.45", ""},
    {"n_native", "-300", "-300", ""},
    {"n_unsigned", "9999", "9999", ""},
    {"f_single", "1.5", "1.5", ""},
    {"f_double", "-2.25", "-2.25", "-225E-2"},
    {"d_fraction", "-0.05", "-.05", "-0.05"},
    {"d_zero", "0", "0.00", ""},
    // MOVE drops the digits that do not fit, on either side.
    {"t_trunc", "1234567.891", "34567.89", "1234567.891"},
    {"t_bin", "-123456", "-3456", "-123456"},
};

std::string cobol_name(const char* name) {
    std::string s = name;
    for (char& c : s)
        c = c == '_' ? '-' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

class ConvertTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        layout_ = brelrt_parse_copybook((data_dir + "/convert.xfd").c_str(), "convert");
        ASSERT_NE(layout_, nullptr) << brelrt_xfd_last_error();
    }
    void TearDown() override {
        B4XFDFree(layout_);
        HostTest::TearDown();
    }
    const LayoutItem* item(const char* name) {
        for (int i = 0; i < layout_->item_count; ++i)
            if (std::strcmp(layout_->items[i].name, name) == 0)
                return &layout_->items[i];
        return nullptr;
    }
    // The field as text, through a type 0 destination of the width the
    // plug-in uses: digits + 1, one more with decimals.
    std::string as_text(const LayoutItem& it, unsigned char* record) {
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        FieldDescriptor dst{reinterpret_cast<unsigned char*>(buffer),
                            0,
                            BRELRT_T_NUMTEXT,
                            it.field.digits,
                            it.field.scale,
                            0};
        dst.size = it.field.digits + 1 + (it.field.scale < 0 ? 1 : 0);
        FieldDescriptor src = it.field;
        src.address = record + it.offset;
        int r = Bconvert(&dst, &src, 1);
        if (r != 0)
            return "error " + std::to_string(r);
        EXPECT_EQ(buffer[dst.size], '#') << "wrote past the destination";
        std::string text(buffer, static_cast<size_t>(dst.size));
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
    int from_text(const LayoutItem& it, unsigned char* record, const std::string& text) {
        std::vector<unsigned char> copy(text.begin(), text.end());
        FieldDescriptor src{copy.data(),      static_cast<int32_t>(copy.size()),
                            BRELRT_T_NUMTEXT, static_cast<uint8_t>(copy.size()),
                            it.field.scale,   0};
        FieldDescriptor dst = it.field;
        dst.address = record + it.offset;
        return Bconvert(&dst, &src, 1);
    }

    // A program compiled with cobc `options` MOVEs each case's value into its
    // field of `copybook` and writes the record (`record` is its level 01); each
    // field's bytes must read as the case's text, and the text (and its other
    // spelling) must turn back into the same bytes. The layout is parsed by the
    // binary-size rule in force.
    void expect_gnucobol_bytes(const std::string& copybook, const std::string& record,
                               const std::vector<Case>& cases, const std::string& options = "") {
        RecordLayout* layout = brelrt_parse_copybook((data_dir + "/" + copybook).c_str(), "record");
        ASSERT_NE(layout, nullptr) << brelrt_xfd_last_error();
        auto item = [layout](const char* name) -> const LayoutItem* {
            for (int i = 0; i < layout->item_count; ++i)
                if (std::strcmp(layout->items[i].name, name) == 0)
                    return &layout->items[i];
            return nullptr;
        };
        TempDir dir;
        write_file(dir.file("layout.cpy"), read_file(data_dir + "/" + copybook));
        std::string program = "       IDENTIFICATION DIVISION.\n"
                              "       PROGRAM-ID. WRITER.\n"
                              "       ENVIRONMENT DIVISION.\n"
                              "       INPUT-OUTPUT SECTION.\n"
                              "       FILE-CONTROL.\n"
                              "           SELECT OUT-FILE ASSIGN TO \"record.bin\"\n"
                              "               ORGANIZATION IS SEQUENTIAL.\n"
                              "       DATA DIVISION.\n"
                              "       FILE SECTION.\n"
                              "       FD OUT-FILE.\n"
                              "       01 OUT-REC PIC X(" +
                              std::to_string(layout->record_size) +
                              ").\n"
                              "       WORKING-STORAGE SECTION.\n"
                              "       COPY \"layout.cpy\".\n"
                              "       PROCEDURE DIVISION.\n"
                              "           OPEN OUTPUT OUT-FILE\n"
                              "           MOVE LOW-VALUES TO " +
                              record + "\n";
        for (const Case& c : cases)
            program +=
                "           MOVE " + std::string(c.move) + " TO " + cobol_name(c.field) + "\n";
        program += "           WRITE OUT-REC FROM " + record +
                   "\n"
                   "           CLOSE OUT-FILE\n"
                   "           STOP RUN.\n";
        run_cobol(dir, program, false, options);
        std::string bytes = read_file(dir.file("record.bin"));
        ASSERT_EQ(bytes.size(), static_cast<size_t>(layout->record_size));
        std::vector<unsigned char> cobol(bytes.begin(), bytes.end());

        for (const Case& c : cases) {
            SCOPED_TRACE(c.field);
            const LayoutItem* it = item(c.field);
            ASSERT_NE(it, nullptr);
            EXPECT_EQ(as_text(*it, cobol.data()), c.text);
            for (std::string text : {std::string(c.text), std::string(c.xml_text)}) {
                if (text.empty())
                    continue;
                std::vector<unsigned char> ours(cobol.size(), 0xEE);
                ASSERT_EQ(from_text(*it, ours.data(), text), 0) << text;
                EXPECT_EQ(std::memcmp(ours.data() + it->offset, cobol.data() + it->offset,
                                      static_cast<size_t>(it->field.size)),
                          0)
                    << "from \"" << text << "\"";
                EXPECT_EQ(ours[static_cast<size_t>(it->offset + it->field.size) % ours.size()],
                          0xEE)
                    << "wrote past the field";
            }
        }
        B4XFDFree(layout);
    }

    RecordLayout* layout_ = nullptr;
};

TEST_F(ConvertTest, EveryUsageMatchesTheBytesGnuCobolWrites) {
    expect_gnucobol_bytes("convert.xfd", "CONV-REC", {std::begin(cases), std::end(cases)});
}

// Binary fields of every size from 1 to 8 bytes, big-endian (COMP) and
// native (COMP-5), signed and not, at the ends of their pictures, as cobc
// stores them under -std=mf (1--8) and -fbinary-size=2-4-8.
TEST_F(ConvertTest, BinaryFieldsOfEverySizeMatchGnuCobol) {
    std::vector<Case> binary = {
        {"t_count", "3", "3", ""},
        {"b_one", "7", "7", ""},
        {"b_two", "-99", "-99", ""},
        {"b_five", "99999", "99999", ""},
        {"b_six", "-999999", "-999999", ""},
        {"b_seven", "9999999", "9999999", ""},
        {"b_dec", "-1234567.89", "-1234567.89", ""},
        {"b_eleven", "-99999999999", "-99999999999", ""},
        {"b_twelve", "999999999999", "999999999999", ""},
        {"b_fourteen", "-12345678901234", "-12345678901234", ""},
        {"b_sixteen", "9999999999999999", "9999999999999999", ""},
        {"b_eighteen", "-999999999999999999", "-999999999999999999", ""},
        {"n_one", "-9", "-9", ""},
        {"n_four", "9999", "9999", ""},
        {"n_six", "-999999", "-999999", ""},
        {"n_ten", "9876543210", "9876543210", ""},
        {"g_two", "99", "99", ""},
        {"g_seven", "-7654321", "-7654321", ""},
    };
    ASSERT_EQ(brelrt_set_binary_size("1--8"), 1);
    expect_gnucobol_bytes("binary.xfd", "BIN-REC", binary, "-std=mf");
    // Digits beyond the picture are lost from COMP as MOVE loses them (-std=mf
    // keeps them: it also sets -fnotrunc, which the host does not follow).
    binary.push_back({"b_three", "-12345", "-345", "-12345"});
    ASSERT_EQ(brelrt_set_binary_size("2-4-8"), 1);
    expect_gnucobol_bytes("binary.xfd", "BIN-REC", binary, "-fbinary-size=2-4-8");
    brelrt_set_binary_size("1-2-4-8");
}

TEST_F(ConvertTest, InvalidTextIsRefusedAndLeavesTheField) {
    const LayoutItem* it = item("d_trailing");
    unsigned char record[256];
    std::memset(record, 'k', sizeof record);
    for (const char* bad : {"12a", "1.2.3", "--1", "-", ".", "1e", "1,5", "0x10", "1 2"}) {
        EXPECT_EQ(from_text(*it, record, bad), -1) << bad;
        EXPECT_EQ(record[it->offset], 'k') << bad;
    }
    // Blank text is zero.
    EXPECT_EQ(from_text(*it, record, "   "), 0);
    EXPECT_EQ(as_text(*it, record), "0.00");
}

// Leading zeros cost nothing however many; more significant digits than a
// record ever holds are refused like any other bad text.
TEST_F(ConvertTest, LongTextsBeyondAnyFieldAreRefused) {
    const LayoutItem* it = item("d_trailing");
    unsigned char record[256];
    std::memset(record, 'k', sizeof record);
    ASSERT_EQ(from_text(*it, record, std::string(3000, '0') + "12.5" + std::string(3000, '0')), 0);
    EXPECT_EQ(as_text(*it, record), "12.50");
    std::memset(record, 'k', sizeof record);
    EXPECT_EQ(from_text(*it, record, std::string(513, '7')), -1);
    EXPECT_EQ(record[it->offset], 'k');
    ASSERT_EQ(from_text(*it, record, "-" + std::string(512, '7')), 0);
    EXPECT_EQ(as_text(*it, record), "-77777.00");
}

TEST_F(ConvertTest, CorruptStoredBytesAreAnErrorNotGarbage) {
    unsigned char record[256];
    std::memset(record, 0, sizeof record);
    const LayoutItem* packed = item("p_signed");
    std::memset(record + packed->offset, 0xAB, static_cast<size_t>(packed->field.size));
    EXPECT_EQ(as_text(*packed, record), "error -1");
    const LayoutItem* display = item("d_unsigned");
    std::memcpy(record + display->offset, "12x4567", 7);
    EXPECT_EQ(as_text(*display, record), "error -1");
    // A record area still blank reads as zero.
    std::memset(record + display->offset, ' ', 7);
    EXPECT_EQ(as_text(*display, record), "0.00");
}

TEST_F(ConvertTest, ProgramDecimalCommaIsWrittenAndBothPointsRead) {
    EnvVar comma("BRELRT_DECIMAL_POINT", ",");
    const LayoutItem* it = item("p_signed");
    unsigned char record[256] = {};
    ASSERT_EQ(from_text(*it, record, "-12,5"), 0);
    EXPECT_EQ(as_text(*it, record), "-12,50");
    ASSERT_EQ(from_text(*it, record, "7.25"), 0);
    EXPECT_EQ(as_text(*it, record), "7,25");
}

TEST_F(ConvertTest, ExtremesOfBinaryAndFloat) {
    unsigned char record[256] = {};
    const LayoutItem* quad = item("b_quad");
    ASSERT_EQ(from_text(*quad, record, "-999999999999999.99"), 0);
    EXPECT_EQ(as_text(*quad, record), "-999999999999999.99");
    const LayoutItem* dbl = item("f_double");
    ASSERT_EQ(from_text(*dbl, record, "1.5E+200"), 0);
    EXPECT_EQ(as_text(*dbl, record), "1.5E+200");
    const LayoutItem* single = item("f_single");
    ASSERT_EQ(from_text(*single, record, "-20000000"), 0);
    EXPECT_EQ(as_text(*single, record), "-20000000");
    // Between two stored forms directly.
    FieldDescriptor src = item("p_signed")->field, dst = item("d_lead_sep")->field;
    unsigned char packed[5] = {0x00, 0x01, 0x23, 0x45, 0x6D}; // -1234.56
    unsigned char display[5];
    src.address = packed;
    dst.address = display;
    ASSERT_EQ(Bconvert(&dst, &src, 1), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(display), 5), "-2345"); // S9(3)V9: -234.5
}

// COMP-5 holds what its bytes hold, as GnuCOBOL keeps it: MOVE 32767 to
// S9(4) COMP-5 stays 32767, MOVE 70000 gives 4464; COMP keeps its picture.
TEST_F(ConvertTest, Comp5HoldsItsWholeBinaryRange) {
    auto store = [](int16_t type, const char* text) {
        unsigned char bytes[2] = {};
        FieldDescriptor dst{bytes, 2, type, 4, 0, 0};
        FieldDescriptor src{reinterpret_cast<unsigned char*>(const_cast<char*>(text)),
                            static_cast<int32_t>(std::strlen(text)),
                            BRELRT_T_NUMTEXT,
                            6,
                            0,
                            0};
        EXPECT_EQ(Bconvert(&dst, &src, 1), 0);
        int16_t v;
        std::memcpy(&v, bytes, 2);
        return type == BRELRT_T_NATIVE ? v : static_cast<int16_t>(bytes[0] << 8 | bytes[1]);
    };
    EXPECT_EQ(store(BRELRT_T_NATIVE, "32767"), 32767);
    EXPECT_EQ(store(BRELRT_T_NATIVE, "70000"), 4464);
    EXPECT_EQ(store(BRELRT_T_NATIVE, "-32768"), -32768);
    EXPECT_EQ(store(BRELRT_T_BINARY, "32767"), 2767);
    // And back to text: every digit, even past the picture's four.
    int16_t value = 32767;
    char text[8];
    std::memset(text, '#', sizeof text);
    FieldDescriptor src{reinterpret_cast<unsigned char*>(&value), 2, BRELRT_T_NATIVE, 4, 0, 0};
    FieldDescriptor dst{reinterpret_cast<unsigned char*>(text), 6, BRELRT_T_NUMTEXT, 4, 0, 0};
    EXPECT_EQ(Bconvert(&dst, &src, 1), 0);
    EXPECT_EQ(std::string(text, 6), "32767 ");
    dst.size = 4; // too short for the value: refused, the text left as it was
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(Bconvert(&dst, &src, 1), -2);
    EXPECT_EQ(std::string(text, 4), "####");
}

} // namespace
