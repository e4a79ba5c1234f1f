// xml_tree_bench [folder]: the element tree that the parser API builds
// (bxml_parser_open with the whole document parsed, as a runtime opens a
// document to walk it), beside expat with empty handlers parsing the same
// file: time, and bytes an element (peak resident memory and tracked bytes,
// each divided by the elements). Then documents made to take memory, at
// sizes s and 2s below BXML_TREE_LIMIT (the time should double) and 8s past
// it (refused, in the time it takes to reach the bound).
//
// Each side runs three times, alternating; each line gives the min and
// median of each side, the ratio of the medians and the peak resident
// memory of the case.
#include "bxml32.h"
#include "expat_floor.h"
#include "measure.h"

#include <brelrt.h>
#include <expat.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kRuns = 3;
constexpr unsigned kWhole =
    BXML_PARSER_RECORDS | BXML_PARSER_CASE_FOLD | BXML_PARSER_COMMENTS | BXML_PARSER_WHOLE;

using bench::reset_peak;
using bench::seconds_since;
using bench::status_kb;

void write_file(const std::string& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

std::string repeat(const std::string& s, long n) {
    std::string out;
    out.reserve(s.size() * static_cast<size_t>(n));
    for (long k = 0; k < n; ++k)
        out += s;
    return out;
}

// expat with empty handlers over the file (a document it refuses is timed
// all the same).
void expat_parse(const std::string& file) {
    bench::expat_parse_file(file.c_str());
}

// The parser API over the file, the whole document into the tree; the
// handle is freed. Returns the code of a failed open, 0 after success.
int api_open(const std::string& file) {
    void* h = bxml_parser_open(file.c_str(), kWhole, 0);
    int code = 0;
    if (!h)
        bxml_parser_error(&code);
    bxml_parser_free(h);
    return code;
}

struct Side {
    std::vector<double> seconds;
    double min() const { return *std::min_element(seconds.begin(), seconds.end()); }
    double median() const {
        std::vector<double> s = seconds;
        std::sort(s.begin(), s.end());
        return s[s.size() / 2];
    }
};

// Runs both sides kRuns times, alternating; returns the peak resident
// memory in kB above what was resident before.
long alternate(const std::function<void()>& a, Side& sa, const std::function<void()>& b, Side& sb) {
    reset_peak();
    long before = status_kb("VmRSS:");
    for (int r = 0; r < kRuns; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        a();
        sa.seconds.push_back(seconds_since(t0));
        t0 = std::chrono::steady_clock::now();
        b();
        sb.seconds.push_back(seconds_since(t0));
    }
    return status_kb("VmHWM:") - before;
}

void print(const char* what, const char* a_name, const Side& a, const char* b_name, const Side& b,
           long peak_kb) {
    std::printf("%-28s %s %.3f/%.3f s, %s %.3f/%.3f s (min/median), ratio of medians %.2f, "
                "peak +%ld kB\n",
                what, a_name, a.min(), a.median(), b_name, b.min(), b.median(),
                a.median() / b.median(), peak_kb);
}

// The tree's cost an element: the growth of peak resident memory and the
// tracked bytes at their peak, while one handle holds the whole document.
void bytes_per_element(const char* what, const std::string& file, long elements) {
    reset_peak();
    long before = status_kb("VmRSS:");
    size_t tracked = brelrt_mem_bytes();
    size_t blocks = brelrt_mem_outstanding();
    brelrt_mem_peak(1);
    void* h = bxml_parser_open(file.c_str(), kWhole, 0);
    if (!h) {
        std::fprintf(stderr, "%s: open failed\n", what);
        std::exit(1);
    }
    long peak = status_kb("VmHWM:") - before;
    size_t tracked_peak = brelrt_mem_peak(0) - tracked;
    size_t held = brelrt_mem_bytes() - tracked;
    size_t held_blocks = brelrt_mem_outstanding() - blocks;
    bxml_parser_free(h);
    std::printf("%-28s %ld elements: peak resident +%.0f bytes an element; tracked bytes %.0f at "
                "the peak, %.0f held in %.2f blocks\n",
                what, elements, peak * 1024.0 / elements,
                static_cast<double>(tracked_peak) / elements, static_cast<double>(held) / elements,
                static_cast<double>(held_blocks) / elements);
}

// One element with n children <c>k</c>, as the reading benchmark's.
std::string children(long n) {
    std::string doc = "<?xml version=\"1.0\"?>\n<r>\n";
    for (long k = 0; k < n; ++k)
        doc += " <c>" + std::to_string(k) + "</c>\n";
    return doc + "</r>\n";
}

// Names and texts too long for an element's own bytes.
std::string long_children(long n) {
    const std::string name(40, 'n');
    std::string doc = "<?xml version=\"1.0\"?>\n<r>\n";
    for (long k = 0; k < n; ++k)
        doc += " <" + name + ">" + std::to_string(k) + std::string(100, 'x') + "</" + name + ">\n";
    return doc + "</r>\n";
}

// Documents made to take memory, scaled by n.
struct Hostile {
    const char* what;
    std::function<std::string(long)> make;
    long s; // a size whose tree takes about 8 MB
};

// Entities that expand 27 times (expat refuses more than 100 times past 8
// MB of expansion: a document that expands further ends there).
std::string laughs(long n) {
    return "<!DOCTYPE r [<!ENTITY l0 \"lollollollollollollollollollol\">"
           "<!ENTITY l1 \"" +
           repeat("&l0;", 10) + "\">]><r>" + repeat("<t>&l1;</t>", n) + "</r>";
}

const Hostile kHostile[] = {
    {"many children", [](long n) { return children(n); }, 25000},
    {"long names",
     [](long n) { return "<r>" + repeat("<" + std::string(4000, 'n') + "/>", n) + "</r>"; }, 2000},
    {"many attributes",
     [](long n) {
         std::string attributes;
         for (int k = 0; k < 100; ++k)
             attributes += " a" + std::to_string(k) + "=\"v\"";
         return "<r>" + repeat("<e" + attributes + "/>", n) + "</r>";
     },
     2000},
    {"deep nesting",
     [](long n) { return "<r>" + repeat(repeat("<d>", 1000) + repeat("</d>", 1000), n) + "</r>"; },
     25},
    {"long texts",
     [](long n) { return "<r>" + repeat("<t>" + std::string(1000000, 't') + "</t>", n) + "</r>"; },
     8},
    {"comments",
     [](long n) {
         return "<r>" + repeat("<!--" + std::string(1000000, 'c') + "-->", n) + "<e/></r>";
     },
     8},
    {"entity expansion", laughs, 15000},
    {"cut off", [](long n) { return children(n).substr(0, static_cast<size_t>(n) * 10); }, 25000},
};

// Runs `body` in a child process of its own, so that each case's memory
// figures start from a heap that earlier cases have not spread out.
void in_child(const std::function<void()>& body) {
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        body();
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status)) {
        std::fprintf(stderr, "a case failed\n");
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string dir = argc > 1 ? argv[1] : "/tmp";
    std::string file = dir + "/tree_bench.xml";
    std::string file2 = dir + "/tree_bench2.xml";

    std::printf("the whole document in the tree (parser API, flag 0x4) beside expat with empty "
                "handlers:\n");
    struct Case {
        const char* what;
        std::function<std::string()> doc;
        long elements;
    } cases[] = {
        {"200000 children <c>k</c>", [] { return children(200000); }, 200001},
        {"100000 long names and texts", [] { return long_children(100000); }, 100001},
    };
    for (const Case& c : cases) {
        in_child([&] {
            write_file(file, c.doc());
            bytes_per_element(c.what, file, c.elements);
            Side api, expat;
            long peak = alternate([&] { api_open(file); }, api, [&] { expat_parse(file); }, expat);
            print(c.what, "bxml32", api, "expat", expat, peak);
        });
    }

    // Record by record: after each record the hash's entries go back to
    // their pool, which keeps 4096 and frees the rest.
    in_child([&] {
        std::string doc = "<?xml version=\"1.0\"?>\n<r>\n";
        for (int k = 0; k < 40; ++k)
            doc += "<rec>" + repeat("<c>1</c>", 5000) + "</rec>\n";
        write_file(file, doc + "</r>\n");
        doc = std::string();
        Side records, expat;
        long peak = alternate(
            [&] {
                void* h = bxml_parser_open(file.c_str(), kWhole & ~BXML_PARSER_WHOLE, 0);
                while (bxml_next_record(h) == 1) {
                }
                bxml_parser_free(h);
            },
            records, [&] { expat_parse(file); }, expat);
        print("40 records of 5000, next", "bxml32", records, "expat", expat, peak);
    });

    std::printf("\nBXML_TREE_LIMIT=32: documents of size 2s and s (below the bound, the "
                "time should double), and 8s (past it), with the open's results:\n");
    setenv("BXML_TREE_LIMIT", "32", 1);
    for (const Hostile& h : kHostile) {
        in_child([&] {
            write_file(file, h.make(h.s));
            write_file(file2, h.make(2 * h.s));
            int code1 = 0, code2 = 0;
            Side one, two;
            long peak = alternate([&] { code2 = api_open(file2); }, two,
                                  [&] { code1 = api_open(file); }, one);
            char what[64];
            std::snprintf(what, sizeof what, "%s (%d, %d)", h.what, code2, code1);
            print(what, "2s", two, "s", one, peak);
        });
        in_child([&] {
            write_file(file2, h.make(8 * h.s));
            int code8 = 0;
            Side eight, expat;
            long peak = alternate([&] { code8 = api_open(file2); }, eight,
                                  [&] { expat_parse(file2); }, expat);
            char what[64];
            std::snprintf(what, sizeof what, "  8s (%d)", code8);
            print(what, "bxml32", eight, "expat", expat, peak);
        });
    }
    std::remove(file.c_str());
    std::remove(file2.c_str());
    return 0;
}
