// libFuzzer target: arbitrary bytes through the incremental parser into the
// element tree, driven as the sequential reader drives it (one markup step at
// a time, each finished record freed) or parsed to the end, then freed.
//
// The first byte chooses: bits 0-1 case mode, bit 2 comments, bit 3 the
// traced-only callbacks, bit 4 double-byte text, bit 5 trace at level 10
// (to /dev/null), bit 6 a memory shortage at an allocation chosen by the
// second byte, bit 7 step by step instead of to the end.
#include "handlers/xml_parser.h"

#include <brelrt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "parser_fuzz: %s\n", what);
    brelrt_mem_report(stderr);
    std::abort();
}

// Every element's numbers stay inside the vector, every child points back at
// its parent and node, every hash entry at its element.
void check_tree(BrelrtHandle top) {
    if (!top)
        return;
    XmlElement* t = xml_element_record(top);
    if (!t)
        fail("root is not an element");
    // Iterative walk: documents may nest deeply.
    BrelrtHandle current = top;
    BrelrtListNode* node = nullptr;
    for (;;) {
        XmlElement* e = xml_element_record(current);
        if (e->last_position < -1 || e->last_position >= BXML_INDEX_PLACES)
            fail("occurrence position out of range");
        if (e->hash_entry && e->hash_entry->element != current)
            fail("hash entry does not point back");
        if (e->children && e->children->first) {
            node = e->children->first;
            XmlElement* c = xml_element_record(node->data);
            if (!c || c->parent != current || c->node != node)
                fail("child not linked to its parent");
            current = node->data;
            continue;
        }
        // Next sibling, or up.
        for (;;) {
            if (current == top)
                return;
            XmlElement* c = xml_element_record(current);
            if (c->node->next) {
                BrelrtHandle next = c->node->next->data;
                XmlElement* n = xml_element_record(next);
                if (!n || n->parent != c->parent)
                    fail("sibling not linked to its parent");
                current = next;
                break;
            }
            current = c->parent;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("BRELRT_TRACE_FILE", "/dev/null", 1);
    unsetenv("BRELRT_TRACE");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const uint8_t choice = data[0];
    const uint8_t shortage = data[1];
    data += 2;
    size -= 2;

    uint32_t flags = BXML_SOPEN_FLAGS | (choice & BXML_CASE_MASK);
    if (choice & 0x04)
        flags |= BXML_COMMENTS;
    if (choice & 0x08)
        flags |= BXML_PROCESSING | BXML_CDATA | BXML_DEFAULT | BXML_EXTERNAL_ENTITY |
                 BXML_ATTLIST_DECL | BXML_UNPARSED_DECL | BXML_NOTATION_DECL;
    if (choice & 0x10)
        setenv("BRELRT_DOUBLE_BYTE", "yes", 1);
    else
        unsetenv("BRELRT_DOUBLE_BYTE");
    *brelrt_trace_level() = (choice & 0x20) ? 10 : 0;
    if (choice & 0x40)
        brelrt_mem_fail_nth(1 + shortage);
    *brelrt_file_error() = 0;

    XmlParser* p = xml_create_parser(flags);
    if (p) {
        xml_parser_set_input(p, reinterpret_cast<const char*>(data), size);
        if (choice & 0x80) {
            int result = 0;
            while (result == 0) {
                int before = p->depth;
                result = xml_parse_to_next(p, nullptr);
                if (p->next > p->end)
                    fail("buffer position past the data");
                // A record has ended: forget it as the reader does.
                if (result == 0 && before > 1 && p->depth == 1 && p->root) {
                    XmlElement* root = xml_element_record(p->root);
                    if (p->elements)
                        brelrt_hash_clear(p->elements);
                    if (root && root->children && root->children->first)
                        xml_free_element(root->children->first->data);
                    p->current = p->root;
                }
            }
            if (result != 8 && result != 14 && result != 19)
                fail("unexpected step result");
        } else {
            int result = xml_parse_to_end(p, nullptr);
            if (result != 8 && result != 14 && result != 19)
                fail("unexpected result");
        }
        check_tree(p->root);
        xml_free_parser(p);
    } else if (*brelrt_file_error() != 14) {
        fail("parser not created, but not out of memory");
    }
    brelrt_mem_fail_nth(0);
    *brelrt_trace_level() = 0;
    if (brelrt_mem_outstanding() != 0)
        fail("tracked memory still allocated");
    if (brelrt_mem_bad_frees() != 0)
        fail("free of an unknown pointer");
    return 0;
}
