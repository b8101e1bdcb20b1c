// Fuzzes the line converter and the image converter with arbitrary input.
//
// Input: the first byte chooses a mode, the rest is the main software file. In repair mode
// the S3 lines made of hexadecimal digits get a correct count and checksum and the file gets a
// termination record, so that most inputs convert and the block building is exercised; in raw
// mode the file is taken as it is, which exercises the validation. Whenever a conversion
// succeeds, every image block must be self-checking and the image must carry exactly the
// (address, byte) pairs of the input's S3 records, in order.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/ImageConverter.h"

namespace {

// A folder for one input's files, removed with them afterwards (the fuzzer may end the
// process without running static destructors). In memory when the system has /dev/shm, so
// that the converter's fdatasync costs nothing.
class FuzzFolder {
public:
    FuzzFolder() {
        std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        pattern += "/tarvo-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        m_path = pattern;
    }
    ~FuzzFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

// Lines split at line feeds, without the line feed and without a CR before it.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

unsigned Byte(std::string_view text, size_t at) {
    return static_cast<unsigned>(Hex(text[at]) * 16 + Hex(text[at + 1]));
}

// Gives every S3 line that consists of an even number (at least 12) of hexadecimal digits a
// correct count and checksum, and ends the file with a termination record.
std::string Repair(std::string text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t stop = end;
        if (stop > start && text[stop - 1] == '\r') --stop;
        const size_t digits = stop - start >= 2 ? stop - start - 2 : 0;
        bool hex = text.compare(start, 2, "S3") == 0 && digits >= 12 && digits % 2 == 0 &&
                   digits / 2 - 1 <= 255;
        for (size_t i = start + 2; hex && i < stop; ++i) hex = Hex(text[i]) >= 0;
        if (hex) {
            const unsigned count = static_cast<unsigned>(digits / 2 - 1);
            static constexpr char kDigits[] = "0123456789ABCDEF";
            text[start + 2] = kDigits[count >> 4];
            text[start + 3] = kDigits[count & 0xF];
            unsigned sum = 0;
            for (size_t at = start + 2; at + 2 < stop; at += 2) sum += Byte(text, at);
            const unsigned checksum = ~sum & 0xFF;
            text[stop - 2] = kDigits[checksum >> 4];
            text[stop - 1] = kDigits[checksum & 0xF];
        }
        start = end + 1;
    }
    if (!text.empty() && text.back() != '\n') text += '\n';
    return text + "S9030000FC\n";
}

using Pairs = std::vector<std::pair<uint32_t, unsigned>>;

void AddPairs(Pairs& pairs, std::string_view line, size_t addressAt, size_t dataAt, size_t dataEnd) {
    uint32_t address = 0;
    for (size_t i = 0; i < 4; ++i) address = (address << 8) | Byte(line, addressAt + 2 * i);
    for (size_t at = dataAt; at < dataEnd; at += 2, ++address) pairs.emplace_back(address, Byte(line, at));
}

void CheckImage(std::string_view input, std::string_view image) {
    Pairs expected;
    for (std::string_view line : Lines(input)) {
        if (line.substr(0, 2) != "S3") continue;
        // A successful conversion validated this record.
        AddPairs(expected, line, 4, 12, line.size() - 2);
    }
    Pairs actual;
    for (std::string_view line : Lines(image)) {
        if (line.substr(0, 2) != "S3") continue;
        Check(line.size() >= 2 + 4 + 8 + 2, "block line too short");
        for (char c : line.substr(2)) Check(Hex(c) >= 0, "block line holds a non-hex character");
        const unsigned length = Byte(line, 2) * 256 + Byte(line, 4);
        Check(line.size() == 2 + 4 + 2 * size_t{length}, "length field does not match the line");
        Check(length >= 5 && length - 5 <= 32752, "block length out of range");
        unsigned sum = 0;
        for (size_t at = 2; at < line.size(); at += 2) sum += Byte(line, at);
        Check((sum & 0xFF) == 0xFF, "block line is not self-checking");
        AddPairs(actual, line, 6, 14, line.size() - 2);
    }
    Check(actual == expected, "image does not carry the input's bytes");
}

void FuzzConvertLine(const uint8_t* data, size_t size) {
    const size_t length = std::min(size, static_cast<size_t>(tarvo::kMaxLineChars));
    std::vector<char> line(data, data + length);
    line.push_back('\0');
    // Exactly the documented size, so that the sanitizer catches any write past it.
    std::vector<uint8_t> bytes(2 + length / 2);
    uint16_t count = 0;
    tarvo::ConvertLine(line.data(), bytes.data(), count);
    Check(count <= bytes.size(), "ConvertLine count beyond its buffer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzConvertLine(data, size);
    if (size == 0) return 0;
    const FuzzFolder folder;

    std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1) content = Repair(std::move(content));
    const std::string mainPath = folder.Path() + "/main.m0";
    {
        std::ofstream out(mainPath, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out.good()) std::abort();
    }
    std::string imagePath;
    tarvo::ConvertError error;
    if (tarvo::ConvertImageFile(mainPath, imagePath, error)) {
        Check(imagePath == folder.Path() + "/main.cp64", "unexpected image path");
        std::ifstream in(imagePath, std::ios::binary);
        const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        CheckImage(content, image);
    } else {
        Check(!error.reason.empty() && error.reason.find('\n') == std::string::npos,
              "error without a one-line reason");
    }
    // Nothing but the input and the image may remain.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.Path()))
        ++entries;
    Check(entries <= 2, "a temporary file was left behind");
    return 0;
}
