// File streams with name translation, the host's file operations, and the
// URL fetch against a small HTTP server on 127.0.0.1.
#include "host_fixture.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>

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

} // namespace
