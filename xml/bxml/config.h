// The BXML_ configuration variables the plug-in registers with the host
// (dispatch slot 26) and looks up at the moment of use.
#pragma once

#include <brelrt.h>

#include <initializer_list>

namespace bxml {

inline constexpr int kConfigCount = 10;

inline constexpr const char* kSchemaDoc = "BXML_SCHEMA_DOC";
inline constexpr const char* kSchemaName = "BXML_SCHEMA_NAME";
inline constexpr const char* kStylesheetHref = "BXML_STYLESHEET_HREF";
inline constexpr const char* kSchemaNamespaceData = "BXML_SCHEMA_NAMESPACE_DATA";
inline constexpr const char* kEncoding = "BXML_ENCODING";
inline constexpr const char* kStylesheetType = "BXML_STYLESHEET_TYPE";
inline constexpr const char* kCreateStyle = "BXML_CREATE_STYLE";
inline constexpr const char* kCreateSchema = "BXML_CREATE_SCHEMA";
inline constexpr const char* kExactTableMatch = "BXML_EXACT_TABLE_MATCH";
inline constexpr const char* kIgnoreEmptyData = "BXML_IGNORE_EMPTY_DATA";
// The library's own additions, registered with the ten.
inline constexpr const char* kKeepLeadingBlanks = "BXML_KEEP_LEADING_BLANKS";
// The host's own variable read by the open (1: case mode 2, 2: case mode 3).
inline constexpr const char* kColumnCase = "4GL_COLUMN_CASE";

// Values of BXML_CREATE_STYLE.
enum CreateStyle { kStyleNone = 0, kStyleDtd = 1, kStyleSchema = 2 };

// The default of BXML_SCHEMA_NAMESPACE_DATA: a format with the schema name as
// its one argument.
inline constexpr const char* kDefaultNamespaceData =
    "xmlns:xs=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
    "    xs:noNamespaceSchemaLocation=\"%s\"";

// The table of the ten variables, in registration order.
const BrelrtConfigEntry* config_table();

// Slot 26.
int register_config();

// True when each variable of `names` is unset or holds a value its kind
// takes. Otherwise the file-error word is 17 and the reason names the first
// variable that does not, quoting at most 40 characters of its value, and
// the values it takes.
bool config_valid(std::initializer_list<const char*> names);

} // namespace bxml
