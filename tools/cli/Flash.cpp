// tarvo-cli flash: flashes one download image into the handsets on several ports at once.

#include "tools/cli/Flash.h"

#include "tools/cli/Approval.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/ReportQueue.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "record/Export.h"
#include "record/RunRecorder.h"
#include "serial/Holders.h"
#include "serial/PortDirectory.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Continuous.h"
#include "tools/cli/Printer.h"
#include "tools/cli/Profile.h"
#include "tools/cli/SignalWatch.h"
#include "tools/cli/StatusSetup.h"
#include "tools/cmdline/CommandLine.h"

namespace tarvo::cli {
namespace {

constexpr const char* kUsage =
    "flash (--image FILE.cp64 | --main FILE.m0) [--port N[=DEVICE]]... [--json] [--wait SECONDS]\n"
    "      [--unit LABEL] [--record PATH | --no-record] [--forward URL] [--require-approved] [--continuous]\n"
    "      [--progress auto|plain] [--listen [ADDR:]PORT]";

// The longest unit label, in characters, as the station's window takes it.
constexpr std::size_t kMaxUnitChars = 128;

// Characters of UTF-8 text (bytes that do not continue a sequence; a stray byte counts as one).
std::size_t Utf8Length(const std::string& text)
{
    std::size_t count = 0;
    for (char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

enum class End { Running, Complete, Error, NoTarget, Aborted };

const char* EndWord(End end)
{
    switch (end) {
    case End::Complete: return "COMPLETE";
    case End::Error: return "ERROR";
    case End::NoTarget: return "NO TARGET";
    case End::Aborted: return "ABORTED";
    case End::Running: break;
    }
    return "RUNNING";
}

struct Port {
    PortTarget target;
    std::unique_ptr<CWinMonitorCtrl> engine;
    End end = End::Running;
    bool answered = false;   // a target has answered (any status report)
    std::string lastText;
    std::string state = "READY";
};

// The job's printer (tools/cli/Printer.h), told each port by its place in the job.
class Printer {
public:
    Printer(std::vector<Port>& ports, const FlashJob& job)
        : m_ports(ports), m_out(Numbers(ports), job.json, job.progress, RunPrinter::Job::Flash)
    {
    }

    // A status report; `reason` is the known cause beside the text (empty when none).
    void Status(Port& port, int code, const std::string& text, const std::string& reason)
    {
        // Status 0 starts the erase.
        m_out.Status(Index(port), code == status::kReadyForDownload ? "ERASE" : port.state, code, text, reason);
    }
    void Note(Port& port, const std::string& text) { m_out.Note(Index(port), text); }
    void Progress(Port& port, int percent, int position, int size)
    {
        m_out.Progress(Index(port), percent, position, size);
    }
    void Ended(Port& port) { m_out.Ended(Index(port), EndWord(port.end), port.lastText); }
    void Summary() { m_out.FlashSummary(); }

private:
    static std::vector<int> Numbers(const std::vector<Port>& ports)
    {
        std::vector<int> numbers;
        for (const Port& port : ports)
            numbers.push_back(port.target.port);
        return numbers;
    }
    std::size_t Index(const Port& port) const { return static_cast<std::size_t>(&port - m_ports.data()); }

    std::vector<Port>& m_ports;
    RunPrinter m_out;
};

// The signal's name for the summary ("SIGINT").
const char* SignalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
}

// "--wait SECONDS": a finite number of seconds from 0.001 to 1,000,000.
bool ParseWait(const char* text, double& seconds)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (*end != '\0' || errno == ERANGE || !std::isfinite(value) || value < 0.001 || value > 1000000.0)
        return false;
    seconds = value;
    return true;
}

// True when `a` and `b` name the same device: the same path, or the same file reached through
// different names (a /dev/serial link and its /dev/ttyUSB node).
bool SameDevice(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool ParsePort(const char* text, PortTarget& target)
{
    char* end = nullptr;
    long n = std::strtol(text, &end, 10);
    if (end == text || n < 1 || n > 255)
        return false;
    target.port = static_cast<int>(n);
    if (*end == '=') {
        target.device = end + 1;
        return !target.device.empty();
    }
    return *end == '\0';
}

}  // namespace

std::string Printable(const std::string& text)
{
    std::string out;
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (u == '\r')
            out += "\\r";
        else if (u < 0x20 || u == 0x7F)
            out += '?';
        else
            out += c;
    }
    return out;
}

bool ParseProgressStyle(const char* text, ProgressStyle& style)
{
    if (text && std::strcmp(text, "auto") == 0)
        style = ProgressStyle::Auto;
    else if (text && std::strcmp(text, "plain") == 0)
        style = ProgressStyle::Plain;
    else
        return false;
    return true;
}

void AddProgressOption(cmdline::OptionTable& table, ProgressStyle& style)
{
    table.Value("progress", "auto|plain",
                "plain: lines that scroll, also on a terminal (default auto: one line\n"
                "per port redrawn in place on a terminal that can show it)",
                [&style](const std::string& value) {
                    return ParseProgressStyle(value.c_str(), style)
                               ? std::string()
                               : "--progress takes auto or plain, not '" + value + "'";
                });
}

std::string JsonEscape(const std::string& text)
{
    // The record's exporter writes the same JSON strings; only the quotes are left off here.
    const std::string quoted = record::JsonString(text);
    return quoted.substr(1, quoted.size() - 2);
}

int RunFlashJob(const FlashJob& job)
{
    // Only an approved image, when the station requires it: checked before any port opens.
    std::unique_ptr<record::ApprovalGate> approval;
    if (const int status = StartApprovalGate(job, approval); status != kExitOk)
        return status;
    std::vector<Port> ports(job.ports.size());
    MapPortDirectory directory;
    for (std::size_t i = 0; i < job.ports.size(); ++i) {
        ports[i].target = job.ports[i];
        if (!job.ports[i].device.empty())
            directory.Set(job.ports[i].port, job.ports[i].device);
    }

    Printer printer(ports, job);
    ReportQueue queue;
    // A signal ends every run at once: the loop below wakes and stops the engines.
    JobSignals signals(job.signals, [&queue] { queue.Wake(); });
    // The recorder sits between the engines and the queue: it holds each run's final report
    // until the run's record is durable.
    RecordSession session(job.record, queue);
    if (std::string problem = session.Problem(); !problem.empty())
        return Failure("cannot record the runs: " + problem + " (mend it, or run with --no-record)");
    record::RunRecorder& recorder = session.Recorder();
    const StatusTee tee(job.model, recorder, job.record);
    tee.FollowForwarding(session);
    // One walk of /proc for every port's holder check: each walk costs a system call per
    // descriptor on the machine, which 64 ports would pay 64 times. It is taken once the first
    // run may begin, so that it shows the moment of the opens.
    std::optional<HolderScan> holders;
    int running = 0;
    // Every port's RUNNING record goes to the writer first (one transaction for all), then
    // each port opens only once its record is durable: no record, no run.
    for (Port& port : ports) {
        if (signals.Interrupted())
            break;
        EngineEnvironment env;
        env.clock = job.clock;
        env.ports = &directory;
        env.monitorDir = job.monitorDir;
        port.engine = std::make_unique<CWinMonitorCtrl>(env);
        port.engine->SetPortNumber(port.target.port);
        record::RunSetup setup;
        setup.port = port.target.port;
        setup.device = port.target.device.empty() ? "/dev/ttyS" + std::to_string(port.target.port - 1) : port.target.device;
        setup.image = job.image;
        setup.mainSoftware = job.mainSoftware;
        if (!job.record.unit.empty())
            setup.unit = job.record.unit;
        if (std::string refusal; !PrepareRun(approval.get(), setup, refusal)) {
            port.lastText = refusal;
            printer.Note(port, refusal);
            port.end = End::Error;
            printer.Ended(port);
            tee.Ended(port.target.port, EndWord(port.end));
            port.engine.reset();
            continue;
        }
        recorder.SubmitRun(*port.engine, setup);
    }
    for (Port& port : ports) {
        if (!port.engine)
            continue;
        if (signals.Interrupted())
            break;
        if (std::string error; !recorder.WaitBegun(*port.engine, error)) {
            port.lastText = error;
            printer.Note(port, port.lastText);
            port.end = End::Error;
            printer.Ended(port);
            continue;
        }
        if (!holders)
            holders.emplace();
        if (!port.engine->OpenPort(port.target.port, CWinMonitorCtrl::kBaudRate, &*holders)) {
            port.lastText = "Serial Port Open Failed... (" + port.engine->OpenError() + ")";
            recorder.EndRun(*port.engine, record::result::kError, port.engine->OpenError());
            printer.Note(port, port.lastText);
            tee.OpenFailed(port.target.port, port.engine->OpenError());
            port.end = End::Error;
            printer.Ended(port);
            tee.Ended(port.target.port, EndWord(port.end));
            continue;
        }
        tee.Begun(port.target.port, *port.engine);
        port.engine->Start(&recorder);
        ++running;
    }

    using Clock = std::chrono::steady_clock;
    const bool limited = job.waitSeconds >= 0;
    const auto waitDeadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(job.waitSeconds * 1000));
    auto find = [&](const CWinMonitorCtrl* engine) -> Port* {
        for (Port& port : ports)
            if (port.engine.get() == engine)
                return &port;
        return nullptr;
    };
    auto finish = [&](Port& port, End end) {
        if (port.end != End::Running)
            return;
        port.end = end;
        --running;
        printer.Ended(port);
        tee.Ended(port.target.port, EndWord(end));
    };

    QueuedReport report;
    while (running > 0 && !signals.Interrupted()) {
        auto timeout = std::chrono::nanoseconds(std::chrono::seconds(1));
        if (limited) {
            bool anyWaiting = false;
            for (Port& port : ports)
                anyWaiting |= port.end == End::Running && !port.answered;
            if (anyWaiting) {
                auto left = waitDeadline - Clock::now();
                if (left <= Clock::duration::zero()) {
                    // No target answered in time: give up on those ports.
                    for (Port& port : ports) {
                        if (port.end == End::Running && !port.answered) {
                            recorder.EndRun(*port.engine, record::result::kNoTarget, "no target answered");
                            port.engine.reset();
                            port.lastText = "no target answered";
                            finish(port, End::NoTarget);
                        }
                    }
                    continue;
                }
                if (left < timeout)
                    timeout = left;
            }
        }
        if (!queue.Pop(report, timeout) || signals.Interrupted())
            continue;
        Port* port = find(report.engine);
        if (!port || port->end != End::Running) {
            queue.Done();
            continue;
        }
        switch (report.kind) {
        case QueuedReport::Kind::Status:
            port->answered = true;
            port->lastText = report.reason.empty() ? report.text : report.text + " (" + report.reason + ")";
            printer.Status(*port, report.code, report.text, report.reason);
            tee.Report(report);
            if (report.code == status::kReadyForDownload) {
                port->state = "ERASE";
                if (!port->engine->StartDownload(&recorder, recorder.DownloadPath(*port->engine))) {
                    recorder.EndRun(*port->engine, record::result::kError, "cannot open the download image");
                    port->lastText = "cannot open the download image " + job.image;
                    printer.Note(*port, port->lastText);
                    finish(*port, End::Error);
                }
            } else if (report.code == status::kPass) {
                finish(*port, End::Complete);
            } else if (status::IsError(report.code)) {
                finish(*port, End::Error);
            }
            break;
        case QueuedReport::Kind::Progress:
            port->state = "DOWNLOAD";
            printer.Progress(*port, report.percent, report.position, report.size);
            tee.Report(report);
            break;
        case QueuedReport::Kind::RunEnded:
            // A run that ends without PASS or an error code ended on a text (a refused
            // identify): that is an error for the line.
            finish(*port, End::Error);
            break;
        }
        queue.Done();
        CheckOutput();
    }
    if (signals.Interrupted()) {
        // Every engine is told to stop before any is waited for, so all runs end together and
        // every device is released within milliseconds.
        for (Port& port : ports)
            if (port.engine)
                port.engine->RequestStop();
    }
    for (Port& port : ports)
        port.engine.reset();
    signals.Detach();
    if (signals.Interrupted()) {
        const std::string why = std::string("interrupted by ") + SignalName(signals.Watch().Caught());
        for (Port& port : ports) {
            if (port.end == End::Running) {
                port.lastText = port.lastText.empty() ? why : port.lastText + "; " + why;
                finish(port, End::Aborted);
            }
        }
        printer.Summary();
        CheckOutput();
        // The stopped runs are recorded ABORTED before the program ends; forwarding waits for
        // the next program that forwards.
        if (const std::string recordProblem = session.Close(); !recordProblem.empty())
            Failure("the record of these runs could not be written: " + recordProblem);
        return signals.Watch().ExitStatus();
    }
    printer.Summary();
    CheckOutput();
    const std::string recordProblem = session.Close();
    session.ForwardBeforeExit();
    if (!recordProblem.empty())
        return Failure("the record of these runs could not be written: " + recordProblem);
    for (const Port& port : ports)
        if (port.end != End::Complete)
            return kExitFailure;
    return kExitOk;
}

int RunFlash(int argc, char** argv)
{
    FlashJob job;
    std::string mainFile;
    // The record's settings from the profile first; the command line overrides them.
    job.record = RecordSettingsFromProfile(Profile::LoadUser());
    bool unitGiven = false;
    cmdline::OptionTable table("tarvo-cli flash", kUsage, "usage: tarvo-cli ");
    table.Description("Flashes the download image into the handset on every port at once.\n")
        .Value("image", "FILE.cp64", "the download image", [&](const std::string& v) {
            job.image = v;
            return std::string();
        })
        .Value("main", "FILE.m0", "a main software file, converted first", [&](const std::string& v) {
            mainFile = v;
            return std::string();
        })
        .Value("port", "N[=DEVICE]",
               "COM port N; its device from the profile's \"Device\"/\"COMN\"\n"
               "(default /dev/ttyS<N-1>) or DEVICE. Repeatable. Without\n"
               "--port: every port enabled in the station's profile.",
               [&](const std::string& v) {
                   PortTarget target;
                   if (!ParsePort(v.c_str(), target))
                       return "--port takes N or N=DEVICE (N from 1 to 255), not '" + v + "'";
                   job.ports.push_back(target);
                   return std::string();
               })
        .Flag("json", "JSON Lines on stdout", [&] { job.json = true; })
        .Value("wait", "SECONDS", "give up on a port whose target has not answered by then",
               [&](const std::string& v) {
                   return ParseWait(v.c_str(), job.waitSeconds)
                              ? std::string()
                              : std::string("--wait takes a number of seconds from 0.001 to 1000000");
               })
        .Flag("continuous",
              "every port flashes each new handset until SIGINT/SIGTERM: it waits\n"
              "for its device, runs, closes it, and runs again once the device\n"
              "has gone and come back; then a summary per port (stderr with\n"
              "--json); exit 0 when every run that ended passed, none aborted",
              [&] { job.continuous = true; })
        .Value("unit", "LABEL",
               "a label of the handset (e.g. its serial number), kept in\n"
               "the run's record; one port only",
               [&](const std::string& v) {
                   job.record.unit = v;
                   unitGiven = true;
                   return std::string();
               });
    AddRecordOptions(table, job.record);
    AddProgressOption(table, job.progress);
    AddListenOption(table, job.listen);
    table.Epilogue("Monitor files (monitor_ul_bs.m0, .map) are read from the current directory.\n");
    if (const int status = table.ParseOrExit(argc, argv); status >= 0)
        return status;
    if (job.image.empty() == mainFile.empty())
        return table.UsageError("give one of --image and --main");
    if (unitGiven && Utf8Length(job.record.unit) > kMaxUnitChars)
        return Failure("--unit: a unit label holds at most " + std::to_string(kMaxUnitChars) + " characters; this one has " +
                       std::to_string(Utf8Length(job.record.unit)));
    // Options that contradict the administrator's settings are refused before anything runs.
    const Profile administered = Profile::LoadUser();
    if (const std::string locked = LockedRecordOptions(administered, job.record); !locked.empty())
        return Failure(locked);
    for (const PortTarget& target : job.ports) {
        const std::string locked = target.device.empty() ? std::string()
                                                         : LockedDevice(administered, target.port, target.device);
        if (!locked.empty())
            return Failure(locked);
    }

    // Caught from here on: a signal during the conversion cancels it (no temporary file stays).
    SignalWatch signals;
    job.signals = &signals;
    if (!mainFile.empty()) {
        std::atomic<bool> cancel{false};
        signals.OnSignal([&](int) { cancel = true; });
        ConvertError error;
        const bool converted = ConvertImageFile(mainFile, job.image, error, &cancel);
        signals.OnSignal(nullptr);
        if (signals.Caught() != 0)
            return signals.ExitStatus();
        if (!converted)
            return Failure(error.ToString());
        job.mainSoftware = mainFile;
    }
    // An image that can only fail is refused before any port opens (and any handset is erased).
    if (ConvertError error; !CheckDownloadImage(job.image, error))
        return Failure(error.ToString());
    Profile profile = Profile::LoadUser();
    bool profileNeeded = job.ports.empty();
    for (const PortTarget& target : job.ports)
        profileNeeded |= target.device.empty();
    if (profileNeeded && !profile.Error().empty())
        return Failure(profile.Error());
    if (job.ports.empty()) {
        for (int k = 1; k <= 8; ++k)
            if (profile.GetInt("Port", "m_intPort" + std::to_string(k), 0) == 1)
                job.ports.push_back(PortTarget{k + 4, {}});
        if (job.ports.empty())
            return Failure("no port given and none enabled in " + Profile::UserPath());
    }
    if (unitGiven && job.ports.size() != 1)
        return Failure("--unit labels one handset: give exactly one --port with it");
    for (PortTarget& target : job.ports) {
        if (target.device.empty())
            target.device = profile.Get("Device", "COM" + std::to_string(target.port));
        if (target.device.empty())
            target.device = DefaultDevicePath(target.port);
    }
    // One device per port and one port per device: two engines on one device would steal each
    // other's bytes.
    for (std::size_t a = 0; a < job.ports.size(); ++a) {
        for (std::size_t b = a + 1; b < job.ports.size(); ++b) {
            const PortTarget& first = job.ports[a];
            const PortTarget& second = job.ports[b];
            if (first.port == second.port) {
                return table.UsageError("COM" + std::to_string(first.port) + " is given twice (--port " +
                                        std::to_string(first.port) + "=" + first.device + " and --port " +
                                        std::to_string(second.port) + "=" + second.device + ")");
            }
            if (SameDevice(first.device, second.device)) {
                return table.UsageError("COM" + std::to_string(first.port) + " (" + first.device + ") and COM" +
                                        std::to_string(second.port) + " (" + second.device + ") name the same device");
            }
        }
    }
    return RunJob(job);
}

}  // namespace tarvo::cli
