#include "bxml/output.h"

#include "bxml/module.h"

#include <cstdarg>
#include <cstdio>

namespace bxml {

#define HERE kModuleBxml, __LINE__

bool out_grow(OutBuffer& out, size_t more) {
    if (out.failed)
        return false;
    size_t capacity = out.capacity ? out.capacity : 4096;
    while (capacity < out.length + more) {
        if (capacity > (static_cast<size_t>(-1) >> 2)) {
            out.failed = true;
            return false;
        }
        capacity *= 2;
    }
    void* p = out.data ? brelrt_realloc(out.data, capacity, HERE)
                       : brelrt_alloc(capacity, 0, HERE, "XML data to write");
    if (!p) {
        out.failed = true;
        return false;
    }
    out.data = static_cast<char*>(p);
    out.capacity = capacity;
    return true;
}

void out_free(OutBuffer& out) {
    brelrt_free(out.data, HERE);
    out = OutBuffer();
}

void out_blanks(OutBuffer& out, int count) {
    static const char blanks[] = "                                                  ";
    while (count > 0) {
        int n = count < static_cast<int>(sizeof blanks - 1) ? count : sizeof blanks - 1;
        out_put(out, blanks, static_cast<size_t>(n));
        count -= n;
    }
}

void out_printf(OutBuffer& out, const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof small) {
        out_put(out, small, static_cast<size_t>(n));
        return;
    }
    if (!out_grow(out, static_cast<size_t>(n) + 1))
        return;
    va_start(args, format);
    std::vsnprintf(out.data + out.length, static_cast<size_t>(n) + 1, format, args);
    va_end(args);
    out.length += static_cast<size_t>(n);
}

void out_escaped(OutBuffer& out, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        switch (text[i]) {
        case '<':
            out_put(out, "&lt;", 4);
            break;
        case '>':
            out_put(out, "&gt;", 4);
            break;
        case '&':
            out_put(out, "&amp;", 5);
            break;
        case '"':
            out_put(out, "&quot;", 6);
            break;
        case '\'':
            out_put(out, "&apos;", 6);
            break;
        default:
            out_char(out, text[i]);
        }
    }
}

} // namespace bxml
