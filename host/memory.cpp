// Tracked memory: every block is recorded with who allocated it, so that what
// is still allocated can be reported and an unknown pointer is never freed.
//
// Each block carries its record in a 16-byte header in front of the caller's
// bytes: its size and the number of its allocation site (path, line and
// description, each site kept once in a table). The live blocks are kept in
// a set of pointers: an allocation costs one malloc and two probes, a free
// one probe, and a pointer that is not in the set is never dereferenced.
#include "internal.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// 16 bytes, so the caller's bytes keep malloc's 16-byte alignment.
struct alignas(16) Header {
    size_t size;
    uint32_t site; // its number in the table of sites
};
static_assert(sizeof(Header) == 16);

// Where blocks are allocated: few (the call sites of the code), so each is
// kept once and a block names it by number.
struct Site {
    const char* path;
    const char* description;
    int line;
};

// Sites kept at most; every later one is counted as site 0, "?", so that a
// caller making up descriptions cannot grow the table without end.
constexpr uint32_t kSitesMax = 65536;

struct SiteTable {
    Site* sites = nullptr;     // site k at k; 0 is the unknown site
    uint32_t count = 0;        // sites in use, 0 before the first
    uint32_t* slots = nullptr; // open addressing: site number, 0 for an empty slot
    size_t slot_count = 0;     // a power of two, more than twice the sites
    uint32_t last = 0;         // the site found last

    static size_t slot_of(const char* path, int line, const char* description, size_t slots) {
        uint64_t h = reinterpret_cast<uintptr_t>(path) * UINT64_C(0x9E3779B97F4A7C15);
        h = (h ^ (reinterpret_cast<uintptr_t>(description) + static_cast<uint64_t>(line))) *
            UINT64_C(0xBF58476D1CE4E5B9);
        return static_cast<size_t>(h ^ (h >> 31)) & (slots - 1);
    }

    static bool same(const Site& s, const char* path, int line, const char* description) {
        return s.path == path && s.line == line && s.description == description;
    }

    // Room for one more site; false when out of memory.
    bool reserve() {
        if (count && (count + 1) * 2 < slot_count)
            return true;
        size_t more = slot_count ? slot_count * 2 : 512;
        auto* fresh_sites = static_cast<Site*>(std::realloc(sites, more / 2 * sizeof(Site)));
        if (!fresh_sites)
            return false;
        sites = fresh_sites;
        auto* fresh = static_cast<uint32_t*>(std::calloc(more, sizeof(uint32_t)));
        if (!fresh)
            return false;
        std::free(slots);
        slots = fresh;
        slot_count = more;
        if (!count) {
            sites[0] = Site{nullptr, "?", 0};
            count = 1;
        }
        for (uint32_t k = 1; k < count; ++k) {
            size_t i = slot_of(sites[k].path, sites[k].line, sites[k].description, slot_count);
            while (slots[i])
                i = (i + 1) & (slot_count - 1);
            slots[i] = k;
        }
        return true;
    }

    // The number of a site, entered when new; false when out of memory.
    bool number(const char* path, int line, const char* description, uint32_t* out) {
        if (count && same(sites[last], path, line, description)) {
            *out = last;
            return true;
        }
        if (!count && !reserve())
            return false;
        size_t i = slot_of(path, line, description, slot_count);
        for (; slots[i]; i = (i + 1) & (slot_count - 1))
            if (same(sites[slots[i]], path, line, description)) {
                *out = last = slots[i];
                return true;
            }
        if (count >= kSitesMax) {
            *out = 0;
            return true;
        }
        if ((count + 1) * 2 >= slot_count) {
            if (!reserve())
                return false;
            i = slot_of(path, line, description, slot_count);
            while (slots[i])
                i = (i + 1) & (slot_count - 1);
        }
        sites[count] = Site{path, description, line};
        slots[i] = count;
        *out = last = count++;
        return true;
    }
};

Header* header_of(void* ptr) {
    return reinterpret_cast<Header*>(static_cast<char*>(ptr) - sizeof(Header));
}

void* user_of(Header* h) {
    return reinterpret_cast<char*>(h) + sizeof(Header);
}

// The set of live user pointers: one bit per 8-byte granule of each 64 KB
// region of the address space that holds a block, the regions found through
// a small open-addressing table. Blocks allocated one after another share a
// bitmap, so the set stays in the cache however many blocks are live.
constexpr unsigned kRegionShift = 16;
constexpr unsigned kGranuleShift = 3;
constexpr size_t kRegionWords = (size_t{1} << (kRegionShift - kGranuleShift)) / 64;

struct Region {
    uintptr_t key; // region number + 1; 0 for an empty slot
    uint64_t* bits;
};

struct LiveSet {
    Region* regions = nullptr;
    size_t capacity = 0; // 0 or a power of two
    size_t region_count = 0;
    size_t count = 0;
    Region* last = nullptr;    // the region used last
    uint64_t* spare = nullptr; // a bitmap ready for the next new region

    static uintptr_t key_of(const void* p) {
        return (reinterpret_cast<uintptr_t>(p) >> kRegionShift) + 1;
    }
    static size_t bit_of(const void* p) {
        return (reinterpret_cast<uintptr_t>(p) & ((uintptr_t{1} << kRegionShift) - 1)) >>
               kGranuleShift;
    }

    size_t slot_of(uintptr_t key) const {
        size_t i = static_cast<size_t>((key * UINT64_C(0x9E3779B97F4A7C15)) >> 32) & (capacity - 1);
        while (regions[i].key && regions[i].key != key)
            i = (i + 1) & (capacity - 1);
        return i;
    }

    Region* find(const void* p) {
        uintptr_t key = key_of(p);
        if (last && last->key == key)
            return last;
        if (!capacity)
            return nullptr;
        Region& r = regions[slot_of(key)];
        if (!r.key)
            return nullptr;
        last = &r;
        return last;
    }

    bool grow() {
        size_t capacity_new = capacity ? capacity * 2 : 64;
        auto* fresh = static_cast<Region*>(std::calloc(capacity_new, sizeof(Region)));
        if (!fresh)
            return false;
        Region* old = regions;
        size_t old_capacity = capacity;
        regions = fresh;
        capacity = capacity_new;
        for (size_t k = 0; k < old_capacity; ++k)
            if (old[k].key)
                regions[slot_of(old[k].key)] = old[k];
        std::free(old);
        last = nullptr;
        return true;
    }

    // Room for one more region, so that the next insert cannot fail.
    bool reserve() {
        if ((region_count + 1) * 2 > capacity && !grow())
            return false;
        if (!spare)
            spare = static_cast<uint64_t*>(std::calloc(kRegionWords, sizeof(uint64_t)));
        return spare != nullptr;
    }

    // The region of `p`, made when there is none; null when out of memory.
    Region* region_for(const void* p) {
        if (Region* r = find(p))
            return r;
        if (!reserve())
            return nullptr;
        uintptr_t key = key_of(p);
        Region& r = regions[slot_of(key)];
        r = Region{key, spare};
        spare = nullptr;
        ++region_count;
        last = &r;
        return last;
    }

    bool contains(const void* p) {
        if (reinterpret_cast<uintptr_t>(p) & ((uintptr_t{1} << kGranuleShift) - 1))
            return false;
        Region* r = find(p);
        size_t bit = bit_of(p);
        return r && (r->bits[bit / 64] >> (bit % 64) & 1);
    }

    bool insert(const void* p) {
        Region* r = region_for(p);
        if (!r)
            return false;
        size_t bit = bit_of(p);
        r->bits[bit / 64] |= uint64_t{1} << (bit % 64);
        ++count;
        return true;
    }

    // Only for a pointer the set contains.
    void remove(const void* p) {
        Region* r = find(p);
        size_t bit = bit_of(p);
        r->bits[bit / 64] &= ~(uint64_t{1} << (bit % 64));
        --count;
    }

    template <typename Fn> void each(Fn fn) const {
        for (size_t k = 0; k < capacity; ++k) {
            const Region& r = regions[k];
            if (!r.key)
                continue;
            uintptr_t base = (r.key - 1) << kRegionShift;
            for (size_t w = 0; w < kRegionWords; ++w)
                for (uint64_t bits = r.bits[w]; bits; bits &= bits - 1) {
                    size_t bit = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
                    fn(reinterpret_cast<void*>(base + (bit << kGranuleShift)));
                }
        }
    }
};

struct MemoryState {
    LiveSet live;
    SiteTable sites;
    size_t bytes = 0; // the sizes of the live blocks, as asked for
    size_t peak = 0;  // the most `bytes` held since the last reset
    size_t bad_frees = 0;
    long fail_countdown = 0; // 0: off
};

// Never destroyed: blocks may be freed from other static destructors.
MemoryState& state() {
    static MemoryState s;
    return s;
}

bool injected_failure() {
    MemoryState& s = state();
    if (s.fail_countdown <= 0)
        return false;
    return --s.fail_countdown == 0;
}

const char* safe(const char* text) {
    return text ? text : "?";
}

void complain(const char* what, void* ptr, const char* path, int line) {
    brelrt::guarded_void([&] {
        brelrt::report(
            brelrt::format("%s of unknown pointer %p at %s:%d", what, ptr, safe(path), line));
    });
}

} // namespace

// Every block has room for at least this many bytes, so that a check of a
// live block may read its first word without knowing its size.
constexpr size_t kMinimumBlock = 16;

namespace {

void count_in(MemoryState& s, size_t size) {
    s.bytes += size;
    if (s.bytes > s.peak)
        s.peak = s.bytes;
}

} // namespace

void* brelrt_alloc(size_t size, int zero, const char* path, int line, const char* description) {
    MemoryState& s = state();
    uint32_t site = 0;
    if (injected_failure() || size > SIZE_MAX - sizeof(Header) - kMinimumBlock ||
        !s.sites.number(path, line, description, &site))
        return nullptr;
    size_t real = sizeof(Header) + (size < kMinimumBlock ? kMinimumBlock : size);
    auto* h = static_cast<Header*>(zero ? std::calloc(1, real) : std::malloc(real));
    if (!h)
        return nullptr;
    *h = Header{size, site};
    void* p = user_of(h);
    if (!s.live.insert(p)) {
        std::free(h);
        return nullptr;
    }
    count_in(s, size);
    return p;
}

void* brelrt_realloc(void* ptr, size_t size, const char* path, int line) {
    if (!ptr)
        return brelrt_alloc(size, 0, path, line, "reallocated block");
    MemoryState& s = state();
    if (!s.live.contains(ptr)) {
        complain("realloc", ptr, path, line);
        return nullptr;
    }
    // The block keeps its description; path and line become the caller's.
    uint32_t site = 0;
    if (injected_failure() || size > SIZE_MAX - sizeof(Header) - kMinimumBlock ||
        !s.live.reserve() ||
        !s.sites.number(path, line, s.sites.sites[header_of(ptr)->site].description, &site))
        return nullptr;
    auto* h = static_cast<Header*>(std::realloc(
        header_of(ptr), sizeof(Header) + (size < kMinimumBlock ? kMinimumBlock : size)));
    if (!h)
        return nullptr;
    s.bytes -= h->size;
    count_in(s, size);
    h->size = size;
    h->site = site;
    void* p = user_of(h);
    if (p != ptr) {
        // Room was reserved above: this insert cannot fail.
        s.live.remove(ptr);
        s.live.insert(p);
    }
    return p;
}

void brelrt_free(void* ptr, const char* path, int line) {
    if (!ptr)
        return;
    MemoryState& s = state();
    if (!s.live.contains(ptr)) {
        ++s.bad_frees;
        complain("free", ptr, path, line);
        return;
    }
    s.live.remove(ptr);
    s.bytes -= header_of(ptr)->size;
    std::free(header_of(ptr));
}

char* brelrt_strdup(const char* text, const char* path, int line, const char* description) {
    if (!text)
        return nullptr;
    size_t n = std::strlen(text);
    auto* p = static_cast<char*>(brelrt_alloc(n + 1, 0, path, line, description));
    if (p)
        std::memcpy(p, text, n + 1);
    return p;
}

bool brelrt::tracked_block(const void* p) {
    return p && state().live.contains(p);
}

size_t brelrt_mem_outstanding(void) {
    return state().live.count;
}

size_t brelrt_mem_report(FILE* out) {
    const MemoryState& s = state();
    s.live.each([&s, out](void* p) {
        const Header* h = header_of(p);
        const Site& site = s.sites.sites[h->site];
        char line[600];
        std::snprintf(line, sizeof line, "%s:%d %s (%zu bytes)", safe(site.path), site.line,
                      safe(site.description), h->size);
        if (out)
            std::fprintf(out, "%s\n", line);
        else
            brelrt_trace(0, 1, line);
    });
    return s.live.count;
}

size_t brelrt_mem_bytes(void) {
    return state().bytes;
}

size_t brelrt_mem_peak(int reset) {
    MemoryState& s = state();
    size_t peak = s.peak;
    if (reset)
        s.peak = s.bytes;
    return peak;
}

size_t brelrt_mem_bad_frees(void) {
    return state().bad_frees;
}

void brelrt_mem_fail_nth(long n) {
    state().fail_countdown = n > 0 ? n : 0;
}
