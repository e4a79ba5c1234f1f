#include "bxml/trace.h"

#include <brelrt.h>

#include <cstdarg>
#include <cstdio>

namespace bxml {

namespace {

void emit(int indent, int level, const char* format, va_list args) {
    char line[kTraceBufferSize];
    std::vsnprintf(line, sizeof line, format, args);
    brelrt_trace(indent, level, line);
}

} // namespace

int trace_level() {
    const int16_t* level = brelrt_trace_level();
    return level ? *level : 0;
}

void trace_enter(int level, const char* format, ...) {
    // Nothing is formatted for a line the host would not write.
    int on = trace_level();
    if (on == 0 || level > on)
        return;
    va_list args;
    va_start(args, format);
    emit(+1, level, format, args);
    va_end(args);
}

void trace_line(int level, const char* format, ...) {
    // Nothing is formatted for a line the host would not write.
    int on = trace_level();
    if (on == 0 || level > on)
        return;
    va_list args;
    va_start(args, format);
    emit(0, level, format, args);
    va_end(args);
}

void trace_leave(int level, const char* format, ...) {
    // Nothing is formatted for a line the host would not write.
    int on = trace_level();
    if (on == 0 || level > on)
        return;
    va_list args;
    va_start(args, format);
    emit(-1, level, format, args);
    va_end(args);
}

void fail_reason(const char* format, ...) {
    char line[kTraceBufferSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    brelrt_set_error_text(line);
    if (trace_level() != 0)
        brelrt_trace(0, kTraceFile, line);
}

void trace_hex(const void* data, size_t length) {
    if (!trace_on() || !data)
        return;
    brelrt_trace_hex(data, length);
}

char* format_bounded(char* out, size_t size, const char* format, ...) {
    if (!out || size == 0)
        return out;
    va_list args;
    va_start(args, format);
    std::vsnprintf(out, size, format, args);
    va_end(args);
    return out;
}

} // namespace bxml
