#pragma once
// The pixels of a drawing as a plain array of colour records, and the
// routines that move them between a picture and the array: reading
// (GetBitmapPixels), writing (SetBitmapPixels) and the palette preparation
// before an 8-bit picture is read (MatchColorPalette).
//
// A picture is held in one of five formats, named by its colour depth:
// 8 (Indexed8, a palette of up to 256 colours), 15 (RGB555), 16 (RGB16, the
// 5-6-5 layout), 24 (BGR888, the byte order of the pixel record) and 32
// (RGB32). Loaded pictures are converted to one of them first (ToPixelFormat):
// scans in black and white, greyscale or with a palette become 8-bit, all
// others 32-bit.
//
// The conversions between raw rows and records are pure functions, so every
// rule (the 5-5-5 / 5-6-5 split, channels limited on write, even row
// lengths) can be checked on a few bytes.

#include "common/core/result.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

// One pixel: blue, green, red, each in the precision of the depth (0-255 at
// 8, 24 and 32 bits; 0-31 at 15 bits; 0-31 / 0-63 / 0-31 at 16 bits).
// A record made without a value (PixelRecord r;) is undefined, as in an
// array made for overwriting; PixelRecord{} is black.
struct PixelRecord {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    bool operator==(const PixelRecord&) const = default;
};
static_assert(sizeof(PixelRecord) == 3, "a pixel record is three bytes");

// The pixel array, indexed (x, y): x from 0 to width - 1, y from 0 to
// height - 1, y = 0 the top row. Sides are at most 32767 pixels.
class PixelArray {
public:
    static constexpr int kMaxSide = 32767;

    PixelArray() = default;
    PixelArray(int width, int height) { resize(width, height); }

    // New size, every record zero.
    void resize(int width, int height);
    // New size for an array that is written whole next: the records are
    // left undefined, which spares a pass over a big drawing.
    void reshape(int width, int height);
    // No records, and their memory given back.
    void clear();

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return data_.empty(); }

    PixelRecord& operator()(int x, int y) { return data_[index(x, y)]; }
    const PixelRecord& operator()(int x, int y) const { return data_[index(x, y)]; }
    PixelRecord* row(int y) { return data_.data() + index(0, y); }
    const PixelRecord* row(int y) const { return data_.data() + index(0, y); }

private:
    std::size_t index(int x, int y) const { return std::size_t(y) * std::size_t(width_) + x; }
    // An allocator that leaves new records undefined (reshape).
    template <class T> struct Uninitialised : std::allocator<T> {
        template <class U> struct rebind { using other = Uninitialised<U>; };
        Uninitialised() = default;
        template <class U> Uninitialised(const Uninitialised<U>&) {}
        template <class U> void construct(U* p) { ::new (static_cast<void*>(p)) U; }
        template <class U, class... A> void construct(U* p, A&&... a) {
            ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
        }
    };
    void setSize(int width, int height);
    int width_ = 0;
    int height_ = 0;
    std::vector<PixelRecord, Uninitialised<PixelRecord>> data_;
};

// A numbered error of the pixel routines, with the routine that raised it
// (its source) and a description for the user.
class BitmapError : public std::runtime_error {
public:
    BitmapError(int32_t number, const QString& source, const QString& description);
    int32_t number() const { return number_; }
    const QString& source() const { return source_; }
    const QString& description() const { return description_; }

private:
    int32_t number_;
    QString source_;
    QString description_;
};

// 0x800403E9: a colour depth other than 8, 15, 16, 24 or 32.
inline constexpr int32_t kInvalidDepthError = static_cast<int32_t>(0x800403E9u);
// 0x800403EA: the palette of an 8-bit picture could not be prepared.
inline constexpr int32_t kPaletteMatchError = static_cast<int32_t>(0x800403EAu);
// 7: no memory for a picture.
inline constexpr int32_t kOutOfMemoryError = 7;

// Raises the depth error (source "DDBHelper.GetBitmapPixels") unless depth is
// 8, 15, 16, 24 or 32.
void CheckDepth(int depth);

// The depth of a 16-bit picture from its top-left pixel set to white and read
// back as a little-endian 16-bit value: 15 (5-5-5) when the top bit is clear,
// else 16 (5-6-5).
int DepthFromWhite16(uint16_t whiteValue);

// Bytes of one row as SetBitmapPixels writes it: width x 1, 2, 3 or 4 for
// depth 8, 15/16, 24, 32, rounded up to an even number. Raises the depth
// error for other depths.
qsizetype WrittenRowLength(int width, int depth);

// Raw rows (top row first, bytesPerLine bytes each) into records: pixels must
// already have the picture's size. For depth 8 the palette has 256 entries.
void RowsToPixels(const uint8_t* bits, qsizetype bytesPerLine, int depth,
                  const QList<QRgb>& palette, PixelArray& pixels);

// Records into raw rows of WrittenRowLength bytes, zero-filled first. At 15
// and 16 bits the channels above the depth's range are limited in the array
// itself (red 40 becomes 31 in the record too). At 8 bits each pixel is the
// index of the nearest palette entry (lowest index on a tie).
QByteArray PixelsToRows(PixelArray& pixels, int depth, const QList<QRgb>& palette = {});

// The same into an image's own rows (bytesPerLine bytes apart, each at
// least WrittenRowLength long); the bytes a record leaves out at 32 bits
// get `padByte` (0 in raw rows, 0xff for an opaque image).
void PixelsToRowsInto(PixelArray& pixels, int depth, const QList<QRgb>& palette, uint8_t* bits,
                      qsizetype bytesPerLine, uint8_t padByte = 0);

// The index of the palette entry nearest in colour (squared distance in RGB),
// the lowest index on a tie; 0 for an empty palette.
int NearestPaletteIndex(const QList<QRgb>& palette, QRgb colour);

// True when the image is held in one of the five formats.
bool IsPixelFormat(QImage::Format format);
// The image format of a depth (Indexed8, RGB555, RGB16, BGR888, RGB32).
QImage::Format FormatOfDepth(int depth);
// The depth of an image in one of the five formats (0 for another format).
int DepthOfImage(const QImage& image);

// A loaded picture in one of the five formats: black and white, greyscale
// and palette images become Indexed8 with their own colours, all others
// RGB32 (transparent areas shown on white).
QImage ToPixelFormat(const QImage& loaded);

// Reads the picture's pixels into the array and its depth into colourDepth.
// A picture in another format is first converted (ToPixelFormat). A 16-bit
// picture is told apart by writing white into its top-left pixel and reading
// it back; the pixel gets its colour back afterwards.
void GetBitmapPixels(QImage& picture, PixelArray& pixels, int16_t& colourDepth);

// Writes the array into the picture, which takes the array's size and the
// format of colourDepth (an 8-bit picture keeps its palette, one without a
// palette gets the picture's old colours or, failing those, a grey ramp).
// Channels may be limited in the array (see PixelsToRows).
void SetBitmapPixels(QImage& picture, int16_t colourDepth, PixelArray& pixels);

// Prepares the palette of an 8-bit picture before its pixels are read. There
// is no system palette to share on a true-colour display, so the picture
// keeps its own colours; the palette is made 256 entries long (unused
// entries black) so that every index byte names an entry. A picture without
// a palette raises kPaletteMatchError (source "DDBHelper.MatchColorPalette").
void MatchColorPalette(QImage& picture);

// The largest picture held in memory, in bytes at 4 bytes a pixel (an A0
// sheet scanned at 300 dpi fits).
inline constexpr qint64 kMaxPictureBytes = qint64(1024) * 1024 * 1024;

// Loads a picture file (BMP, JPEG or another format Qt reads) in one of the
// five formats. A missing or unreadable file, a picture over 32767 pixels a
// side or kMaxPictureBytes, or a BMP or JPEG whose data ends before its
// header's size ("画像データが途中で切れています", CheckPictureData) fails with
// a description for the user quoting shownPath (the path itself when empty:
// a conversion loads its result before it takes its name).
Result<QImage> LoadPicture(const QString& path, const QString& shownPath = QString());

// The picture at half its size, each pixel the mean of a 2 x 2 block (the
// last column or row of an odd side averaged with itself), in RGB32. A view
// that shrinks the drawing below half paints this one instead, so a line one
// pixel wide still darkens the pixels it crosses. Made a few rows at a time:
// no full-size copy of an 8-bit scan is made on the way. Null for a null
// picture or when memory is refused.
QImage HalfSize(const QImage& picture);

// A drawing read whole, before the window takes it: the picture (its only
// full-size copy), its depth and its half-size copy for shrunk views. A
// drawing that cannot be read, or whose half-size copy cannot be made, is a
// failure saying why.
struct DrawingPicture {
    QImage picture;
    int16_t colourDepth = 0;
    QImage half;
};
Result<DrawingPicture> ReadDrawingPicture(const QString& path,
                                          const QString& shownPath = QString());

// A quarter turn of the drawing: Right (clockwise) puts pixel (x, y) at
// (height - 1 - y, x), Left (counter-clockwise) at (y, width - 1 - x). The
// turned array is width and height swapped.
enum class QuarterTurn { Right, Left };
void RotatePixels(const PixelArray& pixels, QuarterTurn turn, PixelArray& rotated);
// Where a point of a drawing of width x height pixels (pixel edges at whole
// numbers) lies after a quarter turn: a turn right takes (x, y) to
// (height - y, x), a turn left to (y, width - x).
QPointF TurnedPoint(QPointF p, QuarterTurn turn, int width, int height);

// A turn of a drawing with a side over 32767 pixels (the longest side a
// pixel array holds) is refused.
Result<> CheckRotation(qint64 width, qint64 height);

// Saves the image as a JPEG of the given quality (0-100) over path, into a
// temporary file replaced over it only once complete (AtomicReplacement), so
// a failed save (a full disk, a read-only file, a FIFO in its place) leaves
// the old file as it was. The name's extension does not matter. A picture
// whose colours are all grey is saved as a greyscale JPEG. A failure's
// message for the user quotes the path.
Result<> DCSavetoJPEG(const QImage& image, const QString& path, int quality);

// Writes the drawing turned a quarter as a 24-bit bitmap, a band of rows at
// a time (no turned copy is held), replacing path only once complete: a
// bitmap drawing turns without losing a pixel.
Result<> SaveTurnedBmp(const QImage& image, QuarterTurn turn, const QString& path);

// The quality a turned JPEG drawing is written at: a turn costs it no visible
// detail.
inline constexpr int kTurnedJpegQuality = 95;

// The same for the picture turned by a quarter (the mapping of RotatePixels):
// the turned rows are made and encoded a strip at a time, so a turn of a big
// drawing holds no second copy of it.
Result<> SaveTurnedJpeg(const QImage& image, QuarterTurn turn, const QString& path, int quality);
