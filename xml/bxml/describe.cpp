#include "bxml/describe.h"

#include "bxml/config.h"
#include "bxml/layout_walk.h"
#include "bxml/module.h"
#include "bxml/trace.h"
#include "bxml32.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace bxml {

namespace {

#define HERE kModuleBxml, __LINE__

// An entry of the duplicate-name table: the name is the item's own (its
// scratch word points at it); chained through the third word.
struct NameEntry {
    const char* name;
    void* unused;
    NameEntry* next;
};

void free_names(void* head) {
    auto* e = static_cast<NameEntry*>(head);
    while (e) {
        NameEntry* next = e->next;
        brelrt_free(e, HERE);
        e = next;
    }
}

class Names {
public:
    Names() : table_(brelrt_hash_new(211, free_names, HERE, "XML elements")) {}
    ~Names() { brelrt_hash_free(table_, HERE); }
    Names(const Names&) = delete;
    Names& operator=(const Names&) = delete;

    bool ok() const { return table_ != nullptr && !failed_; }
    bool has(LayoutItem& item) {
        item.scratch = item.name;
        return brelrt_hash_find(table_, static_cast<const char*>(item.scratch)) != nullptr;
    }
    // Enters the item's name (once: a name already there is left alone).
    void enter(LayoutItem& item) {
        if (has(item))
            return;
        auto* e = static_cast<NameEntry*>(brelrt_alloc(sizeof(NameEntry), 1, HERE, "XML elements"));
        if (!e || !brelrt_hash_add(table_, static_cast<const char*>(item.scratch), e)) {
            brelrt_free(e, HERE);
            failed_ = true;
            return;
        }
        e->name = static_cast<const char*>(item.scratch);
    }

private:
    BrelrtHash* table_;
    bool failed_ = false;
};

bool in_table(const LayoutItem& child, const LayoutItem& group) {
    return child.depth != group.depth;
}

// ---- DTD

class Dtd {
public:
    Dtd(OutBuffer& out, RecordLayout* layout) : out_(out), layout_(layout) {}

    // `wrapped`: inside "<!DOCTYPE layout [" and "]>", as a document holds it.
    bool write(bool wrapped) {
        if (!names_.ok())
            return false;
        LayoutItem* items = layout_->items;
        if (wrapped)
            out_printf(out_, "<!DOCTYPE %s [\n", layout_->name);
        out_printf(out_, "<!ELEMENT %s (%s", layout_->name, items[0].name);
        names_.enter(items[0]);
        bool several = (layout_->flags & BRELRT_LAYOUT_MULTIPLE) != 0;
        if (several)
            for (int i = 1; i < layout_->field_count; ++i)
                if (is_record(items[i])) {
                    out_printf(out_, " | %s", items[i].name);
                    names_.enter(items[i]);
                }
        out_put(out_, ")*>\n");
        declare(0);
        if (several)
            for (int i = 1; i < layout_->field_count; ++i)
                if (is_record(items[i]))
                    declare(i);
        if (wrapped)
            out_put(out_, "]>\n");
        return names_.ok() && !out_.failed;
    }

private:
    // A child in its parent's content model: its name, or the choice of its
    // storage's descriptions; "*" for a table.
    void model_entry(int child, const LayoutItem& group) {
        LayoutItem& c = layout_->items[child];
        if (next_variant(layout_, child, 0)) {
            out_printf(out_, "(%s", c.name);
            for (int k = next_variant(layout_, child, 0); k; k = next_variant(layout_, child, k))
                out_printf(out_, " | %s", layout_->items[layout_->conditions[k - 1].item].name);
            out_char(out_, ')');
        } else {
            out_put(out_, c.name);
        }
        if (in_table(c, group))
            out_char(out_, '*');
    }

    void declare(int index) {
        LayoutItem& item = layout_->items[index];
        if (item.level != 1) {
            // A record is always declared: the root's list entered its name.
            if (names_.has(item))
                return;
            names_.enter(item);
        }
        if (!is_group(item)) {
            out_blanks(out_, item.level);
            out_printf(out_, "<!ELEMENT %s (#PCDATA)>\n", item.name);
            return;
        }
        out_blanks(out_, item.level);
        out_printf(out_, "<!ELEMENT %s ", item.name);
        bool any = false;
        for (int c = first_child(layout_, index); c >= 0; c = next_sibling(layout_, c)) {
            if (is_repeated(layout_->items[c]))
                continue;
            out_put(out_, any ? ", " : "(");
            model_entry(c, item);
            any = true;
        }
        // A group of FILLER only holds nothing but blanks.
        out_put(out_, any ? ")>\n" : "(#PCDATA)>\n");
        for (int c = first_child(layout_, index); c >= 0; c = next_sibling(layout_, c)) {
            if (is_repeated(layout_->items[c]))
                continue;
            declare(c);
            for (int k = next_variant(layout_, c, 0); k; k = next_variant(layout_, c, k))
                declare(layout_->conditions[k - 1].item);
        }
    }

    OutBuffer& out_;
    RecordLayout* layout_;
    Names names_;
};

// ---- XML Schema

class Schema {
public:
    Schema(OutBuffer& out, RecordLayout* layout) : out_(out), layout_(layout) {}

    bool write(const char* encoding, const char* documentation) {
        if (!names_.ok())
            return false;
        out_put(out_, "<?xml version=\"1.0\"");
        if (encoding && *encoding)
            out_printf(out_, " encoding=\"%s\"", encoding);
        out_put(out_, "?>\n");
        out_printf(out_, "<%s:schema xmlns:%s=\"%s\">\n", "xs", "xs", kSchemaNamespace);
        out_printf(out_, "  <%s:annotation>\n", "xs");
        out_printf(out_, "    <%s:documentation>\n", "xs");
        if (documentation) {
            out_put(out_, "      ");
            out_escaped(out_, documentation);
            out_char(out_, '\n');
        }
        int32_t today = brelrt_today();
        out_printf(out_, "      Created by %s version %s on %04d/%02d/%02d\n", kProductName,
                   BXML_VERSION_TEXT, today / 10000, today / 100 % 100, today % 100);
        out_printf(out_, "    </%s:documentation>\n", "xs");
        out_printf(out_, "  </%s:annotation>\n\n", "xs");
        root();
        LayoutItem* items = layout_->items;
        for (int i = 0; i < layout_->field_count; ++i)
            if (is_group(items[i]))
                complex_element(i);
        for (int i = 0; i < layout_->field_count; ++i)
            if (!is_group(items[i]))
                simple_element(i);
        out_printf(out_, "</%s:schema>\n", "xs");
        return names_.ok() && !out_.failed;
    }

private:
    // The root holds the records: with one record type as many of it as
    // there are, with several any of them in any order.
    void root() {
        LayoutItem* items = layout_->items;
        int records = 0;
        for (int i = 0; i < layout_->field_count; ++i)
            records += is_record(items[i]) ? 1 : 0;
        out_printf(out_, "%*s<%s:element name=\"%s\">\n", 2, " ", "xs", layout_->name);
        out_printf(out_, "%*s<%s:complexType>\n", 4, " ", "xs");
        if (records <= 1) {
            out_printf(out_, "%*s<%s:sequence>\n", 6, " ", "xs");
            out_printf(out_, "%*s<%s:element maxOccurs=\"unbounded\" ref=\"%s\"/>\n", 8, " ", "xs",
                       items[0].name);
            out_printf(out_, "%*s</%s:sequence>\n", 6, " ", "xs");
        } else {
            out_printf(out_, "%*s<%s:choice minOccurs=\"0\" maxOccurs=\"unbounded\">\n", 6, " ",
                       "xs");
            for (int i = 0; i < layout_->field_count; ++i)
                if (is_record(items[i]))
                    out_printf(out_, "%*s<%s:element ref=\"%s\"/>\n", 8, " ", "xs", items[i].name);
            out_printf(out_, "%*s</%s:choice>\n", 6, " ", "xs");
        }
        out_printf(out_, "%*s</%s:complexType>\n", 4, " ", "xs");
        out_printf(out_, "%*s</%s:element>\n\n", 2, " ", "xs");
    }

    bool described(LayoutItem& item) {
        if (is_shadow(item) || is_repeated(item) || names_.has(item))
            return false;
        names_.enter(item);
        return true;
    }

    // A group that declares no child (all of its fields are FILLER) holds
    // only the blanks the writer indents with: a string, as the DTD's
    // (#PCDATA).
    bool declares_child(int index) const {
        for (int c = first_child(layout_, index); c >= 0; c = next_sibling(layout_, c))
            if (!is_repeated(layout_->items[c]))
                return true;
        return false;
    }

    void complex_element(int index) {
        LayoutItem& item = layout_->items[index];
        if (!described(item))
            return;
        if (!declares_child(index)) {
            out_printf(out_, "%*s<%s:element name=\"%s\" type=\"%s:string\"/>\n\n", 2, " ", "xs",
                       item.name, "xs");
            return;
        }
        out_printf(out_, "%*s<%s:element name=\"%s\">\n", 2, " ", "xs", item.name);
        out_printf(out_, "%*s<%s:complexType>\n", 4, " ", "xs");
        out_printf(out_, "%*s<%s:sequence>\n", 6, " ", "xs");
        for (int c = first_child(layout_, index); c >= 0; c = next_sibling(layout_, c)) {
            const LayoutItem& child = layout_->items[c];
            if (is_repeated(child))
                continue;
            int count = in_table(child, item) ? child.occurs_count[child.depth] : 0;
            // A table of variable length holds as few as its minimum.
            int least = is_varying(child) ? child.occurs_min : 1;
            if (next_variant(layout_, c, 0)) {
                // The storage's descriptions as a choice.
                out_printf(out_, "%*s<%s:choice", 8, " ", "xs");
                if (count && least != 1)
                    out_printf(out_, " minOccurs=\"%d\"", least);
                if (count)
                    out_printf(out_, " maxOccurs=\"%d\"", count);
                out_put(out_, ">\n");
                out_printf(out_, "%*s<%s:element ref=\"%s\"/>\n", 10, " ", "xs", child.name);
                for (int k = next_variant(layout_, c, 0); k; k = next_variant(layout_, c, k))
                    out_printf(out_, "%*s<%s:element ref=\"%s\"/>\n", 10, " ", "xs",
                               layout_->items[layout_->conditions[k - 1].item].name);
                out_printf(out_, "%*s</%s:choice>\n", 8, " ", "xs");
                continue;
            }
            out_printf(out_, "%*s<%s:element ref=\"%s\"", 8, " ", "xs", child.name);
            if (count && least != 1)
                out_printf(out_, " minOccurs=\"%d\"", least);
            if (count)
                out_printf(out_, " maxOccurs=\"%d\"", count);
            out_put(out_, "/>\n");
        }
        out_printf(out_, "      </%s:sequence>\n", "xs");
        out_printf(out_, "    </%s:complexType>\n", "xs");
        out_printf(out_, "  </%s:element>\n\n", "xs");
    }

    void simple_element(int index) {
        LayoutItem& item = layout_->items[index];
        if (!described(item))
            return;
        const FieldDescriptor& f = item.field;
        out_printf(out_, "%*s<%s:element name=\"%s\">\n", 2, " ", "xs", item.name);
        out_printf(out_, "%*s<%s:simpleType>\n", 4, " ", "xs");
        out_printf(out_, "%*s<xs:restriction base=\"%s:", 6, " ", "xs");
        if (item.user_type == BRELRT_USER_TYPE_BINARY) {
            // Written as two hexadecimal digits a byte.
            out_put(out_, "hexBinary\">\n");
            out_printf(out_, "%*s<%s:length value=\"%ld\"/>\n", 8, " ", "xs",
                       static_cast<long>(f.size));
        } else if (f.type == BRELRT_T_FLOAT) {
            out_put(out_, "float\">\n");
        } else if (f.type == BRELRT_T_DOUBLE) {
            out_put(out_, "double\">\n");
        } else if (is_numeric(f.type)) {
            // COMP-5 holds what its bytes hold, more than its picture's digits.
            int digits = f.type == BRELRT_T_NATIVE || f.type == BRELRT_T_NATIVE_UNSIGNED
                             ? text_digits(item)
                             : f.digits;
            if (f.scale != 0) {
                out_put(out_, "decimal\">\n");
                out_printf(out_, "%*s<%s:totalDigits value=\"%d\"/>\n", 8, " ", "xs", digits);
                out_printf(out_, "%*s<%s:fractionDigits value=\"%d\"/>\n", 8, " ", "xs", -f.scale);
            } else {
                out_put(out_, "integer\">\n");
                out_printf(out_, "%*s<%s:totalDigits value=\"%d\"/>\n", 8, " ", "xs", digits);
            }
        } else {
            out_put(out_, "string\">\n");
            out_printf(out_, "%*s<%s:maxLength value=\"%ld\"/>\n", 8, " ", "xs",
                       static_cast<long>(f.size));
        }
        out_printf(out_, "%*s</%s:restriction>\n", 6, " ", "xs");
        out_printf(out_, "%*s</%s:simpleType>\n", 4, " ", "xs");
        out_printf(out_, "%*s</%s:element>\n", 2, " ", "xs");
        out_put(out_, "\n");
    }

    OutBuffer& out_;
    RecordLayout* layout_;
    Names names_;
};

} // namespace

bool write_dtd(OutBuffer& out, RecordLayout* layout, bool wrapped) {
    if (!layout || layout->field_count < 1)
        return false;
    Dtd dtd(out, layout);
    return dtd.write(wrapped);
}

bool write_schema(OutBuffer& out, RecordLayout* layout, const char* encoding,
                  const char* documentation) {
    if (!layout || layout->field_count < 1)
        return false;
    Schema schema(out, layout);
    return schema.write(encoding, documentation);
}

} // namespace bxml

using namespace bxml;

extern "C" int bxml_describe(FILE* stream, struct RecordLayout* layout, int style) {
    set_file_error(kNoError);
    trace_enter(kTraceFile, "bxml_describe: %s, %d", layout ? layout->name : "NULL", style);
    if (!stream || !layout || layout->field_count < 1 || layout->item_count < layout->field_count ||
        (style != kStyleDtd && style != kStyleSchema)) {
        set_file_error(kNotSupported);
        trace_leave(kTraceFile, "Leaving, no layout or no such style");
        return 0;
    }
    OutBuffer out;
    bool made = style == kStyleDtd ? write_dtd(out, layout, false)
                                   : write_schema(out, layout, brelrt_config_text(kEncoding),
                                                  brelrt_config_text(kSchemaDoc));
    if (!made) {
        out_free(out);
        set_file_error(kOutOfMemory);
        trace_leave(kTraceFile, "Leaving, out of memory");
        return 0;
    }
    errno = 0;
    bool written = std::fwrite(out.data, 1, out.length, stream) == out.length;
    written = std::fflush(stream) == 0 && written;
    int error = errno ? errno : EIO;
    out_free(out);
    if (!written) {
        set_file_error(kWriteFailed);
        set_cause(error);
        trace_leave(kTraceFile, "Leaving, write failed: %s", std::strerror(error));
        return 0;
    }
    trace_leave(kTraceFile, "Leaving, success");
    return 1;
}
