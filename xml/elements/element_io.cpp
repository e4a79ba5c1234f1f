#include "elements/element_io.h"

#include <brelrt.h>

#include <cstring>

namespace bxml {

namespace {

void spaces(FILE* f, int n) {
    static const char kSpaces[] = "                                ";
    while (n > 0) {
        int k = n < 32 ? n : 32;
        std::fwrite(kSpaces, 1, static_cast<size_t>(k), f);
        n -= k;
    }
}

void put(FILE* f, const char* s, size_t n) {
    if (n)
        std::fwrite(s, 1, n, f);
}

void put(FILE* f, const char* s) {
    std::fputs(s, f);
}

// Runs of plain characters go out whole; the five markup characters as
// their entities. In a comment a "-" that follows a "-" is set apart by a
// space, since "--" would end the document's well-formedness there.
void escaped(FILE* f, const char* s, size_t n, bool comment) {
    size_t run = 0;
    for (size_t i = 0; i < n; ++i) {
        const char* entity = nullptr;
        switch (s[i]) {
        case '&':
            entity = "&amp;";
            break;
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        case '\'':
            entity = "&apos;";
            break;
        case '"':
            entity = "&quot;";
            break;
        case '-':
            if (comment && i > 0 && s[i - 1] == '-')
                entity = " -";
            break;
        default:
            break;
        }
        if (!entity)
            continue;
        put(f, s + run, i - run);
        put(f, entity);
        run = i + 1;
    }
    put(f, s + run, n - run);
}

void escaped(FILE* f, const BrelrtText* t, bool comment = false) {
    escaped(f, brelrt_text_data(t), brelrt_text_length(t), comment);
}

void indent_to(FILE* f, int n) {
    if (n > 0)
        spaces(f, n);
}

bool has_children(const XmlElement* e) {
    return e->children && e->children->first;
}

// Everything of `e` up to its children; true when children follow and the
// end tag is still to come.
bool open_tag(FILE* f, const XmlElement* e, int n) {
    if (e->comments) {
        indent_to(f, n);
        put(f, "<!-- ");
        escaped(f, e->comments, true);
        put(f, " -->\n");
    }
    indent_to(f, n);
    put(f, "<");
    put(f, brelrt_text_data(e->name));
    for (size_t k = 0, count = brelrt_pairs_count(e->attributes); k < count; ++k) {
        BrelrtPair* a = brelrt_pairs_at(e->attributes, k);
        put(f, "\n");
        spaces(f, n + 1);
        put(f, "    ");
        put(f, brelrt_text_data(static_cast<BrelrtText*>(a->name)));
        put(f, "=\"");
        escaped(f, static_cast<BrelrtText*>(a->value));
        put(f, "\"");
    }
    if (!e->text && !has_children(e)) {
        put(f, "/>\n");
        return false;
    }
    put(f, ">");
    if (e->text)
        escaped(f, e->text);
    if (has_children(e)) {
        put(f, "\n");
        return true;
    }
    put(f, "</");
    put(f, brelrt_text_data(e->name));
    put(f, ">\n");
    return false;
}

void close_tag(FILE* f, const XmlElement* e, int n) {
    indent_to(f, n);
    put(f, "</");
    put(f, brelrt_text_data(e->name));
    put(f, ">\n");
}

void trace_line_of(const XmlElement* e, int n) {
    brelrt_trace_printf("%*s%s", n, " ", brelrt_text_data(e->name));
    for (int k = 0; k <= e->last_position && k < BXML_INDEX_PLACES; ++k)
        brelrt_trace_printf("%c %d", k ? ',' : '(', e->index[k]);
    if (e->last_position >= 0)
        brelrt_trace_printf(")");
    if (e->text)
        brelrt_trace_printf(" = %s", brelrt_text_data(e->text));
    for (size_t k = 0, count = brelrt_pairs_count(e->attributes); k < count; ++k) {
        BrelrtPair* a = brelrt_pairs_at(e->attributes, k);
        brelrt_trace_printf("\n%*s%s = %s", n + 4, " ",
                            brelrt_text_data(static_cast<BrelrtText*>(a->name)),
                            brelrt_text_data(static_cast<BrelrtText*>(a->value)));
    }
    brelrt_trace_printf("\n");
}

// Walks the elements below `top` in document order, without recursion:
// `open(e, depth)` for each (its children are walked when it returns true),
// `close(e, depth)` once its children were; depth 1 is `top`'s children.
template <typename Open, typename Close>
void walk_below(const XmlElement* top, Open open, Close close) {
    if (!has_children(top))
        return;
    const XmlElement* parent = top;
    int depth = 0;
    BrelrtListNode* node = top->children->first;
    for (;;) {
        if (node) {
            const XmlElement* e = xml_element_record(node->data);
            if (e && open(e, depth + 1) && has_children(e)) {
                parent = e;
                ++depth;
                node = e->children->first;
            } else {
                node = node->next;
            }
            continue;
        }
        if (parent == top)
            return;
        close(parent, depth);
        node = parent->node->next;
        parent = parent->up;
        --depth;
    }
}

} // namespace

bool write_element(FILE* f, const XmlElement* top, int indent) {
    if (!f || !top)
        return false;
    if (open_tag(f, top, indent)) {
        walk_below(
            top, [&](const XmlElement* e, int depth) { return open_tag(f, e, indent + 2 * depth); },
            [&](const XmlElement* e, int depth) { close_tag(f, e, indent + 2 * depth); });
        close_tag(f, top, indent);
    }
    return !std::ferror(f);
}

void trace_element(const XmlElement* top, int indent) {
    if (!top || !*brelrt_trace_level())
        return;
    walk_below(
        top,
        [&](const XmlElement* e, int depth) {
            trace_line_of(e, indent + depth - 1);
            return true;
        },
        [](const XmlElement*, int) {});
}

} // namespace bxml
