// The expat callbacks: tags build the element tree, character data becomes
// element text, comments are kept for the next element, declarations are
// kept or traced.
#include "handlers/callbacks.h"

#include "bxml/module.h"
#include "bxml/trace.h"
#include "handlers/encodings.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>

using namespace bxml;

// What the sequential reader keeps (xml_parser_keep_only).
struct XmlKeep {
    struct Name {
        char text[BRELRT_NAME_MAX + 1]; // lower case (ASCII); "" in a free slot
        size_t length;
        size_t hash;
        size_t text_max;
    };
    // The element open at each depth: the bytes of text it keeps, and what
    // it dropped.
    struct Level {
        size_t text_max;
        size_t dropped;
        bool nonblank; // a dropped character was no blank
    };

    // The kept names: an open-addressing table, at most half full.
    Name* names;
    size_t capacity; // a power of two
    size_t used;
    uint32_t occurrences;
    size_t elements_max;
    size_t text_max;
    // The record being read: its number (from 1), the elements and bytes of
    // text kept so far, the elements skipped, and the kept elements whose
    // name an earlier kept element of the record had.
    unsigned long record;
    size_t elements;
    size_t text;
    size_t skipped;
    size_t repeats;
    // The record's kept elements in document order (`elements` of them,
    // each with its hash entry), in a block kept for the next record.
    XmlElement** list;
    size_t list_capacity;
    // Elements made below the root, and of them those listed in `list`,
    // since the parser last gave its record back.
    size_t created;
    size_t listed;
    // The depth of the element skipped with its subtree; 0 while none is.
    int32_t skip_from;
    // Whether expat reports character data now (see want_text).
    bool text_on;
    // The names skipped in the record being read.
    bxml::SkippedName skipped_names[bxml::kSkippedNamesKept];
    size_t skipped_kinds;
    size_t skipped_others;
    char refusal[160];
    Level levels[BXML_DEPTH_MAX + 1];
};

namespace {

#define HERE kModuleHandlers, __LINE__

// Content models nested deeper than this are not dumped further.
constexpr int kModelDumpDepth = 32;
constexpr size_t kModelBuckets = 61;

// A kept name in the document's encoding holds at most BRELRT_NAME_MAX bytes,
// each from at most 4 bytes of UTF-8: a longer name is skipped unconverted.
constexpr size_t kKeptNameUtf8Max = 4 * BRELRT_NAME_MAX;

XmlParser* parser_of(void* arg) {
    return static_cast<XmlParser*>(arg);
}

// A byte below 128 that isspace accepts.
bool is_blank(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// `text` (UTF-8) in the program's encoding, in a new text; null when out
// of memory (the parser is stopped then).
BrelrtText* in_document_encoding(XmlParser* p, const char* data, size_t length,
                                 const char* description) {
    BrelrtText* fresh = brelrt_text_new(HERE, description);
    if (!fresh || !static_cast<TextEncoder*>(p->encoder)->encode(data, length, fresh)) {
        brelrt_text_free(fresh, HERE);
        stop_out_of_memory(p);
        return nullptr;
    }
    return fresh;
}

bool converts(const XmlParser* p) {
    return p->converting;
}

// Moves the pending comments onto `e`; false when out of memory.
bool attach_pending_comments(XmlParser* p, XmlElement* e) {
    if (!p->pending_comments || brelrt_text_length(p->pending_comments) == 0)
        return true;
    if (!append_comments(e, brelrt_text_data(p->pending_comments),
                         brelrt_text_length(p->pending_comments)))
        return false;
    brelrt_text_truncate(p->pending_comments, 0);
    return true;
}

bool append_to(BrelrtText** text, const char* description, const char* data, size_t length) {
    if (!*text) {
        *text = brelrt_text_new(HERE, description);
        if (!*text)
            return false;
    }
    return brelrt_text_append(*text, data, length);
}

// Per byte of `name`: 1 an upper-case letter, 2 "-". The host conversions
// change only these: names without them (what this library writes) are
// left as they are without a call.
unsigned changed_bytes(const char* name) {
    static constexpr auto kChanged = [] {
        std::array<uint8_t, 256> bits{};
        for (int c = 'A'; c <= 'Z'; ++c)
            bits[c] = 1;
        bits['-'] = 2;
        return bits;
    }();
    unsigned found = 0;
    for (const auto* c = reinterpret_cast<const unsigned char*>(name); *c; ++c)
        found |= kChanged[*c];
    return found;
}

// Normalises `name` by the case mode; false when it held an upper-case
// letter (it may still, after the conversion: the trail byte of a
// double-byte pair stays as it is).
bool normalise(char* name, const XmlParser* p) {
    unsigned found = changed_bytes(name);
    switch (p->flags & BXML_CASE_MASK) {
    case BXML_CASE_FOLD:
        if (!found)
            break;
        brelrt_name_convert_dbcs(name, BRELRT_NAME_ZERO_TERMINATED, BRELRT_NAME_LOWER, p->dbcs);
        brelrt_name_convert_dbcs(name, BRELRT_NAME_ZERO_TERMINATED, BRELRT_NAME_UNDERSCORE,
                                 p->dbcs);
        break;
    case BXML_CASE_UNDERSCORE:
        if (found & 2)
            brelrt_name_convert_dbcs(name, BRELRT_NAME_ZERO_TERMINATED, BRELRT_NAME_UNDERSCORE,
                                     p->dbcs);
        break;
    default:
        break;
    }
    return !(found & 1);
}

// `name` (`length` bytes) normalised by the case mode into `out`, with a
// zero after it; false when it held an upper-case letter (see normalise).
// Without double-byte text the host's conversions change single bytes:
// they are made here in the same pass as the copy.
bool copy_normalised(char* out, const char* name, size_t length, const XmlParser* p) {
    unsigned mode = p->flags & BXML_CASE_MASK;
    if (p->dbcs && mode != BXML_CASE_KEEP) {
        std::memcpy(out, name, length);
        out[length] = '\0';
        return normalise(out, p);
    }
    static constexpr auto kFolded = [] {
        std::array<char, 256> map{};
        for (int c = 0; c < 256; ++c)
            map[c] = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c == '-' ? '_' : c);
        return map;
    }();
    const auto* in = reinterpret_cast<const unsigned char*>(name);
    bool upper = false;
    if (mode == BXML_CASE_FOLD) {
        for (size_t i = 0; i < length; ++i)
            out[i] = kFolded[in[i]];
    } else {
        for (size_t i = 0; i < length; ++i) {
            unsigned char c = in[i];
            upper = upper || (c >= 'A' && c <= 'Z');
            out[i] = static_cast<char>(c == '-' && mode == BXML_CASE_UNDERSCORE ? '_' : c);
        }
    }
    out[length] = '\0';
    return !upper;
}

// ---- what the sequential reader keeps

// `name` in lower case (ASCII) into `folded` (BRELRT_NAME_MAX + 1 bytes, a
// name no longer than that); its hash.
size_t fold(const char* name, size_t length, char* folded) {
    for (size_t i = 0; i < length; ++i) {
        char c = name[i];
        folded[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    folded[length] = '\0';
    return brelrt_hash_text(folded, length);
}

// The slot of a folded name in the table of kept names: its own, or the
// free one where it would go.
XmlKeep::Name* name_slot(XmlKeep* keep, const char* folded, size_t length, size_t hash) {
    XmlKeep::Name* slots = keep->names;
    for (size_t i = hash & (keep->capacity - 1);; i = (i + 1) & (keep->capacity - 1)) {
        XmlKeep::Name& slot = slots[i];
        if (!slot.text[0] || (slot.hash == hash && slot.length == length &&
                              std::memcmp(slot.text, folded, length) == 0))
            return &slot;
    }
}

// The kept name `name` is (ASCII case ignored), null when none. `lower`:
// the name holds no upper-case letter, and `hash` is its hash.
const XmlKeep::Name* kept_name(XmlKeep* keep, const char* name, size_t length, bool lower,
                               size_t hash) {
    if (length > BRELRT_NAME_MAX || !keep->capacity)
        return nullptr;
    char folded[BRELRT_NAME_MAX + 1];
    if (!lower) {
        hash = fold(name, length, folded);
        name = folded;
    }
    const XmlKeep::Name* slot = name_slot(keep, name, length, hash);
    return slot->text[0] ? slot : nullptr;
}

// Refuses the record being read for passing a bound of XmlKeep.
void refuse_record(XmlParser* p, const char* what, size_t bound, const char* name) {
    XmlKeep* keep = p->keep;
    format_bounded(keep->refusal, sizeof keep->refusal,
                   "record %lu holds more than %zu %s (at %.40s)", keep->record, bound, what, name);
    stop_refused(p, keep->refusal);
}

// Lists a kept element, in the hash already, for the record's reader
// (`repeat`: its name was had by an earlier one); false when out of memory.
bool keep_element(XmlParser* p, XmlElement* e, bool repeat) {
    XmlKeep* keep = p->keep;
    size_t at = keep->elements - 1; // elements counts this one already
    if (at >= keep->list_capacity) {
        size_t capacity = keep->list_capacity ? 2 * keep->list_capacity : 64;
        void* grown = keep->list ? brelrt_realloc(keep->list, capacity * sizeof(XmlElement*), HERE)
                                 : brelrt_alloc(capacity * sizeof(XmlElement*), 0, HERE,
                                                "XML record entries");
        if (!grown)
            return false;
        keep->list = static_cast<XmlElement**>(grown);
        keep->list_capacity = capacity;
    }
    keep->list[at] = e;
    keep->repeats += repeat;
    ++keep->listed;
    return true;
}

void XMLCALL start_element(void* arg, const XML_Char* name, const XML_Char** attributes);
void XMLCALL end_element(void* arg, const XML_Char* name);
void XMLCALL character_data(void* arg, const XML_Char* data, int length);

// Character data reaches the reader only while the open element keeps
// text: expat is not asked to report the blanks between the elements of a
// group, nor anything inside a skipped element.
void want_text(XmlParser* p, bool on) {
    XmlKeep* keep = p->keep;
    on = on && (p->flags & BXML_CHARACTER_DATA);
    if (keep->text_on != on) {
        keep->text_on = on;
        XML_SetCharacterDataHandler(p->expat, on ? character_data : nullptr);
    }
}

// The open element keeps text.
bool keeps_text(const XmlParser* p) {
    return p->depth >= 1 && p->keep->levels[p->depth].text_max > 0;
}

// One more open element, its name of `length` bytes, within the limits of
// nesting and of the names expat keeps; false (the parser stopped) past
// them.
bool open_element(XmlParser* p, size_t length) {
    if (p->depth >= BXML_DEPTH_MAX) {
        stop_refused(p, "element nesting deeper than 1024 levels");
        return false;
    }
    p->open_names += length;
    if (p->open_names > BXML_OPEN_NAMES_MAX) {
        stop_refused(p, "names of open elements longer than 1 MB in all");
        return false;
    }
    return true;
}

void close_element(XmlParser* p, const char* name) {
    size_t length = std::strlen(name);
    p->open_names -= length < p->open_names ? length : p->open_names;
}

// Inside a skipped element only the depth is followed, by these handlers.
void XMLCALL skipped_start(void* arg, const XML_Char* name, const XML_Char**) {
    XmlParser* p = parser_of(arg);
    if (trace_on())
        trace_line(kTraceTag, "start_element: '%s' skipped", name);
    if (!open_element(p, std::strlen(name)))
        return;
    ++p->depth;
    ++p->keep->skipped;
}

void XMLCALL skipped_end(void* arg, const XML_Char* name) {
    XmlParser* p = parser_of(arg);
    close_element(p, name);
    XmlKeep* keep = p->keep;
    if (p->depth-- == keep->skip_from) {
        keep->skip_from = 0;
        XML_SetElementHandler(p->expat, start_element, end_element);
        want_text(p, keeps_text(p));
    }
}

// Notes the name of an element skipped below the record element, for the
// reader to say what it passed over.
void note_skipped(XmlKeep* keep, const char* name, size_t length, bool past_occurrences) {
    size_t n = length < sizeof keep->skipped_names[0].name ? length
                                                           : sizeof keep->skipped_names[0].name - 1;
    for (size_t k = 0; k < keep->skipped_kinds; ++k) {
        SkippedName& s = keep->skipped_names[k];
        if (s.past_occurrences == past_occurrences && std::strncmp(s.name, name, n) == 0 &&
            s.name[n] == '\0') {
            ++s.count;
            return;
        }
    }
    if (keep->skipped_kinds == kSkippedNamesKept) {
        ++keep->skipped_others;
        return;
    }
    SkippedName& s = keep->skipped_names[keep->skipped_kinds++];
    std::memcpy(s.name, name, n);
    s.name[n] = '\0';
    s.count = 1;
    s.past_occurrences = past_occurrences;
}

// The element that starts is skipped with its subtree.
void skip_element(XmlParser* p, const char* why) {
    XmlKeep* keep = p->keep;
    ++p->depth;
    ++keep->skipped;
    keep->skip_from = p->depth;
    XML_SetElementHandler(p->expat, skipped_start, skipped_end);
    want_text(p, false);
    if (trace_on())
        trace_leave(kTraceTag, "Leaving, skipped (%s)", why);
}

// True when a dropped piece of text holds something that trimming keeps:
// a byte that is no ASCII blank, or a double-byte blank (U+3000) where the
// document's encoding has none that trimming knows.
bool holds_nonblank(const XmlParser* p, const char* data, size_t length) {
    bool wide = p->blanks != static_cast<uint8_t>(Blanks::kAscii);
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    for (size_t i = 0; i < length; ++i) {
        if (is_blank(s[i]))
            continue;
        if (wide && s[i] == 0xE3 && i + 2 < length && s[i + 1] == 0x80 && s[i + 2] == 0x80) {
            i += 2;
            continue;
        }
        return true;
    }
    return false;
}

// Character data of a kept element: the first text_max bytes (never part of
// a character), the rest counted and dropped. Whether the dropped bytes
// were all blanks decides the trimming at the end: the text comes out as
// the whole text would have given the field. False when the parser was
// stopped.
bool keep_text(XmlParser* p, XmlElement* e, const char* data, size_t length) {
    XmlKeep* keep = p->keep;
    XmlKeep::Level& level = keep->levels[p->depth];
    if (!level.text_max) // a group's: no item takes it
        return true;
    if (!element_text(e) && !p->keep_leading)
        while (length && is_blank(static_cast<unsigned char>(*data))) {
            ++data;
            --length;
        }
    size_t have = text_length(e);
    size_t take = 0;
    if (!level.dropped && have < level.text_max) {
        take = level.text_max - have < length ? level.text_max - have : length;
        if (take < length)
            while (take && (static_cast<unsigned char>(data[take]) & 0xC0) == 0x80)
                --take;
    }
    if (take) {
        if (keep->text + take > keep->text_max) {
            refuse_record(p, "bytes of text", keep->text_max, e->name);
            return false;
        }
        if (!append_text(e, data, take, !p->keep_leading)) {
            stop_out_of_memory(p);
            return false;
        }
        keep->text += take;
    }
    if (take < length) {
        level.dropped += length - take;
        if (!level.nonblank)
            level.nonblank = holds_nonblank(p, data + take, length - take);
    }
    return true;
}

// ---- tags

// Adds the element's hash entry: 1 under a new name, 2 at the end of its
// name's chain; 0 when out of memory (the entry is then given back, the
// element keeps none).
int add_to_hash(XmlParser* p, XmlElement* e, ElementHashEntry* entry, size_t hash) {
    if (trace_on()) {
        if (brelrt_hash_find(p->elements, entry->name))
            trace_line(kTraceTag, "Adding element %s to an existing hash", entry->name);
        else
            trace_line(kTraceTag, "Adding element %s to the hash", entry->name);
    }
    int added = brelrt_hash_add_hashed(p->elements, entry->name, hash, entry);
    if (!added) {
        free_hash_entry(entry);
        return 0;
    }
    e->hash_entry = entry;
    return added;
}

void no_memory_for_element(XmlParser* p) {
    stop_out_of_memory(p);
    trace_leave(kTraceTag, "Leaving, no memory for element info");
}

// The name of a starting element as it is kept: in the document's encoding
// for the reader (names as the layout spells them), normalised by the case
// mode. Short names stay in the object, longer ones in a block of their own.
class ElementName {
public:
    ElementName() = default;
    ElementName(const ElementName&) = delete;
    ElementName& operator=(const ElementName&) = delete;
    ~ElementName() {
        if (block_)
            brelrt_free(block_, HERE);
    }

    // False when out of memory (the parser is stopped then).
    bool make(XmlParser* p, const char* name, size_t length) {
        BrelrtText* converted = nullptr;
        if (converts(p) && has_high_bytes(name, length)) {
            converted = in_document_encoding(p, name, length, "XML element name");
            if (!converted)
                return false;
            name = brelrt_text_data(converted);
            length = brelrt_text_length(converted);
        }
        char* out = small_;
        if (length >= sizeof small_)
            out = block_ =
                static_cast<char*>(brelrt_alloc(length + 1, 0, HERE, "XML element name"));
        if (out) {
            lower = copy_normalised(out, name, length, p);
            data = out;
            this->length = length;
        }
        if (converted)
            brelrt_text_free(converted, HERE);
        return out != nullptr;
    }

    const char* data = nullptr;
    size_t length = 0;
    bool lower = false; // no upper-case letter in it

private:
    char small_[256];
    char* block_ = nullptr;
};

const char kNotInLayout[] = "not in the layout";

// For the sequential reader, below the record element: why the element
// named `name` is skipped, or null when it is kept, with the bytes of its
// text kept in *text_max.
//
// Of a name under one parent the first `occurrences` elements are kept: one
// more than the layout's largest OCCURS count M, and at least 2. A later one
// would carry an occurrence number above M, which no item has, so
// same_array_signature accepts neither it nor anything inside it (their
// numbers hold it, or all 20 places, more than an item has), and it is
// skipped unmade with its subtree. The elements kept get the numbers they
// always had: the later ones of the name are all skipped, and the first
// gets its 1 when the second comes. And a name that had two or more
// elements under the parent still has two or more, so find_element takes
// the same road for it. Records of documents without such elements, and
// without elements of names no item has, read as before.
const char* skip_reason(XmlParser* p, const ElementName& n, size_t hash, size_t* text_max) {
    const XmlKeep::Name* kept = kept_name(p->keep, n.data, n.length, n.lower, hash);
    if (!kept)
        return kNotInLayout;
    // A parent of fewer children than that has fewer of the name.
    XmlElement* parent = p->current_element;
    uint32_t most = p->keep->occurrences;
    if (parent && count_children_named(parent, n.data, n.length, hash) >= most)
        return "past the occurrences of the layout";
    *text_max = kept->text_max;
    return nullptr;
}

void XMLCALL start_element(void* arg, const XML_Char* name, const XML_Char** attributes) {
    XmlParser* p = parser_of(arg);
    if (trace_on()) {
        bool with = attributes && attributes[0];
        trace_enter(kTraceTag, "start_element: '%s' %s attributes", name,
                    with ? "with" : "without");
        for (const XML_Char** a = attributes; a && a[0]; a += 2)
            trace_line(kTraceTag, " '%s': '%s'", a[0], safe_text(a[1]));
    }
    size_t raw_length = std::strlen(name);
    if (!open_element(p, raw_length)) {
        trace_leave(kTraceTag, "Leaving, document refused");
        return;
    }
    // Matched by the local name: "p:inv" is "inv" (open_element counted the
    // qualified name, which close_element counts off again).
    if (p->flags & BXML_LOCAL_NAMES) {
        if (const char* colon = std::strchr(name, ':')) {
            raw_length -= static_cast<size_t>(colon + 1 - name);
            name = colon + 1;
        }
    }
    XmlKeep* keep = p->keep;
    // The reader skips what lies below the record element and no item uses.
    bool below_record = keep && p->depth >= 2;
    if (below_record && raw_length > kKeptNameUtf8Max) {
        note_skipped(keep, name, raw_length, false);
        skip_element(p, "not in the layout");
        return;
    }
    ElementName n;
    if (!n.make(p, name, raw_length)) {
        no_memory_for_element(p);
        return;
    }
    size_t hash = brelrt_hash_text(n.data, n.length);
    size_t text_max = 0;
    if (below_record) {
        if (const char* why = skip_reason(p, n, hash, &text_max)) {
            note_skipped(keep, n.data, n.length, why != kNotInLayout);
            skip_element(p, why);
            return;
        }
    } else if (keep) {
        const XmlKeep::Name* kept = kept_name(keep, n.data, n.length, n.lower, hash);
        text_max = kept ? kept->text_max : 0;
        if (p->depth == 1) { // a record begins
            ++keep->record;
            keep->elements = keep->text = keep->skipped = keep->repeats = 0;
            keep->skipped_kinds = keep->skipped_others = 0;
        }
    }
    if (keep && p->depth >= 1 && ++keep->elements > keep->elements_max) {
        refuse_record(p, "elements", keep->elements_max, n.data);
        trace_leave(kTraceTag, "Leaving, record too large");
        return;
    }
    ++p->depth;
    XmlElement* e = create_element(n.data, n.length, hash, p->current_element, nullptr, &p->pool);
    if (!e) {
        no_memory_for_element(p);
        return;
    }
    // Part of the tree from here on, so it is freed with it whatever follows.
    if (!p->root)
        p->root = e->self;
    if (keep && e->up)
        ++keep->created;
    p->current = e->self;
    p->current_element = e;
    if (keep) {
        keep->levels[p->depth] = XmlKeep::Level{text_max, 0, false};
        want_text(p, text_max > 0);
    }

    bool ok = true;
    for (const XML_Char** a = attributes; ok && !keep && a && a[0]; a += 2) {
        const char* value = a[1] ? a[1] : "";
        ok = add_attribute(e, a[0], value, std::strlen(value));
    }
    if (!ok || (p->pending_comments && !attach_pending_comments(p, e))) {
        no_memory_for_element(p);
        return;
    }
    if (p->elements) {
        ElementHashEntry* entry = new_hash_entry(&p->pool, e);
        int added = entry ? add_to_hash(p, e, entry, hash) : 0;
        if (!added) {
            stop_out_of_memory(p);
            trace_leave(kTraceTag, "Leaving, no memory for hash");
            return;
        }
        if (keep && !keep_element(p, e, added == 2)) {
            stop_out_of_memory(p);
            trace_leave(kTraceTag, "Leaving, out of memory");
            return;
        }
    }
    if (trace_on())
        trace_leave(kTraceTag, "Leaving");
}

// The end of a kept element's text for the reader: trimmed unless it lost
// more than blanks, the cut traced once.
bool finish_kept_text(XmlParser* p, XmlElement* e) {
    const XmlKeep::Level& level = p->keep->levels[p->depth];
    if (level.dropped && trace_on())
        trace_line(kTraceField, "text of %s: %zu bytes kept, %zu dropped", e->name, text_length(e),
                   level.dropped);
    return !element_text(e) || finish_text(p, e, !(level.dropped && level.nonblank));
}

void XMLCALL end_element(void* arg, const XML_Char* name) {
    XmlParser* p = parser_of(arg);
    if (trace_on())
        trace_enter(kTraceTag, "end_element: '%s'", name);
    if (p->depth == 0) {
        trace_leave(kTraceTag, "Leaving, element depth == 0");
        return;
    }
    close_element(p, name);
    XmlKeep* keep = p->keep;
    if (XmlElement* e = p->current_element) {
        if (p->pending_comments && !attach_pending_comments(p, e)) {
            stop_out_of_memory(p);
            trace_leave(kTraceTag, "Leaving, out of memory");
            return;
        }
        if (!(keep ? finish_kept_text(p, e) : !element_text(e) || finish_text(p, e, true))) {
            trace_leave(kTraceTag, "Leaving, text refused");
            return;
        }
        if (element_text(e) && trace_on() && trace_level() >= kTraceDump)
            trace_line(kTraceDump, "text: '%s'", element_text(e));
        p->current = parent_handle(e);
        p->current_element = e->up;
    }
    --p->depth;
    if (keep) {
        want_text(p, keeps_text(p));
        if (p->depth == 1 && keep->skipped && trace_on())
            trace_line(kTraceField, "record %lu: %zu elements skipped (no item uses them)",
                       keep->record, keep->skipped);
    }
    // A record (or the root element) is complete: the reader takes it now.
    if (p->records && p->depth <= 1)
        XML_StopParser(p->expat, XML_TRUE);
    if (trace_on())
        trace_leave(kTraceTag, "Leaving");
}

// ---- character data, comments, processing instructions

void XMLCALL character_data(void* arg, const XML_Char* data, int length) {
    XmlParser* p = parser_of(arg);
    bool tracing = trace_on();
    if (tracing) {
        trace_enter(kTraceData, "char data of length %d", length);
        if (trace_level() > 8)
            trace_hex(data, static_cast<size_t>(length));
    }
    XmlElement* e = length > 0 ? p->current_element : nullptr;
    if (e && p->keep) {
        if (!keep_text(p, e, data, static_cast<size_t>(length))) {
            trace_leave(kTraceData, "Leaving, text refused");
            return;
        }
    } else if (e && !append_text(e, data, static_cast<size_t>(length))) {
        stop_out_of_memory(p);
        trace_leave(kTraceData, "Leaving, out of memory");
        return;
    }
    if (tracing)
        trace_leave(kTraceData, "Leaving");
}

void XMLCALL comment(void* arg, const XML_Char* data) {
    XmlParser* p = parser_of(arg);
    trace_enter(kTraceData, "comments:");
    trace_line(kTraceData, "%s", safe_text(data));
    if (p->keep) {
        trace_leave(kTraceData, "Leaving, not kept");
        return;
    }
    size_t length = data ? std::strlen(data) : 0;
    // Comments waiting for their element count with the tree.
    bool ok =
        store_has_room(&p->pool, brelrt_text_length(p->pending_comments) +
                                     brelrt_text_length(p->top_comments) + length) &&
        (p->current ? append_to(&p->pending_comments, "XML Comments for element", data, length)
                    : append_to(&p->top_comments, "XML Comments at top level", data, length));
    if (!ok) {
        stop_out_of_memory(p);
        trace_leave(kTraceData, "Leaving, out of memory");
        return;
    }
    trace_leave(kTraceData, "Leaving");
}

void XMLCALL processing_instruction(void*, const XML_Char* target, const XML_Char* data) {
    trace_enter(kTraceData, "processing instruction: '%s' '%s'", safe_text(target),
                safe_text(data));
    trace_leave(kTraceData, "Leaving");
}

void XMLCALL start_cdata(void*) {
    trace_enter(kTraceData, "start CDATA section");
    trace_leave(kTraceData, "Leaving");
}

void XMLCALL end_cdata(void*) {
    trace_enter(kTraceData, "end CDATA section");
    trace_leave(kTraceData, "Leaving");
}

void XMLCALL default_data(void*, const XML_Char* data, int length) {
    trace_enter(kTraceData, "default data of length %d", length);
    if (trace_level() > 8)
        trace_hex(data, static_cast<size_t>(length));
    trace_leave(kTraceData, "Leaving");
}

// ---- entities and encodings

int XMLCALL external_entity(XML_Parser, const XML_Char* context, const XML_Char* base,
                            const XML_Char* system_id, const XML_Char* public_id) {
    trace_enter(kTraceTag, "external entity reference");
    trace_line(kTraceTag, "context: %s", safe_text(context));
    trace_line(kTraceTag, "base: %s", safe_text(base));
    trace_line(kTraceTag, "sysId: %s", safe_text(system_id));
    trace_line(kTraceTag, "pubId: %s", safe_text(public_id));
    trace_leave(kTraceTag, "Leaving");
    return XML_STATUS_OK;
}

void keep_encoding_name(XmlParser* p, const char* name) {
    std::snprintf(p->encoding, sizeof p->encoding, "%s", name ? name : "");
}

// Shift_JIS, CP932 and EUC-JP are decoded with the library's own tables,
// single-byte code pages with a map made through iconv; every other
// encoding expat does not know is refused.
int XMLCALL unknown_encoding(void* data, const XML_Char* name, XML_Encoding* info) {
    trace_enter(kTraceData, "unknown encoding: %s", safe_text(name));
    auto* p = static_cast<XmlParser*>(data);
    if (!name || !describe_encoding(name, info)) {
        trace_leave(kTraceData, "Leaving, encoding refused");
        return XML_STATUS_ERROR;
    }
    keep_encoding_name(p, name);
    trace_leave(kTraceData, "Leaving, encoding taken");
    return XML_STATUS_OK;
}

void XMLCALL xml_declaration(void* arg, const XML_Char* version, const XML_Char* encoding,
                             int standalone) {
    trace_enter(kTraceParse, "XML declaration: version %s, encoding %s, standalone %d",
                safe_text(version), safe_text(encoding), standalone);
    keep_encoding_name(parser_of(arg), encoding);
    trace_leave(kTraceParse, "Leaving");
}

// ---- declarations

void XMLCALL start_doctype(void* arg, const XML_Char* name, const XML_Char* system_id,
                           const XML_Char* public_id, int has_internal_subset) {
    XmlParser* p = parser_of(arg);
    trace_enter(kTraceParse, "start doctype (%d)", has_internal_subset);
    trace_line(kTraceParse, "doctype: %s", safe_text(name));
    trace_line(kTraceParse, "sysId: %s", safe_text(system_id));
    trace_line(kTraceParse, "pubId: %s", safe_text(public_id));
    if (name) {
        size_t length = std::strlen(name);
        auto* copy = static_cast<char*>(expat_malloc(length + 1));
        if (!copy) {
            stop_out_of_memory(p);
            trace_leave(kTraceParse, "Leaving, out of memory");
            return;
        }
        std::memcpy(copy, name, length + 1);
        expat_free(p->doctype_name);
        p->doctype_name = copy;
    }
    trace_leave(kTraceParse, "Leaving");
}

void XMLCALL end_doctype(void*) {
    trace_enter(kTraceParse, "end doctype");
    trace_leave(kTraceParse, "Leaving");
}

void dump_model(const XML_Content* model, int depth) {
    static const char* const kTypes[] = {nullptr,      "type: empty",  "type: any", "type: mixed",
                                         "type: name", "type: choice", "type: seq"};
    static const char* const kQuants[] = {"quant: none", "quant: opt", "quant: rep", "quant: plus"};
    if (model->type >= XML_CTYPE_EMPTY && model->type <= XML_CTYPE_SEQ)
        trace_line(kTraceDump, "%s", kTypes[model->type]);
    if (model->quant >= XML_CQUANT_NONE && model->quant <= XML_CQUANT_PLUS)
        trace_line(kTraceDump, "%s", kQuants[model->quant]);
    if (model->name)
        trace_line(kTraceDump, "name: %s", model->name);
    else
        trace_line(kTraceDump, "No name");
    if (depth >= kModelDumpDepth) {
        if (model->numchildren)
            trace_line(kTraceDump, "(%u more levels not shown)", model->numchildren);
        return;
    }
    for (unsigned k = 0; k < model->numchildren; ++k)
        dump_model(&model->children[k], depth + 1);
}

void XMLCALL element_declaration(void* arg, const XML_Char* name, XML_Content* model) {
    XmlParser* p = parser_of(arg);
    XML_Parser expat = p->expat;
    trace_enter(kTraceParse, "element declaration %s", safe_text(name));
    if (!count_declaration(p)) {
        XML_FreeContentModel(expat, model);
        trace_leave(kTraceParse, "Leaving, too many declarations");
        return;
    }
    if (model && trace_level() >= kTraceDump) {
        dump_model(model, 0);
        trace_line(kTraceDump, "Done with model");
    }
    if (!p->models) {
        p->models = brelrt_hash_new(kModelBuckets, models_table_destructor(), HERE, "XML Models");
        if (!p->models) {
            XML_FreeContentModel(expat, model);
            stop_out_of_memory(p);
            trace_leave(kTraceParse, "Leaving, out of memory");
            return;
        }
    }
    size_t length = name ? std::strlen(name) : 0;
    if (length > BXML_DECL_NAME_MAX)
        length = BXML_DECL_NAME_MAX;
    auto* entry = static_cast<XmlModel*>(brelrt_alloc(sizeof(XmlModel), 1, HERE, "XML Models"));
    char* copy = static_cast<char*>(brelrt_alloc(length + 1, 0, HERE, "XML Models"));
    if (!entry || !copy) {
        brelrt_free(entry, HERE);
        brelrt_free(copy, HERE);
        XML_FreeContentModel(expat, model);
        stop_out_of_memory(p);
        trace_leave(kTraceParse, "Leaving, out of memory");
        return;
    }
    if (length)
        std::memcpy(copy, name, length);
    copy[length] = '\0';
    brelrt_name_convert_dbcs(copy, BRELRT_NAME_ZERO_TERMINATED, BRELRT_NAME_LOWER, p->dbcs);
    entry->name = copy;
    entry->model = model;
    if (!brelrt_hash_add(p->models, copy, entry)) {
        brelrt_free(entry, HERE);
        brelrt_free(copy, HERE);
        XML_FreeContentModel(expat, model);
        stop_out_of_memory(p);
        trace_leave(kTraceParse, "Leaving, out of memory");
        return;
    }
    trace_leave(kTraceParse, "Leaving");
}

void XMLCALL attlist_declaration(void* arg, const XML_Char* element, const XML_Char* attribute,
                                 const XML_Char* type, const XML_Char* default_value,
                                 int required) {
    trace_enter(kTraceTag, "attribute list declaration: %s %s", safe_text(element),
                safe_text(attribute));
    if (!count_declaration(parser_of(arg))) {
        trace_leave(kTraceTag, "Leaving, too many declarations");
        return;
    }
    trace_line(kTraceTag, "type: %s, default: %s, required: %d", safe_text(type),
               safe_text(default_value), required);
    trace_leave(kTraceTag, "Leaving");
}

void XMLCALL entity_declaration(void* arg, const XML_Char* name, int parameter,
                                const XML_Char* value, int value_length, const XML_Char* base,
                                const XML_Char* system_id, const XML_Char* public_id,
                                const XML_Char* notation) {
    trace_enter(kTraceDeclaration, "entity declaration %s (%d)", safe_text(name), parameter);
    if (!count_declaration(parser_of(arg))) {
        trace_leave(kTraceDeclaration, "Leaving, too many declarations");
        return;
    }
    if (value)
        trace_line(kTraceDeclaration, "value: %.*s", value_length, value);
    trace_line(kTraceDeclaration, "base: %s", safe_text(base));
    trace_line(kTraceDeclaration, "sysId: %s", safe_text(system_id));
    trace_line(kTraceDeclaration, "pubId: %s", safe_text(public_id));
    trace_line(kTraceDeclaration, "notation: %s", safe_text(notation));
    trace_leave(kTraceDeclaration, "Leaving");
}

void XMLCALL unparsed_entity_declaration(void* arg, const XML_Char* name, const XML_Char* base,
                                         const XML_Char* system_id, const XML_Char* public_id,
                                         const XML_Char* notation) {
    trace_enter(kTraceDeclaration, "unparsed entity declaration %s", safe_text(name));
    if (!count_declaration(parser_of(arg))) {
        trace_leave(kTraceDeclaration, "Leaving, too many declarations");
        return;
    }
    trace_line(kTraceDeclaration, "base: %s", safe_text(base));
    trace_line(kTraceDeclaration, "sysId: %s", safe_text(system_id));
    trace_line(kTraceDeclaration, "pubId: %s", safe_text(public_id));
    trace_line(kTraceDeclaration, "notation: %s", safe_text(notation));
    trace_leave(kTraceDeclaration, "Leaving");
}

void XMLCALL notation_declaration(void* arg, const XML_Char* name, const XML_Char* base,
                                  const XML_Char* system_id, const XML_Char* public_id) {
    trace_enter(kTraceDeclaration, "notation declaration %s", safe_text(name));
    if (!count_declaration(parser_of(arg))) {
        trace_leave(kTraceDeclaration, "Leaving, too many declarations");
        return;
    }
    trace_line(kTraceDeclaration, "base: %s", safe_text(base));
    trace_line(kTraceDeclaration, "sysId: %s", safe_text(system_id));
    trace_line(kTraceDeclaration, "pubId: %s", safe_text(public_id));
    trace_leave(kTraceDeclaration, "Leaving");
}

} // namespace

namespace bxml {

void* expat_malloc(size_t size) {
    return brelrt_alloc(size, 0, kModuleHandlers, __LINE__, "EXPAT library memory");
}

void* expat_realloc(void* block, size_t size) {
    return brelrt_realloc(block, size, HERE);
}

void expat_free(void* block) {
    brelrt_free(block, HERE);
}

void stop_out_of_memory(XmlParser* parser) {
    set_file_error(kOutOfMemory);
    if (!parser->stopped) {
        parser->stopped = kOutOfMemory;
        XML_StopParser(parser->expat, XML_FALSE);
    }
}

void stop_refused(XmlParser* parser, const char* reason) {
    set_file_error(kParseError);
    trace_line(kTraceFile, "Document refused: %s", reason);
    if (!parser->stopped) {
        parser->stopped = kParseError;
        parser->refusal = reason;
        XML_StopParser(parser->expat, XML_FALSE);
    }
}

bool count_declaration(XmlParser* parser) {
    if (++parser->declarations <= BXML_DECLARATIONS_MAX)
        return true;
    stop_refused(parser, "more than 10000 declarations");
    return false;
}

bool finish_text(XmlParser* p, XmlElement* e, bool trim) {
    const char* data = element_text(e);
    size_t length = text_length(e);
    if (converts(p) && has_high_bytes(data, length)) {
        auto* encoder = static_cast<TextEncoder*>(p->encoder);
        size_t lost = encoder->lost();
        BrelrtText* fresh = in_document_encoding(p, data, length, "XML Character data");
        if (!fresh)
            return false;
        if (encoder->lost() != lost)
            e->flags |= BXML_ELEMENT_LOSSY;
        bool ok = replace_text(e, 0, brelrt_text_data(fresh), brelrt_text_length(fresh), length);
        brelrt_text_free(fresh, HERE);
        if (!ok) {
            stop_out_of_memory(p);
            return false;
        }
    }
    if (trim)
        truncate_text(
            e, trimmed_length(element_text(e), text_length(e), static_cast<Blanks>(p->blanks)));
    return true;
}

namespace {

// Adds a name to the table of kept names (keeping the larger text_max of a
// name listed twice), which grows to stay at most half full; false when out
// of memory.
bool add_name(XmlKeep* keep, const KeepName& name) {
    size_t length = std::strlen(name.name);
    if (length == 0 || length > BRELRT_NAME_MAX)
        return true;
    if (2 * (keep->used + 1) > keep->capacity) {
        XmlKeep grown = *keep;
        grown.capacity = keep->capacity ? 2 * keep->capacity : 16;
        grown.names = static_cast<XmlKeep::Name*>(brelrt_alloc(
            grown.capacity * sizeof(XmlKeep::Name), 1, HERE, "XML names of the layout"));
        if (!grown.names)
            return false;
        for (size_t i = 0; i < keep->capacity; ++i) {
            const XmlKeep::Name& old = keep->names[i];
            if (old.text[0])
                *name_slot(&grown, old.text, old.length, old.hash) = old;
        }
        brelrt_free(keep->names, HERE);
        keep->names = grown.names;
        keep->capacity = grown.capacity;
    }
    char folded[BRELRT_NAME_MAX + 1];
    size_t hash = fold(name.name, length, folded);
    XmlKeep::Name* slot = name_slot(keep, folded, length, hash);
    if (!slot->text[0]) {
        std::memcpy(slot->text, folded, length + 1);
        slot->length = length;
        slot->hash = hash;
        ++keep->used;
    }
    if (name.text_max > slot->text_max)
        slot->text_max = name.text_max;
    return true;
}

} // namespace

KeptRecord xml_parser_kept_record(const XmlParser* p) {
    if (!p->keep)
        return KeptRecord{0, 0, nullptr, nullptr, 0, 0};
    const XmlKeep* keep = p->keep;
    return KeptRecord{keep->elements,      keep->repeats,       keep->list,
                      keep->skipped_names, keep->skipped_kinds, keep->skipped_others};
}

bool xml_parser_give_back_kept(XmlParser* p) {
    XmlKeep* keep = p->keep;
    XmlElement* root = xml_element_record(p->root);
    XmlElement* top = root ? root->first_child : nullptr;
    if (!keep)
        return false;
    // Only a record whose every element is listed, in one piece under the
    // root (a record that failed half-way is walked instead).
    bool whole = top && !top->next && keep->elements && keep->list[0] == top &&
                 keep->created == keep->elements && keep->listed == keep->elements;
    if (whole && !give_back_listed(top, keep->list, keep->elements, &p->pool))
        whole = false;
    keep->created = keep->listed = 0;
    return whole;
}

void xml_parser_keep_free(XmlParser* p) {
    if (p->keep) {
        brelrt_free(p->keep->list, HERE);
        brelrt_free(p->keep->names, HERE);
    }
    brelrt_free(p->keep, HERE);
    p->keep = nullptr;
}

bool xml_parser_keep_only(XmlParser* p, const KeepName* names, size_t count, uint32_t occurrences,
                          size_t elements, size_t text) {
    auto* keep = static_cast<XmlKeep*>(brelrt_alloc(sizeof(XmlKeep), 1, HERE, "XML record bounds"));
    if (!keep)
        return false;
    keep->occurrences = occurrences;
    keep->elements_max = elements;
    keep->text_max = text;
    bool ok = true;
    for (size_t k = 0; k < count && ok; ++k)
        ok = add_name(keep, names[k]);
    if (!ok) {
        brelrt_free(keep->names, HERE);
        brelrt_free(keep, HERE);
        return false;
    }
    xml_parser_keep_free(p);
    p->keep = keep;
    keep->text_on = (p->flags & BXML_CHARACTER_DATA) != 0;
    want_text(p, keeps_text(p));
    return true;
}

void register_callbacks(XmlParser* p) {
    XML_Parser x = p->expat;
    uint32_t f = p->flags;
    if (f & BXML_TAGS) {
        XML_SetElementHandler(x, start_element, end_element);
        XML_SetXmlDeclHandler(x, xml_declaration);
    }
    if (f & BXML_CHARACTER_DATA)
        XML_SetCharacterDataHandler(x, character_data);
    if (f & BXML_PROCESSING)
        XML_SetProcessingInstructionHandler(x, processing_instruction);
    if (f & BXML_COMMENTS)
        XML_SetCommentHandler(x, comment);
    if (f & BXML_CDATA)
        XML_SetCdataSectionHandler(x, start_cdata, end_cdata);
    if (f & BXML_DEFAULT)
        // The expanding variant: a plain default handler would keep internal
        // entities from being expanded, and their text would be lost.
        XML_SetDefaultHandlerExpand(x, default_data);
    if (f & BXML_EXTERNAL_ENTITY)
        XML_SetExternalEntityRefHandler(x, external_entity);
    if (f & BXML_UNKNOWN_ENCODING)
        XML_SetUnknownEncodingHandler(x, unknown_encoding, p);
    if (f & BXML_DOCTYPE)
        XML_SetDoctypeDeclHandler(x, start_doctype, end_doctype);
    if (f & BXML_ELEMENT_DECL)
        XML_SetElementDeclHandler(x, element_declaration);
    if (f & BXML_ATTLIST_DECL)
        XML_SetAttlistDeclHandler(x, attlist_declaration);
    if (f & BXML_ENTITY_DECL)
        XML_SetEntityDeclHandler(x, entity_declaration);
    if (f & BXML_UNPARSED_DECL)
        XML_SetUnparsedEntityDeclHandler(x, unparsed_entity_declaration);
    if (f & BXML_NOTATION_DECL)
        XML_SetNotationDeclHandler(x, notation_declaration);
}

} // namespace bxml
