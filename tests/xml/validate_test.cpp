// Documents written from records a GnuCOBOL program wrote, checked by
// xmllint against the DTD and the schema that bxml32 wrote with them:
// nested groups, tables of groups, record types and record variants
// chosen by WHEN, REDEFINES, every usage.
#include "write_helpers.h"

#include <cstring>
#include <filesystem>

using namespace xmltest;

namespace {

class LedgerTest : public WriteTest {
protected:
    void SetUp() override {
        WriteTest::SetUp();
        records_ = ledger_records();
        ASSERT_EQ(records_.size(), 5u);
    }
    std::vector<std::string> records_;
};

TEST_F(LedgerTest, DtdDocumentValidates) {
    std::string doc = document("ledger", records_);
    size_t start = doc.find("<!DOCTYPE");
    size_t end = doc.find("]>\n") + 3;
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(doc.substr(start, end - start),
              "<!DOCTYPE ledger [\n"
              "<!ELEMENT ledger (hdr_rec | dtl_rec | trl_rec)*>\n"
              " <!ELEMENT hdr_rec (rec_type, hdr_date, hdr_branch)>\n"
              "     <!ELEMENT rec_type (#PCDATA)>\n"
              "     <!ELEMENT hdr_date (hdr_year, hdr_month, hdr_day)>\n"
              "          <!ELEMENT hdr_year (#PCDATA)>\n"
              "          <!ELEMENT hdr_month (#PCDATA)>\n"
              "          <!ELEMENT hdr_day (#PCDATA)>\n"
              "     <!ELEMENT hdr_branch (#PCDATA)>\n"
              " <!ELEMENT dtl_rec (dtl_type, dtl_kind, dtl_item, dtl_qty, dtl_price, dtl_count, "
              "dtl_native, dtl_rate, dtl_factor, dtl_signed, dtl_trail, dtl_lines*, (dtl_body | "
              "body_addr | body_num))>\n"
              "     <!ELEMENT dtl_type (#PCDATA)>\n"
              "     <!ELEMENT dtl_kind (#PCDATA)>\n"
              "     <!ELEMENT dtl_item (#PCDATA)>\n"
              "     <!ELEMENT dtl_qty (#PCDATA)>\n"
              "     <!ELEMENT dtl_price (#PCDATA)>\n"
              "     <!ELEMENT dtl_count (#PCDATA)>\n"
              "     <!ELEMENT dtl_native (#PCDATA)>\n"
              "     <!ELEMENT dtl_rate (#PCDATA)>\n"
              "     <!ELEMENT dtl_factor (#PCDATA)>\n"
              "     <!ELEMENT dtl_signed (#PCDATA)>\n"
              "     <!ELEMENT dtl_trail (#PCDATA)>\n"
              "     <!ELEMENT dtl_lines (line_no, line_amt, line_taxes*)>\n"
              "          <!ELEMENT line_no (#PCDATA)>\n"
              "          <!ELEMENT line_amt (#PCDATA)>\n"
              "          <!ELEMENT line_taxes (tax_code, tax_amt)>\n"
              "               <!ELEMENT tax_code (#PCDATA)>\n"
              "               <!ELEMENT tax_amt (#PCDATA)>\n"
              "     <!ELEMENT dtl_body (body_text)>\n"
              "          <!ELEMENT body_text (#PCDATA)>\n"
              "     <!ELEMENT body_addr (addr_city, addr_zip)>\n"
              "          <!ELEMENT addr_city (#PCDATA)>\n"
              "          <!ELEMENT addr_zip (#PCDATA)>\n"
              "     <!ELEMENT body_num (num_value)>\n"
              "          <!ELEMENT num_value (#PCDATA)>\n"
              " <!ELEMENT trl_rec (trl_type, trl_count, trl_total, trl_last)>\n"
              "     <!ELEMENT trl_type (#PCDATA)>\n"
              "     <!ELEMENT trl_count (#PCDATA)>\n"
              "     <!ELEMENT trl_total (#PCDATA)>\n"
              "     <!ELEMENT trl_last (line_no)>\n"
              "]>\n");
    write_file(path("ledger.xml"), doc);
    EXPECT_EQ(run_command("xmllint --noout --valid '" + path("ledger.xml") + "'"), "");
    // The variant whose WHEN holds stands in the place of the storage it
    // redefines; with none holding, the first description; the REDEFINES
    // without WHEN is never written.
    std::string body = doc.substr(end);
    EXPECT_NE(body.find("     <dtl_native>32767</dtl_native>\n"
                        "     <dtl_rate>1.25</dtl_rate>\n"
                        "     <dtl_factor>-0.5</dtl_factor>\n"
                        "     <dtl_signed>-12.5</dtl_signed>\n"
                        "     <dtl_trail>-42</dtl_trail>\n"
                        "     <dtl_lines>\n"
                        "          <line_no>1</line_no>\n"
                        "          <line_amt>-0.05</line_amt>\n"
                        "          <line_taxes>\n"
                        "               <tax_code>A</tax_code>\n"
                        "               <tax_amt>1.50</tax_amt>\n"
                        "          </line_taxes>\n"),
              std::string::npos)
        << body;
    EXPECT_NE(body.find("     <body_addr>\n"
                        "          <addr_city>OSAKA &lt;KITA&gt;</addr_city>\n"
                        "          <addr_zip>5300001</addr_zip>\n"
                        "     </body_addr>\n"
                        " </dtl_rec>\n"),
              std::string::npos);
    EXPECT_NE(body.find("     <body_num>\n"
                        "          <num_value>-1234567.89</num_value>\n"
                        "     </body_num>\n"),
              std::string::npos);
    EXPECT_NE(body.find("     <dtl_body>\n"
                        "          <body_text>PLAIN &apos;TEXT&apos;</body_text>\n"
                        "     </dtl_body>\n"),
              std::string::npos);
    EXPECT_NE(body.find(" <trl_rec>\n"
                        "     <trl_type>T</trl_type>\n"
                        "     <trl_count>4</trl_count>\n"
                        "     <trl_total>-98765432109.87</trl_total>\n"
                        "     <trl_last>\n"
                        "          <line_no>7</line_no>\n"
                        "     </trl_last>\n"
                        " </trl_rec>\n"
                        "</ledger>\n"),
              std::string::npos);
    EXPECT_EQ(body.find("hdr_date_n"), std::string::npos);
}

TEST_F(LedgerTest, SchemaDocumentValidates) {
    EnvVar style("BXML_CREATE_STYLE", "SCHEMA");
    EnvVar name("BXML_SCHEMA_NAME", path("ledger.xsd").c_str());
    EnvVar doc("BXML_SCHEMA_DOC", "Ledger <test> & schema");
    document("ledger", records_);
    EXPECT_EQ(run_command("xmllint --noout --schema '" + path("ledger.xsd") + "' '" +
                          path("ledger.xml") + "'"),
              path("ledger.xml") + " validates\n");
    std::string schema = read_file(path("ledger.xsd"));
    EXPECT_NE(schema.find("      Ledger &lt;test&gt; &amp; schema\n      Created by"),
              std::string::npos);
    EXPECT_NE(schema.find("      <xs:choice minOccurs=\"0\" maxOccurs=\"unbounded\">\n"
                          "        <xs:element ref=\"hdr_rec\"/>\n"
                          "        <xs:element ref=\"dtl_rec\"/>\n"
                          "        <xs:element ref=\"trl_rec\"/>\n"
                          "      </xs:choice>\n"),
              std::string::npos);
    EXPECT_NE(schema.find("        <xs:element ref=\"dtl_lines\" maxOccurs=\"3\"/>\n"
                          "        <xs:choice>\n"
                          "          <xs:element ref=\"dtl_body\"/>\n"
                          "          <xs:element ref=\"body_addr\"/>\n"
                          "          <xs:element ref=\"body_num\"/>\n"
                          "        </xs:choice>\n"
                          "      </xs:sequence>\n"),
              std::string::npos);
    // COMP-5 holds its whole binary range; COMP-1 and COMP-2 are floats.
    EXPECT_NE(schema.find("<xs:element name=\"dtl_native\">\n"
                          "    <xs:simpleType>\n"
                          "      <xs:restriction base=\"xs:integer\">\n"
                          "        <xs:totalDigits value=\"5\"/>\n"),
              std::string::npos);
    EXPECT_NE(schema.find("<xs:element name=\"dtl_factor\">\n"
                          "    <xs:simpleType>\n"
                          "      <xs:restriction base=\"xs:float\">\n"
                          "      </xs:restriction>\n"),
              std::string::npos);
    EXPECT_NE(schema.find("<xs:element name=\"dtl_price\">\n"
                          "    <xs:simpleType>\n"
                          "      <xs:restriction base=\"xs:decimal\">\n"
                          "        <xs:totalDigits value=\"9\"/>\n"
                          "        <xs:fractionDigits value=\"2\"/>\n"),
              std::string::npos);
    EXPECT_NE(schema.find("<xs:element name=\"line_amt\">\n"
                          "    <xs:simpleType>\n"
                          "      <xs:restriction base=\"xs:decimal\">\n"
                          "        <xs:totalDigits value=\"7\"/>\n"
                          "        <xs:fractionDigits value=\"2\"/>\n"),
              std::string::npos);
    // line_no of two groups is declared once.
    EXPECT_EQ(schema.find("name=\"line_no\""), schema.rfind("name=\"line_no\""));
    EXPECT_EQ(schema.find("hdr_date_n"), std::string::npos);
}

// Groups that declare no child (all their fields FILLER, also nested) hold
// only the blanks they are indented with: both descriptions let them.
TEST_F(WriteTest, GroupsOfFillerValidateAgainstDtdAndSchema) {
    copybook("filler", "       01 R.\n"
                       "          05 G.\n"
                       "             10 FILLER PIC X(2).\n"
                       "          05 F PIC X.\n"
                       "          05 H.\n"
                       "             10 I.\n"
                       "                15 FILLER PIC X.\n");
    const std::vector<std::string> records = {"abcd", "  Z "};
    std::string doc = document("filler", records);
    EXPECT_EQ(doc.substr(doc.find("<!DOCTYPE")), "<!DOCTYPE filler [\n"
                                                 "<!ELEMENT filler (r)*>\n"
                                                 " <!ELEMENT r (g, f, h)>\n"
                                                 "     <!ELEMENT g (#PCDATA)>\n"
                                                 "     <!ELEMENT f (#PCDATA)>\n"
                                                 "     <!ELEMENT h (i)>\n"
                                                 "          <!ELEMENT i (#PCDATA)>\n"
                                                 "]>\n"
                                                 "<filler>\n"
                                                 " <r>\n"
                                                 "     <g>\n"
                                                 "     </g>\n"
                                                 "     <f>c</f>\n"
                                                 "     <h>\n"
                                                 "          <i>\n"
                                                 "          </i>\n"
                                                 "     </h>\n"
                                                 " </r>\n"
                                                 " <r>\n"
                                                 "     <g>\n"
                                                 "     </g>\n"
                                                 "     <f>Z</f>\n"
                                                 "     <h>\n"
                                                 "          <i>\n"
                                                 "          </i>\n"
                                                 "     </h>\n"
                                                 " </r>\n"
                                                 "</filler>\n");
    EXPECT_EQ(run_command("xmllint --noout --valid '" + path("filler.xml") + "'"), "");
    EnvVar style("BXML_CREATE_STYLE", "SCHEMA");
    EnvVar name("BXML_SCHEMA_NAME", path("filler.xsd").c_str());
    document("filler", records);
    std::string schema = read_file(path("filler.xsd"));
    EXPECT_NE(schema.find("  <xs:element name=\"h\">\n"
                          "    <xs:complexType>\n"
                          "      <xs:sequence>\n"
                          "        <xs:element ref=\"i\"/>\n"
                          "      </xs:sequence>\n"
                          "    </xs:complexType>\n"
                          "  </xs:element>\n"
                          "\n"
                          "  <xs:element name=\"i\" type=\"xs:string\"/>\n"
                          "\n"),
              std::string::npos)
        << schema;
    EXPECT_NE(schema.find("  <xs:element name=\"g\" type=\"xs:string\"/>\n"), std::string::npos);
    EXPECT_EQ(run_command("xmllint --noout --schema '" + path("filler.xsd") + "' '" +
                          path("filler.xml") + "'"),
              path("filler.xml") + " validates\n");
}

} // namespace
