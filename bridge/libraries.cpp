// Loading libbrelrt.so and libbxml32.so beside the handler, by their
// versioned names (BXMLFH_HOST_LIBRARY, BXMLFH_PLUGIN_LIBRARY), as a runtime
// loads its host and its plug-in.
#include "libraries.h"

#include "bxmlfh.h"
#include "files.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace extfh {

namespace {

enum class Load { kNotYet, kDone, kFailed };

Load g_load = Load::kNotYet;
Host g_host{};
Plugin g_plugin{};
char g_failure[512] = "";
char g_binary_size[16] = "";

// The handler's own variable; the per-ASSIGN layout names are looked up by
// name only (any name may be set).
const BrelrtConfigEntry kConfig[] = {
    {"BXMLFH_SUFFIX", BRELRT_CFG_TEXT, 0, ".xml", 0, 0, 0},
    {"BXMLFH_STRICT", BRELRT_CFG_YES_NO, 0, nullptr, 0, 0, 0},
    {"BXMLFH_HOLD", BRELRT_CFG_YES_NO, 0, nullptr, 0, 0, 0},
};

// The folder of this library, with its "/", into `out`; false when the
// loader cannot tell.
bool own_folder(char* out, size_t size) {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&bxmlfh), &info) || !info.dli_fname)
        return false;
    const char* slash = std::strrchr(info.dli_fname, '/');
    size_t n = slash ? static_cast<size_t>(slash - info.dli_fname) + 1 : 0;
    if (n >= size)
        return false;
    std::memcpy(out, info.dli_fname, n);
    out[n] = '\0';
    return true;
}

void* open_library(const char* folder, const char* name) {
    char path[4096];
    if (std::snprintf(path, sizeof path, "%s%s", folder, name) >= static_cast<int>(sizeof path)) {
        std::snprintf(g_failure, sizeof g_failure, "cannot load %s: its folder's name is too long",
                      name);
        return nullptr;
    }
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        std::snprintf(g_failure, sizeof g_failure, "cannot load %s: %s", name, why ? why : "");
    }
    return handle;
}

// Each symbol of `library` into its pointer; false naming the first missing.
template <typename Fn> bool take(void* handle, const char* library, const char* name, Fn& out) {
    out = reinterpret_cast<Fn>(dlsym(handle, name));
    if (!out)
        std::snprintf(g_failure, sizeof g_failure,
                      "%s has no function %s: not the one built with "
                      "this handler",
                      library, name);
    return out != nullptr;
}

bool load_host(void* h) {
    const char* lib = BXMLFH_HOST_LIBRARY;
    return take(h, lib, "brelrt_alloc", g_host.alloc) && take(h, lib, "brelrt_free", g_host.free) &&
           take(h, lib, "brelrt_strdup", g_host.strdup) &&
           take(h, lib, "brelrt_translate_name", g_host.translate_name) &&
           take(h, lib, "brelrt_layout_name", g_host.layout_name) &&
           take(h, lib, "brelrt_config_text", g_host.config_text) &&
           take(h, lib, "brelrt_config_register", g_host.config_register) &&
           take(h, lib, "brelrt_file_error", g_host.file_error) &&
           take(h, lib, "brelrt_secondary_error", g_host.secondary_error) &&
           take(h, lib, "brelrt_error_text", g_host.error_text) &&
           take(h, lib, "brelrt_set_error_text", g_host.set_error_text) &&
           take(h, lib, "brelrt_xfd_last_error", g_host.xfd_last_error) &&
           take(h, lib, "brelrt_xfd_last_file", g_host.xfd_last_file) &&
           take(h, lib, "B4ParseXFD", g_host.parse_layout) &&
           take(h, lib, "B4XFDFree", g_host.free_layout) &&
           take(h, lib, "Bconvert", g_host.convert) &&
           take(h, lib, "brelrt_set_binary_size", g_host.set_binary_size) &&
           take(h, lib, "brelrt_config_yes_no", g_host.config_yes_no) &&
           take(h, lib, "brelrt_config_valid", g_host.config_valid) &&
           take(h, lib, "brelrt_report_to_stderr", g_host.report_to_stderr);
}

// The plug-in's dispatch table and named functions, its host entries set by
// name from the host library and its configuration registered.
bool load_plugin(void* h, void* host_handle) {
    const char* lib = BXMLFH_PLUGIN_LIBRARY;
    decltype(&GetDispatchTable) get_table = nullptr;
    BxmlSlot* table = nullptr;
    if (!take(h, lib, "GetDispatchTable", get_table) || get_table(&table) != 0 || !table) {
        if (get_table)
            std::snprintf(g_failure, sizeof g_failure, "%s gave no dispatch table", lib);
        return false;
    }
    auto set_entry = reinterpret_cast<BxmlSetHostEntryFn>(table[BXML_SLOT_SET_HOST_ENTRY]);
    auto register_config = reinterpret_cast<BxmlRegisterConfigFn>(table[BXML_SLOT_REGISTER_CONFIG]);
    g_plugin.sopen = reinterpret_cast<BxmlSopenFn>(table[BXML_SLOT_SOPEN]);
    g_plugin.sclose = reinterpret_cast<BxmlScloseFn>(table[BXML_SLOT_SCLOSE]);
    g_plugin.sread = reinterpret_cast<BxmlSreadFn>(table[BXML_SLOT_SREAD]);
    g_plugin.swrite = reinterpret_cast<BxmlSwriteFn>(table[BXML_SLOT_SWRITE]);
    if (!set_entry || !register_config || !g_plugin.sopen || !g_plugin.sclose || !g_plugin.sread ||
        !g_plugin.swrite) {
        std::snprintf(g_failure, sizeof g_failure, "%s's dispatch table lacks a file operation",
                      lib);
        return false;
    }
    if (!take(h, lib, "xml_sabandon", g_plugin.sabandon) ||
        !take(h, lib, "xml_record_item", g_plugin.record_item) ||
        !take(h, lib, "xml_swrite_as", g_plugin.swrite_as) ||
        !take(h, lib, "xml_sflush", g_plugin.sflush) ||
        !take(h, lib, "xml_swritten", g_plugin.swritten) ||
        !take(h, lib, "xml_sread_record", g_plugin.sread_record) ||
        !take(h, lib, "xml_record_length", g_plugin.record_length) ||
        !take(h, lib, "xml_set_notice", g_plugin.set_notice))
        return false;
#define BXMLFH_SET_ENTRY(name) set_entry(#name, dlsym(host_handle, #name));
    BRELRT_HOST_ENTRY_LIST(BXMLFH_SET_ENTRY)
#undef BXMLFH_SET_ENTRY
    if (const char* missing = static_cast<const char*>(set_entry(nullptr, nullptr))) {
        std::snprintf(g_failure, sizeof g_failure, "%s has no host entry %s", BXMLFH_HOST_LIBRARY,
                      missing);
        return false;
    }
    register_config();
    return true;
}

void load() {
    g_load = Load::kFailed;
    char folder[4096];
    if (!own_folder(folder, sizeof folder)) {
        std::snprintf(g_failure, sizeof g_failure,
                      "cannot tell the folder of libbxmlfh.so, where libbrelrt.so and "
                      "libbxml32.so are");
        return;
    }
    // The host first: the plug-in's own link to it finds it loaded.
    void* host_handle = open_library(folder, BXMLFH_HOST_LIBRARY);
    if (!host_handle || !load_host(host_handle))
        return;
    g_host.config_register(kConfig, sizeof kConfig / sizeof kConfig[0], 0);
    if (g_binary_size[0] && !g_host.set_binary_size(g_binary_size)) {
        std::snprintf(g_failure, sizeof g_failure,
                      "the program's binary-size rule '%s' is not one the host knows",
                      g_binary_size);
        return;
    }
    void* plugin_handle = open_library(folder, BXMLFH_PLUGIN_LIBRARY);
    if (!plugin_handle || !load_plugin(plugin_handle, host_handle))
        return;
    g_failure[0] = '\0';
    g_load = Load::kDone;
    // After the libraries, so that it runs before anything they left to run
    // at exit.
    install_exit_hook();
}

} // namespace

const Host* host() {
    if (g_load == Load::kNotYet)
        load();
    return g_load == Load::kDone ? &g_host : nullptr;
}

const Plugin* plugin() {
    return host() ? &g_plugin : nullptr;
}

const char* load_failure() {
    return g_failure;
}

} // namespace extfh

extern "C" void bxmlfh_binary_size(const char* rule) {
    if (rule)
        std::snprintf(extfh::g_binary_size, sizeof extfh::g_binary_size, "%s", rule);
}
