// Shift-JIS double-byte tests and name conversion.
#include "internal.h"

#include <cstdlib>
#include <cstring>

int brelrt_dbcs_active(void) {
    const char* v = std::getenv("BRELRT_DOUBLE_BYTE");
    return v && brelrt::parse_yes_no(v) == 1;
}

int brelrt_dbcs_is_lead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

int brelrt_dbcs_is_trail(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

int brelrt_dbcs_is_blank(unsigned char lead, unsigned char trail) {
    return lead == 0x81 && trail == 0x40;
}

int brelrt_name_convert(char* name, int length, int mode) {
    return brelrt_name_convert_dbcs(name, length, mode, brelrt_dbcs_active());
}

int brelrt_name_convert_dbcs(char* name, int length, int mode, int dbcs) {
    if (mode != BRELRT_NAME_LOWER && mode != BRELRT_NAME_UNDERSCORE)
        return -1;
    if (!name)
        return 0;
    size_t n = length == BRELRT_NAME_ZERO_TERMINATED ? std::strlen(name)
               : length < 0                          ? 0
                                                     : static_cast<size_t>(length);
    for (size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(name[i]);
        if (dbcs && brelrt_dbcs_is_lead(c) && i + 1 < n &&
            brelrt_dbcs_is_trail(static_cast<unsigned char>(name[i + 1]))) {
            ++i; // the pair stays as it is
            continue;
        }
        if (mode == BRELRT_NAME_LOWER && c >= 'A' && c <= 'Z')
            name[i] = static_cast<char>(c - 'A' + 'a');
        else if (mode == BRELRT_NAME_UNDERSCORE && c == '-')
            name[i] = '_';
    }
    return static_cast<int>(n);
}

int brelrt_name_compare(const char* a, const char* b, int ignore_case) {
    if (!a || !b)
        return a == b ? 0 : (a ? 1 : -1);
    if (!ignore_case)
        return std::strcmp(a, b);
    for (;; ++a, ++b) {
        int ca = static_cast<unsigned char>(*a);
        int cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z')
            ca += 'a' - 'A';
        if (cb >= 'A' && cb <= 'Z')
            cb += 'a' - 'A';
        if (ca != cb || !ca)
            return ca - cb;
    }
}
