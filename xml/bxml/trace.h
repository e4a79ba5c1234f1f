// The trace convention of the plug-in: a traced routine opens with an entry
// line at indent +1 (its name and arguments), writes detail lines at indent 0
// and closes with a line at indent -1 that begins "Leaving".
//
// Detail levels: 1 file operations, 2 field writing and reading,
// 3 find_element, 4 same_array_signature, 6 parser creation and parsing
// steps, 7 entity and notation declarations, 8 start and end tags, attribute
// lists and external entities, 9 character data, comments, processing
// instructions, CDATA marks and unknown encodings, 10 element texts and
// content-model dumps.
//
// Every line is formatted into a 512-byte buffer (longer lines are cut) and
// handed to the host as plain text; the formats are always this library's
// own literals, document text only ever comes in as an argument. Nothing is
// formatted while the host's trace level is 0.
#pragma once

#include <brelrt.h>

#include <cstddef>

#if defined(__GNUC__)
#define BXML_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define BXML_PRINTF(f, a)
#endif

namespace bxml {

inline constexpr size_t kTraceBufferSize = 512;

enum TraceLevel {
    kTraceFile = 1,
    kTraceField = 2,
    kTraceFind = 3,
    kTraceSignature = 4,
    kTraceParse = 6,
    kTraceDeclaration = 7,
    kTraceTag = 8,
    kTraceData = 9,
    kTraceDump = 10,
};

// True while the host's trace level word is not 0; cheap enough to guard
// every trace call on a path taken per element or per field.
inline bool trace_on() {
    static const int16_t* word = brelrt_trace_level();
    return word && *word != 0;
}
// The host's trace level (0 when off).
int trace_level();

void trace_enter(int level, const char* format, ...) BXML_PRINTF(2, 3);
void trace_line(int level, const char* format, ...) BXML_PRINTF(2, 3);
void trace_leave(int level, const char* format, ...) BXML_PRINTF(2, 3);
// Hex dump of a byte range (only while trace is on).
void trace_hex(const void* data, size_t length);

// The reason of a failure: kept as the host's error text, where a runtime
// finds it to show its user, and traced at level 1. Formatted whether trace
// is on or not; only failures call it.
void fail_reason(const char* format, ...) BXML_PRINTF(1, 2);

// Formats into out (size bytes, always terminated, cut when too long);
// returns out. Used for every bounded message text.
char* format_bounded(char* out, size_t size, const char* format, ...) BXML_PRINTF(3, 4);

} // namespace bxml
