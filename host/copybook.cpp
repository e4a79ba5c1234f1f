// Record layouts from COBOL copybooks (<layout>.xfd): levels, PICTURE, USAGE,
// SIGN, OCCURS, REDEFINES, FILLER, several records with "*> WHEN" conditions.
// Offsets and sizes follow GnuCOBOL's own allocation (binary items sized by
// the binary-size rule in force, no SYNCHRONIZED). Layouts are found in
// BRELRT_XFD_DIR, else along COBCPY as cobc finds copybooks.
#include "internal.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#define HERE "host/copybook", __LINE__

namespace {

std::string g_last_error;
std::string g_last_file; // the copybook B4ParseXFD found last

constexpr int max_items = 32767; // item indices are 16-bit

// How GnuCOBOL sizes binary items (cobc -fbinary-size, and the dialects):
// 1-2-4-8 (the default) and 2-4-8 (-std=ibm, mvs, rm, bs2000) by digits in
// 1, 2, 4 or 8 bytes, 2-4-8 never in 1 byte except for COMP-5; 1--8
// (-std=mf) in the fewest bytes that hold every value of the picture.
enum class BinarySize { kDefault, kNoByte, kFewest };

struct BinaryRule {
    const char* name;
    BinarySize size;
};
constexpr BinaryRule binary_rules[] = {
    {"1-2-4-8", BinarySize::kDefault},
    {"2-4-8", BinarySize::kNoByte},
    {"1--8", BinarySize::kFewest},
};

// The rule brelrt_set_binary_size chose; null while none was.
const BinaryRule* g_binary_rule = nullptr;

const BinaryRule* binary_rule_named(const char* name) {
    for (const BinaryRule& rule : binary_rules)
        if (name && std::strcmp(name, rule.name) == 0)
            return &rule;
    return nullptr;
}

// The rule in force: the one set, else BRELRT_BINARY_SIZE, else 1-2-4-8;
// null when the variable names no rule.
const BinaryRule* binary_rule() {
    if (g_binary_rule)
        return g_binary_rule;
    std::string value = brelrt::env("BRELRT_BINARY_SIZE");
    return value.empty() ? &binary_rules[0] : binary_rule_named(value.c_str());
}

// Bytes of a binary item of `digits` digits. `native`: COMP-5.
int32_t binary_bytes(int64_t digits, bool is_signed, bool native, BinarySize rule) {
    if (rule == BinarySize::kFewest) {
        // The digits every value of n bytes has room for, n = 1 to 8.
        static const int unsigned_digits[] = {2, 4, 7, 9, 12, 14, 16, 18};
        static const int signed_digits[] = {2, 4, 6, 9, 11, 14, 16, 18};
        const int* held = is_signed ? signed_digits : unsigned_digits;
        int32_t n = 1;
        while (n < 8 && digits > held[n - 1])
            ++n;
        return n;
    }
    if (digits <= 2 && (rule == BinarySize::kDefault || native))
        return 1;
    return digits <= 4 ? 2 : digits <= 9 ? 4 : 8;
}

struct Token {
    enum Kind { WORD, LITERAL, PERIOD } kind;
    std::string text;
    int line;
};

struct WhenClause {
    std::string field;
    std::string literal;
    int kind; // 0 text, 1 numeric, 2 OTHER
    int line;
};

// The comments that say something about the entry after them ("*> WHEN",
// "*> BINARY"), read since the last entry began: the first of each kind and
// the line of a second WHEN (an error), so that a run of them takes no room.
struct Directives {
    int binary_line = 0; // the first BINARY, 0 when none
    bool has_when = false;
    WhenClause when;          // the first WHEN
    int second_when_line = 0; // 0 when none
};

enum class Usage { NONE, DISPLAY, BINARY, PACKED, NATIVE, FLOAT, DOUBLE };

struct Node {
    int level = 0;
    int line = 0;
    std::string name; // as written; empty for FILLER
    bool has_picture = false;
    std::string picture;
    Usage usage = Usage::NONE;
    int sign = 0; // 0 none given, 1 leading, 2 trailing
    bool sign_separate = false;
    int occurs = 0;
    int occurs_min = 0;      // OCCURS min TO max: min; else the count
    std::string depending;   // OCCURS ... DEPENDING ON: the counter's name
    bool justified = false;  // JUSTIFIED RIGHT
    bool blank_zero = false; // BLANK WHEN ZERO
    bool edited = false;     // numeric-edited: `picture` is kept with the item
    std::string redefines;
    Node* redefined = nullptr; // the sibling REDEFINES names
    std::vector<std::unique_ptr<Node>> children;
    Node* parent = nullptr;
    bool has_when = false;
    WhenClause when;
    bool binary = false; // "*> BINARY": user type 2
    // computed
    int32_t size = 0; // one occurrence
    int32_t offset = 0;
    int type = BRELRT_T_GROUP;
    int digits = 0;
    int scale = 0;
};

struct ParseError {
    int line;
    std::string what;
};

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// A comment "*> WHEN field = literal" or "*> BINARY"; any other comment is
// ignored.
void parse_comment(const std::string& comment, int line, Directives& pending) {
    size_t begin = comment.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return;
    size_t end = comment.find_first_of(" \t\r", begin);
    if (end == std::string::npos)
        end = comment.size();
    std::string word = upper(comment.substr(begin, end - begin));
    std::string rest = comment.substr(end);
    if (word == "BINARY") {
        if (!trimmed(rest).empty())
            return; // a comment that merely begins with the word
        if (!pending.binary_line)
            pending.binary_line = line;
        return;
    }
    if (word != "WHEN")
        return;
    size_t eq = rest.find('=');
    if (eq == std::string::npos)
        throw ParseError{line, "WHEN without \"=\""};
    WhenClause w;
    w.field = trimmed(rest.substr(0, eq));
    std::string literal = trimmed(rest.substr(eq + 1));
    if (!literal.empty() && literal.back() == '.')
        literal.pop_back();
    w.line = line;
    if (w.field.empty() || w.field.find_first_of(" \t") != std::string::npos)
        throw ParseError{line, "WHEN needs one field name"};
    if (literal.size() >= 2 && (literal[0] == '"' || literal[0] == '\'') &&
        literal.back() == literal[0]) {
        w.literal = literal.substr(1, literal.size() - 2);
        w.kind = 0;
    } else if (upper(literal) == "OTHER") {
        w.kind = 2;
    } else {
        bool numeric = !literal.empty();
        bool point = false;
        for (size_t i = 0; i < literal.size(); ++i) {
            char c = literal[i];
            if (std::isdigit(static_cast<unsigned char>(c)))
                continue;
            if ((c == '+' || c == '-') && i == 0 && literal.size() > 1)
                continue;
            if (c == '.' && !point) {
                point = true;
                continue;
            }
            numeric = false;
        }
        if (!numeric)
            throw ParseError{line, "WHEN literal must be a number, a quoted text or OTHER"};
        w.literal = literal;
        w.kind = 1;
    }
    if (w.literal.size() >= sizeof(ConditionEntry::literal))
        throw ParseError{line, "WHEN literal too long"};
    if (!pending.has_when) {
        pending.has_when = true;
        pending.when = std::move(w);
    } else if (!pending.second_when_line) {
        pending.second_when_line = line;
    }
}

// The quote that a line leaves open at its end (0 when none): a literal to be
// continued on the next line.
char open_quote(const std::string& code) {
    char quote = 0;
    for (size_t i = 0; i < code.size(); ++i) {
        char c = code[i];
        if (quote) {
            if (c == quote) {
                if (i + 1 < code.size() && code[i + 1] == quote)
                    ++i;
                else
                    quote = 0;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '*' && i + 1 < code.size() && code[i + 1] == '>') {
            return 0;
        }
    }
    return quote;
}

// Tabs become blanks up to the next tab stop of 8, as cobc reads them.
std::string expand_tabs(std::string_view line) {
    std::string out;
    if (line.find('\t') == std::string_view::npos)
        return out.assign(line);
    for (char c : line) {
        if (c == '\t')
            out.append(8 - out.size() % 8, ' ');
        else
            out += c;
    }
    return out;
}

enum class Format { NONE, FIXED, FREE, OTHER };

// A line that sets the source format from its line on, in GnuCOBOL's forms:
// ">>SOURCE [FORMAT] [IS] FREE|FIXED" or "$SET SOURCEFORMAT"FREE"" (also
// 'FREE' or (FREE)), any case, at the line's first non-blank or after a
// fixed-form sequence area. NONE for any other line, OTHER for a $SET line
// that sets something else.
Format format_directive(const std::string& line, int number) {
    size_t at = line.find_first_not_of(' ');
    if (at == std::string::npos)
        return Format::NONE;
    std::string text = line.substr(at);
    if (text.compare(0, 2, ">>") != 0 && text[0] != '$') {
        if (line.size() <= 6 || (line[6] != '>' && line[6] != '$' && line[6] != ' '))
            return Format::NONE;
        text = trimmed(line.substr(6));
        if (text.compare(0, 2, ">>") != 0 && (text.empty() || text[0] != '$'))
            return Format::NONE;
    }
    text = upper(text);
    auto format_named = [&](const std::string& word) {
        if (word == "FREE")
            return Format::FREE;
        if (word == "FIXED")
            return Format::FIXED;
        throw ParseError{number, "source format " + brelrt::excerpt(word) + " is not supported"};
    };
    if (text[0] == '$') {
        if (text.compare(0, 5, "$SET ") != 0)
            return Format::NONE;
        size_t key = text.find("SOURCEFORMAT");
        if (key == std::string::npos)
            return Format::OTHER;
        size_t open = text.find_first_not_of(' ', key + 12);
        char close = open == std::string::npos ? 0
                     : text[open] == '('       ? ')'
                     : text[open] == '"'       ? '"'
                     : text[open] == '\''      ? '\''
                                               : 0;
        size_t end = close ? text.find(close, open + 1) : std::string::npos;
        if (end == std::string::npos)
            throw ParseError{number, "SOURCEFORMAT needs a quoted format"};
        return format_named(text.substr(open + 1, end - open - 1));
    }
    // The words after ">>", up to a "*>" comment.
    std::vector<std::string> words;
    for (size_t i = 2; i < text.size();) {
        size_t begin = text.find_first_not_of(' ', i);
        if (begin == std::string::npos || text.compare(begin, 2, "*>") == 0)
            break;
        size_t end = std::min(text.find(' ', begin), text.size());
        words.push_back(text.substr(begin, end - begin));
        i = end;
    }
    if (words.empty() || words[0] != "SOURCE")
        return Format::NONE;
    size_t k = 1;
    if (k < words.size() && words[k] == "FORMAT")
        ++k;
    if (k < words.size() && words[k] == "IS")
        ++k;
    if (k + 1 != words.size())
        throw ParseError{number, ">>SOURCE needs one format, FREE or FIXED"};
    return format_named(words[k]);
}

// Fixed form (sequence area, indicator in column 7, code in 8 to 72) unless
// most lines before the first format directive say otherwise: one odd line
// does not switch a fixed-form copybook to free form. Columns past 72 are
// the identification area: what they hold never counts against fixed form.
bool fixed_form(std::string_view text) {
    static const std::string indicators = " */-Dd";
    int fixed = 0, free = 0;
    bool counting = true;
    brelrt::each_line(text, [&](std::string_view raw, int number) {
        if (!counting)
            return;
        std::string l = expand_tabs(raw);
        if (l.find_first_not_of(" \r") == std::string::npos)
            return;
        if (format_directive(l, number) != Format::NONE) {
            counting = false;
            return;
        }
        if (l.size() < 7)
            return; // a sequence number only, or nothing either form would read
        bool looks_fixed = indicators.find(l[6]) != std::string::npos &&
                           l.substr(0, 6).find("*>") == std::string::npos;
        ++(looks_fixed ? fixed : free);
    });
    return fixed > 0 && fixed >= free;
}

// The code tokens of a copybook, made as the parser asks for them: memory
// holds one logical line (a line and its continuations), never every token
// of the copybook. Directive comments wait for the entry after them.
class Source {
public:
    explicit Source(std::string_view text) {
        // A trailing end-of-file byte (0x1A) of DOS editors is not part of the text.
        while (!text.empty() &&
               (text.back() == '\x1A' || text.back() == '\n' || text.back() == '\r'))
            text.remove_suffix(1);
        text_ = text;
        fixed_ = fixed_form(text);
    }

    // The next token, null at the end; valid until the next take.
    const Token* peek() {
        if (!has_token_)
            has_token_ = next_token();
        return has_token_ ? &token_ : nullptr;
    }

    // The next token, taken (there must be one).
    Token take() {
        peek();
        has_token_ = false;
        return std::move(token_);
    }

    // The line of the last token made (0 when none).
    int last_line() const { return token_.line; }

    // The directive comments read so far: those before the next token.
    const Directives& directives() const { return pending_; }
    Directives take_directives() { return std::exchange(pending_, Directives{}); }

private:
    // Reads the next token of the code line, and the next lines as needed.
    bool next_token() {
        for (;;) {
            size_t n = code_.size();
            while (at_ < n && (code_[at_] == ' ' || code_[at_] == '\t' || code_[at_] == '\r' ||
                               code_[at_] == ',' || code_[at_] == ';'))
                ++at_;
            if (at_ >= n) {
                if (!next_line())
                    return false;
                continue;
            }
            size_t i = at_;
            char c = code_[i];
            int line = code_line_;
            if (c == '*' && i + 1 < n && code_[i + 1] == '>') {
                parse_comment(code_.substr(i + 2), line, pending_);
                at_ = n;
                continue;
            }
            if (c == '"' || c == '\'') {
                size_t j = i + 1;
                std::string text;
                for (;; ++j) {
                    if (j >= n)
                        throw ParseError{line, "literal not closed"};
                    if (code_[j] == c) {
                        if (j + 1 < n && code_[j + 1] == c) {
                            text += c;
                            ++j;
                            continue;
                        }
                        break;
                    }
                    text += code_[j];
                }
                token_ = {Token::LITERAL, std::move(text), line};
                at_ = j + 1;
                return true;
            }
            if (c == '.') {
                token_ = {Token::PERIOD, ".", line};
                at_ = i + 1;
                return true;
            }
            size_t j = i;
            while (j < n && code_[j] != ' ' && code_[j] != '\t' && code_[j] != '\r' &&
                   code_[j] != '"' && code_[j] != '\'') {
                // A period, comma or semicolon followed by a blank ends the word.
                if ((code_[j] == '.' || code_[j] == ',' || code_[j] == ';') &&
                    (j + 1 >= n || code_[j + 1] == ' ' || code_[j + 1] == '\t' ||
                     code_[j + 1] == '\r'))
                    break;
                ++j;
            }
            token_ = {Token::WORD, code_.substr(i, j - i), line};
            at_ = j;
            return true;
        }
    }

    // The next logical line into code_: in fixed form a code line waits
    // until it is known whether the next line continues it. Comment lines
    // between them are read through; a directive comment or a format
    // directive is read only once the line before it has been handed over.
    bool next_line() {
        code_.clear();
        code_line_ = 0;
        at_ = 0;
        size_t piece_length = 0;    // length of the last physical line in code_
        constexpr size_t area = 65; // columns 8 to 72
        while (next_ < text_.size()) {
            size_t start = next_;
            size_t end = text_.find('\n', start);
            if (end == std::string_view::npos)
                end = text_.size();
            size_t stop = end > start && text_[end - 1] == '\r' ? end - 1 : end;
            std::string code = expand_tabs(text_.substr(start, stop - start));
            int line = number_ + 1;
            Format format = format_directive(code, line);
            bool continuation =
                fixed_ && format == Format::NONE && code.size() >= 7 && code[6] == '-';
            bool directive_comment = fixed_ && format == Format::NONE && code.size() >= 8 &&
                                     (code[6] == '*' || code[6] == '/') && code[7] == '>';
            bool starts = format != Format::NONE || directive_comment || !fixed_ ||
                          (code.size() >= 7 && !continuation && code[6] != '*' && code[6] != '/' &&
                           code[6] != 'D' && code[6] != 'd');
            if (starts && code_line_)
                return true; // this line is read again on the next call
            next_ = end + 1;
            number_ = line;
            if (format != Format::NONE) {
                if (format != Format::OTHER)
                    fixed_ = format == Format::FIXED;
                continue;
            }
            if (!fixed_) {
                code_ = std::move(code);
                code_line_ = line;
                return true;
            }
            if (code.size() < 7)
                continue;
            char indicator = code[6];
            if (code.size() > 72)
                code.resize(72);
            if (directive_comment) {
                parse_comment(code.substr(8), line, pending_);
                continue;
            }
            if (indicator == '*' || indicator == '/' || indicator == 'D' || indicator == 'd')
                continue;
            code.erase(0, 7);
            if (!continuation) {
                code_ = std::move(code);
                code_line_ = line;
                piece_length = code_.size();
                continue;
            }
            // Continuation: a literal goes on from column 72 of the line
            // before, after the quote that opens the continued part; a word
            // goes on from the first character.
            if (!code_line_)
                throw ParseError{line, "continuation line with no line before it"};
            size_t first = code.find_first_not_of(' ');
            if (first == std::string::npos)
                continue;
            if (char quote = open_quote(code_)) {
                if (code[first] != quote)
                    throw ParseError{line, "continued literal must go on after a quote"};
                if (piece_length < area)
                    code_.append(area - piece_length, ' ');
                code_.append(code, first + 1);
            } else {
                size_t last = code_.find_last_not_of(' ');
                code_.resize(last == std::string::npos ? 0 : last + 1);
                code_.append(code, first);
            }
            piece_length = code.size();
        }
        return code_line_ != 0;
    }

    std::string_view text_;
    size_t next_ = 0; // offset of the next line
    int number_ = 0;  // number of the last line read
    bool fixed_ = true;
    std::string code_; // the logical line being read
    int code_line_ = 0;
    size_t at_ = 0; // where in code_
    Token token_{Token::PERIOD, "", 0};
    bool has_token_ = false;
    Directives pending_;
};

bool is_level(const Token& t, int& level) {
    if (t.kind != Token::WORD || t.text.empty() || t.text.size() > 2)
        return false;
    for (char c : t.text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    level = std::stoi(t.text);
    return true;
}

bool usage_word(const std::string& w, Usage& u) {
    static const std::pair<const char*, Usage> words[] = {
        {"DISPLAY", Usage::DISPLAY},        {"COMP", Usage::BINARY},
        {"COMPUTATIONAL", Usage::BINARY},   {"BINARY", Usage::BINARY},
        {"COMP-4", Usage::BINARY},          {"COMPUTATIONAL-4", Usage::BINARY},
        {"COMP-3", Usage::PACKED},          {"COMPUTATIONAL-3", Usage::PACKED},
        {"PACKED-DECIMAL", Usage::PACKED},  {"COMP-5", Usage::NATIVE},
        {"COMPUTATIONAL-5", Usage::NATIVE}, {"COMP-1", Usage::FLOAT},
        {"COMPUTATIONAL-1", Usage::FLOAT},  {"COMP-2", Usage::DOUBLE},
        {"COMPUTATIONAL-2", Usage::DOUBLE},
    };
    for (const auto& [name, usage] : words)
        if (w == name) {
            u = usage;
            return true;
        }
    return false;
}

// Usages whose storage is an address or an index, not data to exchange.
bool refused_usage(const std::string& w) {
    return w == "INDEX" || w == "POINTER" || w == "PROGRAM-POINTER" || w == "FUNCTION-POINTER";
}

bool is_number(const std::string& s) {
    return !s.empty() && s.size() <= 9 && s.find_first_not_of("0123456789") == std::string::npos;
}

class Parser {
public:
    // `record_name` names the level-01 record that encloses a copybook
    // written without one.
    Parser(Source& src, std::string record_name)
        : src_(src), record_name_(std::move(record_name)) {}

    std::vector<std::unique_ptr<Node>> records() {
        std::vector<std::unique_ptr<Node>> result;
        std::vector<Node*> stack;
        while (src_.peek()) {
            Token t = src_.take();
            int level;
            if (!is_level(t, level))
                throw ParseError{t.line, "expected a level number, found '" +
                                             brelrt::excerpt(t.text) + "'"};
            Directives directives = src_.take_directives();
            if (level == 66 || level == 77 || level == 88) {
                skip_entry();
                continue;
            }
            if (level < 1 || level > 49)
                throw ParseError{t.line, "level number " + t.text + " not allowed"};
            if (++entries_ > max_items)
                throw ParseError{t.line, "layout has too many entries"};
            auto node = std::make_unique<Node>();
            node->level = level;
            node->line = t.line;
            entry(*node);
            apply(directives, *node);
            Node* raw = node.get();
            if (level == 1) {
                stack.clear();
                result.push_back(std::move(node));
            } else {
                if (result.empty()) {
                    // Most published copybooks begin below level 01.
                    auto record = std::make_unique<Node>();
                    record->level = 1;
                    record->line = t.line;
                    record->name = record_name_;
                    stack.push_back(record.get());
                    result.push_back(std::move(record));
                }
                if (stack.empty())
                    throw ParseError{t.line, "level " + t.text + " before any level 01"};
                Node* popped = nullptr;
                while (!stack.empty() && stack.back()->level >= level) {
                    popped = stack.back();
                    stack.pop_back();
                }
                if (stack.empty())
                    throw ParseError{t.line, "level " + t.text + " before any level 01"};
                if (popped && popped->level != level && popped->parent == stack.back())
                    throw ParseError{t.line,
                                     "level " + t.text + " does not match the levels above it"};
                Node* parent = stack.back();
                if (parent->has_picture)
                    throw ParseError{t.line, "item under an elementary item with PICTURE"};
                raw->parent = parent;
                parent->children.push_back(std::move(node));
            }
            stack.push_back(raw);
        }
        const Directives& left = src_.directives();
        if (left.has_when && (!left.binary_line || left.when.line < left.binary_line))
            throw ParseError{left.when.line, "WHEN not followed by a record"};
        if (left.binary_line)
            throw ParseError{left.binary_line, "BINARY not followed by a field"};
        return result;
    }

private:
    // The WHEN and BINARY comments before an entry; the first one that does
    // not fit it, in the order of the lines, is the error.
    static void apply(Directives& d, Node& node) {
        std::vector<ParseError> errors;
        if (d.binary_line && !node.has_picture)
            errors.push_back(
                {d.binary_line, "BINARY must precede an elementary item with PICTURE"});
        if (d.has_when && node.level != 1 && node.redefines.empty())
            errors.push_back(
                {d.when.line, "WHEN must precede a level 01 record or an entry with REDEFINES"});
        if (d.second_when_line)
            errors.push_back({d.second_when_line, "more than one WHEN for an entry"});
        if (!errors.empty())
            throw *std::min_element(errors.begin(), errors.end(),
                                    [](const auto& a, const auto& b) { return a.line < b.line; });
        node.binary = d.binary_line != 0;
        node.has_when = d.has_when;
        if (d.has_when)
            node.when = std::move(d.when);
    }

    const Token* peek() { return src_.peek(); }

    void skip() { src_.take(); }

    Token take(int line, const char* what) {
        if (!src_.peek())
            throw ParseError{line, std::string("missing ") + what};
        return src_.take();
    }

    void skip_entry() {
        while (src_.peek() && src_.peek()->kind != Token::PERIOD)
            skip();
        if (!src_.peek())
            throw ParseError{src_.last_line(), "entry not ended by a period"};
        skip();
    }

    bool next_is(const char* word) {
        const Token* t = peek();
        return t && t->kind == Token::WORD && upper(t->text) == word;
    }

    bool clause_start(const std::string& w) const {
        static const char* words[] = {"PIC",       "PICTURE",  "USAGE",     "SIGN",  "LEADING",
                                      "TRAILING",  "OCCURS",   "REDEFINES", "VALUE", "VALUES",
                                      "JUSTIFIED", "JUST",     "BLANK",     "SYNC",  "SYNCHRONIZED",
                                      "GLOBAL",    "EXTERNAL", "IS"};
        for (const char* k : words)
            if (w == k)
                return true;
        Usage u;
        return usage_word(w, u);
    }

    void entry(Node& node) {
        const Token* t = peek();
        if (!t)
            throw ParseError{node.line, "entry not ended by a period"};
        if (t->kind == Token::WORD) {
            std::string w = upper(t->text);
            if (w == "FILLER") {
                skip();
            } else if (!clause_start(w)) {
                for (char c : t->text)
                    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
                        throw ParseError{t->line,
                                         "bad data name '" + brelrt::excerpt(t->text) + "'"};
                if (t->text.size() > BRELRT_NAME_MAX)
                    throw ParseError{t->line, "data name longer than 63 characters"};
                node.name = t->text;
                skip();
            }
        }
        for (;;) {
            const Token& tok = take(node.line, "period at the end of the entry");
            if (tok.kind == Token::PERIOD)
                return;
            if (tok.kind == Token::LITERAL)
                throw ParseError{tok.line,
                                 "unexpected literal \"" + brelrt::excerpt(tok.text) + "\""};
            std::string w = upper(tok.text);
            Usage u;
            if (w == "PIC" || w == "PICTURE") {
                if (next_is("IS"))
                    skip();
                const Token& p = take(tok.line, "picture string");
                if (p.kind != Token::WORD)
                    throw ParseError{p.line, "PICTURE without a picture string"};
                if (node.has_picture)
                    throw ParseError{p.line, "PICTURE given twice"};
                node.has_picture = true;
                node.picture = upper(p.text);
            } else if (w == "USAGE") {
                if (next_is("IS"))
                    skip();
                const Token& p = take(tok.line, "usage");
                if (refused_usage(upper(p.text)))
                    throw ParseError{p.line, "USAGE " + upper(p.text) + " is not supported"};
                if (!usage_word(upper(p.text), u))
                    throw ParseError{p.line,
                                     "usage '" + brelrt::excerpt(p.text) + "' not supported"};
                node.usage = u;
            } else if (usage_word(w, u)) {
                node.usage = u;
            } else if (w == "SIGN" || w == "LEADING" || w == "TRAILING") {
                std::string which = w;
                if (w == "SIGN") {
                    if (next_is("IS"))
                        skip();
                    which = upper(take(tok.line, "LEADING or TRAILING").text);
                }
                if (which != "LEADING" && which != "TRAILING")
                    throw ParseError{tok.line, "SIGN needs LEADING or TRAILING"};
                node.sign = which == "LEADING" ? 1 : 2;
                if (next_is("SEPARATE")) {
                    skip();
                    node.sign_separate = true;
                    if (next_is("CHARACTER"))
                        skip();
                }
            } else if (w == "OCCURS") {
                // "OCCURS n" (n at least 1) or "OCCURS min TO max" (min may
                // be 0): the table takes its maximum.
                const Token& n = take(tok.line, "OCCURS count");
                long count = is_number(n.text) ? std::stol(n.text) : -1;
                if (next_is("TO")) {
                    skip();
                    const Token& m = take(tok.line, "OCCURS maximum");
                    if (count < 0)
                        throw ParseError{n.line, "OCCURS needs a count not below 0 before TO"};
                    if (!is_number(m.text) || std::stol(m.text) < std::max(count, 1L))
                        throw ParseError{m.line, "OCCURS TO needs a positive count not below "
                                                 "the minimum"};
                    node.occurs_min = static_cast<int>(count);
                    count = std::stol(m.text);
                } else if (count < 1) {
                    throw ParseError{n.line, "OCCURS needs a positive count"};
                } else {
                    node.occurs_min = static_cast<int>(std::min(count, 32768L));
                }
                node.occurs = static_cast<int>(std::min(count, 32768L));
                if (node.occurs > 32767)
                    throw ParseError{n.line, "OCCURS count too large"};
                if (next_is("TIMES"))
                    skip();
                table_phrases(tok.line, node);
            } else if (w == "REDEFINES") {
                const Token& r = take(tok.line, "redefined name");
                if (r.kind != Token::WORD)
                    throw ParseError{r.line, "REDEFINES needs a data name"};
                node.redefines = r.text;
            } else if (w == "VALUE" || w == "VALUES") {
                skip_values();
            } else if (w == "JUSTIFIED" || w == "JUST") {
                if (next_is("RIGHT"))
                    skip();
                node.justified = true;
            } else if (w == "BLANK") {
                if (next_is("WHEN"))
                    skip();
                const Token& z = take(tok.line, "ZERO");
                std::string zw = upper(z.text);
                if (zw != "ZERO" && zw != "ZEROS" && zw != "ZEROES")
                    throw ParseError{z.line, "BLANK needs ZERO"};
                node.blank_zero = true;
            } else if (w == "GLOBAL" || w == "EXTERNAL") {
            } else if (w == "SYNC" || w == "SYNCHRONIZED") {
                throw ParseError{tok.line, "SYNCHRONIZED is not supported"};
            } else if (refused_usage(w)) {
                throw ParseError{tok.line, "USAGE " + w + " is not supported"};
            } else {
                throw ParseError{tok.line, "unexpected '" + brelrt::excerpt(tok.text) + "'"};
            }
        }
    }

    // DEPENDING ON (its counter's name kept; a qualified name "CNT OF GRP"
    // is looked up by its first word), ASCENDING/DESCENDING KEY and
    // INDEXED BY (skipped).
    void table_phrases(int line, Node& node) {
        for (;;) {
            if (next_is("DEPENDING")) {
                skip();
                if (next_is("ON"))
                    skip();
                const Token& counter = take(line, "DEPENDING ON name");
                if (counter.kind != Token::WORD)
                    throw ParseError{counter.line, "DEPENDING ON needs a data name"};
                node.depending = counter.text;
                while (next_is("OF") || next_is("IN")) {
                    skip();
                    take(line, "qualifier after OF");
                }
            } else if (next_is("ASCENDING") || next_is("DESCENDING") || next_is("INDEXED")) {
                skip();
                if (next_is("KEY") || next_is("BY"))
                    skip();
                if (next_is("IS"))
                    skip();
                // Names up to the next clause or the period.
                while (const Token* t = peek()) {
                    if (t->kind != Token::WORD || clause_start(upper(t->text)) ||
                        next_is("ASCENDING") || next_is("DESCENDING") || next_is("INDEXED"))
                        break;
                    skip();
                }
            } else {
                return;
            }
        }
    }

    void skip_values() {
        if (next_is("IS") || next_is("ARE"))
            skip();
        while (const Token* t = peek()) {
            if (t->kind == Token::PERIOD)
                return;
            if (t->kind == Token::WORD && clause_start(upper(t->text)) && upper(t->text) != "IS")
                return;
            skip();
        }
    }

    Source& src_;
    std::string record_name_;
    int entries_ = 0; // level 01 to 49: each is a node in memory
};

// PICTURE and USAGE of an elementary item give its type, digits, scale, size.
void describe(Node& node, Usage usage, int sign, bool separate, BinarySize rule) {
    const std::string& pic = node.picture;
    int line = node.line;
    if (!node.has_picture) {
        if (usage == Usage::FLOAT || usage == Usage::DOUBLE) {
            node.type = usage == Usage::FLOAT ? BRELRT_T_FLOAT : BRELRT_T_DOUBLE;
            node.size = usage == Usage::FLOAT ? 4 : 8;
            node.digits = usage == Usage::FLOAT ? 15 : 31;
            node.scale = usage == Usage::FLOAT ? -7 : -15;
            return;
        }
        throw ParseError{line, "elementary item without PICTURE"};
    }
    // Each count stays below the record bound plus one repeat: no overflow.
    int64_t x = 0, a = 0, nines = 0, decimals = 0, edits = 0, positions = 0;
    bool s = false, v = false;
    for (size_t i = 0; i < pic.size(); ++i) {
        char c = pic[i];
        long repeat = 1;
        if (i + 1 < pic.size() && pic[i + 1] == '(') {
            size_t close = pic.find(')', i + 2);
            std::string count = close == std::string::npos ? "" : pic.substr(i + 2, close - i - 2);
            if (!is_number(count) || std::stol(count) < 1)
                throw ParseError{line, "bad repeat count in PICTURE " + brelrt::excerpt(pic)};
            repeat = std::stol(count);
            if (repeat > 65535)
                throw ParseError{line, "PICTURE " + brelrt::excerpt(pic) + " too long"};
        }
        switch (c) {
        case 'X':
            x += repeat;
            break;
        case 'A':
            a += repeat;
            break;
        case '9':
            nines += repeat;
            if (v)
                decimals += repeat;
            break;
        case 'S':
            if (i != 0 || repeat != 1)
                throw ParseError{line, "S must come first in PICTURE " + brelrt::excerpt(pic)};
            s = true;
            break;
        case 'V':
            if (v || repeat != 1)
                throw ParseError{line, "more than one V in PICTURE " + brelrt::excerpt(pic)};
            v = true;
            break;
        case 'Z':
        case '*':
        case '+':
        case '-':
        case '.':
        case ',':
        case 'B':
        case '0':
        case '/':
        case 'C':
        case 'R':
        case 'D':
        case '$':
            edits += repeat;
            break;
        case 'P':
            throw ParseError{line, "P in PICTURE is not supported"};
        default:
            throw ParseError{line, "PICTURE " + brelrt::excerpt(pic) + " is not supported"};
        }
        if (c != 'S' && c != 'V')
            positions += repeat;
        if (positions > BRELRT_RECORD_SIZE_MAX)
            throw ParseError{line, "PICTURE " + brelrt::excerpt(pic) +
                                       " is larger than a record may be (" +
                                       std::to_string(BRELRT_RECORD_SIZE_MAX) + " bytes)"};
        if (repeat > 1 || (i + 1 < pic.size() && pic[i + 1] == '('))
            i = pic.find(')', i);
    }
    if (edits) {
        // Edited: printed text of its length. Numeric-edited (no X or A) keeps
        // its picture, so that a number read back is edited again as a MOVE
        // would edit it.
        if (usage != Usage::NONE && usage != Usage::DISPLAY)
            throw ParseError{line, "edited PICTURE " + brelrt::excerpt(pic) + " must be DISPLAY"};
        if (node.justified)
            throw ParseError{line, "JUSTIFIED on an edited item"};
        node.type = BRELRT_T_ALPHANUMERIC;
        node.size = static_cast<int32_t>(positions);
        node.edited = !x && !a;
        if (node.blank_zero && !node.edited)
            throw ParseError{line, "BLANK WHEN ZERO needs a numeric PICTURE"};
        return;
    }
    if (x || a) {
        if (s || v)
            throw ParseError{line, "S or V in an alphanumeric PICTURE " + brelrt::excerpt(pic)};
        if (usage != Usage::NONE && usage != Usage::DISPLAY)
            throw ParseError{line, "usage needs a numeric PICTURE, not " + brelrt::excerpt(pic)};
        if (sign)
            throw ParseError{line, "SIGN on a non-numeric item"};
        if (node.blank_zero)
            throw ParseError{line, "BLANK WHEN ZERO needs a numeric PICTURE"};
        node.type = x || nines ? BRELRT_T_ALPHANUMERIC : BRELRT_T_ALPHABETIC;
        node.size = static_cast<int32_t>(positions);
        return;
    }
    if (!nines)
        throw ParseError{line, "PICTURE " + brelrt::excerpt(pic) + " has no digits"};
    if (nines > 38)
        throw ParseError{line, "more than 38 digits in PICTURE " + brelrt::excerpt(pic)};
    if (sign && !s)
        throw ParseError{line, "SIGN clause on an unsigned item"};
    if (node.justified)
        throw ParseError{line, "JUSTIFIED on a numeric item"};
    if (node.blank_zero) {
        // A numeric DISPLAY item with BLANK WHEN ZERO is numeric-edited.
        if ((usage != Usage::NONE && usage != Usage::DISPLAY) || s)
            throw ParseError{line, "BLANK WHEN ZERO needs an unsigned DISPLAY item"};
        node.type = BRELRT_T_ALPHANUMERIC;
        node.size = static_cast<int32_t>(nines);
        node.edited = true;
        return;
    }
    node.digits = static_cast<int>(nines);
    node.scale = -static_cast<int>(decimals);
    switch (usage) {
    case Usage::NONE:
    case Usage::DISPLAY:
        node.size = static_cast<int32_t>(nines) + (s && separate ? 1 : 0);
        if (!s)
            node.type = BRELRT_T_UNSIGNED;
        else if (sign == 1)
            node.type = separate ? BRELRT_T_SIGN_LEADING_SEP : BRELRT_T_SIGN_LEADING;
        else
            node.type = separate ? BRELRT_T_SIGN_TRAILING_SEP : BRELRT_T_SIGN_TRAILING;
        return;
    case Usage::PACKED:
        node.size = static_cast<int32_t>(nines / 2 + 1);
        node.type = s ? BRELRT_T_PACKED : BRELRT_T_PACKED_UNSIGNED;
        break;
    case Usage::BINARY:
    case Usage::NATIVE:
        if (nines > 18)
            throw ParseError{line, "more than 18 digits in a binary item"};
        node.size = binary_bytes(nines, s, usage == Usage::NATIVE, rule);
        if (usage == Usage::BINARY)
            node.type = s ? BRELRT_T_BINARY : BRELRT_T_BINARY_UNSIGNED;
        else
            node.type = s ? BRELRT_T_NATIVE : BRELRT_T_NATIVE_UNSIGNED;
        break;
    case Usage::FLOAT:
    case Usage::DOUBLE:
        throw ParseError{line, "COMP-1 and COMP-2 take no PICTURE"};
    }
    if (sign)
        throw ParseError{line, "SIGN clause needs USAGE DISPLAY"};
}

bool same_name(const std::string& a, const std::string& b) {
    return upper(a) == upper(b);
}

// Sizes and offsets (relative to the parent) of a subtree.
void lay_out(Node& node, Usage usage, int sign, bool separate, BinarySize rule) {
    if (node.usage != Usage::NONE)
        usage = node.usage;
    if (node.sign) {
        sign = node.sign;
        separate = node.sign_separate;
    }
    if (node.children.empty()) {
        describe(node, usage, sign, separate, rule);
        return;
    }
    if (node.has_picture)
        throw ParseError{node.line, "group item with PICTURE"};
    int64_t position = 0, end = 0;
    for (size_t i = 0; i < node.children.size(); ++i) {
        Node& child = *node.children[i];
        lay_out(child, usage, sign, separate, rule);
        int64_t total = static_cast<int64_t>(child.size) * (child.occurs ? child.occurs : 1);
        if (!child.redefines.empty()) {
            // The redefined item is the nearest earlier sibling that is not
            // itself a redefinition.
            Node* target = nullptr;
            for (size_t j = i; j-- > 0;) {
                if (node.children[j]->redefines.empty()) {
                    target = node.children[j].get();
                    break;
                }
            }
            if (!target || !same_name(target->name, child.redefines))
                throw ParseError{child.line, "REDEFINES " + brelrt::excerpt(child.redefines) +
                                                 " does not name the item before it"};
            child.offset = target->offset;
            child.redefined = target;
        } else {
            child.offset = static_cast<int32_t>(end);
        }
        // An item at most the bound, times at most 32767 occurrences, plus an
        // offset within the bound: far from overflowing 64 bits.
        position = child.offset + total;
        end = std::max(end, position);
        if (end > BRELRT_RECORD_SIZE_MAX)
            throw ParseError{child.line, "record larger than " +
                                             std::to_string(BRELRT_RECORD_SIZE_MAX) + " bytes"};
    }
    node.size = static_cast<int32_t>(end);
    node.type = BRELRT_T_GROUP;
}

// A condition: the WHEN and the item it selects.
struct Selection {
    const WhenClause* when;
    int item;
};

// Whether a subtree describes data: an elementary item with a name. A group
// made only of FILLER describes none.
bool describes_data(const Node& node) {
    if (node.children.empty())
        return !node.name.empty() && !same_name(node.name, "FILLER");
    for (const auto& child : node.children)
        if (child->redefines.empty() && describes_data(*child))
            return true;
    return false;
}

struct Emitter {
    std::vector<LayoutItem> items;
    std::vector<const Node*> origin; // node of each item
    std::vector<Selection> conditions;
    std::vector<std::string> pictures; // of each item flagged BRELRT_ITEM_EDITED, in item order
    int case_mode = 0;
    std::string record_name; // the name of a level-01 FILLER
    int record_first = 0;    // the first item of the record being emitted

    // Emits every occurrence of `node` (offsets from `base`) with its
    // subtree. `condition` is the one of what encloses it, `shadow` whether
    // it lies inside a REDEFINES without WHEN, `redefined` the item its
    // REDEFINES names (-1 none). Returns the node's first item, -1 for an
    // elementary FILLER.
    int emit(const Node& node, int32_t base, int condition, bool shadow, int redefined, int depth,
             const int16_t* counts, const int16_t* occ) {
        int copies = node.occurs ? node.occurs : 1;
        int d = depth + (node.occurs ? 1 : 0);
        if (d > BRELRT_MAX_DEPTH)
            throw ParseError{node.line, "OCCURS nested too deeply"};
        bool variant = redefined >= 0 && node.has_when;
        if (redefined >= 0 && !node.has_when)
            shadow = true;
        if (variant) {
            if (d > 0)
                throw ParseError{node.when.line, "WHEN inside an OCCURS table is not supported"};
            if (conditions.size() >= 32767)
                throw ParseError{node.when.line, "too many WHEN conditions"};
            conditions.push_back({&node.when, static_cast<int>(items.size())});
            condition = static_cast<int>(conditions.size());
        }
        bool group = !node.children.empty();
        bool filler = node.name.empty() || same_name(node.name, "FILLER");
        if (variant && filler && !group)
            throw ParseError{node.when.line, "WHEN before an elementary FILLER"};
        int counter = node.depending.empty() ? -1 : counter_of(node, occ, d);
        int first = -1;
        for (int k = 1; k <= copies; ++k) {
            // Within the record, whose size lay_out bounded: no overflow.
            int32_t offset = base + node.offset + (k - 1) * node.size;
            int16_t c[BRELRT_MAX_DEPTH + 1] = {}, o[BRELRT_MAX_DEPTH + 1] = {};
            std::memcpy(c, counts, sizeof c);
            std::memcpy(o, occ, sizeof o);
            if (node.occurs) {
                c[d] = static_cast<int16_t>(node.occurs);
                o[d] = static_cast<int16_t>(k);
            }
            if (!(filler && !group) || node.level == 1) {
                if (items.size() >= static_cast<size_t>(max_items))
                    throw ParseError{node.line, "layout has too many items"};
                LayoutItem item{};
                item.offset = offset;
                item.field.size = node.size;
                item.field.type = static_cast<int16_t>(node.type);
                item.field.digits = static_cast<uint8_t>(node.digits);
                item.field.scale = static_cast<int8_t>(node.scale);
                item.user_type = node.binary ? BRELRT_USER_TYPE_BINARY : 0;
                item.condition = static_cast<int16_t>(group ? BRELRT_CONDITION_GROUP : condition);
                item.level = static_cast<int16_t>(node.level);
                std::memcpy(item.occurs_count, c, sizeof c);
                std::memcpy(item.occurrence, o, sizeof o);
                item.depth = d;
                item.depending = -1;
                if (redefined >= 0) {
                    item.flags |= BRELRT_ITEM_REDEFINES;
                    item.redefined = static_cast<int16_t>(redefined);
                    items[static_cast<size_t>(redefined)].flags |= BRELRT_ITEM_REDEFINED;
                }
                if (variant)
                    item.flags |= BRELRT_ITEM_VARIANT;
                if (shadow)
                    item.flags |= BRELRT_ITEM_SHADOW;
                if (node.justified && !group)
                    item.flags |= BRELRT_ITEM_JUSTIFIED;
                if (node.edited) {
                    item.flags |= BRELRT_ITEM_EDITED;
                    pictures.push_back(node.picture);
                }
                if (node.blank_zero)
                    item.flags |= BRELRT_ITEM_BLANK_ZERO;
                if (!node.depending.empty()) {
                    item.flags |= BRELRT_ITEM_VARYING;
                    item.depending = static_cast<int16_t>(counter);
                    item.occurs_min = static_cast<int16_t>(node.occurs_min);
                }
                set_name(item, node.level == 1 && filler ? record_name
                               : filler                  ? std::string("filler")
                                                         : node.name);
                if (first < 0)
                    first = static_cast<int>(items.size());
                items.push_back(item);
                origin.push_back(&node);
            }
            // A REDEFINES names a sibling of this same occurrence: the item
            // that describes the storage first.
            std::vector<std::pair<const Node*, int>> firsts;
            for (const auto& child : node.children) {
                int target = -1;
                std::pair<const Node*, int>* named = nullptr;
                if (child->redefined) {
                    for (auto& entry : firsts)
                        if (entry.first == child->redefined)
                            named = &entry;
                    if (!named || named->second < 0)
                        throw ParseError{child->line, "REDEFINES of an elementary FILLER"};
                    target = named->second;
                }
                // A group of FILLER only describes no data: the first
                // redefinition without WHEN that does is written and read
                // in its place, and the FILLER group becomes the second view.
                if (named && !child->has_when && !describes_data(*child->redefined) &&
                    origin[static_cast<size_t>(target)] == child->redefined &&
                    !(items[static_cast<size_t>(target)].flags & BRELRT_ITEM_SHADOW) &&
                    describes_data(*child)) {
                    int index = emit(*child, offset, condition, shadow, -1, d, c, o);
                    mark_second_view(target, index);
                    named->second = index;
                    firsts.emplace_back(child.get(), index);
                    continue;
                }
                int index = emit(*child, offset, condition, shadow, target, d, c, o);
                firsts.emplace_back(child.get(), index);
            }
        }
        return first;
    }

    // The FILLER group at `item` becomes a second view of the storage
    // `primary` describes: it and the FILLER groups inside it are skipped
    // like every REDEFINES without WHEN.
    void mark_second_view(int item, int primary) {
        LayoutItem& filler = items[static_cast<size_t>(item)];
        filler.flags = static_cast<uint16_t>((filler.flags & ~BRELRT_ITEM_REDEFINED) |
                                             BRELRT_ITEM_REDEFINES | BRELRT_ITEM_SHADOW);
        filler.redefined = static_cast<int16_t>(primary);
        for (size_t i = static_cast<size_t>(item) + 1;
             i < items.size() && items[i].level > filler.level; ++i)
            items[i].flags |= BRELRT_ITEM_SHADOW;
        for (LayoutItem& other : items)
            if ((other.flags & BRELRT_ITEM_REDEFINES) && other.redefined == item &&
                &other != &filler)
                other.redefined = static_cast<int16_t>(primary);
        items[static_cast<size_t>(primary)].flags |= BRELRT_ITEM_REDEFINED;
    }

    // The item of the counter an OCCURS DEPENDING ON names: the nearest
    // earlier item of the record with that name, in the same occurrence of
    // any table that encloses the table; -1 when the record has none (the
    // counter lies outside it). It must be a numeric field.
    int counter_of(const Node& node, const int16_t* occ, int depth) const {
        for (size_t i = items.size(); i-- > static_cast<size_t>(record_first);) {
            const LayoutItem& it = items[i];
            if (!same_name(origin[i]->name, node.depending) || it.depth >= depth)
                continue;
            bool same_place = true;
            for (int k = 1; k <= it.depth; ++k)
                same_place = same_place && it.occurrence[k] == occ[k];
            if (!same_place)
                continue;
            if (it.condition == BRELRT_CONDITION_GROUP || !brelrt_type_is_numeric(it.field.type))
                throw ParseError{node.line, "DEPENDING ON " + brelrt::excerpt(node.depending) +
                                                " names no numeric field"};
            return static_cast<int>(i);
        }
        return -1;
    }

    void set_name(LayoutItem& item, const std::string& name) {
        size_t n = std::min(name.size(), sizeof item.name - 1);
        std::memcpy(item.name, name.data(), n);
        item.name[n] = '\0';
        if (case_mode == 0)
            brelrt_name_convert(item.name, BRELRT_NAME_ZERO_TERMINATED, BRELRT_NAME_LOWER);
        if (case_mode != 2)
            brelrt_name_convert(item.name, BRELRT_NAME_ZERO_TERMINATED, BRELRT_NAME_UNDERSCORE);
    }
};

// A copybook that cannot be used: reported as the host's own problem.
void set_error(const std::string& text) {
    g_last_error = text;
    brelrt::report(text);
}

// No layout of that name: the caller decides whether that is a problem, and
// traces it.
void set_missing(const std::string& text) {
    g_last_error = text;
}

// The elementary item a WHEN tests: by name, within the record of the item
// it selects when there is one there, else the first in the layout.
int tested_field(const Emitter& em, const Selection& s, int record_first, int record_end) {
    int found = -1;
    for (size_t i = 0; i < em.items.size(); ++i) {
        const Node* n = em.origin[i];
        if (!n->children.empty() || !same_name(n->name, s.when->field))
            continue;
        if (static_cast<int>(i) >= record_first && static_cast<int>(i) < record_end)
            return static_cast<int>(i);
        if (found < 0)
            found = static_cast<int>(i);
    }
    return found;
}

// No memory for the layout: error 14, and the reason as the last error.
RecordLayout* out_of_memory(const std::string& path) {
    g_last_error = path + ": out of memory";
    brelrt::shortage();
    return nullptr;
}

RecordLayout* build(const std::string& text, const std::string& path, const char* layout_name) {
    const BinaryRule* binary = binary_rule();
    if (!binary) {
        set_error("BRELRT_BINARY_SIZE '" + brelrt::excerpt(brelrt::env("BRELRT_BINARY_SIZE")) +
                  "' is no binary-size rule (1-2-4-8, 2-4-8 or 1--8): " + path + " not used");
        return nullptr;
    }
    BinarySize rule = binary->size;
    std::vector<std::unique_ptr<Node>> records;
    Emitter em;
    // Field names take the same case as the element names of the reader:
    // 4GL_COLUMN_CASE 0 lower case, 1 as written, 2 as written with "-" kept.
    long case_setting = brelrt::config_number("4GL_COLUMN_CASE");
    em.case_mode = case_setting == 1 ? 1 : case_setting == 2 ? 2 : 0;
    em.record_name = std::string(layout_name) + "-rec";
    std::vector<int> record_first; // first item of each record
    std::vector<int> tested;
    try {
        Source src(text);
        Parser parser(src, em.record_name);
        records = parser.records();
        if (records.empty())
            throw ParseError{1, "no level 01 record"};
        int16_t zero[BRELRT_MAX_DEPTH + 1] = {};
        for (size_t r = 0; r < records.size(); ++r) {
            Node& record = *records[r];
            if (record.occurs)
                throw ParseError{record.line, "OCCURS on a level 01 record"};
            int redefined = -1;
            if (!record.redefines.empty()) {
                if (records.size() == 1)
                    throw ParseError{record.line, "REDEFINES on the only record"};
                for (size_t e = 0; e < r; ++e)
                    if (same_name(records[e]->name, record.redefines))
                        redefined = record_first[e];
                if (redefined < 0)
                    throw ParseError{record.line, "REDEFINES " + brelrt::excerpt(record.redefines) +
                                                      " names no earlier record"};
            }
            lay_out(record, Usage::NONE, 0, false, rule);
            if (record.size < 1)
                throw ParseError{record.line, "record of no size"};
            record.offset = 0;
            int first = static_cast<int>(em.items.size());
            em.record_first = first;
            record_first.push_back(first);
            int condition = 0;
            if (record.has_when) {
                em.conditions.push_back({&record.when, first});
                condition = static_cast<int>(em.conditions.size());
            }
            // Several level-01 records share the record area anyway: only a
            // REDEFINES without WHEN makes one a second view of another.
            bool shadow = redefined >= 0 && !record.has_when;
            em.emit(record, 0, condition, shadow, shadow ? redefined : -1, 0, zero, zero);
        }
        record_first.push_back(static_cast<int>(em.items.size()));
        for (const Selection& s : em.conditions) {
            int t = -1;
            if (s.when->kind != 2) {
                size_t r = 0;
                while (r + 1 < record_first.size() && record_first[r + 1] <= s.item)
                    ++r;
                t = tested_field(em, s, record_first[r], record_first[r + 1]);
                if (t < 0)
                    throw ParseError{s.when->line, "WHEN names no field '" +
                                                       brelrt::excerpt(s.when->field) + "'"};
            }
            tested.push_back(t);
        }
    } catch (const ParseError& e) {
        set_error(brelrt::format("%s:%d: %s", brelrt::excerpt(path, 200).c_str(), e.line,
                                 e.what.c_str()));
        return nullptr;
    }
    // Fields named by a WHEN are read before any condition is tested, so they
    // belong to no condition themselves.
    for (int t : tested) {
        if (t < 0)
            continue;
        const Node* field = em.origin[static_cast<size_t>(t)];
        for (size_t i = 0; i < em.items.size(); ++i)
            if (em.origin[i] == field)
                em.items[i].condition = 0;
    }

    auto* layout =
        static_cast<RecordLayout*>(brelrt_alloc(sizeof(RecordLayout), 1, HERE, "record layout"));
    if (!layout)
        return out_of_memory(path);
    size_t n = std::min(std::strlen(layout_name), sizeof layout->name - 1);
    std::memcpy(layout->name, layout_name, n);
    layout->items = static_cast<LayoutItem*>(
        brelrt_alloc(em.items.size() * sizeof(LayoutItem), 1, HERE, "record layout items"));
    if (!layout->items) {
        brelrt_free(layout, HERE);
        return out_of_memory(path);
    }
    std::memcpy(layout->items, em.items.data(), em.items.size() * sizeof(LayoutItem));
    if (!em.pictures.empty()) {
        size_t bytes = 0;
        for (const std::string& picture : em.pictures)
            bytes += picture.size() + 1;
        layout->pictures =
            static_cast<char*>(brelrt_alloc(bytes, 0, HERE, "record layout pictures"));
        if (!layout->pictures) {
            B4XFDFree(layout);
            return out_of_memory(path);
        }
        char* at = layout->pictures;
        size_t next = 0;
        for (size_t i = 0; i < em.items.size(); ++i) {
            if (!(layout->items[i].flags & BRELRT_ITEM_EDITED))
                continue;
            const std::string& picture = em.pictures[next++];
            std::memcpy(at, picture.c_str(), picture.size() + 1);
            layout->items[i].picture = at;
            at += picture.size() + 1;
        }
    }
    layout->item_count = static_cast<int32_t>(em.items.size());
    layout->field_count = layout->item_count;
    layout->record_count = static_cast<int32_t>(records.size());
    layout->flags = records.size() > 1 ? BRELRT_LAYOUT_MULTIPLE : 0;
    for (const auto& r : records)
        layout->record_size = std::max(layout->record_size, r->size);
    if (!em.conditions.empty()) {
        layout->conditions = static_cast<ConditionEntry*>(brelrt_alloc(
            em.conditions.size() * sizeof(ConditionEntry), 1, HERE, "record layout conditions"));
        if (!layout->conditions) {
            B4XFDFree(layout);
            return out_of_memory(path);
        }
        layout->condition_count = static_cast<int16_t>(em.conditions.size());
        for (size_t k = 0; k < em.conditions.size(); ++k) {
            ConditionEntry& c = layout->conditions[k];
            const WhenClause& when = *em.conditions[k].when;
            std::memcpy(c.literal, when.literal.data(), when.literal.size());
            c.literal_length = static_cast<int32_t>(when.literal.size());
            c.numeric = static_cast<int16_t>(when.kind);
            c.item = static_cast<int16_t>(em.conditions[k].item);
            c.tested = static_cast<int16_t>(tested[k]);
        }
    }
    g_last_error.clear();
    return layout;
}

// What an OTHER condition is the alternative to: the other record conditions,
// or the other variants of the same storage.
int alternative_group(const RecordLayout* layout, const ConditionEntry& c) {
    if (c.item < 0 || c.item >= layout->item_count)
        return -2;
    const LayoutItem& selected = layout->items[c.item];
    return selected.level == 1 ? -1 : selected.redefined;
}

bool evaluate(const RecordLayout* layout, int k, const unsigned char* record) {
    const ConditionEntry& c = layout->conditions[k - 1];
    if (c.numeric == 2) {
        int group = alternative_group(layout, c);
        for (int j = 1; j <= layout->condition_count; ++j) {
            const ConditionEntry& other = layout->conditions[j - 1];
            if (other.numeric != 2 && alternative_group(layout, other) == group &&
                evaluate(layout, j, record))
                return false;
        }
        return true;
    }
    if (c.tested < 0 || c.tested >= layout->item_count)
        return false;
    const LayoutItem& item = layout->items[c.tested];
    FieldDescriptor field = item.field;
    field.address = const_cast<unsigned char*>(record) + item.offset;
    // The literal is zero-terminated: it is shorter than its 100 bytes.
    const char* literal = c.literal;
    size_t literal_length =
        std::min<size_t>(static_cast<size_t>(c.literal_length), sizeof c.literal - 1);
    if (brelrt_type_is_numeric(field.type)) {
        int r = brelrt::compare_numeric(field, literal);
        if (r != -2)
            return r == 0;
        if (c.numeric == 1)
            return false;
    }
    // Text comparison, the shorter side padded with blanks.
    size_t size = static_cast<size_t>(field.size);
    size_t n = std::max(size, literal_length);
    for (size_t i = 0; i < n; ++i) {
        unsigned char a = i < size ? field.address[i] : ' ';
        unsigned char b = i < literal_length ? static_cast<unsigned char>(literal[i]) : ' ';
        if (a != b)
            return false;
    }
    return true;
}

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
            if (passed_paths.size() <= 4)
                passed += (passed.empty() ? "; passed over: " : ", ") + brelrt::excerpt(path, 200) +
                          " (" + what + ")";
        }
        return found == Found::kCopybook;
    };
    std::string dir = brelrt::env("BRELRT_XFD_DIR");
    if (dir.empty())
        dir = ".";
    if (dir.back() != '/')
        dir += '/';
    for (const std::string& n : names)
        if (copybook(dir + n + ".xfd"))
            return dir + n + ".xfd";
    std::vector<std::string> folders = split_folders(brelrt::env("COBCPY"));
    for (std::string folder : folders) {
        if (folder.back() != '/')
            folder += '/';
        for (const char* suffix : copybook_suffixes)
            for (const std::string& n : names)
                if (copybook(folder + n + suffix))
                    return folder + n + suffix;
    }
    // "<dir>/<name>.xfd: no such layout (nor ...; nor ... in COBCPY ...)".
    std::string shown_dir = brelrt::excerpt(dir, 200);
    std::string others, tried, along;
    for (size_t k = 1; k < names.size(); ++k)
        others += (k > 1 ? ", " : "nor ") + shown_dir + brelrt::excerpt(names[k]) + ".xfd";
    for (size_t k = 0; k < names.size(); ++k)
        tried += (k == 0 ? "" : k + 1 == names.size() ? " or " : ", ") + brelrt::excerpt(names[k]);
    if (folders.empty()) {
        along = "COBCPY not set";
    } else {
        along = "nor " + tried + " with .xfd, no suffix, .CPY, .CBL, .COB, .cpy, .cbl or .cob in ";
        along += folders.size() == 1 ? "the COBCPY folder " : "the COBCPY folders ";
        constexpr size_t named = 8;
        for (size_t k = 0; k < folders.size() && k < named; ++k)
            along += (k ? ", " : "") + brelrt::excerpt(folders[k], 60);
        if (folders.size() > named)
            along += brelrt::format(" and %zu more", folders.size() - named);
    }
    if (passed_paths.size() > 4)
        passed += brelrt::format(" and %zu more", passed_paths.size() - 4);
    set_missing(shown_dir + brelrt::excerpt(name) + ".xfd: no such layout (" +
                (others.empty() ? "" : others + "; ") + along + passed + ")");
    return std::string();
}

} // namespace

const char* brelrt_xfd_last_error(void) {
    return g_last_error.c_str();
}

const char* brelrt_xfd_last_file(void) {
    return g_last_file.c_str();
}

RecordLayout* brelrt_parse_copybook(const char* path, const char* layout_name) {
    return brelrt::guarded<RecordLayout*>(nullptr, [&]() -> RecordLayout* {
        if (!path)
            return nullptr;
        std::string text;
        if (!read_copybook(path, text))
            return nullptr;
        char name[BRELRT_NAME_SIZE];
        return build(text, path,
                     layout_name ? layout_name : brelrt_layout_name(path, name, sizeof name));
    });
}

RecordLayout* B4ParseXFD(const char* name, int /*version*/, int /*name_max*/) {
    return brelrt::guarded<RecordLayout*>(nullptr, [&]() -> RecordLayout* {
        if (!name || !*name || std::strchr(name, '/') || std::strcmp(name, "..") == 0) {
            set_missing("B4ParseXFD: no usable layout name");
            return nullptr;
        }
        g_last_file.clear();
        std::string path = find_copybook(name);
        if (path.empty())
            return nullptr;
        g_last_file = path;
        std::string text;
        if (!read_copybook(path, text))
            return nullptr;
        return build(text, path, name);
    });
}

int brelrt_set_binary_size(const char* rule) {
    const BinaryRule* chosen = binary_rule_named(rule);
    if (chosen)
        g_binary_rule = chosen;
    return chosen ? 1 : 0;
}

const char* brelrt_binary_size(void) {
    return brelrt::guarded<const char*>(nullptr, [] {
        const BinaryRule* rule = binary_rule();
        return rule ? rule->name : nullptr;
    });
}

int B4XFDFree(RecordLayout* layout) {
    if (!layout)
        return 0;
    brelrt_free(layout->conditions, HERE);
    brelrt_free(layout->items, HERE);
    brelrt_free(layout->pictures, HERE);
    brelrt_free(layout, HERE);
    return 0;
}

int B4TestCOBOLCond(RecordLayout* layout, int cond_no, const unsigned char* record) {
    if (!layout || !record || cond_no < 1 || cond_no > layout->condition_count ||
        !layout->conditions)
        return -1;
    return brelrt::guarded(-1, [&] {
        bool holds = evaluate(layout, cond_no, record);
        ConditionEntry& c = layout->conditions[cond_no - 1];
        c.result = static_cast<uint8_t>(holds ? (c.result | 1) : (c.result & ~1));
        return holds ? 1 : 0;
    });
}
