// Which record description of a copybook a WRITE wrote. A copybook with
// several level-01 records says it with "*> WHEN" lines, or, for the
// records without one, by their lengths: the length of the 01 a WRITE names
// tells it where no two such records can have the same length.
#pragma once

#include "libraries.h"

#include <cstddef>

namespace extfh {

// What a WRITE of the program tells about the record it writes, beyond its
// FCD: known only for a program built with scripts/cobc-xml, whose
// statements pass through the hook (see bxmlfh.h).
struct StatementFacts {
    bool known = false;     // the statement came through the hook
    bool depending = false; // the FD has RECORD VARYING ... DEPENDING ON
    size_t record_size = 0; // WRITE: the size of the 01 it names
};

// The facts of the statement in progress (a copy; `known` false outside
// the hook).
StatementFacts statement_facts();

// At OPEN OUTPUT: whether the records a WRITE may write can be told apart.
// Records with a WHEN are told by it; those without one by their length,
// which must be certain (`facts` known) and must differ between every two
// of them (ranges for records holding an OCCURS DEPENDING ON table).
// `copybook` names the copybook file for the message. True, with
// *by_length set when lengths tell; false with the reason in `why`.
bool records_told_apart(const Plugin& plugin, const RecordLayout& layout,
                        const StatementFacts& facts, const char* copybook, bool* by_length,
                        char* why, size_t size);

// The level-01 record a WRITE of `length` bytes wrote (`named`: the size of
// the 01 the WRITE names, 0 when unknown): the first record whose WHEN
// holds; else the one record without WHEN, or, told by length, the record
// without WHEN whose lengths hold `named` (or `length`). -1 to leave the
// choice to the plug-in (a layout of one record, or one whose records all
// have a WHEN and none holds); -2 when none fits (`why` says so).
int record_written(const Plugin& plugin, RecordLayout& layout, const unsigned char* record,
                   int length, size_t named, bool by_length, char* why, size_t size);

} // namespace extfh
