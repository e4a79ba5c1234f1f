// Module paths that tag every tracked allocation and free of the plug-in, and
// the few helpers every module shares.
#pragma once

#include <brelrt.h>

namespace bxml {

inline constexpr const char* kModuleBxml = "xml/bxml";
inline constexpr const char* kModuleElements = "xml/elements";
inline constexpr const char* kModuleHandlers = "xml/handlers";
inline constexpr const char* kModuleParsexml = "xml/parsexml";

// The file-error word of the host (8 end of file, 14 out of memory, 15 input
// cannot be opened, 17 not supported, 19 XML parse error).
enum FileError : int16_t {
    kNoError = 0,
    kEndOfFile = 8,
    kOutOfMemory = 14,
    kCannotOpen = 15,
    kNotSupported = 17,
    kParseError = 19,
};

inline void set_file_error(int16_t code) {
    if (int16_t* word = brelrt_file_error())
        *word = code;
}

inline int16_t file_error() {
    const int16_t* word = brelrt_file_error();
    return word ? *word : 0;
}

} // namespace bxml
