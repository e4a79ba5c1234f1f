// Typed handles: an opaque pointer that names a record of a registered type.
// A handle is one tracked block, its record right behind it; every handle
// passed in is checked first: it must be a live tracked block of a handle's
// size that carries the live mark.
#include "internal.h"

#include <vector>

namespace {

struct HandleType {
    size_t record_size;
    BrelrtHandleDestructor destructor;
    std::string name;
};

constexpr uint32_t kLive = 0x48444C45; // marks a handle until it is freed

// 8 bytes in front of the record, which is pointer-aligned.
struct Handle {
    uint32_t mark;
    int32_t type;
};
static_assert(sizeof(Handle) == 8);

std::vector<HandleType>& types() {
    static auto* t = new std::vector<HandleType>; // type t at t - 1
    return *t;
}

Handle* live_handle(BrelrtHandle handle) {
    // Every tracked block has room for a Handle's mark.
    static_assert(sizeof(uint32_t) <= 16);
    if (!brelrt::tracked_block(handle))
        return nullptr;
    auto* h = static_cast<Handle*>(handle);
    return h->mark == kLive ? h : nullptr;
}

void* record_of(Handle* h) {
    return h + 1;
}

} // namespace

int brelrt_handle_register(size_t record_size, BrelrtHandleDestructor destructor,
                           const char* name) {
    return brelrt::guarded(0, [&] {
        types().push_back(HandleType{record_size, destructor, name ? name : ""});
        return static_cast<int>(types().size());
    });
}

BrelrtHandle brelrt_handle_new(int type, const char* path, int line, const char* description) {
    if (type <= 0 || static_cast<size_t>(type) > types().size())
        return nullptr;
    size_t record_size = types()[static_cast<size_t>(type) - 1].record_size;
    auto* h = static_cast<Handle*>(
        brelrt_alloc(sizeof(Handle) + record_size, 1, path, line, description));
    if (!h)
        return nullptr;
    h->mark = kLive;
    h->type = type;
    return h;
}

void* brelrt_handle_record(BrelrtHandle handle, int type) {
    Handle* h = live_handle(handle);
    if (!h || (type != 0 && h->type != type))
        return nullptr;
    return record_of(h);
}

int brelrt_handle_type(BrelrtHandle handle) {
    Handle* h = live_handle(handle);
    return h ? h->type : 0;
}

int brelrt_handle_free(BrelrtHandle handle, const char* path, int line) {
    Handle* h = live_handle(handle);
    if (!h)
        return 0;
    // Dead before the destructor runs, so a destructor that reaches this
    // handle again (through a parent or child) cannot free it twice.
    h->mark = 0;
    BrelrtHandleDestructor destructor = types()[static_cast<size_t>(h->type) - 1].destructor;
    if (destructor)
        destructor(record_of(h));
    brelrt_free(h, path, line);
    return 1;
}
