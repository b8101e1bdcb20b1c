// SHA-256 of files, for the record's main_sha256 and image_sha256, computed by OpenSSL's
// libcrypto (EVP_Digest).
//
// FileDigests remembers the digest of each file by device, inode, size and modification time,
// so the station hashes an image once, not once per run; a file replaced or rewritten under the
// same path is hashed again.
//
// Threading: the functions are reentrant; FileDigests is safe to use from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace tarvo::record {

// Lower-case hex SHA-256 of the file at `path`; false (and `error` set) when it cannot be read.
bool Sha256File(const std::string& path, std::string& hex, std::string& error);
// The same of the open file `fd`, read from its start with pread (the descriptor's offset is
// left alone); `name` names the file in `error`.
bool Sha256Fd(int fd, const std::string& name, std::string& hex, std::string& error);
// Lower-case hex SHA-256 of `size` bytes.
std::string Sha256Hex(const void* data, std::size_t size);

class FileDigests {
public:
    // The digest of `path` and its size in bytes; false when the file cannot be read.
    bool Get(const std::string& path, std::string& hex, int64_t& bytes);
    // The digest and size of the open file `fd` (named `name` in errors).
    bool Get(int fd, const std::string& name, std::string& hex, int64_t& bytes);

private:
    // device, inode, size, modification time (ns)
    using Key = std::tuple<uint64_t, uint64_t, int64_t, int64_t>;
    std::mutex m_mutex;
    std::map<Key, std::string> m_entries;
};

}  // namespace tarvo::record
