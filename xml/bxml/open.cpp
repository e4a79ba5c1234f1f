// Opening, creating and closing XML files (dispatch slots 44, 45, 46), the
// prologue of an output file, and writing out what an output file holds.
#include "bxml/config.h"
#include "bxml/describe.h"
#include "bxml/files.h"
#include "bxml/host_entries.h"
#include "bxml/layout_walk.h"
#include "bxml/module.h"
#include "bxml/trace.h"
#include "bxml/xml_file.h"
#include "bxml32.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bxml {

namespace {

#define HERE kModuleBxml, __LINE__

const char* safe(const char* text) {
    return text ? text : "NULL";
}

// The host entries an open file needs; the name of the first one missing.
const char* missing_entry(bool output) {
    static const size_t always[] = {kEntryB4ParseXFD, kEntryB4XFDFree};
    static const size_t writing[] = {kEntryB4TestCOBOLCond, kEntryB4PgmPeriod, kEntryBconvert};
    for (size_t k : always)
        if (!host_entry(k))
            return host_entry_name(k);
    if (output)
        for (size_t k : writing)
            if (!host_entry(k))
                return host_entry_name(k);
    return nullptr;
}

void free_layout(RecordLayout* layout) {
    if (layout)
        host_function<decltype(&B4XFDFree)>(kEntryB4XFDFree)(layout);
}

bool ends_in_xml(const char* name) {
    size_t n = std::strlen(name);
    return n >= 4 && strcasecmp(name + n - 4, ".xml") == 0;
}

// The layout named by the caller (BXML_OPEN_LAYOUT_GIVEN), else the layout
// of the file's name as given, else of the name less ".xml". Null when
// there is none.
RecordLayout* find_layout(const char* name, const char* given) {
    auto parse = host_function<decltype(&B4ParseXFD)>(kEntryB4ParseXFD);
    if (given)
        return parse(given, 14, 30);
    char layout_name[256];
    brelrt_layout_name(name, layout_name, sizeof layout_name);
    RecordLayout* layout = parse(layout_name, 14, 30);
    if (!layout && ends_in_xml(name) && file_error() != kOutOfMemory) {
        char* shorter = brelrt_strdup(name, HERE, "temp .xml filename");
        if (shorter) {
            shorter[std::strlen(shorter) - 4] = '\0';
            char second[sizeof layout_name];
            brelrt_layout_name(shorter, second, sizeof second);
            brelrt_free(shorter, HERE);
            // The host's layout name drops the extension already: the same
            // name is not looked up twice.
            if (std::strcmp(second, layout_name) != 0)
                layout = parse(second, 14, 30);
        }
    }
    return layout;
}

// An XML name as the writer needs its element names: a letter, "_" or a
// non-ASCII byte first, then letters, digits, ".", "-", "_" or non-ASCII.
bool xml_name(const char* name) {
    auto c = static_cast<unsigned char>(*name);
    if (!(std::isalpha(c) || c == '_' || c >= 0x80))
        return false;
    for (++name; *name; ++name) {
        c = static_cast<unsigned char>(*name);
        if (!(std::isalnum(c) || c == '_' || c == '-' || c == '.' || c >= 0x80))
            return false;
    }
    return true;
}

// The first name the document would carry that XML cannot; null when none.
const char* bad_element_name(const RecordLayout* layout) {
    if (!xml_name(layout->name))
        return layout->name;
    for (int i = 0; i < layout->field_count; ++i)
        if (!is_shadow(layout->items[i]) && !xml_name(layout->items[i].name))
            return layout->items[i].name;
    return nullptr;
}

// Everything an open took, given back; the file-error word is left as set.
void release(XmlFile* file, RecordLayout* layout) {
    FILE* stream = nullptr;
    char* local_copy = nullptr;
    if (file) {
        layout = file->layout;
        stream = file->stream;
        local_copy = file->local_copy;
        xml_free_parser(file->parser);
        text_check_close(file->check);
        out_free(file->out);
        tags_free(file->tags);
        brelrt_free(file->name, HERE);
        brelrt_free(file->item_hashes, HERE);
        brelrt_free(file->item_parents, HERE);
        brelrt_free(file->ends, HERE);
        file->~XmlFile();
        brelrt_free(file, HERE);
    }
    free_layout(layout);
    if (stream)
        brelrt_fclose(stream);
    if (local_copy) {
        brelrt_remove(local_copy);
        brelrt_free(local_copy, HERE);
    }
}

// The namespace data of the root start tag: the schema name in place of the
// one "%s" (as an attribute value), "%%" as "%", every other character as
// it stands. The text comes from the user's configuration: it is never a
// format.
void put_namespace_data(OutBuffer& out, const char* data, const char* schema_name) {
    bool substituted = false;
    for (const char* p = data; *p; ++p) {
        if (p[0] == '%' && p[1] == '%') {
            out_char(out, '%');
            ++p;
        } else if (p[0] == '%' && p[1] == 's' && !substituted) {
            out_escaped(out, schema_name);
            substituted = true;
            ++p;
        } else {
            out_char(out, *p);
        }
    }
}

bool set(const char* text) {
    return text && *text;
}

// What an output file's prologue and schema are made of, each variable
// looked up once.
struct OutputConfig {
    const char* encoding;
    int style;
    bool create_schema;
    const char* schema_name;
    const char* namespace_data;
    const char* schema_doc;
    const char* stylesheet_type;
    const char* stylesheet_href;

    void look_up() {
        encoding = brelrt_config_text(kEncoding);
        style = brelrt_config_keyword(kCreateStyle);
        create_schema = brelrt_config_yes_no(kCreateSchema) != 0;
        schema_name = brelrt_config_text(kSchemaName);
        namespace_data = brelrt_config_text(kSchemaNamespaceData);
        schema_doc = brelrt_config_text(kSchemaDoc);
        stylesheet_type = brelrt_config_text(kStylesheetType);
        stylesheet_href = brelrt_config_text(kStylesheetHref);
    }
    bool schema_file() const { return style == kStyleSchema && create_schema; }
    // The root start tag carries the namespace data (unless the schema file
    // cannot be opened).
    bool schema_tag() const {
        return style == kStyleSchema && set(schema_name) && set(namespace_data);
    }
};

// Where the root start tag lies in the prologue.
struct RootTag {
    size_t at = 0;     // its "<"
    bool data = false; // it holds the namespace data
};

// The prologue up to the root start tag (with its line break), by
// BXML_CREATE_STYLE. False when out of memory.
bool write_prologue(OutBuffer& out, RecordLayout* layout, const OutputConfig& config,
                    RootTag& root) {
    out_put(out, "<?xml version=\"1.0\"");
    if (set(config.encoding))
        out_printf(out, " encoding=\"%s\"", config.encoding);
    out_put(out, "?>\n");
    int32_t today = brelrt_today();
    out_printf(out, "<!-- Created by %s version %s on %04d/%02d/%02d -->\n", kProductName,
               BXML_VERSION_TEXT, today / 10000, today / 100 % 100, today % 100);
    if (set(config.stylesheet_type) && set(config.stylesheet_href)) {
        out_put(out, "<?xml-stylesheet type=\"");
        out_escaped(out, config.stylesheet_type);
        out_put(out, "\" href=\"");
        out_escaped(out, config.stylesheet_href);
        out_put(out, "\"?>");
    }
    if (config.style == kStyleDtd)
        write_dtd(out, layout);
    root.at = out.length;
    out_printf(out, "<%s", layout->name);
    root.data = config.schema_tag();
    if (root.data) {
        out_char(out, ' ');
        put_namespace_data(out, config.namespace_data, config.schema_name);
    }
    out_put(out, ">\n");
    return !out.failed;
}

// Whether the reader will read the document that begins with this prologue:
// its encoding, and the root start tag made with the namespace data (as an
// empty element, so that the data can only be attributes). False with the
// file-error word set (17, or 14) and the reason traced.
bool readable(OutBuffer& out, const OutputConfig& config, const RootTag& root) {
    // The tag's ">\n" becomes "/>" for the check, and is put back.
    out.length -= 2;
    out_put(out, "/>", 2);
    DocumentCheck check = text_check_document(out.data, out.length);
    out.length -= 2;
    out_put(out, ">\n", 2);
    switch (check.verdict) {
    case DocumentCheck::kReadable:
        return true;
    case DocumentCheck::kNoMemory:
        set_file_error(kOutOfMemory);
        return false;
    case DocumentCheck::kUnknownEncoding: {
        set_file_error(kNotSupported);
        const char* usual = text_check_spelling(config.encoding);
        fail_reason("encoding '%.40s' cannot be read back%s%s%s", safe(config.encoding),
                    usual ? ": write it '" : "", usual ? usual : "", usual ? "'" : "");
        return false;
    }
    case DocumentCheck::kMalformed:
        break;
    }
    set_file_error(kNotSupported);
    size_t at = check.offset < out.length ? check.offset : out.length;
    if (root.data && at >= root.at)
        fail_reason("%s '%.40s' does not make well-formed attributes (%s)", kSchemaNamespaceData,
                    config.namespace_data, check.message);
    else
        fail_reason("the prologue would not be well-formed XML (%s) at '%.*s'", check.message,
                    static_cast<int>(out.length - at < 40 ? out.length - at : 40), out.data + at);
    return false;
}

enum SchemaResult { kSchemaWritten, kSchemaNotOpened, kSchemaFailed };

// The separate schema file named by BXML_SCHEMA_NAME.
SchemaResult write_schema_file(RecordLayout* layout, const OutputConfig& config) {
    const char* name = config.schema_name;
    FILE* stream = set(name) ? brelrt_fopen(name, "w", 0) : nullptr;
    if (!stream) {
        trace_line(kTraceFile, "No schema file given, or unable to open file");
        return kSchemaNotOpened;
    }
    OutBuffer schema;
    bool ok = write_schema(schema, layout, config.encoding, config.schema_doc);
    int error = ok ? 0 : ENOMEM;
    if (ok && std::fwrite(schema.data, 1, schema.length, stream) != schema.length) {
        ok = false;
        error = errno;
    }
    if (std::fflush(stream) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (brelrt_fclose(stream) != 0 && ok) {
        ok = false;
        error = errno;
    }
    out_free(schema);
    if (!ok) {
        set_file_error(error == ENOMEM ? kOutOfMemory : kWriteFailed);
        set_cause(error == ENOMEM ? 0 : error);
        fail_reason("Schema file '%s' could not be written: %s", name, std::strerror(error));
        return kSchemaFailed;
    }
    return kSchemaWritten;
}

// A stream to read `name` from; a folder is none (errno EISDIR). A FIFO is
// opened when its writer comes.
FILE* open_readable(const char* name, int translate) {
    FILE* stream = brelrt_fopen(name, "r", translate);
    struct stat st {};
    if (stream && fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode)) {
        brelrt_fclose(stream);
        errno = EISDIR;
        return nullptr;
    }
    return stream;
}

// Input: the stream of the name (or of its local copy when it is an
// "http:" URL), else of the name with ".xml" appended. `as_named`: of the
// name exactly as given, nothing else.
FILE* open_input(const char* name, char** local_copy, bool as_named) {
    if (as_named)
        return open_readable(name, 0);
    FILE* stream = nullptr;
    if (strncasecmp(name, "http:", 5) == 0) {
        *local_copy = brelrt_url_fetch(name);
        if (*local_copy)
            stream = open_readable(*local_copy, 0);
    }
    if (!stream)
        stream = open_readable(name, 1);
    if (!stream) {
        int error = errno;
        size_t n = std::strlen(name);
        auto* with_xml = static_cast<char*>(brelrt_alloc(n + 5, 0, HERE, "temp .xml filename"));
        if (!with_xml)
            return nullptr;
        format_bounded(with_xml, n + 5, "%s.xml", name);
        stream = open_readable(with_xml, 1);
        // The name as given says why, unless only its ".xml" is a folder.
        if (!stream && errno != EISDIR)
            errno = error;
        error = errno;
        brelrt_free(with_xml, HERE);
        errno = error;
    }
    return stream;
}

// Whether two names are the same, ASCII case aside; `dash_as_underscore`:
// "-" and "_" too (the parser's case modes 1 and 2 make every "-" of an
// element name a "_").
bool same_name(const char* a, const char* b, bool dash_as_underscore) {
    auto fold = [dash_as_underscore](unsigned char c) {
        if (c >= 'A' && c <= 'Z')
            return static_cast<unsigned char>(c - 'A' + 'a');
        return dash_as_underscore && c == '-' ? static_cast<unsigned char>('_') : c;
    };
    for (; *a && *b; ++a, ++b)
        if (fold(static_cast<unsigned char>(*a)) != fold(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// The document's root element must be the layout's: a document of another
// layout would fill no field, or the wrong ones. Otherwise 19, and the
// trace and the error text name both.
bool root_is_layouts(XmlFile* file, uint32_t case_mode) {
    const XmlElement* root = xml_element_record(file->parser->root);
    const char* name = root ? element_name(root) : "";
    if (same_name(name, file->layout->name, case_mode != BXML_CASE_KEEP))
        return true;
    char message[200];
    format_bounded(message, sizeof message, "the root element '%.40s%s' is not the layout's '%s'",
                   name, std::strlen(name) > 40 ? "..." : "", file->layout->name);
    set_file_error(kParseError);
    set_cause(5);
    brelrt_set_error_text(message);
    trace_line(kTraceFile, "%s", message);
    return false;
}

// The parser of an input file, fed up to the root start tag, which must be
// the layout's.
bool start_input(XmlFile* file) {
    long column_case = brelrt_config_number(kColumnCase);
    uint32_t case_mode = column_case == 1   ? BXML_CASE_UNDERSCORE
                         : column_case == 2 ? BXML_CASE_KEEP
                                            : BXML_CASE_FOLD;
    file->parser = xml_create_parser(BXML_SOPEN_FLAGS | case_mode);
    if (!file->parser) {
        trace_line(kTraceFile, "No memory for parser");
        set_file_error(kOutOfMemory);
        return false;
    }
    // Until the root start tag was parsed (an empty root, "<root/>", ends in
    // the same step).
    while (!file->parser->root && file_error() == kNoError)
        xml_parse_to_next(file->parser, file->stream);
    if (file_error() == kParseError && !file->parser->root && file->parser->expat) {
        // Refused before any element: most likely no XML at all.
        char message[BRELRT_ERROR_TEXT_MAX];
        const char* why = *brelrt_error_text();
        format_bounded(message, sizeof message,
                       "'%.200s' is not an XML document: line %lu, column %lu: %.200s", file->name,
                       static_cast<unsigned long>(XML_GetCurrentLineNumber(file->parser->expat)),
                       static_cast<unsigned long>(XML_GetCurrentColumnNumber(file->parser->expat)) +
                           1,
                       why && *why ? why : "not well-formed");
        brelrt_set_error_text(message);
        trace_line(kTraceFile, "%s", message);
    }
    return file_error() == kNoError && root_is_layouts(file, case_mode);
}

// Output, before the document is opened: the items' tags, and the
// prologue, made and checked.
bool prepare_output(XmlFile* file, const OutputConfig& config, RootTag& root) {
    if (!tags_make(file->tags, file->layout) ||
        !write_prologue(file->out, file->layout, config, root)) {
        set_file_error(kOutOfMemory);
        return false;
    }
    return readable(file->out, config, root);
}

// Output, once the document is open (for appending: opening empties
// nothing): the schema written, and only then the document emptied, so
// that until every check has passed it keeps every byte. A regular file is
// cut to nothing; a FIFO or a device is written as it is.
bool start_output(XmlFile* file, const OutputConfig& config, const RootTag& root) {
    std::setvbuf(file->stream, nullptr, _IONBF, 0); // whole records are written at once
    if (config.schema_file()) {
        SchemaResult r = write_schema_file(file->layout, config);
        if (r == kSchemaFailed)
            return false;
        if (r == kSchemaNotOpened) {
            file->out.length = root.at;
            out_printf(file->out, "<%s>\n", file->layout->name);
            if (file->out.failed) {
                set_file_error(kOutOfMemory);
                return false;
            }
        }
    }
    struct stat st {};
    int fd = fileno(file->stream);
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) {
        set_file_error(kCannotOpen);
        set_cause(errno);
        fail_reason("cannot empty '%s': %s", file->name, std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace

bool note_record_end(XmlFile* file) {
    if (file->ends_count == file->ends_capacity) {
        size_t capacity = file->ends_capacity ? 2 * file->ends_capacity : 256;
        void* grown = file->ends ? brelrt_realloc(file->ends, capacity * sizeof(size_t), HERE)
                                 : brelrt_alloc(capacity * sizeof(size_t), 0, HERE,
                                                "XML record ends to write");
        if (!grown)
            return false;
        file->ends = static_cast<size_t*>(grown);
        file->ends_capacity = capacity;
    }
    file->ends[file->ends_count++] = file->out.length;
    return true;
}

bool flush_output(XmlFile* file, const char* routine) {
    OutBuffer& out = file->out;
    if (file->write_error) {
        set_file_error(kWriteFailed);
        set_cause(file->write_error);
        return false;
    }
    size_t done = 0;
    while (done < out.length) {
        size_t n = std::fwrite(out.data + done, 1, out.length - done, file->stream);
        if (n == 0) {
            file->write_error = errno ? errno : EIO;
            break;
        }
        done += n;
    }
    if (!file->write_error && std::ferror(file->stream))
        file->write_error = errno ? errno : EIO;
    // The records whose every byte went out (a record whose end could not
    // be noted is the last one held, and went out whole only if all did).
    size_t whole = 0;
    while (whole < file->ends_count && file->ends[whole] <= done)
        ++whole;
    file->written =
        file->write_error ? file->first_pending - 1 + static_cast<long>(whole) : file->records;
    file->ends_count = 0;
    if (file->write_error) {
        set_file_error(kWriteFailed);
        set_cause(file->write_error);
        if (file->records > file->written)
            fail_reason("%s: writing '%s' failed (%s): records %ld to %ld are lost", routine,
                        file->name, std::strerror(file->write_error), file->written + 1,
                        file->records);
        else
            fail_reason("%s: writing '%s' failed (%s)", routine, file->name,
                        std::strerror(file->write_error));
        return false;
    }
    out.length = 0;
    file->first_pending = file->records + 1;
    return true;
}

} // namespace bxml

using namespace bxml;

extern "C" {

int xml_smake(const char* name, const char* extra) {
    set_file_error(kNoError);
    trace_enter(kTraceFile, "xml_smake: '%s', '%s'", safe(name), safe(extra));
    FILE* stream = name ? brelrt_fopen(name, "w", 1) : nullptr;
    if (!stream) {
        int error = name ? errno : EINVAL;
        set_cause(error);
        trace_leave(kTraceFile, "Leaving, failed to open, error %d\n", error);
        return 0;
    }
    brelrt_fclose(stream);
    trace_leave(kTraceFile, "Leaving, success");
    return 1;
}

XmlFile* xml_sopen(const char* name, int mode, int a3, int a4, int a5, int a6, const char* extra,
                   int a8) {
    set_file_error(kNoError);
    trace_enter(kTraceFile, "xml_sopen: '%s', %d, %d, %d, %d, %d, '%s', %d", safe(name), mode, a3,
                a4, a5, a6, safe(extra), a8);
    bool output = (mode & 3) == 1;
    if ((mode & 3) > 1) {
        set_file_error(kNotSupported);
        fail_reason("xml_sopen: open mode %d not supported", mode & 3);
        trace_leave(kTraceFile, "Leaving, open mode not supported");
        return nullptr;
    }
    if (!name || !*name) {
        set_file_error(kCannotOpen);
        trace_leave(kTraceFile, "Leaving, no file name");
        return nullptr;
    }
    if (const char* missing = missing_entry(output)) {
        set_file_error(kNotSupported);
        fail_reason("xml_sopen: host entry %s not set", missing);
        trace_leave(kTraceFile, "Leaving, host entry %s not set", missing);
        return nullptr;
    }
    bool valid = output ? config_valid({kCreateStyle, kCreateSchema, kIgnoreEmptyData, kColumnCase})
                        : config_valid({kExactTableMatch, kColumnCase});
    if (!valid) {
        trace_leave(kTraceFile, "Leaving, %d", file_error());
        return nullptr;
    }
    bool as_named = (mode & BXML_OPEN_AS_NAMED) != 0;
    const char* given = nullptr;
    if (mode & BXML_OPEN_LAYOUT_GIVEN) {
        if (!extra || !*extra) {
            set_file_error(kCannotOpen);
            trace_leave(kTraceFile, "Leaving, no layout name given");
            return nullptr;
        }
        given = extra;
    }
    // The layout first: an output file is not emptied for a layout that
    // does not exist.
    RecordLayout* layout = find_layout(name, given);
    if (!layout) {
        set_file_error(file_error() == kOutOfMemory ? kOutOfMemory : kCannotOpen);
        fail_reason("%s", brelrt_xfd_last_error());
        trace_leave(kTraceFile, "Leaving, failed to parse XFD file");
        return nullptr;
    }
    if (layout->field_count < 1 || layout->item_count < layout->field_count) {
        set_file_error(kCannotOpen);
        fail_reason("xml_sopen: the layout %.40s describes no field", layout->name);
        trace_leave(kTraceFile, "Leaving, the layout describes no field");
        release(nullptr, layout);
        return nullptr;
    }
    OutputConfig config{};
    TextCheck check;
    if (!output) {
        // The program's encoding, into which texts are read.
        const char* encoding = brelrt_config_text(kEncoding);
        bool known = text_check_open(check, encoding);
        text_check_close(check);
        if (!known) {
            set_file_error(kNotSupported);
            const char* usual = text_check_spelling(encoding);
            fail_reason("xml_sopen: encoding '%.40s' (BXML_ENCODING) not supported%s%s%s",
                        safe(encoding), usual ? ": write it '" : "", usual ? usual : "",
                        usual ? "'" : "");
            trace_leave(kTraceFile, "Leaving, encoding '%.40s' not supported", safe(encoding));
            release(nullptr, layout);
            return nullptr;
        }
    }
    if (output) {
        config.look_up();
        if (!text_check_open(check, config.encoding)) {
            set_file_error(kNotSupported);
            const char* usual = text_check_spelling(config.encoding);
            fail_reason("xml_sopen: encoding '%.40s' not supported%s%s%s", safe(config.encoding),
                        usual ? ": write it '" : "", usual ? usual : "", usual ? "'" : "");
            trace_leave(kTraceFile, "Leaving, encoding '%.40s' not supported",
                        safe(config.encoding));
            release(nullptr, layout);
            return nullptr;
        }
        if (const char* bad = bad_element_name(layout)) {
            text_check_close(check);
            set_file_error(kCannotOpen);
            fail_reason("xml_sopen: '%.40s' cannot be an XML element name", bad);
            trace_leave(kTraceFile, "Leaving, '%s' cannot be an XML element name", bad);
            release(nullptr, layout);
            return nullptr;
        }
    }
    void* memory = brelrt_alloc(sizeof(XmlFile), 1, HERE, "XML file pointer");
    char* copy = memory ? brelrt_strdup(name, HERE, "XML file name") : nullptr;
    if (!copy) {
        brelrt_free(memory, HERE);
        text_check_close(check);
        set_file_error(kOutOfMemory);
        trace_leave(kTraceFile, "Leaving, out of memory");
        release(nullptr, layout);
        return nullptr;
    }
    auto* file = new (memory) XmlFile();
    set_file_error(kNoError);
    file->layout = layout;
    file->mode = mode;
    file->arguments[0] = a3;
    file->arguments[1] = a4;
    file->arguments[2] = a5;
    file->arguments[3] = a6;
    file->argument8 = a8;
    file->name = copy;
    file->check = check;
    file->first_pending = 1;
    file->last_record = -1;
    RootTag root;
    if (output && !prepare_output(file, config, root)) {
        trace_leave(kTraceFile, "Leaving, %d", file_error());
        release(file, nullptr);
        return nullptr;
    }
    errno = 0;
    file->stream = output ? brelrt_fopen(name, "a", as_named ? 0 : 1)
                          : open_input(name, &file->local_copy, as_named);
    if (!file->stream) {
        int error = errno;
        set_file_error(file_error() == kOutOfMemory ? kOutOfMemory : kCannotOpen);
        set_cause(file_error() == kOutOfMemory ? 0 : error);
        // A URL that is no file either: the fetch's own reason.
        if (!output && !as_named && strncasecmp(name, "http:", 5) == 0 && *brelrt_url_last_error())
            fail_reason("cannot fetch '%.200s': %s", name, brelrt_url_last_error());
        else
            fail_reason("cannot open '%s': %s", name, std::strerror(error));
        trace_leave(kTraceFile, "Leaving, open %s failed: %d\n", output ? "output" : "input",
                    error);
        release(file, nullptr);
        return nullptr;
    }
    if (!(output ? start_output(file, config, root) : start_input(file))) {
        trace_leave(kTraceFile, "Leaving, %d", file_error());
        release(file, nullptr);
        return nullptr;
    }
    trace_leave(kTraceFile, "Leaving, success");
    return file;
}

int xml_sabandon(XmlFile* file) {
    set_file_error(kNoError);
    trace_enter(kTraceFile, "xml_sabandon");
    if (!file || !xml_file_output(file) || !file->stream) {
        set_file_error(kNotSupported);
        trace_leave(kTraceFile, "Leaving, not a file open for output");
        return 0;
    }
    // Straight to the descriptor: the stream is unbuffered, and nothing here
    // may take a lock that an interrupted call could hold.
    int fd = fileno(file->stream);
    const OutBuffer& out = file->out;
    size_t done = 0;
    while (!file->write_error && done < out.length) {
        ssize_t n = ::write(fd, out.data + done, out.length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            file->write_error = n < 0 ? errno : EIO;
        else
            done += static_cast<size_t>(n);
    }
    file->stream = nullptr;
    if (file->write_error) {
        size_t whole = 0;
        while (whole < file->ends_count && file->ends[whole] <= done)
            ++whole;
        file->written = file->first_pending - 1 + static_cast<long>(whole);
        set_file_error(kWriteFailed);
        set_cause(file->write_error);
        fail_reason("xml_sabandon: writing '%s' failed (%s): records %ld to %ld are lost",
                    file->name, std::strerror(file->write_error), file->written + 1, file->records);
        trace_leave(kTraceFile, "Leaving, %d", kWriteFailed);
        return 0;
    }
    trace_leave(kTraceFile, "Leaving, %ld records written, no end tag", file->records);
    return 1;
}

int xml_sclose(XmlFile* file) {
    set_file_error(kNoError);
    trace_enter(kTraceFile, "xml_sclose");
    if (!file) {
        trace_leave(kTraceFile, "Leaving, no file");
        return 0;
    }
    int16_t error = kNoError;
    int cause = 0;
    if (xml_file_output(file)) {
        if (file->write_error) {
            error = kWriteFailed;
            cause = file->write_error;
            fail_reason("xml_sclose: '%s' is incomplete: %s", file->name,
                        std::strerror(file->write_error));
        } else {
            out_printf(file->out, "</%s>\n", file->layout->name);
            if (file->out.failed)
                error = kOutOfMemory;
            else if (!flush_output(file, "xml_sclose")) {
                error = kWriteFailed;
                cause = file->write_error;
            }
        }
    }
    FILE* stream = file->stream;
    file->stream = nullptr;
    if (brelrt_fclose(stream) != 0 && xml_file_output(file) && error == kNoError) {
        error = kWriteFailed;
        cause = errno;
        fail_reason("xml_sclose: closing '%s' failed: %s", file->name, std::strerror(errno));
    }
    release(file, nullptr);
    set_file_error(error);
    set_cause(cause);
    if (error)
        trace_leave(kTraceFile, "Leaving, %d", error);
    else
        trace_leave(kTraceFile, "Leaving");
    return 0;
}

} // extern "C"
