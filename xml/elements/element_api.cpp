// The element functions of the exported API (ordinals 1 to 28): every
// handle is checked, every call leaves its outcome in the element
// last-error word.
#include "bxml32.h"

#include "bxml/module.h"
#include "elements/api_error.h"
#include "elements/element_io.h"
#include "elements/xml_element.h"

#include <cstring>

using namespace bxml;

namespace {

#define HERE kModuleElements, __LINE__

// The record of a handle the caller passed; the error word says how it went.
XmlElement* checked(void* element) {
    XmlElement* e = xml_element_record(element);
    g_element_error = e ? kApiNoError : kApiBadElement;
    return e;
}

size_t length_of(const char* text, long length) {
    if (!text)
        return 0;
    return length < 0 ? std::strlen(text) : static_cast<size_t>(length);
}

// Attribute k's name or value; null with the error set when there is none.
const char* attribute_part(void* element, int k, bool value) {
    XmlElement* e = checked(element);
    if (!e)
        return nullptr;
    size_t at = k >= 0 ? static_cast<size_t>(k) : SIZE_MAX;
    const char* part = value ? attribute_value(e, at) : attribute_name(e, at);
    return part ? part : element_fails(kApiBadAttribute, nullptr);
}

void* neighbour(void* element, bool next) {
    XmlElement* e = checked(element);
    if (!e)
        return nullptr;
    XmlElement* n = next ? e->next : previous_sibling(e);
    return n ? n->self : element_fails(kApiNoSiblings, nullptr);
}

void* create(XmlElement* parent, const char* name, XmlElement* before) {
    if (!name)
        return element_fails(kApiNoMemory, nullptr);
    XmlElement* e = create_element(name, std::strlen(name), parent, before);
    return e ? e->self : element_fails(kApiNoMemory, nullptr);
}

} // namespace

extern "C" {

void* bxml_create_element(void* parent, const char* name, void* before) {
    XmlElement* p = nullptr;
    XmlElement* b = nullptr;
    g_element_error = kApiNoError;
    if (parent && !(p = checked(parent)))
        return nullptr;
    if (before && (!(b = checked(before)) || !p || b->up != p))
        return element_fails(kApiBadElement, nullptr);
    return create(p, name, b);
}

int bxml_free_element(void* element) {
    if (!checked(element))
        return 0;
    return brelrt_handle_free(element, HERE);
}

int bxml_set_hash_entry(void* element, void* entry) {
    XmlElement* e = checked(element);
    if (!e || e->hash_entry)
        return 0;
    e->hash_entry = static_cast<ElementHashEntry*>(entry);
    return 1;
}

void* bxml_hash_entry(void* element) {
    XmlElement* e = checked(element);
    return e ? e->hash_entry : nullptr;
}

void* bxml_first_child(void* element) {
    XmlElement* e = checked(element);
    if (!e)
        return nullptr;
    return e->first_child ? e->first_child->self : element_fails(kApiNoChildren, nullptr);
}

void* bxml_next_sibling(void* element) {
    return neighbour(element, true);
}

void* bxml_previous_sibling(void* element) {
    return neighbour(element, false);
}

void* bxml_parent(void* element) {
    XmlElement* e = checked(element);
    if (!e)
        return nullptr;
    return e->up ? e->up->self : element_fails(kApiTopLevel, nullptr);
}

const char* bxml_element_name(void* element) {
    XmlElement* e = checked(element);
    return e ? e->name : nullptr;
}

const char* bxml_element_text(void* element) {
    XmlElement* e = checked(element);
    if (!e)
        return nullptr;
    const char* text = element_text(e);
    return text ? text : element_fails(kApiNoValue, nullptr);
}

int bxml_last_position(void* element) {
    XmlElement* e = checked(element);
    return e ? e->last_position : -1;
}

int bxml_occurrence(void* element, int k) {
    XmlElement* e = checked(element);
    if (!e || k < 0 || k > e->last_position || k >= BXML_INDEX_PLACES)
        return -1;
    return e->index[k];
}

int bxml_attribute_count(void* element) {
    XmlElement* e = checked(element);
    if (!e)
        return 0;
    size_t n = attribute_count(e);
    return n ? static_cast<int>(n) : element_fails(kApiNoAttributes, 0);
}

const char* bxml_attribute_name(void* element, int k) {
    return attribute_part(element, k, false);
}

const char* bxml_attribute_value(void* element, int k) {
    return attribute_part(element, k, true);
}

const char* bxml_element_error(int* code) {
    if (code)
        *code = g_element_error;
    return api_message(g_element_error);
}

int bxml_replace_text(void* element, const char* text, long length, long keep, long resume) {
    XmlElement* e = checked(element);
    if (!e)
        return 0;
    size_t old = text_length(e);
    size_t kept = keep <= 0 ? 0 : static_cast<size_t>(keep);
    size_t from =
        resume > 0 && static_cast<size_t>(resume) < old ? static_cast<size_t>(resume) : old;
    return replace_text(e, kept, text, length_of(text, length), from)
               ? 1
               : element_fails(kApiNoMemory, 0);
}

int bxml_append_text(void* element, const char* text, long length) {
    XmlElement* e = checked(element);
    if (!e)
        return 0;
    return append_text(e, text, length_of(text, length)) ? 1 : element_fails(kApiNoMemory, 0);
}

int bxml_set_attribute_value(void* element, int k, const char* text, long length) {
    XmlElement* e = checked(element);
    if (!e)
        return 0;
    if (k < 0 || static_cast<size_t>(k) >= attribute_count(e))
        return element_fails(kApiBadAttribute, 0);
    return set_attribute_value(e, static_cast<size_t>(k), text ? text : "",
                               text ? length_of(text, length) : 0)
               ? 1
               : element_fails(kApiNoMemory, 0);
}

void* bxml_add_child(void* parent, const char* name) {
    XmlElement* p = checked(parent);
    return p ? create(p, name, nullptr) : nullptr;
}

void* bxml_add_sibling(void* element, const char* name) {
    XmlElement* e = checked(element);
    if (!e)
        return nullptr;
    if (!e->up)
        return element_fails(kApiHasRoot, nullptr);
    return create(e->up, name, e->next);
}

int bxml_add_attribute(void* element, const char* name, const char* value, long length) {
    XmlElement* e = checked(element);
    if (!e)
        return 0;
    if (!add_attribute(e, name, value ? value : "", length_of(value, length)))
        return element_fails(kApiNoMemory, 0);
    return static_cast<int>(attribute_count(e));
}

int bxml_delete_attribute(void* element, int k) {
    XmlElement* e = checked(element);
    if (!e)
        return 0;
    return k >= 0 && delete_attribute(e, static_cast<size_t>(k))
               ? 1
               : element_fails(kApiBadAttribute, 0);
}

int bxml_append_comment(void* element, const char* text) {
    XmlElement* e = checked(element);
    if (!e)
        return 0;
    return append_comments(e, text, length_of(text, -1)) ? 1 : element_fails(kApiNoMemory, 0);
}

void bxml_clear_comments(void* element) {
    if (XmlElement* e = checked(element))
        clear_comments(e);
}

const char* bxml_comments(void* element) {
    XmlElement* e = checked(element);
    return e ? element_comments(e) : nullptr;
}

int bxml_write_element(FILE* stream, void* element, int indent) {
    XmlElement* e = checked(element);
    if (!e)
        return 0;
    if (!stream || !write_element(stream, e, indent))
        return element_fails(kApiCannotOpen, 0);
    return 1;
}

int bxml_trace_element(void* element, int indent) {
    XmlElement* e = checked(element);
    if (!e)
        return 0;
    trace_element(e, indent);
    return 1;
}

} // extern "C"
