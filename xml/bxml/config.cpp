#include "bxml/config.h"

#include "bxml/module.h"
#include "bxml/trace.h"

#include <cstring>

namespace bxml {

namespace {

const BrelrtKeyword kCreateStyleKeywords[] = {
    {"DTD", kStyleDtd},
    {"SCHEMA", kStyleSchema},
    {"NONE", kStyleNone},
};

// Each entry is seven words: name, kind, integer default, pointer (text
// default or keyword table), keyword count and two zero words. The original
// words were all 32 bits wide; here the name and the pointer are
// pointer-sized, the other five stay 32-bit, and the order is kept.
const BrelrtConfigEntry kConfigTable[kConfigCount] = {
    {kSchemaDoc, BRELRT_CFG_TEXT_LONG, 0, nullptr, 0, 0, 0},
    {kSchemaName, BRELRT_CFG_TEXT_LONG, 0, nullptr, 0, 0, 0},
    {kStylesheetHref, BRELRT_CFG_TEXT_LONG, 0, nullptr, 0, 0, 0},
    {kSchemaNamespaceData, BRELRT_CFG_TEXT_LONG, 0, kDefaultNamespaceData, 0, 0, 0},
    {kEncoding, BRELRT_CFG_TEXT, 0, nullptr, 0, 0, 0},
    {kStylesheetType, BRELRT_CFG_TEXT, 0, nullptr, 0, 0, 0},
    {kCreateStyle, BRELRT_CFG_KEYWORD, kStyleDtd, kCreateStyleKeywords, 3, 0, 0},
    {kCreateSchema, BRELRT_CFG_YES_NO, 1, nullptr, 0, 0, 0},
    {kExactTableMatch, BRELRT_CFG_YES_NO, 1, nullptr, 0, 0, 0},
    {kIgnoreEmptyData, BRELRT_CFG_YES_NO, 0, nullptr, 0, 0, 0},
};

// Variables of this library beyond the ten of the table above.
const BrelrtConfigEntry kAdditions[] = {
    {kKeepLeadingBlanks, BRELRT_CFG_YES_NO, 0, nullptr, 0, 0, 0},
};

// What a variable takes, for the message that refuses another value.
const char* accepted_values(const char* name) {
    if (std::strcmp(name, kCreateStyle) == 0)
        return "DTD, SCHEMA or NONE";
    if (std::strcmp(name, kColumnCase) == 0)
        return "0, 1 or 2";
    return "yes or no (also true/false, on/off, 1/0)";
}

} // namespace

const BrelrtConfigEntry* config_table() {
    return kConfigTable;
}

int register_config() {
    int registered = brelrt_config_register(kConfigTable, kConfigCount, 0);
    brelrt_config_register(kAdditions, sizeof kAdditions / sizeof kAdditions[0], 0);
    return registered;
}

bool config_valid(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (brelrt_config_valid(name))
            continue;
        const char* value = brelrt_config_text(name);
        fail_reason("%s has the value '%.40s', which it does not take: it takes %s", name,
                    value ? value : "", accepted_values(name));
        set_file_error(kNotSupported);
        return false;
    }
    return true;
}

} // namespace bxml
