// The handler's entry: which files are XML files, and each file statement on
// them answered as libcob answers it for a sequential file.
#include "bxmlfh.h"

#include "files.h"
#include "libraries.h"
#include "record_image.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace extfh {

namespace {

#define HERE kModule, __LINE__

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
// base.
void layout_name(const Host& host, const char* assign, const char* mapped, char* out, size_t size) {
    char variable[160] = "BXMLFH_LAYOUT_";
    size_t n = std::strlen(variable);
    for (const char* p = assign; *p && n + 1 < sizeof variable; ++p, ++n) {
        char c = *p;
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        variable[n] = plain ? c : '_';
    }
    variable[n] = '\0';
    const char* given = host.config_text(variable);
    if (given && *given)
        std::snprintf(out, size, "%s", given);
    else
        host.layout_name(mapped, out, size);
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
// leave the file open with nothing to read.
const char* open_refused(const Host& host, const FCD3* fcd, bool output, const char* assign,
                         const char* mapped) {
    int code = *host.file_error();
    int system_error = *host.secondary_error();
    const char* what = output ? "OPEN OUTPUT of" : "OPEN INPUT of";
    if (code == BXML_FILE_CANNOT_OPEN && (system_error == EACCES || system_error == EPERM))
        return "37";
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

// OPEN INPUT or OPEN OUTPUT of an XML file; `mapped` is taken over.
void open_xml(FCD3* fcd, unsigned op, const char* assign, char* mapped) {
    const Host& host = *extfh::host();
    const Plugin& plugin = *extfh::plugin();
    const char* what = statement_name(op);
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
    char layout[256];
    layout_name(host, assign, mapped, layout, sizeof layout);
    char reason[600];
    RecordLayout* rl = host.parse_layout(layout, 14, 30);
    if (!rl) {
        std::snprintf(reason, sizeof reason, "no record layout %.80s: %s", layout,
                      host.xfd_last_error());
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
    auto* file =
        static_cast<OpenFile*>(host.alloc(sizeof(OpenFile), 1, HERE, "XML file of a program"));
    if (file) {
        file->magic = kOpenFileMagic;
        file->name = mapped;
        file->layout = rl;
        file->output = output;
        file->assign = host.strdup(assign, HERE, "ASSIGN name");
        if (!output)
            file->image = static_cast<unsigned char*>(
                host.alloc(2 * static_cast<size_t>(rl->record_size), 0, HERE, "record image"));
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
    if (!output)
        make_record_image(host, *rl, file->image);
    host.set_error_text(nullptr);
    file->busy = 1;
    file->xml = plugin.sopen(mapped, (output ? 1 : 0) | BXML_OPEN_AS_NAMED | BXML_OPEN_LAYOUT_GIVEN,
                             0, 0, 0, 0, layout, 0);
    file->busy = 0;
    const char* status = file->xml ? "00" : open_refused(host, fcd, output, assign, mapped);
    if (!file->xml && std::strcmp(status, "00") != 0 && std::strcmp(status, "05") != 0) {
        free_file(host, file);
        set_status(fcd, status);
        return;
    }
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
    if (!file->xml) {
        file->at_end = true;
        set_status(fcd, "10");
        return;
    }
    const Host& host = *extfh::host();
    const Plugin& plugin = *extfh::plugin();
    // Read into the second half of the image, so that a READ that delivers
    // nothing leaves the record area as it was.
    auto size = static_cast<size_t>(file->layout->record_size);
    unsigned char* work = file->image + size;
    std::memcpy(work, file->image, size);
    host.set_error_text(nullptr);
    file->busy = 1;
    int filled = plugin.sread(file->xml, work);
    file->busy = 0;
    if (filled > 0) {
        std::memcpy(fcd->recPtr, work, size);
        int item = plugin.record_item(file->layout, work, static_cast<int>(size));
        store4(static_cast<uint32_t>(file->layout->items[item].field.size), fcd->curRecLen);
        ++file->records;
        set_status(fcd, "00");
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

void write_xml(FCD3* fcd, OpenFile* file) {
    if (!file->output) {
        set_status(fcd, "48");
        return;
    }
    uint32_t length = load4(fcd->curRecLen);
    if (length < load4(fcd->minRecLen) || length > load4(fcd->maxRecLen)) {
        set_status(fcd, "44");
        return;
    }
    const Host& host = *extfh::host();
    const Plugin& plugin = *extfh::plugin();
    host.set_error_text(nullptr);
    file->busy = 1;
    int written = plugin.swrite(file->xml, fcd->recPtr, static_cast<int>(length));
    file->busy = 0;
    if (written) {
        ++file->records;
        set_status(fcd, "00");
        return;
    }
    char buffer[64];
    report("WRITE of", file->assign, file->name, plugin_reason(host, buffer, sizeof buffer));
    set_status(fcd, *host.file_error() == BXML_FILE_WRITE_FAILED ? "34" : "30");
}

void close_xml(FCD3* fcd, OpenFile* file) {
    const Host& host = *extfh::host();
    const Plugin& plugin = *extfh::plugin();
    const char* status = "00";
    if (file->xml) {
        host.set_error_text(nullptr);
        file->busy = 1;
        plugin.sclose(file->xml);
        file->busy = 0;
        file->xml = nullptr;
        if (int code = *host.file_error()) {
            char buffer[64];
            report("CLOSE of", file->assign, file->name,
                   plugin_reason(host, buffer, sizeof buffer));
            status = code == BXML_FILE_WRITE_FAILED ? "34" : "30";
        }
    }
    release(file);
    free_file(host, file);
    fcd->fileHandle = &g_closed;
    set_status(fcd, status);
}

} // namespace

} // namespace extfh

using namespace extfh;

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
