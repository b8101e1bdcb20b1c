// SHA-256 of files, for the record's main_sha256 and image_sha256.
//
// FileDigests remembers the digest of each file by path, size, modification time and inode,
// so the station hashes an image once, not once per run.
//
// Threading: Sha256File is reentrant; FileDigests is safe to use from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace tarvo::record {

// Lower-case hex SHA-256 of the file at `path`; false (and `error` set) when it cannot be read.
bool Sha256File(const std::string& path, std::string& hex, std::string& error);
// Lower-case hex SHA-256 of `size` bytes.
std::string Sha256Hex(const void* data, std::size_t size);

class FileDigests {
public:
    // The digest of `path` and its size in bytes; false when the file cannot be read.
    bool Get(const std::string& path, std::string& hex, int64_t& bytes);

private:
    struct Entry {
        int64_t size = 0;
        int64_t mtimeNs = 0;
        uint64_t inode = 0;
        std::string hex;
    };
    std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
};

}  // namespace tarvo::record
