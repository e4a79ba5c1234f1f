// libFuzzer target: arbitrary bytes through the incremental parser into the
// element tree, along each road a document takes into the library:
//   0 parsed to the end,
//   1 one markup step at a time, each finished record freed,
//   2 record by record from whole chunks, as the reader parses,
//   3 opened through the parser API (ordinal 41, text in memory), records
//     kept, the tree written, traced and saved,
//   4 read by xml_sread into record areas of a layout with record types, a
//     variant, a table, binary, packed and text fields.
// Then the tree is checked and freed, and the tracked allocator must hold
// nothing: it is the leak check (libFuzzer's own is off, see run-parser-fuzz).
//
// Three header bytes: choice (bits 0-1 case mode, bit 2 comments, bit 3 the
// traced-only callbacks, bit 4 double-byte text, bit 5 trace at level 10 to
// /dev/null, bit 6 a memory shortage at the allocation the second byte
// chooses, bit 7 BXML_EXACT_TABLE_MATCH off), shortage, road (modulo 5; for
// road 3 bit 7 parses the whole document on open).
#include "bxml32.h"
#include "handlers/xml_parser.h"

#include <brelrt.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string g_dir;

const char kLayout[] = "      *> WHEN KIND = \"A\"\n"
                       "       01 A-REC.\n"
                       "          05 KIND PIC X.\n"
                       "          05 NAME PIC X(8).\n"
                       "          05 AMOUNT PIC S9(5)V99 COMP-3.\n"
                       "          05 COUNT-N PIC 9(4) COMP.\n"
                       "      *> BINARY\n"
                       "          05 RAW PIC X(4).\n"
                       "          05 LINES OCCURS 3.\n"
                       "             10 ITEM PIC X(4).\n"
                       "             10 QTY PIC S9(3).\n"
                       "          05 BODY-KIND PIC X.\n"
                       "          05 BODY PIC X(10).\n"
                       "      *> WHEN BODY-KIND = \"N\"\n"
                       "          05 BODY-NUM REDEFINES BODY.\n"
                       "             10 NUM PIC 9(10).\n"
                       "      *> WHEN KIND = \"B\"\n"
                       "       01 B-REC.\n"
                       "          05 B-KIND PIC X.\n"
                       "          05 B-TEXT PIC X(20).\n";

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "parser_fuzz: %s\n", what);
    brelrt_mem_report(stderr);
    std::abort();
}

// Every element's numbers stay inside the vector, every child points back at
// its parent and at its siblings, every hash entry at its element.
void check_tree(BrelrtHandle top) {
    if (!top)
        return;
    if (!xml_element_record(top))
        fail("root is not an element");
    // Iterative walk: documents may nest deeply.
    BrelrtHandle current = top;
    for (;;) {
        XmlElement* e = xml_element_record(current);
        if (e->last_position < -1 || e->last_position >= BXML_INDEX_PLACES)
            fail("occurrence position out of range");
        if (e->hash_entry && e->hash_entry->element != current)
            fail("hash entry does not point back");
        if (e->first_child) {
            XmlElement* c = xml_element_record(e->first_child->self);
            if (!c || c->up != e || !c->prev || c->prev->next)
                fail("child not linked to its parent");
            current = c->self;
            continue;
        }
        // Next sibling, or up.
        for (;;) {
            if (current == top)
                return;
            XmlElement* c = xml_element_record(current);
            if (c->next) {
                XmlElement* n = xml_element_record(c->next->self);
                if (!n || n->up != c->up || n->prev != c)
                    fail("sibling not linked to its parent");
                current = n->self;
                break;
            }
            if (c->up->first_child->prev != c)
                fail("last child not known to the first");
            current = c->up->self;
        }
    }
}

void expect_result(int result) {
    if (result != 8 && result != 14 && result != 19)
        fail("unexpected result");
}

void parse_road(int road, uint32_t flags, const char* data, size_t size) {
    XmlParser* p = xml_create_parser(flags);
    if (!p) {
        if (*brelrt_file_error() != 14)
            fail("parser not created, but not out of memory");
        return;
    }
    xml_parser_set_input(p, data, size);
    int result = 0;
    if (road == 0) {
        result = xml_parse_to_end(p, nullptr);
    } else if (road == 1) {
        while (result == 0) {
            int before = p->depth;
            result = xml_parse_to_next(p, nullptr);
            if (p->next > p->end)
                fail("buffer position past the data");
            // A record has ended: forget it as the reader does.
            if (result == 0 && before > 1 && p->depth == 1 && p->root)
                xml_parser_drop_record(p);
        }
    } else {
        while (result == 0 && !p->root)
            result = xml_parse_to_next(p, nullptr);
        for (int k = 0; result == 0 && k < 100000; ++k) {
            result = xml_parse_record(p, nullptr);
            check_tree(p->root);
            xml_parser_drop_record(p);
        }
    }
    expect_result(result);
    check_tree(p->root);
    xml_free_parser(p);
}

void api_road(uint32_t flags, bool whole, const char* data, size_t size) {
    std::string doc(data, size);
    if (doc.compare(0, 6, "<?xml ") != 0)
        doc.insert(0, "<?xml version=\"1.0\"?>\n");
    void* h = bxml_parser_open(doc.c_str(), flags | (whole ? BXML_PARSER_WHOLE : 0),
                               static_cast<long>(doc.size()));
    if (!h)
        return;
    for (int k = 0; k < 100000 && bxml_next_record(h); ++k) {
    }
    void* root = bxml_root_element(h);
    check_tree(root);
    static FILE* null = std::fopen("/dev/null", "w");
    if (root) {
        bxml_write_element(null, root, 2);
        bxml_trace_element(root, 0);
        void* child = bxml_first_child(root);
        if (child) {
            bxml_add_attribute(child, "k", "v<&>\"", -1);
            bxml_append_comment(child, "--x--");
            bxml_replace_text(child, "t", 1, 2, 3);
            bxml_add_sibling(child, "s");
        }
    }
    bxml_add_top_comment(h, "c");
    bxml_parser_save(h, "/dev/null");
    check_tree(root);
    if (!bxml_parser_free(h))
        fail("parser handle not freed");
}

void sread_road(const char* data, size_t size) {
    std::string file = g_dir + "/fuzz.xml";
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        fail("cannot write the document");
    XmlFile* x = xml_sopen(file.c_str(), 0, 0, 0, 0, 0, nullptr, 0);
    if (!x) {
        int e = *brelrt_file_error();
        if (e != 8 && e != 14 && e != 15 && e != 19)
            fail("open failed oddly");
        return;
    }
    unsigned char area[128];
    int n = 0;
    for (int k = 0; k < 100000 && (n = xml_sread(x, area)) > 0; ++k)
        if (n > 60 + 1)
            fail("a read filled past the record");
    expect_result(*brelrt_file_error());
    xml_sclose(x);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("BRELRT_TRACE_FILE", "/dev/null", 1);
    unsetenv("BRELRT_TRACE");
    unsetenv("BRELRT_CONFIG");
    char pattern[] = "/tmp/bxml-fuzz-XXXXXX";
    if (!mkdtemp(pattern))
        fail("no folder for the layout");
    g_dir = pattern;
    FILE* f = std::fopen((g_dir + "/fuzz.xfd").c_str(), "w");
    std::fputs(kLayout, f);
    std::fclose(f);
    setenv("BRELRT_XFD_DIR", g_dir.c_str(), 1);
    for (const BrelrtHostEntry& e : brelrt_host_entries)
        xml_set_host_entry(e.name, reinterpret_cast<void*>(e.function));
    xml_register_config();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size < 3)
        return 0;
    const uint8_t choice = bytes[0];
    const uint8_t shortage = bytes[1];
    const uint8_t road = bytes[2];
    const char* data = reinterpret_cast<const char*>(bytes + 3);
    size -= 3;

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
    if (choice & 0x80)
        setenv("BXML_EXACT_TABLE_MATCH", "no", 1);
    else
        unsetenv("BXML_EXACT_TABLE_MATCH");
    *brelrt_trace_level() = (choice & 0x20) ? 10 : 0;
    if (choice & 0x40)
        brelrt_mem_fail_nth(1 + shortage);
    *brelrt_file_error() = 0;

    switch (road % 5) {
    case 3:
        api_road(flags, road & 0x80, data, size);
        break;
    case 4:
        sread_road(data, size);
        break;
    default:
        parse_road(road % 5, flags, data, size);
        break;
    }
    brelrt_mem_fail_nth(0);
    *brelrt_trace_level() = 0;
    if (brelrt_mem_outstanding() != 0)
        fail("tracked memory still allocated");
    if (brelrt_mem_bad_frees() != 0)
        fail("free of an unknown pointer");
    return 0;
}
