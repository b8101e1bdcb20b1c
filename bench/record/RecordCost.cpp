// Cost of recording one run on the station: the recorder in front of a receiver, fed the
// reports of a whole run (identify, monitor load, ready, one progress report per image line,
// the final PASS), with the record inserted RUNNING at the start and completed (durably, WAL
// with synchronous=FULL) at the end. The same sequence of reports without a recorder is
// timed in the same run, alternating, as the baseline.
//
// Measured: the process's CPU time per run (every thread: the recorder, the writer thread,
// SQLite), the owner thread's wall time in BeginRun (what the window's thread spends), and the
// wall time the final report is held for the durable write (spent on the engine's worker).
//
// usage: tarvo-bench-record-cost [RUNS] [LINES] [FOLDER]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/ReportSink.h"
#include "engine/WinMonitorCtrl.h"
#include "record/RecordWriter.h"
#include "record/RunRecorder.h"

using namespace tarvo;
using namespace tarvo::record;

namespace {

double CpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double WallMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A receiver that does nothing with the reports (the view's own work is not what is measured).
class NullSink final : public IReportSink {
public:
    void OnPortStatus(const CWinMonitorCtrl&, const StatusReport&) override {}
    void OnPortProgress(const CWinMonitorCtrl&, const ProgressReport&) override {}
    void ReleaseEngine(const CWinMonitorCtrl&) override {}
};

struct Timing {
    double cpuMs = 0;
    double beginWallMs = 0;
    double finalWallMs = 0;
};

Timing OneRun(IReportSink& sink, RunRecorder* recorder, const std::string& image, int lines)
{
    CWinMonitorCtrl engine;
    engine.SetPortNumber(5);
    Timing t;
    const double cpu0 = CpuMs();
    if (recorder) {
        RunSetup setup;
        setup.port = 5;
        setup.device = "/dev/ttyUSB0";
        setup.image = image;
        const double w = WallMs();
        recorder->BeginRun(engine, setup);
        t.beginWallMs = WallMs() - w;
    }
    auto status = [&](int code, const char* text) { sink.OnPortStatus(engine, StatusReport{5, code, text}); };
    status(1, "The bootloader is running. Version 3.12.");
    status(1, "Loading Monitor in data RAM...");
    status(1, "Checksum: File: F05F RAM: F05F");
    status(0, "Download Reday End !");
    const int size = lines * 32752;
    for (int i = 0; i < lines; ++i)
        sink.OnPortProgress(engine, ProgressReport{5, i * 100 / lines, i * 32752, size});
    const double w = WallMs();
    status(20, "PASS - Checksum: [D244,D244]");
    t.finalWallMs = WallMs() - w;
    sink.OnRunEnded(engine);
    t.cpuMs = CpuMs() - cpu0;
    return t;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double Percentile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<std::size_t>(q * v.size()))];
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 500;
    const int lines = argc > 2 ? std::atoi(argv[2]) : 128;  // 128 blocks: a 4 MiB image
    const std::string folder = argc > 3 ? argv[3] : "/tmp/tarvo-bench-record";
    std::filesystem::create_directories(folder);
    const std::string db = folder + "/records.sqlite";
    std::filesystem::remove(db);
    const std::string image = folder + "/image.cp64";
    {
        std::FILE* f = std::fopen(image.c_str(), "wb");
        std::vector<char> data(static_cast<std::size_t>(lines) * 32752, 'S');
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
    NullSink receiver;
    RecordWriter writer(db, "bench", "bench-host");
    writer.WaitStarted();
    RunRecorder recorder(receiver, &writer, StationInfo::ForThisProcess("bench"));
    // One run each first: the image's digest is taken once and kept.
    OneRun(recorder, &recorder, image, lines);
    OneRun(receiver, nullptr, image, lines);

    std::vector<double> cpuWith, cpuWithout, begin, final;
    for (int i = 0; i < runs; ++i) {
        Timing with = OneRun(recorder, &recorder, image, lines);
        Timing without = OneRun(receiver, nullptr, image, lines);
        cpuWith.push_back(with.cpuMs);
        cpuWithout.push_back(without.cpuMs);
        begin.push_back(with.beginWallMs);
        final.push_back(with.finalWallMs);
    }
    writer.Flush(std::chrono::seconds(10));
    const auto bytes = std::filesystem::file_size(db);
    std::printf("runs %d, %d progress reports per run, database %s\n", runs, lines, db.c_str());
    std::printf("process CPU per run: with record median %.3f ms (p95 %.3f), without %.3f ms (p95 %.3f): "
                "recording costs %.3f ms\n",
                Median(cpuWith), Percentile(cpuWith, 0.95), Median(cpuWithout), Percentile(cpuWithout, 0.95),
                Median(cpuWith) - Median(cpuWithout));
    std::printf("owner thread in BeginRun: median %.3f ms, max %.3f ms\n", Median(begin),
                *std::max_element(begin.begin(), begin.end()));
    std::printf("final report held for the durable write (worker thread): median %.3f ms, p95 %.3f ms\n",
                Median(final), Percentile(final, 0.95));
    std::printf("database %.0f bytes for %d records: %.0f bytes per record\n", static_cast<double>(bytes), runs + 1,
                static_cast<double>(bytes) / (runs + 1));
    return 0;
}
