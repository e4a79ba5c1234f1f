// xml_write_bench [records] [folder] [runs] [cases]: writes `records`
// records (default 1,000,000) of a realistic layout (20 fields: character,
// DISPLAY, COMP-3 and COMP fields, a table of 5 groups) through the dispatch
// table as the runtime does, and compares with fwrite of the same bytes
// into the same folder (default /dev/shm, a tmpfs) and with expat parsing
// them in memory. Every case runs `runs` times (default 3, at least 3),
// the cases taking turns, so that a noisy moment cannot decide a figure:
// min and median of each, the ratios of the medians, and each case's peak
// resident memory (VmHWM, reset before every run).
//
// Cases (all by default, or a comma list): write (bxml32, trace off),
// fwrite, expat, trace1 (bxml32 with the trace on at level 1, into
// /dev/null), config (bxml32 with a BRELRT_CONFIG file to look in), memo
// and memo-fwrite (records / 200 records of one 70,000-byte text field with
// an entity every 50 characters, each record past the 64 kB a write hands
// on at once, beside fwrite of its bytes).
#include "bxml32.h"
#include "sales.h"

#include <brelrt.h>
#include <expat.h>

#include <algorithm>
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

// expat with empty handlers over the document in memory, in 1 MB pieces.
double parse_seconds(const std::string& doc) {
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
    double s = sales::seconds_since(t0);
    XML_ParserFree(p);
    if (!ok) {
        std::fprintf(stderr, "expat refused the document\n");
        std::exit(1);
    }
    return s;
}

// fwrite of the document, in 64 kB pieces as bxml32 hands them on, into a
// new file.
double fwrite_seconds(const std::string& doc, const std::string& file) {
    std::remove(file.c_str());
    auto t0 = std::chrono::steady_clock::now();
    FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "cannot create %s\n", file.c_str());
        std::exit(1);
    }
    for (size_t at = 0; at < doc.size(); at += 65536)
        std::fwrite(doc.data() + at, 1, std::min<size_t>(65536, doc.size() - at), out);
    if (std::fclose(out) != 0) {
        std::fprintf(stderr, "writing %s failed\n", file.c_str());
        std::exit(1);
    }
    return sales::seconds_since(t0);
}

// A document the cases write: its file, its records and what bxml32 wrote.
struct Document {
    std::string file;
    std::vector<std::string> records;
    long count;
    size_t bytes = 0;
    std::string held{};   // the bytes, for fwrite and expat
    bool written = false; // `file` holds what bxml32 wrote with the trace off
};

enum Action { kWrite, kFwrite, kExpat };

struct Case {
    const char* name;
    const char* label;
    Document* doc;
    Action action;
    int trace;   // the trace level while writing
    bool config; // a BRELRT_CONFIG file to look in
    std::vector<double> seconds;
    long peak_kb = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Records of one long text field: digits, blanks and an "&" every 50
// characters.
std::vector<std::string> memo_records(const std::string& dir, size_t size) {
    FILE* cb = std::fopen((dir + "/memo.xfd").c_str(), "w");
    // A picture repeats a symbol at most 65535 times.
    std::fprintf(cb,
                 "       01 MEMO-REC.\n          05 MEMO-ID   PIC 9(6).\n"
                 "          05 MEMO-TEXT PIC X(%zu)X(%zu).\n",
                 size / 2, size - size / 2);
    std::fclose(cb);
    std::vector<std::string> records;
    for (int r = 0; r < 10; ++r) {
        char id[8];
        std::snprintf(id, sizeof id, "%06d", r);
        std::string text;
        while (text.size() < size)
            text += "Line " + std::to_string(r) + " of a memo & its notes, padded to fifty.";
        text.resize(size - 10 * r);
        records.push_back(id + text + std::string(10 * r, ' '));
    }
    return records;
}

} // namespace

int main(int argc, char** argv) {
    long count = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string dir = argc > 2 ? argv[2] : "/dev/shm";
    int runs = std::max(3, argc > 3 ? std::atoi(argv[3]) : 3);
    std::string wanted = argc > 4 ? std::string(",") + argv[4] + "," : "";
    sales::set_up(dir);

    RecordLayout* layout = B4ParseXFD("sales", 14, 30);
    if (!layout || count < 200)
        return 1;
    Document sales_doc{dir + "/sales.xml", sales::make_records(layout), count};
    int fields = 0;
    for (int i = 0; i < layout->item_count; ++i)
        fields += layout->items[i].condition != BRELRT_CONDITION_GROUP;
    std::printf("layout sales: %d items, %d fields, record %d bytes; %ld records, %d runs "
                "each, in %s\n",
                layout->item_count, fields, layout->record_size, count, runs, dir.c_str());
    B4XFDFree(layout);
    Document memo_doc{dir + "/memo.xml", memo_records(dir, 70000), count / 200};

    std::string copy = dir + "/copy.xml";
    std::string config = dir + "/brelrt.cfg";
    FILE* c = std::fopen(config.c_str(), "w");
    std::fputs("BXML_ENCODING UTF-8\nBXML_CREATE_STYLE DTD\n", c);
    std::fclose(c);
    setenv("BRELRT_TRACE_FILE", "/dev/null", 1);

    std::vector<Case> cases = {
        {"write", "bxml32 xml_swrite (trace off)", &sales_doc, kWrite, 0, false, {}},
        {"fwrite", "fwrite of the same bytes", &sales_doc, kFwrite, 0, false, {}},
        {"expat", "expat, empty handlers, in memory", &sales_doc, kExpat, 0, false, {}},
        {"trace1", "bxml32 xml_swrite (trace level 1)", &sales_doc, kWrite, 1, false, {}},
        {"config", "bxml32 xml_swrite (BRELRT_CONFIG)", &sales_doc, kWrite, 0, true, {}},
        {"memo", "bxml32 xml_swrite, 70,000-byte field", &memo_doc, kWrite, 0, false, {}},
        {"memo-fwrite", "fwrite of the same bytes", &memo_doc, kFwrite, 0, false, {}},
    };
    auto on = [&](const Case& k) {
        return wanted.empty() || wanted.find(std::string(",") + k.name + ",") != std::string::npos;
    };
    for (int run = 0; run < runs; ++run) {
        for (Case& k : cases) {
            if (!on(k))
                continue;
            Document& d = *k.doc;
            for (Document* other : {&sales_doc, &memo_doc})
                if (other != &d || k.action == kWrite)
                    std::string().swap(other->held); // each case's peak without them
            if (k.action != kWrite && d.held.empty()) {
                // Untimed: the bytes bxml32 writes.
                if (!d.written)
                    d.bytes = sales::write_document(d.file, d.count, d.records).bytes;
                d.held = sales::read_document(d.file, d.bytes);
                d.written = true;
            }
            if (k.action == kWrite)
                std::remove(d.file.c_str()); // as fwrite's, a new file
            *brelrt_trace_level() = static_cast<int16_t>(k.trace);
            if (k.config)
                setenv("BRELRT_CONFIG", config.c_str(), 1);
            sales::reset_peak();
            double s;
            if (k.action == kFwrite) {
                s = fwrite_seconds(d.held, copy);
            } else if (k.action == kExpat) {
                s = parse_seconds(d.held);
            } else {
                sales::Figures w = sales::write_document(d.file, d.count, d.records);
                s = w.seconds;
                d.written = k.trace == 0 && !k.config;
                if (d.written)
                    d.bytes = w.bytes;
            }
            k.peak_kb = std::max(k.peak_kb, sales::status_kb("VmHWM:"));
            k.seconds.push_back(s);
            *brelrt_trace_level() = 0;
            unsetenv("BRELRT_CONFIG");
        }
    }

    std::printf("document: %zu bytes (%.0f bytes a record); memo document: %zu bytes, %ld "
                "records\n",
                sales_doc.bytes, static_cast<double>(sales_doc.bytes) / count, memo_doc.bytes,
                memo_doc.count);
    std::printf("%-38s %8s %9s %10s %9s %9s\n", "", "min s", "median s", "records/s", "MB/s",
                "peak MB");
    for (const Case& k : cases) {
        if (k.seconds.empty())
            continue;
        double m = median(k.seconds);
        std::printf("%-38s %8.3f %9.3f %10.0f %9.1f %9.1f\n", k.label,
                    *std::min_element(k.seconds.begin(), k.seconds.end()), m, k.doc->count / m,
                    k.doc->bytes / m / 1e6, k.peak_kb / 1024.0);
    }
    auto med = [&](const char* name) {
        for (const Case& k : cases)
            if (name == std::string(k.name) && !k.seconds.empty())
                return median(k.seconds);
        return 0.0;
    };
    double w = med("write"), f = med("fwrite"), e = med("expat");
    if (w > 0 && f > 0)
        std::printf("writing is %.2fx the speed of fwrite (ratio of medians)\n", f / w);
    if (w > 0 && e > 0)
        std::printf("writing is %.2fx the speed of expat parsing (ratio of medians)\n", e / w);
    for (const char* extra : {"trace1", "config"})
        if (w > 0 && med(extra) > 0)
            std::printf("%s takes %.2fx the time of writing with the trace off\n", extra,
                        med(extra) / w);
    if (med("memo") > 0 && med("memo-fwrite") > 0)
        std::printf("writing 70,000-byte fields is %.2fx the speed of fwrite\n",
                    med("memo-fwrite") / med("memo"));
    for (const std::string& f :
         {copy, config, sales_doc.file, memo_doc.file, dir + "/sales.xfd", dir + "/memo.xfd"})
        std::remove(f.c_str());
    return 0;
}
