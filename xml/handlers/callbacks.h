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

// The text of an element that ends: trailing blanks cut. False when the
// parser was stopped.
bool finish_text(XmlParser* parser, XmlElement* element);

// Destructor of the element-declaration table (frees names and models).
BrelrtHashDestructor models_table_destructor();

inline const char* safe_text(const char* text) {
    return text ? text : "(null)";
}

} // namespace bxml
