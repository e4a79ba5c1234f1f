// Shared inside libbrelrt only.
#pragma once

// Everything declared in the public header is exported; the rest is hidden.
#pragma GCC visibility push(default)
#include "brelrt.h"
#pragma GCC visibility pop

#include <cstdarg>

#include <string>

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

// Reports a problem of the host itself: trace at level 1, and standard error
// when trace is off.
void report(const std::string& line);

// True when `p` is a live block of the tracked allocator; its size in `*size`.
// Never dereferences a pointer it does not know.
bool tracked_block(const void* p, size_t* size);

// Compares the numeric value of a field with a numeric text: -1, 0, 1, or -2
// when either is not a valid number.
int compare_numeric(const FieldDescriptor& field, const char* literal);

} // namespace brelrt
