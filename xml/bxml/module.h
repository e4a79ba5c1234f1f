// Module paths that tag every tracked allocation and free of the plug-in, and
// the few helpers every module shares.
#pragma once

#include "bxml32.h"

#include <brelrt.h>

namespace bxml {

inline constexpr const char* kModuleBxml = "xml/bxml";
inline constexpr const char* kModuleElements = "xml/elements";
inline constexpr const char* kModuleHandlers = "xml/handlers";
inline constexpr const char* kModuleParsexml = "xml/parsexml";

// The file-error word of the host: the codes bxml32.h lists.
enum FileError : int16_t {
    kNoError = 0,
    kEndOfFile = BXML_FILE_END_OF_FILE,
    kOutOfMemory = BXML_FILE_OUT_OF_MEMORY,
    kCannotOpen = BXML_FILE_CANNOT_OPEN,
    kNotSupported = BXML_FILE_NOT_SUPPORTED,
    kParseError = BXML_FILE_BAD_XML,
    kWriteFailed = BXML_FILE_WRITE_FAILED,
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
