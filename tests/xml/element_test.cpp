// The element tree on its own: occurrence numbering, text, freeing.
#include "xml_helpers.h"

#include <cstdlib>
#include <string>

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
