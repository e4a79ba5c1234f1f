// Shared by the writing tests: a folder with copybooks and documents, the
// file operations called through the dispatch table as the runtime calls
// them, and the programs that check what was written (xmllint, cobc).
#pragma once

#include "xml_helpers.h"

#include "host_fixture.h" // EnvVar, TempDir, read_file, write_file

#include <memory>
#include <string>
#include <vector>

namespace xmltest {

// The layout orders of the examples: a record, a field, a table of two groups.
extern const char kOrdersCopybook[];

// The output of a command run through the shell, with "[exit N]" appended
// when it did not end with 0.
std::string run_command(const std::string& command);

// Today as the prologue writes it: yyyy/mm/dd.
std::string today_text();

// A temporary folder that is the layout folder (BRELRT_XFD_DIR) for the
// test, with every BXML_ variable unset.
class WriteTest : public XmlTest {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    void copybook(const std::string& layout, const std::string& text) const;

    XmlFile* open(const std::string& name, int mode = 1) const;
    int write(XmlFile* file, const std::string& record) const;
    int close(XmlFile* file) const;

    // Opens <layout>.xml for output, writes the records, closes it and
    // returns the document; the file-error word of every call must stay 0.
    std::string document(const std::string& layout, const std::vector<std::string>& records);

    // Every record of the document `name` read back through slot 47, each
    // into an area of `size` bytes of `fill`; the reading must end with 8.
    std::vector<std::string> read_back(const std::string& name, size_t size, char fill = '#');

    // The five records of tests/data/xml/ledger.cob (a header, three
    // details with each body variant, a trailer), each as long as its own
    // record description, as GnuCOBOL wrote them; ledger.xfd is the layout.
    std::vector<std::string> ledger_records();

    std::string dir_;

private:
    std::unique_ptr<TempDir> temp_;
    std::vector<std::unique_ptr<EnvVar>> env_;
};

} // namespace xmltest
