/*
 * bxml32.h - what the COBOL runtime sees of libbxml32.so.
 *
 * The runtime asks for the dispatch table with GetDispatchTable, hands the
 * plug-in its host entries by name through slot 25, registers the BXML_
 * configuration variables through slot 26, and then calls the file
 * operations of the table. Every slot function is also exported under its own
 * lower_snake name.
 *
 * The ordinal functions of the element and parser-handle API are exported by
 * name as well and, since ELF has no ordinals, through bxml32_ordinals[],
 * indexed by ordinal (null where an ordinal has no function).
 *
 * Plain C ABI. Nothing here throws. One thread at a time.
 */
#ifndef BXML32_H
#define BXML32_H

#include <stdint.h>

#if defined(__GNUC__)
#define BXML_EXPORT __attribute__((visibility("default")))
#else
#define BXML_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A slot of the dispatch table: a function of the type given below for its
 * slot, cast to this generic pointer type. */
typedef void (*BxmlSlot)(void);

#define BXML_SLOT_COUNT 55
#define BXML_SLOT_INTERFACE_LEVEL 0
#define BXML_SLOT_NO_OPERATION 1
#define BXML_SLOT_IDENTIFY 17
#define BXML_SLOT_SET_HOST_ENTRY 25
#define BXML_SLOT_REGISTER_CONFIG 26
#define BXML_SLOT_SMAKE 44
#define BXML_SLOT_SOPEN 45
#define BXML_SLOT_SCLOSE 46
#define BXML_SLOT_SREAD 47
#define BXML_SLOT_SWRITE 48
#define BXML_SLOT_UNSUPPORTED 49
#define BXML_SLOT_REMOVE 50
#define BXML_SLOT_RENAME 51
#define BXML_SLOT_COPY 52
#define BXML_SLOT_UNSUPPORTED_QUERY 53

/* Stores the address of the dispatch table (BXML_SLOT_COUNT slots) in *table
 * and returns 0; returns 1 when table is null. */
BXML_EXPORT int GetDispatchTable(BxmlSlot** table);

/* Slot 0: stores the interface level 3 in *level; returns 1. */
typedef int (*BxmlInterfaceLevelFn)(void* reserved, int* level);
BXML_EXPORT int xml_interface_level(void* reserved, int* level);

/* Slot 1: does nothing. */
typedef void (*BxmlNoOperationFn)(void);
BXML_EXPORT void xml_no_operation(void);

/* Slot 17: "XML" into the 4-byte name field, the expat version text into the
 * buffer, "7.2.2 JPN" into the 10-byte version field; returns 1. */
typedef int (*BxmlIdentifyFn)(char* name, char* buffer, char* version);
BXML_EXPORT int xml_identify(char* name, char* buffer, char* version);

/* Slot 25: with a name, stores the function into the host entry of that
 * name and returns the function it held before (null for an unknown name,
 * which changes nothing). With a null name, returns the name (const char*) of
 * the first entry still without a function, or null when all are set. */
typedef void* (*BxmlSetHostEntryFn)(const char* name, void* function);
BXML_EXPORT void* xml_set_host_entry(const char* name, void* function);

/* Slot 26: registers the ten BXML_ configuration variables with the host;
 * returns what the host's registration returns. */
typedef int (*BxmlRegisterConfigFn)(void);
BXML_EXPORT int xml_register_config(void);

/* Slot 49: sets the file-error word to 17; returns 0. */
typedef int (*BxmlUnsupportedFn)(void);
BXML_EXPORT int xml_unsupported(void);

/* Slots 50 to 52: clear the file-error word and pass the arguments to the
 * host entries f_remove, f_rename and f_copy. When the entry was never set,
 * the file-error word becomes 17 and the result is -1. */
typedef int (*BxmlRemoveFn)(const char* name);
typedef int (*BxmlRenameFn)(const char* from, const char* to);
BXML_EXPORT int xml_remove(const char* name);
BXML_EXPORT int xml_rename(const char* from, const char* to);
BXML_EXPORT int xml_copy(const char* from, const char* to);

/* Slot 53: sets the file-error word to 17; returns -1 in 64 bits. */
typedef int64_t (*BxmlUnsupportedQueryFn)(void);
BXML_EXPORT int64_t xml_unsupported_query(void);

/* The ordinal functions by ordinal, 0 to BXML_ORDINAL_COUNT - 1. */
#define BXML_ORDINAL_COUNT 55
BXML_EXPORT extern const BxmlSlot bxml32_ordinals[BXML_ORDINAL_COUNT];

/* The version text of the plug-in. */
#define BXML_VERSION_TEXT "7.2.2 JPN"

#ifdef __cplusplus
}
#endif

#endif /* BXML32_H */
