// What the file operations share: writing out what an output file holds,
// and the host entries they call.
#pragma once

#include "bxml/xml_file.h"

namespace bxml {

// Writes what `out` holds to the stream. A failed write sets the file-error
// word to 34 and the secondary error to its errno, traces which records
// were lost, and marks the file so that later writes fail at once (again
// with 34 and that errno). True when all was written.
bool flush_output(XmlFile* file, const char* routine);

} // namespace bxml
