// Creating and freeing the parser, and driving expat one markup item at a
// time from a fixed buffer.
#include "handlers/xml_parser.h"

#include "bxml/module.h"
#include "bxml/trace.h"
#include "handlers/callbacks.h"
#include "handlers/encodings.h"

#include <cstring>
#include <new>

using namespace bxml;

namespace {

#define HERE kModuleHandlers, __LINE__

constexpr size_t kHashBuckets = 211;

const XML_Memory_Handling_Suite kMemorySuite = {expat_malloc, expat_realloc, expat_free};

void models_destructor(void* head) {
    auto* model = static_cast<XmlModel*>(head);
    while (model) {
        XmlModel* next = model->next;
        brelrt_free(model->name, HERE);
        // The content model is one block from expat's allocator, which is ours.
        brelrt_free(model->model, HERE);
        brelrt_free(model, HERE);
        model = next;
    }
}

// Reads up to `max` bytes of the stream (or of the text in memory) into
// `into`; returns how many.
size_t read_chunk(XmlParser* p, FILE* stream, char* into, size_t max) {
    if (stream)
        return brelrt_fread(stream, into, max);
    if (!p->input || p->input_position >= p->input_length)
        return 0;
    size_t n = p->input_length - p->input_position;
    if (n > max)
        n = max;
    std::memcpy(into, p->input + p->input_position, n);
    p->input_position += n;
    return n;
}

// Reads the next chunk of at most 32000 bytes into the buffer; returns its size.
size_t refill(XmlParser* p, FILE* stream) {
    size_t n = read_chunk(p, stream, p->buffer, BXML_PARSE_READ_SIZE);
    p->buffer[n] = '\0';
    p->next = 0;
    p->end = n;
    return n;
}

// Counts the bytes of a chunk about to be handed over whole since the last
// ">"; true when they pass BXML_RUN_MAX (expat would go over the unfinished
// token again with every chunk).
bool run_too_long(XmlParser* p, const char* data, size_t length) {
    const char* first = static_cast<const char*>(std::memchr(data, '>', length));
    if (p->run + (first ? static_cast<size_t>(first - data) : length) > BXML_RUN_MAX)
        return true;
    if (first) {
        const char* last = static_cast<const char*>(memrchr(data, '>', length));
        p->run = length - static_cast<size_t>(last - data) - 1;
    } else {
        p->run += length;
    }
    return false;
}

void set_parse_error(XML_Error code, const char* message) {
    set_file_error(kParseError);
    if (int32_t* secondary = brelrt_secondary_error())
        *secondary = 5;
    if (int32_t* parse_code = brelrt_parse_error_code())
        *parse_code = static_cast<int32_t>(code);
    brelrt_set_error_text(message ? message : "");
}

// A parser stopped by a callback (out of memory, or a limit of the
// document) reports why, now and at every later step.
int report_stopped(XmlParser* p) {
    if (p->stopped == kParseError) {
        set_parse_error(XML_ERROR_ABORTED, p->refusal);
        trace_line(kTraceParse, "Parse error: %s", safe_text(p->refusal));
        trace_leave(kTraceParse, "Leaving, parse error");
        return kParseError;
    }
    set_file_error(p->stopped);
    trace_leave(kTraceParse, "Leaving, out of memory");
    return p->stopped;
}

// A limit met between two calls of expat.
int refuse(XmlParser* p, const char* reason) {
    stop_refused(p, reason);
    return report_stopped(p);
}

// expat refused the bytes: a callback out of memory or refusing the
// document, expat itself out of memory, or malformed XML. Returns the file
// error it set.
int report_failure(XmlParser* p) {
    XML_Error code = XML_GetErrorCode(p->expat);
    if (!p->stopped && code == XML_ERROR_NO_MEMORY)
        p->stopped = kOutOfMemory;
    if (p->stopped)
        return report_stopped(p);
    const char* message = XML_ErrorString(code);
    set_parse_error(code, message);
    trace_line(kTraceParse, "Parse error %d at line %lu: %s", static_cast<int>(code),
               static_cast<unsigned long>(XML_GetCurrentLineNumber(p->expat)), safe_text(message));
    trace_leave(kTraceParse, "Leaving, parse error");
    return kParseError;
}

// The end of the data: the final call of expat, then end of file. A document
// whose root element was started but that expat refuses at its end (cut off
// inside a record, an unclosed element) is a parse error, not a clean end of
// file: the caller would otherwise take a lost record for the last one. A
// document without any element ends with end of file. Later calls repeat how
// the data ended.
int finish(XmlParser* p) {
    if (p->ended == kParseError) {
        set_file_error(kParseError);
        trace_leave(kTraceParse, "Leaving, parse error");
        return kParseError;
    }
    if (!p->ended) {
        p->ended = kEndOfFile;
        if (XML_Parse(p->expat, "", 0, XML_TRUE) == XML_STATUS_ERROR && p->root) {
            int result = report_failure(p);
            p->ended = result == kParseError ? kParseError : kEndOfFile;
            return result;
        }
    }
    set_file_error(kEndOfFile);
    trace_leave(kTraceParse, "Leaving, EOF");
    return kEndOfFile;
}

// A parser that a callback stopped stays stopped.
bool still_stopped(XmlParser* p) {
    if (!p->stopped)
        return false;
    report_stopped(p);
    return true;
}

// A parser record without expat (a document built through the API) has
// nothing to parse.
int nothing_to_parse() {
    set_file_error(kEndOfFile);
    return kEndOfFile;
}

constexpr const char* kLongRun = "more than 1 MB without a \">\"";

// Before expat runs: the callbacks work on the current element's record.
void begin_step(XmlParser* p) {
    p->current_element = xml_element_record(p->current);
}

} // namespace

extern "C" {

XmlParser* xml_create_parser(uint32_t flags) {
    trace_enter(kTraceParse, "Create parser");
    trace_line(kTraceParse, "flags 0x%X", static_cast<unsigned>(flags));
    auto* p =
        static_cast<XmlParser*>(brelrt_alloc(sizeof(XmlParser), 1, HERE, "XML Parser information"));
    if (!p) {
        set_file_error(kOutOfMemory);
        trace_leave(kTraceParse, "Leaving, out of memory");
        return nullptr;
    }
    p->flags = flags;
    p->dbcs = static_cast<uint8_t>(brelrt_dbcs_active() != 0);
    p->blanks = static_cast<uint8_t>(p->dbcs ? Blanks::kShiftJis : Blanks::kAscii);
    const char* failure = nullptr;
    p->expat = XML_ParserCreate_MM(nullptr, &kMemorySuite, nullptr);
    if (!p->expat) {
        failure = "No memory for parser";
    } else {
        p->buffer =
            static_cast<char*>(brelrt_alloc(BXML_PARSE_BUFFER_SIZE, 1, HERE, "XML parser buffer"));
        if (!p->buffer) {
            failure = "No memory for parse buffer";
        } else if (flags & BXML_ELEMENT_HASH) {
            p->elements = brelrt_hash_new(kHashBuckets, xml_element_hash_destructor, HERE,
                                          "XML parser elements");
            if (!p->elements)
                failure = "No memory for hash";
        }
    }
    if (failure) {
        trace_line(kTraceParse, "%s", failure);
        xml_free_parser(p);
        set_file_error(kOutOfMemory);
        trace_leave(kTraceParse, "Leaving, out of memory");
        return nullptr;
    }
    // The handlers are given the parser record itself.
    XML_SetUserData(p->expat, p);
#if XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 6)
    // Each step hands over a single tag and expects its callbacks to have run
    // when the call returns: no deferred reparsing.
    XML_SetReparseDeferralEnabled(p->expat, XML_FALSE);
#endif
    register_callbacks(p);
    trace_leave(kTraceParse, "Leaving, parser created");
    return p;
}

void xml_parser_set_input(XmlParser* parser, const char* data, size_t length) {
    if (!parser)
        return;
    parser->input = data;
    parser->input_length = data ? length : 0;
    parser->input_position = 0;
}

int xml_parse_to_next(XmlParser* p, FILE* stream) {
    if (!p || !p->expat)
        return nothing_to_parse();
    trace_enter(kTraceParse, "Parsing to next >");
    if (still_stopped(p))
        return p->stopped;
    begin_step(p);
    for (;;) {
        while (p->next < p->end) {
            const char* start = p->buffer + p->next;
            size_t available = p->end - p->next;
            const void* gt = std::memchr(start, '>', available);
            size_t length =
                gt ? static_cast<size_t>(static_cast<const char*>(gt) - start) + 1 : available;
            // expat goes over an unfinished token again with every piece
            // handed to it: an endless one is refused before it costs.
            if (p->run + (gt ? length - 1 : length) > BXML_RUN_MAX)
                return refuse(p, kLongRun);
            if (XML_Parse(p->expat, start, static_cast<int>(length), XML_FALSE) == XML_STATUS_ERROR)
                return report_failure(p);
            p->next += length;
            p->run = gt ? 0 : p->run + length;
            if (gt) {
                trace_leave(kTraceParse, "Leaving");
                return kNoError;
            }
        }
        if (!refill(p, stream))
            return finish(p);
    }
}

int xml_parse_to_end(XmlParser* p, FILE* stream) {
    if (!p || !p->expat)
        return nothing_to_parse();
    trace_enter(kTraceParse, "Parsing to end of file");
    if (still_stopped(p))
        return p->stopped;
    begin_step(p);
    p->dbcs = static_cast<uint8_t>(brelrt_dbcs_active() != 0);
    for (;;) {
        if (p->next < p->end) {
            const char* start = p->buffer + p->next;
            size_t length = p->end - p->next;
            if (run_too_long(p, start, length))
                return refuse(p, kLongRun);
            if (XML_Parse(p->expat, start, static_cast<int>(length), XML_FALSE) == XML_STATUS_ERROR)
                return report_failure(p);
            p->next = p->end;
        }
        if (!refill(p, stream))
            return finish(p);
    }
}

int xml_parser_document_texts(XmlParser* p, const char* encoding) {
    if (!p)
        return 0;
    if (p->document_texts)
        return 1;
    void* block = brelrt_alloc(sizeof(TextEncoder), 0, HERE, "XML text encoder");
    if (!block)
        return 0;
    auto* encoder = new (block) TextEncoder;
    p->encoder = encoder;
    p->document_texts = 1;
    bool ok = encoder->open(encoding);
    if (!ok)
        trace_line(kTraceFile, "Texts stay in UTF-8: no conversion into %s", encoding);
    p->blanks = static_cast<uint8_t>(encoder->blanks());
    p->converting = static_cast<uint8_t>(encoder->encoding() != Encoding::kUtf8);
    return ok;
}

// Records are parsed from whole chunks read straight into expat's own
// buffer; the end tag of a record (or of the root) suspends expat, and the
// next record resumes it where it stopped. The records come out as one
// step at a time would give them, without a call of expat per tag. Once
// the root has ended, the rest of the document is parsed to its end: what
// follows the root must be nothing but comments, processing instructions
// and white space, or expat refuses it (a second root would otherwise be
// lost without a word).
int xml_parse_record(XmlParser* p, FILE* stream) {
    if (!p || !p->expat)
        return nothing_to_parse();
    trace_enter(kTraceParse, "Parsing to the end of the next record");
    if (still_stopped(p))
        return p->stopped;
    begin_step(p);
    p->dbcs = static_cast<uint8_t>(brelrt_dbcs_active() != 0);
    XML_ParsingStatus state;
    XML_GetParsingStatus(p->expat, &state);
    bool suspended = state.parsing == XML_SUSPENDED;
    if (p->ended && !suspended)
        return finish(p);
    p->records = 1;
    XML_Status status = XML_STATUS_OK;
    if (suspended) {
        status = XML_ResumeParser(p->expat);
    } else if (p->next < p->end) {
        // What the steps left in the parser's buffer goes over once.
        const char* start = p->buffer + p->next;
        size_t length = p->end - p->next;
        p->next = p->end;
        if (run_too_long(p, start, length))
            return refuse(p, kLongRun);
        status = XML_Parse(p->expat, start, static_cast<int>(length), XML_FALSE);
    }
    for (;;) {
        while (status == XML_STATUS_OK && !p->ended) {
            void* into = XML_GetBuffer(p->expat, BXML_PARSE_READ_SIZE);
            if (!into) {
                p->stopped = kOutOfMemory;
                return report_stopped(p);
            }
            size_t n = read_chunk(p, stream, static_cast<char*>(into), BXML_PARSE_READ_SIZE);
            if (n && run_too_long(p, static_cast<char*>(into), n))
                return refuse(p, kLongRun);
            if (n == 0)
                p->ended = kEndOfFile;
            status = XML_ParseBuffer(p->expat, static_cast<int>(n), n == 0);
        }
        // Suspended at the end of the root: on to the end of the document.
        if (status != XML_STATUS_SUSPENDED || p->depth > 0)
            break;
        status = XML_ResumeParser(p->expat);
    }
    if (status == XML_STATUS_ERROR) {
        int result = report_failure(p);
        if (p->ended)
            p->ended = result == kParseError ? kParseError : kEndOfFile;
        return result;
    }
    if (status != XML_STATUS_SUSPENDED) {
        set_file_error(kEndOfFile);
        trace_leave(kTraceParse, "Leaving, EOF");
        return kEndOfFile;
    }
    trace_leave(kTraceParse, "Leaving, record complete");
    return kNoError;
}

int xml_next_record_or_leave(XmlParser* p, FILE* stream) {
    int result = xml_parse_record(p, stream);
    if (result == kEndOfFile)
        trace_leave(kTraceFile, "Leaving, EOF");
    else if (result)
        trace_leave(kTraceFile, "Leaving, parse to next > error");
    return result == kNoError;
}

void xml_parser_drop_record(XmlParser* p) {
    if (!p)
        return;
    // A record the reader kept whole goes back in one step: its elements
    // are not visited (with tens of thousands of them, visiting costs more
    // than reading them did).
    if (p->elements && xml_parser_give_back_kept(p)) {
        p->pool.dropping = 1;
        brelrt_hash_clear(p->elements);
        p->pool.dropping = 0;
    } else {
        if (p->elements)
            brelrt_hash_clear(p->elements);
        XmlElement* root = xml_element_record(p->root);
        if (root && root->first_child)
            recycle_element(root->first_child, &p->pool);
    }
    p->current = p->root;
}

void xml_free_parser(XmlParser* p) {
    if (!p)
        return;
    if (p->expat)
        XML_ParserFree(p->expat);
    brelrt_free(p->buffer, HERE);
    if (p->elements)
        brelrt_hash_free(p->elements, HERE);
    if (p->models)
        brelrt_hash_free(p->models, HERE);
    brelrt_free(p->doctype_name, HERE);
    xml_parser_keep_free(p);
    if (p->root)
        xml_free_element(p->root);
    // Last: clearing the hash gave its entries back to the pool.
    free_pool(&p->pool);
    brelrt_text_free(p->top_comments, HERE);
    brelrt_text_free(p->pending_comments, HERE);
    if (auto* encoder = static_cast<TextEncoder*>(p->encoder)) {
        encoder->~TextEncoder();
        brelrt_free(encoder, HERE);
    }
    brelrt_free(p, HERE);
}

} // extern "C"

namespace bxml {

// Exposed for the callbacks, which share the declaration-table destructor.
BrelrtHashDestructor models_table_destructor() {
    return models_destructor;
}

} // namespace bxml
