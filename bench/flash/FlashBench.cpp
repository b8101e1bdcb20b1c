// Flash benchmark: eight port engines in parallel, each against its own simulated handset paced
// at 115200 baud (10 bits per byte), one download image. For every port it compares the wall
// time of the whole run (first identify to final report) with the protocol bound: the wire time
// of every byte that crosses the line in either direction, plus the fixed pauses of the run and
// the handset's erase time. It also reports the station's CPU time per MB of image sent.
//
// The handsets run in a child process forked before any thread exists, so the station's CPU time
// (getrusage of this process) holds the engines, channels and receivers only.
//
// It also counts the context switches of this process over the same span.
//
// With --status N the station also serves its status while the ports run: a station model fed
// with every report, its status server on a loopback port, a real Prometheus scraping /metrics
// every second and N curl processes reading /events (StatusLoad.h). The station's CPU time then
// includes the server's threads and the model's feeding; both are also printed on their own.
//
// usage: tarvo-bench-flash [--kib N] [--ports N] [--baud N] [--status CLIENTS]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/ImageConverter.h"
#include "engine/ReportQueue.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "bench/flash/StatusLoad.h"
#include "serial/Holders.h"
#include "tools/samples/Samples.h"
#include "tools/sim/TargetSim.h"

using namespace tarvo;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kEraseMs = 1500;

long ContextSwitches()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_nvcsw + u.ru_nivcsw;
}

double CpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Bytes ConvertLine makes of every line of a file, and the number of S3 lines.
void CountLineBytes(const std::string& path, uint64_t& bytes, int& blocks)
{
    std::ifstream in(path);
    std::vector<uint8_t> buffer(kLineBytesBuffer);
    bytes = 0;
    blocks = 0;
    for (std::string line; std::getline(in, line);) {
        uint16_t count = 0;
        ConvertLine((line + "\n").c_str(), buffer.data(), count);
        bytes += count;
        if (line.rfind("S3", 0) == 0)
            ++blocks;
    }
}

// Child: runs the handsets, writes their device paths to `out`, waits for SIGTERM.
[[noreturn]] void RunHandsets(int ports, double baud, int out)
{
    std::vector<std::unique_ptr<sim::TargetSim>> handsets;
    std::string paths;
    for (int i = 0; i < ports; ++i) {
        sim::SimConfig config;
        config.loader = i % 2 == 0 ? sim::Loader::Bootloader : sim::Loader::Flashloader;
        config.version1 = i % 2 == 0 ? 3 : 1;
        config.version2 = i % 2 == 0 ? 12 : 0x25;
        config.baud = baud;
        config.eraseTime = std::chrono::milliseconds(kEraseMs);
        config.wireLogLimit = 0;
        auto handset = std::make_unique<sim::TargetSim>(config);
        std::string error;
        if (!handset->Start(error)) {
            std::fprintf(stderr, "handset: %s\n", error.c_str());
            std::_Exit(1);
        }
        paths += handset->DevicePath() + "\n";
        handsets.push_back(std::move(handset));
    }
    (void)!::write(out, paths.data(), paths.size());
    ::close(out);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    int signal = 0;
    sigwait(&set, &signal);
    handsets.clear();
    std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv)
{
    long kib = 1024;
    int ports = 8;
    double baud = 115200;
    int statusClients = -1;  // -1: no status server
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--kib"))
            kib = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--ports"))
            ports = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--baud"))
            baud = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--status"))
            statusClients = std::atoi(argv[i + 1]);
    }

    char pattern[] = "/tmp/tarvo-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string dir = pattern;
    std::string error;
    samples::MainSoftwareShape shape;
    shape.dataBytes = static_cast<uint64_t>(kib) * 1024;
    shape.gapEvery = 256 * 1024;
    if (!samples::WriteMonitor(dir, error) || !samples::WriteMainSoftware(dir + "/main.m0", shape, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::string image;
    ConvertError convertError;
    if (!ConvertImageFile(dir + "/main.m0", image, convertError)) {
        std::fprintf(stderr, "%s\n", convertError.ToString().c_str());
        return 1;
    }

    // Handsets in a child process, forked while this process has one thread.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return 1;
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        RunHandsets(ports, baud, pipeFds[1]);
    }
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::close(pipeFds[1]);
    std::string paths;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        paths.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    std::vector<std::string> devices;
    for (std::size_t start = 0, end; (end = paths.find('\n', start)) != std::string::npos; start = end + 1)
        devices.push_back(paths.substr(start, end - start));
    if (static_cast<int>(devices.size()) != ports) {
        std::fprintf(stderr, "handsets did not start\n");
        return 1;
    }

    uint64_t imageBytes = 0, monitorBytes = 0;
    int blocks = 0, monitorLines = 0;
    CountLineBytes(image, imageBytes, blocks);
    CountLineBytes(dir + "/monitor_ul_bs.m0", monitorBytes, monitorLines);
    const uint64_t imageFileBytes = std::filesystem::file_size(image);

    std::unique_ptr<bench::StatusLoad> load;
    if (statusClients >= 0) {
        load = std::make_unique<bench::StatusLoad>(dir, statusClients);
        std::vector<std::pair<int, std::string>> served;
        for (int i = 0; i < ports; ++i)
            served.emplace_back(5 + i, devices[i]);
        if (!load->Start(image, served, error)) {
            std::fprintf(stderr, "status: %s\n", error.c_str());
            load.reset();
            ::kill(child, SIGTERM);
            ::waitpid(child, nullptr, 0);
            return 1;
        }
        load->BeginMeasure();
    }

    struct Port {
        std::unique_ptr<CWinMonitorCtrl> engine;
        Clock::time_point start, end;
        int finalCode = -1;
        bool bootloader = false;
    };
    std::vector<Port> runs(ports);
    ReportQueue queue;
    const double cpu0 = CpuSeconds();
    const long switches0 = ContextSwitches();
    const HolderScan holders;  // one walk of /proc for all the opens, as tarvo-cli flash does
    for (int i = 0; i < ports; ++i) {
        EngineEnvironment env;
        env.monitorDir = dir;
        runs[i].bootloader = i % 2 == 0;
        runs[i].engine = std::make_unique<CWinMonitorCtrl>(env);
        runs[i].engine->SetPortNumber(5 + i);
        if (!runs[i].engine->OpenDevice(devices[i], 115200, &holders)) {
            std::fprintf(stderr, "%s\n", runs[i].engine->OpenError().c_str());
            return 1;
        }
        runs[i].start = Clock::now();
        if (load)
            load->Begun(5 + i);
        runs[i].engine->Start(&queue);
    }
    const double openCpu = CpuSeconds() - cpu0;
    int ended = 0;
    long statusReports = 0, progressReports = 0;
    QueuedReport report;
    while (ended < ports && queue.Pop(report, std::chrono::minutes(10))) {
        if (report.kind == QueuedReport::Kind::Status)
            ++statusReports;
        else if (report.kind == QueuedReport::Kind::Progress)
            ++progressReports;
        if (load)
            load->Report(report);
        for (Port& run : runs) {
            if (run.engine.get() != report.engine)
                continue;
            if (report.kind == QueuedReport::Kind::Status) {
                if (report.code == status::kReadyForDownload)
                    run.engine->StartDownload(&queue, image);
                else if (report.code != status::kInformation)
                    run.finalCode = report.code;
            } else if (report.kind == QueuedReport::Kind::RunEnded) {
                run.end = Clock::now();
                ++ended;
                if (load)
                    load->Ended(5 + static_cast<int>(&run - runs.data()), run.finalCode == status::kPass, run.finalCode,
                                  std::chrono::duration_cast<std::chrono::milliseconds>(run.end - run.start).count(),
                                  static_cast<int64_t>(imageFileBytes));
            }
        }
        queue.Done();
    }
    const double cpu = CpuSeconds() - cpu0;
    const long switches = ContextSwitches() - switches0;
    std::string statusSummary;
    bool statusOk = true;
    if (load) {
        Clock::time_point first = runs.front().start, last = runs.front().end;
        for (const Port& run : runs) {
            first = std::min(first, run.start);
            last = std::max(last, run.end);
        }
        statusOk = load->Stop(last - first, statusSummary);
    }
    struct Result {
        double wall;
        int code;
        bool bootloader;
    };
    std::vector<Result> results;
    for (const Port& run : runs)
        results.push_back({std::chrono::duration<double>(run.end - run.start).count(), run.finalCode, run.bootloader});
    runs.clear();  // closes the ports before the handsets go
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
    load.reset();
    if (statusOk)
        std::filesystem::remove_all(dir);

    // Protocol bound of one run: every byte on the wire (station to handset and back) at 10 bits
    // per byte, the handset's erase, and the fixed pauses.
    const double byteTime = 10.0 / baud;
    const double toHandset = 3 /* identify */ + 3 /* erase */ + 3 /* announce */ + static_cast<double>(imageBytes);
    const double toStation = 7 /* identify answer */ + 4 /* erase */ + 4.0 * blocks + 8 /* final */;
    const double pauses = 0.8 + 1.0 + 0.1 * blocks + 0.1 + 0.1;
    const double loaderExtra = (3 + static_cast<double>(monitorBytes) + 7) * byteTime + (8 + 4) * byteTime + 1.0;
    std::printf("image: %ld KiB of data, %llu bytes of download image, %d blocks, %llu bytes on the wire\n", kib,
                static_cast<unsigned long long>(imageFileBytes), blocks, static_cast<unsigned long long>(imageBytes));
    std::printf("%-6s %-11s %-6s %9s %9s %8s\n", "port", "loader", "result", "wall s", "bound s", "over %");
    double worst = 0;
    bool ok = true;
    for (int i = 0; i < ports; ++i) {
        const Result& r = results[i];
        double bound = (toHandset + toStation) * byteTime + pauses + kEraseMs / 1000.0 + (r.bootloader ? loaderExtra : 0);
        double over = (r.wall - bound) / bound * 100;
        worst = std::max(worst, over);
        ok = ok && r.code == status::kPass;
        std::printf("COM%-3d %-11s %-6s %9.3f %9.3f %8.2f\n", 5 + i, r.bootloader ? "bootloader" : "flashloader",
                    r.code == status::kPass ? "PASS" : "FAIL", r.wall, bound, over);
    }
    const double megabytes = static_cast<double>(imageFileBytes) * ports / 1e6;
    std::printf("worst port: %.2f %% over its bound\n", worst);
    std::printf("station CPU: %.3f s for %.2f MB of image (%d ports): %.2f ms per MB; %ld context switches\n", cpu,
                megabytes, ports, cpu * 1000 / megabytes, switches);
    std::printf("of that, opening the ports and starting the engines: %.3f s\n", openCpu);
    std::printf("per port: %.1f context switches, %.1f status and %.1f progress reports\n",
                static_cast<double>(switches) / ports, static_cast<double>(statusReports) / ports,
                static_cast<double>(progressReports) / ports);
    if (!statusSummary.empty())
        std::fputs(statusSummary.c_str(), stdout);
    return ok && statusOk ? 0 : 1;
}
