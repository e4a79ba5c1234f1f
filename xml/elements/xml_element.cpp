// The element tree: creating elements with their occurrence numbers, text,
// attributes, comments, and freeing a subtree.
#include "elements/xml_element.h"

#include "bxml/module.h"

#include <cctype>
#include <cstring>

using namespace bxml;

namespace {

#define HERE kModuleElements, __LINE__

int g_element_type = 0;

void element_destructor(void* record);

bool is_blank(unsigned char byte) {
    return byte < 128 && std::isspace(byte);
}

void free_attributes(BrelrtPairArray* attributes) {
    if (!attributes)
        return;
    for (size_t k = 0, n = brelrt_pairs_count(attributes); k < n; ++k) {
        BrelrtPair* pair = brelrt_pairs_at(attributes, k);
        brelrt_text_free(static_cast<BrelrtText*>(pair->name), HERE);
        brelrt_text_free(static_cast<BrelrtText*>(pair->value), HERE);
    }
    brelrt_pairs_free(attributes, HERE);
}

// Frees every element below `top`, leaves first, without recursion: a tree
// may be nested as deeply as the document is long. Each leaf is unlinked
// here before its handle is freed, so its own destructor has nothing left to
// walk and never needs the (already dead) handle of `top`.
void free_descendants(XmlElement* top) {
    XmlElement* current = top;
    for (;;) {
        if (current->children && current->children->first) {
            BrelrtListNode* first = current->children->first;
            XmlElement* child = xml_element_record(first->data);
            if (!child) {
                brelrt_list_remove(current->children, first);
                continue;
            }
            current = child;
            continue;
        }
        if (current == top)
            return;
        // Only `top` may be dead here (its destructor is running).
        XmlElement* parent = xml_element_record(current->parent);
        if (!parent)
            parent = top;
        BrelrtHandle leaf = current->node->data;
        brelrt_list_remove(parent->children, current->node);
        current->node = nullptr;
        current->parent = nullptr;
        brelrt_handle_free(leaf, HERE);
        current = parent;
    }
}

void element_destructor(void* record) {
    auto* e = static_cast<XmlElement*>(record);
    free_descendants(e);
    if (e->hash_entry) {
        e->hash_entry->element = nullptr;
        e->hash_entry = nullptr;
    }
    if (e->parent && e->node) {
        XmlElement* parent = xml_element_record(e->parent);
        if (parent && parent->children)
            brelrt_list_remove(parent->children, e->node);
    }
    e->node = nullptr;
    e->parent = nullptr;
    if (e->children)
        brelrt_list_free(e->children, HERE);
    brelrt_text_free(e->name, HERE);
    brelrt_text_free(e->text, HERE);
    brelrt_text_free(e->comments, HERE);
    free_attributes(e->attributes);
}

// Gives `e` the number 1 at position `at`, moving later numbers one place on.
// The vector has no room past its last place: the innermost number drops off.
void insert_level(XmlElement* e, int at) {
    if (at < 0 || at >= BXML_INDEX_PLACES)
        return;
    int position = e->last_position;
    if (position < at - 1)
        return;
    int last = position + 1 < BXML_INDEX_PLACES ? position + 1 : BXML_INDEX_PLACES - 1;
    for (int i = last; i > at; --i)
        e->index[i] = e->index[i - 1];
    e->index[at] = 1;
    e->last_position = last;
}

// insert_level for every element below `top`, in document order, without
// recursion.
void insert_level_below(XmlElement* top, int at) {
    if (!top->children)
        return;
    XmlElement* parent = top;
    BrelrtListNode* node = top->children->first;
    while (node) {
        XmlElement* e = xml_element_record(node->data);
        if (e) {
            insert_level(e, at);
            if (e->children && e->children->first) {
                parent = e;
                node = e->children->first;
                continue;
            }
        }
        while (!node->next) {
            if (parent == top)
                return;
            node = parent->node;
            parent = xml_element_record(parent->parent);
            if (!node || !parent)
                return;
        }
        node = node->next;
    }
}

// Appends the number n at the position after `position` (not when the vector
// is full).
void append_number(XmlElement* e, int position, int32_t n) {
    if (position + 1 >= BXML_INDEX_PLACES)
        return;
    e->index[position + 1] = n;
    e->last_position = position + 1;
}

bool same_name(const XmlElement* e, const char* name) {
    return e->name && brelrt_name_compare(brelrt_text_data(e->name), name, 0) == 0;
}

} // namespace

extern "C" {

int xml_element_type(void) {
    if (!g_element_type)
        g_element_type =
            brelrt_handle_register(sizeof(XmlElement), element_destructor, "XML element");
    return g_element_type;
}

XmlElement* xml_element_record(BrelrtHandle element) {
    int type = xml_element_type();
    if (!type || !element)
        return nullptr;
    return static_cast<XmlElement*>(brelrt_handle_record(element, type));
}

BrelrtHandle xml_create_element(const char* name, long length, BrelrtHandle parent,
                                BrelrtHandle before) {
    int type = xml_element_type();
    if (!type || !name)
        return nullptr;
    size_t name_length = length < 0 ? std::strlen(name) : static_cast<size_t>(length);

    XmlElement* p = nullptr;
    if (parent) {
        p = xml_element_record(parent);
        if (!p)
            return nullptr;
    }
    BrelrtListNode* before_node = nullptr;
    if (before) {
        XmlElement* b = xml_element_record(before);
        if (!b || !p || b->parent != parent || !b->node)
            return nullptr;
        before_node = b->node;
    }

    BrelrtHandle handle = brelrt_handle_new(type, HERE, "XML element info");
    if (!handle)
        return nullptr;
    auto* e = static_cast<XmlElement*>(brelrt_handle_record(handle, type));
    e->last_position = -1;
    e->name = brelrt_text_new(HERE, "XML element name");
    if (!e->name || !brelrt_text_append(e->name, name, name_length)) {
        brelrt_handle_free(handle, HERE);
        return nullptr;
    }
    if (!p)
        return handle;

    if (!p->children) {
        p->children = brelrt_list_new(HERE, "XML children list");
        if (!p->children) {
            brelrt_handle_free(handle, HERE);
            return nullptr;
        }
    }
    const char* text = brelrt_text_data(e->name);
    int32_t same = 0;
    XmlElement* first_same = nullptr;
    for (BrelrtListNode* n = p->children->first; n; n = n->next) {
        XmlElement* sibling = xml_element_record(n->data);
        if (sibling && same_name(sibling, text)) {
            if (!first_same)
                first_same = sibling;
            ++same;
        }
    }
    e->node = brelrt_list_insert(p->children, before_node, handle);
    if (!e->node) {
        brelrt_handle_free(handle, HERE);
        return nullptr;
    }
    e->parent = parent;

    // The numbers of all enclosing repetitions come first.
    e->last_position = p->last_position;
    std::memcpy(e->index, p->index, sizeof e->index);
    if (first_same && first_same->last_position == p->last_position) {
        // The first of the name gets its number only now that a second comes.
        insert_level_below(first_same, p->last_position + 1);
        append_number(first_same, p->last_position, 1);
    }
    if (same > 0)
        append_number(e, p->last_position, same + 1);
    return handle;
}

int xml_free_element(BrelrtHandle element) {
    if (!xml_element_record(element))
        return 0;
    return brelrt_handle_free(element, HERE);
}

int xml_element_add_attribute(BrelrtHandle element, const char* name, const char* value,
                              size_t value_length) {
    XmlElement* e = xml_element_record(element);
    if (!e || !name)
        return 0;
    if (!e->attributes) {
        e->attributes = brelrt_pairs_new(HERE, "XML elements attributes array");
        if (!e->attributes)
            return 0;
    }
    BrelrtText* n = brelrt_text_new(HERE, "XML element attribute name");
    BrelrtText* v = brelrt_text_new(HERE, "XML element attribute value");
    bool ok = n && v && brelrt_text_append_str(n, name) &&
              (!value || brelrt_text_append(v, value, value_length)) &&
              brelrt_pairs_append(e->attributes, n, v) >= 0;
    if (!ok) {
        brelrt_text_free(n, HERE);
        brelrt_text_free(v, HERE);
        return 0;
    }
    return 1;
}

int xml_element_append_text(BrelrtHandle element, const char* data, size_t length) {
    XmlElement* e = xml_element_record(element);
    if (!e || (!data && length))
        return 0;
    if (!e->text) {
        while (length && is_blank(static_cast<unsigned char>(*data))) {
            ++data;
            --length;
        }
        if (!length)
            return 1;
        e->text = brelrt_text_new(HERE, "XML Character data");
        if (!e->text)
            return 0;
        if (!brelrt_text_append(e->text, data, length)) {
            brelrt_text_free(e->text, HERE);
            e->text = nullptr;
            return 0;
        }
        return 1;
    }
    return brelrt_text_append(e->text, data, length);
}

size_t xml_trimmed_length(const char* data, size_t length) {
    if (!data)
        return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    const bool dbcs = brelrt_dbcs_active();
    size_t end = 0;
    // Forwards: a trail byte may look like an ASCII character, so pairs are
    // only recognised from their lead byte on.
    for (size_t i = 0; i < length;) {
        if (dbcs && i + 1 < length && brelrt_dbcs_is_lead(s[i]) && brelrt_dbcs_is_trail(s[i + 1])) {
            if (!brelrt_dbcs_is_blank(s[i], s[i + 1]))
                end = i + 2;
            i += 2;
            continue;
        }
        if (!is_blank(s[i]))
            end = i + 1;
        ++i;
    }
    return end;
}

void xml_element_trim_text(BrelrtHandle element) {
    XmlElement* e = xml_element_record(element);
    if (!e || !e->text)
        return;
    brelrt_text_truncate(
        e->text, xml_trimmed_length(brelrt_text_data(e->text), brelrt_text_length(e->text)));
}

int xml_element_append_comments(BrelrtHandle element, const char* data, size_t length) {
    XmlElement* e = xml_element_record(element);
    if (!e || (!data && length))
        return 0;
    if (!length)
        return 1;
    if (!e->comments) {
        e->comments = brelrt_text_new(HERE, "XML comments");
        if (!e->comments)
            return 0;
    }
    return brelrt_text_append(e->comments, data, length);
}

void xml_element_hash_destructor(void* head) {
    auto* entry = static_cast<ElementHashEntry*>(head);
    while (entry) {
        ElementHashEntry* next = entry->next;
        if (XmlElement* e = xml_element_record(entry->element))
            if (e->hash_entry == entry)
                e->hash_entry = nullptr;
        brelrt_free(entry->name, HERE);
        brelrt_free(entry, HERE);
        entry = next;
    }
}

} // extern "C"
