// File streams with name translation, the host's file operations, and the
// URL fetch against a small HTTP server on 127.0.0.1.
#include "host_fixture.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

#define HERE "tests/host/files", __LINE__

TEST_F(HostTest, TranslationFollowsTheDdConventionInOrder) {
    TempDir dir;
    write_file(dir.file("mapped.xml"), "by DD_");
    write_file(dir.file("lower.xml"), "by dd_");
    write_file(dir.file("plain.xml"), "by name");
    EnvVar a("DD_ORDERS", dir.file("mapped.xml").c_str());
    EnvVar b("dd_ORDERS", dir.file("lower.xml").c_str());
    EnvVar c("ORDERS", dir.file("plain.xml").c_str());
    auto contents = [](const char* name, int translate) {
        FILE* f = brelrt_fopen(name, "r", translate);
        if (!f)
            return std::string("(none)");
        char buffer[64] = {};
        size_t n = brelrt_fread(f, buffer, sizeof buffer - 1);
        brelrt_fclose(f);
        return std::string(buffer, n);
    };
    EXPECT_EQ(contents("ORDERS", 1), "by DD_");
    {
        EnvVar gone("DD_ORDERS", nullptr);
        EXPECT_EQ(contents("ORDERS", 1), "by dd_");
        EnvVar gone2("dd_ORDERS", nullptr);
        EXPECT_EQ(contents("ORDERS", 1), "by name");
    }
    EXPECT_EQ(contents("ORDERS", 0), "(none)"); // no translation: no such file here
    EnvVar folder("DATADIR", dir.path().c_str());
    EXPECT_EQ(contents("$DATADIR/plain.xml", 1), "by name");
    char* t = brelrt_translate_name("$DATADIR/x");
    EXPECT_EQ(std::string(t), dir.path() + "/x");
    brelrt_free(t, HERE);
}

// The file a COBOL program opens for an ASSIGN name is the one the host's
// translation names: a GnuCOBOL program opens each name for output and
// writes it, and the file it made is compared with brelrt_translate_name,
// under the same environment ("@" stands for the test's folder).
TEST_F(HostTest, TranslationOpensTheFileGnuCobolOpens) {
    TempDir dir;
    const std::string program = "       IDENTIFICATION DIVISION.\n"
                                "       PROGRAM-ID. MAPPER.\n"
                                "       ENVIRONMENT DIVISION.\n"
                                "       INPUT-OUTPUT SECTION.\n"
                                "       FILE-CONTROL.\n"
                                "           SELECT F ASSIGN TO FNAME\n"
                                "               ORGANIZATION LINE SEQUENTIAL\n"
                                "               FILE STATUS IS FS.\n"
                                "       DATA DIVISION.\n"
                                "       FILE SECTION.\n"
                                "       FD F.\n"
                                "       01 R PIC X(4).\n"
                                "       WORKING-STORAGE SECTION.\n"
                                "       01 FNAME PIC X(300).\n"
                                "       01 FS PIC XX.\n"
                                "       PROCEDURE DIVISION.\n"
                                "           ACCEPT FNAME FROM COMMAND-LINE\n"
                                "           OPEN OUTPUT F\n"
                                "           IF FS = \"00\"\n"
                                "               MOVE \"made\" TO R\n"
                                "               WRITE R\n"
                                "               CLOSE F\n"
                                "           END-IF\n"
                                "           STOP RUN.\n";
    ASSERT_TRUE(build_cobol(dir, program));
    for (const char* folder : {"d1/sub", "d2/d1", "sub", "9/d1", "w"})
        std::filesystem::create_directories(dir.file(folder));
    const std::string at = dir.path();
    auto with_folder = [&](std::string text) {
        for (size_t p; (p = text.find('@')) != std::string::npos;)
            text.replace(p, 1, at);
        return text;
    };
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> env;
    };
    const Case cases[] = {
        {"INV", {}},
        {"INV", {{"DD_INV", "a.xml"}, {"dd_INV", "b.xml"}, {"INV", "c.xml"}}},
        {"INV", {{"DD_INV", ""}, {"dd_INV", "b.xml"}}},
        {"INV", {{"INV", "c.xml"}}},
        {"INV", {{"COB_FILE_PATH", "d1"}, {"DD_INV", "a.xml"}}},
        {"INV", {{"COB_FILE_PATH", "d1"}, {"DD_INV", "@/d2/abs.xml"}}},
        {"INV", {{"COB_FILE_PATH", "d1/"}}},
        {"$INV", {{"DD_INV", "a.xml"}}},
        {"$INV", {{"COB_FILE_PATH", "d1"}}},
        {"inv.xml", {{"DD_inv_xml", "m.xml"}}},
        {"inv.xml", {{"DD_inv.xml", "m.xml"}}},
        {"9inv", {{"DD_9inv", "z"}}},
        {"-inv", {{"DD_-inv", "z"}}},
        {".inv", {{"_inv", "z"}}},
        {"$9inv", {{"DD_9inv", "z"}}},
        {"INV", {{"DD_INV", "$HOME"}}},
        {"DATA/inv.xml", {{"DATA", "d1"}}},
        {"$DATA/inv.xml", {{"DD_DATA", "d1/sub"}}},
        {"$NONE/inv.xml", {}},
        {"$NONE/inv.xml", {{"COB_FILE_PATH", "d2"}}},
        {"DATA/x", {{"DATA", "@/d1"}, {"COB_FILE_PATH", "@/none"}}},
        {"d1/$SUB/y", {{"SUB", "sub"}}},
        {"d1/$NONE/y", {}},
        {"d1/$A/$B/y", {{"dd_A", "sub"}, {"B", "x"}}},
        {"@/d1/$SUB/y", {{"DD_SUB", "sub"}}},
        {"$@/d1/x", {}},
        {"d1\\x", {}},
        {"d1//sub//x/", {}},
        {"./d1/x", {{"COB_FILE_PATH", "d2"}}},
        {"9/d1/$SUB/y", {{"SUB", "sub"}}},
    };
    std::string cobol, host;
    for (const Case& c : cases) {
        std::string name = with_folder(c.name);
        std::string line = std::string(c.name);
        std::string environment;
        std::vector<std::unique_ptr<EnvVar>> env;
        for (const auto& [variable, value] : c.env) {
            std::string v = with_folder(value);
            line += std::string(" ") + variable + "=" + value;
            environment += "'" + std::string(variable) + "=" + v + "' ";
            env.push_back(std::make_unique<EnvVar>(variable, v.c_str()));
        }
        // What GnuCOBOL made: the one new file under the folder.
        run_program(dir, environment, "'" + name + "'");
        std::string made = "(none)";
        for (const auto& e : std::filesystem::recursive_directory_iterator(at)) {
            std::string file = e.path().lexically_relative(at).string();
            if (e.is_regular_file() && file != "prog" && file != "prog.cob") {
                made = file;
                std::filesystem::remove(e.path());
                break;
            }
        }
        cobol += line + " -> " + made + "\n";
        char* translated = brelrt_translate_name(name.c_str());
        std::filesystem::path ours = translated;
        brelrt_free(translated, HERE);
        if (ours.is_relative())
            ours = std::filesystem::path(at) / ours;
        host += line + " -> " + ours.lexically_normal().lexically_relative(at).string() + "\n";
    }
    const std::string expected = "INV -> INV\n"
                                 "INV DD_INV=a.xml dd_INV=b.xml INV=c.xml -> a.xml\n"
                                 "INV DD_INV= dd_INV=b.xml -> b.xml\n"
                                 "INV INV=c.xml -> c.xml\n"
                                 "INV COB_FILE_PATH=d1 DD_INV=a.xml -> d1/a.xml\n"
                                 "INV COB_FILE_PATH=d1 DD_INV=@/d2/abs.xml -> d2/abs.xml\n"
                                 "INV COB_FILE_PATH=d1/ -> d1/INV\n"
                                 "$INV DD_INV=a.xml -> a.xml\n"
                                 "$INV COB_FILE_PATH=d1 -> d1/$INV\n"
                                 "inv.xml DD_inv_xml=m.xml -> m.xml\n"
                                 "inv.xml DD_inv.xml=m.xml -> inv.xml\n"
                                 "9inv DD_9inv=z -> 9inv\n"
                                 "-inv DD_-inv=z -> -inv\n"
                                 ".inv _inv=z -> .inv\n"
                                 "$9inv DD_9inv=z -> z\n"
                                 "INV DD_INV=$HOME -> $HOME\n"
                                 "DATA/inv.xml DATA=d1 -> d1/inv.xml\n"
                                 "$DATA/inv.xml DD_DATA=d1/sub -> d1/sub/inv.xml\n"
                                 "$NONE/inv.xml -> inv.xml\n"
                                 "$NONE/inv.xml COB_FILE_PATH=d2 -> d2/inv.xml\n"
                                 "DATA/x DATA=@/d1 COB_FILE_PATH=@/none -> d1/x\n"
                                 "d1/$SUB/y SUB=sub -> d1/suby\n"
                                 "d1/$NONE/y -> d1/y\n"
                                 "d1/$A/$B/y dd_A=sub B=x -> d1/subxy\n"
                                 "@/d1/$SUB/y DD_SUB=sub -> d1/suby\n"
                                 "$@/d1/x -> d1/x\n"
                                 "d1\\x -> d1/x\n"
                                 "d1//sub//x/ -> d1/sub/x\n"
                                 "./d1/x COB_FILE_PATH=d2 -> d2/d1/x\n"
                                 "9/d1/$SUB/y SUB=sub -> 9/d1/y\n";
    EXPECT_EQ(cobol, expected);
    EXPECT_EQ(host, expected);
}

TEST_F(HostTest, StreamWriteAndHostFileOperations) {
    TempDir dir;
    std::string a = dir.file("a.xml"), b = dir.file("b.xml"), c = dir.file("c.xml");
    FILE* f = brelrt_fopen(a.c_str(), "w", 1);
    ASSERT_NE(f, nullptr);
    brelrt_fprintf(f, "<%s>\n", "orders");
    brelrt_fclose(f);
    EXPECT_EQ(read_file(a), "<orders>\n");
    EXPECT_EQ(f_copy(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(read_file(b), "<orders>\n");
    EXPECT_EQ(f_rename(b.c_str(), c.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(b));
    EXPECT_EQ(f_remove(c.c_str()), 0);
    EXPECT_EQ(f_remove(c.c_str()), -1);
    EXPECT_NE(*brelrt_secondary_error(), 0);
    // A failed copy leaves an existing target as it was.
    EXPECT_EQ(f_copy(dir.file("missing").c_str(), a.c_str()), -1);
    EXPECT_EQ(read_file(a), "<orders>\n");
    EXPECT_EQ(brelrt_remove(a.c_str()), 0);
    EXPECT_EQ(brelrt_fopen(dir.file("no/such/dir").c_str(), "w", 0), nullptr);
}

TEST_F(HostTest, FetchesAnHttpUrlIntoATemporaryFile) {
    std::string body = "<?xml version=\"1.0\"?>\n<orders></orders>\n";
    OneShotServer server("HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                         std::to_string(body.size()) + "\r\n\r\n" + body);
    std::string url = "HTTP://127.0.0.1:" + std::to_string(server.port()) + "/data/orders.xml";
    char* local = brelrt_url_fetch(url.c_str());
    server.join();
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(read_file(local), body);
    EXPECT_EQ(server.request().rfind("GET /data/orders.xml HTTP/1.0\r\n", 0), 0u)
        << server.request();
    EXPECT_NE(server.request().find("Host: 127.0.0.1\r\n"), std::string::npos);
    brelrt_remove(local);
    brelrt_free(local, HERE);
}

TEST_F(HostTest, FetchRefusesErrorsShortBodiesAndBadUrls) {
    {
        OneShotServer server("HTTP/1.0 404 Not Found\r\n\r\nnothing");
        std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/x";
        EXPECT_EQ(brelrt_url_fetch(url.c_str()), nullptr);
    }
    {
        OneShotServer server("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nshort");
        std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/x";
        EXPECT_EQ(brelrt_url_fetch(url.c_str()), nullptr);
    }
    // Nothing that could add header lines to the request.
    EXPECT_EQ(brelrt_url_fetch("http://127.0.0.1:1/a\r\nX-Evil: 1"), nullptr);
    EXPECT_EQ(brelrt_url_fetch("http://127.0.0.1:99999/a"), nullptr);
    EXPECT_EQ(brelrt_url_fetch("ftp://127.0.0.1/a"), nullptr);
    EXPECT_EQ(brelrt_url_fetch(nullptr), nullptr);
}

// Trace at level 1 into a file of a temporary folder, and TMPDIR another
// folder of its own, for the life of the object.
class TracedFetch {
public:
    TracedFetch() { brelrt_trace_reset(); }
    ~TracedFetch() { brelrt_trace_reset(); } // the next use reads the variables restored

    // Fetches from `server`, which is then joined; returns the trace lines the
    // fetch wrote (the server's port as PORT), and in `fetched` whether it
    // gave a local copy (removed and freed here; without `fetched` it must not).
    std::string fetch(OneShotServer& server, bool* fetched = nullptr) {
        size_t before = read_file(dir_.file("trace.log")).size();
        std::string port = std::to_string(server.port());
        char* local = brelrt_url_fetch(("http://127.0.0.1:" + port + "/x").c_str());
        server.join();
        if (fetched)
            *fetched = local != nullptr;
        else
            EXPECT_EQ(local, nullptr);
        if (local)
            brelrt_remove(local);
        brelrt_free(local, HERE);
        std::string trace = read_file(dir_.file("trace.log")).substr(before);
        for (size_t at; (at = trace.find(port)) != std::string::npos;)
            trace.replace(at, port.size(), "PORT");
        return trace;
    }
    size_t files_left() const {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(tmp_dir_.path()))
            ++n;
        return n;
    }

private:
    TempDir dir_, tmp_dir_;
    EnvVar file_{"BRELRT_TRACE_FILE", dir_.file("trace.log").c_str()};
    EnvVar level_{"BRELRT_TRACE", "1"};
    EnvVar tmp_{"TMPDIR", tmp_dir_.path().c_str()};
};

// Sends `head`, then `piece` again and again (with `pause` between) until
// the client goes away or `times` pieces are sent; then waits (5 s at most)
// for the client to close.
std::function<void(int)> endless(std::string head, std::string piece, int times,
                                 std::chrono::milliseconds pause = {}) {
    return [=](int c) {
        if (send(c, head.data(), head.size(), MSG_NOSIGNAL) < 0)
            return;
        for (int i = 0; i < times; ++i) {
            if (send(c, piece.data(), piece.size(), MSG_NOSIGNAL) < 0)
                return;
            std::this_thread::sleep_for(pause);
        }
        char byte;
        pollfd p{c, POLLIN, 0};
        if (poll(&p, 1, 5000) > 0)
            recv(c, &byte, 1, 0);
    };
}

// Each way a fetch can fail leaves the temporary folder empty and says why.
TEST_F(HostTest, FetchIsBoundedInSizeAndTimeAndLeavesNoFileWhenItFails) {
    TracedFetch t;
    const std::string ok = "HTTP/1.0 200 OK\r\n\r\n";
    std::string trace;
    {
        EnvVar most("BRELRT_URL_MAX_MB", "1");
        OneShotServer body_without_end(endless(ok, std::string(65536, 'x'), 1000));
        trace += t.fetch(body_without_end);
        OneShotServer announced("HTTP/1.0 200 OK\r\nContent-Length: 2000000\r\n\r\n" +
                                std::string(1000, 'x'));
        trace += t.fetch(announced);
    }
    {
        EnvVar timeout("BRELRT_URL_TIMEOUT", "1");
        OneShotServer dribbling(endless(ok, "x", 100, std::chrono::milliseconds(200)));
        trace += t.fetch(dribbling);
    }
    OneShotServer short_body("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nshort");
    trace += t.fetch(short_body);
    OneShotServer missing("HTTP/1.0 404 Not Found\r\n\r\nnothing");
    trace += t.fetch(missing);
    {
        // A write the file system refuses, as on a full disk.
        struct sigaction ignore {
        }, old{};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &old);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        rlimit small{100000, limit.rlim_max};
        OneShotServer large(ok + std::string(200000, 'x'));
        setrlimit(RLIMIT_FSIZE, &small);
        trace += t.fetch(large);
        setrlimit(RLIMIT_FSIZE, &limit);
        sigaction(SIGXFSZ, &old, nullptr);
    }
    EXPECT_EQ(t.files_left(), 0u);
    EXPECT_EQ(trace, "URL fetch: http://127.0.0.1:PORT/x: a body of more than 1048576 bytes "
                     "(BRELRT_URL_MAX_MB)\n"
                     "URL fetch: http://127.0.0.1:PORT/x: a body of 2000000 bytes, more than "
                     "1048576 (BRELRT_URL_MAX_MB)\n"
                     "URL fetch: http://127.0.0.1:PORT/x: no answer in time (BRELRT_URL_TIMEOUT)\n"
                     "URL fetch: http://127.0.0.1:PORT/x: a body of 5 bytes, shorter than its "
                     "Content-Length 100\n"
                     "URL fetch: http://127.0.0.1:PORT/x: answered 'HTTP/1.0 404 Not Found'\n"
                     "URL fetch: http://127.0.0.1:PORT/x: cannot write the local copy: File too "
                     "large\n");
}

// A setting that is no positive number gives the default. A body ends at its
// Content-Length, though the server keeps the connection open.
TEST_F(HostTest, FetchSettingsFallBackToTheirDefaults) {
    TracedFetch t;
    bool fetched = false;
    {
        EnvVar most("BRELRT_URL_MAX_MB", "a lot");
        EnvVar timeout("BRELRT_URL_TIMEOUT", "1");
        OneShotServer open(endless("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc", "", 0));
        EXPECT_EQ(t.fetch(open, &fetched),
                  "URL fetch: BRELRT_URL_MAX_MB 'a lot' is not a positive number: 256 is used\n");
        EXPECT_TRUE(fetched);
    }
    EnvVar timeout("BRELRT_URL_TIMEOUT", "-5");
    OneShotServer server("HTTP/1.0 200 OK\r\n\r\nabc");
    EXPECT_EQ(t.fetch(server, &fetched),
              "URL fetch: BRELRT_URL_TIMEOUT '-5' is not a positive number: 120 is used\n");
    EXPECT_TRUE(fetched);
    EXPECT_EQ(t.files_left(), 0u);
}

} // namespace
