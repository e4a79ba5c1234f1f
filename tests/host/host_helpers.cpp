#include "host_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

void HostTest::SetUp() {
    brelrt_mem_fail_nth(0);
    outstanding_at_start_ = brelrt_mem_outstanding();
    bad_frees_at_start_ = brelrt_mem_bad_frees();
}

void HostTest::TearDown() {
    brelrt_mem_fail_nth(0);
    if (brelrt_mem_outstanding() != outstanding_at_start_)
        brelrt_mem_report(stderr);
    EXPECT_EQ(brelrt_mem_outstanding(), outstanding_at_start_) << "tracked blocks left allocated";
    EXPECT_EQ(brelrt_mem_bad_frees(), bad_frees_at_start_)
        << "unexpected frees of unknown pointers";
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brelrt-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (!made)
        throw std::runtime_error("mkdtemp failed");
    path_ = made;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

EnvVar::EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* v = std::getenv(name)) {
        had_ = true;
        old_ = v;
    }
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

EnvVar::~EnvVar() {
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

namespace {

std::string capture(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    int status = pclose(p);
    if (status != 0)
        out += "\n[exit status " + std::to_string(status) + "]";
    return out;
}

} // namespace

bool build_cobol(const TempDir& dir, const std::string& source, const std::string& options) {
    write_file(dir.file("prog.cob"), source);
    std::filesystem::remove(dir.file("prog"));
    std::string compile =
        "cd '" + dir.path() + "' && cobc -x " + options + " -o prog prog.cob 2>&1";
    std::string messages = capture(compile);
    bool built = std::filesystem::exists(dir.file("prog"));
    EXPECT_TRUE(built) << "cobc " << options << " failed:\n" << messages << "\n" << source;
    return built;
}

std::string run_program(const TempDir& dir, const std::string& environment,
                        const std::string& arguments) {
    // Run without the sanitizer runtime of the test binary leaking into it.
    return capture("cd '" + dir.path() + "' && env -u LD_PRELOAD " + environment + " ./prog " +
                   arguments + " 2>&1");
}

std::string run_cobol(const TempDir& dir, const std::string& source, bool free_format,
                      const std::string& options) {
    if (!build_cobol(dir, source, (free_format ? "-free " : "") + options))
        return std::string();
    return run_program(dir);
}

OneShotServer::OneShotServer(std::string response)
    : OneShotServer([response = std::move(response)](int c) {
          send(c, response.data(), response.size(), MSG_NOSIGNAL);
      }) {}

OneShotServer::OneShotServer(std::function<void(int)> answer) : answer_(std::move(answer)) {
    request_.reserve(8192); // no allocation while the client is at work
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 1);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
}

OneShotServer::~OneShotServer() {
    join();
    close(fd_);
}

void OneShotServer::join() {
    if (thread_.joinable())
        thread_.join();
}

void OneShotServer::serve() {
    pollfd p{fd_, POLLIN, 0};
    // Bounded: at most 50 waits of 100 ms for the client.
    for (int i = 0; i < 50 && poll(&p, 1, 100) == 0; ++i) {
    }
    if (!(p.revents & POLLIN))
        return;
    int c = accept(fd_, nullptr, nullptr);
    if (c < 0)
        return;
    char buffer[4096];
    for (int i = 0; i < 100 && request_.find("\r\n\r\n") == std::string::npos; ++i) {
        pollfd q{c, POLLIN, 0};
        if (poll(&q, 1, 100) <= 0)
            continue;
        ssize_t n = recv(c, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        request_.append(buffer, static_cast<size_t>(n));
    }
    answer_(c);
    close(c);
}
