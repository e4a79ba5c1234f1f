// Bconvert: numeric values between numeric text (type 0) and GnuCOBOL's own
// storage forms, with MOVE's truncation rules.
#include "internal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

enum Result { OK = 0, INVALID = -1, UNSUPPORTED = -2 };

// More digits from the first to the last that is not zero than any field or
// numeric text of a record holds: such a value is refused (INVALID).
constexpr int kMaxDigits = 512;

// value = digits x 10^scale. The digits from the first to the last that is
// not zero, most significant first, as numbers 0..9; none at all for zero.
// Held in place, so that a conversion allocates nothing.
struct Decimal {
    bool negative = false;
    int length = 0;
    int scale = 0;
    int zeros = 0; // zeros pushed after the last digit that is not zero
    char digits[kMaxDigits];

    // Appends the next lower digit; false when there is no room.
    bool push(int digit) {
        if (digit == 0) {
            zeros += length != 0;
            return true;
        }
        if (zeros >= kMaxDigits - length)
            return false;
        for (; zeros; --zeros)
            digits[length++] = 0;
        digits[length++] = static_cast<char>(digit);
        return true;
    }
    // After the last digit: the place of that digit.
    void set_scale(long last_place) { scale = static_cast<int>(last_place + zeros); }
    bool zero() const { return length == 0; }
    // The place of the most significant digit (of a value that is not zero).
    long top() const { return static_cast<long>(scale) + length - 1; }
    // The digit at 10^place.
    int at(long place) const {
        long k = top() - place;
        return k >= 0 && k < length ? digits[k] : 0;
    }
};

char decimal_point() {
    return static_cast<char>(B4PgmPeriod() & 0xFF);
}

bool is_digit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// Numeric text: blanks, an optional sign before or after the number, digits
// with one decimal point ("." or the program's), an optional exponent.
// All blank is zero. The program's decimal point is asked for only when a
// text holds something else than digits and ".".
Result parse_text(const unsigned char* p, size_t n, Decimal& out) {
    const void* nul = std::memchr(p, '\0', n);
    size_t end = nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - p) : n;
    size_t i = 0;
    auto skip_blanks = [&] {
        while (i < end && (p[i] == ' ' || p[i] == '\t' || p[i] == '\n' || p[i] == '\r'))
            ++i;
    };
    bool sign_seen = false;
    skip_blanks();
    if (i < end && (p[i] == '+' || p[i] == '-')) {
        out.negative = p[i] == '-';
        sign_seen = true;
        ++i;
        skip_blanks();
    }
    bool any_digit = false, point_seen = false;
    long fraction = 0;
    for (; i < end; ++i) {
        unsigned char c = p[i];
        if (is_digit(c)) {
            if (!out.push(c - '0'))
                return INVALID;
            any_digit = true;
            if (point_seen)
                ++fraction;
        } else if (!point_seen && (c == '.' || c == static_cast<unsigned char>(decimal_point()))) {
            point_seen = true;
        } else {
            break;
        }
    }
    long exponent = 0;
    if (any_digit && i < end && (p[i] == 'e' || p[i] == 'E')) {
        size_t j = i + 1;
        bool exp_negative = false;
        if (j < end && (p[j] == '+' || p[j] == '-'))
            exp_negative = p[j++] == '-';
        if (j >= end || !is_digit(p[j]))
            return INVALID;
        for (; j < end && is_digit(p[j]); ++j) {
            exponent = exponent * 10 + (p[j] - '0');
            if (exponent > 1000)
                return INVALID;
        }
        if (exp_negative)
            exponent = -exponent;
        i = j;
    }
    skip_blanks();
    if (i < end && (p[i] == '+' || p[i] == '-') && !sign_seen && any_digit) {
        out.negative = p[i] == '-';
        ++i;
        skip_blanks();
    }
    if (i != end)
        return INVALID;
    if (!any_digit && (sign_seen || point_seen))
        return INVALID;
    out.set_scale(exponent - fraction);
    return OK;
}

// MOVE keeps the digits of the places scale .. scale + count - 1: lost
// high-order digits and cut decimals. Writes them as characters, most
// significant first; true when one of them is not zero.
bool put_digits(unsigned char* out, const Decimal& d, size_t count, int scale) {
    bool nonzero = false;
    // The digit of 10^(scale + count - 1), then each next lower one.
    long k = d.top() - (scale + static_cast<long>(count) - 1);
    for (size_t i = 0; i < count; ++i, ++k) {
        int digit = k >= 0 && k < d.length ? d.digits[k] : 0;
        nonzero = nonzero || digit;
        out[i] = static_cast<unsigned char>('0' + digit);
    }
    return nonzero;
}

int field_digits(const FieldDescriptor& f) {
    return f.digits ? f.digits : 18;
}

// Embedded sign bytes: GnuCOBOL adds 0x40 to a negative digit ("p".."y"); the
// EBCDIC-style forms ("{", "A".."I", "}", "J".."R") are read as well.
bool decode_overpunch(unsigned char c, int& digit, bool& negative) {
    if (c >= '0' && c <= '9') {
        digit = c - '0';
        negative = false;
    } else if (c >= 'p' && c <= 'y') {
        digit = c - 'p';
        negative = true;
    } else if (c == '{' || (c >= 'A' && c <= 'I')) {
        digit = c == '{' ? 0 : c - 'A' + 1;
        negative = false;
    } else if (c == '}' || (c >= 'J' && c <= 'R')) {
        digit = c == '}' ? 0 : c - 'J' + 1;
        negative = true;
    } else if (c == ' ') {
        digit = 0;
        negative = false;
    } else {
        return false;
    }
    return true;
}

Result read_display(const FieldDescriptor& f, Decimal& out) {
    const unsigned char* p = f.address;
    size_t n = static_cast<size_t>(f.size);
    size_t first = 0, last = n;
    if (f.type == BRELRT_T_SIGN_LEADING_SEP || f.type == BRELRT_T_SIGN_TRAILING_SEP) {
        if (n == 0)
            return INVALID;
        unsigned char s = f.type == BRELRT_T_SIGN_LEADING_SEP ? p[0] : p[n - 1];
        if (s == '-')
            out.negative = true;
        else if (s != '+' && s != ' ')
            return INVALID;
        if (f.type == BRELRT_T_SIGN_LEADING_SEP)
            first = 1;
        else
            last = n - 1;
    }
    for (size_t i = first; i < last; ++i) {
        unsigned char c = p[i];
        int digit;
        if (is_digit(c)) {
            digit = c - '0';
        } else if (c == ' ') {
            digit = 0; // a blank record area reads as zero
        } else if ((f.type == BRELRT_T_SIGN_TRAILING && i == n - 1) ||
                   (f.type == BRELRT_T_SIGN_LEADING && i == 0)) {
            bool negative; // the embedded sign of a digit that is not plain
            if (!decode_overpunch(c, digit, negative))
                return INVALID;
            out.negative = negative;
        } else {
            return INVALID;
        }
        if (!out.push(digit))
            return INVALID;
    }
    out.set_scale(f.scale);
    return OK;
}

Result write_display(const FieldDescriptor& f, const Decimal& d) {
    size_t n = static_cast<size_t>(f.size);
    bool separate = f.type == BRELRT_T_SIGN_LEADING_SEP || f.type == BRELRT_T_SIGN_TRAILING_SEP;
    if (separate && n == 0)
        return UNSUPPORTED;
    size_t count = separate ? n - 1 : n;
    unsigned char* p = f.address;
    bool nonzero = put_digits(f.type == BRELRT_T_SIGN_LEADING_SEP ? p + 1 : p, d, count, f.scale);
    if (count == 0) // a sign without digits: the sign of all the value's places from scale on
        nonzero = !d.zero() && d.top() >= f.scale;
    bool negative = d.negative && nonzero && f.type != BRELRT_T_UNSIGNED;
    switch (f.type) {
    case BRELRT_T_SIGN_TRAILING:
        if (negative && n)
            p[n - 1] = static_cast<unsigned char>(p[n - 1] + 0x40);
        break;
    case BRELRT_T_SIGN_LEADING:
        if (negative && n)
            p[0] = static_cast<unsigned char>(p[0] + 0x40);
        break;
    case BRELRT_T_SIGN_LEADING_SEP:
        p[0] = negative ? '-' : '+';
        break;
    case BRELRT_T_SIGN_TRAILING_SEP:
        p[count] = negative ? '-' : '+';
        break;
    }
    return OK;
}

Result read_packed(const FieldDescriptor& f, Decimal& out) {
    const unsigned char* p = f.address;
    size_t n = static_cast<size_t>(f.size);
    if (n == 0)
        return INVALID;
    for (size_t i = 0; i < n; ++i) {
        int high = p[i] >> 4, low = p[i] & 0xF;
        if (high > 9 || !out.push(high))
            return INVALID;
        if (i + 1 < n) {
            if (low > 9 || !out.push(low))
                return INVALID;
        } else if (low == 0xD || low == 0xB) {
            out.negative = true;
        } else if (low < 0xA) {
            return INVALID;
        }
    }
    out.set_scale(f.scale);
    return OK;
}

// The nibbles of a packed field: 2n - 1 digits, the picture's digits of the
// value at the low end, zeros above them, then the sign.
Result write_packed(const FieldDescriptor& f, const Decimal& d) {
    size_t n = static_cast<size_t>(f.size);
    if (n == 0)
        return UNSUPPORTED;
    size_t capacity = n * 2 - 1;
    size_t count = std::min(static_cast<size_t>(field_digits(f)), capacity);
    auto digit = [&](size_t k) {
        return k < capacity - count ? 0 : d.at(f.scale + static_cast<long>(capacity - 1 - k));
    };
    bool nonzero = false;
    for (size_t i = 0; i < n; ++i) {
        int high = digit(i * 2);
        int low = i + 1 < n ? digit(i * 2 + 1) : 0;
        nonzero = nonzero || high || low;
        if (i + 1 == n) {
            bool negative = d.negative && nonzero;
            low = f.type == BRELRT_T_PACKED_UNSIGNED ? 0xF : (negative ? 0xD : 0xC);
        }
        f.address[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return OK;
}

bool big_endian_type(int type) {
    return type == BRELRT_T_BINARY || type == BRELRT_T_BINARY_UNSIGNED;
}
bool signed_type(int type) {
    return type == BRELRT_T_BINARY || type == BRELRT_T_NATIVE;
}

bool little_endian_host() {
    const uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

Result read_binary(const FieldDescriptor& f, Decimal& out) {
    size_t n = static_cast<size_t>(f.size);
    if (n < 1 || n > 8)
        return UNSUPPORTED;
    bool big = big_endian_type(f.type) || !little_endian_host();
    uint64_t u = 0;
    for (size_t i = 0; i < n; ++i) {
        unsigned char b = big ? f.address[i] : f.address[n - 1 - i];
        u = u << 8 | b;
    }
    if (signed_type(f.type) && n < 8 && (u >> (n * 8 - 1)) & 1)
        u |= ~uint64_t(0) << (n * 8);
    if (signed_type(f.type) && static_cast<int64_t>(u) < 0) {
        out.negative = true;
        u = ~u + 1; // magnitude, also for the most negative value
    }
    char reversed[20];
    int count = 0;
    for (; u; u /= 10)
        reversed[count++] = static_cast<char>(u % 10);
    while (count)
        out.push(reversed[--count]);
    out.set_scale(f.scale);
    return OK;
}

// COMP and BINARY keep the digits of their picture (GnuCOBOL's binary
// truncation); COMP-5 keeps what its bytes hold: the value modulo 2^bits, as
// GnuCOBOL's MOVE stores it (70000 into S9(4) COMP-5 gives 4464).
Result write_binary(const FieldDescriptor& f, const Decimal& d) {
    size_t n = static_cast<size_t>(f.size);
    if (n < 1 || n > 8)
        return UNSUPPORTED;
    bool native = f.type == BRELRT_T_NATIVE || f.type == BRELRT_T_NATIVE_UNSIGNED;
    long highest =
        native ? (d.zero() ? f.scale - 1 : d.top()) : f.scale + std::min(field_digits(f), 18) - 1;
    uint64_t u = 0;
    for (long place = highest; place >= f.scale; --place)
        u = u * 10 + static_cast<uint64_t>(d.at(place)); // modulo 2^64
    bool negative = d.negative && u != 0 && signed_type(f.type);
    if (negative)
        u = ~u + 1;
    bool big = big_endian_type(f.type) || !little_endian_host();
    for (size_t i = 0; i < n; ++i) {
        auto b = static_cast<unsigned char>(u >> (8 * i));
        if (big)
            f.address[n - 1 - i] = b;
        else
            f.address[i] = b;
    }
    return OK;
}

double to_double(const Decimal& d) {
    char text[kMaxDigits + 24];
    size_t k = 0;
    if (d.negative)
        text[k++] = '-';
    if (d.zero())
        text[k++] = '0';
    for (int i = 0; i < d.length; ++i)
        text[k++] = static_cast<char>('0' + d.digits[i]);
    std::snprintf(text + k, sizeof text - k, "e%d", d.scale);
    return std::strtod(text, nullptr);
}

// The fewest significant digits (at most 9 for a COMP-1, 17 for a COMP-2)
// whose decimal text reads back as the very same value.
int exact_precision(double v, bool single) {
    char text[64];
    int most = single ? 9 : 17;
    for (int precision = 1; precision < most; ++precision) {
        std::snprintf(text, sizeof text, "%.*e", precision - 1, v);
        if (single ? std::strtof(text, nullptr) == static_cast<float>(v)
                   : std::strtod(text, nullptr) == v)
            return precision;
    }
    return most;
}

Result read_float(const FieldDescriptor& f, Decimal& out) {
    double v;
    bool single = f.type == BRELRT_T_FLOAT;
    if (single) {
        if (f.size != 4)
            return UNSUPPORTED;
        float x;
        std::memcpy(&x, f.address, 4);
        v = x;
    } else {
        if (f.size != 8)
            return UNSUPPORTED;
        std::memcpy(&v, f.address, 8);
    }
    if (!std::isfinite(v))
        return INVALID;
    // As many digits as read back to the same value, and no more: 0.1 is
    // "0.1", 65536.125 all of its eight.
    int precision = exact_precision(v, single);
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", precision - 1, v);
    // The point of %e follows the C locale's rules, never the program's;
    // "." is read whatever the program's point is.
    for (char* c = text; *c; ++c)
        if (*c == ',')
            *c = '.';
    return parse_text(reinterpret_cast<const unsigned char*>(text), std::strlen(text), out);
}

Result write_float(const FieldDescriptor& f, const Decimal& d) {
    double v = to_double(d);
    if (f.type == BRELRT_T_FLOAT) {
        if (f.size != 4)
            return UNSUPPORTED;
        auto x = static_cast<float>(v);
        std::memcpy(f.address, &x, 4);
    } else {
        if (f.size != 8)
            return UNSUPPORTED;
        std::memcpy(f.address, &v, 8);
    }
    return OK;
}

// A float's value as text in at most `n` characters: plain decimals where
// they fit ("1.5", "-20000000"), else the exponent form ("1.5E+20"), with
// the digits that read back as the same value (`single`: a COMP-1's), fewer
// only when they do not fit; the program's decimal point.
Result write_float_text(const FieldDescriptor& f, const Decimal& d, bool single) {
    size_t n = static_cast<size_t>(f.size);
    double v = to_double(d);
    char text[400];
    size_t length = 0;
    char point = 0;
    for (int precision = exact_precision(v, single); precision > 0; --precision) {
        std::snprintf(text, sizeof text, "%.*G", precision, v);
        if (std::strchr(text, 'E') && std::fabs(v) >= 1 && std::fabs(v) < 1e300) {
            char plain[400];
            std::snprintf(plain, sizeof plain, "%.0f", v);
            if (std::strlen(plain) <= n)
                std::memcpy(text, plain, std::strlen(plain) + 1);
        }
        for (char* c = text; *c; ++c)
            if (*c == ',' || *c == '.') {
                if (!point)
                    point = decimal_point();
                *c = point;
            }
        length = std::strlen(text);
        if (length <= n)
            break;
    }
    if (length > n)
        return UNSUPPORTED;
    std::memcpy(f.address, text, length);
    std::memset(f.address + length, ' ', n - length);
    return OK;
}

// Numeric text left-justified in the destination, padded with blanks:
// "-123.45", "0.05", "7"; the program's decimal point; decimals beyond the
// destination's scale are cut. Every integer digit of the value: a text that
// cannot hold them all fails rather than losing the high-order ones (a COMP-5
// field holds more than its picture's digits).
Result write_text(const FieldDescriptor& f, const Decimal& d, int float_precision) {
    if (float_precision > 0)
        return write_float_text(f, d, float_precision == 7);
    size_t n = static_cast<size_t>(f.size);
    int scale = f.scale < 0 ? f.scale : 0;
    size_t decimals = static_cast<size_t>(-scale);
    size_t whole = !d.zero() && d.top() >= 0 ? static_cast<size_t>(d.top() + 1) : 0;
    bool negative = d.negative && !d.zero() && d.top() >= scale;
    size_t length = (negative ? 1 : 0) + (whole ? whole : 1) + (decimals ? 1 + decimals : 0);
    bool zero_before_point = true;
    if (length > n && !whole && decimals) {
        zero_before_point = false; // "-.99" where "-0.99" does not fit
        --length;
    }
    if (length > n)
        return UNSUPPORTED;
    unsigned char* p = f.address;
    if (negative)
        *p++ = '-';
    if (whole) {
        put_digits(p, d, whole, 0);
        p += whole;
    } else if (zero_before_point) {
        *p++ = '0';
    }
    if (decimals) {
        *p++ = static_cast<unsigned char>(decimal_point());
        put_digits(p, d, decimals, scale);
    }
    std::memset(f.address + length, ' ', n - length);
    return OK;
}

// -1, 0 or 1 as a is less than, equal to or greater than b.
int compare(const Decimal& a, const Decimal& b) {
    bool na = a.negative && !a.zero(), nb = b.negative && !b.zero();
    if (na != nb)
        return na ? -1 : 1;
    int magnitude = 0;
    if (a.zero() || b.zero()) {
        magnitude = a.zero() == b.zero() ? 0 : (a.zero() ? -1 : 1);
    } else if (a.top() != b.top()) {
        magnitude = a.top() < b.top() ? -1 : 1;
    } else {
        long low = std::min(a.scale, b.scale);
        for (long place = a.top(); place >= low && !magnitude; --place)
            magnitude = a.at(place) < b.at(place) ? -1 : (a.at(place) > b.at(place) ? 1 : 0);
    }
    return na ? -magnitude : magnitude;
}

} // namespace

namespace brelrt {

// Compares the numeric value of a field with a numeric text: -1, 0, 1, or -2
// when either is not a valid number.
int compare_numeric(const FieldDescriptor& field, const char* literal) {
    char buffer[80];
    FieldDescriptor text{reinterpret_cast<unsigned char*>(buffer), 0, BRELRT_T_NUMTEXT, 0, 0, 0};
    text.size = static_cast<int32_t>(sizeof buffer - 1);
    text.digits = field.digits;
    text.scale = field.scale;
    if (field.type == BRELRT_T_FLOAT || field.type == BRELRT_T_DOUBLE)
        text.digits = 0;
    if (Bconvert(&text, &field, 1) != 0)
        return -2;
    Decimal a, b;
    if (parse_text(reinterpret_cast<unsigned char*>(buffer), sizeof buffer - 1, a) != OK ||
        parse_text(reinterpret_cast<const unsigned char*>(literal), std::strlen(literal), b) != OK)
        return -2;
    return compare(a, b);
}

} // namespace brelrt

// Asked for by every conversion that writes decimals.
int B4PgmPeriod(void) {
    static brelrt::EnvironmentValue point("BRELRT_DECIMAL_POINT");
    const char* v = point.get();
    return v && v[0] == ',' ? ',' : '.';
}

int brelrt_type_is_numeric(int type) {
    return (type >= 1 && type <= 14) || type == 23 || (type >= 30 && type <= 33);
}

namespace {

// What storing `d` in `f` loses (BRELRT_LOST_* bits): digits above the
// places the field keeps, decimals below them, the sign of a field that has
// none. Floating-point fields keep what they can and lose nothing here.
int losses(const FieldDescriptor& f, const Decimal& d) {
    if (d.zero())
        return 0;
    int lost = 0;
    if (d.scale < f.scale)
        lost |= BRELRT_LOST_DECIMALS; // the last digit held is not zero
    bool unsigned_field = f.type == BRELRT_T_UNSIGNED || f.type == BRELRT_T_PACKED_UNSIGNED ||
                          f.type == BRELRT_T_BINARY_UNSIGNED || f.type == BRELRT_T_NATIVE_UNSIGNED;
    long kept = 0; // decimal places kept above the scale
    size_t n = static_cast<size_t>(f.size);
    switch (f.type) {
    case BRELRT_T_UNSIGNED:
    case BRELRT_T_SIGN_TRAILING:
    case BRELRT_T_SIGN_LEADING:
        kept = static_cast<long>(n);
        break;
    case BRELRT_T_SIGN_TRAILING_SEP:
    case BRELRT_T_SIGN_LEADING_SEP:
        kept = n ? static_cast<long>(n) - 1 : 0;
        break;
    case BRELRT_T_PACKED:
    case BRELRT_T_PACKED_UNSIGNED:
        kept = n ? std::min(static_cast<long>(field_digits(f)), static_cast<long>(n * 2 - 1)) : 0;
        break;
    case BRELRT_T_BINARY:
    case BRELRT_T_BINARY_UNSIGNED:
        kept = std::min(field_digits(f), 18);
        break;
    case BRELRT_T_NATIVE:
    case BRELRT_T_NATIVE_UNSIGNED: {
        // What the bytes hold: the whole number of places from the scale up.
        if (d.top() < f.scale)
            return lost;
        if (d.top() - f.scale >= 19 || n < 1 || n > 8)
            return lost | BRELRT_LOST_DIGITS;
        uint64_t u = 0;
        for (long place = d.top(); place >= f.scale; --place)
            u = u * 10 + static_cast<uint64_t>(d.at(place));
        int bits = static_cast<int>(8 * n);
        uint64_t most = unsigned_field ? (bits == 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1)
                        : d.negative   ? uint64_t(1) << (bits - 1)
                                       : (uint64_t(1) << (bits - 1)) - 1;
        if (u > most)
            lost |= BRELRT_LOST_DIGITS;
        if (unsigned_field && d.negative && u)
            lost |= BRELRT_LOST_SIGN;
        return lost;
    }
    default:
        return lost;
    }
    if (d.top() >= f.scale + kept)
        lost |= BRELRT_LOST_DIGITS;
    bool kept_nonzero = false;
    for (long place = std::max<long>(d.scale, f.scale); place < f.scale + kept && !kept_nonzero;
         ++place)
        kept_nonzero = d.at(place) != 0;
    if (unsigned_field && d.negative && kept_nonzero)
        lost |= BRELRT_LOST_SIGN;
    return lost;
}

int convert(FieldDescriptor* dst, const FieldDescriptor* src, int* lost) {
    Decimal value;
    Result r;
    switch (src->type) {
    case BRELRT_T_NUMTEXT:
        r = parse_text(src->address, static_cast<size_t>(src->size), value);
        break;
    case BRELRT_T_UNSIGNED:
    case BRELRT_T_SIGN_TRAILING:
    case BRELRT_T_SIGN_TRAILING_SEP:
    case BRELRT_T_SIGN_LEADING:
    case BRELRT_T_SIGN_LEADING_SEP:
        r = read_display(*src, value);
        break;
    case BRELRT_T_PACKED:
    case BRELRT_T_PACKED_UNSIGNED:
        r = read_packed(*src, value);
        break;
    case BRELRT_T_BINARY:
    case BRELRT_T_BINARY_UNSIGNED:
    case BRELRT_T_NATIVE:
    case BRELRT_T_NATIVE_UNSIGNED:
        r = read_binary(*src, value);
        break;
    case BRELRT_T_FLOAT:
    case BRELRT_T_DOUBLE:
        r = read_float(*src, value);
        break;
    default:
        r = UNSUPPORTED;
    }
    if (r != OK)
        return r;
    int float_precision = src->type == BRELRT_T_FLOAT ? 7 : src->type == BRELRT_T_DOUBLE ? 15 : 0;
    if (lost)
        *lost = losses(*dst, value);
    switch (dst->type) {
    case BRELRT_T_NUMTEXT:
        return write_text(*dst, value, float_precision);
    case BRELRT_T_UNSIGNED:
    case BRELRT_T_SIGN_TRAILING:
    case BRELRT_T_SIGN_TRAILING_SEP:
    case BRELRT_T_SIGN_LEADING:
    case BRELRT_T_SIGN_LEADING_SEP:
        return write_display(*dst, value);
    case BRELRT_T_PACKED:
    case BRELRT_T_PACKED_UNSIGNED:
        return write_packed(*dst, value);
    case BRELRT_T_BINARY:
    case BRELRT_T_BINARY_UNSIGNED:
    case BRELRT_T_NATIVE:
    case BRELRT_T_NATIVE_UNSIGNED:
        return write_binary(*dst, value);
    case BRELRT_T_FLOAT:
    case BRELRT_T_DOUBLE:
        return write_float(*dst, value);
    default:
        return UNSUPPORTED;
    }
}

} // namespace

int Bconvert(FieldDescriptor* dst, const FieldDescriptor* src, int /*mode*/) {
    return brelrt_convert(dst, src, nullptr);
}

int brelrt_convert(FieldDescriptor* dst, const FieldDescriptor* src, int* lost) {
    if (lost)
        *lost = 0;
    if (!dst || !src || !dst->address || !src->address || dst->size < 0 || src->size < 0)
        return UNSUPPORTED;
    return brelrt::guarded(static_cast<int>(UNSUPPORTED), [&] { return convert(dst, src, lost); });
}
