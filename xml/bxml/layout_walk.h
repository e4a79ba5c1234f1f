// Walking a record layout as the writer, the reader and the DTD and schema
// generators see it (see the layout comments in brelrt.h): groups and their
// children, table occurrences, record types and record variants.
#pragma once

#include <brelrt.h>

namespace bxml {

inline bool is_group(const LayoutItem& item) {
    return item.condition == BRELRT_CONDITION_GROUP;
}

// Never written, read or declared: a REDEFINES without WHEN, or inside one.
inline bool is_shadow(const LayoutItem& item) {
    return (item.flags & BRELRT_ITEM_SHADOW) != 0;
}

// An occurrence after the first of its innermost table.
inline bool is_repeated(const LayoutItem& item) {
    return item.depth > 0 && item.depth <= BRELRT_MAX_DEPTH && item.occurrence[item.depth] > 1;
}

// A numeric type code: 1 to 14, 23, 30 to 33.
inline bool is_numeric(int type) {
    return (type >= 1 && type <= 14) || type == 23 || (type >= 30 && type <= 33);
}

// The first child of a group: the next item, when it is deeper; -1 when none.
int first_child(const RecordLayout* layout, int group);

// The next child of the same group: the next item of the same level, deeper
// items skipped, ending at a shallower one; entries with REDEFINES are
// skipped (variants come in through their first description). -1 when none.
int next_sibling(const RecordLayout* layout, int item);

// The condition (1-based) after `after` that selects a variant of `item`'s
// storage; 0 when there is none.
int next_variant(const RecordLayout* layout, int item, int after);

// What stands in `item`'s place: the variant of the first condition that
// selects one and whose result bit is set, else the item itself.
int chosen_variant(const RecordLayout* layout, int item);

// The condition that selects the level-01 record `item`; 0 when none.
int record_condition(const RecordLayout* layout, int item);

// The result bit of condition k (1-based) from the last evaluation.
inline bool condition_holds(const RecordLayout* layout, int k) {
    return k >= 1 && k <= layout->condition_count && (layout->conditions[k - 1].result & 1);
}

// A "*> WHEN field = OTHER": it holds when none of its alternatives holds.
inline bool is_other(const ConditionEntry& c) {
    return c.numeric == 2;
}

// What a condition is an alternative to: -1 for the record types (the
// conditions before level-01 records), else the item whose storage the
// variant it selects redefines.
int alternatives(const RecordLayout* layout, const ConditionEntry& c);

// The level-01 records that documents of the layout hold: every one that
// is not a second view of another.
inline bool is_record(const LayoutItem& item) {
    return item.level == 1 && !is_shadow(item);
}

// An occurrence of an OCCURS ... DEPENDING ON table, and the first of them.
inline bool is_varying(const LayoutItem& item) {
    return (item.flags & BRELRT_ITEM_VARYING) != 0;
}
inline bool is_first_varying(const LayoutItem& item) {
    return is_varying(item) && item.depth > 0 && item.depth <= BRELRT_MAX_DEPTH &&
           item.occurrence[item.depth] == 1;
}

// The table of an occurrence item: where its first occurrence begins, how
// many it may hold at most and at least.
struct VaryingTable {
    int64_t first; // offset of occurrence 1
    int64_t size;  // bytes of one occurrence
    long least;
    long most;
};
VaryingTable varying_table(const LayoutItem& item);

// How many occurrences the record holds of the table of occurrence `item`:
// its counter's value, or, with the counter outside the record, as many as
// the `length` bytes of the record reach (the last one perhaps cut). False
// when the counter holds no number or lies beyond `length`; the value is
// given as it is, inside the table's bounds or not.
bool varying_count(const RecordLayout* layout, const LayoutItem& item, const unsigned char* record,
                   int64_t length, long* count);

// The value of a numeric field as a whole number (decimals dropped); false
// when it holds no valid number.
bool field_integer(const LayoutItem& item, const unsigned char* record, long* value);

// Digits of the text of a numeric field: binary fields hold what their
// bytes hold (COMP-5 more than its picture says), packed fields what their
// nibbles hold.
int text_digits(const LayoutItem& item);

} // namespace bxml
