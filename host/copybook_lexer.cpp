// The copybook lexer: the lines of a copybook in fixed or free form (format
// directives, continuation lines, comment lines) made into code tokens, and
// the "*> WHEN" and "*> BINARY" comments read for the entry after them.
#include "copybook_internal.h"

#include <algorithm>
#include <cctype>

namespace brelrt::copybook {
namespace {

// The blanks that separate words on a code line.
bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Column 7 of a fixed-form line that makes it a comment line (a debugging
// line "D" is read as one too).
bool comment_indicator(char c) {
    return c == '*' || c == '/' || c == 'D' || c == 'd';
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

} // namespace

Source::Source(std::string_view text) {
    // A trailing end-of-file byte (0x1A) of DOS editors is not part of the text.
    while (!text.empty() && (text.back() == '\x1A' || text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    text_ = text;
    fixed_ = fixed_form(text);
}

bool Source::next_token() {
    for (;;) {
        size_t n = code_.size();
        while (at_ < n && (is_blank(code_[at_]) || code_[at_] == ',' || code_[at_] == ';'))
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
        while (j < n && !is_blank(code_[j]) && code_[j] != '"' && code_[j] != '\'') {
            // A period, comma or semicolon followed by a blank ends the word.
            if ((code_[j] == '.' || code_[j] == ',' || code_[j] == ';') &&
                (j + 1 >= n || is_blank(code_[j + 1])))
                break;
            ++j;
        }
        token_ = {Token::WORD, code_.substr(i, j - i), line};
        at_ = j;
        return true;
    }
}

bool Source::next_line() {
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
        bool continuation = fixed_ && format == Format::NONE && code.size() >= 7 && code[6] == '-';
        bool directive_comment = fixed_ && format == Format::NONE && code.size() >= 8 &&
                                 (code[6] == '*' || code[6] == '/') && code[7] == '>';
        bool starts = format != Format::NONE || directive_comment || !fixed_ ||
                      (code.size() >= 7 && !continuation && !comment_indicator(code[6]));
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
        if (code.size() > 72)
            code.resize(72);
        if (directive_comment) {
            parse_comment(code.substr(8), line, pending_);
            continue;
        }
        if (comment_indicator(code[6]))
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

} // namespace brelrt::copybook
