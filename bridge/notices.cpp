#include "notices.h"

#include <cstdio>
#include <cstring>

namespace extfh {

namespace {

bool numeric_type(int type) {
    return (type >= 1 && type <= 14) || type == 23 || (type >= 30 && type <= 33);
}

bool unsigned_type(int type) {
    return type == BRELRT_T_UNSIGNED || type == BRELRT_T_PACKED_UNSIGNED ||
           type == BRELRT_T_BINARY_UNSIGNED || type == BRELRT_T_NATIVE_UNSIGNED;
}

// The picture of a field as a copybook would write it: "S9(5)V9(2)",
// an edited field's own, "X(30)".
void picture_text(const LayoutItem& item, char* out, size_t size) {
    if ((item.flags & BRELRT_ITEM_EDITED) && item.picture) {
        std::snprintf(out, size, "%.60s", item.picture);
        return;
    }
    if (!numeric_type(item.field.type)) {
        std::snprintf(out, size, "X(%d)", static_cast<int>(item.field.size));
        return;
    }
    int decimals = item.field.scale < 0 ? -item.field.scale : 0;
    int whole = item.field.digits - decimals;
    int n = std::snprintf(out, size, "%s", unsigned_type(item.field.type) ? "" : "S");
    if (whole > 0 && n >= 0 && static_cast<size_t>(n) < size)
        n += std::snprintf(out + n, size - static_cast<size_t>(n), "9(%d)", whole);
    if (decimals > 0 && n >= 0 && static_cast<size_t>(n) < size)
        std::snprintf(out + n, size - static_cast<size_t>(n), "V9(%d)", decimals);
}

// One line about a READ, in the budget of the file's lines.
void say(OpenFile* file, const char* line) {
    Notices& n = file->notices;
    if (n.lines >= Notices::kLines) {
        ++n.unsaid;
        return;
    }
    ++n.lines;
    report("READ of", file->assign, file->name, line);
}

// An element under the root that no record names: said once a name.
void passed_over_record(OpenFile* file, const BxmlNotice& notice) {
    Notices& n = file->notices;
    for (int k = 0; k < n.unknown_names; ++k)
        if (std::strcmp(n.unknown[k].name, notice.name) == 0) {
            ++n.unknown[k].count;
            return;
        }
    if (n.unknown_names == Notices::kUnknownNames) {
        ++n.unknown_others;
        return;
    }
    Notices::Unknown& u = n.unknown[n.unknown_names++];
    std::snprintf(u.name, sizeof u.name, "%s", notice.name);
    u.count = 1;
    char line[200];
    std::snprintf(line, sizeof line,
                  "passed over <%.63s> after record %ld: no record of the layout %.60s is named "
                  "so",
                  notice.name, notice.record, file->layout->name);
    report("READ of", file->assign, file->name, line);
}

} // namespace

void quote(const char* text, size_t length, char* out, size_t size) {
    constexpr size_t kMost = 40;
    size_t n = length;
    bool cut = n > kMost;
    if (cut) {
        n = kMost;
        while (n && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    }
    size_t k = 0;
    for (size_t i = 0; i < n && k + 1 < size; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        out[k++] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
    }
    for (const char* more = cut ? "..." : ""; *more && k + 1 < size; ++more)
        out[k++] = *more;
    out[k] = '\0';
}

void on_notice(void* context, const BxmlNotice* notice) {
    auto* file = static_cast<OpenFile*>(context);
    if (!file || !notice)
        return;
    if (notice->kind == BXML_NOTICE_RECORD) {
        // The record read begins from its own initial values.
        auto size = static_cast<size_t>(file->layout->record_size);
        for (int k = 0; k < file->image_count; ++k)
            if (file->image_records[k] == notice->item)
                std::memcpy(file->image, file->image + static_cast<size_t>(k + 1) * size, size);
        return;
    }
    if (notice->kind == BXML_NOTICE_UNKNOWN_RECORD) {
        passed_over_record(file, *notice);
        return;
    }
    Notices& n = file->notices;
    ++n.all;
    n.changed = true;
    char text[64];
    quote(notice->text ? notice->text : "", notice->text ? notice->text_length : 0, text,
          sizeof text);
    char picture[80] = "";
    const LayoutItem* item = notice->item >= 0 && notice->item < file->layout->item_count
                                 ? &file->layout->items[notice->item]
                                 : nullptr;
    if (item)
        picture_text(*item, picture, sizeof picture);
    char holds[80];
    quote(notice->value ? notice->value : "", notice->value ? std::strlen(notice->value) : 0, holds,
          sizeof holds);
    char line[400];
    long r = notice->record;
    const char* e = notice->name;
    switch (notice->kind) {
    case BXML_NOTICE_NOT_A_NUMBER:
        std::snprintf(line, sizeof line,
                      "record %ld: <%.63s> \"%s\" is no number; the field holds %s", r, e, text,
                      *holds ? holds : "what it held");
        break;
    case BXML_NOTICE_DIGITS_LOST:
    case BXML_NOTICE_DECIMALS_CUT:
    case BXML_NOTICE_SIGN_LOST: {
        // What the picture could not take, around the picture.
        const char* before = notice->kind == BXML_NOTICE_DIGITS_LOST    ? "has more digits than "
                             : notice->kind == BXML_NOTICE_DECIMALS_CUT ? "has more decimals than "
                                                                        : "is negative, ";
        const char* after = notice->kind == BXML_NOTICE_DIGITS_LOST ? " holds"
                            : notice->kind == BXML_NOTICE_SIGN_LOST ? " has no sign"
                                                                    : "";
        std::snprintf(line, sizeof line,
                      "record %ld: <%.63s> \"%s\" %sPIC %s%s; the field holds %s", r, e, text,
                      before, picture, after, holds);
        break;
    }
    case BXML_NOTICE_TEXT_CUT:
        std::snprintf(line, sizeof line,
                      "record %ld: <%.63s> \"%s\" is longer than its %d bytes; cut to them", r, e,
                      text, item ? static_cast<int>(item->field.size) : 0);
        break;
    case BXML_NOTICE_NOT_HEXADECIMAL:
        std::snprintf(line, sizeof line,
                      "record %ld: <%.63s> \"%s\" is no hexadecimal data of %d bytes; the field "
                      "keeps what it held",
                      r, e, text, item ? static_cast<int>(item->field.size) : 0);
        break;
    case BXML_NOTICE_NOT_IN_ENCODING: {
        const char* encoding = host() ? host()->config_text("BXML_ENCODING") : nullptr;
        std::snprintf(line, sizeof line,
                      "record %ld: <%.63s> \"%s\" holds a character that %.40s cannot hold (\"?\" "
                      "in its place)",
                      r, e, text, encoding && *encoding ? encoding : "UTF-8");
        n.unreadable = true;
        break;
    }
    case BXML_NOTICE_EXTRA_OCCURRENCE:
        std::snprintf(line, sizeof line,
                      "record %ld: %ld <%.63s> passed over: more than its table holds", r,
                      notice->count, e);
        break;
    case BXML_NOTICE_COUNT_MISMATCH: {
        const char* counter =
            item && item->depending >= 0 && item->depending < file->layout->item_count
                ? file->layout->items[item->depending].name
                : "";
        std::snprintf(line, sizeof line,
                      "record %ld: %ld <%.63s> in the document, its counter <%.63s> holds %s (%d "
                      "to %d): those past it are no part of the record",
                      r, notice->count, e, counter, holds, item ? item->occurs_min : 0,
                      item ? item->occurs_count[item->depth] : 0);
        break;
    }
    default:
        if (*e)
            std::snprintf(line, sizeof line,
                          "record %ld: %ld <%.63s> passed over: no field of the layout takes it", r,
                          notice->count, e);
        else
            std::snprintf(line, sizeof line,
                          "record %ld: %ld more elements passed over: no field of the layout "
                          "takes them",
                          r, notice->count);
    }
    say(file, line);
}

void close_notices(OpenFile* file) {
    Notices& n = file->notices;
    char line[600];
    if (n.unsaid) {
        std::snprintf(line, sizeof line,
                      "%ld more changed or passed-over values were not shown (%ld in all)",
                      n.unsaid, n.all);
        report("CLOSE of", file->assign, file->name, line);
    }
    if (n.unknown_names) {
        int at = std::snprintf(line, sizeof line, "passed over");
        for (int k = 0; k < n.unknown_names && at > 0 && static_cast<size_t>(at) < sizeof line; ++k)
            at += std::snprintf(line + at, sizeof line - static_cast<size_t>(at), "%s %ld <%.63s>",
                                k ? "," : "", n.unknown[k].count, n.unknown[k].name);
        if (n.unknown_others && at > 0 && static_cast<size_t>(at) < sizeof line)
            at += std::snprintf(line + at, sizeof line - static_cast<size_t>(at),
                                " and %ld elements of other names", n.unknown_others);
        if (at > 0 && static_cast<size_t>(at) < sizeof line)
            std::snprintf(line + at, sizeof line - static_cast<size_t>(at),
                          ": no record of the layout is named so");
        report("CLOSE of", file->assign, file->name, line);
    }
}

} // namespace extfh
