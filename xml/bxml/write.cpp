// Writing records as XML (dispatch slot 48): one element per record under
// the root, groups as elements holding their children, every table
// occurrence an element of its own, indented by level number.
#include "bxml/config.h"
#include "bxml/files.h"
#include "bxml/host_entries.h"
#include "bxml/layout_walk.h"
#include "bxml/module.h"
#include "bxml/trace.h"
#include "bxml/xml_file.h"
#include "bxml32.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace bxml {

namespace {

const char kHex[] = "0123456789ABCDEF";

// What a byte of character data needs: 0 nothing (copied as it stands),
// 1 an entity or a blank in its place, 2 the encoding's check (a control
// byte, or one above 0x7F).
enum ByteKind : unsigned char { kPlain, kReplace, kCheck };

constexpr ByteKind byte_kind(unsigned c) {
    return c == '<' || c == '>' || c == '&' || c == '\'' || c == '"' || c == '\r' || c == 0
               ? kReplace
           : c >= 0x80 || (c < 0x20 && c != '\t' && c != '\n') ? kCheck
                                                               : kPlain;
}

struct ByteKinds {
    ByteKind kind[256];
    constexpr ByteKinds() : kind() {
        for (unsigned c = 0; c < 256; ++c)
            kind[c] = byte_kind(c);
    }
};
constexpr ByteKinds kByteKinds;

// Eight bytes at a time: text is mostly letters, digits and blanks.
constexpr uint64_t kOnes = 0x0101010101010101;
constexpr uint64_t kHigh = 0x8080808080808080;

uint64_t load8(const unsigned char* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// Some byte of w is 0.
constexpr uint64_t has_zero(uint64_t w) {
    return (w - kOnes) & ~w & kHigh;
}

// Some byte of w may not be plain: a control byte, one above 0x7F, or
// " & ' < > (the test is exact for those; a word it flags is looked at
// byte by byte).
constexpr bool maybe_special(uint64_t w) {
    return (((w - kOnes * 0x20) | w) & kHigh) | has_zero(w ^ (kOnes * 0x22)) |
           has_zero((w | kOnes) ^ (kOnes * 0x27)) | has_zero((w | kOnes * 0x02) ^ (kOnes * 0x3E));
}

// All eight bytes are blanks or NULs (LOW-VALUES).
constexpr bool all_blank(uint64_t w) {
    return (w & ~(kOnes * 0x20)) == 0;
}

bool blank(unsigned char c) {
    return (c & ~0x20) == 0;
}

// A numeric field's text: at most its digits, a sign and a decimal point.
constexpr size_t kNumberText = 128;

// Tags are copied 16 bytes at a time: the tag text has 16 spare bytes at its
// end (tags_make), and every room() for a tag asks for 16 more.
constexpr size_t kTagSlack = 16;

char* copy_tag(char* w, const char* tag, size_t n) {
    std::memcpy(w, tag, 16);
    for (size_t i = 16; i < n; i += 16)
        std::memcpy(w + i, tag + i, 16);
    return w + n;
}

class Writer {
public:
    Writer(XmlFile* file, const unsigned char* record, int length, bool collect, bool keep_blanks)
        : file_(file), layout_(file->layout), tags_(file->tags), record_(record),
          length_(length < 0 ? 0 : length), collect_(collect), keep_blanks_(keep_blanks),
          tracing_(trace_level() >= kTraceField), out_(file->out),
          convert_(host_function<decltype(&Bconvert)>(kEntryBconvert)),
          period_(static_cast<char>(host_function<decltype(&B4PgmPeriod)>(kEntryB4PgmPeriod)() &
                                    0xFF)) {}

    // The element of `index` and its subtree; true when some field in it
    // had data. With BXML_IGNORE_EMPTY_DATA an element without data is
    // left out whole.
    bool write_xml_piece(int index) {
        if (tracing_)
            trace_enter(kTraceField, "write_xml_piece, %d, %s", index, layout_->items[index].name);
        // A record variant stands in the place of the storage it redefines.
        if (layout_->items[index].flags & BRELRT_ITEM_REDEFINED)
            index = chosen_variant(layout_, index);
        bool any = is_group(layout_->items[index]) ? group(index) : element(index);
        if (tracing_)
            trace_leave(kTraceField, "Leaving");
        return any;
    }

    // A field was refused: nothing of this record may be written.
    bool refused() const { return bad_; }

private:
    // Room for `n` more bytes in the output; false when out of memory (the
    // output is marked failed, and the record is given up).
    bool room(size_t n) { return out_.length + n <= out_.capacity || out_grow(out_, n); }

    void put_tag(const char* tag, size_t n) {
        if (room(n + kTagSlack))
            out_.length =
                static_cast<size_t>(copy_tag(out_.data + out_.length, tag, n) - out_.data);
    }

    // A group's element with its children's: those whose storage begins
    // within the record as given, and of a table of variable length the
    // occurrences its counter says.
    bool group(int index) {
        const ItemTags& tags = tags_.items[index];
        const char* text = tags_.text + tags.at;
        size_t mark = out_.length;
        put_tag(text, tags.start);
        bool any = false;
        const ItemTags* items = tags_.items;
        long count = 0; // of the table of variable length being walked
        for (int c = tags.first; c >= 0 && !bad_ && !out_.failed; c = items[c].next) {
            const LayoutItem& child = layout_->items[c];
            if (is_first_varying(child) && !table_count(child, &count))
                break;
            if (is_varying(child) && child.occurrence[child.depth] > count)
                continue;
            // Beyond the record as given, but for a group that ends it with
            // a table of variable length holding nothing now.
            if (items[c].offset > length_ ||
                (items[c].offset == length_ && !holds_varying_table(c)))
                continue;
            any = write_xml_piece(c) || any;
        }
        put_tag(text + tags.start, tags.end);
        if (collect_ && !any)
            out_.length = mark;
        return any;
    }

    // Whether the group at `index` holds a table of variable length.
    bool holds_varying_table(int index) const {
        const LayoutItem& group = layout_->items[index];
        if (!is_group(group))
            return false;
        for (int i = index + 1; i < layout_->field_count && layout_->items[i].level > group.level;
             ++i)
            if (is_varying(layout_->items[i]))
                return true;
        return false;
    }

    // The occurrences of a table of variable length the record holds; false
    // (the record refused with 44) when its counter holds no number or one
    // outside the table's bounds.
    bool table_count(const LayoutItem& first, long* count) {
        VaryingTable table = varying_table(first);
        bool known = varying_count(layout_, first, record_, length_, count);
        if (known && *count >= table.least && *count <= table.most)
            return true;
        bad_ = true;
        set_file_error(kBadLength);
        if (first.depending < 0)
            fail_reason("the record's length %ld gives table %s %ld occurrences, outside %ld "
                        "to %ld",
                        static_cast<long>(length_), first.name, *count, table.least, table.most);
        else if (!known)
            fail_reason("the counter %s of table %s holds no number",
                        layout_->items[first.depending].name, first.name);
        else
            fail_reason("the counter %s of table %s holds %ld, outside %ld to %ld",
                        layout_->items[first.depending].name, first.name, *count, table.least,
                        table.most);
        return false;
    }

    // An elementary item's element, made in place: room for its longest
    // text is made first.
    bool element(int index) {
        const LayoutItem& item = layout_->items[index];
        const ItemTags& tags = tags_.items[index];
        const char* text = tags_.text + tags.at;
        // The bytes of the field that lie within the record as given: a
        // record's length may cut a text, nothing else.
        const unsigned char* field = record_ + item.offset;
        int64_t end = static_cast<int64_t>(item.offset) + item.field.size;
        size_t size = item.offset >= length_ ? 0
                      : end > length_        ? static_cast<size_t>(length_ - item.offset)
                                             : static_cast<size_t>(item.field.size);
        bool binary = item.user_type == BRELRT_USER_TYPE_BINARY;
        bool number = !binary && is_numeric(item.field.type);
        if (end > length_ && (binary || number || (item.flags & BRELRT_ITEM_EDITED))) {
            bad_ = true;
            set_file_error(kBadLength);
            fail_reason("the record's length %ld cuts field %s (bytes %ld to %ld)",
                        static_cast<long>(length_), item.name, static_cast<long>(item.offset) + 1,
                        static_cast<long>(end));
            return false;
        }
        size_t longest = binary ? 2 * size : number ? kNumberText : 6 * size; // "&quot;"
        if (!room(tags.start + longest + tags.end + kTagSlack))
            return false;
        if (tracing_)
            trace_enter(kTraceField, "write_xml_data");
        const char* leaving = "Leaving";
        char* w = copy_tag(out_.data + out_.length, text, tags.start);
        char* data = w;
        if (item.condition >= 1 && item.condition != BRELRT_CONDITION_GROUP &&
            !condition_holds(layout_, item.condition)) {
            leaving = "Leaving, condition failed";
        } else if (binary) {
            if (tracing_)
                trace_line(kTraceField, "Writing binary data");
            w = hexadecimal(w, field, size);
        } else if (number) {
            if (tracing_)
                trace_line(kTraceField, "Writing numeric data");
            if (size == static_cast<size_t>(item.field.size))
                w = numeric(w, item, field);
        } else {
            if (tracing_)
                trace_line(kTraceField, "Writing character data");
            w = characters(w, item, field, size);
        }
        // Collecting, a zero counts as no data; a refused field ends the
        // record.
        bool any = w != data && (!collect_ || !number || has_value(data, w));
        if (!bad_ && (any || !collect_))
            out_.length = static_cast<size_t>(copy_tag(w, text + tags.start, tags.end) - out_.data);
        if (tracing_)
            trace_leave(kTraceField, "%s", leaving);
        return any;
    }

    static bool has_value(const char* p, const char* end) {
        return std::any_of(p, end, [](char c) { return c >= '1' && c <= '9'; });
    }

    // Each byte as two uppercase hexadecimal digits, all bytes.
    static char* hexadecimal(char* w, const unsigned char* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            *w++ = kHex[p[i] >> 4];
            *w++ = kHex[p[i] & 0xF];
        }
        return w;
    }

    // The field's value as numeric text, converted by the host straight
    // into the output: "." for the program's decimal point, trailing blanks
    // cut. Nothing when the field holds no valid number.
    char* numeric(char* w, const LayoutItem& item, const unsigned char* field) {
        FieldDescriptor source = item.field;
        source.address = const_cast<unsigned char*>(field);
        int digits = text_digits(item);
        int size = digits + 1 + (item.field.scale < 0 ? 1 : 0);
        if (size > static_cast<int>(kNumberText))
            size = kNumberText;
        FieldDescriptor target{reinterpret_cast<unsigned char*>(w),
                               size,
                               BRELRT_T_NUMTEXT,
                               static_cast<uint8_t>(digits),
                               item.field.scale,
                               item.field.flags};
        int rc = convert_(&target, &source, 1);
        if (rc != 0) {
            // Left empty: the previous field's text is never repeated here.
            trace_line(kTraceFile, "xml_swrite: record %ld, field %s holds no valid number (%d)",
                       file_->records, item.name, rc);
            return w;
        }
        // The text is left-justified and holds no blank: it ends at the
        // first blank of the padding.
        const void* pad = std::memchr(w, ' ', static_cast<size_t>(size));
        size_t n = pad ? static_cast<size_t>(static_cast<const char*>(pad) - w)
                       : static_cast<size_t>(size);
        if (period_ != '.')
            std::replace(w, w + n, period_, '.');
        return w + n;
    }

    // Character data without its leading and trailing blanks (LOW-VALUES
    // count as blanks), escaped. A byte the document cannot carry refuses
    // the record.
    char* characters(char* w, const LayoutItem& item, const unsigned char* p, size_t n) {
        while (n >= 8 && all_blank(load8(p + n - 8)))
            n -= 8;
        while (n > 0 && blank(p[n - 1]))
            --n;
        while (!keep_blanks_ && n >= 8 && all_blank(load8(p))) {
            p += 8;
            n -= 8;
        }
        while (!keep_blanks_ && n > 0 && blank(p[0])) {
            ++p;
            --n;
        }
        bool checked = false;
        for (size_t i = 0; i < n;) {
            size_t run = i;
            while (run + 8 <= n && !maybe_special(load8(p + run)))
                run += 8;
            // Fewer than eight bytes left: the word ending at the text's end
            // holds them all (and bytes before `run`, plain or already
            // handled) and settles them at once when none of its bytes is
            // special.
            if (run < n && n >= 8 && n - run < 8 && !maybe_special(load8(p + n - 8)))
                run = n;
            while (run < n && kByteKinds.kind[p[run]] == kPlain)
                ++run;
            std::memcpy(w, p + i, run - i);
            w += run - i;
            if (run == n)
                break;
            unsigned char c = p[run];
            if (kByteKinds.kind[c] == kCheck) {
                if (!checked && !check(item, p, n))
                    return w;
                checked = true;
                *w++ = static_cast<char>(c);
            } else {
                w = replace(w, c);
            }
            i = run + 1;
        }
        if (tracing_)
            trace_line(kTraceField, "Removing trailing spaces");
        return w;
    }

    static char* replace(char* w, unsigned char c) {
        const char* entity;
        size_t length;
        switch (c) {
        case '<':
            entity = "&lt;", length = 4;
            break;
        case '>':
            entity = "&gt;", length = 4;
            break;
        case '&':
            entity = "&amp;", length = 5;
            break;
        case '\'':
            entity = "&apos;", length = 6;
            break;
        case '"':
            entity = "&quot;", length = 6;
            break;
        case '\r':
            entity = "&#13;", length = 5; // a parser would read a bare one as a line feed
            break;
        default:
            entity = " ", length = 1; // LOW-VALUES inside the text
        }
        std::memcpy(w, entity, length);
        return w + length;
    }

    // Whether the document's encoding carries the field's bytes; refuses
    // the record (and says which byte) when not.
    bool check(const LayoutItem& item, const unsigned char* p, size_t n) {
        size_t bad = text_check_find_bad(file_->check, p, n);
        if (bad >= n)
            return true;
        bad_ = true;
        set_file_error(kParseError);
        fail_reason("field %s has byte 0x%02X at %ld, which %s cannot carry", item.name, p[bad],
                    static_cast<long>(p + bad - (record_ + item.offset)),
                    text_check_name(file_->check));
        return false;
    }

    XmlFile* file_;
    RecordLayout* layout_;
    const Tags& tags_;
    const unsigned char* record_;
    int64_t length_;
    bool collect_;
    bool keep_blanks_; // BXML_KEEP_LEADING_BLANKS: texts keep their leading blanks
    bool tracing_;     // field tracing (level 2) is on
    OutBuffer& out_;
    decltype(&Bconvert) convert_;
    char period_;
    bool bad_ = false;
};

// Evaluates every condition of the layout on the record as given. The host
// reads the tested field through B4TestCOBOLCond, so a condition whose
// field does not lie wholly within the first `length` bytes is false
// without asking it; an OTHER (which the host would decide by testing its
// alternatives again) holds when none of its alternatives holds.
void evaluate_conditions(RecordLayout* layout, const unsigned char* record, int64_t length) {
    auto test = host_function<decltype(&B4TestCOBOLCond)>(kEntryB4TestCOBOLCond);
    for (int k = 1; k <= layout->condition_count; ++k) {
        ConditionEntry& c = layout->conditions[k - 1];
        if (is_other(c))
            continue;
        bool within = c.tested >= 0 && c.tested < layout->item_count &&
                      static_cast<int64_t>(layout->items[c.tested].offset) +
                              layout->items[c.tested].field.size <=
                          length;
        if (within)
            test(layout, k, record);
        else
            c.result = static_cast<uint8_t>(c.result & ~1);
    }
    for (int k = 1; k <= layout->condition_count; ++k) {
        ConditionEntry& c = layout->conditions[k - 1];
        if (!is_other(c))
            continue;
        bool none = true;
        for (int j = 1; j <= layout->condition_count && none; ++j) {
            const ConditionEntry& a = layout->conditions[j - 1];
            none = is_other(a) || alternatives(layout, a) != alternatives(layout, c) ||
                   !(a.result & 1);
        }
        c.result = static_cast<uint8_t>(none ? (c.result | 1) : (c.result & ~1));
    }
}

// The record type of this record: the first level-01 record whose condition
// holds (or that has none), else item 0.
int record_item(const RecordLayout* layout) {
    for (int i = 0; i < layout->field_count; ++i) {
        if (!is_record(layout->items[i]))
            continue;
        int k = record_condition(layout, i);
        if (k == 0 || condition_holds(layout, k))
            return i;
    }
    return 0;
}

} // namespace

} // namespace bxml

using namespace bxml;

extern "C" {

int xml_record_item(RecordLayout* layout, const unsigned char* record, int length) {
    if (!layout || !layout->items || layout->field_count < 1)
        return 0;
    evaluate_conditions(layout, record, record ? length : 0);
    return record_item(layout);
}

int xml_swrite(XmlFile* file, const unsigned char* record, int length) {
    return xml_swrite_as(file, record, length, -1);
}

int xml_swrite_as(XmlFile* file, const unsigned char* record, int length, int item) {
    set_file_error(kNoError);
    trace_enter(kTraceFile, "xml_swrite");
    if (!config_valid({kIgnoreEmptyData, kKeepLeadingBlanks})) {
        trace_leave(kTraceFile, "Leaving, %d", file_error());
        return 0;
    }
    bool collect = brelrt_config_yes_no(kIgnoreEmptyData) != 0;
    bool keep_blanks = brelrt_config_yes_no(kKeepLeadingBlanks) != 0;
    if (!file || !xml_file_output(file) || !file->layout || (!record && length > 0)) {
        set_file_error(kNotSupported);
        fail_reason("xml_swrite: not a file open for output");
        trace_leave(kTraceFile, "Leaving, not a file open for output");
        return 0;
    }
    RecordLayout* layout = file->layout;
    if (item != -1 &&
        (item < 0 || item >= layout->field_count || !is_record(layout->items[item]))) {
        set_file_error(kNotSupported);
        fail_reason("xml_swrite: item %d is no record of the layout %s", item, layout->name);
        trace_leave(kTraceFile, "Leaving, no such record");
        return 0;
    }
    if (file->write_error) {
        set_file_error(kWriteFailed);
        set_cause(file->write_error);
        fail_reason("an earlier write to '%s' failed (%s)", file->name,
                    std::strerror(file->write_error));
        trace_leave(kTraceFile, "Leaving, an earlier write to '%s' failed", file->name);
        return 0;
    }
    static const unsigned char nothing = 0;
    if (!record || length < 0) {
        record = &nothing;
        length = 0;
    }
    ++file->writes;
    evaluate_conditions(layout, record, length);
    OutBuffer& out = file->out;
    size_t start = out.length;
    ++file->records;
    Writer writer(file, record, length, collect, keep_blanks);
    bool any = writer.write_xml_piece(item >= 0 ? item : record_item(layout));
    if (writer.refused() || out.failed) {
        out.length = start;
        out.failed = false;
        --file->records;
        if (!writer.refused())
            set_file_error(kOutOfMemory);
        trace_line(kTraceFile, "xml_swrite: write %ld not written", file->writes);
        trace_leave(kTraceFile, "Leaving, %d", file_error());
        return 0;
    }
    if (collect && !any) {
        out.length = start; // a record with no data at all writes nothing
        --file->records;
    } else if (!note_record_end(file) && !flush_output(file, "xml_swrite")) {
        // No room to note where the record ends: it goes out at once.
        trace_leave(kTraceFile, "Leaving, %d", file_error());
        return 0;
    }
    if (out.length >= BXML_FLUSH_SIZE && !flush_output(file, "xml_swrite")) {
        trace_leave(kTraceFile, "Leaving, %d", file_error());
        return 0;
    }
    trace_leave(kTraceFile, "Leaving");
    return 1;
}

int xml_sflush(XmlFile* file) {
    set_file_error(kNoError);
    if (!file || !xml_file_output(file) || !file->stream) {
        set_file_error(kNotSupported);
        return 0;
    }
    return file->out.length == 0 || flush_output(file, "xml_sflush") ? 1 : 0;
}

long xml_swritten(XmlFile* file, long* records) {
    bool output = file && xml_file_output(file);
    if (records)
        *records = output ? file->records : 0;
    return output ? file->written : 0;
}

} // extern "C"
