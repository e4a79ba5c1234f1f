// The copybook search: where the copybook of a layout lies (BRELRT_XFD_DIR,
// then the COBCPY folders with cobc's suffixes and name cases), passing over
// what is not a copybook, and reading the one found.
#include "copybook_internal.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brelrt::copybook {
namespace {

// What a path found in the search holds: nothing, a copybook (a regular file
// that begins as text), or something else, which `what` says and the
// search passes over: a program named like its copybook lies beside it.
enum class Found { kNothing, kCopybook, kOther };

Found look_at(const std::string& path, std::string& what) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return Found::kNothing;
    if (!S_ISREG(st.st_mode)) {
        what = S_ISDIR(st.st_mode)    ? "a folder"
               : S_ISFIFO(st.st_mode) ? "a FIFO"
               : S_ISSOCK(st.st_mode) ? "a socket"
                                      : "a device";
        return Found::kOther;
    }
    // The first bytes tell a program or other binary file from text.
    brelrt::Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    char head[512];
    ssize_t n = file.fd < 0 ? -1 : ::read(file.fd, head, sizeof head);
    if (n < 0)
        return Found::kCopybook; // read_copybook says why it cannot be read
    if (n >= 4 && std::memcmp(head,
                              "\x7f"
                              "ELF",
                              4) == 0) {
        what = "a program (ELF)";
        return Found::kOther;
    }
    if (std::memchr(head, '\0', static_cast<size_t>(n))) {
        what = "not a text file";
        return Found::kOther;
    }
    return Found::kCopybook;
}

// The suffixes cobc tries, in its order, for a copybook named without one,
// after the layout's own ".xfd".
const char* const copybook_suffixes[] = {".xfd", "",     ".CPY", ".CBL",
                                         ".COB", ".cpy", ".cbl", ".cob"};

std::vector<std::string> split_folders(const std::string& list) {
    std::vector<std::string> folders;
    for (size_t start = 0; start <= list.size();) {
        size_t end = std::min(list.find(':', start), list.size());
        if (end > start)
            folders.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

// A folder as a prefix of the paths in it.
std::string with_slash(std::string folder) {
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

// "a", "a or b", "a, b or c".
std::string one_of(const std::vector<std::string>& words) {
    std::string text;
    for (size_t k = 0; k < words.size(); ++k)
        text += (k == 0 ? "" : k + 1 == words.size() ? " or " : ", ") + words[k];
    return text;
}

// The paths passed over that the last error names; more are counted.
constexpr size_t shown_passed = 4;

} // namespace

// The whole file, or false (with the reason as the last error): a regular
// file of at most BRELRT_FILE_SIZE_MAX bytes.
bool read_copybook(const std::string& path, std::string& text) {
    std::string why;
    if (!brelrt::read_whole_file(path, BRELRT_FILE_SIZE_MAX, text, why)) {
        set_error(brelrt::excerpt(path, 200) + ": cannot be read: " + why);
        return false;
    }
    return true;
}

// The copybook of a layout: <name>.xfd in BRELRT_XFD_DIR (default "."),
// else along the folders of COBCPY (separated by ":"), in each folder with
// the suffixes in turn (".xfd", then cobc's). Each time the name is tried
// as given, in lower case, then in upper case. What is not a copybook (a
// program, a FIFO, a folder) is passed over. "" when there is none, with
// every place looked at, and what was passed over, as the last error.
std::string find_copybook(const std::string& name) {
    std::vector<std::string> names{name};
    for (bool lower : {true, false}) {
        std::string other = name;
        for (char& c : other)
            if (lower && c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            else if (!lower && c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        if (std::find(names.begin(), names.end(), other) == names.end())
            names.push_back(other);
    }
    std::string passed; // "; passed over: <path> (what it is), ..."
    std::vector<std::string> passed_paths;
    auto copybook = [&](const std::string& path) {
        std::string what;
        Found found = look_at(path, what);
        if (found == Found::kOther &&
            std::find(passed_paths.begin(), passed_paths.end(), path) == passed_paths.end()) {
            passed_paths.push_back(path);
            if (passed_paths.size() <= shown_passed)
                passed += (passed.empty() ? "; passed over: " : ", ") + brelrt::excerpt(path, 200) +
                          " (" + what + ")";
        }
        return found == Found::kCopybook;
    };
    std::string dir = brelrt::env("BRELRT_XFD_DIR");
    dir = with_slash(dir.empty() ? std::string(".") : dir);
    for (const std::string& n : names)
        if (std::string path = dir + n + ".xfd"; copybook(path))
            return path;
    std::vector<std::string> folders = split_folders(brelrt::env("COBCPY"));
    for (const std::string& listed : folders) {
        std::string folder = with_slash(listed);
        for (const char* suffix : copybook_suffixes)
            for (const std::string& n : names)
                if (std::string path = folder + n + suffix; copybook(path))
                    return path;
    }
    // "<dir>/<name>.xfd: no such layout (nor ...; nor ... in COBCPY ...)".
    std::string shown_dir = brelrt::excerpt(dir, 200);
    std::string others, along;
    std::vector<std::string> tried, suffixes;
    for (size_t k = 0; k < names.size(); ++k) {
        if (k > 0)
            others += (k > 1 ? ", " : "nor ") + shown_dir + brelrt::excerpt(names[k]) + ".xfd";
        tried.push_back(brelrt::excerpt(names[k]));
    }
    for (const char* suffix : copybook_suffixes)
        suffixes.push_back(*suffix ? suffix : "no suffix");
    if (folders.empty()) {
        along = "COBCPY not set";
    } else {
        along = "nor " + one_of(tried) + " with " + one_of(suffixes) + " in ";
        along += folders.size() == 1 ? "the COBCPY folder " : "the COBCPY folders ";
        constexpr size_t named = 8;
        for (size_t k = 0; k < folders.size() && k < named; ++k)
            along += (k ? ", " : "") + brelrt::excerpt(folders[k], 60);
        if (folders.size() > named)
            along += brelrt::format(" and %zu more", folders.size() - named);
    }
    if (passed_paths.size() > shown_passed)
        passed += brelrt::format(" and %zu more", passed_paths.size() - shown_passed);
    set_missing(shown_dir + brelrt::excerpt(name) + ".xfd: no such layout (" +
                (others.empty() ? "" : others + "; ") + along + passed + ")");
    return std::string();
}

} // namespace brelrt::copybook
