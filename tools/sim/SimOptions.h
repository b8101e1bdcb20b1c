// The command line of tarvo-target-sim: the handset's loader and version, wire speed, erase
// time, time scale, fault switches, and when to end.
//
// Threading: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sim/SimConfig.h"

namespace tarvo::sim {

struct ProgramOptions {
    SimConfig config;
    uint64_t cycles = 0;  // end after this many finished downloads; 0: run until a signal
    // Handsets plugged one after another on the link: each is unplugged `stayMs` after its
    // download finished (its device and link disappear), and the next is plugged `awayMs`
    // later on a new device. 0: one handset that stays.
    uint64_t handsets = 0;
    uint64_t stayMs = 500;
    uint64_t awayMs = 200;
    bool verbose = false;
    bool help = false;
    bool version = false;
    bool loaderGiven = false;  // --bootloader or --flashloader was given
};

// Applies one fault switch, "NAME" or "NAME=VALUE", to `faults`. False with `error` naming
// the switch and what is wrong with it.
bool ApplyFault(const std::string& option, SimFaults& faults, std::string& error);

// Parses the arguments after the program name. False with `error` on a usage error.
bool ParseCommandLine(const std::vector<std::string>& args, ProgramOptions& options,
                      std::string& error);

// The --help text (from the same option table as the parser), fault list included.
std::string UsageText();
// "Usage: tarvo-target-sim [OPTION]...\n", printed after a usage error.
std::string UsageLine();

}  // namespace tarvo::sim
