#include "elements/api_error.h"

namespace bxml {

namespace {

const char* const kMessages[kApiErrorCount] = {
    "No error",
    "Unable to create parser due to low memory",
    "Unable to create parser - expat error",
    "Unable to open named file",
    "Invalid XML file or other parsing error",
    "The passed handle is not a valid parser handle",
    "The passed handle is not a valid element handle",
    "Invalid attribute number",
    "The URL given could not be located",
    "The XML parser is not available on this machine",
    "The specified element has no children",
    "The specified element has no siblings",
    "The specified element is a top-level element",
    "The specified element has no value",
    "The specified element has no attributes",
    "The regular expression given caused an error",
    "The specified parser already has a top-level element",
};

} // namespace

int g_element_error = kApiNoError;
int g_parser_error = kApiNoError;

const char* api_message(int code) {
    return kMessages[code >= 0 && code < kApiErrorCount ? code : 0];
}

} // namespace bxml
