// The frame as the runtime sees it: GetDispatchTable, the slots, the host
// entry table and the configuration variables.
#include "xml_helpers.h"

#include <dlfcn.h>
#include <expat.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

using namespace xmltest;

namespace {

class FrameTest : public XmlTest {};

TEST_F(FrameTest, GetDispatchTableRefusesNullAndHandsOutOneTable) {
    auto get = reinterpret_cast<int (*)(BxmlSlot**)>(dlsym(runtime().bxml, "GetDispatchTable"));
    ASSERT_NE(get, nullptr);
    EXPECT_EQ(get(nullptr), 1);
    BxmlSlot* table = nullptr;
    EXPECT_EQ(get(&table), 0);
    EXPECT_EQ(table, runtime().table);
}

TEST_F(FrameTest, OnlyTheFrameSlotsAreFilled) {
    const int filled[] = {0, 1, 17, 25, 26, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53};
    for (int k = 0; k < BXML_SLOT_COUNT; ++k) {
        bool expected = std::find(std::begin(filled), std::end(filled), k) != std::end(filled);
        EXPECT_EQ(runtime().table[k] != nullptr, expected) << "slot " << k;
    }
}

TEST_F(FrameTest, InterfaceLevelAndNoOperation) {
    int level = 0;
    EXPECT_EQ(runtime().slot<BxmlInterfaceLevelFn>(0)(nullptr, &level), 1);
    EXPECT_EQ(level, 3);
    runtime().slot<BxmlNoOperationFn>(1)();
}

TEST_F(FrameTest, IdentifyFillsNameExpatVersionAndPluginVersion) {
    char name[4];
    char buffer[128];
    char version[10];
    std::memset(name, 'x', sizeof name);
    std::memset(version, 'x', sizeof version);
    EXPECT_EQ(runtime().slot<BxmlIdentifyFn>(17)(name, buffer, version), 1);
    EXPECT_EQ(std::memcmp(name, "XML", 4), 0);
    EXPECT_STREQ(buffer, XML_ExpatVersion());
    EXPECT_EQ(std::memcmp(version, "7.2.2 JPN", 10), 0);
}

TEST_F(FrameTest, UnsupportedSlotsSetSeventeen) {
    EXPECT_EQ(runtime().slot<BxmlUnsupportedFn>(49)(), 0);
    EXPECT_EQ(*brelrt_file_error(), 17);
    *brelrt_file_error() = 0;
    int64_t r = runtime().slot<BxmlUnsupportedQueryFn>(53)();
    EXPECT_EQ(r, INT64_C(-1));
    EXPECT_EQ(static_cast<uint64_t>(r), UINT64_MAX);
    EXPECT_EQ(*brelrt_file_error(), 17);
}

// ---- slot 25

TEST_F(FrameTest, SetHostEntryReturnsThePreviousFunction) {
    const Runtime& rt = runtime();
    void* original = rt.host_symbol("B4PgmPeriod");
    void* other = rt.host_symbol("B4TestData");
    EXPECT_EQ(rt.set_entry("B4PgmPeriod", other), original);
    EXPECT_EQ(rt.set_entry("B4PgmPeriod", original), other);
    EXPECT_EQ(rt.set_entry("B4PgmPeriod", original), original);
}

TEST_F(FrameTest, SetHostEntryIgnoresUnknownNamesAndComparesExactly) {
    const Runtime& rt = runtime();
    EXPECT_EQ(rt.set_entry("NoSuchEntry", rt.host_symbol("B4PgmPeriod")), nullptr);
    EXPECT_EQ(rt.set_entry("bconvert", rt.host_symbol("B4PgmPeriod")), nullptr);
    EXPECT_EQ(rt.set_entry("Bconvert", rt.host_symbol("Bconvert")), rt.host_symbol("Bconvert"));
    EXPECT_EQ(rt.set_entry(nullptr, nullptr), nullptr);
}

TEST_F(FrameTest, NullNameNamesTheFirstMissingEntryInTableOrder) {
    const Runtime& rt = runtime();
    for (const char* name : kHostEntryNames)
        rt.set_entry(name, nullptr);
    for (const char* name : kHostEntryNames) {
        auto* missing = static_cast<const char*>(rt.set_entry(nullptr, nullptr));
        ASSERT_NE(missing, nullptr);
        EXPECT_STREQ(missing, name);
        EXPECT_EQ(rt.set_entry(name, rt.host_symbol(name)), nullptr);
    }
    EXPECT_EQ(rt.set_entry(nullptr, nullptr), nullptr);

    void* keep = rt.set_entry("i_read", nullptr);
    EXPECT_STREQ(static_cast<const char*>(rt.set_entry(nullptr, nullptr)), "i_read");
    rt.set_entry("i_read", keep);
    EXPECT_EQ(rt.set_entry(nullptr, nullptr), nullptr);
}

// ---- slots 50 to 52

TEST_F(FrameTest, FileSlotsPassTheirArgumentsToTheHostEntries) {
    char dir[] = "/tmp/bxml-files-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string a = std::string(dir) + "/a.xml", b = std::string(dir) + "/b.xml",
                c = std::string(dir) + "/c.xml";
    std::ofstream(a) << "<a/>\n";
    const Runtime& rt = runtime();

    *brelrt_file_error() = 99;
    EXPECT_EQ(rt.slot<BxmlRenameFn>(52)(a.c_str(), c.c_str()), 0); // copy
    EXPECT_EQ(*brelrt_file_error(), 0);
    EXPECT_EQ(rt.slot<BxmlRenameFn>(51)(a.c_str(), b.c_str()), 0); // rename
    EXPECT_FALSE(std::ifstream(a).good());
    EXPECT_TRUE(std::ifstream(b).good());
    std::string copied;
    std::getline(std::ifstream(c) >> std::ws, copied);
    EXPECT_EQ(copied, "<a/>");
    EXPECT_EQ(rt.slot<BxmlRemoveFn>(50)(b.c_str()), 0);
    EXPECT_EQ(rt.slot<BxmlRemoveFn>(50)(c.c_str()), 0);
    EXPECT_FALSE(std::ifstream(b).good());
    EXPECT_NE(rt.slot<BxmlRemoveFn>(50)(b.c_str()), 0);
    rmdir(dir);
}

TEST_F(FrameTest, FileSlotWithoutItsHostEntryIsNotSupported) {
    const Runtime& rt = runtime();
    void* keep = rt.set_entry("f_remove", nullptr);
    EXPECT_EQ(rt.slot<BxmlRemoveFn>(50)("/tmp/does-not-matter"), -1);
    EXPECT_EQ(*brelrt_file_error(), 17);
    rt.set_entry("f_remove", keep);
}

// ---- slot 26

TEST_F(FrameTest, ConfigurationDefaultsAfterRegistration) {
    for (const char* v : {"BXML_SCHEMA_DOC", "BXML_SCHEMA_NAME", "BXML_STYLESHEET_HREF",
                          "BXML_SCHEMA_NAMESPACE_DATA", "BXML_ENCODING", "BXML_STYLESHEET_TYPE",
                          "BXML_CREATE_STYLE", "BXML_CREATE_SCHEMA", "BXML_EXACT_TABLE_MATCH",
                          "BXML_IGNORE_EMPTY_DATA"})
        unsetenv(v);
    EXPECT_EQ(runtime().slot<BxmlRegisterConfigFn>(26)(), 1);
    EXPECT_EQ(brelrt_config_text("BXML_SCHEMA_NAME"), nullptr);
    EXPECT_EQ(brelrt_config_text("BXML_ENCODING"), nullptr);
    const char* ns = brelrt_config_text("BXML_SCHEMA_NAMESPACE_DATA");
    ASSERT_NE(ns, nullptr);
    EXPECT_STREQ(ns, "xmlns:xs=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
                     "    xs:noNamespaceSchemaLocation=\"%s\"");
    EXPECT_EQ(brelrt_config_keyword("BXML_CREATE_STYLE"), 1);
    EXPECT_EQ(brelrt_config_yes_no("BXML_CREATE_SCHEMA"), 1);
    EXPECT_EQ(brelrt_config_yes_no("BXML_EXACT_TABLE_MATCH"), 1);
    EXPECT_EQ(brelrt_config_yes_no("BXML_IGNORE_EMPTY_DATA"), 0);
    // The keyword table, looked up at the moment of use.
    setenv("BXML_CREATE_STYLE", "schema", 1);
    EXPECT_EQ(brelrt_config_keyword("BXML_CREATE_STYLE"), 2);
    setenv("BXML_CREATE_STYLE", "NONE", 1);
    EXPECT_EQ(brelrt_config_keyword("BXML_CREATE_STYLE"), 0);
    unsetenv("BXML_CREATE_STYLE");
}

} // namespace
