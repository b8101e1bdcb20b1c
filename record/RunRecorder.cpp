#include "record/RunRecorder.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/Clock.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "record/Identity.h"
#include "record/RecordWriter.h"

namespace tarvo::record {

namespace {

// How long a worker holds back a run's final report for the record's write: the database's
// busy time-out (5 s) and a margin.
constexpr auto kFinalWriteWait = std::chrono::seconds(7);

// The cause of a failure travels beside the status text in engines that know it.
template <typename Report>
const char* ReasonOf(const Report& report)
{
    if constexpr (requires { report.reason; })
        return report.reason;
    else
        return nullptr;
}

// True once the owner asked the engine to stop (engines that offer it).
template <typename Engine>
bool StopRequestedOf(const Engine& engine)
{
    if constexpr (requires { engine.StopRequested(); })
        return engine.StopRequested();
    else
        return false;
}

std::string Hex4Pair(unsigned a, unsigned b)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X,%04X", a & 0xFFFF, b & 0xFFFF);
    return text;
}

// The download image as the run opened it; closed when the run lets it go.
class ImageFile {
public:
    ImageFile() = default;
    ~ImageFile() { Close(); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    // Non-blocking: a FIFO must not hold the owner until a writer appears. Only a regular file
    // is kept (the engine refuses anything else).
    bool Open(const std::string& path)
    {
        Close();
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return false;
        }
        m_fd = fd;
        return true;
    }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// Whether an open file can be reopened by its descriptor's name (Linux's /proc).
bool ProcFdWorks()
{
    static const bool works = ::access("/proc/self/fd", X_OK) == 0;
    return works;
}

int64_t Elapsed(uint32_t from, uint32_t to) { return static_cast<int64_t>(static_cast<uint32_t>(to - from)); }

}  // namespace

const char* ResultOfStatus(int code, bool stopped)
{
    if (code == status::kPass)
        return result::kPass;
    if (!status::IsError(code))
        return nullptr;
    if (stopped)
        return result::kAborted;
    return code == status::kFail ? result::kFail : result::kError;
}

StationInfo StationInfo::ForThisProcess(const std::string& stationName)
{
    StationInfo info;
    info.host = HostName();
    info.station = stationName.empty() ? info.host : stationName;
    info.user = UserName();
    info.version = TarvoVersion();
    return info;
}

struct RunRecorder::Run {
    std::mutex mutex;
    RunRecord record;
    IClock* clock = nullptr;
    std::string mainSoftware;
    uint32_t started = 0;
    uint32_t firstAnswer = 0, ready = 0, firstProgress = 0, lastProgress = 0;
    bool answered = false, isReady = false, progressed = false;
    bool downloaded = false;  // the last progress report covered the whole image
    bool ended = false;
    uint64_t beginTicket = 0;  // the writer's ticket of the RUNNING record; 0: not recorded
    ImageFile image;           // the download image as SubmitRun opened it
    std::string imagePath;
    std::atomic<bool> released{false};
};

RunRecorder::RunRecorder(IReportSink& receiver, RecordWriter* writer, StationInfo station)
    : m_receiver(receiver), m_writer(writer), m_station(std::move(station))
{
}

RunRecorder::~RunRecorder() = default;

void RunRecorder::SetNextUnit(int port, std::string unit)
{
    std::lock_guard lock(m_mutex);
    m_nextUnits[port] = std::move(unit);
}

void RunRecorder::SetUnit(const CWinMonitorCtrl& engine, std::string unit)
{
    if (auto run = Find(engine)) {
        std::lock_guard lock(run->mutex);
        if (!run->ended)
            run->record.unit = std::move(unit);
    }
}

void RunRecorder::SetCompletedListener(std::function<void(const RunRecord&, bool)> listener)
{
    std::lock_guard lock(m_mutex);
    m_listener = std::move(listener);
}

bool RunRecorder::BeginRun(const CWinMonitorCtrl& engine, const RunSetup& setup, std::string& error)
{
    SubmitRun(engine, setup);
    return WaitBegun(engine, error);
}

void RunRecorder::SubmitRun(const CWinMonitorCtrl& engine, const RunSetup& setup)
{
    auto run = std::make_shared<Run>();
    run->clock = &engine.Clock();
    run->started = run->clock->TickMs();
    RunRecord& r = run->record;
    r.run_id = NewRunId();
    r.station = m_station.station;
    r.host = m_station.host;
    r.operator_ = m_station.user;
    r.tarvo_version = m_station.version;
    r.port = setup.port;
    if (!setup.device.empty()) {
        r.device = setup.device;
        r.device_resolved = ResolvedPath(setup.device);
    }
    r.started_at = IsoUtcNow();
    r.result = result::kRunning;
    // The identity of what this run sends: hashed now, from the file the engine will open
    // (DownloadPath), not from whatever the path names when the run ends.
    std::string hex;
    int64_t bytes = 0;
    if (!setup.mainSoftware.empty()) {
        r.main_software = setup.mainSoftware;
        if (m_digests.Get(setup.mainSoftware, hex, bytes))
            r.main_sha256 = hex;
    }
    if (!setup.image.empty()) {
        r.image = setup.image;
        run->imagePath = setup.image;
        if (run->image.Open(setup.image) && m_digests.Get(run->image.Fd(), setup.image, hex, bytes)) {
            r.image_sha256 = hex;
            r.image_bytes = bytes;
        }
    }
    {
        std::lock_guard lock(m_mutex);
        if (setup.unit) {
            r.unit = setup.unit;
            m_nextUnits.erase(setup.port);
        } else if (auto it = m_nextUnits.find(setup.port); it != m_nextUnits.end()) {
            r.unit = std::move(it->second);
            m_nextUnits.erase(it);
        }
        m_runs[&engine] = run;
    }
    if (m_writer)
        run->beginTicket = m_writer->Submit(r);
}

bool RunRecorder::WaitBegun(const CWinMonitorCtrl& engine, std::string& error)
{
    auto run = Find(engine);
    if (!run) {
        error = "no run was begun on this port";
        return false;
    }
    if (!m_writer || run->beginTicket == 0)
        return true;
    if (m_writer->WaitWritten(run->beginTicket, kBeginWriteWait, &run->released))
        return true;
    std::string problem = m_writer->Problem();
    if (problem.empty())
        problem = m_writer->Path() + ": the record was not written within " +
                  std::to_string(kBeginWriteWait.count() / 1000) + " s";
    error = "the run cannot be recorded, so it does not begin: " + problem;
    Refuse(*run, error);
    return false;
}

void RunRecorder::Refuse(Run& run, const std::string& reason)
{
    bool ended;
    {
        std::lock_guard lock(run.mutex);
        if (!run.ended)
            run.record.reason = reason;
        ended = Complete(run, result::kError, run.clock->TickMs());
        run.image.Close();
    }
    if (ended)
        Finish(run, false);
}

std::string RunRecorder::DownloadPath(const CWinMonitorCtrl& engine) const
{
    auto run = Find(engine);
    if (!run)
        return {};
    std::lock_guard lock(run->mutex);
    if (run->image.Fd() >= 0 && ProcFdWorks())
        return "/proc/self/fd/" + std::to_string(run->image.Fd());
    return run->imagePath;
}

std::shared_ptr<RunRecorder::Run> RunRecorder::Find(const CWinMonitorCtrl& engine) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_runs.find(&engine);
    return it == m_runs.end() ? nullptr : it->second;
}

std::optional<RunRecord> RunRecorder::Current(const CWinMonitorCtrl& engine) const
{
    auto run = Find(engine);
    if (!run)
        return std::nullopt;
    std::lock_guard lock(run->mutex);
    return run->record;
}

bool RunRecorder::Complete(Run& run, const char* resultWord, uint32_t tick)
{
    // Called with run.mutex held.
    if (run.ended)
        return false;
    run.ended = true;
    RunRecord& r = run.record;
    r.result = resultWord;
    r.ended_at = IsoUtcNow();
    r.total_ms = Elapsed(run.started, tick);
    if (run.progressed && run.downloaded)
        r.verify_ms = Elapsed(run.lastProgress, tick);
    else if (run.progressed)
        r.download_ms = Elapsed(run.firstProgress, tick);  // ended during the download
    else if (run.isReady)
        r.erase_ms = Elapsed(run.ready, tick);  // ended during the erase
    else if (run.answered)
        r.monitor_ms = Elapsed(run.firstAnswer, tick);  // ended while the monitor loaded
    return true;
}

void RunRecorder::Finish(Run& run, bool wait)
{
    RunRecord copy;
    {
        std::lock_guard lock(run.mutex);
        copy = run.record;
    }
    bool written = false;
    if (m_writer) {
        const uint64_t ticket = m_writer->Submit(copy);
        if (wait)
            written = m_writer->WaitWritten(ticket, kFinalWriteWait, &run.released);
    }
    std::function<void(const RunRecord&, bool)> listener;
    {
        std::lock_guard lock(m_mutex);
        listener = m_listener;
    }
    if (listener)
        listener(copy, written);
}

void RunRecorder::OnPortStatus(const CWinMonitorCtrl& engine, const StatusReport& report)
{
    auto run = Find(engine);
    if (run) {
        const uint32_t tick = run->clock->TickMs();
        bool ended = false;
        {
            std::lock_guard lock(run->mutex);
            RunRecord& r = run->record;
            if (!run->answered) {
                run->answered = true;
                run->firstAnswer = tick;
                r.wait_ms = Elapsed(run->started, tick);
            }
            const char* text = report.text ? report.text : "";
            r.status = report.code;
            r.text = std::string(text);
            const char* reason = ReasonOf(report);
            if (reason && *reason)
                r.reason = std::string(reason);
            unsigned a = 0, b = 0, c = 0;
            if (std::sscanf(text, "The bootloader is running. Version %u.%u.", &a, &b) == 2) {
                r.loader = "bootloader";
                r.loader_version = std::to_string(a) + "." + std::to_string(b);
            } else if (std::sscanf(text, "The flashloader is running. Version %u.%u.%u.", &a, &b, &c) == 3) {
                r.loader = "flashloader";
                r.loader_version = std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c);
            } else if (std::sscanf(text, "Checksum: File: %x RAM: %x", &a, &b) == 2) {
                r.monitor_checksums = Hex4Pair(a, b);
            } else if (std::sscanf(text, "PASS - Checksum: [%x,%x]", &a, &b) == 2 ||
                       std::sscanf(text, "FAIL - Checksum: [%x,%x]", &a, &b) == 2) {
                r.checksums = Hex4Pair(a, b);
            }
            if (report.code == status::kReadyForDownload && !run->isReady) {
                run->isReady = true;
                run->ready = tick;
                r.monitor_ms = Elapsed(run->firstAnswer, tick);
            }
            if (const char* word = ResultOfStatus(report.code, StopRequestedOf(engine)))
                ended = Complete(*run, word, tick);
        }
        if (ended)
            Finish(*run, true);
    }
    m_receiver.OnPortStatus(engine, report);
}

void RunRecorder::OnPortProgress(const CWinMonitorCtrl& engine, const ProgressReport& report)
{
    if (auto run = Find(engine)) {
        const uint32_t tick = run->clock->TickMs();
        std::lock_guard lock(run->mutex);
        RunRecord& r = run->record;
        if (!run->progressed) {
            run->progressed = true;
            run->firstProgress = tick;
            if (run->isReady)
                r.erase_ms = Elapsed(run->ready, tick);
        }
        run->lastProgress = tick;
        r.download_ms = Elapsed(run->firstProgress, tick);
        r.bytes_sent = report.position;
        r.image_bytes = report.size;
        run->downloaded = report.size > 0 && report.position >= report.size;
    }
    m_receiver.OnPortProgress(engine, report);
}

void RunRecorder::OnRunEnded(const CWinMonitorCtrl& engine)
{
    if (auto run = Find(engine)) {
        bool ended;
        {
            std::lock_guard lock(run->mutex);
            ended = Complete(*run, StopRequestedOf(engine) ? result::kAborted : result::kError, run->clock->TickMs());
        }
        // A run that ends on a text has shown its last word already; the record is written
        // without holding the worker (this call must not block).
        if (ended)
            Finish(*run, false);
    }
    m_receiver.OnRunEnded(engine);
}

void RunRecorder::EndRun(const CWinMonitorCtrl& engine, const char* resultWord, const std::string& reason)
{
    auto run = Find(engine);
    if (!run)
        return;
    bool ended;
    {
        std::lock_guard lock(run->mutex);
        if (!reason.empty() && !run->ended)
            run->record.reason = reason;
        ended = Complete(*run, resultWord, run->clock->TickMs());
        run->image.Close();  // the owner ends the run: no download opens it any more
    }
    if (ended)
        Finish(*run, false);
}

void RunRecorder::ReleaseEngine(const CWinMonitorCtrl& engine)
{
    // Let a worker go that waits for the record's write, then the receiver's own release.
    auto run = Find(engine);
    if (run) {
        run->released = true;
        if (m_writer)
            m_writer->WakeWaiters();
    }
    m_receiver.ReleaseEngine(engine);
    if (!run)
        return;
    bool ended;
    {
        std::lock_guard lock(run->mutex);
        if (!run->ended && !run->record.reason)
            run->record.reason = std::string("stopped before the run ended");
        ended = Complete(*run, result::kAborted, run->clock->TickMs());
    }
    if (ended)
        Finish(*run, false);
    std::lock_guard lock(m_mutex);
    auto it = m_runs.find(&engine);
    if (it != m_runs.end() && it->second == run)
        m_runs.erase(it);
}

}  // namespace tarvo::record
