// Tracked memory: every block is recorded with who allocated it, so that what
// is still allocated can be reported and an unknown pointer is never freed.
#include "internal.h"

#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace {

struct Block {
    size_t size;
    const char* path;
    int line;
    const char* description;
};

struct MemoryState {
    std::unordered_map<void*, Block> blocks;
    size_t bad_frees = 0;
    long fail_countdown = 0; // 0: off
};

// Never destroyed: blocks may be freed from other static destructors.
MemoryState& state() {
    static MemoryState* s = new MemoryState;
    return *s;
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

void* brelrt_alloc(size_t size, int zero, const char* path, int line, const char* description) {
    if (injected_failure())
        return nullptr;
    size_t real = size ? size : 1;
    void* p = zero ? std::calloc(1, real) : std::malloc(real);
    if (!p)
        return nullptr;
    try {
        state().blocks[p] = Block{size, path, line, description};
    } catch (...) {
        std::free(p);
        return nullptr;
    }
    return p;
}

void* brelrt_realloc(void* ptr, size_t size, const char* path, int line) {
    if (!ptr)
        return brelrt_alloc(size, 0, path, line, "reallocated block");
    MemoryState& s = state();
    auto it = s.blocks.find(ptr);
    if (it == s.blocks.end()) {
        complain("realloc", ptr, path, line);
        return nullptr;
    }
    if (injected_failure())
        return nullptr;
    Block block = it->second;
    void* p = std::realloc(ptr, size ? size : 1);
    if (!p)
        return nullptr;
    s.blocks.erase(it);
    block.size = size;
    block.path = path;
    block.line = line;
    try {
        s.blocks[p] = block;
    } catch (...) {
        std::free(p);
        return nullptr;
    }
    return p;
}

void brelrt_free(void* ptr, const char* path, int line) {
    if (!ptr)
        return;
    MemoryState& s = state();
    auto it = s.blocks.find(ptr);
    if (it == s.blocks.end()) {
        ++s.bad_frees;
        complain("free", ptr, path, line);
        return;
    }
    s.blocks.erase(it);
    std::free(ptr);
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

size_t brelrt_mem_outstanding(void) {
    return state().blocks.size();
}

size_t brelrt_mem_report(FILE* out) {
    MemoryState& s = state();
    for (const auto& [ptr, block] : s.blocks) {
        char line[600];
        std::snprintf(line, sizeof line, "%s:%d %s (%zu bytes)", safe(block.path), block.line,
                      safe(block.description), block.size);
        if (out)
            std::fprintf(out, "%s\n", line);
        else
            brelrt_trace(0, 1, line);
    }
    return s.blocks.size();
}

size_t brelrt_mem_bad_frees(void) {
    return state().bad_frees;
}

void brelrt_mem_fail_nth(long n) {
    state().fail_countdown = n > 0 ? n : 0;
}
