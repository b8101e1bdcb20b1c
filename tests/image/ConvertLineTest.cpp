// One text line to the bytes sent to the target.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/ImageConverter.h"

namespace tarvo {
namespace {

std::vector<uint8_t> Convert(const std::string& line) {
    std::vector<uint8_t> bytes(kLineBytesBuffer, 0xEE);
    uint16_t count = 0xFFFF;
    ConvertLine(line.c_str(), bytes.data(), count);
    bytes.resize(count);
    return bytes;
}

TEST(ConvertLine, ImageBlockGivesCountPrefixedBytes) {
    EXPECT_EQ(Convert("S3000D000010000102030405060708BE\n"),
              (std::vector<uint8_t>{0x53, 0x33, 0x00, 0x0D, 0x00, 0x00, 0x10, 0x00, 0x01, 0x02,
                                    0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xBE}));
}

TEST(ConvertLine, ShortLines) {
    EXPECT_TRUE(Convert("\n").empty());
    EXPECT_TRUE(Convert("").empty());
    EXPECT_EQ(Convert("S7\n"), (std::vector<uint8_t>{0x53, 0x37}));
    EXPECT_EQ(Convert("S\n"), (std::vector<uint8_t>{0x53}));
    // The unpaired last digit is dropped.
    EXPECT_EQ(Convert("S3ABC\n"), (std::vector<uint8_t>{0x53, 0x33, 0xAB}));
}

TEST(ConvertLine, EndsAtLineFeedOrNulAndTakesCrLfAsLineEnd) {
    const std::vector<uint8_t> expected{0x53, 0x37, 0x05, 0x00, 0x00, 0x10, 0x00, 0xEA};
    EXPECT_EQ(Convert("S70500001000EA\n"), expected);
    EXPECT_EQ(Convert("S70500001000EA"), expected);  // last line of a file, no line feed
    EXPECT_EQ(Convert("S70500001000EA\r\n"), expected);
    EXPECT_EQ(Convert("S70500001000EA\nS9"), expected);
    EXPECT_TRUE(Convert("\r\n").empty());
}

TEST(ConvertLine, DecodesBothCasesAndCopiesTypeCharactersAsTheyStand) {
    EXPECT_EQ(Convert("s3abCDef\n"), (std::vector<uint8_t>{'s', '3', 0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(Convert("XY0f\n"), (std::vector<uint8_t>{'X', 'Y', 0x0F}));
}

TEST(ConvertLine, LongestImageBlockLine) {
    // 32,752 data bytes: 65,520 characters plus the line feed, 32,761 bytes.
    std::string line = "S37FF500000000";
    for (int i = 0; i < 32752; ++i) line += "A5";
    line += "00\n";
    const std::vector<uint8_t> bytes = Convert(line);
    ASSERT_EQ(bytes.size(), 32761u);
    EXPECT_EQ(bytes[2], 0x7F);
    EXPECT_EQ(bytes[3], 0xF5);
    EXPECT_EQ(bytes[32759], 0xA5);
}

TEST(ConvertLine, LongestLinePieceFitsTheByteCount) {
    // A piece of the largest size the readers hand out gives 65,535 bytes, the most a
    // 16-bit count holds; a longer buffer is capped there instead of wrapping the count.
    std::string piece(kMaxLineChars, '1');
    EXPECT_EQ(Convert(piece).size(), 65535u);
    std::string longer(kMaxLineChars + 10, '1');
    std::vector<uint8_t> bytes(kLineBytesBuffer + 16);
    uint16_t count = 0;
    ConvertLine(longer.c_str(), bytes.data(), count);
    EXPECT_EQ(count, 65535u);
}

}  // namespace
}  // namespace tarvo
