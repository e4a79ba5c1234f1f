// Configuration variables: registered tables, values from the environment,
// the optional BRELRT_CONFIG file, or the registered default. Each lookup
// looks again; the file is read again only when it has changed.
#include "internal.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The host's own variables.
const BrelrtConfigEntry host_variables[] = {
    {"4GL_COLUMN_CASE", BRELRT_CFG_NUMBER, 0, nullptr, 0, 0, 0},
};

// The BRELRT_CONFIG file as last read, kept until the file changes.
struct FileCache {
    std::string path;
    bool present = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {};
    struct timespec changed {};
    std::map<std::string, std::string> values; // upper-case names
};

// What is known of one variable's name: where the environment holds it,
// its upper-case form for the file, and its registration. Kept by the
// address of the name the caller passes (a plug-in passes the same text at
// every lookup) and checked against a copy of the name, so a lookup scans
// neither the environment nor the registrations while they stay the same.
struct NameSlot {
    const char* address = nullptr;
    brelrt::EnvironmentValue environment{""};
    std::string upper;
    const BrelrtConfigEntry* entry = nullptr;
    unsigned generation = 0; // of the registrations `entry` was found in
};

struct ConfigState {
    std::map<std::string, BrelrtConfigEntry, std::less<>> entries;
    unsigned generation = 1;                   // changes with every registration and clear
    std::map<std::string, std::string> values; // storage behind returned texts
    FileCache file;
    brelrt::EnvironmentValue file_variable{"BRELRT_CONFIG"};
    NameSlot slots[64];
};

// Never destroyed; made again on the next use when a shortage stops it.
ConfigState& state() {
    static ConfigState* s = [] {
        auto c = std::make_unique<ConfigState>();
        for (const auto& e : host_variables)
            c->entries[e.name] = e;
        return c.release();
    }();
    return *s;
}

std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool same_time(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// "NAME value" or "NAME = value" lines; "#" and ";" begin comment lines; the
// last line for a name wins. A file that cannot be read whole, is no regular
// file or is larger than BRELRT_FILE_SIZE_MAX gives no values, and one line
// says why: the caller reads it again only when it changes.
void read_file(FileCache& cache) {
    cache.values.clear();
    std::string text, why;
    if (!brelrt::read_whole_file(cache.path, BRELRT_FILE_SIZE_MAX, text, why)) {
        brelrt::report("BRELRT_CONFIG " + cache.path + " not used: " + why);
        return;
    }
    brelrt::each_line(text, [&](std::string_view line, int) {
        std::string t = trim(std::string(line));
        if (t.empty() || t[0] == '#' || t[0] == ';')
            return;
        size_t sep = 0;
        while (sep < t.size() && !std::isspace(static_cast<unsigned char>(t[sep])) && t[sep] != '=')
            ++sep;
        std::string rest = trim(t.substr(sep));
        if (!rest.empty() && rest[0] == '=')
            rest = trim(rest.substr(1));
        cache.values[upper(t.substr(0, sep))] = rest;
    });
}

// The file's values, read again only when the file is another one or has
// changed since (its identity, size or times), so a lookup costs a stat.
const std::map<std::string, std::string>* file_values() {
    const char* path = state().file_variable.get();
    FileCache& cache = state().file;
    if (!path || !*path) {
        cache.present = false;
        cache.path.clear();
        return nullptr;
    }
    struct stat st {};
    if (::stat(path, &st) != 0) {
        cache.present = false;
        return nullptr;
    }
    if (!cache.present || cache.path != path || cache.device != st.st_dev ||
        cache.inode != st.st_ino || cache.size != st.st_size ||
        !same_time(cache.modified, st.st_mtim) || !same_time(cache.changed, st.st_ctim)) {
        cache.path = path;
        read_file(cache);
        cache.present = true;
        cache.device = st.st_dev;
        cache.inode = st.st_ino;
        cache.size = st.st_size;
        cache.modified = st.st_mtim;
        cache.changed = st.st_ctim;
    }
    return &cache.values;
}

NameSlot& slot_of(const char* name) {
    ConfigState& s = state();
    auto bits = reinterpret_cast<uintptr_t>(name);
    NameSlot& slot = s.slots[(bits ^ bits >> 7) % std::size(s.slots)];
    if (slot.address != name || slot.environment.name() != name) {
        slot.address = name;
        slot.environment = brelrt::EnvironmentValue(name);
        slot.upper = upper(name);
        slot.generation = 0;
    }
    if (slot.generation != s.generation) {
        auto it = s.entries.find(std::string_view(name));
        slot.entry = it == s.entries.end() ? nullptr : &it->second;
        slot.generation = s.generation;
    }
    return slot;
}

// The value from the environment, else from the BRELRT_CONFIG file; null
// when neither has one. Zero-terminated; valid until the next lookup.
const char* raw_value(NameSlot& slot) {
    if (const char* v = slot.environment.get())
        return v;
    const auto* values = file_values();
    if (!values)
        return nullptr;
    auto it = values->find(slot.upper);
    return it == values->end() ? nullptr : it->second.c_str();
}

// The keyword of a keyword variable that `value` names (case ignored); null
// when none.
const BrelrtKeyword* find_keyword(const BrelrtConfigEntry& e, const char* value) {
    std::string t = trim(value);
    const auto* keywords = static_cast<const BrelrtKeyword*>(e.pointer);
    for (int i = 0; keywords && i < e.keyword_count; ++i)
        if (keywords[i].name && strcasecmp(keywords[i].name, t.c_str()) == 0)
            return &keywords[i];
    return nullptr;
}

} // namespace

namespace brelrt {

int parse_yes_no(const std::string& text) {
    return parse_yes_no(text.c_str());
}

int parse_yes_no(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    size_t n = std::strlen(text);
    while (n > 0 && std::isspace(static_cast<unsigned char>(text[n - 1])))
        --n;
    static const char* yes[] = {"yes", "true", "on", "1", "y"};
    static const char* no[] = {"no", "false", "off", "0", "n"};
    for (const char* w : yes)
        if (std::strlen(w) == n && strncasecmp(text, w, n) == 0)
            return 1;
    for (const char* w : no)
        if (std::strlen(w) == n && strncasecmp(text, w, n) == 0)
            return 0;
    return -1;
}

const char* EnvironmentValue::get() {
    char** env = environ;
    if (!known(env))
        look(env);
    return entry_ ? entry_ + name_.size() + 1 : nullptr;
}

bool EnvironmentValue::known(char** env) const {
    if (!env || env != env_)
        return false;
    if (entry_)
        return env[index_] == entry_;
    return env[index_] == nullptr && (index_ == 0 || env[index_ - 1] == last_);
}

void EnvironmentValue::look(char** env) {
    env_ = env;
    entry_ = nullptr;
    last_ = nullptr;
    index_ = 0;
    if (!env)
        return;
    for (; env[index_]; ++index_)
        if (std::strncmp(env[index_], name_.c_str(), name_.size()) == 0 &&
            env[index_][name_.size()] == '=') {
            entry_ = env[index_];
            return;
        }
    last_ = index_ ? env[index_ - 1] : nullptr;
}

} // namespace brelrt

int brelrt_config_register(const BrelrtConfigEntry* table, int count, int /*flags*/) {
    if (!table || count < 0)
        return 0;
    return brelrt::guarded(0, [&] {
        ConfigState& s = state();
        for (int i = 0; i < count; ++i)
            if (table[i].name)
                s.entries[table[i].name] = table[i];
        ++s.generation;
        return 1;
    });
}

void brelrt_config_clear(void) {
    brelrt::guarded_void([] {
        ConfigState& s = state();
        s.entries.clear();
        for (const auto& e : host_variables)
            s.entries[e.name] = e;
        ++s.generation;
    });
}

const char* brelrt_config_text(const char* name) {
    if (!name)
        return nullptr;
    return brelrt::guarded<const char*>(nullptr, [&]() -> const char* {
        NameSlot& slot = slot_of(name);
        if (const char* v = slot.environment.get())
            return v;
        const char* v = raw_value(slot);
        if (!v) {
            const BrelrtConfigEntry* e = slot.entry;
            if (!e || !e->pointer ||
                (e->kind != BRELRT_CFG_TEXT && e->kind != BRELRT_CFG_TEXT_LONG))
                return nullptr;
            return static_cast<const char*>(e->pointer);
        }
        std::string& kept = state().values[name];
        kept = v;
        return kept.c_str();
    });
}

int brelrt_config_yes_no(const char* name) {
    if (!name)
        return 0;
    return brelrt::guarded(0, [&] {
        NameSlot& slot = slot_of(name);
        int fallback = slot.entry ? (slot.entry->default_value != 0) : 0;
        const char* v = raw_value(slot);
        if (!v)
            return fallback;
        int r = brelrt::parse_yes_no(v);
        return r < 0 ? fallback : r;
    });
}

namespace brelrt {

long config_number(const char* name) {
    NameSlot& slot = slot_of(name);
    long fallback = slot.entry ? slot.entry->default_value : 0;
    const char* v = raw_value(slot);
    if (!v)
        return fallback;
    std::string t = trim(v);
    char* end = nullptr;
    long n = std::strtol(t.c_str(), &end, 10);
    if (end == t.c_str())
        return fallback;
    return n;
}

} // namespace brelrt

long brelrt_config_number(const char* name) {
    if (!name)
        return 0;
    return brelrt::guarded(0L, [&] { return brelrt::config_number(name); });
}

int brelrt_config_keyword(const char* name) {
    if (!name)
        return 0;
    return brelrt::guarded(0, [&] {
        NameSlot& slot = slot_of(name);
        const BrelrtConfigEntry* e = slot.entry;
        if (!e)
            return 0;
        const char* v = raw_value(slot);
        if (!v)
            return static_cast<int>(e->default_value);
        const BrelrtKeyword* k = find_keyword(*e, v);
        return k ? k->value : static_cast<int>(e->default_value);
    });
}

int brelrt_config_valid(const char* name) {
    if (!name)
        return 1;
    return brelrt::guarded(1, [&] {
        NameSlot& slot = slot_of(name);
        const char* v = raw_value(slot);
        const BrelrtConfigEntry* e = v ? slot.entry : nullptr;
        if (!e)
            return 1;
        switch (e->kind) {
        case BRELRT_CFG_YES_NO:
            return brelrt::parse_yes_no(v) >= 0 ? 1 : 0;
        case BRELRT_CFG_KEYWORD:
            return find_keyword(*e, v) ? 1 : 0;
        case BRELRT_CFG_NUMBER: {
            std::string t = trim(v);
            char* end = nullptr;
            std::strtol(t.c_str(), &end, 10);
            return !t.empty() && *end == '\0' ? 1 : 0;
        }
        default:
            return 1;
        }
    });
}
