// The exported element and parser-handle API, called through the ordinal
// table as the runtime calls it.
#include "xml_helpers.h"

#include "host_fixture.h" // TempDir, read_file, write_file, OneShotServer
#include "parsexml/parser_handle.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

using namespace xmltest;

namespace {

using Handle = void*;
using V = std::vector<int>;

// The functions by ordinal.
struct Api {
    Handle (*create)(Handle, const char*, Handle) = ordinal<decltype(create)>(1);
    int (*free_element)(Handle) = ordinal<decltype(free_element)>(2);
    Handle (*first_child)(Handle) = ordinal<decltype(first_child)>(5);
    Handle (*next_sibling)(Handle) = ordinal<decltype(next_sibling)>(6);
    Handle (*previous_sibling)(Handle) = ordinal<decltype(previous_sibling)>(7);
    Handle (*parent)(Handle) = ordinal<decltype(parent)>(8);
    const char* (*name)(Handle) = ordinal<decltype(name)>(9);
    const char* (*text)(Handle) = ordinal<decltype(text)>(10);
    int (*last_position)(Handle) = ordinal<decltype(last_position)>(11);
    int (*occurrence)(Handle, int) = ordinal<decltype(occurrence)>(12);
    int (*attribute_count)(Handle) = ordinal<decltype(attribute_count)>(13);
    const char* (*attribute_name)(Handle, int) = ordinal<decltype(attribute_name)>(14);
    const char* (*attribute_value)(Handle, int) = ordinal<decltype(attribute_value)>(15);
    const char* (*element_error)(int*) = ordinal<decltype(element_error)>(16);
    int (*replace_text)(Handle, const char*, long, long,
                        long) = ordinal<decltype(replace_text)>(17);
    int (*append_text)(Handle, const char*, long) = ordinal<decltype(append_text)>(18);
    int (*set_attribute)(Handle, int, const char*, long) = ordinal<decltype(set_attribute)>(19);
    Handle (*add_child)(Handle, const char*) = ordinal<decltype(add_child)>(20);
    Handle (*add_sibling)(Handle, const char*) = ordinal<decltype(add_sibling)>(21);
    int (*add_attribute)(Handle, const char*, const char*,
                         long) = ordinal<decltype(add_attribute)>(22);
    int (*delete_attribute)(Handle, int) = ordinal<decltype(delete_attribute)>(23);
    int (*append_comment)(Handle, const char*) = ordinal<decltype(append_comment)>(24);
    const char* (*comments)(Handle) = ordinal<decltype(comments)>(26);
    int (*write)(FILE*, Handle, int) = ordinal<decltype(write)>(27);
    int (*trace)(Handle, int) = ordinal<decltype(trace)>(28);
    Handle (*open)(const char*, unsigned, long) = ordinal<decltype(open)>(41);
    int (*is_parser)(Handle) = ordinal<decltype(is_parser)>(42);
    Handle (*root)(Handle) = ordinal<decltype(root)>(43);
    Handle (*create_root)(Handle, const char*) = ordinal<decltype(create_root)>(46);
    int (*next_record)(Handle) = ordinal<decltype(next_record)>(47);
    Handle (*current)(Handle) = ordinal<decltype(current)>(48);
    int (*free_parser)(Handle) = ordinal<decltype(free_parser)>(49);
    int (*save)(Handle, const char*) = ordinal<decltype(save)>(50);
    int (*add_top_comment)(Handle, const char*) = ordinal<decltype(add_top_comment)>(51);
    const char* (*parser_error)(int*) = ordinal<decltype(parser_error)>(54);

    int element_code() const {
        int code = -1;
        element_error(&code);
        return code;
    }
    int parser_code() const {
        int code = -1;
        parser_error(&code);
        return code;
    }
};

class ApiTest : public XmlTest {
protected:
    Api api;
    std::string str(const char* s) { return s ? s : "(null)"; }
};

constexpr unsigned kRecords = BXML_PARSER_RECORDS | BXML_PARSER_CASE_FOLD;

TEST_F(ApiTest, OpensADocumentInMemoryAndWalksIt) {
    Handle h =
        api.open("<?xml version=\"1.0\"?>\n<a><b>1</b></a>", kRecords | BXML_PARSER_WHOLE, -1);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(api.parser_code(), 0);
    EXPECT_EQ(api.is_parser(h), 1);
    Handle a = api.root(h);
    Handle b = api.first_child(a);
    EXPECT_EQ(str(api.name(a)), "a");
    EXPECT_EQ(str(api.name(b)), "b");
    EXPECT_EQ(str(api.text(b)), "1");
    EXPECT_EQ(api.parent(b), a);

    // Each call leaves its own outcome in the error word.
    api.next_sibling(b);
    EXPECT_EQ(api.element_code(), 11);
    api.first_child(b);
    EXPECT_EQ(api.element_code(), 10);
    api.parent(a);
    EXPECT_EQ(api.element_code(), 12);
    api.text(a);
    EXPECT_EQ(api.element_code(), 13);
    EXPECT_EQ(api.attribute_name(b, 0), nullptr);
    EXPECT_EQ(api.element_code(), 7);
    EXPECT_EQ(str(api.element_error(nullptr)), "Invalid attribute number");
    EXPECT_EQ(api.attribute_count(b), 0);
    EXPECT_EQ(api.element_code(), 14);
    EXPECT_EQ(api.name(h), nullptr); // a parser handle is no element
    EXPECT_EQ(api.element_code(), 6);
    EXPECT_EQ(api.add_sibling(a, "x"), nullptr);
    EXPECT_EQ(api.element_code(), 16);
    EXPECT_EQ(api.root(a), nullptr); // an element is no parser handle
    EXPECT_EQ(api.parser_code(), 5);
    EXPECT_EQ(str(api.parser_error(nullptr)), "The passed handle is not a valid parser handle");
    EXPECT_EQ(api.last_position(b), -1);
    EXPECT_EQ(api.occurrence(b, 0), -1);

    EXPECT_EQ(api.free_parser(h), 1);
    EXPECT_EQ(api.free_parser(h), 0);
    EXPECT_EQ(api.parser_code(), 5);
    EXPECT_EQ(api.name(b), nullptr); // freed with its parser
}

TEST_F(ApiTest, OrdinalsWithoutAFunctionReportAnError) {
    auto* table = static_cast<const BxmlSlot*>(dlsym(runtime().bxml, "bxml32_ordinals"));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table[0], nullptr);
    EXPECT_EQ(table[29], nullptr);
    for (int k = 1; k < BXML_ORDINAL_COUNT; ++k) {
        if (k == 29)
            continue;
        ASSERT_NE(table[k], nullptr) << k;
        if (k < 30 || k > 40)
            continue;
        *brelrt_file_error() = 0;
        EXPECT_EQ(reinterpret_cast<long (*)(void*, void*)>(table[k])(nullptr, nullptr), 0);
        EXPECT_EQ(*brelrt_file_error(), 17);
    }
}

TEST_F(ApiTest, BuildsEditsAndSavesADocumentThatReadsBack) {
    TempDir dir;
    Handle h = api.open(nullptr, 0, 0);
    ASSERT_NE(h, nullptr);
    Handle r = api.create_root(h, "r");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(api.create_root(h, "again"), nullptr);
    EXPECT_EQ(api.parser_code(), 16);
    EXPECT_EQ(api.root(h), r);
    EXPECT_EQ(api.add_sibling(r, "s"), nullptr);
    EXPECT_EQ(api.element_code(), 16);
    EXPECT_EQ(api.next_record(h), 0); // nothing to parse
    EXPECT_EQ(*brelrt_file_error(), 8);

    api.add_child(r, "e");
    Handle t = api.add_child(r, "t");
    EXPECT_EQ(api.append_text(t, "  \n ", -1), 1);
    EXPECT_EQ(api.text(t), nullptr); // blanks alone make no text
    EXPECT_EQ(api.append_text(t, " abcdef", -1), 1);
    EXPECT_EQ(api.replace_text(t, "XY", 2, 2, 4), 1);
    EXPECT_EQ(str(api.text(t)), "abXYef");
    EXPECT_EQ(api.replace_text(t, "Z", -1, 99, 0), 1);
    EXPECT_EQ(str(api.text(t)), "abXYefZ");
    EXPECT_EQ(api.replace_text(t, "a<b&'\"", -1, 0, 0), 1);
    EXPECT_EQ(api.add_attribute(t, "k", "v>", -1), 1);
    EXPECT_EQ(api.add_attribute(t, "gone", "x", -1), 2);
    EXPECT_EQ(api.set_attribute(t, 0, "v>", 2), 1);
    EXPECT_EQ(api.set_attribute(t, 5, "v", 1), 0);
    EXPECT_EQ(api.element_code(), 7);
    EXPECT_EQ(api.delete_attribute(t, 1), 1);
    EXPECT_EQ(api.delete_attribute(t, 1), 0);
    EXPECT_EQ(api.element_code(), 7);
    EXPECT_EQ(api.append_comment(t, "note -- here"), 1);
    Handle g = api.add_sibling(t, "g");
    Handle x2 = api.add_child(g, "x");
    Handle x1 = api.create(g, "x", x2); // before the first x
    api.append_text(x1, "1", -1);
    EXPECT_EQ(api.occurrence(x1, 0), 2);
    EXPECT_EQ(api.occurrence(x2, 0), 1);
    EXPECT_EQ(api.add_top_comment(h, "c"), 1);

    std::string file = dir.file("out.xml");
    ASSERT_EQ(api.save(h, file.c_str()), 1);
    EXPECT_EQ(read_file(file), "<?xml version=\"1.0\"?>\n"
                               "<!-- " +
                                   file +
                                   " - generated by BRELCOBOL-GT v7.2.2 JPN -->\n"
                                   "<!-- c --><r>\n"
                                   "  <e/>\n"
                                   "  <!-- note - - here -->\n"
                                   "  <t\n"
                                   "       k=\"v&gt;\">a&lt;b&amp;&apos;&quot;</t>\n"
                                   "  <g>\n"
                                   "    <x>1</x>\n"
                                   "    <x/>\n"
                                   "  </g>\n"
                                   "</r>\n");
    EXPECT_EQ(api.save(h, dir.file("no/such/folder/out.xml").c_str()), 0);
    EXPECT_EQ(api.parser_code(), 3);
    EXPECT_EQ(api.save(h, "/dev/full"), 0);
    EXPECT_EQ(api.parser_code(), 3);
    EXPECT_EQ(api.free_parser(h), 1);

    // Another program takes it, and so does the parser.
    std::string check = "xmllint --noout " + file + " 2>&1";
    EXPECT_EQ(std::system(check.c_str()), 0);
    Handle back = api.open(file.c_str(), kRecords | BXML_PARSER_WHOLE | BXML_PARSER_COMMENTS, 0);
    ASSERT_NE(back, nullptr);
    Handle t2 = child_named(api.root(back), "t");
    EXPECT_EQ(str(api.text(t2)), "a<b&'\"");
    EXPECT_EQ(str(api.attribute_value(t2, 0)), "v>");
    EXPECT_EQ(str(api.comments(t2)), " note - - here ");
    api.free_parser(back);
}

TEST_F(ApiTest, WriteAndTraceElementFormats) {
    Handle h = api.open("<?xml version=\"1.0\"?><a><b k=\"v\">x</b><c><d>1</d><d>2</d></c></a>",
                        kRecords | BXML_PARSER_WHOLE, -1);
    ASSERT_NE(h, nullptr);
    std::string trace = with_trace(1, [&] { EXPECT_EQ(api.trace(api.root(h), 0), 1); });
    EXPECT_NE(trace.find(" b = x\n    k = v\n c\n d( 1) = 1\n d( 2) = 2\n"), std::string::npos)
        << trace;
    trace = with_trace(1, [&] { api.trace(api.root(h), 2); });
    EXPECT_NE(trace.find("  b = x\n      k = v\n  c\n   d( 1) = 1\n   d( 2) = 2\n"),
              std::string::npos)
        << trace;
    EXPECT_EQ(with_trace(0, [&] { api.trace(api.root(h), 0); }), "");

    TempDir dir;
    FILE* f = std::fopen(dir.file("w").c_str(), "w");
    EXPECT_EQ(api.write(f, child_named(api.root(h), "c"), 3), 1);
    std::fclose(f);
    EXPECT_EQ(read_file(dir.file("w")), "   <c>\n     <d>1</d>\n     <d>2</d>\n   </c>\n");
    api.free_parser(h);
}

std::string url(const OneShotServer& server) {
    return "http://127.0.0.1:" + std::to_string(server.port()) + "/d.xml";
}

TEST_F(ApiTest, OpensFilesStandardInputAndUrls) {
    TempDir dir;
    const std::string doc = "<?xml version=\"1.0\"?><r><rec><n>1</n></rec></r>\n";
    write_file(dir.file("d.xml"), doc);
    write_file(dir.file("bad.xml"), "<r><a></r>");
    write_file(dir.file("empty.xml"), "");

    EXPECT_EQ(api.open(dir.file("missing.xml").c_str(), kRecords, 0), nullptr);
    EXPECT_EQ(api.parser_code(), 3);
    for (const char* name : {"bad.xml", "empty.xml"}) {
        EXPECT_EQ(api.open(dir.file(name).c_str(), kRecords | BXML_PARSER_WHOLE, 0), nullptr);
        EXPECT_EQ(api.parser_code(), 4) << name;
    }
    Handle h = api.open(dir.file("d.xml").c_str(), kRecords, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(api.next_record(h), 1);
    EXPECT_EQ(api.free_parser(h), 1);

    // Standard input.
    int saved = dup(0);
    ASSERT_NE(std::freopen(dir.file("d.xml").c_str(), "r", stdin), nullptr);
    h = api.open("-", kRecords | BXML_PARSER_WHOLE, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(str(api.text(child_named(child_named(api.root(h), "rec"), "n"))), "1");
    api.free_parser(h);
    dup2(saved, 0);
    close(saved);
    clearerr(stdin);

    // A URL: fetched into a local copy that lives as long as the handle.
    {
        OneShotServer server("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(doc.size()) +
                             "\r\n\r\n" + doc);
        h = api.open(url(server).c_str(), kRecords, 0);
    }
    ASSERT_NE(h, nullptr);
    std::string copy = static_cast<ParserHandle*>(brelrt_handle_record(h, 0))->source;
    EXPECT_TRUE(std::filesystem::exists(copy));
    EXPECT_EQ(api.next_record(h), 1);
    api.free_parser(h);
    EXPECT_FALSE(std::filesystem::exists(copy));
    {
        OneShotServer server("HTTP/1.0 404 Not Found\r\n\r\n");
        EXPECT_EQ(api.open(url(server).c_str(), kRecords, 0), nullptr);
        EXPECT_EQ(api.parser_code(), 8);
    }
}

TEST_F(ApiTest, NextRecordKeepsEveryRecordAndTellsACutOffDocument) {
    std::string head = "<?xml version=\"1.0\"?>\n<r>\n";
    std::string body;
    const int n = 20000;
    for (int k = 1; k <= n; ++k)
        body += " <rec><n>" + std::to_string(k) + "</n></rec>\n";
    for (bool cut : {false, true}) {
        std::string doc = head + body + (cut ? " <rec><n>tail" : "</r>\n");
        Handle h = api.open(doc.c_str(), kRecords, -1);
        ASSERT_NE(h, nullptr);
        int records = 0;
        while (api.next_record(h) == 1) {
            ++records;
            ASSERT_EQ(api.current(h), api.root(h));
        }
        EXPECT_EQ(records, n);
        EXPECT_EQ(*brelrt_file_error(), cut ? 19 : 8);
        EXPECT_EQ(api.next_record(h), 0);
        EXPECT_EQ(*brelrt_file_error(), cut ? 19 : 8);
        // Every record stayed, numbered in document order (and the start
        // of the one cut off).
        std::vector<BrelrtHandle> recs = children_of(api.root(h));
        EXPECT_EQ(recs.size(), static_cast<size_t>(n + cut));
        EXPECT_EQ(numbers_of(recs[0]), V{1});
        EXPECT_EQ(numbers_of(recs[n - 1]), V{n});
        EXPECT_EQ(str(api.text(api.first_child(recs[n - 1]))), std::to_string(n));
        api.free_parser(h);
        // Opened whole, the cut-off document is refused, and so is one past
        // the parser's limits.
        std::string deep = "<?xml version=\"1.0\"?><r>";
        for (int k = 0; k < 2000; ++k)
            deep += "<d>";
        EXPECT_EQ(api.open(deep.c_str(), kRecords | BXML_PARSER_WHOLE, -1), nullptr);
        EXPECT_EQ(api.parser_code(), 4);
        Handle whole = api.open(doc.c_str(), kRecords | BXML_PARSER_WHOLE, -1);
        EXPECT_EQ(whole == nullptr, cut);
        if (cut) {
            EXPECT_EQ(api.parser_code(), 4);
        }
        api.free_parser(whole);
    }
}

// ---- the bound on the tree

std::string children_doc(int n) {
    std::string doc = "<r>\n";
    for (int k = 0; k < n; ++k)
        doc += " <c>" + std::to_string(k) + "</c>\n";
    return doc + "</r>\n";
}

// Past BXML_TREE_LIMIT the open fails with 1 (file error 14) and frees
// what it built; below it, or with the variable unset or not a number (256
// MB), the same document opens. Record by record, the records before the
// bound stay and every later next record answers 0 with 14.
TEST_F(ApiTest, TreeLimitRefusesTheOpenAndTheNextRecordCleanly) {
    const std::string doc = "<?xml version=\"1.0\"?>\n" + children_doc(20000); // 6 MB of tree
    const unsigned whole = kRecords | BXML_PARSER_WHOLE;
    {
        EnvVar limit("BXML_TREE_LIMIT", "1");
        std::string trace =
            with_trace(6, [&] { EXPECT_EQ(api.open(doc.c_str(), whole, -1), nullptr); });
        EXPECT_EQ(api.parser_code(), 1);
        EXPECT_EQ(*brelrt_file_error(), 14);
        EXPECT_EQ(brelrt_mem_outstanding(), 0u);
        EXPECT_NE(trace.find("past its limit of 1 MB (BXML_TREE_LIMIT)"), std::string::npos)
            << trace;
        EXPECT_NE(trace.find("Leaving, tree past BXML_TREE_LIMIT"), std::string::npos) << trace;

        Handle small =
            api.open(("<?xml version=\"1.0\"?>" + children_doc(2000)).c_str(), whole, -1);
        ASSERT_NE(small, nullptr);
        EXPECT_EQ(children_of(api.root(small)).size(), 2000u);
        api.free_parser(small);

        Handle h = api.open(doc.c_str(), kRecords, -1);
        ASSERT_NE(h, nullptr);
        int records = 0;
        while (api.next_record(h) == 1)
            ++records;
        EXPECT_EQ(*brelrt_file_error(), 14);
        // Each record costs about 250 bytes (the hash keeps only the last).
        EXPECT_GT(records, 3000);
        EXPECT_LT(records, 5000);
        EXPECT_EQ(api.next_record(h), 0);
        EXPECT_EQ(*brelrt_file_error(), 14);
        // The tree is still whole up to the last record read, and can be
        // edited within the bound again once part of it goes.
        std::vector<BrelrtHandle> recs = children_of(api.root(h));
        EXPECT_EQ(str(api.text(recs[static_cast<size_t>(records) - 1])),
                  std::to_string(records - 1));
        EXPECT_EQ(api.add_child(api.root(h), "more"), nullptr);
        EXPECT_EQ(api.element_code(), 1);
        for (size_t k = 0; k < 100; ++k)
            api.free_element(recs[k]);
        EXPECT_NE(api.add_child(api.root(h), "more"), nullptr);
        api.free_parser(h);
    }
    for (const char* value : {"x", "0", "-5"}) {
        EnvVar limit("BXML_TREE_LIMIT", value);
        Handle h = api.open(doc.c_str(), whole, -1);
        ASSERT_NE(h, nullptr) << value;
        api.free_parser(h);
    }
}

// Documents made to take memory end within the bound, whichever part of
// the tree grows: besides expat's own buffers (for runs of at most 1 MB),
// the tree built before the refusal is all that was held.
TEST_F(ApiTest, HostileDocumentsEndWithinTheTreeLimit) {
    auto repeat = [](const std::string& s, int n) {
        std::string out;
        for (int k = 0; k < n; ++k)
            out += s;
        return out;
    };
    const std::string head = "<?xml version=\"1.0\"?>\n";
    const std::string long_name(4000, 'n');
    const std::string big_text(900 * 1024, 't');
    std::string attributes;
    for (int k = 0; k < 100; ++k)
        attributes += " a" + std::to_string(k) + "=\"v\"";
    const std::string laughs = "<!DOCTYPE r [<!ENTITY l0 \"lollollollollol\">"
                               "<!ENTITY l1 \"&l0;&l0;&l0;&l0;&l0;&l0;&l0;&l0;&l0;&l0;\">"
                               "<!ENTITY l2 \"&l1;&l1;&l1;&l1;&l1;&l1;&l1;&l1;&l1;&l1;\">"
                               "<!ENTITY l3 \"&l2;&l2;&l2;&l2;&l2;&l2;&l2;&l2;&l2;&l2;\">"
                               "<!ENTITY l4 \"&l3;&l3;&l3;&l3;&l3;&l3;&l3;&l3;&l3;&l3;\">"
                               "<!ENTITY l5 \"&l4;&l4;&l4;&l4;&l4;&l4;&l4;&l4;&l4;&l4;\">"
                               "<!ENTITY l6 \"&l5;&l5;&l5;&l5;&l5;&l5;&l5;&l5;&l5;&l5;\">"
                               "<!ENTITY l7 \"&l6;&l6;&l6;&l6;&l6;&l6;&l6;&l6;&l6;&l6;\">"
                               "<!ENTITY l8 \"&l7;&l7;&l7;&l7;&l7;&l7;&l7;&l7;&l7;&l7;\">]>";
    const struct {
        const char* what;
        std::string doc;
        int code; // of the open
    } cases[] = {
        {"many children", children_doc(40000), 1},
        {"long names", "<r>" + repeat("<" + long_name + "/>", 2000) + "</r>", 1},
        {"many attributes", "<r>" + repeat("<e" + attributes + "/>", 4000) + "</r>", 1},
        {"deep nesting", "<r>" + repeat(repeat("<d>", 1000) + repeat("</d>", 1000), 40) + "</r>",
         1},
        {"long texts", "<r>" + repeat("<t>" + big_text + "</t>", 20) + "</r>", 1},
        {"comments", "<r>" + repeat("<!--" + big_text + "-->", 20) + "<e/></r>", 1},
        {"billion laughs", laughs + "<r><t>&l8;</t></r>", 1},
        {"cut document", children_doc(2000).substr(0, 20000), 4},
    };
    EnvVar limit("BXML_TREE_LIMIT", "1");
    TempDir dir;
    for (const auto& c : cases) {
        write_file(dir.file("d.xml"), head + c.doc);
        *brelrt_file_error() = 0;
        brelrt_mem_peak(1);
        size_t before = brelrt_mem_bytes();
        EXPECT_EQ(api.open(dir.file("d.xml").c_str(),
                           kRecords | BXML_PARSER_WHOLE | BXML_PARSER_COMMENTS, 0),
                  nullptr)
            << c.what;
        EXPECT_EQ(api.parser_code(), c.code) << c.what;
        EXPECT_EQ(*brelrt_file_error(), c.code == 1 ? 14 : 19) << c.what;
        EXPECT_EQ(brelrt_mem_outstanding(), 0u) << c.what;
        EXPECT_LT(brelrt_mem_peak(0) - before, size_t{5} << 20) << c.what;
    }
}

} // namespace
