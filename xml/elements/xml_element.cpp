// The element tree: creating elements with their occurrence numbers, their
// storage (name, text, attributes, comments) counted in their store, and
// freeing or recycling a subtree.
#include "elements/xml_element.h"

#include "bxml/module.h"
#include "bxml/trace.h"

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

// The bytes behind the head of a comments block and of an attribute.
char* data_of(XmlTextBlock* c) {
    return reinterpret_cast<char*>(c + 1);
}
char* name_of(XmlAttribute* a) {
    return reinterpret_cast<char*>(a + 1);
}
char* value_of(XmlAttribute* a) {
    return name_of(a) + a->name_length + 1;
}
size_t size_of(const XmlAttribute* a) {
    return sizeof(XmlAttribute) + a->name_length + a->value_length + 2;
}
XmlAttribute** items_of(XmlAttributes* all) {
    return reinterpret_cast<XmlAttribute**>(all + 1);
}
size_t size_of(const XmlAttributes* all) {
    return sizeof(XmlAttributes) + all->capacity * sizeof(XmlAttribute*);
}

int g_element_type = 0;

// What a block costs beyond its size: the allocator's record of it and
// malloc's own word, as a store counts it.
constexpr size_t kBlockCost = 24;
constexpr size_t kElementCost = sizeof(XmlElement) + kBlockCost;

// Texts and comments grow in blocks of at least this many bytes.
constexpr size_t kTextBlockMinimum = 32;

// Lengths are kept in 32 bits; nothing of a document comes near.
constexpr size_t kLengthMax = UINT32_MAX - 1;

// A byte below 128 that isspace accepts.
bool is_blank(unsigned char byte) {
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// ---- the store: what its elements hold, within its limit

bool charge(ElementPool* store, size_t bytes) {
    if (!store)
        return true;
    if (store->limit && (store->bytes > store->limit || bytes > store->limit - store->bytes)) {
        if (!store->over)
            trace_line(kTraceFile,
                       "Element tree of %zu bytes past its limit of %zu MB "
                       "(BXML_TREE_LIMIT): %zu bytes more refused",
                       store->bytes, store->limit >> 20, bytes);
        store->over = 1;
        return false;
    }
    store->bytes += bytes;
    return true;
}

void discharge(ElementPool* store, size_t bytes) {
    if (store)
        store->bytes -= bytes;
}

void* store_alloc(ElementPool* store, size_t size, int line, const char* description) {
    if (!charge(store, size + kBlockCost))
        return nullptr;
    void* p = brelrt_alloc(size, 0, kModuleElements, line, description);
    if (!p)
        discharge(store, size + kBlockCost);
    return p;
}

void* store_realloc(ElementPool* store, void* block, size_t old_size, size_t size, int line) {
    if (size > old_size && !charge(store, size - old_size))
        return nullptr;
    void* p = brelrt_realloc(block, size, kModuleElements, line);
    if (!p && size > old_size)
        discharge(store, size - old_size);
    else if (p && size < old_size)
        discharge(store, old_size - size);
    return p;
}

void store_free(ElementPool* store, void* block, size_t size) {
    if (!block)
        return;
    brelrt_free(block, HERE);
    discharge(store, size + kBlockCost);
}

// ---- the stacks of a pool

// Room for `more` items on top; false when out of memory.
bool stack_reserve(PoolStack* stack, size_t more) {
    if (stack->count + more <= stack->capacity)
        return true;
    size_t capacity = stack->capacity ? 2 * stack->capacity : 64;
    while (capacity < stack->count + more)
        capacity *= 2;
    void* grown = stack->items
                      ? brelrt_realloc(stack->items, capacity * sizeof(void*), HERE)
                      : brelrt_alloc(capacity * sizeof(void*), 0, HERE, "XML element pool");
    if (!grown)
        return false;
    stack->items = static_cast<void**>(grown);
    stack->capacity = capacity;
    return true;
}

// Puts an item (room reserved) on top.
void stack_put(PoolStack* stack, void* item) {
    stack->items[stack->count++] = item;
}

// The top item, null when none waits. The one a few places down is loaded
// meanwhile: it lies anywhere in memory.
void* stack_take(PoolStack* stack) {
    if (!stack->count)
        return nullptr;
    if (stack->count > 8)
        __builtin_prefetch(stack->items[stack->count - 9], 1);
    return stack->items[--stack->count];
}

void stack_free(PoolStack* stack) {
    brelrt_free(stack->items, HERE);
    *stack = PoolStack{};
}

// ---- child names

// A child name's slot hash, from brelrt_hash_text of the name.
uint32_t child_hash(size_t name_hash) {
    return static_cast<uint32_t>(name_hash) | 1u;
}

size_t names_size(size_t capacity) {
    return sizeof(XmlChildNames) + capacity * sizeof(ChildName);
}

bool same_name(const XmlElement* a, const char* name, size_t length) {
    return a->name_length == length && std::memcmp(a->name, name, length) == 0;
}

// The slot of `name`, or null; `*free_slot` (when given) becomes the slot
// where the name would go.
ChildName* find_name(XmlChildNames* t, const char* name, size_t length, uint32_t hash,
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
        } else if (s.hash == hash && same_name(s.first, name, length)) {
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
    size_t capacity = 4;
    while ((live + 1) * 2 > capacity)
        capacity *= 2;
    auto* fresh = static_cast<XmlChildNames*>(
        store_alloc(parent->store, names_size(capacity), __LINE__, "XML children names"));
    if (!fresh)
        return false;
    std::memset(fresh, 0, names_size(capacity));
    fresh->capacity = capacity;
    if (t) {
        for (size_t i = 0; i < t->capacity; ++i) {
            ChildName& s = t->slots()[i];
            if (!s.first)
                continue;
            ChildName* slot = nullptr;
            find_name(fresh, s.first->name, s.first->name_length, s.hash, &slot);
            *slot = s;
            ++fresh->used;
        }
        store_free(parent->store, t, names_size(t->capacity));
    }
    parent->child_names = fresh;
    return true;
}

ChildName* name_entry(XmlElement* parent, const XmlElement* child) {
    if (!parent->child_names)
        return nullptr;
    return find_name(parent->child_names, child->name, child->name_length,
                     child_hash(brelrt_hash_text(child->name, child->name_length)));
}

// The next sibling after `e` that has its name, null when none.
XmlElement* next_same_named(const XmlElement* e) {
    for (XmlElement* sibling = e->next; sibling; sibling = sibling->next)
        if (same_name(sibling, e->name, e->name_length))
            return sibling;
    return nullptr;
}

// True when `a` comes before `b` among their parent's children.
bool comes_before(const XmlElement* a, const XmlElement* b) {
    for (const XmlElement* n = a->next; n; n = n->next)
        if (n == b)
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

// ---- the children of a parent: a list through next and prev, the first
// child's prev being the last child

void link_child(XmlElement* parent, XmlElement* e, XmlElement* before) {
    e->up = parent;
    XmlElement* first = parent->first_child;
    if (!first) {
        parent->first_child = e;
        e->next = nullptr;
        e->prev = e;
    } else if (!before) {
        XmlElement* last = first->prev;
        last->next = e;
        e->prev = last;
        e->next = nullptr;
        first->prev = e;
    } else {
        e->next = before;
        e->prev = before->prev;
        if (before == first)
            parent->first_child = e;
        else
            before->prev->next = e;
        before->prev = e;
    }
}

void unlink_child(XmlElement* parent, XmlElement* e) {
    XmlElement* first = parent->first_child;
    if (e == first) {
        parent->first_child = e->next;
        if (e->next)
            e->next->prev = e->prev;
    } else {
        e->prev->next = e->next;
        if (e->next)
            e->next->prev = e->prev;
        else
            first->prev = e->prev;
    }
    e->next = nullptr;
    e->prev = nullptr;
    e->up = nullptr;
}

// ---- names and texts

// The room for text in the element's own bytes, after its name there.
void place_inline_text(XmlElement* e) {
    size_t used = (e->flags & BXML_ELEMENT_NAME_BLOCK) ? 0 : e->name_length + 1;
    if (used < BXML_ELEMENT_CHARS) {
        e->text = e->chars + used;
        e->text_capacity = static_cast<uint32_t>(BXML_ELEMENT_CHARS - used - 1);
    } else {
        e->text = nullptr;
        e->text_capacity = 0;
    }
}

void free_name_block(XmlElement* e) {
    if (e->flags & BXML_ELEMENT_NAME_BLOCK) {
        store_free(e->store, e->name, e->name_length + 1);
        e->flags &= static_cast<uint16_t>(~BXML_ELEMENT_NAME_BLOCK);
    }
    e->name = e->chars;
}

// Gives the element (new, or out of a pool without text) its name.
bool set_name(XmlElement* e, const char* name, size_t length) {
    if (length > kLengthMax)
        return false;
    char* to = e->chars;
    if (length >= BXML_ELEMENT_CHARS) {
        to = static_cast<char*>(store_alloc(e->store, length + 1, __LINE__, "XML element name"));
        if (!to)
            return false;
    }
    free_name_block(e);
    if (to != e->chars) {
        e->name = to;
        e->flags |= BXML_ELEMENT_NAME_BLOCK;
    }
    std::memcpy(to, name, length);
    to[length] = '\0';
    e->name_length = static_cast<uint32_t>(length);
    if (!(e->flags & BXML_ELEMENT_TEXT_BLOCK))
        place_inline_text(e);
    return true;
}

void free_text_block(XmlElement* e) {
    if (e->flags & BXML_ELEMENT_TEXT_BLOCK) {
        store_free(e->store, e->text, size_t{e->text_capacity} + 1);
        e->flags &= static_cast<uint16_t>(~BXML_ELEMENT_TEXT_BLOCK);
        place_inline_text(e);
    }
}

// Text storage of room for `needed` bytes in a block of its own, keeping
// what the text holds.
bool text_block(XmlElement* e, size_t needed) {
    if (needed > kLengthMax)
        return false;
    size_t size = needed + 1 < kTextBlockMinimum ? kTextBlockMinimum : needed + 1;
    char* block = nullptr;
    if (e->flags & BXML_ELEMENT_TEXT_BLOCK) {
        size_t old = size_t{e->text_capacity} + 1;
        if (size < 2 * old && 2 * old <= kLengthMax)
            size = 2 * old;
        block = static_cast<char*>(store_realloc(e->store, e->text, old, size, __LINE__));
        if (!block)
            return false;
    } else {
        block = static_cast<char*>(store_alloc(e->store, size, __LINE__, "XML Character data"));
        if (!block)
            return false;
        if (e->flags & BXML_ELEMENT_HAS_TEXT)
            std::memcpy(block, e->text, e->text_length + size_t{1});
        e->flags |= BXML_ELEMENT_TEXT_BLOCK;
    }
    e->text = block;
    e->text_capacity = static_cast<uint32_t>(size - 1);
    return true;
}

// ---- attributes

void free_attributes(XmlElement* e) {
    XmlAttributes* all = e->attributes;
    if (!all)
        return;
    for (uint32_t k = 0; k < all->count; ++k)
        store_free(e->store, items_of(all)[k], size_of(items_of(all)[k]));
    store_free(e->store, all, size_of(all));
    e->attributes = nullptr;
}

XmlAttribute* new_attribute(ElementPool* store, const char* name, size_t name_length,
                            const char* value, size_t value_length) {
    if (name_length > kLengthMax || value_length > kLengthMax - name_length)
        return nullptr;
    size_t size = sizeof(XmlAttribute) + name_length + value_length + 2;
    auto* a =
        static_cast<XmlAttribute*>(store_alloc(store, size, __LINE__, "XML element attribute"));
    if (!a)
        return nullptr;
    a->name_length = static_cast<uint32_t>(name_length);
    a->value_length = static_cast<uint32_t>(value_length);
    std::memcpy(name_of(a), name, name_length);
    name_of(a)[name_length] = '\0';
    if (value_length)
        std::memcpy(value_of(a), value, value_length);
    value_of(a)[value_length] = '\0';
    return a;
}

// ---- freeing

// Takes every element below `top` out of the tree, leaves first, without
// recursion (a tree may be nested as deeply as the document is long), and
// hands each to `leaf`. Each is unlinked before, so it finds no parent and
// leaves the (going) parent's bookkeeping alone.
template <typename Leaf> void take_descendants(XmlElement* top, Leaf leaf) {
    XmlElement* current = top;
    for (;;) {
        if (current->first_child) {
            current = current->first_child;
            continue;
        }
        if (current == top)
            return;
        XmlElement* parent = current->up;
        unlink_child(parent, current);
        leaf(current);
        current = parent;
    }
}

void unhook_entry(XmlElement* e) {
    if (ElementHashEntry* entry = e->hash_entry) {
        entry->name = nullptr;
        entry->element = nullptr;
        entry->record = nullptr;
        e->hash_entry = nullptr;
    }
}

// A pooled element (emptied, or of a record given back whole) as new, out
// of any tree: its links and text go, its child name table is emptied.
void make_new(XmlElement* e) {
    e->up = nullptr;
    e->first_child = nullptr;
    e->next = nullptr;
    e->prev = nullptr;
    e->hash_entry = nullptr;
    e->flags &= static_cast<uint16_t>(~BXML_ELEMENT_HAS_TEXT);
    e->text_length = 0;
    if (XmlChildNames* t = e->child_names; t && t->used) {
        std::memset(t->slots(), 0, t->capacity * sizeof(ChildName));
        t->used = 0;
    }
}

void element_destructor(void* record) {
    auto* e = static_cast<XmlElement*>(record);
    take_descendants(e, [](XmlElement* child) { brelrt_handle_free(child->self, HERE); });
    unhook_entry(e);
    if (e->up) {
        forget_name(e->up, e);
        unlink_child(e->up, e);
    }
    if (XmlChildNames* t = e->child_names)
        store_free(e->store, t, names_size(t->capacity));
    free_name_block(e);
    free_text_block(e);
    clear_comments(e);
    free_attributes(e);
    discharge(e->store, kElementCost);
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
    e->last_position = static_cast<int16_t>(last);
}

// insert_level for every element below `top`, in document order, without
// recursion.
void insert_level_below(XmlElement* top, int at) {
    if (at >= BXML_INDEX_PLACES)
        return;
    XmlElement* e = top->first_child;
    while (e) {
        insert_level(e, at);
        if (e->first_child) {
            e = e->first_child;
            continue;
        }
        while (!e->next) {
            e = e->up;
            if (e == top)
                return;
        }
        e = e->next;
    }
}

// Appends the number n at the position after `position` (not when the vector
// is full).
void append_number(XmlElement* e, int position, int32_t n) {
    if (position + 1 >= BXML_INDEX_PLACES)
        return;
    e->index[position + 1] = n;
    e->last_position = static_cast<int16_t>(position + 1);
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
    auto* e = pool ? static_cast<XmlElement*>(stack_take(&pool->elements)) : nullptr;
    if (e) {
        make_new(e);
    } else {
        ElementPool* store = pool ? pool : parent ? parent->store : nullptr;
        if (!charge(store, kElementCost))
            return nullptr;
        BrelrtHandle handle = brelrt_handle_new(type, HERE, "XML element info");
        if (!handle) {
            discharge(store, kElementCost);
            return nullptr;
        }
        e = static_cast<XmlElement*>(brelrt_handle_record(handle, type));
        e->self = handle;
        e->store = store;
        e->name = e->chars;
    }
    e->last_position = -1;
    if (!set_name(e, name, length) || (parent && !reserve_name(parent))) {
        brelrt_handle_free(e->self, HERE);
        return nullptr;
    }
    if (!parent)
        return e;

    uint32_t hash = child_hash(name_hash);
    ChildName* slot = nullptr;
    ChildName* entry = find_name(parent->child_names, e->name, e->name_length, hash, &slot);
    XmlElement* first_same = entry ? entry->first : nullptr;
    int32_t same = entry ? static_cast<int32_t>(entry->count) : 0;
    link_child(parent, e, before);
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
    return append_text(e, data, length, true);
}

bool append_text(XmlElement* e, const char* data, size_t length, bool trim_leading) {
    if (!data && length)
        return false;
    bool has = e->flags & BXML_ELEMENT_HAS_TEXT;
    if (!has && trim_leading) {
        while (length && is_blank(static_cast<unsigned char>(*data))) {
            ++data;
            --length;
        }
        if (!length)
            return true;
    }
    size_t old = has ? e->text_length : 0;
    if (length > kLengthMax - old)
        return false;
    // Bytes of the text itself stay where they are in it when it moves.
    size_t from = 0;
    bool own = has && data >= e->text && data < e->text + old;
    if (own)
        from = static_cast<size_t>(data - e->text);
    if ((!e->text || old + length > e->text_capacity) && !text_block(e, old + length))
        return false;
    std::memmove(e->text + old, own ? e->text + from : data, length);
    e->text_length = static_cast<uint32_t>(old + length);
    e->text[e->text_length] = '\0';
    e->flags |= BXML_ELEMENT_HAS_TEXT;
    return true;
}

bool replace_text(XmlElement* e, size_t keep, const char* data, size_t length, size_t resume) {
    if (!data && length)
        return false;
    size_t old = text_length(e);
    if (keep > old)
        keep = old;
    if (resume > old)
        resume = old;
    size_t tail = old - resume;
    if (length > kLengthMax || keep + tail > kLengthMax - length)
        return false;
    size_t total = keep + length + tail;
    bool own =
        length && e->text && data < e->text + e->text_capacity + 1 && data + length > e->text;
    if (!own && e->text && total <= e->text_capacity) {
        // In place: the tail first, to where it goes, then the new bytes.
        std::memmove(e->text + keep + length, e->text + resume, tail);
        if (length)
            std::memcpy(e->text + keep, data, length);
    } else {
        // Into new storage, from the old and from `data` wherever it lies.
        size_t size = total + 1 < kTextBlockMinimum ? kTextBlockMinimum : total + 1;
        auto* fresh =
            static_cast<char*>(store_alloc(e->store, size, __LINE__, "XML Character data"));
        if (!fresh)
            return false;
        if (keep)
            std::memcpy(fresh, e->text, keep);
        if (length)
            std::memcpy(fresh + keep, data, length);
        if (tail)
            std::memcpy(fresh + keep + length, e->text + resume, tail);
        free_text_block(e);
        e->text = fresh;
        e->text_capacity = static_cast<uint32_t>(size - 1);
        e->flags |= BXML_ELEMENT_TEXT_BLOCK;
    }
    e->text_length = static_cast<uint32_t>(total);
    e->text[total] = '\0';
    e->flags |= BXML_ELEMENT_HAS_TEXT;
    return true;
}

void truncate_text(XmlElement* e, size_t length) {
    if ((e->flags & BXML_ELEMENT_HAS_TEXT) && length < e->text_length) {
        e->text_length = static_cast<uint32_t>(length);
        e->text[length] = '\0';
    }
}

void clear_comments(XmlElement* e) {
    if (XmlTextBlock* c = e->comments)
        store_free(e->store, c, sizeof(XmlTextBlock) + c->capacity + 1);
    e->comments = nullptr;
}

bool append_comments(XmlElement* e, const char* data, size_t length) {
    if (!data && length)
        return false;
    if (!length)
        return true;
    XmlTextBlock* c = e->comments;
    size_t old = c ? c->length : 0;
    if (length > kLengthMax - old)
        return false;
    if (!c || old + length > c->capacity) {
        size_t capacity = c ? 2 * size_t{c->capacity} + 1 : kTextBlockMinimum - 1;
        if (capacity < old + length || capacity > kLengthMax)
            capacity = old + length;
        size_t size = sizeof(XmlTextBlock) + capacity + 1;
        void* p =
            c ? store_realloc(e->store, c, sizeof(XmlTextBlock) + c->capacity + 1, size, __LINE__)
              : store_alloc(e->store, size, __LINE__, "XML comments");
        if (!p)
            return false;
        c = static_cast<XmlTextBlock*>(p);
        c->length = static_cast<uint32_t>(old);
        c->capacity = static_cast<uint32_t>(capacity);
        e->comments = c;
    }
    std::memcpy(data_of(c) + old, data, length);
    c->length = static_cast<uint32_t>(old + length);
    data_of(c)[c->length] = '\0';
    return true;
}

bool add_attribute(XmlElement* e, const char* name, const char* value, size_t value_length) {
    if (!name || (!value && value_length))
        return false;
    XmlAttributes* all = e->attributes;
    if (!all || all->count == all->capacity) {
        uint32_t capacity = all ? 2 * all->capacity : 4;
        size_t size = sizeof(XmlAttributes) + capacity * sizeof(XmlAttribute*);
        void* p = all ? store_realloc(e->store, all, size_of(all), size, __LINE__)
                      : store_alloc(e->store, size, __LINE__, "XML elements attributes array");
        if (!p)
            return false;
        all = static_cast<XmlAttributes*>(p);
        if (!e->attributes)
            all->count = 0;
        all->capacity = capacity;
        e->attributes = all;
    }
    XmlAttribute* a = new_attribute(e->store, name, std::strlen(name), value, value_length);
    if (!a)
        return false;
    items_of(all)[all->count++] = a;
    return true;
}

bool set_attribute_value(XmlElement* e, size_t k, const char* value, size_t length) {
    if (k >= attribute_count(e) || (!value && length))
        return false;
    XmlAttribute* old = items_of(e->attributes)[k];
    XmlAttribute* a = new_attribute(e->store, name_of(old), old->name_length, value, length);
    if (!a)
        return false;
    items_of(e->attributes)[k] = a;
    store_free(e->store, old, size_of(old));
    return true;
}

bool delete_attribute(XmlElement* e, size_t k) {
    if (k >= attribute_count(e))
        return false;
    XmlAttribute** items = items_of(e->attributes);
    store_free(e->store, items[k], size_of(items[k]));
    std::memmove(items + k, items + k + 1, (e->attributes->count - k - 1) * sizeof *items);
    --e->attributes->count;
    return true;
}

bool store_has_room(ElementPool* store, size_t bytes) {
    if (!charge(store, bytes))
        return false;
    discharge(store, bytes);
    return true;
}

namespace {

// What `e` holds beyond its name and text goes, its storage stays.
void empty(XmlElement* e) {
    unhook_entry(e);
    clear_comments(e);
    free_attributes(e);
}

// A pool keeps every element given back: it holds at most the elements of
// the largest record read so far, which the reader bounds.
void give_back(XmlElement* e, ElementPool* pool) {
    if (e->store != pool || !stack_reserve(&pool->elements, 1)) {
        brelrt_handle_free(e->self, HERE);
        return;
    }
    empty(e);
    stack_put(&pool->elements, e);
}

} // namespace

void recycle_element(XmlElement* top, ElementPool* pool) {
    if (top->up) {
        forget_name(top->up, top);
        unlink_child(top->up, top);
    }
    take_descendants(top, [pool](XmlElement* e) { give_back(e, pool); });
    give_back(top, pool);
}

bool give_back_listed(XmlElement* top, XmlElement* const* list, size_t count, ElementPool* pool) {
    XmlElement* parent = top->up;
    if (!stack_reserve(&pool->elements, count) || !stack_reserve(&pool->entries, count + 1))
        return false;
    // Last first: the next record takes them in document order, walking
    // memory as this one did.
    for (size_t k = count; k-- > 0;) {
        stack_put(&pool->elements, list[k]);
        stack_put(&pool->entries, list[k]->hash_entry);
    }
    if (parent) {
        if (ElementHashEntry* entry = parent->hash_entry) {
            parent->hash_entry = nullptr;
            stack_put(&pool->entries, entry);
        }
        parent->first_child = nullptr;
        if (XmlChildNames* t = parent->child_names) {
            std::memset(t->slots(), 0, t->capacity * sizeof(ChildName));
            t->used = 0;
        }
    }
    return true;
}

void free_pool(ElementPool* pool) {
    while (auto* e = static_cast<XmlElement*>(stack_take(&pool->elements))) {
        make_new(e);
        brelrt_handle_free(e->self, HERE);
    }
    stack_free(&pool->elements);
    while (auto* entry = static_cast<ElementHashEntry*>(stack_take(&pool->entries)))
        store_free(pool, entry, sizeof(ElementHashEntry));
    stack_free(&pool->entries);
}

uint32_t count_children_named(XmlElement* parent, const char* name, size_t length,
                              size_t name_hash) {
    if (!parent->child_names)
        return 0;
    ChildName* entry = find_name(parent->child_names, name, length, child_hash(name_hash));
    return entry ? entry->count : 0;
}

ElementHashEntry* new_hash_entry(ElementPool* pool, XmlElement* e) {
    auto* entry = pool ? static_cast<ElementHashEntry*>(stack_take(&pool->entries)) : nullptr;
    if (!entry) {
        entry = static_cast<ElementHashEntry*>(
            store_alloc(pool, sizeof(ElementHashEntry), __LINE__, "Element hash"));
        if (!entry)
            return nullptr;
    }
    entry->name = e->name;
    entry->element = e->self;
    entry->record = e;
    entry->next = nullptr;
    entry->flags = 0;
    entry->pool = pool;
    return entry;
}

// A pool keeps every entry given back, as it keeps every element: there are
// never more than the elements of one record (or one tree) had.
void free_hash_entry(ElementHashEntry* entry) {
    if (!entry)
        return;
    ElementPool* pool = entry->pool;
    if (!pool)
        brelrt_free(entry, HERE);
    else if (stack_reserve(&pool->entries, 1))
        stack_put(&pool->entries, entry);
    else
        store_free(pool, entry, sizeof(ElementHashEntry));
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
    if (entry && entry->pool && entry->pool->dropping)
        return; // pooled already, with the record (give_back_listed)
    while (entry) {
        ElementHashEntry* next = entry->next;
        if (XmlElement* e = entry->record)
            if (e->hash_entry == entry)
                e->hash_entry = nullptr;
        free_hash_entry(entry);
        entry = next;
    }
}

} // extern "C"
