// The host library and the plug-in as the handler reaches them: loaded with
// dlopen from the handler's own folder on first use, the plug-in given its
// host entries and its configuration, every function the handler calls
// taken by name.
#pragma once

#include "brelrt.h"
#include "bxml32.h"

namespace extfh {

// Module path of every tracked allocation of the handler.
inline constexpr const char* kModule = "host/extfh";

// libbrelrt.so: what the handler itself calls.
struct Host {
    decltype(&brelrt_alloc) alloc;
    decltype(&brelrt_free) free;
    decltype(&brelrt_strdup) strdup;
    decltype(&brelrt_translate_name) translate_name;
    decltype(&brelrt_layout_name) layout_name;
    decltype(&brelrt_config_text) config_text;
    decltype(&brelrt_config_register) config_register;
    decltype(&brelrt_file_error) file_error;
    decltype(&brelrt_secondary_error) secondary_error;
    decltype(&brelrt_error_text) error_text;
    decltype(&brelrt_set_error_text) set_error_text;
    decltype(&brelrt_xfd_last_error) xfd_last_error;
    decltype(&brelrt_xfd_last_file) xfd_last_file;
    decltype(&B4ParseXFD) parse_layout;
    decltype(&B4XFDFree) free_layout;
    decltype(&Bconvert) convert;
    decltype(&brelrt_set_binary_size) set_binary_size;
    decltype(&brelrt_config_yes_no) config_yes_no;
    decltype(&brelrt_config_valid) config_valid;
    decltype(&brelrt_report_to_stderr) report_to_stderr;
};

// libbxml32.so: the file operations of its dispatch table, and what a
// runtime calls by name.
struct Plugin {
    BxmlSopenFn sopen;
    BxmlScloseFn sclose;
    BxmlSreadFn sread;
    BxmlSwriteFn swrite;
    BxmlSabandonFn sabandon;
    BxmlRecordItemFn record_item;
    BxmlSwriteAsFn swrite_as;
    BxmlSflushFn sflush;
    BxmlSwrittenFn swritten;
    BxmlSreadRecordFn sread_record;
    BxmlRecordLengthFn record_length;
    BxmlSetNoticeFn set_notice;
};

// The host, loaded on the first call (null when it cannot be: load_failure
// says why, naming the library). Loading it also registers the exit hook.
const Host* host();
// The plug-in, loaded with the host (null as above).
const Plugin* plugin();
// Why the last load failed ("" when nothing failed).
const char* load_failure();

} // namespace extfh
