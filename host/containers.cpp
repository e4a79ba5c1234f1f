// Growable texts, doubly linked lists, pair arrays and hash tables. All
// storage goes through the tracked allocator.
#include "internal.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>

#define HERE "host/containers", __LINE__

struct BrelrtText {
    char* data;
    size_t length;
    size_t capacity;
    const char* description;
};

struct BrelrtPairArray {
    BrelrtPair* pairs;
    size_t count;
    size_t capacity;
    const char* description;
};

namespace {

// One name of a hash table: the chain of entries under it runs from `head`
// through each entry's third word to `tail`, so appending never walks it.
// A node whose head is null is a name kept from before the last clear, for
// the next entry of that name (a parser's hash holds the same names record
// after record). The names with entries are also chained from the table's
// `used`, so a clear goes over them alone.
struct HashNode {
    char* key;
    void* head;
    void* tail;
    size_t hash;
    HashNode* next;
    HashNode* next_used;
};

void*& chain_link(void* entry) {
    return static_cast<void**>(entry)[2];
}

size_t hash_of(const char* key) {
    return brelrt_hash_text(key, std::strlen(key));
}

bool reserve(BrelrtText* t, size_t needed) {
    if (needed + 1 <= t->capacity)
        return true;
    size_t capacity = t->capacity ? t->capacity : 32;
    while (capacity < needed + 1)
        capacity *= 2;
    void* p = t->data ? brelrt_realloc(t->data, capacity, HERE)
                      : brelrt_alloc(capacity, 0, HERE, t->description);
    if (!p)
        return false;
    t->data = static_cast<char*>(p);
    t->capacity = capacity;
    return true;
}

} // namespace

struct BrelrtHash {
    HashNode** buckets;
    size_t bucket_count;
    size_t count;   // names with entries
    size_t nodes;   // names with or without
    HashNode* used; // the names with entries
    BrelrtHashDestructor destructor;
    const char* description;
};

// ---- texts

BrelrtText* brelrt_text_new(const char* path, int line, const char* description) {
    auto* t =
        static_cast<BrelrtText*>(brelrt_alloc(sizeof(BrelrtText), 1, path, line, description));
    if (t)
        t->description = description;
    return t;
}

void brelrt_text_free(BrelrtText* text, const char* path, int line) {
    if (!text)
        return;
    brelrt_free(text->data, path, line);
    brelrt_free(text, path, line);
}

const char* brelrt_text_data(const BrelrtText* text) {
    return text && text->data ? text->data : "";
}

size_t brelrt_text_length(const BrelrtText* text) {
    return text ? text->length : 0;
}

int brelrt_text_append(BrelrtText* text, const char* data, size_t length) {
    if (!text || (!data && length) || !reserve(text, text->length + length))
        return 0;
    if (length)
        std::memcpy(text->data + text->length, data, length);
    text->length += length;
    text->data[text->length] = '\0';
    return 1;
}

int brelrt_text_append_str(BrelrtText* text, const char* data) {
    return brelrt_text_append(text, data, data ? std::strlen(data) : 0);
}

int brelrt_text_printf(BrelrtText* text, const char* format, ...) {
    if (!text || !format)
        return 0;
    va_list args;
    va_start(args, format);
    int result = brelrt::guarded(0, [&] {
        std::string s = brelrt::vformat(format, args);
        return brelrt_text_append(text, s.data(), s.size());
    });
    va_end(args);
    return result;
}

int brelrt_text_insert(BrelrtText* text, size_t position, const char* data, size_t length) {
    if (!text || (!data && length))
        return 0;
    if (position > text->length)
        position = text->length;
    if (!reserve(text, text->length + length))
        return 0;
    std::memmove(text->data + position + length, text->data + position, text->length - position);
    if (length)
        std::memcpy(text->data + position, data, length);
    text->length += length;
    text->data[text->length] = '\0';
    return 1;
}

void brelrt_text_erase(BrelrtText* text, size_t position, size_t length) {
    if (!text || position >= text->length)
        return;
    if (length > text->length - position)
        length = text->length - position;
    std::memmove(text->data + position, text->data + position + length,
                 text->length - position - length);
    text->length -= length;
    text->data[text->length] = '\0';
}

void brelrt_text_truncate(BrelrtText* text, size_t length) {
    if (text && length < text->length) {
        text->length = length;
        text->data[length] = '\0';
    }
}

// ---- lists

BrelrtList* brelrt_list_new(const char* path, int line, const char* description) {
    auto* l =
        static_cast<BrelrtList*>(brelrt_alloc(sizeof(BrelrtList), 1, path, line, description));
    if (l)
        l->description = description;
    return l;
}

void brelrt_list_free(BrelrtList* list, const char* path, int line) {
    if (!list)
        return;
    for (BrelrtListNode* n = list->first; n;) {
        BrelrtListNode* next = n->next;
        brelrt_free(n, path, line);
        n = next;
    }
    brelrt_free(list, path, line);
}

BrelrtListNode* brelrt_list_link(BrelrtList* list, BrelrtListNode* before, BrelrtListNode* n) {
    if (!list || !n)
        return nullptr;
    if (!before) {
        n->next = nullptr;
        n->prev = list->last;
        if (list->last)
            list->last->next = n;
        else
            list->first = n;
        list->last = n;
    } else {
        n->next = before;
        n->prev = before->prev;
        if (before->prev)
            before->prev->next = n;
        else
            list->first = n;
        before->prev = n;
    }
    ++list->count;
    return n;
}

BrelrtListNode* brelrt_list_insert(BrelrtList* list, BrelrtListNode* before, void* data) {
    if (!list)
        return nullptr;
    auto* n = static_cast<BrelrtListNode*>(
        brelrt_alloc(sizeof(BrelrtListNode), 1, HERE, list->description));
    if (!n)
        return nullptr;
    n->data = data;
    return brelrt_list_link(list, before, n);
}

BrelrtListNode* brelrt_list_append(BrelrtList* list, void* data) {
    return brelrt_list_insert(list, nullptr, data);
}

void* brelrt_list_unlink(BrelrtList* list, BrelrtListNode* node) {
    if (!list || !node)
        return nullptr;
    if (node->prev)
        node->prev->next = node->next;
    else
        list->first = node->next;
    if (node->next)
        node->next->prev = node->prev;
    else
        list->last = node->prev;
    node->next = node->prev = nullptr;
    --list->count;
    return node->data;
}

void* brelrt_list_remove(BrelrtList* list, BrelrtListNode* node) {
    if (!list || !node)
        return nullptr;
    void* data = brelrt_list_unlink(list, node);
    brelrt_free(node, HERE);
    return data;
}

// ---- pair arrays

BrelrtPairArray* brelrt_pairs_new(const char* path, int line, const char* description) {
    auto* a = static_cast<BrelrtPairArray*>(
        brelrt_alloc(sizeof(BrelrtPairArray), 1, path, line, description));
    if (a)
        a->description = description;
    return a;
}

void brelrt_pairs_free(BrelrtPairArray* pairs, const char* path, int line) {
    if (!pairs)
        return;
    brelrt_free(pairs->pairs, path, line);
    brelrt_free(pairs, path, line);
}

size_t brelrt_pairs_count(const BrelrtPairArray* pairs) {
    return pairs ? pairs->count : 0;
}

BrelrtPair* brelrt_pairs_at(BrelrtPairArray* pairs, size_t k) {
    return pairs && k < pairs->count ? &pairs->pairs[k] : nullptr;
}

long brelrt_pairs_append(BrelrtPairArray* pairs, void* name, void* value) {
    if (!pairs)
        return -1;
    if (pairs->count == pairs->capacity) {
        size_t capacity = pairs->capacity ? pairs->capacity * 2 : 4;
        void* p = pairs->pairs
                      ? brelrt_realloc(pairs->pairs, capacity * sizeof(BrelrtPair), HERE)
                      : brelrt_alloc(capacity * sizeof(BrelrtPair), 0, HERE, pairs->description);
        if (!p)
            return -1;
        pairs->pairs = static_cast<BrelrtPair*>(p);
        pairs->capacity = capacity;
    }
    pairs->pairs[pairs->count] = BrelrtPair{name, value};
    return static_cast<long>(pairs->count++);
}

int brelrt_pairs_remove(BrelrtPairArray* pairs, size_t k) {
    if (!pairs || k >= pairs->count)
        return 0;
    std::memmove(&pairs->pairs[k], &pairs->pairs[k + 1],
                 (pairs->count - k - 1) * sizeof(BrelrtPair));
    --pairs->count;
    return 1;
}

// ---- hash tables

namespace {

// Chains of names stay short: the bucket array doubles once there are twice
// as many names as buckets.
void grow(BrelrtHash* hash) {
    size_t count = hash->bucket_count * 2 + 1;
    auto* buckets = static_cast<HashNode**>(
        brelrt_alloc(count * sizeof(HashNode*), 1, HERE, hash->description));
    if (!buckets)
        return; // still correct, only slower
    for (size_t b = 0; b < hash->bucket_count; ++b)
        for (HashNode* n = hash->buckets[b]; n;) {
            HashNode* next = n->next;
            HashNode*& slot = buckets[n->hash % count];
            n->next = slot;
            slot = n;
            n = next;
        }
    brelrt_free(hash->buckets, HERE);
    hash->buckets = buckets;
    hash->bucket_count = count;
}

HashNode* find_node(const BrelrtHash* hash, const char* key, size_t h) {
    for (HashNode* n = hash->buckets[h % hash->bucket_count]; n; n = n->next)
        if (n->hash == h && std::strcmp(n->key, key) == 0)
            return n;
    return nullptr;
}

} // namespace

// Eight bytes at a time: names are short, and a multiplication for every
// byte would cost more than the rest of a lookup.
size_t brelrt_hash_text(const char* data, size_t length) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    uint64_t h = UINT64_C(0x9E3779B97F4A7C15) ^ length;
    auto mix = [&h](uint64_t word) {
        h = (h ^ word) * UINT64_C(0xBF58476D1CE4E5B9);
        h ^= h >> 31;
    };
    for (; length >= 8; p += 8, length -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        mix(word);
    }
    if (length) {
        uint64_t word = 0;
        for (size_t i = 0; i < length; ++i)
            word |= static_cast<uint64_t>(p[i]) << (8 * i);
        mix(word);
    }
    return static_cast<size_t>(h ^ (h >> 29));
}

BrelrtHash* brelrt_hash_new(size_t buckets, BrelrtHashDestructor destructor, const char* path,
                            int line, const char* description) {
    auto* h =
        static_cast<BrelrtHash*>(brelrt_alloc(sizeof(BrelrtHash), 1, path, line, description));
    if (!h)
        return nullptr;
    h->bucket_count = buckets ? buckets : 64;
    h->buckets = static_cast<HashNode**>(
        brelrt_alloc(h->bucket_count * sizeof(HashNode*), 1, path, line, description));
    if (!h->buckets) {
        brelrt_free(h, path, line);
        return nullptr;
    }
    h->destructor = destructor;
    h->description = description;
    return h;
}

namespace {

// Names kept over a clear, at most: past this many a clear forgets them all.
constexpr size_t kKeptNames = 1024;

void clear(BrelrtHash* hash, bool keep_names) {
    keep_names = keep_names && hash->nodes <= kKeptNames;
    if (keep_names) {
        for (HashNode* n = hash->used; n; n = n->next_used) {
            if (hash->destructor)
                hash->destructor(n->head);
            n->head = n->tail = nullptr;
        }
    } else {
        for (size_t b = 0; b < hash->bucket_count; ++b) {
            HashNode* n = hash->buckets[b];
            hash->buckets[b] = nullptr;
            while (n) {
                HashNode* next = n->next;
                if (hash->destructor && n->head)
                    hash->destructor(n->head);
                brelrt_free(n->key, HERE);
                brelrt_free(n, HERE);
                n = next;
            }
        }
        hash->nodes = 0;
    }
    hash->used = nullptr;
    hash->count = 0;
}

} // namespace

void brelrt_hash_clear(BrelrtHash* hash) {
    if (hash)
        clear(hash, true);
}

void brelrt_hash_free(BrelrtHash* hash, const char* path, int line) {
    if (!hash)
        return;
    clear(hash, false);
    brelrt_free(hash->buckets, path, line);
    brelrt_free(hash, path, line);
}

void* brelrt_hash_find(const BrelrtHash* hash, const char* key) {
    return key ? brelrt_hash_find_hashed(hash, key, hash_of(key)) : nullptr;
}

void* brelrt_hash_find_hashed(const BrelrtHash* hash, const char* key, size_t h) {
    if (!hash || !key)
        return nullptr;
    HashNode* n = find_node(hash, key, h);
    return n ? n->head : nullptr;
}

int brelrt_hash_add(BrelrtHash* hash, const char* key, void* entry) {
    return key ? brelrt_hash_add_hashed(hash, key, hash_of(key), entry) : 0;
}

int brelrt_hash_add_hashed(BrelrtHash* hash, const char* key, size_t h, void* entry) {
    if (!hash || !key || !entry)
        return 0;
    // An entry already chained (its third word set) or already the head or
    // tail of this name's chain would tie the chain into a loop or cut it.
    if (chain_link(entry))
        return 0;
    if (HashNode* n = find_node(hash, key, h)) {
        if (!n->head) {
            n->head = n->tail = entry;
            n->next_used = hash->used;
            hash->used = n;
            ++hash->count;
            return 1;
        }
        if (entry == n->head || entry == n->tail)
            return 0;
        chain_link(n->tail) = entry;
        n->tail = entry;
        return 2;
    }
    auto* n = static_cast<HashNode*>(brelrt_alloc(sizeof(HashNode), 1, HERE, hash->description));
    if (!n)
        return 0;
    n->key = brelrt_strdup(key, HERE, hash->description);
    if (!n->key) {
        brelrt_free(n, HERE);
        return 0;
    }
    n->head = entry;
    n->tail = entry;
    n->hash = h;
    n->next_used = hash->used;
    hash->used = n;
    HashNode*& bucket = hash->buckets[h % hash->bucket_count];
    n->next = bucket;
    bucket = n;
    ++hash->count;
    if (++hash->nodes > 2 * hash->bucket_count)
        grow(hash);
    return 1;
}

size_t brelrt_hash_count(const BrelrtHash* hash) {
    return hash ? hash->count : 0;
}

void brelrt_hash_each(const BrelrtHash* hash, void (*fn)(const char*, void*, void*),
                      void* context) {
    if (!hash || !fn)
        return;
    for (size_t b = 0; b < hash->bucket_count; ++b)
        for (HashNode* n = hash->buckets[b]; n; n = n->next)
            if (n->head)
                fn(n->key, n->head, context);
}
