// xml_read_bench [records] [folder] [rounds]: reading XML files beside expat.
//
// Every case runs its sides in turn, `rounds` times (at least 3) in the same
// process, and prints for each side the least and the median time, the
// ratio of medians to expat with empty handlers over the same file, and the
// peak resident memory of its runs (VmHWM, reset before each run by writing
// 5 to /proc/self/clear_refs) as growth over what was resident before.
//
//   sales     the writing benchmark's document (`records` records of a
//             20-field layout) through xml_sread, through the parser's
//             record steps (records freed, no field filled) and expat;
//   tables    records of one table of 10, 100, 1000 and 10000 occurrences
//             (the pool and the record index past their edges) in the
//             default configuration, with BXML_EXACT_TABLE_MATCH=no, with
//             4GL_COLUMN_CASE 1 and 2, and read by default from upper-case
//             names: microseconds an occurrence, and the figure at 10000
//             against the one at 10;
//   children  one element of 200000 children through the parser API (parsed
//             whole): time, peak memory and bytes an element;
//   hostile   records past every bound of a record read (elements no item
//             uses, occurrences past the layout's, a text far past its
//             field, a record past the element bound): time against expat
//             and peak memory against the bound the README gives.
#include "bxml32.h"
#include "expat_floor.h"
#include "handlers/xml_parser.h"
#include "sales.h"

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

namespace {

using bench::seconds_since;
using bench::status_kb;

// ---- measuring

struct Run {
    double seconds;
    long peak_kb; // growth of the peak over the resident memory before
};

// One run of `body`, with its time and peak memory.
Run measure(const std::function<void()>& body) {
    malloc_trim(0);
    long before = status_kb("VmRSS:");
    std::ofstream("/proc/self/clear_refs") << "5";
    auto t0 = std::chrono::steady_clock::now();
    body();
    double s = seconds_since(t0);
    return {s, status_kb("VmHWM:") - before};
}

struct Side {
    std::string name;
    std::function<void()> run;
};

struct Figures {
    double min, median;
    long peak_kb;
};

double median_of(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

int g_rounds = 3;

// Runs the sides in turn, g_rounds times; the last side is the reference.
// `per` divides the times for the figures printed (records, occurrences),
// `unit` names what a printed time is for.
std::vector<Figures> compare(const std::vector<Side>& sides, double per, const char* unit) {
    std::vector<std::vector<double>> seconds(sides.size());
    std::vector<long> peaks(sides.size(), 0);
    for (int r = 0; r < g_rounds; ++r)
        for (size_t s = 0; s < sides.size(); ++s) {
            Run run = measure(sides[s].run);
            seconds[s].push_back(run.seconds);
            peaks[s] = std::max(peaks[s], run.peak_kb);
        }
    std::vector<Figures> out;
    for (size_t s = 0; s < sides.size(); ++s)
        out.push_back({*std::min_element(seconds[s].begin(), seconds[s].end()),
                       median_of(seconds[s]), peaks[s]});
    double reference = out.back().median;
    for (size_t s = 0; s < sides.size(); ++s)
        std::printf("    %-34s min %9.3f  median %9.3f %s  %5.2fx  peak %+8ld kB\n",
                    sides[s].name.c_str(), out[s].min / per * 1e6, out[s].median / per * 1e6, unit,
                    out[s].median / reference, out[s].peak_kb);
    return out;
}

// ---- the sides

// expat with empty handlers over the file; a document it refuses ends the
// benchmark.
void expat_parse(const std::string& file) {
    if (bench::expat_parse_file(file.c_str()) != 0) {
        std::fprintf(stderr, "expat refused %s\n", file.c_str());
        std::exit(1);
    }
}

// Every record of `file` through xml_sread into an area of `size` bytes;
// the number read. The read must end with `end` (8, or 19 for a document
// refused).
long sread_all(const std::string& file, int size, int end = 8) {
    std::vector<unsigned char> area(static_cast<size_t>(size));
    XmlFile* f = xml_sopen(file.c_str(), 0, 0, 0, 0, 0, nullptr, 0);
    if (!f) {
        std::fprintf(stderr, "open of %s failed: %d\n", file.c_str(), *brelrt_file_error());
        std::exit(1);
    }
    long records = 0;
    while (xml_sread(f, area.data()) > 0)
        ++records;
    if (*brelrt_file_error() != end) {
        std::fprintf(stderr, "reading %s ended with %d\n", file.c_str(), *brelrt_file_error());
        std::exit(1);
    }
    xml_sclose(f);
    return records;
}

// The parser's own record steps over the file, each record freed as the
// reader frees it, no field filled.
void steps(const std::string& file, uint32_t case_mode) {
    FILE* in = std::fopen(file.c_str(), "rb");
    XmlParser* p = xml_create_parser(BXML_SOPEN_FLAGS | case_mode);
    int result = 0;
    while (result == 0 && !p->root)
        result = xml_parse_to_next(p, in);
    while (result == 0) {
        result = xml_parse_record(p, in);
        xml_parser_drop_record(p);
    }
    xml_free_parser(p);
    std::fclose(in);
}

std::vector<Side> three_sides(const std::string& file, int size, uint32_t case_mode) {
    return {{"bxml32 xml_sread, every field", [=] { sread_all(file, size); }},
            {"bxml32 record steps, records freed", [=] { steps(file, case_mode); }},
            {"expat, empty handlers", [=] { expat_parse(file); }}};
}

void write_text(const std::string& file, const std::string& text) {
    FILE* out = std::fopen(file.c_str(), "w");
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
}

void write_layout(const std::string& dir, const std::string& name, const std::string& text) {
    write_text(dir + "/" + name + ".xfd", text);
}

size_t file_size(const std::string& file) {
    FILE* in = std::fopen(file.c_str(), "rb");
    std::fseek(in, 0, SEEK_END);
    auto n = static_cast<size_t>(std::ftell(in));
    std::fclose(in);
    return n;
}

std::string times(size_t n, const std::string& s) {
    std::string out;
    out.reserve(n * s.size());
    for (size_t k = 0; k < n; ++k)
        out += s;
    return out;
}

// ---- the cases

void sales_case(const std::string& dir, long count) {
    RecordLayout* layout = B4ParseXFD("sales", 14, 30);
    if (!layout)
        std::exit(1);
    int size = layout->record_size;
    std::vector<std::string> records = sales::make_records(layout);
    B4XFDFree(layout);
    std::string file = dir + "/sales.xml";
    sales::Figures w = sales::write_document(file, count, records);
    if (sread_all(file, size) != count) {
        std::fprintf(stderr, "sales: not every record read\n");
        std::exit(1);
    }
    std::printf("sales: %ld records, %zu bytes (%.0f bytes a record); us a record:\n", count,
                w.bytes, static_cast<double>(w.bytes) / count);
    compare(three_sides(file, size, BXML_CASE_FOLD), static_cast<double>(count), "us");
    std::remove(file.c_str());
}

void tables_case(const std::string& dir) {
    struct Config {
        const char* name;
        const char* exact;
        const char* column_case;
        uint32_t case_mode;
        const char* written_case; // of the document
    };
    const Config configs[] = {
        {"default", "yes", "0", BXML_CASE_FOLD, "0"},
        {"BXML_EXACT_TABLE_MATCH=no", "no", "0", BXML_CASE_FOLD, "0"},
        {"4GL_COLUMN_CASE=1", "yes", "1", BXML_CASE_UNDERSCORE, "1"},
        {"4GL_COLUMN_CASE=2", "yes", "2", BXML_CASE_KEEP, "2"},
        // every name converted as it is read
        {"default, names written in upper case", "yes", "0", BXML_CASE_FOLD, "2"},
    };
    const long occurrences = 400000; // in each document
    std::printf("\ntables: records of one table of n groups of 2 fields, %ld occurrences a "
                "document; us an occurrence:\n",
                occurrences);
    // For a profile: only these configurations (by their number, 0 to 4)
    // and occurrence counts, e.g. "0" and "10,10000".
    const char* only_configs = std::getenv("XML_READ_BENCH_CONFIGS");
    const char* only_counts = std::getenv("XML_READ_BENCH_OCCURRENCES");
    for (const Config& c : configs) {
        char number[2] = {static_cast<char>('0' + (&c - configs)), '\0'};
        if (only_configs && !std::strstr(only_configs, number))
            continue;
        setenv("BXML_EXACT_TABLE_MATCH", c.exact, 1);
        double at10 = 0;
        for (int n : {10, 100, 1000, 10000}) {
            if (only_counts &&
                (',' + std::string(only_counts) + ',').find(',' + std::to_string(n) + ',') ==
                    std::string::npos)
                continue;
            write_layout(dir, "table",
                         "       01 TAB-REC.\n"
                         "          05 TAB-ID PIC 9(6).\n"
                         "          05 ROW OCCURS " +
                             std::to_string(n) +
                             ".\n"
                             "             10 CODE-A PIC X(4).\n"
                             "             10 VALUE-B PIC 9(4).\n");
            std::vector<std::string> records;
            for (int r = 0; r < 10; ++r) {
                std::string rec = std::to_string(100000 + r);
                for (int k = 0; k < n; ++k) {
                    char row[16];
                    std::snprintf(row, sizeof row, "C%03d%04d", k % 1000, (k * 7 + r) % 10000);
                    rec += row;
                }
                records.push_back(rec);
            }
            std::string file = dir + "/table.xml";
            setenv("4GL_COLUMN_CASE", c.written_case, 1);
            sales::write_document(file, occurrences / n, records);
            setenv("4GL_COLUMN_CASE", c.column_case, 1);
            std::printf("  %s, %d occurrences:\n", c.name, n);
            std::vector<Figures> f = compare(three_sides(file, 6 + 8 * n, c.case_mode),
                                             static_cast<double>(occurrences), "us");
            if (n == 10)
                at10 = f[0].median;
            if (n == 10000 && at10 > 0)
                std::printf("  %s: xml_sread at 10000 occurrences takes %.2fx its time an "
                            "occurrence at 10\n",
                            c.name, f[0].median / at10);
            std::remove(file.c_str());
        }
    }
    unsetenv("BXML_EXACT_TABLE_MATCH");
    unsetenv("4GL_COLUMN_CASE");
    std::remove((dir + "/table.xfd").c_str());
}

void children_case(const std::string& dir) {
    const int n = 200000;
    std::string file = dir + "/children.xml";
    std::string doc = "<?xml version=\"1.0\"?>\n<r>\n";
    for (int k = 0; k < n; ++k)
        doc += " <c>" + std::to_string(k) + "</c>\n";
    write_text(file, doc + "</r>\n");
    std::printf("\nchildren: one element of %d children through the parser API, parsed "
                "whole; us a child:\n",
                n);
    std::vector<Figures> f = compare(
        {{"bxml32 bxml_parser_open, whole",
          [&] {
              void* h = bxml_parser_open(
                  file.c_str(), BXML_PARSER_RECORDS | BXML_PARSER_CASE_FOLD | BXML_PARSER_WHOLE, 0);
              if (!h)
                  std::exit(1);
              bxml_parser_free(h);
          }},
         {"expat, empty handlers", [&] { expat_parse(file); }}},
        n, "us");
    std::printf("  %.0f bytes an element (peak growth / children)\n",
                static_cast<double>(f[0].peak_kb - f[1].peak_kb) * 1024 / n);
    std::remove(file.c_str());
}

// Records past the bounds of a record read, each between two plain ones.
void hostile_case(const std::string& dir) {
    write_layout(dir, "small",
                 "       01 SMALL-REC.\n"
                 "          05 A PIC X(4).\n"
                 "          05 B PIC 9(6).\n");
    write_layout(dir, "many",
                 "       01 MANY-REC.\n"
                 "          05 ROW OCCURS 1000.\n"
                 "             10 CODE-A PIC X(4).\n"
                 "             10 VALUE-B PIC 9(4).\n");
    write_layout(dir, "nest",
                 "       01 NEST-REC.\n"
                 "          05 G OCCURS 3.\n"
                 "             10 T PIC X(400).\n");
    const std::string plain = "<small_rec><a>AB</a><b>12</b></small_rec>\n";
    std::function<std::string(int)> tree = [&](int depth) {
        return depth ? "<g>" + times(4, tree(depth - 1)) + "</g>" : std::string("<g/>");
    };
    struct Case {
        const char* name;
        std::string layout;
        int size;
        int items;
        std::string doc;
        int end;
    };
    const Case cases[] = {
        {"2,000,000 elements no item names", "small", 10, 3,
         "<small>" + plain + "<small_rec>" + times(2000000, "<z>1</z>") + "</small_rec>" + plain +
             "</small>",
         8},
        {"2,000,000 occurrences of a field", "small", 10, 3,
         "<small>" + plain + "<small_rec>" + times(2000000, "<a>1</a>") + "</small_rec>" + plain +
             "</small>",
         8},
        {"500,000 occurrences for OCCURS 1000", "many", 8000, 3002,
         "<many><many_rec>" +
             times(500000, "<row><code_a>C001</code_a><value_b>1234</value_b></row>") +
             "</many_rec></many>",
         8},
        {"a text of 64 MB, a \">\" every KB", "small", 10, 3,
         "<small>" + plain + "<small_rec><a>" + times(65536, std::string(1023, 'x') + ">") +
             "</a></small_rec>" + plain + "</small>",
         8},
        {"87,381 nested elements (bound 16,398)", "nest", 1200, 7,
         "<nest><nest_rec>" + tree(8) + "</nest_rec></nest>", 19},
    };
    std::printf("\nhostile records, through xml_sread; the bound on peak growth is 20 MB + 2 x "
                "the record + 500 bytes an item:\n");
    for (const Case& c : cases) {
        std::string file = dir + "/" + c.layout + ".xml";
        write_text(file, c.doc);
        std::printf("  %s (%.1f MB, bound %.1f MB):\n", c.name, file_size(file) / 1e6,
                    (20e6 + 2.0 * c.size + 500.0 * c.items) / 1e6);
        compare({{"bxml32 xml_sread", [&] { sread_all(file, c.size, c.end); }},
                 {"expat, empty handlers", [&] { expat_parse(file); }}},
                1e6, "s ");
        std::remove(file.c_str());
    }
    for (const char* name : {"small", "many", "nest"})
        std::remove((dir + "/" + name + ".xfd").c_str());
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure as it comes
    long count = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    g_rounds = std::max(3, argc > 3 ? std::atoi(argv[3]) : 3);
    const char* only = std::getenv("XML_READ_BENCH_CASES"); // e.g. "sales,tables"
    auto wanted = [only](const char* name) { return !only || std::strstr(only, name); };
    sales::set_up(dir);
    if (wanted("sales"))
        sales_case(dir, count);
    if (wanted("tables"))
        tables_case(dir);
    if (wanted("children"))
        children_case(dir);
    if (wanted("hostile"))
        hostile_case(dir);
    std::remove((dir + "/sales.xfd").c_str());
    return 0;
}
