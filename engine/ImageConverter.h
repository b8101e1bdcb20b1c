// Download image preparation: main software file (.m0, Motorola S-records) -> download image
// (.cp64, contiguous S3 records merged into image blocks with a 16-bit length field), and the
// conversion of one text line into the bytes that go to the target.
//
// Image block line: "S3", length (4 upper-case hex digits: 4 address bytes + data bytes + 1),
// the first record's 8 address characters and every record's data characters as they stand,
// checksum (2 upper-case hex digits, ones' complement of the byte sum of length, address and
// data), line feed. At most 32,752 data bytes per block. Every line is self-checking: the
// bytes after "S3", checksum included, sum to 0xFF in their low 8 bits.
//
// Threading: both functions are reentrant and keep no state between calls; ConvertImageFile
// touches only the files it names (and a temporary file beside the image). ConvertLine does
// not allocate; ConvertImageFile allocates two fixed buffers per call, whatever the input size.
//
// Errors: nothing is thrown; ConvertImageFile reports through ConvertError.
#pragma once

#include <atomic>
#include <cstddef>
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
// or NUL (a CR right before it belongs to the line end); an unpaired last digit is dropped.
// Other characters give an unspecified byte value; the call never fails. `bytes` must hold
// 2 + length / 2 bytes; at most 65,535 bytes are written (a line of kMaxLineChars gives that).
void ConvertLine(const char* line, uint8_t* bytes, uint16_t& byteCount);
// ConvertLine on a piece of `length` characters that need not end in a NUL: the line ends at
// its first LF or NUL, or after `length` characters (at most kMaxLineChars).
void ConvertPiece(const char* piece, std::size_t length, uint8_t* bytes, uint16_t& byteCount);

struct ConvertError {
    std::string file;    // the file the error concerns
    long line = 0;       // 1-based line number, 0 when no line applies
    std::string reason;  // what is wrong, in the station's words
    // "<file>:<line>: <reason>" or "<file>: <reason>"
    std::string ToString() const;
};

// Writes the download image of `mainPath`. On success `imagePath` holds the image's path (the
// path up to its first ".m0", case-sensitive, then ".cp64") and true is returned. On failure
// false is returned, `error` says why, `imagePath` is left unchanged and an existing image is
// left untouched.
//
// Input: lines end in LF or CR LF. Lines before the first S3 record are skipped. Each S3 record
// is checked (hexadecimal digits only, an even number of them, count of at least 5 that
// matches the record's length, record checksum); the last S3 record must be followed by a
// termination record (a line beginning "S7", "S8" or "S9"), otherwise the file is taken as
// truncated. The error names the file, the 1-based line and the reason. Once the first S3
// record was seen, every other line closes the open block and is copied exactly as read, line
// end included; an S3 record after such a line opens a new block. An input without S3 records
// (empty, binary, S0 and S7 only) is refused: "no data records". A path that is not a regular
// file (a directory, FIFO, device) is refused with what it is, without blocking on it.
//
// Output: written to a new temporary file beside the image and renamed over it once complete
// and flushed to the disk, so a reader that opened the old image keeps reading it whole and a
// failure leaves no partial image and no temporary file. Blocks until the image is on disk.
//
// `cancel` (optional, may be set from another thread, e.g. on a signal): once true, the
// conversion stops at the next chunk it reads or before the rename, fails with "conversion
// interrupted", removes its temporary file and leaves the existing image untouched.
bool ConvertImageFile(const std::string& mainPath, std::string& imagePath, ConvertError& error,
                      const std::atomic<bool>* cancel = nullptr);

// Checks a download image before any port is opened for it: a regular, non-empty file whose
// image block lines ("S3" lines) are well formed (hexadecimal, a length field that matches the
// line, at most 32,752 data bytes, a correct checksum), with at least one block and a
// termination record (S7, S8 or S9) after the last block. False with `error` naming the file,
// line and reason otherwise. Reads the whole file with one fixed buffer.
bool CheckDownloadImage(const std::string& imagePath, ConvertError& error);

}  // namespace tarvo
