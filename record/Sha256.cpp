#include "record/Sha256.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace tarvo::record {

namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

class Sha256 {
public:
    void Update(const unsigned char* data, std::size_t size)
    {
        m_total += size;
        while (size > 0) {
            std::size_t take = 64 - m_used;
            if (take > size)
                take = size;
            std::memcpy(m_block + m_used, data, take);
            m_used += take;
            data += take;
            size -= take;
            if (m_used == 64) {
                Compress();
                m_used = 0;
            }
        }
    }

    std::string Hex()
    {
        const uint64_t bits = m_total * 8;
        const unsigned char one = 0x80;
        Update(&one, 1);
        const unsigned char zero = 0;
        while (m_used != 56)
            Update(&zero, 1);
        unsigned char length[8];
        for (int i = 0; i < 8; ++i)
            length[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
        Update(length, 8);
        char text[65];
        for (int i = 0; i < 8; ++i)
            std::snprintf(text + 8 * i, 9, "%08x", m_state[i]);
        return text;
    }

private:
    void Compress()
    {
        uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = (uint32_t(m_block[4 * i]) << 24) | (uint32_t(m_block[4 * i + 1]) << 16) |
                   (uint32_t(m_block[4 * i + 2]) << 8) | uint32_t(m_block[4 * i + 3]);
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
        uint32_t e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
        for (int i = 0; i < 64; ++i) {
            const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
            const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        m_state[0] += a;
        m_state[1] += b;
        m_state[2] += c;
        m_state[3] += d;
        m_state[4] += e;
        m_state[5] += f;
        m_state[6] += g;
        m_state[7] += h;
    }

    uint32_t m_state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned char m_block[64] = {};
    std::size_t m_used = 0;
    uint64_t m_total = 0;
};

}  // namespace

std::string Sha256Hex(const void* data, std::size_t size)
{
    Sha256 sha;
    sha.Update(static_cast<const unsigned char*>(data), size);
    return sha.Hex();
}

bool Sha256File(const std::string& path, std::string& hex, std::string& error)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    Sha256 sha;
    unsigned char buffer[64 * 1024];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        sha.Update(buffer, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        error = path + ": read error";
        return false;
    }
    hex = sha.Hex();
    return true;
}

bool FileDigests::Get(const std::string& path, std::string& hex, int64_t& bytes)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    const int64_t mtime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_entries.find(path);
        if (it != m_entries.end() && it->second.size == st.st_size && it->second.mtimeNs == mtime &&
            it->second.inode == st.st_ino) {
            hex = it->second.hex;
            bytes = it->second.size;
            return true;
        }
    }
    std::string error;
    if (!Sha256File(path, hex, error))
        return false;
    bytes = st.st_size;
    std::lock_guard lock(m_mutex);
    m_entries[path] = Entry{st.st_size, mtime, static_cast<uint64_t>(st.st_ino), hex};
    return true;
}

}  // namespace tarvo::record
