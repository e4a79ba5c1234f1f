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

/* An entry of a parser's element hash, one per element, keyed by the
 * element's normalised name; entries of the same name are chained through
 * `next` (the third word, as the host's hash tables expect). */
typedef struct ElementHashEntry {
    char* name;                    /* the normalised name ("Element hash") */
    BrelrtHandle element;          /* null once the element was freed */
    struct ElementHashEntry* next; /* next entry of the same name */
    uintptr_t flags;               /* BXML_HASH_CONSUMED */
    /* A parser's own entries carry their name behind them, room for
       `capacity` bytes, and go back to the parser's pool when the hash is
       cleared. */
    struct ElementPool* pool;
    size_t capacity;
    /* The record of `element`, null with it: an element going clears both. */
    struct XmlElement* record;
} ElementHashEntry;

#define BXML_HASH_CONSUMED 0x1 /* taken by a record read */

/* The count and first child of each child name of one parent. */
typedef struct XmlChildNames XmlChildNames;

/* The record behind an element handle: 29 words, pointer-sized where a
 * pointer goes, 32-bit numbers otherwise, then this library's additions. */
typedef struct XmlElement {
    BrelrtText* name;                 /* 0  "XML element name" */
    BrelrtHandle parent;              /* 1  null for a top-level element */
    BrelrtList* children;             /* 2  child handles, created with the first child */
    BrelrtText* text;                 /* 3  "XML Character data"; null until text arrives */
    BrelrtText* comments;             /* 4  "XML comments"; null while none */
    BrelrtListNode* node;             /* 5  this element's node in the parent's list */
    BrelrtPairArray* attributes;      /* 6  pairs of BrelrtText* name and value; null while none */
    int32_t last_position;            /* 7  position of the last occurrence number; -1 when none */
    int32_t index[BXML_INDEX_PLACES]; /* 8 to 27 */
    ElementHashEntry* hash_entry;     /* 28 set once */
    BrelrtHandle self;                /* this element's own handle */
    struct XmlElement* up;            /* the parent's record, null at the top */
    XmlChildNames* child_names;       /* null until the first child */
    BrelrtText* spare_text;           /* an emptied text kept for the next one */
    BrelrtListNode* spare_node;       /* a node of no list, kept for the next parent */
    struct XmlElement* next_spare;    /* the next element of an ElementPool */
} XmlElement;

/* Elements a parser gave back after a record, kept with their storage for
 * the next record's elements. */
typedef struct ElementPool {
    XmlElement* first;
    size_t count;
    ElementHashEntry* entries; /* chained through `next` */
    size_t entry_count;
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

/* The hash entry destructor of an element hash: frees every entry of the
 * chain and its name, and unhooks the entries' elements. */
BXML_EXPORT void xml_element_hash_destructor(void* head);

#ifdef __cplusplus
}

namespace bxml {

/* A node of an element's children list: the host's list node with the
 * element it stands for behind it, so that a walk over children needs no
 * handle check. Every node of a children list is one (create_element makes
 * them all). */
struct XmlChildNode {
    BrelrtListNode link;
    XmlElement* element;
};

inline XmlElement* element_at(const BrelrtListNode* node) {
    return reinterpret_cast<const XmlChildNode*>(node)->element;
}

/* The same operations on records, for the callbacks and the reader, which
 * already hold the records and need no handle check. */
XmlElement* create_element(const char* name, size_t length, XmlElement* parent, XmlElement* before,
                           ElementPool* pool = nullptr);
/* The same for a caller that has brelrt_hash_text of the name already. */
XmlElement* create_element(const char* name, size_t length, size_t hash, XmlElement* parent,
                           XmlElement* before, ElementPool* pool);

/* How many children named `name` (`name_hash`: brelrt_hash_text of it)
 * `parent` has: the occurrence number a new one would get is one more. */
uint32_t count_children_named(XmlElement* parent, const char* name, size_t name_hash);

/* Takes `e` with its subtree out of the tree into `pool` (the elements stay
 * live handles, their storage kept for the next record). */
void recycle_element(XmlElement* e, ElementPool* pool);
/* Frees every element and entry of the pool. */
void free_pool(ElementPool* pool);

/* A hash entry with room for a name of `length` bytes (its `name` points
 * there), taken from the pool when it has one; null when out of memory. */
ElementHashEntry* new_hash_entry(ElementPool* pool, size_t length);
bool append_text(XmlElement* e, const char* data, size_t length);
bool append_comments(XmlElement* e, const char* data, size_t length);
bool add_attribute(XmlElement* e, const char* name, const char* value, size_t value_length);

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
