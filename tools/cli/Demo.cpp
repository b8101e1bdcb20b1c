// tarvo-cli demo: the whole station without handsets. Eight simulated handsets on
// pseudo-terminals, paced like real ones at 115200 baud, get a sample image in parallel.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/ImageConverter.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Flash.h"
#include "tools/cli/Profile.h"
#include "tools/cli/RecordSetup.h"
#include "tools/cli/SignalWatch.h"
#include "tools/cli/StatusSetup.h"
#include "tools/cmdline/CommandLine.h"
#include "tools/samples/Samples.h"
#include "tools/sim/TargetSim.h"

namespace tarvo::cli {
namespace {

constexpr const char* kUsage =
    "demo [--json] [--progress auto|plain] [--ports N] [--size KIB] [--record PATH | --no-record]\n"
    "      [--forward URL] [--require-approved] [--listen [ADDR:]PORT]";

// Removes the demo's folder however the demo ends.
struct TempFolder {
    std::string path;
    ~TempFolder()
    {
        std::error_code ec;
        if (!path.empty())
            std::filesystem::remove_all(path, ec);
    }
};

}  // namespace

int RunDemo(int argc, char** argv)
{
    bool json = false;
    ProgressStyle progress = ProgressStyle::Auto;
    std::string listen;
    int count = 8;
    long kib = 128;
    RecordSettings record = RecordSettingsFromProfile(Profile::LoadUser());
    cmdline::OptionTable table("tarvo-cli demo", kUsage, "usage: tarvo-cli ");
    table
        .Description("Flashes a sample image into eight simulated handsets (bootloaders and\n"
                     "flashloaders, 115200 baud) in parallel, as the station does with real ones.\n")
        .Flag("json", "JSON Lines on stdout", [&] { json = true; })
        .Value("ports", "N", "number of handsets, 1..8 (default 8)",
               [&](const std::string& v) {
                   count = std::atoi(v.c_str());
                   return count < 1 || count > 8 ? "--ports takes a number from 1 to 8, not '" + v + "'"
                                                 : std::string();
               })
        .Value("size", "KIB", "data in the sample image (default 128)", [&](const std::string& v) {
            kib = std::atol(v.c_str());
            return kib < 1 || kib > 64 * 1024 ? "--size takes a number of KiB from 1 to 65536, not '" + v + "'"
                                              : std::string();
        });
    AddRecordOptions(table, record);
    AddProgressOption(table, progress);
    AddListenOption(table, listen);
    if (const int status = table.ParseOrExit(argc, argv); status >= 0)
        return status;

    if (const std::string locked = LockedRecordOptions(Profile::LoadUser(), record); !locked.empty())
        return Failure(locked);
    // Caught from here on, so the folder and the simulated handsets are always cleaned up.
    SignalWatch signals;
    TempFolder folder;
    char pattern[] = "/tmp/tarvo-demo-XXXXXX";
    if (!::mkdtemp(pattern))
        return Failure(std::string("cannot create a folder in /tmp: ") + std::strerror(errno));
    folder.path = pattern;

    std::string error;
    if (!samples::WriteMonitor(folder.path, error))
        return Failure(error);
    samples::MainSoftwareShape shape;
    shape.dataBytes = static_cast<uint64_t>(kib) * 1024;
    shape.gapEvery = 64 * 1024;
    const std::string mainFile = folder.path + "/sample.m0";
    if (!samples::WriteMainSoftware(mainFile, shape, error))
        return Failure(error);

    FlashJob job;
    job.signals = &signals;
    job.json = json;
    job.progress = progress;
    job.record = record;
    job.listen = listen;
    job.mainSoftware = mainFile;
    job.monitorDir = folder.path;
    ConvertError convertError;
    if (!ConvertImageFile(mainFile, job.image, convertError))
        return Failure(convertError.ToString());

    std::vector<std::unique_ptr<sim::TargetSim>> handsets;
    for (int i = 0; i < count; ++i) {
        sim::SimConfig config;
        if (i % 2 == 0) {
            config.loader = sim::Loader::Bootloader;
            config.version1 = 3;
            config.version2 = 12;
        } else {
            config.loader = sim::Loader::Flashloader;
            config.version1 = 1;
            config.version2 = 0x25;
        }
        config.baud = 115200;
        config.eraseTime = std::chrono::milliseconds(1500);
        auto handset = std::make_unique<sim::TargetSim>(config);
        if (!handset->Start(error))
            return Failure("simulated handset: " + error);
        job.ports.push_back(PortTarget{5 + i, handset->DevicePath()});
        handsets.push_back(std::move(handset));
    }
    if (signals.Caught() != 0)
        return signals.ExitStatus();
    if (!json) {
        std::printf("Tarvo demo: %d simulated handsets at 115200 baud, sample image %s (%ld KiB of data)\n\n",
                    count, job.image.c_str(), kib);
        std::fflush(stdout);
    }
    int status = RunJob(job);
    handsets.clear();
    return status;
}

}  // namespace tarvo::cli
