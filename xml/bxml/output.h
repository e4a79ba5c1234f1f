// Growable output of the plug-in: a record is built here whole before it
// goes to the stream, and the DTD and the schema are generated into one.
// Storage comes from the host's tracked allocator ("XML data to write").
#pragma once

#include <brelrt.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "bxml/trace.h"

namespace bxml {

struct OutBuffer {
    char* data = nullptr;
    size_t length = 0;
    size_t capacity = 0;
    bool failed = false; // an append ran out of memory (the buffer is unchanged since)
};

// Makes room for `more` bytes; false (and `failed`) when out of memory.
bool out_grow(OutBuffer& out, size_t more);
void out_free(OutBuffer& out);

inline void out_put(OutBuffer& out, const char* text, size_t length) {
    if (out.length + length > out.capacity && !out_grow(out, length))
        return;
    std::memcpy(out.data + out.length, text, length);
    out.length += length;
}

inline void out_put(OutBuffer& out, const char* text) {
    out_put(out, text, std::strlen(text));
}

inline void out_char(OutBuffer& out, char c) {
    if (out.length + 1 > out.capacity && !out_grow(out, 1))
        return;
    out.data[out.length++] = c;
}

// `count` blanks: the indentation of an element by its level number.
void out_blanks(OutBuffer& out, int count);

// Formatted output; the format is always one of this library's literals.
void out_printf(OutBuffer& out, const char* format, ...) BXML_PRINTF(2, 3);

// Text as XML character data or attribute value: & < > " ' as entities.
void out_escaped(OutBuffer& out, const char* text, size_t length);
inline void out_escaped(OutBuffer& out, const char* text) {
    out_escaped(out, text, std::strlen(text));
}

// The fixed text of every item's element, made once when an output file is
// opened ("XML tags"): the start tag indented by the level number (a group's
// followed by its line break), then the end tag (a group's after the
// level's blanks) and its line break, with 16 spare bytes after the last
// (the writer copies 16 bytes at a time). And what the writer's walk asks
// of each item, so that it reads these alone: its first child and next
// sibling (as first_child() and next_sibling() find them), and where its
// storage ends.
struct ItemTags {
    uint32_t at;    // the start tag at text + at, the end tag right after it
    uint16_t start; // bytes of the start tag
    uint16_t end;   // bytes of the end tag
    int32_t first;  // the first child; -1 when none
    int32_t next;   // the next sibling; -1 when none
    int64_t offset; // where its storage begins
    int64_t limit;  // offset + size
};

struct Tags {
    ItemTags* items = nullptr; // one per item of the layout
    char* text = nullptr;
};

// False when out of memory (nothing is kept then).
bool tags_make(Tags& tags, const RecordLayout* layout);
void tags_free(Tags& tags);

} // namespace bxml
