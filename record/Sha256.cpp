#include "record/Sha256.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvo::record {

namespace {

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;

std::string Hex(const unsigned char* digest, unsigned int size)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (unsigned int i = 0; i < size; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 0xF];
    }
    return text;
}

// Closes the descriptor it owns.
struct OwnedFd {
    int fd = -1;
    ~OwnedFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

}  // namespace

std::string Sha256Hex(const void* data, std::size_t size)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr) != 1)
        return {};
    return Hex(digest, length);
}

bool Sha256Fd(int fd, const std::string& name, std::string& hex, std::string& error)
{
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        error = name + ": SHA-256 is not available from libcrypto";
        return false;
    }
    std::vector<unsigned char> buffer(64 * 1024);
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = name + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0)
            break;
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(n)) != 1) {
            error = name + ": SHA-256 failed";
            return false;
        }
        offset += n;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        error = name + ": SHA-256 failed";
        return false;
    }
    hex = Hex(digest, length);
    return true;
}

bool Sha256File(const std::string& path, std::string& hex, std::string& error)
{
    // Non-blocking: a FIFO must not hold the caller until a writer appears.
    OwnedFd file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    return Sha256Fd(file.fd, path, hex, error);
}

bool FileDigests::Get(const std::string& path, std::string& hex, int64_t& bytes)
{
    OwnedFd file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    return file.fd >= 0 && Get(file.fd, path, hex, bytes);
}

bool FileDigests::Get(int fd, const std::string& name, std::string& hex, int64_t& bytes)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const Key key{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), static_cast<int64_t>(st.st_size),
                  int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    {
        std::lock_guard lock(m_mutex);
        if (auto it = m_entries.find(key); it != m_entries.end()) {
            hex = it->second;
            bytes = st.st_size;
            return true;
        }
    }
    std::string error;
    if (!Sha256Fd(fd, name, hex, error))
        return false;
    // A file written while it was hashed has a digest of no one version: not remembered.
    struct stat after {};
    if (::fstat(fd, &after) != 0 || after.st_size != st.st_size || after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != st.st_mtim.tv_nsec)
        return false;
    bytes = st.st_size;
    std::lock_guard lock(m_mutex);
    m_entries[key] = hex;
    return true;
}

}  // namespace tarvo::record
