// Finding the element of a layout item in a record: same_array_signature's
// test, and an index of the record's elements by name and occurrence
// numbers, so that finding the element of a table occurrence costs the same
// for the ten-thousandth occurrence as for the first, in every
// configuration. A record read makes the index when the record repeats
// names often enough for walks over the elements of a name, or over the
// children of a parent, to be long; it gives exactly what those walks give.
#pragma once

#include "elements/xml_element.h"

#include <brelrt.h>

#include <cstddef>
#include <cstdint>
#include <strings.h>

namespace bxml {

// A record with fewer elements whose name an earlier element of the record
// had is read without the index: every name's elements, and the elements
// of names that occur more than once, are fewer than twice as many.
inline constexpr size_t kIndexRepeats = 32;

// The numbers of an element and of an item, each as many as it has.
int element_numbers(const XmlElement* e);
int item_numbers(const LayoutItem& item);

// same_array_signature's answer: may `e` stand for `item`? `exact`:
// BXML_EXACT_TABLE_MATCH. `why` becomes its trace's leaving line.
//   - An element without numbers stands for an item in no table, or for one
//     whose occurrence numbers are all 1.
//   - With as many numbers as the item: the same numbers.
//   - With fewer, and not exact: the item's numbers with some of its 1s
//     left out.
bool signature_matches(const XmlElement* e, const LayoutItem& item, bool exact, const char** why);

class RecordIndex {
public:
    RecordIndex() = default;
    RecordIndex(const RecordIndex&) = delete;
    RecordIndex& operator=(const RecordIndex&) = delete;
    ~RecordIndex();

    // Indexes the root, when it has a hash entry, and the `count` elements
    // at `list` (in document order, each with its hash entry); false when
    // out of memory (nothing is indexed then).
    bool build(XmlElement* root, XmlElement* const* list, size_t count);
    bool built() const { return slots_ != nullptr; }

    // Calls fn(entry) for each indexed element named like `item` (ASCII case
    // ignored; `name_hash`: brelrt_hash_text of its lower-case name) that
    // same_array_signature accepts for `item`, in document
    // order, until fn returns false. False, without a call, for an item
    // whose numbers leave too many forms to look up (the caller walks then).
    template <typename Fn>
    bool each_match(const LayoutItem& item, size_t name_hash, bool exact, Fn fn) const;

    // Starts loading where each_match will look first for `item` (its
    // numbers as they are): a large record's index lies all over memory.
    void prefetch(const LayoutItem& item, size_t name_hash) const;

private:
    static constexpr uint32_t kNone = UINT32_MAX;
    // Forms of an item's numbers looked up at most.
    static constexpr size_t kMaxForms = 512;

    // One element, chained to the next of its name and numbers.
    struct Slot {
        uint64_t key;
        ElementHashEntry* entry;
        XmlElement* element;
        uint32_t next;
    };
    // The first element of a name and numbers, and the last (for appending).
    struct Bucket {
        uint64_t key;
        uint32_t first;
        uint32_t last;
    };

    // The first slot of every form of `item`'s numbers that an element may
    // have (no repeats) into `heads`; their count, or SIZE_MAX for too many.
    size_t heads(const LayoutItem& item, size_t name_hash, bool exact, uint32_t* heads) const;
    uint32_t first_of(uint64_t key) const;

    Slot* slots_ = nullptr;
    size_t count_ = 0;
    Bucket* buckets_ = nullptr;
    size_t capacity_ = 0; // buckets, a power of two
};

template <typename Fn>
bool RecordIndex::each_match(const LayoutItem& item, size_t name_hash, bool exact, Fn fn) const {
    uint32_t at[kMaxForms];
    size_t runs = heads(item, name_hash, exact, at);
    if (runs == SIZE_MAX)
        return false;
    // The chains of every form, merged in document order (slots are numbered
    // in document order).
    for (;;) {
        size_t pick = runs;
        for (size_t r = 0; r < runs; ++r)
            if (at[r] != kNone && (pick == runs || at[r] < at[pick]))
                pick = r;
        if (pick == runs)
            return true;
        const Slot& slot = slots_[at[pick]];
        at[pick] = slot.next;
        const char* why = nullptr;
        if (signature_matches(slot.element, item, exact, &why) &&
            strcasecmp(slot.entry->name, item.name) == 0 && !fn(slot.entry))
            return true;
    }
}

} // namespace bxml
