// The sales layout of the XML benchmarks: 20 fields (character, DISPLAY,
// COMP-3 and COMP fields, a table of 5 groups), 1000 different records
// filled as a program would, and a document of them written through
// bxml32 as the runtime writes it.
#pragma once

#include "measure.h"

#include <brelrt.h>

#include <chrono>
#include <string>
#include <vector>

namespace sales {

extern const char kLayout[];

// Writes kLayout as <dir>/sales.xfd and points the host at it; hands the
// plug-in its host entries and registers its configuration.
void set_up(const std::string& dir);

// 1000 different records of the layout.
std::vector<std::string> make_records(RecordLayout* layout);

using bench::seconds_since;

struct Figures {
    double seconds;
    size_t bytes;
};

// Writes `count` records (the 1000 over and over) to `file` through
// xml_sopen, xml_swrite and xml_sclose; exits on a failure.
Figures write_document(const std::string& file, long count,
                       const std::vector<std::string>& records);

// The whole file in memory.
std::string read_document(const std::string& file, size_t bytes);

using bench::reset_peak;
using bench::status_kb;

} // namespace sales
