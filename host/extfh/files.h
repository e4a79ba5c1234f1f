// The XML files the handler holds open, and what happens to them when the
// program ends without closing them.
#pragma once

#include "libraries.h"

#include <csignal>
#include <cstdint>

namespace extfh {

// An open XML file; its FCD's fileHandle points at it from OPEN to CLOSE.
struct OpenFile {
    uint32_t magic;             // kOpenFileMagic while it is one
    OpenFile* next;             // the list of files held
    char* name;                 // the mapped name ("mapped file name")
    char* assign;               // the ASSIGN name, for messages ("ASSIGN name")
    XmlFile* xml;               // null: nothing to read (a missing OPTIONAL file, an empty one)
    RecordLayout* layout;       // the layout as the handler read it
    unsigned char* image;       // input: the record area as INITIALIZE leaves it, and after it
                                // as many bytes to read into ("record image")
    long records;               // records written or read
    bool output;                // opened for output
    bool at_end;                // READ gave 10: the next gives 46
    bool retired;               // finished because its name was opened again
    volatile sig_atomic_t busy; // inside a call of the plug-in
};

inline constexpr uint32_t kOpenFileMagic = 0x62786d6c; // "bxml"

// The files held, newest first; a file is added when opened and taken out
// when closed. Retired files stay until the program ends: their FCD may
// still call, and then finds a closed file.
OpenFile* held_files();
void hold(OpenFile* file);
void release(OpenFile* file);

// Frees a file's memory (its XmlFile must be closed already).
void free_file(const Host& host, OpenFile* file);

// A file of `name` still held open, for an FCD other than the one opening
// it now (a subprogram cancelled without its files being closed through the
// handler); null when none.
OpenFile* held_open(const char* name);

// Registers what finishes the held files when the program ends: with the
// root end tag after STOP RUN or GOBACK, without it after a runtime error or
// a signal. Once.
void install_exit_hook();

// One line on standard error: "bxmlfh: <what> <assign> (<name>): <reason>"
// (without the mapped name when there is none). Names are cut at a few
// hundred characters.
void report(const char* what, const char* assign, const char* name, const char* reason);

} // namespace extfh
