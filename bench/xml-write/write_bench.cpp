// xml_write_bench [records] [folder]: writes records of a realistic layout
// (20 fields: character, DISPLAY, COMP-3 and COMP fields, a table of 5
// groups) through the dispatch table as the runtime does, then parses the
// document with expat (empty handlers) and writes the same bytes with
// fwrite, all in one run, and prints records/s, MB/s and the ratios.
#include "bxml32.h"
#include "sales.h"

#include <brelrt.h>
#include <expat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void start(void*, const XML_Char*, const XML_Char**) {}
void end(void*, const XML_Char*) {}
void text(void*, const XML_Char*, int) {}

void report(const char* what, double seconds, size_t bytes, long records) {
    std::printf("%-34s %7.3f s  %9.0f records/s  %7.1f MB/s\n", what, seconds, records / seconds,
                bytes / seconds / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    long count = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    std::string layout_file = dir + "/sales.xfd";
    sales::set_up(dir);

    RecordLayout* layout = B4ParseXFD("sales", 14, 30);
    if (!layout)
        return 1;
    std::vector<std::string> records = sales::make_records(layout);
    int fields = 0;
    for (int i = 0; i < layout->item_count; ++i)
        fields += layout->items[i].condition != BRELRT_CONDITION_GROUP;
    std::printf("layout sales: %d items, %d fields, record %d bytes; %ld records\n",
                layout->item_count, fields, layout->record_size, count);
    B4XFDFree(layout);

    std::string file = dir + "/sales.xml";
    sales::Figures w = sales::write_document(file, count, records);
    std::printf("document: %zu bytes (%.0f bytes a record)\n", w.bytes,
                static_cast<double>(w.bytes) / count);
    report("bxml32 xml_swrite (trace level 0)", w.seconds, w.bytes, count);

    std::string doc = sales::read_document(file, w.bytes);
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetElementHandler(p, start, end);
    XML_SetCharacterDataHandler(p, text);
    auto t0 = std::chrono::steady_clock::now();
    const size_t chunk = 1 << 20;
    bool ok = true;
    for (size_t at = 0; at < doc.size() && ok; at += chunk) {
        size_t n = std::min(chunk, doc.size() - at);
        ok = XML_Parse(p, doc.data() + at, static_cast<int>(n), 0) == XML_STATUS_OK;
    }
    ok = ok && XML_Parse(p, nullptr, 0, 1) == XML_STATUS_OK;
    double parse = sales::seconds_since(t0);
    XML_ParserFree(p);
    if (!ok) {
        std::fprintf(stderr, "expat refused the document\n");
        return 1;
    }
    report("expat, empty handlers, in memory", parse, w.bytes, count);

    std::string copy = dir + "/sales-copy.xml";
    t0 = std::chrono::steady_clock::now();
    FILE* out = std::fopen(copy.c_str(), "wb");
    for (size_t at = 0; at < doc.size(); at += 65536)
        std::fwrite(doc.data() + at, 1, std::min<size_t>(65536, doc.size() - at), out);
    std::fclose(out);
    double raw = sales::seconds_since(t0);
    report("fwrite of the same bytes", raw, w.bytes, count);
    std::printf("writing vs parsing: %.2fx as fast; fwrite is %.1fx as fast as writing\n",
                parse / w.seconds, w.seconds / raw);

    // The same writing with the trace on at level 1 (only file operations
    // traced, into /dev/null), and with a configuration file to look in.
    setenv("BRELRT_TRACE_FILE", "/dev/null", 1);
    *brelrt_trace_level() = 1;
    sales::Figures t = sales::write_document(file, count, records);
    report("bxml32 xml_swrite (trace level 1)", t.seconds, t.bytes, count);
    *brelrt_trace_level() = 0;
    std::string config = dir + "/brelrt.cfg";
    FILE* c = std::fopen(config.c_str(), "w");
    std::fputs("BXML_ENCODING UTF-8\nBXML_CREATE_STYLE DTD\n", c);
    std::fclose(c);
    setenv("BRELRT_CONFIG", config.c_str(), 1);
    sales::Figures k = sales::write_document(file, count, records);
    report("bxml32 xml_swrite (BRELRT_CONFIG)", k.seconds, k.bytes, count);
    std::remove(copy.c_str());
    std::remove(file.c_str());
    std::remove(config.c_str());
    std::remove(layout_file.c_str());
    return 0;
}
