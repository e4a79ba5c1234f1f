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

/* Records the program's binary-size rule ("1-2-4-8", "2-4-8" or "1--8", as
 * cobc's -fbinary-size=), which the host then applies to every layout. The
 * object scripts/cobc-xml links into a program calls it before main; the
 * last call before the first OPEN of an XML file wins. */
BXMLFH_EXPORT void bxmlfh_binary_size(const char* rule);

#ifdef __cplusplus
}
#endif

#endif /* BXMLFH_H */
