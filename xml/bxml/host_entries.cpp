#include "bxml/host_entries.h"

#include <cstring>

namespace bxml {

namespace {

// Lives for the process; nothing is torn down at unload.
#define BXML_ENTRY(name) {#name, nullptr},
HostEntry g_entries[kHostEntryCount] = {BRELRT_HOST_ENTRY_LIST(BXML_ENTRY)};
#undef BXML_ENTRY

} // namespace

const char* host_entry_name(size_t k) {
    return k < kHostEntryCount ? g_entries[k].name : nullptr;
}

void* host_entry(size_t k) {
    return k < kHostEntryCount ? g_entries[k].function : nullptr;
}

void* set_host_entry(const char* name, void* function) {
    if (!name) {
        for (const HostEntry& e : g_entries)
            if (!e.function)
                return const_cast<char*>(e.name);
        return nullptr;
    }
    for (HostEntry& e : g_entries) {
        if (std::strcmp(e.name, name) == 0) {
            void* previous = e.function;
            e.function = function;
            return previous;
        }
    }
    return nullptr;
}

} // namespace bxml
