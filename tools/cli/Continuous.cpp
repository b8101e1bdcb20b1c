// tarvo-cli flash --continuous: every port works on its own until a signal. A port waits for
// its device to appear (an inotify watch, no polling), opens it, polls for a handset and runs as
// flash does, closes the device when the run has ended, and runs again only once the device has
// gone and come back: a handset that stays plugged is never flashed twice.

#include "tools/cli/Continuous.h"

#include "tools/cli/Approval.h"

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
#include "tools/cli/Printer.h"
#include "tools/cli/SignalWatch.h"
#include "tools/cli/StatusSetup.h"

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
    Wait shownWait = Wait::None;
    int runs = 0, pass = 0, fail = 0, error = 0, aborted = 0;
};

}  // namespace

int RunContinuousJob(const FlashJob& job)
{
    std::vector<Port> ports(job.ports.size());
    std::vector<int> numbers;
    for (const PortTarget& target : job.ports)
        numbers.push_back(target.port);
    RunPrinter output(numbers, job.json, job.progress, RunPrinter::Job::Continuous);
    auto at = [&](const Port& port) { return static_cast<std::size_t>(&port - ports.data()); };
    auto counts = [](const Port& port) {
        return RunCounts{port.runs, port.pass, port.fail, port.error, port.aborted};
    };
    ReportQueue queue;
    DeviceWatcher watcher([&queue] { queue.Wake(); });
    for (std::size_t i = 0; i < ports.size(); ++i) {
        ports[i].target = job.ports[i];
        ports[i].device = job.ports[i].device.empty() ? DefaultDevicePath(job.ports[i].port) : job.ports[i].device;
        ports[i].watch = watcher.Watch(ports[i].device);
    }
    if (std::string error; !watcher.Start(error))
        return Failure(error);

    // Only an approved image, when the station requires it: checked before any port opens, and
    // again every 60 s; while it is refused no run begins.
    std::unique_ptr<record::ApprovalGate> approval;
    if (const int status = StartApprovalGate(job, approval); status != kExitOk)
        return status;
    std::string shownApprovalProblem;
    JobSignals signals(job.signals, [&queue] { queue.Wake(); });
    // Every run leaves its record; while the record cannot be written no run begins.
    // The loop also wakes when the record's state changes (a write failed, or works again).
    RecordSession session(job.record, queue, [&queue] { queue.Wake(); });
    if (std::string problem = session.Problem(); !problem.empty())
        return Failure("cannot record the runs: " + problem + " (mend it, or run with --no-record)");
    record::RunRecorder& recorder = session.Recorder();
    const StatusTee tee(job.model, recorder, job.record);
    tee.FollowForwarding(session);
    std::string shownRecordProblem;
    std::string shownForwardProblem;

    auto endRun = [&](Port& port, const char* word) {
        if (!port.running)
            return;
        port.running = false;
        port.closing = true;
        output.Ended(at(port), word, {}, counts(port));
        tee.Ended(port.target.port, word);
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
        std::string refused;
        PrepareRun(approval.get(), setup, refused);  // refusals are held off before beginRun
        if (std::string error; !recorder.BeginRun(*port.engine, setup, error)) {
            // Not even opened: the handset in the socket is flashed once recording works.
            output.Note(at(port), error);
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
            output.Note(at(port), text);
            tee.OpenFailed(port.target.port, port.engine->OpenError());
            ++port.error;
            endRun(port, "ERROR");
            port.engine.reset();
            port.closing = false;
            return;
        }
        output.RunBegun(at(port), port.device, counts(port));
        if (job.waitSeconds >= 0)
            port.noTargetDeadline =
                Clock::now() + std::chrono::milliseconds(static_cast<long long>(job.waitSeconds * 1000));
        else
            port.noTargetDeadline = Clock::time_point::max();
        tee.Begun(port.target.port, *port.engine);
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
            tee.RecordProblem(recordProblem);
            output.Message(recordProblem.empty() ? "record: works again"
                                                 : "record: " + recordProblem + "; no run begins until it works");
        }
        if (const std::string forwardProblem = session.ForwardProblem(); forwardProblem != shownForwardProblem) {
            shownForwardProblem = forwardProblem;
            output.Message(forwardProblem.empty() ? "line database: records are forwarded again"
                                                  : "line database: " + forwardProblem + "; the records wait in the journal");
        }
        std::string approvalProblem;
        if (std::string granted; approval && !approval->Allowed(granted, approvalProblem) && approvalProblem.empty())
            approvalProblem = "image not approved";
        if (approvalProblem != shownApprovalProblem) {
            shownApprovalProblem = approvalProblem;
            std::fprintf(stderr, approvalProblem.empty() ? "approval: the image is approved again\n"
                                                         : "error: %s; no run begins until it is approved\n",
                         approvalProblem.c_str());
        }
        // Idle ports: begin a run on a new device, or say what they wait for. The ports that
        // begin in one pass (all of them at the start) share one walk of /proc for their
        // holder checks.
        std::optional<HolderScan> holders;
        for (Port& port : ports) {
            if (port.running || port.closing || !recordProblem.empty() || recordRefused || !approvalProblem.empty())
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
                tee.Waiting(port.target.port, !present);
                output.Waiting(at(port), present, port.device);
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
                output.Note(at(port), "no target answered");
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
            output.Status(at(*port), report.code == status::kReadyForDownload ? "ERASE" : "READY", report.code,
                          report.text, report.reason);
            tee.Report(report);
            if (report.code == status::kReadyForDownload) {
                if (!port->engine->StartDownload(&recorder, recorder.DownloadPath(*port->engine))) {
                    recorder.EndRun(*port->engine, record::result::kError, "cannot open the download image");
                    output.Note(at(*port), "cannot open the download image " + job.image);
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
            if (port->running) {
                output.Progress(at(*port), report.percent, report.position, report.size);
                tee.Report(report);
            }
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
    std::vector<RunCounts> totals;
    for (const Port& port : ports)
        totals.push_back(counts(port));
    output.ContinuousSummary(totals, signals.Watch().Caught());
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
