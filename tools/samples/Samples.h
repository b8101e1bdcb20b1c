// Sample files for a station without real handsets: a monitor (S-records and its map with the
// entry point) and main software files of any size. Used by `tarvo-cli demo`, the tests and the
// benchmarks; every record they write carries a correct checksum.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo::samples {

// Writes "monitor_ul_bs.m0" (about `bytes` bytes of code as S3 records, then S7) and
// "monitor_ul_bs.map" (whose "ENTRY POINT SYMBOL" line names `entry`) into `folder`.
// False with `error` naming the file on failure.
bool WriteMonitor(const std::string& folder, std::string& error, uint32_t entry = 0x00080100,
                  uint32_t bytes = 2048);

struct MainSoftwareShape {
    uint64_t dataBytes = 128 * 1024;  // total data bytes
    int recordBytes = 32;             // data bytes per S3 record (1..250)
    uint64_t gapEvery = 0;            // an address gap after this many bytes (0: none)
    uint32_t gapBytes = 256;          // size of that gap
    uint32_t baseAddress = 0x01000000;
    uint32_t seed = 1;                // data pattern
};

// Writes a main software file: an S0 header, S3 records of the given shape (pseudo-random
// data), an S7 record.
bool WriteMainSoftware(const std::string& path, const MainSoftwareShape& shape, std::string& error);

}  // namespace tarvo::samples
