/*
 * xml_element.h - the element tree built by the parser callbacks.
 *
 * An element is a typed handle of the host whose record is an XmlElement.
 * Besides name, text, attributes and comments it carries the occurrence
 * index vector: the numbers that tell which repetition of a same-named
 * element it is at each enclosing level, outermost first. Under one parent a
 * name that occurs once carries no number at that level; a name that occurs
 * several times numbers its occurrences 1, 2, 3 in document order.
 *
 * Every parent keeps a count and the first child of each of its children's
 * names, so creating the n-th same-named sibling costs the same as the first.
 *
 * Storage: the record links its parent, children and siblings itself (no
 * list nodes), and holds a short name and a short text in its own bytes;
 * longer ones, comments and attributes take one block each. An element
 * built by a parser counts what it holds against its parser's store, which
 * refuses growth past the store's limit (BXML_TREE_LIMIT for the parser API).
 */
#ifndef BXML_XML_ELEMENT_H
#define BXML_XML_ELEMENT_H

#include "bxml32.h"

#include <brelrt.h>

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Places of the occurrence index vector. Repetitions nested deeper than this
 * are not numbered (the document still parses). */
#define BXML_INDEX_PLACES 20

/* Bytes of name and text an element holds in its own record. */
#define BXML_ELEMENT_CHARS 32

/* An entry of a parser's element hash, one per element, keyed by the
 * element's normalised name; entries of the same name are chained through
 * `next` (the third word, as the host's hash tables expect). */
typedef struct ElementHashEntry {
    const char* name;              /* the element's name; null once the element was freed */
    BrelrtHandle element;          /* null once the element was freed */
    struct ElementHashEntry* next; /* next entry of the same name */
    uintptr_t flags;               /* BXML_HASH_CONSUMED */
    /* The store the entry came from and goes back to when the hash is
       cleared; null for an entry of no store. */
    struct ElementPool* pool;
    /* The record of `element`, null with it: an element going clears both. */
    struct XmlElement* record;
} ElementHashEntry;

#define BXML_HASH_CONSUMED 0x1 /* taken by a record read */

/* The count and first child of each child name of one parent. */
typedef struct XmlChildNames XmlChildNames;

/* Comments of an element: one block, the text (with a zero) behind its
 * length and its room. */
typedef struct XmlTextBlock {
    uint32_t length;
    uint32_t capacity; /* bytes of text it has room for, its zero not counted */
} XmlTextBlock;

/* One attribute: one block, its name and value (each with a zero) behind
 * their lengths. */
typedef struct XmlAttribute {
    uint32_t name_length;
    uint32_t value_length;
} XmlAttribute;

/* The attributes of an element in order: one block, `capacity` pointers
 * behind the count. */
typedef struct XmlAttributes {
    uint32_t count;
    uint32_t capacity;
} XmlAttributes;

/* XmlElement.flags */
#define BXML_ELEMENT_HAS_TEXT 0x1   /* the element has text (possibly empty) */
#define BXML_ELEMENT_TEXT_BLOCK 0x2 /* `text` is a block of its own */
#define BXML_ELEMENT_NAME_BLOCK 0x4 /* `name` is a block of its own */
#define BXML_ELEMENT_LOSSY 0x8      /* its text lost characters its reader's encoding lacks */

/* The record behind an element handle. */
typedef struct XmlElement {
    struct XmlElement* up;          /* the parent's record, null at the top */
    struct XmlElement* first_child; /* null when none */
    struct XmlElement* next;        /* next sibling */
    /* Previous sibling; the first child's is the last child. */
    struct XmlElement* prev;
    ElementHashEntry* hash_entry; /* set once */
    BrelrtHandle self;            /* this element's own handle */
    char* name;                   /* name_length bytes and a zero: in `chars`, or a block */
    /* Room for text_capacity bytes and a zero: in `chars` after the name, or a
       block; null while there is no room. Text only with BXML_ELEMENT_HAS_TEXT. */
    char* text;
    XmlTextBlock* comments;     /* null while none */
    XmlAttributes* attributes;  /* null while none */
    XmlChildNames* child_names; /* null until the first child */
    struct ElementPool* store;  /* what the element holds is counted there; may be null */
    uint32_t name_length;
    uint32_t text_length;
    uint32_t text_capacity;
    int16_t last_position; /* position of the last occurrence number; -1 when none */
    uint16_t flags;        /* BXML_ELEMENT_* */
    int32_t index[BXML_INDEX_PLACES];
    char chars[BXML_ELEMENT_CHARS];
} XmlElement;

/* Records or hash entries of a store waiting to be used again, the last
 * given back taken first. */
typedef struct PoolStack {
    void** items;
    size_t count;
    size_t capacity;
} PoolStack;

/* A parser's element store: the elements and hash entries it gave back
 * after a record, kept with their storage for the next record's, and the
 * bytes its elements hold (records, names, texts, comments, attributes,
 * child name tables, hash entries; each block with its bookkeeping), which
 * may not pass `limit`. */
typedef struct ElementPool {
    PoolStack elements; /* XmlElement* */
    PoolStack entries;  /* ElementHashEntry* */
    size_t bytes;
    size_t limit; /* 0: no limit */
    int over;     /* set once growth past the limit was refused */
    /* Set while the hash of a record given back whole (give_back_listed)
       is cleared: its entries are pooled already. */
    int dropping;
} ElementPool;

/* The element handle type (registered on first use); 0 when it cannot be. */
BXML_EXPORT int xml_element_type(void);

/* The record of an element handle, null when it is not a live element. */
BXML_EXPORT XmlElement* xml_element_record(BrelrtHandle element);

/* Creates an element named `name` (length bytes, or up to its zero when
 * length is -1) under `parent` (null: top level), inserted before the sibling
 * `before` (null: at the end), and numbers it among its same-named siblings.
 * Null when out of memory or when `before` is no child of `parent` (nothing
 * is left behind). */
BXML_EXPORT BrelrtHandle xml_create_element(const char* name, long length, BrelrtHandle parent,
                                            BrelrtHandle before);

/* Frees an element, unlinking it from its parent, with its whole subtree;
 * 1, or 0 when it is not an element handle. */
BXML_EXPORT int xml_free_element(BrelrtHandle element);

/* Appends an attribute (copies of name and value); 1, or 0 when out of memory
 * (nothing is added then). */
BXML_EXPORT int xml_element_add_attribute(BrelrtHandle element, const char* name, const char* value,
                                          size_t value_length);

/* Appends character data: while the element has no text yet, leading white
 * space is dropped and nothing is created when none is left. 1, or 0 when out
 * of memory. */
BXML_EXPORT int xml_element_append_text(BrelrtHandle element, const char* data, size_t length);

/* Length of `data` once trailing white space is cut: a byte below 128 that
 * isspace accepts and, while double-byte text is active, a lead and trail
 * pair that the host calls a double-byte blank. */
BXML_EXPORT size_t xml_trimmed_length(const char* data, size_t length);

/* Appends comment text to the element's comments; 1, or 0 when out of memory. */
BXML_EXPORT int xml_element_append_comments(BrelrtHandle element, const char* data, size_t length);

/* The hash entry destructor of an element hash: gives every entry of the
 * chain back to its store (or frees it) and unhooks the entries' elements. */
BXML_EXPORT void xml_element_hash_destructor(void* head);

#ifdef __cplusplus
}

namespace bxml {

/* ---- reading an element */

inline const char* element_name(const XmlElement* e) {
    return e->name;
}
/* The text, null when the element has none. */
inline const char* element_text(const XmlElement* e) {
    return (e->flags & BXML_ELEMENT_HAS_TEXT) ? e->text : nullptr;
}
/* The text, "" when the element has none. */
inline const char* text_or_empty(const XmlElement* e) {
    return (e->flags & BXML_ELEMENT_HAS_TEXT) ? e->text : "";
}
inline size_t text_length(const XmlElement* e) {
    return (e->flags & BXML_ELEMENT_HAS_TEXT) ? e->text_length : 0;
}
inline BrelrtHandle parent_handle(const XmlElement* e) {
    return e->up ? e->up->self : nullptr;
}
inline XmlElement* last_child(const XmlElement* e) {
    return e->first_child ? e->first_child->prev : nullptr;
}
inline XmlElement* previous_sibling(const XmlElement* e) {
    return e->up && e != e->up->first_child ? e->prev : nullptr;
}

/* Comments, null when none. */
inline const char* element_comments(const XmlElement* e) {
    return e->comments ? reinterpret_cast<const char*>(e->comments + 1) : nullptr;
}
inline size_t comments_length(const XmlElement* e) {
    return e->comments ? e->comments->length : 0;
}

inline size_t attribute_count(const XmlElement* e) {
    return e->attributes ? e->attributes->count : 0;
}
/* Attribute k, null past the last. */
inline const XmlAttribute* attribute_at(const XmlElement* e, size_t k) {
    return k < attribute_count(e) ? reinterpret_cast<XmlAttribute* const*>(e->attributes + 1)[k]
                                  : nullptr;
}
/* Attribute k's name and value, null past the last; the value's length. */
inline const char* attribute_name(const XmlElement* e, size_t k) {
    const XmlAttribute* a = attribute_at(e, k);
    return a ? reinterpret_cast<const char*>(a + 1) : nullptr;
}
inline const char* attribute_value(const XmlElement* e, size_t k) {
    const XmlAttribute* a = attribute_at(e, k);
    return a ? reinterpret_cast<const char*>(a + 1) + a->name_length + 1 : nullptr;
}
inline size_t attribute_value_length(const XmlElement* e, size_t k) {
    const XmlAttribute* a = attribute_at(e, k);
    return a ? a->value_length : 0;
}

/* ---- building, on records (the callbacks and the reader already hold the
 * records and need no handle check). Each returns null or false when out of
 * memory or when the store's limit refuses the growth, and then leaves the
 * element as it was. */

/* `pool`: the parser's store, whose pooled elements are used first; null
 * for an element counted in its parent's store (none at the top). */
XmlElement* create_element(const char* name, size_t length, XmlElement* parent, XmlElement* before,
                           ElementPool* pool = nullptr);
/* The same for a caller that has brelrt_hash_text of the name already. */
XmlElement* create_element(const char* name, size_t length, size_t hash, XmlElement* parent,
                           XmlElement* before, ElementPool* pool);

/* How many children named `name` (`length` bytes; `name_hash`: brelrt_hash_text of it)
 * `parent` has: the occurrence number a new one would get is one more. */
uint32_t count_children_named(XmlElement* parent, const char* name, size_t length,
                              size_t name_hash);

/* Takes `e` with its subtree out of the tree into `pool` (the elements stay
 * live handles, their storage kept for the next record). */
void recycle_element(XmlElement* e, ElementPool* pool);
/* Gives back a record read whole, `top` (a child of the root) and every
 * element below it, without visiting them, for a parser that clears its
 * element hash next with pool->dropping set: `list` holds each of them
 * (`count`, in document order, `top` first), each with its hash entry, and
 * they hold nothing but names and texts. The entry of `top`'s parent goes
 * back too. The elements are made new as they leave the pool. False when
 * out of memory (nothing changed; recycle_element does it then). */
bool give_back_listed(XmlElement* top, XmlElement* const* list, size_t count, ElementPool* pool);
/* Frees every element and entry of the pool. */
void free_pool(ElementPool* pool);

/* A hash entry for `e` (its name and element set), taken from the pool when
 * it has one; null when out of memory. */
ElementHashEntry* new_hash_entry(ElementPool* pool, XmlElement* e);
/* Gives back an entry that went into no hash. */
void free_hash_entry(ElementHashEntry* entry);

bool append_text(XmlElement* e, const char* data, size_t length);
/* The same, keeping the blanks a text begins with unless `trim_leading`. */
bool append_text(XmlElement* e, const char* data, size_t length, bool trim_leading);
/* The text becomes its first `keep` bytes, `length` bytes of `data`, then
 * the old text from byte `resume` on (keep and resume within the text). */
bool replace_text(XmlElement* e, size_t keep, const char* data, size_t length, size_t resume);
/* Cuts the text to `length` bytes (no-op when it is shorter). */
void truncate_text(XmlElement* e, size_t length);
bool append_comments(XmlElement* e, const char* data, size_t length);
void clear_comments(XmlElement* e);
bool add_attribute(XmlElement* e, const char* name, const char* value, size_t value_length);
bool set_attribute_value(XmlElement* e, size_t k, const char* value, size_t length);
/* Removes attribute k, later ones moving down; false when there is none. */
bool delete_attribute(XmlElement* e, size_t k);

/* True when `bytes` more fit within the store's limit (a null store has
 * none); otherwise the store is marked over its limit. */
bool store_has_room(ElementPool* store, size_t bytes);

/* How trailing blanks are recognised: bytes below 128 that isspace accepts,
 * and one kind of double-byte blank. */
enum class Blanks {
    kAscii,    /* nothing else */
    kShiftJis, /* lead and trail pairs the host calls blank (0x81 0x40) */
    kEucJp,    /* 0xA1 0xA1 */
    kUtf8,     /* U+3000 */
};
size_t trimmed_length(const char* data, size_t length, Blanks blanks);

} // namespace bxml
#endif

#endif /* BXML_XML_ELEMENT_H */
