// The incremental parser and the tree its callbacks build.
#include "test_paths.h"
#include "xml_helpers.h"

#include <expat.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

using namespace xmltest;

namespace {

using V = std::vector<int>;

class ParserTest : public XmlTest {
protected:
    void TearDown() override {
        xml_free_parser(parser);
        parser = nullptr;
        XmlTest::TearDown();
    }
    XmlParser* parser = nullptr;
};

const char* const kOrders = "<?xml version=\"1.0\"?>\n"
                            "<!-- made by hand -->\n"
                            "<!DOCTYPE orders [\n"
                            "<!ELEMENT orders (ord_rec)*>\n"
                            " <!ELEMENT ord_rec (ord_no, lines*)>\n"
                            "     <!ELEMENT ord_no (#PCDATA)>\n"
                            "     <!ELEMENT lines (item)>\n"
                            "          <!ELEMENT item (#PCDATA)>\n"
                            "]>\n"
                            "<orders>\n"
                            " <!-- first order -->\n"
                            " <ord_rec kind=\"a\" rev=\"2\">\n"
                            "     <ord_no>A0001</ord_no>\n"
                            "     <lines>\n"
                            "          <item>X1</item>\n"
                            "     </lines>\n"
                            "     <lines>\n"
                            "          <item>Y2</item>\n"
                            "          <item>Z3</item>\n"
                            "     </lines>\n"
                            "     <lines><item>W</item><!-- last --></lines>\n"
                            " </ord_rec>\n"
                            "</orders>\n"
                            "<!-- after -->\n";

TEST_F(ParserTest, BuildsTheTreeWithOccurrenceNumbers) {
    parser = parse_text(kOrders);
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(*brelrt_file_error(), 8);
    EXPECT_EQ(parser->depth, 0);
    EXPECT_EQ(name_of(parser->root), "orders");
    BrelrtHandle record = child_named(parser->root, "ord_rec");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(text_of(child_named(record, "ord_no")), "A0001");
    EXPECT_EQ(text_of(record), ""); // indentation never becomes text of a group
    EXPECT_EQ(bxml::element_text(rec(record)), nullptr);

    BrelrtHandle l1 = child_named(record, "lines", 0), l2 = child_named(record, "lines", 1),
                 l3 = child_named(record, "lines", 2);
    EXPECT_EQ(numbers_of(l1), V{1});
    EXPECT_EQ(numbers_of(l2), V{2});
    EXPECT_EQ(numbers_of(l3), V{3});
    EXPECT_EQ(numbers_of(child_named(l1, "item")), V{1});
    EXPECT_EQ(numbers_of(child_named(l2, "item", 0)), (V{2, 1}));
    EXPECT_EQ(numbers_of(child_named(l2, "item", 1)), (V{2, 2}));
    EXPECT_EQ(text_of(child_named(l2, "item", 1)), "Z3");

    XmlElement* r = rec(record);
    ASSERT_EQ(bxml::attribute_count(r), 2u);
    auto attribute = [&](size_t k, bool value) {
        return std::string(value ? bxml::attribute_value(r, k) : bxml::attribute_name(r, k));
    };
    EXPECT_EQ(attribute(0, false), "kind");
    EXPECT_EQ(attribute(0, true), "a");
    EXPECT_EQ(attribute(1, false), "rev");
    EXPECT_EQ(attribute(1, true), "2");
}

TEST_F(ParserTest, CommentsGoToTheNextElementOrTheTopLevel) {
    parser = parse_text(kOrders, BXML_SOPEN_FLAGS | BXML_COMMENTS | BXML_CASE_FOLD);
    ASSERT_NE(parser, nullptr);
    BrelrtHandle record = child_named(parser->root, "ord_rec");
    EXPECT_EQ(comments_of(record), " first order ");
    // A comment before an end tag stays with the element that ends.
    EXPECT_EQ(comments_of(child_named(record, "lines", 2)), " last ");
    EXPECT_EQ(comments_of(parser->root), "");
    ASSERT_NE(parser->top_comments, nullptr);
    EXPECT_STREQ(brelrt_text_data(parser->top_comments), " made by hand  after ");
}

TEST_F(ParserTest, KeepsDoctypeNameAndElementDeclarations) {
    parser = parse_text(kOrders);
    ASSERT_NE(parser, nullptr);
    ASSERT_NE(parser->doctype_name, nullptr);
    EXPECT_STREQ(parser->doctype_name, "orders");
    ASSERT_NE(parser->models, nullptr);
    EXPECT_EQ(brelrt_hash_count(parser->models), 5u);
    auto* m = static_cast<XmlModel*>(brelrt_hash_find(parser->models, "ord_rec"));
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->model, nullptr);
    EXPECT_EQ(m->model->type, XML_CTYPE_SEQ);
    ASSERT_EQ(m->model->numchildren, 2u);
    EXPECT_STREQ(m->model->children[1].name, "lines");
    EXPECT_EQ(m->model->children[1].quant, XML_CQUANT_REP);
}

TEST_F(ParserTest, HashChainsEveryElementOfANameInDocumentOrder) {
    parser = parse_text(kOrders);
    ASSERT_NE(parser, nullptr);
    ASSERT_NE(parser->elements, nullptr);
    std::vector<std::string> texts;
    for (auto* e = static_cast<ElementHashEntry*>(brelrt_hash_find(parser->elements, "item")); e;
         e = e->next) {
        EXPECT_STREQ(e->name, "item");
        ASSERT_NE(rec(e->element), nullptr);
        EXPECT_EQ(rec(e->element)->hash_entry, e);
        texts.push_back(text_of(e->element));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"X1", "Y2", "Z3", "W"}));
    // Clearing the hash unhooks the elements; freeing the tree afterwards is safe.
    brelrt_hash_clear(parser->elements);
    EXPECT_EQ(rec(child_named(parser->root, "ord_rec"))->hash_entry, nullptr);
}

TEST_F(ParserTest, FreeingARecordBeforeClearingTheHashLeavesNoDanglingElement) {
    parser = parse_text(kOrders);
    ASSERT_NE(parser, nullptr);
    xml_free_element(child_named(parser->root, "ord_rec"));
    auto* e = static_cast<ElementHashEntry*>(brelrt_hash_find(parser->elements, "ord_no"));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->element, nullptr);
}

TEST_F(ParserTest, WithoutTheHashFlagThereIsNoHash) {
    parser = parse_text(kOrders, BXML_TAGS | BXML_CHARACTER_DATA | BXML_CASE_FOLD);
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(parser->elements, nullptr);
    EXPECT_EQ(parser->models, nullptr);
    EXPECT_EQ(parser->doctype_name, nullptr);
    EXPECT_EQ(parser->top_comments, nullptr);
    EXPECT_EQ(rec(parser->root)->hash_entry, nullptr);
    EXPECT_EQ(text_of(child_named(child_named(parser->root, "ord_rec"), "ord_no")), "A0001");
}

TEST_F(ParserTest, NamesAreNormalisedByCaseMode) {
    const char* doc = "<Ord-Rec><Ord-No>1</Ord-No></Ord-Rec>";
    const struct {
        uint32_t mode;
        const char* root;
        const char* child;
    } cases[] = {{BXML_CASE_FOLD, "ord_rec", "ord_no"},
                 {BXML_CASE_UNDERSCORE, "Ord_Rec", "Ord_No"},
                 {BXML_CASE_KEEP, "Ord-Rec", "Ord-No"}};
    for (const auto& c : cases) {
        XmlParser* p = parse_text(doc, BXML_SOPEN_FLAGS | c.mode);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(name_of(p->root), c.root);
        EXPECT_NE(brelrt_hash_find(p->elements, c.child), nullptr) << c.child;
        xml_free_parser(p);
    }
}

TEST_F(ParserTest, TextIsTrimmedAtTheEndOfItsElement) {
    parser = parse_text("<r><a>  AB  \n</a><b>\n  two\n  lines  \n</b><c>   </c>"
                        "<d><![CDATA[ x<y ]]></d><e>&lt;&amp;&gt;</e></r>");
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(text_of(child_named(parser->root, "a")), "AB");
    EXPECT_EQ(text_of(child_named(parser->root, "b")), "two\n  lines");
    EXPECT_EQ(bxml::element_text(rec(child_named(parser->root, "c"))), nullptr);
    EXPECT_EQ(text_of(child_named(parser->root, "d")), "x<y");
    EXPECT_EQ(text_of(child_named(parser->root, "e")), "<&>");
}

TEST_F(ParserTest, EachStepEndsAfterOneTag) {
    parser = parse_text("<?xml version=\"1.0\"?><a><b>1</b><c/><!-- x --></a>",
                        BXML_SOPEN_FLAGS | 1, false);
    ASSERT_NE(parser, nullptr);
    const int depths[] = {0, 1, 2, 1, 1, 1, 0};
    for (int expected : depths) {
        EXPECT_EQ(xml_parse_to_next(parser, nullptr), 0);
        EXPECT_EQ(parser->depth, expected);
    }
    EXPECT_EQ(text_of(child_named(parser->root, "b")), "1");
    EXPECT_EQ(xml_parse_to_next(parser, nullptr), 8);
    EXPECT_EQ(*brelrt_file_error(), 8);
    *brelrt_file_error() = 0;
    EXPECT_EQ(xml_parse_to_next(parser, nullptr), 8);
    EXPECT_EQ(*brelrt_file_error(), 8);
}

// ---- parse errors

TEST_F(ParserTest, UnknownEncodingFailsWithNineteen) {
    for (uint32_t flags : {BXML_SOPEN_FLAGS | 1u, BXML_TAGS | 1u}) {
        XmlParser* p = parse_text("<?xml version=\"1.0\" encoding=\"Big5\"?><a/>", flags, false);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(xml_parse_to_next(p, nullptr), 19);
        EXPECT_EQ(*brelrt_file_error(), 19);
        EXPECT_EQ(*brelrt_secondary_error(), 5);
        EXPECT_EQ(*brelrt_parse_error_code(), XML_ERROR_UNKNOWN_ENCODING);
        EXPECT_STREQ(*brelrt_error_text(), XML_ErrorString(XML_ERROR_UNKNOWN_ENCODING));
        EXPECT_EQ(p->root, nullptr);
        xml_free_parser(p);
    }
}

TEST_F(ParserTest, MalformedXmlFailsWithNineteenAgainAndAgain) {
    parser = parse_text("<a><b></a>", BXML_SOPEN_FLAGS | 1, false);
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(xml_parse_to_next(parser, nullptr), 0);
    EXPECT_EQ(xml_parse_to_next(parser, nullptr), 0);
    EXPECT_EQ(xml_parse_to_next(parser, nullptr), 19);
    EXPECT_EQ(*brelrt_parse_error_code(), XML_ERROR_TAG_MISMATCH);
    EXPECT_STREQ(*brelrt_error_text(), XML_ErrorString(XML_ERROR_TAG_MISMATCH));
    EXPECT_LE(std::strlen(*brelrt_error_text()), 512u);
    *brelrt_file_error() = 0;
    EXPECT_EQ(xml_parse_to_next(parser, nullptr), 19);
    EXPECT_EQ(xml_parse_to_end(parser, nullptr), 19);
}

TEST_F(ParserTest, ADocumentCutOffInsideItsRootIsAParseErrorNotTheEnd) {
    parser = parse_text("<r><a>1</a><a>2", BXML_SOPEN_FLAGS | 1, false);
    ASSERT_NE(parser, nullptr);
    int result = 0;
    while (result == 0)
        result = xml_parse_to_next(parser, nullptr);
    EXPECT_EQ(result, 19);
    EXPECT_EQ(*brelrt_secondary_error(), 5);
    EXPECT_NE(*brelrt_parse_error_code(), 0);
    *brelrt_file_error() = 0;
    EXPECT_EQ(xml_parse_to_next(parser, nullptr), 19);

    XmlParser* whole = parse_text("<r><a>", BXML_SOPEN_FLAGS | 1, false);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(xml_parse_to_end(whole, nullptr), 19);
    xml_free_parser(whole);
}

TEST_F(ParserTest, ADocumentWithoutAnyElementEndsWithEndOfFile) {
    for (const char* text : {"", "<?xml version=\"1.0\"?>\n", "<!-- nothing -->"}) {
        XmlParser* p = parse_text(text, BXML_SOPEN_FLAGS | 1, false);
        ASSERT_NE(p, nullptr);
        int result = 0;
        for (int k = 0; k < 5 && result == 0; ++k)
            result = xml_parse_to_next(p, nullptr);
        EXPECT_EQ(result, 8) << text;
        EXPECT_EQ(*brelrt_file_error(), 8);
        EXPECT_EQ(p->root, nullptr);
        xml_free_parser(p);
    }
}

TEST_F(ParserTest, ParseToEndReportsErrorsToo) {
    parser = parse_text("<a>&undefined;</a>", BXML_SOPEN_FLAGS | 1, false);
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(xml_parse_to_end(parser, nullptr), 19);
    EXPECT_EQ(*brelrt_parse_error_code(), XML_ERROR_UNDEFINED_ENTITY);
}

// ---- size and depth

TEST_F(ParserTest, ReadsALargeFileStepByStepRecordByRecord) {
    FILE* f = brelrt_fopen(DataPath("/xml/orders_large.xml").c_str(), "r", 0);
    ASSERT_NE(f, nullptr);
    parser = xml_create_parser(BXML_SOPEN_FLAGS | BXML_CASE_FOLD);
    ASSERT_NE(parser, nullptr);
    int result = 0;
    while (result == 0 && parser->depth == 0)
        result = xml_parse_to_next(parser, f);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(name_of(parser->root), "orders");

    int records = 0;
    for (;;) {
        int before = parser->depth;
        while (result == 0 && parser->depth == 1)
            result = xml_parse_to_next(parser, f);
        if (result != 0 || parser->depth == 0)
            break;
        while (result == 0 && parser->depth > 1) {
            before = parser->depth;
            result = xml_parse_to_next(parser, f);
            EXPECT_LE(std::abs(parser->depth - before), 1);
            EXPECT_LE(parser->next, parser->end);
        }
        ASSERT_EQ(result, 0);
        ++records;
        BrelrtHandle record = child_named(parser->root, "ord_rec");
        ASSERT_NE(record, nullptr);
        char no[16];
        std::snprintf(no, sizeof no, "A%04d", records);
        EXPECT_EQ(text_of(child_named(record, "ord_no")), no);
        std::string note = text_of(child_named(record, "note"));
        EXPECT_EQ(note.rfind("note " + std::to_string(records), 0), 0u) << note;
        EXPECT_EQ(note.size(), records % 7 == 0 ? 40 * (6 + std::to_string(records).size()) - 1
                                                : 5 + std::to_string(records).size());
        size_t count = records % 3 + 1;
        ASSERT_EQ(children_of(record).size(), 2 + count);
        for (size_t j = 0; j < count; ++j) {
            BrelrtHandle lines = child_named(record, "lines", j);
            EXPECT_EQ(numbers_of(lines), count > 1 ? V{static_cast<int>(j + 1)} : V{});
            EXPECT_EQ(text_of(child_named(lines, "item")),
                      "I" + std::to_string(records) + "-" + std::to_string(j + 1));
        }
        // As the reader does: forget the record, keep only the root.
        brelrt_hash_clear(parser->elements);
        xml_free_element(record);
        parser->current = parser->root;
        EXPECT_TRUE(children_of(parser->root).empty());
    }
    EXPECT_EQ(records, 400);
    EXPECT_EQ(parser->depth, 0);
    EXPECT_EQ(xml_parse_to_next(parser, f), 8);
    brelrt_fclose(f);
}

TEST_F(ParserTest, NestingOfRepetitionsDeeperThanTheVectorStillParses) {
    // Each level holds two n, the second the next level: 30 levels.
    std::string doc = "<r>";
    for (int k = 0; k < 30; ++k)
        doc += "<n/><n>";
    doc += "<leaf>x</leaf>";
    for (int k = 0; k < 30; ++k)
        doc += "</n>";
    doc += "</r>";
    parser = parse_text(doc);
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(*brelrt_file_error(), 8);
    BrelrtHandle level = parser->root;
    for (int k = 0; k < 30; ++k) {
        level = child_named(level, "n", 1);
        ASSERT_NE(level, nullptr);
        EXPECT_EQ(rec(level)->last_position, std::min(k, BXML_INDEX_PLACES - 1));
        ASSERT_NE(rec(level)->hash_entry, nullptr);
        EXPECT_EQ(rec(level)->hash_entry->element, level);
    }
    BrelrtHandle leaf = child_named(level, "leaf");
    EXPECT_EQ(numbers_of(leaf), V(BXML_INDEX_PLACES, 2));
    EXPECT_EQ(text_of(leaf), "x");
    ASSERT_NE(rec(leaf)->hash_entry, nullptr);
    EXPECT_EQ(rec(leaf)->hash_entry->element, leaf);
}

std::string nested(int levels) {
    std::string doc;
    for (int k = 0; k < levels; ++k)
        doc += "<d>";
    for (int k = 0; k < levels; ++k)
        doc += "</d>";
    return doc;
}

std::string declarations(int count) {
    std::string doc = "<!DOCTYPE r [\n";
    for (int k = 0; k < count; ++k)
        doc += "<!ELEMENT e" + std::to_string(k) + " (#PCDATA)>\n";
    return doc + "]><r/>";
}

// What a record file never needs is refused with 19 and a reason, stepping
// or parsing to the end; what stays within the limits parses.
TEST_F(ParserTest, HostileDocumentsAreRefusedAtTheLimits) {
    const std::string big(BXML_RUN_MAX + 1, 'x');
    const std::string third(BXML_OPEN_NAMES_MAX / 3 + 1, 'n');
    const struct {
        std::string doc;
        const char* reason; // null: parses
    } cases[] = {
        {nested(BXML_DEPTH_MAX), nullptr},
        {nested(BXML_DEPTH_MAX + 1), "element nesting deeper than 1024 levels"},
        {nested(1000000), "element nesting deeper than 1024 levels"},
        {declarations(BXML_DECLARATIONS_MAX), nullptr},
        {declarations(BXML_DECLARATIONS_MAX + 1), "more than 10000 declarations"},
        {"<r a=\"" + big + "\"/>", "more than 1 MB without a \">\""},
        {"<r><!--" + big + "--></r>", "more than 1 MB without a \">\""},
        {"<r" + big + "/>", "more than 1 MB without a \">\""},
        // The text and the end tag up to its ">" just fit.
        {"<r><a>" + big.substr(4) + "</a></r>", nullptr},
        // expat keeps the name of every open element: long names are fine
        // side by side, not nested past 1 MB in all.
        {"<r><" + third + "/><" + third + "/><" + third + "/><" + third + "/></r>", nullptr},
        {"<" + third + "><" + third + "><" + third + "/></" + third + "></" + third + ">",
         "names of open elements longer than 1 MB in all"},
    };
    for (const auto& c : cases) {
        for (bool whole : {false, true}) {
            *brelrt_file_error() = 0;
            std::string trace = with_trace(1, [&] {
                XmlParser* p = parse_text(c.doc, BXML_SOPEN_FLAGS | 1, whole);
                ASSERT_NE(p, nullptr);
                int result = whole ? *brelrt_file_error() : 0;
                while (result == 0)
                    result = xml_parse_to_next(p, nullptr);
                EXPECT_EQ(result, c.reason ? 19 : 8) << c.doc.substr(0, 40) << whole;
                if (c.reason) {
                    EXPECT_STREQ(*brelrt_error_text(), c.reason);
                    EXPECT_EQ(*brelrt_secondary_error(), 5);
                    EXPECT_EQ(*brelrt_parse_error_code(), XML_ERROR_ABORTED);
                    *brelrt_file_error() = 0;
                    EXPECT_EQ(xml_parse_to_next(p, nullptr), 19); // for good
                }
                xml_free_parser(p);
            });
            if (c.reason) {
                EXPECT_NE(trace.find(std::string("Document refused: ") + c.reason),
                          std::string::npos)
                    << trace.substr(0, 200);
            }
        }
    }
}

// After the root only comments, processing instructions and white space
// may follow: reading record by record goes on to the end of the document,
// and a second root is malformed, never the end.
TEST_F(ParserTest, RecordByRecordTheRootEndsTheDocument) {
    const struct {
        const char* doc;
        std::vector<int> results; // of each xml_parse_record
    } cases[] = {
        {"<r><a/><a>1</a></r>\n<!-- c --><?p i?>\n", {0, 0, 8, 8}},
        {"<r><a/></r><r><a/></r>", {0, 19, 19}},
        {"<r/><r/>", {19, 19}},
        {"<r/>\n", {8}},
    };
    for (const auto& c : cases) {
        XmlParser* p = parse_text(c.doc, BXML_SOPEN_FLAGS | BXML_CASE_FOLD, false);
        ASSERT_NE(p, nullptr);
        while (!p->root && xml_parse_to_next(p, nullptr) == 0) {
        }
        std::vector<int> results;
        for (size_t k = 0; k < c.results.size(); ++k) {
            results.push_back(xml_parse_record(p, nullptr));
            xml_parser_drop_record(p);
        }
        EXPECT_EQ(results, c.results) << c.doc;
        if (c.results.back() == 19) {
            EXPECT_EQ(*brelrt_parse_error_code(), XML_ERROR_JUNK_AFTER_DOC_ELEMENT);
        }
        xml_free_parser(p);
    }
}

// Records read one after another reuse the elements, hash entries, texts
// and list nodes of the records before: once a record was read, the next
// of its size allocates nothing, however many elements it has; and names
// longer than most make the pool no larger record after record.
TEST_F(ParserTest, RecordsReuseWhatEarlierRecordsAllocated) {
    const std::string long_name = "a_name_longer_than_the_room_of_a_hash_entry";
    const struct {
        std::string record;
        bool allocates; // the element's own name text grows once per element
    } cases[] = {
        {"<rec>" + std::string(5000 * 8, ' ') + "</rec>", false},
        {"<rec><b>2</b><" + long_name + ">x</" + long_name + "><c/></rec>", true},
    };
    for (const auto& c : cases) {
        std::string record = c.record;
        for (size_t at = 0; (at = record.find("        ", at)) != std::string::npos;)
            record.replace(at, 8, "<a>1</a>");
        std::string doc = "<r>";
        for (int k = 0; k < 5; ++k)
            doc += record;
        XmlParser* p = parse_text(doc + "</r>", BXML_SOPEN_FLAGS | BXML_CASE_FOLD, false);
        ASSERT_NE(p, nullptr);
        while (!p->root && xml_parse_to_next(p, nullptr) == 0) {
        }
        // Two records, so that the pool's elements have met every name
        // and text of the record.
        for (int k = 1; k <= 2; ++k) {
            ASSERT_EQ(xml_parse_record(p, nullptr), 0);
            xml_parser_drop_record(p);
        }
        size_t children = 0;
        size_t blocks = brelrt_mem_outstanding();
        for (int k = 3; k <= 5; ++k) {
            brelrt_mem_fail_nth(c.allocates ? 0 : 1);
            EXPECT_EQ(xml_parse_record(p, nullptr), 0) << "record " << k;
            brelrt_mem_fail_nth(0);
            size_t now = children_of(child_named(p->root, "rec")).size();
            EXPECT_EQ(now, children ? children : now);
            children = now;
            xml_parser_drop_record(p);
            EXPECT_EQ(brelrt_mem_outstanding(), blocks) << "record " << k;
        }
        xml_free_parser(p);
    }
}

// ---- memory shortage

// Parses step by step as the reader does; returns the last result.
int parse_steps(XmlParser* p) {
    int result = 0;
    while (result == 0)
        result = xml_parse_to_next(p, nullptr);
    return result;
}

size_t count_elements(BrelrtHandle e) {
    size_t n = e ? 1 : 0;
    for (BrelrtHandle c : children_of(e))
        n += count_elements(c);
    return n;
}

TEST_F(ParserTest, MemoryShortageAtAnyAllocationIsReportedAndLeavesNoLeak) {
    const size_t elements = 10;
    bool succeeded = false;
    long n = 1;
    for (; n < 100000 && !succeeded; ++n) {
        *brelrt_file_error() = 0;
        brelrt_mem_fail_nth(n);
        XmlParser* p = xml_create_parser(BXML_SOPEN_FLAGS | BXML_CASE_FOLD | BXML_COMMENTS |
                                         BXML_PROCESSING | BXML_CDATA | BXML_DEFAULT);
        if (!p) {
            brelrt_mem_fail_nth(0);
            EXPECT_EQ(*brelrt_file_error(), 14) << "allocation " << n;
            ASSERT_EQ(brelrt_mem_outstanding(), 0u) << "allocation " << n;
            continue;
        }
        xml_parser_set_input(p, kOrders, std::strlen(kOrders));
        int result = parse_steps(p);
        brelrt_mem_fail_nth(0);
        if (result == 8) {
            succeeded = true;
            EXPECT_EQ(count_elements(p->root), elements) << "allocation " << n;
            EXPECT_EQ(text_of(child_named(child_named(p->root, "ord_rec"), "ord_no")), "A0001");
        } else {
            EXPECT_EQ(result, 14) << "allocation " << n;
            EXPECT_EQ(*brelrt_file_error(), 14) << "allocation " << n;
            // Stopped for good: a further step reports the same.
            *brelrt_file_error() = 0;
            EXPECT_EQ(xml_parse_to_next(p, nullptr), 14);
        }
        xml_free_parser(p);
        ASSERT_EQ(brelrt_mem_outstanding(), 0u) << "allocation " << n;
        ASSERT_EQ(brelrt_mem_bad_frees(), 0u) << "allocation " << n;
    }
    EXPECT_TRUE(succeeded);
    EXPECT_GT(n, 40); // the parser, expat's own blocks, every element, text and entry
}

// ---- trace

TEST_F(ParserTest, TraceFollowsTheConventionAndNeverFormatsDocumentText) {
    std::string long_text(3000, 'x');
    std::string doc =
        "<?pi %s%n?><r k=\"%s%n%x\"><!--%n%s--><a>%s%s%n" + long_text + "</a><![CDATA[%d]]></r>";
    std::string trace = with_trace(10, [&] {
        XmlParser* p = parse_text(doc, BXML_SOPEN_FLAGS | BXML_CASE_KEEP | BXML_COMMENTS |
                                           BXML_PROCESSING | BXML_CDATA);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(*brelrt_file_error(), 8);
        EXPECT_EQ(text_of(child_named(p->root, "a")).substr(0, 6), "%s%s%n");
        xml_free_parser(p);
    });
    EXPECT_NE(trace.find("Create parser"), std::string::npos);
    EXPECT_NE(trace.find("Leaving, parser created"), std::string::npos);
    EXPECT_NE(trace.find("Parsing to end of file"), std::string::npos);
    EXPECT_NE(trace.find("start_element: 'r' with attributes"), std::string::npos);
    EXPECT_NE(trace.find(" 'k': '%s%n%x'"), std::string::npos);
    EXPECT_NE(trace.find("start_element: 'a' without attributes"), std::string::npos);
    EXPECT_NE(trace.find("end_element: 'a'"), std::string::npos);
    EXPECT_NE(trace.find("char data of length"), std::string::npos);
    EXPECT_NE(trace.find("comments:"), std::string::npos);
    EXPECT_NE(trace.find("Adding element a to the hash"), std::string::npos);
    EXPECT_NE(trace.find("Leaving, EOF"), std::string::npos);
    std::istringstream lines(trace);
    std::string line;
    size_t count = 0;
    while (std::getline(lines, line)) {
        ++count;
        EXPECT_LT(line.size(), 512u + 64u) << line.substr(0, 80);
    }
    EXPECT_GT(count, 20u);
}

TEST_F(ParserTest, NothingIsTracedAtLevelZero) {
    std::string trace = with_trace(0, [&] {
        XmlParser* p = parse_text(kOrders);
        ASSERT_NE(p, nullptr);
        xml_free_parser(p);
    });
    EXPECT_EQ(trace, "");
}

} // namespace
