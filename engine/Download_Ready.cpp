// The ready worker: target detection, monitor loading and monitor start.

#include "engine/Download_Ready.h"

#include <cstring>

#include "engine/Clock.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "serial/ThreadPriority.h"

namespace tarvo {
namespace {

constexpr uint16_t kIdentifyWait = 4;      // 20 ms
constexpr uint16_t kLoadConfirmWait = 1000;  // 5 s after the last monitor line
constexpr uint16_t kRunConfirmWait = 10000;  // 50 s
constexpr uint32_t kAfterLoadPause = 1000;   // ms
constexpr int kMapLinesSearched = 11;
constexpr uint32_t kMonitorWriteBytes = 4096;  // monitor bytes gathered per write
// A line converts to at most 65,535 bytes: what is gathered, below kMonitorWriteBytes, plus one
// more line always fits the byte buffer.
static_assert(kMonitorWriteBytes + 65535u <= static_cast<uint32_t>(kLineBytesBuffer));
constexpr char kEntryTag[] = "ENTRY POINT SYMBOL";

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

CDownload_Ready::~CDownload_Ready()
{
    Stop();
}

bool CDownload_Ready::Start(CWinMonitorCtrl* engine)
{
    m_engine = engine;
    if (m_running.load()) {
        Stop();
        return false;
    }
    if (m_thread.joinable())
        m_thread.join();  // an earlier run that has ended by itself
    m_stop = false;
    m_running = true;
    m_thread = WorkerThread([this] { DetectBootloader(); });
    return true;
}

bool CDownload_Ready::Stop()
{
    if (m_running.load()) {
        m_stop = true;
        m_running = false;
    }
    if (m_thread.joinable())
        m_thread.join();
    return true;
}

void CDownload_Ready::DetectBootloader()
{
    LowerThreadPriority();
    NameThisThread("tarvo ready");
    CWinMonitorCtrl& e = *m_engine;
    TargetCommand identify;
    identify.cw = 0;
    Payload command{};
    EncodeCommand(identify, command);
    e.m_comm.Purge();

    Payload answer{};
    bool readyReported = false;
    while (!m_stop.load() && !e.StopRequested()) {
        // A port that is gone (unplugged adapter, closed channel) can never answer: say so
        // instead of polling it for ever.
        if (e.ChannelGone()) {
            e.Report(status::kPortLost, "Serial Port Lost...");
            break;
        }
        e.SendFrame(command);
        if (!e.WaitFrame(kIdentifyWait, answer))
            continue;  // no target yet: identify again

        TargetConfirmation confirmation;
        if (DecodeConfirmation(answer, confirmation) != kLinkOk) {
            e.Report(status::kIdentifyFormat, "Error in the format of confirmation ! (CW=%d)", 0);
            m_stop = true;
            break;
        }
        if (confirmation.cw != 0) {
            e.Report(status::kIdentifyCommandWord, "Bad command word ! (CW=%d)", confirmation.cw);
            m_stop = true;
            break;
        }
        if (confirmation.result != 0) {
            FormatResultText(e.m_message, sizeof e.m_message, confirmation);
            e.m_statusCode = status::kInformation;
            e.ReportStatus();
            m_stop = true;
            break;
        }

        e.m_loaderType = confirmation.info[0];
        e.m_loaderVersion = confirmation.info[1] << 16 | confirmation.info[2];
        bool ready = true;
        if (e.m_loaderType == 1) {
            e.Report(status::kInformation, "The flashloader is running. Version %d.%d.%d.", confirmation.info[1],
                     confirmation.info[2] >> 4, confirmation.info[2] & 0x0F);
        } else if (e.m_loaderType == 2) {
            e.Report(status::kInformation, "The bootloader is running. Version %d.%d.", confirmation.info[1],
                     confirmation.info[2]);
            // A monitor that did not load or start cannot erase: the run ends here with the
            // failure on screen, and no erase follows.
            ready = e.LoadMonitor() && e.StartMonitor();
        }
        if (ready && !e.StopRequested()) {
            e.Report(status::kReadyForDownload, "Download Reday End !");
            readyReported = true;
        }
        m_stop = true;
    }
    // Also after a stop: the receiver learns that the run is over (a released engine's call is
    // dropped).
    if (!readyReported)
        e.ReportRunEnded();
    m_running = false;
}

bool CWinMonitorCtrl::LoadMonitor()
{
    FilePtr file(std::fopen(MonitorPath(".m0").c_str(), "r"));
    if (!file) {
        Report(status::kFileNotFound, "File Not Found Error '%s'", "monitor_ul_bs.m0");
        return false;
    }
    TargetCommand load;
    load.cw = 9;
    Payload command{};
    EncodeCommand(load, command);
    m_comm.Purge();
    SendFrame(command);
    Report(status::kInformation, "Loading Monitor in data RAM...");

    bool readError = false;
    m_monitorGathered = 0;
    while (!StopRequested() && !SendMonitorLine(file.get(), readError)) {
    }
    if (StopRequested())
        return false;
    if (readError) {
        // The rest of the monitor cannot be sent; the target would wait for it in vain.
        Report(status::kInformation, "Read error in file 'monitor_ul_bs.m0'");
        Report(status::kLoadAborted, "Application loading aborted.");
        return false;
    }

    const bool arrived =
        WaitConfirmationUntil(m_clock->TickMs(), kLoadConfirmWait * 5u, 9, m_confirmationPayload);
    if (!arrived && StopRequested())
        return false;  // stopped, not unconfirmed
    char text[kMessageChars];
    if (CheckConfirmation(arrived, m_confirmationPayload, 9, m_confirmation, text, sizeof text) != Check::Passed) {
        Report(status::kInformation, "%s", text);
        Report(status::kLoadAborted, "Application loading aborted.");
        Pause(kAfterLoadPause);
        return false;
    }
    Report(status::kInformation, "Checksum: File: %04X RAM: %04X", m_confirmation.value1, m_confirmation.value2);
    return Pause(kAfterLoadPause);
}

bool CWinMonitorCtrl::SendMonitorLine(std::FILE* file, bool& readError)
{
    uint32_t written = 0;
    char* line = m_lineBuffer;
    if (!std::fgets(line, kLineBufferChars, file)) {
        readError = std::ferror(file) != 0;
        if (m_monitorGathered > 0)
            m_comm.Write(m_byteBuffer, static_cast<int>(m_monitorGathered), written);
        m_monitorGathered = 0;
        return true;
    }
    // One write per monitor line would cost a system call and, on a loaded station, a context
    // switch for each of them.
    uint16_t count = 0;
    ConvertLine(line, m_byteBuffer + m_monitorGathered, count);
    m_monitorGathered += count;
    if (m_monitorGathered >= kMonitorWriteBytes) {
        m_comm.Write(m_byteBuffer, static_cast<int>(m_monitorGathered), written);
        m_monitorGathered = 0;
    }
    return false;
}

uint32_t CWinMonitorCtrl::ReadRunAddress(bool& tagFound)
{
    tagFound = false;
    FilePtr file(std::fopen(MonitorPath(".map").c_str(), "r"));
    if (!file)
        return kNoRunAddress;
    uint32_t address = 0;
    char* line = m_lineBuffer;
    for (int i = 0; i < kMapLinesSearched; ++i) {
        if (!std::fgets(line, kLineBufferChars, file.get()))
            break;
        if (std::strncmp(line, kEntryTag, sizeof kEntryTag - 1) != 0)
            continue;
        // The address is the last 8 characters before the line end (LF or CR LF), read as
        // hexadecimal up to the first other character.
        std::size_t length = std::strlen(line);
        while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
            --length;
        std::size_t first = length > 8 ? length - 8 : 0;
        uint32_t value = 0;
        for (std::size_t k = first; k < length; ++k) {
            char c = line[k];
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else
                break;
            value = value << 4 | static_cast<uint32_t>(digit);
        }
        address = value;
        tagFound = true;
    }
    return address;
}

bool CWinMonitorCtrl::StartMonitor()
{
    bool tagFound = false;
    const uint32_t address = ReadRunAddress(tagFound);
    if (address == kNoRunAddress || !tagFound) {
        // Without the entry point the monitor cannot be started; jumping to address 0 instead
        // would leave the target in an unknown state.
        Report(status::kRunAddressMissing, "Run Address not received !");
        return false;
    }
    TargetCommand run;
    run.cw = 10;
    run.param1 = static_cast<uint16_t>(address >> 16);
    run.param2 = static_cast<uint16_t>(address & 0xFFFF);
    TargetConfirmation confirmation;
    if (!ExecuteCommand(kRunConfirmWait, run, confirmation)) {
        if (!StopRequested())
            Report(status::kRunAddressMissing, "Run Address not received !");
        return false;
    }
    return true;
}

}  // namespace tarvo
