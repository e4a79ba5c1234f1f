// The handler's entry: which files are XML files, and each file statement on
// them answered as libcob answers it for a sequential file.
#include "bxmlfh.h"

#include "files.h"
#include "libraries.h"
#include "notices.h"
#include "record_image.h"
#include "records.h"

#include <new>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace extfh {

namespace {

#define HERE kModule, __LINE__

// The facts of the statement in progress, set by the hook around it.
StatementFacts g_facts;

// The fileHandle of an FCD says whose the file is, so that only an OPEN
// maps a name: one of these, or the OpenFile of an open XML file. A new FCD
// (libcob makes one after each CLOSE) comes with null.
char g_passed; // libcob's file: every statement goes to its EXTFH
char g_closed; // an XML file that is not open

// Operation codes, as libcob sends them.
enum : unsigned {
    kOpenInput = 0xFA00,
    kOpenOutput = 0xFA01,
    kOpenInputNoRewind = 0xFA04,
    kOpenOutputNoRewind = 0xFA05,
    kOpenLast = 0xFA08,
    kCloseFirst = 0xFA80,
    kCloseLast = 0xFA86,
    kReadNext = 0xFAF5,
    kReadNextNoLock = 0xFA8D,
    kReadNextLock = 0xFAD8,
    kReadNextKeptLock = 0xFAD9,
    kWrite = 0xFAF3,
    kWriteAdvancingFirst = 0xFAE1,
    kWriteAdvancingLast = 0xFAE6,
    kRewrite = 0xFAF4,
    kDelete = 0xFAF7,
};

enum class Statement { kOpen, kClose, kRead, kWrite, kRewrite, kOther };

Statement statement(unsigned op) {
    if (op >= kOpenInput && op <= kOpenLast)
        return Statement::kOpen;
    if (op >= kCloseFirst && op <= kCloseLast)
        return Statement::kClose;
    if (op == kReadNext || op == kReadNextNoLock || op == kReadNextLock || op == kReadNextKeptLock)
        return Statement::kRead;
    if (op == kWrite || (op >= kWriteAdvancingFirst && op <= kWriteAdvancingLast))
        return Statement::kWrite;
    if (op == kRewrite || op == kDelete)
        return Statement::kRewrite;
    return Statement::kOther;
}

const char* statement_name(unsigned op) {
    switch (op) {
    case kOpenInput:
    case kOpenInputNoRewind:
        return "OPEN INPUT of";
    case kOpenOutput:
    case kOpenOutputNoRewind:
        return "OPEN OUTPUT of";
    case 0xFA02:
        return "OPEN I-O of";
    case 0xFA03:
        return "OPEN EXTEND of";
    }
    switch (statement(op)) {
    case Statement::kOpen:
        return "OPEN of";
    case Statement::kClose:
        return "CLOSE of";
    case Statement::kRead:
        return "READ of";
    case Statement::kWrite:
        return "WRITE of";
    default:
        return "a statement on";
    }
}

void set_status(FCD3* fcd, const char* status) {
    fcd->fileStatus[0] = static_cast<unsigned char>(status[0]);
    fcd->fileStatus[1] = static_cast<unsigned char>(status[1]);
}

uint32_t load4(const unsigned char* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void store4(uint32_t v, unsigned char* p) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

OpenFile* open_file(const FCD3* fcd) {
    void* h = fcd->fileHandle;
    if (!h || h == &g_passed || h == &g_closed)
        return nullptr;
    auto* file = static_cast<OpenFile*>(h);
    return file->magic == kOpenFileMagic ? file : nullptr;
}

// What libcob answers for a statement on a file that is not open.
void answer_closed(FCD3* fcd, unsigned op, const char* assign) {
    switch (statement(op)) {
    case Statement::kClose:
        set_status(fcd, "42");
        return;
    case Statement::kRead:
        set_status(fcd, "47");
        return;
    case Statement::kWrite:
        set_status(fcd, "48");
        return;
    case Statement::kRewrite:
        set_status(fcd, "49");
        return;
    default:
        break;
    }
    char reason[64];
    std::snprintf(reason, sizeof reason, "operation %04X is not one of an XML file", op);
    report("a statement on", assign, "", reason);
    set_status(fcd, "30");
}

// Why the plug-in failed: its error text, else what its file-error word says.
const char* plugin_reason(const Host& host, char* out, size_t size) {
    const char* text = *host.error_text();
    if (text && *text)
        return text;
    switch (int code = *host.file_error()) {
    case BXML_FILE_OUT_OF_MEMORY:
        return "out of memory";
    case BXML_FILE_BAD_XML:
        return "the document is malformed or cut off";
    case BXML_FILE_WRITE_FAILED:
        return "the file refused a write";
    default:
        std::snprintf(out, size, "libbxml32.so failed with error %d", code);
        return out;
    }
}

// The ASSIGN name as libcob sent it (trailing blanks already cut); false
// when there is none or it is longer than any file name.
bool assign_name(const FCD3* fcd, char* out, size_t size) {
    size_t n = static_cast<size_t>(fcd->fnameLen[0]) << 8 | fcd->fnameLen[1];
    if (!fcd->fnamePtr || n == 0 || n >= size)
        return false;
    std::memcpy(out, fcd->fnamePtr, n);
    while (n > 0 && out[n - 1] == ' ')
        --n;
    out[n] = '\0';
    return n > 0 && std::memchr(out, '\0', n) == nullptr;
}

bool ends_with(const char* name, const char* suffix) {
    size_t n = std::strlen(name);
    size_t s = std::strlen(suffix);
    return n > s && strcasecmp(name + n - s, suffix) == 0;
}

enum class Owner { kLibcob, kHandler, kFailed };

// Whose the file is: an ORGANIZATION SEQUENTIAL or LINE SEQUENTIAL file
// whose mapped name ends in the suffix is the handler's; `mapped` then
// holds that name (tracked). kFailed: the host cannot be loaded or the name
// not mapped, and `why` says so.
Owner owner(const FCD3* fcd, const char* assign, char** mapped, const char** why) {
    if (fcd->fcdVer != FCD_VER_64Bit || (fcd->fileOrg != ORG_SEQ && fcd->fileOrg != ORG_LINE_SEQ))
        return Owner::kLibcob;
    const Host* host = extfh::host();
    if (!host) {
        *why = load_failure();
        return Owner::kFailed;
    }
    char* name = host->translate_name(assign);
    if (!name) {
        *why = "out of memory";
        return Owner::kFailed;
    }
    const char* suffix = host->config_text("BXMLFH_SUFFIX");
    if (!ends_with(name, suffix && *suffix ? suffix : ".xml")) {
        host->free(name, HERE);
        return Owner::kLibcob;
    }
    *mapped = name;
    return Owner::kHandler;
}

// The layout of the file: BXMLFH_LAYOUT_<assign>, else the mapped name's
// base. `variable` gets the variable's name; true when it named the layout.
bool layout_name(const Host& host, const char* assign, const char* mapped, char* out, size_t size,
                 char (&variable)[160]) {
    std::snprintf(variable, sizeof variable, "BXMLFH_LAYOUT_");
    size_t n = std::strlen(variable);
    for (const char* p = assign; *p && n + 1 < sizeof variable; ++p, ++n) {
        char c = *p;
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        variable[n] = plain ? c : '_';
    }
    variable[n] = '\0';
    const char* given = host.config_text(variable);
    if (given && *given) {
        std::snprintf(out, size, "%s", given);
        return true;
    }
    host.layout_name(mapped, out, size);
    return false;
}

// Another FCD's document of the same name, finished before it is opened
// again.
void finish_held(const Host& host, const Plugin& plugin, const char* mapped) {
    OpenFile* old = held_open(mapped);
    if (!old)
        return;
    old->retired = true;
    if (!old->xml)
        return;
    host.set_error_text(nullptr);
    old->busy = 1;
    plugin.sclose(old->xml);
    old->busy = 0;
    old->xml = nullptr;
    if (*host.file_error() != 0) {
        char buffer[64];
        report("finishing the earlier document of", old->assign, old->name,
               plugin_reason(host, buffer, sizeof buffer));
    }
}

// The status of an OPEN that xml_sopen refused, from its file-error word
// and the system's error number in the secondary error word. "00" and "05"
// leave the file open with nothing to read; *folder is set for an input
// that is a folder (libcob opens it, and every READ gives 30).
const char* open_refused(const Host& host, const FCD3* fcd, bool output, const char* assign,
                         const char* mapped, bool* folder) {
    int code = *host.file_error();
    int system_error = *host.secondary_error();
    const char* what = output ? "OPEN OUTPUT of" : "OPEN INPUT of";
    if (code == BXML_FILE_CANNOT_OPEN && (system_error == EACCES || system_error == EPERM))
        return "37";
    if (code == BXML_FILE_CANNOT_OPEN && system_error == EISDIR) {
        *folder = !output;
        return output ? "37" : "00";
    }
    if (!output && code == BXML_FILE_CANNOT_OPEN && system_error == ENOENT)
        return (fcd->otherFlags & OTH_OPTIONAL) ? "05" : "35";
    if (!output && code == BXML_FILE_END_OF_FILE) {
        struct stat st {};
        if (stat(mapped, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
            return "00";
        report(what, assign, mapped, "the document has no root element");
        return "30";
    }
    char buffer[64];
    report(what, assign, mapped, plugin_reason(host, buffer, sizeof buffer));
    return "30";
}

// An input file's areas: one to read into, and one for each level-01
// record as INITIALIZE leaves it, which a READ of that record begins from.
// Null when out of memory.
void allocate_images(const Host& host, OpenFile* file) {
    const RecordLayout& layout = *file->layout;
    int records = 0;
    for (int i = 0; i < layout.field_count; ++i)
        records += layout.items[i].level == 1 ? 1 : 0;
    auto size = static_cast<size_t>(layout.record_size);
    file->image_records = static_cast<int*>(
        host.alloc(static_cast<size_t>(records) * sizeof(int), 0, HERE, "record types"));
    file->image = file->image_records
                      ? static_cast<unsigned char*>(host.alloc(
                            (static_cast<size_t>(records) + 1) * size, 0, HERE, "record image"))
                      : nullptr;
    if (!file->image)
        return;
    for (int i = 0; i < layout.field_count; ++i)
        if (layout.items[i].level == 1)
            file->image_records[file->image_count++] = i;
}

// A yes/no variable of the handler, or false with a line naming it when its
// value is none.
bool handler_switch(const Host& host, const char* name, bool* on, const char* what,
                    const char* assign, const char* mapped) {
    if (!host.config_valid(name)) {
        char reason[160];
        const char* value = host.config_text(name);
        std::snprintf(reason, sizeof reason,
                      "%s has the value '%.40s', which it does not take: it takes yes or no", name,
                      value ? value : "");
        report(what, assign, mapped, reason);
        return false;
    }
    *on = host.config_yes_no(name) != 0;
    return true;
}

// OPEN INPUT or OPEN OUTPUT of an XML file; `mapped` is taken over.
void open_xml(FCD3* fcd, unsigned op, const char* assign, char* mapped) {
    const Host& host = *extfh::host();
    const Plugin& plugin = *extfh::plugin();
    const char* what = statement_name(op);
    StatementFacts facts = statement_facts();
    // Whatever happens now, the file is the handler's: libcob takes it as
    // open even after a failed OPEN, and must never write it.
    fcd->fileHandle = &g_closed;
    bool output = op == kOpenOutput || op == kOpenOutputNoRewind;
    if (!output && op != kOpenInput && op != kOpenInputNoRewind) {
        report(what, assign, mapped, "an XML file is opened INPUT or OUTPUT only");
        host.free(mapped, HERE);
        set_status(fcd, "37");
        return;
    }
    finish_held(host, plugin, mapped);
    bool strict = false, hold_records = false;
    if (!handler_switch(host, "BXMLFH_STRICT", &strict, what, assign, mapped) ||
        !handler_switch(host, "BXMLFH_HOLD", &hold_records, what, assign, mapped)) {
        host.free(mapped, HERE);
        set_status(fcd, "30");
        return;
    }
    char layout[256];
    char variable[160];
    bool named = layout_name(host, assign, mapped, layout, sizeof layout, variable);
    char reason[1400];
    // The host's own line about a copybook it cannot read would repeat the
    // one said here.
    int reporting = host.report_to_stderr(0);
    RecordLayout* rl = host.parse_layout(layout, 14, 30);
    host.report_to_stderr(reporting);
    if (!rl) {
        // Found but unusable, or named by the variable: the host's reason
        // says it all; not found by the file's name: perhaps the name is
        // not the layout's (a dated name).
        if (named || *host.xfd_last_file())
            std::snprintf(reason, sizeof reason, "no record layout %.80s%s%s%s: %.600s", layout,
                          named ? " (named by " : "", named ? variable : "", named ? ")" : "",
                          host.xfd_last_error());
        else
            std::snprintf(reason, sizeof reason,
                          "no record layout %.80s: %.600s; a file whose name is not its "
                          "layout's names it with %s=<layout>",
                          layout, host.xfd_last_error(), variable);
        report(what, assign, mapped, reason);
        host.free(mapped, HERE);
        set_status(fcd, "30");
        return;
    }
    uint32_t fd_size = load4(fcd->maxRecLen);
    if (rl->record_size < 0 || static_cast<uint32_t>(rl->record_size) != fd_size) {
        std::snprintf(reason, sizeof reason,
                      "the layout %.80s (%.300s) describes records of %d bytes, the program's "
                      "file %u bytes: the copybook is not the program's, or not laid out by "
                      "its binary-size rule",
                      layout, host.xfd_last_file(), rl->record_size, fd_size);
        report(what, assign, mapped, reason);
        host.free_layout(rl);
        host.free(mapped, HERE);
        set_status(fcd, "39");
        return;
    }
    bool by_length = false;
    if (output && !records_told_apart(plugin, *rl, facts, host.xfd_last_file(), &by_length, reason,
                                      sizeof reason)) {
        report(what, assign, mapped, reason);
        host.free_layout(rl);
        host.free(mapped, HERE);
        set_status(fcd, "30");
        return;
    }
    void* memory = host.alloc(sizeof(OpenFile), 1, HERE, "XML file of a program");
    auto* file = memory ? new (memory) OpenFile{} : nullptr;
    if (file) {
        file->magic = kOpenFileMagic;
        file->name = mapped;
        file->layout = rl;
        file->output = output;
        file->by_length = by_length;
        file->strict = strict;
        file->hold = hold_records;
        file->held.first_record = 1;
        file->assign = host.strdup(assign, HERE, "ASSIGN name");
        if (!output)
            allocate_images(host, file);
    }
    if (!file || !file->assign || (!output && !file->image)) {
        report(what, assign, mapped, "out of memory");
        if (file)
            free_file(host, file);
        else {
            host.free_layout(rl);
            host.free(mapped, HERE);
        }
        set_status(fcd, "30");
        return;
    }
    for (int k = 0; k < file->image_count; ++k)
        make_record_image(host, *rl, file->image_records[k],
                          file->image + static_cast<size_t>(k + 1) * rl->record_size);
    host.set_error_text(nullptr);
    file->busy = 1;
    file->xml = plugin.sopen(mapped, (output ? 1 : 0) | BXML_OPEN_AS_NAMED | BXML_OPEN_LAYOUT_GIVEN,
                             0, 0, 0, 0, layout, 0);
    file->busy = 0;
    const char* status =
        file->xml ? "00" : open_refused(host, fcd, output, assign, mapped, &file->folder);
    if (!file->xml && std::strcmp(status, "00") != 0 && std::strcmp(status, "05") != 0) {
        free_file(host, file);
        set_status(fcd, status);
        return;
    }
    if (file->xml && !output)
        plugin.set_notice(file->xml, on_notice, file);
    hold(file);
    fcd->fileHandle = file;
    set_status(fcd, status);
}

void read_xml(FCD3* fcd, OpenFile* file) {
    if (file->output) {
        set_status(fcd, "47");
        return;
    }
    if (file->at_end) {
        set_status(fcd, "46");
        return;
    }
    if (file->folder) {
        if (!file->records++)
            report("READ of", file->assign, file->name, "it is a folder, not a document");
        set_status(fcd, "30");
        return;
    }
    if (!file->xml) {
        file->at_end = true;
        set_status(fcd, "10");
        return;
    }
    const Host& host = *extfh::host();
    const Plugin& plugin = *extfh::plugin();
    // Read into an area of its own, so that a READ that delivers nothing
    // leaves the record area as it was; the record that begins sets it to
    // its initial values (on_notice).
    auto size = static_cast<size_t>(file->layout->record_size);
    unsigned char* work = file->image;
    host.set_error_text(nullptr);
    file->notices.changed = file->notices.unreadable = false;
    file->busy = 1;
    int filled = plugin.sread(file->xml, work);
    file->busy = 0;
    if (filled > 0) {
        std::memcpy(fcd->recPtr, work, size);
        int item = plugin.sread_record(file->xml);
        int length =
            plugin.record_length(file->layout, work, item < 0 ? 0 : item, nullptr, nullptr);
        store4(static_cast<uint32_t>(length), fcd->curRecLen);
        ++file->records;
        // The record area holds what could be read; the next READ goes on
        // with the next record.
        bool refused = file->notices.unreadable || (file->strict && file->notices.changed);
        set_status(fcd, refused ? "30" : "00");
        return;
    }
    if (*host.file_error() == BXML_FILE_END_OF_FILE) {
        file->at_end = true;
        set_status(fcd, "10");
        return;
    }
    char buffer[64];
    char reason[640];
    std::snprintf(reason, sizeof reason, "after record %ld: %s", file->records,
                  plugin_reason(host, buffer, sizeof buffer));
    report("READ of", file->assign, file->name, reason);
    set_status(fcd, "30");
}

// WRITE statement numbers as ranges: "3, 5 to 67".
void statements_text(const HeldStatements& held, long also, char* out, size_t size) {
    size_t at = 0;
    out[0] = '\0';
    long from = -1, to = -1;
    auto flush = [&] {
        if (from < 0 || at >= size)
            return;
        int n = from == to
                    ? std::snprintf(out + at, size - at, "%s%ld", at ? ", " : "", from)
                    : std::snprintf(out + at, size - at, "%s%ld to %ld", at ? ", " : "", from, to);
        at += n > 0 ? static_cast<size_t>(n) : 0;
    };
    auto add = [&](long s) {
        if (s == to + 1 && from >= 0) {
            to = s;
            return;
        }
        flush();
        from = to = s;
    };
    for (size_t k = 0; k < held.count; ++k)
        add(held.statements[(held.first + k) % held.capacity]);
    if (also > 0)
        add(also);
    flush();
}

// Keeps the statements whose records the plug-in holds: `statement` made a
// record when the document's records grew; the ones the stream took whole
// are let go. False when out of memory (the caller writes out at once).
bool track_held(const Plugin& plugin, OpenFile* file, long statement, long records_before) {
    HeldStatements& held = file->held;
    long records = 0;
    long written = plugin.swritten(file->xml, &records);
    while (held.count && held.first_record <= written) {
        held.first = (held.first + 1) % held.capacity;
        --held.count;
        ++held.first_record;
    }
    if (!held.count)
        held.first_record = written + 1;
    if (records == records_before)
        return true;
    if (held.count == held.capacity) {
        const Host& host = *extfh::host();
        size_t capacity = held.capacity ? 2 * held.capacity : 64;
        auto* grown = static_cast<long*>(
            host.alloc(capacity * sizeof(long), 0, HERE, "WRITE statements held"));
        if (!grown)
            return false;
        for (size_t k = 0; k < held.count; ++k)
            grown[k] = held.statements[(held.first + k) % held.capacity];
        host.free(held.statements, HERE);
        held.statements = grown;
        held.first = 0;
        held.capacity = capacity;
    }
    held.statements[(held.first + held.count++) % held.capacity] = statement;
    return true;
}

// The file refused a write: the statements whose records are lost named,
// once; later refusals only counted, for CLOSE to say.
void write_refused(const Host& host, const Plugin& plugin, OpenFile* file, long statement,
                   bool made_record) {
    if (file->lost) {
        ++file->refused_later;
        return;
    }
    long records = 0;
    long written = plugin.swritten(file->xml, &records);
    HeldStatements& held = file->held;
    // Held records that reached the stream whole after all are not lost.
    while (held.count && held.first_record <= written) {
        held.first = (held.first + 1) % held.capacity;
        --held.count;
        ++held.first_record;
    }
    char list[400];
    statements_text(held, made_record ? 0 : statement, list, sizeof list);
    long lost = static_cast<long>(held.count) + (made_record || statement < 1 ? 0 : 1);
    char reason[700];
    if (!lost) {
        // Only the document's own markup was refused; CLOSE says so.
        return;
    }
    file->lost = lost;
    std::snprintf(reason, sizeof reason,
                  "the file refused a write (%s): WRITE %s%s of this OPEN %s lost, the "
                  "document ends after the records before",
                  std::strerror(*host.secondary_error()), file->lost == 1 ? "" : "statements ",
                  list, file->lost == 1 ? "is" : "are");
    report("WRITE of", file->assign, file->name, reason);
    held.count = 0;
}

void write_xml(FCD3* fcd, OpenFile* file) {
    if (!file->output) {
        set_status(fcd, "48");
        return;
    }
    long statement = ++file->writes;
    uint32_t length = load4(fcd->curRecLen);
    if (length < load4(fcd->minRecLen) || length > load4(fcd->maxRecLen)) {
        set_status(fcd, "44");
        return;
    }
    const Host& host = *extfh::host();
    const Plugin& plugin = *extfh::plugin();
    if (file->lost) {
        // The document ends where the file refused: no record is added.
        ++file->refused_later;
        set_status(fcd, "34");
        return;
    }
    StatementFacts facts = statement_facts();
    char reason[700];
    char why[300] = "";
    int item =
        record_written(plugin, *file->layout, fcd->recPtr, static_cast<int>(length),
                       facts.known ? facts.record_size : 0, file->by_length, why, sizeof why);
    if (item == -2) {
        std::snprintf(reason, sizeof reason, "WRITE %ld of this OPEN not written: %s", statement,
                      why);
        report("WRITE of", file->assign, file->name, reason);
        set_status(fcd, "44");
        return;
    }
    host.set_error_text(nullptr);
    long records_before = 0;
    plugin.swritten(file->xml, &records_before);
    file->busy = 1;
    int written = plugin.swrite_as(file->xml, fcd->recPtr, static_cast<int>(length), item);
    // A record is handed to the kernel before its WRITE answers, unless
    // BXMLFH_HOLD lets up to 64 KB wait.
    bool tracked = written && track_held(plugin, file, statement, records_before);
    if (written && (!file->hold || !tracked))
        written = plugin.sflush(file->xml);
    file->busy = 0;
    if (written) {
        ++file->records;
        set_status(fcd, "00");
        return;
    }
    int code = *host.file_error();
    if (code == BXML_FILE_WRITE_FAILED) {
        // Its record was made and then lost with those held, or never made.
        long records_after = 0;
        plugin.swritten(file->xml, &records_after);
        bool made = records_after > records_before;
        if (made && !tracked)
            made = track_held(plugin, file, statement, records_before);
        write_refused(host, plugin, file, statement, made);
        set_status(fcd, "34");
        return;
    }
    char buffer[64];
    std::snprintf(reason, sizeof reason, "WRITE %ld of this OPEN not written: %s", statement,
                  plugin_reason(host, buffer, sizeof buffer));
    report("WRITE of", file->assign, file->name, reason);
    set_status(fcd, code == BXML_FILE_BAD_LENGTH ? "44" : "30");
}

void close_xml(FCD3* fcd, OpenFile* file) {
    const Host& host = *extfh::host();
    const Plugin& plugin = *extfh::plugin();
    const char* status = "00";
    if (file->xml) {
        host.set_error_text(nullptr);
        file->busy = 1;
        // The records held go first, so that a refusal names their WRITEs.
        if (file->output && !file->lost && !plugin.sflush(file->xml) &&
            *host.file_error() == BXML_FILE_WRITE_FAILED)
            write_refused(host, plugin, file, 0, true);
        plugin.sclose(file->xml);
        file->busy = 0;
        file->xml = nullptr;
        int code = *host.file_error();
        if (code && !file->lost) {
            char buffer[64];
            report("CLOSE of", file->assign, file->name,
                   plugin_reason(host, buffer, sizeof buffer));
            status = code == BXML_FILE_WRITE_FAILED ? "34" : "30";
        }
    }
    if (file->lost) {
        char line[200];
        std::snprintf(line, sizeof line,
                      "the document is incomplete: %ld WRITE statements of this OPEN are lost%s",
                      file->lost + file->refused_later,
                      file->refused_later ? ", all those after the file refused a write" : "");
        report("CLOSE of", file->assign, file->name, line);
        status = "34";
    }
    if (!file->output)
        close_notices(file);
    release(file);
    free_file(host, file);
    fcd->fileHandle = &g_closed;
    set_status(fcd, status);
}

} // namespace

StatementFacts statement_facts() {
    return g_facts;
}

} // namespace extfh

using namespace extfh;

// The statement hook of scripts/cobc-xml: what libcob knows of the file and
// of the record a statement names, beyond the FCD, kept for the handler
// while libcob passes the statement on to it.
extern "C" void bxmlfh_extfh_open(int (*callfh)(unsigned char* opcode, FCD3* fcd), cob_file* f,
                                  const int mode, const int sharing, cob_field* status) {
    g_facts = StatementFacts{true, f && f->variable_record != nullptr, 0};
    cob_extfh_open(callfh, f, mode, sharing, status);
    g_facts = StatementFacts{};
}

extern "C" void bxmlfh_extfh_write(int (*callfh)(unsigned char* opcode, FCD3* fcd), cob_file* f,
                                   cob_field* record, const int options, cob_field* status,
                                   const unsigned int check_eop) {
    g_facts = StatementFacts{true, f && f->variable_record != nullptr, record ? record->size : 0};
    cob_extfh_write(callfh, f, record, options, status, check_eop);
    g_facts = StatementFacts{};
}

extern "C" int bxmlfh(unsigned char* opcode, FCD3* fcd) {
    if (!opcode || !fcd)
        return 0;
    unsigned op = static_cast<unsigned>(opcode[0]) << 8 | opcode[1];
    Statement s = statement(op);
    // libcob's files: straight on, decided at their OPEN.
    if (fcd->fileHandle == &g_passed && s != Statement::kOpen)
        return EXTFH(opcode, fcd);
    OpenFile* file = open_file(fcd);
    if (file && !file->retired) {
        switch (s) {
        case Statement::kOpen:
            set_status(fcd, "41");
            break;
        case Statement::kClose:
            close_xml(fcd, file);
            break;
        case Statement::kRead:
            read_xml(fcd, file);
            break;
        case Statement::kWrite:
            write_xml(fcd, file);
            break;
        default:
            answer_closed(fcd, op, file->assign);
        }
        return 0;
    }
    if ((file || fcd->fileHandle == &g_closed) && s != Statement::kOpen) {
        answer_closed(fcd, op, file ? file->assign : "");
        return 0;
    }
    // An OPEN, or a new FCD after a CLOSE: whose is the file?
    char assign[4096];
    if (!assign_name(fcd, assign, sizeof assign)) {
        fcd->fileHandle = &g_passed;
        return EXTFH(opcode, fcd);
    }
    char* mapped = nullptr;
    const char* why = "";
    switch (owner(fcd, assign, &mapped, &why)) {
    case Owner::kLibcob:
        fcd->fileHandle = &g_passed;
        return EXTFH(opcode, fcd);
    case Owner::kFailed:
        fcd->fileHandle = &g_closed;
        if (s == Statement::kOpen) {
            report(statement_name(op), assign, "", why);
            set_status(fcd, "30");
        } else {
            answer_closed(fcd, op, assign);
        }
        return 0;
    case Owner::kHandler:
        break;
    }
    if (s == Statement::kOpen) {
        open_xml(fcd, op, assign, mapped);
        return 0;
    }
    extfh::host()->free(mapped, HERE);
    fcd->fileHandle = &g_closed;
    answer_closed(fcd, op, assign);
    return 0;
}
