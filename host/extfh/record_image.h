// The record area as INITIALIZE leaves it: what a READ starts from, so that
// a field whose element the document lacks reads as empty, never as the
// previous record's bytes.
#pragma once

#include "libraries.h"

namespace extfh {

// Fills the layout's record_size bytes of `image`: spaces, and zero (through
// the host's conversion) in every numeric field of every level-01 record;
// a byte that several records describe takes the first one's value, and a
// REDEFINES takes that of the storage it redefines. FILLER bytes are spaces.
void make_record_image(const Host& host, const RecordLayout& layout, unsigned char* image);

} // namespace extfh
