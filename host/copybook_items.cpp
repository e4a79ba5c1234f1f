// The layout's item table: the laid-out entry tree flattened into the items
// of a RecordLayout (one per field and group, one per occurrence of a
// table), with the pictures of numeric-edited items and the WHEN
// conditions that select records and variants; and the copybook read whole
// into a layout, from text to the table.
#include "copybook_internal.h"

#include <algorithm>
#include <cstring>

#define HERE "host/copybook_items", __LINE__

namespace brelrt::copybook {
namespace {

// A condition: the WHEN and the item it selects.
struct Selection {
    const WhenClause* when;
    int item;
};

bool is_filler(const Node& node) {
    return node.name.empty() || same_name(node.name, "FILLER");
}

// Whether a subtree describes data: an elementary item with a name. A group
// made only of FILLER describes none.
bool describes_data(const Node& node) {
    if (node.children.empty())
        return !is_filler(node);
    for (const auto& child : node.children)
        if (child->redefines.empty() && describes_data(*child))
            return true;
    return false;
}

// The items of a layout, made record by record from the laid-out entries in
// the order of the copybook.
struct Emitter {
    std::vector<LayoutItem> items;
    std::vector<const Node*> origin; // node of each item
    std::vector<Selection> conditions;
    std::vector<std::string> pictures; // of each item flagged BRELRT_ITEM_EDITED, in item order
    int case_mode = 0;
    std::string record_name; // the name of a level-01 FILLER
    int record_first = 0;    // the first item of the record being emitted

    // A new condition: `when` selects the item `item`. Returns its number.
    int select(const WhenClause& when, int item) {
        conditions.push_back({&when, item});
        return static_cast<int>(conditions.size());
    }

    // Emits every occurrence of `node` (offsets from `base`) with its
    // subtree. `condition` is the one of what encloses it, `shadow` whether
    // it lies inside a REDEFINES without WHEN, `redefined` the item its
    // REDEFINES names (-1 none). Returns the node's first item, -1 for an
    // elementary FILLER.
    int emit(const Node& node, int32_t base, int condition, bool shadow, int redefined, int depth,
             const int16_t* counts, const int16_t* occ) {
        int copies = node.occurs ? node.occurs : 1;
        int d = depth + (node.occurs ? 1 : 0);
        if (d > BRELRT_MAX_DEPTH)
            throw ParseError{node.line, "OCCURS nested too deeply"};
        bool variant = redefined >= 0 && node.has_when;
        if (redefined >= 0 && !node.has_when)
            shadow = true;
        if (variant) {
            if (d > 0)
                throw ParseError{node.when.line, "WHEN inside an OCCURS table is not supported"};
            if (conditions.size() >= 32767)
                throw ParseError{node.when.line, "too many WHEN conditions"};
            condition = select(node.when, static_cast<int>(items.size()));
        }
        bool group = !node.children.empty();
        bool filler = is_filler(node);
        if (variant && filler && !group)
            throw ParseError{node.when.line, "WHEN before an elementary FILLER"};
        int counter = node.depending.empty() ? -1 : counter_of(node, occ, d);
        int first = -1;
        for (int k = 1; k <= copies; ++k) {
            // Within the record, whose size lay_out bounded: no overflow.
            int32_t offset = base + node.offset + (k - 1) * node.size;
            int16_t c[BRELRT_MAX_DEPTH + 1] = {}, o[BRELRT_MAX_DEPTH + 1] = {};
            std::memcpy(c, counts, sizeof c);
            std::memcpy(o, occ, sizeof o);
            if (node.occurs) {
                c[d] = static_cast<int16_t>(node.occurs);
                o[d] = static_cast<int16_t>(k);
            }
            if (!(filler && !group) || node.level == 1) {
                if (items.size() >= static_cast<size_t>(max_items))
                    throw ParseError{node.line, "layout has too many items"};
                LayoutItem item{};
                item.offset = offset;
                item.field.size = node.size;
                item.field.type = static_cast<int16_t>(node.type);
                item.field.digits = static_cast<uint8_t>(node.digits);
                item.field.scale = static_cast<int8_t>(node.scale);
                item.user_type = node.binary ? BRELRT_USER_TYPE_BINARY : 0;
                item.condition = static_cast<int16_t>(group ? BRELRT_CONDITION_GROUP : condition);
                item.level = static_cast<int16_t>(node.level);
                std::memcpy(item.occurs_count, c, sizeof c);
                std::memcpy(item.occurrence, o, sizeof o);
                item.depth = d;
                item.depending = -1;
                if (redefined >= 0) {
                    item.flags |= BRELRT_ITEM_REDEFINES;
                    item.redefined = static_cast<int16_t>(redefined);
                    items[static_cast<size_t>(redefined)].flags |= BRELRT_ITEM_REDEFINED;
                }
                if (variant)
                    item.flags |= BRELRT_ITEM_VARIANT;
                if (shadow)
                    item.flags |= BRELRT_ITEM_SHADOW;
                if (node.justified && !group)
                    item.flags |= BRELRT_ITEM_JUSTIFIED;
                if (node.edited) {
                    item.flags |= BRELRT_ITEM_EDITED;
                    pictures.push_back(node.picture);
                }
                if (node.blank_zero)
                    item.flags |= BRELRT_ITEM_BLANK_ZERO;
                if (!node.depending.empty()) {
                    item.flags |= BRELRT_ITEM_VARYING;
                    item.depending = static_cast<int16_t>(counter);
                    item.occurs_min = static_cast<int16_t>(node.occurs_min);
                }
                set_name(item, node.level == 1 && filler ? record_name
                               : filler                  ? std::string("filler")
                                                         : node.name);
                if (first < 0)
                    first = static_cast<int>(items.size());
                items.push_back(item);
                origin.push_back(&node);
            }
            // A REDEFINES names a sibling of this same occurrence: the item
            // that describes the storage first.
            std::vector<std::pair<const Node*, int>> firsts;
            for (const auto& child : node.children) {
                int target = -1;
                std::pair<const Node*, int>* named = nullptr;
                if (child->redefined) {
                    for (auto& entry : firsts)
                        if (entry.first == child->redefined)
                            named = &entry;
                    if (!named || named->second < 0)
                        throw ParseError{child->line, "REDEFINES of an elementary FILLER"};
                    target = named->second;
                }
                // A group of FILLER only describes no data: the first
                // redefinition without WHEN that does is written and read
                // in its place, and the FILLER group becomes the second view.
                if (named && !child->has_when && !describes_data(*child->redefined) &&
                    origin[static_cast<size_t>(target)] == child->redefined &&
                    !(items[static_cast<size_t>(target)].flags & BRELRT_ITEM_SHADOW) &&
                    describes_data(*child)) {
                    int index = emit(*child, offset, condition, shadow, -1, d, c, o);
                    mark_second_view(target, index);
                    named->second = index;
                    firsts.emplace_back(child.get(), index);
                    continue;
                }
                int index = emit(*child, offset, condition, shadow, target, d, c, o);
                firsts.emplace_back(child.get(), index);
            }
        }
        return first;
    }

    // The FILLER group at `item` becomes a second view of the storage
    // `primary` describes: it and the FILLER groups inside it are skipped
    // like every REDEFINES without WHEN.
    void mark_second_view(int item, int primary) {
        LayoutItem& filler = items[static_cast<size_t>(item)];
        filler.flags = static_cast<uint16_t>((filler.flags & ~BRELRT_ITEM_REDEFINED) |
                                             BRELRT_ITEM_REDEFINES | BRELRT_ITEM_SHADOW);
        filler.redefined = static_cast<int16_t>(primary);
        for (size_t i = static_cast<size_t>(item) + 1;
             i < items.size() && items[i].level > filler.level; ++i)
            items[i].flags |= BRELRT_ITEM_SHADOW;
        for (LayoutItem& other : items)
            if ((other.flags & BRELRT_ITEM_REDEFINES) && other.redefined == item &&
                &other != &filler)
                other.redefined = static_cast<int16_t>(primary);
        items[static_cast<size_t>(primary)].flags |= BRELRT_ITEM_REDEFINED;
    }

    // The item of the counter an OCCURS DEPENDING ON names: the nearest
    // earlier item of the record with that name, in the same occurrence of
    // any table that encloses the table; -1 when the record has none (the
    // counter lies outside it). It must be a numeric field.
    int counter_of(const Node& node, const int16_t* occ, int depth) const {
        for (size_t i = items.size(); i-- > static_cast<size_t>(record_first);) {
            const LayoutItem& it = items[i];
            if (!same_name(origin[i]->name, node.depending) || it.depth >= depth)
                continue;
            bool same_place = true;
            for (int k = 1; k <= it.depth; ++k)
                same_place = same_place && it.occurrence[k] == occ[k];
            if (!same_place)
                continue;
            if (it.condition == BRELRT_CONDITION_GROUP || !brelrt_type_is_numeric(it.field.type))
                throw ParseError{node.line, "DEPENDING ON " + brelrt::excerpt(node.depending) +
                                                " names no numeric field"};
            return static_cast<int>(i);
        }
        return -1;
    }

    void set_name(LayoutItem& item, const std::string& name) {
        size_t n = std::min(name.size(), sizeof item.name - 1);
        std::memcpy(item.name, name.data(), n);
        item.name[n] = '\0';
        if (case_mode == 0)
            brelrt_name_convert(item.name, BRELRT_NAME_ZERO_TERMINATED, BRELRT_NAME_LOWER);
        if (case_mode != 2)
            brelrt_name_convert(item.name, BRELRT_NAME_ZERO_TERMINATED, BRELRT_NAME_UNDERSCORE);
    }
};

// The elementary item a WHEN tests: by name, within the record of the item
// it selects when there is one there, else the first in the layout.
int tested_field(const Emitter& em, const Selection& s, int record_first, int record_end) {
    int found = -1;
    for (size_t i = 0; i < em.items.size(); ++i) {
        const Node* n = em.origin[i];
        if (!n->children.empty() || !same_name(n->name, s.when->field))
            continue;
        if (static_cast<int>(i) >= record_first && static_cast<int>(i) < record_end)
            return static_cast<int>(i);
        if (found < 0)
            found = static_cast<int>(i);
    }
    return found;
}

// No memory for the layout: error 14, and the reason as the last error.
RecordLayout* out_of_memory(const std::string& path) {
    set_missing(path + ": out of memory");
    brelrt::shortage();
    return nullptr;
}

// The layout the emitted items describe, in blocks of the tracked allocator
// that B4XFDFree frees; null when memory runs short.
RecordLayout* to_layout(const Emitter& em, const std::vector<std::unique_ptr<Node>>& records,
                        const std::vector<int>& tested, const std::string& path,
                        const char* layout_name) {
    auto* layout =
        static_cast<RecordLayout*>(brelrt_alloc(sizeof(RecordLayout), 1, HERE, "record layout"));
    if (!layout)
        return out_of_memory(path);
    // Frees what was allocated so far: the blocks not yet allocated are null.
    auto short_of_memory = [&] {
        B4XFDFree(layout);
        return out_of_memory(path);
    };
    size_t n = std::min(std::strlen(layout_name), sizeof layout->name - 1);
    std::memcpy(layout->name, layout_name, n);
    layout->items = static_cast<LayoutItem*>(
        brelrt_alloc(em.items.size() * sizeof(LayoutItem), 1, HERE, "record layout items"));
    if (!layout->items)
        return short_of_memory();
    std::memcpy(layout->items, em.items.data(), em.items.size() * sizeof(LayoutItem));
    if (!em.pictures.empty()) {
        size_t bytes = 0;
        for (const std::string& picture : em.pictures)
            bytes += picture.size() + 1;
        layout->pictures =
            static_cast<char*>(brelrt_alloc(bytes, 0, HERE, "record layout pictures"));
        if (!layout->pictures)
            return short_of_memory();
        char* at = layout->pictures;
        size_t next = 0;
        for (size_t i = 0; i < em.items.size(); ++i) {
            if (!(layout->items[i].flags & BRELRT_ITEM_EDITED))
                continue;
            const std::string& picture = em.pictures[next++];
            std::memcpy(at, picture.c_str(), picture.size() + 1);
            layout->items[i].picture = at;
            at += picture.size() + 1;
        }
    }
    layout->item_count = static_cast<int32_t>(em.items.size());
    layout->field_count = layout->item_count;
    layout->record_count = static_cast<int32_t>(records.size());
    layout->flags = records.size() > 1 ? BRELRT_LAYOUT_MULTIPLE : 0;
    for (const auto& r : records)
        layout->record_size = std::max(layout->record_size, r->size);
    if (!em.conditions.empty()) {
        layout->conditions = static_cast<ConditionEntry*>(brelrt_alloc(
            em.conditions.size() * sizeof(ConditionEntry), 1, HERE, "record layout conditions"));
        if (!layout->conditions)
            return short_of_memory();
        layout->condition_count = static_cast<int16_t>(em.conditions.size());
        for (size_t k = 0; k < em.conditions.size(); ++k) {
            ConditionEntry& c = layout->conditions[k];
            const WhenClause& when = *em.conditions[k].when;
            std::memcpy(c.literal, when.literal.data(), when.literal.size());
            c.literal_length = static_cast<int32_t>(when.literal.size());
            c.numeric = static_cast<int16_t>(when.kind);
            c.item = static_cast<int16_t>(em.conditions[k].item);
            c.tested = static_cast<int16_t>(tested[k]);
        }
    }
    clear_error();
    return layout;
}

} // namespace

RecordLayout* build_layout(const std::string& text, const std::string& path,
                           const char* layout_name) {
    const BinaryRule* binary = binary_rule();
    if (!binary) {
        set_error("BRELRT_BINARY_SIZE '" + brelrt::excerpt(brelrt::env("BRELRT_BINARY_SIZE")) +
                  "' is no binary-size rule (1-2-4-8, 2-4-8 or 1--8): " + path + " not used");
        return nullptr;
    }
    BinarySize rule = binary->size;
    std::vector<std::unique_ptr<Node>> records;
    Emitter em;
    // Field names take the same case as the element names of the reader:
    // 4GL_COLUMN_CASE 0 lower case, 1 as written, 2 as written with "-" kept.
    long case_setting = brelrt::config_number("4GL_COLUMN_CASE");
    em.case_mode = case_setting == 1 ? 1 : case_setting == 2 ? 2 : 0;
    em.record_name = std::string(layout_name) + "-rec";
    std::vector<int> record_first; // first item of each record
    std::vector<int> tested;
    try {
        Source src(text);
        records = parse_records(src, em.record_name);
        if (records.empty())
            throw ParseError{1, "no level 01 record"};
        int16_t zero[BRELRT_MAX_DEPTH + 1] = {};
        for (size_t r = 0; r < records.size(); ++r) {
            Node& record = *records[r];
            if (record.occurs)
                throw ParseError{record.line, "OCCURS on a level 01 record"};
            int redefined = -1;
            if (!record.redefines.empty()) {
                if (records.size() == 1)
                    throw ParseError{record.line, "REDEFINES on the only record"};
                for (size_t e = 0; e < r; ++e)
                    if (same_name(records[e]->name, record.redefines))
                        redefined = record_first[e];
                if (redefined < 0)
                    throw ParseError{record.line, "REDEFINES " + brelrt::excerpt(record.redefines) +
                                                      " names no earlier record"};
            }
            lay_out(record, Usage::NONE, 0, false, rule);
            if (record.size < 1)
                throw ParseError{record.line, "record of no size"};
            record.offset = 0;
            int first = static_cast<int>(em.items.size());
            em.record_first = first;
            record_first.push_back(first);
            int condition = record.has_when ? em.select(record.when, first) : 0;
            // Several level-01 records share the record area anyway: only a
            // REDEFINES without WHEN makes one a second view of another.
            bool shadow = redefined >= 0 && !record.has_when;
            em.emit(record, 0, condition, shadow, shadow ? redefined : -1, 0, zero, zero);
        }
        record_first.push_back(static_cast<int>(em.items.size()));
        for (const Selection& s : em.conditions) {
            int t = -1;
            if (s.when->kind != 2) {
                size_t r = 0;
                while (r + 1 < record_first.size() && record_first[r + 1] <= s.item)
                    ++r;
                t = tested_field(em, s, record_first[r], record_first[r + 1]);
                if (t < 0)
                    throw ParseError{s.when->line, "WHEN names no field '" +
                                                       brelrt::excerpt(s.when->field) + "'"};
            }
            tested.push_back(t);
        }
    } catch (const ParseError& e) {
        set_error(brelrt::format("%s:%d: %s", brelrt::excerpt(path, 200).c_str(), e.line,
                                 e.what.c_str()));
        return nullptr;
    }
    // Fields named by a WHEN are read before any condition is tested, so they
    // belong to no condition themselves.
    for (int t : tested) {
        if (t < 0)
            continue;
        const Node* field = em.origin[static_cast<size_t>(t)];
        for (size_t i = 0; i < em.items.size(); ++i)
            if (em.origin[i] == field)
                em.items[i].condition = 0;
    }
    return to_layout(em, records, tested, path, layout_name);
}

} // namespace brelrt::copybook
