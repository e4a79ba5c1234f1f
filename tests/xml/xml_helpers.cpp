#include "xml_helpers.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <list>
#include <sstream>

namespace xmltest {

#define XMLTEST_NAME(name) #name,
const char* const kHostEntryNames[BRELRT_HOST_ENTRY_COUNT] = {BRELRT_HOST_ENTRY_LIST(XMLTEST_NAME)};
#undef XMLTEST_NAME

void* Runtime::host_symbol(const char* name) const {
    return dlsym(brelrt, name);
}

void Runtime::set_all_entries() const {
    for (const char* name : kHostEntryNames)
        set_entry(name, host_symbol(name));
}

const Runtime& runtime() {
    static Runtime r = [] {
        Runtime rt;
        rt.brelrt = dlopen(POINTRA_LIB_DIR "/libbrelrt.so", RTLD_NOW);
        rt.bxml = dlopen(POINTRA_LIB_DIR "/libbxml32.so", RTLD_NOW);
        if (!rt.brelrt || !rt.bxml) {
            std::fprintf(stderr, "dlopen: %s\n", dlerror());
            std::abort();
        }
        auto get = reinterpret_cast<int (*)(BxmlSlot**)>(dlsym(rt.bxml, "GetDispatchTable"));
        if (!get || get(&rt.table) != 0 || !rt.table)
            std::abort();
        rt.set_all_entries();
        rt.slot<BxmlRegisterConfigFn>(BXML_SLOT_REGISTER_CONFIG)();
        return rt;
    }();
    return r;
}

void XmlTest::SetUp() {
    runtime();
    brelrt_mem_fail_nth(0);
    *brelrt_file_error() = 0;
    *brelrt_secondary_error() = 0;
    *brelrt_parse_error_code() = 0;
    unsetenv("BRELRT_DOUBLE_BYTE");
}

void XmlTest::TearDown() {
    brelrt_mem_fail_nth(0);
    size_t outstanding = brelrt_mem_outstanding();
    EXPECT_EQ(outstanding, 0u) << "tracked blocks still allocated";
    if (outstanding)
        brelrt_mem_report(stderr);
    EXPECT_EQ(brelrt_mem_bad_frees(), 0u);
}

XmlParser* parse_text(const std::string& text, uint32_t flags, bool whole) {
    XmlParser* p = xml_create_parser(flags);
    if (!p)
        return nullptr;
    // The parser keeps a pointer: the text must outlive it, so keep a copy.
    static std::list<std::string> keep; // never moves its strings
    keep.push_back(text);
    xml_parser_set_input(p, keep.back().data(), keep.back().size());
    if (whole)
        xml_parse_to_end(p, nullptr);
    return p;
}

XmlElement* rec(BrelrtHandle element) {
    return xml_element_record(element);
}

std::string name_of(BrelrtHandle element) {
    XmlElement* e = rec(element);
    return e ? e->name : "";
}

std::string text_of(BrelrtHandle element) {
    XmlElement* e = rec(element);
    return e ? std::string(bxml::text_or_empty(e), bxml::text_length(e)) : "";
}

std::string comments_of(BrelrtHandle element) {
    XmlElement* e = rec(element);
    return e && bxml::element_comments(e) ? bxml::element_comments(e) : "";
}

std::vector<int> numbers_of(BrelrtHandle element) {
    std::vector<int> v;
    if (XmlElement* e = rec(element))
        for (int k = 0; k <= e->last_position; ++k)
            v.push_back(e->index[k]);
    return v;
}

std::vector<BrelrtHandle> children_of(BrelrtHandle element) {
    std::vector<BrelrtHandle> v;
    XmlElement* e = rec(element);
    for (XmlElement* c = e ? e->first_child : nullptr; c; c = c->next)
        v.push_back(c->self);
    return v;
}

BrelrtHandle child_named(BrelrtHandle element, const std::string& name, size_t k) {
    for (BrelrtHandle c : children_of(element))
        if (name_of(c) == name && k-- == 0)
            return c;
    return nullptr;
}

std::string begin_trace(int level) {
    char path[] = "/tmp/bxml-trace-XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0)
        close(fd);
    setenv("BRELRT_TRACE_FILE", path, 1);
    brelrt_trace_reset();
    *brelrt_trace_level() = static_cast<int16_t>(level);
    return path;
}

std::string end_trace(const std::string& file) {
    brelrt_trace_reset();
    unsetenv("BRELRT_TRACE_FILE");
    *brelrt_trace_level() = 0;
    std::ifstream in(file);
    std::stringstream ss;
    ss << in.rdbuf();
    std::remove(file.c_str());
    return ss.str();
}

} // namespace xmltest
