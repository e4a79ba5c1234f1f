#include "handlers/encodings.h"

#include <iconv.h>
#include <strings.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace bxml {

namespace {

// One Japanese multi-byte encoding, decoded and encoded without iconv once
// its tables are built (once per process, from iconv's own conversion).
// Static storage: the tables live as long as the process and cost nothing
// until an encoding is first met.
struct Table {
    const char* iconv_name;
    bool euc;
    bool built;
    bool usable;
    int map[256];          // expat's byte map
    uint16_t two[65536];   // two-byte sequence -> code point; 0: none
    uint16_t three[65536]; // EUC-JP 0x8F xx yy -> code point (xx yy as index)
    uint32_t back[65536];  // code point -> bytes, length in the top byte
};

Table g_shift_jis{"SHIFT_JIS", false, false, false, {}, {}, {}, {}};
Table g_cp932{"CP932", false, false, false, {}, {}, {}, {}};
Table g_euc_jp{"EUC-JP", true, false, false, {}, {}, {}, {}};

bool named(const char* name, const char* const* names) {
    for (; *names; ++names)
        if (strcasecmp(name, *names) == 0)
            return true;
    return false;
}

// The code point of `n` bytes, or 0 when they are no one character.
uint32_t decode(iconv_t cd, const unsigned char* bytes, size_t n) {
    char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(bytes));
    size_t in_left = n;
    uint32_t out[2] = {};
    char* o = reinterpret_cast<char*>(out);
    size_t out_left = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &in_left, &o, &out_left) == static_cast<size_t>(-1) || in_left ||
        out_left != sizeof out - 4)
        return 0;
    return out[0] <= 0xFFFF ? out[0] : 0;
}

// Marks a code point the encoding can carry; its bytes are found later.
void remember(Table& t, uint32_t code) {
    if (code)
        t.back[code] = 1;
}

// The bytes of each code point the encoding carries, as iconv writes them:
// where an encoding has several codes for one character (CP932's NEC and
// IBM extensions) the one its writers use.
void encode_back(Table& t) {
    iconv_t cd = iconv_open(t.iconv_name, "UTF-32LE");
    for (uint32_t code = 0x80; code < 0x10000; ++code) {
        if (!t.back[code])
            continue;
        t.back[code] = 0;
        if (cd == reinterpret_cast<iconv_t>(-1))
            continue;
        char* in = reinterpret_cast<char*>(&code);
        size_t in_left = sizeof code;
        unsigned char out[4];
        char* o = reinterpret_cast<char*>(out);
        size_t out_left = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &in, &in_left, &o, &out_left) == static_cast<size_t>(-1) || in_left)
            continue;
        uint32_t n = static_cast<uint32_t>(sizeof out - out_left), bytes = 0;
        if (n == 0 || n > 3)
            continue;
        for (uint32_t i = 0; i < n; ++i)
            bytes = bytes << 8 | out[i];
        t.back[code] = n << 24 | bytes;
    }
    if (cd != reinterpret_cast<iconv_t>(-1))
        iconv_close(cd);
}

void build(Table& t) {
    if (t.built)
        return;
    t.built = true;
    iconv_t cd = iconv_open("UTF-32LE", t.iconv_name);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return;
    // The markup is ASCII: ASCII bytes stand for themselves.
    for (int b = 0; b < 0x80; ++b) {
        t.map[b] = b;
        t.back[b] = 1u << 24 | static_cast<uint32_t>(b);
    }
    for (int b = 0x80; b < 0x100; ++b) {
        unsigned char byte = static_cast<unsigned char>(b);
        bool lead = t.euc ? (b >= 0xA1 && b <= 0xFE) || b == 0x8E
                          : (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        if (t.euc && b == 0x8F) {
            t.map[b] = -3;
        } else if (lead) {
            t.map[b] = -2;
        } else {
            uint32_t code = decode(cd, &byte, 1);
            t.map[b] = code ? static_cast<int>(code) : -1;
            remember(t, code);
        }
    }
    for (int lead = 0x80; lead < 0x100; ++lead) {
        if (t.map[lead] != -2)
            continue;
        for (int trail = 0x40; trail < 0x100; ++trail) {
            unsigned char pair[2] = {static_cast<unsigned char>(lead),
                                     static_cast<unsigned char>(trail)};
            uint32_t code = decode(cd, pair, 2);
            size_t k = static_cast<size_t>(lead << 8 | trail);
            t.two[k] = static_cast<uint16_t>(code);
            remember(t, code);
        }
    }
    if (t.euc) {
        for (int a = 0xA1; a <= 0xFE; ++a)
            for (int b = 0xA1; b <= 0xFE; ++b) {
                unsigned char triple[3] = {0x8F, static_cast<unsigned char>(a),
                                           static_cast<unsigned char>(b)};
                uint32_t code = decode(cd, triple, 3);
                size_t k = static_cast<size_t>(a << 8 | b);
                t.three[k] = static_cast<uint16_t>(code);
                remember(t, code);
            }
    }
    iconv_close(cd);
    encode_back(t);
    t.usable = true;
}

Table* table_of(Encoding e) {
    Table* t = e == Encoding::kShiftJis ? &g_shift_jis
               : e == Encoding::kCp932  ? &g_cp932
               : e == Encoding::kEucJp  ? &g_euc_jp
                                        : nullptr;
    if (t)
        build(*t);
    return t && t->usable ? t : nullptr;
}

int XMLCALL convert(void* data, const char* s) {
    const Table& t = *static_cast<const Table*>(data);
    auto b = reinterpret_cast<const unsigned char*>(s);
    uint16_t code = t.euc && b[0] == 0x8F ? t.three[b[1] << 8 | b[2]] : t.two[b[0] << 8 | b[1]];
    return code ? code : -1;
}

// The next code point of well-formed UTF-8 at p; advances p.
uint32_t next_code(const unsigned char*& p, const unsigned char* end) {
    uint32_t c = *p++;
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    c &= more == 3 ? 0x07 : more == 2 ? 0x0F : more == 1 ? 0x1F : 0x7F;
    for (; more > 0 && p < end; --more)
        c = c << 6 | (*p++ & 0x3F);
    return c;
}

// A single-byte code page as iconv knows it: each byte's code point, -1
// for a byte iconv refuses. False for an encoding iconv does not know, or
// one where a byte begins a longer sequence or is a shift (no code page).
bool describe_single_byte(const char* name, XML_Encoding* info) {
    iconv_t cd = iconv_open("UTF-32LE", name);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    bool single = true;
    for (int b = 0; b < 0x100 && single; ++b) {
        char byte = static_cast<char>(b);
        char* in = &byte;
        size_t in_left = 1;
        uint32_t out[2] = {};
        char* o = reinterpret_cast<char*>(out);
        size_t out_left = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        size_t r = iconv(cd, &in, &in_left, &o, &out_left);
        if (r == static_cast<size_t>(-1)) {
            info->map[b] = -1;
            single = errno == EILSEQ;
            continue;
        }
        // Code pages that compose characters keep a letter until the next
        // byte: it comes out at the end of the input.
        if (iconv(cd, nullptr, nullptr, &o, &out_left) == static_cast<size_t>(-1) ||
            out_left != sizeof out - 4) {
            single = false;
            continue;
        }
        info->map[b] = out[0] <= 0xFFFF ? static_cast<int>(out[0]) : -1;
    }
    iconv_close(cd);
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return single;
}

} // namespace

Encoding encoding_of(const char* name) {
    static const char* const shift_jis[] = {"Shift_JIS", "Shift-JIS",  "SJIS", "x-sjis",
                                            "MS_Kanji",  "csShiftJIS", nullptr};
    static const char* const cp932[] = {"CP932", "Windows-31J", "MS932", "x-ms-cp932", nullptr};
    static const char* const euc_jp[] = {"EUC-JP", "EUCJP", "EUC_JP", "x-euc-jp", nullptr};
    static const char* const utf8[] = {"UTF-8", "UTF8", nullptr};
    if (!name || !*name || named(name, utf8))
        return Encoding::kUtf8;
    if (named(name, shift_jis))
        return Encoding::kShiftJis;
    if (named(name, cp932))
        return Encoding::kCp932;
    if (named(name, euc_jp))
        return Encoding::kEucJp;
    return Encoding::kOther;
}

bool describe_encoding(const char* name, XML_Encoding* info) {
    if (!name || !info)
        return false;
    Encoding e = encoding_of(name);
    if (e == Encoding::kOther)
        return describe_single_byte(name, info);
    Table* t = table_of(e);
    if (!t)
        return false;
    std::memcpy(info->map, t->map, sizeof t->map);
    info->data = t;
    info->convert = convert;
    info->release = nullptr;
    return true;
}

bool has_high_bytes(const char* data, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return true;
    return false;
}

bool TextEncoder::open(const char* name) {
    close();
    encoding_ = encoding_of(name);
    if (encoding_ == Encoding::kUtf8)
        return true;
    if (encoding_ != Encoding::kOther)
        return table_of(encoding_) != nullptr || (encoding_ = Encoding::kUtf8, false);
    iconv_t cd = iconv_open(name, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        encoding_ = Encoding::kUtf8;
        return false;
    }
    converter_ = cd;
    return true;
}

void TextEncoder::close() {
    if (converter_)
        iconv_close(static_cast<iconv_t>(converter_));
    converter_ = nullptr;
    encoding_ = Encoding::kUtf8;
}

Blanks TextEncoder::blanks() const {
    switch (encoding_) {
    case Encoding::kShiftJis:
    case Encoding::kCp932:
        return Blanks::kShiftJis;
    case Encoding::kEucJp:
        return Blanks::kEucJp;
    case Encoding::kUtf8:
        return Blanks::kUtf8;
    case Encoding::kOther:
        break;
    }
    return Blanks::kAscii;
}

bool TextEncoder::encode(const char* data, size_t length, BrelrtText* text) {
    auto p = reinterpret_cast<const unsigned char*>(data);
    const unsigned char* end = p + length;
    if (encoding_ == Encoding::kOther) {
        auto cd = static_cast<iconv_t>(converter_);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char out[256];
        while (p < end) {
            char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(p));
            size_t in_left = static_cast<size_t>(end - p);
            char* o = out;
            size_t out_left = sizeof out;
            size_t r = iconv(cd, &in, &in_left, &o, &out_left);
            if (!brelrt_text_append(text, out, sizeof out - out_left))
                return false;
            p = reinterpret_cast<const unsigned char*>(in);
            if (r == static_cast<size_t>(-1) && errno != E2BIG) {
                // A character the encoding has no place for.
                next_code(p, end);
                ++lost_;
                if (!brelrt_text_append(text, "?", 1))
                    return false;
            }
        }
        return true;
    }
    const Table* t = table_of(encoding_);
    while (p < end) {
        const unsigned char* run = p;
        while (p < end && *p < 0x80)
            ++p;
        if (p > run && !brelrt_text_append(text, reinterpret_cast<const char*>(run),
                                           static_cast<size_t>(p - run)))
            return false;
        if (p == end)
            break;
        uint32_t code = next_code(p, end);
        uint32_t bytes = t && code <= 0xFFFF ? t->back[code] : 0;
        char out[3];
        size_t n = bytes >> 24;
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<char>(bytes >> (8 * (n - 1 - i)));
        if (!n) {
            out[0] = '?';
            n = 1;
            ++lost_;
        }
        if (!brelrt_text_append(text, out, n))
            return false;
    }
    return true;
}

} // namespace bxml
