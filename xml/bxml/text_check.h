// Which bytes of a record's character data a document can carry: the text
// is in the document's encoding ("BXML_ENCODING", UTF-8 when unset), and
// XML 1.0 allows no control characters but tab, line feed and carriage
// return. NUL bytes (LOW-VALUES) count as blanks and pass.
#pragma once

#include <cstddef>

namespace bxml {

struct TextCheck {
    enum Kind { kUtf8, kAscii, kLatin1, kConverter } kind = kUtf8;
    void* converter = nullptr; // iconv_t from the encoding to UTF-8 (kConverter)
    char name[48] = {};        // the encoding as messages name it (cut)
};

// Prepares the check for `encoding` (null or empty: UTF-8). False when the
// encoding is unknown, or not one whose ASCII bytes mean ASCII (the markup
// is written in ASCII), so that no document could be written in it.
bool text_check_open(TextCheck& check, const char* encoding);
void text_check_close(TextCheck& check);

// The usual spelling of an encoding name given in another one ("UTF8":
// "UTF-8", "EUCJP": "EUC-JP"), for a message that refuses it; null when the
// name is no misspelling of one that is read and written.
const char* text_check_spelling(const char* encoding);

// The encoding as messages name it: its name, or "UTF-8 XML" when unset.
inline const char* text_check_name(const TextCheck& check) {
    return check.name[0] ? check.name : "UTF-8 XML";
}

// The offset of the first byte of data[0, length) that cannot be written,
// or `length` when every byte can.
size_t text_check_find_bad(TextCheck& check, const unsigned char* data, size_t length);

// What expat says of a whole document, decoding its declared encoding as
// the reader does: well-formed (kReadable), or not with expat's message
// and the offset of the byte it stopped at.
struct DocumentCheck {
    enum Verdict { kReadable, kNoMemory, kUnknownEncoding, kMalformed } verdict;
    const char* message; // expat's, for kMalformed
    size_t offset;       // where expat stopped, for kMalformed
};
DocumentCheck text_check_document(const char* data, size_t length);

} // namespace bxml
