// Host services: trace, error words, configuration, tracked memory,
// containers, handles, double-byte tests and name conversion.
#include "host_fixture.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

#define HERE "tests/host/services", __LINE__

class TraceTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        file_ = std::make_unique<EnvVar>("BRELRT_TRACE_FILE", dir_.file("trace.log").c_str());
        level_ = std::make_unique<EnvVar>("BRELRT_TRACE", "3");
        brelrt_trace_reset();
    }
    void TearDown() override {
        brelrt_trace_reset();
        level_.reset();
        file_.reset();
        brelrt_trace_reset();
        HostTest::TearDown();
    }
    std::string log() { return read_file(dir_.file("trace.log")); }

    TempDir dir_;
    std::unique_ptr<EnvVar> file_, level_;
};

TEST_F(TraceTest, LevelComesFromEnvironmentAndFiltersDetail) {
    EXPECT_EQ(*brelrt_trace_level(), 3);
    brelrt_trace(0, 3, "shown");
    brelrt_trace(0, 4, "hidden");
    *brelrt_trace_level() = 0;
    brelrt_trace(0, 1, "off");
    brelrt_trace_printf("off %d\n", 1);
    EXPECT_EQ(log(), "shown\n");
}

TEST_F(TraceTest, EntryAndLeavingLinesLineUp) {
    brelrt_trace(1, 1, "xml_sopen: 'a'");
    brelrt_trace(0, 1, "detail");
    brelrt_trace(1, 1, "inner");
    brelrt_trace(-1, 1, "Leaving, inner\n");
    brelrt_trace(-1, 1, "Leaving, success");
    brelrt_trace(-1, 1, "Leaving, unbalanced");
    brelrt_trace(0, 1, "after");
    EXPECT_EQ(log(), "xml_sopen: 'a'\n  detail\n  inner\n  Leaving, inner\nLeaving, success\n"
                     "Leaving, unbalanced\nafter\n");
}

TEST_F(TraceTest, TextIsNeverAFormatAndFormattedOutputIsBounded) {
    brelrt_trace(0, 1, "100%s %n done");
    std::string big(2000, 'x');
    brelrt_trace_printf("%s|", big.c_str());
    std::string out = log();
    EXPECT_EQ(out.substr(0, 14), "100%s %n done\n");
    EXPECT_EQ(out.size(), 14u + 511u); // the rest cut at the 512-byte buffer
}

TEST_F(TraceTest, HexDumpShowsBytesAndText) {
    const unsigned char bytes[] = {0x00, 0x9F, 0xFF, 'A', 'b'};
    brelrt_trace_hex(bytes, sizeof bytes);
    std::string out = log();
    EXPECT_NE(out.find(" 00 9F FF 41 62"), std::string::npos) << out;
    EXPECT_NE(out.find("...Ab"), std::string::npos) << out;
}

TEST_F(HostTest, ErrorWordsAndErrorTextCopyIsBounded) {
    *brelrt_file_error() = 19;
    *brelrt_secondary_error() = 5;
    *brelrt_parse_error_code() = 4;
    EXPECT_EQ(*brelrt_file_error(), 19);
    std::string longer(600, 'e');
    brelrt_set_error_text(longer.c_str());
    EXPECT_EQ(std::strlen(*brelrt_error_text()), 512u);
    brelrt_set_error_text("not well-formed (invalid token)");
    EXPECT_STREQ(*brelrt_error_text(), "not well-formed (invalid token)");
    *brelrt_file_error() = 0;
}

// ---- configuration

const BrelrtKeyword style_keywords[] = {{"DTD", 1}, {"SCHEMA", 2}, {"NONE", 0}};
const BrelrtConfigEntry test_table[] = {
    {"TSTCFG_TEXT", BRELRT_CFG_TEXT_LONG, 0, "default text", 0, 0, 0},
    {"TSTCFG_NOTEXT", BRELRT_CFG_TEXT, 0, nullptr, 0, 0, 0},
    {"TSTCFG_STYLE", BRELRT_CFG_KEYWORD, 1, style_keywords, 3, 0, 0},
    {"TSTCFG_YES", BRELRT_CFG_YES_NO, 1, nullptr, 0, 0, 0},
    {"TSTCFG_NO", BRELRT_CFG_YES_NO, 0, nullptr, 0, 0, 0},
};

class ConfigTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        ASSERT_EQ(brelrt_config_register(test_table, 5, 0), 1);
    }
    void TearDown() override {
        brelrt_config_clear();
        HostTest::TearDown();
    }
    TempDir dir_;
};

TEST_F(ConfigTest, DefaultsApplyWhenNothingIsSet) {
    EnvVar no_file("BRELRT_CONFIG", nullptr);
    EXPECT_STREQ(brelrt_config_text("TSTCFG_TEXT"), "default text");
    EXPECT_EQ(brelrt_config_text("TSTCFG_NOTEXT"), nullptr);
    EXPECT_EQ(brelrt_config_keyword("TSTCFG_STYLE"), 1);
    EXPECT_EQ(brelrt_config_yes_no("TSTCFG_YES"), 1);
    EXPECT_EQ(brelrt_config_yes_no("TSTCFG_NO"), 0);
    EXPECT_EQ(brelrt_config_number("4GL_COLUMN_CASE"), 0);
    EXPECT_EQ(brelrt_config_number("TSTCFG_UNREGISTERED"), 0);
}

TEST_F(ConfigTest, EnvironmentBeatsFileBeatsDefault) {
    write_file(dir_.file("brelrt.cfg"), "# settings\nTSTCFG_TEXT from file\r\n"
                                        "tstcfg_style schema\nTSTCFG_YES off\n4GL_COLUMN_CASE 2\n");
    EnvVar file("BRELRT_CONFIG", dir_.file("brelrt.cfg").c_str());
    EXPECT_STREQ(brelrt_config_text("TSTCFG_TEXT"), "from file");
    EXPECT_EQ(brelrt_config_keyword("TSTCFG_STYLE"), 2);
    EXPECT_EQ(brelrt_config_yes_no("TSTCFG_YES"), 0);
    EXPECT_EQ(brelrt_config_number("4GL_COLUMN_CASE"), 2);
    {
        EnvVar env("TSTCFG_TEXT", "from env");
        EnvVar style("TSTCFG_STYLE", "None");
        EXPECT_STREQ(brelrt_config_text("TSTCFG_TEXT"), "from env");
        EXPECT_EQ(brelrt_config_keyword("TSTCFG_STYLE"), 0);
    }
    // Read at the moment of use: the change shows at once.
    EXPECT_STREQ(brelrt_config_text("TSTCFG_TEXT"), "from file");
}

TEST_F(ConfigTest, YesNoWordsAndBadValuesFallBackToDefault) {
    EnvVar no_file("BRELRT_CONFIG", nullptr);
    for (const char* yes : {"yes", "TRUE", "On", "1"}) {
        EnvVar v("TSTCFG_NO", yes);
        EXPECT_EQ(brelrt_config_yes_no("TSTCFG_NO"), 1) << yes;
    }
    for (const char* no : {"no", "False", "OFF", "0"}) {
        EnvVar v("TSTCFG_YES", no);
        EXPECT_EQ(brelrt_config_yes_no("TSTCFG_YES"), 0) << no;
    }
    EnvVar bad("TSTCFG_YES", "perhaps");
    EXPECT_EQ(brelrt_config_yes_no("TSTCFG_YES"), 1);
    EnvVar unknown_kw("TSTCFG_STYLE", "XSD");
    EXPECT_EQ(brelrt_config_keyword("TSTCFG_STYLE"), 1);
    EnvVar empty("TSTCFG_NOTEXT", "");
    ASSERT_NE(brelrt_config_text("TSTCFG_NOTEXT"), nullptr);
    EXPECT_STREQ(brelrt_config_text("TSTCFG_NOTEXT"), "");
}

// Lookups remember where the environment holds a name: every kind of change
// between two lookups (set, changed, removed, other variables added and
// removed around it, another name at the same address, a registration
// changed) still shows at the next one.
TEST_F(ConfigTest, EveryChangeShowsAtTheNextLookup) {
    EnvVar no_file("BRELRT_CONFIG", nullptr);
    static const char* const name = "TSTCFG_STYLE";
    std::vector<int> seen;
    auto look = [&] { seen.push_back(brelrt_config_keyword(name)); };
    look();
    setenv(name, "schema", 1);
    look();
    setenv(name, "none", 1);
    look();
    for (int k = 0; k < 50; ++k) // the environment array grows and moves
        setenv(("TSTCFG_FILLER" + std::to_string(k)).c_str(), "x", 1);
    look();
    unsetenv(name);
    look();
    static char put[] = "TSTCFG_STYLE=Schema";
    putenv(put);
    look();
    for (int k = 0; k < 50; ++k)
        unsetenv(("TSTCFG_FILLER" + std::to_string(k)).c_str());
    look();
    unsetenv(name);
    static const BrelrtKeyword other_keywords[] = {{"DTD", 1}, {"SCHEMA", 2}, {"NONE", 0}};
    static const BrelrtConfigEntry other[] = {
        {name, BRELRT_CFG_KEYWORD, 0, other_keywords, 3, 0, 0}};
    brelrt_config_register(other, 1, 0);
    look();
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 0, 0, 1, 2, 2, 0}));

    char buffer[32] = "TSTCFG_YES";
    EnvVar no("TSTCFG_NO", "yes");
    EXPECT_EQ(brelrt_config_yes_no(buffer), 1);
    std::strcpy(buffer, "TSTCFG_NO");
    EnvVar yes("TSTCFG_YES", "no");
    EXPECT_EQ(brelrt_config_yes_no(buffer), 1);
    std::strcpy(buffer, "TSTCFG_YES");
    EXPECT_EQ(brelrt_config_yes_no(buffer), 0);
}

// ---- tracked memory

TEST_F(HostTest, TrackedBlocksAreZeroFilledReportedAndFreed) {
    auto* p = static_cast<unsigned char*>(brelrt_alloc(64, 1, HERE, "XML file pointer"));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(p[i], 0);
    char* s = brelrt_strdup("abc", HERE, "copy");
    p = static_cast<unsigned char*>(brelrt_realloc(p, 4096, HERE));
    ASSERT_NE(p, nullptr);
    TempDir dir;
    FILE* out = std::fopen(dir.file("report").c_str(), "w");
    EXPECT_EQ(brelrt_mem_report(out), brelrt_mem_outstanding());
    std::fclose(out);
    std::string report = read_file(dir.file("report"));
    EXPECT_NE(report.find("XML file pointer (4096 bytes)"), std::string::npos) << report;
    EXPECT_NE(report.find("tests/host/services:"), std::string::npos);
    brelrt_free(s, HERE);
    brelrt_free(p, HERE);
}

// Bytes are counted as blocks come, grow and go, with their peak; blocks
// name their site through a table that stops at 65536 sites, later sites
// being reported as "?".
TEST_F(HostTest, TrackedBytesPeakAndSitesAreCounted) {
    size_t start = brelrt_mem_bytes();
    brelrt_mem_peak(1);
    void* a = brelrt_alloc(100, 0, HERE, "a");
    void* b = brelrt_alloc(100, 1, HERE, "b");
    a = brelrt_realloc(a, 1000, HERE);
    EXPECT_EQ(brelrt_mem_bytes(), start + 1100);
    a = brelrt_realloc(a, 10, HERE);
    brelrt_free(b, HERE);
    EXPECT_EQ(brelrt_mem_bytes(), start + 10);
    EXPECT_EQ(brelrt_mem_peak(1), start + 1100); // since the first reset
    EXPECT_EQ(brelrt_mem_peak(0), start + 10);
    brelrt_free(a, HERE);
    EXPECT_EQ(brelrt_mem_bytes(), start);

    std::vector<void*> blocks;
    for (int line = 1; line <= 70000; ++line)
        blocks.push_back(brelrt_alloc(1, 0, "tests/host/sites", line, "site"));
    TempDir dir;
    FILE* out = std::fopen(dir.file("report").c_str(), "w");
    EXPECT_EQ(brelrt_mem_report(out), blocks.size());
    std::fclose(out);
    std::string report = read_file(dir.file("report"));
    EXPECT_NE(report.find("\ntests/host/sites:1 site (1 bytes)\n"), std::string::npos);
    EXPECT_NE(report.find("\ntests/host/sites:4000 site (1 bytes)\n"), std::string::npos);
    EXPECT_EQ(report.find("\ntests/host/sites:70000 "), std::string::npos);
    EXPECT_NE(report.find("\n?:0 ? (1 bytes)\n"), std::string::npos);
    for (void* p : blocks)
        brelrt_free(p, HERE);
}

TEST_F(HostTest, FreeingAnUnknownPointerIsReportedNotFatal) {
    EnvVar quiet("BRELRT_TRACE", "0");
    brelrt_trace_reset();
    int local = 0;
    size_t before = brelrt_mem_bad_frees();
    char* p = brelrt_strdup("x", HERE, "once");
    brelrt_free(p, HERE);
    brelrt_free(p, HERE);      // twice
    brelrt_free(&local, HERE); // never allocated
    EXPECT_EQ(brelrt_realloc(&local, 10, HERE), nullptr);
    EXPECT_EQ(brelrt_mem_bad_frees(), before + 2);
    brelrt_trace_reset();
    // Tell the fixture these two were on purpose.
    SetUp();
}

TEST_F(HostTest, NthAllocationFails) {
    brelrt_mem_fail_nth(3);
    void* a = brelrt_alloc(8, 0, HERE, "a");
    void* b = brelrt_alloc(8, 0, HERE, "b");
    void* c = brelrt_alloc(8, 0, HERE, "c");
    void* d = brelrt_alloc(8, 0, HERE, "d");
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(c, nullptr);
    EXPECT_NE(d, nullptr);
    brelrt_free(a, HERE);
    brelrt_free(b, HERE);
    brelrt_free(d, HERE);
}

// Every container gives up cleanly, without leaking, whichever of its
// allocations fails.
TEST_F(HostTest, ContainersSurviveEachFailedAllocation) {
    for (long n = 1; n <= 12; ++n) {
        brelrt_mem_fail_nth(n);
        BrelrtText* t = brelrt_text_new(HERE, "text");
        if (t) {
            for (int i = 0; i < 5; ++i)
                brelrt_text_append_str(t, "some text that grows the buffer ");
            EXPECT_EQ(brelrt_text_length(t) % 32, 0u);
        }
        BrelrtHash* h = brelrt_hash_new(4, nullptr, HERE, "hash");
        if (h)
            brelrt_hash_add(h, "k", t);
        BrelrtPairArray* pa = brelrt_pairs_new(HERE, "pairs");
        for (int i = 0; pa && i < 6; ++i)
            brelrt_pairs_append(pa, nullptr, nullptr);
        brelrt_mem_fail_nth(0);
        brelrt_hash_free(h, HERE);
        brelrt_text_free(t, HERE);
        brelrt_pairs_free(pa, HERE);
        ASSERT_EQ(brelrt_mem_outstanding(), 0u) << "failing allocation " << n;
    }
}

// ---- containers

TEST_F(HostTest, GrowableTextEditing) {
    BrelrtText* t = brelrt_text_new(HERE, "XML Character data");
    EXPECT_STREQ(brelrt_text_data(t), "");
    brelrt_text_append_str(t, "AB");
    brelrt_text_printf(t, "-%d-", 42);
    brelrt_text_insert(t, 1, "xyz", 3);
    EXPECT_STREQ(brelrt_text_data(t), "AxyzB-42-");
    brelrt_text_erase(t, 1, 3);
    brelrt_text_erase(t, 4, 100);
    EXPECT_STREQ(brelrt_text_data(t), "AB-4");
    brelrt_text_truncate(t, 2);
    EXPECT_EQ(brelrt_text_length(t), 2u);
    std::string big(5000, 'q');
    brelrt_text_append(t, big.data(), big.size());
    EXPECT_EQ(brelrt_text_length(t), 5002u);
    EXPECT_EQ(brelrt_text_data(t)[5002], '\0');
    brelrt_text_free(t, HERE);
}

TEST_F(HostTest, ListInsertsBeforeAndRemovesAnywhere) {
    BrelrtList* l = brelrt_list_new(HERE, "XML children list");
    int a = 1, b = 2, c = 3;
    BrelrtListNode* na = brelrt_list_append(l, &a);
    BrelrtListNode* nc = brelrt_list_append(l, &c);
    brelrt_list_insert(l, nc, &b);
    std::vector<int> seen;
    for (BrelrtListNode* n = l->first; n; n = n->next)
        seen.push_back(*static_cast<int*>(n->data));
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(brelrt_list_remove(l, na), &a);
    EXPECT_EQ(l->first->data, &b);
    EXPECT_EQ(l->first->prev, nullptr);
    brelrt_list_remove(l, nc);
    EXPECT_EQ(l->last, l->first);
    EXPECT_EQ(l->count, 1u);
    brelrt_list_free(l, HERE);
}

// A node taken out with unlink stays the caller's, data and all, and goes
// back in at either end or in the middle.
TEST_F(HostTest, ListNodeUnlinkedIsKeptAndLinksAgain) {
    BrelrtList* l = brelrt_list_new(HERE, "XML children list");
    int a = 1, b = 2, c = 3;
    brelrt_list_append(l, &a);
    BrelrtListNode* nb = brelrt_list_append(l, &b);
    BrelrtListNode* nc = brelrt_list_append(l, &c);
    auto order = [&] {
        std::vector<int> seen, back;
        for (BrelrtListNode* n = l->first; n; n = n->next)
            seen.push_back(*static_cast<int*>(n->data));
        for (BrelrtListNode* n = l->last; n; n = n->prev)
            back.insert(back.begin(), *static_cast<int*>(n->data));
        EXPECT_EQ(seen, back);
        EXPECT_EQ(seen.size(), l->count);
        return seen;
    };
    size_t blocks = brelrt_mem_outstanding();
    EXPECT_EQ(brelrt_list_unlink(l, nb), &b);
    EXPECT_EQ(brelrt_mem_outstanding(), blocks);
    EXPECT_EQ(nb->next, nullptr);
    EXPECT_EQ(nb->prev, nullptr);
    EXPECT_EQ(order(), (std::vector<int>{1, 3}));
    EXPECT_EQ(brelrt_list_link(l, l->first, nb), nb);
    EXPECT_EQ(order(), (std::vector<int>{2, 1, 3}));
    brelrt_list_unlink(l, nb);
    brelrt_list_link(l, nc, nb);
    EXPECT_EQ(order(), (std::vector<int>{1, 2, 3}));
    brelrt_list_unlink(l, nc);
    brelrt_list_unlink(l, nb);
    brelrt_list_link(l, nullptr, nc);
    EXPECT_EQ(order(), (std::vector<int>{1, 3}));
    brelrt_free(nb, HERE);
    brelrt_list_free(l, HERE);
}

TEST_F(HostTest, PairArrayAppendAndRemove) {
    BrelrtPairArray* pa = brelrt_pairs_new(HERE, "XML elements attributes array");
    int v[10];
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(brelrt_pairs_append(pa, &v[i], &v[i]), i);
    EXPECT_TRUE(brelrt_pairs_remove(pa, 0));
    EXPECT_FALSE(brelrt_pairs_remove(pa, 9));
    EXPECT_EQ(brelrt_pairs_count(pa), 9u);
    EXPECT_EQ(brelrt_pairs_at(pa, 0)->name, &v[1]);
    EXPECT_EQ(brelrt_pairs_at(pa, 9), nullptr);
    brelrt_pairs_free(pa, HERE);
}

// Entries shaped as a parser's hash entries: name, element, next, flags.
struct Entry {
    char* name;
    void* element;
    Entry* next;
    long flags;
};

int g_destroyed_chains = 0;
int g_destroyed_entries = 0;

void destroy_chain(void* head) {
    ++g_destroyed_chains;
    for (auto* e = static_cast<Entry*>(head); e;) {
        Entry* next = e->next;
        brelrt_free(e->name, HERE);
        brelrt_free(e, HERE);
        ++g_destroyed_entries;
        e = next;
    }
}

Entry* make_entry(const char* name) {
    auto* e = static_cast<Entry*>(brelrt_alloc(sizeof(Entry), 1, HERE, "Element hash"));
    e->name = brelrt_strdup(name, HERE, "name");
    return e;
}

TEST_F(HostTest, HashChainsThroughThirdWordAndDestroysOnClearAndFree) {
    g_destroyed_chains = g_destroyed_entries = 0;
    BrelrtHash* h = brelrt_hash_new(2, destroy_chain, HERE, "XML parser elements");
    Entry* first = make_entry("lines");
    Entry* second = make_entry("lines");
    Entry* third = make_entry("lines");
    EXPECT_EQ(brelrt_hash_add(h, "lines", first), 1);
    EXPECT_EQ(brelrt_hash_add(h, "lines", second), 2);
    EXPECT_EQ(brelrt_hash_add(h, "lines", third), 2);
    for (int i = 0; i < 50; ++i) {
        std::string key = "k" + std::to_string(i);
        EXPECT_EQ(brelrt_hash_add(h, key.c_str(), make_entry(key.c_str())), 1);
    }
    EXPECT_EQ(brelrt_hash_find(h, "lines"), first);
    EXPECT_EQ(first->next, second);
    EXPECT_EQ(second->next, third);
    EXPECT_EQ(brelrt_hash_find(h, "Lines"), nullptr);
    EXPECT_EQ(brelrt_hash_count(h), 51u);
    brelrt_hash_clear(h);
    EXPECT_EQ(g_destroyed_chains, 51);
    EXPECT_EQ(g_destroyed_entries, 53);
    EXPECT_EQ(brelrt_hash_find(h, "k3"), nullptr);
    brelrt_hash_add(h, "again", make_entry("again"));
    brelrt_hash_free(h, HERE);
    EXPECT_EQ(g_destroyed_chains, 52);
}

// The hashed lookups find what the plain ones add and the other way round;
// names kept over a clear take entries again, each clear destroying just the
// chains added since the one before.
TEST_F(HostTest, HashedLookupsAndClearsRecordAfterRecord) {
    g_destroyed_chains = g_destroyed_entries = 0;
    BrelrtHash* h = brelrt_hash_new(3, destroy_chain, HERE, "XML parser elements");
    auto hashed = [](const char* key) { return brelrt_hash_text(key, std::strlen(key)); };
    const char* names[] = {"sale_rec", "sale_id", "item_code", "quantity", "a_name_of_17_char"};
    for (int record = 0; record < 3; ++record) {
        int added = 0;
        for (int k = 0; k < 5 - 2 * record; ++k) {
            Entry* e = make_entry(names[k]);
            EXPECT_EQ(k % 2 ? brelrt_hash_add(h, names[k], e)
                            : brelrt_hash_add_hashed(h, names[k], hashed(names[k]), e),
                      1);
            EXPECT_EQ(brelrt_hash_find(h, names[k]), e);
            EXPECT_EQ(brelrt_hash_find_hashed(h, names[k], hashed(names[k])), e);
            ++added;
        }
        EXPECT_EQ(brelrt_hash_count(h), static_cast<size_t>(added));
        int before = g_destroyed_chains;
        brelrt_hash_clear(h);
        EXPECT_EQ(g_destroyed_chains - before, added);
        EXPECT_EQ(brelrt_hash_count(h), 0u);
        for (const char* name : names)
            EXPECT_EQ(brelrt_hash_find(h, name), nullptr);
    }
    brelrt_hash_clear(h);
    EXPECT_EQ(g_destroyed_chains, 5 + 3 + 1);
    // Equal texts hash alike whatever their place in memory; a byte more differs.
    std::string copy = "item_code";
    EXPECT_EQ(hashed(copy.c_str()), hashed("item_code"));
    EXPECT_NE(brelrt_hash_text("item_code", 9), brelrt_hash_text("item_code", 8));
    brelrt_hash_free(h, HERE);
}

// An entry added again (the head, the end, or one in the middle of a chain)
// is refused and leaves the chain as it was; a long chain grows at its end.
TEST_F(HostTest, HashRefusesAnEntryAlreadyChained) {
    struct Entry {
        void* a;
        void* b;
        Entry* next;
    };
    std::vector<Entry> e(5000);
    BrelrtHash* h = brelrt_hash_new(1, nullptr, HERE, "hash");
    for (size_t k = 0; k < e.size(); ++k)
        EXPECT_EQ(brelrt_hash_add(h, "k", &e[k]), k ? 2 : 1);
    for (size_t k : {size_t{0}, size_t{1}, e.size() - 1})
        EXPECT_EQ(brelrt_hash_add(h, "k", &e[k]), 0);
    EXPECT_EQ(brelrt_hash_add(h, "other", &e[2]), 0);
    size_t length = 0;
    for (auto* x = static_cast<Entry*>(brelrt_hash_find(h, "k")); x; x = x->next)
        ASSERT_EQ(x, &e[length++]);
    EXPECT_EQ(length, e.size());
    // Many names: the table grows and every name is still found.
    std::vector<Entry> more(3000);
    for (size_t k = 0; k < more.size(); ++k)
        EXPECT_EQ(brelrt_hash_add(h, ("n" + std::to_string(k)).c_str(), &more[k]), 1);
    for (size_t k = 0; k < more.size(); ++k)
        ASSERT_EQ(brelrt_hash_find(h, ("n" + std::to_string(k)).c_str()), &more[k]);
    EXPECT_EQ(brelrt_hash_count(h), more.size() + 1);
    brelrt_hash_free(h, HERE);
}

// ---- handles

int g_record_destroyed = 0;
void destroy_record(void* record) {
    g_record_destroyed += *static_cast<int*>(record);
}

TEST_F(HostTest, HandlesAreTypedCheckedAndRunTheirDestructor) {
    int element_type = brelrt_handle_register(29 * sizeof(void*), destroy_record, "element");
    int parser_type = brelrt_handle_register(4 * sizeof(void*), nullptr, "parser");
    ASSERT_GT(element_type, 0);
    ASSERT_NE(element_type, parser_type);
    BrelrtHandle h = brelrt_handle_new(element_type, HERE, "XML element info");
    ASSERT_NE(h, nullptr);
    auto* record = static_cast<int*>(brelrt_handle_record(h, element_type));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record[0], 0);
    record[0] = 7;
    EXPECT_EQ(brelrt_handle_type(h), element_type);
    EXPECT_EQ(brelrt_handle_record(h, parser_type), nullptr);
    EXPECT_EQ(brelrt_handle_record(h, 0), record);
    int not_a_handle[8] = {};
    EXPECT_EQ(brelrt_handle_type(not_a_handle), 0);
    EXPECT_EQ(brelrt_handle_record(not_a_handle, 0), nullptr);
    EXPECT_EQ(brelrt_handle_new(999, HERE, "x"), nullptr);
    g_record_destroyed = 0;
    EXPECT_EQ(brelrt_handle_free(h, HERE), 1);
    EXPECT_EQ(g_record_destroyed, 7);
    EXPECT_EQ(brelrt_handle_free(h, HERE), 0); // already gone
    EXPECT_EQ(brelrt_handle_type(h), 0);
}

// A destructor that frees other handles of its own type (a tree).
int g_tree_type = 0;
void destroy_tree(void* record) {
    auto** children = static_cast<BrelrtHandle*>(record);
    for (int i = 0; i < 2; ++i)
        brelrt_handle_free(children[i], HERE);
}

TEST_F(HostTest, DestructorMayFreeFurtherHandles) {
    g_tree_type = brelrt_handle_register(2 * sizeof(void*), destroy_tree, "tree");
    BrelrtHandle root = brelrt_handle_new(g_tree_type, HERE, "node");
    auto** kids = static_cast<BrelrtHandle*>(brelrt_handle_record(root, g_tree_type));
    kids[0] = brelrt_handle_new(g_tree_type, HERE, "node");
    kids[1] = brelrt_handle_new(g_tree_type, HERE, "node");
    auto** grandkids = static_cast<BrelrtHandle*>(brelrt_handle_record(kids[0], g_tree_type));
    grandkids[0] = brelrt_handle_new(g_tree_type, HERE, "node");
    grandkids[1] = root; // a cycle back to the root must not free it twice
    EXPECT_EQ(brelrt_handle_free(root, HERE), 1);
}

// ---- double-byte text and names

TEST_F(HostTest, ShiftJisTests) {
    EXPECT_TRUE(brelrt_dbcs_is_lead(0x81));
    EXPECT_TRUE(brelrt_dbcs_is_lead(0x9F));
    EXPECT_TRUE(brelrt_dbcs_is_lead(0xE0));
    EXPECT_FALSE(brelrt_dbcs_is_lead(0xA0)); // half-width katakana
    EXPECT_FALSE(brelrt_dbcs_is_lead('A'));
    EXPECT_TRUE(brelrt_dbcs_is_trail(0x40));
    EXPECT_FALSE(brelrt_dbcs_is_trail(0x7F));
    EXPECT_TRUE(brelrt_dbcs_is_trail(0xFC));
    EXPECT_TRUE(brelrt_dbcs_is_blank(0x81, 0x40));
    EXPECT_FALSE(brelrt_dbcs_is_blank(0x81, 0x41));
    {
        EnvVar on("BRELRT_DOUBLE_BYTE", "yes");
        EXPECT_TRUE(brelrt_dbcs_active());
    }
    EnvVar off("BRELRT_DOUBLE_BYTE", nullptr);
    EXPECT_FALSE(brelrt_dbcs_active());
}

TEST_F(HostTest, NameConversionModes) {
    char name[] = "ORD-REC-No";
    EXPECT_EQ(brelrt_name_convert(name, -3, 4), 10);
    EXPECT_STREQ(name, "ord-rec-no");
    EXPECT_EQ(brelrt_name_convert(name, -3, 6), 10);
    EXPECT_STREQ(name, "ord_rec_no");
    char partial[] = "AB-CD";
    brelrt_name_convert(partial, 2, 4);
    EXPECT_STREQ(partial, "ab-CD");
    EXPECT_EQ(brelrt_name_convert(partial, -3, 5), -1);
    // The trail byte of a Shift-JIS pair may look like a capital letter.
    char sjis[] = "\x83\x41X-";
    EnvVar on("BRELRT_DOUBLE_BYTE", "on");
    brelrt_name_convert(sjis, -3, 4);
    EXPECT_STREQ(sjis, "\x83\x41x-");
    EXPECT_EQ(brelrt_name_compare("Lines", "LINES", 1), 0);
    EXPECT_NE(brelrt_name_compare("Lines", "LINES", 0), 0);
}

TEST_F(HostTest, LayoutNameAndToday) {
    char out[64];
    EXPECT_STREQ(brelrt_layout_name("/data/in/Orders.xml", out, sizeof out), "Orders");
    EXPECT_STREQ(brelrt_layout_name("orders", out, sizeof out), "orders");
    EXPECT_STREQ(brelrt_layout_name("a.b/sales.dat.xml", out, sizeof out), "sales.dat");
    EXPECT_STREQ(brelrt_layout_name(".hidden", out, sizeof out), ".hidden");
    EXPECT_STREQ(brelrt_layout_name("verylongname.xml", out, 5), "very");
    int32_t today = brelrt_today();
    EXPECT_GT(today, 20200101);
    EXPECT_GE(today % 100, 1);
    EXPECT_LE(today % 10000 / 100, 12);
}

TEST_F(HostTest, HostEntryTableHasEveryNameInOrder) {
#define EXPECTED_NAME(name) #name,
    const char* expected[] = {BRELRT_HOST_ENTRY_LIST(EXPECTED_NAME)};
#undef EXPECTED_NAME
    ASSERT_EQ(sizeof expected / sizeof expected[0], size_t{BRELRT_HOST_ENTRY_COUNT});
    EXPECT_STREQ(expected[0], "BTrace");
    EXPECT_STREQ(expected[24], "Bconvert");
    EXPECT_STREQ(expected[37], "i_delete");
    for (int i = 0; i < BRELRT_HOST_ENTRY_COUNT; ++i) {
        EXPECT_STREQ(brelrt_host_entries[i].name, expected[i]);
        EXPECT_NE(brelrt_host_entries[i].function, nullptr);
    }
    EXPECT_EQ(i_delete(), 0);
    EXPECT_EQ(B4PgmPeriod() & 0xFF, '.');
    EnvVar comma("BRELRT_DECIMAL_POINT", ",");
    EXPECT_EQ(B4PgmPeriod() & 0xFF, ',');
}

} // namespace
