#include "bxml/text_check.h"

#include "handlers/callbacks.h"
#include "handlers/encodings.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <expat.h>
#include <iconv.h>
#include <strings.h>

namespace bxml {

namespace {

bool control(unsigned char c) {
    return c < 0x20 && c != 0 && c != '\t' && c != '\n' && c != '\r';
}

// A well-formed UTF-8 sequence of an XML character at p (at most n bytes);
// its length, or 0.
size_t utf8_char(const unsigned char* p, size_t n) {
    unsigned char c = p[0];
    size_t length;
    unsigned long cp;
    if (c < 0xC2)
        return 0; // a continuation byte, or an overlong lead
    if (c < 0xE0) {
        length = 2;
        cp = c & 0x1F;
    } else if (c < 0xF0) {
        length = 3;
        cp = c & 0x0F;
    } else if (c < 0xF5) {
        length = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (length > n)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0; // overlong, or beyond Unicode
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF)
        return 0; // surrogates and the two non-characters XML excludes
    return length;
}

bool named(const char* encoding, const char* const* names) {
    for (; *names; ++names)
        if (strcasecmp(encoding, *names) == 0)
            return true;
    return false;
}

int XMLCALL decode_unknown(void*, const XML_Char* name, XML_Encoding* info) {
    return describe_encoding(name, info) ? XML_STATUS_OK : XML_STATUS_ERROR;
}

} // namespace

DocumentCheck text_check_document(const char* data, size_t length) {
    static const XML_Memory_Handling_Suite suite = {expat_malloc, expat_realloc, expat_free};
    XML_Parser parser = XML_ParserCreate_MM(nullptr, &suite, nullptr);
    if (!parser)
        return {DocumentCheck::kNoMemory, nullptr, 0};
    XML_SetUnknownEncodingHandler(parser, decode_unknown, nullptr);
    DocumentCheck r{DocumentCheck::kReadable, nullptr, 0};
    bool ok = true;
    size_t at = 0;
    do {
        size_t n = length - at < (1u << 30) ? length - at : (1u << 30);
        ok = XML_Parse(parser, data + at, static_cast<int>(n), at + n == length) == XML_STATUS_OK;
        at += n;
    } while (ok && at < length);
    if (!ok) {
        XML_Error e = XML_GetErrorCode(parser);
        r.verdict = e == XML_ERROR_NO_MEMORY ? DocumentCheck::kNoMemory
                    : e == XML_ERROR_UNKNOWN_ENCODING || e == XML_ERROR_INCORRECT_ENCODING
                        ? DocumentCheck::kUnknownEncoding
                        : DocumentCheck::kMalformed;
        r.message = XML_ErrorString(e);
        XML_Index at = XML_GetCurrentByteIndex(parser);
        r.offset = at > 0 ? static_cast<size_t>(at) : 0;
    }
    XML_ParserFree(parser);
    return r;
}

bool text_check_open(TextCheck& check, const char* encoding) {
    check = TextCheck();
    static const char* const utf8[] = {"UTF-8", "UTF8", nullptr};
    static const char* const ascii[] = {"US-ASCII", "ASCII", nullptr};
    static const char* const latin1[] = {"ISO-8859-1", "ISO8859-1", "LATIN1", "ISO_8859-1",
                                         nullptr};
    if (encoding)
        std::snprintf(check.name, sizeof check.name, "%s", encoding);
    if (!encoding || !*encoding || named(encoding, utf8))
        return true;
    if (named(encoding, ascii)) {
        check.kind = TextCheck::kAscii;
        return true;
    }
    if (named(encoding, latin1)) {
        check.kind = TextCheck::kLatin1;
        return true;
    }
    iconv_t cd = iconv_open("UTF-8", encoding);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    // The markup is ASCII: every printable ASCII byte but "\\" and "~" (which
    // Shift_JIS reads as yen sign and overline, and markup never uses) must
    // stand for itself.
    char ascii_bytes[93], converted[400];
    int count = 0;
    for (int c = 0x20; c < 0x7F; ++c)
        if (c != '\\' && c != '~')
            ascii_bytes[count++] = static_cast<char>(c);
    char* in = ascii_bytes;
    size_t in_left = sizeof ascii_bytes;
    char* out = converted;
    size_t out_left = sizeof converted;
    size_t r = iconv(cd, &in, &in_left, &out, &out_left);
    if (r == static_cast<size_t>(-1) || in_left != 0 ||
        static_cast<size_t>(out - converted) != sizeof ascii_bytes ||
        std::memcmp(converted, ascii_bytes, sizeof ascii_bytes) != 0) {
        iconv_close(cd);
        return false;
    }
    check.kind = TextCheck::kConverter;
    check.converter = cd;
    return true;
}

const char* text_check_spelling(const char* encoding) {
    static const char* const usual[] = {"UTF-8",       "UTF-16",      "US-ASCII", "ISO-8859-1",
                                        "ISO-8859-15", "Shift_JIS",   "EUC-JP",   "CP932",
                                        "windows-31j", "windows-1252"};
    // Letters and digits only, in upper case: "utf_8" and "UTF8" alike.
    auto squeeze = [](const char* name, char* out, size_t size) {
        size_t n = 0;
        for (; *name && n + 1 < size; ++name) {
            auto c = static_cast<unsigned char>(*name);
            if (std::isalnum(c))
                out[n++] = static_cast<char>(std::toupper(c));
        }
        out[n] = '\0';
    };
    if (!encoding || !*encoding)
        return nullptr;
    char given[48], known[48];
    squeeze(encoding, given, sizeof given);
    for (const char* name : usual) {
        squeeze(name, known, sizeof known);
        if (std::strcmp(given, known) == 0 && std::strcmp(encoding, name) != 0)
            return name;
    }
    return nullptr;
}

void text_check_close(TextCheck& check) {
    if (check.converter)
        iconv_close(static_cast<iconv_t>(check.converter));
    check = TextCheck();
}

size_t text_check_find_bad(TextCheck& check, const unsigned char* data, size_t length) {
    size_t i = 0;
    while (i < length) {
        unsigned char c = data[i];
        if (c < 0x80) {
            if (control(c))
                return i;
            ++i;
            continue;
        }
        switch (check.kind) {
        case TextCheck::kAscii:
            return i;
        case TextCheck::kLatin1:
            ++i;
            continue;
        case TextCheck::kUtf8: {
            size_t n = utf8_char(data + i, length - i);
            if (!n)
                return i;
            i += n;
            continue;
        }
        case TextCheck::kConverter: {
            // The rest of the field through the converter (a trail byte of a
            // multi-byte character may lie in the ASCII range); no control
            // byte is ever part of one.
            for (size_t j = i; j < length; ++j)
                if (control(data[j]))
                    return j;
            auto cd = static_cast<iconv_t>(check.converter);
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(data + i));
            size_t in_left = length - i;
            while (in_left > 0) {
                char scratch[1024];
                char* out = scratch;
                size_t out_left = sizeof scratch;
                if (iconv(cd, &in, &in_left, &out, &out_left) != static_cast<size_t>(-1))
                    break;
                if (errno != E2BIG)
                    return static_cast<size_t>(reinterpret_cast<unsigned char*>(in) - data);
            }
            return length;
        }
        }
    }
    return length;
}

} // namespace bxml
