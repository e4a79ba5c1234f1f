// The element tree: creating elements with their occurrence numbers, text,
// attributes, comments, and freeing a subtree.
#include "elements/xml_element.h"

#include "bxml/module.h"

#include <cctype>
#include <cstring>

using namespace bxml;

#define HERE kModuleElements, __LINE__

// ---- the child names of a parent

// One name among a parent's children: how many there are and the first of
// them in document order. An entry whose children are all gone keeps its
// place (first null) until the table is rebuilt.
struct ChildName {
    XmlElement* first;
    uint32_t hash; // never 0 in a used slot
    uint32_t count;
};

// An open-addressing table, one tracked block with its slots behind it.
struct XmlChildNames {
    size_t capacity; // a power of two
    size_t used;     // slots ever taken since the last rebuild
    ChildName* slots() { return reinterpret_cast<ChildName*>(this + 1); }
};

namespace {

int g_element_type = 0;

// Pooled hash entries have room for any name a layout may have, so every
// one serves every record; a longer name gets an entry of its own, freed
// when the hash is cleared.
constexpr size_t kEntryRoom = BRELRT_NAME_MAX;

// A byte below 128 that isspace accepts.
bool is_blank(unsigned char byte) {
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

const char* name_of(const XmlElement* e) {
    return brelrt_text_data(e->name);
}

// A child name's slot hash, from brelrt_hash_text of the name.
uint32_t child_hash(size_t name_hash) {
    return static_cast<uint32_t>(name_hash) | 1u;
}

XmlChildNames* new_names(size_t capacity) {
    auto* t = static_cast<XmlChildNames*>(brelrt_alloc(
        sizeof(XmlChildNames) + capacity * sizeof(ChildName), 1, HERE, "XML children names"));
    if (t)
        t->capacity = capacity;
    return t;
}

// The slot of `name`, or null; `*free_slot` (when given) becomes the slot
// where the name would go.
ChildName* find_name(XmlChildNames* t, const char* name, uint32_t hash,
                     ChildName** free_slot = nullptr) {
    ChildName* slots = t->slots();
    ChildName* spare = nullptr;
    for (size_t i = hash & (t->capacity - 1);; i = (i + 1) & (t->capacity - 1)) {
        ChildName& s = slots[i];
        if (!s.hash) {
            if (free_slot)
                *free_slot = spare ? spare : &s;
            return nullptr;
        }
        if (!s.first) {
            if (!spare)
                spare = &s;
        } else if (s.hash == hash && std::strcmp(name_of(s.first), name) == 0) {
            return &s;
        }
    }
}

// Room for one more name in the parent's table (rebuilt without the
// entries of names that are gone when it fills); false when out of memory.
bool reserve_name(XmlElement* parent) {
    XmlChildNames* t = parent->child_names;
    if (t && (t->used + 1) * 4 <= t->capacity * 3)
        return true;
    size_t live = 0;
    if (t)
        for (size_t i = 0; i < t->capacity; ++i)
            live += t->slots()[i].first != nullptr;
    size_t capacity = 8;
    while ((live + 1) * 2 > capacity)
        capacity *= 2;
    XmlChildNames* fresh = new_names(capacity);
    if (!fresh)
        return false;
    if (t) {
        for (size_t i = 0; i < t->capacity; ++i) {
            ChildName& s = t->slots()[i];
            if (!s.first)
                continue;
            ChildName* slot = nullptr;
            find_name(fresh, name_of(s.first), s.hash, &slot);
            *slot = s;
            ++fresh->used;
        }
        brelrt_free(t, HERE);
    }
    parent->child_names = fresh;
    return true;
}

ChildName* name_entry(XmlElement* parent, const XmlElement* child) {
    if (!parent->child_names)
        return nullptr;
    const char* name = name_of(child);
    return find_name(parent->child_names, name,
                     child_hash(brelrt_hash_text(name, brelrt_text_length(child->name))));
}

// The next sibling after `e` that has its name, null when none.
XmlElement* next_same_named(const XmlElement* e) {
    const char* name = name_of(e);
    for (BrelrtListNode* n = e->node->next; n; n = n->next) {
        XmlElement* sibling = element_at(n);
        if (std::strcmp(name_of(sibling), name) == 0)
            return sibling;
    }
    return nullptr;
}

// True when `a` comes before `b` among their parent's children.
bool comes_before(const XmlElement* a, const XmlElement* b) {
    for (BrelrtListNode* n = a->node->next; n; n = n->next)
        if (n == b->node)
            return true;
    return false;
}

// `child` leaves its living parent: one fewer of its name there.
void forget_name(XmlElement* parent, XmlElement* child) {
    ChildName* entry = name_entry(parent, child);
    if (!entry)
        return;
    if (--entry->count == 0)
        entry->first = nullptr;
    else if (entry->first == child)
        entry->first = next_same_named(child);
}

// ---- freeing

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

// Takes `child` out of its parent's list; the node stays with the child as
// its spare, for the next parent (or freed with it).
void detach(XmlElement* parent, XmlElement* child) {
    brelrt_list_unlink(parent->children, child->node);
    if (child->spare_node)
        brelrt_free(child->spare_node, HERE);
    child->spare_node = child->node;
    child->node = nullptr;
}

// Takes every element below `top` out of the tree, leaves first, without
// recursion (a tree may be nested as deeply as the document is long), and
// hands each to `leaf`. Each is unlinked before, so it finds no parent and
// leaves the (going) parent's bookkeeping alone.
template <typename Leaf> void take_descendants(XmlElement* top, Leaf leaf) {
    XmlElement* current = top;
    for (;;) {
        if (current->children && current->children->first) {
            current = element_at(current->children->first);
            continue;
        }
        if (current == top)
            return;
        detach(current->up, current);
        XmlElement* parent = current->up;
        current->parent = nullptr;
        current->up = nullptr;
        leaf(current);
        current = parent;
    }
}

void free_descendants(XmlElement* top) {
    take_descendants(top, [](XmlElement* e) { brelrt_handle_free(e->self, HERE); });
}

void element_destructor(void* record) {
    auto* e = static_cast<XmlElement*>(record);
    free_descendants(e);
    if (e->hash_entry) {
        e->hash_entry->element = nullptr;
        e->hash_entry->record = nullptr;
        e->hash_entry = nullptr;
    }
    if (e->up && e->node) {
        forget_name(e->up, e);
        brelrt_list_remove(e->up->children, e->node);
    }
    e->node = nullptr;
    e->parent = nullptr;
    e->up = nullptr;
    if (e->children)
        brelrt_list_free(e->children, HERE);
    brelrt_free(e->child_names, HERE);
    brelrt_text_free(e->name, HERE);
    brelrt_text_free(e->text, HERE);
    brelrt_text_free(e->spare_text, HERE);
    brelrt_free(e->spare_node, HERE);
    brelrt_text_free(e->comments, HERE);
    free_attributes(e->attributes);
}

// ---- occurrence numbers

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
    if (at >= BXML_INDEX_PLACES || !top->children)
        return;
    XmlElement* parent = top;
    BrelrtListNode* node = top->children->first;
    while (node) {
        XmlElement* e = element_at(node);
        insert_level(e, at);
        if (e->children && e->children->first) {
            parent = e;
            node = e->children->first;
            continue;
        }
        while (!node->next) {
            if (parent == top)
                return;
            node = parent->node;
            parent = parent->up;
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

} // namespace

// ---- operations on records

namespace bxml {

XmlElement* create_element(const char* name, size_t length, XmlElement* parent, XmlElement* before,
                           ElementPool* pool) {
    return name ? create_element(name, length, brelrt_hash_text(name, length), parent, before, pool)
                : nullptr;
}

XmlElement* create_element(const char* name, size_t length, size_t name_hash, XmlElement* parent,
                           XmlElement* before, ElementPool* pool) {
    int type = xml_element_type();
    if (!type || !name || (before && (before->up != parent || !parent)))
        return nullptr;
    XmlElement* e = pool ? pool->first : nullptr;
    BrelrtHandle handle = nullptr;
    if (e) {
        pool->first = e->next_spare;
        --pool->count;
        e->next_spare = nullptr;
        handle = e->self;
        brelrt_text_truncate(e->name, 0);
    } else {
        handle = brelrt_handle_new(type, HERE, "XML element info");
        if (!handle)
            return nullptr;
        e = static_cast<XmlElement*>(brelrt_handle_record(handle, type));
        e->self = handle;
        e->name = brelrt_text_new(HERE, "XML element name");
    }
    e->last_position = -1;
    if (!e->name || !brelrt_text_append(e->name, name, length)) {
        brelrt_handle_free(handle, HERE);
        return nullptr;
    }
    if (!parent)
        return e;

    if (!parent->children) {
        parent->children = brelrt_list_new(HERE, "XML children list");
        if (!parent->children) {
            brelrt_handle_free(handle, HERE);
            return nullptr;
        }
    }
    if (!reserve_name(parent)) {
        brelrt_handle_free(handle, HERE);
        return nullptr;
    }
    const char* text = name_of(e);
    uint32_t hash = child_hash(name_hash);
    ChildName* slot = nullptr;
    ChildName* entry = find_name(parent->child_names, text, hash, &slot);
    XmlElement* first_same = entry ? entry->first : nullptr;
    int32_t same = entry ? static_cast<int32_t>(entry->count) : 0;

    // The element's node stays with it, from parent to parent.
    BrelrtListNode* node = e->spare_node;
    if (!node) {
        auto* fresh = static_cast<XmlChildNode*>(
            brelrt_alloc(sizeof(XmlChildNode), 1, HERE, "XML children list"));
        if (!fresh) {
            brelrt_handle_free(handle, HERE);
            return nullptr;
        }
        fresh->element = e;
        node = &fresh->link;
    }
    e->spare_node = nullptr;
    node->data = handle;
    e->node = brelrt_list_link(parent->children, before ? before->node : nullptr, node);
    e->parent = parent->self;
    e->up = parent;
    if (!entry) {
        if (!slot->hash)
            ++parent->child_names->used;
        *slot = ChildName{e, hash, 1};
    } else {
        ++entry->count;
        if (before && comes_before(e, entry->first))
            entry->first = e;
    }

    // The numbers of all enclosing repetitions come first.
    e->last_position = parent->last_position;
    std::memcpy(e->index, parent->index, sizeof e->index);
    if (first_same && first_same->last_position == parent->last_position) {
        // The first of the name gets its number only now that a second comes.
        insert_level_below(first_same, parent->last_position + 1);
        append_number(first_same, parent->last_position, 1);
    }
    if (same > 0)
        append_number(e, parent->last_position, same + 1);
    return e;
}

bool append_text(XmlElement* e, const char* data, size_t length) {
    if (!data && length)
        return false;
    if (!e->text) {
        while (length && is_blank(static_cast<unsigned char>(*data))) {
            ++data;
            --length;
        }
        if (!length)
            return true;
        e->text = e->spare_text ? e->spare_text : brelrt_text_new(HERE, "XML Character data");
        e->spare_text = nullptr;
        if (!e->text)
            return false;
        if (!brelrt_text_append(e->text, data, length)) {
            brelrt_text_free(e->text, HERE);
            e->text = nullptr;
            return false;
        }
        return true;
    }
    return brelrt_text_append(e->text, data, length);
}

bool append_comments(XmlElement* e, const char* data, size_t length) {
    if (!data && length)
        return false;
    if (!length)
        return true;
    if (!e->comments) {
        e->comments = brelrt_text_new(HERE, "XML comments");
        if (!e->comments)
            return false;
    }
    return brelrt_text_append(e->comments, data, length);
}

bool add_attribute(XmlElement* e, const char* name, const char* value, size_t value_length) {
    if (!name)
        return false;
    if (!e->attributes) {
        e->attributes = brelrt_pairs_new(HERE, "XML elements attributes array");
        if (!e->attributes)
            return false;
    }
    BrelrtText* n = brelrt_text_new(HERE, "XML element attribute name");
    BrelrtText* v = brelrt_text_new(HERE, "XML element attribute value");
    bool ok = n && v && brelrt_text_append_str(n, name) &&
              (!value || brelrt_text_append(v, value, value_length)) &&
              brelrt_pairs_append(e->attributes, n, v) >= 0;
    if (!ok) {
        brelrt_text_free(n, HERE);
        brelrt_text_free(v, HERE);
        return false;
    }
    return true;
}

namespace {

// What `e` holds goes, its storage stays: an element as new, out of any tree.
void empty(XmlElement* e) {
    if (e->hash_entry) {
        e->hash_entry->element = nullptr;
        e->hash_entry->record = nullptr;
        e->hash_entry = nullptr;
    }
    e->parent = nullptr;
    e->up = nullptr;
    e->node = nullptr;
    if (e->text) {
        brelrt_text_truncate(e->text, 0);
        if (e->spare_text)
            brelrt_text_free(e->spare_text, HERE);
        e->spare_text = e->text;
        e->text = nullptr;
    }
    if (e->comments) {
        brelrt_text_free(e->comments, HERE);
        e->comments = nullptr;
    }
    free_attributes(e->attributes);
    e->attributes = nullptr;
    if (XmlChildNames* t = e->child_names) {
        std::memset(t->slots(), 0, t->capacity * sizeof(ChildName));
        t->used = 0;
    }
}

// A pool keeps every element given back: it holds at most the elements of
// the largest record read so far, which the reader bounds.
void give_back(XmlElement* e, ElementPool* pool) {
    empty(e);
    e->next_spare = pool->first;
    pool->first = e;
    ++pool->count;
}

} // namespace

void recycle_element(XmlElement* top, ElementPool* pool) {
    if (top->up && top->node) {
        forget_name(top->up, top);
        detach(top->up, top);
        top->up = nullptr;
        top->parent = nullptr;
    }
    take_descendants(top, [pool](XmlElement* e) { give_back(e, pool); });
    give_back(top, pool);
}

void free_pool(ElementPool* pool) {
    while (XmlElement* e = pool->first) {
        pool->first = e->next_spare;
        brelrt_handle_free(e->self, HERE);
    }
    pool->count = 0;
    while (ElementHashEntry* entry = pool->entries) {
        pool->entries = entry->next;
        brelrt_free(entry, HERE);
    }
    pool->entry_count = 0;
}

uint32_t count_children_named(XmlElement* parent, const char* name, size_t name_hash) {
    if (!parent->child_names)
        return 0;
    ChildName* entry = find_name(parent->child_names, name, child_hash(name_hash));
    return entry ? entry->count : 0;
}

ElementHashEntry* new_hash_entry(ElementPool* pool, size_t length) {
    ElementHashEntry* entry = nullptr;
    if (pool && pool->entries && length <= kEntryRoom) {
        entry = pool->entries;
        pool->entries = entry->next;
        --pool->entry_count;
    } else {
        size_t capacity = length < kEntryRoom ? kEntryRoom : length;
        entry = static_cast<ElementHashEntry*>(
            brelrt_alloc(sizeof(ElementHashEntry) + capacity + 1, 0, HERE, "Element hash"));
        if (!entry)
            return nullptr;
        entry->capacity = capacity;
    }
    entry->name = reinterpret_cast<char*>(entry + 1);
    entry->element = nullptr;
    entry->record = nullptr;
    entry->next = nullptr;
    entry->flags = 0;
    entry->pool = pool;
    return entry;
}

size_t trimmed_length(const char* data, size_t length, Blanks blanks) {
    if (!data)
        return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    if (blanks == Blanks::kAscii) {
        while (length && is_blank(s[length - 1]))
            --length;
        return length;
    }
    // Most texts end in a character that is no blank and no part of one: an
    // ASCII byte that is neither white space nor the 0x40 that ends a
    // Shift-JIS blank (no byte of a double-byte character is white space).
    if (length && s[length - 1] < 0x80 && !is_blank(s[length - 1]) &&
        !(blanks == Blanks::kShiftJis && s[length - 1] == 0x40))
        return length;
    size_t end = 0;
    // Forwards: the second byte of a pair may look like an ASCII character,
    // so pairs are only recognised from their first byte on.
    for (size_t i = 0; i < length;) {
        unsigned char c = s[i];
        size_t width = 1;
        bool blank = false;
        if (c >= 0x80) {
            switch (blanks) {
            case Blanks::kShiftJis:
                if (i + 1 < length && brelrt_dbcs_is_lead(c) && brelrt_dbcs_is_trail(s[i + 1])) {
                    width = 2;
                    blank = brelrt_dbcs_is_blank(c, s[i + 1]);
                }
                break;
            case Blanks::kEucJp:
                if (c == 0x8F && i + 2 < length) {
                    width = 3;
                } else if (c >= 0x8E && i + 1 < length) {
                    width = 2;
                    blank = c == 0xA1 && s[i + 1] == 0xA1;
                }
                break;
            case Blanks::kUtf8:
                if (c == 0xE3 && i + 2 < length && s[i + 1] == 0x80 && s[i + 2] == 0x80) {
                    width = 3;
                    blank = true;
                }
                break;
            case Blanks::kAscii:
                break;
            }
        } else {
            blank = is_blank(c);
        }
        if (!blank)
            end = i + width;
        i += width;
    }
    return end;
}

} // namespace bxml

// ---- the exported functions, on handles

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
    if (!name)
        return nullptr;
    XmlElement* p = nullptr;
    XmlElement* b = nullptr;
    if ((parent && !(p = xml_element_record(parent))) ||
        (before && !(b = xml_element_record(before))))
        return nullptr;
    size_t n = length < 0 ? std::strlen(name) : static_cast<size_t>(length);
    XmlElement* e = create_element(name, n, p, b);
    return e ? e->self : nullptr;
}

int xml_free_element(BrelrtHandle element) {
    if (!xml_element_record(element))
        return 0;
    return brelrt_handle_free(element, HERE);
}

int xml_element_add_attribute(BrelrtHandle element, const char* name, const char* value,
                              size_t value_length) {
    XmlElement* e = xml_element_record(element);
    return e && add_attribute(e, name, value, value_length);
}

int xml_element_append_text(BrelrtHandle element, const char* data, size_t length) {
    XmlElement* e = xml_element_record(element);
    return e && append_text(e, data, length);
}

size_t xml_trimmed_length(const char* data, size_t length) {
    return trimmed_length(data, length, brelrt_dbcs_active() ? Blanks::kShiftJis : Blanks::kAscii);
}

int xml_element_append_comments(BrelrtHandle element, const char* data, size_t length) {
    XmlElement* e = xml_element_record(element);
    return e && append_comments(e, data, length);
}

void xml_element_hash_destructor(void* head) {
    auto* entry = static_cast<ElementHashEntry*>(head);
    while (entry) {
        ElementHashEntry* next = entry->next;
        if (XmlElement* e = entry->record)
            if (e->hash_entry == entry)
                e->hash_entry = nullptr;
        ElementPool* pool = entry->pool;
        if (pool && entry->capacity == kEntryRoom) {
            entry->next = pool->entries;
            pool->entries = entry;
            ++pool->entry_count;
        } else {
            // A parser's entries carry their name in their own block.
            if (entry->name != reinterpret_cast<char*>(entry + 1))
                brelrt_free(entry->name, HERE);
            brelrt_free(entry, HERE);
        }
        entry = next;
    }
}

} // extern "C"
