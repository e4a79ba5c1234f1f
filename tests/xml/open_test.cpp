// Opening and closing XML files: the prologue by the configuration, the
// failures of an open, and failed writes, as the runtime sees them.
#include "write_helpers.h"

#include <sys/stat.h>

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
        EnvVar data("BXML_SCHEMA_NAMESPACE_DATA", "q:at=\"%s\" q:p=\"100%%\" %d %n %s");
        EXPECT_EQ(document("orders", {}),
                  "<?xml version=\"1.0\"?>\n" + created() +
                      "<orders q:at=\"a&amp;b.xsd\" q:p=\"100%\" %d %n %s>\n</orders>\n");
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

TEST_F(OpenTest, FailedWritesAreReportedWithTheRecordsLost) {
    copybook("full", kOrdersCopybook);
    std::string trace = with_trace(1, [&] {
        XmlFile* file = open("/dev/full");
        ASSERT_NE(file, nullptr);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(write(file, kRecord), 1);
        EXPECT_EQ(close(file), 0);
        EXPECT_EQ(*brelrt_file_error(), BXML_FILE_WRITE_FAILED);
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
        EXPECT_EQ(write(file, kRecord), 0); // and every write after it
        EXPECT_EQ(*brelrt_file_error(), BXML_FILE_WRITE_FAILED);
        EXPECT_EQ(close(file), 0);
        EXPECT_EQ(*brelrt_file_error(), BXML_FILE_WRITE_FAILED);
    });
    EXPECT_NE(trace.find("xml_swrite: writing '/dev/full' failed (No space left on device): "
                         "records 1 to "),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find("Leaving, an earlier write to '/dev/full' failed"), std::string::npos);
    EXPECT_NE(trace.find("xml_sclose: '/dev/full' is incomplete"), std::string::npos);
}

TEST_F(OpenTest, ShortageAtAnyAllocationLeavesNothingBehind) {
    for (int style = 0; style < 3; ++style) {
        const char* styles[] = {"DTD", "SCHEMA", "NONE"};
        EnvVar s("BXML_CREATE_STYLE", styles[style]);
        EnvVar schema("BXML_SCHEMA_NAME", path("orders.xsd").c_str());
        EnvVar ignore("BXML_IGNORE_EMPTY_DATA", style == 2 ? "yes" : "no");
        for (long n = 1;; ++n) {
            brelrt_mem_fail_nth(n);
            XmlFile* file = open(path("orders.xml"));
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
