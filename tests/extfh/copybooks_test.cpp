// Shop copybooks end to end. For every copybook of cobol/copybooks a COBOL
// program is generated that writes random records of it to an XML file
// and, the same records, to a plain sequential twin, then reads both back;
// built with cobc-xml and run as child processes. Every record must come
// back from the document byte for byte as from the twin, with every status
// as on a plain file and nothing on standard error, and the documents must
// be valid against their internal DTD, the DTD and the schema bxml-describe
// gives, with leading blanks kept when asked.
#include "host_fixture.h"
#include "test_paths.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kCopybooks = SourcePath("/tests/extfh/cobol/copybooks");

// Records written of each copybook; the one chosen for volume (several
// record types, a table of variable length inside a group, an FD whose
// RECORD VARYING length ends each record) writes many more.
constexpr int kRecords = 40;
constexpr int kManyRecords = 1000;
const char* const kVolumeLayout = "gljrnl";

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool same_name(const std::string& a, const std::string& b) {
    return upper(a) == upper(b);
}

// ------------------------------------------------------------ processes

using Env = std::vector<std::pair<std::string, std::string>>;

struct Ran {
    int code = -1; // exit status, -1 when ended by a signal
    std::string out;
    std::string err;
};

// The environment every child starts from: the test's own, less what would
// change how files are named, laid out or written, with the copybooks on
// COBCPY.
std::vector<std::string> base_environment() {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool ours = name == "LD_PRELOAD" || name == "COBCPY" || name == "COB_FILE_PATH" ||
                    name == "4GL_COLUMN_CASE" || name.rfind("BXML", 0) == 0 ||
                    name.rfind("BRELRT_", 0) == 0 || name.rfind("DD_", 0) == 0 ||
                    name.rfind("dd_", 0) == 0;
        if (!ours)
            env.push_back(entry);
    }
    env.push_back("COBCPY=" + kCopybooks);
    return env;
}

// Runs `argv` (argv[0] a path) in `dir` with `extra` added to the base
// environment; standard output and error go to `dir`/`log`.out and .err
// and come back in the result. Safe from several threads: the child only
// redirects, changes folder and executes.
Ran run(const std::vector<std::string>& argv, const std::string& dir, const std::string& log,
        const Env& extra = {}, bool cobol = true) {
    std::vector<std::string> env = base_environment();
    if (*POINTRA_ASAN_RUNTIME && cobol)
        env.push_back(std::string("LD_PRELOAD=") + POINTRA_ASAN_RUNTIME);
    for (const auto& [name, value] : extra)
        env.push_back(name + "=" + value);
    std::vector<char*> args, envp;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    std::string out_path = dir + "/" + log + ".out", err_path = dir + "/" + log + ".err";
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Ran r;
    if (out < 0 || err < 0) {
        for (int fd : {out, err})
            if (fd >= 0)
                close(fd);
        r.err = "cannot make " + out_path;
        return r;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out, 1);
        dup2(err, 2);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(out);
    close(err);
    int status = 0;
    if (pid > 0)
        waitpid(pid, &status, 0);
    if (pid > 0 && WIFEXITED(status))
        r.code = WEXITSTATUS(status);
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    return r;
}

// ------------------------------------------------------------- layouts

// A layout item as the generator walks it: the host's item with its place
// in the tree.
struct Item {
    LayoutItem li; // its picture pointer is the host's: `picture` holds a copy
    std::string name;
    std::string picture; // a numeric-edited field's
    int parent = -1;
    int end = 0; // one past its last descendant
    bool elementary() const { return li.field.type != BRELRT_T_GROUP; }
};

struct Condition {
    int item = -1;   // the record or redefining item it selects
    int tested = -1; // the field it tests
    std::string literal;
    bool numeric = false;
};

struct Layout {
    std::string name;
    int record_size = 0;
    std::vector<Item> items;
    std::vector<Condition> conditions;
};

// The layout of `path` as the host reads it, item names as written.
bool load_layout(const std::string& path, const std::string& name, Layout& layout,
                 std::string& error) {
    EnvVar column_case("4GL_COLUMN_CASE", "2");
    RecordLayout* rl = brelrt_parse_copybook(path.c_str(), name.c_str());
    if (!rl) {
        error = std::string("no layout: ") + brelrt_xfd_last_error();
        return false;
    }
    layout.name = name;
    layout.record_size = rl->record_size;
    std::vector<int> enclosing; // the items enclosing the next one
    for (int i = 0; i < rl->item_count; ++i) {
        Item item;
        item.li = rl->items[i];
        item.li.picture = nullptr;
        item.name = rl->items[i].name;
        if (rl->items[i].picture)
            item.picture = rl->items[i].picture;
        while (!enclosing.empty() && layout.items[enclosing.back()].li.level >= item.li.level) {
            layout.items[enclosing.back()].end = i;
            enclosing.pop_back();
        }
        item.parent = enclosing.empty() ? -1 : enclosing.back();
        enclosing.push_back(i);
        layout.items.push_back(item);
    }
    for (int i : enclosing)
        layout.items[i].end = rl->item_count;
    for (int c = 0; c < rl->condition_count; ++c) {
        const ConditionEntry& ce = rl->conditions[c];
        layout.conditions.push_back(
            {ce.item, ce.tested,
             std::string(ce.literal, static_cast<size_t>(std::max(0, ce.literal_length))),
             ce.numeric == 1});
    }
    B4XFDFree(rl);
    return true;
}

// A picture with its repetitions written out: "Z(3)9" gives "ZZZ9".
std::string expand_picture(const std::string& picture) {
    std::string out;
    for (size_t i = 0; i < picture.size(); ++i) {
        if (picture[i] == '(' && !out.empty()) {
            size_t close = picture.find(')', i);
            int n = std::atoi(picture.substr(i + 1, close - i - 1).c_str());
            out.append(static_cast<size_t>(std::max(0, n - 1)), out.back());
            i = close;
        } else {
            out += picture[i];
        }
    }
    return out;
}

struct Edited {
    int integers = 0; // digit positions before the point
    int decimals = 0;
    bool signed_ = false;
};

// The digit positions of a numeric-edited field's picture (a floating
// string of n symbols holds n - 1 digits), or nothing for a field that is
// not numeric-edited.
bool edited_picture(const Item& it, Edited& out) {
    if (!(it.li.flags & BRELRT_ITEM_EDITED))
        return false;
    std::string p = expand_picture(it.picture);
    bool point = false;
    std::map<char, int> floating;
    for (char c : p) {
        if (c == '.')
            point = true;
        else if (c == '9' || c == 'Z' || c == '*')
            ++(point ? out.decimals : out.integers);
        else if (c == '$' || c == '+' || c == '-')
            ++floating[c];
    }
    for (const auto& [symbol, n] : floating)
        out.integers += std::max(0, n - 1);
    out.signed_ = p.find_first_of("+-") != std::string::npos || p.find("CR") != std::string::npos ||
                  p.find("DB") != std::string::npos;
    return true;
}

// --------------------------------------------------------- COBOL source

// Fixed-form source: statements broken into lines at words, literals cut
// into pieces joined with "&" so that no line passes column 72.
class Source {
public:
    void line(const std::string& text) { text_ += text + "\n"; }
    void statement(const std::vector<std::string>& words, int indent = 11) {
        std::string current(static_cast<size_t>(indent), ' ');
        bool empty = true;
        for (const std::string& w : words) {
            if (!empty && current.size() + 1 + w.size() > 72) {
                line(current);
                current.assign(static_cast<size_t>(indent) + 4, ' ');
                empty = true;
            }
            current += (empty ? "" : " ") + w;
            empty = false;
        }
        line(current);
    }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// The words of an alphanumeric literal of `bytes` (a UTF-8 character is
// never cut), or SPACES for none.
std::vector<std::string> text_literal(const std::string& bytes) {
    if (bytes.empty())
        return {"SPACES"};
    std::vector<std::string> words;
    std::string piece;
    for (size_t i = 0; i < bytes.size();) {
        size_t n = 1;
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0xF0)
            n = 4;
        else if (c >= 0xE0)
            n = 3;
        else if (c >= 0xC0)
            n = 2;
        std::string ch = bytes.substr(i, n);
        if (ch == "\"")
            ch = "\"\"";
        if (piece.size() + ch.size() > 48) {
            words.push_back("\"" + piece + "\"");
            words.push_back("&");
            piece.clear();
        }
        piece += ch;
        i += n;
    }
    words.push_back("\"" + piece + "\"");
    return words;
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::vector<std::string> hex_literal(const std::string& bytes) {
    std::vector<std::string> words;
    for (size_t at = 0; at < bytes.size(); at += 20) {
        if (at)
            words.push_back("&");
        words.push_back("X\"" + hex(bytes.substr(at, 20)) + "\"");
    }
    return words;
}

// ------------------------------------------------------------ generator

// A field a record's values were moved to: where to look when the record
// comes back different.
struct Filled {
    std::string ref;
    int offset = 0;
    int size = 0;
};

// What the test knows of a record it wrote.
struct Written {
    int type = 0; // the item of its level-01 record
    int length = 0;
    std::vector<Filled> fields;
};

// A table of variable length in a record: its first occurrence and counter.
struct Varying {
    int first = -1; // the item of occurrence 1
    int end = -1;   // one past the last item of its last occurrence
    int depth = 0;
    int counter = -1;
    int min = 0;
    int max = 0;
};

// Alternatives for one storage: the first description and its variants.
struct VariantSet {
    int base = -1;
    std::vector<int> variants;   // redefining items chosen by a WHEN
    std::vector<int> conditions; // the condition of each
};

const char* const kJapanese[] = {"受", "注", "明", "細", "東", "京", "都", "大", "阪", "府",
                                 "株", "式", "会", "社", "山", "田", "太", "郎", "商", "品",
                                 "ア", "イ", "ウ", "カ", "タ", "ナ", "ヤ", "マ", "ト", "ー"};

class Generator {
public:
    Generator(const Layout& layout, uint32_t seed) : l_(layout), rng_(seed) {
        for (size_t i = 0; i < l_.items.size(); ++i) {
            const Item& it = l_.items[i];
            bool shadow_record = it.li.level == 1 && (it.li.flags & BRELRT_ITEM_REDEFINES) &&
                                 !(it.li.flags & BRELRT_ITEM_VARIANT);
            if (it.li.level == 1 && !shadow_record)
                types_.push_back(static_cast<int>(i));
        }
        // One storage described twice without WHEN: the values go to the
        // first description that names a field (a group of FILLER only
        // names none), the others are left alone.
        std::vector<int> root(l_.items.size());
        for (size_t i = 0; i < root.size(); ++i)
            root[i] = static_cast<int>(i);
        auto find = [&](int i) {
            while (root[static_cast<size_t>(i)] != i)
                i = root[static_cast<size_t>(i)];
            return i;
        };
        for (size_t i = 0; i < l_.items.size(); ++i) {
            const LayoutItem& li = l_.items[i].li;
            if ((li.flags & BRELRT_ITEM_REDEFINES) && !(li.flags & BRELRT_ITEM_VARIANT) &&
                li.level > 1 && li.redefined >= 0)
                root[static_cast<size_t>(find(static_cast<int>(i)))] = find(li.redefined);
        }
        std::map<int, std::vector<int>> views;
        for (size_t i = 0; i < l_.items.size(); ++i)
            if (find(static_cast<int>(i)) != static_cast<int>(i) ||
                (l_.items[i].li.flags & BRELRT_ITEM_REDEFINED))
                views[find(static_cast<int>(i))].push_back(static_cast<int>(i));
        for (auto& [r, members] : views) {
            std::sort(members.begin(), members.end());
            if (members.size() < 2)
                continue;
            int chosen = members[0];
            for (int m : members)
                if (names_data(m)) {
                    chosen = m;
                    break;
                }
            for (int m : members)
                if (m != chosen)
                    unused_.insert(m);
        }
        for (size_t c = 0; c < l_.conditions.size(); ++c) {
            int v = l_.conditions[c].item;
            if (v < 0 || node(v).li.level == 1)
                continue;
            int base = node(v).li.redefined;
            auto at = std::find_if(sets_.begin(), sets_.end(),
                                   [&](const VariantSet& s) { return s.base == base; });
            if (at == sets_.end()) {
                sets_.push_back({base, {}, {}});
                at = sets_.end() - 1;
            }
            at->variants.push_back(v);
            at->conditions.push_back(static_cast<int>(c));
        }
        for (size_t i = 0; i < l_.items.size(); ++i) {
            const Item& it = l_.items[i];
            if (!(it.li.flags & BRELRT_ITEM_VARYING) || it.li.occurrence[it.li.depth] != 1)
                continue;
            Varying v;
            v.first = static_cast<int>(i);
            v.depth = it.li.depth;
            v.end = it.end;
            while (v.end < static_cast<int>(l_.items.size()) && node(v.end).parent == it.parent &&
                   same_name(node(v.end).name, it.name))
                v.end = node(v.end).end;
            v.min = it.li.occurs_min;
            v.max = it.li.occurs_count[it.li.depth];
            v.counter = it.li.depending;
            varying_.push_back(v);
        }
    }

    const std::vector<int>& types() const { return types_; }

    // The shortest record the program may write.
    int min_length() const {
        int least = l_.record_size;
        for (int t : types_) {
            int n = node(t).li.field.size;
            for (const Varying& v : varying_)
                if (record_of(v.first) == t)
                    n = table_end(v, v.min);
            least = std::min(least, n);
        }
        return std::max(1, least);
    }

    // One record: its statements in `src`, what it holds in the result.
    Written record(Source& src, bool leading_blanks) {
        Written w;
        w.type = types_[pick(0, static_cast<int>(types_.size()) - 1)];
        const Item& rec = node(w.type);
        w.length = rec.li.field.size;
        std::map<int, std::vector<std::string>> fixed; // field: the literal it takes
        std::set<int> skipped;                         // items left out with what is inside
        for (const Condition& c : l_.conditions)
            if (c.item == w.type && c.tested >= 0)
                fixed[c.tested] = literal_of(c);
        for (const VariantSet& s : sets_) {
            if (record_of(s.base) != w.type)
                continue;
            int choice = pick(-1, static_cast<int>(s.variants.size()) - 1);
            for (size_t k = 0; k < s.variants.size(); ++k)
                if (static_cast<int>(k) != choice)
                    skipped.insert(s.variants[k]);
            if (choice >= 0) {
                skipped.insert(s.base);
                const Condition& c = l_.conditions[static_cast<size_t>(s.conditions[choice])];
                fixed[c.tested] = literal_of(c);
                continue;
            }
            // The first description: a value no WHEN of the set takes.
            for (int cn : s.conditions) {
                const Condition& c = l_.conditions[static_cast<size_t>(cn)];
                if (fixed.count(c.tested))
                    continue;
                std::set<std::string> taken;
                for (int other : s.conditions)
                    taken.insert(l_.conditions[static_cast<size_t>(other)].literal);
                std::string v;
                do
                    v = c.numeric ? std::to_string(pick(0, 9))
                                  : std::string(1, static_cast<char>('A' + pick(0, 25)));
                while (taken.count(v));
                fixed[c.tested] = c.numeric ? std::vector<std::string>{v} : text_literal(v);
            }
        }
        std::map<int, int> counts; // first occurrence of a varying table: occurrences used
        for (const Varying& v : varying_) {
            if (record_of(v.first) != w.type)
                continue;
            int n = pick(0, 3) == 0 ? (pick(0, 1) ? v.min : v.max) : pick(v.min, v.max);
            counts[v.first] = n;
            if (v.counter >= 0)
                fixed[v.counter] = {std::to_string(n)};
            w.length = table_end(v, n);
        }
        src.line("      * a record of " + rec.name);
        src.statement({"MOVE", "SPACES", "TO", "XML-AREA"});
        src.statement({"INITIALIZE", rec.name});
        for (int i = w.type; i < rec.end;) {
            const Item& it = node(i);
            if (skipped.count(i) || unused_.count(i) || beyond(i, counts)) {
                i = it.end;
                continue;
            }
            if (it.elementary()) {
                std::vector<std::string> words = {"MOVE"};
                auto f = fixed.find(i);
                std::vector<std::string> value =
                    f != fixed.end() ? f->second : random_value(it, leading_blanks);
                words.insert(words.end(), value.begin(), value.end());
                words.push_back("TO");
                std::string ref = reference(i);
                std::istringstream split(ref);
                for (std::string word; split >> word;)
                    words.push_back(word);
                src.statement(words);
                w.fields.push_back({ref, it.li.offset, it.li.field.size});
            }
            ++i;
        }
        src.statement({"MOVE", std::to_string(w.length), "TO", "TWIN-LEN"});
        src.statement({"PERFORM", "PUT-" + std::to_string(w.type)});
        return w;
    }

private:
    const Item& node(int i) const { return l_.items[static_cast<size_t>(i)]; }
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

    int record_of(int i) const {
        while (node(i).parent >= 0)
            i = node(i).parent;
        return i;
    }

    int table_end(const Varying& v, int n) const {
        const LayoutItem& li = node(v.first).li;
        return li.offset + n * li.field.size;
    }

    // An occurrence past the count a varying table was given.
    bool beyond(int i, const std::map<int, int>& counts) const {
        const LayoutItem& li = node(i).li;
        for (const Varying& v : varying_) {
            auto c = counts.find(v.first);
            if (c != counts.end() && i >= v.first && i < v.end && li.depth >= v.depth &&
                li.occurrence[v.depth] > c->second)
                return true;
        }
        return false;
    }

    // Whether an item describes a field: itself, or one inside it.
    bool names_data(int i) const {
        const Item& it = node(i);
        if (it.elementary())
            return true;
        for (int k = i + 1; k < it.end; ++k)
            if (node(k).elementary())
                return true;
        return false;
    }

    // "FIELD OF GROUP OF RECORD (1, 2)": every named group it lies in.
    std::string reference(int i) const {
        const Item& it = node(i);
        std::string ref = it.name;
        for (int p = it.parent; p >= 0; p = node(p).parent)
            if (!same_name(node(p).name, "FILLER"))
                ref += " OF " + node(p).name;
        if (it.li.depth > 0) {
            ref += " (";
            for (int d = 1; d <= it.li.depth; ++d)
                ref += (d > 1 ? ", " : "") + std::to_string(it.li.occurrence[d]);
            ref += ")";
        }
        return ref;
    }

    std::vector<std::string> literal_of(const Condition& c) const {
        return c.numeric ? std::vector<std::string>{c.literal} : text_literal(c.literal);
    }

    // A number of `integers` and `decimals` digits: zero, every digit
    // used, or anything between; negative at random when signed.
    std::string number(int integers, int decimals, bool negative_allowed) {
        int kind = pick(0, 7);
        if (kind == 0)
            return "0";
        bool full = kind <= 3;
        int ni = integers == 0 ? 0 : full ? integers : pick(0, integers);
        int nd = decimals == 0 ? 0 : full ? decimals : pick(0, decimals);
        std::string digits;
        for (int k = 0; k < ni; ++k)
            digits += static_cast<char>('0' + (k == 0 ? pick(1, 9) : pick(0, 9)));
        std::string out = digits.empty() ? "0" : digits;
        if (nd) {
            out += ".";
            for (int k = 0; k < nd; ++k)
                out += static_cast<char>('0' + (k == nd - 1 ? pick(1, 9) : pick(0, 9)));
        }
        if (out == "0")
            return out;
        return negative_allowed && pick(0, 1) ? "-" + out : out;
    }

    // Text for a character field of `size` bytes: printable ASCII with the
    // characters XML escapes, Japanese for the fields named so, letters
    // for PIC A; all blank at times, else beginning with a non-blank unless
    // leading blanks are asked for. A right-justified field's padding is on
    // its left: its text ends with a non-blank.
    std::string text(int size, bool japanese, bool alphabetic, bool justified,
                     bool leading_blanks) {
        if (pick(0, 11) == 0)
            return "";
        static const std::string marks = "<>&'\" ";
        int length = pick(0, 2) == 0 ? size : pick(1, size);
        std::string out;
        int lead =
            leading_blanks && size > 1 && pick(0, 2) == 0 ? pick(1, std::min(3, size - 1)) : 0;
        out.append(static_cast<size_t>(lead), ' ');
        while (static_cast<int>(out.size()) < length) {
            bool first = out.empty();
            int room = length - static_cast<int>(out.size());
            if (japanese && room >= 3 && pick(0, 3) != 0) {
                out += kJapanese[pick(0, static_cast<int>(std::size(kJapanese)) - 1)];
                continue;
            }
            char c;
            if (alphabetic)
                c = first || pick(0, 4) ? static_cast<char>((pick(0, 1) ? 'A' : 'a') + pick(0, 25))
                                        : ' ';
            else if (pick(0, 3) == 0)
                c = marks[static_cast<size_t>(pick(0, static_cast<int>(marks.size()) - 1))];
            else
                c = static_cast<char>(pick(0x21, 0x7E));
            if (first && c == ' ')
                continue;
            out += c;
        }
        if (justified)
            while (!out.empty() && out.back() == ' ')
                out.pop_back();
        // Trailing blanks are not carried: the field's own padding.
        return out.find_first_not_of(' ') == std::string::npos ? "" : out;
    }

    std::vector<std::string> random_value(const Item& it, bool leading_blanks) {
        const FieldDescriptor& f = it.li.field;
        if (it.li.user_type == BRELRT_USER_TYPE_BINARY) {
            std::string bytes;
            for (int k = 0; k < f.size; ++k)
                bytes += static_cast<char>(pick(0, 3) == 0 ? 0 : pick(0, 255));
            return hex_literal(bytes);
        }
        Edited ed;
        if (edited_picture(it, ed))
            return {number(ed.integers, ed.decimals, ed.signed_)};
        switch (f.type) {
        case BRELRT_T_ALPHANUMERIC:
        case BRELRT_T_ALPHABETIC: {
            std::string u = upper(it.name);
            bool japanese =
                u.find("KANJI") != std::string::npos || u.find("KANA") != std::string::npos;
            bool justified = (it.li.flags & BRELRT_ITEM_JUSTIFIED) != 0;
            return text_literal(
                text(f.size, japanese, f.type == BRELRT_T_ALPHABETIC, justified, leading_blanks));
        }
        case BRELRT_T_FLOAT:
        case BRELRT_T_DOUBLE: {
            // Values a binary floating point holds exactly.
            static const char* const single[] = {"0",       "0.5",       "-1.25",    "3.75",
                                                 "-1024.5", "65536.125", "0.0078125"};
            static const char* const dual[] = {"-123456789.25", "1234567.875", "-0.0009765625",
                                               "281474976710656"};
            int n = static_cast<int>(std::size(single));
            int k = pick(0, n + (f.type == BRELRT_T_DOUBLE ? 3 : -1));
            return {k < n ? single[k] : dual[k - n]};
        }
        default: {
            bool is_signed =
                f.type == BRELRT_T_SIGN_TRAILING || f.type == BRELRT_T_SIGN_TRAILING_SEP ||
                f.type == BRELRT_T_SIGN_LEADING || f.type == BRELRT_T_SIGN_LEADING_SEP ||
                f.type == BRELRT_T_PACKED || f.type == BRELRT_T_BINARY || f.type == BRELRT_T_NATIVE;
            return {number(f.digits + f.scale, -f.scale, is_signed)};
        }
        }
    }

    const Layout& l_;
    std::mt19937 rng_;
    std::vector<int> types_;
    std::set<int> unused_;
    std::vector<VariantSet> sets_;
    std::vector<Varying> varying_;
};

// A program of the copybook: "write" writes `plain`, "blanks" the records
// whose texts may begin with blanks, anything else reads the document and
// then the twin back, each record area in hexadecimal.
struct Program {
    std::string text;
    std::vector<Written> plain;
    std::vector<Written> blanks;
};

Program generate(const Layout& l, int records, bool varying_fd, uint32_t seed) {
    Generator g(l, seed);
    Program p;
    Source s;
    std::string size = std::to_string(l.record_size);
    // cobc takes no range of one size: records of one length then range from 1.
    int least = g.min_length() < l.record_size ? g.min_length() : 1;
    std::string range = "FROM " + std::to_string(least) + " TO " + size;
    // A copybook without 01 levels: its fields under the record the layout names.
    bool no_record = !l.items.empty() && same_name(l.items[0].name, l.name + "-rec");
    s.line("      * Writes random records of the copybook " + l.name +
           " to an XML file and a plain twin;");
    s.line("      * reads both back as hexadecimal record areas.");
    s.line("       IDENTIFICATION DIVISION.");
    s.line("       PROGRAM-ID. ROUND-TRIP.");
    s.line("       ENVIRONMENT DIVISION.");
    s.line("       INPUT-OUTPUT SECTION.");
    s.line("       FILE-CONTROL.");
    s.line("           SELECT XML-FILE ASSIGN TO \"" + l.name + ".xml\"");
    s.line("               ORGANIZATION SEQUENTIAL FILE STATUS IS XML-FS.");
    s.line("           SELECT TWIN-FILE ASSIGN TO \"" + l.name + ".dat\"");
    s.line("               ORGANIZATION SEQUENTIAL FILE STATUS IS TWIN-FS.");
    s.line("       DATA DIVISION.");
    s.line("       FILE SECTION.");
    if (varying_fd) {
        s.line("       FD  XML-FILE");
        s.line("           RECORD VARYING IN SIZE " + range);
        s.line("           DEPENDING ON XML-LEN.");
    } else {
        s.line("       FD  XML-FILE.");
    }
    if (no_record)
        s.line("       01  " + l.items[0].name + ".");
    s.line("           COPY " + l.name + ".");
    s.line("       >>SOURCE FORMAT FIXED");
    s.line("       01  XML-AREA                PIC X(" + size + ").");
    s.line("       FD  TWIN-FILE");
    s.line("           RECORD VARYING IN SIZE " + range);
    s.line("           DEPENDING ON TWIN-LEN.");
    s.line("       01  TWIN-REC                PIC X(" + size + ").");
    s.line("       WORKING-STORAGE SECTION.");
    s.line("       01  XML-FS                  PIC XX.");
    s.line("       01  TWIN-FS                 PIC XX.");
    s.line("       01  XML-LEN                 PIC 9(9) COMP-5.");
    s.line("       01  TWIN-LEN                PIC 9(9) COMP-5.");
    s.line("       01  RUN-MODE                PIC X(16).");
    s.line("       01  HEX-DIGITS              PIC X(16) VALUE \"0123456789ABCDEF\".");
    s.line("       01  DUMP-AREA               PIC X(" + size + ").");
    s.line("       01  HEX-LINE                PIC X(" + std::to_string(2 * l.record_size) + ").");
    s.line("       01  BYTE-AT                 PIC 9(9) COMP-5.");
    s.line("       01  BYTE-CODE               PIC 9(4) COMP-5.");
    s.line("       01  HIGH-NIBBLE             PIC 9(4) COMP-5.");
    s.line("       01  LOW-NIBBLE              PIC 9(4) COMP-5.");
    s.line("       PROCEDURE DIVISION.");
    s.line("       MAIN-LINE.");
    s.line("           ACCEPT RUN-MODE FROM ARGUMENT-VALUE");
    s.line("           EVALUATE RUN-MODE");
    s.line("           WHEN \"write\"");
    s.line("               PERFORM OPEN-OUTPUT");
    s.line("               PERFORM WRITE-PLAIN");
    s.line("               PERFORM CLOSE-OUTPUT");
    s.line("           WHEN \"blanks\"");
    s.line("               PERFORM OPEN-OUTPUT");
    s.line("               PERFORM WRITE-BLANKS");
    s.line("               PERFORM CLOSE-OUTPUT");
    s.line("           WHEN OTHER");
    s.line("               PERFORM READ-BACK");
    s.line("           END-EVALUATE");
    s.line("           STOP RUN.");
    s.line("       OPEN-OUTPUT.");
    s.line("           OPEN OUTPUT XML-FILE");
    s.line("           OPEN OUTPUT TWIN-FILE");
    s.line("           DISPLAY \"O \" XML-FS \" \" TWIN-FS.");
    s.line("       CLOSE-OUTPUT.");
    s.line("           CLOSE XML-FILE");
    s.line("           CLOSE TWIN-FILE");
    s.line("           DISPLAY \"C \" XML-FS \" \" TWIN-FS.");
    for (int t : g.types()) {
        const std::string& name = l.items[static_cast<size_t>(t)].name;
        s.line("       PUT-" + std::to_string(t) + ".");
        s.line("           MOVE TWIN-LEN TO XML-LEN");
        s.statement({"WRITE", name});
        s.statement({"WRITE", "TWIN-REC", "FROM", name});
        s.line("           DISPLAY \"W \" XML-FS \" \" TWIN-FS.");
    }
    s.line("       WRITE-PLAIN.");
    for (int k = 0; k < records; ++k)
        p.plain.push_back(g.record(s, false));
    s.line("           CONTINUE.");
    s.line("       WRITE-BLANKS.");
    for (int k = 0; k < kRecords; ++k)
        p.blanks.push_back(g.record(s, true));
    s.line("           CONTINUE.");
    s.line("       READ-BACK.");
    for (const char* side : {"XML", "TWIN"}) {
        std::string file = std::string(side) + "-FILE", fs = std::string(side) + "-FS";
        std::string area = side == std::string("XML") ? "XML-AREA" : "TWIN-REC";
        std::string tag = side == std::string("XML") ? "X" : "T";
        s.line("           OPEN INPUT " + file);
        s.line("           DISPLAY \"O \" " + fs);
        s.line("           PERFORM UNTIL " + fs + " NOT = \"00\"");
        s.line("               READ " + file);
        s.line("               IF " + fs + " = \"00\"");
        s.line("                   MOVE " + area + " TO DUMP-AREA");
        s.line("                   PERFORM HEX-DUMP");
        s.line("                   DISPLAY \"" + tag + " \" " + fs + " \" \" HEX-LINE");
        s.line("               ELSE");
        s.line("                   DISPLAY \"" + tag + " \" " + fs);
        s.line("               END-IF");
        s.line("           END-PERFORM");
        s.line("           CLOSE " + file);
        s.line("           DISPLAY \"C \" " + fs);
    }
    s.line("           CONTINUE.");
    s.line("       HEX-DUMP.");
    s.line("           PERFORM VARYING BYTE-AT FROM 1 BY 1 UNTIL BYTE-AT > " + size);
    s.line("               COMPUTE BYTE-CODE =");
    s.line("                   FUNCTION ORD(DUMP-AREA(BYTE-AT:1)) - 1");
    s.line("               DIVIDE BYTE-CODE BY 16 GIVING HIGH-NIBBLE");
    s.line("                   REMAINDER LOW-NIBBLE");
    s.line("               MOVE HEX-DIGITS(HIGH-NIBBLE + 1:1)");
    s.line("                   TO HEX-LINE(BYTE-AT * 2 - 1:1)");
    s.line("               MOVE HEX-DIGITS(LOW-NIBBLE + 1:1)");
    s.line("                   TO HEX-LINE(BYTE-AT * 2:1)");
    s.line("           END-PERFORM.");
    p.text = s.text();
    return p;
}

// ------------------------------------------------------------- checking

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::string first_lines(const std::string& text, size_t n = 2) {
    std::vector<std::string> all = lines_of(text);
    std::string out;
    for (size_t k = 0; k < all.size() && k < n; ++k)
        out += (k ? " | " : "") + all[k].substr(0, 300);
    if (all.size() > n)
        out += " | ... (" + std::to_string(all.size()) + " lines)";
    return out;
}

// Bytes of a hexadecimal text, shown with their characters when printable.
std::string shown(const std::string& hex_text) {
    std::string chars;
    bool printable = true;
    for (size_t k = 0; k + 1 < hex_text.size(); k += 2) {
        int c = std::stoi(hex_text.substr(k, 2), nullptr, 16);
        printable = printable && c >= 0x20 && c < 0x7F;
        chars += static_cast<char>(c);
    }
    return hex_text + (printable ? " \"" + chars + "\"" : "");
}

// The read-back output of a program compared with what was written: the
// statuses as a plain file gives them, and each record of the document
// the same as the twin's up to its length.
void compare_read(const Layout& l, const std::vector<Written>& written, const Ran& r,
                  const std::string& what, std::vector<std::string>& problems) {
    std::vector<std::string> xml, twin, statuses;
    for (const std::string& line : lines_of(r.out)) {
        if (line.rfind("X 00 ", 0) == 0)
            xml.push_back(line.substr(5));
        else if (line.rfind("T 00 ", 0) == 0)
            twin.push_back(line.substr(5));
        else
            statuses.push_back(line);
    }
    std::vector<std::string> expected = {"O 00", "X 10", "C 00", "O 00", "T 10", "C 00"};
    if (statuses != expected || r.code != 0) {
        std::string got;
        for (const std::string& s : statuses)
            got += (got.empty() ? "" : ", ") + s;
        problems.push_back(what + " read: statuses " + got + " (exit " + std::to_string(r.code) +
                           "), expected O 00, X 10, C 00 and the same of the twin");
    }
    if (!r.err.empty())
        problems.push_back(what + " read: standard error: " + first_lines(r.err));
    if (twin.size() != written.size()) {
        problems.push_back(what + ": the twin gave " + std::to_string(twin.size()) +
                           " records of " + std::to_string(written.size()));
        return;
    }
    if (xml.size() != written.size())
        problems.push_back(what + ": the document gave " + std::to_string(xml.size()) +
                           " records of " + std::to_string(written.size()));
    int differing = 0;
    std::string first;
    for (size_t k = 0; k < written.size() && k < xml.size(); ++k) {
        const Written& w = written[k];
        size_t n = static_cast<size_t>(2 * w.length);
        if (xml[k].compare(0, n, twin[k], 0, n) == 0)
            continue;
        if (differing++)
            continue;
        size_t at = 0;
        while (at < n && xml[k][at] == twin[k][at])
            ++at;
        int byte = static_cast<int>(at / 2);
        std::string where = "byte " + std::to_string(byte) + " (no field: FILLER)";
        std::string expected_bytes = twin[k].substr(at & ~size_t(1), 2);
        std::string received_bytes = xml[k].substr(at & ~size_t(1), 2);
        for (const Filled& f : w.fields)
            if (byte >= f.offset && byte < f.offset + f.size) {
                where = f.ref;
                expected_bytes = twin[k].substr(2 * static_cast<size_t>(f.offset),
                                                2 * static_cast<size_t>(f.size));
                received_bytes = xml[k].substr(2 * static_cast<size_t>(f.offset),
                                               2 * static_cast<size_t>(f.size));
                break;
            }
        first = "record " + std::to_string(k + 1) + " (" +
                l.items[static_cast<size_t>(w.type)].name + ", " + std::to_string(w.length) +
                " bytes): " + where + ": expected " + shown(expected_bytes) + ", received " +
                shown(received_bytes);
    }
    if (differing)
        problems.push_back(what + ": " + std::to_string(differing) + " of " +
                           std::to_string(written.size()) + " records differ; first: " + first);
}

void check_write(const Ran& r, size_t records, const std::string& what,
                 std::vector<std::string>& problems) {
    std::vector<std::string> got = lines_of(r.out);
    std::vector<std::string> expected = {"O 00 00"};
    expected.insert(expected.end(), records, "W 00 00");
    expected.push_back("C 00 00");
    if (got != expected || r.code != 0) {
        std::string odd;
        size_t at = 0;
        while (at < got.size() && at < expected.size() && got[at] == expected[at])
            ++at;
        odd = at < got.size() ? "line " + std::to_string(at + 1) + " \"" + got[at] + "\""
                              : "output cut after " + std::to_string(got.size()) + " lines";
        problems.push_back(what + " write: statuses differ at " + odd + " (exit " +
                           std::to_string(r.code) + ")");
    }
    if (!r.err.empty())
        problems.push_back(what + " write: standard error: " + first_lines(r.err));
}

struct Case {
    std::string layout;
    Layout l;
    Program program;
    std::string dir;
    std::vector<std::string> problems;
};

// Builds and runs the program of one copybook in its folder, collecting
// every difference.
void run_case(Case& c) {
    std::vector<std::string>& problems = c.problems;
    write_file(c.dir + "/round-trip.cob", c.program.text);
    std::vector<std::string> build = {"/bin/bash", SourcePath("/scripts/cobc-xml"), "-x"};
    if (*POINTRA_ASAN_RUNTIME) {
        build.push_back("-Q");
        build.push_back("-Wl,--no-warnings");
    }
    for (const char* a : {"-o", "round-trip", "round-trip.cob"})
        build.push_back(a);
    Ran built = run(build, c.dir, "build", {{"POINTRA_BUILD", BuildPath()}}, false);
    if (built.code != 0) {
        problems.push_back("the program does not build: " + first_lines(built.err, 4));
        return;
    }
    const std::string program = c.dir + "/round-trip";
    const std::string& name = c.layout;
    std::string doc = name + ".xml";
    auto folder = [&](const char* sub) {
        fs::create_directory(c.dir + "/" + sub);
        return c.dir + "/" + sub;
    };

    // Internal DTD: written, read back, valid, and valid against the DTD
    // bxml-describe gives.
    std::string dtd = folder("dtd");
    check_write(run({program, "write"}, dtd, "write"), c.program.plain.size(), "DTD", problems);
    compare_read(c.l, c.program.plain, run({program, "read"}, dtd, "read"), "DTD", problems);
    Ran valid =
        run({"/usr/bin/env", "xmllint", "--valid", "--noout", doc}, dtd, "valid", {}, false);
    if (valid.code != 0 || !valid.out.empty() || !valid.err.empty())
        problems.push_back("xmllint --valid: " + first_lines(valid.out + valid.err));
    Ran described = run({BinPath("/bxml-describe"), name}, dtd, "described", {}, false);
    if (described.code != 0 || described.out.empty()) {
        problems.push_back("bxml-describe: " + first_lines(described.err));
    } else {
        Ran v = run({"/usr/bin/env", "xmllint", "--noout", "--dtdvalid", "described.out", doc}, dtd,
                    "dtdvalid", {}, false);
        if (v.code != 0 || !v.out.empty() || !v.err.empty())
            problems.push_back("xmllint --dtdvalid (bxml-describe): " + first_lines(v.out + v.err));
    }

    // A schema: the same records validate against the schema written with
    // them and the one bxml-describe gives, and read back the same.
    std::string schema = folder("schema");
    Env schema_env = {{"BXML_CREATE_STYLE", "SCHEMA"}, {"BXML_SCHEMA_NAME", name + ".xsd"}};
    std::vector<std::string> same; // what the DTD run found already is not said twice
    check_write(run({program, "write"}, schema, "write", schema_env), c.program.plain.size(),
                "schema", same);
    compare_read(c.l, c.program.plain, run({program, "read"}, schema, "read"), "schema", same);
    for (const std::string& p : same)
        if (std::find(problems.begin(), problems.end(), "DTD" + p.substr(6)) == problems.end())
            problems.push_back(p);
    Ran xsd = run({BinPath("/bxml-describe"), "--xsd", name}, schema, "described", {}, false);
    for (const std::string& s : {name + ".xsd", std::string("described.out")}) {
        if (s == "described.out" && xsd.code != 0) {
            problems.push_back("bxml-describe --xsd: " + first_lines(xsd.err));
            continue;
        }
        Ran v = run({"/usr/bin/env", "xmllint", "--noout", "--schema", s, doc}, schema,
                    "schemavalid", {}, false);
        if (v.code != 0 || v.err != doc + " validates\n")
            problems.push_back("xmllint --schema " +
                               std::string(s == "described.out" ? "(bxml-describe --xsd)"
                                                                : "(written with the document)") +
                               ": " + first_lines(v.out + v.err));
    }

    // Leading blanks kept: texts that begin with blanks come back whole.
    std::string blanks = folder("blanks");
    Env keep = {{"BXML_KEEP_LEADING_BLANKS", "yes"}};
    check_write(run({program, "blanks"}, blanks, "write", keep), c.program.blanks.size(),
                "leading blanks", problems);
    compare_read(c.l, c.program.blanks, run({program, "read"}, blanks, "read", keep),
                 "leading blanks", problems);
}

uint32_t seed_of(const std::string& name) {
    uint32_t h = 2166136261u;
    for (unsigned char c : name)
        h = (h ^ c) * 16777619u;
    if (const char* s = std::getenv("COPYBOOK_TEST_SEED"))
        h ^= static_cast<uint32_t>(std::strtoul(s, nullptr, 10));
    return h;
}

// Every copybook of cobol/copybooks, each through a generated program: the
// document reads back as the twin, statuses and standard error as on a
// plain file, the documents valid. COPYBOOK_TEST_SEED varies the records.
TEST(CopybookCorpus, EveryCopybookRoundTripsThroughAProgram) {
    TempDir temp;
    // COPYBOOK_TEST_DIR keeps the programs and documents there to look at.
    const char* kept = std::getenv("COPYBOOK_TEST_DIR");
    std::string dir = kept && *kept ? kept : temp.path();
    std::vector<Case> cases;
    for (const auto& entry : fs::directory_iterator(kCopybooks))
        if (entry.path().extension() == ".cpy") {
            Case c;
            c.layout = entry.path().stem().string();
            cases.push_back(std::move(c));
        }
    std::sort(cases.begin(), cases.end(), [](const Case& a, const Case& b) {
        // The largest program first, so that it is not the last to build.
        bool av = a.layout == kVolumeLayout, bv = b.layout == kVolumeLayout;
        return av != bv ? av : a.layout < b.layout;
    });
    ASSERT_GE(cases.size(), 15u);
    std::vector<Case*> ready;
    for (Case& c : cases) {
        std::string path = kCopybooks + "/" + c.layout + ".cpy";
        std::string error;
        if (!load_layout(path, c.layout, c.l, error)) {
            c.problems.push_back(error);
            continue;
        }
        bool volume = c.layout == kVolumeLayout;
        c.program = generate(c.l, volume ? kManyRecords : kRecords, volume, seed_of(c.layout));
        c.dir = dir + "/" + c.layout;
        fs::create_directories(c.dir);
        ready.push_back(&c);
    }
    // Three programs at a time: building is most of the time.
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w)
        workers.emplace_back([&] {
            for (size_t k; (k = next++) < ready.size();)
                run_case(*ready[k]);
        });
    for (std::thread& t : workers)
        t.join();
    for (const Case& c : cases) {
        std::string all;
        for (const std::string& p : c.problems)
            all += "\n  " + p;
        EXPECT_TRUE(c.problems.empty()) << c.layout << ":" << all;
    }
}

} // namespace
