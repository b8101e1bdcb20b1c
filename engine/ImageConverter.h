// Download image preparation: main software file (.m0, Motorola S-records) -> download image
// (.cp64, contiguous S3 records merged into image blocks with a 16-bit length field), and the
// conversion of one text line into the bytes that go to the target.
//
// Threading: both functions are reentrant; ConvertImageFile touches only the files it names.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo {

// Longest line piece read from a main software file, monitor file or download image.
inline constexpr int kMaxLineChars = 131069;
// Line buffer size of the readers (a piece plus its NUL).
inline constexpr int kLineBufferChars = 131070;
// Byte buffer that ConvertLine fills for the longest line.
inline constexpr int kLineBytesBuffer = 131072;

// Converts one line of an S-record file or download image: the first two characters as they
// stand, then one byte per pair of hexadecimal digits (either case) up to the first line feed
// or NUL; an unpaired last digit is dropped. `bytes` must hold 2 + length / 2 bytes.
void ConvertLine(const char* line, uint8_t* bytes, uint16_t& byteCount);

struct ConvertError {
    std::string file;    // the file the error concerns
    long line = 0;       // 1-based line number, 0 when no line applies
    std::string reason;  // what is wrong, in the station's words
    // "<file>:<line>: <reason>" or "<file>: <reason>"
    std::string ToString() const;
};

// Writes the download image of `mainPath`. On success `imagePath` holds the image's path (the
// path up to its first ".m0", then ".cp64") and true is returned. On failure false is returned,
// `error` says why, `imagePath` is left unchanged and an existing image is left untouched.
bool ConvertImageFile(const std::string& mainPath, std::string& imagePath, ConvertError& error);

}  // namespace tarvo
