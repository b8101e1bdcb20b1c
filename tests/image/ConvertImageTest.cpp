// Main software file -> download image: blocks, copied lines, path rule, validation and the
// guarantee that a failed conversion leaves an existing image as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/ImageConverter.h"
#include "image/ImageFiles.h"
#include "image/InvalidInputs.h"

namespace tarvo {
namespace {

using test::Bytes;
using test::ReadFile;
using test::S3Record;
using test::SplitLines;
using test::WriteFile;

constexpr char kS0[] = "S0030000FC\n";
constexpr char kS7[] = "S70500001000EA\n";

class ConvertImageTest : public ::testing::Test {
protected:
    // Writes `content` as `name` in the temporary folder and converts it.
    bool Convert(const std::string& content, const std::string& name = "main.m0") {
        const std::string path = m_dir / name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteFile(path, content);
        return ConvertImageFile(path, m_imagePath, m_error);
    }
    std::string Image() const { return ReadFile(m_dir / "main.cp64"); }
    std::vector<std::string> ImageLines() const { return SplitLines(Image()); }

    test::TempDir m_dir;
    std::string m_imagePath;
    ConvertError m_error;
};

TEST_F(ConvertImageTest, WorkedExampleGivesThreeLines) {
    ASSERT_TRUE(Convert(std::string(kS0) +
                        "S3090000100001020304DC\n"
                        "S3090000100405060708C8\n"
                        "S30700002000AABB73\n" +
                        kS7))
        << m_error.ToString();
    EXPECT_EQ(m_imagePath, m_dir / "main.cp64");
    EXPECT_EQ(Image(),
              "S3000D000010000102030405060708BE\n"
              "S3000700002000AABB73\n"
              "S70500001000EA\n");
    // Nothing but the input and the image is left in the folder.
    EXPECT_EQ(m_dir.Entries(), (std::set<std::string>{"main.m0", "main.cp64"}));
}

TEST_F(ConvertImageTest, BlockHoldsAtMost32752DataBytes) {
    // 131 records of 250 bytes and one of 2: exactly 32,752 contiguous bytes make one block.
    std::string input = kS0;
    uint32_t address = 0x08000000;
    for (int i = 0; i < 131; ++i, address += 250) input += S3Record(address, Bytes(250, i)) + "\n";
    input += S3Record(address, Bytes(2)) + "\n";
    address += 2;
    // One contiguous byte more opens the next block.
    input += S3Record(address, Bytes(1, 0x5A)) + "\n" + kS7;
    ASSERT_TRUE(Convert(input)) << m_error.ToString();

    const auto lines = ImageLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(0, 14), "S37FF508000000");
    EXPECT_EQ(lines[0].size(), 65521u);
    EXPECT_EQ(lines[1], S3Record(0x08007FF0, {0x5A}).insert(2, "00") + "\n");
}

TEST_F(ConvertImageTest, RecordThatWouldOverfillTheBlockOpensANewOne) {
    std::string input;
    for (int i = 0; i < 131; ++i) input += S3Record(250u * i, Bytes(250)) + "\n";
    input += S3Record(250u * 131, Bytes(3)) + "\n" + kS7;  // 32,753 bytes in all
    ASSERT_TRUE(Convert(input)) << m_error.ToString();
    const auto lines = ImageLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(0, 14), "S37FF300000000");  // 32,750 bytes
    EXPECT_EQ(lines[1].substr(0, 14), "S3000800007FEE");  // 3 bytes
}

TEST_F(ConvertImageTest, GapsStepsBackAndRepeatsOpenNewBlocks) {
    const std::vector<uint8_t> four = Bytes(4, 0x10);
    ASSERT_TRUE(Convert(S3Record(0x1000, four) + "\n" +  // opens block 1
                        S3Record(0x1004, four) + "\n" +  // continues: joins
                        S3Record(0x1010, four) + "\n" +  // gap
                        S3Record(0x1004, four) + "\n" +  // step back
                        S3Record(0x1004, four) + "\n" +  // repeat
                        // continues the previous record (not the block's start): joins
                        S3Record(0x1008, four) + "\n" + kS7))
        << m_error.ToString();
    const auto lines = ImageLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].substr(0, 14), "S3000D00001000");
    EXPECT_EQ(lines[1].substr(0, 14), "S3000900001010");
    EXPECT_EQ(lines[2].substr(0, 14), "S3000900001004");
    EXPECT_EQ(lines[3].substr(0, 14), "S3000D00001004");
    EXPECT_EQ(lines[4], kS7);
}

TEST_F(ConvertImageTest, AddressesContinueAcrossTheTopOf32Bits) {
    ASSERT_TRUE(Convert(S3Record(0xFFFFFFFC, Bytes(4)) + "\n" + S3Record(0, Bytes(4, 4)) + "\n" +
                        kS7));
    const auto lines = ImageLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 14), "S3000DFFFFFFFC");
}

TEST_F(ConvertImageTest, AddressAndDataKeepTheirCaseLengthAndChecksumAreUpperCase) {
    // A block of one record has the record's checksum value; here written "f8" in the input.
    ASSERT_TRUE(Convert(std::string("S3080000ABcdabCD0ff8\n") + kS7)) << m_error.ToString();
    EXPECT_EQ(Image(), std::string("S300080000ABcdabCD0fF8\n") + kS7);
    // A merged block of lower-case records: length field 000D, checksum in upper case.
    ASSERT_TRUE(Convert(S3Record(0xab00, Bytes(4, 0xfa), true) + "\n" +
                        S3Record(0xab04, Bytes(4, 0xfe), true) + "\n" + kS7));
    EXPECT_EQ(ImageLines()[0], "S3000D0000ab00fafbfcfdfeff00015B\n");
}

// An image without blocks would erase every handset and then fail there: a file without data
// records is refused like a corrupt one, and the good image already there stays.
TEST_F(ConvertImageTest, NoS3RecordIsRefusedAndTheOldImageStays) {
    const std::string good = std::string(kS0) + "S30700002000AABB73\n" + kS7;
    ASSERT_TRUE(Convert(good));
    const std::string before = Image();
    for (const std::string& input : {std::string(kS0) + kS7, std::string(), std::string("\x7f" "ELF\x02\x01\x01", 7),
                                     std::string(kS0)}) {
        m_imagePath = "previous.cp64";
        EXPECT_FALSE(Convert(input));
        EXPECT_EQ(m_error.ToString(), (m_dir / "main.m0") + ": no data records");
        EXPECT_EQ(m_imagePath, "previous.cp64");
        EXPECT_EQ(Image(), before);
        EXPECT_EQ(m_dir.Entries(), (std::set<std::string>{"main.m0", "main.cp64"}));
    }
}

// A FIFO would block the conversion for ever, /dev/zero would spin a core for ever: both are
// refused at once with what they are.
TEST_F(ConvertImageTest, FilesThatAreNotRegularAreRefusedAtOnce) {
    const std::string fifo = m_dir / "pipe.m0";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(ConvertImageFile(fifo, m_imagePath, m_error));
    EXPECT_EQ(m_error.ToString(), fifo + ": is a FIFO (named pipe), not a regular file");
    EXPECT_FALSE(ConvertImageFile("/dev/zero", m_imagePath, m_error));
    EXPECT_EQ(m_error.ToString(), "/dev/zero: is a character device, not a regular file");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_EQ(m_dir.Entries(), (std::set<std::string>{"pipe.m0"}));
}

TEST_F(ConvertImageTest, ACancelledConversionLeavesNoTemporaryFileAndTheOldImage) {
    const std::string good = std::string(kS0) + "S30700002000AABB73\n" + kS7;
    ASSERT_TRUE(Convert(good));
    const std::string before = Image();
    WriteFile(m_dir / "main.m0", std::string(kS0) + S3Record(0x100, Bytes(4)) + "\n" + kS7);
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(ConvertImageFile(m_dir / "main.m0", m_imagePath, m_error, &cancel));
    EXPECT_EQ(m_error.reason, "conversion interrupted");
    EXPECT_EQ(Image(), before);
    EXPECT_EQ(m_dir.Entries(), (std::set<std::string>{"main.m0", "main.cp64"}));
}

TEST_F(ConvertImageTest, TheImageCheckAcceptsConvertedImagesAndRefusesWhatCanOnlyFail) {
    ASSERT_TRUE(Convert(std::string(kS0) + S3Record(0x100, Bytes(200)) + "\n" + S3Record(0x1C8, Bytes(200)) + "\n" + kS7));
    EXPECT_TRUE(CheckDownloadImage(m_imagePath, m_error)) << m_error.ToString();

    auto refused = [&](const std::string& content) {
        WriteFile(m_dir / "bad.cp64", content);
        EXPECT_FALSE(CheckDownloadImage(m_dir / "bad.cp64", m_error)) << content;
        return m_error.ToString();
    };
    const std::string bad = m_dir / "bad.cp64";
    EXPECT_EQ(refused(""), bad + ": the download image is empty");
    EXPECT_EQ(refused(std::string(kS0) + kS7), bad + ": no image blocks: not a download image");
    EXPECT_EQ(refused(std::string(kS0) + "S3000700002000AABB73\n"),
              bad + ": no termination record after the last image block: the image looks truncated");
    EXPECT_EQ(refused("S3000700002000AABB74\n" + std::string(kS7)), bad + ":1: image block checksum error");
    EXPECT_EQ(refused("S3000800002000AABB73\n" + std::string(kS7)),
              bad + ":1: image block length field does not match the line");
    EXPECT_EQ(refused("S30007000020G0AABB73\n" + std::string(kS7)),
              bad + ":1: image block line holds a character that is not a hexadecimal digit");
    EXPECT_FALSE(CheckDownloadImage(m_dir.Path(), m_error));
    EXPECT_EQ(m_error.reason, "is a directory, not a file");
}

TEST_F(ConvertImageTest, ImagePathIsCutAtTheFirstDotM0) {
    const std::string input = std::string(kS0) + "S30700002000AABB73\n" + kS7;
    ASSERT_TRUE(Convert(input, "a.m0/main.m0"));
    EXPECT_EQ(m_imagePath, m_dir / "a.cp64");
    EXPECT_TRUE(std::filesystem::is_regular_file(m_dir / "a.cp64"));
    EXPECT_EQ(m_dir.Entries(m_dir / "a.m0"), (std::set<std::string>{"main.m0"}));

    ASSERT_TRUE(Convert(input, "sw.m0.orig"));
    EXPECT_EQ(m_imagePath, m_dir / "sw.cp64");
}

TEST_F(ConvertImageTest, UpperCaseExtensionIsRefused) {
    m_imagePath = "previous.cp64";
    EXPECT_FALSE(Convert(std::string(kS0) + kS7, "PHONE.M0"));
    EXPECT_EQ(m_imagePath, "previous.cp64");
    EXPECT_EQ(m_error.ToString(), (m_dir / "PHONE.M0") + ": the file name does not contain \".m0\"");
    EXPECT_EQ(m_dir.Entries(), (std::set<std::string>{"PHONE.M0"}));
}

TEST_F(ConvertImageTest, MissingOrUnreadableInputIsRefused) {
    EXPECT_FALSE(ConvertImageFile(m_dir / "none.m0", m_imagePath, m_error));
    EXPECT_EQ(m_error.ToString(), (m_dir / "none.m0") + ": cannot open: No such file or directory");
    std::filesystem::create_directory(m_dir / "folder.m0");
    EXPECT_FALSE(ConvertImageFile(m_dir / "folder.m0", m_imagePath, m_error));
    EXPECT_EQ(m_error.line, 0);
    EXPECT_EQ(m_dir.Entries(), (std::set<std::string>{"folder.m0"}));
}

// Lines after the S3 run each close the open block and are copied as read; an S3 record after
// such a line opens a new block even when its address continues the previous record.
TEST_F(ConvertImageTest, LinesAfterTheRunAreCopiedAndCloseTheBlock) {
    const std::string count = "S5030002FA\n";
    ASSERT_TRUE(Convert(std::string(kS0) + S3Record(0x100, Bytes(4)) + "\n" + count +
                        S3Record(0x104, Bytes(4, 4)) + "\n" + "S70500000100F9\r\n" + "\n" +
                        "trailing text"))
        << m_error.ToString();
    const auto lines = ImageLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "S300090000010000010203EF\n");
    EXPECT_EQ(lines[1], count);
    EXPECT_EQ(lines[2].substr(0, 14), "S3000900000104");
    EXPECT_EQ(lines[3], "S70500000100F9\r\n");
    EXPECT_EQ(lines[4], "\n");
    EXPECT_EQ(lines[5], "trailing text");
}

TEST_F(ConvertImageTest, CrLfInputGivesLineFeedBlocks) {
    ASSERT_TRUE(Convert("S0030000FC\r\nS3090000100001020304DC\r\nS3090000100405060708C8\r\n"
                        "S70500001000EA\r\n"))
        << m_error.ToString();
    EXPECT_EQ(Image(), "S3000D000010000102030405060708BE\nS70500001000EA\r\n");
}

TEST_F(ConvertImageTest, TerminationRecordWithoutLineEndIsCopiedAsItStands) {
    ASSERT_TRUE(Convert("S3090000100001020304DC\nS70500001000EA"));
    EXPECT_EQ(Image(), "S300090000100001020304DC\nS70500001000EA");
}

TEST_F(ConvertImageTest, LinesLongerThanTheReadBufferAreHandledWhole) {
    // "S3S3S3...": wherever such a line is split into pieces, a piece starts with "S3"; no
    // piece but the line's first may be taken for a record.
    std::string longLine = "S0";
    for (int i = 0; i < 1500000; ++i) longLine += "S3";
    longLine += "\n";
    const std::string record = S3Record(0x2000, Bytes(8)) + "\n";
    ASSERT_TRUE(Convert(longLine + record + kS7 + longLine)) << m_error.ToString();
    const std::string image = Image();
    ASSERT_EQ(image.size(), record.size() + 2 + std::string(kS7).size() + longLine.size());
    EXPECT_EQ(image.substr(image.size() - longLine.size()), longLine);

    std::string longRecord = S3Record(0x2000, Bytes(8));
    longRecord += std::string(3000000, '0') + "\n";
    EXPECT_FALSE(Convert(record + longRecord + kS7));
    EXPECT_EQ(m_error.line, 2);
    EXPECT_EQ(m_error.reason, "S3 record is longer than its count announces");
}

TEST_F(ConvertImageTest, EachKindOfCorruptRecordIsRejectedWithLineAndReason) {
    for (const test::InvalidInput& input : test::InvalidInputs()) {
        SCOPED_TRACE(input.name);
        // An image from an earlier conversion stays as it was.
        const std::string previous = "S3000D000010000102030405060708BE\nS70500001000EA\n";
        WriteFile(m_dir / "main.cp64", previous);
        m_imagePath = "kept";
        EXPECT_FALSE(Convert(input.content));
        EXPECT_EQ(m_error.file, m_dir / "main.m0");
        EXPECT_EQ(m_error.line, input.line);
        EXPECT_EQ(m_error.reason, input.reason);
        EXPECT_EQ(m_imagePath, "kept");
        EXPECT_EQ(Image(), previous);
        EXPECT_EQ(m_dir.Entries(), (std::set<std::string>{"main.m0", "main.cp64"}));
    }
}

TEST_F(ConvertImageTest, EveryNonDigitIsFoundWhereverItStands) {
    // Characters just outside the digit and letter ranges, and bytes with the top bit set
    // (whose low 7 bits are digits), at every position of a long record.
    const std::string record = S3Record(0x12345678, Bytes(250, 0x9A));
    const std::string nonDigits = std::string("/:@G`g \x80\xB1\xC6\xE1\xFF", 12) + '\0';
    for (size_t column = 3; column <= record.size(); column += (column < 40 ? 1 : 7)) {
        const char bad = nonDigits[column % nonDigits.size()];
        std::string line = record;
        line[column - 1] = bad;
        SCOPED_TRACE("column " + std::to_string(column));
        ASSERT_FALSE(Convert(line + "\n" + kS7));
        EXPECT_EQ(m_error.line, 1);
        EXPECT_NE(m_error.reason.find("at column " + std::to_string(column) + " "), std::string::npos)
            << m_error.reason;
    }
}

TEST_F(ConvertImageTest, FailureToReplaceTheImageLeavesNoTemporaryFile) {
    // The image's name is taken by a folder: the new image cannot be renamed over it.
    std::filesystem::create_directory(m_dir / "main.cp64");
    WriteFile(m_dir / "main.cp64/keep", "x");
    EXPECT_FALSE(Convert(std::string("S3090000100001020304DC\n") + kS7));
    EXPECT_EQ(m_error.file, m_dir / "main.cp64");
    EXPECT_EQ(m_error.line, 0);
    EXPECT_EQ(m_error.reason.rfind("cannot replace: ", 0), 0u) << m_error.reason;
    EXPECT_EQ(m_dir.Entries(), (std::set<std::string>{"main.m0", "main.cp64"}));
    EXPECT_EQ(ReadFile(m_dir / "main.cp64/keep"), "x");
}

TEST_F(ConvertImageTest, ReaderOfTheOldImageKeepsReadingItWhole) {
    const std::string old = "S3000D000010000102030405060708BE\nS70500001000EA\n";
    WriteFile(m_dir / "main.cp64", old);
    const int fd = ::open((m_dir / "main.cp64").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    char first[8];
    ASSERT_EQ(::read(fd, first, sizeof first), 8);

    ASSERT_TRUE(Convert(S3Record(0x4000, Bytes(200)) + "\n" + kS7));
    EXPECT_NE(Image(), old);

    std::string rest(old.size(), '\0');
    EXPECT_EQ(::read(fd, rest.data(), rest.size()), static_cast<ssize_t>(old.size() - 8));
    ::close(fd);
    EXPECT_EQ(std::string(first, 8) + rest.substr(0, old.size() - 8), old);
}

TEST_F(ConvertImageTest, NewImageGetsTheUsualFileMode) {
    ASSERT_TRUE(Convert(std::string(kS0) + "S30700002000AABB73\n" + kS7));
    const mode_t mask = ::umask(022);
    ::umask(mask);
    struct stat info {};
    ASSERT_EQ(::stat(m_imagePath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

}  // namespace
}  // namespace tarvo
