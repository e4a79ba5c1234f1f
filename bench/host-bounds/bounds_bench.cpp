// host_bounds_bench [runs] [folder]: what the host's bounds cost, each case
// beside a baseline, run `runs` times (at least 3) alternating, with min and
// median seconds of each side, the ratio of medians and the peak resident
// memory each side reached:
//   - copybooks: parsing one at the 16 MiB cap (a VALUE list of 8 million
//     tokens, and 32767 entries, past which a layout is refused) beside
//     read() of the same bytes; one of 100 MB refused beside it;
//   - records: a layout of exactly 64 MiB beside a picture of 2 GiB refused;
//   - BRELRT_CONFIG: the first lookup in a file at the cap, past it, and in
//     /dev/zero, beside a lookup in a two-line file;
//   - URL fetch: a body without end cut at BRELRT_URL_MAX_MB=16, beside a
//     16 MiB body that ends; a server sending a byte every 100 ms, cut at
//     BRELRT_URL_TIMEOUT=1; the temporary folder is checked empty after each.
#include "measure.h"

#include <brelrt.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using bench::reset_peak;
using bench::status_kb;

struct Side {
    Side(const char* n, std::function<void()> r) : name(n), run(std::move(r)) {}
    const char* name;
    std::function<void()> run;
    std::vector<double> seconds;
    long peak_kb = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Runs both sides `runs` times, alternating, and prints their figures.
void compare(const char* title, int runs, Side a, Side b) {
    for (int i = 0; i < runs; ++i)
        for (Side* s : {&a, &b}) {
            reset_peak();
            auto t0 = std::chrono::steady_clock::now();
            s->run();
            s->seconds.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
            s->peak_kb = std::max(s->peak_kb, status_kb("VmHWM:"));
        }
    std::printf("%s\n", title);
    for (const Side* s : {&a, &b})
        std::printf("  %-44s min %9.4f s  median %9.4f s  peak RSS %7.1f MB\n", s->name,
                    *std::min_element(s->seconds.begin(), s->seconds.end()), median(s->seconds),
                    s->peak_kb / 1024.0);
    std::printf("  ratio of medians: %.2f\n", median(a.seconds) / median(b.seconds));
}

void fail(const std::string& what) {
    std::printf("host_bounds_bench: %s\n", what.c_str());
    std::exit(1);
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// `head`, then `piece` repeated up to `size` bytes in all.
std::string filled(std::string head, const std::string& piece, size_t size) {
    while (head.size() + piece.size() <= size)
        head += piece;
    return head;
}

void expect_layout(const std::string& path, bool wanted) {
    RecordLayout* l = brelrt_parse_copybook(path.c_str(), "bench");
    if ((l != nullptr) != wanted)
        fail(path + ": " + (l ? "layout made" : brelrt_xfd_last_error()));
    B4XFDFree(l);
}

// Serves one connection on 127.0.0.1 in a thread: `answer` writes to it.
class Server {
public:
    explicit Server(std::function<void(int)> answer) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(fd_, 1);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        url_ = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x";
        thread_ = std::thread([this, answer] {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 10000) <= 0)
                return;
            int c = accept(fd_, nullptr, nullptr);
            char buffer[4096];
            recv(c, buffer, sizeof buffer, 0); // the request: one small packet
            answer(c);
            close(c);
        });
    }
    ~Server() {
        thread_.join();
        close(fd_);
    }
    const std::string& url() const { return url_; }

private:
    int fd_ = -1;
    std::string url_;
    std::thread thread_;
};

// Sends the headers, then `piece` `times` times with `pause` between,
// stopping when the client has gone.
std::function<void(int)> body(std::string head, std::string piece, long times,
                              std::chrono::milliseconds pause = {}) {
    return [=](int c) {
        if (send(c, head.data(), head.size(), MSG_NOSIGNAL) < 0)
            return;
        for (long i = 0; i < times; ++i) {
            if (send(c, piece.data(), piece.size(), MSG_NOSIGNAL) < 0)
                return;
            if (pause.count())
                std::this_thread::sleep_for(pause);
        }
    };
}

void fetch(std::function<void(int)> answer, bool wanted, const std::string& tmp) {
    Server server(std::move(answer));
    char* local = brelrt_url_fetch(server.url().c_str());
    if ((local != nullptr) != wanted)
        fail("fetch " + std::string(local ? "succeeded" : "failed"));
    if (local)
        brelrt_remove(local);
    brelrt_free(local, "bench/host-bounds", __LINE__);
    if (!std::filesystem::is_empty(tmp))
        fail("a file left in " + tmp);
}

} // namespace

int main(int argc, char** argv) {
    int runs = std::max(3, argc > 1 ? std::atoi(argv[1]) : 3);
    std::string dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
    dir += "/host-bounds-bench-XXXXXX";
    if (!mkdtemp(dir.data()))
        fail("cannot make a folder in " + dir);
    std::string tmp = dir + "/tmp";
    std::filesystem::create_directory(tmp);
    setenv("TMPDIR", tmp.c_str(), 1);
    setenv("BRELRT_TRACE", "0", 1);
    brelrt_trace_reset();
    // The host's own reports go to standard error with trace off.
    if (!std::freopen("/dev/null", "w", stderr))
        fail("cannot silence standard error");

    const size_t cap = BRELRT_FILE_SIZE_MAX;
    std::string values = dir + "/values.xfd", entries = dir + "/entries.xfd",
                huge = dir + "/huge.xfd";
    write_text(values, filled("01 r.\n   05 a pic 9.\n      88 v values", " 1", cap - 2) + ".\n");
    std::string fields;
    for (int i = 0; i < 32766; ++i)
        fields += "   05 f" + std::to_string(i) + " pic x(8).\n";
    write_text(entries, "01 r.\n" + fields);
    write_text(huge, "01 r.\n   05 a pic x.\n");
    if (truncate(huge.c_str(), 100L * 1024 * 1024) != 0)
        fail("cannot make " + huge);
    auto read_bytes = [](const std::string& path) {
        int fd = open(path.c_str(), O_RDONLY);
        std::vector<char> buffer(cap + 1);
        ssize_t n = read(fd, buffer.data(), buffer.size());
        close(fd);
        if (n <= 0)
            fail("cannot read " + path);
    };
    compare("copybook of 16 MiB at the cap: a VALUE list of 8 million tokens", runs,
            {"B4ParseXFD's parser", [&] { expect_layout(values, true); }},
            {"read() of the same bytes", [&] { read_bytes(values); }});
    compare("copybook of 32767 entries (one more is refused) and of 100 MB", runs,
            {"32767 entries parsed", [&] { expect_layout(entries, true); }},
            {"100 MB refused", [&] { expect_layout(huge, false); }});

    std::string exact = dir + "/exact.xfd", past = dir + "/past.xfd";
    write_text(exact, "01 r.\n   05 t occurs 2048.\n      10 b pic x(32768).\n");
    std::string picture;
    for (int i = 0; i < 32769; ++i)
        picture += "X(65535)";
    write_text(past, "01 r.\n   05 a pic " + picture + ".\n");
    compare("record of exactly 64 MiB, and a picture of 2 GiB", runs,
            {"64 MiB layout (4097 items)", [&] { expect_layout(exact, true); }},
            {"2 GiB picture refused", [&] { expect_layout(past, false); }});

    static const BrelrtConfigEntry table[] = {
        {"BENCH_TEXT", BRELRT_CFG_TEXT, 0, "default", 0, 0, 0}};
    brelrt_config_register(table, 1, 0);
    std::string small = dir + "/small.cfg", at_cap = dir + "/cap.cfg", over = dir + "/over.cfg";
    write_text(small, "# settings\nBENCH_TEXT from the file\n");
    write_text(at_cap, filled("BENCH_TEXT at the cap\n", "# a comment line\n", cap));
    write_text(over, "BENCH_TEXT past the cap\n");
    if (truncate(over.c_str(), static_cast<off_t>(cap) + 1) != 0)
        fail("cannot make " + over);
    // Each lookup follows another file, so each reads its file.
    auto first_lookup = [&](const std::string& file, const char* expected) {
        return [&, file, expected] {
            setenv("BRELRT_CONFIG", "/nonexistent", 1);
            brelrt_config_text("BENCH_TEXT");
            setenv("BRELRT_CONFIG", file.c_str(), 1);
            if (std::strcmp(brelrt_config_text("BENCH_TEXT"), expected) != 0)
                fail("BRELRT_CONFIG " + file + ": not " + expected);
        };
    };
    compare("BRELRT_CONFIG of 16 MiB at the cap", runs,
            {"first lookup, file at the cap", first_lookup(at_cap, "at the cap")},
            {"first lookup, two-line file", first_lookup(small, "from the file")});
    compare("BRELRT_CONFIG past the cap, and /dev/zero", runs,
            {"first lookup, 16 MiB + 1 refused", first_lookup(over, "default")},
            {"first lookup, /dev/zero refused", first_lookup("/dev/zero", "default")});
    unsetenv("BRELRT_CONFIG");

    const long mb16 = 16L * 1024 * 1024;
    std::string piece(65536, 'x');
    setenv("BRELRT_URL_MAX_MB", "16", 1);
    compare("URL fetch: a body without end, BRELRT_URL_MAX_MB=16", runs,
            {"endless body cut at 16 MiB",
             [&] { fetch(body("HTTP/1.0 200 OK\r\n\r\n", piece, 1L << 30), false, tmp); }},
            {"16 MiB body that ends", [&] {
                 fetch(
                     body("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(mb16) + "\r\n\r\n",
                          piece, mb16 / 65536),
                     true, tmp);
             }});
    unsetenv("BRELRT_URL_MAX_MB");
    setenv("BRELRT_URL_TIMEOUT", "1", 1);
    compare("URL fetch: a byte every 100 ms, BRELRT_URL_TIMEOUT=1", runs,
            {"dribbling server cut at 1 s",
             [&] {
                 fetch(body("HTTP/1.0 200 OK\r\n\r\n", "x", 1000, std::chrono::milliseconds(100)),
                       false, tmp);
             }},
            {"the same 10 bytes at once",
             [&] { fetch(body("HTTP/1.0 200 OK\r\n\r\n", "xxxxxxxxxx", 1), true, tmp); }});
    unsetenv("BRELRT_URL_TIMEOUT");
    std::filesystem::remove_all(dir);
    return 0;
}
