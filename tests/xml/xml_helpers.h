// Shared by the xml tests: the plug-in loaded as the runtime loads it, a
// fixture that checks the tracked allocator after every test, and small
// readers of the element tree.
#pragma once

#include "bxml32.h"
#include "elements/xml_element.h"
#include "handlers/xml_parser.h"

#include <brelrt.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace xmltest {

// The 38 host entry names in table order (the host's one list of them).
extern const char* const kHostEntryNames[BRELRT_HOST_ENTRY_COUNT];

// libbxml32.so and libbrelrt.so opened with dlopen from the library folder,
// the dispatch table taken with GetDispatchTable, every host entry set by
// name from libbrelrt.so's own symbols and the configuration registered.
struct Runtime {
    void* bxml = nullptr;
    void* brelrt = nullptr;
    BxmlSlot* table = nullptr;

    template <typename Fn> Fn slot(int k) const { return reinterpret_cast<Fn>(table[k]); }
    void* set_entry(const char* name, void* function) const {
        return slot<BxmlSetHostEntryFn>(BXML_SLOT_SET_HOST_ENTRY)(name, function);
    }
    void* host_symbol(const char* name) const;
    void set_all_entries() const;
};

// Loaded once for the process.
const Runtime& runtime();

// Base fixture: the runtime is up, error words and trace are clear, and after
// the test the tracked allocator has nothing outstanding.
class XmlTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// The parser over `text` in memory (parsed to the end when `whole`).
XmlParser* parse_text(const std::string& text, uint32_t flags = BXML_SOPEN_FLAGS | BXML_CASE_FOLD,
                      bool whole = true);

XmlElement* rec(BrelrtHandle element);
std::string name_of(BrelrtHandle element);
std::string text_of(BrelrtHandle element);
std::string comments_of(BrelrtHandle element);
std::vector<int> numbers_of(BrelrtHandle element);
std::vector<BrelrtHandle> children_of(BrelrtHandle element);
// The k-th child named `name` (0-based), null when none.
BrelrtHandle child_named(BrelrtHandle element, const std::string& name, size_t k = 0);

// The function at ordinal k of the plug-in's ordinal table, as its type.
template <typename Fn> Fn ordinal(int k) {
    auto* table = static_cast<const BxmlSlot*>(dlsym(runtime().bxml, "bxml32_ordinals"));
    return table ? reinterpret_cast<Fn>(table[k]) : nullptr;
}

// Runs `body` with the trace on at `level`, written to a temporary file, and
// returns what was written.
template <typename Body> std::string with_trace(int level, Body body);
std::string begin_trace(int level);
std::string end_trace(const std::string& file);

template <typename Body> std::string with_trace(int level, Body body) {
    std::string file = begin_trace(level);
    body();
    return end_trace(file);
}

} // namespace xmltest
