// The record layout computation: the type, digits, scale and size of each
// elementary item from its PICTURE and USAGE (binary items by the
// binary-size rule in force), and the offsets and sizes of groups, tables
// and redefinitions, as GnuCOBOL allocates them without SYNCHRONIZED.
#include "copybook_internal.h"

#include <algorithm>
#include <cstring>

namespace brelrt::copybook {
namespace {

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

// PICTURE and USAGE of an elementary item give its type, digits, scale, size.
void describe(Node& node, Usage usage, int sign, bool separate, BinarySize rule) {
    const std::string& pic = node.picture;
    int line = node.line;
    bool display = usage == Usage::NONE || usage == Usage::DISPLAY;
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
        if (!display)
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
        if (!display)
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
        if (!display || s)
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

} // namespace

const BinaryRule* binary_rule() {
    if (g_binary_rule)
        return g_binary_rule;
    std::string value = brelrt::env("BRELRT_BINARY_SIZE");
    return value.empty() ? &binary_rules[0] : binary_rule_named(value.c_str());
}

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

} // namespace brelrt::copybook

using namespace brelrt::copybook;

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
