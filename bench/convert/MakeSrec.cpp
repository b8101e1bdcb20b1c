// Writes a main software file for the conversion benchmark: an S0 header, S3 records of 32
// data bytes covering SIZE MiB of pseudo-random data from address 0x08000000, with a 4 KiB gap
// in the addresses after every MiB, and an S7 termination record.
//
// usage: tarvo-bench-make-srec OUTPUT [SIZE_MIB]   (default 16)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/samples/Samples.h"

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
    tarvo::samples::MainSoftwareShape shape;
    shape.dataBytes = static_cast<uint64_t>(mebibytes) << 20;
    shape.recordBytes = 32;
    shape.gapEvery = 1u << 20;
    shape.gapBytes = 4096;
    shape.baseAddress = 0x08000000;
    std::string error;
    if (!tarvo::samples::WriteMainSoftware(argv[1], shape, error)) {
        std::fprintf(stderr, "tarvo-bench-make-srec: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
