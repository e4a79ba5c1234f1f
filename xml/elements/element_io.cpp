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

void indent_to(FILE* f, int n) {
    if (n > 0)
        spaces(f, n);
}

// Everything of `e` up to its children; true when children follow and the
// end tag is still to come.
bool open_tag(FILE* f, const XmlElement* e, int n) {
    if (const char* comments = element_comments(e)) {
        indent_to(f, n);
        put(f, "<!-- ");
        escaped(f, comments, comments_length(e), true);
        put(f, " -->\n");
    }
    indent_to(f, n);
    put(f, "<");
    put(f, e->name);
    for (size_t k = 0, count = attribute_count(e); k < count; ++k) {
        put(f, "\n");
        spaces(f, n + 1);
        put(f, "    ");
        put(f, attribute_name(e, k));
        put(f, "=\"");
        escaped(f, attribute_value(e, k), attribute_value_length(e, k), false);
        put(f, "\"");
    }
    const char* text = element_text(e);
    if (!text && !e->first_child) {
        put(f, "/>\n");
        return false;
    }
    put(f, ">");
    if (text)
        escaped(f, text, text_length(e), false);
    if (e->first_child) {
        put(f, "\n");
        return true;
    }
    put(f, "</");
    put(f, e->name);
    put(f, ">\n");
    return false;
}

void close_tag(FILE* f, const XmlElement* e, int n) {
    indent_to(f, n);
    put(f, "</");
    put(f, e->name);
    put(f, ">\n");
}

void trace_line_of(const XmlElement* e, int n) {
    brelrt_trace_printf("%*s%s", n, " ", e->name);
    for (int k = 0; k <= e->last_position && k < BXML_INDEX_PLACES; ++k)
        brelrt_trace_printf("%c %d", k ? ',' : '(', e->index[k]);
    if (e->last_position >= 0)
        brelrt_trace_printf(")");
    if (const char* text = element_text(e))
        brelrt_trace_printf(" = %s", text);
    for (size_t k = 0, count = attribute_count(e); k < count; ++k)
        brelrt_trace_printf("\n%*s%s = %s", n + 4, " ", attribute_name(e, k),
                            attribute_value(e, k));
    brelrt_trace_printf("\n");
}

// Walks the elements below `top` in document order, without recursion:
// `open(e, depth)` for each (its children are walked when it returns true),
// `close(e, depth)` once its children were; depth 1 is `top`'s children.
template <typename Open, typename Close>
void walk_below(const XmlElement* top, Open open, Close close) {
    const XmlElement* parent = top;
    int depth = 0;
    const XmlElement* e = top->first_child;
    for (;;) {
        if (e) {
            if (open(e, depth + 1) && e->first_child) {
                parent = e;
                ++depth;
                e = e->first_child;
            } else {
                e = e->next;
            }
            continue;
        }
        if (parent == top)
            return;
        close(parent, depth);
        e = parent->next;
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
