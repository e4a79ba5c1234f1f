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
    kBadLength = BXML_FILE_BAD_LENGTH,
};

// Sets the file-error word. The secondary error says what caused the code
// (set_cause); clearing the word clears it too, so each file operation
// begins with neither.
inline void set_file_error(int16_t code) {
    if (int16_t* word = brelrt_file_error())
        *word = code;
    if (code == kNoError)
        if (int32_t* secondary = brelrt_secondary_error())
            *secondary = 0;
}

// The secondary error: the system's error number (errno) of the call that
// made an open, write or close fail; 0 when no system call failed; 5 with
// a parse error (set by the parser).
inline void set_cause(int error) {
    if (int32_t* secondary = brelrt_secondary_error())
        *secondary = error;
}

inline int16_t file_error() {
    const int16_t* word = brelrt_file_error();
    return word ? *word : 0;
}

} // namespace bxml
