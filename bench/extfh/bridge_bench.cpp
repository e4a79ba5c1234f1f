// xml_bridge_bench [records] [folder] [runs]: what the GnuCOBOL bridge costs.
// `records` records of the orders layout (default 1,000,000) are written,
// then read back, by four sides:
//   (a) bench-orders built with cobc-xml, on an XML file through the bridge,
//       each record handed to the kernel before its WRITE answers;
//   (h) the same with BXMLFH_HOLD=yes: records held up to 64 KB;
//   (b) the same program built with plain cobc, on a plain ORGANIZATION
//       SEQUENTIAL file;
//   (c) bxml32 driven directly from C (xml_sopen, xml_swrite, xml_sread,
//       xml_sclose) on the same 1,000 record images;
//   (d) the floor of any expat-based design: fwrite of (a)'s document, then
//       expat with empty handlers parsing it, both in 1 MB pieces.
// (a) and (c) do the same work: records moved from 1,000 prepared images,
// nothing computed, into a new file. Each side runs `runs` times (at least
// 3), the sides taking turns, in a process of its own, in `folder` (default
// /dev/shm, a tmpfs): min and median of the wall time of writing, reading
// and both, the median of the processor time (user and system: what a busy
// machine does not blur), the ratios of the medians, and each side's peak
// resident memory. Then, when perf is on the PATH, a profile of (a) split
// by library.
#include "bxml32.h"

#include <brelrt.h>
#include <expat.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

// bench_paths.cpp: the build's bench-cobol/, and `rest` under the source tree.
std::string BenchProgramsPath();
std::string BenchSourcePath(const char* rest);

namespace {

namespace fs = std::filesystem;

const std::string kPrograms = BenchProgramsPath();
constexpr size_t kImageSize = 217; // ORDER-REC of examples/cobol/orders.cpy

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double cpu_now() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "xml_bridge_bench: %s\n", what.c_str());
    std::exit(1);
}

struct Outcome {
    double seconds = 0; // wall time
    double cpu = 0;     // user and system time
    long peak_kb = 0;
};

// A phase of a side: its wall and processor time.
struct Phase {
    double seconds = 0, cpu = 0;
    double t0 = now(), c0 = cpu_now();
    void stop() {
        seconds = now() - t0;
        cpu = cpu_now() - c0;
    }
};

// A child process; `body` runs in it and its exit status says whether it
// succeeded. Wall time and peak resident memory as its parent sees them.
template <typename Body> Outcome in_child(Body body) {
    double t0 = now();
    pid_t pid = fork();
    if (pid == 0) {
        std::fflush(stdout);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    auto cpu = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    Outcome o{now() - t0, cpu(usage.ru_utime) + cpu(usage.ru_stime), usage.ru_maxrss};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        fail("a side failed");
    return o;
}

Outcome program(const std::vector<std::string>& argv, const std::string& dir, bool hold = false) {
    return in_child([&] {
        if (chdir(dir.c_str()) != 0)
            return false;
        if (hold)
            setenv("BXMLFH_HOLD", "yes", 1);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        int null = ::open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execv(args[0], args.data());
        return false;
    });
}

std::string read_whole(const std::string& file) {
    std::string text;
    FILE* in = std::fopen(file.c_str(), "rb");
    if (!in)
        fail("cannot read " + file);
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        text.append(buffer, n);
    std::fclose(in);
    return text;
}

// (c): the records through the dispatch table, as the bridge drives it.
bool bxml32_side(const std::string& file, long count, const std::string& images, Phase* out) {
    for (const BrelrtHostEntry& e : brelrt_host_entries)
        xml_set_host_entry(e.name, reinterpret_cast<void*>(e.function));
    xml_register_config();
    out[0] = Phase();
    XmlFile* f = xml_sopen(file.c_str(), 1, 0, 0, 0, 0, nullptr, 0);
    if (!f)
        return false;
    auto* bytes = reinterpret_cast<const unsigned char*>(images.data());
    for (long i = 0; i < count; ++i)
        if (!xml_swrite(f, bytes + (i % 1000) * kImageSize, kImageSize))
            return false;
    xml_sclose(f);
    if (*brelrt_file_error())
        return false;
    out[0].stop();
    out[1] = Phase();
    f = xml_sopen(file.c_str(), 0, 0, 0, 0, 0, nullptr, 0);
    if (!f)
        return false;
    unsigned char record[kImageSize];
    long read = 0;
    while (xml_sread(f, record) > 0)
        ++read;
    bool at_end = *brelrt_file_error() == BXML_FILE_END_OF_FILE;
    xml_sclose(f);
    out[1].stop();
    return at_end && read == count;
}

void start(void*, const XML_Char*, const XML_Char**) {}
void end(void*, const XML_Char*) {}
void text(void*, const XML_Char*, int) {}

// (d): fwrite of the document's bytes, then expat with empty handlers.
bool floor_side(const std::string& document, const std::string& copy, Phase* out) {
    static char buffer[1 << 20];
    FILE* in = std::fopen(document.c_str(), "rb");
    out[0] = Phase();
    FILE* to = std::fopen(copy.c_str(), "wb");
    size_t n;
    while (in && to && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        if (std::fwrite(buffer, 1, n, to) != n)
            return false;
    if (!in || !to || std::fclose(to) != 0)
        return false;
    out[0].stop();
    std::fclose(in);
    out[1] = Phase();
    in = std::fopen(copy.c_str(), "rb");
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetElementHandler(p, start, end);
    XML_SetCharacterDataHandler(p, text);
    bool ok = in != nullptr;
    while (ok && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        ok = XML_Parse(p, buffer, static_cast<int>(n), 0) == XML_STATUS_OK;
    ok = ok && XML_Parse(p, nullptr, 0, 1) == XML_STATUS_OK;
    XML_ParserFree(p);
    if (in)
        std::fclose(in);
    out[1].stop();
    return ok;
}

struct Side {
    explicit Side(const char* l) : label(l) {}
    const char* label;
    std::vector<double> write, read, total, cpu_write, cpu_read, cpu_total;
    long peak_kb = 0;

    void add(const Outcome& w, const Outcome& r) {
        write.push_back(w.seconds);
        read.push_back(r.seconds);
        total.push_back(w.seconds + r.seconds);
        cpu_write.push_back(w.cpu);
        cpu_read.push_back(r.cpu);
        cpu_total.push_back(w.cpu + r.cpu);
        peak_kb = std::max({peak_kb, w.peak_kb, r.peak_kb});
    }
};

// The two phases of a side run in a child, timed there and handed back
// through a file; the peak memory is the child's.
void timed_child(const std::string& dir, Side& side,
                 bool (*body)(const std::string&, long, const std::string&, Phase*),
                 const std::string& file, long count, const std::string& arg) {
    std::string result = dir + "/phases";
    Outcome o = in_child([&] {
        Phase p[2];
        if (!body(file, count, arg, p))
            return false;
        FILE* f = std::fopen(result.c_str(), "wb");
        return f && std::fwrite(p, sizeof p, 1, f) == 1 && std::fclose(f) == 0;
    });
    Phase p[2];
    FILE* f = std::fopen(result.c_str(), "rb");
    if (!f || std::fread(p, sizeof p, 1, f) != 1)
        fail("no timing from a side");
    std::fclose(f);
    side.add({p[0].seconds, p[0].cpu, o.peak_kb}, {p[1].seconds, p[1].cpu, o.peak_kb});
}

bool floor_body(const std::string& copy, long, const std::string& document, Phase* p) {
    return floor_side(document, copy, p);
}

// perf's split of a program's samples by library, as "name share%" lines.
void profile(const std::string& dir, const std::vector<std::string>& argv, const char* what) {
    std::string data = dir + "/perf.data";
    std::string command = "cd '" + dir + "' && perf record -q -F 999 -o '" + data + "' --";
    for (const std::string& a : argv)
        command += " '" + a + "'";
    command += " > /dev/null 2>&1 && perf report -i '" + data +
               "' --sort dso --stdio 2>/dev/null | grep '%'";
    std::printf("profile of (a), %s, by library (perf, share of samples):\n", what);
    std::fflush(stdout);
    if (std::system(command.c_str()) != 0)
        std::printf("  (perf could not record here)\n");
    fs::remove(data);
}

} // namespace

int main(int argc, char** argv) {
    long count = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string base = argc > 2 ? argv[2] : "/dev/shm";
    int runs = std::max(3, argc > 3 ? std::atoi(argv[3]) : 3);
    count = std::max(1000L, count / 1000 * 1000);
    std::string dir = base + "/xml-bridge-bench-" + std::to_string(getpid());
    for (const char* sub : {"/a", "/b", "/c", "/d"})
        fs::create_directories(dir + sub);

    // The layout beside the documents, the 1,000 orders of the example as
    // a plain file, and their images as fixed records.
    fs::copy_file(BenchSourcePath("/examples/cobol/orders.cpy"), dir + "/orders.xfd");
    setenv("BRELRT_XFD_DIR", dir.c_str(), 1);
    unsetenv("BRELRT_TRACE");
    unsetenv("BRELRT_CONFIG");
    program({kPrograms + "/plain-write-orders", "orders.dat", "1000"}, dir);
    for (const char* sub : {"/a", "/b"})
        fs::copy_file(dir + "/orders.dat", dir + sub + "/orders.dat");
    program({kPrograms + "/plain-bench-orders", "images", "images.dat", "0"}, dir + "/a");
    std::string images = read_whole(dir + "/a/images.dat");
    if (images.size() != 1000 * kImageSize)
        fail("the record images are not 1000 orders");

    Side a("(a) COBOL program through the bridge"), h("(h) the same, BXMLFH_HOLD=yes"),
        b("(b) COBOL program, plain sequential"), c("(c) bxml32 driven from C"),
        d("(d) fwrite + expat, empty handlers");
    std::string n = std::to_string(count);
    size_t document = 0;
    for (int run = 0; run < runs; ++run) {
        // Each side writes a new file, as the next run's (a) does.
        fs::remove(dir + "/a/orders.xml");
        Outcome w = program({kPrograms + "/bench-orders", "write", "orders.xml", n}, dir + "/a");
        a.add(w, program({kPrograms + "/bench-orders", "read", "orders.xml", n}, dir + "/a"));
        document = fs::file_size(dir + "/a/orders.xml");

        fs::remove(dir + "/a/orders.xml");
        w = program({kPrograms + "/bench-orders", "write", "orders.xml", n}, dir + "/a", true);
        h.add(w, program({kPrograms + "/bench-orders", "read", "orders.xml", n}, dir + "/a", true));

        w = program({kPrograms + "/plain-bench-orders", "write", "orders.out", n}, dir + "/b");
        b.add(w, program({kPrograms + "/plain-bench-orders", "read", "orders.out", n}, dir + "/b"));
        fs::remove(dir + "/b/orders.out");

        timed_child(dir, c, bxml32_side, dir + "/c/orders.xml", count, images);
        fs::remove(dir + "/c/orders.xml");

        timed_child(dir, d, floor_body, dir + "/d/orders.xml", count, dir + "/a/orders.xml");
        fs::remove(dir + "/d/orders.xml");
    }

    std::printf("%ld records of the orders layout (%zu bytes each), document %zu bytes, "
                "%d runs each\n",
                count, kImageSize, document, runs);
    std::printf("%-38s %17s %17s %17s %20s %10s\n", "", "write min/median", "read min/median",
                "both min/median", "processor w/r median", "peak RSS");
    auto least = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    for (const Side* s : {&a, &h, &b, &c, &d})
        std::printf("%-38s %7.3f/%7.3f s %7.3f/%7.3f s %7.3f/%7.3f s %8.3f/%8.3f s %7ld kB\n",
                    s->label, least(s->write), median(s->write), least(s->read), median(s->read),
                    least(s->total), median(s->total), median(s->cpu_write), median(s->cpu_read),
                    s->peak_kb);
    auto ratio = [](const Side& x, const Side& y, std::vector<double> Side::*v) {
        return median(x.*v) / median(y.*v);
    };
    for (auto [label, y] :
         {std::pair{"(a)/(h)", &h}, {"(a)/(c)", &c}, {"(a)/(d)", &d}, {"(a)/(b)", &b}})
        std::printf("%s medians: write %.2f, read %.2f, both %.2f; processor time: write %.2f, "
                    "read %.2f, both %.2f\n",
                    label, ratio(a, *y, &Side::write), ratio(a, *y, &Side::read),
                    ratio(a, *y, &Side::total), ratio(a, *y, &Side::cpu_write),
                    ratio(a, *y, &Side::cpu_read), ratio(a, *y, &Side::cpu_total));

    if (std::system("command -v perf > /dev/null 2>&1") == 0) {
        std::string p = std::to_string(std::min(count, 200000L));
        profile(dir + "/a", {kPrograms + "/bench-orders", "write", "orders.xml", p}, "writing");
        profile(dir + "/a", {kPrograms + "/bench-orders", "read", "orders.xml", p}, "reading");
    } else {
        std::printf("no perf on the PATH: no profile of (a)\n");
    }
    fs::remove_all(dir);
    return 0;
}
