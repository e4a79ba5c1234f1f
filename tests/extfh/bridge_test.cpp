// COBOL programs on XML files, end to end: programs built with cobc-xml (and
// the same programs with plain cobc, or on plain files, to compare) run as
// child processes in a folder of their own, on real files.
#include "file_systems.h"
#include "host_fixture.h"
#include "test_paths.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kPrograms = BuildPath("/test-cobol");
const std::string kExamples = SourcePath("/examples/cobol");
const std::string kCobol = SourcePath("/tests/extfh/cobol");

using Env = std::vector<std::pair<std::string, std::string>>;

struct Ran {
    int code = -1;   // exit status, -1 when ended by a signal
    int signal = 0;  // the signal that ended it
    std::string out; // standard output
    std::string err; // standard error
};

struct Options {
    Env env;
    const char* stop_at = nullptr; // once standard output shows it, send `stop_with`
    int stop_with = SIGTERM;
    bool unprivileged = false; // as nobody, when the tests run as root
    bool cobol = true;         // a COBOL program: it loads the handler
};

// Runs `argv` (argv[0] a path) in `dir`, with the copybooks on COBCPY and
// without the test binary's own preload; a sanitizer build preloads the
// sanitizer runtime that the handler needs into COBOL programs.
Ran run(const std::vector<std::string>& argv, const std::string& dir, const Options& o = {}) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        unsetenv("LD_PRELOAD");
        if (*POINTRA_ASAN_RUNTIME && o.cobol)
            setenv("LD_PRELOAD", POINTRA_ASAN_RUNTIME, 1);
        setenv("COBCPY", (kCobol + ":" + kExamples).c_str(), 1);
        for (const auto& [name, value] : o.env)
            setenv(name.c_str(), value.c_str(), 1);
        if (o.unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(126);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Ran r;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    bool stopped = false;
    for (int open = 2; open > 0;) {
        if (poll(fds, 2, 60000) <= 0)
            break;
        for (int k = 0; k < 2; ++k) {
            if (!fds[k].revents)
                continue;
            char buffer[4096];
            ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n <= 0) {
                fds[k].fd = -1;
                --open;
                continue;
            }
            (k == 0 ? r.out : r.err).append(buffer, static_cast<size_t>(n));
        }
        if (o.stop_at && !stopped && r.out.find(o.stop_at) != std::string::npos) {
            kill(pid, o.stop_with);
            stopped = true;
        }
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        r.code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        r.signal = WTERMSIG(status);
    return r;
}

// The file statements driver (tests/extfh/cobol/fileops.cob) on DD_XMLFILE.
Ran fileops(const std::string& dir, const std::string& file, const std::string& words,
            Options o = {}) {
    std::vector<std::string> argv = {kPrograms + "/fileops"};
    for (size_t at = 0; at < words.size();) {
        size_t end = words.find(' ', at);
        argv.push_back(words.substr(at, end - at));
        at = end == std::string::npos ? end : end + 1;
    }
    if (!file.empty())
        o.env.emplace_back("DD_XMLFILE", file);
    return run(argv, dir, o);
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        ++n;
    return n;
}

// Output of a shell command (with its status when not 0).
std::string shell(const std::string& dir, const std::string& command) {
    Options o;
    o.cobol = false;
    Ran r = run({"/bin/sh", "-c", command}, dir, o);
    return r.out + r.err + (r.code == 0 ? "" : "[status " + std::to_string(r.code) + "]");
}

std::string record_line(int n) {
    char line[64];
    std::snprintf(line, sizeof line, "r 00 %06d +%07d.%02d [item %06d ]\n", n, n * 5 / 4,
                  n * 125 % 100, n);
    return line;
}

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override { fs::permissions(dir.path(), fs::perms::all); }
    std::string path(const std::string& name) const { return dir.file(name); }
    TempDir dir;
};

// Each status a COBOL program meets, once: the same as libcob gives for the
// same statements on a plain file where libcob has one, with the reason on
// standard error where it is the handler's own.
TEST_F(BridgeTest, StatusesAreThoseOfASequentialFile) {
    write_file(path("empty.xml"), "");
    write_file(path("empty.dat"), "");
    write_file(path("locked.xml"), "<ops/>");
    write_file(path("locked.dat"), "");
    fs::permissions(path("locked.xml"), fs::perms::none);
    fs::permissions(path("locked.dat"), fs::perms::none);
    fs::create_directory(path("readonly"));
    fs::permissions(path("readonly"), fs::perms::owner_read | fs::perms::owner_exec |
                                          fs::perms::others_read | fs::perms::others_exec);
    write_file(path("notxml.xml"), "this is no document\n");
    fs::create_directory(path("folder.xml"));
    fs::create_directory(path("folder.dat"));
    write_file(path("wrongroot.xml"), "<?xml version=\"1.0\"?>\n<inventory><x/></inventory>\n");
    struct Row {
        const char* file;
        const char* words;
        std::string out;
        std::string err; // a part of standard error; "": the same as on a plain file
        bool unprivileged = false;
        Env env{};
    };
    const Row rows[] = {
        {"missing.xml", "oi r c", "oi 35\nr 47\nc 42\n", ""},
        {"locked.xml", "oi c", "oi 37\nc 42\n", "", true},
        {"readonly/new.xml", "oo", "oo 37\n", "", true},
        {"nowhere/new.xml", "oo w", "oo 30\nw 48\n", "OPEN OUTPUT of XMLFILE (nowhere/new.xml)"},
        {"fresh.xml",
         "opt oi r r c",
         "oi 05\nr 10\nr 46\nc 00\n",
         "",
         false,
         {{"OPTFILE", "opt-missing.xml"}, {"BXMLFH_LAYOUT_OPTFILE", "ops"}}},
        {"empty.xml", "oi r r c", "oi 00\nr 10\nr 46\nc 00\n", ""},
        {"fresh.xml", "oo w w r oi c c", "oo 00\nw 00\nw 00\nr 47\noi 41\nc 00\nc 42\n", ""},
        {"fresh.xml", "oi w r r r r c",
         "oi 00\nw 48\n" + record_line(1) + record_line(2) + "r 10\nr 46\nc 00\n", ""},
        {"fresh.xml", "oio oe", "oio 37\noe 37\n",
         "OPEN EXTEND of XMLFILE (fresh.xml): an XML file is opened INPUT or OUTPUT only"},
        {"notxml.xml", "oi r c", "oi 30\nr 47\nc 42\n",
         "bxmlfh: OPEN INPUT of XMLFILE (notxml.xml): 'notxml.xml' is not an XML document: line "
         "1, column 1: syntax error\n"},
        {"wrongroot.xml", "oi", "oi 30\n", "inventory"},
        {"orders.xml", "oo", "oo 39\n",
         "the layout orders (" + kExamples +
             "/orders.cpy) describes records of 217 bytes, "
             "the program's file 23 bytes"},
        {"nolayout.xml", "oo", "oo 30\n",
         "; a file whose name is not its layout's names it with "
         "BXMLFH_LAYOUT_XMLFILE=<layout>\n"},
        {"folder.xml", "oi r r c", "oi 00\nr 30\nr 30\nc 00\n",
         "READ of XMLFILE (folder.xml): it is a folder, not a document\n"},
        {"folder.xml", "oo", "oo 37\n", ""},
        {"bad.xml", "oo w bad w c oi r r r c",
         "oo 00\nw 00\nbad 30\nw 00\nc 00\noi 00\n" + record_line(1) + record_line(3) +
             "r 10\nc 00\n",
         "field ops_name has byte 0x01 at 2"},
    };
    for (const Row& row : rows) {
        // The layout named for the ASSIGN name, but where the name's own is
        // the point.
        Options o{row.env, nullptr, 0, row.unprivileged};
        if (std::string(row.file) != "orders.xml" && std::string(row.file) != "nolayout.xml")
            o.env.emplace_back("BXMLFH_LAYOUT_XMLFILE", "ops");
        Ran xml = fileops(dir.path(), row.file, row.words, o);
        EXPECT_EQ(xml.out, row.out) << row.file << ": " << row.words << "\n" << xml.err;
        if (!row.err.empty()) {
            EXPECT_NE(xml.err.find(row.err), std::string::npos) << row.file << ": " << xml.err;
            continue;
        }
        EXPECT_EQ(xml.err, "") << row.file;
        for (auto& [name, value] : o.env)
            value = replace_all(value, ".xml", ".dat");
        Ran plain = fileops(dir.path(), replace_all(row.file, ".xml", ".dat"), row.words, o);
        EXPECT_EQ(plain.out, xml.out) << "on a plain file: " << row.words;
    }

    // A handler without the libraries beside it fails every OPEN, naming the
    // library, and never leaves the file to libcob.
    fs::create_directory(path("lonely"));
    fs::copy_file(LibPath("/libbxmlfh.so"), path("lonely/libbxmlfh.so.1"));
    Ran lonely = fileops(dir.path(), "ops.xml", "oo w c", {{{"LD_LIBRARY_PATH", path("lonely")}}});
    EXPECT_EQ(lonely.out, "oo 30\nw 48\nc 42\n");
    EXPECT_NE(lonely.err.find("OPEN OUTPUT of XMLFILE: cannot load libbrelrt.so.1: "),
              std::string::npos)
        << lonely.err;
    EXPECT_FALSE(fs::exists(path("ops.xml")));

    // A document cut after its first record: that record, then 30.
    std::string doc = read_file(path("fresh.xml"));
    write_file(path("cut.xml"), doc.substr(0, doc.find("</ops_rec>") + 11));
    Ran cut = fileops(dir.path(), "cut.xml", "oi r r c", {{{"BXMLFH_LAYOUT_XMLFILE", "ops"}}});
    EXPECT_EQ(cut.out, "oi 00\n" + record_line(1) + "r 30\nc 00\n");
    EXPECT_NE(cut.err.find("READ of XMLFILE (cut.xml): after record 1: "), std::string::npos);

    // A device that refuses every write: each record goes to the kernel
    // before its WRITE answers, so the first WRITE gives 34, as libcob's;
    // every later one 34 with no further line, and CLOSE 34. With
    // BXMLFH_HOLD up to 64 KB wait: 34 comes at the WRITE that passes them
    // (or at CLOSE), naming every WRITE lost.
    fs::create_directory(path("full"));
    fs::create_symlink("/dev/full", path("full/ops.xml"));
    Ran full = fileops(dir.path(), "full/ops.xml", "oo w w c");
    EXPECT_EQ(full.out, "oo 00\nw 34\nw 34\nc 34\n");
    EXPECT_EQ(full.err,
              "bxmlfh: WRITE of XMLFILE (full/ops.xml): the file refused a write (No space left on "
              "device): WRITE 1 of this OPEN is lost, the document ends after the records "
              "before\nbxmlfh: CLOSE of XMLFILE (full/ops.xml): the document is incomplete: 2 "
              "WRITE statements of this OPEN are lost, all those after the file refused a "
              "write\n");
    Options hold{{{"BXMLFH_HOLD", "yes"}}};
    full = fileops(dir.path(), "full/ops.xml", "oo w w c", hold);
    EXPECT_EQ(full.out, "oo 00\nw 00\nw 00\nc 34\n");
    EXPECT_NE(full.err.find("WRITE statements 1 to 2 of this OPEN are lost"), std::string::npos)
        << full.err;
    full = fileops(dir.path(), "full/ops.xml", "oo wn c", hold);
    // "wn <record> 34": the WRITE past the first 64 KB.
    long lost = std::atol(full.out.substr(full.out.find("wn ") + 3).c_str());
    EXPECT_GT(lost, 1);
    EXPECT_EQ(full.out, "oo 00\nwn " + std::string(6 - std::to_string(lost).size(), '0') +
                            std::to_string(lost) + " 34\nwn 34\nc 34\n");
    EXPECT_NE(
        full.err.find("WRITE statements 1 to " + std::to_string(lost) + " of this OPEN are lost"),
        std::string::npos)
        << full.err;
    EXPECT_EQ(count(full.err, "\n"), 2u) << full.err; // one line at the WRITE, one at CLOSE
}

// A disk that fills up: the WRITE that finds it full names the WRITEs of
// this OPEN that are lost, exactly those whose records the document lacks:
// that WRITE alone, or with BXMLFH_HOLD all those held since the records
// the disk took whole.
TEST_F(BridgeTest, AFullDiskNamesExactlyTheWritesLost) {
    for (const char* hold : {"no", "yes"}) {
        SmallFileSystem disk(32 * 1024); // half of what BXMLFH_HOLD holds
        if (!disk.ok())
            GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
        std::string file = disk.path().toStdString() + "ops.xml";
        Options o{{{"BXMLFH_HOLD", hold}, {"BXMLFH_LAYOUT_XMLFILE", "ops"}}};
        Ran r = fileops(dir.path(), file, "oo wn c", o);
        long refused = std::atol(r.out.substr(r.out.find("wn ") + 3).c_str());
        EXPECT_EQ(r.out.substr(r.out.find("wn ")),
                  "wn " + std::string(6 - std::to_string(refused).size(), '0') +
                      std::to_string(refused) + " 34\nwn 34\nc 34\n")
            << hold;
        Ran back = fileops(dir.path(), file, "oi ra", o);
        long read = std::atol(back.out.substr(back.out.find("ra ") + 3).c_str());
        EXPECT_EQ(back.out.substr(back.out.find("ra ") + 10), "30\n") << hold; // cut off
        std::string lost = read + 1 == refused
                               ? "WRITE " + std::to_string(refused) + " of this OPEN is lost"
                               : "WRITE statements " + std::to_string(read + 1) + " to " +
                                     std::to_string(refused) + " of this OPEN are lost";
        EXPECT_NE(r.err.find(lost), std::string::npos) << hold << ": " << r.err;
        EXPECT_EQ(std::string(hold) == "no", read + 1 == refused) << hold << ": " << r.err;
    }
}

// Files left open: finished at STOP RUN and GOBACK; after a runtime error,
// SIGTERM or SIGKILL the complete records read back, then 30; an OPEN of a
// document a cancelled subprogram left open finishes it first.
TEST_F(BridgeTest, FilesLeftOpenAtTheEnd) {
    for (const char* end : {"stop", "goback"}) {
        Ran r = fileops(dir.path(), "ops.xml", std::string("oo w w ") + end);
        EXPECT_EQ(r.out, "oo 00\nw 00\nw 00\n") << end;
        EXPECT_EQ(shell(dir.path(), "xmllint --valid --noout ops.xml"), "") << end;
        Ran back = fileops(dir.path(), "ops.xml", "oi r r r");
        EXPECT_EQ(back.out, "oi 00\n" + record_line(1) + record_line(2) + "r 10\n") << end;
    }
    struct Abnormal {
        const char* words;
        int signal;
        int records;
    };
    for (Abnormal a : {Abnormal{"oo w w crash", 0, 2}, Abnormal{"oo w w w sleep", SIGTERM, 3}}) {
        Options o;
        o.stop_at = "sleeping";
        Ran r = fileops(dir.path(), "ops.xml", a.words, o);
        EXPECT_NE(r.err.find(std::to_string(a.records) +
                             " records written, the document's end tag left out"),
                  std::string::npos)
            << a.words << "\n"
            << r.err;
        std::string expected = "oi 00\n";
        for (int k = 1; k <= a.records; ++k)
            expected += record_line(k);
        expected += "r 30\n";
        EXPECT_EQ(fileops(dir.path(), "ops.xml", "oi r r r r").out.substr(0, expected.size()),
                  expected)
            << a.words;
    }
    Options killed;
    killed.stop_at = "sleeping";
    killed.stop_with = SIGKILL;
    Ran r = fileops(dir.path(), "ops.xml", "oo wn sleep", killed);
    EXPECT_EQ(r.signal, SIGKILL);
    std::string doc = read_file(path("ops.xml"));
    size_t written = count(doc, "</ops_rec>");
    EXPECT_GT(written, 0u);
    EXPECT_EQ(doc.substr(doc.size() - 12), " </ops_rec>\n"); // flushed whole records only
    char all[32];
    std::snprintf(all, sizeof all, "ra %06zu 30\n", written);
    EXPECT_EQ(fileops(dir.path(), "ops.xml", "oi ra").out, std::string("oi 00\n") + all);

    Ran cancel = run({kPrograms + "/cancel-main"}, dir.path(),
                     {{{"COB_LIBRARY_PATH", kPrograms + "/modules"}}});
    EXPECT_EQ(cancel.out, "open output 00\nwritten 00\nopen input 00\nread 00 000001 one         "
                          "\nread 00 000002 two         \nread 10 000002 two         \n");
}

// The name libcob would open, whatever maps it: the handler's XML file lies
// where libcob puts a plain file of the same mapping, with the layout of the
// mapped name.
TEST_F(BridgeTest, NamesAreMappedAsLibcobMapsThem) {
    fs::create_directories(path("d1/sub"));
    fs::create_directories(path("d1/data"));
    fs::create_directories(path("data"));
    struct Mapping {
        Env env;
        std::string words; // the name: DD_XMLFILE, else an "as:" word; ".xml"
        const char* lands; // where the file is, with ".xml"
    };
    const Mapping mappings[] = {
        {{{"DD_XMLFILE", "ops.xml"}}, "", "ops.xml"},
        {{{"COB_FILE_PATH", "d1"}, {"DD_XMLFILE", "ops.xml"}}, "", "d1/ops.xml"},
        {{{"COB_FILE_PATH", "d1"}, {"dd_XMLFILE", "sub/ops.xml"}}, "", "d1/sub/ops.xml"},
        {{{"COB_FILE_PATH", "d1"}, {"XMLFILE", path("data/ops.xml")}}, "", "data/ops.xml"},
        {{{"DATA", "data"}}, "as:$DATA/ops.xml ", "data/ops.xml"},
        {{{"COB_FILE_PATH", "d1"}, {"DATA", "data"}}, "as:$DATA/ops.xml ", "d1/data/ops.xml"},
        {{{"DD_DATA", "data"}}, "as:DATA/ops.xml ", "data/ops.xml"},
    };
    for (const Mapping& m : mappings) {
        for (const char* kind : {".xml", ".dat"}) {
            Options o{m.env};
            for (auto& [name, value] : o.env)
                value = replace_all(value, ".xml", kind);
            o.env.emplace_back("BXMLFH_LAYOUT_XMLFILE", "ops");
            std::string words = replace_all(m.words, ".xml", kind) + "oo w c";
            Ran r = fileops(dir.path(), "", words, o);
            EXPECT_EQ(r.out, "oo 00\nw 00\nc 00\n") << words << kind << r.err;
            std::string lands = replace_all(m.lands, ".xml", kind);
            EXPECT_TRUE(fs::exists(path(lands))) << words << kind << " should be " << lands;
            fs::remove(path(lands));
        }
    }
}

// -std=ibm and -std=mf lay out COMP by other rules: cobc-xml hands each rule
// to the layouts, so values go through whole; the program's plain binary
// file and its LINE SEQUENTIAL file are those of a plain cobc build.
TEST_F(BridgeTest, DialectsKeepTheirBinarySizes) {
    const std::string read_back = "read 00 first       -12-123456   -300\n"
                                  "read 00 second       99 999999   9999\n"
                                  "read 00 third         0     -1  -9999\n";
    for (const char* std : {"default", "ibm", "mf"}) {
        fs::create_directories(path(std) + "/plain");
        Ran r = run({kPrograms + "/" + std + "/bins"}, path(std));
        EXPECT_EQ(r.out, read_back) << std << r.err;
        std::string doc = read_file(path(std) + "/bins.xml");
        EXPECT_NE(doc.find("<bin_small>-12</bin_small>\n     <bin_wide>-123456</bin_wide>\n"
                           "     <bin_native>-300</bin_native>"),
                  std::string::npos)
            << std << doc;
        run({kPrograms + "/" + std + "/plain-bins"}, path(std) + "/plain");
        for (const char* file : {"bins.dat", "bins.txt"})
            EXPECT_EQ(read_file(path(std) + "/" + file), read_file(path(std) + "/plain/" + file))
                << std << " " << file;
    }
}

// A copybook as a shop writes it (no 01, a continued word, REDEFINES chosen
// by *> WHEN, a table of tables) on a LINE SEQUENTIAL file; and
// BXML_EXACT_TABLE_MATCH on a document that leaves a table level out.
TEST_F(BridgeTest, ShopCopybooksAndTableMatching) {
    Ran r = run({kPrograms + "/notes"}, dir.path());
    EXPECT_EQ(r.out, "LYO00001 amount    -1234.50 tax      246.90 EUR\n"
                     "  signed by [M. Durand           ] marks [    ]\n"
                     "OSA00002 text [Call back on Monday ] en  \n"
                     "  signed by [K. Sato             ] marks [    ]\n"
                     "POR00003 other [unsorted remarks        ]\n"
                     "  signed by [                    ] marks [xyxy]\n"
                     "read 10\n")
        << r.err;
    EXPECT_EQ(shell(dir.path(), "xmllint --valid --noout shop.xml"), "");
    write_file(path("shop.xml"), "<shop><shop_rec><note_key><note_branch>GRD</note_branch>"
                                 "</note_key><note_kind>X</note_kind><note_history><note_mark>a"
                                 "</note_mark><note_mark>b</note_mark></note_history>"
                                 "</shop_rec></shop>");
    for (const char* exact : {"yes", "no"}) {
        Ran back =
            run({kPrograms + "/notes", "read"}, dir.path(), {{{"BXML_EXACT_TABLE_MATCH", exact}}});
        std::string marks = std::string(exact) == "yes" ? "[    ]" : "[ab  ]";
        EXPECT_EQ(back.out, "GRD00000 other [                        ]\n"
                            "  signed by [                    ] marks " +
                                marks + "\nread 10\nread 46\nread 46\n")
            << exact;
    }
}

// The example programs built with scripts/cobc-xml: the XML file reads back
// as the plain file does (totals, statuses, record areas), validates against
// its DTD and its schema, and bxml-describe gives the same DTD and schema.
// BXML_IGNORE_EMPTY_DATA leaves the empty order lines out and reads the
// same; BXML_ENCODING names the document's encoding.
TEST_F(BridgeTest, ExamplesReadBackAsFromAPlainFile) {
    // A sanitizer build's handler brings the sanitizer runtime, and with it
    // its link warnings.
    std::string quiet = *POINTRA_ASAN_RUNTIME ? "-Q -Wl,--no-warnings " : "";
    std::string build = "POINTRA_BUILD='" + BuildPath() + "' '" + SourcePath("/scripts/cobc-xml") +
                        "' -x " + quiet + "-I '" + kExamples + "' ";
    for (const char* program : {"write-orders", "read-orders"}) {
        std::string source = "'" + kExamples + "/" + program + ".cob'";
        ASSERT_EQ(shell(dir.path(), build + "-o " + program + " " + source), "");
        ASSERT_EQ(shell(dir.path(), std::string("cobc -x -I '") + kExamples + "' -o plain-" +
                                        program + " " + source),
                  "");
    }
    Ran wrote = run({path("write-orders")}, dir.path());
    EXPECT_EQ(wrote.out, "wrote 00000012 orders to orders.xml, total 850.70\n") << wrote.err;
    run({path("write-orders"), "orders.dat"}, dir.path());
    run({path("plain-write-orders"), "plain.dat"}, dir.path());
    EXPECT_EQ(read_file(path("orders.dat")), read_file(path("plain.dat")));

    Ran xml = run({path("read-orders")}, dir.path());
    EXPECT_EQ(xml.code, 0) << xml.out << xml.err;
    EXPECT_NE(xml.out.find("lines:          35\nquantity:       405\ntotal:             850.70\n"
                           "credits:           -89.37\n"),
              std::string::npos)
        << xml.out;
    EXPECT_EQ(run({path("read-orders"), "orders.dat"}, dir.path()).out, xml.out);
    EXPECT_EQ(run({path("plain-read-orders"), "plain.dat"}, dir.path()).out, xml.out);
    std::string areas = run({kPrograms + "/dump-orders", "orders.xml"}, dir.path()).out;
    EXPECT_EQ(count(areas, "\n"), 14u);
    EXPECT_EQ(run({kPrograms + "/dump-orders", "orders.dat"}, dir.path()).out, areas);
    EXPECT_EQ(shell(dir.path(), "xmllint --valid --noout orders.xml"), "");

    fs::create_directory(path("schema"));
    Env schema = {{"BXML_CREATE_STYLE", "SCHEMA"}, {"BXML_SCHEMA_NAME", "schema/orders.xsd"}};
    run({path("write-orders"), "schema/orders.xml"}, dir.path(), {schema});
    EXPECT_EQ(shell(dir.path(), "xmllint --schema schema/orders.xsd --noout schema/orders.xml"),
              "schema/orders.xml validates\n");
    EXPECT_EQ(run({path("read-orders"), "schema/orders.xml"}, dir.path()).out, xml.out);

    std::string doc = read_file(path("orders.xml"));
    size_t from = doc.find("<!ELEMENT"), to = doc.find("]>");
    EXPECT_EQ(run({BinPath("/bxml-describe"), "orders"}, dir.path()).out,
              doc.substr(from, to - from));
    // The same schema, but for the date of its "Created by" line.
    auto undated = [](std::string xsd) {
        size_t at = xsd.find(" on ", xsd.find("Created by "));
        return at == std::string::npos ? xsd : xsd.erase(at, xsd.find('\n', at) - at);
    };
    EXPECT_EQ(undated(run({BinPath("/bxml-describe"), "--xsd", "orders"}, dir.path()).out),
              undated(read_file(path("schema/orders.xsd"))));

    fs::create_directory(path("sparse"));
    run({path("write-orders"), "sparse/orders.xml"}, dir.path(),
        {{{"BXML_IGNORE_EMPTY_DATA", "yes"}}});
    std::string sparse = read_file(path("sparse/orders.xml"));
    EXPECT_EQ(count(sparse, "<order_line>"), 35u);
    EXPECT_EQ(count(doc, "<order_line>"), 60u);
    EXPECT_EQ(run({kPrograms + "/dump-orders", "sparse/orders.xml"}, dir.path()).out, areas);

    fs::create_directory(path("latin1"));
    run({path("write-orders"), "latin1/orders.xml"}, dir.path(),
        {{{"BXML_ENCODING", "ISO-8859-1"}}});
    std::string prologue = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n";
    EXPECT_EQ(read_file(path("latin1/orders.xml")).substr(0, prologue.size()), prologue);
    EXPECT_EQ(run({kPrograms + "/dump-orders", "latin1/orders.xml"}, dir.path()).out, areas);
}

// A text (UTF-8, characters of the basic plane) in UTF-16 of either byte
// order, with its byte-order mark.
std::string utf16(const std::string& text, bool big_endian) {
    std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (size_t i = 0; i < text.size();) {
        auto c = static_cast<unsigned char>(text[i]);
        unsigned code = c < 0x80 ? c
                        : c < 0xE0
                            ? (c & 0x1Fu) << 6 | (text[i + 1] & 0x3F)
                            : (c & 0x0Fu) << 12 | (text[i + 1] & 0x3Fu) << 6 | (text[i + 2] & 0x3F);
        i += c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
        char high = static_cast<char>(code >> 8), low = static_cast<char>(code & 0xFF);
        out += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return out;
}

// Documents from elsewhere, each read by a program (partner.cob on
// partner.cpy) as it is and with BXMLFH_STRICT: what the program receives
// and the statuses. A READ answers 00 with a value changed or passed over
// only where standard error names that record; with BXMLFH_STRICT it
// answers 30 for exactly those records, the next READ going on.
TEST_F(BridgeTest, DocumentsFromElsewhere) {
    const std::string plain = "<inv_no>1</inv_no><inv_amount>2.5</inv_amount><inv_name>plain"
                              "</inv_name><inv_code>X1</inv_code><inv_printed>2.50</inv_printed>"
                              "<inv_kind>N</inv_kind><inv_body><inv_note>note</inv_note></inv_body>"
                              "<inv_line><inv_qty>1</inv_qty></inv_line><inv_line><inv_qty>2"
                              "</inv_qty></inv_line>";
    const std::string read_plain =
        "00 000001       2.50 [plain       ] [    X1] [     2.50 ] N [note    ] 001 002\n";
    auto record = [](const std::string& fields) { return "<inv_rec>" + fields + "</inv_rec>"; };
    auto doc = [](const std::string& records) { return "<partner>" + records + "</partner>"; };
    auto with_name = [&](const std::string& name) {
        return replace_all(plain, ">plain<", ">" + name + "<");
    };
    auto sjis = [](const std::string& text) {
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) // 見積 and ASCII only
            out += text.compare(i, 3, "見") == 0   ? (i += 2, "\x8C\xA9")
                   : text.compare(i, 3, "積") == 0 ? (i += 2, "\x90\xCF")
                                                   : std::string(1, text[i]);
        return out;
    };
    const std::string japanese =
        "00 000001       2.50 [見積      ] [    X1] [     2.50 ] N [note    ] 001 002\n";
    const std::string said = "bxmlfh: READ of partner.xml (partner.xml): ";
    struct Case {
        const char* what;
        std::string document;
        std::string out; // the records' lines
        std::string err; // standard error, whole
        Env env{};
    };
    const Case cases[] = {
        {"pretty-printed, comments, PIs, CDATA",
         "<?xml version=\"1.0\"?>\n<!-- sent 2026-12-01 -->\n<?partner batch=\"7\"?>\n<partner>\n "
         " <inv_rec>\n    <inv_no>\n      1\n    </inv_no>\n    <!-- amount in EUR -->\n    "
         "<inv_amount> 2.5 </inv_amount>\n    <inv_name><![CDATA[a<b & c]]></inv_name>\n  "
         "</inv_rec>\n</partner>\n",
         "00 000001       2.50 [a<b & c     ] [      ] [          ]   [        ] 000 000\n", ""},
        {"byte-order mark", "\xEF\xBB\xBF" + doc(record(plain)), read_plain, ""},
        {"UTF-16, little-endian",
         utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + doc(record(with_name("見積"))),
               false),
         japanese, ""},
        {"UTF-16, big-endian", utf16(doc(record(with_name("見積"))), true), japanese, ""},
        {"Shift_JIS",
         sjis("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>" + doc(record(with_name("見積")))),
         japanese, ""},
        {"namespace prefixes",
         "<p:partner xmlns:p=\"urn:partner\">" +
             replace_all(replace_all(record(plain), "<", "<p:"), "<p:/", "</p:") + "</p:partner>",
         read_plain, ""},
        {"attributes",
         doc("<inv_rec id=\"9\">" + replace_all(plain, "<inv_no>", "<inv_no n=\"1\">") +
             "</inv_rec>"),
         read_plain, ""},
        {"reordered and missing fields",
         doc(record("<inv_kind>T</inv_kind><inv_name>late</inv_name><inv_no>4</inv_no>"
                    "<inv_taxes><inv_note>VAT</inv_note><inv_rate>0.08</inv_rate></inv_taxes>")),
         "00 000004       0.00 [late        ] [      ] [          ] T [008VAT  ] 000 000\n", ""},
        {"unknown root children",
         doc("<header><inv_no>9</inv_no></header>" + record(plain) + "<trailer_info/>" +
             "<header/>"),
         read_plain,
         said +
             "passed over <header> after record 0: no record of the layout partner is "
             "named so\n" +
             said +
             "passed over <trailer_info> after record 1: no record of the layout partner is "
             "named so\nbxmlfh: CLOSE of partner.xml (partner.xml): passed over 2 <header>, 1 "
             "<trailer_info>: no record of the layout is named so\n"},
        {"numbers that are not numbers",
         doc(record("<inv_amount>abc</inv_amount>") + record("<inv_amount>12,50</inv_amount>") +
             record("<inv_amount>1.234,56</inv_amount>") +
             record("<inv_amount>1e999</inv_amount>") +
             record("<inv_amount>-1.5</inv_amount><inv_printed>-1.50</inv_printed>")),
         "00 000000       0.00 [            ] [      ] [          ]   [        ] 000 000\n"
         "00 000000       0.00 [            ] [      ] [          ]   [        ] 000 000\n"
         "00 000000       0.00 [            ] [      ] [          ]   [        ] 000 000\n"
         "00 000000       0.00 [            ] [      ] [          ]   [        ] 000 000\n"
         "00 000000      -1.50 [            ] [      ] [     1.50-]   [        ] 000 000\n",
         said + "record 1: <inv_amount> \"abc\" is no number; the field holds 0.00\n" + said +
             "record 2: <inv_amount> \"12,50\" is no number; the field holds 0.00\n" + said +
             "record 3: <inv_amount> \"1.234,56\" is no number; the field holds 0.00\n" + said +
             "record 4: <inv_amount> \"1e999\" has more digits than PIC S9(5)V9(2) holds; the "
             "field holds 0.00\n"},
        {"numbers too big, too exact, negative",
         doc(record("<inv_no>-5</inv_no><inv_amount>1234567.891</inv_amount>")),
         "00 000005   34567.89 [            ] [      ] [          ]   [        ] 000 000\n",
         said + "record 1: <inv_no> \"-5\" is negative, PIC 9(6) has no sign; the field holds 5\n" +
             said +
             "record 1: <inv_amount> \"1234567.891\" has more digits than PIC S9(5)V9(2) holds; "
             "the field holds 34567.89\n" +
             said +
             "record 1: <inv_amount> \"1234567.891\" has more decimals than PIC S9(5)V9(2); the "
             "field holds 34567.89\n"},
        {"overlong texts, unknown elements, occurrences past OCCURS",
         doc(record("<inv_name>a name of twenty-five bytes</inv_name><inv_extra>z</inv_extra>"
                    "<inv_line><inv_qty>1</inv_qty></inv_line><inv_line><inv_qty>2</inv_qty>"
                    "</inv_line><inv_line><inv_qty>3</inv_qty></inv_line>")),
         "00 000000       0.00 [a name of tw] [      ] [          ]   [        ] 001 002\n",
         said +
             "record 1: <inv_name> \"a name of twenty-five bytes\" is longer than its 12 bytes; "
             "cut "
             "to them\n" +
             said + "record 1: 1 <inv_extra> passed over: no field of the layout takes it\n" +
             said + "record 1: 1 <inv_qty> passed over: more than its table holds\n"},
        {"a character the program's encoding lacks",
         doc(record(with_name("Zoë 見積"))),
         "30 000001       2.50 [Zo\xEB ??      ] [    X1] [     2.50 ] N [note    ] 001 002\n",
         said + "record 1: <inv_name> \"Zo\xEB ??\" holds a character that ISO-8859-1 cannot hold "
                "(\"?\" in its place)\n",
         {{"BXML_ENCODING", "ISO-8859-1"}}},
        // A partner's Shift_JIS document with a prefix, a header and an
        // amount that is no number, read into a UTF-8 program.
        {"the partner's file",
         sjis("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><p:partner "
              "xmlns:p=\"urn:p\"><p:header><p:sent>2026-12-01</p:sent></p:header>" +
              replace_all(replace_all(record(with_name("見積")), "<", "<p:"), "<p:/", "</p:") +
              replace_all(
                  replace_all(record("<inv_no>2</inv_no><inv_amount>n/a</inv_amount>"), "<", "<p:"),
                  "<p:/", "</p:") +
              "</p:partner>"),
         japanese + "00 000002       0.00 [            ] [      ] [          ]   [        ] 000 "
                    "000\n",
         said +
             "passed over <header> after record 0: no record of the layout partner is named "
             "so\n" +
             said + "record 2: <inv_amount> \"n/a\" is no number; the field holds 0.00\n" +
             "bxmlfh: CLOSE of partner.xml (partner.xml): passed over 1 <header>: no record of "
             "the layout is named so\n"},
    };
    for (const Case& c : cases) {
        write_file(path("partner.xml"), c.document);
        Ran r = run({kPrograms + "/partner", "partner.xml"}, dir.path(), {c.env});
        EXPECT_EQ(r.out, "open 00\n" + c.out + "read 10\nclose 00\n") << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        // Strict: 30 for exactly the records standard error names.
        std::string strict = c.out;
        for (size_t at = 0, n = 1; at < strict.size(); at = strict.find('\n', at) + 1, ++n)
            if (c.err.find("): record " + std::to_string(n) + ":") != std::string::npos)
                strict.replace(at, 2, "30");
        Env env = c.env;
        env.emplace_back("BXMLFH_STRICT", "yes");
        Ran s = run({kPrograms + "/partner", "partner.xml"}, dir.path(), {env});
        EXPECT_EQ(s.out, "open 00\n" + strict + "read 10\nclose 00\n") << c.what << " (strict)";
    }
}

// What cobc-xml refuses, and what its help says it adds.
TEST_F(BridgeTest, CobcXmlRefusesWhatTheHostCannotRead) {
    std::string script = "'" + SourcePath("/scripts/cobc-xml") + "' ";
    for (const char* option : {"-fbinary-byteorder=native", "-fsign=EBCDIC", "-fodoslide",
                               "-fcallfh=otherfh", "-conf=/dev/null -fbinary-size=1-2-4"}) {
        std::string said = shell(dir.path(), script + "-x " + option + " none.cob");
        EXPECT_EQ(said.rfind("cobc-xml: refused ", 0), 0u) << option << ": " << said;
        EXPECT_NE(said.find("[status 1]"), std::string::npos) << option;
    }
    std::string help = shell(dir.path(), script + "--help");
    for (const char* word : {"-fcallfh=bxmlfh", "-lbxmlfh", "-Wl,-rpath,", "binary-size",
                             "-fbinary-byteorder=native", "-fsign=EBCDIC", "-fodoslide"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
}

} // namespace
