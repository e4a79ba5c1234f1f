// The element tree on its own: occurrence numbering, text, freeing.
#include "xml_helpers.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>

using namespace xmltest;

namespace {

class ElementTest : public XmlTest {
protected:
    BrelrtHandle make(const char* name, BrelrtHandle parent, BrelrtHandle before = nullptr) {
        BrelrtHandle h = xml_create_element(name, -1, parent, before);
        EXPECT_NE(h, nullptr);
        return h;
    }
};

using V = std::vector<int>;

TEST_F(ElementTest, RepeatedNamesAreNumberedInDocumentOrder) {
    BrelrtHandle record = make("ord_rec", nullptr);
    BrelrtHandle no = make("ord_no", record);
    BrelrtHandle l1 = make("lines", record);
    EXPECT_EQ(numbers_of(l1), V{}); // alone, no number yet
    BrelrtHandle l2 = make("lines", record);
    EXPECT_EQ(numbers_of(l1), V{1});
    EXPECT_EQ(numbers_of(l2), V{2});
    BrelrtHandle l3 = make("lines", record);
    EXPECT_EQ(numbers_of(l3), V{3});
    EXPECT_EQ(numbers_of(no), V{});
    EXPECT_EQ(rec(l1)->last_position, 0);
    EXPECT_EQ(rec(no)->last_position, -1);

    BrelrtHandle i1 = make("item", l2);
    EXPECT_EQ(numbers_of(i1), V{2});
    BrelrtHandle i2 = make("item", l2);
    EXPECT_EQ(numbers_of(i1), (V{2, 1}));
    EXPECT_EQ(numbers_of(i2), (V{2, 2}));
    xml_free_element(record);
}

TEST_F(ElementTest, NumberingTheFirstOccurrenceRenumbersItsWholeSubtree) {
    // <r><g><t/><t><u/><u/></t></g><g/></r>: when the second g comes, every
    // element below the first g gets g's number in front of its own.
    BrelrtHandle r = make("r", nullptr);
    BrelrtHandle g1 = make("g", r);
    BrelrtHandle t1 = make("t", g1);
    BrelrtHandle t2 = make("t", g1);
    BrelrtHandle u1 = make("u", t2);
    BrelrtHandle u2 = make("u", t2);
    BrelrtHandle plain = make("plain", t1);
    EXPECT_EQ(numbers_of(u1), (V{2, 1}));
    EXPECT_EQ(numbers_of(plain), V{1});
    make("g", r);
    EXPECT_EQ(numbers_of(g1), V{1});
    EXPECT_EQ(numbers_of(t1), (V{1, 1}));
    EXPECT_EQ(numbers_of(t2), (V{1, 2}));
    EXPECT_EQ(numbers_of(plain), (V{1, 1}));
    // Two levels below: g's number goes in after the parent's numbers, not
    // in front of the last one.
    EXPECT_EQ(numbers_of(u1), (V{1, 2, 1}));
    EXPECT_EQ(numbers_of(u2), (V{1, 2, 2}));
    xml_free_element(r);
}

TEST_F(ElementTest, InsertBeforePlacesTheNodeAndStillCountsOccurrences) {
    BrelrtHandle r = make("r", nullptr);
    BrelrtHandle a = make("a", r);
    BrelrtHandle b = make("a", r, a);
    ASSERT_EQ(children_of(r), (std::vector<BrelrtHandle>{b, a}));
    EXPECT_EQ(numbers_of(a), V{1});
    EXPECT_EQ(numbers_of(b), V{2});
    // A sibling of another parent is no place to insert.
    BrelrtHandle other = make("other", nullptr);
    EXPECT_EQ(xml_create_element("x", -1, other, a), nullptr);
    xml_free_element(other);
    xml_free_element(r);
}

// The count and first child kept per name must give what a walk over the
// children gives, through insertions anywhere and frees of any child.
TEST_F(ElementTest, SiblingCountsFollowInsertionsAndFrees) {
    BrelrtHandle r = make("r", nullptr);
    std::srand(7);
    for (int step = 0; step < 3000; ++step) {
        std::vector<BrelrtHandle> kids = children_of(r);
        if (!kids.empty() && std::rand() % 3 == 0) {
            xml_free_element(kids[static_cast<size_t>(std::rand()) % kids.size()]);
            continue;
        }
        std::string name = "n" + std::to_string(std::rand() % 40);
        BrelrtHandle before = !kids.empty() && std::rand() % 4 == 0
                                  ? kids[static_cast<size_t>(std::rand()) % kids.size()]
                                  : nullptr;
        int same = 0;
        BrelrtHandle first = nullptr;
        for (BrelrtHandle k : kids)
            if (name_of(k) == name && same++ == 0)
                first = k;
        bool first_unnumbered = first && numbers_of(first).empty();
        BrelrtHandle e = make(name.c_str(), r, before);
        ASSERT_EQ(numbers_of(e), same ? V{same + 1} : V{}) << "step " << step;
        if (first_unnumbered) {
            ASSERT_EQ(numbers_of(first), V{1}) << "step " << step;
        }
    }
    xml_free_element(r);
}

TEST_F(ElementTest, RepetitionsDeeperThanTheVectorAreNotNumbered) {
    // 30 levels, each with two children of one name, the second holding the
    // next level: from the 21st level on there is no place left.
    BrelrtHandle r = make("r", nullptr);
    BrelrtHandle g1 = make("g", r);
    BrelrtHandle level = g1;
    std::vector<BrelrtHandle> firsts;
    for (int k = 0; k < 30; ++k) {
        firsts.push_back(make("n", level));
        level = make("n", level);
        EXPECT_EQ(rec(level)->hash_entry, nullptr);
    }
    BrelrtHandle leaf = make("leaf", level);
    EXPECT_EQ(rec(leaf)->last_position, BXML_INDEX_PLACES - 1);
    EXPECT_EQ(numbers_of(leaf), V(BXML_INDEX_PLACES, 2));
    EXPECT_EQ(rec(leaf)->hash_entry, nullptr);
    // A second g numbers the whole deep subtree of the first: the outer
    // number goes in, the innermost one drops off, nothing is written past
    // the vector (the word after it is the hash entry).
    make("g", r);
    EXPECT_EQ(numbers_of(firsts[0]), (V{1, 1}));
    V expected(BXML_INDEX_PLACES, 2);
    expected[0] = 1;
    EXPECT_EQ(numbers_of(leaf), expected);
    EXPECT_EQ(numbers_of(level), expected);
    EXPECT_EQ(rec(leaf)->hash_entry, nullptr);
    EXPECT_EQ(rec(level)->hash_entry, nullptr);
    xml_free_element(r);
}

TEST_F(ElementTest, FreeingUnlinksFromTheParentAndFreesTheSubtree) {
    BrelrtHandle r = make("r", nullptr);
    BrelrtHandle a = make("a", r);
    make("b", a);
    xml_element_add_attribute(a, "k", "v", 1);
    xml_element_append_text(a, "text", 4);
    xml_element_append_comments(a, "c", 1);
    BrelrtHandle c = make("c", r);
    EXPECT_EQ(xml_free_element(a), 1);
    EXPECT_EQ(children_of(r), std::vector<BrelrtHandle>{c});
    EXPECT_EQ(xml_free_element(a), 0);
    EXPECT_EQ(rec(a), nullptr);
    xml_free_element(r);
}

TEST_F(ElementTest, AVeryDeepTreeIsFreedWithoutRecursion) {
    BrelrtHandle r = make("r", nullptr);
    BrelrtHandle level = r;
    for (int k = 0; k < 100000; ++k) {
        level = xml_create_element("d", -1, level, nullptr);
        ASSERT_NE(level, nullptr);
    }
    EXPECT_EQ(xml_free_element(r), 1);
}

TEST_F(ElementTest, TrailingDoubleByteBlanksAreCutOnlyWhileDoubleByteTextIsActive) {
    const std::string blank = "\x81\x40";
    std::string s = "AB" + blank + " " + blank;
    EXPECT_EQ(xml_trimmed_length(s.data(), s.size()), s.size()); // "@" is text
    setenv("BRELRT_DOUBLE_BYTE", "yes", 1);
    EXPECT_EQ(xml_trimmed_length(s.data(), s.size()), 2u);
    // Another pair is text, even when its trail byte is a blank's.
    std::string kanji = "A\x82\x40";
    EXPECT_EQ(xml_trimmed_length(kanji.data(), kanji.size()), 3u);
    // A trail byte that looks like ASCII belongs to its lead byte.
    std::string pair = "\x83\x40\x81\x40 ";
    EXPECT_EQ(xml_trimmed_length(pair.data(), pair.size()), 2u);
    // A lead byte without its trail is text on its own.
    std::string lone = "A\x81 ";
    EXPECT_EQ(xml_trimmed_length(lone.data(), lone.size()), 2u);
    unsetenv("BRELRT_DOUBLE_BYTE");
}

TEST_F(ElementTest, EveryAllocationFailureLeavesNothingBehind) {
    for (long n = 1;; ++n) {
        brelrt_mem_fail_nth(n);
        BrelrtHandle r = xml_create_element("r", -1, nullptr, nullptr);
        BrelrtHandle a = r ? xml_create_element("a", -1, r, nullptr) : nullptr;
        BrelrtHandle b = a ? xml_create_element("a", -1, r, nullptr) : nullptr;
        bool attr = b && xml_element_add_attribute(b, "k", "value", 5);
        bool text = attr && xml_element_append_text(b, "x", 1);
        brelrt_mem_fail_nth(0);
        if (text) {
            EXPECT_EQ(numbers_of(a), V{1});
            EXPECT_EQ(numbers_of(b), V{2});
        } else if (a && !b) {
            EXPECT_EQ(children_of(r).size(), 1u);
            EXPECT_EQ(numbers_of(a), V{}); // not renumbered by a failed sibling
        }
        xml_free_element(r);
        ASSERT_EQ(brelrt_mem_outstanding(), 0u) << "after failing allocation " << n;
        if (text)
            break;
    }
}

} // namespace

// ---- storage

std::string written(void* element) {
    char* data = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&data, &size);
    bxml_write_element(f, element, 0);
    std::fclose(f);
    std::string s(data, size);
    std::free(data);
    return s;
}

// Names, texts, attributes and comments each pass from the element's own
// bytes into blocks of their own and are edited in every way, also with
// their own bytes as the source. Whichever allocation fails, the operation
// fails whole, leaving the tree as it was, and nothing is left behind.
TEST_F(ElementTest, StorageGrowsAndEditsInPlaceOrInBlocksAndFailsWhole) {
    const std::string long_name(40, 'n');
    const std::string digits = "0123456789";
    void* r = nullptr;
    void *a = nullptr, *b = nullptr, *l = nullptr, *s = nullptr;
    const std::vector<std::function<bool()>> script = {
        [&] { return (a = bxml_add_child(r, "a")) != nullptr; },
        [&] { return (l = bxml_add_child(r, long_name.c_str())) != nullptr; },
        [&] { return (b = bxml_add_child(r, "a")) != nullptr; },
        [&] { return bxml_append_text(a, digits.c_str(), 10) == 1; },
        [&] { return bxml_append_text(a, digits.c_str(), 10) == 1; },
        [&] { return bxml_append_text(a, digits.c_str(), 10) == 1; }, // past its own bytes
        [&] { return bxml_append_text(a, digits.c_str(), 10) == 1; },
        [&] { return bxml_append_text(a, bxml_element_text(a), -1) == 1; }, // its block grows
        [&] { return bxml_replace_text(a, "XY", 2, 3, 7) == 1; },           // in place
        [&] { return bxml_replace_text(a, bxml_element_text(a), 5, 1, 40) == 1; },
        [&] { return bxml_append_text(l, " t", -1) == 1; },
        [&] { return bxml_append_text(l, (digits + digits + digits).c_str(), -1) == 1; },
        [&] { return bxml_replace_text(b, "", 0, 0, 0) == 1; }, // an empty text
        [&] { return bxml_add_attribute(l, "k0", "v0", -1) == 1; },
        [&] { return bxml_add_attribute(l, "k1", "v1", -1) == 2; },
        [&] { return bxml_add_attribute(l, "k2", "v2", -1) == 3; },
        [&] { return bxml_add_attribute(l, "k3", "v3", -1) == 4; },
        [&] { return bxml_add_attribute(l, "k4", "v4", -1) == 5; },
        [&] { return bxml_set_attribute_value(l, 2, "two<", -1) == 1; },
        [&] { return bxml_delete_attribute(l, 1) == 1; },
        [&] { return bxml_append_comment(a, "first comment, 24 bytes ") == 1; },
        [&] { return bxml_append_comment(a, "second comment, 25 bytes ") == 1; },
        [&] { return bxml_append_comment(a, "third") == 1; },
        [&] { return (s = bxml_add_sibling(a, "s")) != nullptr; },
        [&] { return bxml_append_text(s, digits.c_str(), 10) == 1; },
        // In place, the old text's tail moving over the bytes given.
        [&] { return bxml_replace_text(s, bxml_element_text(s) + 5, 5, 0, 2) == 1; },
        [&] { return bxml_create_element(r, "a", a) != nullptr; }, // before the first a
        [&] { return bxml_free_element(b) == 1; },
        [&] { return bxml_add_child(r, "a") != nullptr; },
    };
    const std::string expected =
        "<r>\n"
        "  <a/>\n"
        "  <!-- first comment, 24 bytes second comment, 25 bytes third -->\n"
        "  <a>0012XY23456789012345678901234567890123456789</a>\n"
        "  <s>5678923456789</s>\n"
        "  <" +
        long_name +
        "\n"
        "       k0=\"v0\"\n"
        "       k2=\"two&lt;\"\n"
        "       k3=\"v3\"\n"
        "       k4=\"v4\">t012345678901234567890123456789</" +
        long_name +
        ">\n"
        "  <a/>\n"
        "</r>\n";
    for (long n = 1;; ++n) {
        brelrt_mem_fail_nth(n);
        r = bxml_create_element(nullptr, "r", nullptr);
        size_t done = 0;
        for (; r && done < script.size(); ++done) {
            std::string before = written(r);
            if (!script[done]()) {
                EXPECT_EQ(written(r), before) << "step " << done << ", failing allocation " << n;
                break;
            }
        }
        brelrt_mem_fail_nth(0);
        bool whole = r && done == script.size();
        if (whole) {
            EXPECT_EQ(written(r), expected);
            std::vector<BrelrtHandle> kids = children_of(r);
            ASSERT_EQ(kids.size(), 5u);
            // Numbered in the order made: the one made before the first a
            // is the third, and so is the last, made when one was freed.
            EXPECT_EQ(numbers_of(kids[0]), V{3});
            EXPECT_EQ(numbers_of(kids[1]), V{1});
            EXPECT_EQ(numbers_of(kids[4]), V{3});
            EXPECT_EQ(bxml_previous_sibling(kids[0]), nullptr);
            EXPECT_EQ(bxml_previous_sibling(kids[4]), kids[3]);
            EXPECT_EQ(bxml_next_sibling(kids[4]), nullptr);
        }
        bxml_free_element(r);
        ASSERT_EQ(brelrt_mem_outstanding(), 0u) << "after failing allocation " << n;
        if (whole)
            break;
    }
}

// A short name and text take no block of their own: an element is one
// block; a long name and a long text take one more each.
TEST_F(ElementTest, ShortNamesAndTextsLiveInTheElementsOwnBlock) {
    BrelrtHandle r = make("r", nullptr);
    make("first", r);
    const std::string long_name(40, 'n'), long_text(40, 't');
    for (auto [name, text, blocks] :
         {std::tuple{std::string("c"), std::string("12345"), 1u},
          std::tuple{long_name, std::string("12345"), 2u},
          std::tuple{std::string("c"), long_text, 2u}, std::tuple{long_name, long_text, 3u}}) {
        size_t before = brelrt_mem_outstanding();
        for (int k = 0; k < 100; ++k)
            ASSERT_EQ(xml_element_append_text(make(name.c_str(), r), text.data(), text.size()), 1);
        EXPECT_EQ(brelrt_mem_outstanding() - before, 100 * blocks) << name << " " << text;
    }
    xml_free_element(r);
}

// Records read one after another reuse the elements of the one before,
// whatever names and texts they held: names and texts longer than the
// element's own bytes, a record of more elements than the pool keeps, and
// texts that shrink and grow again.
TEST_F(ElementTest, RecordsReuseElementsOfAnyShape) {
    const std::string long_name(40, 'n');
    auto text_of_length = [](size_t n, int k) {
        std::string t = std::to_string(k) + ":";
        while (t.size() < n)
            t += static_cast<char>('a' + t.size() % 26);
        return t;
    };
    const int records = 300;
    const int big = 150; // this record has more children than the pool keeps
    std::string doc = "<r>\n";
    std::vector<std::string> expected;
    for (int k = 0; k < records; ++k) {
        std::string xml = "<rec>", out = "<rec>\n";
        auto add = [&](const std::string& name, const std::string& text) {
            xml += "<" + name + ">" + text + "</" + name + ">";
            out += "  <" + name + (text.empty() ? "/>\n" : ">" + text + "</" + name + ">\n");
        };
        if (k == big) {
            for (int c = 0; c < 5000; ++c)
                add("c", std::to_string(c));
        } else if (k % 3 == 0) {
            add("a", text_of_length(5, k));
            add(long_name, text_of_length(60, k));
            add("b", "");
        } else if (k % 3 == 1) {
            add(long_name, text_of_length(3, k));
            add("a", text_of_length(70, k));
            add("c", text_of_length(29, k));
            add("a_name_of_twenty_xyz", text_of_length(11, k));
        } else {
            add("a", text_of_length(200, k));
        }
        doc += xml + "</rec>\n";
        expected.push_back(out + "</rec>\n");
    }
    doc += "</r>\n";
    XmlParser* p = parse_text(doc, BXML_SOPEN_FLAGS | BXML_CASE_FOLD, false);
    ASSERT_NE(p, nullptr);
    while (!p->root)
        ASSERT_EQ(xml_parse_to_next(p, nullptr), 0);
    size_t blocks_before = 0;
    for (int k = 0; k < records; ++k) {
        ASSERT_EQ(xml_parse_record(p, nullptr), 0) << k << *brelrt_error_text();
        XmlElement* rec_element = rec(p->root)->first_child;
        ASSERT_NE(rec_element, nullptr);
        ASSERT_EQ(written(rec_element->self), expected[static_cast<size_t>(k)]) << k;
        // The hash holds this record's elements only.
        size_t chained = 0;
        for (auto* e = static_cast<ElementHashEntry*>(brelrt_hash_find(p->elements, "a")); e;
             e = e->next, ++chained)
            ASSERT_EQ(e->record->up, rec_element) << k;
        ASSERT_EQ(chained, k == big ? 0u : 1u) << k;
        xml_parser_drop_record(p);
        if (k == records - 7)
            blocks_before = brelrt_mem_outstanding();
    }
    // Past the big record, reading costs no more blocks record after record.
    EXPECT_EQ(brelrt_mem_outstanding(), blocks_before);
    EXPECT_EQ(xml_parse_record(p, nullptr), 8);
    xml_free_parser(p);
}
