// Configuration variables: registered tables, values from the environment,
// the optional BRELRT_CONFIG file, or the registered default, read at the
// moment of each lookup.
#include "internal.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <strings.h>

namespace {

// The host's own variables.
const BrelrtConfigEntry host_variables[] = {
    {"4GL_COLUMN_CASE", BRELRT_CFG_NUMBER, 0, nullptr, 0, 0, 0},
};

struct ConfigState {
    std::map<std::string, BrelrtConfigEntry> entries;
    std::map<std::string, std::string> values; // storage behind returned texts
};

ConfigState& state() {
    static ConfigState* s = [] {
        auto* c = new ConfigState;
        for (const auto& e : host_variables)
            c->entries[e.name] = e;
        return c;
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

// The value from the environment, else from the BRELRT_CONFIG file.
std::optional<std::string> raw_value(const char* name) {
    if (const char* v = std::getenv(name))
        return std::string(v);
    std::string file = brelrt::env("BRELRT_CONFIG");
    if (file.empty())
        return std::nullopt;
    std::ifstream in(file);
    std::string line;
    std::optional<std::string> found;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string t = trim(line);
        if (t.empty() || t[0] == '#' || t[0] == ';')
            continue;
        size_t sep = 0;
        while (sep < t.size() && !std::isspace(static_cast<unsigned char>(t[sep])) && t[sep] != '=')
            ++sep;
        std::string key = t.substr(0, sep);
        if (strcasecmp(key.c_str(), name) != 0)
            continue;
        std::string rest = t.substr(sep);
        rest = trim(rest);
        if (!rest.empty() && rest[0] == '=')
            rest = trim(rest.substr(1));
        found = rest; // the last line for a name wins
    }
    return found;
}

const BrelrtConfigEntry* entry_of(const char* name) {
    auto& e = state().entries;
    auto it = e.find(name);
    return it == e.end() ? nullptr : &it->second;
}

} // namespace

namespace brelrt {

int parse_yes_no(const std::string& text) {
    std::string t = trim(text);
    static const char* yes[] = {"yes", "true", "on", "1", "y"};
    static const char* no[] = {"no", "false", "off", "0", "n"};
    for (const char* w : yes)
        if (strcasecmp(t.c_str(), w) == 0)
            return 1;
    for (const char* w : no)
        if (strcasecmp(t.c_str(), w) == 0)
            return 0;
    return -1;
}

} // namespace brelrt

int brelrt_config_register(const BrelrtConfigEntry* table, int count, int /*flags*/) {
    if (!table || count < 0)
        return 0;
    auto& entries = state().entries;
    for (int i = 0; i < count; ++i)
        if (table[i].name)
            entries[table[i].name] = table[i];
    return 1;
}

void brelrt_config_clear(void) {
    ConfigState& s = state();
    s.entries.clear();
    for (const auto& e : host_variables)
        s.entries[e.name] = e;
}

const char* brelrt_config_text(const char* name) {
    if (!name)
        return nullptr;
    std::optional<std::string> v = raw_value(name);
    if (!v) {
        const BrelrtConfigEntry* e = entry_of(name);
        if (!e || !e->pointer || (e->kind != BRELRT_CFG_TEXT && e->kind != BRELRT_CFG_TEXT_LONG))
            return nullptr;
        return static_cast<const char*>(e->pointer);
    }
    std::string& slot = state().values[name];
    slot = *v;
    return slot.c_str();
}

int brelrt_config_yes_no(const char* name) {
    const BrelrtConfigEntry* e = name ? entry_of(name) : nullptr;
    int fallback = e ? (e->default_value != 0) : 0;
    if (!name)
        return 0;
    std::optional<std::string> v = raw_value(name);
    if (!v)
        return fallback;
    int r = brelrt::parse_yes_no(*v);
    return r < 0 ? fallback : r;
}

long brelrt_config_number(const char* name) {
    const BrelrtConfigEntry* e = name ? entry_of(name) : nullptr;
    long fallback = e ? e->default_value : 0;
    if (!name)
        return 0;
    std::optional<std::string> v = raw_value(name);
    if (!v)
        return fallback;
    std::string t = trim(*v);
    char* end = nullptr;
    long n = std::strtol(t.c_str(), &end, 10);
    if (end == t.c_str())
        return fallback;
    return n;
}

int brelrt_config_keyword(const char* name) {
    const BrelrtConfigEntry* e = name ? entry_of(name) : nullptr;
    int fallback = e ? e->default_value : 0;
    if (!name || !e)
        return fallback;
    std::optional<std::string> v = raw_value(name);
    if (!v)
        return fallback;
    std::string t = trim(*v);
    const auto* keywords = static_cast<const BrelrtKeyword*>(e->pointer);
    for (int i = 0; keywords && i < e->keyword_count; ++i)
        if (keywords[i].name && strcasecmp(keywords[i].name, t.c_str()) == 0)
            return keywords[i].value;
    return fallback;
}
