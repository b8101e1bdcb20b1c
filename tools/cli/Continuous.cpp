// tarvo-cli flash --continuous: every port works on its own until a signal. A port waits for
// its device to appear (an inotify watch, no polling), opens it, polls for a handset and runs as
// flash does, closes the device when the run has ended, and runs again only once the device has
// gone and come back: a handset that stays plugged is never flashed twice.

#include "tools/cli/Continuous.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "doctor/Doctor.h"
#include "engine/ReportQueue.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "record/RunRecorder.h"
#include "serial/DeviceWatcher.h"
#include "serial/Holders.h"
#include "serial/PortDirectory.h"
#include "tools/cli/Commands.h"
#include "tools/cli/SignalWatch.h"

namespace tarvo::cli {
namespace {

using Clock = std::chrono::steady_clock;

enum class Wait { None, Absent, Stayed };

struct Port {
    PortTarget target;
    std::string device;  // the path watched and opened
    int watch = -1;      // index in the device watcher
    uint64_t flashedGeneration = 0;  // the device generation of the last run begun
    std::unique_ptr<CWinMonitorCtrl> engine;
    bool running = false;   // a run has begun and its end line is not printed yet
    bool closing = false;   // the run ended; the engine goes once its workers are done
    bool answered = false;
    Clock::time_point noTargetDeadline = Clock::time_point::max();
    int lastTenth = -1;
    Wait shownWait = Wait::None;
    int runs = 0, pass = 0, fail = 0, error = 0, aborted = 0;
};

class Output {
public:
    explicit Output(bool json) : m_json(json) {}

    // A line for people: on stdout, or on stderr beside JSON Lines.
    void Note(const Port& port, const std::string& text) const
    {
        std::fprintf(m_json ? stderr : stdout, "COM%d %s\n", port.target.port, Printable(text).c_str());
        std::fflush(m_json ? stderr : stdout);
    }
    void Status(const Port& port, int code, const std::string& text, const std::string& reason) const
    {
        if (m_json) {
            if (reason.empty())
                std::printf("{\"port\":%d,\"status\":%d,\"text\":\"%s\"}\n", port.target.port, code,
                            JsonEscape(text).c_str());
            else
                std::printf("{\"port\":%d,\"status\":%d,\"text\":\"%s\",\"reason\":\"%s\"}\n", port.target.port, code,
                            JsonEscape(text).c_str(), JsonEscape(reason).c_str());
        } else if (reason.empty()) {
            std::printf("COM%d [%d] %s\n", port.target.port, code, Printable(text).c_str());
        } else {
            std::printf("COM%d [%d] %s (%s)\n", port.target.port, code, Printable(text).c_str(),
                        Printable(reason).c_str());
        }
        std::fflush(stdout);
    }
    void Progress(Port& port, int percent, int position, int size) const
    {
        if (m_json) {
            std::printf("{\"port\":%d,\"progress\":%d,\"position\":%d,\"size\":%d}\n", port.target.port, percent,
                        position, size);
        } else if (percent / 10 != port.lastTenth) {
            port.lastTenth = percent / 10;
            std::printf("COM%d progress %d %%\n", port.target.port, percent);
        } else {
            return;
        }
        std::fflush(stdout);
    }
    void End(const Port& port, const char* word) const
    {
        if (m_json)
            std::printf("{\"port\":%d,\"end\":\"%s\"}\n", port.target.port, word);
        else
            std::printf("COM%d run %d: %s\n", port.target.port, port.runs, word);
        std::fflush(stdout);
    }
    void Summary(const std::vector<Port>& ports, int signalNumber) const
    {
        std::FILE* out = m_json ? stderr : stdout;
        std::fprintf(out, "\n%s: continuous runs ended\nPORT    RUNS  PASS  FAIL  ERROR  ABORTED\n",
                     signalNumber == SIGTERM ? "SIGTERM" : signalNumber == SIGHUP ? "SIGHUP" : "SIGINT");
        for (const Port& p : ports)
            std::fprintf(out, "COM%-4d %4d  %4d  %4d  %5d  %7d\n", p.target.port, p.runs, p.pass, p.fail, p.error,
                         p.aborted);
        std::fflush(out);
    }

private:
    bool m_json;
};

}  // namespace

int RunContinuousJob(const FlashJob& job)
{
    Output output(job.json);
    std::vector<Port> ports(job.ports.size());
    ReportQueue queue;
    DeviceWatcher watcher([&queue] { queue.Wake(); });
    for (std::size_t i = 0; i < ports.size(); ++i) {
        ports[i].target = job.ports[i];
        ports[i].device = job.ports[i].device.empty() ? DefaultDevicePath(job.ports[i].port) : job.ports[i].device;
        ports[i].watch = watcher.Watch(ports[i].device);
    }
    if (std::string error; !watcher.Start(error))
        return Failure(error);

    JobSignals signals(job.signals, [&queue] { queue.Wake(); });
    // Every run leaves its record; while the record cannot be written no run begins.
    // The loop also wakes when the record's state changes (a write failed, or works again).
    RecordSession session(job.record, queue, [&queue] { queue.Wake(); });
    if (std::string problem = session.Problem(); !problem.empty())
        return Failure("cannot record the runs: " + problem + " (mend it, or run with --no-record)");
    record::RunRecorder& recorder = session.Recorder();
    std::string shownRecordProblem;
    std::string shownForwardProblem;

    auto endRun = [&](Port& port, const char* word) {
        if (!port.running)
            return;
        port.running = false;
        port.closing = true;
        output.End(port, word);
    };
    // Opens the device that has (re)appeared and begins a run on it.
    // Set when a run could not be recorded: no run begins until the journal has taken a
    // write again (its refused record is written then), whatever Problem() says meanwhile.
    bool recordRefused = false;
    auto beginRun = [&](Port& port, uint64_t generation, const HolderScan& holders) {
        const uint64_t previousGeneration = port.flashedGeneration;
        port.flashedGeneration = generation;
        ++port.runs;
        port.running = true;
        port.answered = false;
        port.lastTenth = -1;
        port.shownWait = Wait::None;
        EngineEnvironment env;
        env.clock = job.clock;
        env.monitorDir = job.monitorDir;
        port.engine = std::make_unique<CWinMonitorCtrl>(env);
        port.engine->SetPortNumber(port.target.port);
        record::RunSetup setup;
        setup.port = port.target.port;
        setup.device = port.device;
        setup.image = job.image;
        setup.mainSoftware = job.mainSoftware;
        if (std::string error; !recorder.BeginRun(*port.engine, setup, error)) {
            // Not even opened: the handset in the socket is flashed once recording works.
            output.Note(port, error);
            ++port.error;
            endRun(port, "ERROR");
            port.engine.reset();
            port.closing = false;
            port.flashedGeneration = previousGeneration;
            recordRefused = true;
            return;
        }
        if (!port.engine->OpenDevice(port.device, CWinMonitorCtrl::kBaudRate, &holders)) {
            recorder.EndRun(*port.engine, record::result::kError, port.engine->OpenError());
            std::string text = "Serial Port Open Failed... (" + port.engine->OpenError() + ")";
            const std::string hint = doctor::FirstProblem(doctor::CheckPort(port.target.port, port.device));
            if (!hint.empty())
                text += "; " + hint;
            output.Note(port, text);
            ++port.error;
            endRun(port, "ERROR");
            port.engine.reset();
            port.closing = false;
            return;
        }
        if (!job.json)
            output.Note(port, "run " + std::to_string(port.runs) + " on " + port.device);
        if (job.waitSeconds >= 0)
            port.noTargetDeadline =
                Clock::now() + std::chrono::milliseconds(static_cast<long long>(job.waitSeconds * 1000));
        else
            port.noTargetDeadline = Clock::time_point::max();
        port.engine->Start(&recorder);
    };

    QueuedReport report;
    while (!signals.Interrupted()) {
        if (recordRefused && session.Pending() == 0)
            recordRefused = false;
        std::string recordProblem = session.Problem();
        if (recordProblem.empty() && recordRefused)
            recordProblem = session.Settings().database + ": a run's record could not be written";
        if (recordProblem != shownRecordProblem) {
            shownRecordProblem = recordProblem;
            std::fprintf(stderr, recordProblem.empty() ? "record: works again\n" : "record: %s; no run begins until it works\n",
                         recordProblem.c_str());
        }
        if (const std::string forwardProblem = session.ForwardProblem(); forwardProblem != shownForwardProblem) {
            shownForwardProblem = forwardProblem;
            std::fprintf(stderr,
                         forwardProblem.empty() ? "line database: records are forwarded again\n"
                                                : "line database: %s; the records wait in the journal\n",
                         forwardProblem.c_str());
        }
        // Idle ports: begin a run on a new device, or say what they wait for. The ports that
        // begin in one pass (all of them at the start) share one walk of /proc for their
        // holder checks.
        std::optional<HolderScan> holders;
        for (Port& port : ports) {
            if (port.running || port.closing || !recordProblem.empty() || recordRefused)
                continue;
            const bool present = watcher.Present(port.watch);
            const uint64_t generation = watcher.Generation(port.watch);
            if (present && generation != port.flashedGeneration) {
                if (!holders)
                    holders.emplace();
                beginRun(port, generation, *holders);
                continue;
            }
            const Wait wait = present ? Wait::Stayed : Wait::Absent;
            if (wait != port.shownWait) {
                port.shownWait = wait;
                output.Note(port, present ? "done: unplug the handset to flash the next one on " + port.device
                                          : "waiting for the device " + port.device);
            }
        }
        // While the record fails, look again every second (the writer retries meanwhile).
        std::chrono::nanoseconds timeout = std::chrono::hours(1);
        if (!recordProblem.empty() || recordRefused)
            timeout = std::chrono::seconds(1);
        const auto now = Clock::now();
        for (Port& port : ports) {
            if (!port.running || port.answered || port.noTargetDeadline == Clock::time_point::max())
                continue;
            if (port.noTargetDeadline <= now) {
                output.Note(port, "no target answered");
                ++port.error;
                recorder.EndRun(*port.engine, record::result::kNoTarget, "no target answered");
                endRun(port, "NO TARGET");
                port.engine.reset();
                port.closing = false;
                continue;
            }
            timeout = std::min<std::chrono::nanoseconds>(timeout, port.noTargetDeadline - now);
        }
        if (!queue.Pop(report, timeout) || signals.Interrupted())
            continue;
        Port* port = nullptr;
        for (Port& p : ports)
            if (p.engine.get() == report.engine)
                port = &p;
        if (!port) {
            queue.Done();
            continue;
        }
        switch (report.kind) {
        case QueuedReport::Kind::Status:
            if (!port->running)
                break;
            port->answered = true;
            output.Status(*port, report.code, report.text, report.reason);
            if (report.code == status::kReadyForDownload) {
                if (!port->engine->StartDownload(&recorder, recorder.DownloadPath(*port->engine))) {
                    recorder.EndRun(*port->engine, record::result::kError, "cannot open the download image");
                    output.Note(*port, "cannot open the download image " + job.image);
                    ++port->error;
                    endRun(*port, "ERROR");
                }
            } else if (report.code == status::kPass) {
                ++port->pass;
                endRun(*port, "COMPLETE");
            } else if (status::IsError(report.code)) {
                ++(report.code == status::kFail ? port->fail : port->error);
                endRun(*port, "ERROR");
            }
            break;
        case QueuedReport::Kind::Progress:
            if (port->running)
                output.Progress(*port, report.percent, report.position, report.size);
            break;
        case QueuedReport::Kind::RunEnded:
            // A run that ends without PASS or an error code ended on a text: an error.
            if (port->running) {
                ++port->error;
                endRun(*port, "ERROR");
            }
            port->closing = true;
            break;
        }
        queue.Done();
        CheckOutput();
        if (port->closing && report.kind == QueuedReport::Kind::RunEnded) {
            // The run's workers are done: close the device until the next handset.
            port->engine.reset();
            port->closing = false;
        }
    }

    // The signal: every run in progress is stopped at once; ports waiting for a device have
    // no run to end.
    for (Port& port : ports)
        if (port.engine)
            port.engine->RequestStop();
    for (Port& port : ports) {
        port.engine.reset();
        if (port.running) {
            ++port.aborted;
            endRun(port, "ABORTED");
        }
    }
    signals.Detach();
    output.Summary(ports, signals.Watch().Caught());
    CheckOutput();
    // The signal is the normal end here: the records are made durable and forwarded.
    if (const std::string problem = session.Close(); !problem.empty())
        return Failure("the record of these runs could not be written: " + problem);
    session.ForwardBeforeExit();
    for (const Port& port : ports)
        if (port.fail + port.error + port.aborted > 0)
            return kExitFailure;
    return kExitOk;
}

}  // namespace tarvo::cli
