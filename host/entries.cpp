// The host entries a runtime hands to a plug-in, and the ones no plug-in of
// this kind calls: they do nothing and return 0.
#include "internal.h"

#define BRELRT_NOTHING(name)                                                                       \
    long name(void) {                                                                              \
        return 0;                                                                                  \
    }

BRELRT_NOTHING(BTrace)
BRELRT_NOTHING(B4MatchFDInfotoXFD)
BRELRT_NOTHING(B4FreeTable)
BRELRT_NOTHING(B4MatchDBColstoXFD)
BRELRT_NOTHING(B4ConvertDateTime)
BRELRT_NOTHING(B4TestData)
BRELRT_NOTHING(B4TestDatap)
BRELRT_NOTHING(B4CheckExtraWhere)
BRELRT_NOTHING(B4ParseErrorFile)
BRELRT_NOTHING(B4DefineSuffixes)
BRELRT_NOTHING(B4RemoveSuffix)
BRELRT_NOTHING(B4FillWhereMagic)
BRELRT_NOTHING(B4MatchDBKeystoXFD)
BRELRT_NOTHING(B4FindColumn)
BRELRT_NOTHING(B4make_sql_name)
BRELRT_NOTHING(B4fill_nines)
BRELRT_NOTHING(B4build_key)
BRELRT_NOTHING(B4free_string)
BRELRT_NOTHING(B4TransactionTrace)
BRELRT_NOTHING(B4CurTrace)
BRELRT_NOTHING(cvt_8_decimal)
BRELRT_NOTHING(w_message_box)
BRELRT_NOTHING(i_open)
BRELRT_NOTHING(i_close)
BRELRT_NOTHING(i_info)
BRELRT_NOTHING(i_write)
BRELRT_NOTHING(i_start)
BRELRT_NOTHING(i_next)
BRELRT_NOTHING(i_read)
BRELRT_NOTHING(i_delete)

#define BRELRT_ENTRY(name) {#name, reinterpret_cast<void (*)(void)>(&name)},

const BrelrtHostEntry brelrt_host_entries[BRELRT_HOST_ENTRY_COUNT] = {
    BRELRT_HOST_ENTRY_LIST(BRELRT_ENTRY)};

#define BRELRT_COUNT(name) +1
static_assert(0 BRELRT_HOST_ENTRY_LIST(BRELRT_COUNT) == BRELRT_HOST_ENTRY_COUNT);
