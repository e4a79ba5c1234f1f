// bxml-describe: the DTD or the XML Schema of a record layout on standard
// output, as bxml32 writes them into (or beside) a document at OPEN OUTPUT,
// so a schema can be handed on without running a program.
#include "bxml32.h"

#include <brelrt.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "Usage: bxml-describe [--xsd] [--binary-size=RULE] [--] LAYOUT\n"
    "\n"
    "Writes the description of the record layout LAYOUT that bxml32 gives the\n"
    "XML files of that layout, on standard output: the DTD (by default) as a\n"
    "standalone .dtd, the element declarations without a DOCTYPE around them,\n"
    "or with --xsd the XML Schema document.\n"
    "\n"
    "LAYOUT is a layout name, found as bxml32 finds it: <LAYOUT>.xfd in\n"
    "BRELRT_XFD_DIR (default the current folder), else along the folders of\n"
    "COBCPY with the suffixes .xfd, none, .CPY, .CBL, .COB, .cpy, .cbl, .cob;\n"
    "or the path of a copybook (a name with a \"/\"), whose layout is named\n"
    "after its base name.\n"
    "\n"
    "  --xsd               the XML Schema instead of the DTD (BXML_ENCODING and\n"
    "                      BXML_SCHEMA_DOC as at OPEN OUTPUT)\n"
    "  --binary-size=RULE  size binary items by RULE: 1-2-4-8 (default, or\n"
    "                      BRELRT_BINARY_SIZE), 2-4-8 or 1--8, as the program's\n"
    "                      cobc -fbinary-size or -std does\n"
    "  --                  the end of the options: a LAYOUT beginning with \"-\"\n"
    "                      follows\n"
    "  --help              this text\n"
    "  --version           the version\n"
    "\n"
    "Exit status: 0 written; 1 the layout cannot be read (the reason on standard\n"
    "error) or the output cannot be written; 2 a wrong command line.\n";

int usage_error(const std::string& what) {
    std::fprintf(stderr, "bxml-describe: %s\n(bxml-describe --help for help)\n", what.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int style = BXML_DESCRIBE_DTD;
    const char* layout_name = nullptr;
    bool options = true; // until "--": what follows it is the layout, even "-x"
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (!options || arg == "-" || arg.empty() || arg[0] != '-') {
            if (layout_name)
                return usage_error("one layout only");
            layout_name = argv[i];
            continue;
        }
        if (arg == "--") {
            options = false;
            continue;
        }
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("bxml-describe %s\n", POINTRA_VERSION);
            return 0;
        }
        if (arg == "--xsd") {
            style = BXML_DESCRIBE_SCHEMA;
        } else if (arg.rfind("--binary-size=", 0) == 0) {
            if (!brelrt_set_binary_size(arg.c_str() + 14))
                return usage_error("unknown binary-size rule '" + arg.substr(14, 40) +
                                   "' (1-2-4-8, 2-4-8 or 1--8)");
        } else {
            return usage_error("unknown option '" + arg.substr(0, 40) +
                               (arg.size() > 40 ? "...'" : "'"));
        }
    }
    if (!layout_name)
        return usage_error("no layout given");
    xml_register_config();
    // The host's reason is said once, by this tool.
    brelrt_report_to_stderr(0);
    RecordLayout* layout = std::strchr(layout_name, '/')
                               ? brelrt_parse_copybook(layout_name, nullptr)
                               : B4ParseXFD(layout_name, 14, 30);
    if (!layout) {
        const char* why = brelrt_xfd_last_error();
        std::fprintf(stderr, "bxml-describe: %s\n", *why ? why : "out of memory");
        return 1;
    }
    int written = bxml_describe(stdout, layout, style);
    B4XFDFree(layout);
    if (!written) {
        int16_t code = *brelrt_file_error();
        std::fprintf(stderr, "bxml-describe: %s\n",
                     code == BXML_FILE_WRITE_FAILED ? std::strerror(*brelrt_secondary_error())
                                                    : "out of memory");
        return 1;
    }
    return 0;
}
