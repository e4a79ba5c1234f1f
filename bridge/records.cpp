#include "records.h"

#include <cstdio>
#include <cstring>

namespace extfh {

namespace {

bool is_record(const LayoutItem& item) {
    return item.level == 1 && !(item.flags & BRELRT_ITEM_SHADOW);
}

// The condition (1-based) of a "*> WHEN" before record `item`; 0 when none.
int record_condition(const RecordLayout& layout, int item) {
    for (int k = 1; k <= layout.condition_count; ++k)
        if (layout.conditions[k - 1].item == item)
            return k;
    return 0;
}

// The records without a WHEN, and the lengths each may have.
struct Unmarked {
    int item;
    int least;
    int most;
};

int unmarked_records(const Plugin& plugin, const RecordLayout& layout, Unmarked* out, int room) {
    int count = 0;
    for (int i = 0; i < layout.field_count; ++i) {
        if (!is_record(layout.items[i]) || record_condition(layout, i))
            continue;
        if (count < room) {
            Unmarked& u = out[count];
            u.item = i;
            plugin.record_length(const_cast<RecordLayout*>(&layout), nullptr, i, &u.least, &u.most);
        }
        ++count;
    }
    return count;
}

void lengths_text(const Unmarked& u, char* out, size_t size) {
    if (u.least == u.most)
        std::snprintf(out, size, "%d bytes", u.most);
    else
        std::snprintf(out, size, "%d to %d bytes", u.least, u.most);
}

constexpr int kUnmarkedMost = 64;

const char kFix[] = "put a line \"*> WHEN field = value\" before each level-01 record (the "
                    "field that holds the record type, and its value for that record)";

} // namespace

bool records_told_apart(const Plugin& plugin, const RecordLayout& layout,
                        const StatementFacts& facts, const char* copybook, bool* by_length,
                        char* why, size_t size) {
    *by_length = false;
    Unmarked unmarked[kUnmarkedMost];
    int count = unmarked_records(plugin, layout, unmarked, kUnmarkedMost);
    if (count < 2)
        return true; // a WHEN tells each record, or the one without one is the rest
    if (count > kUnmarkedMost) {
        std::snprintf(why, size, "the copybook %.300s has %d level-01 records without a WHEN: %s",
                      copybook, count, kFix);
        return false;
    }
    if (!facts.known) {
        std::snprintf(why, size,
                      "the copybook %.300s has several level-01 records without a WHEN, told "
                      "apart by the length of the record a WRITE names, which a program "
                      "learns only when built with scripts/cobc-xml: build it so, or %s",
                      copybook, kFix);
        return false;
    }
    for (int a = 0; a < count; ++a)
        for (int b = a + 1; b < count; ++b) {
            const Unmarked& x = unmarked[a];
            const Unmarked& y = unmarked[b];
            if (x.most < y.least || y.most < x.least)
                continue;
            char lx[40], ly[40];
            lengths_text(x, lx, sizeof lx);
            lengths_text(y, ly, sizeof ly);
            std::snprintf(why, size,
                          "the copybook %.300s has level-01 records that cannot be told apart "
                          "by their length: %.63s (%s) and %.63s (%s); %s",
                          copybook, layout.items[x.item].name, lx, layout.items[y.item].name, ly,
                          kFix);
            return false;
        }
    *by_length = true;
    return true;
}

int record_written(const Plugin& plugin, RecordLayout& layout, const unsigned char* record,
                   int length, size_t named, bool by_length, char* why, size_t size) {
    if (!(layout.flags & BRELRT_LAYOUT_MULTIPLE))
        return -1; // the one record: the plug-in's choice
    // Evaluates every condition on the record as given.
    plugin.record_item(&layout, record, length);
    for (int i = 0; i < layout.field_count; ++i) {
        int k = is_record(layout.items[i]) ? record_condition(layout, i) : 0;
        if (k && (layout.conditions[k - 1].result & 1))
            return i; // the first record whose WHEN holds
    }
    Unmarked unmarked[kUnmarkedMost];
    int count = unmarked_records(plugin, layout, unmarked, kUnmarkedMost);
    if (count == 1)
        return unmarked[0].item; // the rest: the one record without WHEN
    if (!by_length)
        return -1;
    long told = named ? static_cast<long>(named) : length;
    for (int u = 0; u < count && u < kUnmarkedMost; ++u)
        if (told >= unmarked[u].least && told <= unmarked[u].most)
            return unmarked[u].item;
    std::snprintf(why, size,
                  "no record description fits it: no WHEN holds, and no level-01 record without "
                  "one is %ld bytes long",
                  told);
    return -2;
}

} // namespace extfh
