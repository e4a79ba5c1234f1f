// The host entry table: the 38 runtime entries the runtime hands the plug-in
// by name through dispatch slot 25. The plug-in calls eight of them.
#pragma once

#include <brelrt.h>

#include <cstddef>

namespace bxml {

// Table positions: kEntry<name> for each of the host's 38 entry names.
#define BXML_ENTRY_INDEX(name) kEntry##name,
enum HostEntryIndex : size_t { BRELRT_HOST_ENTRY_LIST(BXML_ENTRY_INDEX) kHostEntryCount };
#undef BXML_ENTRY_INDEX

struct HostEntry {
    const char* name;
    void* function;
};

// Name of entry k (table order), null past the end.
const char* host_entry_name(size_t k);
// The function set for entry k, null while unset.
void* host_entry(size_t k);

// The function of an entry as its own type, e.g. host_function<decltype(&f_remove)>.
template <typename Fn> Fn host_function(size_t k) {
    return reinterpret_cast<Fn>(host_entry(k));
}

// Slot 25; see xml_set_host_entry in bxml32.h.
void* set_host_entry(const char* name, void* function);

} // namespace bxml
