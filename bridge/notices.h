// What READs of an XML file changed or passed over, said on standard error
// as it happens: at most ten lines a file, and the count of the rest at
// CLOSE; the elements directly under the root that no record of the layout
// names, once a name, and how many of each at CLOSE.
#pragma once

#include "files.h"

namespace extfh {

// The plug-in's receiver of notices; its context is the OpenFile.
void on_notice(void* context, const BxmlNotice* notice);

// The lines CLOSE says of an input file: what was not said, and the
// elements passed over.
void close_notices(OpenFile* file);

// A text from a document for a message: at most 40 bytes (cut before a
// character of UTF-8), control bytes as "?", "..." after a cut.
void quote(const char* text, size_t length, char* out, size_t size);

} // namespace extfh
