// What the C entries of the host promise under pressure: no C++ exception
// leaves one (a shortage of memory is error 14), the configuration file is
// read again when it changes, the trace level never wraps, and two copies
// never share a temporary file.
#include "host_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

namespace {

// operator new of this test binary, which the host library's calls also
// reach: while armed, the n-th allocation from now throws std::bad_alloc.
std::atomic<long> g_fail_in{0};

void* allocate(std::size_t size) {
    if (g_fail_in > 0 && --g_fail_in == 0)
        throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

const std::string data_dir = std::string(POINTRA_TEST_DATA) + "/host";

// Runs `call` with the n-th C++ allocation failing, for every n until a run
// needs no more than n allocations; each failing run must report 14.
template <typename Call, typename Check> void each_shortage(Call call, Check check) {
    for (long n = 1; n < 100000; ++n) {
        *brelrt_file_error() = 0;
        g_fail_in = n;
        decltype(call()) result{};
        try {
            result = call();
        } catch (...) {
            g_fail_in = 0;
            ADD_FAILURE() << "an exception left the entry at allocation " << n;
            return;
        }
        bool hit = g_fail_in == 0;
        g_fail_in = 0;
        check(result, hit);
        if (hit) {
            EXPECT_EQ(*brelrt_file_error(), 14) << "allocation " << n;
        } else {
            return;
        }
    }
    ADD_FAILURE() << "never ran through";
}

TEST_F(HostTest, ShortageInsideACEntryIsErrorFourteenNotAnException) {
    EnvVar xfd("BRELRT_XFD_DIR", data_dir.c_str());
    EnvVar quiet("BRELRT_TRACE", "0");
    each_shortage([] { return B4ParseXFD("sales", 14, 30); },
                  [](RecordLayout* l, bool hit) {
                      EXPECT_TRUE(hit ? l == nullptr : l != nullptr);
                      B4XFDFree(l);
                  });
    RecordLayout* l = B4ParseXFD("sales", 14, 30);
    ASSERT_NE(l, nullptr);
    unsigned char record[27];
    std::memset(record, ' ', sizeof record);
    record[0] = '9';
    each_shortage([&] { return B4TestCOBOLCond(l, 3, record); },
                  [](int r, bool hit) { EXPECT_EQ(r, hit ? -1 : 1); });
    B4XFDFree(l);

    char text[16] = "-123.45";
    unsigned char packed[4] = {};
    FieldDescriptor src{reinterpret_cast<unsigned char*>(text), 7, BRELRT_T_NUMTEXT, 7, -2, 0};
    FieldDescriptor dst{packed, 4, BRELRT_T_PACKED, 7, -2, 0};
    each_shortage([&] { return Bconvert(&dst, &src, 1); },
                  [](int r, bool hit) { EXPECT_EQ(r, hit ? -2 : 0); });
    EXPECT_EQ(packed[3], 0x5D);

    EnvVar value("BRELRT_TEST_LONG_VARIABLE_NAME_X", "a value longer than a short string");
    each_shortage([] { return brelrt_config_text("BRELRT_TEST_LONG_VARIABLE_NAME_X"); },
                  [](const char*, bool) {});
    TempDir dir;
    write_file(dir.file("a"), "data");
    std::string a = dir.file("a"), b = dir.file("b");
    each_shortage([&] { return f_copy(a.c_str(), b.c_str()); },
                  [&](int r, bool hit) { EXPECT_EQ(r, hit ? -1 : 0); });
    EXPECT_EQ(read_file(dir.file("b")), "data");
}

// A shortage at any allocation of a fetch or of reading the configuration
// file: 14, no temporary file left, no value half read.
TEST_F(HostTest, ShortageWhileFetchingOrReadingTheConfigurationLeavesNothingBehind) {
    TempDir tmp;
    EnvVar tmpdir("TMPDIR", tmp.path().c_str());
    EnvVar quiet("BRELRT_TRACE", "0");
    auto files_left = [&] {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(tmp.path()))
            ++n;
        return n;
    };
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 1000);
        // Made before the failures are armed; it allocates nothing while serving.
        OneShotServer server("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\ndata");
        std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/x";
        *brelrt_file_error() = 0;
        g_fail_in = n;
        char* local = brelrt_url_fetch(url.c_str());
        bool hit = g_fail_in == 0;
        g_fail_in = 0;
        if (hit) {
            // The fetch may have failed before connecting: a connection of our
            // own ends the server's wait.
            int c = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(static_cast<uint16_t>(server.port()));
            connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            close(c);
        }
        server.join();
        if (!hit) {
            ASSERT_NE(local, nullptr);
            EXPECT_EQ(read_file(local), "data");
            brelrt_remove(local);
            brelrt_free(local, "tests/host/robustness", __LINE__);
            break;
        }
        EXPECT_EQ(local, nullptr) << "allocation " << n;
        EXPECT_EQ(*brelrt_file_error(), 14) << "allocation " << n;
        EXPECT_EQ(files_left(), 0u) << "allocation " << n;
    }
    {
        // The one tracked allocation: the name handed back.
        OneShotServer server("HTTP/1.0 200 OK\r\n\r\ndata");
        std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/x";
        brelrt_mem_fail_nth(1);
        EXPECT_EQ(brelrt_url_fetch(url.c_str()), nullptr);
        brelrt_mem_fail_nth(0);
        EXPECT_EQ(*brelrt_file_error(), 14);
        EXPECT_EQ(files_left(), 0u);
    }
    static const BrelrtConfigEntry table[] = {
        {"TSTSHORT_TEXT", BRELRT_CFG_TEXT, 0, "default", 0, 0, 0}};
    ASSERT_EQ(brelrt_config_register(table, 1, 0), 1);
    write_file(tmp.file("brelrt.cfg"), "# a comment\nTSTSHORT_TEXT a value from the file\n");
    EnvVar config("BRELRT_CONFIG", tmp.file("brelrt.cfg").c_str());
    each_shortage([] { return brelrt_config_text("TSTSHORT_TEXT"); },
                  [](const char* v, bool hit) {
                      if (!hit) {
                          EXPECT_STREQ(v, "a value from the file");
                      }
                  });
    brelrt_config_clear();
}

TEST_F(HostTest, ConfigurationFileIsReadAgainWhenItChanges) {
    static const BrelrtConfigEntry table[] = {
        {"TSTCACHE_TEXT", BRELRT_CFG_TEXT, 0, "default", 0, 0, 0}};
    ASSERT_EQ(brelrt_config_register(table, 1, 0), 1);
    TempDir dir;
    std::string file = dir.file("brelrt.cfg");
    write_file(file, "TSTCACHE_TEXT first\n");
    EnvVar config("BRELRT_CONFIG", file.c_str());
    EXPECT_STREQ(brelrt_config_text("TSTCACHE_TEXT"), "first");
    // Same size, new contents: the change is seen at once.
    write_file(file, "TSTCACHE_TEXT other\n");
    EXPECT_STREQ(brelrt_config_text("TSTCACHE_TEXT"), "other");
    // Replaced by another file (a new inode) of the same size and time.
    write_file(dir.file("next.cfg"), "TSTCACHE_TEXT third\n");
    std::filesystem::last_write_time(dir.file("next.cfg"), std::filesystem::last_write_time(file));
    std::filesystem::rename(dir.file("next.cfg"), file);
    EXPECT_STREQ(brelrt_config_text("TSTCACHE_TEXT"), "third");
    std::filesystem::remove(file);
    EXPECT_STREQ(brelrt_config_text("TSTCACHE_TEXT"), "default");
    brelrt_config_clear();
}

// A configuration file that is no regular file, or larger than the bound, is
// not used (earlier values of it neither) and never holds a lookup; one line
// says why, once for each change of the file.
TEST_F(HostTest, ConfigurationFileThatCannotBeReadWholeIsNotUsed) {
    static const BrelrtConfigEntry table[] = {
        {"TSTBOUND_TEXT", BRELRT_CFG_TEXT, 0, "default", 0, 0, 0}};
    ASSERT_EQ(brelrt_config_register(table, 1, 0), 1);
    TempDir dir;
    EnvVar trace_file("BRELRT_TRACE_FILE", dir.file("trace.log").c_str());
    EnvVar level("BRELRT_TRACE", "1");
    brelrt_trace_reset();
    std::string file = dir.file("brelrt.cfg"), fifo = dir.file("fifo.cfg");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    write_file(file, "TSTBOUND_TEXT from the file\n");
    std::string values;
    auto look_up = [&](const std::string& path) {
        EnvVar config("BRELRT_CONFIG", path.c_str());
        for (int i = 0; i < 3; ++i)
            values += std::string(brelrt_config_text("TSTBOUND_TEXT")) + (i < 2 ? ", " : "\n");
    };
    look_up(file);
    // The same name, now a FIFO without a writer.
    std::filesystem::rename(file, dir.file("kept.cfg"));
    std::filesystem::rename(fifo, file);
    look_up(file);
    look_up("/dev/zero");
    look_up(dir.path());
    // At the bound, and one byte past it (a sparse file).
    std::string line = "TSTBOUND_TEXT at the bound\n#";
    std::string padded = line + std::string(BRELRT_FILE_SIZE_MAX - line.size() - 1, 'x') + "\n";
    std::filesystem::remove(file);
    write_file(file, padded);
    look_up(file);
    ASSERT_EQ(truncate(file.c_str(), BRELRT_FILE_SIZE_MAX + 1), 0);
    look_up(file);
    std::filesystem::remove(file);
    brelrt_trace_reset();
    brelrt_config_clear();
    EXPECT_EQ(values, "from the file, from the file, from the file\n"
                      "default, default, default\n"
                      "default, default, default\n"
                      "default, default, default\n"
                      "at the bound, at the bound, at the bound\n"
                      "default, default, default\n");
    EXPECT_EQ(read_file(dir.file("trace.log")),
              "BRELRT_CONFIG " + file + " not used: a FIFO, not a regular file\n" +
                  "BRELRT_CONFIG /dev/zero not used: a device, not a regular file\n" +
                  "BRELRT_CONFIG " + dir.path() + " not used: a folder, not a regular file\n" +
                  "BRELRT_CONFIG " + file + " not used: 16777217 bytes, more than 16777216\n");
}

TEST_F(HostTest, TraceLevelBeyondSixteenBitsStaysOn) {
    for (const char* value : {"70000", "65536", "99999999999"}) {
        EnvVar level("BRELRT_TRACE", value);
        brelrt_trace_reset();
        EXPECT_EQ(*brelrt_trace_level(), 32767) << value;
    }
    for (const char* value : {"-5", "none", ""}) {
        EnvVar level("BRELRT_TRACE", value);
        brelrt_trace_reset();
        EXPECT_EQ(*brelrt_trace_level(), 0) << value;
    }
    brelrt_trace_reset();
}

TEST_F(HostTest, CopiesUseTemporaryFilesOfTheirOwn) {
    TempDir dir;
    std::string from = dir.file("from.dat"), to = dir.file("to.dat");
    write_file(from, "new contents");
    chmod(from.c_str(), 0640);
    // What another process's copy would have in progress, under the name a
    // fixed temporary would take.
    write_file(to + ".brelrt-tmp", "someone else's");
    write_file(to, "old");
    EXPECT_EQ(f_copy(from.c_str(), to.c_str()), 0);
    EXPECT_EQ(read_file(to), "new contents");
    EXPECT_EQ(read_file(to + ".brelrt-tmp"), "someone else's");
    struct stat st {};
    ASSERT_EQ(stat(to.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777 & ~0640u, 0u);
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 3u);                                  // no temporary left behind
    EXPECT_EQ(f_copy(dir.path().c_str(), to.c_str()), -1); // a folder is not copied
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(f_copy(fifo.c_str(), to.c_str()), -1); // nor a FIFO, and without waiting for it
    EXPECT_EQ(read_file(to), "new contents");
}

} // namespace
