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
// most, with the program's decimal point where the document has ".". What
// the field could not hold goes into *lost (BRELRT_LOST_* bits).
int convert_number(const LayoutItem& item, unsigned char* record, const char* text, size_t length,
                   int* lost) {
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
    return brelrt_convert(&target, &source, lost);
}

// What a numeric field holds, as numeric text into `out` ("" when it holds
// no valid number).
const char* field_text(const LayoutItem& item, const unsigned char* record, char* out,
                       size_t size) {
    FieldDescriptor source = item.field;
    source.address = const_cast<unsigned char*>(record) + item.offset;
    int digits = text_digits(item);
    FieldDescriptor target{
        reinterpret_cast<unsigned char*>(out), digits + 3,       BRELRT_T_NUMTEXT,
        static_cast<uint8_t>(digits),          item.field.scale, 0};
    if (static_cast<size_t>(target.size) >= size || Bconvert(&target, &source, 1) != 0) {
        out[0] = '\0';
        return out;
    }
    size_t n = static_cast<size_t>(target.size);
    while (n && out[n - 1] == ' ')
        --n;
    out[n] = '\0';
    return out;
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

// A notice to the runtime's receiver, and to the trace.
void tell(XmlFile* file, const BxmlNotice& n) {
    if (trace_on())
        trace_line(kTraceFile, "xml_sread: record %ld: notice %d for <%s> (%.*s)", n.record, n.kind,
                   n.name, static_cast<int>(n.text_length < 40 ? n.text_length : 40),
                   n.text ? n.text : "");
    if (file->notice)
        file->notice(file->notice_context, &n);
}

// Whether a record element's name is a record's: ASCII case aside, and "-"
// and "_" alike whatever 4GL_COLUMN_CASE says.
bool same_record_name(const char* a, const char* b) {
    auto fold = [](unsigned char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a')
               : c == '-'           ? static_cast<unsigned char>('_')
                                    : c;
    };
    for (; *a && *b; ++a, ++b)
        if (fold(static_cast<unsigned char>(*a)) != fold(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// The level-01 record named like a record element, -1 when none is.
int record_named(const RecordLayout* layout, const XmlElement* element) {
    if (!element)
        return -1;
    for (int i = 0; i < layout->field_count; ++i)
        if (is_record(layout->items[i]) && same_record_name(layout->items[i].name, element->name))
            return i;
    return -1;
}

} // namespace

// ---- the reader's routines

class Reader {
public:
    Reader(XmlFile* file, unsigned char* record, XmlElement* root, bool keep_blanks)
        : file_(file), layout_(file->layout), parser_(file->parser), record_(record), root_(root),
          exact_(brelrt_config_yes_no(kExactTableMatch) != 0), keep_blanks_(keep_blanks) {}

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

    // Fills one field; its end offset, or 0 when nothing was filled. What
    // the field could not take of the element's text is told as a notice.
    int read_xml_data(int index) {
        const LayoutItem& item = layout_->items[index];
        if (trace_on())
            trace_enter(kTraceField, "read_xml_data %d (%s)", index, item.name);
        XmlElement* e = find_element(index);
        if (e && !under_own_parent(e, index))
            e = nullptr; // another description's field of the same name
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
        if (!keep_blanks_ || is_numeric(item.field.type) || (item.flags & BRELRT_ITEM_EDITED) ||
            item.user_type == BRELRT_USER_TYPE_BINARY)
            while (length && is_blank(static_cast<unsigned char>(*text))) {
                ++text;
                --length;
            }
        if (e->flags & BXML_ELEMENT_LOSSY)
            notice(BXML_NOTICE_NOT_IN_ENCODING, e, text, length, index, nullptr);
        unsigned char* field = record_ + item.offset;
        size_t size = item.field.size > 0 ? static_cast<size_t>(item.field.size) : 0;
        if (item.user_type == BRELRT_USER_TYPE_BINARY) {
            if (!decode_hex(field, size, text, length)) {
                notice(BXML_NOTICE_NOT_HEXADECIMAL, e, text, length, index, nullptr);
                trace_leave(kTraceField, "Leaving, no data");
                return 0;
            }
        } else if (is_numeric(item.field.type)) {
            int lost = 0;
            if (int rc = convert_number(item, record_, text, length, &lost)) {
                trace_line(kTraceField, "xml_sread: field %s: '%.40s' is no number (%d)", item.name,
                           text, rc);
                number_notice(BXML_NOTICE_NOT_A_NUMBER, e, text, length, index);
                trace_leave(kTraceField, "Leaving, no data");
                return 0;
            }
            if (lost)
                number_notices(lost, e, text, length, index);
        } else if (item.flags & BRELRT_ITEM_EDITED) {
            if (!read_edited(item, e, text, length, index)) {
                trace_leave(kTraceField, "Leaving, no data");
                return 0;
            }
        } else {
            size_t n = whole_characters(text, length, size, static_cast<Blanks>(parser_->blanks));
            if (n < length)
                notice(BXML_NOTICE_TEXT_CUT, e, text, length, index, nullptr);
            if ((item.flags & BRELRT_ITEM_JUSTIFIED) && n < size) {
                std::memset(field, ' ', size - n);
                std::memcpy(field + size - n, text, n);
            } else {
                std::memcpy(field, text, n);
                std::memset(field + n, ' ', size - n);
            }
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

    // Every field of level-01 record `record`, unconditional ones first, so
    // that the conditions choosing a record variant can test them; the
    // largest end offset filled.
    //
    // The record element names its record type, so only that record's
    // fields are read, and its condition is the one that holds among the
    // record types' (the fields other record types test are not in this
    // document, so testing would read the previous record's bytes).
    // Conditions of variants inside it are tested as they come.
    int fill(int record) {
        auto test = host_function<decltype(&B4TestCOBOLCond)>(kEntryB4TestCOBOLCond);
        int first = record, end = record + 1;
        while (end < layout_->field_count && layout_->items[end].level != 1)
            ++end;
        int largest = 0;
        for (int k = 0; k <= layout_->condition_count; ++k) {
            if (k >= 1) {
                ConditionEntry& c = layout_->conditions[k - 1];
                bool selects_record = c.item >= 0 && c.item < layout_->field_count &&
                                      is_record(layout_->items[c.item]);
                if (selects_record)
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
        for (int i = first; i < end; ++i)
            if (is_first_varying(layout_->items[i]) && !is_shadow(layout_->items[i]))
                check_count(i);
        return largest;
    }

    // Says what the record held that no field took: elements the parser
    // passed over, and kept elements with text that no field consumed.
    void tell_passed_over() {
        KeptRecord kept = xml_parser_kept_record(parser_);
        for (size_t k = 0; k < kept.skipped_names; ++k) {
            const SkippedName& skipped = kept.skipped[k];
            notice(skipped.past_occurrences ? BXML_NOTICE_EXTRA_OCCURRENCE
                                            : BXML_NOTICE_UNKNOWN_ELEMENT,
                   skipped.name, nullptr, 0, -1, nullptr, static_cast<long>(skipped.count));
        }
        if (kept.skipped_others)
            notice(BXML_NOTICE_UNKNOWN_ELEMENT, "", nullptr, 0, -1, nullptr,
                   static_cast<long>(kept.skipped_others));
        // Elements of a name that no field took, each name said once.
        const XmlElement* said[kSkippedNamesKept];
        size_t names = 0;
        for (size_t i = 0; i < kept.elements; ++i) {
            XmlElement* e = kept.list[i];
            if (!e->hash_entry || (e->hash_entry->flags & BXML_HASH_CONSUMED) ||
                text_length(e) == 0)
                continue;
            bool known = false;
            for (size_t k = 0; k < names && !known; ++k)
                known = std::strcmp(said[k]->name, e->name) == 0;
            if (known)
                continue;
            long count = 0;
            for (size_t j = i; j < kept.elements; ++j) {
                const XmlElement* other = kept.list[j];
                count += other->hash_entry && !(other->hash_entry->flags & BXML_HASH_CONSUMED) &&
                         text_length(other) && std::strcmp(other->name, e->name) == 0;
            }
            notice(beyond_tables(e) ? BXML_NOTICE_EXTRA_OCCURRENCE : BXML_NOTICE_UNKNOWN_ELEMENT,
                   e->name, e->text, text_length(e), -1, nullptr, count);
            if (names == kSkippedNamesKept)
                break;
            said[names++] = e;
        }
    }

private:
    // A table of variable length whose document holds more occurrences than
    // its counter says (those past it are no part of the program's record),
    // or whose counter lies outside its bounds: said.
    void check_count(int first) {
        const LayoutItem& item = layout_->items[first];
        VaryingTable table = varying_table(item);
        long counter = 0;
        if (item.depending < 0 ||
            !varying_count(layout_, item, record_, layout_->record_size, &counter))
            return;
        long present = 0;
        long k = 1;
        for (int at = first; at >= 0 && k <= table.most; at = next_sibling(layout_, at), ++k) {
            const LayoutItem& occurrence = layout_->items[at];
            if (!is_varying(occurrence) || occurrence.occurrence[occurrence.depth] != k)
                break;
            if (find_element(at))
                present = k;
        }
        if (present <= counter && counter >= table.least && counter <= table.most)
            return;
        char value[24];
        std::snprintf(value, sizeof value, "%ld", counter);
        notice(BXML_NOTICE_COUNT_MISMATCH, item.name, nullptr, 0, first, value, present);
    }

    // An element in an occurrence past every table of the layout: the
    // numbers its repetitions gave it go beyond the largest OCCURS count.
    bool beyond_tables(const XmlElement* e) const {
        int most = 1;
        for (int i = 0; i < layout_->field_count; ++i) {
            const LayoutItem& item = layout_->items[i];
            for (int k = 1; k <= item_numbers(item); ++k)
                if (item.occurs_count[k] > most)
                    most = item.occurs_count[k];
        }
        for (int k = 0; k < element_numbers(e); ++k)
            if (e->index[k] > most)
                return true;
        return false;
    }

    // A field whose name another description of its record shares takes
    // only an element under the element of its own parent.
    bool under_own_parent(const XmlElement* e, int index) const {
        const int32_t* parents = file_->item_parents;
        const auto* ambiguous = reinterpret_cast<const uint8_t*>(parents + layout_->item_count);
        if (!ambiguous[index] || parents[index] < 0)
            return true;
        return e->up && strcasecmp(e->up->name, layout_->items[parents[index]].name) == 0;
    }

    // A numeric-edited field: the number its text stands for, edited again
    // with the field's picture, as a MOVE of that number would edit it.
    bool read_edited(const LayoutItem& item, XmlElement* e, const char* text, size_t length,
                     int index) {
        unsigned char* field = record_ + item.offset;
        size_t size = item.field.size > 0 ? static_cast<size_t>(item.field.size) : 0;
        bool comma = (B4PgmPeriod() & 0xFF) == ',';
        char number[kNumericTextMax + 8];
        int lost = 0;
        if (!item.picture ||
            brelrt_deedit_number(item.picture, comma, text, length, size, number, sizeof number) !=
                0 ||
            brelrt_edit_number(item.picture, (item.flags & BRELRT_ITEM_BLANK_ZERO) != 0, comma,
                               number, std::strlen(number), field, size, &lost) != 0) {
            notice(BXML_NOTICE_NOT_A_NUMBER, e, text, length, static_cast<int>(index),
                   edited_value(item));
            return false;
        }
        // A value changed only where the field no longer shows the text (the
        // editor may take a digit the picture never shows to make the same
        // bytes again).
        if (lost && !shows(field, size, text, length))
            for (int bit : {BRELRT_LOST_DIGITS, BRELRT_LOST_DECIMALS, BRELRT_LOST_SIGN})
                if (lost & bit)
                    notice(lost_kind(bit), e, text, length, index, edited_value(item));
        return true;
    }

    // Whether a field holds `text` with blanks around it.
    static bool shows(const unsigned char* field, size_t size, const char* text, size_t length) {
        size_t from = 0, to = size;
        while (from < to && field[from] == ' ')
            ++from;
        while (to > from && field[to - 1] == ' ')
            --to;
        while (length && text[length - 1] == ' ')
            --length;
        return to - from == length && std::memcmp(field + from, text, length) == 0;
    }

    // What an edited field holds now, as text.
    const char* edited_value(const LayoutItem& item) {
        size_t size = item.field.size > 0 ? static_cast<size_t>(item.field.size) : 0;
        size_t n = size < sizeof value_ - 1 ? size : sizeof value_ - 1;
        std::memcpy(value_, record_ + item.offset, n);
        value_[n] = '\0';
        return value_;
    }

    static int lost_kind(int bit) {
        return bit == BRELRT_LOST_DIGITS     ? BXML_NOTICE_DIGITS_LOST
               : bit == BRELRT_LOST_DECIMALS ? BXML_NOTICE_DECIMALS_CUT
                                             : BXML_NOTICE_SIGN_LOST;
    }

    void number_notices(int lost, const XmlElement* e, const char* text, size_t length, int index) {
        for (int bit : {BRELRT_LOST_DIGITS, BRELRT_LOST_DECIMALS, BRELRT_LOST_SIGN})
            if (lost & bit)
                number_notice(lost_kind(bit), e, text, length, index);
    }

    void number_notice(int kind, const XmlElement* e, const char* text, size_t length, int index) {
        notice(kind, e, text, length, index,
               field_text(layout_->items[index], record_, value_, sizeof value_));
    }

    void notice(int kind, const XmlElement* e, const char* text, size_t length, int item,
                const char* value) {
        notice(kind, e->name, text, length, item, value, 1);
    }

    void notice(int kind, const char* name, const char* text, size_t length, int item,
                const char* value, long count) {
        tell(file_, BxmlNotice{kind, file_->records, name, text, length, item, value, count});
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
    bool keep_blanks_; // BXML_KEEP_LEADING_BLANKS: texts keep their leading blanks
    RecordIndex index_;
    char value_[kNumericTextMax + 8]; // what a field holds, for a notice
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
    auto* parents = static_cast<int32_t*>(
        brelrt_alloc(count * (sizeof(int32_t) + 1), 1, HERE, "XML item parents"));
    if (!hashes || !parents) {
        brelrt_free(hashes, HERE);
        brelrt_free(parents, HERE);
        return false;
    }
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
    // Each item's parent: the nearest earlier item of a smaller level.
    int32_t stack[64];
    int depth = 0;
    for (size_t i = 0; i < count; ++i) {
        int level = layout->items[i].level;
        while (depth && layout->items[stack[depth - 1]].level >= level)
            --depth;
        parents[i] = level == 1 || !depth ? -1 : stack[depth - 1];
        if (depth < 64)
            stack[depth++] = static_cast<int32_t>(i);
    }
    // A name that items of one record have under parents of other names
    // (a variant's field named like one of the description it redefines):
    // each of them takes only an element under its own parent. Found with
    // an open table of (record, name) giving the first item of each.
    auto* ambiguous = reinterpret_cast<uint8_t*>(parents + count);
    size_t capacity = 16;
    while (capacity < 2 * count)
        capacity *= 2;
    auto* slots = static_cast<int32_t*>(brelrt_alloc((capacity + 2 * count) * sizeof(int32_t), 0,
                                                     HERE, "XML item names of a record"));
    if (!slots) {
        brelrt_free(hashes, HERE);
        brelrt_free(parents, HERE);
        return false;
    }
    int32_t* first = slots + capacity; // the first item of each item's (record, name)
    int32_t* records = first + count;  // each item's level-01 record
    std::memset(slots, 0xFF, capacity * sizeof(int32_t));
    auto parent_name = [&](size_t i) {
        return parents[i] < 0 ? "" : layout->items[parents[i]].name;
    };
    int32_t record = -1;
    for (size_t i = 0; i < count; ++i) {
        if (layout->items[i].level == 1)
            record = static_cast<int32_t>(i);
        records[i] = record;
        size_t key = hashes[count + i] ^ (static_cast<size_t>(record) * 0x9E3779B97F4A7C15ull);
        for (size_t b = key & (capacity - 1);; b = (b + 1) & (capacity - 1)) {
            int32_t at = slots[b];
            if (at < 0) {
                slots[b] = first[i] = static_cast<int32_t>(i);
                break;
            }
            if (records[at] == record &&
                strcasecmp(layout->items[at].name, layout->items[i].name) == 0) {
                first[i] = at;
                if (strcasecmp(parent_name(static_cast<size_t>(at)), parent_name(i)) != 0)
                    ambiguous[at] = 1;
                break;
            }
        }
    }
    for (size_t i = 0; i < count; ++i)
        ambiguous[i] = ambiguous[first[i]];
    brelrt_free(slots, HERE);
    file->item_hashes = hashes;
    file->item_parents = parents;
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
    if (!config_valid({kExactTableMatch, kKeepLeadingBlanks})) {
        trace_leave(kTraceFile, "Leaving, %d", file_error());
        return 0;
    }
    bool keep_blanks = brelrt_config_yes_no(kKeepLeadingBlanks) != 0;
    XmlParser* p = file->parser;
    if ((!p->document_texts && !xml_parser_document_texts(p, brelrt_config_text(kEncoding)) &&
         !p->encoder) ||
        !hash_item_names(file) || (!p->keep && !keep_what_records_use(file))) {
        set_file_error(kOutOfMemory);
        trace_leave(kTraceFile, "Leaving, out of memory");
        return 0;
    }
    p->keep_leading = keep_blanks;
    // A child of the root that names no record of the layout (a header, a
    // trailer of another program, a record type the layout lacks) is passed
    // over whole, and said.
    for (;;) {
        if (!xml_next_record_or_leave(p, file->stream))
            return 0;
        XmlElement* root = xml_element_record(p->root);
        XmlElement* element = root ? root->first_child : nullptr;
        int item = record_named(file->layout, element);
        if (item < 0) {
            if (element)
                tell(file, BxmlNotice{BXML_NOTICE_UNKNOWN_RECORD, file->records, element->name,
                                      nullptr, 0, -1, nullptr, 1});
            xml_parser_drop_record(p);
            continue;
        }
        if (trace_level() > kTraceDump && root) {
            brelrt_trace_printf(" dump_bxml_element\n");
            write_element(stderr, root, 0);
        }
        ++file->records;
        file->last_record = item;
        if (file->notice) {
            BxmlNotice begins{
                BXML_NOTICE_RECORD, file->records, element->name, nullptr, 0, item, nullptr, 0};
            file->notice(file->notice_context, &begins);
        }
        int largest = 0;
        {
            Reader reader(file, record, root, keep_blanks);
            if (!reader.prepare()) {
                // Nothing of the record was moved; the file stays stopped.
                stop_out_of_memory(p);
                xml_parser_drop_record(p);
                trace_leave(kTraceFile, "Leaving, out of memory");
                return 0;
            }
            largest = reader.fill(item);
            reader.tell_passed_over();
        }
        // Only the root stays between records.
        xml_parser_drop_record(p);
        trace_leave(kTraceFile, "Leaving, %d\n", largest + 1);
        return largest + 1;
    }
}

int xml_sread_record(XmlFile* file) {
    return file && !xml_file_output(file) ? file->last_record : -1;
}

void xml_set_notice(XmlFile* file, BxmlNoticeFn receiver, void* context) {
    if (!file)
        return;
    file->notice = receiver;
    file->notice_context = context;
}

int xml_record_length(RecordLayout* layout, const unsigned char* record, int item, int* minimum,
                      int* maximum) {
    if (!layout || item < 0 || item >= layout->field_count)
        return 0;
    const LayoutItem& top = layout->items[item];
    int64_t size = top.field.size, least = size, length = size;
    for (int i = item + 1; i < layout->field_count && layout->items[i].level != 1; ++i) {
        const LayoutItem& it = layout->items[i];
        if (!is_first_varying(it) || is_shadow(it))
            continue;
        VaryingTable table = varying_table(it);
        least -= (table.most - table.least) * table.size;
        long count = table.most;
        if (record && it.depending >= 0 && varying_count(layout, it, record, size, &count)) {
            if (count < table.least)
                count = table.least;
            if (count > table.most)
                count = table.most;
        }
        length -= (table.most - count) * table.size;
    }
    if (minimum)
        *minimum = static_cast<int>(least);
    if (maximum)
        *maximum = static_cast<int>(size);
    return static_cast<int>(length);
}

} // extern "C"
