// xml_read_bench [records] [folder]: reads back the document of the writing
// benchmark (the sales layout, `records` records) through xml_sopen and
// xml_sread as the runtime does, beside expat with empty handlers parsing
// the same file in the same run; then the peak memory of reading, the time
// per record of tables of 10, 100 and 1000 occurrences, and parsing one
// element with 100 000 and 200 000 children to the end.
#include "bxml32.h"
#include "handlers/xml_parser.h"
#include "sales.h"

#include <brelrt.h>
#include <expat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using sales::seconds_since;

void start(void*, const XML_Char*, const XML_Char**) {}
void end(void*, const XML_Char*) {}
void text(void*, const XML_Char*, int) {}

// expat with empty handlers over the file, read in 32000-byte pieces.
double expat_seconds(const std::string& file) {
    auto t0 = std::chrono::steady_clock::now();
    FILE* in = std::fopen(file.c_str(), "rb");
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetElementHandler(p, start, end);
    XML_SetCharacterDataHandler(p, text);
    static char buffer[32000];
    size_t n;
    bool ok = true;
    while (ok && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        ok = XML_Parse(p, buffer, static_cast<int>(n), 0) == XML_STATUS_OK;
    ok = ok && XML_Parse(p, nullptr, 0, 1) == XML_STATUS_OK;
    XML_ParserFree(p);
    std::fclose(in);
    if (!ok) {
        std::fprintf(stderr, "expat refused %s\n", file.c_str());
        std::exit(1);
    }
    return seconds_since(t0);
}

// A figure in kB of /proc/self/status: "VmHWM:" the peak resident memory
// since the last reset_peak(), "VmRSS:" the resident memory now.
long status_kb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

void reset_peak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Read {
    double seconds;
    long records;
    size_t max_blocks;
};

// Every record of `file` into an area of `size` bytes.
Read read_file(const std::string& file, int size) {
    std::vector<unsigned char> area(static_cast<size_t>(size));
    auto t0 = std::chrono::steady_clock::now();
    XmlFile* f = xml_sopen(file.c_str(), 0, 0, 0, 0, 0, nullptr, 0);
    if (!f) {
        std::fprintf(stderr, "open failed: %d\n", *brelrt_file_error());
        std::exit(1);
    }
    long records = 0;
    size_t max_blocks = 0;
    while (xml_sread(f, area.data()) > 0) {
        ++records;
        if ((records & 1023) == 0 && brelrt_mem_outstanding() > max_blocks)
            max_blocks = brelrt_mem_outstanding();
    }
    if (*brelrt_file_error() != 8) {
        std::fprintf(stderr, "read failed: %d\n", *brelrt_file_error());
        std::exit(1);
    }
    xml_sclose(f);
    return {seconds_since(t0), records, max_blocks};
}

// The parser's own steps over the file, each record freed as the reader
// frees it, without filling any field.
double steps_seconds(const std::string& file) {
    auto t0 = std::chrono::steady_clock::now();
    FILE* in = std::fopen(file.c_str(), "rb");
    XmlParser* p = xml_create_parser(BXML_SOPEN_FLAGS | BXML_CASE_FOLD);
    int result = 0;
    while (result == 0 && !p->root)
        result = xml_parse_to_next(p, in);
    while (result == 0) {
        result = xml_parse_record(p, in);
        xml_parser_drop_record(p);
    }
    xml_free_parser(p);
    std::fclose(in);
    return seconds_since(t0);
}

void report(const char* what, double seconds, size_t bytes, long records) {
    std::printf("%-40s %7.3f s  %9.0f records/s  %7.1f MB/s\n", what, seconds, records / seconds,
                bytes / seconds / 1e6);
}

// A record holding one table of `n` occurrences of a small group.
void tables(const std::string& dir) {
    std::printf("\ntables (records of one table of n groups of 2 fields):\n");
    for (int n : {10, 100, 1000}) {
        std::string name = "table" + std::to_string(n);
        FILE* cb = std::fopen((dir + "/" + name + ".xfd").c_str(), "w");
        std::fprintf(cb,
                     "       01 TAB-REC.\n"
                     "          05 TAB-ID PIC 9(6).\n"
                     "          05 ROW OCCURS %d.\n"
                     "             10 CODE-A PIC X(4).\n"
                     "             10 VALUE-B PIC 9(4).\n",
                     n);
        std::fclose(cb);
        long count = 2000000 / (n * 10);
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
        std::string file = dir + "/" + name + ".xml";
        sales::write_document(file, count, records);
        Read r = read_file(file, 6 + 8 * n);
        std::printf("  %4d occurrences: %6ld records, %8.1f us a record, %6.3f us an occurrence\n",
                    n, r.records, r.seconds / r.records * 1e6, r.seconds / r.records / n * 1e6);
        std::remove(file.c_str());
        std::remove((dir + "/" + name + ".xfd").c_str());
    }
}

// One element with `n` children, opened through the parser API with the
// whole document parsed.
void children(const std::string& dir) {
    std::printf("\none element with n children, parsed to the end (parser API, flag 0x4):\n");
    for (int n : {100000, 200000}) {
        std::string file = dir + "/children.xml";
        FILE* out = std::fopen(file.c_str(), "w");
        std::fputs("<?xml version=\"1.0\"?>\n<r>\n", out);
        for (int k = 0; k < n; ++k)
            std::fprintf(out, " <c>%d</c>\n", k);
        std::fputs("</r>\n", out);
        std::fclose(out);
        auto t0 = std::chrono::steady_clock::now();
        void* h = bxml_parser_open(
            file.c_str(), BXML_PARSER_RECORDS | BXML_PARSER_CASE_FOLD | BXML_PARSER_WHOLE, 0);
        double s = seconds_since(t0);
        if (!h) {
            std::fprintf(stderr, "open failed\n");
            std::exit(1);
        }
        bxml_parser_free(h);
        std::printf("  %6d children: %.3f s, %.2f us a child\n", n, s, s / n * 1e6);
        std::remove(file.c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    long count = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    sales::set_up(dir);
    RecordLayout* layout = B4ParseXFD("sales", 14, 30);
    if (!layout)
        return 1;
    int size = layout->record_size;
    std::vector<std::string> records = sales::make_records(layout);
    B4XFDFree(layout);

    std::string file = dir + "/sales.xml";
    sales::Figures w = sales::write_document(file, count, records);
    std::printf("document: %ld records, %zu bytes (%.0f bytes a record)\n", count, w.bytes,
                static_cast<double>(w.bytes) / count);

    // Expat first and last, so that the file is in the page cache for both.
    double expat1 = expat_seconds(file);
    long before_kb = status_kb("VmRSS:");
    reset_peak();
    Read r = read_file(file, size);
    long peak = status_kb("VmHWM:");
    double steps = steps_seconds(file);
    double expat2 = expat_seconds(file);
    double expat = std::min(expat1, expat2);
    if (r.records != count) {
        std::fprintf(stderr, "read %ld records of %ld\n", r.records, count);
        return 1;
    }
    report("expat, empty handlers, 32000-byte reads", expat, w.bytes, count);
    report("bxml32 parser steps, records freed", steps, w.bytes, count);
    report("bxml32 xml_sread, every field filled", r.seconds, w.bytes, count);
    std::printf("xml_sread takes %.2fx expat's time; the steps alone %.2fx\n", r.seconds / expat,
                steps / expat);
    std::printf("memory while reading: resident %ld kB before, peak %ld kB (%+ld kB); at most %zu "
                "tracked blocks\n",
                before_kb, peak, peak - before_kb, r.max_blocks);
    std::remove(file.c_str());

    tables(dir);
    children(dir);
    std::remove((dir + "/sales.xfd").c_str());
    return 0;
}
