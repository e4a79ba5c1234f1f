// Typed handles: an opaque pointer that names a record of a registered type.
// Every handle passed in is checked against the set of live handles first.
#include "internal.h"

#include <unordered_set>
#include <vector>

namespace {

struct HandleType {
    size_t record_size;
    BrelrtHandleDestructor destructor;
    std::string name;
};

struct Handle {
    int type;
    void* record;
};

struct HandleState {
    std::vector<HandleType> types; // type t at t - 1
    std::unordered_set<const void*> live;
};

HandleState& state() {
    static HandleState* s = new HandleState;
    return *s;
}

Handle* live_handle(BrelrtHandle handle) {
    if (!handle || !state().live.count(handle))
        return nullptr;
    return static_cast<Handle*>(handle);
}

} // namespace

int brelrt_handle_register(size_t record_size, BrelrtHandleDestructor destructor,
                           const char* name) {
    return brelrt::guarded(0, [&] {
        state().types.push_back(HandleType{record_size, destructor, name ? name : ""});
        return static_cast<int>(state().types.size());
    });
}

BrelrtHandle brelrt_handle_new(int type, const char* path, int line, const char* description) {
    HandleState& s = state();
    if (type <= 0 || static_cast<size_t>(type) > s.types.size())
        return nullptr;
    auto* h = static_cast<Handle*>(brelrt_alloc(sizeof(Handle), 1, path, line, description));
    if (!h)
        return nullptr;
    h->type = type;
    h->record = brelrt_alloc(s.types[static_cast<size_t>(type) - 1].record_size, 1, path, line,
                             description);
    if (!h->record) {
        brelrt_free(h, path, line);
        return nullptr;
    }
    try {
        s.live.insert(h);
    } catch (...) {
        brelrt_free(h->record, path, line);
        brelrt_free(h, path, line);
        return nullptr;
    }
    return h;
}

void* brelrt_handle_record(BrelrtHandle handle, int type) {
    Handle* h = live_handle(handle);
    if (!h || (type != 0 && h->type != type))
        return nullptr;
    return h->record;
}

int brelrt_handle_type(BrelrtHandle handle) {
    Handle* h = live_handle(handle);
    return h ? h->type : 0;
}

int brelrt_handle_free(BrelrtHandle handle, const char* path, int line) {
    Handle* h = live_handle(handle);
    if (!h)
        return 0;
    HandleState& s = state();
    // Dead before the destructor runs, so a destructor that reaches this
    // handle again (through a parent or child) cannot free it twice.
    s.live.erase(h);
    BrelrtHandleDestructor destructor = s.types[static_cast<size_t>(h->type) - 1].destructor;
    if (destructor)
        destructor(h->record);
    brelrt_free(h->record, path, line);
    brelrt_free(h, path, line);
    return 1;
}
