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

#define ENTRY(name)                                                                                \
    { #name, reinterpret_cast < void (*)(void)>(&name) }

const BrelrtHostEntry brelrt_host_entries[BRELRT_HOST_ENTRY_COUNT] = {
    ENTRY(BTrace),
    ENTRY(B4XFDFree),
    ENTRY(B4ParseXFD),
    ENTRY(B4MatchFDInfotoXFD),
    ENTRY(B4FreeTable),
    ENTRY(B4MatchDBColstoXFD),
    ENTRY(B4TestCOBOLCond),
    ENTRY(B4ConvertDateTime),
    ENTRY(B4TestData),
    ENTRY(B4TestDatap),
    ENTRY(B4PgmPeriod),
    ENTRY(B4CheckExtraWhere),
    ENTRY(B4ParseErrorFile),
    ENTRY(B4DefineSuffixes),
    ENTRY(B4RemoveSuffix),
    ENTRY(B4FillWhereMagic),
    ENTRY(B4MatchDBKeystoXFD),
    ENTRY(B4FindColumn),
    ENTRY(B4make_sql_name),
    ENTRY(B4fill_nines),
    ENTRY(B4build_key),
    ENTRY(B4free_string),
    ENTRY(B4TransactionTrace),
    ENTRY(B4CurTrace),
    ENTRY(Bconvert),
    ENTRY(cvt_8_decimal),
    ENTRY(f_rename),
    ENTRY(f_remove),
    ENTRY(f_copy),
    ENTRY(w_message_box),
    ENTRY(i_open),
    ENTRY(i_close),
    ENTRY(i_info),
    ENTRY(i_write),
    ENTRY(i_start),
    ENTRY(i_next),
    ENTRY(i_read),
    ENTRY(i_delete),
};
