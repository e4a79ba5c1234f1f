/*
 * parser_handle.h - the record behind a parser handle of the exported API:
 * a parser with the source it reads (a file, a fetched URL's local copy,
 * standard input or text in memory).
 */
#ifndef BXML_PARSER_HANDLE_H
#define BXML_PARSER_HANDLE_H

#include "handlers/xml_parser.h"

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#define BXML_SOURCE_LOCAL_COPY 0x1 /* the source is a fetched local copy, removed on free */
#define BXML_SOURCE_OWN_STREAM 0x2 /* the stream was opened here and is closed on free */

/* Four words; the destructor frees the parser, removes and frees the local
 * copy or frees the name, and closes the stream as the flags say. */
typedef struct ParserHandle {
    XmlParser* parser;
    FILE* stream;
    char* source;
    uintptr_t flags;
} ParserHandle;

#ifdef __cplusplus
}
#endif

#endif /* BXML_PARSER_HANDLE_H */
