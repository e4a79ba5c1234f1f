#include "write_helpers.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace xmltest {

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* v = std::getenv(name)) {
        had_ = true;
        old_ = v;
    }
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_all(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

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
    std::string pattern = (std::filesystem::temp_directory_path() / "bxml-write-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    env_.push_back(new ScopedEnv("BRELRT_XFD_DIR", dir_.c_str()));
    for (const char* name :
         {"BXML_SCHEMA_DOC", "BXML_SCHEMA_NAME", "BXML_STYLESHEET_HREF",
          "BXML_SCHEMA_NAMESPACE_DATA", "BXML_ENCODING", "BXML_STYLESHEET_TYPE",
          "BXML_CREATE_STYLE", "BXML_CREATE_SCHEMA", "BXML_EXACT_TABLE_MATCH",
          "BXML_IGNORE_EMPTY_DATA", "4GL_COLUMN_CASE", "BRELRT_CONFIG", "BRELRT_DECIMAL_POINT"})
        env_.push_back(new ScopedEnv(name, nullptr));
}

void WriteTest::TearDown() {
    for (auto it = env_.rbegin(); it != env_.rend(); ++it)
        delete *it;
    env_.clear();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    XmlTest::TearDown();
}

void WriteTest::copybook(const std::string& layout, const std::string& text) const {
    write_all(path(layout + ".xfd"), text);
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
    return read_all(name);
}

} // namespace xmltest
