// Trace output and the error words.
#include "internal.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct TraceState {
    bool initialised = false;
    int16_t level = 0;
    int indent = 0;
    FILE* out = nullptr;
    bool own_file = false;
};

TraceState& state() {
    static TraceState s;
    return s;
}

// BRELRT_TRACE as a level word: a number, held within 0 to 32767 so that a
// large value never wraps round to a small or negative one.
int16_t level_from(const char* text) {
    if (!text)
        return 0;
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(text, &end, 10);
    if (end == text)
        return 0;
    if (n <= 0)
        return 0;
    return static_cast<int16_t>(std::min(n, 32767L));
}

void init() {
    TraceState& s = state();
    if (s.initialised)
        return;
    s.initialised = true;
    s.level = level_from(std::getenv("BRELRT_TRACE"));
    s.indent = 0;
}

FILE* out() {
    TraceState& s = state();
    if (!s.out) {
        const char* file = std::getenv("BRELRT_TRACE_FILE");
        if (file && *file) {
            s.out = std::fopen(file, "a");
            s.own_file = s.out != nullptr;
        }
        if (!s.out)
            s.out = stderr;
    }
    return s.out;
}

void write_raw(const char* text, size_t length) {
    FILE* f = out();
    std::fwrite(text, 1, length, f);
    std::fflush(f);
}

int16_t g_file_error = 0;
int32_t g_secondary_error = 0;
int32_t g_parse_error_code = 0;
char g_error_buffer[BRELRT_ERROR_TEXT_MAX + 1];
char* g_error_text = g_error_buffer;

} // namespace

namespace brelrt {

std::string vformat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, args);
    big.resize(static_cast<size_t>(n));
    return big;
}

std::string format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string s = vformat(format, args);
    va_end(args);
    return s;
}

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool env_set(const char* name) {
    return std::getenv(name) != nullptr;
}

void shortage() noexcept {
    *brelrt_file_error() = 14;
    brelrt_trace(0, 1, "brelrt: out of memory");
}

namespace {
bool g_report_to_stderr = true;
}

void report(const std::string& line) {
    if (*brelrt_trace_level() != 0) {
        brelrt_trace(0, 1, line.c_str());
        if (out() == stderr)
            return;
    }
    if (g_report_to_stderr)
        std::fprintf(stderr, "brelrt: %s\n", line.c_str());
}

} // namespace brelrt

int brelrt_report_to_stderr(int on) {
    bool was = brelrt::g_report_to_stderr;
    brelrt::g_report_to_stderr = on != 0;
    return was ? 1 : 0;
}

int16_t* brelrt_trace_level(void) {
    init();
    return &state().level;
}

void brelrt_trace(int indent, int level, const char* text) {
    init();
    TraceState& s = state();
    if (s.level == 0 || level > s.level)
        return;
    if (indent < 0 && s.indent > 0)
        --s.indent;
    // Written in pieces, so that tracing never allocates.
    FILE* f = out();
    static const char blanks[] = "                                ";
    for (size_t left = static_cast<size_t>(s.indent) * 2; left > 0;) {
        size_t n = std::min(left, sizeof blanks - 1);
        std::fwrite(blanks, 1, n, f);
        left -= n;
    }
    if (!text)
        text = "(null)";
    size_t length = std::strlen(text);
    std::fwrite(text, 1, length, f);
    if (length == 0 || text[length - 1] != '\n')
        std::fputc('\n', f);
    std::fflush(f);
    if (indent > 0)
        ++s.indent;
}

void brelrt_trace_printf(const char* format, ...) {
    init();
    if (state().level == 0 || !format)
        return;
    char buffer[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0)
        return;
    size_t length = std::min(static_cast<size_t>(n), sizeof buffer - 1);
    write_raw(buffer, length);
}

void brelrt_trace_hex(const void* data, size_t length) {
    init();
    if (state().level == 0 || !data)
        return;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t row = 0; row < length; row += 16) {
        char line[100];
        int pos = std::snprintf(line, sizeof line, "%06zx ", row);
        for (size_t i = 0; i < 16; ++i) {
            if (row + i < length)
                pos += std::snprintf(line + pos, sizeof line - static_cast<size_t>(pos), " %02X",
                                     bytes[row + i]);
            else
                pos += std::snprintf(line + pos, sizeof line - static_cast<size_t>(pos), "   ");
        }
        pos += std::snprintf(line + pos, sizeof line - static_cast<size_t>(pos), "  ");
        for (size_t i = 0; i < 16 && row + i < length; ++i) {
            unsigned char c = bytes[row + i];
            line[pos++] = (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
        }
        line[pos++] = '\n';
        write_raw(line, static_cast<size_t>(pos));
    }
}

void brelrt_trace_reset(void) {
    TraceState& s = state();
    if (s.own_file && s.out)
        std::fclose(s.out);
    s = TraceState();
}

int16_t* brelrt_file_error(void) {
    return &g_file_error;
}
int32_t* brelrt_secondary_error(void) {
    return &g_secondary_error;
}
int32_t* brelrt_parse_error_code(void) {
    return &g_parse_error_code;
}
char** brelrt_error_text(void) {
    return &g_error_text;
}

void brelrt_set_error_text(const char* text) {
    if (!text)
        text = "";
    size_t n = strnlen(text, BRELRT_ERROR_TEXT_MAX);
    std::memcpy(g_error_buffer, text, n);
    g_error_buffer[n] = '\0';
    g_error_text = g_error_buffer;
}
