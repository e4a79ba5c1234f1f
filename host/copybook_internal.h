// What the parts of the copybook reader share inside libbrelrt: the tokens
// and directive comments the lexer hands the parser, the entry tree the
// parser builds and the layout computation sizes, the binary-size rule, and
// the last error every part reports through.
#pragma once

#include "internal.h"

#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brelrt::copybook {

constexpr int max_items = 32767; // item indices are 16-bit

struct ParseError {
    int line;
    std::string what;
};

inline std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// COBOL names compare without regard to case.
inline bool same_name(const std::string& a, const std::string& b) {
    return upper(a) == upper(b);
}

// Digits only, at most 9 of them: a count std::stol reads without overflow.
inline bool is_number(const std::string& s) {
    return !s.empty() && s.size() <= 9 && s.find_first_not_of("0123456789") == std::string::npos;
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

// The code tokens of a copybook, made as the parser asks for them: memory
// holds one logical line (a line and its continuations), never every token
// of the copybook. Directive comments wait for the entry after them.
class Source {
public:
    // Fixed or free form as the text's lines say (see copybook_lexer.cpp).
    explicit Source(std::string_view text);

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
    bool next_token();

    // The next logical line into code_: in fixed form a code line waits
    // until it is known whether the next line continues it. Comment lines
    // between them are read through; a directive comment or a format
    // directive is read only once the line before it has been handed over.
    bool next_line();

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

enum class Usage { NONE, DISPLAY, BINARY, PACKED, NATIVE, FLOAT, DOUBLE };

// One entry of the copybook with what its clauses say, and, once laid out,
// its type, size and offset.
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

// The entries of a copybook, level 01 to 49, as trees of level-01 records.
// `record_name` names the level-01 record that encloses a copybook written
// without one.
std::vector<std::unique_ptr<Node>> parse_records(Source& src, std::string record_name);

// How GnuCOBOL sizes binary items (cobc -fbinary-size, and the dialects):
// 1-2-4-8 (the default) and 2-4-8 (-std=ibm, mvs, rm, bs2000) by digits in
// 1, 2, 4 or 8 bytes, 2-4-8 never in 1 byte except for COMP-5; 1--8
// (-std=mf) in the fewest bytes that hold every value of the picture.
enum class BinarySize { kDefault, kNoByte, kFewest };

struct BinaryRule {
    const char* name;
    BinarySize size;
};

// The rule in force: the one brelrt_set_binary_size chose, else
// BRELRT_BINARY_SIZE, else 1-2-4-8; null when the variable names no rule.
const BinaryRule* binary_rule();

// Sizes and offsets (relative to the parent) of a subtree, with the USAGE
// and SIGN it inherits from the groups above it.
void lay_out(Node& node, Usage usage, int sign, bool separate, BinarySize rule);

// The layout `layout_name` that the copybook `text`, read from `path`,
// describes; null (with the last error set) when it describes none.
RecordLayout* build_layout(const std::string& text, const std::string& path,
                           const char* layout_name);

// The path of the copybook of a layout, "" (with every place looked at as
// the last error) when there is none.
std::string find_copybook(const std::string& name);

// The whole copybook, or false with the reason as the last error.
bool read_copybook(const std::string& path, std::string& text);

// A copybook that cannot be used: reported as the host's own problem.
void set_error(const std::string& text);

// Kept as the last error, not reported: no layout of that name (the caller
// decides whether that is a problem, and traces it), or a shortage of memory
// (brelrt::shortage() says so).
void set_missing(const std::string& text);

// A layout was made: no last error.
void clear_error();

} // namespace brelrt::copybook
