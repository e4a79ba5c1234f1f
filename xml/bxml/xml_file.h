/*
 * xml_file.h - the record of an open XML file ("XML file pointer"), made by
 * xml_sopen and released by xml_sclose.
 *
 * Output: the prologue, and then each record, are built whole in `out`
 * before they go to the stream, so a record that cannot be written leaves
 * nothing of itself in the document. `out` is written to the stream (which
 * is unbuffered) whenever it holds more than BXML_FLUSH_SIZE bytes, and at
 * close; a failed write names the records it lost.
 */
#ifndef BXML_XML_FILE_H
#define BXML_XML_FILE_H

#include "bxml/output.h"
#include "bxml/text_check.h"
#include "handlers/xml_parser.h"

#include <brelrt.h>

#include <stdint.h>
#include <stdio.h>

#define BXML_FLUSH_SIZE 65536

/* The first eleven words as the runtime's plug-ins have them; the rest are
 * additions of this library. */
typedef struct XmlFile {
    int32_t reserved;      /* 0 */
    RecordLayout* layout;  /* 1 */
    XmlParser* parser;     /* 2 input only */
    char* local_copy;      /* 3 the local copy of a file fetched by URL, else null */
    FILE* stream;          /* 4 */
    int32_t mode;          /* 5 open mode as given (low two bits: 0 input, 1 output) */
    int32_t arguments[4];  /* 6 to 9: open arguments 3 to 6 */
    int32_t argument8;     /* 10 */
    char* name;            /* the file name as given ("XML file name") */
    bxml::OutBuffer out;   /* output not yet written to the stream */
    bxml::TextCheck check; /* what character data the document's encoding carries */
    bxml::Tags tags;       /* output: the tags of every item */
    long records;          /* records written so far (read so far, on input) */
    long first_pending;    /* the first record whose bytes are still in `out` */
    long written;          /* output: the records that reached the stream whole */
    long writes;           /* output: calls of xml_swrite so far */
    size_t* ends;          /* output: where each record still in `out` ends in it */
    size_t ends_count;
    size_t ends_capacity;
    int write_error;       /* errno of a failed write to the stream; 0 while none */
    size_t* item_hashes;   /* input: the hash of each item's name, made by the first read */
    int32_t* item_parents; /* input: each item's parent item (-1 for a record), then a byte
                              a item: 1 when another item of its record has its name under
                              a parent of another name (made by the first read) */
    int last_record;       /* input: the level-01 item of the last record read, -1 before */
    BxmlNoticeFn notice;   /* input: the runtime's receiver of notices, null when none */
    void* notice_context;
} XmlFile;

/* True for a file opened for output. */
inline bool xml_file_output(const XmlFile* file) {
    return (file->mode & 3) == 1;
}

#endif /* BXML_XML_FILE_H */
