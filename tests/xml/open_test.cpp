// Opening and closing XML files: the prologue by the configuration, the
// failures of an open, and failed writes, as the runtime sees them.
#include "write_helpers.h"

#include <filesystem>

#include <cerrno>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

extern char** environ;

using namespace xmltest;

namespace {

const char kRecord[] = "A0001X1      Y2      ";

class OpenTest : public WriteTest {
protected:
    void SetUp() override {
        WriteTest::SetUp();
        copybook("orders", kOrdersCopybook);
    }
    std::string created() const {
        return "<!-- Created by BrelXML(tm) version 7.2.2 JPN on " + today_text() + " -->\n";
    }
};

TEST_F(OpenTest, PrologueFollowsTheConfiguration) {
    EnvVar none("BXML_CREATE_STYLE", "NONE");
    {
        // An empty encoding writes no attribute; a record-less file is a
        // prologue and an empty root element.
        EnvVar encoding("BXML_ENCODING", "");
        EnvVar type("BXML_STYLESHEET_TYPE", "text/xsl");
        EXPECT_EQ(document("orders", {}),
                  "<?xml version=\"1.0\"?>\n" + created() + "<orders>\n</orders>\n");
    }
    {
        EnvVar encoding("BXML_ENCODING", "ISO-8859-1");
        EnvVar type("BXML_STYLESHEET_TYPE", "text/xsl");
        EnvVar href("BXML_STYLESHEET_HREF", "show.xsl?a=1&b=\"2\"");
        EXPECT_EQ(
            document("orders", {}),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n" + created() +
                "<?xml-stylesheet type=\"text/xsl\" href=\"show.xsl?a=1&amp;b=&quot;2&quot;\"?>"
                "<orders>\n</orders>\n");
    }
    {
        // The namespace data is the user's text: its one "%s" is the schema
        // name, "%%" a "%", anything else is written as it stands.
        EnvVar schema("BXML_CREATE_STYLE", "SCHEMA");
        EnvVar no_file("BXML_CREATE_SCHEMA", "no");
        EnvVar name("BXML_SCHEMA_NAME", "a&b.xsd");
        EnvVar data("BXML_SCHEMA_NAMESPACE_DATA", "q:at=\"%s\" q:p=\"100%%\" q:f=\"%d %n %s\"");
        EXPECT_EQ(document("orders", {}),
                  "<?xml version=\"1.0\"?>\n" + created() +
                      "<orders q:at=\"a&amp;b.xsd\" q:p=\"100%\" q:f=\"%d %n %s\">\n</orders>\n");
    }
    {
        // SCHEMA style without a schema name: a plain root start tag.
        EnvVar schema("BXML_CREATE_STYLE", "SCHEMA");
        std::string trace;
        std::string doc;
        trace = with_trace(1, [&] { doc = document("orders", {}); });
        EXPECT_EQ(doc, "<?xml version=\"1.0\"?>\n" + created() + "<orders>\n</orders>\n");
        EXPECT_NE(trace.find("No schema file given, or unable to open file"), std::string::npos);
    }
}

// A record that is all FILLER, and a copybook without level 01, are named
// after the layout; the document still validates.
TEST_F(OpenTest, RecordsWithoutANameAreNamedAfterTheLayout) {
    copybook("raw", "       01 FILLER PIC X(8).\n");
    copybook("bare", "           05 CODE-A PIC X(2).\n           05 CODE-B PIC 9(2).\n");
    std::string raw = document("raw", {"hello   "});
    EXPECT_EQ(raw.substr(raw.find("<!DOCTYPE")),
              "<!DOCTYPE raw [\n<!ELEMENT raw (raw_rec)*>\n <!ELEMENT raw_rec (#PCDATA)>\n]>\n"
              "<raw>\n <raw_rec>hello</raw_rec>\n</raw>\n");
    std::string bare = document("bare", {"AB12"});
    EXPECT_NE(bare.find("<bare>\n <bare_rec>\n     <code_a>AB</code_a>\n     <code_b>12</code_b>\n"
                        " </bare_rec>\n</bare>\n"),
              std::string::npos)
        << bare;
    EXPECT_EQ(
        run_command("xmllint --noout --valid '" + path("raw.xml") + "' '" + path("bare.xml") + "'"),
        "");
}

TEST_F(OpenTest, FailedOpensSayWhyAndTouchNothing) {
    auto fails = [&](const std::string& name, int mode, int code, const std::string& why) {
        XmlFile* file = nullptr;
        std::string trace = with_trace(1, [&] { file = open(name, mode); });
        EXPECT_EQ(file, nullptr) << name;
        EXPECT_EQ(*brelrt_file_error(), code) << name;
        EXPECT_NE(trace.find(why), std::string::npos) << trace;
        close(file);
    };
    fails(path("orders.xml"), 2, BXML_FILE_NOT_SUPPORTED, "Leaving, open mode not supported");
    fails(path("orders.xml"), 3, BXML_FILE_NOT_SUPPORTED, "Leaving, open mode not supported");
    // A missing layout leaves an existing file as it was.
    write_file(path("nolayout.xml"), "keep");
    fails(path("nolayout.xml"), 1, BXML_FILE_CANNOT_OPEN, "nolayout.xfd: no such layout");
    EXPECT_EQ(read_file(path("nolayout.xml")), "keep");
    // An output that cannot be created is not opened for reading as "<name>.xml".
    copybook("out", kOrdersCopybook);
    mkdir(path("out").c_str(), 0755);
    write_file(path("out.xml"), "<orders/>");
    fails(path("out"), 1, BXML_FILE_CANNOT_OPEN, "Leaving, open output failed");
    fails(path("missing/orders.xml"), 1, BXML_FILE_CANNOT_OPEN, "Leaving, open output failed");
    {
        EnvVar encoding("BXML_ENCODING", "X-NO-SUCH-ENCODING");
        fails(path("orders.xml"), 1, BXML_FILE_NOT_SUPPORTED, "not supported");
    }
    {
        EnvVar encoding("BXML_ENCODING", "UTF-16");
        fails(path("orders.xml"), 1, BXML_FILE_NOT_SUPPORTED, "not supported");
    }
    // A field whose name XML cannot carry.
    copybook("digits", "01 r.\n   05 2nd-line pic x.\n");
    fails(path("digits.xml"), 1, BXML_FILE_CANNOT_OPEN, "'2nd_line' cannot be an XML element name");
    // Input: an empty file has no root element.
    write_file(path("orders.xml"), "");
    fails(path("orders.xml"), 0, BXML_FILE_END_OF_FILE, "Leaving, 8");
    fails(path("none"), 0, BXML_FILE_CANNOT_OPEN, "Leaving, failed to parse XFD file");
    // A folder is no document, also where "<name>.xml" is one too.
    mkdir(path("shelf.xml").c_str(), 0755);
    copybook("shelf", kOrdersCopybook);
    fails(path("shelf.xml"), 0, BXML_FILE_CANNOT_OPEN, "Is a directory");
    fails(path("shelf"), 0, BXML_FILE_CANNOT_OPEN, "open input failed: 21");
    // The program's encoding must be one that texts are read into; a
    // fetch that fails says its own cause.
    {
        EnvVar encoding("BXML_ENCODING", "ShiftJIS");
        fails(path("out.xml"), 0, BXML_FILE_NOT_SUPPORTED,
              "encoding 'ShiftJIS' (BXML_ENCODING) not supported: write it 'Shift_JIS'");
    }
    fails("http://127.0.0.1:1/orders.xml", 0, BXML_FILE_CANNOT_OPEN,
          "cannot fetch 'http://127.0.0.1:1/orders.xml': http://127.0.0.1:1/orders.xml: cannot "
          "connect: Connection refused");
    // What reading uses must hold values it takes.
    {
        EnvVar exact("BXML_EXACT_TABLE_MATCH", "sometimes");
        fails(path("out.xml"), 0, BXML_FILE_NOT_SUPPORTED,
              "BXML_EXACT_TABLE_MATCH has the value 'sometimes', which it does not take");
    }
    {
        EnvVar column_case("4GL_COLUMN_CASE", "lower");
        fails(path("out.xml"), 0, BXML_FILE_NOT_SUPPORTED,
              "4GL_COLUMN_CASE has the value 'lower', which it does not take");
    }
}

// An OPEN OUTPUT that fails, whatever the reason, leaves the document it
// would have replaced byte for byte as it was, and writes no schema.
TEST_F(OpenTest, FailedOutputOpensLeaveTheDocumentAsItWas) {
    const std::string kept = "<?xml version=\"1.0\"?>\n<orders>\n <ord_rec/>\n</orders>\n";
    write_file(path("config"), "BXML_CREATE_STYLE schema-ish\n");
    const std::string long_value(100, 'x');
    const struct {
        std::vector<std::pair<const char*, std::string>> env;
        int code;
        std::string why;
    } cases[] = {
        {{{"BXML_CREATE_STYLE", "SCHEMA"}, {"BXML_SCHEMA_NAME", "/dev/full"}},
         BXML_FILE_WRITE_FAILED,
         "Schema file '/dev/full' could not be written: No space left on device"},
        {{{"BXML_CREATE_STYLE", "junk"}},
         BXML_FILE_NOT_SUPPORTED,
         "BXML_CREATE_STYLE has the value 'junk', which it does not take: it takes DTD, SCHEMA "
         "or NONE"},
        {{{"BXML_CREATE_STYLE", long_value}},
         BXML_FILE_NOT_SUPPORTED,
         "BXML_CREATE_STYLE has the value '" + long_value.substr(0, 40) + "', which"},
        {{{"BRELRT_CONFIG", path("config")}},
         BXML_FILE_NOT_SUPPORTED,
         "BXML_CREATE_STYLE has the value 'schema-ish', which it does not take"},
        {{{"BXML_CREATE_SCHEMA", "maybe"}},
         BXML_FILE_NOT_SUPPORTED,
         "BXML_CREATE_SCHEMA has the value 'maybe', which it does not take: it takes yes or no"},
        {{{"BXML_IGNORE_EMPTY_DATA", ""}},
         BXML_FILE_NOT_SUPPORTED,
         "BXML_IGNORE_EMPTY_DATA has the value ''"},
        {{{"4GL_COLUMN_CASE", "1x"}},
         BXML_FILE_NOT_SUPPORTED,
         "4GL_COLUMN_CASE has the value '1x'"},
        {{{"BXML_CREATE_STYLE", "SCHEMA"},
          {"BXML_SCHEMA_NAME", path("orders.xsd")},
          {"BXML_SCHEMA_NAMESPACE_DATA", "\"><evil/>"}},
         BXML_FILE_NOT_SUPPORTED,
         "BXML_SCHEMA_NAMESPACE_DATA '\"><evil/>' does not make well-formed attributes"},
        // Well-formed as a start tag, but an element of its own.
        {{{"BXML_CREATE_STYLE", "SCHEMA"},
          {"BXML_SCHEMA_NAME", path("orders.xsd")},
          {"BXML_SCHEMA_NAMESPACE_DATA", "a=\"%s\"><evil></evil"}},
         BXML_FILE_NOT_SUPPORTED,
         "BXML_SCHEMA_NAMESPACE_DATA 'a=\"%s\"><evil></evil' does not make"},
        {{{"BXML_ENCODING", "Big5"}},
         BXML_FILE_NOT_SUPPORTED,
         "encoding 'Big5' cannot be read back\n"},
        {{{"BXML_ENCODING", "UTF8"}},
         BXML_FILE_NOT_SUPPORTED,
         "encoding 'UTF8' cannot be read back: write it 'UTF-8'"},
        {{{"BXML_STYLESHEET_TYPE", "text/xsl"}, {"BXML_STYLESHEET_HREF", "\xFF.xsl"}},
         BXML_FILE_NOT_SUPPORTED,
         "the prologue would not be well-formed XML (not well-formed (invalid token)) at"},
    };
    for (const auto& c : cases) {
        write_file(path("orders.xml"), kept);
        std::vector<std::unique_ptr<EnvVar>> env;
        for (const auto& [name, value] : c.env)
            env.push_back(std::make_unique<EnvVar>(name, value.c_str()));
        XmlFile* file = nullptr;
        std::string trace = with_trace(1, [&] { file = open(path("orders.xml")); });
        EXPECT_EQ(file, nullptr) << c.why;
        EXPECT_EQ(*brelrt_file_error(), c.code) << c.why;
        EXPECT_NE(trace.find(c.why), std::string::npos) << trace;
        EXPECT_EQ(read_file(path("orders.xml")), kept) << c.why;
        EXPECT_FALSE(std::filesystem::exists(path("orders.xsd"))) << c.why;
        close(file);
    }
}

// brelrt_config_valid: the kinds of the registered variables.
TEST_F(OpenTest, ConfigurationValuesAreCheckedByTheirKind) {
    const struct {
        const char* name;
        const char* value;
        int valid;
    } cases[] = {
        {"BXML_CREATE_STYLE", nullptr, 1},      {"BXML_CREATE_STYLE", " schema ", 1},
        {"BXML_CREATE_STYLE", "none", 1},       {"BXML_CREATE_STYLE", "XSD", 0},
        {"BXML_CREATE_SCHEMA", "Off", 1},       {"BXML_CREATE_SCHEMA", "y", 1},
        {"BXML_CREATE_SCHEMA", "nope", 0},      {"BXML_CREATE_SCHEMA", "", 0},
        {"4GL_COLUMN_CASE", " 2 ", 1},          {"4GL_COLUMN_CASE", "-1", 1},
        {"4GL_COLUMN_CASE", "2.5", 0},          {"4GL_COLUMN_CASE", "", 0},
        {"BXML_SCHEMA_DOC", "anything <&>", 1}, {"BXML_ENCODING", "", 1},
        {"NOT_REGISTERED", "whatever", 1},
    };
    for (const auto& c : cases) {
        EnvVar v(c.name, c.value);
        EXPECT_EQ(brelrt_config_valid(c.name), c.valid)
            << c.name << " = " << (c.value ? c.value : "unset");
    }
    EXPECT_EQ(brelrt_config_valid(nullptr), 1);
}

// Each write looks BXML_IGNORE_EMPTY_DATA up: a value it does not take
// refuses the record, and the next write with a good value goes on.
TEST_F(OpenTest, AWriteRefusesAnUnknownIgnoreEmptyData) {
    XmlFile* file = open(path("orders.xml"));
    ASSERT_NE(file, nullptr);
    {
        EnvVar junk("BXML_IGNORE_EMPTY_DATA", "sometimes");
        std::string trace = with_trace(1, [&] { EXPECT_EQ(write(file, kRecord), 0); });
        EXPECT_EQ(*brelrt_file_error(), BXML_FILE_NOT_SUPPORTED);
        EXPECT_NE(trace.find("BXML_IGNORE_EMPTY_DATA has the value 'sometimes'"), std::string::npos)
            << trace;
    }
    EXPECT_EQ(write(file, kRecord), 1);
    EXPECT_EQ(close(file), 0);
    std::string doc = read_file(path("orders.xml"));
    EXPECT_EQ(doc.find("<ord_no>A0001</ord_no>"), doc.rfind("<ord_no>A0001</ord_no>"));
    EXPECT_NE(doc.find("<ord_no>A0001</ord_no>"), std::string::npos);
}

// A FIFO is written and read as a stream: an OPEN OUTPUT waits for its
// reader and empties nothing, an OPEN INPUT waits for its writer.
TEST_F(OpenTest, FifosAreStreamedBothWays) {
    std::string fifo = path("orders.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    copybook("orders", kOrdersCopybook);
    auto spawn = [&](const std::string& command) {
        pid_t pid = 0;
        const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        EXPECT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ),
                  0);
        return pid;
    };
    auto wait_for = [](pid_t pid) {
        int status = -1;
        waitpid(pid, &status, 0);
        return status;
    };
    // Output: a reader copies the FIFO into a file.
    EnvVar none("BXML_CREATE_STYLE", "NONE");
    pid_t reader = spawn("cat '" + fifo + "' > '" + path("copied.xml") + "'");
    XmlFile* file = open(fifo);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(write(file, kRecord), 1);
    EXPECT_EQ(close(file), 0);
    EXPECT_EQ(wait_for(reader), 0);
    std::string doc = read_file(path("copied.xml"));
    EXPECT_EQ(doc, "<?xml version=\"1.0\"?>\n" + created() + "<orders>\n" +
                       " <ord_rec>\n     <ord_no>A0001</ord_no>\n     <lines>\n"
                       "          <item>X1</item>\n     </lines>\n     <lines>\n"
                       "          <item>Y2</item>\n     </lines>\n </ord_rec>\n</orders>\n");
    // Input: a writer feeds the document back through the FIFO.
    pid_t writer = spawn("cat '" + path("copied.xml") + "' > '" + fifo + "'");
    EXPECT_EQ(read_back(fifo, 21), std::vector<std::string>{kRecord});
    EXPECT_EQ(wait_for(writer), 0);
}

TEST_F(OpenTest, InputOpensTheXmlFileOfAName) {
    write_file(path("orders.xml"), "<?xml version=\"1.0\"?>\n<orders>\n <ord_rec/>\n</orders>\n");
    for (const std::string& name : {path("orders"), path("orders.xml")}) {
        XmlFile* file = open(name, 0);
        ASSERT_NE(file, nullptr) << name;
        EXPECT_EQ(*brelrt_file_error(), 0);
        EXPECT_EQ(close(file), 0);
    }
    // A layout known only by the name less ".xml": found by the second lookup.
    copybook("stock", kOrdersCopybook);
    write_file(path("stock.data.xml"), "<stock/>");
    XmlFile* file = open(path("stock.data.xml"), 0);
    EXPECT_NE(file, nullptr);
    close(file);
}

// What a runtime learns of each open: the file-error word and the cause in
// the secondary error (the system's errno, 0 when no system call failed, 5
// with 19), and what the flags BXML_OPEN_AS_NAMED and
// BXML_OPEN_LAYOUT_GIVEN change.
TEST_F(OpenTest, OpenFlagsAndTheCauseOfEveryFailure) {
    const char kDocument[] = "<?xml version=\"1.0\"?>\n<orders>\n <ord_rec/>\n</orders>\n";
    write_file(path("orders.xml"), kDocument);
    copybook("shelf", kOrdersCopybook);
    copybook("x", kOrdersCopybook);
    mkdir(path("shelf.xml").c_str(), 0755);
    write_file(path("dated-20240115.xml"), "<ORDERS><ord_rec/></ORDERS>");
    write_file(path("stock.xml"), "<stock><ord_rec/></stock>");
    write_file(path("long.xml"), "<" + std::string(60, 'w') + "/>");
    EnvVar folder("DATADIR", dir_.c_str());
    auto cause = [] {
        int e = *brelrt_secondary_error();
        for (auto [code, name] : {std::pair<int, const char*>{ENOENT, "ENOENT"},
                                  {EISDIR, "EISDIR"},
                                  {ENOTDIR, "ENOTDIR"},
                                  {ENOSPC, "ENOSPC"},
                                  {EACCES, "EACCES"}})
            if (e == code)
                return std::string(name);
        return std::to_string(e);
    };
    std::string outcomes;
    auto outcome = [&](const std::string& label, const std::string& name, int mode,
                       const char* extra = nullptr) {
        *brelrt_secondary_error() = 99; // every open begins by clearing it
        XmlFile* file =
            runtime().slot<BxmlSopenFn>(BXML_SLOT_SOPEN)(name.c_str(), mode, 0, 0, 0, 0, extra, 0);
        outcomes += label + ": " + (file ? "open" : std::to_string(*brelrt_file_error())) + " " +
                    cause() + "\n";
        close(file);
    };
    const int named = BXML_OPEN_AS_NAMED, given = BXML_OPEN_LAYOUT_GIVEN;
    outcome("input", path("orders.xml"), 0);
    outcome("input missing", path("gone.xml"), given, "orders");
    outcome("input a folder", path("shelf.xml"), 0);
    outcome("input under a file", path("orders.xml/x.xml"), 0);
    outcome("output missing folder", path("missing/orders.xml"), 1);
    outcome("output a folder", path("shelf.xml"), 1);
    outcome("no layout", path("nolayout.xml"), 0);
    {
        EnvVar style("BXML_CREATE_STYLE", "SCHEMA");
        EnvVar schema("BXML_SCHEMA_NAME", "/dev/full");
        outcome("schema file full", path("new.xml"), 1 | given, "orders");
    }
    outcome("translated", "$DATADIR/orders.xml", 0);
    outcome("as named", "$DATADIR/orders.xml", named);
    outcome("input .xml retry", path("orders"), 0);
    outcome("as named, no retry", path("orders"), named);
    outcome("layout given", path("dated-20240115.xml"), given, "orders");
    outcome("layout given, none", path("dated-20240115.xml"), given);
    outcome("layout given, missing", path("dated-20240115.xml"), given | named, "nosuch");
    outcome("root of another layout", path("stock.xml"), given, "orders");
    outcome("root too long", path("long.xml"), given, "orders");
    outcome("output as named", path("dated-20240116.xml"), 1 | named | given, "orders");
    EXPECT_EQ(outcomes, "input: open 0\n"
                        "input missing: 15 ENOENT\n"
                        "input a folder: 15 EISDIR\n"
                        "input under a file: 15 ENOTDIR\n"
                        "output missing folder: 15 ENOENT\n"
                        "output a folder: 15 EISDIR\n"
                        "no layout: 15 0\n"
                        "schema file full: 34 ENOSPC\n"
                        "translated: open 0\n"
                        "as named: 15 ENOENT\n"
                        "input .xml retry: open 0\n"
                        "as named, no retry: 15 ENOENT\n"
                        "layout given: open 0\n"
                        "layout given, none: 15 0\n"
                        "layout given, missing: 15 0\n"
                        "root of another layout: 19 5\n"
                        "root too long: 19 5\n"
                        "output as named: open 0\n");
    // The root that differs only in case was read; one of another name is
    // named with the layout's, in the trace and in the error text.
    std::string trace = with_trace(1, [&] { outcome("again", path("long.xml"), given, "orders"); });
    std::string why =
        "the root element '" + std::string(40, 'w') + "...' is not the layout's 'orders'";
    EXPECT_EQ(std::string(*brelrt_error_text()), why);
    EXPECT_NE(trace.find(why), std::string::npos) << trace;
    EXPECT_EQ(read_file(path("dated-20240116.xml")).substr(0, 22), "<?xml version=\"1.0\"?>\n");
    EXPECT_NE(read_file(path("dated-20240116.xml")).find("<orders>\n</orders>\n"),
              std::string::npos);
    // A file that cannot be made: xml_smake leaves the cause too.
    EXPECT_EQ(runtime().slot<BxmlSmakeFn>(BXML_SLOT_SMAKE)(path("missing/a.xml").c_str(), nullptr),
              0);
    EXPECT_EQ(cause(), "ENOENT");
    if (geteuid() != 0) { // permissions bind only others than root
        chmod(path("orders.xml").c_str(), 0);
        outcomes.clear();
        outcome("input no permission", path("orders.xml"), 0);
        outcome("output no permission", path("orders.xml"), 1);
        EXPECT_EQ(outcomes, "input no permission: 15 EACCES\noutput no permission: 15 EACCES\n");
    }
}

TEST_F(OpenTest, FailedWritesAreReportedWithTheRecordsLost) {
    copybook("full", kOrdersCopybook);
    std::string trace = with_trace(1, [&] {
        XmlFile* file = open("/dev/full");
        ASSERT_NE(file, nullptr);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(write(file, kRecord), 1);
        EXPECT_EQ(close(file), 0);
        EXPECT_EQ(*brelrt_file_error(), BXML_FILE_WRITE_FAILED);
        EXPECT_EQ(*brelrt_secondary_error(), ENOSPC);
    });
    EXPECT_NE(trace.find("xml_sclose: writing '/dev/full' failed (No space left on device): "
                         "records 1 to 3 are lost"),
              std::string::npos)
        << trace;

    trace = with_trace(1, [&] {
        XmlFile* file = open("/dev/full");
        ASSERT_NE(file, nullptr);
        int written = 0;
        while (write(file, kRecord) == 1)
            ++written;
        EXPECT_EQ(*brelrt_file_error(), BXML_FILE_WRITE_FAILED);
        EXPECT_GT(written, 100);
        EXPECT_EQ(*brelrt_secondary_error(), ENOSPC);
        EXPECT_EQ(write(file, kRecord), 0); // and every write after it
        EXPECT_EQ(*brelrt_file_error(), BXML_FILE_WRITE_FAILED);
        EXPECT_EQ(*brelrt_secondary_error(), ENOSPC);
        EXPECT_EQ(close(file), 0);
        EXPECT_EQ(*brelrt_file_error(), BXML_FILE_WRITE_FAILED);
        EXPECT_EQ(*brelrt_secondary_error(), ENOSPC);
    });
    EXPECT_NE(trace.find("xml_swrite: writing '/dev/full' failed (No space left on device): "
                         "records 1 to "),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("Leaving, an earlier write to '/dev/full' failed"), std::string::npos);
    EXPECT_NE(trace.find("xml_sclose: '/dev/full' is incomplete"), std::string::npos);
}

TEST_F(OpenTest, ShortageAtAnyAllocationLeavesNothingBehind) {
    const std::string kept = "<orders>kept</orders>\n";
    for (int style = 0; style < 4; ++style) {
        const char* styles[] = {"DTD", "SCHEMA", "NONE", "DTD"};
        EnvVar s("BXML_CREATE_STYLE", styles[style]);
        EnvVar schema("BXML_SCHEMA_NAME", path("orders.xsd").c_str());
        EnvVar ignore("BXML_IGNORE_EMPTY_DATA", style == 2 ? "yes" : "no");
        EnvVar encoding("BXML_ENCODING", style == 3 ? "windows-1252" : nullptr);
        for (long n = 1;; ++n) {
            write_file(path("orders.xml"), kept);
            brelrt_mem_fail_nth(n);
            XmlFile* file = open(path("orders.xml"));
            if (!file) {
                EXPECT_EQ(read_file(path("orders.xml")), kept) << styles[style] << " at " << n;
            }
            bool written = file && write(file, kRecord) == 1;
            int16_t error = *brelrt_file_error();
            if (file)
                close(file);
            bool closed = *brelrt_file_error() == 0;
            brelrt_mem_fail_nth(0);
            ASSERT_EQ(brelrt_mem_outstanding(), 0u) << styles[style] << " failing at " << n;
            if (!file || !written) {
                EXPECT_EQ(error, BXML_FILE_OUT_OF_MEMORY) << styles[style] << " at " << n;
            }
            if (file && written && closed && n > 60)
                break;
            ASSERT_LT(n, 200);
        }
    }
}

} // namespace
