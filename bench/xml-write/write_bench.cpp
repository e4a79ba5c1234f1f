// xml_write_bench [records] [folder]: writes records of a realistic layout
// (20 fields: character, DISPLAY, COMP-3 and COMP fields, a table of 5
// groups) through the dispatch table as the runtime does, then parses the
// document with expat (empty handlers) and writes the same bytes with
// fwrite, all in one run, and prints records/s, MB/s and the ratios.
#include "bxml32.h"

#include <brelrt.h>
#include <expat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kLayout[] = "       01 SALE-REC.\n"
                       "          05 SALE-ID          PIC 9(8).\n"
                       "          05 SALE-DATE        PIC 9(8).\n"
                       "          05 BRANCH           PIC X(6).\n"
                       "          05 CUSTOMER-NO      PIC X(10).\n"
                       "          05 CUSTOMER-NAME    PIC X(30).\n"
                       "          05 AMOUNT           PIC S9(9)V99 COMP-3.\n"
                       "          05 TAX              PIC S9(7)V99 COMP-3.\n"
                       "          05 ITEM-COUNT       PIC S9(4) COMP.\n"
                       "          05 STATUS-CODE      PIC X(2).\n"
                       "          05 NOTE             PIC X(40).\n"
                       "          05 SALE-LINE OCCURS 5 TIMES.\n"
                       "             10 ITEM-CODE     PIC X(8).\n"
                       "             10 QUANTITY      PIC S9(5)V9.\n";

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Sets a field of the record from numeric text through the host.
void put_number(const LayoutItem& item, unsigned char* record, const char* text) {
    FieldDescriptor src{reinterpret_cast<unsigned char*>(const_cast<char*>(text)),
                        static_cast<int32_t>(std::strlen(text)),
                        BRELRT_T_NUMTEXT,
                        static_cast<uint8_t>(std::strlen(text)),
                        item.field.scale,
                        0};
    FieldDescriptor dst = item.field;
    dst.address = record + item.offset;
    Bconvert(&dst, &src, 1);
}

void put_text(const LayoutItem& item, unsigned char* record, const std::string& text) {
    std::memset(record + item.offset, ' ', static_cast<size_t>(item.field.size));
    std::memcpy(record + item.offset, text.data(),
                std::min(text.size(), static_cast<size_t>(item.field.size)));
}

// 1000 different records, filled the way a program would.
std::vector<std::string> make_records(RecordLayout* layout) {
    std::vector<std::string> records;
    for (int r = 0; r < 1000; ++r) {
        std::string bytes(static_cast<size_t>(layout->record_size), ' ');
        auto* rec = reinterpret_cast<unsigned char*>(bytes.data());
        for (int i = 0; i < layout->item_count; ++i) {
            const LayoutItem& it = layout->items[i];
            if (it.condition == BRELRT_CONDITION_GROUP)
                continue;
            std::string name = it.name;
            char number[64];
            if (brelrt_type_is_numeric(it.field.type)) {
                long v = (r * 7919L + i * 104729L) % 100000;
                if (name == "sale_date")
                    std::snprintf(number, sizeof number, "2024%02d%02d", r % 12 + 1, r % 28 + 1);
                else if (it.field.scale < 0)
                    std::snprintf(number, sizeof number, "%s%ld.%02ld", v % 3 ? "" : "-", v / 100,
                                  v % 100);
                else
                    std::snprintf(number, sizeof number, "%ld", v % 9999);
                put_number(it, rec, number);
            } else if (name == "customer_name") {
                put_text(it, rec, "Customer & Sons No. " + std::to_string(r));
            } else if (name == "note") {
                put_text(it, rec, r % 4 ? "delivered <on time>" : "");
            } else {
                put_text(it, rec, name.substr(0, 3) + std::to_string(r + i));
            }
        }
        records.push_back(bytes);
    }
    return records;
}

void start(void*, const XML_Char*, const XML_Char**) {}
void end(void*, const XML_Char*) {}
void text(void*, const XML_Char*, int) {}

struct Figures {
    double seconds;
    size_t bytes;
};

Figures write_document(const std::string& file, long count,
                       const std::vector<std::string>& records) {
    auto sopen = reinterpret_cast<BxmlSopenFn>(xml_sopen);
    auto t0 = std::chrono::steady_clock::now();
    XmlFile* f = sopen(file.c_str(), 1, 0, 0, 0, 0, nullptr, 0);
    if (!f) {
        std::fprintf(stderr, "open failed: %d\n", *brelrt_file_error());
        std::exit(1);
    }
    for (long i = 0; i < count; ++i) {
        const std::string& r = records[static_cast<size_t>(i) % records.size()];
        if (xml_swrite(f, reinterpret_cast<const unsigned char*>(r.data()),
                       static_cast<int>(r.size())) != 1) {
            std::fprintf(stderr, "write failed: %d\n", *brelrt_file_error());
            std::exit(1);
        }
    }
    xml_sclose(f);
    if (*brelrt_file_error()) {
        std::fprintf(stderr, "close failed: %d\n", *brelrt_file_error());
        std::exit(1);
    }
    double s = seconds_since(t0);
    FILE* in = std::fopen(file.c_str(), "rb");
    std::fseek(in, 0, SEEK_END);
    size_t bytes = static_cast<size_t>(std::ftell(in));
    std::fclose(in);
    return {s, bytes};
}

std::string read_document(const std::string& file, size_t bytes) {
    std::string doc(bytes, '\0');
    FILE* in = std::fopen(file.c_str(), "rb");
    if (std::fread(doc.data(), 1, bytes, in) != bytes)
        std::exit(1);
    std::fclose(in);
    return doc;
}

void report(const char* what, double seconds, size_t bytes, long records) {
    std::printf("%-34s %7.3f s  %9.0f records/s  %7.1f MB/s\n", what, seconds, records / seconds,
                bytes / seconds / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    long count = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    std::string layout_file = dir + "/sales.xfd";
    FILE* cb = std::fopen(layout_file.c_str(), "w");
    std::fputs(kLayout, cb);
    std::fclose(cb);
    setenv("BRELRT_XFD_DIR", dir.c_str(), 1);
    unsetenv("BRELRT_TRACE");
    unsetenv("BRELRT_CONFIG");

    // As the runtime: the host entries by name, the configuration registered.
    for (const BrelrtHostEntry& e : brelrt_host_entries)
        xml_set_host_entry(e.name, reinterpret_cast<void*>(e.function));
    xml_register_config();

    RecordLayout* layout = B4ParseXFD("sales", 14, 30);
    if (!layout)
        return 1;
    std::vector<std::string> records = make_records(layout);
    int fields = 0;
    for (int i = 0; i < layout->item_count; ++i)
        fields += layout->items[i].condition != BRELRT_CONDITION_GROUP;
    std::printf("layout sales: %d items, %d fields, record %d bytes; %ld records\n",
                layout->item_count, fields, layout->record_size, count);
    B4XFDFree(layout);

    std::string file = dir + "/sales.xml";
    Figures w = write_document(file, count, records);
    std::printf("document: %zu bytes (%.0f bytes a record)\n", w.bytes,
                static_cast<double>(w.bytes) / count);
    report("bxml32 xml_swrite (trace level 0)", w.seconds, w.bytes, count);

    std::string doc = read_document(file, w.bytes);
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
    double parse = seconds_since(t0);
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
    double raw = seconds_since(t0);
    report("fwrite of the same bytes", raw, w.bytes, count);
    std::printf("writing vs parsing: %.2fx as fast; fwrite is %.1fx as fast as writing\n",
                parse / w.seconds, w.seconds / raw);

    // The same writing with the trace on at level 1 (only file operations
    // traced, into /dev/null), and with a configuration file to look in.
    setenv("BRELRT_TRACE_FILE", "/dev/null", 1);
    *brelrt_trace_level() = 1;
    Figures t = write_document(file, count, records);
    report("bxml32 xml_swrite (trace level 1)", t.seconds, t.bytes, count);
    *brelrt_trace_level() = 0;
    std::string config = dir + "/brelrt.cfg";
    FILE* c = std::fopen(config.c_str(), "w");
    std::fputs("BXML_ENCODING UTF-8\nBXML_CREATE_STYLE DTD\n", c);
    std::fclose(c);
    setenv("BRELRT_CONFIG", config.c_str(), 1);
    Figures k = write_document(file, count, records);
    report("bxml32 xml_swrite (BRELRT_CONFIG)", k.seconds, k.bytes, count);
    std::remove(copy.c_str());
    std::remove(file.c_str());
    std::remove(config.c_str());
    std::remove(layout_file.c_str());
    return 0;
}
