// Reading records from XML (dispatch slot 47): the parser runs until the
// next child of the root is complete, then every field of the layout takes
// the text of the element that belongs to it, found by name and occurrence
// numbers; the record's elements are freed before the next read.
#include "bxml/config.h"
#include "bxml/host_entries.h"
#include "bxml/layout_walk.h"
#include "bxml/module.h"
#include "bxml/read_index.h"
#include "bxml/trace.h"
#include "bxml/xml_file.h"
#include "bxml32.h"
#include "elements/element_io.h"
#include "handlers/callbacks.h"

#include <cctype>
#include <cstring>
#include <strings.h>

namespace bxml {

namespace {

#define HERE kModuleBxml, __LINE__

// How many items ahead a field's place in the record index is loaded.
constexpr int kPrefetchItems = 6;

// Numeric texts longer than this are cut before conversion.
constexpr size_t kNumericTextMax = 100;

// A byte below 128 that isspace accepts.
bool is_blank(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// An item's name with its occurrence numbers, "lines(1,2)", for the trace.
void signature_text(char* out, size_t size, const char* name, const int32_t* numbers, int count) {
    size_t n = static_cast<size_t>(std::snprintf(out, size, "%s", name));
    for (int k = 0; k < count && n < size; ++k)
        n += static_cast<size_t>(
            std::snprintf(out + n, size - n, "%c%d", k ? ',' : '(', static_cast<int>(numbers[k])));
    if (count && n < size)
        std::snprintf(out + n, size - n, ")");
}

XmlElement* element_of(const ElementHashEntry* entry) {
    return entry ? entry->record : nullptr;
}

bool consumed(const ElementHashEntry* entry) {
    return entry->flags & BXML_HASH_CONSUMED;
}

// The text of a numeric item, from a byte beyond the layout's 99 digits at
// most, with the program's decimal point where the document has ".".
int convert_number(const LayoutItem& item, unsigned char* record, const char* text, size_t length) {
    char buffer[kNumericTextMax + 1];
    if (length > kNumericTextMax) {
        trace_line(kTraceField, "numeric text of %zu characters cut to %zu", length,
                   kNumericTextMax);
        length = kNumericTextMax;
    }
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    FieldDescriptor source = item.field;
    source.address = reinterpret_cast<unsigned char*>(buffer);
    source.size = static_cast<int32_t>(length);
    source.type = BRELRT_T_NUMTEXT;
    source.digits = static_cast<uint8_t>(length);
    FieldDescriptor target = item.field;
    target.address = record + item.offset;
    return host_function<decltype(&Bconvert)>(kEntryBconvert)(&target, &source, 1);
}

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<unsigned char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The bytes of a binary field from its hexadecimal text; missing bytes at the
// end are zero. False (the field untouched) for text that is not hex.
bool decode_hex(unsigned char* field, size_t size, const char* text, size_t length) {
    if (length % 2 || length / 2 > size)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (hex_value(static_cast<unsigned char>(text[i])) < 0)
            return false;
    for (size_t i = 0; i < length / 2; ++i)
        field[i] =
            static_cast<unsigned char>(hex_value(static_cast<unsigned char>(text[2 * i])) << 4 |
                                       hex_value(static_cast<unsigned char>(text[2 * i + 1])));
    std::memset(field + length / 2, 0, size - length / 2);
    return true;
}

// How many bytes of `text` fit in `size` without cutting a character of the
// document's encoding in two.
size_t whole_characters(const char* text, size_t length, size_t size, Blanks encoding) {
    if (length <= size)
        return length;
    if (encoding == Blanks::kAscii)
        return size;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < size) {
        unsigned char c = s[i];
        size_t width = 1;
        if (c >= 0x80) {
            switch (encoding) {
            case Blanks::kShiftJis:
                width = brelrt_dbcs_is_lead(c) ? 2 : 1;
                break;
            case Blanks::kEucJp:
                width = c == 0x8F ? 3 : c >= 0x8E ? 2 : 1;
                break;
            case Blanks::kUtf8:
                width = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
                break;
            case Blanks::kAscii:
                break;
            }
        }
        if (i + width > size)
            break;
        i += width;
    }
    return i;
}

// The trace of one same_array_signature: both signatures, and its answer.
[[gnu::noinline, gnu::cold]] void trace_signature(const XmlElement* e, const LayoutItem& item,
                                                  const char* why) {
    if (trace_level() >= kTraceSignature) {
        int depth = item_numbers(item);
        int32_t numbers[BRELRT_MAX_DEPTH];
        for (int k = 0; k < depth; ++k)
            numbers[k] = item.occurrence[k + 1];
        char a[160], b[160];
        signature_text(a, sizeof a, item.name, numbers, depth);
        signature_text(b, sizeof b, e->name, e->index, element_numbers(e));
        trace_enter(kTraceSignature, "same_array_signature for items %s and %s", a, b);
    }
    trace_leave(kTraceSignature, "%s", why);
}

} // namespace

// ---- the reader's routines

class Reader {
public:
    Reader(XmlFile* file, unsigned char* record, XmlElement* root)
        : file_(file), layout_(file->layout), parser_(file->parser), record_(record), root_(root),
          exact_(brelrt_config_yes_no(kExactTableMatch) != 0) {}

    bool same_array_signature(const XmlElement* e, const LayoutItem& item) {
        const char* why = nullptr;
        bool same = signature_matches(e, item, exact_, &why);
        if (trace_on())
            trace_signature(e, item, why);
        return same;
    }

    XmlElement* find_element(int index) {
        const LayoutItem& item = layout_->items[index];
        if (trace_on())
            trace_enter(kTraceFind, "find_element %d (%s)", index, item.name);
        auto* head = static_cast<ElementHashEntry*>(
            brelrt_hash_find_hashed(parser_->elements, item.name, file_->item_hashes[index]));
        if (!head)
            return found(nullptr, "Leaving, no such element");
        if (!head->next) {
            XmlElement* e = element_of(head);
            if (item.depth == 0) {
                if (!e || consumed(head))
                    return found(nullptr,
                                 "Leaving, only one element, not a table, but already moved");
                return found(head, "Leaving, only one element, not a table");
            }
            for (int k = 1; k <= item.depth && k <= BRELRT_MAX_DEPTH; ++k)
                if (item.occurrence[k] > 1) {
                    trace_leave(kTraceFind, "Leaving, returning H_NULL (occurs_indices[%d] = %d)",
                                k, item.occurrence[k]);
                    return nullptr;
                }
            if (!e || consumed(head))
                return found(nullptr, "Leaving, only one element, but already moved");
            return found(head, "Leaving, found an element");
        }
        ElementHashEntry* target = nullptr;
        int count = 0;
        const RecordIndex* ix = index_.built() ? &index_ : nullptr;
        // The index gives what the walk below gives, without looking at
        // every element of the name.
        if (!ix || !ix->each_match(item, folded_hash(index), exact_, [&](ElementHashEntry* entry) {
                if (std::strcmp(entry->name, item.name) == 0 && !consumed(entry)) {
                    target = entry;
                    ++count;
                }
                return count < 2;
            })) {
            for (ElementHashEntry* entry = head; entry; entry = entry->next) {
                XmlElement* e = element_of(entry);
                if (e && !consumed(entry) && same_array_signature(e, item)) {
                    target = entry;
                    ++count;
                }
            }
        }
        if (count == 1)
            return found(target, "Leaving, returning pTarget because count == 1");
        // Several or none: look among the children of the element of the
        // nearest enclosing group that is found.
        XmlElement* parent = nullptr;
        int level = item.level;
        for (int j = index - 1; j >= 0 && !parent; --j) {
            const LayoutItem& above = layout_->items[j];
            if (above.level < level) {
                level = above.level;
                parent = find_element(j);
            }
        }
        if (!parent)
            return found(nullptr, "Leaving, pTarget == NULL");
        target = nullptr;
        if (!ix || !ix->each_match(item, folded_hash(index), exact_, [&](ElementHashEntry* entry) {
                if (element_of(entry)->up == parent)
                    target = entry;
                return !target;
            })) {
            for (XmlElement* c = parent->first_child; c && !target; c = c->next) {
                if (c->hash_entry && strcasecmp(c->name, item.name) == 0 &&
                    same_array_signature(c, item))
                    target = c->hash_entry;
            }
        }
        if (!target)
            return found(nullptr, "Leaving, returning H_NULL");
        return found(target, "Leaving, found an element");
    }

    // Fills one field; its end offset, or 0 when nothing was filled.
    int read_xml_data(int index) {
        const LayoutItem& item = layout_->items[index];
        if (trace_on())
            trace_enter(kTraceField, "read_xml_data %d (%s)", index, item.name);
        XmlElement* e = find_element(index);
        if (!e) {
            trace_leave(kTraceField, "Leaving, no data");
            return 0;
        }
        if (exact_ && !same_array_signature(e, item)) {
            trace_leave(kTraceField, "Leaving, no data (bad array)");
            return 0;
        }
        e->hash_entry->flags |= BXML_HASH_CONSUMED;
        // An element that is there but empty stands for an empty field: the
        // field is blanked, never left with the previous record's bytes.
        const char* text = text_or_empty(e);
        size_t length = text_length(e);
        if (trace_on())
            trace_line(kTraceDump, "text: '%s'", text);
        while (length && is_blank(static_cast<unsigned char>(*text))) {
            ++text;
            --length;
        }
        unsigned char* field = record_ + item.offset;
        size_t size = item.field.size > 0 ? static_cast<size_t>(item.field.size) : 0;
        if (item.user_type == BRELRT_USER_TYPE_BINARY) {
            if (!decode_hex(field, size, text, length)) {
                trace_line(kTraceFile,
                           "xml_sread: field %s: '%.40s' is no hexadecimal data of %zu "
                           "bytes",
                           item.name, text, size);
                trace_leave(kTraceField, "Leaving, no data");
                return 0;
            }
        } else if (is_numeric(item.field.type)) {
            if (int rc = convert_number(item, record_, text, length)) {
                trace_line(kTraceFile, "xml_sread: field %s: '%.40s' is no number (%d)", item.name,
                           text, rc);
                trace_leave(kTraceField, "Leaving, no data");
                return 0;
            }
        } else {
            size_t n = whole_characters(text, length, size, static_cast<Blanks>(parser_->blanks));
            std::memcpy(field, text, n);
            std::memset(field + n, ' ', size - n);
        }
        if (trace_on())
            trace_leave(kTraceField, "Leaving");
        return item.offset + item.field.size;
    }

    // The record's index, when its names repeat often enough for walks to
    // be long; false when out of memory.
    bool prepare() {
        KeptRecord kept = xml_parser_kept_record(parser_);
        return !root_ || kept.repeats < kIndexRepeats ||
               index_.build(root_, kept.list, kept.elements);
    }

    // Every field of the record, unconditional ones first, so that the
    // conditions choosing a record variant can test them; the largest end
    // offset filled.
    //
    // The record element names its record type: when it is one of the
    // layout's level-01 records, only that record's fields are read, and its
    // condition is the one that holds among the record types' (the fields
    // other record types test are not in this document, so testing would
    // read the previous record's bytes). Conditions of variants inside it
    // are tested as they come.
    int fill(const XmlElement* element) {
        auto test = host_function<decltype(&B4TestCOBOLCond)>(kEntryB4TestCOBOLCond);
        int first = 0, end = layout_->field_count;
        int record = record_type(element);
        if (record >= 0) {
            first = record;
            for (end = record + 1; end < layout_->field_count; ++end)
                if (layout_->items[end].level == 1)
                    break;
        }
        int largest = 0;
        for (int k = 0; k <= layout_->condition_count; ++k) {
            if (k >= 1) {
                ConditionEntry& c = layout_->conditions[k - 1];
                bool selects_record = c.item >= 0 && c.item < layout_->field_count &&
                                      is_record(layout_->items[c.item]);
                if (record >= 0 && selects_record)
                    c.result = static_cast<uint8_t>((c.result & ~1u) | (c.item == record));
                else
                    test(layout_, k, record_);
                if (!condition_holds(layout_, k))
                    continue;
            }
            for (int i = first; i < end; ++i) {
                const LayoutItem& item = layout_->items[i];
                if (i + kPrefetchItems < end)
                    index_.prefetch(layout_->items[i + kPrefetchItems],
                                    folded_hash(i + kPrefetchItems));
                if (item.condition != k || is_group(item) || is_shadow(item))
                    continue;
                int filled = read_xml_data(i);
                if (filled > largest)
                    largest = filled;
            }
        }
        return largest;
    }

private:
    // The level-01 record named like the record element, -1 when none is.
    int record_type(const XmlElement* element) const {
        if (!element || !(layout_->flags & BRELRT_LAYOUT_MULTIPLE))
            return -1;
        const char* name = element->name;
        for (int i = 0; i < layout_->field_count; ++i)
            if (is_record(layout_->items[i]) && strcasecmp(layout_->items[i].name, name) == 0)
                return i;
        return -1;
    }

    // The hash of item `index`'s name in lower case (ASCII).
    size_t folded_hash(int index) const { return file_->item_hashes[layout_->item_count + index]; }

    XmlElement* found(ElementHashEntry* entry, const char* why) {
        if (trace_on())
            trace_leave(kTraceFind, "%s", why);
        return entry ? element_of(entry) : nullptr;
    }

    XmlFile* file_;
    RecordLayout* layout_;
    XmlParser* parser_;
    unsigned char* record_;
    XmlElement* root_;
    bool exact_;
    RecordIndex index_;
};

// What the parser keeps of a record for a read (see xml_parser_keep_only),
// set by the first read of a file: elements named like an item, of a name
// under one parent the first M + 1 (M the layout's largest OCCURS count, at
// least 1), and of an element's text what the items of its name can use:
//   - a character field: size + 1 bytes in the document's encoding (the
//     text is cut at the size before a character that would not fit whole;
//     one byte more tells that it is longer),
//   - a numeric field: the kNumericTextMax characters the conversion is
//     given, and one more,
//   - a binary field: 2 x size + 1 characters, one more than fits, so that
//     an over-long hexadecimal text is still refused,
//   - a group: nothing;
// each of those bytes from at most 4 bytes of UTF-8, with 3 more for a
// character cut short. A record is refused past kRecordElements + 2 per item
// elements, or past 3 x the record size + kRecordText bytes of text.
constexpr size_t kRecordElements = 16384;
constexpr size_t kRecordText = 1024 * 1024;

size_t utf8_room(size_t bytes) {
    return 4 * bytes + 3;
}

bool keep_what_records_use(XmlFile* file) {
    const RecordLayout* layout = file->layout;
    size_t count = layout->item_count > 0 ? static_cast<size_t>(layout->item_count) : 0;
    auto* names = static_cast<KeepName*>(
        brelrt_alloc(count * sizeof(KeepName), 0, HERE, "XML names of the layout"));
    if (!names)
        return false;
    int largest = 1;
    for (size_t i = 0; i < count; ++i) {
        const LayoutItem& item = layout->items[i];
        size_t size = item.field.size > 0 ? static_cast<size_t>(item.field.size) : 0;
        size_t text = is_group(item)                              ? 0
                      : item.user_type == BRELRT_USER_TYPE_BINARY ? utf8_room(2 * size + 1)
                      : is_numeric(item.field.type)               ? utf8_room(kNumericTextMax + 1)
                                                                  : utf8_room(size + 1);
        names[i] = KeepName{item.name, text};
        for (int k = 1; k <= item_numbers(item); ++k)
            if (item.occurs_count[k] > largest)
                largest = item.occurs_count[k];
    }
    size_t record = layout->record_size > 0 ? static_cast<size_t>(layout->record_size) : 0;
    bool ok = xml_parser_keep_only(file->parser, names, count, static_cast<uint32_t>(largest) + 1,
                                   kRecordElements + 2 * count, 3 * record + kRecordText);
    brelrt_free(names, HERE);
    return ok;
}

// The hash of every item's name, made once for all the file's reads; false
// when out of memory.
bool hash_item_names(XmlFile* file) {
    if (file->item_hashes)
        return true;
    const RecordLayout* layout = file->layout;
    size_t count = layout->item_count > 0 ? static_cast<size_t>(layout->item_count) : 0;
    auto* hashes = static_cast<size_t*>(
        brelrt_alloc(2 * count * sizeof(size_t), 0, HERE, "XML item name hashes"));
    if (!hashes)
        return false;
    for (size_t i = 0; i < count; ++i) {
        const char* name = layout->items[i].name;
        size_t length = std::strlen(name);
        hashes[i] = brelrt_hash_text(name, length);
        char folded[BRELRT_NAME_SIZE];
        for (size_t k = 0; k < length && k < sizeof folded; ++k)
            folded[k] =
                name[k] >= 'A' && name[k] <= 'Z' ? static_cast<char>(name[k] - 'A' + 'a') : name[k];
        hashes[count + i] =
            brelrt_hash_text(folded, length < sizeof folded ? length : sizeof folded);
    }
    file->item_hashes = hashes;
    return true;
}

} // namespace bxml

using namespace bxml;

extern "C" {

int xml_sread(XmlFile* file, unsigned char* record) {
    set_file_error(kNoError);
    trace_enter(kTraceFile, "xml_sread");
    if (!file || xml_file_output(file) || !file->parser || !file->layout || !record) {
        set_file_error(kNotSupported);
        trace_leave(kTraceFile, "Leaving, not a file open for input");
        return 0;
    }
    if (!host_entry(kEntryB4TestCOBOLCond) || !host_entry(kEntryBconvert)) {
        set_file_error(kNotSupported);
        trace_leave(kTraceFile, "Leaving, host entries B4TestCOBOLCond and Bconvert not set");
        return 0;
    }
    XmlParser* p = file->parser;
    if ((!p->document_texts && !xml_parser_document_texts(p) && !p->encoder) ||
        !hash_item_names(file) || (!p->keep && !keep_what_records_use(file))) {
        set_file_error(kOutOfMemory);
        trace_leave(kTraceFile, "Leaving, out of memory");
        return 0;
    }
    if (!xml_next_record_or_leave(p, file->stream))
        return 0;
    XmlElement* root = xml_element_record(p->root);
    if (trace_level() > kTraceDump && root) {
        brelrt_trace_printf(" dump_bxml_element\n");
        write_element(stderr, root, 0);
    }
    int largest = 0;
    {
        Reader reader(file, record, root);
        if (!reader.prepare()) {
            // Nothing of the record was moved; the file stays stopped.
            stop_out_of_memory(p);
            xml_parser_drop_record(p);
            trace_leave(kTraceFile, "Leaving, out of memory");
            return 0;
        }
        largest = reader.fill(root ? root->first_child : nullptr);
    }
    // Only the root stays between records.
    xml_parser_drop_record(p);
    trace_leave(kTraceFile, "Leaving, %d\n", largest + 1);
    return largest + 1;
}

} // extern "C"
