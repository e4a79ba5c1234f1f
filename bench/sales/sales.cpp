#include "sales.h"

#include "bxml32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sales {

namespace {

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

} // namespace

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

void set_up(const std::string& dir) {
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
}

} // namespace sales
