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

#include <cstring>

namespace bxml {

namespace {

// The work buffer shared by the module: the text of one field is built here
// and handed on whenever more than 502 characters are pending, so a field
// of any size goes out in pieces.
constexpr size_t kWorkSize = 512;
constexpr size_t kWorkEmit = 502;
char g_work[kWorkSize];

const char kHex[] = "0123456789ABCDEF";

class Writer {
public:
    Writer(XmlFile* file, const unsigned char* record, int length, bool collect)
        : file_(file), layout_(file->layout), record_(record), length_(length < 0 ? 0 : length),
          collect_(collect), out_(file->out),
          convert_(host_function<decltype(&Bconvert)>(kEntryBconvert)),
          period_(static_cast<char>(host_function<decltype(&B4PgmPeriod)>(kEntryB4PgmPeriod)() &
                                    0xFF)) {}

    // The element of `index` and its subtree; true when some field in it
    // had data.
    bool write_xml_piece(int index) {
        trace_enter(kTraceField, "write_xml_piece, %d, %s", index, layout_->items[index].name);
        // A record variant stands in the place of the storage it redefines.
        index = chosen_variant(layout_, index);
        const LayoutItem& item = layout_->items[index];
        out_blanks(out_, item.level);
        out_char(out_, '<');
        out_put(out_, item.name);
        out_char(out_, '>');
        bool any = false;
        if (is_group(item)) {
            out_char(out_, '\n');
            for (int c = first_child(layout_, index); c >= 0 && !bad_;
                 c = next_sibling(layout_, c)) {
                const LayoutItem& child = layout_->items[c];
                if (length_ < static_cast<int64_t>(child.offset) + child.field.size)
                    continue; // beyond the record as given
                size_t mark = out_.length;
                bool r = write_xml_piece(c);
                if (collect_ && !r)
                    out_.length = mark;
                any = any || r;
            }
            out_blanks(out_, item.level);
        } else {
            size_t mark = out_.length;
            any = write_xml_data(index);
            if (collect_ && !any)
                out_.length = mark;
        }
        out_put(out_, "</", 2);
        out_put(out_, item.name);
        out_put(out_, ">\n", 2);
        trace_leave(kTraceField, "Leaving");
        return any;
    }

    // A field was refused: nothing of this record may be written.
    bool refused() const { return bad_; }

private:
    // The text of an elementary item; true when it had data.
    bool write_xml_data(int index) {
        const LayoutItem& item = layout_->items[index];
        trace_enter(kTraceField, "write_xml_data");
        if (item.condition >= 1 && item.condition != BRELRT_CONDITION_GROUP &&
            !condition_holds(layout_, item.condition)) {
            trace_leave(kTraceField, "Leaving, condition failed");
            return false;
        }
        // The bytes of the field that lie within the record as given.
        const unsigned char* field = record_ + item.offset;
        int64_t end = static_cast<int64_t>(item.offset) + item.field.size;
        size_t size = item.offset >= length_ ? 0
                      : end > length_        ? static_cast<size_t>(length_ - item.offset)
                                             : static_cast<size_t>(item.field.size);
        bool whole = size == static_cast<size_t>(item.field.size);
        bool r;
        if (item.user_type == BRELRT_USER_TYPE_BINARY) {
            trace_line(kTraceField, "Writing binary data");
            pending_ = 0;
            for (size_t i = 0; i < size; ++i) {
                work(kHex[field[i] >> 4]);
                work(kHex[field[i] & 0xF]);
            }
            emit();
            r = size > 0;
        } else if (is_numeric(item.field.type)) {
            trace_line(kTraceField, "Writing numeric data");
            r = whole && numeric(item, field);
        } else {
            trace_line(kTraceField, "Writing character data");
            r = characters(item, field, size);
        }
        trace_leave(kTraceField, "Leaving");
        return r;
    }

    bool numeric(const LayoutItem& item, const unsigned char* field) {
        FieldDescriptor source = item.field;
        source.address = const_cast<unsigned char*>(field);
        int digits = text_digits(item);
        int size = digits + 1 + (item.field.scale < 0 ? 1 : 0);
        char text[128];
        if (size > static_cast<int>(sizeof text))
            size = sizeof text;
        FieldDescriptor target{reinterpret_cast<unsigned char*>(text),
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
            return false;
        }
        size_t n = static_cast<size_t>(size);
        while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\0'))
            --n;
        bool value = false;
        for (size_t i = 0; i < n; ++i) {
            if (text[i] == period_)
                text[i] = '.';
            if (text[i] >= '1' && text[i] <= '9')
                value = true;
        }
        // Collecting, a zero counts as no data.
        if (collect_ && !value)
            return false;
        out_put(out_, text, n);
        return true;
    }

    bool characters(const LayoutItem& item, const unsigned char* p, size_t n) {
        // LOW-VALUES count as blanks.
        while (n > 0 && (p[0] == ' ' || p[0] == '\0')) {
            ++p;
            --n;
        }
        while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\0'))
            --n;
        if (n == 0)
            return false;
        size_t bad = text_check_find_bad(file_->check, p, n);
        if (bad < n) {
            bad_ = true;
            set_file_error(kParseError);
            const char* encoding = brelrt_config_text(kEncoding);
            trace_line(kTraceFile,
                       "xml_swrite: record %ld not written: field %s has byte 0x%02X at %ld, "
                       "which %s cannot carry",
                       file_->records, item.name, p[bad],
                       static_cast<long>(p + bad - (record_ + item.offset)),
                       encoding && *encoding ? encoding : "UTF-8 XML");
            return false;
        }
        pending_ = 0;
        for (size_t i = 0; i < n; ++i) {
            unsigned char c = p[i];
            switch (c) {
            case '<':
                work("&lt;");
                break;
            case '>':
                work("&gt;");
                break;
            case '&':
                work("&amp;");
                break;
            case '\'':
                work("&apos;");
                break;
            case '"':
                work("&quot;");
                break;
            case '\r':
                work("&#13;"); // a parser would read a bare one as a line feed
                break;
            case '\0':
                work(' ');
                break;
            default:
                work(static_cast<char>(c));
            }
        }
        trace_line(kTraceField, "Removing trailing spaces");
        emit();
        return true;
    }

    void work(char c) {
        g_work[pending_++] = c;
        if (pending_ > kWorkEmit)
            emit();
    }
    void work(const char* entity) {
        while (*entity)
            g_work[pending_++] = *entity++;
        if (pending_ > kWorkEmit)
            emit();
    }
    void emit() {
        out_put(out_, g_work, pending_);
        pending_ = 0;
    }

    XmlFile* file_;
    RecordLayout* layout_;
    const unsigned char* record_;
    int64_t length_;
    bool collect_;
    OutBuffer& out_;
    decltype(&Bconvert) convert_;
    char period_;
    size_t pending_ = 0;
    bool bad_ = false;
};

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

int xml_swrite(XmlFile* file, const unsigned char* record, int length) {
    bool collect = brelrt_config_yes_no(kIgnoreEmptyData) != 0;
    set_file_error(kNoError);
    trace_enter(kTraceFile, "xml_swrite");
    if (!file || !xml_file_output(file) || !file->layout || (!record && length > 0)) {
        set_file_error(kNotSupported);
        trace_leave(kTraceFile, "Leaving, not a file open for output");
        return 0;
    }
    if (file->write_error) {
        set_file_error(kWriteFailed);
        trace_leave(kTraceFile, "Leaving, an earlier write to '%s' failed", file->name);
        return 0;
    }
    static const unsigned char nothing = 0;
    if (!record)
        record = &nothing;
    RecordLayout* layout = file->layout;
    auto test = host_function<decltype(&B4TestCOBOLCond)>(kEntryB4TestCOBOLCond);
    for (int k = 1; k <= layout->condition_count; ++k)
        test(layout, k, record);
    OutBuffer& out = file->out;
    size_t start = out.length;
    ++file->records;
    Writer writer(file, record, length, collect);
    bool any = writer.write_xml_piece(record_item(layout));
    if (writer.refused() || out.failed) {
        out.length = start;
        out.failed = false;
        --file->records;
        if (!writer.refused())
            set_file_error(kOutOfMemory);
        trace_leave(kTraceFile, "Leaving, %d", file_error());
        return 0;
    }
    if (collect && !any) {
        out.length = start; // a record with no data at all writes nothing
        --file->records;
    }
    if (out.length >= BXML_FLUSH_SIZE && !flush_output(file, "xml_swrite")) {
        trace_leave(kTraceFile, "Leaving, %d", file_error());
        return 0;
    }
    trace_leave(kTraceFile, "Leaving");
    return 1;
}

} // extern "C"
