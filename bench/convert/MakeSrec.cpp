// Writes a main software file for the conversion benchmark: an S0 header, S3 records of 32
// data bytes covering SIZE MiB of pseudo-random data from address 0x08000000, with a 4 KiB gap
// in the addresses after every MiB, and an S7 termination record.
//
// usage: tarvo-bench-make-srec OUTPUT [SIZE_MIB]   (default 16)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void PutByte(std::string& out, unsigned byte, unsigned& sum) {
    out += kHex[(byte >> 4) & 0xF];
    out += kHex[byte & 0xF];
    sum += byte;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: tarvo-bench-make-srec OUTPUT [SIZE_MIB]\n");
        return 2;
    }
    const long mebibytes = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 16;
    if (mebibytes <= 0 || mebibytes > 1024) {
        std::fprintf(stderr, "tarvo-bench-make-srec: SIZE_MIB must be 1..1024\n");
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    constexpr unsigned kRecordBytes = 32;
    constexpr uint32_t kMiB = 1u << 20;
    uint64_t random = 0x9E3779B97F4A7C15ull;
    std::string line;
    std::fputs("S00E0000746172766F2062656E6368A5\n", out);
    uint32_t address = 0x08000000;
    for (long mib = 0; mib < mebibytes; ++mib) {
        for (uint32_t offset = 0; offset < kMiB; offset += kRecordBytes) {
            line.assign("S3");
            unsigned sum = 0;
            PutByte(line, kRecordBytes + 5, sum);
            const uint32_t at = address + offset;
            for (int shift = 24; shift >= 0; shift -= 8) PutByte(line, (at >> shift) & 0xFF, sum);
            for (unsigned i = 0; i < kRecordBytes; ++i) {
                random ^= random << 13;  // xorshift64
                random ^= random >> 7;
                random ^= random << 17;
                PutByte(line, static_cast<unsigned>(random & 0xFF), sum);
            }
            unsigned ignored = 0;
            PutByte(line, ~sum & 0xFF, ignored);
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), out);
        }
        address += kMiB + 4096;  // the gap
    }
    std::fputs("S70508000000F2\n", out);
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
