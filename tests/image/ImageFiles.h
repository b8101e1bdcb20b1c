// Helpers for tests of the image converter: a temporary folder, whole-file reads and writes,
// and S3 records built with a correct count and checksum.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace tarvo::test {

// A fresh folder under /tmp (or $TMPDIR), removed with everything in it.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                              "/tarvo-image-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        m_path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

    // Names of the entries of `folder` (default: this folder).
    std::set<std::string> Entries(const std::string& folder = {}) const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.empty() ? m_path : folder))
            names.insert(entry.path().filename().string());
        return names;
    }

private:
    std::string m_path;
};

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void AppendHexByte(std::string& out, unsigned byte, bool lowerCase = false) {
    const char* digits = lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
    out += digits[(byte >> 4) & 0xF];
    out += digits[byte & 0xF];
}

// "S3" record line (no line end) for `data` at `address`, with a correct count and checksum.
// `lowerCase` writes the address and data digits in lower case.
inline std::string S3Record(uint32_t address, const std::vector<uint8_t>& data,
                            bool lowerCase = false) {
    std::string line = "S3";
    const unsigned count = static_cast<unsigned>(data.size()) + 5;
    unsigned sum = count;
    AppendHexByte(line, count);
    for (int shift = 24; shift >= 0; shift -= 8) {
        AppendHexByte(line, (address >> shift) & 0xFF, lowerCase);
        sum += (address >> shift) & 0xFF;
    }
    for (uint8_t byte : data) {
        AppendHexByte(line, byte, lowerCase);
        sum += byte;
    }
    AppendHexByte(line, ~sum & 0xFF);
    return line;
}

// `n` bytes counting up from `first`.
inline std::vector<uint8_t> Bytes(size_t n, uint8_t first = 0) {
    std::vector<uint8_t> data(n);
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(first + i);
    return data;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size() - 1;
        lines.push_back(text.substr(start, end - start + 1));
        start = end + 1;
    }
    return lines;
}

}  // namespace tarvo::test
