#include "common/core/numtext.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Scans the number that starts at `pos` (no blanks skipped here). On success
// `ascii` holds it in the form from_chars reads (no '+', exponent as 'e') and
// `end` is the index after it. Returns false when no digit is found.
bool scanNumber(const QString& text, qsizetype pos, std::string& ascii, qsizetype& end) {
    const qsizetype n = text.size();
    qsizetype i = pos;
    ascii.clear();
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            ascii += '-';
        ++i;
    }
    bool anyDigit = false;
    while (i < n && isDigit(text[i])) {
        ascii += char(text[i].unicode());
        anyDigit = true;
        ++i;
    }
    if (i < n && text[i] == u'.') {
        ascii += '.';
        ++i;
        while (i < n && isDigit(text[i])) {
            ascii += char(text[i].unicode());
            anyDigit = true;
            ++i;
        }
    }
    if (!anyDigit)
        return false;
    if (i < n && (text[i] == u'E' || text[i] == u'e' || text[i] == u'D' || text[i] == u'd')) {
        qsizetype j = i + 1;
        std::string exponent = "e";
        if (j < n && (text[j] == u'+' || text[j] == u'-')) {
            if (text[j] == u'-')
                exponent += '-';
            ++j;
        }
        if (j < n && isDigit(text[j])) {
            while (j < n && isDigit(text[j])) {
                exponent += char(text[j].unicode());
                ++j;
            }
            ascii += exponent;
            i = j;
        }
    }
    end = i;
    return true;
}

double toDouble(const std::string& ascii) {
    double value = 0.0;
    const char* first = ascii.data();
    const char* last = first + ascii.size();
    // The sign is applied here; the body gets a leading 0 before a bare point.
    bool negative = false;
    if (first != last && *first == '-') {
        negative = true;
        ++first;
    }
    std::string body(first, last);
    if (!body.empty() && body[0] == '.')
        body.insert(body.begin(), '0');
    const auto result =
        std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Too small is zero; too large is no usable number either.
        return 0.0;
    }
    if (result.ec != std::errc() || !std::isfinite(value))
        return 0.0;
    return negative ? -value : value;
}

// Decimal digits of |v| rounded to `significant` digits: `digits` without
// trailing zeros (at least one digit), `exponent` the power of ten of the first.
void decimalDigits(double v, int significant, std::string& digits, int& exponent) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", significant - 1, std::fabs(v));
    // buffer: d.ddddde[+-]xx
    digits.clear();
    const char* p = buffer;
    for (; *p && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9')
            digits += *p;
    }
    exponent = (*p == 'e') ? std::atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
}

// The general form of a number given as digits and exponent: plain decimal
// for exponents from -4 to limit - 1, otherwise mantissa "E" sign exponent.
QString generalForm(bool negative, const std::string& digits, int exponent, int limit,
                    bool allowExponent = true) {
    std::string out;
    if (negative)
        out += '-';
    if (allowExponent && (exponent < -4 || exponent >= limit)) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1, std::string::npos);
        }
        out += 'E';
        out += exponent < 0 ? '-' : '+';
        std::string e = std::to_string(std::abs(exponent));
        if (e.size() < 2)
            e.insert(e.begin(), '0');
        out += e;
    } else if (exponent < 0) {
        out += "0.";
        out.append(std::size_t(-exponent - 1), '0');
        out += digits;
    } else {
        const std::size_t intDigits = std::size_t(exponent) + 1;
        if (digits.size() <= intDigits) {
            out += digits;
            out.append(intDigits - digits.size(), '0');
        } else {
            out.append(digits, 0, intDigits);
            out += '.';
            out.append(digits, intDigits, std::string::npos);
        }
    }
    return QString::fromLatin1(out.data(), qsizetype(out.size()));
}

QString nonFiniteText(double v) {
    if (std::isnan(v))
        return QStringLiteral("NaN");
    return v < 0 ? QStringLiteral("-Infinity") : QStringLiteral("Infinity");
}

QString numberText(double v, int significant, int limit, bool allowExponent = true) {
    if (!std::isfinite(v))
        return nonFiniteText(v);
    if (v == 0.0)
        return QStringLiteral("0");
    std::string digits;
    int exponent = 0;
    decimalDigits(v, significant, digits, exponent);
    return generalForm(v < 0, digits, exponent, limit, allowExponent);
}

// Rounds the decimal value 0.d1d2d3... x 10^(exponent + 1) half away from zero
// to `decimals` places and writes it with exactly that many decimals.
QString roundDecimal(bool negative, std::string digits, int exponent, int decimals) {
    // Number of leading digits that stay.
    const long keep = long(exponent) + 1 + decimals;
    if (keep < 0) {
        digits = "0";
        exponent = 0;
    } else if (keep < long(digits.size())) {
        const bool up = digits[std::size_t(keep)] >= '5';
        digits.resize(std::size_t(keep));
        if (up) {
            long i = keep - 1;
            for (; i >= 0; --i) {
                if (digits[std::size_t(i)] == '9') {
                    digits[std::size_t(i)] = '0';
                } else {
                    ++digits[std::size_t(i)];
                    break;
                }
            }
            if (i < 0) {
                digits.insert(digits.begin(), '1');
                ++exponent;
            }
        }
        if (digits.empty()) {
            digits = "0";
            exponent = 0;
        }
    }
    // Integer part and fraction of the rounded value.
    std::string intPart;
    std::string fraction;
    for (long pos = 0; pos < long(digits.size()); ++pos) {
        const long power = exponent - pos; // power of ten of this digit
        if (power >= 0)
            intPart += digits[std::size_t(pos)];
        else
            break;
    }
    if (exponent >= long(digits.size()))
        intPart.append(std::size_t(exponent + 1 - long(digits.size())), '0');
    if (intPart.empty())
        intPart = "0";
    // Strip leading zeros of the integer part (a rounding result may start with 0).
    while (intPart.size() > 1 && intPart[0] == '0')
        intPart.erase(intPart.begin());
    for (int d = 1; d <= decimals; ++d) {
        const long pos = long(exponent) + d; // index of the digit with power -d
        fraction += (pos >= 0 && pos < long(digits.size())) ? digits[std::size_t(pos)] : '0';
    }
    const bool zero = intPart == "0" && fraction.find_first_not_of('0') == std::string::npos;
    std::string out;
    if (negative && !zero)
        out += '-';
    out += intPart;
    if (decimals > 0) {
        out += '.';
        out += fraction;
    }
    return QString::fromLatin1(out.data(), qsizetype(out.size()));
}

int patternDecimals(const QString& pattern) {
    const qsizetype point = pattern.indexOf(u'.');
    if (point < 0)
        return 0;
    int count = 0;
    for (qsizetype i = point + 1; i < pattern.size(); ++i) {
        if (pattern[i] == u'0' || pattern[i] == u'#')
            ++count;
        else
            break;
    }
    return count;
}

QString formatWith(double v, int significant, const QString& pattern) {
    const int decimals = patternDecimals(pattern);
    if (!std::isfinite(v))
        return nonFiniteText(v);
    if (v == 0.0)
        return roundDecimal(false, "0", 0, decimals);
    std::string digits;
    int exponent = 0;
    decimalDigits(v, significant, digits, exponent);
    return roundDecimal(v < 0, digits, exponent, decimals);
}

} // namespace

double Val(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    std::string ascii;
    qsizetype end = 0;
    if (!scanNumber(text, i, ascii, end))
        return 0.0;
    return toDouble(ascii);
}

bool IsNumericText(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    std::string ascii;
    qsizetype end = 0;
    if (!scanNumber(text, i, ascii, end))
        return false;
    while (end < text.size() && isBlank(text[end]))
        ++end;
    return end == text.size();
}

bool IsDecimalField(const QString& text) {
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && blank(text[i]))
        ++i;
    if (i < n && text[i] == u'-')
        ++i;
    bool digit = false;
    bool point = false;
    for (; i < n && !blank(text[i]); ++i) {
        if (isDigit(text[i]))
            digit = true;
        else if (text[i] == u'.' && !point)
            point = true;
        else
            return false;
    }
    while (i < n && blank(text[i]))
        ++i;
    return digit && i == n;
}

double VbInt(double v) {
    return std::floor(v);
}

double RoundHalfEven(double v) {
    if (!std::isfinite(v))
        return v;
    const double lower = std::floor(v);
    const double diff = v - lower;
    if (diff < 0.5)
        return lower;
    if (diff > 0.5)
        return lower + 1.0;
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

QString Format(double v, const QString& pattern) {
    return formatWith(v, 15, pattern);
}

QString FormatSingle(float v, const QString& pattern) {
    return formatWith(double(v), 7, pattern);
}

QString SingleToText(float v) {
    return numberText(double(v), 7, 7);
}

QString DoubleToText(double v) {
    return numberText(v, 15, 15);
}

QString SingleToRoundTripText(float v) {
    if (!std::isfinite(v))
        return nonFiniteText(double(v));
    if (v == 0.0f)
        return QStringLiteral("0");
    // Shortest scientific text that reads back as the same float.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, std::fabs(v), std::chars_format::scientific);
    std::string digits;
    const char* p = buffer;
    for (; p != result.ptr && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9')
            digits += *p;
    }
    const int exponent = (p != result.ptr)
                             ? std::atoi(std::string(static_cast<const char*>(p + 1),
                                                     static_cast<const char*>(result.ptr))
                                             .c_str())
                             : 0;
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    return generalForm(v < 0, digits, exponent, 7);
}

QString CoordText(double v, bool* fits) {
    QString text = numberText(v, 15, 15, /*allowExponent=*/false);
    if (fits) {
        const qsizetype point = text.indexOf(u'.');
        *fits = (point < 0 ? text.size() : point) <= 8;
    }
    if (!text.contains(u'.'))
        text += u'.';
    text += QStringLiteral("000000");
    return text.left(8);
}

QString PointFieldText(const QString& formattedText, bool* fits) {
    if (fits) {
        const qsizetype point = formattedText.indexOf(u'.');
        *fits =
            (point < 0 ? formattedText.size() : point) <= (formattedText.startsWith(u'-') ? 9 : 8);
    }
    const QString padded = formattedText + QStringLiteral("000000");
    if (!padded.contains(u'-'))
        return u' ' + padded.left(8);
    return padded.left(9);
}
