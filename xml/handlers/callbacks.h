// The expat callbacks of the parser (registered by flag) and the memory
// functions expat allocates through.
#pragma once

#include "handlers/xml_parser.h"

#include <cstddef>

namespace bxml {

// Registers the callbacks that the parser's flags ask for.
void register_callbacks(XmlParser* parser);

// expat's memory suite: the host's tracked allocator ("EXPAT library memory").
void* expat_malloc(size_t size);
void* expat_realloc(void* block, size_t size);
void expat_free(void* block);

// A callback ran out of memory: file-error word 14, and expat is stopped so
// that no further callback works on a tree that lacks the element.
void stop_out_of_memory(XmlParser* parser);

// A callback met what a record file never holds (see BXML_DEPTH_MAX): file
// error 19 with `reason` as the error text, a trace line, and expat stopped.
void stop_refused(XmlParser* parser, const char* reason);

// One more declaration; false (the parser stopped) past BXML_DECLARATIONS_MAX.
bool count_declaration(XmlParser* parser);

// The text of an element that ends: trailing blanks cut (unless `trim` is
// false). False when the parser was stopped.
bool finish_text(XmlParser* parser, XmlElement* element, bool trim);

// A name whose elements the sequential reader keeps, and how many bytes of
// an element's text (as expat hands it over, UTF-8) it keeps.
struct KeepName {
    const char* name; // at most BRELRT_NAME_MAX bytes
    size_t text_max;
};

// Makes `parser` keep, of each record (the root's children), only what a
// record read can use, so that reading a record costs bounded memory
// whatever the document holds:
//   - below the record element, only elements named like one of `names`
//     (ASCII case ignored), and of those only the first `occurrences` of a
//     name under one parent; every other element is skipped with its whole
//     subtree;
//   - of an element's text, only the first text_max bytes of its name (0 for
//     names not listed); the rest is dropped, and the trailing blanks of a
//     text that lost more than blanks are kept;
//   - no attributes and no comments;
//   - a record of more than `elements` kept elements, or of more than `text`
//     bytes of kept text, is refused (19) like every other document limit.
// Names listed twice keep the larger text_max. False when out of memory.
bool xml_parser_keep_only(XmlParser* parser, const KeepName* names, size_t count,
                          uint32_t occurrences, size_t elements, size_t text);

// What the parser kept of the last record begun (nothing for a parser that
// keeps everything): its elements, those whose name an earlier kept element
// of the record had, and its elements in document order, each with its hash
// entry (valid until the next record begins).
// An element name the parser skipped below the record element, with its
// whole subtree: no item has the name, or it came past the layout's
// occurrences of the name under one parent.
struct SkippedName {
    char name[64]; // cut to 63 bytes
    size_t count;
    bool past_occurrences;
};
inline constexpr size_t kSkippedNamesKept = 4;

struct KeptRecord {
    size_t elements;
    size_t repeats;
    XmlElement* const* list;
    // The first kSkippedNamesKept names skipped (each once, with how many
    // times), and how many elements were skipped under other names.
    const SkippedName* skipped;
    size_t skipped_names;
    size_t skipped_others;
};
KeptRecord xml_parser_kept_record(const XmlParser* parser);

// Gives the parser's record back to its pool whole, for a reader whose
// every element of the record is listed (see give_back_listed); false
// (nothing done) otherwise, or when out of memory. The caller clears the
// element hash next.
bool xml_parser_give_back_kept(XmlParser* parser);

// Frees what xml_parser_keep_only made.
void xml_parser_keep_free(XmlParser* parser);

// Destructor of the element-declaration table (frees names and models).
BrelrtHashDestructor models_table_destructor();

inline const char* safe_text(const char* text) {
    return text ? text : "(null)";
}

} // namespace bxml
