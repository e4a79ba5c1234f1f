// The files held open, and the exit hook that finishes them.
#include "files.h"

#include "bxmlfh.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace extfh {

namespace {

#define HERE kModule, __LINE__

OpenFile* g_files = nullptr;
bool g_hooked = false;
// Set by libcob's signal handler (through cob_reg_sighnd) and by a runtime
// error (through the error procedure); read by the exit hook.
volatile sig_atomic_t g_abnormal = 0;

void on_signal(int) {
    g_abnormal = 1;
}

// libcob calls it with its message before it ends the program; 1 lets
// libcob show the message as usual.
int on_runtime_error(char*) {
    g_abnormal = 1;
    return 1;
}

// After STOP RUN or GOBACK: each file finished with its end tag and
// released. After a runtime error or a signal: each output file's complete
// records written without the end tag, and nothing freed, since the end may
// have come inside a call. A file in the middle of a call is never touched.
void at_exit() {
    const Host* h = host();
    const Plugin* p = plugin();
    if (!h || !p)
        return;
    bool abnormal = g_abnormal != 0;
    for (OpenFile* f = g_files; f; f = f->next) {
        if (f->retired || !f->xml)
            continue;
        char line[160];
        if (f->busy) {
            report("end of the program in the middle of a call on", f->assign, f->name,
                   "the file is left as it is");
            continue;
        }
        if (abnormal) {
            if (!f->output)
                continue;
            h->set_error_text(nullptr);
            if (p->sabandon(f->xml)) {
                std::snprintf(line, sizeof line,
                              "the program ended abnormally: %ld records written, the "
                              "document's end tag left out",
                              f->records);
                report("end of the program with", f->assign, f->name, line);
            } else {
                report("end of the program with", f->assign, f->name, *h->error_text());
            }
            continue;
        }
        h->set_error_text(nullptr);
        p->sclose(f->xml);
        f->xml = nullptr;
        if (*h->file_error() != 0)
            report("end of the program with", f->assign, f->name, *h->error_text());
    }
    if (abnormal)
        return;
    while (OpenFile* f = g_files) {
        g_files = f->next;
        free_file(*h, f);
    }
}

} // namespace

OpenFile* held_files() {
    return g_files;
}

void hold(OpenFile* file) {
    // Linked whole before it becomes the head, so that the exit hook, should
    // a signal end the program here, walks a sound list.
    file->next = g_files;
    g_files = file;
}

void release(OpenFile* file) {
    for (OpenFile** link = &g_files; *link; link = &(*link)->next) {
        if (*link == file) {
            *link = file->next;
            return;
        }
    }
}

void free_file(const Host& host, OpenFile* file) {
    if (file->layout)
        host.free_layout(file->layout);
    host.free(file->image, HERE);
    host.free(file->image_records, HERE);
    host.free(file->held.statements, HERE);
    host.free(file->name, HERE);
    host.free(file->assign, HERE);
    file->magic = 0;
    host.free(file, HERE);
}

OpenFile* held_open(const char* name) {
    for (OpenFile* f = g_files; f; f = f->next)
        if (!f->retired && std::strcmp(f->name, name) == 0)
            return f;
    return nullptr;
}

void install_exit_hook() {
    if (g_hooked)
        return;
    g_hooked = true;
    std::atexit(at_exit);
    cob_reg_sighnd(on_signal);
    void* procedure = reinterpret_cast<void*>(&on_runtime_error);
    unsigned char install = 0;
    cob_sys_error_proc(&install, &procedure);
}

void report(const char* what, const char* assign, const char* name, const char* reason) {
    if (!reason || !*reason)
        reason = "failed";
    if (name && *name)
        std::fprintf(stderr, "bxmlfh: %s %.100s (%.200s): %s\n", what, assign, name, reason);
    else
        std::fprintf(stderr, "bxmlfh: %s %.100s: %s\n", what, assign, reason);
}

} // namespace extfh
