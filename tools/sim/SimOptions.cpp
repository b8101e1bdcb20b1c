#include "tools/sim/SimOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>

#include "tools/cmdline/CommandLine.h"

namespace tarvo::sim {

namespace {

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t& value, int base = 10)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || v > max)
        return false;
    value = v;
    return true;
}

bool ParseDouble(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

// "1A2B:1A2C", hexadecimal.
bool ParseSums(const std::string& text, ForcedSums& sums)
{
    const auto colon = text.find(':');
    uint64_t v1 = 0, v2 = 0;
    if (colon == std::string::npos || !ParseUnsigned(text.substr(0, colon), 0xFFFF, v1, 16) ||
        !ParseUnsigned(text.substr(colon + 1), 0xFFFF, v2, 16))
        return false;
    sums.value1 = static_cast<uint16_t>(v1);
    sums.value2 = static_cast<uint16_t>(v2);
    return true;
}

enum class Value { None, Optional, Required };

struct FaultSwitch {
    const char* name;
    Value value;
    const char* valueName;     // in the help text
    const char* defaultValue;  // for Value::Optional
    const char* help;
    // Applies the value text; false when it is not valid.
    std::function<bool(const std::string&, SimFaults&)> apply;
};

bool Count(const std::string& v, int& out)
{
    uint64_t n = 0;
    if (!ParseUnsigned(v, std::numeric_limits<int>::max(), n) || n == 0)
        return false;
    out = static_cast<int>(n);
    return true;
}

bool Byte(const std::string& v, uint64_t min, uint8_t& out)
{
    uint64_t n = 0;
    if (!ParseUnsigned(v, 255, n) || n < min)
        return false;
    out = static_cast<uint8_t>(n);
    return true;
}

bool Word(const std::string& v, int& out)
{
    uint64_t n = 0;
    if (!ParseUnsigned(v, 255, n))
        return false;
    out = static_cast<int>(n);
    return true;
}

bool Millis(const std::string& v, std::chrono::milliseconds& out)
{
    uint64_t n = 0;
    if (!ParseUnsigned(v, 24ull * 3600 * 1000, n))
        return false;
    out = std::chrono::milliseconds(n);
    return true;
}

const std::vector<FaultSwitch>& Switches()
{
    static const std::vector<FaultSwitch> switches = {
        {"identify-result", Value::Optional, "R", "4",
         "answer identify with [0, R] (R 1..255, default 4)",
         [](const std::string& v, SimFaults& f) { return Byte(v, 1, f.identifyResult); }},
        {"identify-short", Value::None, "", "", "answer identify one byte short: [0, 0, type, v1]",
         [](const std::string&, SimFaults& f) { return f.identifyShort = true; }},
        {"identify-cw", Value::Optional, "N", "3",
         "answer identify as a well-formed confirmation of word N (default 3)",
         [](const std::string& v, SimFaults& f) { return Word(v, f.identifyCommandWord); }},
        {"identify-silent", Value::Required, "N", "",
         "ignore the first N identifies (a handset inserted later)",
         [](const std::string& v, SimFaults& f) { return Count(v, f.identifySilent); }},
        {"identify-never", Value::None, "", "", "never answer identify",
         [](const std::string&, SimFaults& f) { return f.identifyNever = true; }},
        {"hangup-after-identify", Value::Required, "N", "",
         "stay silent; hang up when the Nth identify arrives",
         [](const std::string& v, SimFaults& f) { return Count(v, f.hangupAfterIdentify); }},
        {"monitor-unconfirmed", Value::None, "", "",
         "load the monitor but send no CW 9 confirmation",
         [](const std::string&, SimFaults& f) { return f.monitorUnconfirmed = true; }},
        {"monitor-corrupt", Value::None, "", "",
         "store one monitor byte wrong (file and RAM sums differ)",
         [](const std::string&, SimFaults& f) { return f.monitorCorrupt = true; }},
        {"monitor-sums", Value::Required, "FILE:RAM", "",
         "confirm the monitor load with these sums in hexadecimal",
         [](const std::string& v, SimFaults& f) {
             ForcedSums s;
             if (!ParseSums(v, s))
                 return false;
             f.monitorSums = s;
             return true;
         }},
        {"run-unconfirmed", Value::None, "", "", "ignore the run command (CW 10)",
         [](const std::string&, SimFaults& f) { return f.runUnconfirmed = true; }},
        {"erase-result", Value::Optional, "R", "2",
         "refuse the erase with [4, R] (R 1..255, default 2)",
         [](const std::string& v, SimFaults& f) { return Byte(v, 1, f.eraseResult); }},
        {"erase-unconfirmed", Value::None, "", "", "erase the flash but never confirm it",
         [](const std::string&, SimFaults& f) { return f.eraseUnconfirmed = true; }},
        {"block-unacked", Value::Required, "K", "", "do not acknowledge image block K (from 1)",
         [](const std::string& v, SimFaults& f) { return Count(v, f.blockUnacked); }},
        {"ack-delay", Value::Required, "MS", "", "acknowledge every image block MS ms late",
         [](const std::string& v, SimFaults& f) {
             f.blockDelayIndex = 0;
             return Millis(v, f.blockDelay);
         }},
        {"block-delay", Value::Required, "K:MS", "", "acknowledge image block K MS ms late",
         [](const std::string& v, SimFaults& f) {
             const auto colon = v.find(':');
             return colon != std::string::npos && Count(v.substr(0, colon), f.blockDelayIndex) &&
                    Millis(v.substr(colon + 1), f.blockDelay);
         }},
        {"block-corrupt", Value::Required, "K", "",
         "program block K with one bit flipped (final sums differ)",
         [](const std::string& v, SimFaults& f) { return Count(v, f.blockCorrupt); }},
        {"hangup-after-block", Value::Required, "K", "",
         "hang up once block K has arrived, before its acknowledgement",
         [](const std::string& v, SimFaults& f) { return Count(v, f.hangupAfterBlock); }},
        {"final-missing", Value::None, "", "", "send no final CW 5 confirmation",
         [](const std::string&, SimFaults& f) { return f.finalMissing = true; }},
        {"final-short", Value::None, "", "", "send the final confirmation one byte short (5 bytes)",
         [](const std::string&, SimFaults& f) { return f.finalShort = true; }},
        {"final-cw", Value::Optional, "N", "4",
         "send a well-formed confirmation of word N instead (default 4)",
         [](const std::string& v, SimFaults& f) { return Word(v, f.finalCommandWord); }},
        {"final-result", Value::Optional, "R", "3",
         "send the final confirmation as [5, R] (R 1..255, default 3)",
         [](const std::string& v, SimFaults& f) { return Byte(v, 1, f.finalResult); }},
        {"final-sums", Value::Required, "V1:V2", "",
         "send these final checksums in hexadecimal (e.g. 1A2B:1A2C)",
         [](const std::string& v, SimFaults& f) {
             ForcedSums s;
             if (!ParseSums(v, s))
                 return false;
             f.finalSums = s;
             return true;
         }},
        {"garbage", Value::Optional, "N", "3",
         "write N junk bytes (never 0xAA) before every frame (default 3)",
         [](const std::string& v, SimFaults& f) {
             return Count(v, f.garbageBytes) && f.garbageBytes <= 4096;
         }},
    };
    return switches;
}

// "X.Y" (bootloader) or "X.Y.Z" (flashloader, Y and Z 0..15) into the two identify bytes.
bool ParseVersion(const std::string& text, bool flashloader, uint8_t& v1, uint8_t& v2)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto dot = text.find('.', start);
        parts.push_back(text.substr(start, dot - start));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    uint64_t a = 0, b = 0, c = 0;
    if (!flashloader) {
        if (parts.size() != 2 || !ParseUnsigned(parts[0], 255, a) ||
            !ParseUnsigned(parts[1], 255, b))
            return false;
        v1 = static_cast<uint8_t>(a);
        v2 = static_cast<uint8_t>(b);
        return true;
    }
    if (parts.size() != 3 || !ParseUnsigned(parts[0], 255, a) ||
        !ParseUnsigned(parts[1], 15, b) || !ParseUnsigned(parts[2], 15, c))
        return false;
    v1 = static_cast<uint8_t>(a);
    v2 = static_cast<uint8_t>((b << 4) | c);
    return true;
}

}  // namespace

bool ApplyFault(const std::string& option, SimFaults& faults, std::string& error)
{
    const auto eq = option.find('=');
    const std::string name = option.substr(0, eq);
    for (const FaultSwitch& s : Switches()) {
        if (name != s.name)
            continue;
        std::string value;
        if (eq == std::string::npos) {
            if (s.value == Value::Required) {
                error = "fault '" + name + "' needs a value";
                return false;
            }
            value = s.defaultValue;
        } else {
            if (s.value == Value::None) {
                error = "fault '" + name + "' takes no value";
                return false;
            }
            value = option.substr(eq + 1);
        }
        if (!s.apply(value, faults)) {
            error = "invalid value '" + value + "' for fault '" + name + "'";
            return false;
        }
        return true;
    }
    error = "unknown fault '" + name + "' (see --help for the list)";
    return false;
}

cmdline::OptionTable OptionsTable(ProgramOptions& options)
{
    SimConfig& config = options.config;
    cmdline::OptionTable table("tarvo-target-sim", "tarvo-target-sim [OPTION]...", "Usage: ");
    auto loader = [&options, &config](bool flash) {
        return [&options, &config, flash](const std::string& value) {
            const std::string name = flash ? "--flashloader" : "--bootloader";
            if (options.loaderGiven)
                return std::string("give only one of --bootloader and --flashloader");
            if (!ParseVersion(value, flash, config.version1, config.version2))
                return "invalid version '" + value + "' for " + name +
                       (flash ? " (expected X.Y.Z, X 0..255, Y and Z 0..15)" : " (expected X.Y, each 0..255)");
            config.loader = flash ? Loader::Flashloader : Loader::Bootloader;
            options.loaderGiven = true;
            return std::string();
        };
    };
    auto count = [](const char* name, uint64_t& target) {
        return [name, &target](const std::string& value) {
            if (!ParseUnsigned(value, std::numeric_limits<uint32_t>::max(), target))
                return "invalid value '" + value + "' for " + name;
            return std::string();
        };
    };
    table
        .Description("A simulated handset on a pseudo-terminal. Prints the device path (and the link) on\n"
                     "standard output, then answers a station until SIGINT/SIGTERM or --cycles downloads.\n\n")
        .Value("link", "PATH", "also make PATH a symbolic link to the device",
               [&config](const std::string& value) {
                   config.linkPath = value;
                   return value.empty() ? std::string("option --link needs a path") : std::string();
               })
        .Value("bootloader", "X.Y", "resident bootloader, version X.Y (default 3.12)", loader(false))
        .Value("flashloader", "X.Y.Z", "resident flashloader, version X.Y.Z (Y, Z 0..15)", loader(true))
        .Value("baud", "N", "pace both directions at N bit/s, 10 bits a byte (0: off)",
               [&config](const std::string& value) {
                   uint64_t baud = 0;
                   if (!ParseUnsigned(value, 100'000'000, baud))
                       return "invalid baud rate '" + value + "' (0 turns pacing off)";
                   config.baud = static_cast<double>(baud);
                   return std::string();
               })
        .Value("erase-ms", "N", "erase time in milliseconds (default 1000)",
               [&config](const std::string& value) {
                   return Millis(value, config.eraseTime) ? std::string()
                                                          : "invalid erase time '" + value + "' (milliseconds)";
               })
        .Value("time-scale", "F", "run every handset delay and the pacing F times faster",
               [&config](const std::string& value) {
                   return ParseDouble(value, config.timeScale) && config.timeScale > 0
                              ? std::string()
                              : "invalid time scale '" + value + "' (a number above 0)";
               })
        .Value("fault", "NAME[=VALUE]", "switch a failure on (repeatable), see below",
               [&config](const std::string& value) {
                   std::string error;
                   ApplyFault(value, config.faults, error);
                   return error;
               })
        .Value("cycles", "N", "end after N finished downloads",
               [&options](const std::string& value) {
                   return ParseUnsigned(value, std::numeric_limits<uint32_t>::max(), options.cycles)
                              ? std::string()
                              : "invalid cycle count '" + value + "'";
               })
        .Value("handsets", "N",
               "N handsets one after another on the --link name: each is\n"
               "unplugged (device and link disappear) --stay-ms after its\n"
               "download finished, the next plugged --away-ms later on a\n"
               "new device; ends after the last one",
               count("--handsets", options.handsets))
        .Value("stay-ms", "N", "how long a finished handset stays plugged (default 500)",
               count("--stay-ms", options.stayMs))
        .Value("away-ms", "N", "how long the link stays away between handsets (default 200)",
               count("--away-ms", options.awayMs))
        .Flag("version", "show the version", [&options] { options.version = true; })
        .Flag("verbose", "log every frame and line on standard error", [&options] { options.verbose = true; })
        .Alias('v', "verbose");
    return table;
}

bool ParseCommandLine(const std::vector<std::string>& args, ProgramOptions& options,
                      std::string& error)
{
    const cmdline::OptionTable table = OptionsTable(options);
    const cmdline::OptionTable::Result result = table.Parse(args);
    if (result.kind == cmdline::OptionTable::Result::Kind::Error) {
        error = result.error;
        return false;
    }
    if (result.kind == cmdline::OptionTable::Result::Kind::Help)
        options.help = true;
    if (!result.operands.empty()) {
        error = "unexpected argument '" + result.operands.front() + "'";
        return false;
    }
    if (options.handsets > 0 && options.config.linkPath.empty()) {
        error = "--handsets needs --link: the handsets come and go under that name";
        return false;
    }
    if (options.handsets > 0 && options.cycles > 0) {
        error = "give only one of --handsets and --cycles";
        return false;
    }
    return true;
}

std::string UsageLine()
{
    ProgramOptions options;
    return OptionsTable(options).Usage();
}

std::string UsageText()
{
    ProgramOptions options;
    std::string text = OptionsTable(options).Help() + "\nFaults:\n";
    for (const FaultSwitch& s : Switches()) {
        std::string left = std::string("  ") + s.name;
        if (s.value == Value::Required)
            left += std::string("=") + s.valueName;
        else if (s.value == Value::Optional)
            left += std::string("[=") + s.valueName + "]";
        if (left.size() < 28)
            left.resize(28, ' ');
        else
            left += "\n" + std::string(28, ' ');
        text += left + s.help + "\n";
    }
    text += "\nSignals: SIGUSR1 unplugs the handset (its device and link disappear), SIGUSR2\n"
            "plugs in a new one on a new device.\n"
            "\nExit status: 0 after a signal, the last cycle or handset, or a hang-up fault; 1 when\n"
            "the device cannot be made or fails; 2 on a usage error.\n";
    return text;
}

}  // namespace tarvo::sim
