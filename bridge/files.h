// The XML files the handler holds open, and what happens to them when the
// program ends without closing them.
#pragma once

#include "libraries.h"

#include <csignal>
#include <cstdint>

namespace extfh {

// What READs said of one input file on standard error: at most
// kNoticeLines lines, then only counts, said at CLOSE.
struct Notices {
    static constexpr int kLines = 10;
    static constexpr int kUnknownNames = 8;
    int lines = 0;           // lines said
    long unsaid = 0;         // changed or passed-over values not said
    long all = 0;            // changed or passed-over values in all
    bool changed = false;    // a value of the record being read was changed or passed over
    bool unreadable = false; // the record being read held a character the program's
                             // encoding cannot hold
    struct Unknown {
        char name[64];
        long count;
    } unknown[kUnknownNames]; // root children passed over, by name
    int unknown_names = 0;
    long unknown_others = 0; // of further names
};

// The WRITE statements of an output file whose records the plug-in holds
// (not yet handed to the kernel), oldest first: at most what 64 KB of
// records hold.
struct HeldStatements {
    long* statements = nullptr;
    size_t first = 0; // the oldest at statements[first]
    size_t count = 0;
    size_t capacity = 0;
    long first_record = 1; // the document's record number of the oldest
};

// An open XML file; its FCD's fileHandle points at it from OPEN to CLOSE.
struct OpenFile {
    uint32_t magic;       // kOpenFileMagic while it is one
    OpenFile* next;       // the list of files held
    char* name;           // the mapped name ("mapped file name")
    char* assign;         // the ASSIGN name, for messages ("ASSIGN name")
    XmlFile* xml;         // null: nothing to read (a missing OPTIONAL file, an empty one)
    RecordLayout* layout; // the layout as the handler read it
    unsigned char* image; // input: the bytes to read into, then the record area as
                          // INITIALIZE leaves it for each level-01 record in turn
                          // ("record image")
    int* image_records;   // input: the level-01 item of each of those areas
    int image_count;
    long records;               // records written or read
    bool output;                // opened for output
    bool at_end;                // READ gave 10: the next gives 46
    bool retired;               // finished because its name was opened again
    bool folder;                // OPEN INPUT of a folder: every READ gives 30, as libcob's
    bool by_length;             // output: records without WHEN are told by their length
    bool strict;                // input: BXMLFH_STRICT, a changed value fails the READ
    bool hold;                  // output: BXMLFH_HOLD, records held up to 64 KB
    long writes;                // output: WRITE statements of this OPEN
    long lost;                  // output: WRITE statements whose record is lost
    long refused_later;         // output: WRITEs refused after the file refused a write
    HeldStatements held;        // output: the statements whose records are held
    Notices notices;            // input: what READs said
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
