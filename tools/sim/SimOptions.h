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
    bool verbose = false;
    bool help = false;
};

// Applies one fault switch, "NAME" or "NAME=VALUE", to `faults`. False with `error` naming
// the switch and what is wrong with it.
bool ApplyFault(const std::string& option, SimFaults& faults, std::string& error);

// Parses the arguments after the program name. False with `error` on a usage error.
bool ParseCommandLine(const std::vector<std::string>& args, ProgramOptions& options,
                      std::string& error);

// The --help text, fault list included.
std::string UsageText();

}  // namespace tarvo::sim
