// The internal DTD and the separate XML Schema of an output file, both
// derived from the record layout alone. Each generation has its own
// duplicate-name table ("XML elements"): an element is declared once.
#pragma once

#include "bxml/output.h"

#include <brelrt.h>

namespace bxml {

// Appends "<!DOCTYPE layout [ ... ]>\n", or with `wrapped` false only the
// element declarations (a standalone .dtd). False only when out of memory.
bool write_dtd(OutBuffer& out, RecordLayout* layout, bool wrapped = true);

// Appends the whole schema document. `encoding` (null or empty: none) goes
// into its declaration, `documentation` (null: none) into its annotation.
// False only when out of memory.
bool write_schema(OutBuffer& out, RecordLayout* layout, const char* encoding,
                  const char* documentation);

// The W3C XML Schema (2001) namespace name.
inline constexpr const char* kSchemaNamespace = "http://www.w3.org/2001/XMLSchema";

// "BrelXML(tm)", and the date line of the prologue and the schema.
inline constexpr const char* kProductName = "BrelXML(tm)";

} // namespace bxml
