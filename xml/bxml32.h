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
 * Besides these, the element tree's and the parser's own routines
 * (elements/xml_element.h, handlers/xml_parser.h) are exported for the
 * library's tests, fuzz target and benchmarks; they are no part of what a
 * runtime calls.
 *
 * Buffers the caller provides: slot 17's name field of
 * BXML_IDENTIFY_NAME_SIZE bytes, text buffer of BXML_IDENTIFY_BUFFER_SIZE
 * and version field of BXML_IDENTIFY_VERSION_SIZE; slot 47's record area of
 * the layout's record size (RecordLayout.record_size).
 *
 * Plain C ABI. Nothing here throws. One thread at a time.
 */
#ifndef BXML32_H
#define BXML32_H

#include <stdint.h>
#include <stdio.h>

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
#define BXML_FILE_BAD_LENGTH                                                                       \
    44 /* the record's length cuts a field that cannot be cut, or an                               \
          OCCURS DEPENDING ON counter lies outside its table's bounds:                             \
          nothing of the record is written */

/* The cause of a failure, in the host's secondary error word
 * (*brelrt_secondary_error()), cleared to 0 at the start of every file
 * operation: after 15 from xml_sopen, and after 34 from xml_sopen (the
 * schema file), xml_swrite or xml_sclose, the system's error number (errno:
 * ENOENT, EACCES, EISDIR, ENOSPC, ...) of the call that failed, or 0 when no
 * system call failed (no layout, a bad name, a bad layout); 5 with every 19
 * of reading (malformed XML, limits, a root that is not the layout's). A
 * failed xml_smake leaves the errno there too. */

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
 * buffer (at most BXML_IDENTIFY_BUFFER_SIZE bytes with its zero), "7.2.2 JPN"
 * into the 10-byte version field; returns 1. */
#define BXML_IDENTIFY_NAME_SIZE 4
#define BXML_IDENTIFY_BUFFER_SIZE 64
#define BXML_IDENTIFY_VERSION_SIZE 10
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
/* A record layout (brelrt.h). */
typedef struct RecordLayout RecordLayout;

/* Slot 44: creates an empty file (name translated); 1, or 0 when it cannot
 * be created. `extra` is only traced. */
typedef int (*BxmlSmakeFn)(const char* name, const char* extra);
BXML_EXPORT int xml_smake(const char* name, const char* extra);

/* Slot 45: opens `name` for input (mode 0) or output (mode 1) with the
 * record layout of its name; null with the file-error word set when it
 * cannot (15 file or layout, 17 mode or encoding, 14 memory, 34 the schema
 * file, 8 or 19 for an input without a root element), the secondary error
 * saying why (see above). Output: the prologue is written (DTD, schema,
 * root start tag by BXML_CREATE_STYLE). Input: the document's root element
 * must be named as the layout, ASCII case aside (and "-" and "_" alike
 * while 4GL_COLUMN_CASE is 0 or 1), else 19, with both names in the trace
 * and the error text. Arguments 3 to 6 and 8 are kept.
 *
 * Flags above the low two bits of `mode`:
 *   BXML_OPEN_AS_NAMED      `name` is opened exactly as given: no name
 *                           translation, no URL fetch, no ".xml" retry (for
 *                           a caller that has mapped the name itself, as
 *                           brelrt_translate_name does);
 *   BXML_OPEN_LAYOUT_GIVEN  `extra` is the layout's name (as B4ParseXFD
 *                           takes it) instead of the one the file's name
 *                           gives; null or empty fails with 15.
 * Without BXML_OPEN_LAYOUT_GIVEN `extra` is only traced; other bits are
 * ignored. */
#define BXML_OPEN_INPUT 0
#define BXML_OPEN_OUTPUT 1
#define BXML_OPEN_AS_NAMED 0x100
#define BXML_OPEN_LAYOUT_GIVEN 0x200
typedef XmlFile* (*BxmlSopenFn)(const char* name, int mode, int a3, int a4, int a5, int a6,
                                const char* extra, int a8);
BXML_EXPORT XmlFile* xml_sopen(const char* name, int mode, int a3, int a4, int a5, int a6,
                               const char* extra, int a8);

/* Slot 46: writes the root end tag of an output file, closes and frees
 * everything; returns 0, with 34 in the file-error word when the document
 * could not be written whole. */
typedef int (*BxmlScloseFn)(XmlFile* file);
BXML_EXPORT int xml_sclose(XmlFile* file);

/* Slot 47: reads the next record of a file open for input into `record`
 * (the layout's record_size bytes): each child element of the root is one
 * record; every field takes the text of its element, found by name and
 * occurrence numbers (fields without an element keep their bytes, fields
 * whose element is empty are blanked). Returns one more than the end offset
 * of the last byte filled (1 when none was); 0 at the end with 8 in the
 * file-error word (again at every later read), or 0 with 19 for a document
 * that is malformed, cut off (every complete record is delivered first) or
 * beyond the parser's limits, 14 out of memory, 17 not open for input. */
typedef int (*BxmlSreadFn)(XmlFile* file, unsigned char* record);
BXML_EXPORT int xml_sread(XmlFile* file, unsigned char* record);

/* Slot 48: writes one record of `length` bytes as an element under the
 * root. Returns 1; 0 with the file-error word at 19 (a field the document
 * cannot carry: nothing of the record is written), 34 (the stream refused
 * a write) or 14 and 17. */
typedef int (*BxmlSwriteFn)(XmlFile* file, const unsigned char* record, int length);
BXML_EXPORT int xml_swrite(XmlFile* file, const unsigned char* record, int length);

/* For a process that is ending abnormally (after a runtime error or a
 * signal): writes the complete records an output file still holds to its
 * stream and leaves out the root end tag, so that reading the document gives
 * its records and then 19 (cut off), never a clean end. Allocates and frees
 * nothing and closes nothing, so it may run while another call of the library
 * was interrupted; the file may not be used again, and its memory and
 * descriptor go with the process. Returns 1; 0 with 34 in the file-error word
 * (the reason as the error text) when the records could not be written, or
 * with 17 for a file not open for output. */
typedef int (*BxmlSabandonFn)(XmlFile* file);
BXML_EXPORT int xml_sabandon(XmlFile* file);

/* The level-01 record of `layout` that the `length` bytes of `record` hold,
 * chosen as xml_swrite chooses the element it writes: the first record whose
 * "*> WHEN" holds (or that has none), else the first. Returns its item index;
 * the conditions' result bits are left as evaluated. */
typedef int (*BxmlRecordItemFn)(RecordLayout* layout, const unsigned char* record, int length);
BXML_EXPORT int xml_record_item(RecordLayout* layout, const unsigned char* record, int length);

/* xml_swrite with the level-01 record to write named by the caller: `item`
 * is the index of a level-01 record of the file's layout (one
 * xml_record_item could answer), or -1 to choose as xml_swrite chooses. A
 * runtime that knows which record description its program wrote (the
 * GnuCOBOL file handler tells them apart by their lengths) passes it here.
 * Returns as xml_swrite; 0 with 17 for an item that is no record. */
typedef int (*BxmlSwriteAsFn)(XmlFile* file, const unsigned char* record, int length, int item);
BXML_EXPORT int xml_swrite_as(XmlFile* file, const unsigned char* record, int length, int item);

/* Hands what an output file holds to its stream now: every record written
 * so far reaches the kernel (a runtime that answers a WRITE only once its
 * record is out of the process calls it after each one). Returns 1; 0 with
 * 34 as a write does. */
typedef int (*BxmlSflushFn)(XmlFile* file);
BXML_EXPORT int xml_sflush(XmlFile* file);

/* Output: the records that reached the stream whole, counted from the first
 * record of the document: after a failed write, the records after them are
 * the ones lost. `records` (may be null) gets the records the document has
 * been given so far (written, held, or lost). */
typedef long (*BxmlSwrittenFn)(XmlFile* file, long* records);
BXML_EXPORT long xml_swritten(XmlFile* file, long* records);

/* Input: the level-01 record (its item index in the layout) that the last
 * xml_sread delivered, told by its element's name; -1 before the first. */
typedef int (*BxmlSreadRecordFn)(XmlFile* file);
BXML_EXPORT int xml_sread_record(XmlFile* file);

/* The length in bytes of level-01 record `item` of `layout` as the record
 * area holds it: its size, less the occurrences of an OCCURS DEPENDING ON
 * table past its counter's value. With `minimum` and `maximum` not null
 * they receive the least and the largest length the record may have. */
typedef int (*BxmlRecordLengthFn)(RecordLayout* layout, const unsigned char* record, int item,
                                  int* minimum, int* maximum);
BXML_EXPORT int xml_record_length(RecordLayout* layout, const unsigned char* record, int item,
                                  int* minimum, int* maximum);

/* What a read changed in a record, or passed over, told to the runtime as
 * it happens. Without a receiver (xml_set_notice) each goes to the trace
 * only. The record area holds what could be read all the same; only
 * BXML_NOTICE_NOT_IN_ENCODING leaves a field that does not hold the
 * document's text at all. BXML_NOTICE_RECORD comes first for every record:
 * which level-01 record (`item`) the read fills, before it fills a field,
 * so that a runtime may set the area to that record's initial values. */
#define BXML_NOTICE_RECORD 0       /* a record of level-01 item `item` begins */
#define BXML_NOTICE_NOT_A_NUMBER 1 /* no number: the field keeps what it held */
#define BXML_NOTICE_DIGITS_LOST 2  /* digits above the picture's were lost */
#define BXML_NOTICE_DECIMALS_CUT 3 /* decimals past the picture's were cut */
#define BXML_NOTICE_SIGN_LOST 4    /* a negative number in a field without sign */
#define BXML_NOTICE_TEXT_CUT 5     /* a text longer than its field, cut to it */
#define BXML_NOTICE_NOT_HEXADECIMAL                                                                \
    6 /* a binary field's text is no hexadecimal of its size: the field keeps what it held */
#define BXML_NOTICE_NOT_IN_ENCODING                                                                \
    7 /* a character the program's encoding (BXML_ENCODING) cannot hold: "?" in its place */
#define BXML_NOTICE_UNKNOWN_RECORD                                                                 \
    8 /* a child of the root that is no record of the layout: passed over whole */
#define BXML_NOTICE_UNKNOWN_ELEMENT 9 /* an element of a record that is no field: passed over */
#define BXML_NOTICE_EXTRA_OCCURRENCE                                                               \
    10 /* more elements of a table occurrence than its OCCURS holds: passed over */
#define BXML_NOTICE_COUNT_MISMATCH                                                                 \
    11 /* an OCCURS DEPENDING ON counter that says another number of occurrences than the          \
          document holds, or one outside the table's bounds */

typedef struct BxmlNotice {
    int kind;         /* BXML_NOTICE_* */
    long record;      /* the record read, from 1; for BXML_NOTICE_UNKNOWN_RECORD the
                         records read before the element */
    const char* name; /* the element's name (zero-terminated) */
    const char* text; /* its text in the program's encoding, `text_length` bytes (not
                         zero-terminated; may be cut), null when none belongs */
    size_t text_length;
    int item;          /* the layout item of the field, -1 when none */
    const char* value; /* what the field holds now, as numeric text ("-12.50") or the
                          text it holds; null when none belongs */
    long count;        /* BXML_NOTICE_UNKNOWN_ELEMENT, _EXTRA_OCCURRENCE: how many;
                          BXML_NOTICE_COUNT_MISMATCH: the occurrences the document holds */
} BxmlNotice;
typedef void (*BxmlNoticeFn)(void* context, const BxmlNotice* notice);

/* Sets the receiver of an input file's notices (null: the trace only). */
typedef void (*BxmlSetNoticeFn)(XmlFile* file, BxmlNoticeFn receiver, void* context);
BXML_EXPORT void xml_set_notice(XmlFile* file, BxmlNoticeFn receiver, void* context);

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

/* The description of a record layout that an output file carries, written
 * to `stream` by the generators xml_sopen uses:
 *   BXML_DESCRIBE_DTD     the element declarations of the document's
 *                         internal DTD, as a standalone .dtd (no DOCTYPE
 *                         around them);
 *   BXML_DESCRIBE_SCHEMA  the XML Schema document that BXML_CREATE_STYLE
 *                         SCHEMA writes (with BXML_ENCODING and
 *                         BXML_SCHEMA_DOC as at OPEN OUTPUT).
 * `layout` comes from B4ParseXFD. Clears the file-error word; returns 1, or
 * 0 with 17 (no layout, or another style), 14 (out of memory) or 34 (the
 * stream refused the write; the secondary error holds its errno). The
 * bxml-describe tool is this function on standard output. */
#define BXML_DESCRIBE_DTD 1
#define BXML_DESCRIBE_SCHEMA 2
struct RecordLayout;
BXML_EXPORT int bxml_describe(FILE* stream, struct RecordLayout* layout, int style);

/* ---------------------------------------------------------------------
 * The element and parser-handle API, by ordinal.
 *
 * Handles are opaque (void*); every handle passed in is checked, and a
 * wrong one sets the family's last-error word to 6 (element) or 5 (parser).
 * Each call leaves its outcome in its family's word: 0 after success, else
 * one of the BXML_API_* codes; bxml_element_error and bxml_parser_error give
 * the code and its message. Texts returned are the library's own storage,
 * valid until the element or parser changes or is freed.
 */
#define BXML_API_NO_ERROR 0
#define BXML_API_NO_MEMORY 1 /* "Unable to create parser due to low memory" */
#define BXML_API_CANNOT_OPEN                                                                       \
    3                            /* "Unable to open named file" (also: a write the stream refused) \
                                  */
#define BXML_API_INVALID_XML 4   /* "Invalid XML file or other parsing error" */
#define BXML_API_BAD_PARSER 5    /* "The passed handle is not a valid parser handle" */
#define BXML_API_BAD_ELEMENT 6   /* "The passed handle is not a valid element handle" */
#define BXML_API_BAD_ATTRIBUTE 7 /* "Invalid attribute number" */
#define BXML_API_NO_URL 8        /* "The URL given could not be located" */
#define BXML_API_NO_CHILDREN 10  /* "The specified element has no children" */
#define BXML_API_NO_SIBLINGS 11  /* "The specified element has no siblings" */
#define BXML_API_TOP_LEVEL 12    /* "The specified element is a top-level element" */
#define BXML_API_NO_VALUE 13     /* "The specified element has no value" */
#define BXML_API_NO_ATTRIBUTES 14 /* "The specified element has no attributes" */
#define BXML_API_HAS_ROOT 16      /* "The specified parser already has a top-level element" */
/* Codes 2, 9 and 15 have messages but are never set. */

/* Ordinal 1: a new element under `parent` (null: a top-level element),
 * before its child `before` (null: last), numbered among its same-named
 * siblings. Null with 1 (out of memory) or 6. */
BXML_EXPORT void* bxml_create_element(void* parent, const char* name, void* before);
/* 2: frees the element with its subtree, unlinked from its parent; 1, or 0 with 6. */
BXML_EXPORT int bxml_free_element(void* element);
/* 3: sets the element's hash entry once; 1, or 0 when it has one. */
BXML_EXPORT int bxml_set_hash_entry(void* element, void* entry);
/* 4: the element's hash entry, or null. */
BXML_EXPORT void* bxml_hash_entry(void* element);
/* 5 to 8: first child (10 when none), next and previous sibling (11 when
 * none), parent (12 for a top-level element); null on failure. */
BXML_EXPORT void* bxml_first_child(void* element);
BXML_EXPORT void* bxml_next_sibling(void* element);
BXML_EXPORT void* bxml_previous_sibling(void* element);
BXML_EXPORT void* bxml_parent(void* element);
/* 9, 10: name; text (null with 13 when it has none). */
BXML_EXPORT const char* bxml_element_name(void* element);
BXML_EXPORT const char* bxml_element_text(void* element);
/* 11: position of the last occurrence number, -1 when none (or a bad
 * handle); 12: occurrence number k (0-based), -1 past the last. */
BXML_EXPORT int bxml_last_position(void* element);
BXML_EXPORT int bxml_occurrence(void* element, int k);
/* 13: attribute count (0 with 14 when none); 14, 15: name and value of
 * attribute k (null with 7 when k is not below the count). */
BXML_EXPORT int bxml_attribute_count(void* element);
BXML_EXPORT const char* bxml_attribute_name(void* element, int k);
BXML_EXPORT const char* bxml_attribute_value(void* element, int k);
/* 16: the message of the last element error; its code into *code when given. */
BXML_EXPORT const char* bxml_element_error(int* code);
/* 17: the text becomes its first `keep` bytes, then `length` bytes of
 * `text`, then the old text from byte `resume` on when `resume` is not 0
 * and below its length; 1, or 0 with 1. A length below 0 means up to the
 * text's zero, here and in 18, 19 and 22. */
BXML_EXPORT int bxml_replace_text(void* element, const char* text, long length, long keep,
                                  long resume);
/* 18: appends text; while the element has none, leading white space is
 * dropped and nothing is created when none is left. 1, or 0 with 1. */
BXML_EXPORT int bxml_append_text(void* element, const char* text, long length);
/* 19: sets the value of attribute k; 1, or 0 with 7. */
BXML_EXPORT int bxml_set_attribute_value(void* element, int k, const char* text, long length);
/* 20: a new last child; 21: a new sibling right after the element (null
 * with 16 for a top-level element). */
BXML_EXPORT void* bxml_add_child(void* parent, const char* name);
BXML_EXPORT void* bxml_add_sibling(void* element, const char* name);
/* 22: adds an attribute; the new count, or 0 with 1. 23: deletes attribute
 * k; 1, or 0 with 7. */
BXML_EXPORT int bxml_add_attribute(void* element, const char* name, const char* value, long length);
BXML_EXPORT int bxml_delete_attribute(void* element, int k);
/* 24: appends to the comments (1, or 0 with 1); 25: clears them; 26: the
 * comments, or null. */
BXML_EXPORT int bxml_append_comment(void* element, const char* text);
BXML_EXPORT void bxml_clear_comments(void* element);
BXML_EXPORT const char* bxml_comments(void* element);
/* 27: writes the element and its subtree as XML at `indent`; 1, or 0 with
 * 6, or with 3 when the stream reported an error. */
BXML_EXPORT int bxml_write_element(FILE* stream, void* element, int indent);
/* 28: lists the element's subtree to the trace (only while trace is on); 1,
 * or 0 with 6. */
BXML_EXPORT int bxml_trace_element(void* element, int indent);

/* Ordinal 41: opens a document into a parser handle. `source` is a file
 * name (opened without name translation), "-" for standard input, a URL
 * beginning "http:" (fetched into a local copy, removed when the handle is
 * freed), or the document itself when it begins "<?xml " (`length` bytes,
 * below 0: up to its zero; copied). Null: a handle for a document built with
 * 46 and 20 to 24 and saved with 50. `flags` are the parser flags
 * (BXML_PARSER_* below); the parser parses until the root start tag, or with
 * BXML_PARSER_WHOLE to the end (then the source is closed and released).
 * The tree it builds (elements, names, texts, attributes, comments, the
 * element hash, each block with its bookkeeping) may take at most
 * BXML_TREE_LIMIT megabytes (read now; default 256); what the element
 * functions add to it later counts too, and fails with 1 past it.
 * Null with 1 (out of memory, or the tree past BXML_TREE_LIMIT: file-error
 * word 14), 3, 4 (malformed, cut off, or beyond the parser's limits) or 8. */
BXML_EXPORT void* bxml_parser_open(const char* source, unsigned flags, long length);
/* 42: 1 for a parser handle, else 0. */
BXML_EXPORT int bxml_is_parser(void* handle);
/* 43, 44, 45: root element, document type name, element-declaration table
 * (null when none, or with 5). */
BXML_EXPORT void* bxml_root_element(void* handle);
BXML_EXPORT const char* bxml_doctype_name(void* handle);
BXML_EXPORT void* bxml_element_declarations(void* handle);
/* 46: creates the root element; null with 16 when there is one. */
BXML_EXPORT void* bxml_create_root(void* handle, const char* name);
/* 47: parses on until the next child of the root is complete; 1, or 0 at
 * the end (file-error word 8) or on an error (file-error word 19, also for a
 * document cut off after its last complete record; 14 out of memory or the
 * tree past BXML_TREE_LIMIT, and so at every later call). Records stay in
 * the tree until the handle is freed. */
BXML_EXPORT int bxml_next_record(void* handle);
/* 48: the current element. */
BXML_EXPORT void* bxml_current_element(void* handle);
/* 49: frees the handle, its parser, its tree and its source; 1, or 0 with 5. */
BXML_EXPORT int bxml_parser_free(void* handle);
/* 50: saves the tree as a file: declaration, generated-by comment, the
 * top-level comments, the root element; 1, or 0 with 3 (cannot be created,
 * or the write failed) or 5. */
BXML_EXPORT int bxml_parser_save(void* handle, const char* file_name);
/* 51: appends a top-level comment (1, or 0 with 1); 52: clears them; 53:
 * the top-level comments, or null. */
BXML_EXPORT int bxml_add_top_comment(void* handle, const char* text);
BXML_EXPORT void bxml_clear_top_comments(void* handle);
BXML_EXPORT const char* bxml_top_comments(void* handle);
/* 54: the message of the last parser error; its code into *code when given. */
BXML_EXPORT const char* bxml_parser_error(int* code);

/* Ordinals 30 to 40: exported without a function of their own; calling one
 * sets the file-error word to 17 and returns 0. */
BXML_EXPORT long bxml_unused_ordinal(void);

/* Parser flags of ordinal 41. */
#define BXML_PARSER_CASE_FOLD 0x1        /* names: lower case, "-" as "_" */
#define BXML_PARSER_CASE_UNDERSCORE 0x2  /* names: "-" as "_" */
#define BXML_PARSER_CASE_KEEP 0x3        /* names as written */
#define BXML_PARSER_WHOLE 0x4            /* parse the whole document on open */
#define BXML_PARSER_TAGS 0x8             /* build the tree (start and end tags) */
#define BXML_PARSER_TEXT 0x10            /* element texts */
#define BXML_PARSER_COMMENTS 0x40        /* comments */
#define BXML_PARSER_ELEMENT_HASH 0x20000 /* the element hash */
/* What an input file uses: tags, texts, declarations, the hash. */
#define BXML_PARSER_RECORDS 0x25C18

/* The ordinal functions by ordinal, 0 to BXML_ORDINAL_COUNT - 1 (null at 0
 * and 29). */
#define BXML_ORDINAL_COUNT 55
BXML_EXPORT extern const BxmlSlot bxml32_ordinals[BXML_ORDINAL_COUNT];

/* The version text of the plug-in. */
#define BXML_VERSION_TEXT "7.2.2 JPN"

#ifdef __cplusplus
}
#endif

#endif /* BXML32_H */
