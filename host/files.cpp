// File streams with COBOL-style name translation, file operations, layout
// names and today's date.
#include "internal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The value GnuCOBOL's runtime gives a part of a file name: the environment
// variable DD_<part>, dd_<part> or <part>, the first that is set and not
// empty, a "." in the part read as "_". None for a part that begins with ".",
// nor for any part when `lookups` is off (a name that begins with "-" or a
// digit).
const char* environment_value(std::string_view part, bool lookups) {
    if (!lookups || part.empty() || part[0] == '.')
        return nullptr;
    std::string key(part);
    std::replace(key.begin(), key.end(), '.', '_');
    for (const char* prefix : {"DD_", "dd_", ""}) {
        std::string var = prefix + key;
        if (const char* v = std::getenv(var.c_str()); v && *v)
            return v;
    }
    return nullptr;
}

bool separator(char c) {
    return c == '/' || c == '\\';
}

// A name as GnuCOBOL 3.1's runtime maps an ASSIGN name before it opens the
// file. A name without a separator ("/" or "\\"), less a leading "$", is
// looked up as above and replaced by its value, else kept as written. In a
// name with separators, the first part is looked up the same way; a first
// part written "$VAR" that is not set is left out, with the separator after
// it. Each later part written "$VAR" is replaced by its value (left out when
// not set), and the separator after it is dropped, as the runtime does. The
// parts are joined by "/", empty parts dropped. A result that does not begin
// with "/" is then put in the folder COB_FILE_PATH when that is set.
std::string translate(const std::string& name) {
    if (name.empty())
        return name;
    bool lookups = name[0] != '-' && !std::isdigit(static_cast<unsigned char>(name[0]));
    std::string result;
    std::string_view rest(name);
    bool dollar = rest[0] == '$';
    if (dollar)
        rest.remove_prefix(1);
    if (std::find_if(rest.begin(), rest.end(), separator) == rest.end()) {
        const char* v = environment_value(rest, lookups);
        result = v ? v : name;
    } else {
        auto next_part = [&rest] {
            while (!rest.empty() && separator(rest[0]))
                rest.remove_prefix(1);
            size_t n = static_cast<size_t>(std::find_if(rest.begin(), rest.end(), separator) -
                                           rest.begin());
            std::string_view part = rest.substr(0, n);
            rest.remove_prefix(n);
            return part;
        };
        bool first = true;
        if (separator(rest[0])) {
            result = "/";
            dollar = false;
        } else {
            std::string_view part = next_part();
            if (const char* v = environment_value(part, lookups)) {
                result = v;
                dollar = false;
            } else if (!dollar) {
                result = part;
            }
            first = false;
        }
        for (std::string_view part = next_part(); !part.empty(); part = next_part()) {
            if (!first && !std::exchange(dollar, false))
                result += '/';
            first = false;
            if (part[0] == '$') {
                if (const char* v = environment_value(part.substr(1), lookups))
                    result += v;
                dollar = true;
            } else {
                result += part;
            }
        }
    }
    std::string folder = brelrt::env("COB_FILE_PATH");
    if (!folder.empty() && (result.empty() || result[0] != '/'))
        result = folder + "/" + result;
    return result;
}

int fail_with_errno() {
    *brelrt_secondary_error() = errno;
    return -1;
}

// Copies `from` to `to` through a temporary file of its own beside the
// target, renamed over it at the end, so that a failed copy leaves the old
// target whole and two copies at the same time never share a temporary.
int copy_file(const std::string& src_name, const std::string& dst_name) {
    // O_NONBLOCK: a FIFO without a writer is refused at once, not waited for.
    int src = ::open(src_name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (src < 0)
        return fail_with_errno();
    struct stat st {};
    if (fstat(src, &st) != 0 || !S_ISREG(st.st_mode)) {
        int e = st.st_mode == 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(src);
        errno = e;
        return fail_with_errno();
    }
    std::string temp = dst_name + ".XXXXXX";
    int dst = mkostemp(temp.data(), O_CLOEXEC);
    if (dst < 0) {
        int e = errno;
        ::close(src);
        errno = e;
        return fail_with_errno();
    }
    // The new file gets the source's permissions, less the umask, as cp gives.
    mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(dst, st.st_mode & 0777 & ~mask) == 0;
    char buffer[65536];
    while (ok) {
        ssize_t n = ::read(src, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            ssize_t w = ::write(dst, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            ok = w > 0;
            if (ok)
                done += w;
        }
    }
    int e = errno;
    ::close(src);
    if (::close(dst) != 0 && ok) {
        ok = false;
        e = errno;
    }
    if (ok && std::rename(temp.c_str(), dst_name.c_str()) == 0)
        return 0;
    if (ok)
        e = errno;
    ::unlink(temp.c_str());
    errno = e ? e : EIO;
    return fail_with_errno();
}

} // namespace

namespace brelrt {

Descriptor::~Descriptor() {
    if (fd >= 0)
        ::close(fd);
}

bool read_whole_file(const std::string& path, size_t cap, std::string& text, std::string& why) {
    text.clear();
    // O_NONBLOCK: opening a FIFO without a writer returns at once.
    Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (file.fd < 0 || fstat(file.fd, &st) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = std::string(S_ISDIR(st.st_mode)    ? "a folder"
                          : S_ISFIFO(st.st_mode) ? "a FIFO"
                          : S_ISSOCK(st.st_mode) ? "a socket"
                                                 : "a device") +
              ", not a regular file";
        return false;
    }
    if (static_cast<uintmax_t>(st.st_size) > cap) {
        why = format("%jd bytes, more than %zu", static_cast<intmax_t>(st.st_size), cap);
        return false;
    }
    // The size may change meanwhile (or be 0 for a file of /proc): the reads
    // stop one byte past the cap whatever they find.
    text.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    while (text.size() <= cap) {
        ssize_t n = ::read(file.fd, buffer, std::min(sizeof buffer, cap + 1 - text.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = std::strerror(errno);
            text.clear();
            return false;
        }
        if (n == 0)
            return true;
        text.append(buffer, static_cast<size_t>(n));
    }
    why = format("more than %zu bytes", cap);
    text.clear();
    return false;
}

} // namespace brelrt

char* brelrt_translate_name(const char* name) {
    if (!name)
        return nullptr;
    return brelrt::guarded<char*>(nullptr, [&] {
        return brelrt_strdup(translate(name).c_str(), "host/files", __LINE__,
                             "translated file name");
    });
}

FILE* brelrt_fopen(const char* name, const char* mode, int translate_name) {
    if (!name || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    return brelrt::guarded<FILE*>(nullptr, [&] {
        std::string real = translate_name ? translate(name) : std::string(name);
        FILE* f = std::fopen(real.c_str(), mode);
        int e = errno;
        if (*brelrt_trace_level() >= 5)
            brelrt_trace(0, 5,
                         brelrt::format("open '%s' as '%s' (%s): %s", name, real.c_str(), mode,
                                        f ? "ok" : std::strerror(e))
                             .c_str());
        errno = e;
        return f;
    });
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
    const char* name = file_name ? file_name : "";
    if (const char* slash = std::strrchr(name, '/'))
        name = slash + 1;
    size_t n = std::strlen(name);
    if (const char* dot = std::strrchr(name, '.'); dot && dot > name)
        n = static_cast<size_t>(dot - name);
    n = std::min(n, size - 1);
    std::memcpy(out, name, n);
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
    return brelrt::guarded(
        -1, [&] { return std::remove(translate(name).c_str()) == 0 ? 0 : fail_with_errno(); });
}

int f_rename(const char* from, const char* to) {
    if (!from || !to)
        return -1;
    return brelrt::guarded(-1, [&] {
        return std::rename(translate(from).c_str(), translate(to).c_str()) == 0 ? 0
                                                                                : fail_with_errno();
    });
}

int f_copy(const char* from, const char* to) {
    if (!from || !to)
        return -1;
    return brelrt::guarded(-1, [&] { return copy_file(translate(from), translate(to)); });
}
