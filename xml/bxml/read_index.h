// The elements of one name in a record, sorted by their occurrence numbers,
// so that finding the element of a table occurrence costs the same for the
// thousandth occurrence as for the first. Made during one record read when a
// name's chain is long, and only where it gives what a walk over the chain
// gives: BXML_EXACT_TABLE_MATCH on and names folded to lower case.
#pragma once

#include "elements/xml_element.h"

#include <brelrt.h>

#include <cstddef>
#include <cstdint>

namespace bxml {

// Chains shorter than this are walked.
inline constexpr int kReadIndexMinimum = 8;

class ReadIndex {
public:
    struct Slot {
        uint64_t key;     // of the element's occurrence numbers
        uint32_t ordinal; // place in the chain (document order)
        ElementHashEntry* entry;
    };

    ElementHashEntry* head = nullptr;
    Slot* slots = nullptr;
    size_t count = 0;

    // Fills the index from the chain at `head`; false when out of memory.
    bool build(ElementHashEntry* chain);
    void release();

    // The entries whose element has the same numbers as `item` (or none at
    // all while every number of `item` is 1), in document order: `fn` is
    // called on each until it returns false.
    template <typename Fn> void each_match(const LayoutItem& item, Fn fn) const;
};

struct ReadIndexes {
    ReadIndex* items = nullptr;
    size_t count = 0;
    size_t capacity = 0;
};

// The index of the chain at `head`, made when there is none yet; null when
// the chain is short or memory is short (the chain is walked then).
ReadIndex* read_index_for(ReadIndexes& indexes, ElementHashEntry* head);
void read_index_free(ReadIndexes& indexes);

uint64_t occurrence_key(const int32_t* numbers, int count);
// The first slot with `key`, or `count`.
size_t read_index_lower_bound(const ReadIndex& index, uint64_t key);
bool same_numbers(const XmlElement* e, const int16_t* numbers, int count);

template <typename Fn> void ReadIndex::each_match(const LayoutItem& item, Fn fn) const {
    int depth = item.depth < 0 ? 0 : item.depth > BRELRT_MAX_DEPTH ? BRELRT_MAX_DEPTH : item.depth;
    const int16_t* numbers = item.occurrence + 1;
    int32_t wide[BRELRT_MAX_DEPTH];
    bool all_one = true;
    for (int k = 0; k < depth; ++k) {
        wide[k] = numbers[k];
        all_one = all_one && numbers[k] <= 1;
    }
    // Two runs in document order: the same numbers, and (for a first
    // occurrence) no numbers; merged by place in the chain.
    uint64_t keys[2] = {occurrence_key(wide, depth), occurrence_key(wide, 0)};
    int runs = depth > 0 && all_one ? 2 : 1;
    size_t at[2], end[2];
    for (int r = 0; r < runs; ++r) {
        at[r] = read_index_lower_bound(*this, keys[r]);
        end[r] = at[r];
        while (end[r] < count && slots[end[r]].key == keys[r])
            ++end[r];
    }
    const int16_t* want[2] = {numbers, numbers};
    int want_count[2] = {depth, 0};
    for (;;) {
        int pick = -1;
        for (int r = 0; r < runs; ++r) {
            // Skip key collisions.
            while (at[r] < end[r] &&
                   !same_numbers(slots[at[r]].entry->record, want[r], want_count[r]))
                ++at[r];
            if (at[r] < end[r] && (pick < 0 || slots[at[r]].ordinal < slots[at[pick]].ordinal))
                pick = r;
        }
        if (pick < 0 || !fn(slots[at[pick]].entry))
            return;
        ++at[pick];
    }
}

} // namespace bxml
