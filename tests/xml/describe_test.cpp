// bxml-describe and bxml_describe: the DTD and the XML Schema of a layout on
// standard output, the very ones a document of that layout carries.
#include "test_paths.h"
#include "write_helpers.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

using namespace xmltest;

namespace {

const std::string kLedger = DataPath("/xml/ledger.xfd");

class DescribeTest : public WriteTest {
protected:
    // The tool's standard output and error, "[exit N]" after a failure.
    std::string describe(const std::string& arguments) {
        return run_command("'" + BinPath("/bxml-describe' ") + arguments);
    }
};

TEST_F(DescribeTest, TheToolPrintsWhatADocumentCarries) {
    std::vector<std::string> records = ledger_records(); // and ledger.xfd
    std::string doc = document("ledger", records);
    size_t begin = doc.find("<!DOCTYPE ledger [\n"), end = doc.find("]>\n<ledger>");
    ASSERT_NE(end, std::string::npos) << doc;
    std::string dtd = doc.substr(begin + 19, end - begin - 19);
    EXPECT_EQ(describe("ledger"), dtd);
    // The standalone DTD validates the document written with the internal one.
    write_file(path("ledger.dtd"), describe("ledger"));
    EXPECT_EQ(run_command("xmllint --noout --dtdvalid '" + path("ledger.dtd") + "' '" +
                          path("ledger.xml") + "'"),
              "");
    // The schema is the schema file of an OPEN OUTPUT, encoding and
    // documentation included.
    {
        EnvVar style("BXML_CREATE_STYLE", "SCHEMA");
        EnvVar name("BXML_SCHEMA_NAME", path("ledger.xsd").c_str());
        EnvVar encoding("BXML_ENCODING", "ISO-8859-1");
        EnvVar doc_text("BXML_SCHEMA_DOC", "Ledger <v2> & more");
        document("ledger", {});
        EXPECT_EQ(describe("--xsd ledger"), read_file(path("ledger.xsd")));
    }
    // Found along COBCPY with cobc's suffixes, or given as a copybook's path.
    std::filesystem::create_directories(path("copy"));
    std::filesystem::rename(path("ledger.xfd"), path("copy/ledger.cpy"));
    {
        EnvVar cobcpy("COBCPY", path("copy").c_str());
        EXPECT_EQ(describe("ledger"), dtd);
    }
    EXPECT_EQ(describe("'" + path("copy/ledger.cpy") + "'"), dtd);
}

// --binary-size and BRELRT_BINARY_SIZE size binary fields as the program's
// cobc rule did, which the schema shows; every refusal says why.
TEST_F(DescribeTest, BinarySizesAndRefusals) {
    copybook("codes", "       01 CODE-REC.\n"
                      "      *> BINARY\n"
                      "          05 RAW-KEY  PIC S9(6) COMP.\n"
                      "          05 COUNTER  PIC 9(7) COMP-5.\n");
    std::string fewest = describe("--binary-size=1--8 --xsd codes");
    {
        EnvVar rule("BRELRT_BINARY_SIZE", "1--8");
        EXPECT_EQ(describe("--xsd codes"), fewest);
    }
    // Only the bytes of the two fields differ: 4 and 4 by default, 3 and 3.
    std::string normal = describe("--xsd codes"), changed;
    for (size_t a = 0, b = 0; a < normal.size() && b < fewest.size();) {
        size_t ea = normal.find('\n', a), eb = fewest.find('\n', b);
        if (normal.compare(a, ea - a, fewest, b, eb - b) != 0)
            changed += normal.substr(a, ea - a) + " |" + fewest.substr(b, eb - b) + "\n";
        a = ea + 1;
        b = eb + 1;
    }
    EXPECT_EQ(changed, "        <xs:length value=\"4\"/> |        <xs:length value=\"3\"/>\n"
                       "        <xs:totalDigits value=\"10\"/> |        "
                       "<xs:totalDigits value=\"8\"/>\n");
    copybook("broken", "       01 R.\n          05 A PIC Q.\n");
    EXPECT_EQ(describe("nosuch"), "bxml-describe: " + path("nosuch.xfd") +
                                      ": no such layout (nor " + path("NOSUCH.xfd") +
                                      "; COBCPY not set)\n[exit 1]");
    // The host itself reports a copybook it cannot use; the tool says why too.
    std::string broken = path("broken.xfd") + ":2: PICTURE Q is not supported\n";
    EXPECT_EQ(describe("broken"), "bxml-describe: " + broken + "[exit 1]");
    {
        EnvVar rule("BRELRT_BINARY_SIZE", "2-4");
        std::string why = "BRELRT_BINARY_SIZE '2-4' is no binary-size rule (1-2-4-8, 2-4-8 or "
                          "1--8): " +
                          path("codes.xfd") + " not used\n";
        EXPECT_EQ(describe("codes"), "bxml-describe: " + why + "[exit 1]");
    }
    const std::string help = "(bxml-describe --help for help)\n[exit 2]";
    EXPECT_EQ(describe("--binary-size=4 codes"),
              "bxml-describe: unknown binary-size rule '4' (1-2-4-8, 2-4-8 or 1--8)\n" + help);
    EXPECT_EQ(describe(""), "bxml-describe: no layout given\n" + help);
    EXPECT_EQ(describe("codes more"), "bxml-describe: one layout only\n" + help);
    EXPECT_EQ(describe("--dtd codes"), "bxml-describe: unknown option '--dtd'\n" + help);
    EXPECT_EQ(describe("--xsd -- -codes"), "bxml-describe: " + path("-codes.xfd") +
                                               ": no such layout (nor " + path("-CODES.xfd") +
                                               "; COBCPY not set)\n[exit 1]");
    // A long name is quoted cut, as every other message quotes.
    std::string said = describe(std::string(5000, 'n'));
    EXPECT_LT(said.size(), 300u);
    EXPECT_NE(said.find(std::string(40, 'n') + "..."), std::string::npos) << said;
    EXPECT_EQ(describe("--help").rfind(
                  "Usage: bxml-describe [--xsd] [--binary-size=RULE] [--] LAYOUT\n", 0),
              0u);
    EXPECT_EQ(run_command("('" + BinPath("/bxml-describe' codes >/dev/full)")),
              "bxml-describe: No space left on device\n[exit 1]");
}

// The library function: a shortage at any allocation fails cleanly with 14
// and leaves nothing allocated; a stream that refuses the write gives 34 and
// its errno.
TEST_F(DescribeTest, DescribeSurvivesShortagesAndFullDevices) {
    copybook("ledger", read_file(kLedger));
    RecordLayout* layout = B4ParseXFD("ledger", 14, 30);
    ASSERT_NE(layout, nullptr) << brelrt_xfd_last_error();
    size_t outstanding = brelrt_mem_outstanding();
    for (int style : {BXML_DESCRIBE_DTD, BXML_DESCRIBE_SCHEMA}) {
        FILE* sink = std::fopen("/dev/null", "w");
        ASSERT_NE(sink, nullptr);
        for (long n = 1;; ++n) {
            brelrt_mem_fail_nth(n);
            int written = bxml_describe(sink, layout, style);
            int16_t error = *brelrt_file_error();
            brelrt_mem_fail_nth(0);
            ASSERT_EQ(brelrt_mem_outstanding(), outstanding) << style << " failing at " << n;
            if (written)
                break;
            EXPECT_EQ(error, BXML_FILE_OUT_OF_MEMORY) << style << " at " << n;
            ASSERT_LT(n, 1000);
        }
        std::fclose(sink);
        FILE* full = std::fopen("/dev/full", "w");
        ASSERT_NE(full, nullptr);
        EXPECT_EQ(bxml_describe(full, layout, style), 0);
        EXPECT_EQ(*brelrt_file_error(), BXML_FILE_WRITE_FAILED);
        EXPECT_EQ(*brelrt_secondary_error(), ENOSPC);
        std::fclose(full);
    }
    EXPECT_EQ(bxml_describe(stdout, layout, 0), 0);
    EXPECT_EQ(*brelrt_file_error(), BXML_FILE_NOT_SUPPORTED);
    EXPECT_EQ(bxml_describe(stdout, nullptr, BXML_DESCRIBE_DTD), 0);
    B4XFDFree(layout);
}

} // namespace
