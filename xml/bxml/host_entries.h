// The host entry table: the 38 runtime entries the runtime hands the plug-in
// by name through dispatch slot 25. The plug-in calls eight of them.
#pragma once

#include <cstddef>

namespace bxml {

// Table positions of the entries the plug-in calls.
enum HostEntryIndex : size_t {
    kEntryBTrace = 0,
    kEntryB4XFDFree = 1,
    kEntryB4ParseXFD = 2,
    kEntryB4TestCOBOLCond = 6,
    kEntryB4PgmPeriod = 10,
    kEntryBconvert = 24,
    kEntryFRename = 26,
    kEntryFRemove = 27,
    kEntryFCopy = 28,
};

inline constexpr size_t kHostEntryCount = 38;

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
