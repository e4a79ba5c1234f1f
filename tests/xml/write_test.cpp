// Writing XML files as the runtime does it: open (slot 45), write (48) and
// close (46) through the dispatch table, the documents compared whole.
#include "write_helpers.h"

#include <cstring>

using namespace xmltest;

namespace {

const char kOrders[] = "       01 ORD-REC.\n"
                       "          05 ORD-NO        PIC X(5).\n"
                       "          05 LINES OCCURS 2.\n"
                       "             10 ITEM       PIC X(8).\n";

std::string prologue() {
    return "<?xml version=\"1.0\"?>\n<!-- Created by BrelXML(tm) version 7.2.2 JPN on " +
           today_text() + " -->\n";
}

const char kOrdersDtd[] = "<!DOCTYPE orders [\n"
                          "<!ELEMENT orders (ord_rec)*>\n"
                          " <!ELEMENT ord_rec (ord_no, lines*)>\n"
                          "     <!ELEMENT ord_no (#PCDATA)>\n"
                          "     <!ELEMENT lines (item)>\n"
                          "          <!ELEMENT item (#PCDATA)>\n"
                          "]>\n";

const char kOrdersRecord[] = " <ord_rec>\n"
                             "     <ord_no>A0001</ord_no>\n"
                             "     <lines>\n"
                             "          <item>X1</item>\n"
                             "     </lines>\n"
                             "     <lines>\n"
                             "          <item>Y2</item>\n"
                             "     </lines>\n"
                             " </ord_rec>\n";

class OrdersTest : public WriteTest {
protected:
    void SetUp() override {
        WriteTest::SetUp();
        copybook("orders", kOrders);
    }
};

TEST_F(OrdersTest, DtdStyleDocumentByteForByte) {
    std::string doc = document("orders", {"A0001X1      Y2      "});
    EXPECT_EQ(doc, prologue() + kOrdersDtd + "<orders>\n" + kOrdersRecord + "</orders>\n");
    write_all(path("orders.xml"), doc);
    EXPECT_EQ(run_command("xmllint --noout --valid '" + path("orders.xml") + "'"), "");
}

TEST_F(OrdersTest, SchemaStyleRootTagAndSchemaFile) {
    ScopedEnv style("BXML_CREATE_STYLE", "schema");
    ScopedEnv schema("BXML_SCHEMA_NAME", path("orders.xsd").c_str());
    std::string doc = document("orders", {"A0001X1      Y2      "});
    EXPECT_EQ(doc, prologue() +
                       "<orders xmlns:xs=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
                       "    xs:noNamespaceSchemaLocation=\"" +
                       path("orders.xsd") + "\">\n" + kOrdersRecord + "</orders>\n");
    EXPECT_EQ(read_all(path("orders.xsd")),
              "<?xml version=\"1.0\"?>\n"
              "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">\n"
              "  <xs:annotation>\n"
              "    <xs:documentation>\n"
              "      Created by BrelXML(tm) version 7.2.2 JPN on " +
                  today_text() +
                  "\n"
                  "    </xs:documentation>\n"
                  "  </xs:annotation>\n"
                  "\n"
                  "  <xs:element name=\"orders\">\n"
                  "    <xs:complexType>\n"
                  "      <xs:sequence>\n"
                  "        <xs:element maxOccurs=\"unbounded\" ref=\"ord_rec\"/>\n"
                  "      </xs:sequence>\n"
                  "    </xs:complexType>\n"
                  "  </xs:element>\n"
                  "\n"
                  "  <xs:element name=\"ord_rec\">\n"
                  "    <xs:complexType>\n"
                  "      <xs:sequence>\n"
                  "        <xs:element ref=\"ord_no\"/>\n"
                  "        <xs:element ref=\"lines\" maxOccurs=\"2\"/>\n"
                  "      </xs:sequence>\n"
                  "    </xs:complexType>\n"
                  "  </xs:element>\n"
                  "\n"
                  "  <xs:element name=\"lines\">\n"
                  "    <xs:complexType>\n"
                  "      <xs:sequence>\n"
                  "        <xs:element ref=\"item\"/>\n"
                  "      </xs:sequence>\n"
                  "    </xs:complexType>\n"
                  "  </xs:element>\n"
                  "\n"
                  "  <xs:element name=\"ord_no\">\n"
                  "    <xs:simpleType>\n"
                  "      <xs:restriction base=\"xs:string\">\n"
                  "        <xs:maxLength value=\"5\"/>\n"
                  "      </xs:restriction>\n"
                  "    </xs:simpleType>\n"
                  "  </xs:element>\n"
                  "\n"
                  "  <xs:element name=\"item\">\n"
                  "    <xs:simpleType>\n"
                  "      <xs:restriction base=\"xs:string\">\n"
                  "        <xs:maxLength value=\"8\"/>\n"
                  "      </xs:restriction>\n"
                  "    </xs:simpleType>\n"
                  "  </xs:element>\n"
                  "\n"
                  "</xs:schema>\n");
    EXPECT_EQ(run_command("xmllint --noout --schema '" + path("orders.xsd") + "' '" +
                          path("orders.xml") + "'"),
              path("orders.xml") + " validates\n");
}

} // namespace
