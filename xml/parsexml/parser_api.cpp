// The parser functions of the exported API (ordinals 41 to 54): a document
// opened from a file, a fetched URL, standard input or text in memory into a
// parser handle, read record by record or whole, and a tree saved as a file.
#include "bxml32.h"

#include "bxml/module.h"
#include "bxml/trace.h"
#include "elements/api_error.h"
#include "elements/element_io.h"
#include "parsexml/parser_handle.h"

#include <strings.h>

#include <cstring>

using namespace bxml;

namespace {

#define HERE kModuleParsexml, __LINE__

int g_parser_type = 0;

// The bound on the tree a parser handle builds, in megabytes, when
// BXML_TREE_LIMIT gives no positive number.
constexpr long kTreeLimitDefault = 256;

// BXML_TREE_LIMIT in bytes, read now.
size_t tree_limit() {
    long mb = brelrt_config_number("BXML_TREE_LIMIT");
    if (mb <= 0)
        mb = kTreeLimitDefault;
    constexpr size_t kMbMax = SIZE_MAX >> 21;
    return (static_cast<size_t>(mb) < kMbMax ? static_cast<size_t>(mb) : kMbMax) << 20;
}

void release_source(ParserHandle* h) {
    if (h->source && (h->flags & BXML_SOURCE_LOCAL_COPY))
        brelrt_remove(h->source);
    brelrt_free(h->source, HERE);
    h->source = nullptr;
    if (h->stream && (h->flags & BXML_SOURCE_OWN_STREAM))
        brelrt_fclose(h->stream);
    h->stream = nullptr;
    h->flags = 0;
}

void parser_destructor(void* record) {
    auto* h = static_cast<ParserHandle*>(record);
    xml_free_parser(h->parser);
    h->parser = nullptr;
    release_source(h);
}

int parser_type() {
    if (!g_parser_type)
        g_parser_type =
            brelrt_handle_register(sizeof(ParserHandle), parser_destructor, "XML parser handle");
    return g_parser_type;
}

// The record of a handle the caller passed; the error word says how it went.
ParserHandle* checked(void* handle) {
    int type = parser_type();
    auto* h = type ? static_cast<ParserHandle*>(brelrt_handle_record(handle, type)) : nullptr;
    g_parser_error = h && h->parser ? kApiNoError : kApiBadParser;
    return h && h->parser ? h : nullptr;
}

// Gives up an open: everything taken is freed, the word holds `code`.
void* open_fails(void* handle, int code, const char* why) {
    brelrt_handle_free(handle, HERE);
    trace_leave(kTraceParse, "Leaving, %s", why);
    return parser_fails(code, nullptr);
}

char* copy_of(const char* data, size_t length, const char* description) {
    auto* copy = static_cast<char*>(brelrt_alloc(length + 1, 0, HERE, description));
    if (copy) {
        std::memcpy(copy, data, length);
        copy[length] = '\0';
    }
    return copy;
}

// Where the document comes from; 0, or the error code.
int attach_source(ParserHandle* h, const char* source, long length, size_t* memory_length) {
    if (strncasecmp(source, "http:", 5) == 0) {
        h->source = brelrt_url_fetch(source);
        if (!h->source)
            return kApiNoUrl;
        h->flags |= BXML_SOURCE_LOCAL_COPY;
        h->stream = brelrt_fopen(h->source, "r", 0);
        if (!h->stream)
            return kApiNoUrl;
        h->flags |= BXML_SOURCE_OWN_STREAM;
        return 0;
    }
    if (strncasecmp(source, "<?xml ", 6) == 0) {
        *memory_length = length < 0 ? std::strlen(source) : static_cast<size_t>(length);
        h->source = copy_of(source, *memory_length, "XML document text");
        return h->source ? 0 : kApiNoMemory;
    }
    h->source = copy_of(source, std::strlen(source), "XML source name");
    if (!h->source)
        return kApiNoMemory;
    if (std::strcmp(source, "-") == 0) {
        h->stream = stdin;
        return 0;
    }
    h->stream = brelrt_fopen(source, "r", 0);
    if (!h->stream)
        return kApiCannotOpen;
    h->flags |= BXML_SOURCE_OWN_STREAM;
    return 0;
}

XmlParser* empty_parser(uint32_t flags) {
    auto* p = static_cast<XmlParser*>(
        brelrt_alloc(sizeof(XmlParser), 1, kModuleHandlers, __LINE__, "XML Parser information"));
    if (p)
        p->flags = flags;
    return p;
}

bool append_comment_text(BrelrtText** text, const char* data) {
    if (!*text) {
        *text = brelrt_text_new(HERE, "XML Comments at top level");
        if (!*text)
            return false;
    }
    return brelrt_text_append_str(*text, data);
}

} // namespace

extern "C" {

void* bxml_parser_open(const char* source, unsigned flags, long length) {
    set_file_error(kNoError);
    g_parser_error = kApiNoError;
    trace_enter(kTraceParse, "parser open: '%.40s', 0x%X, %ld", source ? source : "(none)", flags,
                length);
    int type = parser_type();
    BrelrtHandle handle = type ? brelrt_handle_new(type, HERE, "XML parser handle") : nullptr;
    if (!handle) {
        trace_leave(kTraceParse, "Leaving, out of memory");
        return parser_fails(kApiNoMemory, nullptr);
    }
    auto* h = static_cast<ParserHandle*>(brelrt_handle_record(handle, type));
    if (!source) {
        h->parser = empty_parser(flags);
        if (!h->parser)
            return open_fails(handle, kApiNoMemory, "out of memory");
        trace_leave(kTraceParse, "Leaving, empty parser");
        return handle;
    }
    size_t memory_length = 0;
    if (int code = attach_source(h, source, length, &memory_length))
        return open_fails(handle, code, "source not available");
    h->parser = xml_create_parser(flags);
    if (!h->parser)
        return open_fails(handle, kApiNoMemory, "out of memory");
    XmlParser* p = h->parser;
    p->pool.limit = tree_limit();
    if (!h->stream)
        xml_parser_set_input(p, h->source, memory_length);
    while (!p->root)
        if (xml_parse_to_next(p, h->stream) != 0)
            break;
    bool whole = p->root && (flags & BXML_PARSE_WHOLE);
    int result = whole ? xml_parse_to_end(p, h->stream) : kEndOfFile;
    if (p->pool.over)
        return open_fails(handle, kApiNoMemory, "tree past BXML_TREE_LIMIT");
    if (!p->root)
        return open_fails(handle, kApiInvalidXml, "no root element");
    if (result != kEndOfFile)
        return open_fails(handle, kApiInvalidXml, "parse error");
    if (whole) {
        xml_parser_set_input(p, nullptr, 0);
        release_source(h);
    }
    trace_leave(kTraceParse, "Leaving, parser opened");
    return handle;
}

int bxml_is_parser(void* handle) {
    int type = parser_type();
    return type && brelrt_handle_record(handle, type) ? 1 : 0;
}

void* bxml_root_element(void* handle) {
    ParserHandle* h = checked(handle);
    return h ? h->parser->root : nullptr;
}

const char* bxml_doctype_name(void* handle) {
    ParserHandle* h = checked(handle);
    return h ? h->parser->doctype_name : nullptr;
}

void* bxml_element_declarations(void* handle) {
    ParserHandle* h = checked(handle);
    return h ? h->parser->models : nullptr;
}

void* bxml_create_root(void* handle, const char* name) {
    ParserHandle* h = checked(handle);
    if (!h)
        return nullptr;
    XmlParser* p = h->parser;
    if (p->root)
        return parser_fails(kApiHasRoot, nullptr);
    XmlElement* e =
        name ? create_element(name, std::strlen(name), nullptr, nullptr, &p->pool) : nullptr;
    if (!e)
        return parser_fails(kApiNoMemory, nullptr);
    p->root = e->self;
    p->current = e->self;
    return e->self;
}

int bxml_next_record(void* handle) {
    set_file_error(kNoError);
    ParserHandle* h = checked(handle);
    if (!h)
        return 0;
    XmlParser* p = h->parser;
    trace_enter(kTraceFile, "next record");
    if (p->elements)
        brelrt_hash_clear(p->elements);
    if (!xml_next_record_or_leave(p, h->stream))
        return 0;
    trace_leave(kTraceFile, "Leaving, success");
    return 1;
}

void* bxml_current_element(void* handle) {
    ParserHandle* h = checked(handle);
    return h ? h->parser->current : nullptr;
}

int bxml_parser_free(void* handle) {
    if (!checked(handle))
        return 0;
    return brelrt_handle_free(handle, HERE);
}

int bxml_parser_save(void* handle, const char* file_name) {
    ParserHandle* h = checked(handle);
    if (!h)
        return 0;
    FILE* f = file_name ? brelrt_fopen(file_name, "w", 0) : nullptr;
    if (!f)
        return parser_fails(kApiCannotOpen, 0);
    XmlParser* p = h->parser;
    std::fputs("<?xml version=\"1.0\"?>\n", f);
    brelrt_fprintf(f, "<!-- %s - generated by BRELCOBOL-GT v%s -->\n", file_name,
                   BXML_VERSION_TEXT);
    if (p->top_comments)
        brelrt_fprintf(f, "<!-- %s -->", brelrt_text_data(p->top_comments));
    if (XmlElement* root = xml_element_record(p->root))
        write_element(f, root, 0);
    bool failed = std::ferror(f) != 0;
    // A save the device did not take is not reported as done.
    if (brelrt_fclose(f) != 0 || failed)
        return parser_fails(kApiCannotOpen, 0);
    return 1;
}

int bxml_add_top_comment(void* handle, const char* text) {
    ParserHandle* h = checked(handle);
    if (!h)
        return 0;
    return append_comment_text(&h->parser->top_comments, text ? text : "")
               ? 1
               : parser_fails(kApiNoMemory, 0);
}

void bxml_clear_top_comments(void* handle) {
    if (ParserHandle* h = checked(handle)) {
        brelrt_text_free(h->parser->top_comments, HERE);
        h->parser->top_comments = nullptr;
    }
}

const char* bxml_top_comments(void* handle) {
    ParserHandle* h = checked(handle);
    return h && h->parser->top_comments ? brelrt_text_data(h->parser->top_comments) : nullptr;
}

const char* bxml_parser_error(int* code) {
    if (code)
        *code = g_parser_error;
    return api_message(g_parser_error);
}

} // extern "C"
