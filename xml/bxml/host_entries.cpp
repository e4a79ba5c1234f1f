#include "bxml/host_entries.h"

#include <cstring>

namespace bxml {

namespace {

// Lives for the process; nothing is torn down at unload.
HostEntry g_entries[kHostEntryCount] = {
    {"BTrace", nullptr},
    {"B4XFDFree", nullptr},
    {"B4ParseXFD", nullptr},
    {"B4MatchFDInfotoXFD", nullptr},
    {"B4FreeTable", nullptr},
    {"B4MatchDBColstoXFD", nullptr},
    {"B4TestCOBOLCond", nullptr},
    {"B4ConvertDateTime", nullptr},
    {"B4TestData", nullptr},
    {"B4TestDatap", nullptr},
    {"B4PgmPeriod", nullptr},
    {"B4CheckExtraWhere", nullptr},
    {"B4ParseErrorFile", nullptr},
    {"B4DefineSuffixes", nullptr},
    {"B4RemoveSuffix", nullptr},
    {"B4FillWhereMagic", nullptr},
    {"B4MatchDBKeystoXFD", nullptr},
    {"B4FindColumn", nullptr},
    {"B4make_sql_name", nullptr},
    {"B4fill_nines", nullptr},
    {"B4build_key", nullptr},
    {"B4free_string", nullptr},
    {"B4TransactionTrace", nullptr},
    {"B4CurTrace", nullptr},
    {"Bconvert", nullptr},
    {"cvt_8_decimal", nullptr},
    {"f_rename", nullptr},
    {"f_remove", nullptr},
    {"f_copy", nullptr},
    {"w_message_box", nullptr},
    {"i_open", nullptr},
    {"i_close", nullptr},
    {"i_info", nullptr},
    {"i_write", nullptr},
    {"i_start", nullptr},
    {"i_next", nullptr},
    {"i_read", nullptr},
    {"i_delete", nullptr},
};

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
