// Opening and closing XML files: the prologue by the configuration, the
// failures of an open, and failed writes, as the runtime sees them.
#include "write_helpers.h"

#include <sys/stat.h>

using namespace xmltest;

namespace {

const char kOrders[] = "       01 ORD-REC.\n"
                       "          05 ORD-NO        PIC X(5).\n"
                       "          05 LINES OCCURS 2.\n"
                       "             10 ITEM       PIC X(8).\n";

const char kRecord[] = "A0001X1      Y2      ";

class OpenTest : public WriteTest {
protected:
    void SetUp() override {
        WriteTest::SetUp();
        copybook("orders", kOrders);
    }
    std::string created() const {
        return "<!-- Created by BrelXML(tm) version 7.2.2 JPN on " + today_text() + " -->\n";
    }
};

TEST_F(OpenTest, PrologueFollowsTheConfiguration) {
    ScopedEnv none("BXML_CREATE_STYLE", "NONE");
    {
        // An empty encoding writes no attribute; a record-less file is a
        // prologue and an empty root element.
        ScopedEnv encoding("BXML_ENCODING", "");
        ScopedEnv type("BXML_STYLESHEET_TYPE", "text/xsl");
        EXPECT_EQ(document("orders", {}),
                  "<?xml version=\"1.0\"?>\n" + created() + "<orders>\n</orders>\n");
    }
    {
        ScopedEnv encoding("BXML_ENCODING", "ISO-8859-1");
        ScopedEnv type("BXML_STYLESHEET_TYPE", "text/xsl");
        ScopedEnv href("BXML_STYLESHEET_HREF", "show.xsl?a=1&b=\"2\"");
        EXPECT_EQ(
            document("orders", {}),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n" + created() +
                "<?xml-stylesheet type=\"text/xsl\" href=\"show.xsl?a=1&amp;b=&quot;2&quot;\"?>"
                "<orders>\n</orders>\n");
    }
    {
        // The namespace data is the user's text: its one "%s" is the schema
        // name, "%%" a "%", anything else is written as it stands.
        ScopedEnv schema("BXML_CREATE_STYLE", "SCHEMA");
        ScopedEnv no_file("BXML_CREATE_SCHEMA", "no");
        ScopedEnv name("BXML_SCHEMA_NAME", "a&b.xsd");
        ScopedEnv data("BXML_SCHEMA_NAMESPACE_DATA", "q:at=\"%s\" q:p=\"100%%\" %d %n %s");
        EXPECT_EQ(document("orders", {}),
                  "<?xml version=\"1.0\"?>\n" + created() +
                      "<orders q:at=\"a&amp;b.xsd\" q:p=\"100%\" %d %n %s>\n</orders>\n");
    }
    {
        // SCHEMA style without a schema name: a plain root start tag.
        ScopedEnv schema("BXML_CREATE_STYLE", "SCHEMA");
        std::string trace;
        std::string doc;
        trace = with_trace(1, [&] { doc = document("orders", {}); });
        EXPECT_EQ(doc, "<?xml version=\"1.0\"?>\n" + created() + "<orders>\n</orders>\n");
        EXPECT_NE(trace.find("No schema file given, or unable to open file"), std::string::npos);
    }
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
    write_all(path("nolayout.xml"), "keep");
    fails(path("nolayout.xml"), 1, BXML_FILE_CANNOT_OPEN, "nolayout.xfd: no such layout");
    EXPECT_EQ(read_all(path("nolayout.xml")), "keep");
    // An output that cannot be created is not opened for reading as "<name>.xml".
    copybook("out", kOrders);
    mkdir(path("out").c_str(), 0755);
    write_all(path("out.xml"), "<orders/>");
    fails(path("out"), 1, BXML_FILE_CANNOT_OPEN, "Leaving, open output failed");
    fails(path("missing/orders.xml"), 1, BXML_FILE_CANNOT_OPEN, "Leaving, open output failed");
    {
        ScopedEnv encoding("BXML_ENCODING", "X-NO-SUCH-ENCODING");
        fails(path("orders.xml"), 1, BXML_FILE_NOT_SUPPORTED, "not supported");
    }
    {
        ScopedEnv encoding("BXML_ENCODING", "UTF-16");
        fails(path("orders.xml"), 1, BXML_FILE_NOT_SUPPORTED, "not supported");
    }
    // A field whose name XML cannot carry.
    copybook("digits", "01 r.\n   05 2nd-line pic x.\n");
    fails(path("digits.xml"), 1, BXML_FILE_CANNOT_OPEN, "'2nd_line' cannot be an XML element name");
    // Input: an empty file has no root element.
    write_all(path("orders.xml"), "");
    fails(path("orders.xml"), 0, BXML_FILE_END_OF_FILE, "Leaving, 8");
    fails(path("none"), 0, BXML_FILE_CANNOT_OPEN, "Leaving, failed to parse XFD file");
}

TEST_F(OpenTest, InputOpensTheXmlFileOfAName) {
    write_all(path("orders.xml"), "<?xml version=\"1.0\"?>\n<orders>\n <ord_rec/>\n</orders>\n");
    for (const std::string& name : {path("orders"), path("orders.xml")}) {
        XmlFile* file = open(name, 0);
        ASSERT_NE(file, nullptr) << name;
        EXPECT_EQ(*brelrt_file_error(), 0);
        EXPECT_EQ(close(file), 0);
    }
    // A layout known only by the name less ".xml": found by the second lookup.
    copybook("stock", kOrders);
    write_all(path("stock.data.xml"), "<stock/>");
    XmlFile* file = open(path("stock.data.xml"), 0);
    EXPECT_NE(file, nullptr);
    close(file);
}

TEST_F(OpenTest, FailedWritesAreReportedWithTheRecordsLost) {
    copybook("full", kOrders);
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
        ScopedEnv s("BXML_CREATE_STYLE", styles[style]);
        ScopedEnv schema("BXML_SCHEMA_NAME", path("orders.xsd").c_str());
        ScopedEnv ignore("BXML_IGNORE_EMPTY_DATA", style == 2 ? "yes" : "no");
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
