/*
 * xml_parser.h - the incremental parser over expat that builds the element
 * tree, one markup item at a time.
 *
 * The document is never loaded whole: one fixed buffer is refilled in
 * 32000-byte reads and expat is handed the bytes up to the next ">", so each
 * step ends right after one tag (or declaration, or comment) was parsed and
 * its callbacks have run. The caller looks at the element depth between
 * steps.
 */
#ifndef BXML_XML_PARSER_H
#define BXML_XML_PARSER_H

#include "bxml32.h"
#include "elements/xml_element.h"

#include <brelrt.h>
#include <expat.h>

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Parser flags. */
#define BXML_CASE_MASK 0x3          /* case mode 1, 2 or 3 (name normalisation) */
#define BXML_PARSE_WHOLE 0x4        /* parser API: parse the whole document on open */
#define BXML_TAGS 0x8               /* start and end tags */
#define BXML_CHARACTER_DATA 0x10    /* character data */
#define BXML_PROCESSING 0x20        /* processing instructions (traced only) */
#define BXML_COMMENTS 0x40          /* comments */
#define BXML_CDATA 0x80             /* CDATA section marks (traced only) */
#define BXML_DEFAULT 0x100          /* default handler (traced only) */
#define BXML_EXTERNAL_ENTITY 0x200  /* external entity references (traced) */
#define BXML_UNKNOWN_ENCODING 0x400 /* unknown encodings (traced, refused) */
#define BXML_DOCTYPE 0x800          /* document type declaration (name kept) */
#define BXML_ELEMENT_DECL 0x1000    /* element declarations (kept) */
#define BXML_ATTLIST_DECL 0x2000    /* attribute-list declarations (traced only) */
#define BXML_ENTITY_DECL 0x4000     /* entity declarations (traced only) */
#define BXML_UNPARSED_DECL 0x8000   /* unparsed entity declarations (traced only) */
#define BXML_NOTATION_DECL 0x10000  /* notation declarations (traced only) */
#define BXML_ELEMENT_HASH 0x20000   /* element hash */
#define BXML_LOCAL_NAMES 0x40000    /* element names without their namespace prefix */

/* The flags of a sequential input file, with the case mode added: elements
 * are matched by their local names, whatever prefix a partner gives them. */
#define BXML_SOPEN_FLAGS 0x65C18

/* Case modes: 1 lower case and "-" as "_", 2 "-" as "_", 3 unchanged. */
#define BXML_CASE_FOLD 1
#define BXML_CASE_UNDERSCORE 2
#define BXML_CASE_KEEP 3

#define BXML_PARSE_BUFFER_SIZE 32001
#define BXML_PARSE_READ_SIZE 32000
#define BXML_DECL_NAME_MAX 255

/* What a record file never needs, refused with a parse error so that a
 * hostile document costs little: deeper nesting, more than 1 MB without a
 * ">" (one tag, comment, declaration or text), more declarations, open
 * elements whose names hold more than 1 MB in all (expat keeps the name of
 * every open element). */
#define BXML_DEPTH_MAX 1024
#define BXML_RUN_MAX (1024 * 1024)
#define BXML_DECLARATIONS_MAX 10000
#define BXML_OPEN_NAMES_MAX (1024 * 1024)

/* What the sequential reader keeps of each record (see xml_parser_keep_only
 * in handlers/callbacks.h); null for every other parser. */
typedef struct XmlKeep XmlKeep;

/* An element declaration kept in a parser's declaration table, keyed by the
 * declared name; several declarations of one name are chained through `next`. */
typedef struct XmlModel {
    char* name;            /* at most 255 characters, lower case */
    XML_Content* model;    /* expat's content model (one block) */
    struct XmlModel* next; /* third word: the hash chain */
} XmlModel;

/* "XML Parser information": the first 13 words are the parser's state; the
 * words after them are additions of this library. */
typedef struct XmlParser {
    XML_Parser expat;             /* 0 */
    char* doctype_name;           /* 1 the document type name, null when none */
    uint32_t flags;               /* 2 */
    char* buffer;                 /* 3 "XML parser buffer", 32001 bytes */
    size_t next;                  /* 4 position of the next unparsed byte */
    size_t end;                   /* 5 end of the data in the buffer */
    int32_t depth;                /* 6 element depth */
    BrelrtHandle root;            /* 7 root element */
    BrelrtHandle current;         /* 8 current element */
    BrelrtHash* elements;         /* 9 element hash ("XML parser elements"), flag 0x20000 */
    BrelrtHash* models;           /* 10 element declarations ("XML Models") */
    BrelrtText* top_comments;     /* 11 "XML Comments at top level" */
    BrelrtText* pending_comments; /* 12 "XML Comments for element" */
    /* Text in memory read in place of a stream (see xml_parser_set_input). */
    const char* input;
    size_t input_length;
    size_t input_position;
    /* Set when a callback ran out of memory (14) or refused the document
       (19, `refusal` says why): expat was stopped, and every further step
       reports this file error again. */
    int16_t stopped;
    const char* refusal;
    /* Declarations seen so far, and bytes handed to expat since the last ">". */
    uint32_t declarations;
    size_t run;
    /* How trailing blanks of element texts are recognised (bxml::Blanks). */
    uint8_t blanks;
    /* Set for the sequential reader: element texts and names are turned
       from expat's UTF-8 into the program's encoding as they end
       (`converting` when that encoding is not UTF-8). */
    uint8_t document_texts;
    uint8_t converting;
    /* The encoding the document declares (cut to 39 bytes), "" when none. */
    char encoding[40];
    /* The conversion of document_texts (a bxml::TextEncoder), null before. */
    void* encoder;
    /* Set once records are parsed from whole chunks: the end of a record
       (or of the root element) suspends expat. */
    uint8_t records;
    /* Elements of records already read, for the next records. */
    ElementPool pool;
    /* How the data ended once the final call was made: 8, or 19 for a
       document cut off after its root element started; 0 before. */
    int16_t ended;
    /* The record of `current` while expat runs: looked up as each step
       begins (the caller may have freed elements between steps), then kept
       with `current` by the callbacks. */
    XmlElement* current_element;
    /* BRELRT_DOUBLE_BYTE as the parser's creation, and then each record and
       each parse to the end, looked it up: names are converted with it. */
    uint8_t dbcs;
    /* Set by the sequential reader for BXML_KEEP_LEADING_BLANKS: a kept
       element's text keeps the blanks it begins with. */
    uint8_t keep_leading;
    /* Bytes of the names of the open elements. */
    size_t open_names;
    XmlKeep* keep;
} XmlParser;

/* Creates a parser with `flags`; null with the file-error word at 14 when
 * out of memory. */
BXML_EXPORT XmlParser* xml_create_parser(uint32_t flags);

/* Makes the parser read `length` bytes at `data` (which must stay valid)
 * whenever a step is given no stream. */
BXML_EXPORT void xml_parser_set_input(XmlParser* parser, const char* data, size_t length);

/* One step: parses up to and including the next ">". Returns the file-error
 * word it left: 0 when a ">" was parsed, 8 at the end of the data, 14 out of
 * memory, 19 a parse error (secondary error 5, expat's code in the
 * parse-error-code word, its message as the error text). */
BXML_EXPORT int xml_parse_to_next(XmlParser* parser, FILE* stream);

/* Parses all that is left; returns 8 at the end, else 14 or 19 as above. */
BXML_EXPORT int xml_parse_to_end(XmlParser* parser, FILE* stream);

/* From now on, element texts and names are turned into `encoding` (the
 * program's; null or empty: UTF-8, no conversion), and its double-byte
 * blanks are trimmed (the sequential reader). A character the encoding
 * lacks becomes "?" and flags its element BXML_ELEMENT_LOSSY. False when
 * out of memory or when the encoding cannot be converted into (texts then
 * stay UTF-8). */
BXML_EXPORT int xml_parser_document_texts(XmlParser* parser, const char* encoding);

/* Parses on until the next child of the root element is complete: past
 * whatever lies between records, then through the record. 0 when it is
 * complete; 8 when the root element has ended and nothing but comments,
 * processing instructions and white space follows it (file-error word 8);
 * else the error of the step (14, or 19, which includes a document cut off
 * after its last complete record and anything else after the root). */
BXML_EXPORT int xml_parse_record(XmlParser* parser, FILE* stream);

/* xml_parse_record for a routine that traced its entry: when no record
 * comes, traces the routine's leaving ("Leaving, EOF", or "Leaving, parse to
 * next > error") and returns 0; 1 when the record is complete. */
BXML_EXPORT int xml_next_record_or_leave(XmlParser* parser, FILE* stream);

/* The record just read (the root's first child) with its subtree goes,
 * its hash entries first: only the root stays, and is current again. */
BXML_EXPORT void xml_parser_drop_record(XmlParser* parser);

/* Frees the parser with its buffer, hash, declaration table, document type
 * name, comments and the whole tree from its root. Null is ignored. */
BXML_EXPORT void xml_free_parser(XmlParser* parser);

#ifdef __cplusplus
}
#endif

#endif /* BXML_XML_PARSER_H */
