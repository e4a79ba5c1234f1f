// The plug-in frame: the dispatch table the runtime obtains through
// GetDispatchTable, and the slot functions that need nothing but the host.
#include "bxml32.h"

#include "bxml/config.h"
#include "bxml/host_entries.h"
#include "bxml/module.h"
#include "bxml/trace.h"

#include <brelrt.h>
#include <expat.h>

#include <cstdio>
#include <cstring>

using namespace bxml;

namespace {

template <typename Fn> BxmlSlot slot(Fn fn) {
    return reinterpret_cast<BxmlSlot>(fn);
}

// 55 slots; every slot not filled here is null.
BxmlSlot g_dispatch[BXML_SLOT_COUNT] = {};

struct DispatchInit {
    DispatchInit() {
        g_dispatch[BXML_SLOT_INTERFACE_LEVEL] = slot(&xml_interface_level);
        g_dispatch[BXML_SLOT_NO_OPERATION] = slot(&xml_no_operation);
        g_dispatch[BXML_SLOT_IDENTIFY] = slot(&xml_identify);
        g_dispatch[BXML_SLOT_SET_HOST_ENTRY] = slot(&xml_set_host_entry);
        g_dispatch[BXML_SLOT_REGISTER_CONFIG] = slot(&xml_register_config);
        g_dispatch[BXML_SLOT_SMAKE] = slot(&xml_smake);
        g_dispatch[BXML_SLOT_SOPEN] = slot(&xml_sopen);
        g_dispatch[BXML_SLOT_SCLOSE] = slot(&xml_sclose);
        g_dispatch[BXML_SLOT_SREAD] = slot(&xml_sread);
        g_dispatch[BXML_SLOT_SWRITE] = slot(&xml_swrite);
        g_dispatch[BXML_SLOT_UNSUPPORTED] = slot(&xml_unsupported);
        g_dispatch[BXML_SLOT_REMOVE] = slot(&xml_remove);
        g_dispatch[BXML_SLOT_RENAME] = slot(&xml_rename);
        g_dispatch[BXML_SLOT_COPY] = slot(&xml_copy);
        g_dispatch[BXML_SLOT_UNSUPPORTED_QUERY] = slot(&xml_unsupported_query);
    }
} g_dispatch_init;

// A host file entry that the runtime never set: reported as not supported
// rather than called through a null pointer.
int missing_entry(const char* routine) {
    trace_line(kTraceFile, "%s: host entry not set", routine);
    set_file_error(kNotSupported);
    return -1;
}

} // namespace

extern "C" {

int GetDispatchTable(BxmlSlot** table) {
    if (!table)
        return 1;
    *table = g_dispatch;
    return 0;
}

int xml_interface_level(void* /*reserved*/, int* level) {
    if (level)
        *level = 3;
    return 1;
}

void xml_no_operation(void) {}

int xml_identify(char* name, char* buffer, char* version) {
    if (name)
        std::memcpy(name, "XML", 4);
    if (buffer) {
        const char* expat = XML_ExpatVersion();
        std::snprintf(buffer, BXML_IDENTIFY_BUFFER_SIZE, "%s", expat ? expat : "");
    }
    if (version)
        std::memcpy(version, BXML_VERSION_TEXT, sizeof BXML_VERSION_TEXT);
    return 1;
}

void* xml_set_host_entry(const char* name, void* function) {
    return set_host_entry(name, function);
}

int xml_register_config(void) {
    return register_config();
}

int xml_unsupported(void) {
    set_file_error(kNotSupported);
    return 0;
}

int xml_remove(const char* name) {
    set_file_error(kNoError);
    auto fn = host_function<decltype(&f_remove)>(kEntryf_remove);
    if (!fn)
        return missing_entry("xml_remove");
    return fn(name);
}

int xml_rename(const char* from, const char* to) {
    set_file_error(kNoError);
    auto fn = host_function<decltype(&f_rename)>(kEntryf_rename);
    if (!fn)
        return missing_entry("xml_rename");
    return fn(from, to);
}

int xml_copy(const char* from, const char* to) {
    set_file_error(kNoError);
    auto fn = host_function<decltype(&f_copy)>(kEntryf_copy);
    if (!fn)
        return missing_entry("xml_copy");
    return fn(from, to);
}

int64_t xml_unsupported_query(void) {
    set_file_error(kNotSupported);
    return -1;
}

} // extern "C"
