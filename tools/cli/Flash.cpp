// tarvo-cli flash: flashes one download image into the handsets on several ports at once.

#include "tools/cli/Flash.h"

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
#include "tools/cli/Profile.h"
#include "tools/cli/SignalWatch.h"

namespace tarvo::cli {
namespace {

constexpr const char* kUsage =
    "flash (--image FILE.cp64 | --main FILE.m0) [--port N[=DEVICE]]... [--json] [--wait SECONDS]\n"
    "      [--unit LABEL] [--record PATH | --no-record] [--forward URL] [--continuous]";

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
    int percent = -1;
    int lastPrintedTenth = -1;
    std::string lastText;
    std::string state = "READY";
};

class Printer {
public:
    Printer(std::vector<Port>& ports, bool json)
        : m_ports(ports), m_json(json), m_tty(!json && ::isatty(STDOUT_FILENO))
    {
    }

    // A status report; `reason` is the known cause beside the text (empty when none).
    void Status(Port& port, int code, const std::string& text, const std::string& reason)
    {
        if (m_json) {
            if (reason.empty())
                std::printf("{\"port\":%d,\"status\":%d,\"text\":\"%s\"}\n", port.target.port, code,
                            JsonEscape(text).c_str());
            else
                std::printf("{\"port\":%d,\"status\":%d,\"text\":\"%s\",\"reason\":\"%s\"}\n", port.target.port,
                            code, JsonEscape(text).c_str(), JsonEscape(reason).c_str());
        } else {
            ClearBars();
            if (reason.empty())
                std::printf("COM%d [%d] %s\n", port.target.port, code, Printable(text).c_str());
            else
                std::printf("COM%d [%d] %s (%s)\n", port.target.port, code, Printable(text).c_str(),
                            Printable(reason).c_str());
            DrawBars();
        }
        std::fflush(stdout);
    }

    void Note(Port& port, const std::string& text)
    {
        if (m_json) {
            std::fprintf(stderr, "COM%d: %s\n", port.target.port, text.c_str());
            return;
        }
        ClearBars();
        std::printf("COM%d %s\n", port.target.port, Printable(text).c_str());
        DrawBars();
        std::fflush(stdout);
    }

    void Progress(Port& port, int percent, int position, int size)
    {
        port.percent = percent;
        if (m_json) {
            std::printf("{\"port\":%d,\"progress\":%d,\"position\":%d,\"size\":%d}\n", port.target.port, percent,
                        position, size);
            std::fflush(stdout);
            return;
        }
        if (m_tty) {
            auto now = std::chrono::steady_clock::now();
            if (percent == 100 || now - m_lastDraw > std::chrono::milliseconds(100)) {
                ClearBars();
                DrawBars();
                std::fflush(stdout);
            }
            return;
        }
        int tenth = percent / 10;
        if (tenth != port.lastPrintedTenth) {
            port.lastPrintedTenth = tenth;
            std::printf("COM%d progress %d %%\n", port.target.port, percent);
            std::fflush(stdout);
        }
    }

    void Ended(Port& port)
    {
        if (m_json) {
            std::printf("{\"port\":%d,\"end\":\"%s\"}\n", port.target.port, EndWord(port.end));
            std::fflush(stdout);
        } else if (m_tty) {
            ClearBars();
            DrawBars();
            std::fflush(stdout);
        }
    }

    void Summary()
    {
        if (m_json)
            return;
        ClearBars();
        m_barsShown = false;
        std::printf("\nPORT    RESULT      MESSAGE\n");
        for (const Port& port : m_ports)
            std::printf("COM%-4d %-11s %s\n", port.target.port, EndWord(port.end), Printable(port.lastText).c_str());
        std::fflush(stdout);
    }

private:
    void ClearBars()
    {
        if (!m_tty || !m_barsShown)
            return;
        std::printf("\033[%zuA\033[J", m_ports.size());
        m_barsShown = false;
    }

    void DrawBars()
    {
        if (!m_tty)
            return;
        for (const Port& port : m_ports) {
            int percent = port.percent < 0 ? 0 : port.percent;
            int filled = percent / 4;
            std::printf("COM%-3d [%.*s%.*s] %3d %%  %s\n", port.target.port, filled,
                        "#########################", 25 - filled, ".........................", percent,
                        port.end == End::Running ? port.state.c_str() : EndWord(port.end));
        }
        m_barsShown = true;
        m_lastDraw = std::chrono::steady_clock::now();
    }

    std::vector<Port>& m_ports;
    bool m_json;
    bool m_tty;
    bool m_barsShown = false;
    std::chrono::steady_clock::time_point m_lastDraw{};
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

std::string JsonEscape(const std::string& text)
{
    // The record's exporter writes the same JSON strings; only the quotes are left off here.
    const std::string quoted = record::JsonString(text);
    return quoted.substr(1, quoted.size() - 2);
}

int RunFlashJob(const FlashJob& job)
{
    std::vector<Port> ports(job.ports.size());
    MapPortDirectory directory;
    for (std::size_t i = 0; i < job.ports.size(); ++i) {
        ports[i].target = job.ports[i];
        if (!job.ports[i].device.empty())
            directory.Set(job.ports[i].port, job.ports[i].device);
    }

    Printer printer(ports, job.json);
    ReportQueue queue;
    // A signal ends every run at once: the loop below wakes and stops the engines.
    JobSignals signals(job.signals, [&queue] { queue.Wake(); });
    // The recorder sits between the engines and the queue: it holds each run's final report
    // until the run's record is durable.
    RecordSession session(job.record, queue);
    if (std::string problem = session.Problem(); !problem.empty())
        return Failure("cannot record the runs: " + problem + " (mend it, or run with --no-record)");
    record::RunRecorder& recorder = session.Recorder();
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
            port.end = End::Error;
            printer.Ended(port);
            continue;
        }
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
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (IsHelp(arg)) {
            std::printf("usage: tarvo-cli %s\n\n"
                        "Flashes the download image into the handset on every port at once.\n"
                        "  --image FILE.cp64  the download image\n"
                        "  --main FILE.m0     a main software file, converted first\n"
                        "  --port N[=DEVICE]  COM port N; its device from the profile's \"Device\"/\"COMN\"\n"
                        "                     (default /dev/ttyS<N-1>) or DEVICE. Repeatable. Without\n"
                        "                     --port: every port enabled in the station's profile.\n"
                        "  --json             JSON Lines on stdout\n"
                        "  --wait SECONDS     give up on a port whose target has not answered by then\n"
                        "  --continuous       every port flashes each new handset until SIGINT/SIGTERM: it waits\n"
                        "                     for its device, runs, closes it, and runs again once the device\n"
                        "                     has gone and come back; then a summary per port (stderr with\n"
                        "                     --json); exit 0 when every run that ended passed, none aborted\n"
                        "  --unit LABEL       a label of the handset (e.g. its serial number), kept in\n"
                        "                     the run's record; one port only\n"
                        "%s"
                        "Monitor files (monitor_ul_bs.m0, .map) are read from the current directory.\n",
                        kUsage, kRecordOptionsHelp);
            return kExitOk;
        }
        if (std::strcmp(arg, "--image") == 0) {
            const char* v = value();
            if (!v)
                return UsageError(kUsage);
            job.image = v;
        } else if (std::strcmp(arg, "--main") == 0) {
            const char* v = value();
            if (!v)
                return UsageError(kUsage);
            mainFile = v;
        } else if (std::strcmp(arg, "--port") == 0) {
            const char* v = value();
            PortTarget target;
            if (!v || !ParsePort(v, target))
                return UsageError(kUsage);
            job.ports.push_back(target);
        } else if (std::strcmp(arg, "--json") == 0) {
            job.json = true;
        } else if (std::strcmp(arg, "--unit") == 0) {
            const char* v = value();
            if (!v)
                return UsageError(kUsage);
            job.record.unit = v;
            unitGiven = true;
        } else if (int recordOption = ParseRecordOption(argc, argv, i, job.record); recordOption != 0) {
            if (recordOption < 0)
                return UsageError(kUsage);
        } else if (std::strcmp(arg, "--continuous") == 0) {
            job.continuous = true;
        } else if (std::strcmp(arg, "--wait") == 0) {
            if (!ParseWait(value(), job.waitSeconds)) {
                std::fprintf(stderr, "tarvo-cli flash: --wait takes a number of seconds from 0.001 to 1000000\n");
                return UsageError(kUsage);
            }
        } else {
            return UsageError(kUsage);
        }
    }
    if (job.image.empty() == mainFile.empty())
        return UsageError(kUsage);
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
    if (unitGiven && Utf8Length(job.record.unit) > kMaxUnitChars)
        return Failure("--unit: a unit label holds at most " + std::to_string(kMaxUnitChars) + " characters; this one has " +
                       std::to_string(Utf8Length(job.record.unit)));
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
                std::fprintf(stderr, "tarvo-cli flash: COM%d is given twice (--port %d=%s and --port %d=%s)\n",
                             first.port, first.port, first.device.c_str(), second.port, second.device.c_str());
                return UsageError(kUsage);
            }
            if (SameDevice(first.device, second.device)) {
                std::fprintf(stderr, "tarvo-cli flash: COM%d (%s) and COM%d (%s) name the same device\n",
                             first.port, first.device.c_str(), second.port, second.device.c_str());
                return UsageError(kUsage);
            }
        }
    }
    return job.continuous ? RunContinuousJob(job) : RunFlashJob(job);
}

}  // namespace tarvo::cli
