// xml_stress_bench [seconds] [folder]: hostile documents against bxml32's
// bounds. Each document is read three ways, each in a fresh process of its
// own (this program started again with --child), three times, alternating:
// expat with empty handlers, xml_sread record by record, and the parser API
// opening the whole document. For each way it prints the min and median
// time, the ratio of medians to expat's, and the growth of peak resident
// memory over the process's start; then whether the bounds hold:
//   - xml_sread and the parser API end within 2x expat's time (plus 10 ms,
//     below which a process's own noise decides);
//   - xml_sread grows by at most 50 MB;
//   - the parser API within its tree cap (BXML_TREE_LIMIT, default 256 MB).
// The fixed cases come first; the remaining seconds go to documents grown
// at random from a seed (repeated elements, attributes, text, nesting),
// each printed with its seed so that a failure can be made again.
#include "bxml32.h"
#include "expat_floor.h"
#include "measure.h"

#include <brelrt.h>
#include <expat.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kTimeRatio = 2.0;
constexpr double kTimeSlack = 0.010;
constexpr long kSreadGrowthKb = 50 * 1024;

using bench::seconds_since;
using bench::status_kb;

// ---- the child: one way of reading one document

void set_up_runtime() {
    for (const BrelrtHostEntry& e : brelrt_host_entries)
        xml_set_host_entry(e.name, reinterpret_cast<void*>(e.function));
    xml_register_config();
}

// Every record through xml_sread; the result is the records read, and the
// file-error word that ended them in `error`.
long run_sread(const char* file, int* error) {
    set_up_runtime();
    XmlFile* f = xml_sopen(file, 0, 0, 0, 0, 0, nullptr, 0);
    if (!f) {
        *error = *brelrt_file_error();
        return 0;
    }
    std::vector<unsigned char> area(1 << 20);
    long records = 0;
    while (xml_sread(f, area.data()) > 0)
        ++records;
    *error = *brelrt_file_error();
    xml_sclose(f);
    return records;
}

// The whole document through the parser API; 1 when it opened.
long run_api(const char* file, int* error) {
    set_up_runtime();
    void* h =
        bxml_parser_open(file, BXML_PARSER_RECORDS | BXML_PARSER_CASE_FOLD | BXML_PARSER_WHOLE, 0);
    int code = 0;
    bxml_parser_error(&code);
    *error = code;
    if (!h)
        return 0;
    bxml_parser_free(h);
    return 1;
}

// Prints "seconds result error base_kb peak_kb" on standard output.
int child(const std::string& way, const char* file) {
    long base = status_kb("VmRSS:");
    int error = 0;
    long result = 0;
    auto t0 = Clock::now();
    if (way == "expat")
        result = bench::expat_parse_file(file);
    else if (way == "sread")
        result = run_sread(file, &error);
    else if (way == "api")
        result = run_api(file, &error);
    double s = seconds_since(t0);
    std::printf("%.6f %ld %d %ld %ld\n", s, result, error, base, status_kb("VmHWM:"));
    return 0;
}

// ---- the parent

struct Run {
    double seconds = 0;
    long result = 0;
    int error = 0;
    long growth_kb = 0;
    bool ok = false;
};

std::string g_self;

// This program started again as a child on one way and one document.
Run spawn_child(const std::string& way, const std::string& file) {
    Run run;
    int fds[2];
    if (pipe(fds) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::string a0 = g_self, a1 = "--child", a2 = way, a3 = file;
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, g_self.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string out;
    char buffer[256];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    if (rc != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return run;
    long base = 0, peak = 0;
    if (std::sscanf(out.c_str(), "%lf %ld %d %ld %ld", &run.seconds, &run.result, &run.error, &base,
                    &peak) != 5)
        return run;
    run.growth_kb = peak - base;
    run.ok = true;
    return run;
}

struct Figures {
    double min = 0, median = 0;
    long growth_kb = 0; // the largest of the runs
    long result = 0;
    int error = 0;
    bool ok = true;
};

Figures figures_of(const std::vector<Run>& runs) {
    Figures f;
    std::vector<double> s;
    for (const Run& r : runs) {
        f.ok = f.ok && r.ok;
        s.push_back(r.seconds);
        f.growth_kb = std::max(f.growth_kb, r.growth_kb);
        f.result = r.result;
        f.error = r.error;
    }
    std::sort(s.begin(), s.end());
    f.min = s.front();
    f.median = s[s.size() / 2];
    return f;
}

long tree_cap_kb() {
    const char* v = std::getenv("BXML_TREE_LIMIT");
    long mb = v ? std::atol(v) : 0;
    return (mb > 0 ? mb : 256) * 1024;
}

int g_failures = 0;

// Reads `file` the three ways, `repeats` times each, alternating; prints a
// line for each way and the bounds.
void measure(const std::string& name, const std::string& file, int repeats) {
    std::vector<Run> runs[3];
    const char* ways[3] = {"expat", "sread", "api"};
    for (int r = 0; r < repeats; ++r)
        for (int w = 0; w < 3; ++w)
            runs[w].push_back(spawn_child(ways[w], file));
    Figures f[3];
    for (int w = 0; w < 3; ++w)
        f[w] = figures_of(runs[w]);
    FILE* in = std::fopen(file.c_str(), "rb");
    std::fseek(in, 0, SEEK_END);
    double mb = static_cast<double>(std::ftell(in)) / 1e6;
    std::fclose(in);
    std::printf("%s (%.1f MB)\n", name.c_str(), mb);
    bool fine = true;
    for (int w = 0; w < 3; ++w) {
        double ratio = f[w].median / std::max(f[0].median, 1e-6);
        std::printf("  %-6s min %8.4f s  median %8.4f s  %6.2fx expat  peak +%7.1f MB  ", ways[w],
                    f[w].min, f[w].median, ratio, f[w].growth_kb / 1024.0);
        if (w == 0)
            std::printf("expat error %ld\n", f[w].result);
        else if (w == 1)
            std::printf("%ld records, file error %d\n", f[w].result, f[w].error);
        else
            std::printf("%s, error %d\n", f[w].result ? "opened" : "refused", f[w].error);
        if (!f[w].ok) {
            std::printf("  %s: the child failed (crash, or no figures)\n", ways[w]);
            fine = false;
            continue;
        }
        if (w > 0 && f[w].median > kTimeRatio * f[0].median + kTimeSlack) {
            std::printf("  OVER: %s takes more than %.0fx expat's time\n", ways[w], kTimeRatio);
            fine = false;
        }
    }
    if (f[1].growth_kb > kSreadGrowthKb) {
        std::printf("  OVER: xml_sread grows by more than %ld MB\n", kSreadGrowthKb / 1024);
        fine = false;
    }
    if (f[2].growth_kb > tree_cap_kb() + 20 * 1024) {
        std::printf("  OVER: the parser API grows past its cap\n");
        fine = false;
    }
    if (!fine)
        ++g_failures;
}

// ---- documents

// Writes a document: `body` is called with the stream to write what lies
// inside the root element "stress".
std::string write_doc(const std::string& dir, const std::function<void(FILE*)>& body,
                      const char* prologue = "") {
    std::string file = dir + "/stress.xml";
    FILE* out = std::fopen(file.c_str(), "w");
    std::fprintf(out, "<?xml version=\"1.0\"?>\n%s<stress>\n", prologue);
    body(out);
    std::fputs("</stress>\n", out);
    std::fclose(out);
    return file;
}

void write_layout(const std::string& dir, const char* copybook) {
    FILE* out = std::fopen((dir + "/stress.xfd").c_str(), "w");
    std::fputs(copybook, out);
    std::fclose(out);
}

const char kTenBytes[] = "       01 REC.\n"
                         "          05 F PIC X(10).\n";
const char kTable[] = "       01 REC.\n"
                      "          05 ID  PIC 9(6).\n"
                      "          05 ROW OCCURS 10.\n"
                      "             10 C PIC X(4).\n"
                      "             10 N PIC 9(4).\n";

void repeat(FILE* out, const std::string& text, size_t bytes) {
    for (size_t n = 0; n < bytes; n += text.size())
        std::fputs(text.c_str(), out);
}

void fixed_cases(const std::string& dir, int repeats) {
    write_layout(dir, kTenBytes);
    for (size_t mb : {1, 16})
        measure("a record of " + std::to_string(mb) + " MB of <a>1</a>, a 10-byte layout",
                write_doc(dir,
                          [&](FILE* out) {
                              std::fputs("<rec>", out);
                              repeat(out, "<a>1</a>", mb << 20);
                              std::fputs("</rec>\n", out);
                          }),
                repeats);
    measure("a record of 16 MB of <f>1</f>, the layout's own field",
            write_doc(dir,
                      [&](FILE* out) {
                          std::fputs("<rec>", out);
                          repeat(out, "<f>1</f>", 16 << 20);
                          std::fputs("</rec>\n", out);
                      }),
            repeats);
    measure("a text of 100 MB with a > every 1000 bytes, for a 10-byte field",
            write_doc(dir,
                      [&](FILE* out) {
                          std::fputs("<rec><f>", out);
                          repeat(out, std::string(999, 'x') + ">", 100 << 20);
                          std::fputs("</f></rec>\n", out);
                      }),
            repeats);
    measure("a CDATA section of 100 MB, for a 10-byte field",
            write_doc(dir,
                      [&](FILE* out) {
                          std::fputs("<rec><f><![CDATA[", out);
                          repeat(out, std::string(1000, 'y'), 100 << 20);
                          std::fputs("]]></f></rec>\n", out);
                      }),
            repeats);
    measure("100,000 records of 100 distinct unknown elements each",
            write_doc(dir,
                      [&](FILE* out) {
                          std::string rec = "<rec>";
                          for (int k = 0; k < 100; ++k)
                              rec += "<u" + std::to_string(k) + "/>";
                          rec += "</rec>\n";
                          for (int r = 0; r < 100000; ++r)
                              std::fputs(rec.c_str(), out);
                      }),
            repeats);
    measure("element nesting a million levels deep",
            write_doc(dir,
                      [&](FILE* out) {
                          std::fputs("<rec>", out);
                          repeat(out, "<f>", 3000000);
                          repeat(out, "</f>", 4000000);
                          std::fputs("</rec>\n", out);
                      }),
            repeats);
    measure("element names of 900 kB, 20 records",
            write_doc(dir,
                      [&](FILE* out) {
                          std::string name(900 * 1024, 'n');
                          for (int r = 0; r < 20; ++r)
                              std::fprintf(out, "<rec><%s>1</%s></rec>\n", name.c_str(),
                                           name.c_str());
                      }),
            repeats);
    measure("90,000 attributes on each of 20 records",
            write_doc(dir,
                      [&](FILE* out) {
                          std::string tag = "<rec";
                          for (int k = 0; k < 90000; ++k)
                              tag += " a" + std::to_string(k) + "=\"1\"";
                          tag += "><f>1</f></rec>\n";
                          for (int r = 0; r < 20; ++r)
                              std::fputs(tag.c_str(), out);
                      }),
            repeats);
    measure("billion laughs",
            write_doc(
                dir, [](FILE* out) { std::fputs("<rec><f>&l9;</f></rec>\n", out); },
                "<!DOCTYPE stress [\n <!ENTITY l0 \"lol\">\n"
                " <!ENTITY l1 \"&l0;&l0;&l0;&l0;&l0;&l0;&l0;&l0;&l0;&l0;\">\n"
                " <!ENTITY l2 \"&l1;&l1;&l1;&l1;&l1;&l1;&l1;&l1;&l1;&l1;\">\n"
                " <!ENTITY l3 \"&l2;&l2;&l2;&l2;&l2;&l2;&l2;&l2;&l2;&l2;\">\n"
                " <!ENTITY l4 \"&l3;&l3;&l3;&l3;&l3;&l3;&l3;&l3;&l3;&l3;\">\n"
                " <!ENTITY l5 \"&l4;&l4;&l4;&l4;&l4;&l4;&l4;&l4;&l4;&l4;\">\n"
                " <!ENTITY l6 \"&l5;&l5;&l5;&l5;&l5;&l5;&l5;&l5;&l5;&l5;\">\n"
                " <!ENTITY l7 \"&l6;&l6;&l6;&l6;&l6;&l6;&l6;&l6;&l6;&l6;\">\n"
                " <!ENTITY l8 \"&l7;&l7;&l7;&l7;&l7;&l7;&l7;&l7;&l7;&l7;\">\n"
                " <!ENTITY l9 \"&l8;&l8;&l8;&l8;&l8;&l8;&l8;&l8;&l8;&l8;\">\n"
                "]>\n"),
            repeats);
    measure("a record of 10 MB of comments",
            write_doc(dir,
                      [&](FILE* out) {
                          std::fputs("<rec><f>1</f>", out);
                          repeat(out, "<!-- " + std::string(90, 'c') + " -->", 10 << 20);
                          std::fputs("</rec>\n", out);
                      }),
            repeats);
    measure(
        "200,000 records of one field, cut off in the last",
        [&] {
            std::string file = dir + "/stress.xml";
            FILE* out = std::fopen(file.c_str(), "w");
            std::fputs("<?xml version=\"1.0\"?>\n<stress>\n", out);
            for (int r = 0; r < 200000; ++r)
                std::fprintf(out, " <rec>\n  <f>%d</f>\n </rec>\n", r);
            std::fputs(" <rec>\n  <f>cut", out);
            std::fclose(out);
            return file;
        }(),
        repeats);
    measure(
        "a second root element after the first",
        [&] {
            std::string file = dir + "/stress.xml";
            FILE* out = std::fopen(file.c_str(), "w");
            std::fputs("<?xml version=\"1.0\"?>\n<stress><rec><f>1</f></rec></stress>\n<h>", out);
            for (int r = 0; r < 100000; ++r)
                std::fputs("<rec><f>2</f></rec>", out);
            std::fputs("</h>\n", out);
            std::fclose(out);
            return file;
        }(),
        repeats);
    write_layout(dir, kTable);
    measure("a record of 30 MB of table occurrences (OCCURS 10)",
            write_doc(dir,
                      [&](FILE* out) {
                          std::fputs("<rec><id>1</id>", out);
                          repeat(out, "<row><c>abcd</c><n>12</n></row>", 30 << 20);
                          std::fputs("</rec>\n", out);
                      }),
            repeats);
    measure("200,000 records of one table row each",
            write_doc(dir,
                      [&](FILE* out) {
                          for (int r = 0; r < 200000; ++r)
                              std::fprintf(out,
                                           "<rec><id>%d</id><row><c>ab</c><n>%d</n></row></rec>\n",
                                           r, r % 10000);
                      }),
            repeats);
}

// A document grown at random: records built of repeated elements (known and
// unknown names), attributes, text and nesting, up to about `limit` bytes.
std::string random_doc(const std::string& dir, unsigned seed, size_t limit, std::string& shape) {
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    static const char* names[] = {"row", "c", "n", "id", "x", "rec"};
    int elements = 1 << pick(0, 16);
    int attributes = pick(0, 3) ? 0 : 1 << pick(0, 12);
    int text = 1 << pick(0, 16);
    int nesting = pick(0, 2) ? 1 : 1 << pick(0, 11);
    const char* name = names[pick(0, 5)];
    char buffer[160];
    std::snprintf(buffer, sizeof buffer,
                  "seed %u: <%s> x %d, %d attributes, text %d bytes, nesting %d", seed, name,
                  elements, attributes, text, nesting);
    shape = buffer;
    std::string attrs;
    for (int k = 0; k < attributes; ++k)
        attrs += " a" + std::to_string(k) + "='v'";
    std::string body(static_cast<size_t>(text), 'q');
    return write_doc(dir, [&](FILE* out) {
        size_t written = 0;
        while (written < limit) {
            std::fputs("<rec>", out);
            for (int d = 0; d < nesting; ++d)
                std::fprintf(out, "<%s>", name);
            for (int e = 0; e < elements && written < limit; ++e) {
                std::fprintf(out, "<%s%s>%s</%s>", name, attrs.c_str(), body.c_str(), name);
                written += 2 * std::strlen(name) + attrs.size() + body.size() + 5;
            }
            for (int d = 0; d < nesting; ++d)
                std::fprintf(out, "</%s>", name);
            std::fputs("</rec>\n", out);
            written += 12;
        }
    });
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return child(argv[2], argv[3]);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    double budget = argc > 1 ? std::atof(argv[1]) : 0;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    if (access(dir.c_str(), W_OK) != 0) {
        std::fprintf(stderr, "xml_stress_bench: cannot write into the folder %.200s\n",
                     dir.c_str());
        return 2;
    }
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return 1;
    self[n] = '\0';
    g_self = self;
    setenv("BRELRT_XFD_DIR", dir.c_str(), 1);
    unsetenv("BRELRT_TRACE");
    unsetenv("BRELRT_CONFIG");

    auto t0 = Clock::now();
    fixed_cases(dir, 3);
    int fixed_failures = g_failures;
    write_layout(dir, kTable);
    unsigned seed = static_cast<unsigned>(std::time(nullptr));
    int documents = 0;
    while (seconds_since(t0) < budget) {
        std::string shape;
        std::string file = random_doc(dir, seed, static_cast<size_t>(4) << 20, shape);
        measure(shape, file, 3);
        ++seed;
        ++documents;
    }
    std::remove((dir + "/stress.xml").c_str());
    std::remove((dir + "/stress.xfd").c_str());
    std::printf("\n%d fixed cases over a bound; %d of %d random documents over a bound\n",
                fixed_failures, g_failures - fixed_failures, documents);
    return g_failures ? 1 : 0;
}
