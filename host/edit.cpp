// Numeric-edited fields: a number edited into a PICTURE as GnuCOBOL 3.1's
// MOVE edits it, and the number an edited text stands for. Everything works
// in fixed buffers: nothing allocates, nothing throws.
#include "brelrt_edit.h"

#include <cstring>

namespace {

constexpr size_t kMaxPositions = BRELRT_EDIT_POSITIONS_MAX;

enum Result { OK = 0, INVALID = -1, UNSUPPORTED = -2 };

// What a position of the field does. The kinds from DIGIT to TRAIL_SIGN
// take a digit of the value each, from left to right; GnuCOBOL lines them
// up so that the last one before the decimal point takes the units.
enum Kind : unsigned char {
    DIGIT,      // 9
    SUPPRESS,   // Z or *
    FLOATING,   // a symbol of a floating $, + or - string
    LEAD_SIGN,  // a fixed + or - at the left
    CURRENCY,   // a fixed $ at the left
    TRAIL_SIGN, // a fixed + or - at the right
    CREDIT,     // one of the two positions of CR or DB
    POINT,      // the decimal point
    INSERT,     // B, 0, / or the separator
};

struct Position {
    Kind kind;
    char symbol;       // Z/*; $, + or -; C or D (CREDIT); the byte written (INSERT)
    bool after_point;  // right of the decimal point (or V)
    bool suppressible; // INSERT: B or the separator, which zero suppression replaces
    bool second;       // CREDIT: the R or B
};

struct Picture {
    Position at[kMaxPositions];
    size_t size = 0;
    int whole = 0;             // digit-taking positions before the point, trailing sign aside
    int decimals = 0;          // digit-taking positions after the point, trailing sign aside
    char point = '.';          // the decimal point in the field
    char pad = ' ';            // what zero suppression leaves: '*' with *, else blank
    char floating = 0;         // the symbol of the floating string, if any
    char sign = 0;             // +, - or C/D when the picture has a sign
    bool currency = false;     // a $ anywhere
    bool hidden_first = false; // at[0] takes a digit it never shows
    bool trailing = false;     // a trailing sign, which takes the digit below the last

    bool takes_digit(size_t i) const { return at[i].kind <= TRAIL_SIGN; }
};

bool is_digit(unsigned char c) {
    return c >= '0' && c <= '9';
}

bool is_insertion(char c) {
    return c == 'B' || c == '0' || c == '/' || c == ',';
}

unsigned char upper(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// The picture's symbols one by one, repeat counts expanded: "CR" and "DB"
// become 'C' and 'D', the decimal point '.' and the separator ',' whatever
// the program's decimal point is. False for anything else.
bool expand(const char* text, bool decimal_comma, char* symbols, size_t& count) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    size_t positions = 0;
    count = 0;
    while (*p) {
        unsigned char c = upper(*p++);
        if (c == 'C' || c == 'D') {
            if (upper(*p) != (c == 'C' ? 'R' : 'B'))
                return false;
            ++p;
            if (*p == '(')
                return false;
            if ((positions += 2) > kMaxPositions)
                return false;
            symbols[count++] = static_cast<char>(c);
            continue;
        }
        if (!std::strchr("9Z*$+-B0/V.,", c))
            return false;
        if (c == '.' || c == ',')
            c = (c == ',') == decimal_comma ? '.' : ',';
        size_t repeat = 1;
        if (*p == '(') {
            repeat = 0;
            for (++p; is_digit(*p); ++p) {
                repeat = repeat * 10 + (*p - '0');
                if (repeat > kMaxPositions)
                    return false;
            }
            if (*p++ != ')' || repeat == 0)
                return false;
        }
        if (c != 'V' && (positions += repeat) > kMaxPositions)
            return false;
        if (count + repeat > 2 * kMaxPositions)
            return false;
        for (; repeat; --repeat)
            symbols[count++] = static_cast<char>(c);
    }
    return true;
}

// The next symbol after i that is not an insertion character; 0 at the end.
char next_symbol(const char* symbols, size_t count, size_t i) {
    for (++i; i < count; ++i)
        if (!is_insertion(symbols[i]))
            return symbols[i];
    return 0;
}

// Reads a picture and checks that its symbols stand where they may.
Result parse_picture(const char* text, bool decimal_comma, Picture& pic) {
    if (!text)
        return UNSUPPORTED;
    char symbols[2 * kMaxPositions];
    size_t count = 0;
    if (!expand(text, decimal_comma, symbols, count))
        return UNSUPPORTED;
    pic.point = decimal_comma ? ',' : '.';
    const char separator = decimal_comma ? '.' : ',';
    bool point = false, nine = false, after_point_suppress = false, after_point_floating = false;
    bool floating_open = false, ended = false;
    char suppress = 0;
    auto add = [&](Kind kind, char symbol) {
        Position& p = pic.at[pic.size++];
        p = Position{kind, symbol, point, false, false};
        if (kind < TRAIL_SIGN)
            ++(point ? pic.decimals : pic.whole);
        return &p;
    };
    for (size_t i = 0; i < count; ++i) {
        char c = symbols[i];
        if (ended)
            return UNSUPPORTED; // nothing follows CR, DB or a trailing sign
        switch (c) {
        case '9':
            if (point && (after_point_suppress || after_point_floating))
                return UNSUPPORTED;
            nine = true;
            floating_open = false;
            add(DIGIT, c);
            break;
        case 'Z':
        case '*':
            // Z and * stand left of any 9 or floating string, and right of
            // the point only when every digit position is Z or *.
            if ((suppress && suppress != c) || nine || pic.floating)
                return UNSUPPORTED;
            suppress = c;
            after_point_suppress = point;
            add(SUPPRESS, c);
            break;
        case '$':
            if (i == 0) {
                pic.currency = true;
                if (next_symbol(symbols, count, 0) == '$') {
                    pic.floating = '$';
                    floating_open = true;
                    add(FLOATING, c);
                } else {
                    add(CURRENCY, c);
                }
            } else if (pic.floating == '$' && floating_open) {
                after_point_floating = point;
                add(FLOATING, c);
            } else {
                return UNSUPPORTED; // a currency sign at the right or after a sign
            }
            break;
        case '+':
        case '-':
            if (i == 0 || (i == 1 && pic.size == 1 && pic.at[0].kind == CURRENCY)) {
                if (next_symbol(symbols, count, i) == c) {
                    pic.floating = c;
                    floating_open = true;
                    add(FLOATING, c);
                } else if (i == 0) {
                    add(LEAD_SIGN, c);
                } else {
                    return UNSUPPORTED; // "$-99": one sign after the currency sign
                }
                pic.sign = c;
            } else if (pic.floating == c && floating_open) {
                after_point_floating = point;
                add(FLOATING, c);
            } else if (i + 1 == count && !pic.sign && (nine || suppress)) {
                pic.sign = c;
                pic.trailing = true;
                ended = true;
                add(TRAIL_SIGN, c);
            } else {
                return UNSUPPORTED;
            }
            break;
        case 'C':
        case 'D':
            // cobc takes no CR or DB after a floating string right of the point.
            if (i + 1 != count || pic.sign || after_point_floating)
                return UNSUPPORTED;
            pic.sign = c;
            ended = true;
            add(CREDIT, c);
            add(CREDIT, c)->second = true;
            break;
        case '.':
        case 'V':
            if (point)
                return UNSUPPORTED;
            if (c == '.')
                add(POINT, pic.point);
            point = true;
            break;
        default: // B, 0, / and the separator
            add(INSERT, c == 'B'   ? ' '
                        : c == ',' ? separator
                                   : c)
                ->suppressible = c == 'B' || c == ',';
            break;
        }
    }
    if (!nine && !suppress && !pic.floating)
        return UNSUPPORTED; // no digit position
    if (pic.at[0].kind == FLOATING || pic.at[0].kind == LEAD_SIGN || pic.at[0].kind == CURRENCY)
        pic.hidden_first = true;
    if (suppress == '*')
        pic.pad = '*';
    return OK;
}

// Numeric text: blanks, an optional sign, digits with one "." decimal point,
// blanks. Read in place.
struct Number {
    bool negative = false;
    bool zero = true;
    const char* whole = nullptr;
    size_t whole_length = 0;
    const char* fraction = nullptr;
    size_t fraction_length = 0;

    // The digit at 10^place.
    int digit(long place) const {
        if (place >= 0) {
            auto k = static_cast<size_t>(place);
            return k < whole_length ? whole[whole_length - 1 - k] - '0' : 0;
        }
        auto k = static_cast<size_t>(-place - 1);
        return k < fraction_length ? fraction[k] - '0' : 0;
    }
};

bool parse_number(const char* text, size_t length, Number& n) {
    if (!text)
        return false;
    const void* nul = std::memchr(text, '\0', length);
    size_t end = nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length;
    size_t i = 0;
    while (i < end && text[i] == ' ')
        ++i;
    if (i < end && (text[i] == '+' || text[i] == '-'))
        n.negative = text[i++] == '-';
    n.whole = text + i;
    while (i < end && is_digit(text[i]))
        ++i;
    n.whole_length = static_cast<size_t>(text + i - n.whole);
    n.fraction = text + i;
    if (i < end && text[i] == '.') {
        n.fraction = text + ++i;
        while (i < end && is_digit(text[i]))
            ++i;
        n.fraction_length = static_cast<size_t>(text + i - n.fraction);
    }
    while (i < end && text[i] == ' ')
        ++i;
    if (i != end || n.whole_length + n.fraction_length == 0)
        return false;
    for (size_t k = 0; k < n.whole_length; ++k)
        n.zero = n.zero && n.whole[k] == '0';
    for (size_t k = 0; k < n.fraction_length; ++k)
        n.zero = n.zero && n.fraction[k] == '0';
    return true;
}

struct Edited {
    bool zero = true;        // every digit the picture took was zero
    bool sign_shown = false; // the field shows the value negative
};

// The edit itself, as GnuCOBOL does it: each digit-taking position takes the
// next digit; zero suppression lasts until a digit that is not zero or a 9;
// the fixed and floating symbols are put in at the end.
Edited edit(const Picture& pic, bool blank_when_zero, const Number& n, unsigned char* out) {
    const bool negative = n.negative && !n.zero;
    Edited result;
    bool suppress = true;
    long place = pic.whole - 1;
    long floating_at = -1; // the rightmost place zero suppression left for the floating symbol
    for (size_t i = 0; i < pic.size; ++i) {
        const Position& p = pic.at[i];
        int x = 0;
        if (pic.takes_digit(i)) {
            x = n.digit(place--);
            if (x) {
                result.zero = false;
                suppress = false;
            }
        }
        auto digit = static_cast<unsigned char>('0' + x);
        unsigned char c = 0;
        switch (p.kind) {
        case DIGIT:
            suppress = false;
            c = digit;
            break;
        case SUPPRESS:
            c = suppress && !p.after_point ? static_cast<unsigned char>(pic.pad) : digit;
            break;
        case FLOATING:
        case LEAD_SIGN:
        case CURRENCY:
            // The first position never shows its digit: the symbol goes there.
            if (i == 0 || (suppress && !p.after_point)) {
                c = static_cast<unsigned char>(pic.pad);
                if (p.kind == FLOATING)
                    floating_at = static_cast<long>(i);
            } else {
                c = digit;
            }
            break;
        case TRAIL_SIGN:
            c = negative && !result.zero ? '-' : p.symbol == '+' ? '+' : ' ';
            break;
        case CREDIT:
            if (negative && !result.zero)
                c = p.second ? (p.symbol == 'C' ? 'R' : 'B') : p.symbol;
            else
                c = ' ';
            break;
        case POINT:
            c = static_cast<unsigned char>(pic.point);
            break;
        case INSERT:
            if (p.suppressible && suppress) {
                // Right of the point what zero suppression reaches is "0".
                c = p.after_point ? '0' : static_cast<unsigned char>(pic.pad);
                if (!p.after_point && pic.floating)
                    floating_at = static_cast<long>(i);
            } else {
                c = static_cast<unsigned char>(p.symbol);
            }
            break;
        }
        out[i] = c;
    }
    if (suppress) {
        // No digit shown at all: blanks, or asterisks around the point.
        for (size_t i = 0; i < pic.size; ++i)
            out[i] = pic.pad == ' ' || pic.at[i].kind != POINT
                         ? static_cast<unsigned char>(pic.pad)
                         : static_cast<unsigned char>(pic.point);
        return result;
    }
    if (result.zero && blank_when_zero) {
        std::memset(out, ' ', pic.size);
        return result;
    }
    const bool minus = negative && !result.zero;
    const unsigned char sign = minus ? '-' : pic.sign == '+' ? '+' : ' ';
    if (pic.floating && floating_at >= 0)
        out[floating_at] = pic.floating == '$' ? '$' : sign;
    if (pic.at[0].kind == LEAD_SIGN)
        out[0] = sign;
    if (pic.at[0].kind == CURRENCY)
        out[0] = '$';
    bool has_place = pic.trailing || pic.sign == 'C' || pic.sign == 'D' ||
                     pic.at[0].kind == LEAD_SIGN ||
                     (pic.floating && pic.floating != '$' && floating_at >= 0);
    result.sign_shown = minus && has_place;
    return result;
}

// The lost bits of an edit.
int lost_bits(const Picture& pic, const Number& n, const Edited& e) {
    int lost = 0;
    // The highest and lowest places the field shows.
    long top = pic.whole - 1 - (pic.hidden_first ? 1 : 0);
    long bottom = -pic.decimals;
    for (size_t k = 0; k < n.whole_length; ++k)
        if (n.whole[k] != '0' && static_cast<long>(n.whole_length - 1 - k) > top)
            lost |= BRELRT_EDIT_LOST_HIGH;
    for (size_t k = 0; k < n.fraction_length; ++k)
        if (n.fraction[k] != '0' && -static_cast<long>(k) - 1 < bottom)
            lost |= BRELRT_EDIT_LOST_LOW;
    if (n.negative && !n.zero && !e.sign_shown)
        lost |= BRELRT_EDIT_LOST_SIGN;
    return lost;
}

// Appends to a caller's buffer; remembers when it did not fit.
struct Writer {
    char* out;
    size_t room;
    size_t length = 0;
    bool full = false;

    void put(char c) {
        if (length + 1 < room)
            out[length++] = c;
        else
            full = true;
    }
    // Ends the text; false (and an empty text) when it did not fit.
    bool finish() {
        if (full) {
            if (room)
                out[0] = '\0';
            return false;
        }
        out[length] = '\0';
        return true;
    }
};

// Writes a number as numeric text: the sign when a digit is not zero, the
// whole digits without leading zeros ("0" for none), the decimals as given.
void write_number(Writer& w, bool negative, const char* whole, size_t whole_length,
                  const char* fraction, size_t fraction_length) {
    size_t first = 0;
    while (first < whole_length && whole[first] == '0')
        ++first;
    bool nonzero = first < whole_length;
    for (size_t k = 0; k < fraction_length && !nonzero; ++k)
        nonzero = fraction[k] != '0';
    if (negative && nonzero)
        w.put('-');
    if (first == whole_length)
        w.put('0');
    for (size_t k = first; k < whole_length; ++k)
        w.put(whole[k]);
    if (fraction_length) {
        w.put('.');
        for (size_t k = 0; k < fraction_length; ++k)
            w.put(fraction[k]);
    }
}

// Whether a byte may stand at a position of an edited field: the loose test
// of a text written by hand.
bool may_hold(const Picture& pic, const Position& p, unsigned char c) {
    switch (p.kind) {
    case DIGIT:
        return is_digit(c);
    case SUPPRESS:
        return is_digit(c) || c == static_cast<unsigned char>(pic.pad);
    case FLOATING:
        return is_digit(c) || c == ' ' || c == p.symbol || (p.symbol == '+' && c == '-');
    case LEAD_SIGN:
    case TRAIL_SIGN:
        return c == '-' || c == '*' || c == (p.symbol == '+' ? '+' : ' ');
    case CURRENCY:
        return c == '$' || c == ' ' || c == '*';
    case CREDIT:
        return c == ' ' || c == '*' || c == (p.second ? (p.symbol == 'C' ? 'R' : 'B') : p.symbol);
    case POINT:
        return c == static_cast<unsigned char>(pic.point);
    case INSERT:
        if (c == static_cast<unsigned char>(p.symbol) || c == '*')
            return true;
        return p.suppressible &&
               (c == ' ' || c == '0' ||
                (pic.floating && (c == pic.floating || (pic.floating == '+' && c == '-'))));
    }
    return false;
}

bool fits(const Picture& pic, const unsigned char* field) {
    for (size_t i = 0; i < pic.size; ++i) {
        if (!may_hold(pic, pic.at[i], field[i]))
            return false;
        // CR and DB are both letters or neither.
        if (pic.at[i].kind == CREDIT && pic.at[i].second &&
            (field[i] == ' ' || field[i] == '*') != (field[i - 1] == ' ' || field[i - 1] == '*'))
            return false;
    }
    return true;
}

// The value a placed field shows, as numeric text in `text`: the digits of
// the digit-taking positions, with `first` and `last` for the digits the
// leading symbol and the trailing sign take but never show.
size_t read_field(const Picture& pic, const unsigned char* field, int first, int last, char* text) {
    char whole[kMaxPositions + 1], fraction[kMaxPositions + 1];
    size_t whole_length = 0, fraction_length = 0;
    bool negative = false;
    long place = pic.whole - 1;
    for (size_t i = 0; i < pic.size; ++i) {
        const Position& p = pic.at[i];
        unsigned char c = field[i];
        if (c == '-' || (p.kind == CREDIT && c == static_cast<unsigned char>(p.symbol)))
            negative = true;
        if (!pic.takes_digit(i))
            continue;
        int digit = is_digit(c) ? c - '0' : 0;
        if (i == 0 && pic.hidden_first)
            digit = first;
        if (p.kind == TRAIL_SIGN) {
            if (!last)
                break;
            digit = last;
        }
        (place-- >= 0 ? whole[whole_length++] : fraction[fraction_length++]) =
            static_cast<char>('0' + digit);
    }
    Writer w{text, kMaxPositions + 8};
    write_number(w, negative, whole, whole_length, fraction, fraction_length);
    w.finish();
    return w.length;
}

// Reads a text placed in the field at each place it may begin; true with
// the value in `text` when one fits.
bool read_placed(const Picture& pic, const char* t, size_t length, char* text) {
    if (length > pic.size)
        return false;
    unsigned char field[kMaxPositions], again[kMaxPositions];
    // Bytes that editing a value gives back exactly, preferably a value that
    // BLANK WHEN ZERO would not blank.
    for (size_t at = 0; at + length <= pic.size; ++at) {
        std::memset(field, ' ', pic.size);
        std::memcpy(field + at, t, length);
        if (!fits(pic, field))
            continue;
        bool found = false;
        char candidate[kMaxPositions + 8];
        for (int first = 0; first <= (pic.hidden_first ? 1 : 0); ++first) {
            for (int last = 0; last <= (pic.trailing ? 1 : 0); ++last) {
                size_t n = read_field(pic, field, first, last, candidate);
                Number value;
                if (!parse_number(candidate, n, value))
                    continue;
                Edited e = edit(pic, false, value, again);
                if (std::memcmp(again, field, pic.size) != 0)
                    continue;
                if (!found || !e.zero)
                    std::memcpy(text, candidate, n + 1);
                found = true;
                if (!e.zero)
                    return true;
            }
        }
        if (found)
            return true;
    }
    // Else the first place where each position holds what it may.
    for (size_t at = 0; at + length <= pic.size; ++at) {
        std::memset(field, ' ', pic.size);
        std::memcpy(field + at, t, length);
        if (fits(pic, field)) {
            read_field(pic, field, 0, 0, text);
            return true;
        }
    }
    return false;
}

// A number as a person writes it: blanks, a sign before or after it (or CR,
// DB after it), a currency sign when the picture has one, digits with
// separators between them, one decimal point.
Result read_plain(const Picture& pic, const char* t, size_t length, Writer& w) {
    const char separator = pic.point == ',' ? '.' : ',';
    size_t i = 0;
    auto blanks = [&] {
        while (i < length && t[i] == ' ')
            ++i;
    };
    bool negative = false, signed_before = false;
    blanks();
    if (i < length && (t[i] == '+' || t[i] == '-')) {
        negative = t[i++] == '-';
        signed_before = true;
        blanks();
    }
    if (pic.currency && i < length && t[i] == '$') {
        ++i;
        blanks();
    }
    size_t whole_start = i, whole_digits = 0;
    for (; i < length; ++i) {
        if (is_digit(static_cast<unsigned char>(t[i])))
            ++whole_digits;
        else if (!(t[i] == separator && whole_digits && i + 1 < length &&
                   is_digit(static_cast<unsigned char>(t[i + 1]))))
            break;
    }
    size_t whole_end = i;
    size_t fraction_start = i, fraction_length = 0;
    if (i < length && t[i] == pic.point) {
        fraction_start = ++i;
        while (i < length && is_digit(static_cast<unsigned char>(t[i])))
            ++i;
        fraction_length = i - fraction_start;
    }
    if (whole_digits + fraction_length == 0)
        return INVALID;
    blanks();
    if (!signed_before && i < length) {
        if (t[i] == '+' || t[i] == '-') {
            negative = t[i++] == '-';
        } else if (i + 1 < length && ((upper(t[i]) == 'C' && upper(t[i + 1]) == 'R') ||
                                      (upper(t[i]) == 'D' && upper(t[i + 1]) == 'B'))) {
            negative = true;
            i += 2;
        }
        blanks();
    }
    if (i != length)
        return INVALID;
    // Written as write_number writes it, the separators left out.
    bool leading = true, nonzero = false;
    for (size_t k = whole_start; k < fraction_start + fraction_length; ++k)
        nonzero = nonzero || (t[k] >= '1' && t[k] <= '9');
    if (negative && nonzero)
        w.put('-');
    for (size_t k = whole_start; k < whole_end; ++k) {
        if (!is_digit(static_cast<unsigned char>(t[k])) || (leading && t[k] == '0'))
            continue;
        leading = false;
        w.put(t[k]);
    }
    if (leading)
        w.put('0');
    if (fraction_length) {
        w.put('.');
        for (size_t k = fraction_start; k < fraction_start + fraction_length; ++k)
            w.put(t[k]);
    }
    return OK;
}

int deedit(const char* picture, bool decimal_comma, const char* text, size_t length, size_t size,
           char* out, size_t out_size) {
    Picture pic;
    if (parse_picture(picture, decimal_comma, pic) != OK || size != pic.size || !out ||
        out_size == 0)
        return UNSUPPORTED;
    if (!text && length)
        return INVALID;
    if (text) {
        if (const void* nul = std::memchr(text, '\0', length))
            length = static_cast<size_t>(static_cast<const char*>(nul) - text);
    }
    while (length && text[0] == ' ') {
        ++text;
        --length;
    }
    while (length && text[length - 1] == ' ')
        --length;
    Writer w{out, out_size};
    if (length == 0) {
        w.put('0');
        return w.finish() ? OK : UNSUPPORTED;
    }
    char placed[kMaxPositions + 8];
    if (read_placed(pic, text, length, placed)) {
        for (const char* c = placed; *c; ++c)
            w.put(*c);
    } else if (Result r = read_plain(pic, text, length, w); r != OK) {
        return r;
    }
    return w.finish() ? OK : UNSUPPORTED;
}

} // namespace

int brelrt_edit_number(const char* picture, int blank_when_zero, int decimal_comma,
                       const char* number, size_t length, unsigned char* field, size_t size,
                       int* lost) {
    Picture pic;
    if (parse_picture(picture, decimal_comma != 0, pic) != OK || size != pic.size ||
        (blank_when_zero && pic.pad == '*') || !field)
        return UNSUPPORTED;
    Number n;
    if (!parse_number(number, length, n))
        return INVALID;
    unsigned char edited[kMaxPositions];
    Edited e = edit(pic, blank_when_zero != 0, n, edited);
    std::memcpy(field, edited, size);
    if (lost)
        *lost = lost_bits(pic, n, e);
    return OK;
}

int brelrt_deedit_number(const char* picture, int decimal_comma, const char* text, size_t length,
                         size_t size, char* out, size_t out_size) {
    return deedit(picture, decimal_comma != 0, text, length, size, out, out_size);
}
