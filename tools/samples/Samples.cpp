#include "tools/samples/Samples.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tarvo::samples {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Appends one S-record: type, count, address (addressBytes), data, checksum, line feed.
int FormatRecord(char* out, char type, uint32_t address, int addressBytes, const uint8_t* data, int n)
{
    static const char kHex[] = "0123456789ABCDEF";
    char* p = out;
    *p++ = 'S';
    *p++ = type;
    unsigned count = static_cast<unsigned>(addressBytes + n + 1);
    unsigned sum = count;
    auto put = [&](unsigned byte) {
        *p++ = kHex[(byte >> 4) & 0xF];
        *p++ = kHex[byte & 0xF];
    };
    put(count);
    for (int i = addressBytes - 1; i >= 0; --i) {
        unsigned byte = (address >> (8 * i)) & 0xFF;
        sum += byte;
        put(byte);
    }
    for (int i = 0; i < n; ++i) {
        sum += data[i];
        put(data[i]);
    }
    put(~sum & 0xFF);
    *p++ = '\n';
    return static_cast<int>(p - out);
}

uint32_t NextRandom(uint32_t& state)
{
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

bool Fail(std::string& error, const std::string& path)
{
    error = path + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool WriteMonitor(const std::string& folder, std::string& error, uint32_t entry, uint32_t bytes)
{
    const std::string m0 = folder + "/monitor_ul_bs.m0";
    const std::string map = folder + "/monitor_ul_bs.map";
    {
        FilePtr f(std::fopen(m0.c_str(), "w"));
        if (!f)
            return Fail(error, m0);
        char line[600];
        const uint8_t header[] = {'m', 'o', 'n', 'i', 't', 'o', 'r'};
        std::fwrite(line, 1, FormatRecord(line, '0', 0, 2, header, sizeof header), f.get());
        uint32_t state = 0x1234567u;
        uint8_t data[32];
        for (uint32_t done = 0; done < bytes; done += sizeof data) {
            for (uint8_t& b : data)
                b = static_cast<uint8_t>(NextRandom(state));
            std::fwrite(line, 1, FormatRecord(line, '3', entry - 0x100 + done, 4, data, sizeof data), f.get());
        }
        std::fwrite(line, 1, FormatRecord(line, '7', entry, 4, nullptr, 0), f.get());
        if (std::ferror(f.get()))
            return Fail(error, m0);
    }
    FilePtr f(std::fopen(map.c_str(), "w"));
    if (!f)
        return Fail(error, map);
    std::fprintf(f.get(),
                 "Sample monitor link map\n"
                 "\n"
                 "OUTPUT FILE: monitor_ul_bs.m0\n"
                 "ENTRY POINT SYMBOL: _monitor_start  %08X\n"
                 "\n"
                 "SECTION  ADDRESS   SIZE\n"
                 ".text    %08X  %08X\n",
                 entry, entry - 0x100, bytes);
    if (std::ferror(f.get()))
        return Fail(error, map);
    return true;
}

bool WriteMainSoftware(const std::string& path, const MainSoftwareShape& shape, std::string& error)
{
    if (shape.recordBytes < 1 || shape.recordBytes > 250) {
        error = path + ": record size must be 1..250 data bytes";
        return false;
    }
    auto buffer = std::make_unique<char[]>(1 << 16);  // declared first: outlives the stream
    FilePtr f(std::fopen(path.c_str(), "w"));
    if (!f)
        return Fail(error, path);
    std::setvbuf(f.get(), buffer.get(), _IOFBF, 1 << 16);
    char line[600];
    const uint8_t header[] = {'t', 'a', 'r', 'v', 'o'};
    std::fwrite(line, 1, FormatRecord(line, '0', 0, 2, header, sizeof header), f.get());
    uint32_t state = shape.seed ? shape.seed : 1;
    uint8_t data[250];
    uint32_t address = shape.baseAddress;
    uint64_t sinceGap = 0;
    for (uint64_t done = 0; done < shape.dataBytes;) {
        int n = static_cast<int>(std::min<uint64_t>(shape.recordBytes, shape.dataBytes - done));
        for (int i = 0; i < n; ++i)
            data[i] = static_cast<uint8_t>(NextRandom(state) >> 11);
        std::fwrite(line, 1, FormatRecord(line, '3', address, 4, data, n), f.get());
        address += static_cast<uint32_t>(n);
        done += static_cast<uint64_t>(n);
        sinceGap += static_cast<uint64_t>(n);
        if (shape.gapEvery && sinceGap >= shape.gapEvery) {
            address += shape.gapBytes;
            sinceGap = 0;
        }
    }
    std::fwrite(line, 1, FormatRecord(line, '7', shape.baseAddress, 4, nullptr, 0), f.get());
    std::fflush(f.get());
    if (std::ferror(f.get()))
        return Fail(error, path);
    return true;
}

}  // namespace tarvo::samples
