// Reading the first worksheet of an .xlsx file: the package through libzip,
// its parts streamed through expat.

#include "main/takeoff/workbook_reader.h"

#include "common/core/refusals.h"

#include <QFile>
#include <QList>

#include <expat.h>
#include <zip.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

// What reading a workbook may cost. A part may unpack to what a full sheet
// of kWorkbookLastRow rows of the take-off layout needs, with room to spare;
// one tag (with its attributes), comment or instruction may take 64 KB (expat
// rescans an unfinished token on every chunk it is given, so a long one would
// cost time by its square); elements nest a few levels deep; a text is read
// up to the longest a cell may hold, in its encoded form (a character may be
// a 7-byte "_x0041_").
constexpr qint64 kMaxPartBytes = qint64(64) << 20;
constexpr qint64 kMaxTokenBytes = qint64(64) << 10;
constexpr int kParseChunk = 1 << 20;
constexpr int kMaxDepth = 256;
constexpr size_t kMaxTextBytes = size_t(kMaxCellText) * 7;
// Shared strings and list entries (sheets, relationships) a workbook may hold.
constexpr qint64 kMaxSharedChars = qint64(16) << 20;
constexpr size_t kMaxListEntries = 10000;
// Expat gives names as "namespace-URI name"; a blank appears in neither.
constexpr char kNsSeparator = ' ';

std::string_view LocalName(const char* name) {
    std::string_view s(name);
    const auto cut = s.rfind(kNsSeparator);
    return cut == std::string_view::npos ? s : s.substr(cut + 1);
}

// An attribute without a namespace (r="A1", t="s").
const char* Attr(const char** atts, std::string_view name) {
    for (int i = 0; atts[i]; i += 2)
        if (std::string_view(atts[i]) == name)
            return atts[i + 1];
    return nullptr;
}

// An attribute in some namespace, by its local name (r:id).
const char* NsAttr(const char** atts, std::string_view local) {
    for (int i = 0; atts[i]; i += 2) {
        const std::string_view n(atts[i]);
        if (n.find(kNsSeparator) != std::string_view::npos && LocalName(atts[i]) == local)
            return atts[i + 1];
    }
    return nullptr;
}

// Texts of the format may carry characters as _xHHHH_ (_x000D_ for CR,
// _x005F_ for the underscore itself).
QString DecodeXString(const std::string& utf8) {
    QString s = QString::fromUtf8(utf8);
    if (!s.contains(QLatin1String("_x")))
        return s;
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == QLatin1Char('_') && i + 6 < s.size() && s[i + 1] == QLatin1Char('x') &&
            s[i + 6] == QLatin1Char('_')) {
            bool ok = false;
            const uint code = QStringView(s).mid(i + 2, 4).toUInt(&ok, 16);
            if (ok) {
                out += QChar(char16_t(code));
                i += 6;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

// Base class of the handlers of one part. A handler stops the parse by
// calling fail().
class PartHandler {
public:
    virtual ~PartHandler() = default;
    virtual void start(std::string_view name, const char** atts) = 0;
    virtual void end(std::string_view name) = 0;
    virtual void text(const char*, int) {}

    void fail(const QString& reason) {
        if (reason_.isEmpty())
            reason_ = reason;
        XML_StopParser(parser_, XML_FALSE);
    }

    // Nesting of the elements, checked against kMaxDepth.
    void enter() {
        if (++depth_ > kMaxDepth)
            fail(QStringLiteral("要素の入れ子が深すぎます (%1 段まで)").arg(kMaxDepth));
    }
    void leave() { --depth_; }
    bool stopped() const { return failed(); }

    // Appends text of a value, refusing one longer than a cell may hold.
    void appendText(std::string& to, const char* s, int len) {
        if (to.size() + size_t(len) > kMaxTextBytes) {
            fail(tooLong());
            return;
        }
        to.append(s, size_t(len));
    }
    // A value decoded, refused when longer than a cell may hold.
    bool decoded(const std::string& utf8, QString* out) {
        *out = DecodeXString(utf8);
        if (out->size() > kMaxCellText) {
            fail(tooLong());
            return false;
        }
        return true;
    }
    static QString tooLong() {
        return QStringLiteral("文字列が長すぎます (1 つのセルは %1 文字まで)").arg(kMaxCellText);
    }
    const QString& reason() const { return reason_; }
    void setParser(XML_Parser p) { parser_ = p; }
    bool failed() const { return !reason_.isEmpty(); }

private:
    XML_Parser parser_ = nullptr;
    QString reason_;
    int depth_ = 0;
};

struct ZipCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;

struct ParserFree {
    void operator()(XML_Parser p) const { XML_ParserFree(p); }
};

class Package {
public:
    explicit Package(zip_t* z) : zip_(z) {}

    zip_int64_t locate(const std::string& name) const {
        zip_int64_t i = zip_name_locate(zip_.get(), name.c_str(), 0);
        if (i < 0) // part names are case-insensitive in the format
            i = zip_name_locate(zip_.get(), name.c_str(), ZIP_FL_NOCASE);
        return i;
    }
    bool has(const std::string& name) const { return locate(name) >= 0; }

    // Streams the part through `handler`, or says why it cannot.
    Result<> parse(const std::string& name, PartHandler& handler) const;

private:
    ZipPtr zip_;
};

// Expat may still report events of the buffer being parsed after a handler
// stopped it: they are ignored.
void XMLCALL OnStart(void* user, const XML_Char* name, const XML_Char** atts) {
    auto* handler = static_cast<PartHandler*>(user);
    handler->enter();
    if (!handler->stopped())
        handler->start(LocalName(name), atts);
}
void XMLCALL OnEnd(void* user, const XML_Char* name) {
    auto* handler = static_cast<PartHandler*>(user);
    handler->leave();
    if (!handler->stopped())
        handler->end(LocalName(name));
}
void XMLCALL OnText(void* user, const XML_Char* s, int len) {
    auto* handler = static_cast<PartHandler*>(user);
    if (!handler->stopped())
        handler->text(s, len);
}
// The parts of a workbook have no document type; one that declares it (and
// with it perhaps entities) is not read.
void XMLCALL OnDoctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<PartHandler*>(user)->fail(QStringLiteral("XML に文書型宣言 (DOCTYPE) があります"));
}

Result<> Package::parse(const std::string& name, PartHandler& handler) const {
    const QString partName = Brief(QString::fromStdString(name));
    const zip_int64_t index = locate(name);
    if (index < 0)
        return Fail(QStringLiteral("部品 %1 がありません").arg(partName));
    zip_file_t* file = zip_fopen_index(zip_.get(), zip_uint64_t(index), 0);
    if (!file)
        return Fail(QStringLiteral("部品 %1 を開けません (%2)")
                        .arg(partName, QString::fromUtf8(zip_strerror(zip_.get()))));
    std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> closer(file, zip_fclose);
    std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreateNS("UTF-8", kNsSeparator));
    if (!parser)
        return Fail(QStringLiteral("メモリが足りません"));
    XML_Parser p = parser.get();
    handler.setParser(p);
    XML_SetUserData(p, &handler);
    XML_SetElementHandler(p, OnStart, OnEnd);
    XML_SetCharacterDataHandler(p, OnText);
    XML_SetStartDoctypeDeclHandler(p, OnDoctype);

    auto xmlError = [&]() {
        if (handler.failed())
            return QStringLiteral("%1: %2").arg(partName, handler.reason());
        return QStringLiteral("%1 の XML が壊れています (%2 行目: %3)")
            .arg(partName)
            .arg(XML_GetCurrentLineNumber(p))
            .arg(QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(p))));
    };

    // The part is inflated straight into expat's own buffer, a large chunk at
    // a time. After each chunk, the bytes since the last complete token are
    // the unfinished token expat holds: past kMaxTokenBytes the part is
    // refused before expat rescans it again.
    qint64 total = 0;
    for (;;) {
        void* buf = XML_GetBuffer(p, kParseChunk);
        if (!buf)
            return Fail(QStringLiteral("メモリが足りません"));
        const zip_int64_t n = zip_fread(file, buf, kParseChunk);
        if (n < 0)
            return Fail(QStringLiteral("部品 %1 が壊れています (%2)")
                            .arg(partName, QString::fromUtf8(zip_file_strerror(file))));
        total += n;
        if (total > kMaxPartBytes)
            return Fail(QStringLiteral("部品 %1 が大きすぎます (展開して %2 MB まで)")
                            .arg(partName)
                            .arg(kMaxPartBytes >> 20));
        const bool last = n == 0;
        if (XML_ParseBuffer(p, int(n), last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK ||
            handler.failed()) {
            return Fail(xmlError());
        }
        if (total - XML_GetCurrentByteIndex(p) > kMaxTokenBytes)
            return Fail(QStringLiteral("%1 の XML のタグが長すぎます (%2 KB まで)")
                            .arg(partName)
                            .arg(kMaxTokenBytes >> 10));
        if (last)
            break;
    }
    return {};
}

// ---- package relationships ----

struct Relationship {
    std::string id;
    std::string type;
    std::string target; // a part name, resolved
};

// Part name of `target` as seen from the part `source`.
std::string ResolveTarget(const std::string& source, const std::string& target) {
    std::string path;
    if (!target.empty() && target[0] == '/') {
        path = target.substr(1);
    } else {
        const auto slash = source.rfind('/');
        path = (slash == std::string::npos ? std::string() : source.substr(0, slash + 1)) + target;
    }
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string seg = path.substr(start, end - start);
        if (seg == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!seg.empty() && seg != ".") {
            parts.push_back(seg);
        }
        start = end + 1;
    }
    std::string out;
    for (const auto& s : parts)
        out += (out.empty() ? "" : "/") + s;
    return out;
}

// The relationships part of a part: dir/_rels/name.rels.
std::string RelsName(const std::string& part) {
    const auto slash = part.rfind('/');
    if (slash == std::string::npos)
        return "_rels/" + part + ".rels";
    return part.substr(0, slash + 1) + "_rels/" + part.substr(slash + 1) + ".rels";
}

bool TypeIs(const std::string& type, std::string_view last) {
    const auto slash = type.rfind('/');
    return slash != std::string::npos && std::string_view(type).substr(slash + 1) == last;
}

class RelsHandler : public PartHandler {
public:
    explicit RelsHandler(std::string source) : source_(std::move(source)) {}
    void start(std::string_view name, const char** atts) override {
        if (name != "Relationship")
            return;
        const char* id = Attr(atts, "Id");
        const char* type = Attr(atts, "Type");
        const char* target = Attr(atts, "Target");
        const char* mode = Attr(atts, "TargetMode");
        if (!id || !type || !target || (mode && std::string_view(mode) == "External"))
            return;
        if (rels.size() >= kMaxListEntries)
            return fail(QStringLiteral("関係 (Relationship) が多すぎます"));
        rels.push_back({id, type, ResolveTarget(source_, target)});
    }
    void end(std::string_view) override {}

    std::vector<Relationship> rels;

private:
    std::string source_;
};

// ---- workbook.xml: the sheets in their order ----

struct SheetEntry {
    QString name;
    std::string relId;
};

class WorkbookHandler : public PartHandler {
public:
    void start(std::string_view name, const char** atts) override {
        if (name == "sheets")
            inSheets_ = true;
        if (name != "sheet" || !inSheets_)
            return;
        const char* id = NsAttr(atts, "id");
        const char* sheetName = Attr(atts, "name");
        if (sheets.size() >= kMaxListEntries)
            return fail(QStringLiteral("シートが多すぎます"));
        sheets.push_back({QString::fromUtf8(sheetName ? sheetName : ""), id ? id : ""});
    }
    void end(std::string_view name) override {
        if (name == "sheets")
            inSheets_ = false;
    }

    std::vector<SheetEntry> sheets;

private:
    bool inSheets_ = false;
};

// ---- custom document properties ----

class CustomPropertiesHandler : public PartHandler {
public:
    void start(std::string_view name, const char** atts) override {
        if (name == "property") {
            const char* n = Attr(atts, "name");
            name_ = n ? n : "";
            value_.clear();
            inProperty_ = true;
        } else if (inProperty_) {
            inValue_ = true; // <vt:bool>, <vt:lpwstr>, ...
        }
    }
    void end(std::string_view name) override {
        if (name == "property") {
            inProperty_ = false;
            if (properties.size() >= kMaxListEntries)
                return fail(QStringLiteral("文書のプロパティが多すぎます"));
            QString value;
            if (decoded(value_, &value))
                properties[QString::fromUtf8(name_)] = value.trimmed();
        } else if (inProperty_) {
            inValue_ = false;
        }
    }
    void text(const char* s, int len) override {
        if (inValue_)
            appendText(value_, s, len);
    }

    std::map<QString, QString> properties;

private:
    bool inProperty_ = false;
    bool inValue_ = false;
    std::string name_;
    std::string value_;
};

// ---- shared strings ----

class SharedStringsHandler : public PartHandler {
public:
    void start(std::string_view name, const char**) override {
        if (name == "si") {
            inSi_ = true;
            current_.clear();
        } else if (name == "rPh") {
            ++phonetic_; // the reading (furigana) of Japanese text is not its value
        } else if (name == "t" && inSi_ && phonetic_ == 0) {
            inT_ = true;
        }
    }
    void end(std::string_view name) override {
        if (name == "t") {
            inT_ = false;
        } else if (name == "rPh") {
            --phonetic_;
        } else if (name == "si") {
            inSi_ = false;
            QString text;
            if (!decoded(current_, &text))
                return;
            chars_ += text.size();
            if (strings.size() >= size_t(kWorkbookMaxCells) || chars_ > kMaxSharedChars)
                return fail(QStringLiteral("共有文字列が多すぎます"));
            strings.push_back(std::move(text));
        }
    }
    void text(const char* s, int len) override {
        if (inT_)
            appendText(current_, s, len);
    }

    std::vector<QString> strings;

private:
    bool inSi_ = false;
    bool inT_ = false;
    int phonetic_ = 0;
    std::string current_;
    qint64 chars_ = 0;
};

// ---- the worksheet ----

// "AB12" -> row 12, column 28. False for anything else.
bool ParseCellRef(std::string_view ref, int* row, int* column) {
    size_t i = 0;
    qint64 col = 0;
    while (i < ref.size() &&
           ((ref[i] >= 'A' && ref[i] <= 'Z') || (ref[i] >= 'a' && ref[i] <= 'z'))) {
        const char c = char(ref[i] & ~0x20);
        col = col * 26 + (c - 'A' + 1);
        if (col > kWorkbookMaxColumns + 1)
            col = kWorkbookMaxColumns + 1; // out of range; reported by the caller
        ++i;
    }
    if (i == 0 || i == ref.size())
        return false;
    qint64 r = 0;
    for (; i < ref.size(); ++i) {
        if (ref[i] < '0' || ref[i] > '9')
            return false;
        r = r * 10 + (ref[i] - '0');
        if (r > kWorkbookMaxRows + 1)
            r = kWorkbookMaxRows + 1;
    }
    *row = int(r);
    *column = int(col);
    return true;
}

bool ParseIndex(const char* s, qint64 limit, qint64* out) {
    if (!s || !*s)
        return false;
    qint64 v = 0;
    for (const char* p = s; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + (*p - '0');
        if (v > limit)
            v = limit + 1;
    }
    *out = v;
    return true;
}

class SheetHandler : public PartHandler {
public:
    SheetHandler(const std::vector<QString>& strings, SheetCollector& cells)
        : strings_(strings), cells_(cells) {}

    void start(std::string_view name, const char** atts) override {
        if (name == "sheetData") {
            inData_ = true;
        } else if (!inData_) {
            return;
        } else if (name == "row") {
            qint64 r = 0;
            const char* ra = Attr(atts, "r");
            if (ra) {
                if (!ParseIndex(ra, kWorkbookMaxRows, &r) || r < 1)
                    return fail(QStringLiteral("行番号 \"%1\" が正しくありません")
                                    .arg(Brief(QString::fromUtf8(ra))));
                row_ = int(r);
            } else {
                ++row_;
            }
            column_ = 0;
        } else if (name == "c") {
            const char* ref = Attr(atts, "r");
            if (ref) {
                int r = 0;
                int c = 0;
                if (!ParseCellRef(ref, &r, &c))
                    return fail(QStringLiteral("セル番地 \"%1\" が正しくありません")
                                    .arg(Brief(QString::fromUtf8(ref))));
                row_ = r;
                column_ = c;
            } else {
                if (row_ == 0)
                    row_ = 1;
                ++column_;
            }
            const char* t = Attr(atts, "t");
            type_ = t ? t : "n";
            inCell_ = true;
            value_.clear();
            inline_.clear();
            hasValue_ = false;
            hasInline_ = false;
        } else if (!inCell_) {
            return;
        } else if (name == "v") {
            inV_ = true;
            hasValue_ = true;
        } else if (name == "is") {
            inIs_ = true;
            hasInline_ = true;
        } else if (name == "rPh") {
            ++phonetic_;
        } else if (name == "t" && inIs_ && phonetic_ == 0) {
            inT_ = true;
        }
    }

    void end(std::string_view name) override {
        if (name == "sheetData") {
            inData_ = false;
        } else if (name == "v") {
            inV_ = false;
        } else if (name == "t") {
            inT_ = false;
        } else if (name == "rPh") {
            --phonetic_;
        } else if (name == "is") {
            inIs_ = false;
        } else if (name == "c" && inCell_) {
            inCell_ = false;
            const Result<QVariant> v = cellValue();
            if (!v) {
                if (!failed())
                    fail(QStringLiteral("%1: %2").arg(CellName(row_, column_), v.error()));
                return;
            }
            if (const auto added = cells_.add(row_, column_, *v); !added)
                return fail(added.error());
        }
    }

    void text(const char* s, int len) override {
        if (inV_)
            appendText(value_, s, len);
        else if (inT_)
            appendText(inline_, s, len);
    }

private:
    // The cell's value, or why it has none. A text too long has failed the
    // part already (decoded()): its failure says nothing more.
    Result<QVariant> cellValue() {
        if (type_ == "inlineStr") {
            QString text;
            if (hasInline_ && !decoded(inline_, &text))
                return Fail(QString());
            return hasInline_ ? QVariant(text) : QVariant();
        }
        if (!hasValue_) // a formatted cell without a value, or a formula not yet computed
            return QVariant();
        if (type_ == "n") {
            return number();
        }
        if (type_ == "s") {
            qint64 index = 0;
            const std::string trimmed = QByteArray::fromStdString(value_).trimmed().toStdString();
            if (!ParseIndex(trimmed.c_str(), qint64(strings_.size()), &index) ||
                index >= qint64(strings_.size()))
                return Fail(QStringLiteral("共有文字列 %1 がありません")
                                .arg(Brief(QString::fromStdString(value_))));
            return QVariant(strings_[size_t(index)]);
        }
        if (type_ == "b") {
            const QByteArray b = QByteArray::fromStdString(value_).trimmed();
            if (b == "1" || b == "true")
                return QVariant(true);
            if (b == "0" || b == "false")
                return QVariant(false);
            return Fail(QStringLiteral("真偽値 \"%1\" が正しくありません")
                            .arg(Brief(QString::fromUtf8(b))));
        }
        if (type_ == "str" || type_ == "e" || type_ == "d") {
            // A formula's text result, an error value ("#DIV/0!"), an ISO date text.
            QString text;
            if (!decoded(value_, &text))
                return Fail(QString());
            return QVariant(text);
        }
        return Fail(QStringLiteral("セルの型 \"%1\" は読めません")
                        .arg(Brief(QString::fromStdString(type_))));
    }

    Result<QVariant> number() const {
        const QByteArray text = QByteArray::fromStdString(value_).trimmed();
        if (text.isEmpty())
            return QVariant();
        bool ok = false;
        const double d = text.toDouble(&ok);
        if (!ok || !std::isfinite(d))
            return Fail(QStringLiteral("数値 \"%1\" が正しくありません")
                            .arg(Brief(QString::fromUtf8(text))));
        // A number written without fraction or exponent that fits an int is
        // kept as an int (the sheet's "integer 0" reads back as such).
        bool plain = true;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (!((c >= '0' && c <= '9') || (i == 0 && c == '-')))
                plain = false;
        }
        if (plain && std::fabs(d) <= 2147483647.0)
            return QVariant(int(d));
        return QVariant(d);
    }

    const std::vector<QString>& strings_;
    SheetCollector& cells_;
    bool inData_ = false;
    bool inCell_ = false;
    bool inV_ = false;
    bool inIs_ = false;
    bool inT_ = false;
    int phonetic_ = 0;
    int row_ = 0;
    int column_ = 0;
    std::string type_;
    std::string value_;
    std::string inline_;
    bool hasValue_ = false;
    bool hasInline_ = false;
};

QString ZipOpenReason(int code) {
    zip_error_t err;
    zip_error_init_with_code(&err, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&err));
    zip_error_fini(&err);
    return text;
}

} // namespace

Result<WorkbookData> ReadXlsxWorkbook(const QString& path) {
    int code = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    if (!z)
        return Fail(QStringLiteral("ZIP ファイルが壊れています (%1)").arg(ZipOpenReason(code)));
    const Package package(z);

    // The main part, named by the package's relationships.
    std::string workbookPart = "xl/workbook.xml";
    CustomPropertiesHandler custom;
    if (package.has("_rels/.rels")) {
        RelsHandler root("");
        if (auto parsed = package.parse("_rels/.rels", root); !parsed)
            return Fail(parsed.error());
        bool bookFound = false;
        bool customFound = false;
        for (const auto& r : root.rels) {
            if (!bookFound && TypeIs(r.type, "officeDocument")) {
                workbookPart = r.target;
                bookFound = true;
            } else if (!customFound && TypeIs(r.type, "custom-properties") &&
                       package.has(r.target)) {
                if (auto parsed = package.parse(r.target, custom); !parsed)
                    return Fail(parsed.error());
                customFound = true;
            }
        }
    }
    if (!package.has(workbookPart))
        return Fail(QStringLiteral("Excel のワークブックではありません (%1 がありません)")
                        .arg(Brief(QString::fromStdString(workbookPart))));
    WorkbookHandler book;
    if (auto parsed = package.parse(workbookPart, book); !parsed)
        return Fail(parsed.error());
    RelsHandler bookRels(workbookPart);
    const std::string relsPart = RelsName(workbookPart);
    if (auto parsed = package.parse(relsPart, bookRels); !parsed)
        return Fail(parsed.error());

    // Worksheets(1): the first sheet in order that is a worksheet (chart
    // sheets do not count).
    const SheetEntry* first = nullptr;
    std::string sheetPart;
    for (const auto& s : book.sheets) {
        for (const auto& r : bookRels.rels)
            if (r.id == s.relId && TypeIs(r.type, "worksheet")) {
                first = &s;
                sheetPart = r.target;
                break;
            }
        if (first)
            break;
    }
    if (!first)
        return Fail(QStringLiteral("ワークシートがありません"));

    SharedStringsHandler strings;
    for (const auto& r : bookRels.rels)
        if (TypeIs(r.type, "sharedStrings") && package.has(r.target)) {
            if (auto parsed = package.parse(r.target, strings); !parsed)
                return Fail(parsed.error());
            break;
        }

    SheetCollector cells;
    SheetHandler sheet(strings.strings, cells);
    if (auto parsed = package.parse(sheetPart, sheet); !parsed)
        return Fail(parsed.error());
    WorkbookData data = cells.finish(first->name);
    data.customProperties = std::move(custom.properties);
    return data;
}
