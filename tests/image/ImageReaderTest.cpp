// The download image read in blocks and converted in place must put on the wire exactly what
// reading it line by line with fgets and converting each line did: the same pieces, the same
// bytes, the same positions, whatever the line lengths, line ends and stray characters.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/ImageConverter.h"
#include "engine/ImageReader.h"

namespace tarvo {
namespace {

struct Piece {
    long position;
    std::vector<uint8_t> bytes;
    bool operator==(const Piece&) const = default;
};

std::string WriteFile(const std::string& content) {
    char name[] = "/tmp/tarvo-image-reader-XXXXXX";
    const int fd = ::mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
    return name;
}

std::vector<Piece> ByFgets(const std::string& path) {
    std::vector<Piece> pieces;
    std::FILE* file = std::fopen(path.c_str(), "r");
    std::vector<char> line(kLineBufferChars);
    std::vector<uint8_t> bytes(kLineBytesBuffer);
    while (std::fgets(line.data(), kLineBufferChars, file)) {
        uint16_t count = 0;
        ConvertLine(line.data(), bytes.data(), count);
        pieces.push_back({std::ftell(file), std::vector<uint8_t>(bytes.begin(), bytes.begin() + count)});
    }
    std::fclose(file);
    return pieces;
}

std::vector<Piece> ByReader(const std::string& path, std::size_t capacity) {
    std::vector<Piece> pieces;
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::vector<char> buffer(capacity);
    std::vector<uint8_t> bytes(kLineBytesBuffer);
    ImageReader reader(buffer.data(), buffer.size());
    reader.Reset(fd);
    const char* line = nullptr;
    std::size_t length = 0;
    ImageReader::Next next;
    while ((next = reader.Read(line, length)) == ImageReader::Next::Line) {
        uint16_t count = 0;
        ConvertPiece(line, length, bytes.data(), count);
        pieces.push_back({reader.Position(), std::vector<uint8_t>(bytes.begin(), bytes.begin() + count)});
    }
    EXPECT_EQ(next, ImageReader::Next::End);
    ::close(fd);
    return pieces;
}

// A line of `length` characters drawn mostly from hexadecimal digits, with the characters that
// have their own meaning (CR, NUL, other bytes) sprinkled in when `stray`.
std::string Line(std::mt19937& random, std::size_t length, bool stray) {
    static const char kDigits[] = "0123456789ABCDEFabcdef";
    static const char kStray[] = {'\r', '\0', 'G', ' ', '\x80', 'S'};
    std::string line = "S3";
    while (line.size() < length) {
        if (stray && random() % 50 == 0)
            line.push_back(kStray[random() % sizeof kStray]);
        else
            line.push_back(kDigits[random() % 22]);
    }
    line.resize(length);
    return line;
}

TEST(ImageReader, CutsAndConvertsEveryFileAsFgetsAndConvertLineDo) {
    const std::size_t longest = static_cast<std::size_t>(kMaxLineChars);
    // Lengths around the longest piece, around the reader's block, long image blocks and short
    // records.
    const std::vector<std::size_t> lengths = {0,           1,           2,           3,     58000, 65537,
                                              longest - 1, longest,     longest + 1, 200000, 300001};
    std::mt19937 random(20261207);
    for (int round = 0; round < 12; ++round) {
        std::string content;
        const int lines = 3 + static_cast<int>(random() % 8);
        for (int i = 0; i < lines; ++i) {
            const std::size_t length = round < 4 ? lengths[random() % lengths.size()] : random() % 70000;
            content += Line(random, length, round % 2 == 1);
            switch (random() % 4) {
            case 0: content += "\r\n"; break;
            case 1: content += "\r"; break;  // a CR that ends a piece without an LF
            default: content += "\n"; break;
            }
        }
        if (round % 3 == 0)
            content += Line(random, 1 + random() % 100, false);  // no LF at the end
        const std::string path = WriteFile(content);
        const std::vector<Piece> expected = ByFgets(path);
        for (std::size_t capacity : {ImageReader::kMinimumCapacity, std::size_t{196608}, std::size_t{1} << 20})
            EXPECT_EQ(ByReader(path, capacity), expected) << "round " << round << ", buffer " << capacity;
        ::unlink(path.c_str());
    }
}

TEST(ImageReader, AnEmptyFileHasNoLine) {
    const std::string path = WriteFile("");
    EXPECT_TRUE(ByReader(path, ImageReader::kMinimumCapacity).empty());
    ::unlink(path.c_str());
}

}  // namespace
}  // namespace tarvo
