#include "bxml/read_index.h"

#include "bxml/module.h"

#include <algorithm>

namespace bxml {

#define HERE kModuleBxml, __LINE__

uint64_t occurrence_key(const int32_t* numbers, int count) {
    uint64_t h = 1469598103934665603ull ^ static_cast<uint64_t>(count);
    for (int k = 0; k < count; ++k)
        h = (h ^ static_cast<uint32_t>(numbers[k])) * 1099511628211ull;
    return h;
}

bool same_numbers(const XmlElement* e, const int16_t* numbers, int count) {
    if (!e || e->last_position + 1 != count)
        return false;
    for (int k = 0; k < count; ++k)
        if (e->index[k] != numbers[k])
            return false;
    return true;
}

size_t read_index_lower_bound(const ReadIndex& index, uint64_t key) {
    const ReadIndex::Slot* s =
        std::lower_bound(index.slots, index.slots + index.count, key,
                         [](const ReadIndex::Slot& slot, uint64_t k) { return slot.key < k; });
    return static_cast<size_t>(s - index.slots);
}

bool ReadIndex::build(ElementHashEntry* chain) {
    head = chain;
    size_t n = 0;
    for (ElementHashEntry* e = chain; e; e = e->next)
        ++n;
    slots = static_cast<Slot*>(brelrt_alloc(n * sizeof(Slot), 0, HERE, "XML read index"));
    if (!slots)
        return false;
    uint32_t ordinal = 0;
    for (ElementHashEntry* e = chain; e; e = e->next, ++ordinal) {
        const XmlElement* element = e->record;
        if (!element)
            continue;
        int numbers = element->last_position + 1;
        if (numbers > BXML_INDEX_PLACES)
            numbers = BXML_INDEX_PLACES;
        slots[count++] = Slot{occurrence_key(element->index, numbers), ordinal, e};
    }
    std::sort(slots, slots + count, [](const Slot& a, const Slot& b) {
        return a.key != b.key ? a.key < b.key : a.ordinal < b.ordinal;
    });
    return true;
}

void ReadIndex::release() {
    brelrt_free(slots, HERE);
    slots = nullptr;
    count = 0;
}

ReadIndex* read_index_for(ReadIndexes& indexes, ElementHashEntry* head) {
    for (size_t k = 0; k < indexes.count; ++k)
        if (indexes.items[k].head == head)
            return indexes.items[k].slots ? &indexes.items[k] : nullptr;
    int length = 0;
    for (ElementHashEntry* e = head; e && length < kReadIndexMinimum; e = e->next)
        ++length;
    if (length < kReadIndexMinimum)
        return nullptr;
    if (indexes.count == indexes.capacity) {
        size_t capacity = indexes.capacity ? indexes.capacity * 2 : 8;
        void* grown = indexes.items
                          ? brelrt_realloc(indexes.items, capacity * sizeof(ReadIndex), HERE)
                          : brelrt_alloc(capacity * sizeof(ReadIndex), 0, HERE, "XML read indexes");
        if (!grown)
            return nullptr;
        indexes.items = static_cast<ReadIndex*>(grown);
        indexes.capacity = capacity;
    }
    ReadIndex& index = indexes.items[indexes.count++];
    index = ReadIndex();
    // Kept even when it cannot be made, so the chain is walked from then on.
    return index.build(head) ? &index : nullptr;
}

void read_index_free(ReadIndexes& indexes) {
    for (size_t k = 0; k < indexes.count; ++k)
        indexes.items[k].release();
    brelrt_free(indexes.items, HERE);
    indexes = ReadIndexes();
}

} // namespace bxml
