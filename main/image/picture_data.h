#pragma once
// What the header of a BMP or JPEG file promises, held against the data the
// file has. A scan cut short (a full disk, an interrupted copy or conversion)
// or a header claiming a size its data cannot fill would otherwise be shown
// with the missing part black or grey, at the memory of the size it claims.
//
// A BMP of rows without compression needs its data offset plus a padded row
// for every line. A JPEG needs an end marker after its first scan, and at
// least one bit of coded data for every MCU (8 x 8 pixels times the largest
// sampling factors): every Huffman-coded scan that starts a component codes
// a DC difference of at least one bit for each of its blocks.

#include <QIODevice>
#include <QSize>

struct PictureData {
    bool cut = false; // the data ends before the header's size is reached
    QSize claimed;    // the size the header claims (when it was read)
};

// Checks a BMP or JPEG held by a random-access device; any other content is
// left to its reader (not cut). Reads the headers and, for a JPEG, the file
// from its end back to the end marker: a whole file costs a few reads.
PictureData CheckPictureData(QIODevice& device);
