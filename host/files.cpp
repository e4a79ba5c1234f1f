// File streams with COBOL-style name translation, file operations, layout
// names and today's date.
#include "internal.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// An environment mapping for a bare name, as GnuCOBOL does it: DD_name,
// dd_name, then name itself.
const char* mapped(const std::string& name) {
    if (name.empty())
        return nullptr;
    for (const char* prefix : {"DD_", "dd_", ""}) {
        std::string var = std::string(prefix) + name;
        if (const char* v = std::getenv(var.c_str()); v && *v)
            return v;
    }
    return nullptr;
}

std::string translate(const std::string& name) {
    if (name.empty())
        return name;
    if (name.find('/') == std::string::npos) {
        if (const char* v = mapped(name))
            return v;
        std::string path = brelrt::env("COB_FILE_PATH");
        if (!path.empty()) {
            if (path.back() != '/')
                path += '/';
            return path + name;
        }
        return name;
    }
    // "$VAR/rest" or "VAR/rest" with VAR set: the first part is expanded.
    size_t slash = name.find('/');
    if (slash == 0)
        return name;
    std::string first = name.substr(0, slash);
    if (first[0] == '$') {
        if (const char* v = std::getenv(first.c_str() + 1))
            return std::string(v) + name.substr(slash);
        return name;
    }
    if (first != "." && first != "..")
        if (const char* v = mapped(first))
            return std::string(v) + name.substr(slash);
    return name;
}

int fail_with_errno() {
    *brelrt_secondary_error() = errno;
    return -1;
}

} // namespace

char* brelrt_translate_name(const char* name) {
    if (!name)
        return nullptr;
    return brelrt_strdup(translate(name).c_str(), "host/files", __LINE__, "translated file name");
}

FILE* brelrt_fopen(const char* name, const char* mode, int translate_name) {
    if (!name || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    std::string real = translate_name ? translate(name) : std::string(name);
    FILE* f = std::fopen(real.c_str(), mode);
    if (*brelrt_trace_level() >= 5)
        brelrt_trace(0, 5,
                     brelrt::format("open '%s' as '%s' (%s): %s", name, real.c_str(), mode,
                                    f ? "ok" : std::strerror(errno))
                         .c_str());
    return f;
}

int brelrt_fclose(FILE* stream) {
    return stream ? std::fclose(stream) : EOF;
}

int brelrt_fprintf(FILE* stream, const char* format, ...) {
    if (!stream || !format)
        return -1;
    va_list args;
    va_start(args, format);
    int n = std::vfprintf(stream, format, args);
    va_end(args);
    return n;
}

size_t brelrt_fread(FILE* stream, void* buffer, size_t n) {
    if (!stream || !buffer)
        return 0;
    return std::fread(buffer, 1, n, stream);
}

int brelrt_remove(const char* name) {
    return name ? std::remove(name) : -1;
}

char* brelrt_layout_name(const char* file_name, char* out, size_t size) {
    if (!out || size == 0)
        return out;
    std::string name = file_name ? file_name : "";
    size_t slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    size_t n = std::min(name.size(), size - 1);
    std::memcpy(out, name.data(), n);
    out[n] = '\0';
    return out;
}

int32_t brelrt_today(void) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

int f_remove(const char* name) {
    if (!name)
        return -1;
    return std::remove(translate(name).c_str()) == 0 ? 0 : fail_with_errno();
}

int f_rename(const char* from, const char* to) {
    if (!from || !to)
        return -1;
    return std::rename(translate(from).c_str(), translate(to).c_str()) == 0 ? 0 : fail_with_errno();
}

int f_copy(const char* from, const char* to) {
    if (!from || !to)
        return -1;
    std::string src_name = translate(from), dst_name = translate(to);
    FILE* src = std::fopen(src_name.c_str(), "rb");
    if (!src)
        return fail_with_errno();
    // Written beside the target and renamed over it, so a failed copy leaves
    // the old target whole.
    std::string temp = dst_name + ".brelrt-tmp";
    FILE* dst = std::fopen(temp.c_str(), "wb");
    if (!dst) {
        int e = errno;
        std::fclose(src);
        errno = e;
        return fail_with_errno();
    }
    char buffer[8192];
    bool ok = true;
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, src)) > 0)
        if (std::fwrite(buffer, 1, n, dst) != n) {
            ok = false;
            break;
        }
    if (std::ferror(src))
        ok = false;
    int e = errno;
    std::fclose(src);
    if (std::fclose(dst) != 0)
        ok = false;
    if (ok && std::rename(temp.c_str(), dst_name.c_str()) == 0)
        return 0;
    e = errno ? errno : e;
    std::remove(temp.c_str());
    errno = e;
    return fail_with_errno();
}
