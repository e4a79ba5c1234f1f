// A look into an .xls file before FreeXL opens it. FreeXL trusts the file:
// at its open it allocates every sheet's cell table as its DIMENSIONS record
// says (16 bytes a cell: a 5 KB file claiming 65536 x 256 cells on four
// sheets costs 1 GB) and the string table as its SST record says, and it
// reads memory it never filled when the directory is said to start in sector
// 0 or 1. The compound file (OLE2) is walked here just far enough to refuse
// such a file: header, allocation table, directory, and the record headers
// of the workbook stream, read sector by sector.

#include "main/takeoff/workbook_reader.h"

#include <QFile>

#include <vector>

namespace {

// An .xls the take-off sheet reads is small; FreeXL holds it whole.
constexpr qint64 kMaxXlsBytes = qint64(32) << 20;
// Cells FreeXL may allocate over all sheets (about 32 MB).
constexpr quint64 kMaxXlsCells = quint64(2) << 20;

constexpr quint32 kEndOfChain = 0xFFFFFFFEu;
constexpr quint16 kBiffDimensions = 0x0200;
constexpr quint16 kBiffSst = 0x00FC;

quint16 U16(const QByteArray& b, qsizetype at) {
    return quint16(uchar(b[at]) | uchar(b[at + 1]) << 8);
}
quint32 U32(const QByteArray& b, qsizetype at) {
    return quint32(U16(b, at)) | quint32(U16(b, at + 2)) << 16;
}

class CompoundFile {
public:
    explicit CompoundFile(QFile& file) : file_(file) {}

    // Reads the header and the allocation table, refusing a damaged one.
    Result<> open();
    // The sectors of the chain starting at `start`, at most `limit` of them.
    std::optional<std::vector<quint32>> chain(quint32 start, qint64 limit) const;
    QByteArray sector(quint32 id) const;
    // The bytes of a stream of `size` bytes starting at `start` (mini stream
    // when below the cutoff), for the small streams read whole.
    std::optional<QByteArray> smallStream(quint32 start, quint32 size) const;

    qint64 sectorSize() const { return sectorSize_; }
    quint32 directoryStart() const { return directoryStart_; }
    quint32 miniCutoff() const { return miniCutoff_; }
    void setRootStream(quint32 start) { rootStart_ = start; }

private:
    QFile& file_;
    QByteArray header_;
    qint64 sectorSize_ = 512;
    qint64 sectors_ = 0;
    quint32 directoryStart_ = 0;
    quint32 miniCutoff_ = 4096;
    quint32 miniFatStart_ = kEndOfChain;
    quint32 rootStart_ = kEndOfChain;
    int miniShift_ = 6;
    std::vector<quint32> fat_;
};

Result<> CompoundFile::open() {
    header_ = file_.read(512);
    if (header_.size() < 512)
        return Fail(QStringLiteral("OLE2 のヘッダーが短すぎます"));
    const quint16 shift = U16(header_, 0x1E);
    miniShift_ = U16(header_, 0x20);
    if (U16(header_, 0x1C) != 0xFFFE || (shift != 9 && shift != 12) || miniShift_ != 6)
        return Fail(QStringLiteral("OLE2 のヘッダーが正しくありません"));
    sectorSize_ = qint64(1) << shift;
    sectors_ = (file_.size() - 512 + sectorSize_ - 1) / sectorSize_;
    directoryStart_ = U32(header_, 0x30);
    // Sectors 0 and 1 hold the allocation table and the workbook's start.
    if (directoryStart_ < 2 || qint64(directoryStart_) >= sectors_)
        return Fail(QStringLiteral("OLE2 のディレクトリの位置 (%1) が正しくありません")
                        .arg(directoryStart_));
    miniCutoff_ = U32(header_, 0x38);
    miniFatStart_ = U32(header_, 0x3C);

    // The sectors of the allocation table: 109 in the header, the rest in the
    // chain of the master table.
    const quint32 fatSectors = U32(header_, 0x2C);
    if (fatSectors == 0 || qint64(fatSectors) > sectors_)
        return Fail(QStringLiteral("OLE2 の割り当て表が正しくありません"));
    std::vector<quint32> fatIds;
    for (quint32 i = 0; i < fatSectors && i < 109; ++i)
        fatIds.push_back(U32(header_, 0x4C + 4 * i));
    quint32 master = U32(header_, 0x44);
    for (qint64 steps = 0; fatIds.size() < fatSectors; ++steps) {
        if (qint64(master) >= sectors_ || steps > sectors_)
            return Fail(QStringLiteral("OLE2 の割り当て表が正しくありません"));
        const QByteArray s = sector(master);
        const qsizetype perSector = s.size() / 4 - 1;
        for (qsizetype i = 0; i < perSector && fatIds.size() < fatSectors; ++i)
            fatIds.push_back(U32(s, 4 * i));
        master = U32(s, 4 * perSector);
    }
    fat_.reserve(size_t(fatSectors) * size_t(sectorSize_ / 4));
    for (const quint32 id : fatIds) {
        if (qint64(id) >= sectors_)
            return Fail(QStringLiteral("OLE2 の割り当て表が正しくありません"));
        const QByteArray s = sector(id);
        for (qsizetype i = 0; i + 4 <= s.size(); i += 4)
            fat_.push_back(U32(s, i));
    }
    return {};
}

QByteArray CompoundFile::sector(quint32 id) const {
    QByteArray bytes(sectorSize_, '\0');
    if (file_.seek(512 + qint64(id) * sectorSize_))
        file_.read(bytes.data(), sectorSize_); // a short last sector reads as zeros
    return bytes;
}

std::optional<std::vector<quint32>> CompoundFile::chain(quint32 start, qint64 limit) const {
    std::vector<quint32> ids;
    for (quint32 id = start; id != kEndOfChain; id = fat_[id]) {
        if (qint64(id) >= sectors_ || id >= fat_.size() || qint64(ids.size()) >= limit ||
            qint64(ids.size()) >= sectors_)
            return std::nullopt; // out of the file, or a loop
        ids.push_back(id);
    }
    return ids;
}

std::optional<QByteArray> CompoundFile::smallStream(quint32 start, quint32 size) const {
    QByteArray out;
    if (size >= miniCutoff_) {
        const auto ids = chain(start, (qint64(size) + sectorSize_ - 1) / sectorSize_);
        if (!ids)
            return std::nullopt;
        for (const quint32 id : *ids)
            out += sector(id);
    } else {
        // Mini sectors of 64 bytes in the root entry's stream, chained by the mini table.
        const auto miniFat = chain(miniFatStart_, sectors_);
        const auto root = chain(rootStart_, sectors_);
        if (!miniFat || !root)
            return std::nullopt;
        std::vector<quint32> table;
        for (const quint32 id : *miniFat) {
            const QByteArray s = sector(id);
            for (qsizetype i = 0; i + 4 <= s.size(); i += 4)
                table.push_back(U32(s, i));
        }
        const qint64 perSector = sectorSize_ >> miniShift_;
        size_t steps = 0;
        for (quint32 id = start; id != kEndOfChain && out.size() < qsizetype(size);
             id = table[id]) {
            if (id >= table.size() || qint64(id / perSector) >= qint64(root->size()) ||
                ++steps > table.size())
                return std::nullopt;
            const QByteArray s = sector((*root)[id / perSector]);
            out += s.mid(qsizetype(id % perSector) << miniShift_, qsizetype(1) << miniShift_);
        }
    }
    if (out.size() < qsizetype(size))
        return std::nullopt;
    out.truncate(size);
    return out;
}

} // namespace

Result<> CheckXlsContainer(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(QStringLiteral("ファイルを開けません: %1").arg(file.errorString()));
    if (file.size() > kMaxXlsBytes)
        return Fail(
            QStringLiteral(".xls ファイルが大きすぎます (%1 MB まで)").arg(kMaxXlsBytes >> 20));
    CompoundFile cf(file);
    if (auto opened = cf.open(); !opened)
        return opened;
    const Failure damaged = Fail(QStringLiteral("OLE2 のディレクトリが壊れています"));

    // The directory: the root entry (its stream holds the mini sectors) and
    // the workbook stream ("Workbook", or "Book" in older files).
    const auto dir = cf.chain(cf.directoryStart(), file.size() / cf.sectorSize());
    if (!dir)
        return damaged;
    quint32 bookStart = kEndOfChain;
    quint32 bookSize = 0;
    bool found = false;
    for (size_t d = 0; d < dir->size() && !found; ++d) {
        const QByteArray s = cf.sector((*dir)[d]);
        for (qsizetype e = 0; e + 128 <= s.size(); e += 128) {
            const quint16 nameBytes = U16(s, e + 0x40);
            const uchar type = uchar(s[e + 0x42]);
            if (nameBytes < 2 || nameBytes > 64)
                continue;
            const QString name = QString::fromUtf16(
                reinterpret_cast<const char16_t*>(s.constData() + e), nameBytes / 2 - 1);
            if (type == 5 && d == 0 && e == 0)
                cf.setRootStream(U32(s, e + 0x74));
            if (type == 2 && (name == QLatin1String("Workbook") || name == QLatin1String("Book"))) {
                bookStart = U32(s, e + 0x74);
                bookSize = U32(s, e + 0x78);
                found = true;
                break;
            }
        }
    }
    if (!found)
        return {}; // FreeXL says there is no workbook

    // The record headers of the workbook stream, sector by sector.
    QByteArray small;
    std::vector<quint32> ids;
    if (bookSize < cf.miniCutoff()) {
        const auto bytes = cf.smallStream(bookStart, bookSize);
        if (!bytes)
            return damaged;
        small = *bytes;
    } else {
        const auto chain =
            cf.chain(bookStart, (qint64(bookSize) + cf.sectorSize() - 1) / cf.sectorSize());
        if (!chain)
            return damaged;
        ids = *chain;
    }
    const qint64 length = std::min<qint64>(
        bookSize, bookSize < cf.miniCutoff() ? small.size() : qint64(ids.size()) * cf.sectorSize());
    qint64 cachedIndex = -1;
    QByteArray cached;
    auto byteAt = [&](qint64 at) -> uchar {
        if (!ids.empty() || small.isEmpty()) {
            const qint64 index = at / cf.sectorSize();
            if (index != cachedIndex) {
                cached = cf.sector(ids[size_t(index)]);
                cachedIndex = index;
            }
            return uchar(cached[at % cf.sectorSize()]);
        }
        return uchar(small[at]);
    };
    auto u16At = [&](qint64 at) { return quint16(byteAt(at) | byteAt(at + 1) << 8); };
    auto u32At = [&](qint64 at) { return quint32(u16At(at)) | quint32(u16At(at + 2)) << 16; };

    quint64 cells = 0;
    for (qint64 at = 0; at + 4 <= length;) {
        const quint16 type = u16At(at);
        const quint16 size = u16At(at + 2);
        const qint64 body = at + 4;
        if (body + size > length)
            break;
        if (type == kBiffDimensions && size >= 14)
            cells += quint64(u32At(body + 4)) *
                     u16At(body + 10); // BIFF8: rows and columns past the last
        else if (type == kBiffDimensions && size >= 10)
            cells += quint64(u16At(body + 2)) * u16At(body + 6); // BIFF5
        else if (type == kBiffSst && size >= 8 && qint64(u32At(body + 4)) > length / 3)
            return Fail(QStringLiteral("文字列の表が正しくありません (%1 個とあります)")
                            .arg(u32At(body + 4)));
        if (cells > kMaxXlsCells)
            return Fail(QStringLiteral("シートの大きさが大きすぎます (全シートで %1 セルまで)")
                            .arg(kMaxXlsCells));
        at = body + size;
    }
    return {};
}
