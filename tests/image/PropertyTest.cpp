// Random main software files: every image block must be self-checking and within its limit,
// the image must carry exactly the input's bytes at their addresses, and contiguous records
// must be merged whenever the block limit allows.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/ImageConverter.h"
#include "image/ImageFiles.h"

namespace tarvo {
namespace {

struct Record {
    uint32_t address;
    std::vector<uint8_t> data;
};

struct Block {
    uint32_t address;
    std::vector<uint8_t> data;
};

std::vector<Record> RandomRecords(std::mt19937& random, size_t totalBytes) {
    std::vector<Record> records;
    std::uniform_int_distribution<int> size(1, 250);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> byte(0, 255);
    uint32_t next = std::uniform_int_distribution<uint32_t>()(random);
    size_t total = 0;
    while (total < totalBytes) {
        uint32_t address = next;
        const int roll = percent(random);
        if (roll < 3) address += std::uniform_int_distribution<uint32_t>(1, 1u << 20)(random);  // gap
        else if (roll < 5 && !records.empty()) address = records.back().address;  // repeat
        else if (roll < 6) address -= std::uniform_int_distribution<uint32_t>(1, 4096)(random);  // back
        else if (roll < 7) address = 0xFFFFFFFFu - static_cast<uint32_t>(size(random));  // wrap
        Record record{address, std::vector<uint8_t>(percent(random) < 50 ? 32 : size(random))};
        for (uint8_t& b : record.data) b = static_cast<uint8_t>(byte(random));
        next = address + static_cast<uint32_t>(record.data.size());
        total += record.data.size();
        records.push_back(std::move(record));
    }
    return records;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    ADD_FAILURE() << "not a hexadecimal digit: " << c;
    return 0;
}

uint8_t HexByte(const std::string& text, size_t at) {
    return static_cast<uint8_t>(HexDigit(text[at]) * 16 + HexDigit(text[at + 1]));
}

// Decodes and checks the image's block lines; every line but the last must be a block.
std::vector<Block> DecodeImage(const std::string& image, const std::string& lastLine) {
    std::vector<Block> blocks;
    const std::vector<std::string> lines = test::SplitLines(image);
    EXPECT_FALSE(lines.empty());
    if (lines.empty()) return blocks;
    EXPECT_EQ(lines.back(), lastLine);
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string& line = lines[i];
        SCOPED_TRACE("image line " + std::to_string(i + 1));
        EXPECT_EQ(line.substr(0, 2), "S3");
        EXPECT_EQ(line.back(), '\n');
        const size_t length = std::stoul(line.substr(2, 4), nullptr, 16);
        EXPECT_EQ(line.size(), 2 + 4 + 2 * length + 1);
        EXPECT_GE(length, 6u);
        EXPECT_LE(length - 5, 32752u);
        if (line.size() != 2 + 4 + 2 * length + 1) return blocks;
        unsigned sum = (length & 0xFF) + (length >> 8);
        for (size_t at = 6; at + 1 < line.size(); at += 2) sum += HexByte(line, at);
        EXPECT_EQ(sum & 0xFF, 0xFFu) << "block is not self-checking";
        Block block{static_cast<uint32_t>(std::stoul(line.substr(6, 8), nullptr, 16)), {}};
        for (size_t at = 14; at + 3 < line.size(); at += 2) block.data.push_back(HexByte(line, at));
        blocks.push_back(std::move(block));
    }
    return blocks;
}

void CheckImage(const std::vector<Record>& records, const std::vector<Block>& blocks) {
    // Walk the records through the blocks: each block is a run of whole records whose
    // addresses follow on from each other, carrying their bytes in order.
    size_t r = 0;
    for (size_t b = 0; b < blocks.size(); ++b) {
        const Block& block = blocks[b];
        SCOPED_TRACE("block " + std::to_string(b));
        ASSERT_LT(r, records.size());
        const size_t firstRecord = r;
        uint32_t address = block.address;
        size_t offset = 0;
        while (offset < block.data.size()) {
            ASSERT_LT(r, records.size());
            const Record& record = records[r];
            ASSERT_EQ(record.address, address) << "record " << r;
            ASSERT_LE(offset + record.data.size(), block.data.size()) << "record " << r;
            ASSERT_TRUE(std::equal(record.data.begin(), record.data.end(),
                                   block.data.begin() + static_cast<long>(offset)))
                << "record " << r;
            offset += record.data.size();
            address += static_cast<uint32_t>(record.data.size());
            ++r;
        }
        // Not merged with the previous block only when it does not continue it or the block
        // limit forbids it.
        if (b > 0) {
            const Block& previous = blocks[b - 1];
            const Record& last = records[firstRecord - 1];
            const bool continues =
                records[firstRecord].address == last.address + static_cast<uint32_t>(last.data.size());
            EXPECT_FALSE(continues &&
                         previous.data.size() + records[firstRecord].data.size() <= 32752)
                << "block could have been merged into the previous one";
        }
    }
    EXPECT_EQ(r, records.size()) << "records missing from the image";
}

TEST(ConvertImageProperty, BlocksAreSelfCheckingAndCarryExactlyTheInput) {
    test::TempDir dir;
    const std::string termination = "S70500001000EA\n";
    for (unsigned seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        // Mostly small files, two of several megabytes.
        const size_t total = seed % 4 == 0
                                 ? std::uniform_int_distribution<size_t>(2u << 20, 4u << 20)(random)
                                 : std::uniform_int_distribution<size_t>(1, 300000)(random);
        const std::vector<Record> records = RandomRecords(random, total);
        const bool lowerCase = seed % 3 == 0;
        const char* lineEnd = seed % 2 == 0 ? "\r\n" : "\n";
        std::string input = std::string("S0030000FC") + lineEnd;
        for (const Record& record : records)
            input += test::S3Record(record.address, record.data, lowerCase) + lineEnd;
        input += termination;
        test::WriteFile(dir / "main.m0", input);

        std::string imagePath;
        ConvertError error;
        ASSERT_TRUE(ConvertImageFile(dir / "main.m0", imagePath, error)) << error.ToString();
        const std::vector<Block> blocks = DecodeImage(test::ReadFile(imagePath), termination);
        CheckImage(records, blocks);
    }
}

}  // namespace
}  // namespace tarvo
