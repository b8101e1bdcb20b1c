// Configuration of the simulated handset: which resident loader it has, how fast its wire is,
// how long its flash erase takes, and one switch per failure it can be told to show.
//
// Plain values; copied into the simulator when it is created. Times are the handset's own
// (unscaled): the simulator divides every delay by `timeScale`.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tarvo::sim {

enum class Loader {
    Bootloader,   // identifies as type 2; needs the monitor loaded (CW 9) and started (CW 10)
    Flashloader,  // identifies as type 1; erases and downloads at once
};

// A pair of 16-bit checksums forced into a confirmation.
struct ForcedSums {
    uint16_t value1 = 0;
    uint16_t value2 = 0;
};

// One switch per failure. Zero / false / empty everywhere: a well-behaved handset.
// Block numbers count image blocks from 1 within one download.
struct SimFaults {
    // Identify (CW 0).
    uint8_t identifyResult = 0;        // not 0: answer [0, R]
    bool identifyShort = false;        // answer [0, 0, type, v1]: one byte short
    int identifyCommandWord = -1;      // 0..255: answer well formed for this word instead of 0
    int identifySilent = 0;            // ignore the first N identifies (handset inserted later)
    bool identifyNever = false;        // never answer an identify
    int hangupAfterIdentify = 0;       // stay silent, hang up when the Nth identify arrives

    // Monitor load (CW 9) and start (CW 10), bootloader only.
    bool monitorUnconfirmed = false;   // no CW 9 confirmation after the termination record
    bool monitorCorrupt = false;       // one byte lands wrong in RAM: file and RAM sums differ
    std::optional<ForcedSums> monitorSums;  // the CW 9 confirmation carries these values
    bool runUnconfirmed = false;       // CW 10 is ignored: no confirmation, monitor not started

    // Erase (CW 4).
    uint8_t eraseResult = 0;           // not 0: answer [4, R] and leave the flash as it is
    bool eraseUnconfirmed = false;     // erase the flash but never confirm

    // Image blocks after CW 5.
    int blockUnacked = 0;              // block K gets no acknowledgement
    int blockDelayIndex = 0;           // block K is acknowledged late (0: every block)
    std::chrono::milliseconds blockDelay{0};
    int blockCorrupt = 0;              // block K is written to flash with one bit flipped
    int hangupAfterBlock = 0;          // hang up once block K has arrived, before its ack

    // Final CW 5 confirmation (after the image's termination line).
    bool finalMissing = false;         // no final confirmation
    bool finalShort = false;           // 5-byte payload [5, 0, v1 hi, v1 lo, v2 hi]
    int finalCommandWord = -1;         // 0..255: a confirmation well formed for this word
    uint8_t finalResult = 0;           // not 0: answer [5, R]
    std::optional<ForcedSums> finalSums;  // the final confirmation carries these values

    // Junk (never 0xAA) written before every frame the handset sends.
    int garbageBytes = 0;
};

struct SimConfig {
    Loader loader = Loader::Bootloader;
    // Identify data: bootloader 3.12 is {3, 12}; a flashloader 1.2.5 is {1, 0x25}.
    uint8_t version1 = 3;
    uint8_t version2 = 12;
    // What the loaded monitor reports when asked to identify (as a flashloader, type 1).
    uint8_t monitorVersion1 = 1;
    uint8_t monitorVersion2 = 0x00;

    // Wire pacing in bits per second (10 bits per byte, both directions); 0: as fast as the
    // pseudo-terminal goes.
    double baud = 0;
    // Every delay of the handset (erase, acknowledgement delays, wire pacing) runs this many
    // times faster. Must be > 0.
    double timeScale = 1.0;
    // How long an erase takes before it is confirmed.
    std::chrono::milliseconds eraseTime{1000};

    // Optional symbolic link to the device, created at start and removed at the end.
    std::string linkPath;

    // Bounds of what the simulator keeps for tests: the first `wireLogLimit` bytes of each
    // direction, and the newest events up to `eventLogLimit` bytes of event data.
    std::size_t wireLogLimit = 8u << 20;
    std::size_t eventLogLimit = 16u << 20;

    SimFaults faults;
};

}  // namespace tarvo::sim
