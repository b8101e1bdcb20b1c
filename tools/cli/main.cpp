// tarvo-cli: dispatches to one subcommand per first argument.
#include <poll.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/cli/Commands.h"

namespace tarvo::cli {

namespace {

struct Subcommand {
    const char* name;
    const char* arguments;  // shown in the usage after the name
    const char* summary;
    int (*run)(int argc, char** argv);
};

// Adding a subcommand: one entry here and its Run function in a file of its own.
constexpr Subcommand kSubcommands[] = {
    {"convert", "FILE", "convert a main software file (.m0) into its download image (.cp64)",
     RunConvert},
    {"flash", "--image F|--main F [--port N[=DEV]]...", "flash the image into the handsets on several ports at once",
     RunFlash},
    {"demo", "[--json]", "flash a sample image into eight simulated handsets", RunDemo},
    {"ports", "", "list the serial devices and the station's port mapping", RunPorts},
    {"doctor", "[--port N[=DEV]]... [--json]", "check the ports and the station's files before production",
     RunDoctor},
    {"records", "[summary|push] [...]", "list, summarise or forward the production record", RunRecords},
};

// Every port needs a few descriptors (its device, the channel's wake-up descriptors); with up to
// 255 ports the usual soft limit of 1024 may not be enough, so it is raised to the hard limit.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void PrintHelp(std::FILE* out) {
    std::fputs("usage: tarvo-cli COMMAND [ARGUMENTS]\n\ncommands:\n", out);
    for (const Subcommand& command : kSubcommands) {
        std::string synopsis = std::string(command.name) + " " + command.arguments;
        std::fprintf(out, "  %-20s %s\n", synopsis.c_str(), command.summary);
    }
    std::fputs("  help                 show this text\n", out);
    std::fputs("  --version            show the version\n", out);
}

}  // namespace

int UsageError(const char* usage) {
    std::fprintf(stderr, "usage: tarvo-cli %s\n", usage);
    return kExitUsage;
}

int Failure(const std::string& message) {
    std::string line = "error: ";
    for (char c : message) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            line += escaped;
        } else {
            line += c;
        }
    }
    line += '\n';
    std::fputs(line.c_str(), stderr);
    return kExitFailure;
}

void CheckOutput() {
    static bool reported = false;  // one line per process, however many writes fail
    errno = 0;
    const bool flushFailed = std::fflush(stdout) != 0;
    if (!flushFailed && !std::ferror(stdout))
        return;
    int error = flushFailed ? errno : 0;
    if (reported)
        return;
    reported = true;
    if (error == 0) {
        // An earlier write failed (and its errno is long gone): a pipe whose reader has gone
        // shows as an error condition of the descriptor.
        pollfd output{STDOUT_FILENO, POLLOUT, 0};
        if (::poll(&output, 1, 0) == 1 && (output.revents & (POLLERR | POLLHUP)) != 0)
            error = EPIPE;
    }
    std::fprintf(stderr, "tarvo-cli: standard output cannot be written (%s); the work goes on and is recorded\n",
                 error != 0 ? std::strerror(error) : "write error");
    std::fflush(stderr);
}

bool IsHelp(const char* arg) {
    return std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0;
}

}  // namespace tarvo::cli

int main(int argc, char** argv) {
    using namespace tarvo::cli;
    RaiseDescriptorLimit();
    // A reader that goes away (`tarvo-cli flash --json | head -c0`) must not end the program
    // in the middle of a run: writes to it fail with EPIPE instead, which CheckOutput reports.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) {
        PrintHelp(stderr);
        return kExitUsage;
    }
    const char* name = argv[1];
    if (std::strcmp(name, "--version") == 0) {
        std::printf("tarvo-cli %s\n", TARVO_VERSION);
        return kExitOk;
    }
    if (IsHelp(name) || std::strcmp(name, "help") == 0) {
        PrintHelp(stdout);
        return kExitOk;
    }
    for (const Subcommand& command : kSubcommands) {
        if (std::strcmp(name, command.name) == 0) return command.run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "tarvo-cli: unknown command '%s'\n", name);
    PrintHelp(stderr);
    return kExitUsage;
}
