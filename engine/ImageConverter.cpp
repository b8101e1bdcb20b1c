// Download image preparation. See ImageConverter.h for the contract.
//
// The converter streams: the main software file is read once through a fixed read buffer, the
// image is written once through a fixed write buffer, so memory stays the same whatever the
// size of the input. An open image block always lives whole in the write buffer (room for the
// longest block is made before a block opens), so its length field is patched in memory when
// the block closes and the file is never repositioned.
//
// What the converter does with input beyond the usual "S0, S3 run, S7" shape:
// - Lines before the first S3 record are skipped.
// - Every S3 record is validated (hex digits, count, length, checksum) before it is used.
// - Every line that is not an S3 record, once the first S3 record was seen, closes the open
//   block (if one is open) and is copied exactly as read, line end included. So several lines
//   after the S3 run are all copied, in order.
// - An S3 record after such a line always opens a new block, even when its address continues
//   the previous record: a block never spans a copied line.
// - The last S3 record must be followed, at some later line, by a termination record (a line
//   beginning with "S7", "S8" or "S9"). A file that ends inside or right after its S3 records
//   is taken as truncated and rejected, so no image is written for it. (End of input would
//   otherwise close the open block; it is still closed there, so the writer never leaves an
//   unfinished block whatever the caller does.)
// - Lines are split at LF; a CR right before the LF belongs to the line end. A line longer
//   than the read buffer is handled in pieces; a piece that continues a line is never taken
//   for the start of a record.
#include "engine/ImageConverter.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvo {

namespace {

// Value of a hexadecimal digit (either case); kNotHex for every other character.
constexpr uint8_t kNotHex = 0xFF;
constexpr std::array<uint8_t, 256> MakeHexTable() {
    std::array<uint8_t, 256> table{};
    for (auto& value : table) value = kNotHex;
    for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<uint8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<uint8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<uint8_t>(c - 'a' + 10);
    return table;
}
constexpr std::array<uint8_t, 256> kHex = MakeHexTable();
constexpr char kUpperHex[] = "0123456789ABCDEF";

inline uint8_t HexValue(char c) { return kHex[static_cast<unsigned char>(c)]; }

// A pair of hexadecimal digits, indexed by first character * 256 + second: kPairValid plus
// the byte value, or 0 when either character is not a digit. One lookup per byte keeps record
// checking cheap; the flag sits above the low 8 bits, so sums of entries keep the byte sum in
// their low 8 bits.
constexpr uint16_t kPairValid = 0x100;
constexpr std::array<uint16_t, 65536> MakePairTable() {
    std::array<uint16_t, 65536> table{};
    constexpr char kDigits[] = "0123456789ABCDEFabcdef";
    for (char high : std::string_view(kDigits)) {
        for (char low : std::string_view(kDigits)) {
            table[static_cast<unsigned char>(high) * 256u + static_cast<unsigned char>(low)] =
                static_cast<uint16_t>(kPairValid | kHex[static_cast<unsigned char>(high)] << 4 |
                                      kHex[static_cast<unsigned char>(low)]);
        }
    }
    return table;
}
constexpr std::array<uint16_t, 65536> kHexPair = MakePairTable();

// The table entry of the two characters at `digits`.
inline uint16_t PairEntry(const char* digits) {
    return kHexPair[static_cast<unsigned>(static_cast<unsigned char>(digits[0])) << 8 |
                    static_cast<unsigned char>(digits[1])];
}
// The byte value of two characters known to be hexadecimal digits.
inline unsigned PairValue(const char* digits) { return PairEntry(digits) & 0xFFu; }

// Most data bytes in one image block, and the longest block line: "S3", 4 length digits,
// 8 address digits, the data digits, 2 checksum digits and the line feed.
constexpr uint32_t kMaxBlockDataBytes = 32752;
constexpr size_t kMaxBlockLineChars = 2 + 4 + 8 + 2 * kMaxBlockDataBytes + 2 + 1;

// Buffers small enough to stay in the processor's cache between the copy and the parse.
constexpr size_t kReadBufferBytes = size_t{256} << 10;
constexpr size_t kWriteBufferBytes = size_t{256} << 10;
static_assert(kReadBufferBytes > static_cast<size_t>(kMaxLineChars));
static_assert(kWriteBufferBytes >= 4 * kMaxBlockLineChars);

std::string ErrnoText(int error) { return std::strerror(error); }

// Empty for a regular file, else why the file can never be converted or downloaded.
std::string NotRegularReason(const struct stat& info) {
    if (S_ISREG(info.st_mode)) return {};
    if (S_ISDIR(info.st_mode)) return "is a directory, not a file";
    if (S_ISFIFO(info.st_mode)) return "is a FIFO (named pipe), not a regular file";
    if (S_ISCHR(info.st_mode)) return "is a character device, not a regular file";
    if (S_ISBLK(info.st_mode)) return "is a block device, not a regular file";
    if (S_ISSOCK(info.st_mode)) return "is a socket, not a regular file";
    return "is not a regular file";
}

// Opens `path` for reading without ever blocking in open() (a FIFO would wait there for a
// writer) and checks that it is a regular file. -1 with `reason` set otherwise.
int OpenRegularFile(const std::string& path, std::string& reason, struct stat& info) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = "cannot open: " + ErrnoText(errno);
        return -1;
    }
    if (::fstat(fd, &info) != 0) {
        reason = "cannot open: " + ErrnoText(errno);
        ::close(fd);
        return -1;
    }
    reason = NotRegularReason(info);
    if (!reason.empty()) {
        ::close(fd);
        return -1;
    }
    // Reads of a regular file never block; clear the flag all the same.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Owns a file descriptor.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    void Reset(int fd) {
        Close();
        m_fd = fd;
    }
    bool IsOpen() const { return m_fd >= 0; }
    // Closes now; returns the errno of a failed close, 0 otherwise.
    int Close() {
        if (m_fd < 0) return 0;
        int result = ::close(m_fd);
        m_fd = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int m_fd;
};

// The temporary file that becomes the image. Created beside the image (same folder, so the
// final rename is atomic) with O_EXCL under a fresh name; removed again by the destructor
// unless it was renamed over the image.
class TemporaryImage {
public:
    TemporaryImage() = default;
    ~TemporaryImage() {
        m_fd.Close();
        if (!m_path.empty() && !m_committed) ::unlink(m_path.c_str());
    }
    TemporaryImage(const TemporaryImage&) = delete;
    TemporaryImage& operator=(const TemporaryImage&) = delete;

    // Returns 0 or the errno of the failure.
    int Create(const std::string& imagePath) {
        // Names only need to be unlikely to collide; O_EXCL settles any collision.
        uint64_t state = static_cast<uint64_t>(
                             std::chrono::steady_clock::now().time_since_epoch().count()) ^
                         (static_cast<uint64_t>(::getpid()) << 32) ^
                         reinterpret_cast<uintptr_t>(this);
        static constexpr char kNameChars[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        int error = EEXIST;
        for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
            std::string path = imagePath + ".tmp-";
            for (int i = 0; i < 8; ++i) {
                // splitmix64 step
                state += 0x9E3779B97F4A7C15ull;
                uint64_t z = state;
                z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
                z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
                z ^= z >> 31;
                path += kNameChars[z % (sizeof kNameChars - 1)];
            }
            // 0666 like any new file: the process's umask decides the final mode.
            int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                m_fd.Reset(fd);
                m_path = std::move(path);
                return 0;
            }
            error = errno;
            if (error == EINTR) error = EEXIST;  // try again
        }
        return error;
    }

    int Fd() const { return m_fd.Get(); }

    // Makes the written data durable, closes the file and renames it over `imagePath`.
    // Returns 0 or the errno of the failed step; `step` names it.
    // A cancellation seen after the sync stops it before the rename (ECANCELED).
    int Commit(const std::string& imagePath, const char*& step, const std::atomic<bool>* cancel) {
        // EINVAL: the file system has nothing to flush (it does not support syncing).
        if (::fdatasync(m_fd.Get()) != 0 && errno != EINVAL) {
            step = "cannot write";
            return errno;
        }
        if (int error = m_fd.Close(); error != 0) {
            step = "cannot write";
            return error;
        }
        if (cancel != nullptr && cancel->load()) {
            step = "conversion interrupted";
            return ECANCELED;
        }
        if (::rename(m_path.c_str(), imagePath.c_str()) != 0) {
            step = "cannot replace";
            return errno;
        }
        m_committed = true;
        SyncFolder(imagePath);
        return 0;
    }

private:
    // Makes the rename itself durable. Best effort: the image is complete either way.
    static void SyncFolder(const std::string& imagePath) {
        const size_t slash = imagePath.rfind('/');
        const std::string folder =
            slash == std::string::npos ? "." : slash == 0 ? "/" : imagePath.substr(0, slash);
        FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.IsOpen()) ::fsync(dir.Get());
    }

    FileDescriptor m_fd;
    std::string m_path;
    bool m_committed = false;
};

// Hands out the main software file in chunks that end at a line feed. A chunk is a whole
// line (line end included) unless the line is longer than the buffer, in which case the line
// comes in several chunks; `lineStart` marks the first chunk of each line.
class LineReader {
public:
    struct Chunk {
        const char* data = nullptr;
        size_t size = 0;
        bool lineStart = false;
        bool lineEnd = false;  // the chunk ends its line (at a line feed or at the end of file)
    };

    LineReader(int fd, char* buffer, size_t capacity)
        : m_fd(fd), m_buffer(buffer), m_capacity(capacity) {}

    // False at the end of the file or on a read error (ReadError() then tells which).
    bool Next(Chunk& chunk) {
        for (;;) {
            if (m_begin < m_end) {
                const char* start = m_buffer + m_begin;
                size_t available = m_end - m_begin;
                const void* lf = std::memchr(start, '\n', available);
                if (lf != nullptr || m_eof || (m_begin == 0 && m_end == m_capacity)) {
                    size_t size = lf != nullptr
                                      ? static_cast<size_t>(static_cast<const char*>(lf) - start) + 1
                                      : available;
                    chunk.data = start;
                    chunk.size = size;
                    chunk.lineStart = !m_midLine;
                    chunk.lineEnd = lf != nullptr || m_eof;
                    m_midLine = !chunk.lineEnd;
                    m_begin += size;
                    return true;
                }
                if (m_begin > 0) {
                    std::memmove(m_buffer, start, available);
                    m_end = available;
                    m_begin = 0;
                }
            } else {
                if (m_eof) return false;
                m_begin = m_end = 0;
            }
            ssize_t n = ::read(m_fd, m_buffer + m_end, m_capacity - m_end);
            if (n > 0) {
                m_end += static_cast<size_t>(n);
            } else if (n == 0) {
                m_eof = true;
            } else if (errno != EINTR) {
                m_readError = errno;
                return false;
            }
        }
    }

    int ReadError() const { return m_readError; }

private:
    int m_fd;
    char* m_buffer;
    size_t m_capacity;
    size_t m_begin = 0;
    size_t m_end = 0;
    bool m_eof = false;
    bool m_midLine = false;
    int m_readError = 0;
};

// Writes the image through a fixed buffer and builds its image blocks.
class ImageWriter {
public:
    ImageWriter(int fd, char* buffer, size_t capacity)
        : m_fd(fd), m_buffer(buffer), m_capacity(capacity) {}

    bool BlockOpen() const { return m_blockOpen; }
    uint32_t BlockDataBytes() const { return m_blockData; }

    // Opens a block with the first record's address characters (8) and data characters.
    void OpenBlock(const char* address, const char* data, uint32_t dataBytes, uint8_t sum) {
        if (m_capacity - m_used < kMaxBlockLineChars) Flush();
        m_lengthAt = m_used + 2;
        char* out = m_buffer + m_used;
        std::memcpy(out, "S3FFFF", 6);
        std::memcpy(out + 6, address, 8);
        std::memcpy(out + 14, data, 2 * size_t{dataBytes});
        m_used += 14 + 2 * size_t{dataBytes};
        m_blockOpen = true;
        m_blockData = dataBytes;
        m_blockSum = sum;
    }

    // Appends a record's data to the open block; the caller keeps the block within its limit.
    void AppendToBlock(const char* data, uint32_t dataBytes, uint8_t sum) {
        std::memcpy(m_buffer + m_used, data, 2 * size_t{dataBytes});
        m_used += 2 * size_t{dataBytes};
        m_blockData += dataBytes;
        m_blockSum = static_cast<uint8_t>(m_blockSum + sum);
    }

    // Fills in the length field and writes the checksum and the line feed. No-op without an
    // open block.
    void CloseBlock() {
        if (!m_blockOpen) return;
        const uint32_t length = m_blockData + 5;
        char* field = m_buffer + m_lengthAt;
        field[0] = kUpperHex[(length >> 12) & 0xF];
        field[1] = kUpperHex[(length >> 8) & 0xF];
        field[2] = kUpperHex[(length >> 4) & 0xF];
        field[3] = kUpperHex[length & 0xF];
        const uint8_t checksum =
            static_cast<uint8_t>(~(m_blockSum + (length & 0xFF) + ((length >> 8) & 0xFF)));
        char* out = m_buffer + m_used;
        out[0] = kUpperHex[checksum >> 4];
        out[1] = kUpperHex[checksum & 0xF];
        out[2] = '\n';
        m_used += 3;
        m_blockOpen = false;
    }

    // Copies bytes as they stand. Never called while a block is open.
    void Copy(const char* data, size_t size) {
        if (size > m_capacity - m_used) {
            Flush();
            if (size > m_capacity) {
                WriteAll(data, size);
                return;
            }
        }
        std::memcpy(m_buffer + m_used, data, size);
        m_used += size;
    }

    // Writes out the buffer. Must not be called while a block is open except by OpenBlock.
    void Flush() {
        WriteAll(m_buffer, m_used);
        m_written += m_used;
        m_used = 0;
        // Every few MiB, hand the part written so far to the system to write out now, in the
        // background, so that the final fdatasync has little left to wait for. (Linux starts
        // writing dirty pages back on POSIX_FADV_DONTNEED; pages that are still dirty or being
        // written stay cached, so the download finds the image in memory.)
        if (m_written - m_handedOver >= kWriteBehindBytes) {
            ::posix_fadvise(m_fd, static_cast<off_t>(m_handedOver),
                            static_cast<off_t>(m_written - m_handedOver), POSIX_FADV_DONTNEED);
            m_handedOver = m_written;
        }
    }

    // The errno of the first failed write, 0 when all went well.
    int WriteError() const { return m_writeError; }

private:
    void WriteAll(const char* data, size_t size) {
        while (size > 0 && m_writeError == 0) {
            ssize_t n = ::write(m_fd, data, size);
            if (n >= 0) {
                data += n;
                size -= static_cast<size_t>(n);
            } else if (errno != EINTR) {
                m_writeError = errno;
            }
        }
    }

    static constexpr size_t kWriteBehindBytes = size_t{4} << 20;

    int m_fd;
    char* m_buffer;
    size_t m_capacity;
    size_t m_used = 0;
    size_t m_written = 0;     // bytes written to the file
    size_t m_handedOver = 0;  // bytes handed to the system for writing back
    int m_writeError = 0;
    bool m_blockOpen = false;
    size_t m_lengthAt = 0;
    uint32_t m_blockData = 0;
    uint8_t m_blockSum = 0;
};

// Sum of the byte values of `pairs` pairs of hexadecimal digits (either case) at `digits`, in
// the low 8 bits of `sum`; false when a character is not a digit. Reads only those characters.
//
// Sixteen characters at a time (the compiler's vector types: SIMD where the processor has it):
// each is tested for a digit or a letter a-f/A-F and turned into its nibble. Only the low 8 bits
// of the sum matter, so lanes may wrap: byte sum = 16 * (high nibbles) + (low nibbles), and the
// high nibbles sit at the even positions of a chunk that starts at an even offset.
bool SumHexPairs(const char* digits, size_t pairs, unsigned& sum) {
    using Bytes16 = uint8_t __attribute__((vector_size(16)));
    using Mask16 = int8_t __attribute__((vector_size(16)));
    constexpr Bytes16 kEven = {0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0};
    Mask16 allHex = ~Mask16{};
    Bytes16 highNibbles{};
    Bytes16 lowNibbles{};
    size_t done = 0;
    for (; done + 8 <= pairs; done += 8) {
        Bytes16 c;
        std::memcpy(&c, digits + 2 * done, sizeof c);
        const Mask16 isDigit = static_cast<Bytes16>(c - '0') < 10;
        const Mask16 isLetter = static_cast<Bytes16>((c | 0x20) - 'a') < 6;
        allHex &= isDigit | isLetter;
        const Bytes16 nibbles = (c & 0x0F) + (reinterpret_cast<const Bytes16&>(isLetter) & 9);
        highNibbles += nibbles & kEven;
        lowNibbles += nibbles & ~kEven;
    }
    uint64_t words[2];
    std::memcpy(words, &allHex, sizeof words);
    if ((words[0] & words[1]) != ~uint64_t{0}) return false;
    // Add up the 16 lanes of 16 * high + low (mod 256 per lane) in 16-bit fields.
    const Bytes16 lanes = (highNibbles << 4) + lowNibbles;
    std::memcpy(words, &lanes, sizeof words);
    constexpr uint64_t kFields = 0x00FF00FF00FF00FFull;
    const uint64_t fields = (words[0] & kFields) + ((words[0] >> 8) & kFields) +
                            (words[1] & kFields) + ((words[1] >> 8) & kFields);
    sum += static_cast<unsigned>((fields * 0x0001000100010001ull) >> 48);

    unsigned valid = kPairValid;
    for (; done < pairs; ++done) {
        const unsigned entry = PairEntry(digits + 2 * done);
        valid &= entry;
        sum += entry;
    }
    return valid != 0;
}

// One validated S3 record, pointing into the line it came from.
struct S3Record {
    const char* addressChars = nullptr;  // 8 characters
    const char* dataChars = nullptr;     // 2 * dataBytes characters
    uint32_t address = 0;
    uint32_t dataBytes = 0;
    uint8_t addressSum = 0;  // sum of the four address bytes
    uint8_t dataSum = 0;     // sum of the data bytes
};

std::string DescribeChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    char text[16];
    if (u >= 0x20 && u < 0x7F)
        std::snprintf(text, sizeof text, "'%c'", c);
    else
        std::snprintf(text, sizeof text, "0x%02X", u);
    return text;
}

// Checks an S3 record (`text` without its line end; `whole` false when the line goes on
// beyond `text`) and takes it apart. Returns an empty string when the record is sound,
// otherwise the reason it is rejected.
std::string ParseS3Record(const char* text, size_t size, bool whole, S3Record& record) {
    const char* digits = text + 2;
    const size_t digitCount = size - 2;

    // Fast path: sum the bytes of every pair, watching for any character that is not a digit.
    const size_t pairs = digitCount / 2;
    unsigned sum = 0;  // the low 8 bits are the byte sum
    bool valid = SumHexPairs(digits, pairs, sum);
    if (digitCount % 2 != 0 && HexValue(digits[digitCount - 1]) == kNotHex) valid = false;
    if (!valid) {
        for (size_t i = 0; i < digitCount; ++i) {
            if (HexValue(digits[i]) == kNotHex) {
                return "non-hexadecimal character " + DescribeChar(digits[i]) + " at column " +
                       std::to_string(i + 3) + " of an S3 record";
            }
        }
    }
    if (!whole) return "S3 record is longer than its count announces";
    if (digitCount % 2 != 0) return "S3 record has an odd number of hexadecimal digits";
    if (digitCount < 2) return "S3 record has no count";

    const unsigned count = PairValue(digits);
    // The count as written, for the messages.
    const auto countText = [digits] { return std::string(digits, 2); };
    if (count < 5) return "S3 record count " + countText() + " is below 5";
    const size_t bytesAfterCount = pairs - 1;
    if (bytesAfterCount < count) {
        return "S3 record is shorter than its count " + countText() +
               " announces (" + std::to_string(bytesAfterCount) + " of " + std::to_string(count) +
               " bytes)";
    }
    if (bytesAfterCount > count) {
        return "S3 record is longer than its count " + countText() + " announces (" +
               std::to_string(bytesAfterCount) + " bytes)";
    }
    if ((sum & 0xFF) != 0xFF) {
        const unsigned stated = PairValue(digits + 2 * count);
        const unsigned expected = (stated + 0xFF - sum) & 0xFF;
        char text2[64];
        std::snprintf(text2, sizeof text2, "S3 record checksum is %02X, expected %02X", stated,
                      expected);
        return text2;
    }

    record.addressChars = digits + 2;
    record.dataBytes = count - 5;
    record.dataChars = digits + 10;
    uint32_t address = 0;
    unsigned addressSum = 0;
    for (int i = 0; i < 4; ++i) {
        const unsigned byte = PairValue(digits + 2 + 2 * i);
        address = (address << 8) | byte;
        addressSum += byte;
    }
    const unsigned checksum = PairValue(digits + 2 * count);
    record.address = address;
    record.addressSum = static_cast<uint8_t>(addressSum);
    record.dataSum = static_cast<uint8_t>(sum - count - addressSum - checksum);
    return {};
}

bool IsTerminationRecord(const char* text, size_t size) {
    return size >= 2 && text[0] == 'S' && (text[1] == '7' || text[1] == '8' || text[1] == '9');
}

// ConvertLine's work once the line's end (its first LF or NUL, or where the piece stops) is known.
void ConvertUpTo(const char* line, size_t end, uint8_t* bytes, uint16_t& byteCount) {
    // A CR before the line feed is part of the line end (a file with CR LF line ends).
    if (end > 0 && line[end - 1] == '\r') --end;

    size_t count = 0;
    size_t i = 0;
    // The record type characters, as they stand.
    while (i < end && i < 2) bytes[count++] = static_cast<uint8_t>(line[i++]);
    // One byte per pair of digits; characters that are not hexadecimal digits give an
    // unspecified (but fixed) value. The count is capped at what a uint16_t holds.
    size_t pairs = (end - i) / 2;
    if (pairs > 0xFFFF - count) pairs = 0xFFFF - count;
    for (size_t p = 0; p < pairs; ++p, i += 2) {
        bytes[count++] = static_cast<uint8_t>(((HexValue(line[i]) & 0xF) << 4) |
                                              (HexValue(line[i + 1]) & 0xF));
    }
    byteCount = static_cast<uint16_t>(count);
}

}  // namespace

void ConvertLine(const char* line, uint8_t* bytes, uint16_t& byteCount) {
    // The C library finds the line end (LF or NUL) many characters at a time; image lines are
    // tens of KiB long.
    ConvertUpTo(line, std::strcspn(line, "\n"), bytes, byteCount);
}

void ConvertPiece(const char* piece, size_t length, uint8_t* bytes, uint16_t& byteCount) {
    const void* lf = std::memchr(piece, '\n', length);
    size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - piece) : length;
    if (const void* nul = std::memchr(piece, '\0', end)) end = static_cast<size_t>(static_cast<const char*>(nul) - piece);
    ConvertUpTo(piece, end, bytes, byteCount);
}

std::string ConvertError::ToString() const {
    if (line > 0) return file + ":" + std::to_string(line) + ": " + reason;
    return file + ": " + reason;
}

bool ConvertImageFile(const std::string& mainPath, std::string& imagePath, ConvertError& error,
                      const std::atomic<bool>* cancel) {
    auto fail = [&error](const std::string& file, long line, std::string reason) {
        error.file = file;
        error.line = line;
        error.reason = std::move(reason);
        return false;
    };

    struct stat info {};
    std::string openFailure;
    FileDescriptor input(OpenRegularFile(mainPath, openFailure, info));
    if (!input.IsOpen()) return fail(mainPath, 0, openFailure);
    auto cancelled = [cancel] { return cancel != nullptr && cancel->load(std::memory_order_relaxed); };

    const size_t extension = mainPath.find(".m0");
    if (extension == std::string::npos)
        return fail(mainPath, 0, "the file name does not contain \".m0\"");
    const std::string newImagePath = mainPath.substr(0, extension) + ".cp64";

    TemporaryImage output;
    if (int e = output.Create(newImagePath); e != 0)
        return fail(newImagePath, 0, "cannot create a temporary file beside it: " + ErrnoText(e));

    // One allocation per conversion; nothing is allocated per line.
    std::unique_ptr<char[]> readBuffer(new (std::nothrow) char[kReadBufferBytes]);
    std::unique_ptr<char[]> writeBuffer(new (std::nothrow) char[kWriteBufferBytes]);
    if (!readBuffer || !writeBuffer) return fail(mainPath, 0, "cannot convert: out of memory");
    LineReader reader(input.Get(), readBuffer.get(), kReadBufferBytes);
    ImageWriter writer(output.Fd(), writeBuffer.get(), kWriteBufferBytes);

    long lineNumber = 0;
    bool runStarted = false;     // an S3 record was seen
    bool previousWasS3 = false;  // the previous line was an S3 record (of the open block)
    bool terminated = true;      // a termination record followed the last S3 record
    long lastS3Line = 0;
    uint32_t previousEnd = 0;  // address after the previous record's data
    LineReader::Chunk chunk;
    while (reader.Next(chunk)) {
        if (cancelled()) return fail(mainPath, 0, "conversion interrupted");
        if (!chunk.lineStart) {
            // The rest of a line longer than the read buffer: copied or skipped with its start.
            if (runStarted) writer.Copy(chunk.data, chunk.size);
            continue;
        }
        ++lineNumber;
        size_t textSize = chunk.size;
        if (chunk.lineEnd && textSize > 0 && chunk.data[textSize - 1] == '\n') {
            --textSize;
            if (textSize > 0 && chunk.data[textSize - 1] == '\r') --textSize;
        }
        const bool isS3 = textSize >= 2 && chunk.data[0] == 'S' && chunk.data[1] == '3';
        if (!isS3) {
            if (runStarted) {
                writer.CloseBlock();
                writer.Copy(chunk.data, chunk.size);
                if (IsTerminationRecord(chunk.data, textSize)) terminated = true;
            }
            previousWasS3 = false;
            continue;
        }

        S3Record record;
        if (std::string reason = ParseS3Record(chunk.data, textSize, chunk.lineEnd, record);
            !reason.empty()) {
            return fail(mainPath, lineNumber, std::move(reason));
        }
        // Joins the open block when it continues the previous record's addresses (32-bit
        // arithmetic) and the block stays within its data limit.
        const bool joins = previousWasS3 && writer.BlockOpen() && record.address == previousEnd &&
                           writer.BlockDataBytes() + record.dataBytes <= kMaxBlockDataBytes;
        if (joins) {
            writer.AppendToBlock(record.dataChars, record.dataBytes, record.dataSum);
        } else {
            writer.CloseBlock();
            writer.OpenBlock(record.addressChars, record.dataChars, record.dataBytes,
                             static_cast<uint8_t>(record.addressSum + record.dataSum));
        }
        previousEnd = record.address + record.dataBytes;
        previousWasS3 = true;
        runStarted = true;
        terminated = false;
        lastS3Line = lineNumber;
    }
    if (int e = reader.ReadError(); e != 0)
        return fail(mainPath, lineNumber + 1, "cannot read: " + ErrnoText(e));
    if (!runStarted) {
        // Nothing to download: an image without blocks would erase every handset for nothing.
        return fail(mainPath, 0, "no data records");
    }
    if (!terminated) {
        return fail(mainPath, lastS3Line,
                    "the last S3 record is not followed by a termination record (S7, S8 or S9); "
                    "the file looks truncated");
    }
    writer.CloseBlock();
    writer.Flush();
    if (int e = writer.WriteError(); e != 0)
        return fail(newImagePath, 0, "cannot write: " + ErrnoText(e));
    if (cancelled()) return fail(mainPath, 0, "conversion interrupted");
    const char* step = "";
    if (int e = output.Commit(newImagePath, step, cancel); e != 0)
        return fail(newImagePath, 0, std::string(step) + ": " + ErrnoText(e));

    imagePath = newImagePath;
    return true;
}

namespace {

// Empty when `line` (without its line end) is a well-formed image block line.
std::string CheckBlockLine(const char* line, size_t size) {
    if (size < 2 + 4 + 8 + 2) return "image block line too short";
    unsigned sum = 0;
    unsigned length = 0;
    for (size_t at = 2; at < size; at += 2) {
        const uint16_t entry = at + 1 < size ? PairEntry(line + at) : 0;
        if ((entry & kPairValid) == 0)
            return "image block line holds a character that is not a hexadecimal digit";
        const unsigned byte = entry & 0xFFu;
        if (at < 6) length = length << 8 | byte;
        sum += byte;
    }
    if (size != 6 + 2 * size_t{length}) return "image block length field does not match the line";
    if (length < 5 || length - 5 > kMaxBlockDataBytes) return "image block length out of range";
    if ((sum & 0xFF) != 0xFF) return "image block checksum error";
    return {};
}

}  // namespace

bool CheckDownloadImage(const std::string& imagePath, ConvertError& error) {
    auto fail = [&error, &imagePath](long line, std::string reason) {
        error.file = imagePath;
        error.line = line;
        error.reason = std::move(reason);
        return false;
    };
    struct stat info {};
    std::string openFailure;
    FileDescriptor input(OpenRegularFile(imagePath, openFailure, info));
    if (!input.IsOpen()) return fail(0, openFailure);
    if (info.st_size == 0) return fail(0, "the download image is empty");

    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadBufferBytes]);
    if (!buffer) return fail(0, "cannot check: out of memory");
    LineReader reader(input.Get(), buffer.get(), kReadBufferBytes);
    LineReader::Chunk chunk;
    long lineNumber = 0;
    long blocks = 0;
    bool terminated = false;
    while (reader.Next(chunk)) {
        if (!chunk.lineStart) return fail(lineNumber, "line too long for a download image");
        ++lineNumber;
        if (!chunk.lineEnd) return fail(lineNumber, "line too long for a download image");
        size_t textSize = chunk.size;
        if (textSize > 0 && chunk.data[textSize - 1] == '\n') {
            --textSize;
            if (textSize > 0 && chunk.data[textSize - 1] == '\r') --textSize;
        }
        if (textSize >= 2 && chunk.data[0] == 'S' && chunk.data[1] == '3') {
            if (std::string reason = CheckBlockLine(chunk.data, textSize); !reason.empty())
                return fail(lineNumber, std::move(reason));
            ++blocks;
            terminated = false;
        } else if (IsTerminationRecord(chunk.data, textSize)) {
            terminated = true;
        }
    }
    if (int e = reader.ReadError(); e != 0) return fail(lineNumber + 1, "cannot read: " + ErrnoText(e));
    if (blocks == 0) return fail(0, "no image blocks: not a download image");
    if (!terminated) return fail(0, "no termination record after the last image block: the image looks truncated");
    return true;
}

}  // namespace tarvo
