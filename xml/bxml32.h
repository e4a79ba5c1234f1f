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

/* Every code the plug-in leaves in the host's file-error word (the file
 * operations clear it on entry). */
#define BXML_FILE_END_OF_FILE 8    /* no more records */
#define BXML_FILE_OUT_OF_MEMORY 14 /* a shortage of memory; nothing half-done is kept */
#define BXML_FILE_CANNOT_OPEN 15   /* the file, or its record layout, cannot be opened */
#define BXML_FILE_NOT_SUPPORTED 17 /* an operation, open mode or encoding not supported */
#define BXML_FILE_BAD_XML                                                                          \
    19 /* malformed XML read, or record text the document's                                        \
          encoding or XML 1.0 cannot carry (the record is not                                      \
          written) */
#define BXML_FILE_WRITE_FAILED                                                                     \
    34 /* the stream refused a write (disk full, closed pipe):                                     \
          the trace names the records lost */

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

/* An open XML file (xml/bxml/xml_file.h). */
typedef struct XmlFile XmlFile;

/* Slot 44: creates an empty file (name translated); 1, or 0 when it cannot
 * be created. `extra` is only traced. */
typedef int (*BxmlSmakeFn)(const char* name, const char* extra);
BXML_EXPORT int xml_smake(const char* name, const char* extra);

/* Slot 45: opens `name` for input (mode 0) or output (mode 1) with the
 * record layout of its name; null with the file-error word set when it
 * cannot (15 file or layout, 17 mode or encoding, 14 memory, 8 or 19 for an
 * input without a root element). Output: the prologue is written (DTD,
 * schema, root start tag by BXML_CREATE_STYLE). Arguments 3 to 6 and 8 are
 * kept, `extra` only traced. */
typedef XmlFile* (*BxmlSopenFn)(const char* name, int mode, int a3, int a4, int a5, int a6,
                                const char* extra, int a8);
BXML_EXPORT XmlFile* xml_sopen(const char* name, int mode, int a3, int a4, int a5, int a6,
                               const char* extra, int a8);

/* Slot 46: writes the root end tag of an output file, closes and frees
 * everything; returns 0, with 34 in the file-error word when the document
 * could not be written whole. */
typedef int (*BxmlScloseFn)(XmlFile* file);
BXML_EXPORT int xml_sclose(XmlFile* file);

/* Slot 48: writes one record of `length` bytes as an element under the
 * root. Returns 1; 0 with the file-error word at 19 (a field the document
 * cannot carry: nothing of the record is written), 34 (the stream refused
 * a write) or 14 and 17. */
typedef int (*BxmlSwriteFn)(XmlFile* file, const unsigned char* record, int length);
BXML_EXPORT int xml_swrite(XmlFile* file, const unsigned char* record, int length);

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
