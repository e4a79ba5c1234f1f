#include "bxml/output.h"

#include "bxml/layout_walk.h"
#include "bxml/module.h"

#include <cstdarg>
#include <cstdio>

namespace bxml {

#define HERE kModuleBxml, __LINE__

bool out_grow(OutBuffer& out, size_t more) {
    if (out.failed)
        return false;
    size_t capacity = out.capacity ? out.capacity : 4096;
    while (capacity < out.length + more) {
        if (capacity > (static_cast<size_t>(-1) >> 2)) {
            out.failed = true;
            return false;
        }
        capacity *= 2;
    }
    void* p = out.data ? brelrt_realloc(out.data, capacity, HERE)
                       : brelrt_alloc(capacity, 0, HERE, "XML data to write");
    if (!p) {
        out.failed = true;
        return false;
    }
    out.data = static_cast<char*>(p);
    out.capacity = capacity;
    return true;
}

void out_free(OutBuffer& out) {
    brelrt_free(out.data, HERE);
    out = OutBuffer();
}

void out_blanks(OutBuffer& out, int count) {
    static const char blanks[] = "                                                  ";
    while (count > 0) {
        int n = count < static_cast<int>(sizeof blanks - 1) ? count : sizeof blanks - 1;
        out_put(out, blanks, static_cast<size_t>(n));
        count -= n;
    }
}

void out_printf(OutBuffer& out, const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0)
        return;
    if (static_cast<size_t>(n) < sizeof small) {
        out_put(out, small, static_cast<size_t>(n));
        return;
    }
    if (!out_grow(out, static_cast<size_t>(n) + 1))
        return;
    va_start(args, format);
    std::vsnprintf(out.data + out.length, static_cast<size_t>(n) + 1, format, args);
    va_end(args);
    out.length += static_cast<size_t>(n);
}

void out_escaped(OutBuffer& out, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        switch (text[i]) {
        case '<':
            out_put(out, "&lt;", 4);
            break;
        case '>':
            out_put(out, "&gt;", 4);
            break;
        case '&':
            out_put(out, "&amp;", 5);
            break;
        case '"':
            out_put(out, "&quot;", 6);
            break;
        case '\'':
            out_put(out, "&apos;", 6);
            break;
        default:
            out_char(out, text[i]);
        }
    }
}

bool tags_make(Tags& tags, const RecordLayout* layout) {
    tags = Tags();
    int count = layout->item_count;
    size_t bytes = 0;
    for (int i = 0; i < count; ++i) {
        const LayoutItem& item = layout->items[i];
        size_t name = strnlen(item.name, sizeof item.name);
        size_t level = item.level > 0 ? static_cast<size_t>(item.level) : 0;
        bytes += 2 * level + 2 * name + 6;
    }
    bytes += 16; // the writer copies tags 16 bytes at a time
    auto* items = static_cast<ItemTags*>(
        brelrt_alloc(sizeof(ItemTags) * static_cast<size_t>(count), 0, HERE, "XML tags"));
    auto* text = static_cast<char*>(brelrt_alloc(bytes, 0, HERE, "XML tags"));
    if (!items || !text) {
        brelrt_free(items, HERE);
        brelrt_free(text, HERE);
        return false;
    }
    char* w = text;
    for (int i = 0; i < count; ++i) {
        const LayoutItem& item = layout->items[i];
        size_t name = strnlen(item.name, sizeof item.name);
        size_t level = item.level > 0 ? static_cast<size_t>(item.level) : 0;
        bool group = is_group(item);
        ItemTags& t = items[i];
        t.at = static_cast<uint32_t>(w - text);
        std::memset(w, ' ', level);
        w += level;
        *w++ = '<';
        std::memcpy(w, item.name, name);
        w += name;
        *w++ = '>';
        if (group)
            *w++ = '\n';
        t.start = static_cast<uint16_t>(w - text - t.at);
        char* end = w;
        if (group) {
            std::memset(w, ' ', level);
            w += level;
        }
        *w++ = '<';
        *w++ = '/';
        std::memcpy(w, item.name, name);
        w += name;
        *w++ = '>';
        *w++ = '\n';
        t.end = static_cast<uint16_t>(w - end);
        t.first = i < layout->field_count ? first_child(layout, i) : -1;
        t.next = i < layout->field_count ? next_sibling(layout, i) : -1;
        t.offset = item.offset;
        t.limit = static_cast<int64_t>(item.offset) + item.field.size;
    }
    tags.items = items;
    tags.text = text;
    return true;
}

void tags_free(Tags& tags) {
    brelrt_free(tags.items, HERE);
    brelrt_free(tags.text, HERE);
    tags = Tags();
}

} // namespace bxml
