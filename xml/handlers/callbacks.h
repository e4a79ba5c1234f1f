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

// Destructor of the element-declaration table (frees names and models).
BrelrtHashDestructor models_table_destructor();

inline const char* safe_text(const char* text) {
    return text ? text : "(null)";
}

} // namespace bxml
