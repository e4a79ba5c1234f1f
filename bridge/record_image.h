// The record area as INITIALIZE leaves it: what a READ starts from, so that
// a field whose element the document lacks reads as empty, never as the
// previous record's bytes.
#pragma once

#include "libraries.h"

namespace extfh {

// Fills the layout's record_size bytes of `image` as INITIALIZE of the
// level-01 record `record` leaves them: spaces, and zero (through the
// host's conversion) in every numeric field of that record; a REDEFINES
// takes the value of the storage it redefines. FILLER bytes, and bytes
// beyond the record, are spaces.
void make_record_image(const Host& host, const RecordLayout& layout, int record,
                       unsigned char* image);

} // namespace extfh
