// tarvo-target-sim: runs one simulated handset on a pseudo-terminal until a signal, the
// requested number of finished downloads, or a hang-up fault.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tools/sim/SimOptions.h"
#include "tools/sim/TargetSim.h"
#include "tools/sim/UniqueFd.h"

namespace {

using tarvo::sim::SimEvent;

std::string Hex(const std::vector<uint8_t>& bytes, std::size_t max)
{
    std::string out;
    char b[4];
    for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        out += b;
    }
    if (bytes.size() > max)
        out += " ...";
    return out;
}

void PrintEvent(const SimEvent& e)
{
    switch (e.kind) {
    case SimEvent::Kind::FrameReceived:
        std::fprintf(stderr, "<- frame [%s]\n", Hex(e.bytes, 16).c_str());
        break;
    case SimEvent::Kind::LineReceived:
        std::fprintf(stderr, "<- line %c%c, %zu bytes: %s\n", e.bytes.size() > 0 ? e.bytes[0] : '?',
                     e.bytes.size() > 1 ? e.bytes[1] : '?', e.bytes.size(),
                     Hex(e.bytes, 12).c_str());
        break;
    case SimEvent::Kind::FrameSent:
        std::fprintf(stderr, "-> frame [%s]\n", Hex(e.bytes, 16).c_str());
        break;
    case SimEvent::Kind::CycleFinished:
        std::fprintf(stderr, "download finished\n");
        break;
    case SimEvent::Kind::HungUp:
        std::fprintf(stderr, "hung up\n");
        break;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace tarvo::sim;
    ProgramOptions options;
    std::string error;
    if (!ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "tarvo-target-sim: %s\n%s", error.c_str(), UsageLine().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("tarvo-target-sim %s\n", TARVO_VERSION);
        return 0;
    }

    // The signals are taken through a signalfd; blocked before any thread starts so that
    // every thread inherits the mask. SIGUSR1 unplugs the handset, SIGUSR2 plugs a new one.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
        std::fprintf(stderr, "tarvo-target-sim: cannot block signals\n");
        return 1;
    }
    UniqueFd signalFd(::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!signalFd.Valid()) {
        std::fprintf(stderr, "tarvo-target-sim: cannot create a signalfd: %s\n",
                     std::strerror(errno));
        return 1;
    }

    auto sim = std::make_unique<TargetSim>(options.config);
    if (!sim->Start(error)) {
        std::fprintf(stderr, "tarvo-target-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", sim->DevicePath().c_str());
    if (!sim->LinkPath().empty())
        std::printf("%s\n", sim->LinkPath().c_str());
    std::fflush(stdout);

    using SteadyClock = std::chrono::steady_clock;
    const auto never = SteadyClock::time_point::max();
    uint64_t handsetsDone = 0;   // handsets unplugged after their download
    auto unplugAt = never;       // a finished handset is unplugged then
    auto plugAt = never;         // the next handset is plugged then
    uint64_t nextEvent = 0;

    // Closing the device drops what the station has not read: give it a moment to take the
    // last answer.
    auto letStationRead = [&]() {
        // The last answer may still be on its way into the station's side (the kernel moves
        // it there from a worker): count it only after a moment.
        pollfd settle{signalFd.Get(), POLLIN, 0};
        if (::poll(&settle, 1, 100) > 0)
            return;
        const auto deadline = SteadyClock::now() + std::chrono::seconds(2);
        while (sim->UnreadByStation() > 0 && SteadyClock::now() < deadline) {
            pollfd p{signalFd.Get(), POLLIN, 0};
            if (::poll(&p, 1, 10) > 0)
                break;
        }
    };
    auto unplug = [&]() {
        if (!sim)
            return;
        sim->Stop();
        std::fprintf(stderr, "tarvo-target-sim: unplugged %s\n", sim->DevicePath().c_str());
        sim.reset();
        unplugAt = never;
    };
    auto plug = [&]() -> bool {
        plugAt = never;
        if (sim)
            return true;
        sim = std::make_unique<TargetSim>(options.config);
        if (!sim->Start(error)) {
            std::fprintf(stderr, "tarvo-target-sim: %s\n", error.c_str());
            return false;
        }
        nextEvent = 0;
        std::fprintf(stderr, "tarvo-target-sim: plugged %s\n", sim->DevicePath().c_str());
        return true;
    };

    for (;;) {
        const auto deadline = std::min(unplugAt, plugAt);
        int timeout = -1;
        if (deadline != never) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
            timeout = static_cast<int>(std::max<long long>(0, left.count() + 1));
        }
        pollfd fds[2] = {{signalFd.Get(), POLLIN, 0}, {sim ? sim->ChangeFd() : -1, POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "tarvo-target-sim: poll failed: %s\n", std::strerror(errno));
            return 1;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signalFd.Get(), &info, sizeof info) != sizeof info)
                continue;
            if (info.ssi_signo == SIGUSR1) {
                unplug();
                continue;
            }
            if (info.ssi_signo == SIGUSR2) {
                if (!plug())
                    return 1;
                continue;
            }
            break;
        }
        const auto now = SteadyClock::now();
        if (now >= unplugAt) {
            letStationRead();
            unplug();
            if (options.handsets > 0 && ++handsetsDone >= options.handsets)
                return 0;
            plugAt = SteadyClock::now() + std::chrono::milliseconds(options.awayMs);
            continue;
        }
        if (now >= plugAt) {
            if (!plug())
                return 1;
            continue;
        }
        if (!sim || !(fds[1].revents & POLLIN))
            continue;
        uint64_t counter = 0;
        if (::read(sim->ChangeFd(), &counter, sizeof counter) < 0 && errno != EAGAIN)
            return 1;
        if (options.verbose) {
            for (const SimEvent& e : sim->Events(nextEvent)) {
                PrintEvent(e);
                nextEvent = e.sequence + 1;
            }
        }
        const SimStatus status = sim->Status();
        if (options.handsets > 0 && status.cyclesFinished >= 1 && unplugAt == never) {
            unplugAt = SteadyClock::now() + std::chrono::milliseconds(options.stayMs);
            continue;
        }
        if (options.cycles > 0 && status.cyclesFinished >= options.cycles)
            break;
        if (status.hungUp) {
            std::fprintf(stderr, "tarvo-target-sim: hung up %s as told\n",
                         sim->DevicePath().c_str());
            break;
        }
        if (!status.running) {
            std::fprintf(stderr, "tarvo-target-sim: %s\n", status.error.c_str());
            return 1;
        }
    }
    if (sim) {
        letStationRead();
        sim->Stop();
    }
    return 0;
}
