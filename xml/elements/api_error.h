// The last-error words of the exported API, one for the element functions
// and one for the parser functions, with their common message table.
#pragma once

namespace bxml {

enum ApiError {
    kApiNoError = 0,
    kApiNoMemory = 1,
    kApiExpatError = 2, // never set here
    kApiCannotOpen = 3,
    kApiInvalidXml = 4,
    kApiBadParser = 5,
    kApiBadElement = 6,
    kApiBadAttribute = 7,
    kApiNoUrl = 8,
    kApiNoParser = 9, // never set here
    kApiNoChildren = 10,
    kApiNoSiblings = 11,
    kApiTopLevel = 12,
    kApiNoValue = 13,
    kApiNoAttributes = 14,
    kApiBadExpression = 15, // never set here
    kApiHasRoot = 16,
};

inline constexpr int kApiErrorCount = 17;

// The message of a code ("No error" ... ); codes out of range read as 0.
const char* api_message(int code);

// Process-wide, one caller at a time.
extern int g_element_error;
extern int g_parser_error;

// Sets the word and hands back `result`, for one-line returns.
template <typename T> T element_fails(int code, T result) {
    g_element_error = code;
    return result;
}
template <typename T> T parser_fails(int code, T result) {
    g_parser_error = code;
    return result;
}

} // namespace bxml
