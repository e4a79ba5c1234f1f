/*
 * brelrt.h - the COBOL runtime host library (libbrelrt.so).
 *
 * Everything a file-system plug-in of the runtime may rely on: trace, the
 * error words, configuration variables, tracked memory, file streams and URL
 * fetch, containers (growable texts, lists, pair arrays, hash tables, typed
 * handles), double-byte tests, name conversion, record layouts parsed from
 * copybooks, and the host entries a runtime hands to a plug-in by name.
 *
 * Plain C ABI. Nothing here throws. One thread at a time.
 *
 * Environment:
 *   BRELRT_TRACE          trace level (default 0: off)
 *   BRELRT_TRACE_FILE     trace output file (default standard error; appended)
 *   BRELRT_CONFIG         optional file of "NAME value" lines: a regular file of
 *                         at most BRELRT_FILE_SIZE_MAX bytes, else not used (one
 *                         line says why, once per change of the file)
 *   BRELRT_XFD_DIR        folder of the <layout>.xfd copybooks (default "."),
 *                         each a regular file of at most BRELRT_FILE_SIZE_MAX bytes
 *   COBCPY                folders (separated by ":") searched for a layout that
 *                         BRELRT_XFD_DIR does not hold, as cobc finds copybooks
 *   BRELRT_BINARY_SIZE    how binary items are sized: 1-2-4-8 (default), 2-4-8
 *                         or 1--8 (see brelrt_set_binary_size)
 *   COB_FILE_PATH         the folder of names that are not absolute, as
 *                         GnuCOBOL's runtime takes it (see brelrt_fopen)
 *   BRELRT_DECIMAL_POINT  the program's decimal point, "." (default) or ","
 *   BRELRT_DOUBLE_BYTE    yes/no: Shift-JIS double-byte text active (default no)
 *   BRELRT_URL_MAX_MB     largest body a URL fetch takes, in megabytes of
 *                         1,048,576 bytes (default 256)
 *   BRELRT_URL_TIMEOUT    seconds a whole URL fetch may take, name lookup aside
 *                         (default 120)
 * A value of the last two that is not a positive whole number gives the
 * default, and a trace line.
 */
#ifndef BRELRT_H
#define BRELRT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define BRELRT_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define BRELRT_PRINTF(f, a)
#endif

/* ------------------------------------------------------------------ trace */

/* The 16-bit trace level word; non-zero means trace is on. Initialised from
 * BRELRT_TRACE on first use; callers may read and write it. */
int16_t* brelrt_trace_level(void);

/* Writes one trace line when the level word is at least `level`. `indent` is
 * +1 (write, then indent later lines one step more), 0, or -1 (step back, then
 * write). `text` is written as is, never used as a format; a line break is
 * added when it does not end in one. */
void brelrt_trace(int indent, int level, const char* text);

/* Formatted trace output without indentation or added line break, built in a
 * 512-byte buffer (longer output is cut). Written whenever the level word is
 * non-zero. */
void brelrt_trace_printf(const char* format, ...) BRELRT_PRINTF(1, 2);

/* Hex dump of a byte range to the trace (16 bytes a line, hex and text). */
void brelrt_trace_hex(const void* data, size_t length);

/* Closes the trace file and re-reads BRELRT_TRACE and BRELRT_TRACE_FILE on the
 * next use; resets the indentation. */
void brelrt_trace_reset(void);

/* Whether the host says its own problems (a copybook it cannot read, a
 * configuration file it cannot use) on standard error, as "brelrt: ..."
 * lines, besides the trace: on by default; a runtime that says them itself
 * turns it off. Returns the setting before. */
int brelrt_report_to_stderr(int on);

/* ----------------------------------------------------------- error words */

int16_t* brelrt_file_error(void);       /* file-error word: 8, 14, 15, 17, 19, ... */
int32_t* brelrt_secondary_error(void);  /* secondary error (5 with a parse error) */
int32_t* brelrt_parse_error_code(void); /* parse error code (expat's) */
char** brelrt_error_text(void);         /* error-text pointer; points at host storage */
#define BRELRT_ERROR_TEXT_MAX 512
/* Copies at most BRELRT_ERROR_TEXT_MAX bytes of `text` into host storage and
 * points the error-text pointer at it (null text: empty). */
void brelrt_set_error_text(const char* text);

/* --------------------------------------------------------- configuration */

/* Kinds of configuration variables. */
#define BRELRT_CFG_NUMBER 1
#define BRELRT_CFG_YES_NO 2
#define BRELRT_CFG_KEYWORD 5
#define BRELRT_CFG_TEXT 8
#define BRELRT_CFG_TEXT_LONG 9

typedef struct BrelrtKeyword {
    const char* name; /* compared case-insensitively */
    int32_t value;
} BrelrtKeyword;

/* One variable: seven words. `pointer` is the text default (kinds 8, 9; null:
 * none) or the keyword table (kind 5). */
typedef struct BrelrtConfigEntry {
    const char* name;
    int32_t kind;
    int32_t default_value;
    const void* pointer;
    int32_t keyword_count;
    int32_t reserved1;
    int32_t reserved2;
} BrelrtConfigEntry;

/* Registers `count` entries (the table must live as long as the process or
 * until brelrt_config_clear). A name registered again replaces the earlier
 * entry. `flags` is 0. Returns 1, or 0 for a null table. */
int brelrt_config_register(const BrelrtConfigEntry* table, int count, int flags);
/* Forgets every registration (tests). */
void brelrt_config_clear(void);

/* Lookups, each made now: the environment variable of that name, else the
 * BRELRT_CONFIG file, else the registered default. */
/* The text value or null when unset. Valid until the next lookup of the same name. */
const char* brelrt_config_text(const char* name);
/* 1 for yes/true/on/1, 0 for no/false/off/0 (case ignored); otherwise the default. */
int brelrt_config_yes_no(const char* name);
/* The leading integer of the value; the default (0 when unregistered) if none. */
long brelrt_config_number(const char* name);
/* The value of the keyword named (case ignored); the default when none matches. */
int brelrt_config_keyword(const char* name);
/* 1 when the variable is unset, or set to a value its registered kind takes
 * (a yes/no word above, one of its keywords, an integer for a number
 * variable; any text for a text variable or one not registered); 0 when set
 * to anything else, which the lookups above would take for the default. */
int brelrt_config_valid(const char* name);

/* -------------------------------------------------------- tracked memory */

/* Allocates `size` bytes (zero-filled when `zero`), recording path, line,
 * description and size. Null when out of memory. A size of 0 gives a valid
 * 1-byte block. */
void* brelrt_alloc(size_t size, int zero, const char* path, int line, const char* description);
/* Like realloc; a null `ptr` allocates (description "reallocated block"). An
 * unknown pointer is reported to the trace and standard error and gives null. */
void* brelrt_realloc(void* ptr, size_t size, const char* path, int line);
/* Frees a tracked block; null is ignored; an unknown pointer is reported (trace
 * and standard error), counted, and not touched. */
void brelrt_free(void* ptr, const char* path, int line);
/* Tracked copy of a text (null gives null). */
char* brelrt_strdup(const char* text, const char* path, int line, const char* description);

/* Number of blocks still allocated. */
size_t brelrt_mem_outstanding(void);
/* Bytes still allocated: the sizes asked for of the blocks still allocated
 * (each block costs about 24 bytes more: its record and malloc's). */
size_t brelrt_mem_bytes(void);
/* The most bytes allocated at one time since the start or the last reset;
 * with `reset`, the count starts again from the bytes allocated now. */
size_t brelrt_mem_peak(int reset);
/* Writes one line per outstanding block ("path:line description (n bytes)")
 * to `out` (null: the trace); returns their number. */
size_t brelrt_mem_report(FILE* out);
/* Number of frees of unknown pointers so far. */
size_t brelrt_mem_bad_frees(void);
/* Test hook: the n-th allocation (alloc, realloc, strdup) from now fails,
 * counting from 1; 0 switches it off. */
void brelrt_mem_fail_nth(long n);

/* ---------------------------------------------------------- file streams */

/* Opens `name` with mode "r" or "w" (any fopen mode). With `translate`, the
 * name is first mapped as GnuCOBOL 3.1's runtime maps an ASSIGN name
 * (brelrt_translate_name). Null on failure (errno set). */
FILE* brelrt_fopen(const char* name, const char* mode, int translate);
int brelrt_fclose(FILE* stream);
int brelrt_fprintf(FILE* stream, const char* format, ...) BRELRT_PRINTF(2, 3);
/* Reads up to `n` bytes; returns the count (0 at end or on error). */
size_t brelrt_fread(FILE* stream, void* buffer, size_t n);
/* Removes a file (no translation); 0 on success. */
int brelrt_remove(const char* name);
/* The name a COBOL program's file of that ASSIGN name opens, mapped as
 * GnuCOBOL 3.1's runtime maps it (tracked copy, description "translated file
 * name"; null for a null name or out of memory):
 *   - A part of the name is looked up as the environment variables
 *     DD_<part>, dd_<part> and <part>, in that order, the first set and not
 *     empty giving its value; a "." in the part reads as "_" ("inv.xml":
 *     DD_inv_xml). A part that begins with "." is never looked up, nor is any
 *     part of a name that begins with "-" or a digit.
 *   - A name without "/" or "" (less a leading "$") is replaced by its value,
 *     else kept as written ("$INV" stays "$INV").
 *   - Otherwise the first part is replaced by its value (a first part "$VAR"
 *     that is not set is left out, with the separator after it); each later
 *     part written "$VAR" is replaced by its value or left out, and the
 *     separator after it is dropped, as the runtime drops it ("d/$V/f" with
 *     V=x gives "d/xf"). Parts are joined by "/"; empty parts are dropped.
 *   - A result that does not begin with "/" is put in the folder
 *     COB_FILE_PATH when that is set ("COB_FILE_PATH/result").
 * A value is used as it is, never looked up again. */
char* brelrt_translate_name(const char* name);

/* The most bytes a file read whole may hold: the BRELRT_CONFIG file and each
 * copybook (16 MiB). */
#define BRELRT_FILE_SIZE_MAX (16L * 1024 * 1024)

/* Fetches an "http://host[:port]/path" URL with HTTP/1.0 GET into a new
 * temporary file in $TMPDIR (default /tmp); returns its name (tracked,
 * description "URL local copy", free with brelrt_free; the caller removes the
 * file), or null. Only status 200 with the whole body is accepted. The body
 * may hold at most BRELRT_URL_MAX_MB megabytes, and connecting, sending and
 * receiving share one deadline of BRELRT_URL_TIMEOUT seconds. On any failure
 * (status, size, time, a body shorter than its Content-Length, a write error,
 * no memory) the temporary file is removed and a trace line at level 1 says
 * why. */
char* brelrt_url_fetch(const char* url);
/* Why the last brelrt_url_fetch failed, as its trace line says ("" after
 * one that did not). */
const char* brelrt_url_last_error(void);

/* The layout name of a file: its base name without folder and extension
 * ("/data/Orders.xml" gives "Orders"). Writes at most size-1 bytes; returns out. */
char* brelrt_layout_name(const char* file_name, char* out, size_t size);

/* Today's date as yyyymmdd (local time). */
int32_t brelrt_today(void);

/* ------------------------------------------------------- growable texts */

typedef struct BrelrtText BrelrtText;
BrelrtText* brelrt_text_new(const char* path, int line, const char* description);
void brelrt_text_free(BrelrtText* text, const char* path, int line);
/* The contents, always zero-terminated ("" when empty). Valid until the next change. */
const char* brelrt_text_data(const BrelrtText* text);
size_t brelrt_text_length(const BrelrtText* text);
/* Each returns 1, or 0 when out of memory (the text is then unchanged). */
int brelrt_text_append(BrelrtText* text, const char* data, size_t length);
int brelrt_text_append_str(BrelrtText* text, const char* data);
int brelrt_text_printf(BrelrtText* text, const char* format, ...) BRELRT_PRINTF(2, 3);
int brelrt_text_insert(BrelrtText* text, size_t position, const char* data, size_t length);
/* Removes `length` bytes from `position` (clamped to the text). */
void brelrt_text_erase(BrelrtText* text, size_t position, size_t length);
/* Cuts the text to `length` bytes (no-op when already shorter). */
void brelrt_text_truncate(BrelrtText* text, size_t length);

/* -------------------------------------------------- doubly linked lists */

typedef struct BrelrtListNode {
    struct BrelrtListNode* next;
    struct BrelrtListNode* prev;
    void* data;
} BrelrtListNode;

typedef struct BrelrtList {
    BrelrtListNode* first;
    BrelrtListNode* last;
    size_t count;
    const char* description;
} BrelrtList;

BrelrtList* brelrt_list_new(const char* path, int line, const char* description);
/* Frees the list and its nodes, not the data. */
void brelrt_list_free(BrelrtList* list, const char* path, int line);
/* Inserts `data` before `before` (null: at the end); returns the new node or null. */
BrelrtListNode* brelrt_list_insert(BrelrtList* list, BrelrtListNode* before, void* data);
BrelrtListNode* brelrt_list_append(BrelrtList* list, void* data);
/* Unlinks and frees a node of the list; returns its data. */
void* brelrt_list_remove(BrelrtList* list, BrelrtListNode* node);
/* Unlinks a node of the list without freeing it; returns its data. The
 * caller keeps the node: it links it again or frees it with brelrt_free. */
void* brelrt_list_unlink(BrelrtList* list, BrelrtListNode* node);
/* Links a node that is in no list (one brelrt_list_unlink gave back) before
 * `before` (null: at the end); returns it. Its data is left as it is. */
BrelrtListNode* brelrt_list_link(BrelrtList* list, BrelrtListNode* before, BrelrtListNode* node);

/* ---------------------------------------------- name/value pair arrays */

typedef struct BrelrtPair {
    void* name;
    void* value;
} BrelrtPair;

typedef struct BrelrtPairArray BrelrtPairArray;
BrelrtPairArray* brelrt_pairs_new(const char* path, int line, const char* description);
/* Frees the array, not what the pairs point at. */
void brelrt_pairs_free(BrelrtPairArray* pairs, const char* path, int line);
size_t brelrt_pairs_count(const BrelrtPairArray* pairs);
/* Pair k (0-based), null when k >= count. Valid until the array changes size. */
BrelrtPair* brelrt_pairs_at(BrelrtPairArray* pairs, size_t k);
/* Appends a pair; returns its index, or -1 when out of memory. */
long brelrt_pairs_append(BrelrtPairArray* pairs, void* name, void* value);
/* Removes pair k, later pairs moving down; 1, or 0 when k >= count. */
int brelrt_pairs_remove(BrelrtPairArray* pairs, size_t k);

/* ----------------------------------------------------------- hash tables */

/* A table of entries keyed by name. Entries are the caller's records; several
 * entries under one name are chained through the entry's third pointer-sized
 * word ((void**)entry)[2], the first entry being the chain's head. The
 * destructor is called once per name with the head of its chain, on clear
 * and on free; it frees the whole chain. */
typedef void (*BrelrtHashDestructor)(void* head);
typedef struct BrelrtHash BrelrtHash;

BrelrtHash* brelrt_hash_new(size_t buckets, BrelrtHashDestructor destructor, const char* path,
                            int line, const char* description);
/* Clears (destructor) and frees the table. */
void brelrt_hash_free(BrelrtHash* hash, const char* path, int line);
/* Runs the destructor on every chain and empties the table. */
void brelrt_hash_clear(BrelrtHash* hash);
/* The head of the chain for `key` (exact comparison), or null. */
void* brelrt_hash_find(const BrelrtHash* hash, const char* key);
/* Adds `entry` under `key` (the key is copied) in constant time, the table
 * growing as names are added. The entry's third word must be null (a fresh
 * entry): it stays null, the entry becoming the chain's end. Returns 1 when
 * the key was new, 2 when the entry was appended to the end of the existing
 * chain, 0 when out of memory or when the entry is already chained (its third
 * word set, or already the head or end of this key's chain; nothing changes). */
int brelrt_hash_add(BrelrtHash* hash, const char* key, void* entry);
/* Number of names in the table. */
size_t brelrt_hash_count(const BrelrtHash* hash);
/* The hash of `length` bytes as the tables compute it for their keys. */
size_t brelrt_hash_text(const char* data, size_t length);
/* brelrt_hash_find and brelrt_hash_add for a caller that has the key's hash
 * already: `key_hash` must be brelrt_hash_text of the key. */
void* brelrt_hash_find_hashed(const BrelrtHash* hash, const char* key, size_t key_hash);
int brelrt_hash_add_hashed(BrelrtHash* hash, const char* key, size_t key_hash, void* entry);
/* Calls fn(key, head, context) for every name, in no particular order. */
void brelrt_hash_each(const BrelrtHash* hash,
                      void (*fn)(const char* key, void* head, void* context), void* context);

/* -------------------------------------------------------- typed handles */

typedef void* BrelrtHandle; /* null is H_NULL */
typedef void (*BrelrtHandleDestructor)(void* record);

/* Registers a handle type with the size of its record and a destructor (may
 * be null); returns the type (> 0), or 0. Types live for the process. */
int brelrt_handle_register(size_t record_size, BrelrtHandleDestructor destructor, const char* name);
/* A new handle of `type` with a zero-filled record (tracked with the given
 * path, line, description); null on failure. */
BrelrtHandle brelrt_handle_new(int type, const char* path, int line, const char* description);
/* The record of a live handle of `type` (0: any type); null otherwise. Any
 * pointer may be passed: it is checked, never dereferenced blindly. */
void* brelrt_handle_record(BrelrtHandle handle, int type);
/* The type of a live handle, 0 when it is not one. */
int brelrt_handle_type(BrelrtHandle handle);
/* Runs the destructor on the record, then frees record and handle; 1, or 0
 * when it is not a live handle. The destructor may free other handles. */
int brelrt_handle_free(BrelrtHandle handle, const char* path, int line);

/* ------------------------------------------------------ double-byte text */

int brelrt_dbcs_active(void);                 /* BRELRT_DOUBLE_BYTE yes/no, read now */
int brelrt_dbcs_is_lead(unsigned char byte);  /* Shift-JIS lead: 81-9F, E0-FC */
int brelrt_dbcs_is_trail(unsigned char byte); /* Shift-JIS trail: 40-7E, 80-FC */
int brelrt_dbcs_is_blank(unsigned char lead, unsigned char trail); /* 81 40 */

/* ------------------------------------------------------ name conversion */

#define BRELRT_NAME_LOWER 4      /* fold ASCII letters to lower case */
#define BRELRT_NAME_UNDERSCORE 6 /* "-" becomes "_" */
#define BRELRT_NAME_ZERO_TERMINATED (-3)
/* Converts `length` bytes of `name` in place (-3: up to its zero). While
 * double-byte text is active, the trail byte of a Shift-JIS pair is left
 * alone. Returns the length converted, -1 for an unknown mode. */
int brelrt_name_convert(char* name, int length, int mode);
/* The same with the double-byte setting given (non-zero: active), for a
 * caller that looked BRELRT_DOUBLE_BYTE up once for many names. */
int brelrt_name_convert_dbcs(char* name, int length, int mode, int dbcs);
/* Compares two names, case ignored when `ignore_case`; <0, 0, >0. */
int brelrt_name_compare(const char* a, const char* b, int ignore_case);

/* ------------------------------------------------------- record layouts */

/* Type codes of a FieldDescriptor. Numeric: 1-14, 23, 30-33 (23 and 30-33
 * are reserved and not produced). Character: 16 and up.
 *
 *   0  numeric text "-123.45" (conversion source/destination only)
 *   1  DISPLAY unsigned                      9(5)V99
 *   2  DISPLAY, sign embedded in last byte   S9(5)  (+0x40 on the digit when negative)
 *   3  DISPLAY, SIGN TRAILING SEPARATE
 *   4  DISPLAY, sign embedded in first byte  SIGN LEADING
 *   5  DISPLAY, SIGN LEADING SEPARATE
 *   6  COMP-3 signed (sign nibble C / D)
 *   7  COMP-3 unsigned (sign nibble F)
 *   8  COMP / BINARY / COMP-4 signed, big-endian, 1 to 8 bytes (binary-size rule)
 *   9  COMP / BINARY / COMP-4 unsigned, big-endian
 *  10  COMP-5 signed, native byte order, 1 to 8 bytes
 *  11  COMP-5 unsigned, native byte order
 *  12  COMP-1, IEEE single, little-endian
 *  13  COMP-2, IEEE double, little-endian
 *  16  alphanumeric PIC X
 *  17  alphabetic PIC A
 *  18  group
 */
#define BRELRT_T_NUMTEXT 0
#define BRELRT_T_UNSIGNED 1
#define BRELRT_T_SIGN_TRAILING 2
#define BRELRT_T_SIGN_TRAILING_SEP 3
#define BRELRT_T_SIGN_LEADING 4
#define BRELRT_T_SIGN_LEADING_SEP 5
#define BRELRT_T_PACKED 6
#define BRELRT_T_PACKED_UNSIGNED 7
#define BRELRT_T_BINARY 8
#define BRELRT_T_BINARY_UNSIGNED 9
#define BRELRT_T_NATIVE 10
#define BRELRT_T_NATIVE_UNSIGNED 11
#define BRELRT_T_FLOAT 12
#define BRELRT_T_DOUBLE 13
#define BRELRT_T_ALPHANUMERIC 16
#define BRELRT_T_ALPHABETIC 17
#define BRELRT_T_GROUP 18

/* True for the numeric type codes 1-14, 23, 30-33. */
int brelrt_type_is_numeric(int type);

typedef struct FieldDescriptor {
    unsigned char* address; /* set by the caller before each conversion */
    int32_t size;           /* bytes */
    int16_t type;           /* type code above */
    uint8_t digits;         /* digits of the picture (COMP-1: 16, COMP-2: 24) */
    int8_t scale;           /* -n: n decimal places */
    int32_t flags;          /* one more word; 0 */
} FieldDescriptor;

#define BRELRT_USER_TYPE_BINARY 2  /* LayoutItem.user_type: binary data */
#define BRELRT_CONDITION_GROUP 999 /* LayoutItem.condition of a group item */
#define BRELRT_MAX_DEPTH 15        /* nesting of OCCURS tables */
#define BRELRT_NAME_MAX 63         /* longest data name, as GnuCOBOL */
#define BRELRT_NAME_SIZE 72

/* LayoutItem.flags. */
#define BRELRT_ITEM_REDEFINES                                                                      \
    0x1                         /* the entry has REDEFINES: `redefined` is the item it redefines */
#define BRELRT_ITEM_VARIANT 0x2 /* a redefining item that a *> WHEN selects */
#define BRELRT_ITEM_SHADOW 0x4  /* a REDEFINES without WHEN, or an item inside one */
#define BRELRT_ITEM_REDEFINED 0x8   /* later entries redefine this item */
#define BRELRT_ITEM_JUSTIFIED 0x10  /* JUSTIFIED RIGHT */
#define BRELRT_ITEM_EDITED 0x20     /* numeric-edited: `picture` holds its picture */
#define BRELRT_ITEM_BLANK_ZERO 0x40 /* BLANK WHEN ZERO */
#define BRELRT_ITEM_VARYING                                                                        \
    0x80 /* an occurrence of an OCCURS ... DEPENDING ON table: `depending` and `occurs_min` */

/*
 * How a layout describes storage, and what the plug-in does with it.
 *
 * Items. One item per field and per group, in the order of the copybook;
 * every occurrence of an OCCURS table is an item of its own, followed by its
 * children. An elementary FILLER has no item; a level-01 FILLER, and the
 * level-01 record that encloses a copybook written without one, are named
 * after the layout ("<layout>-rec", converted like every name), because the
 * root element already carries the layout's own name.
 *
 * Conditions. A comment line "*> WHEN field = literal" (literal: a number, a
 * quoted text or OTHER) stands before a level-01 record or before a
 * redefining item below level 01 (a record variant inside a record). The
 * condition's `item` names the item it selects: that record or that
 * redefining item, never the tested field (that is `tested`). The items
 * inside what it selects carry its number in `condition`; group items carry
 * 999. A field that some WHEN tests has condition 0: it is read before any
 * condition is evaluated.
 *
 * Redefinitions. An entry with REDEFINES is flagged BRELRT_ITEM_REDEFINES
 * and `redefined` names the item whose storage it describes again (its first
 * description, flagged BRELRT_ITEM_REDEFINED).
 *   - With a WHEN (BRELRT_ITEM_VARIANT) it is a variant of that storage: the
 *     writer puts, in the first description's place, the first variant whose
 *     condition holds, or the first description itself when none holds; the
 *     DTD and the schema offer the first description and its variants as a
 *     choice.
 *   - Without a WHEN it is one storage seen twice: the item and everything
 *     inside it are flagged BRELRT_ITEM_SHADOW, and the writer, the reader
 *     and the DTD and schema generators skip them; only the first
 *     description is written and read.
 * Walking a group's children, the writer and the generators skip every
 * entry flagged BRELRT_ITEM_REDEFINES: variants come in through their first
 * description, shadows never.
 *
 * A REDEFINES without WHEN of a group made only of FILLER turns the roles
 * round: the FILLER group describes no data, so the redefining entry is the
 * description written and read (flagged BRELRT_ITEM_REDEFINED), and the
 * FILLER group becomes the second view (BRELRT_ITEM_REDEFINES and
 * BRELRT_ITEM_SHADOW, `redefined` naming the entry after it).
 *
 * Tables of variable length. Each occurrence item of an "OCCURS min TO max
 * DEPENDING ON counter" table is flagged BRELRT_ITEM_VARYING; `occurs_min`
 * is min (the OCCURS count, max, is in occurs_count), and `depending` the
 * index of the counter's item, or -1 when the counter is not in the record
 * (a WORKING-STORAGE item): the record's length then says how many
 * occurrences it holds. The table is laid out at its maximum.
 *
 * Binary data. A comment line "*> BINARY" before an elementary item gives it
 * user type 2: its bytes are written as hexadecimal text.
 *
 * Justification and editing. JUSTIFIED RIGHT sets BRELRT_ITEM_JUSTIFIED.
 * A numeric-edited item (a picture with editing symbols and no X or A, or a
 * numeric DISPLAY item with BLANK WHEN ZERO) is character data of type 16
 * flagged BRELRT_ITEM_EDITED, with its picture in `picture` (upper case, as
 * written) and BRELRT_ITEM_BLANK_ZERO for BLANK WHEN ZERO.
 */
typedef struct LayoutItem {
    int32_t offset;        /* in the record */
    FieldDescriptor field; /* the field (for a group: its whole size, type 18) */
    int16_t user_type;     /* 2: binary data, from a "*> BINARY" comment */
    int16_t condition;     /* 0 none, k: inside what condition k selects, 999 group */
    int16_t level;         /* 1 to 49 */
    /* Entries 1 to depth (entry 0 is unused and 0), outermost table first. */
    int16_t occurs_count[BRELRT_MAX_DEPTH + 1]; /* OCCURS count of each enclosing table */
    int16_t occurrence[BRELRT_MAX_DEPTH + 1];   /* this item's occurrence in it, from 1 */
    uint16_t flags;                             /* BRELRT_ITEM_* */
    int32_t depth;                              /* number of enclosing tables */
    char name[BRELRT_NAME_SIZE];                /* lower case, "-" as "_" */
    void* scratch;                              /* free for the caller */
    int16_t redefined;                          /* with BRELRT_ITEM_REDEFINES: the item redefined */
    int16_t depending;  /* with BRELRT_ITEM_VARYING: the counter's item, -1 outside the record */
    int16_t occurs_min; /* with BRELRT_ITEM_VARYING: the table's least count */
    int16_t spare;
    const char* picture; /* with BRELRT_ITEM_EDITED: the picture; else null */
} LayoutItem;

/* 128 bytes; the selected item's index at byte 120, the result at byte 124. */
typedef struct ConditionEntry {
    char literal[100];      /* the literal as written, without quotes */
    int32_t literal_length; /* bytes of literal */
    int16_t tested;         /* index of the field the condition tests (-1 for OTHER) */
    int16_t numeric;        /* 0 text literal, 1 numeric literal, 2 OTHER */
    int32_t reserved[3];
    int16_t
        item; /* index of the item the condition selects: a level-01 record or a redefining item */
    int16_t spare;
    uint8_t result; /* bit 0: held at the last B4TestCOBOLCond */
    uint8_t pad[3];
} ConditionEntry;

#define BRELRT_LAYOUT_MULTIPLE 1 /* RecordLayout.flags: several record types */

/* The largest record a layout may describe: 64 MiB (67,108,864 bytes). A
 * copybook whose record (or any picture) is larger, or whose record has no
 * size, gives no layout; the error names the line. */
#define BRELRT_RECORD_SIZE_MAX (64L * 1024 * 1024)

typedef struct RecordLayout {
    char name[82];              /* layout name: the root element's name */
    int16_t condition_count;    /* conditions 1..count at conditions[k-1] */
    ConditionEntry* conditions; /* null when none */
    int32_t field_count;        /* the items that describe fields: all of them */
    LayoutItem* items;
    int32_t item_count;
    int32_t flags;       /* bit 0: several record types */
    int32_t record_size; /* size of the record area: the largest record */
    int32_t record_count;
    char* pictures; /* the storage of the items' pictures (null when none) */
} RecordLayout;

/* Text of the last copybook error ("file:line: what", or every place a
 * layout was looked for), "" when none. */
const char* brelrt_xfd_last_error(void);
/* The copybook file B4ParseXFD read its last layout from, whether the layout
 * was good or not ("" when it found none): what a caller names when a layout
 * turns out not to be the one it needed. */
const char* brelrt_xfd_last_file(void);

/* How the layouts parsed from now on size COMP, BINARY, COMP-4 and COMP-5
 * items, as cobc's -fbinary-size and the dialects' binary-size do:
 *   "1-2-4-8"  GnuCOBOL's default: 1 to 2 digits 1 byte, 3 to 4 digits 2,
 *              5 to 9 digits 4, 10 to 18 digits 8;
 *   "2-4-8"    -std=ibm, mvs, rm, bs2000: the same, but COMP, BINARY and
 *              COMP-4 of 1 to 2 digits take 2 bytes (COMP-5 keeps 1);
 *   "1--8"     -std=mf: the fewest bytes (1 to 8) that hold every value of
 *              the picture's digits, signed or not (S9(6): 3 bytes, 9(7): 3).
 * Returns 1, or 0 for any other rule (nothing changes). The rule set wins
 * over the variable BRELRT_BINARY_SIZE (same values), whose default is
 * 1-2-4-8; a value of the variable that names no rule makes every layout
 * fail, the error saying why. */
int brelrt_set_binary_size(const char* rule);
/* The rule layouts are sized by now ("1-2-4-8", "2-4-8" or "1--8"); null
 * while BRELRT_BINARY_SIZE names no rule and none was set. */
const char* brelrt_binary_size(void);
/* Parses a copybook from a file path directly (the same rules as B4ParseXFD). */
RecordLayout* brelrt_parse_copybook(const char* path, const char* layout_name);

/* ------------------------------------------------------- host entries */

/* Reads the copybook of layout `name`: <BRELRT_XFD_DIR>/<name>.xfd, else,
 * in each folder of COBCPY in turn, <name> with the suffixes .xfd, then
 * those cobc tries: none, .CPY, .CBL, .COB, .cpy, .cbl, .cob. With each
 * suffix the name is tried as given, in lower case, then in upper case. `version` (14) is the
 * layout version the caller understands; `name_max` (30) is not applied:
 * names are kept whole, up to BRELRT_NAME_MAX characters, so two fields
 * never share a name by truncation. Null when there is no such file (the
 * error names every place looked at) or it has an error (see
 * brelrt_xfd_last_error). OCCURS min TO max [DEPENDING ON] tables, min
 * from 0, are laid out at their maximum. */
RecordLayout* B4ParseXFD(const char* name, int version, int name_max);
int B4XFDFree(RecordLayout* layout);
/* Evaluates condition cond_no (1-based) against the record; sets or clears
 * bit 0 of its result. Returns 1 when it holds, 0 when not, -1 for a bad
 * number or layout. */
int B4TestCOBOLCond(RecordLayout* layout, int cond_no, const unsigned char* record);
/* The program's decimal-point character in the low byte. */
int B4PgmPeriod(void);
/* Converts the value of src into dst's form (MOVE rules: high-order digits
 * beyond the destination are lost, low-order decimals are cut). `mode` is 1.
 * Returns 0, -1 for an invalid source value (also one with more than 512
 * digits from its first to its last that is not zero), -2 for types it
 * cannot convert. Allocates nothing. */
int Bconvert(FieldDescriptor* dst, const FieldDescriptor* src, int mode);
/* Bconvert, saying what the destination could not hold: *lost (when not
 * null) gets BRELRT_LOST_DIGITS when digits above the destination's places
 * that are not zero were lost, BRELRT_LOST_DECIMALS when decimals that are
 * not zero were cut, BRELRT_LOST_SIGN when a negative value went into a
 * field without a sign (floating-point destinations lose nothing here); 0
 * when the value went in whole, and after a failure. */
#define BRELRT_LOST_DIGITS 1
#define BRELRT_LOST_DECIMALS 2
#define BRELRT_LOST_SIGN 4
int brelrt_convert(FieldDescriptor* dst, const FieldDescriptor* src, int* lost);
/* File operations, names translated; 0 on success, -1 with errno in the
 * secondary error word. */
int f_remove(const char* name);
int f_rename(const char* from, const char* to);
int f_copy(const char* from, const char* to);

/* The entries a plug-in never calls: they do nothing and return 0. */
long BTrace(void);
long B4MatchFDInfotoXFD(void);
long B4FreeTable(void);
long B4MatchDBColstoXFD(void);
long B4ConvertDateTime(void);
long B4TestData(void);
long B4TestDatap(void);
long B4CheckExtraWhere(void);
long B4ParseErrorFile(void);
long B4DefineSuffixes(void);
long B4RemoveSuffix(void);
long B4FillWhereMagic(void);
long B4MatchDBKeystoXFD(void);
long B4FindColumn(void);
long B4make_sql_name(void);
long B4fill_nines(void);
long B4build_key(void);
long B4free_string(void);
long B4TransactionTrace(void);
long B4CurTrace(void);
long cvt_8_decimal(void);
long w_message_box(void);
long i_open(void);
long i_close(void);
long i_info(void);
long i_write(void);
long i_start(void);
long i_next(void);
long i_read(void);
long i_delete(void);

/* The 38 host entries in the order of a plug-in's host entry table: the one
 * list of their names. X(name) is applied to each. */
#define BRELRT_HOST_ENTRY_LIST(X)                                                                  \
    X(BTrace)                                                                                      \
    X(B4XFDFree)                                                                                   \
    X(B4ParseXFD)                                                                                  \
    X(B4MatchFDInfotoXFD)                                                                          \
    X(B4FreeTable)                                                                                 \
    X(B4MatchDBColstoXFD)                                                                          \
    X(B4TestCOBOLCond)                                                                             \
    X(B4ConvertDateTime)                                                                           \
    X(B4TestData)                                                                                  \
    X(B4TestDatap)                                                                                 \
    X(B4PgmPeriod)                                                                                 \
    X(B4CheckExtraWhere)                                                                           \
    X(B4ParseErrorFile)                                                                            \
    X(B4DefineSuffixes)                                                                            \
    X(B4RemoveSuffix)                                                                              \
    X(B4FillWhereMagic)                                                                            \
    X(B4MatchDBKeystoXFD)                                                                          \
    X(B4FindColumn)                                                                                \
    X(B4make_sql_name)                                                                             \
    X(B4fill_nines)                                                                                \
    X(B4build_key)                                                                                 \
    X(B4free_string)                                                                               \
    X(B4TransactionTrace)                                                                          \
    X(B4CurTrace)                                                                                  \
    X(Bconvert)                                                                                    \
    X(cvt_8_decimal)                                                                               \
    X(f_rename)                                                                                    \
    X(f_remove)                                                                                    \
    X(f_copy)                                                                                      \
    X(w_message_box)                                                                               \
    X(i_open)                                                                                      \
    X(i_close)                                                                                     \
    X(i_info)                                                                                      \
    X(i_write)                                                                                     \
    X(i_start)                                                                                     \
    X(i_next)                                                                                      \
    X(i_read)                                                                                      \
    X(i_delete)

/* The 38 host entries in table order, for a runtime that hands them to a
 * plug-in (dlsym on each name works as well). */
typedef struct BrelrtHostEntry {
    const char* name;
    void (*function)(void);
} BrelrtHostEntry;
#define BRELRT_HOST_ENTRY_COUNT 38
extern const BrelrtHostEntry brelrt_host_entries[BRELRT_HOST_ENTRY_COUNT];

#ifdef __cplusplus
}
#endif

/* Numeric-edited fields: editing a number into a picture, and back. */
#include "brelrt_edit.h"

#endif /* BRELRT_H */
