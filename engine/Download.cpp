// The download thread: flash erase, image download with one acknowledgement per image block,
// and the verification of the two checksums the target reports.

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/Clock.h"
#include "engine/StatusCodes.h"
#include "engine/WinMonitorCtrl.h"
#include "serial/ThreadPriority.h"

namespace tarvo {
namespace {

constexpr uint32_t kEraseLimitMs = 70000;
constexpr uint32_t kAfterErasePause = 800;
constexpr uint32_t kAfterAnnouncePause = 1000;
constexpr uint32_t kAcknowledgeLimitMs = 20000;
constexpr uint32_t kAfterBlockPause = 100;
constexpr uint32_t kBeforeVerifyPause = 100;
constexpr uint32_t kAfterPassPause = 100;
constexpr uint16_t kFinalConfirmWait = 1000;  // 5 s

constexpr char kImageChanged[] = "the download image changed during the download";

long long ModifiedNs(const struct stat& st)
{
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

}  // namespace

bool CWinMonitorCtrl::StartDownload(IReportSink* sink, const std::string& imagePath)
{
    m_sink = sink;
    if (m_downloadThread.joinable())
        return false;  // one download per engine
    int imageFd = -1;
    if (!StopRequested()) {
        // Non-blocking open: a FIFO must not hold the caller until some writer appears.
        const int fd = ::open(imagePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return false;  // a FIFO, device or directory can never be a download image
        }
        imageFd = fd;
        m_imageReader.Reset(fd);
        m_imageSize = static_cast<long>(st.st_size);
        m_imageModified = ModifiedNs(st);
    }
    m_imageFd = imageFd;
    m_downloadPosition = 0;
    m_downloadPercent = 0;
    if (imageFd >= 0)
        m_comm.Purge();
    m_downloadRunning = true;
    m_downloadThread = WorkerThread([this] { DownloadThread(); });
    return true;
}

void CWinMonitorCtrl::DownloadThread()
{
    LowerThreadPriority();
    NameThisThread("tarvo download");
    // Every step first looks for a stop: a stopped download sends nothing more and reports
    // nothing but the end of its run.
    if (!StopRequested() && EraseFlash() && Pause(kAfterErasePause)) {
        m_command = TargetCommand{};
        m_command.cw = 5;
        if (EncodeCommand(m_command, m_commandPayload) == kLinkOk) {
            SendFrame(m_commandPayload);
            if (Pause(kAfterAnnouncePause)) {
                int result = 0;
                while (!StopRequested()) {
                    result = SendImageLine();
                    if (result != 0)
                        break;
                }
                if (StopRequested()) {
                    // stopped: no report
                } else if (result == 2) {
                    ReportWithReason(status::kDownloadAborted, m_abortReason, "Downloading Aborted !!!");
                } else if (Pause(kBeforeVerifyPause) && VerifyDownload()) {
                    Pause(kAfterPassPause);
                }
            }
        }
    }
    if (m_imageFd >= 0)
        ::close(m_imageFd);
    m_imageFd = -1;
    ReportRunEnded();
    m_downloadRunning = false;
}

bool CWinMonitorCtrl::EraseFlash()
{
    m_command = TargetCommand{};
    m_command.cw = 4;
    if (EncodeCommand(m_command, m_commandPayload) != kLinkOk)
        return false;
    m_comm.DiscardReceived();
    SendFrame(m_commandPayload);
    const uint32_t start = m_clock->TickMs();
    Payload answer{};
    if (!WaitConfirmationUntil(start, kEraseLimitMs, 4, answer)) {
        // No confirmation within the limit: the download goes ahead all the same. A wait that
        // a stop ended is no time-out: nothing more is sent.
        return !StopRequested();
    }
    // A target that says it could not erase would be written over unerased flash: the run
    // ends here with the target's reason.
    TargetConfirmation confirmation;
    if (DecodeConfirmation(answer, confirmation) == kLinkOk && confirmation.cw == 4 && confirmation.result != 0) {
        FormatResultText(m_message, sizeof m_message, confirmation);
        m_statusCode = status::kResultCode;
        ReportStatus();
        return false;
    }
    return !StopRequested();
}

bool CWinMonitorCtrl::ImageChanged() const
{
    struct stat st {};
    if (::fstat(m_imageFd, &st) != 0)
        return true;
    return static_cast<long>(st.st_size) != m_imageSize || ModifiedNs(st) != m_imageModified;
}

int CWinMonitorCtrl::SendImageLine()
{
    m_abortReason = nullptr;
    const char* line = nullptr;
    std::size_t length = 0;
    const ImageReader::Next next = m_imageReader.Read(line, length);
    if (next != ImageReader::Next::Line) {
        // The end of the image, or a read error: a download that cannot read its image must
        // not go on to a verification that could pass on a part of it.
        if (next == ImageReader::Next::Error) {
            m_abortReason = "read error in the download image";
            return 2;
        }
        if (ImageChanged()) {
            m_abortReason = kImageChanged;
            return 2;
        }
        return 1;
    }
    const long position = m_imageReader.Position();
    // A file rewritten in place under the download (another conversion, a copy over it) would
    // mix two images and count past 100 %: the download stops before sending such a line.
    if (position > m_imageSize || ImageChanged()) {
        m_abortReason = kImageChanged;
        return 2;
    }
    if (position >= 0) {
        m_downloadPosition = static_cast<int>(position);
        // 64-bit product: position * 100 overflows an int beyond 21 MB.
        m_downloadPercent = m_imageSize > 0 ? static_cast<int>(static_cast<long long>(position) * 100 / m_imageSize) : 0;
        ReportProgress();
    }
    uint16_t count = 0;
    uint8_t* bytes = m_byteBuffer;
    ConvertPiece(line, length, bytes, count);
    uint32_t written = 0;
    m_comm.Write(bytes, count, written);

    int result = 0;
    if (count >= 2 && bytes[0] == 'S' && bytes[1] == '3') {
        const uint32_t start = m_clock->TickMs();
        Payload ack{};
        if (!WaitFrameUntil(start, kAcknowledgeLimitMs, 0, ack)) {
            result = 2;
            return result;  // a lost device or a stop: no pause
        }
        Pause(kAfterBlockPause);
    }
    return result;
}

bool CWinMonitorCtrl::VerifyDownload()
{
    const bool arrived = WaitFrame(kFinalConfirmWait, m_confirmationPayload);
    if (!arrived && StopRequested())
        return false;
    char text[kMessageChars];
    switch (CheckConfirmation(arrived, m_confirmationPayload, 5, m_confirmation, text, sizeof text)) {
    case Check::NoAnswer:
        Report(status::kVerifyNoAnswer, "%s", text);
        return false;
    case Check::Format:
        Report(status::kVerifyFormat, "%s", text);
        return false;
    case Check::CommandWord:
        Report(status::kVerifyCommandWord, "%s", text);
        return false;
    case Check::Result:
        Report(status::kResultCode, "%s", text);
        return false;
    case Check::Passed:
        break;
    }
    if (m_confirmation.value1 == m_confirmation.value2) {
        Report(status::kPass, "PASS - Checksum: [%04X,%04X]", m_confirmation.value1, m_confirmation.value2);
        return true;
    }
    Report(status::kFail, "FAIL - Checksum: [%04X,%04X]", m_confirmation.value1, m_confirmation.value2);
    return false;
}

}  // namespace tarvo
