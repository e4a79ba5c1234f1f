// Record layouts from COBOL copybooks (<layout>.xfd): the entries a runtime
// calls to read a layout (found in BRELRT_XFD_DIR, else along COBCPY as cobc
// finds copybooks), free it and test its "*> WHEN" conditions on a record,
// and the last error of the copybook reader. The reading itself is in
// copybook_lexer.cpp, copybook_parser.cpp, copybook_layout.cpp,
// copybook_items.cpp and copybook_search.cpp.
#include "copybook_internal.h"

#include <algorithm>
#include <cstring>

#define HERE "host/copybook", __LINE__

namespace brelrt::copybook {
namespace {

std::string g_last_error;
std::string g_last_file; // the copybook B4ParseXFD found last

// What an OTHER condition is the alternative to: the other record conditions,
// or the other variants of the same storage.
int alternative_group(const RecordLayout* layout, const ConditionEntry& c) {
    if (c.item < 0 || c.item >= layout->item_count)
        return -2;
    const LayoutItem& selected = layout->items[c.item];
    return selected.level == 1 ? -1 : selected.redefined;
}

// Whether condition k (from 1) holds for the record.
bool evaluate(const RecordLayout* layout, int k, const unsigned char* record) {
    const ConditionEntry& c = layout->conditions[k - 1];
    if (c.numeric == 2) {
        int group = alternative_group(layout, c);
        for (int j = 1; j <= layout->condition_count; ++j) {
            const ConditionEntry& other = layout->conditions[j - 1];
            if (other.numeric != 2 && alternative_group(layout, other) == group &&
                evaluate(layout, j, record))
                return false;
        }
        return true;
    }
    if (c.tested < 0 || c.tested >= layout->item_count)
        return false;
    const LayoutItem& item = layout->items[c.tested];
    FieldDescriptor field = item.field;
    field.address = const_cast<unsigned char*>(record) + item.offset;
    // The literal is zero-terminated: it is shorter than its 100 bytes.
    const char* literal = c.literal;
    size_t literal_length =
        std::min<size_t>(static_cast<size_t>(c.literal_length), sizeof c.literal - 1);
    if (brelrt_type_is_numeric(field.type)) {
        int r = brelrt::compare_numeric(field, literal);
        if (r != -2)
            return r == 0;
        if (c.numeric == 1)
            return false;
    }
    // Text comparison, the shorter side padded with blanks.
    size_t size = static_cast<size_t>(field.size);
    size_t n = std::max(size, literal_length);
    for (size_t i = 0; i < n; ++i) {
        unsigned char a = i < size ? field.address[i] : ' ';
        unsigned char b = i < literal_length ? static_cast<unsigned char>(literal[i]) : ' ';
        if (a != b)
            return false;
    }
    return true;
}

} // namespace

void set_error(const std::string& text) {
    g_last_error = text;
    brelrt::report(text);
}

void set_missing(const std::string& text) {
    g_last_error = text;
}

void clear_error() {
    g_last_error.clear();
}

} // namespace brelrt::copybook

using namespace brelrt::copybook;

const char* brelrt_xfd_last_error(void) {
    return g_last_error.c_str();
}

const char* brelrt_xfd_last_file(void) {
    return g_last_file.c_str();
}

RecordLayout* brelrt_parse_copybook(const char* path, const char* layout_name) {
    return brelrt::guarded<RecordLayout*>(nullptr, [&]() -> RecordLayout* {
        if (!path)
            return nullptr;
        std::string text;
        if (!read_copybook(path, text))
            return nullptr;
        char name[BRELRT_NAME_SIZE];
        return build_layout(
            text, path, layout_name ? layout_name : brelrt_layout_name(path, name, sizeof name));
    });
}

RecordLayout* B4ParseXFD(const char* name, int /*version*/, int /*name_max*/) {
    return brelrt::guarded<RecordLayout*>(nullptr, [&]() -> RecordLayout* {
        if (!name || !*name || std::strchr(name, '/') || std::strcmp(name, "..") == 0) {
            set_missing("B4ParseXFD: no usable layout name");
            return nullptr;
        }
        g_last_file.clear();
        std::string path = find_copybook(name);
        if (path.empty())
            return nullptr;
        g_last_file = path;
        std::string text;
        if (!read_copybook(path, text))
            return nullptr;
        return build_layout(text, path, name);
    });
}

int B4XFDFree(RecordLayout* layout) {
    if (!layout)
        return 0;
    brelrt_free(layout->conditions, HERE);
    brelrt_free(layout->items, HERE);
    brelrt_free(layout->pictures, HERE);
    brelrt_free(layout, HERE);
    return 0;
}

int B4TestCOBOLCond(RecordLayout* layout, int cond_no, const unsigned char* record) {
    if (!layout || !record || cond_no < 1 || cond_no > layout->condition_count ||
        !layout->conditions)
        return -1;
    return brelrt::guarded(-1, [&] {
        bool holds = evaluate(layout, cond_no, record);
        ConditionEntry& c = layout->conditions[cond_no - 1];
        c.result = static_cast<uint8_t>(holds ? (c.result | 1) : (c.result & ~1));
        return holds ? 1 : 0;
    });
}
