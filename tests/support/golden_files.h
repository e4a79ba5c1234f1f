#pragma once
// Golden files: what a run wrote, kept under tests/data/golden/ and compared
// byte for byte with what the same run writes now.
//
// POINTRA_UPDATE_GOLDEN=1 in the environment makes every comparison write
// the output as the new golden file instead (and pass): run the test once so,
// then read `git diff tests/data/golden` before committing the change.
//
// Text goldens are kept as they are, so a change reads as a diff. Binary ones
// (bitmaps, raw images) are kept zlib-compressed (qCompress) as "<name>.z",
// since a sketch is mostly white: 480 KB of bitmap make a few KB. They are
// compared uncompressed, so the offset of a difference is the output's own.

#include "test_paths.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>

enum class GoldenKind { Text, Binary };

inline bool UpdatingGoldens() {
    const QByteArray v = qgetenv("POINTRA_UPDATE_GOLDEN");
    return !v.isEmpty() && v != "0";
}

// The image as a binary PPM (P6): its size and RGB bytes, nothing an image
// library's version could change.
inline QByteArray GoldenImageBytes(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    QByteArray out =
        QStringLiteral("P6\n%1 %2\n255\n").arg(rgb.width()).arg(rgb.height()).toLatin1();
    for (int y = 0; y < rgb.height(); ++y)
        out.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
    return out;
}

namespace golden_detail {

inline QByteArray Printable(const QByteArray& bytes) {
    QByteArray out;
    for (char c : bytes) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

inline QByteArray LineAt(const QByteArray& bytes, qsizetype offset) {
    const qsizetype start = offset > 0 ? bytes.lastIndexOf('\n', offset - 1) + 1 : 0;
    qsizetype end = bytes.indexOf('\n', start);
    if (end < 0)
        end = bytes.size();
    return Printable(bytes.mid(start, std::min<qsizetype>(end - start + 1, 200)));
}

} // namespace golden_detail

// Compares `actual` with tests/data/golden/<name> (".z" added for Binary).
// A difference names the file, the first differing offset and, for text,
// the line number and both lines; for binary, 16 bytes of each from there;
// the output itself is kept in golden-actual/<name> under the working folder.
inline ::testing::AssertionResult MatchesGolden(const QString& name, const QByteArray& actual,
                                                GoldenKind kind = GoldenKind::Text) {
    const QString path =
        QDataPath("/golden/") + name + (kind == GoldenKind::Binary ? QStringLiteral(".z") : "");
    if (UpdatingGoldens()) {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            f.write(kind == GoldenKind::Binary ? qCompress(actual, 9) : actual) < 0)
            return ::testing::AssertionFailure()
                   << "cannot write the golden file " << qPrintable(path);
        return ::testing::AssertionSuccess();
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return ::testing::AssertionFailure()
               << "no golden file " << qPrintable(path)
               << " (POINTRA_UPDATE_GOLDEN=1 writes it from this run)";
    const QByteArray stored = f.readAll();
    const QByteArray expected = kind == GoldenKind::Binary ? qUncompress(stored) : stored;
    if (kind == GoldenKind::Binary && expected.isEmpty() && !stored.isEmpty())
        return ::testing::AssertionFailure() << "golden file " << qPrintable(path) << " is damaged";
    if (expected == actual)
        return ::testing::AssertionSuccess();
    qsizetype at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    auto failure = ::testing::AssertionFailure();
    failure << "golden " << qPrintable(name) << ": first difference at byte " << at << " (expected "
            << expected.size() << " bytes, got " << actual.size() << ")";
    if (kind == GoldenKind::Text) {
        failure << ", line " << expected.left(at).count('\n') + 1
                << "\n  expected: " << golden_detail::LineAt(expected, at).constData()
                << "\n  got:      " << golden_detail::LineAt(actual, at).constData();
    } else {
        failure << "\n  expected: " << expected.mid(at, 16).toHex(' ').constData()
                << "\n  got:      " << actual.mid(at, 16).toHex(' ').constData();
    }
    // What this run wrote, beside the test's working folder, to be looked at.
    const QString kept = QDir::currentPath() + QStringLiteral("/golden-actual/") + name;
    QDir().mkpath(QFileInfo(kept).path());
    QFile out(kept);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(actual) == actual.size())
        failure << "\n  this run's output: " << qPrintable(kept);
    return failure << "\n  (POINTRA_UPDATE_GOLDEN=1 rewrites the golden files from this run)";
}
