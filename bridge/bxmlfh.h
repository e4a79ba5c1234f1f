/*
 * bxmlfh.h - libbxmlfh.so, the GnuCOBOL file handler that keeps the records
 * of sequential files as XML documents.
 *
 * A program compiled with `cobc -fcallfh=bxmlfh` (scripts/cobc-xml adds it,
 * with the link flags) sends every file statement here. The handler owns the
 * ORGANIZATION SEQUENTIAL and LINE SEQUENTIAL files whose name, mapped as
 * libcob maps an ASSIGN name, ends in ".xml" (case ignored); every other file
 * goes on to libcob's own EXTFH unchanged, decided once per OPEN.
 *
 * For the files it owns it plays the runtime's part for libbxml32.so: it
 * loads libbrelrt.so and libbxml32.so from its own folder, hands the plug-in
 * the host entries by name, registers the configuration, and maps OPEN INPUT
 * and OPEN OUTPUT, READ, WRITE and CLOSE onto xml_sopen, xml_sread,
 * xml_swrite and xml_sclose, answering in the FCD's two status characters as
 * libcob answers for a sequential file. Reasons of failures go to standard
 * error, one line each, beginning "bxmlfh: ".
 *
 * Configuration (environment, else the BRELRT_CONFIG file):
 *   BXMLFH_SUFFIX            the end of a mapped name that makes a file an
 *                            XML file (default ".xml"; case ignored)
 *   BXMLFH_LAYOUT_<assign>   the layout of the file of that ASSIGN name (every
 *                            character other than a letter, digit or "_"
 *                            written as "_"); by default the mapped name's
 *                            base ("/data/inv.xml": inv)
 *   BXMLFH_STRICT            yes: a READ that changed or passed over a value
 *                            of the document answers 30 (default no: 00,
 *                            the change said on standard error)
 *   BXMLFH_HOLD              yes: up to 64 KB of records wait in memory
 *                            before they go to the file (default no: each
 *                            record is handed to the kernel before its
 *                            WRITE answers)
 *
 * Plain C ABI. Nothing here throws. One thread at a time, as libcob.
 */
#ifndef BXMLFH_H
#define BXMLFH_H

#include <stddef.h>

#include <libcob.h>

#if defined(__GNUC__)
#define BXMLFH_EXPORT __attribute__((visibility("default")))
#else
#define BXMLFH_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The handler: one file statement. The outcome is in fcd->fileStatus; the
 * return value is 0 (libcob ignores it). */
BXMLFH_EXPORT int bxmlfh(unsigned char* opcode, FCD3* fcd);

/* The statement hook that scripts/cobc-xml puts between a program and
 * libcob: its header makes the program call these in place of libcob's
 * cob_extfh_open and cob_extfh_write, which they call. They tell the
 * handler what the FCD does not: whether the FD has RECORD VARYING ...
 * DEPENDING ON, and the size of the 01 a WRITE names (the record
 * description written, told apart by its length where a copybook has
 * several without "*> WHEN"). */
BXMLFH_EXPORT void bxmlfh_extfh_open(int (*callfh)(unsigned char* opcode, FCD3* fcd), cob_file* f,
                                     const int mode, const int sharing, cob_field* status);
BXMLFH_EXPORT void bxmlfh_extfh_write(int (*callfh)(unsigned char* opcode, FCD3* fcd), cob_file* f,
                                      cob_field* record, const int options, cob_field* status,
                                      const unsigned int check_eop);

/* Records the program's binary-size rule ("1-2-4-8", "2-4-8" or "1--8", as
 * cobc's -fbinary-size=), which the host then applies to every layout. The
 * object scripts/cobc-xml links into a program calls it before main; the
 * last call before the first OPEN of an XML file wins. */
BXMLFH_EXPORT void bxmlfh_binary_size(const char* rule);

#ifdef __cplusplus
}
#endif

#endif /* BXMLFH_H */
