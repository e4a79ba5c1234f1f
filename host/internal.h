// Shared inside libbrelrt only.
#pragma once

// Everything declared in the public header is exported; the rest is hidden.
#pragma GCC visibility push(default)
#include "brelrt.h"
#pragma GCC visibility pop

#include <cstdarg>

#include <string>
#include <string_view>
#include <utility>

namespace brelrt {

// Formats into a std::string (vsnprintf, any length).
std::string vformat(const char* format, va_list args);
std::string format(const char* format, ...) BRELRT_PRINTF(1, 2);

// At most `most` bytes of a text from outside (a copybook, a URL), for a
// message: longer ones are cut and end in "...".
inline std::string excerpt(std::string_view text, size_t most = 40) {
    return text.size() <= most ? std::string(text) : std::string(text.substr(0, most)) + "...";
}

// Value of an environment variable or "" when unset.
std::string env(const char* name);
bool env_set(const char* name);

// Yes/no parsing shared by configuration and the host's own variables:
// 1 yes, 0 no, -1 not a yes/no word.
int parse_yes_no(const std::string& text);
int parse_yes_no(const char* text); // allocates nothing

// Reports a problem of the host itself: trace at level 1, and standard error
// when trace is off.
void report(const std::string& line);

// True when `p` is a live block of the tracked allocator (every one has room
// for at least 16 bytes). Never dereferences a pointer it does not know.
bool tracked_block(const void* p);

// Compares the numeric value of a field with a numeric text: -1, 0, 1, or -2
// when either is not a valid number.
int compare_numeric(const FieldDescriptor& field, const char* literal);

// brelrt_config_number for the host's own use: a shortage throws.
long config_number(const char* name);

// The whole of a regular file of at most `cap` bytes into `text` (a shortage
// throws, never shortens it). The file is opened without blocking, so a FIFO
// never holds the caller, and at most cap + 1 bytes are read whatever the
// file does meanwhile. False, with `text` empty and a short reason in `why`
// ("a FIFO, not a regular file", "20000000 bytes, more than 16777216", or
// the system's message), when it cannot be read whole.
bool read_whole_file(const std::string& path, size_t cap, std::string& text, std::string& why);

// Calls fn(line, number) for each line of a text, without its line end (LF
// or CR LF), numbered from 1. No copy of the text is made.
template <typename Fn> void each_line(std::string_view text, Fn&& fn) {
    int number = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        size_t stop = end > start && text[end - 1] == '\r' ? end - 1 : end;
        fn(text.substr(start, stop - start), ++number);
        start = end + 1;
    }
}

// Closes a descriptor when it goes out of scope, so that an exception
// cannot leave one open.
struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int f) : fd(f) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor();
    int release() {
        int f = fd;
        fd = -1;
        return f;
    }
};

// The value of one environment variable, as getenv finds it, without
// scanning the whole environment on every lookup: where the variable was
// found (or that it was not) is trusted for as long as the environment
// shows no change there. An entry found stays valid while the same array
// holds the same string at its place (setenv puts a new string in, unsetenv
// moves later entries down); an absence while the same array holds the same
// number of entries with the same last one (setenv and putenv append,
// unsetenv moves entries down). The name is copied.
class EnvironmentValue {
public:
    explicit EnvironmentValue(std::string name) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }

    // "value" of "NAME=value", or null when the variable is not set.
    const char* get();

private:
    bool known(char** env) const;
    void look(char** env);

    std::string name_;
    char** env_ = nullptr;
    size_t index_ = 0;            // of the entry, or of the array's end when absent
    const char* entry_ = nullptr; // "NAME=value"; null when absent
    const char* last_ = nullptr;  // the last entry, when absent
};

// A shortage of memory inside a C entry: the file-error word becomes 14 and
// a fixed line goes to the trace. Allocates nothing, throws nothing.
void shortage() noexcept;

// Runs `body` so that no C++ exception leaves a C entry: an exception (a
// shortage of memory, std::bad_alloc, in practice) gives `failed` after
// shortage().
template <typename R, typename Body> R guarded(R failed, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        shortage();
        return failed;
    }
}

template <typename Body> void guarded_void(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
        shortage();
    }
}

} // namespace brelrt
