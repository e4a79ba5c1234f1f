#include "write_helpers.h"

#include <cstdio>
#include <filesystem>

namespace xmltest {

const char kOrdersCopybook[] = "       01 ORD-REC.\n"
                               "          05 ORD-NO        PIC X(5).\n"
                               "          05 LINES OCCURS 2.\n"
                               "             10 ITEM       PIC X(8).\n";

std::string run_command(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return "[popen failed]";
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    int status = pclose(p);
    if (status != 0)
        out += "[exit " + std::to_string(WEXITSTATUS(status)) + "]";
    return out;
}

std::string today_text() {
    int32_t today = brelrt_today();
    char text[16];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", today / 10000, today / 100 % 100,
                  today % 100);
    return text;
}

void WriteTest::SetUp() {
    XmlTest::SetUp();
    temp_ = std::make_unique<TempDir>();
    dir_ = temp_->path();
    env_.push_back(std::make_unique<EnvVar>("BRELRT_XFD_DIR", dir_.c_str()));
    for (const char* name :
         {"BXML_SCHEMA_DOC", "BXML_SCHEMA_NAME", "BXML_STYLESHEET_HREF",
          "BXML_SCHEMA_NAMESPACE_DATA", "BXML_ENCODING", "BXML_STYLESHEET_TYPE",
          "BXML_CREATE_STYLE", "BXML_CREATE_SCHEMA", "BXML_EXACT_TABLE_MATCH",
          "BXML_IGNORE_EMPTY_DATA", "4GL_COLUMN_CASE", "BRELRT_CONFIG", "BRELRT_DECIMAL_POINT"})
        env_.push_back(std::make_unique<EnvVar>(name, nullptr));
}

void WriteTest::TearDown() {
    while (!env_.empty())
        env_.pop_back(); // restored in reverse order
    temp_.reset();
    XmlTest::TearDown();
}

void WriteTest::copybook(const std::string& layout, const std::string& text) const {
    write_file(path(layout + ".xfd"), text);
}

XmlFile* WriteTest::open(const std::string& name, int mode) const {
    return runtime().slot<BxmlSopenFn>(BXML_SLOT_SOPEN)(name.c_str(), mode, 0, 0, 0, 0, nullptr, 0);
}

int WriteTest::write(XmlFile* file, const std::string& record) const {
    return runtime().slot<BxmlSwriteFn>(BXML_SLOT_SWRITE)(
        file, reinterpret_cast<const unsigned char*>(record.data()),
        static_cast<int>(record.size()));
}

int WriteTest::close(XmlFile* file) const {
    return runtime().slot<BxmlScloseFn>(BXML_SLOT_SCLOSE)(file);
}

std::string WriteTest::document(const std::string& layout,
                                const std::vector<std::string>& records) {
    std::string name = path(layout + ".xml");
    XmlFile* file = open(name);
    EXPECT_NE(file, nullptr) << "open " << name << ": " << *brelrt_file_error();
    if (!file)
        return std::string();
    for (const std::string& r : records) {
        EXPECT_EQ(write(file, r), 1);
        EXPECT_EQ(*brelrt_file_error(), 0);
    }
    EXPECT_EQ(close(file), 0);
    EXPECT_EQ(*brelrt_file_error(), 0);
    return read_file(name);
}

std::vector<std::string> WriteTest::read_back(const std::string& name, size_t size, char fill) {
    std::vector<std::string> records;
    XmlFile* file = open(name, 0);
    EXPECT_NE(file, nullptr) << "open " << name << ": " << *brelrt_file_error();
    if (!file)
        return records;
    auto read = runtime().slot<BxmlSreadFn>(BXML_SLOT_SREAD);
    for (std::string area(size, fill);
         records.size() < 10000 && read(file, reinterpret_cast<unsigned char*>(area.data())) > 0;
         area.assign(size, fill))
        records.push_back(area);
    EXPECT_EQ(*brelrt_file_error(), BXML_FILE_END_OF_FILE);
    close(file);
    return records;
}

std::vector<std::string> WriteTest::ledger_records() {
    const std::string data = std::string(POINTRA_TEST_DATA) + "/xml";
    std::filesystem::copy_file(data + "/ledger.xfd", path("ledger.xfd"));
    std::filesystem::copy_file(data + "/ledger.cob", path("ledger.cob"));
    std::vector<std::string> records;
    std::string built =
        run_command("cd '" + dir_ + "' && cobc -x ledger.cob && env -u LD_PRELOAD ./ledger");
    EXPECT_EQ(built, "");
    std::string bytes = read_file(path("records.dat"));
    EXPECT_EQ(bytes.size(), 1500u);
    for (size_t i = 0; i + 300 <= bytes.size(); i += 300)
        records.push_back(bytes.substr(i, 300));
    RecordLayout* layout = B4ParseXFD("ledger", 14, 30);
    EXPECT_NE(layout, nullptr);
    if (!layout || records.size() != 5)
        return {};
    std::vector<int> sizes;
    for (int i = 0; i < layout->item_count; ++i)
        if (layout->items[i].level == 1)
            sizes.push_back(layout->items[i].field.size);
    B4XFDFree(layout);
    EXPECT_EQ(sizes.size(), 3u);
    const int of_record[] = {0, 1, 1, 1, 2};
    for (int k = 0; k < 5 && sizes.size() == 3; ++k)
        records[k].resize(static_cast<size_t>(sizes[of_record[k]]));
    return records;
}

} // namespace xmltest
