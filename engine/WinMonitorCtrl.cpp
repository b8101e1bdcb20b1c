#include "engine/WinMonitorCtrl.h"

#include <algorithm>
#include <cstdarg>

#include "engine/Clock.h"
#include "engine/StatusCodes.h"
#include "serial/Trace.h"

namespace tarvo {

CWinMonitorCtrl::CWinMonitorCtrl(EngineEnvironment environment)
    : m_clock(environment.clock ? environment.clock : &SystemClock()),
      m_ports(environment.ports),
      m_trace(environment.trace),
      m_monitorDir(std::move(environment.monitorDir)),
      m_buffers(kLineBytesBuffer + kTextBufferBytes),
      m_byteBuffer(m_buffers.Data()),
      m_lineBuffer(reinterpret_cast<char*>(m_buffers.Data() + kLineBytesBuffer)),
      m_imageReader(m_lineBuffer, kTextBufferBytes),
      m_comm(environment.ports, environment.trace)
{
}

CWinMonitorCtrl::~CWinMonitorCtrl()
{
    // Wake every wait of the workers and release the receiver: a worker blocked in a report
    // returns, and the workers end without waiting out any time-out, so the joins below end
    // within milliseconds.
    m_released = true;
    RequestStop();
    if (IReportSink* sink = m_sink.load()) {
        sink->ReleaseEngine(*this);
        // A worker may have passed its check of m_released just before it was set; release
        // again until no call is in flight. Only reached while a report is being delivered.
        if (m_reportsInFlight.load() > 0) {
            while (m_reportsInFlight.load() > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                sink->ReleaseEngine(*this);
            }
            // The last call may have queued its report after the release before it: release
            // once more now that nothing is in flight (no call can start any more).
            sink->ReleaseEngine(*this);
        }
    }
    if (m_downloadThread.joinable())
        m_downloadThread.join();
    m_ready.Stop();
    m_comm.Close();
}

bool CWinMonitorCtrl::OpenPort(int portNumber, uint32_t baudRate, const HolderScan* holders)
{
    return m_comm.Open(portNumber, baudRate, holders);
}

bool CWinMonitorCtrl::OpenDevice(const std::string& devicePath, uint32_t baudRate, const HolderScan* holders)
{
    return m_comm.OpenDevice(devicePath, baudRate, holders);
}

bool CWinMonitorCtrl::Start(IReportSink* sink)
{
    m_sink = sink;
    // Cleared here, before the worker exists, so a stop requested right after Start is seen.
    m_stop.Clear();
    m_comm.ClearInterrupt();
    ResetFrameDecoder();
    return m_ready.Start(this);
}

void CWinMonitorCtrl::RequestStop()
{
    m_stop.Request();
    m_comm.Interrupt();
}

bool CWinMonitorCtrl::StopDownload()
{
    RequestStop();
    if (m_downloadThread.joinable())
        m_downloadThread.join();
    return true;
}

bool CWinMonitorCtrl::ConvertImage(const std::string& mainPath)
{
    return ConvertImageFile(mainPath, m_imagePath, m_convertError);
}

std::string CWinMonitorCtrl::MonitorPath(const char* extension) const
{
    std::string name = std::string("monitor_ul_bs") + extension;
    if (m_monitorDir.empty())
        return name;
    return m_monitorDir + "/" + name;
}

bool CWinMonitorCtrl::ChannelGone() const
{
    return (m_comm.HasFailed() || !m_comm.IsRunning()) && !m_comm.HasUnread();
}

// --- link -------------------------------------------------------------------------------

void CWinMonitorCtrl::SendFrame(const Payload& payload)
{
    if (StopRequested())
        return;  // a stopped engine sends nothing more
    uint16_t length = 0;
    StuffFrame(payload, m_txFrame, length);
    if (length > kTransmitFrameBytes)
        return;
    uint32_t written = 0;
    m_comm.Write(m_txFrame, length, written);
}

bool CWinMonitorCtrl::WaitFrame(uint16_t timeout5ms, Payload& payload)
{
    const uint32_t start = m_clock->TickMs();
    const uint32_t limit = static_cast<uint32_t>(timeout5ms) * 5u;
    for (;;) {
        uint8_t byte;
        if (m_comm.TakeByte(byte)) {
            if (m_trace) {
                char line[16];
                std::snprintf(line, sizeof line, "[0x%02x]", byte);
                m_trace->Trace(line);
            }
            if (PutFrameByte(byte, payload))
                return true;
        }
        const uint32_t elapsed = m_clock->TickMs() - start;
        if (elapsed >= limit || StopRequested())
            return false;
        if (!m_comm.HasUnread()) {
            if (ChannelGone())
                return false;
            m_clock->WaitForData(m_comm, limit - elapsed);
        }
    }
}

bool CWinMonitorCtrl::WaitFrameUntil(uint32_t startTick, uint32_t limitMs, uint16_t unit, Payload& payload)
{
    for (;;) {
        if (WaitFrame(unit, payload))
            return true;
        const uint32_t elapsed = m_clock->TickMs() - startTick;
        if (elapsed >= limitMs || StopRequested() || ChannelGone())
            return false;
        if (!m_comm.HasUnread())
            m_clock->WaitForData(m_comm, limitMs - elapsed);
    }
}

bool CWinMonitorCtrl::WaitConfirmationUntil(uint32_t startTick, uint32_t limitMs, uint8_t sentCw, Payload& payload)
{
    for (;;) {
        if (!WaitFrameUntil(startTick, limitMs, 1, payload))
            return false;
        const bool lateIdentifyAnswer = sentCw != 0 && payload[0] >= 2 && payload[1] == 0;
        if (!lateIdentifyAnswer)
            return true;
    }
}

CWinMonitorCtrl::Check CWinMonitorCtrl::CheckConfirmation(bool frameArrived, const Payload& payload, uint8_t sentCw,
                                                          TargetConfirmation& confirmation, char* text,
                                                          std::size_t size)
{
    if (!frameArrived) {
        std::snprintf(text, size, "No answer from the target ! (CW=%d)", sentCw);
        return Check::NoAnswer;
    }
    if (DecodeConfirmation(payload, confirmation) != kLinkOk) {
        std::snprintf(text, size, "Error in confirmation format ! (CW=%d)", sentCw);
        return Check::Format;
    }
    if (confirmation.cw != sentCw) {
        std::snprintf(text, size, "Bad command word ! (CW=%d)", confirmation.cw);
        return Check::CommandWord;
    }
    if (confirmation.result != 0) {
        FormatResultText(text, size, confirmation);
        return Check::Result;
    }
    return Check::Passed;
}

bool CWinMonitorCtrl::ExecuteCommand(uint16_t timeout5ms, const TargetCommand& command,
                                     TargetConfirmation& confirmation)
{
    Payload payload{};
    if (EncodeCommand(command, payload) != kLinkOk)
        return false;
    m_comm.Purge();
    SendFrame(payload);
    Payload answer{};
    const bool arrived =
        WaitConfirmationUntil(m_clock->TickMs(), static_cast<uint32_t>(timeout5ms) * 5u, command.cw, answer);
    char text[kMessageChars];
    return CheckConfirmation(arrived, answer, command.cw, confirmation, text, sizeof text) == Check::Passed;
}

template <typename Call>
void CWinMonitorCtrl::Deliver(Call&& call)
{
    // The counter goes up before the flag is read and the destructor sets the flag before it
    // reads the counter, so one of the two always sees the other.
    m_reportsInFlight.fetch_add(1);
    IReportSink* sink = m_sink.load();
    if (sink && !m_released.load())
        call(*sink);
    m_reportsInFlight.fetch_sub(1);
}

void CWinMonitorCtrl::ReportStatus()
{
    m_statusReport.port = m_portNumber;
    m_statusReport.code = m_statusCode;
    m_statusReport.text = m_message;
    // The cause that is known: the one given with the report, else a failed channel's.
    const char* reason = m_nextReason;
    m_nextReason = nullptr;
    if ((!reason || !*reason) && m_comm.HasFailed())
        reason = m_comm.FailureReason();
    m_statusReport.reason = reason && *reason ? reason : nullptr;
    Deliver([this](IReportSink& sink) { sink.OnPortStatus(*this, m_statusReport); });
}

void CWinMonitorCtrl::ReportProgress()
{
    m_progressReport.port = m_portNumber;
    m_progressReport.percent = m_downloadPercent;
    m_progressReport.position = m_downloadPosition;
    m_progressReport.size = static_cast<int>(m_imageSize);
    Deliver([this](IReportSink& sink) { sink.OnPortProgress(*this, m_progressReport); });
}

void CWinMonitorCtrl::ReportRunEnded()
{
    Deliver([this](IReportSink& sink) { sink.OnRunEnded(*this); });
}

void CWinMonitorCtrl::Report(int code, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(m_message, sizeof m_message, format, args);
    va_end(args);
    m_statusCode = code;
    ReportStatus();
}

void CWinMonitorCtrl::ReportWithReason(int code, const char* reason, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(m_message, sizeof m_message, format, args);
    va_end(args);
    m_statusCode = code;
    m_nextReason = reason;
    ReportStatus();
}

bool CWinMonitorCtrl::Pause(uint32_t ms)
{
    return !StopRequested() && !m_clock->PauseMs(ms, m_stop) && !StopRequested();
}

}  // namespace tarvo
