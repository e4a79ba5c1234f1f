// brelrt_edit_number against the bytes GnuCOBOL's MOVE writes into
// numeric-edited fields, one program per decimal point with every picture
// and value; brelrt_deedit_number reading those fields back, and texts
// written by hand.
#include "host/brelrt_edit.h"
#include "host_fixture.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <vector>

namespace {

struct Pic {
    const char* picture;
    bool blank_when_zero;
};

const std::vector<Pic> point_pictures = {
    {"ZZ,ZZ9.99-", false}, {"ZZ,ZZ9.99-", true},    {"Z(5)9.99", false},
    {"Z(5)9.99", true},    {"$$$,$$9.99CR", false}, {"$$$,$$9.99CR", true},
    {"***,**9.99", false}, {"+ZZZ9", false},        {"+ZZZ9", true},
    {"----9.99", false},   {"++++9", false},        {"9(3).99DB", false},
    {"99/99/99", false},   {"999B999", false},      {"9990", false},
    {"ZZZ.ZZ", false},     {"ZZZ.ZZ", true},        {"$**,**9.99", false},
    {"Z(4)9V99", false},   {"-ZZ9.99", false},      {"ZZ9.99+", true},
    {"+9.99", false},      {"9.99-", false},        {"$ZZ9.99", false},
    {"$$$.99", false},     {"$$$$.$$", false},      {"+++.++", false},
    {"---.--", false},     {"$$,$$$", false},       {"ZZZ", false},
    {"***", false},        {"*,***.**", false},     {"$---,--9.99", false},
    {"$+++9.99", false},   {"ZZ/ZZ/Z9", false},     {"**B**9", false},
    {"$$0$$9", false},     {"ZZ.Z/ZZ", false},      {"***.*B*", false},
    {"**.**CR", false},    {"ZZ.ZZ-", false},       {"ZZZ-", true},
    {"999.999", false},    {"9(5)V99CR", false},    {"$$$,$$$,$$9.99-", false},
    {"+(6)9.99", false},   {"ZZ,ZZ,Z9", false},     {"B9(4)", false},
    {"0ZZ9", false},       {"Z(10)9.9(4)", false},  {"$$$,999", false},
    {"---", false},        {".99", false},          {"+.99", false},
    {"ZZ9V", false},       {"$$$$CR", false},       {"9.99BDB", true},
};

const std::vector<Pic> comma_pictures = {
    {"ZZ.ZZ9,99-", false}, {"ZZ.ZZ9,99-", true},  {"$$$.$$9,99CR", false}, {"***.**9,99", false},
    {"ZZZ,ZZ", false},     {"ZZZ,ZZ", true},      {"Z(4)9V99", false},     {"999.999", false},
    {"$$$$,$$", false},    {"---,--", false},     {"+ZZZ.ZZ9,99", true},   {"9(3),99DB", false},
    {"99/99/99", false},   {"**.***,**+", false},
};

const std::vector<std::string> values = {
    "0",
    "1",
    "-1",
    "0.05",
    "-0.05",
    "12.5",
    "-12.5",
    "1234.56",
    "-99999.99",
    "123456789.123",
    "0.001",
    "-0.001",
    "0.0001",
    "0.5",
    "-0.5",
    "100",
    "-100",
    "1000",
    "-1000",
    "9.99",
    "-9.999",
    "12345",
    "-12345.678",
    "100000",
    "-0.01",
    "42",
    "100.005",
    "1000000.001",
    "0.000000000001",
    "-123456789012345678.9",
    "99999999999999999999.999999999999",
    "-7",
};

// The digit positions of a picture as GnuCOBOL fills them: whole and
// decimal places each symbol of 9 Z * $ + - takes, less the first symbol
// when it is a sign or currency sign, and less a trailing sign.
struct Capacity {
    int whole = 0;
    int decimals = 0;
};

Capacity capacity(const std::string& picture, bool decimal_comma) {
    std::string expanded;
    for (size_t i = 0; i < picture.size(); ++i) {
        if (picture[i] == '(') {
            size_t close = picture.find(')', i);
            expanded.append(std::stoul(picture.substr(i + 1, close - i - 1)) - 1, expanded.back());
            i = close;
        } else {
            expanded += picture[i];
        }
    }
    Capacity c;
    bool point = false;
    for (size_t i = 0; i < expanded.size(); ++i) {
        char s = expanded[i];
        bool trailing =
            i + 1 == expanded.size() && (s == '+' || s == '-') && expanded.find_first_of("9Z*") < i;
        if (s == 'V' || s == (decimal_comma ? ',' : '.'))
            point = true;
        else if (std::strchr("9Z*$+-", s) && !trailing && !(i == 0 && std::strchr("$+-", s)))
            ++(point ? c.decimals : c.whole);
    }
    return c;
}

// The lost bits the value gives: digits that are not zero beyond the
// picture's, and a negative value that the field shows without a sign.
int expected_lost(const std::string& value, const Capacity& c, const std::string& field) {
    bool negative = value[0] == '-';
    std::string digits = negative ? value.substr(1) : value;
    size_t point = std::min(digits.find('.'), digits.size());
    std::string whole = digits.substr(0, point);
    std::string fraction = point < digits.size() ? digits.substr(point + 1) : "";
    int lost = 0;
    if (whole.size() > static_cast<size_t>(c.whole) &&
        whole.substr(0, whole.size() - c.whole).find_first_not_of('0') != std::string::npos)
        lost |= BRELRT_EDIT_LOST_HIGH;
    if (fraction.size() > static_cast<size_t>(c.decimals) &&
        fraction.substr(c.decimals).find_first_not_of('0') != std::string::npos)
        lost |= BRELRT_EDIT_LOST_LOW;
    bool zero = (whole + fraction).find_first_not_of('0') == std::string::npos;
    bool shown = field.find_first_of('-') != std::string::npos ||
                 field.find("CR") != std::string::npos || field.find("DB") != std::string::npos;
    if (negative && !zero && !shown)
        lost |= BRELRT_EDIT_LOST_SIGN;
    return lost;
}

std::string edit(const Pic& p, bool decimal_comma, const std::string& number, size_t size,
                 int* lost = nullptr) {
    std::string field(size, '#');
    int r = brelrt_edit_number(p.picture, p.blank_when_zero, decimal_comma, number.data(),
                               number.size(), reinterpret_cast<unsigned char*>(&field[0]),
                               field.size(), lost);
    return r == 0 ? field : "error " + std::to_string(r);
}

std::string deedit(const char* picture, bool decimal_comma, const std::string& text, size_t size) {
    char out[128];
    int r = brelrt_deedit_number(picture, decimal_comma, text.data(), text.size(), size, out,
                                 sizeof out);
    return r == 0 ? std::string(out) : "error " + std::to_string(r);
}

std::string strip(const std::string& s) {
    size_t first = s.find_first_not_of(' ');
    return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(' ') - first + 1);
}

class EditTest : public HostTest {
protected:
    // One program MOVEs every value to every picture and DISPLAYs each field
    // between brackets; each line must be our edit, with the lost bits the
    // value gives, and the field must read back to a value that edits to
    // the same bytes.
    void expect_gnucobol_fields(const std::vector<Pic>& pictures, bool decimal_comma) {
        std::ostringstream program;
        program << "IDENTIFICATION DIVISION.\nPROGRAM-ID. EDITS.\n";
        if (decimal_comma)
            program << "ENVIRONMENT DIVISION.\nCONFIGURATION SECTION.\n"
                       "SPECIAL-NAMES. DECIMAL-POINT IS COMMA.\n";
        program << "DATA DIVISION.\nWORKING-STORAGE SECTION.\n01 V PIC S9(24)V9(12).\n";
        for (size_t k = 0; k < pictures.size(); ++k)
            program << "01 E" << k << " PIC " << pictures[k].picture
                    << (pictures[k].blank_when_zero ? " BLANK WHEN ZERO" : "") << ".\n";
        program << "PROCEDURE DIVISION.\n";
        for (std::string v : values) {
            if (decimal_comma)
                std::replace(v.begin(), v.end(), '.', ',');
            program << "MOVE " << v << " TO V\nPERFORM SHOW\n";
        }
        program << "STOP RUN.\nSHOW.\n";
        for (size_t k = 0; k < pictures.size(); ++k)
            program << "MOVE V TO E" << k << "\nDISPLAY \"[\" E" << k << " \"]\"\n";
        program << ".\n";
        TempDir dir;
        std::istringstream output(run_cobol(dir, program.str(), true));

        for (const std::string& value : values) {
            for (const Pic& p : pictures) {
                SCOPED_TRACE(std::string(p.picture) + (p.blank_when_zero ? " BWZ" : "") + " <- " +
                             value);
                std::string line;
                ASSERT_TRUE(std::getline(output, line));
                ASSERT_GE(line.size(), 2u);
                std::string cobol = line.substr(1, line.size() - 2);
                int lost = -1;
                std::string ours = edit(p, decimal_comma, value, cobol.size(), &lost);
                EXPECT_EQ(ours, cobol);
                if (ours != cobol)
                    continue;
                EXPECT_EQ(lost, expected_lost(value, capacity(p.picture, decimal_comma), cobol));

                std::string text = strip(cobol);
                std::string number = deedit(p.picture, decimal_comma, text, cobol.size());
                if (text.empty())
                    EXPECT_EQ(number, "0");
                else
                    EXPECT_EQ(edit(p, decimal_comma, number, cobol.size()), cobol)
                        << "read back as " << number;
            }
        }
    }
};

TEST_F(EditTest, FieldsMatchGnuCobolAndReadBack) {
    expect_gnucobol_fields(point_pictures, false);
}

TEST_F(EditTest, FieldsMatchGnuCobolWithDecimalComma) {
    expect_gnucobol_fields(comma_pictures, true);
}

TEST_F(EditTest, ReadsTextsWrittenByHand) {
    struct Case {
        const char* picture;
        size_t size;
        bool decimal_comma;
        const char* text;
        const char* number;
    };
    const Case cases[] = {
        {"ZZ,ZZ9.99-", 10, false, "12.50-", "-12.50"},
        {"ZZ,ZZ9.99-", 10, false, "    12.50-", "-12.50"},
        {"ZZ,ZZ9.99-", 10, false, "1,234.56", "1234.56"},
        {"ZZ,ZZ9.99-", 10, false, " -3 ", "-3"},
        {"ZZ,ZZ9.99-", 10, false, "12CR", "-12"},
        {"ZZ,ZZ9.99-", 10, false, "+0012", "12"},
        {"ZZ,ZZ9.99-", 10, false, ".5", "0.5"},
        {"ZZ,ZZ9.99-", 10, false, "", "0"},
        {"9.99CR", 6, false, "1.00", "1.00"},
        {"9.99CR", 6, false, "1.00CR", "-1.00"},
        {"9990", 4, false, "0120", "12"},
        {"ZZ90", 4, false, "0120", "12"},
        {"99/99/99", 8, false, "12/31/99", "123199"},
        {"999B999", 7, false, "123 456", "123456"},
        {"$$$,$$9.99", 10, false, "$1,234.56", "1234.56"},
        {"$$$,$$9.99", 10, false, "$ 1234.5", "1234.5"},
        {"ZZ.ZZ9,99-", 10, true, "1.234,56-", "-1234.56"},
        {"ZZ.ZZ9,99-", 10, true, "1.234,5", "1234.5"},
        // Fields only a digit nobody sees gives read with that digit.
        {"+ZZ9.99", 7, false, "+000.00", "1000.00"},
        {"ZZ9.99-", 7, false, "0.00", "0.001"},
        {"ZZZ-", 4, false, "-", "-0.1"},
        {"ZZ,ZZ9.99-", 10, false, "abc", "error -1"},
        {"ZZ,ZZ9.99-", 10, false, "1.2.3", "error -1"},
        {"ZZ,ZZ9.99-", 10, false, "--12", "error -1"},
        {"ZZ,ZZ9.99-", 10, false, "12-CR", "error -1"},
        {"ZZ,ZZ9.99-", 10, false, ",12", "error -1"},
        {"9(3)", 3, false, "$12", "error -1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.picture) + " \"" + c.text + "\"");
        EXPECT_EQ(deedit(c.picture, c.decimal_comma, c.text, c.size), c.number);
    }
    char small[4] = "xx";
    EXPECT_EQ(brelrt_deedit_number("9(6)", 0, "123456", 6, 6, small, sizeof small), -2);
    EXPECT_STREQ(small, "");
}

// Pictures cobc refuses or edits wrongly, sizes that are not the
// picture's, and numbers that are not numeric text leave the field alone.
TEST_F(EditTest, RefusesWhatItCannotTake) {
    struct Case {
        const char* picture;
        bool blank_when_zero;
        const char* number;
        size_t size;
        int result;
    };
    const Case cases[] = {
        {"9P9", false, "1", 3, -2},        {"S9(3)", false, "1", 3, -2},
        {"+$ZZ9.99", false, "1", 8, -2},   {"-$$$9.99", false, "1", 8, -2},
        {"99.99$", false, "1", 6, -2},     {"ZZ9.ZZ", false, "1", 6, -2},
        {"9Z", false, "1", 2, -2},         {"Z*", false, "1", 2, -2},
        {"+ZZ9-", false, "1", 5, -2},      {"9.99CR-", false, "1", 7, -2},
        {"$$ZZ", false, "1", 4, -2},       {"$-99", false, "1", 4, -2},
        {"9.9.9", false, "1", 5, -2},      {"CR", false, "1", 2, -2},
        {"BB", false, "1", 2, -2},         {"9(0)", false, "1", 0, -2},
        {"9(3", false, "1", 3, -2},        {"9(257)", false, "1", 257, -2},
        {"***.**", true, "1", 6, -2},      {"ZZ9.99", false, "1", 7, -2},
        {"ZZ9.99", false, "1.2.3", 6, -1}, {"ZZ9.99", false, "", 6, -1},
        {"ZZ9.99", false, "- 1", 6, -1},   {"ZZ9.99", false, "1e3", 6, -1},
        {"Z(256)", false, "1", 256, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.picture);
        std::vector<unsigned char> field(c.size + 1, '#');
        EXPECT_EQ(brelrt_edit_number(c.picture, c.blank_when_zero, 0, c.number,
                                     std::strlen(c.number), field.data(), c.size, nullptr),
                  c.result);
        if (c.result != 0) {
            EXPECT_EQ(std::string(field.begin(), field.end()), std::string(c.size + 1, '#'));
        }
        EXPECT_EQ(field[c.size], '#');
    }
    char out[8];
    EXPECT_EQ(brelrt_deedit_number("+$ZZ9.99", 0, "1", 1, 8, out, sizeof out), -2);
    EXPECT_EQ(brelrt_deedit_number("ZZ9.99", 0, "1", 1, 5, out, sizeof out), -2);
}

} // namespace
