#include "bxml/read_index.h"

#include "bxml/module.h"

#include <cstring>

namespace bxml {

#define HERE kModuleBxml, __LINE__

int element_numbers(const XmlElement* e) {
    int count = e->last_position + 1;
    return count > BXML_INDEX_PLACES ? BXML_INDEX_PLACES : count;
}

int item_numbers(const LayoutItem& item) {
    return item.depth < 0 ? 0 : item.depth > BRELRT_MAX_DEPTH ? BRELRT_MAX_DEPTH : item.depth;
}

bool signature_matches(const XmlElement* e, const LayoutItem& item, bool exact, const char** why) {
    int count = element_numbers(e);
    int depth = item_numbers(item);
    const int16_t* numbers = item.occurrence + 1;
    auto answer = [why](bool result, const char* reason) {
        *why = reason;
        return result;
    };
    if (count == 0) {
        if (depth == 0)
            return answer(true, "Leaving, TRUE, neither an array");
        for (int k = 0; k < depth; ++k)
            if (numbers[k] > 1)
                return answer(false, "Leaving, FALSE, only one an array");
        return answer(true, "Leaving, TRUE, XFD element an array, XML element not, but "
                            "indices all 1");
    }
    if (count == depth) {
        for (int k = 0; k < depth; ++k)
            if (numbers[k] != e->index[k])
                return answer(false, "Leaving, FALSE 1");
        return answer(true, "Leaving, TRUE");
    }
    if (exact)
        return answer(false, "Leaving, exact match required");
    if (count > depth)
        return answer(false, "Leaving, FALSE - too many XML indices");
    int j = 0;
    for (int k = 0; k < depth; ++k) {
        if (j < count && numbers[k] == e->index[j])
            ++j;
        else if (numbers[k] != 1)
            return answer(false, "Leaving, FALSE 2");
    }
    return j == count ? answer(true, "Leaving, TRUE") : answer(false, "Leaving, FALSE 2");
}

namespace {

// The hash of a name in lower case (ASCII), as brelrt_hash_text gives it
// for an item's name (which is lower case); false for a name longer than
// any item's, which no item takes.
bool folded_hash(const char* name, size_t length, size_t* hash) {
    if (length > BRELRT_NAME_MAX)
        return false;
    char folded[BRELRT_NAME_MAX];
    for (size_t i = 0; i < length; ++i)
        folded[i] =
            name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] - 'A' + 'a') : name[i];
    *hash = brelrt_hash_text(folded, length);
    return true;
}

// The key of a folded name's hash and occurrence numbers.
uint64_t form_key(size_t name_hash, const int32_t* numbers, int count) {
    uint64_t h = (1469598103934665603ull ^ name_hash) * 1099511628211ull;
    h = (h ^ static_cast<uint64_t>(count)) * 1099511628211ull;
    for (int k = 0; k < count; ++k)
        h = (h ^ static_cast<uint32_t>(numbers[k])) * 1099511628211ull;
    return h;
}

size_t bucket_of(uint64_t key, size_t capacity) {
    key ^= key >> 31;
    key *= 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(key ^ (key >> 29)) & (capacity - 1);
}

} // namespace

RecordIndex::~RecordIndex() {
    brelrt_free(buckets_, HERE);
}

bool RecordIndex::build(XmlElement* root, XmlElement* const* list, size_t count) {
    size_t at_most = count + 1; // and the root
    size_t capacity = 16;
    while (capacity < 2 * at_most)
        capacity *= 2;
    void* block = brelrt_alloc(capacity * sizeof(Bucket) + at_most * sizeof(Slot), 0, HERE,
                               "XML record index");
    if (!block)
        return false;
    buckets_ = static_cast<Bucket*>(block);
    capacity_ = capacity;
    slots_ = reinterpret_cast<Slot*>(buckets_ + capacity);
    for (size_t b = 0; b < capacity; ++b)
        buckets_[b] = Bucket{0, kNone, kNone};
    count_ = 0;
    // Only elements a record read may find: with a name that may be an
    // item's and no more numbers than an item has. The root, when it is in
    // the hash (the first record), comes first.
    auto key_of = [](const XmlElement* e, uint64_t* key) {
        size_t hash;
        if (!e->hash_entry || element_numbers(e) > BRELRT_MAX_DEPTH ||
            !folded_hash(e->name, e->name_length, &hash))
            return false;
        *key = form_key(hash, e->index, element_numbers(e));
        return true;
    };
    auto add = [&](XmlElement* e, uint64_t key) {
        auto at = static_cast<uint32_t>(count_++);
        slots_[at] = Slot{key, e->hash_entry, e, kNone};
        for (size_t b = bucket_of(key, capacity_);; b = (b + 1) & (capacity_ - 1)) {
            Bucket& bucket = buckets_[b];
            if (bucket.first == kNone) {
                bucket = Bucket{key, at, at};
                break;
            }
            if (bucket.key == key) {
                slots_[bucket.last].next = at;
                bucket.last = at;
                break;
            }
        }
    };
    uint64_t key = 0;
    if (key_of(root, &key))
        add(root, key);
    // The elements and their buckets lie all over memory: their loads are
    // started ahead, a bucket's once its element's key is known.
    constexpr size_t kAhead = 8;
    struct Pending {
        uint64_t key;
        bool indexed;
    } pending[kAhead] = {};
    auto start = [&](size_t k) {
        Pending& p = pending[k % kAhead];
        p.indexed = key_of(list[k], &p.key);
        if (p.indexed)
            __builtin_prefetch(&buckets_[bucket_of(p.key, capacity_)], 1);
    };
    // An element's key takes its hash entry, its numbers and its name: all
    // the lines of its record.
    auto load = [](const XmlElement* e) {
        for (size_t at = 0; at < sizeof(XmlElement); at += 64)
            __builtin_prefetch(reinterpret_cast<const char*>(e) + at);
    };
    for (size_t k = 0; k < count && k < 3 * kAhead; ++k)
        load(list[k]);
    for (size_t k = 0; k < count && k < kAhead; ++k)
        start(k);
    for (size_t k = 0; k < count; ++k) {
        if (k + 3 * kAhead < count)
            load(list[k + 3 * kAhead]);
        Pending now = pending[k % kAhead];
        if (k + kAhead < count)
            start(k + kAhead);
        if (now.indexed)
            add(list[k], now.key);
    }
    return true;
}

void RecordIndex::prefetch(const LayoutItem& item, size_t name_hash) const {
    if (!built())
        return;
    int depth = item_numbers(item);
    int32_t numbers[BRELRT_MAX_DEPTH];
    for (int k = 0; k < depth; ++k)
        numbers[k] = item.occurrence[k + 1];
    __builtin_prefetch(&buckets_[bucket_of(form_key(name_hash, numbers, depth), capacity_)]);
}

uint32_t RecordIndex::first_of(uint64_t key) const {
    for (size_t b = bucket_of(key, capacity_);; b = (b + 1) & (capacity_ - 1)) {
        const Bucket& bucket = buckets_[b];
        if (bucket.first == kNone || bucket.key == key)
            return bucket.first;
    }
}

// The forms an element's numbers may take to stand for an item are what
// same_array_signature accepts: exactly the item's numbers; none, when the
// item's are all 1; and, not exact, the item's numbers with some of its 1s
// left out: for each run of 1s, how many of them are kept.
size_t RecordIndex::heads(const LayoutItem& item, size_t name_hash, bool exact,
                          uint32_t* out) const {
    int depth = item_numbers(item);
    int32_t numbers[BRELRT_MAX_DEPTH];
    bool all_one = true;
    int run_at[BRELRT_MAX_DEPTH], run_length[BRELRT_MAX_DEPTH], runs = 0;
    for (int k = 0; k < depth; ++k) {
        numbers[k] = item.occurrence[k + 1];
        all_one = all_one && numbers[k] <= 1;
        if (exact || numbers[k] != 1)
            continue;
        if (runs && run_at[runs - 1] + run_length[runs - 1] == k) {
            ++run_length[runs - 1];
        } else {
            run_at[runs] = k;
            run_length[runs++] = 1;
        }
    }
    size_t forms = 1;
    for (int r = 0; r < runs; ++r)
        if ((forms *= static_cast<size_t>(run_length[r] + 1)) > kMaxForms - 1)
            return SIZE_MAX;
    size_t count = 0;
    auto add = [&](const int32_t* form, int n) {
        uint32_t first = first_of(form_key(name_hash, form, n));
        if (first == kNone)
            return;
        for (size_t i = 0; i < count; ++i)
            if (out[i] == first)
                return;
        out[count++] = first;
    };
    for (size_t f = 0; f < forms; ++f) {
        int32_t form[BRELRT_MAX_DEPTH];
        int n = 0;
        size_t rest = f;
        for (int k = 0, r = 0; k < depth;) {
            if (r < runs && k == run_at[r]) {
                size_t kept = rest % static_cast<size_t>(run_length[r] + 1);
                rest /= static_cast<size_t>(run_length[r] + 1);
                for (size_t i = 0; i < kept; ++i)
                    form[n++] = 1;
                k += run_length[r++];
            } else {
                form[n++] = numbers[k++];
            }
        }
        add(form, n);
    }
    if (depth > 0 && all_one)
        add(numbers, 0);
    return count;
}

} // namespace bxml
