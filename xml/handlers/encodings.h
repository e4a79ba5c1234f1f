// Encodings on the reading side. expat decodes UTF-8, UTF-16, ISO-8859-1
// and US-ASCII itself; Shift_JIS, CP932 and EUC-JP are decoded through the
// unknown-encoding callback with the tables here, and single-byte code
// pages (windows-1252, ISO-8859-15, ...) with a map made through iconv.
// expat hands every text over in UTF-8: the sequential reader turns element
// texts (and names) into the program's encoding (BXML_ENCODING), whatever
// the document's, so that a record written in that encoding comes back with
// the bytes it was written with.
#pragma once

#include "elements/xml_element.h"

#include <expat.h>

#include <cstddef>

namespace bxml {

enum class Encoding : unsigned char {
    kUtf8,     // no conversion
    kShiftJis, // Shift_JIS, SJIS
    kCp932,    // CP932, Windows-31J
    kEucJp,    // EUC-JP
    kOther,    // through iconv
};

// The encoding of a declared name (null or empty: UTF-8).
Encoding encoding_of(const char* name);

// Fills expat's description of an encoding expat does not know itself:
// Shift_JIS, CP932 and EUC-JP from the tables here, any single-byte code
// page through iconv. False for any other.
bool describe_encoding(const char* name, XML_Encoding* info);

// Converts UTF-8 text to a document encoding. Texts of plain ASCII are left
// as they are.
class TextEncoder {
public:
    TextEncoder() = default;
    TextEncoder(const TextEncoder&) = delete;
    TextEncoder& operator=(const TextEncoder&) = delete;
    ~TextEncoder() { close(); }

    // Prepares the conversion into `name`; false when iconv does not know it
    // (texts then stay UTF-8).
    bool open(const char* name);
    void close();
    Encoding encoding() const { return encoding_; }

    // How trailing blanks of a text in this encoding look.
    Blanks blanks() const;

    // Converts `data` (UTF-8, `length` bytes) into `text`; characters the
    // encoding cannot carry become "?" and are counted (lost()). False when
    // out of memory.
    bool encode(const char* data, size_t length, BrelrtText* text);

    // Characters that became "?" so far.
    size_t lost() const { return lost_; }

private:
    Encoding encoding_ = Encoding::kUtf8;
    void* converter_ = nullptr; // iconv_t, for kOther
    size_t lost_ = 0;
};

// True when `data` holds a byte above 0x7F.
bool has_high_bytes(const char* data, size_t length);

} // namespace bxml
