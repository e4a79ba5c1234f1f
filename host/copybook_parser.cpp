// The copybook parser: data description entries (level, name, PICTURE,
// USAGE, SIGN, OCCURS, REDEFINES, JUSTIFIED, BLANK WHEN ZERO; VALUE and the
// table keys read over) into a tree of nodes per level-01 record, with the
// directive comments applied to the entry after them.
#include "copybook_internal.h"

#include <algorithm>
#include <cctype>

namespace brelrt::copybook {
namespace {

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

    // Takes the next token when it is the word (an optional word such as IS).
    bool skip_if(const char* word) {
        if (!next_is(word))
            return false;
        skip();
        return true;
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
                skip_if("IS");
                const Token& p = take(tok.line, "picture string");
                if (p.kind != Token::WORD)
                    throw ParseError{p.line, "PICTURE without a picture string"};
                if (node.has_picture)
                    throw ParseError{p.line, "PICTURE given twice"};
                node.has_picture = true;
                node.picture = upper(p.text);
            } else if (w == "USAGE") {
                skip_if("IS");
                const Token& p = take(tok.line, "usage");
                std::string word = upper(p.text);
                if (refused_usage(word))
                    throw ParseError{p.line, "USAGE " + word + " is not supported"};
                if (!usage_word(word, u))
                    throw ParseError{p.line,
                                     "usage '" + brelrt::excerpt(p.text) + "' not supported"};
                node.usage = u;
            } else if (usage_word(w, u)) {
                node.usage = u;
            } else if (w == "SIGN" || w == "LEADING" || w == "TRAILING") {
                std::string which = w;
                if (w == "SIGN") {
                    skip_if("IS");
                    which = upper(take(tok.line, "LEADING or TRAILING").text);
                }
                if (which != "LEADING" && which != "TRAILING")
                    throw ParseError{tok.line, "SIGN needs LEADING or TRAILING"};
                node.sign = which == "LEADING" ? 1 : 2;
                if (skip_if("SEPARATE")) {
                    node.sign_separate = true;
                    skip_if("CHARACTER");
                }
            } else if (w == "OCCURS") {
                // "OCCURS n" (n at least 1) or "OCCURS min TO max" (min may
                // be 0): the table takes its maximum.
                const Token& n = take(tok.line, "OCCURS count");
                long count = is_number(n.text) ? std::stol(n.text) : -1;
                if (skip_if("TO")) {
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
                skip_if("TIMES");
                table_phrases(tok.line, node);
            } else if (w == "REDEFINES") {
                const Token& r = take(tok.line, "redefined name");
                if (r.kind != Token::WORD)
                    throw ParseError{r.line, "REDEFINES needs a data name"};
                node.redefines = r.text;
            } else if (w == "VALUE" || w == "VALUES") {
                skip_values();
            } else if (w == "JUSTIFIED" || w == "JUST") {
                skip_if("RIGHT");
                node.justified = true;
            } else if (w == "BLANK") {
                skip_if("WHEN");
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
            if (skip_if("DEPENDING")) {
                skip_if("ON");
                const Token& counter = take(line, "DEPENDING ON name");
                if (counter.kind != Token::WORD)
                    throw ParseError{counter.line, "DEPENDING ON needs a data name"};
                node.depending = counter.text;
                while (next_is("OF") || next_is("IN")) {
                    skip();
                    take(line, "qualifier after OF");
                }
            } else if (key_or_index()) {
                skip();
                if (next_is("KEY") || next_is("BY"))
                    skip();
                skip_if("IS");
                // Names up to the next clause or the period.
                while (const Token* t = peek()) {
                    if (t->kind != Token::WORD || clause_start(upper(t->text)) || key_or_index())
                        break;
                    skip();
                }
            } else {
                return;
            }
        }
    }

    // The start of an ASCENDING/DESCENDING KEY or INDEXED BY phrase.
    bool key_or_index() {
        return next_is("ASCENDING") || next_is("DESCENDING") || next_is("INDEXED");
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

} // namespace

std::vector<std::unique_ptr<Node>> parse_records(Source& src, std::string record_name) {
    return Parser(src, std::move(record_name)).records();
}

} // namespace brelrt::copybook
