#include "record_image.h"

#include <cstring>

namespace extfh {

namespace {

bool numeric(int type) {
    return (type >= 1 && type <= 14) || type == 23 || (type >= 30 && type <= 33);
}

// The elementary items of the record that begins at item `first` (up to
// the next level-01 item), REDEFINES entries and what they hold left out.
void initialize_record(const Host& host, const RecordLayout& layout, int first,
                       unsigned char* image) {
    static unsigned char zero[] = "0";
    int skip_below = 0; // inside a REDEFINES of this level
    for (int i = first; i < layout.item_count; ++i) {
        const LayoutItem& item = layout.items[i];
        if (i > first && item.level == 1)
            break;
        if (skip_below && item.level > skip_below)
            continue;
        skip_below = 0;
        if (item.flags & (BRELRT_ITEM_REDEFINES | BRELRT_ITEM_SHADOW)) {
            skip_below = item.level;
            continue;
        }
        if (item.condition == BRELRT_CONDITION_GROUP || item.offset < 0 || item.field.size <= 0 ||
            item.field.size > layout.record_size - item.offset)
            continue;
        if (!numeric(item.field.type)) {
            std::memset(image + item.offset, ' ', static_cast<size_t>(item.field.size));
            continue;
        }
        FieldDescriptor to = item.field;
        to.address = image + item.offset;
        FieldDescriptor from{zero, 1, BRELRT_T_NUMTEXT, 1, 0, 0};
        host.convert(&to, &from, 1);
    }
}

} // namespace

void make_record_image(const Host& host, const RecordLayout& layout, int record,
                       unsigned char* image) {
    std::memset(image, ' ', static_cast<size_t>(layout.record_size));
    initialize_record(host, layout, record, image);
}

} // namespace extfh
