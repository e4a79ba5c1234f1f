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

// Notes that a record ends where `out` ends now, so that a write that fails
// part way tells the records that reached the stream whole from those
// lost. False when out of memory (nothing noted: the caller writes out at
// once).
bool note_record_end(XmlFile* file);

} // namespace bxml
