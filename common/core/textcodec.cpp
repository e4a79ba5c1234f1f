#include "common/core/textcodec.h"

#include "common/core/atomic_file.h"
#include "common/core/file_read.h"
#include "common/core/refusals.h"
#include "common/core/registry.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace {

QString canonicalName(const QString& name) {
    const QString upper = name.trimmed().toUpper();
    if (upper == u"CP932" || upper == u"SHIFT_JIS" || upper == u"SHIFT-JIS" || upper == u"SJIS" ||
        upper == u"MS932" || upper == u"WINDOWS-31J" || upper == u"CSWINDOWS31J")
        return QStringLiteral("CP932");
    if (upper == u"UTF-8" || upper == u"UTF8")
        return QStringLiteral("UTF-8");
    return QString();
}

// An iconv descriptor closed when it goes out of scope.
class Iconv {
public:
    Iconv(const QByteArray& to, const QByteArray& from)
        : cd_(iconv_open(to.constData(), from.constData())) {}
    ~Iconv() {
        if (ok())
            iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
int utf8Length(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// Converts all of `input`; on a character that cannot be converted, `skip`
// tells how many input bytes to drop and `replacement` is written instead.
template <typename Skip>
QByteArray convert(const Iconv& cd, const QByteArray& input, const QByteArray& replacement,
                   Skip skip) {
    QByteArray out;
    out.resize(input.size() * 2 + 16);
    char* in = const_cast<char*>(input.constData());
    size_t inLeft = size_t(input.size());
    qsizetype written = 0;
    auto makeRoom = [&](qsizetype need) {
        if (out.size() - written < need)
            out.resize(qMax(out.size() * 2, written + need));
    };
    while (inLeft > 0) {
        makeRoom(16);
        char* outPtr = out.data() + written;
        size_t outLeft = size_t(out.size() - written);
        const size_t r = iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft);
        written = outPtr - out.data();
        if (r != size_t(-1))
            break;
        if (errno == E2BIG) {
            makeRoom(out.size());
            continue;
        }
        // EILSEQ (not convertible) or EINVAL (cut short at the end).
        const size_t drop = qMin(inLeft, size_t(skip(static_cast<unsigned char>(*in))));
        in += drop;
        inLeft -= drop;
        makeRoom(replacement.size() + 16);
        memcpy(out.data() + written, replacement.constData(), size_t(replacement.size()));
        written += replacement.size();
    }
    // Return to the initial shift state (stateful code pages).
    for (;;) {
        makeRoom(16);
        char* outPtr = out.data() + written;
        size_t outLeft = size_t(out.size() - written);
        const size_t r = iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft);
        written = outPtr - out.data();
        if (r == size_t(-1) && errno == E2BIG) {
            makeRoom(out.size());
            continue;
        }
        break;
    }
    out.resize(written);
    return out;
}

} // namespace

TextCodec TextCodec::fromRegistry(QString* refusal) {
    const QString name = RegistryText(QString::fromLatin1(kPointraKey), QStringLiteral("CodePage"));
    if (name.trimmed().isEmpty())
        return TextCodec();
    TextCodec codec(name);
    if (!codec.isValid() && refusal)
        *refusal =
            QStringLiteral("レジストリファイル（%1）の \"CodePage\"「%2」には対応していません。"
                           "\"CP932\"（Shift_JIS）か \"UTF-8\" を設定して下さい。")
                .arg(RegistryFile::defaultPath(), Brief(name));
    return codec;
}

TextCodec::TextCodec(const QString& name) : name_(canonicalName(name)) {
    if (name_.isEmpty()) {
        valid_ = false;
        name_ = QStringLiteral("CP932");
    }
    utf8_ = name_ == u"UTF-8";
}

QByteArray TextCodec::encode(const QString& text) const {
    const QByteArray utf8 = text.toUtf8();
    if (utf8_)
        return utf8;
    const Iconv cd(name_.toLatin1(), "UTF-8");
    if (!cd.ok())
        return utf8;
    return convert(cd, utf8, QByteArrayLiteral("?"), utf8Length);
}

bool TextCodec::canEncode(const QString& text) const {
    return decode(encode(text)) == text;
}

QString TextCodec::decode(const QByteArray& bytes) const {
    if (utf8_)
        return QString::fromUtf8(bytes);
    const Iconv cd("UTF-8", name_.toLatin1());
    if (!cd.ok())
        return QString::fromUtf8(bytes);
    return QString::fromUtf8(
        convert(cd, bytes, QByteArrayLiteral("\xEF\xBF\xBD"), [](unsigned char) { return 1; }));
}

QStringList SplitTextLines(const QByteArray& bytes, const TextCodec& codec) {
    qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    QStringList lines;
    while (start < bytes.size()) {
        qsizetype end = start;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        lines << codec.decode(bytes.mid(start, end - start));
        if (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

Result<QStringList> ReadTextFile(const QString& path, const TextCodec& codec, qint64 maxBytes) {
    const Result<FileStart> file = ReadWholeFile(path, maxBytes);
    if (!file)
        return Fail(file.error());
    return SplitTextLines(file->bytes, codec);
}

QByteArray CrLfLine(const QString& line, const TextCodec& codec) {
    return codec.encode(line) + QByteArrayLiteral("\r\n");
}

Result<> WriteTextLines(const QString& path, const QStringList& lines, const TextCodec& codec) {
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += CrLfLine(line, codec);
    return WriteFileAtomically(path, bytes);
}
