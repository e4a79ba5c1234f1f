// Shared inside libbrelrt only.
#pragma once

// Everything declared in the public header is exported; the rest is hidden.
#pragma GCC visibility push(default)
#include "brelrt.h"
#pragma GCC visibility pop

#include <cstdarg>

#include <string>
#include <utility>
#include <vector>

namespace brelrt {

// Formats into a std::string (vsnprintf, any length).
std::string vformat(const char* format, va_list args);
std::string format(const char* format, ...) BRELRT_PRINTF(1, 2);

// Value of an environment variable or "" when unset.
std::string env(const char* name);
bool env_set(const char* name);

// Yes/no parsing shared by configuration and the host's own variables:
// 1 yes, 0 no, -1 not a yes/no word.
int parse_yes_no(const std::string& text);
int parse_yes_no(const char* text); // allocates nothing

// Reports a problem of the host itself: trace at level 1, and standard error
// when trace is off.
void report(const std::string& line);

// True when `p` is a live block of the tracked allocator (every one has room
// for at least 16 bytes). Never dereferences a pointer it does not know.
bool tracked_block(const void* p);

// Compares the numeric value of a field with a numeric text: -1, 0, 1, or -2
// when either is not a valid number.
int compare_numeric(const FieldDescriptor& field, const char* literal);

// brelrt_config_number for the host's own use: a shortage throws.
long config_number(const char* name);

// The whole of a file into `text` (a shortage throws, never shortens it);
// false with errno set when it cannot be read.
bool read_whole_file(const std::string& path, std::string& text);

// The lines of a text, without their line ends (LF or CR LF).
std::vector<std::string> split_lines(const std::string& text);

// A shortage of memory inside a C entry: the file-error word becomes 14 and
// a fixed line goes to the trace. Allocates nothing, throws nothing.
void shortage() noexcept;

// Runs `body` so that no C++ exception leaves a C entry: an exception (a
// shortage of memory, std::bad_alloc, in practice) gives `failed` after
// shortage().
template <typename R, typename Body> R guarded(R failed, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        shortage();
        return failed;
    }
}

template <typename Body> void guarded_void(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
        shortage();
    }
}

} // namespace brelrt
