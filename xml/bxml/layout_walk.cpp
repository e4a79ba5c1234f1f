#include "bxml/layout_walk.h"

#include "bxml/host_entries.h"

#include <cstdlib>

namespace bxml {

int first_child(const RecordLayout* layout, int group) {
    int next = group + 1;
    if (next >= layout->field_count || layout->items[next].level <= layout->items[group].level)
        return -1;
    return next;
}

int next_sibling(const RecordLayout* layout, int item) {
    int level = layout->items[item].level;
    for (int j = item + 1; j < layout->field_count; ++j) {
        const LayoutItem& it = layout->items[j];
        if (it.level < level)
            return -1;
        if (it.level == level && !(it.flags & BRELRT_ITEM_REDEFINES))
            return j;
    }
    return -1;
}

int next_variant(const RecordLayout* layout, int item, int after) {
    if (!(layout->items[item].flags & BRELRT_ITEM_REDEFINED))
        return 0;
    for (int k = after + 1; k <= layout->condition_count; ++k) {
        int selected = layout->conditions[k - 1].item;
        if (selected < 0 || selected >= layout->item_count)
            continue;
        const LayoutItem& v = layout->items[selected];
        if ((v.flags & BRELRT_ITEM_VARIANT) && v.redefined == item)
            return k;
    }
    return 0;
}

int chosen_variant(const RecordLayout* layout, int item) {
    for (int k = next_variant(layout, item, 0); k; k = next_variant(layout, item, k))
        if (condition_holds(layout, k))
            return layout->conditions[k - 1].item;
    return item;
}

int record_condition(const RecordLayout* layout, int item) {
    for (int k = 1; k <= layout->condition_count; ++k)
        if (layout->conditions[k - 1].item == item)
            return k;
    return 0;
}

int alternatives(const RecordLayout* layout, const ConditionEntry& c) {
    if (c.item < 0 || c.item >= layout->item_count)
        return -2;
    const LayoutItem& selected = layout->items[c.item];
    return selected.level == 1 ? -1 : selected.redefined;
}

VaryingTable varying_table(const LayoutItem& item) {
    int k = item.depth > 0 && item.depth <= BRELRT_MAX_DEPTH ? item.occurrence[item.depth] : 1;
    int most = item.depth > 0 && item.depth <= BRELRT_MAX_DEPTH ? item.occurs_count[item.depth] : 1;
    int64_t size = item.field.size;
    return VaryingTable{item.offset - (k - 1) * size, size, item.occurs_min, most};
}

bool field_integer(const LayoutItem& item, const unsigned char* record, long* value) {
    char text[64];
    FieldDescriptor source = item.field;
    source.address = const_cast<unsigned char*>(record) + item.offset;
    FieldDescriptor target{reinterpret_cast<unsigned char*>(text), 40, BRELRT_T_NUMTEXT, 38, 0, 0};
    auto convert = host_function<decltype(&Bconvert)>(kEntryBconvert);
    if (!convert || convert(&target, &source, 1) != 0)
        return false;
    text[40] = '\0';
    char* end = nullptr;
    *value = std::strtol(text, &end, 10);
    return end != text;
}

bool varying_count(const RecordLayout* layout, const LayoutItem& item, const unsigned char* record,
                   int64_t length, long* count) {
    VaryingTable table = varying_table(item);
    if (item.depending < 0 || item.depending >= layout->item_count) {
        // The counter is the program's own: the record's length tells.
        int64_t bytes = length - table.first;
        *count = bytes <= 0 || table.size <= 0
                     ? 0
                     : static_cast<long>((bytes + table.size - 1) / table.size);
        return true;
    }
    const LayoutItem& counter = layout->items[item.depending];
    if (static_cast<int64_t>(counter.offset) + counter.field.size > length)
        return false;
    return field_integer(counter, record, count);
}

int text_digits(const LayoutItem& item) {
    int size = item.field.size;
    // The digits of the largest value of 1 to 8 bytes: 255, 65535, 16777215 ...
    static const int binary_digits[] = {3, 5, 8, 10, 13, 15, 17, 20};
    switch (item.field.type) {
    case BRELRT_T_BINARY:
    case BRELRT_T_BINARY_UNSIGNED:
    case BRELRT_T_NATIVE:
    case BRELRT_T_NATIVE_UNSIGNED:
        return binary_digits[size < 1 ? 0 : size > 8 ? 7 : size - 1];
    case BRELRT_T_PACKED:
    case BRELRT_T_PACKED_UNSIGNED:
        return size > 0 ? size * 2 - 1 : item.field.digits;
    default:
        return item.field.digits;
    }
}

} // namespace bxml
