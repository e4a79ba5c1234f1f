// The functions exported by ordinal, as a table indexed by ordinal: element
// handles at 1 to 28, parser handles at 41 to 54; 30 to 40 hold a function
// that only reports that there is nothing there; 0 and 29 are empty.
#include "bxml32.h"

#include "bxml/module.h"
#include "bxml/trace.h"

using namespace bxml;

extern "C" {

long bxml_unused_ordinal(void) {
    trace_line(kTraceFile, "an ordinal without a function was called");
    set_file_error(kNotSupported);
    return 0;
}

} // extern "C"

namespace {

template <typename Fn> BxmlSlot entry(Fn fn) {
    return reinterpret_cast<BxmlSlot>(fn);
}

} // namespace

extern "C" {

const BxmlSlot bxml32_ordinals[BXML_ORDINAL_COUNT] = {
    nullptr,
    entry(&bxml_create_element),
    entry(&bxml_free_element),
    entry(&bxml_set_hash_entry),
    entry(&bxml_hash_entry),
    entry(&bxml_first_child),
    entry(&bxml_next_sibling),
    entry(&bxml_previous_sibling),
    entry(&bxml_parent),
    entry(&bxml_element_name),
    entry(&bxml_element_text),
    entry(&bxml_last_position),
    entry(&bxml_occurrence),
    entry(&bxml_attribute_count),
    entry(&bxml_attribute_name),
    entry(&bxml_attribute_value),
    entry(&bxml_element_error),
    entry(&bxml_replace_text),
    entry(&bxml_append_text),
    entry(&bxml_set_attribute_value),
    entry(&bxml_add_child),
    entry(&bxml_add_sibling),
    entry(&bxml_add_attribute),
    entry(&bxml_delete_attribute),
    entry(&bxml_append_comment),
    entry(&bxml_clear_comments),
    entry(&bxml_comments),
    entry(&bxml_write_element),
    entry(&bxml_trace_element),
    nullptr,                     // 29
    entry(&bxml_unused_ordinal), // 30 to 40
    entry(&bxml_unused_ordinal),
    entry(&bxml_unused_ordinal),
    entry(&bxml_unused_ordinal),
    entry(&bxml_unused_ordinal),
    entry(&bxml_unused_ordinal),
    entry(&bxml_unused_ordinal),
    entry(&bxml_unused_ordinal),
    entry(&bxml_unused_ordinal),
    entry(&bxml_unused_ordinal),
    entry(&bxml_unused_ordinal),
    entry(&bxml_parser_open),
    entry(&bxml_is_parser),
    entry(&bxml_root_element),
    entry(&bxml_doctype_name),
    entry(&bxml_element_declarations),
    entry(&bxml_create_root),
    entry(&bxml_next_record),
    entry(&bxml_current_element),
    entry(&bxml_parser_free),
    entry(&bxml_parser_save),
    entry(&bxml_add_top_comment),
    entry(&bxml_clear_top_comments),
    entry(&bxml_top_comments),
    entry(&bxml_parser_error),
};

} // extern "C"
