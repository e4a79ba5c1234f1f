// The floor every XML benchmark compares with: expat with empty handlers.
#pragma once

#include <expat.h>

#include <cstdio>

namespace bench {

inline void XMLCALL no_start(void*, const XML_Char*, const XML_Char**) {}
inline void XMLCALL no_end(void*, const XML_Char*) {}
inline void XMLCALL no_text(void*, const XML_Char*, int) {}

// Parses `file` with empty handlers, read in 32000-byte pieces: 0, expat's
// error code, or -1 when the file cannot be opened.
inline long expat_parse_file(const char* file) {
    FILE* in = std::fopen(file, "rb");
    if (!in)
        return -1;
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetElementHandler(p, no_start, no_end);
    XML_SetCharacterDataHandler(p, no_text);
    static char buffer[32000];
    size_t n;
    bool ok = true;
    while (ok && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        ok = XML_Parse(p, buffer, static_cast<int>(n), XML_FALSE) == XML_STATUS_OK;
    ok = ok && XML_Parse(p, nullptr, 0, XML_TRUE) == XML_STATUS_OK;
    long result = ok ? 0 : static_cast<long>(XML_GetErrorCode(p));
    XML_ParserFree(p);
    std::fclose(in);
    return result;
}

} // namespace bench
