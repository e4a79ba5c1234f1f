// Bconvert: numeric values between numeric text (type 0) and GnuCOBOL's own
// storage forms, with MOVE's truncation rules.
#include "internal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// value = digits x 10^scale, digits '0'..'9' (leading zeros allowed).
struct Decimal {
    bool negative = false;
    std::string digits;
    int scale = 0;
};

enum Result { OK = 0, INVALID = -1, UNSUPPORTED = -2 };

char decimal_point() {
    return static_cast<char>(B4PgmPeriod() & 0xFF);
}

bool is_digit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// Numeric text: blanks, an optional sign before or after the number, digits
// with one decimal point ("." or the program's), an optional exponent.
// All blank is zero.
Result parse_text(const unsigned char* p, size_t n, Decimal& out) {
    size_t end = 0;
    while (end < n && p[end] != '\0')
        ++end;
    size_t i = 0;
    auto skip_blanks = [&] {
        while (i < end && (p[i] == ' ' || p[i] == '\t' || p[i] == '\n' || p[i] == '\r'))
            ++i;
    };
    char point = decimal_point();
    bool sign_seen = false;
    skip_blanks();
    if (i < end && (p[i] == '+' || p[i] == '-')) {
        out.negative = p[i] == '-';
        sign_seen = true;
        ++i;
        skip_blanks();
    }
    bool any_digit = false, point_seen = false;
    int fraction = 0;
    for (; i < end; ++i) {
        unsigned char c = p[i];
        if (is_digit(c)) {
            out.digits += static_cast<char>(c);
            any_digit = true;
            if (point_seen)
                ++fraction;
        } else if ((c == '.' || c == static_cast<unsigned char>(point)) && !point_seen) {
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
    if (!any_digit) {
        if (sign_seen || point_seen)
            return INVALID;
        out.digits = "0";
    }
    out.scale = static_cast<int>(exponent) - fraction;
    return OK;
}

// The digits of value aligned to `scale` and cut to `count` digits (MOVE:
// lost high-order digits and cut decimals).
std::string aligned(const Decimal& d, int count, int scale) {
    std::string s = d.digits;
    if (d.scale > scale)
        s.append(static_cast<size_t>(d.scale - scale), '0');
    else if (d.scale < scale) {
        size_t drop = static_cast<size_t>(scale - d.scale);
        s = drop >= s.size() ? std::string() : s.substr(0, s.size() - drop);
    }
    if (count <= 0)
        return s;
    if (s.size() > static_cast<size_t>(count))
        return s.substr(s.size() - static_cast<size_t>(count));
    return std::string(static_cast<size_t>(count) - s.size(), '0') + s;
}

bool all_zero(const std::string& s) {
    return s.find_first_not_of('0') == std::string::npos;
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
        bool embedded = (f.type == BRELRT_T_SIGN_TRAILING && i == n - 1) ||
                        (f.type == BRELRT_T_SIGN_LEADING && i == 0);
        if (embedded) {
            int digit;
            bool negative;
            if (!decode_overpunch(c, digit, negative))
                return INVALID;
            out.negative = negative;
            out.digits += static_cast<char>('0' + digit);
        } else if (is_digit(c)) {
            out.digits += static_cast<char>(c);
        } else if (c == ' ') {
            out.digits += '0'; // a blank record area reads as zero
        } else {
            return INVALID;
        }
    }
    if (out.digits.empty())
        out.digits = "0";
    out.scale = f.scale;
    return OK;
}

Result write_display(const FieldDescriptor& f, const Decimal& d) {
    size_t n = static_cast<size_t>(f.size);
    bool separate = f.type == BRELRT_T_SIGN_LEADING_SEP || f.type == BRELRT_T_SIGN_TRAILING_SEP;
    size_t count = separate ? n - 1 : n;
    if (separate && n == 0)
        return UNSUPPORTED;
    std::string digits = aligned(d, static_cast<int>(count), f.scale);
    bool negative = d.negative && !all_zero(digits) && f.type != BRELRT_T_UNSIGNED;
    unsigned char* p = f.address;
    switch (f.type) {
    case BRELRT_T_UNSIGNED:
        std::memcpy(p, digits.data(), n);
        break;
    case BRELRT_T_SIGN_TRAILING:
        std::memcpy(p, digits.data(), n);
        if (negative && n)
            p[n - 1] = static_cast<unsigned char>(p[n - 1] + 0x40);
        break;
    case BRELRT_T_SIGN_LEADING:
        std::memcpy(p, digits.data(), n);
        if (negative && n)
            p[0] = static_cast<unsigned char>(p[0] + 0x40);
        break;
    case BRELRT_T_SIGN_LEADING_SEP:
        p[0] = negative ? '-' : '+';
        std::memcpy(p + 1, digits.data(), count);
        break;
    case BRELRT_T_SIGN_TRAILING_SEP:
        std::memcpy(p, digits.data(), count);
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
        if (high > 9)
            return INVALID;
        out.digits += static_cast<char>('0' + high);
        if (i + 1 < n) {
            if (low > 9)
                return INVALID;
            out.digits += static_cast<char>('0' + low);
        } else if (low == 0xD || low == 0xB) {
            out.negative = true;
        } else if (low < 0xA) {
            return INVALID;
        }
    }
    out.scale = f.scale;
    return OK;
}

Result write_packed(const FieldDescriptor& f, const Decimal& d) {
    size_t n = static_cast<size_t>(f.size);
    if (n == 0)
        return UNSUPPORTED;
    int capacity = static_cast<int>(n * 2 - 1);
    int count = std::min(field_digits(f), capacity);
    std::string digits = aligned(d, count, f.scale);
    digits = std::string(static_cast<size_t>(capacity - count), '0') + digits;
    bool negative = d.negative && !all_zero(digits);
    int sign = f.type == BRELRT_T_PACKED_UNSIGNED ? 0xF : (negative ? 0xD : 0xC);
    for (size_t i = 0; i < n; ++i) {
        int high = digits[i * 2] - '0';
        int low = i + 1 < n ? digits[i * 2 + 1] - '0' : sign;
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
    if (n != 1 && n != 2 && n != 4 && n != 8)
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
    out.digits = std::to_string(u);
    out.scale = f.scale;
    return OK;
}

// COMP and BINARY keep the digits of their picture (GnuCOBOL's binary
// truncation); COMP-5 keeps what its bytes hold: the value modulo 2^bits, as
// GnuCOBOL's MOVE stores it (70000 into S9(4) COMP-5 gives 4464).
Result write_binary(const FieldDescriptor& f, const Decimal& d) {
    size_t n = static_cast<size_t>(f.size);
    if (n != 1 && n != 2 && n != 4 && n != 8)
        return UNSUPPORTED;
    bool native = f.type == BRELRT_T_NATIVE || f.type == BRELRT_T_NATIVE_UNSIGNED;
    std::string digits = aligned(d, native ? 0 : std::min(field_digits(f), 18), f.scale);
    uint64_t u = 0;
    for (char c : digits)
        u = u * 10 + static_cast<uint64_t>(c - '0'); // modulo 2^64
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
    std::string text = (d.negative ? "-" : "") + d.digits + "e" + std::to_string(d.scale);
    return std::strtod(text.c_str(), nullptr);
}

Result read_float(const FieldDescriptor& f, Decimal& out) {
    double v;
    int precision;
    if (f.type == BRELRT_T_FLOAT) {
        if (f.size != 4)
            return UNSUPPORTED;
        float x;
        std::memcpy(&x, f.address, 4);
        v = x;
        precision = 7;
    } else {
        if (f.size != 8)
            return UNSUPPORTED;
        std::memcpy(&v, f.address, 8);
        precision = 15;
    }
    if (!std::isfinite(v))
        return INVALID;
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", precision - 1, v);
    // The point of %e follows the C locale's rules, never the program's.
    for (char* c = text; *c; ++c)
        if (*c == ',')
            *c = '.';
    char point = decimal_point();
    if (point != '.')
        for (char* c = text; *c; ++c)
            if (*c == '.')
                *c = point;
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

// Numeric text left-justified in the destination, padded with blanks:
// "-123.45", "0.05", "7"; the program's decimal point; decimals beyond the
// destination's scale are cut.
Result write_text(const FieldDescriptor& f, const Decimal& d, int float_precision) {
    size_t n = static_cast<size_t>(f.size);
    std::string text;
    if (float_precision > 0) {
        // Plain decimals where they fit ("1.5", "-20000000"), else the
        // exponent form ("1.5E+20"), with fewer digits until it fits.
        double v = to_double(d);
        for (int precision = float_precision; precision > 0; --precision) {
            char buffer[400];
            std::snprintf(buffer, sizeof buffer, "%.*G", precision, v);
            text = buffer;
            if (text.find('E') != std::string::npos && std::fabs(v) >= 1 && std::fabs(v) < 1e300) {
                std::snprintf(buffer, sizeof buffer, "%.0f", v);
                if (std::strlen(buffer) <= n)
                    text = buffer;
            }
            for (char& c : text)
                if (c == ',' || c == '.')
                    c = decimal_point();
            if (text.size() <= n)
                break;
        }
    } else {
        int scale = f.scale < 0 ? f.scale : 0;
        // Every integer digit of the value: a text that cannot hold them all
        // fails rather than losing the high-order ones (a COMP-5 field holds
        // more than its picture's digits).
        std::string digits = aligned(d, 0, scale);
        size_t decimals = static_cast<size_t>(-scale);
        if (digits.size() < decimals)
            digits = std::string(decimals - digits.size(), '0') + digits;
        std::string whole = digits.substr(0, digits.size() - decimals);
        std::string fraction = digits.substr(digits.size() - decimals);
        size_t lead = whole.find_first_not_of('0');
        whole = lead == std::string::npos ? std::string() : whole.substr(lead);
        bool negative = d.negative && !all_zero(digits);
        std::string sign = negative ? "-" : "";
        std::string point = decimals ? std::string(1, decimal_point()) : std::string();
        text = sign + (whole.empty() ? "0" : whole) + point + fraction;
        if (text.size() > n && whole.empty() && decimals)
            text = sign + point + fraction; // "-.99" where "-0.99" does not fit
    }
    if (text.size() > n)
        return UNSUPPORTED;
    std::memcpy(f.address, text.data(), text.size());
    std::memset(f.address + text.size(), ' ', n - text.size());
    return OK;
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
    int scale = std::min(a.scale, b.scale);
    std::string da = aligned(a, 0, scale), db = aligned(b, 0, scale);
    auto strip = [](std::string& s) {
        size_t p = s.find_first_not_of('0');
        s = p == std::string::npos ? std::string() : s.substr(p);
    };
    strip(da);
    strip(db);
    bool na = a.negative && !da.empty(), nb = b.negative && !db.empty();
    if (na != nb)
        return na ? -1 : 1;
    int magnitude = da.size() != db.size() ? (da.size() < db.size() ? -1 : 1)
                                           : (da < db ? -1 : (da > db ? 1 : 0));
    return na ? -magnitude : magnitude;
}

} // namespace brelrt

int B4PgmPeriod(void) {
    const char* v = std::getenv("BRELRT_DECIMAL_POINT");
    return v && v[0] == ',' ? ',' : '.';
}

int brelrt_type_is_numeric(int type) {
    return (type >= 1 && type <= 14) || type == 23 || (type >= 30 && type <= 33);
}

namespace {

int convert(FieldDescriptor* dst, const FieldDescriptor* src) {
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
    if (!dst || !src || !dst->address || !src->address || dst->size < 0 || src->size < 0)
        return UNSUPPORTED;
    return brelrt::guarded(static_cast<int>(UNSUPPORTED), [&] { return convert(dst, src); });
}
