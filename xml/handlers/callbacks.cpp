// The expat callbacks: tags build the element tree, character data becomes
// element text, comments are kept for the next element, declarations are
// kept or traced.
#include "handlers/callbacks.h"

#include "bxml/module.h"
#include "bxml/trace.h"
#include "handlers/encodings.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>

using namespace bxml;

namespace {

#define HERE kModuleHandlers, __LINE__

// Content models nested deeper than this are not dumped further.
constexpr int kModelDumpDepth = 32;
constexpr size_t kModelBuckets = 61;

XmlParser* parser_of(void* arg) {
    return static_cast<XmlParser*>(XML_GetUserData(static_cast<XML_Parser>(arg)));
}

// `text` (UTF-8) in the document's encoding, in a new text; null when out
// of memory (the parser is stopped then).
BrelrtText* in_document_encoding(XmlParser* p, const char* data, size_t length,
                                 const char* description) {
    BrelrtText* fresh = brelrt_text_new(HERE, description);
    if (!fresh || !static_cast<TextEncoder*>(p->encoder)->encode(data, length, fresh)) {
        brelrt_text_free(fresh, HERE);
        stop_out_of_memory(p);
        return nullptr;
    }
    return fresh;
}

bool converts(const XmlParser* p) {
    return p->document_texts && p->encoder &&
           static_cast<TextEncoder*>(p->encoder)->encoding() != Encoding::kUtf8;
}

// Moves the pending comments onto `e`; false when out of memory.
bool attach_pending_comments(XmlParser* p, XmlElement* e) {
    if (!p->pending_comments || brelrt_text_length(p->pending_comments) == 0)
        return true;
    if (!append_comments(e, brelrt_text_data(p->pending_comments),
                         brelrt_text_length(p->pending_comments)))
        return false;
    brelrt_text_truncate(p->pending_comments, 0);
    return true;
}

bool append_to(BrelrtText** text, const char* description, const char* data, size_t length) {
    if (!*text) {
        *text = brelrt_text_new(HERE, description);
        if (!*text)
            return false;
    }
    return brelrt_text_append(*text, data, length);
}

// The host conversions change only upper-case letters and "-": names
// without them (what this library writes) are left as they are without a
// call.
bool needs_conversion(const char* name, bool letters) {
    // Per byte: 1 an upper-case letter, 2 "-".
    static constexpr auto kChanged = [] {
        std::array<uint8_t, 256> bits{};
        for (int c = 'A'; c <= 'Z'; ++c)
            bits[c] = 1;
        bits['-'] = 2;
        return bits;
    }();
    unsigned found = 0;
    for (const auto* c = reinterpret_cast<const unsigned char*>(name); *c; ++c)
        found |= kChanged[*c];
    return found & (letters ? 3u : 2u);
}

void normalise(char* name, uint32_t flags) {
    switch (flags & BXML_CASE_MASK) {
    case BXML_CASE_FOLD:
        if (!needs_conversion(name, true))
            break;
        brelrt_name_convert(name, BRELRT_NAME_ZERO_TERMINATED, BRELRT_NAME_LOWER);
        brelrt_name_convert(name, BRELRT_NAME_ZERO_TERMINATED, BRELRT_NAME_UNDERSCORE);
        break;
    case BXML_CASE_UNDERSCORE:
        if (needs_conversion(name, false))
            brelrt_name_convert(name, BRELRT_NAME_ZERO_TERMINATED, BRELRT_NAME_UNDERSCORE);
        break;
    default:
        break;
    }
}

// ---- tags

// Adds the element's hash entry; false when out of memory (the entry is
// then given back, the element keeps none).
bool add_to_hash(XmlParser* p, XmlElement* e, ElementHashEntry* entry, size_t hash) {
    if (trace_on()) {
        if (brelrt_hash_find(p->elements, entry->name))
            trace_line(kTraceTag, "Adding element %s to an existing hash", entry->name);
        else
            trace_line(kTraceTag, "Adding element %s to the hash", entry->name);
    }
    if (!brelrt_hash_add_hashed(p->elements, entry->name, hash, entry)) {
        free_hash_entry(entry);
        return false;
    }
    e->hash_entry = entry;
    return true;
}

void no_memory_for_element(XmlParser* p) {
    stop_out_of_memory(p);
    trace_leave(kTraceTag, "Leaving, no memory for element info");
}

// The element's name as it is kept: in the document's encoding for the
// reader, normalised by the case mode. It is written into `small` or a
// block of its own; null when out of memory.
char* element_name(XmlParser* p, const char* name, char* small, size_t small_size, size_t* length) {
    BrelrtText* converted = nullptr;
    size_t n = std::strlen(name);
    if (converts(p) && has_high_bytes(name, n)) {
        // Names as the layout spells them: in the document's encoding.
        converted = in_document_encoding(p, name, n, "XML element name");
        if (!converted)
            return nullptr;
        name = brelrt_text_data(converted);
        n = brelrt_text_length(converted);
    }
    char* out = n < small_size
                    ? small
                    : static_cast<char*>(brelrt_alloc(n + 1, 0, HERE, "XML element name"));
    if (out) {
        std::memcpy(out, name, n);
        out[n] = '\0';
        normalise(out, p->flags);
    }
    if (converted)
        brelrt_text_free(converted, HERE);
    *length = n;
    return out;
}

void XMLCALL start_element(void* arg, const XML_Char* name, const XML_Char** attributes) {
    XmlParser* p = parser_of(arg);
    if (trace_on()) {
        bool with = attributes && attributes[0];
        trace_enter(kTraceTag, "start_element: '%s' %s attributes", name,
                    with ? "with" : "without");
        for (const XML_Char** a = attributes; a && a[0]; a += 2)
            trace_line(kTraceTag, " '%s': '%s'", a[0], safe_text(a[1]));
    }
    if (p->depth >= BXML_DEPTH_MAX) {
        stop_refused(p, "element nesting deeper than 1024 levels");
        trace_leave(kTraceTag, "Leaving, nested too deeply");
        return;
    }
    char small[256];
    size_t length = 0;
    char* normalised = element_name(p, name, small, sizeof small, &length);
    if (!normalised) {
        no_memory_for_element(p);
        return;
    }
    ++p->depth;
    size_t hash = brelrt_hash_text(normalised, length);
    XmlElement* e = create_element(normalised, length, hash, p->current_element, nullptr, &p->pool);
    if (normalised != small)
        brelrt_free(normalised, HERE);
    if (!e) {
        no_memory_for_element(p);
        return;
    }
    // Part of the tree from here on, so it is freed with it whatever follows.
    if (!p->root)
        p->root = e->self;
    p->current = e->self;
    p->current_element = e;

    bool ok = true;
    for (const XML_Char** a = attributes; ok && a && a[0]; a += 2) {
        const char* value = a[1] ? a[1] : "";
        ok = add_attribute(e, a[0], value, std::strlen(value));
    }
    if (!ok || !attach_pending_comments(p, e)) {
        no_memory_for_element(p);
        return;
    }
    ElementHashEntry* entry = p->elements ? new_hash_entry(&p->pool, e) : nullptr;
    if (p->elements && (!entry || !add_to_hash(p, e, entry, hash))) {
        stop_out_of_memory(p);
        trace_leave(kTraceTag, "Leaving, no memory for hash");
        return;
    }
    if (trace_on())
        trace_leave(kTraceTag, "Leaving");
}

void XMLCALL end_element(void* arg, const XML_Char* name) {
    XmlParser* p = parser_of(arg);
    if (trace_on())
        trace_enter(kTraceTag, "end_element: '%s'", name);
    if (p->depth == 0) {
        trace_leave(kTraceTag, "Leaving, element depth == 0");
        return;
    }
    if (XmlElement* e = p->current_element) {
        if (!attach_pending_comments(p, e)) {
            stop_out_of_memory(p);
            trace_leave(kTraceTag, "Leaving, out of memory");
            return;
        }
        if (element_text(e) && !finish_text(p, e)) {
            trace_leave(kTraceTag, "Leaving, text refused");
            return;
        }
        if (element_text(e) && trace_on() && trace_level() >= kTraceDump)
            trace_line(kTraceDump, "text: '%s'", element_text(e));
        p->current = parent_handle(e);
        p->current_element = e->up;
    }
    --p->depth;
    // A record (or the root element) is complete: the reader takes it now.
    if (p->records && p->depth <= 1)
        XML_StopParser(p->expat, XML_TRUE);
    if (trace_on())
        trace_leave(kTraceTag, "Leaving");
}

// ---- character data, comments, processing instructions

void XMLCALL character_data(void* arg, const XML_Char* data, int length) {
    XmlParser* p = parser_of(arg);
    bool tracing = trace_on();
    if (tracing) {
        trace_enter(kTraceData, "char data of length %d", length);
        if (trace_level() > 8)
            trace_hex(data, static_cast<size_t>(length));
    }
    XmlElement* e = length > 0 ? p->current_element : nullptr;
    if (e && !append_text(e, data, static_cast<size_t>(length))) {
        stop_out_of_memory(p);
        trace_leave(kTraceData, "Leaving, out of memory");
        return;
    }
    if (tracing)
        trace_leave(kTraceData, "Leaving");
}

void XMLCALL comment(void* arg, const XML_Char* data) {
    XmlParser* p = parser_of(arg);
    trace_enter(kTraceData, "comments:");
    trace_line(kTraceData, "%s", safe_text(data));
    size_t length = data ? std::strlen(data) : 0;
    // Comments waiting for their element count with the tree.
    bool ok =
        store_has_room(&p->pool, brelrt_text_length(p->pending_comments) +
                                     brelrt_text_length(p->top_comments) + length) &&
        (p->current ? append_to(&p->pending_comments, "XML Comments for element", data, length)
                    : append_to(&p->top_comments, "XML Comments at top level", data, length));
    if (!ok) {
        stop_out_of_memory(p);
        trace_leave(kTraceData, "Leaving, out of memory");
        return;
    }
    trace_leave(kTraceData, "Leaving");
}

void XMLCALL processing_instruction(void*, const XML_Char* target, const XML_Char* data) {
    trace_enter(kTraceData, "processing instruction: '%s' '%s'", safe_text(target),
                safe_text(data));
    trace_leave(kTraceData, "Leaving");
}

void XMLCALL start_cdata(void*) {
    trace_enter(kTraceData, "start CDATA section");
    trace_leave(kTraceData, "Leaving");
}

void XMLCALL end_cdata(void*) {
    trace_enter(kTraceData, "end CDATA section");
    trace_leave(kTraceData, "Leaving");
}

void XMLCALL default_data(void*, const XML_Char* data, int length) {
    trace_enter(kTraceData, "default data of length %d", length);
    if (trace_level() > 8)
        trace_hex(data, static_cast<size_t>(length));
    trace_leave(kTraceData, "Leaving");
}

// ---- entities and encodings

int XMLCALL external_entity(XML_Parser, const XML_Char* context, const XML_Char* base,
                            const XML_Char* system_id, const XML_Char* public_id) {
    trace_enter(kTraceTag, "external entity reference");
    trace_line(kTraceTag, "context: %s", safe_text(context));
    trace_line(kTraceTag, "base: %s", safe_text(base));
    trace_line(kTraceTag, "sysId: %s", safe_text(system_id));
    trace_line(kTraceTag, "pubId: %s", safe_text(public_id));
    trace_leave(kTraceTag, "Leaving");
    return XML_STATUS_OK;
}

void keep_encoding_name(XmlParser* p, const char* name) {
    std::snprintf(p->encoding, sizeof p->encoding, "%s", name ? name : "");
}

// Shift_JIS, CP932 and EUC-JP are decoded with the library's own tables,
// single-byte code pages with a map made through iconv; every other
// encoding expat does not know is refused.
int XMLCALL unknown_encoding(void* data, const XML_Char* name, XML_Encoding* info) {
    trace_enter(kTraceData, "unknown encoding: %s", safe_text(name));
    auto* p = static_cast<XmlParser*>(data);
    if (!name || !describe_encoding(name, info)) {
        trace_leave(kTraceData, "Leaving, encoding refused");
        return XML_STATUS_ERROR;
    }
    keep_encoding_name(p, name);
    trace_leave(kTraceData, "Leaving, encoding taken");
    return XML_STATUS_OK;
}

void XMLCALL xml_declaration(void* arg, const XML_Char* version, const XML_Char* encoding,
                             int standalone) {
    trace_enter(kTraceParse, "XML declaration: version %s, encoding %s, standalone %d",
                safe_text(version), safe_text(encoding), standalone);
    keep_encoding_name(parser_of(arg), encoding);
    trace_leave(kTraceParse, "Leaving");
}

// ---- declarations

void XMLCALL start_doctype(void* arg, const XML_Char* name, const XML_Char* system_id,
                           const XML_Char* public_id, int has_internal_subset) {
    XmlParser* p = parser_of(arg);
    trace_enter(kTraceParse, "start doctype (%d)", has_internal_subset);
    trace_line(kTraceParse, "doctype: %s", safe_text(name));
    trace_line(kTraceParse, "sysId: %s", safe_text(system_id));
    trace_line(kTraceParse, "pubId: %s", safe_text(public_id));
    if (name) {
        size_t length = std::strlen(name);
        auto* copy = static_cast<char*>(expat_malloc(length + 1));
        if (!copy) {
            stop_out_of_memory(p);
            trace_leave(kTraceParse, "Leaving, out of memory");
            return;
        }
        std::memcpy(copy, name, length + 1);
        expat_free(p->doctype_name);
        p->doctype_name = copy;
    }
    trace_leave(kTraceParse, "Leaving");
}

void XMLCALL end_doctype(void*) {
    trace_enter(kTraceParse, "end doctype");
    trace_leave(kTraceParse, "Leaving");
}

void dump_model(const XML_Content* model, int depth) {
    static const char* const kTypes[] = {nullptr,      "type: empty",  "type: any", "type: mixed",
                                         "type: name", "type: choice", "type: seq"};
    static const char* const kQuants[] = {"quant: none", "quant: opt", "quant: rep", "quant: plus"};
    if (model->type >= XML_CTYPE_EMPTY && model->type <= XML_CTYPE_SEQ)
        trace_line(kTraceDump, "%s", kTypes[model->type]);
    if (model->quant >= XML_CQUANT_NONE && model->quant <= XML_CQUANT_PLUS)
        trace_line(kTraceDump, "%s", kQuants[model->quant]);
    if (model->name)
        trace_line(kTraceDump, "name: %s", model->name);
    else
        trace_line(kTraceDump, "No name");
    if (depth >= kModelDumpDepth) {
        if (model->numchildren)
            trace_line(kTraceDump, "(%u more levels not shown)", model->numchildren);
        return;
    }
    for (unsigned k = 0; k < model->numchildren; ++k)
        dump_model(&model->children[k], depth + 1);
}

void XMLCALL element_declaration(void* arg, const XML_Char* name, XML_Content* model) {
    auto expat = static_cast<XML_Parser>(arg);
    XmlParser* p = parser_of(arg);
    trace_enter(kTraceParse, "element declaration %s", safe_text(name));
    if (!count_declaration(p)) {
        XML_FreeContentModel(expat, model);
        trace_leave(kTraceParse, "Leaving, too many declarations");
        return;
    }
    if (model && trace_level() >= kTraceDump) {
        dump_model(model, 0);
        trace_line(kTraceDump, "Done with model");
    }
    if (!p->models) {
        p->models = brelrt_hash_new(kModelBuckets, models_table_destructor(), HERE, "XML Models");
        if (!p->models) {
            XML_FreeContentModel(expat, model);
            stop_out_of_memory(p);
            trace_leave(kTraceParse, "Leaving, out of memory");
            return;
        }
    }
    size_t length = name ? std::strlen(name) : 0;
    if (length > BXML_DECL_NAME_MAX)
        length = BXML_DECL_NAME_MAX;
    auto* entry = static_cast<XmlModel*>(brelrt_alloc(sizeof(XmlModel), 1, HERE, "XML Models"));
    char* copy = static_cast<char*>(brelrt_alloc(length + 1, 0, HERE, "XML Models"));
    if (!entry || !copy) {
        brelrt_free(entry, HERE);
        brelrt_free(copy, HERE);
        XML_FreeContentModel(expat, model);
        stop_out_of_memory(p);
        trace_leave(kTraceParse, "Leaving, out of memory");
        return;
    }
    if (length)
        std::memcpy(copy, name, length);
    copy[length] = '\0';
    brelrt_name_convert(copy, BRELRT_NAME_ZERO_TERMINATED, BRELRT_NAME_LOWER);
    entry->name = copy;
    entry->model = model;
    if (!brelrt_hash_add(p->models, copy, entry)) {
        brelrt_free(entry, HERE);
        brelrt_free(copy, HERE);
        XML_FreeContentModel(expat, model);
        stop_out_of_memory(p);
        trace_leave(kTraceParse, "Leaving, out of memory");
        return;
    }
    trace_leave(kTraceParse, "Leaving");
}

void XMLCALL attlist_declaration(void* arg, const XML_Char* element, const XML_Char* attribute,
                                 const XML_Char* type, const XML_Char* default_value,
                                 int required) {
    trace_enter(kTraceTag, "attribute list declaration: %s %s", safe_text(element),
                safe_text(attribute));
    if (!count_declaration(parser_of(arg))) {
        trace_leave(kTraceTag, "Leaving, too many declarations");
        return;
    }
    trace_line(kTraceTag, "type: %s, default: %s, required: %d", safe_text(type),
               safe_text(default_value), required);
    trace_leave(kTraceTag, "Leaving");
}

void XMLCALL entity_declaration(void* arg, const XML_Char* name, int parameter,
                                const XML_Char* value, int value_length, const XML_Char* base,
                                const XML_Char* system_id, const XML_Char* public_id,
                                const XML_Char* notation) {
    trace_enter(kTraceDeclaration, "entity declaration %s (%d)", safe_text(name), parameter);
    if (!count_declaration(parser_of(arg))) {
        trace_leave(kTraceDeclaration, "Leaving, too many declarations");
        return;
    }
    if (value)
        trace_line(kTraceDeclaration, "value: %.*s", value_length, value);
    trace_line(kTraceDeclaration, "base: %s", safe_text(base));
    trace_line(kTraceDeclaration, "sysId: %s", safe_text(system_id));
    trace_line(kTraceDeclaration, "pubId: %s", safe_text(public_id));
    trace_line(kTraceDeclaration, "notation: %s", safe_text(notation));
    trace_leave(kTraceDeclaration, "Leaving");
}

void XMLCALL unparsed_entity_declaration(void* arg, const XML_Char* name, const XML_Char* base,
                                         const XML_Char* system_id, const XML_Char* public_id,
                                         const XML_Char* notation) {
    trace_enter(kTraceDeclaration, "unparsed entity declaration %s", safe_text(name));
    if (!count_declaration(parser_of(arg))) {
        trace_leave(kTraceDeclaration, "Leaving, too many declarations");
        return;
    }
    trace_line(kTraceDeclaration, "base: %s", safe_text(base));
    trace_line(kTraceDeclaration, "sysId: %s", safe_text(system_id));
    trace_line(kTraceDeclaration, "pubId: %s", safe_text(public_id));
    trace_line(kTraceDeclaration, "notation: %s", safe_text(notation));
    trace_leave(kTraceDeclaration, "Leaving");
}

void XMLCALL notation_declaration(void* arg, const XML_Char* name, const XML_Char* base,
                                  const XML_Char* system_id, const XML_Char* public_id) {
    trace_enter(kTraceDeclaration, "notation declaration %s", safe_text(name));
    if (!count_declaration(parser_of(arg))) {
        trace_leave(kTraceDeclaration, "Leaving, too many declarations");
        return;
    }
    trace_line(kTraceDeclaration, "base: %s", safe_text(base));
    trace_line(kTraceDeclaration, "sysId: %s", safe_text(system_id));
    trace_line(kTraceDeclaration, "pubId: %s", safe_text(public_id));
    trace_leave(kTraceDeclaration, "Leaving");
}

} // namespace

namespace bxml {

void* expat_malloc(size_t size) {
    return brelrt_alloc(size, 0, kModuleHandlers, __LINE__, "EXPAT library memory");
}

void* expat_realloc(void* block, size_t size) {
    return brelrt_realloc(block, size, HERE);
}

void expat_free(void* block) {
    brelrt_free(block, HERE);
}

void stop_out_of_memory(XmlParser* parser) {
    set_file_error(kOutOfMemory);
    if (!parser->stopped) {
        parser->stopped = kOutOfMemory;
        XML_StopParser(parser->expat, XML_FALSE);
    }
}

void stop_refused(XmlParser* parser, const char* reason) {
    set_file_error(kParseError);
    trace_line(kTraceFile, "Document refused: %s", reason);
    if (!parser->stopped) {
        parser->stopped = kParseError;
        parser->refusal = reason;
        XML_StopParser(parser->expat, XML_FALSE);
    }
}

bool count_declaration(XmlParser* parser) {
    if (++parser->declarations <= BXML_DECLARATIONS_MAX)
        return true;
    stop_refused(parser, "more than 10000 declarations");
    return false;
}

bool finish_text(XmlParser* p, XmlElement* e) {
    const char* data = element_text(e);
    size_t length = text_length(e);
    if (converts(p) && has_high_bytes(data, length)) {
        BrelrtText* fresh = in_document_encoding(p, data, length, "XML Character data");
        if (!fresh)
            return false;
        bool ok = replace_text(e, 0, brelrt_text_data(fresh), brelrt_text_length(fresh), length);
        brelrt_text_free(fresh, HERE);
        if (!ok) {
            stop_out_of_memory(p);
            return false;
        }
    }
    truncate_text(e,
                  trimmed_length(element_text(e), text_length(e), static_cast<Blanks>(p->blanks)));
    return true;
}

void register_callbacks(XmlParser* p) {
    XML_Parser x = p->expat;
    uint32_t f = p->flags;
    if (f & BXML_TAGS) {
        XML_SetElementHandler(x, start_element, end_element);
        XML_SetXmlDeclHandler(x, xml_declaration);
    }
    if (f & BXML_CHARACTER_DATA)
        XML_SetCharacterDataHandler(x, character_data);
    if (f & BXML_PROCESSING)
        XML_SetProcessingInstructionHandler(x, processing_instruction);
    if (f & BXML_COMMENTS)
        XML_SetCommentHandler(x, comment);
    if (f & BXML_CDATA)
        XML_SetCdataSectionHandler(x, start_cdata, end_cdata);
    if (f & BXML_DEFAULT)
        // The expanding variant: a plain default handler would keep internal
        // entities from being expanded, and their text would be lost.
        XML_SetDefaultHandlerExpand(x, default_data);
    if (f & BXML_EXTERNAL_ENTITY)
        XML_SetExternalEntityRefHandler(x, external_entity);
    if (f & BXML_UNKNOWN_ENCODING)
        XML_SetUnknownEncodingHandler(x, unknown_encoding, p);
    if (f & BXML_DOCTYPE)
        XML_SetDoctypeDeclHandler(x, start_doctype, end_doctype);
    if (f & BXML_ELEMENT_DECL)
        XML_SetElementDeclHandler(x, element_declaration);
    if (f & BXML_ATTLIST_DECL)
        XML_SetAttlistDeclHandler(x, attlist_declaration);
    if (f & BXML_ENTITY_DECL)
        XML_SetEntityDeclHandler(x, entity_declaration);
    if (f & BXML_UNPARSED_DECL)
        XML_SetUnparsedEntityDeclHandler(x, unparsed_entity_declaration);
    if (f & BXML_NOTATION_DECL)
        XML_SetNotationDeclHandler(x, notation_declaration);
}

} // namespace bxml
