// Shared by the host tests: a fixture that checks the tracked allocator has
// nothing outstanding after each test, temporary folders, and building and
// running small GnuCOBOL programs.
#pragma once

#include "host/brelrt.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    size_t outstanding_at_start_ = 0;
    size_t bad_frees_at_start_ = 0;
};

// A temporary folder removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);

// Sets an environment variable for the life of the object.
class EnvVar {
public:
    EnvVar(const char* name, const char* value);
    ~EnvVar();

private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

// Compiles `source` with cobc -x and `options` into `dir`/prog (extra files
// such as copybooks must already be there); false, failing the test, on a
// compile error.
bool build_cobol(const TempDir& dir, const std::string& source, const std::string& options = "");
// Runs `dir`/prog there with `environment` added ("'A=1' 'B=2'", as env
// takes it) and `arguments` (as the shell reads them); its standard output
// and error, with "[exit status N]" after them when it did not end with 0.
std::string run_program(const TempDir& dir, const std::string& environment = "",
                        const std::string& arguments = "");
// Compiles `source` (free format when asked, with extra cobc `options`) and
// runs it; its standard output, empty after a compile error (which fails
// the test).
std::string run_cobol(const TempDir& dir, const std::string& source, bool free_format = false,
                      const std::string& options = "");

// Serves one connection on 127.0.0.1 from a thread of its own: remembers the
// request, then sends a fixed response, or lets `answer` write to the
// connection (it returns when a send fails: the client is gone).
class OneShotServer {
public:
    explicit OneShotServer(std::string response);
    explicit OneShotServer(std::function<void(int connection)> answer);
    ~OneShotServer();
    OneShotServer(const OneShotServer&) = delete;
    OneShotServer& operator=(const OneShotServer&) = delete;
    int port() const { return port_; }
    const std::string& request() const { return request_; }
    void join();

private:
    void serve();

    std::function<void(int)> answer_;
    std::string request_;
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};
