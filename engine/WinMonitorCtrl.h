// The port engine: one object per serial port that drives one target from the first identify
// command to the verified download.
//
// An engine owns its serial channel, its ready worker (CDownload_Ready: waits for a target,
// loads and starts the monitor) and its download thread (erase, image download, verification).
// It reports everything the operator sees through an IReportSink (engine/ReportSink.h).
//
// Use, on one thread (the receiver's, e.g. the station's user-interface thread):
//   construct -> SetPortNumber(n) -> OpenPort(n, 115200) -> Start(sink)
//   ... on status 0 (inside the report): StartDownload(sink, imagePath)
//   ... RequestStop() at any time ends the run at once (optional before destruction)
//   ... destroy (stops the workers, then closes the channel).
// An engine is opened and started once; the next target on the port gets a new engine.
//
// Stopping: RequestStop (and destruction, which requests a stop first) wakes every wait of the
// workers at once: the waits for a frame on the receive ring, the fixed pauses and a write
// waiting for room. A stop is not a time-out: a stopped worker sends nothing more to the target,
// reports no failure, and its run ends with OnRunEnded alone (dropped when destruction released
// the sink). So destruction returns within milliseconds, whatever the workers were waiting for.
//
// Threading: the public operations above are for the owner's thread (RequestStop and
// StopRequested from any thread); the workers run the protocol and call the sink. Destruction
// never deadlocks on a report in flight: the engine calls IReportSink::ReleaseEngine before it
// waits for its workers, and once more when no report is in flight any more. The worker flags
// are atomics; the link state belongs to whichever worker runs (never both at once).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "engine/Download_Ready.h"
#include "engine/ImageConverter.h"
#include "engine/ImageReader.h"
#include "engine/Link.h"
#include "engine/PrefaultedBuffer.h"
#include "engine/ReportSink.h"
#include "engine/StopSignal.h"
#include "serial/Comm.h"
#include "serial/WorkerThread.h"

namespace tarvo {

class HolderScan;
class IClock;
class IPortDirectory;
class ITraceSink;

// What an engine is given from outside. Every pointer may be null: the system clock, the
// default device paths (/dev/ttyS<N-1>), no trace and the current directory are then used.
struct EngineEnvironment {
    IClock* clock = nullptr;
    const IPortDirectory* ports = nullptr;
    ITraceSink* trace = nullptr;
    // Folder of the monitor files "monitor_ul_bs.m0" and ".map"; empty: the current directory.
    std::string monitorDir;
};

class CWinMonitorCtrl {
public:
    static constexpr uint32_t kBaudRate = 115200;
    static constexpr uint32_t kNoRunAddress = 0xFFFFFFFFu;
    // The text buffer: the line buffer of the monitor and map files, and the download image's
    // read buffer (ImageReader), which reads up to 64 KiB beyond the longest line at a time.
    static constexpr std::size_t kTextBufferBytes = 192 * 1024;

    explicit CWinMonitorCtrl(EngineEnvironment environment = {});
    virtual ~CWinMonitorCtrl();
    CWinMonitorCtrl(const CWinMonitorCtrl&) = delete;
    CWinMonitorCtrl& operator=(const CWinMonitorCtrl&) = delete;

    // --- owner's operations -------------------------------------------------------------
    void SetPortNumber(int portNumber) { m_portNumber = portNumber; }
    int PortNumber() const { return m_portNumber; }
    // Opens the channel through the port directory. True when the port opened. `holders`: a
    // picture of the processes holding devices, shared by a burst of opens (CComm::Open).
    bool OpenPort(int portNumber, uint32_t baudRate, const HolderScan* holders = nullptr);
    // Opens the channel on a named device (the tools' "--port N=DEVICE").
    bool OpenDevice(const std::string& devicePath, uint32_t baudRate, const HolderScan* holders = nullptr);
    // Why the last OpenPort/OpenDevice failed, naming the device.
    const std::string& OpenError() const { return m_comm.LastError(); }
    // Remembers the sink, clears an earlier stop request, resets the frame decoder and starts
    // the ready worker.
    bool Start(IReportSink* sink);
    // Opens and measures the download image, purges the channel and starts the download
    // thread. False when the image cannot be opened or is not a regular file (no thread
    // starts). After a stop request the thread starts only to end the run at once (OnRunEnded).
    bool StartDownload(IReportSink* sink, const std::string& imagePath);
    // Requests a stop (RequestStop) and waits for the download thread. Always true.
    bool StopDownload();
    // Non-blocking: sets the stop flag and wakes every wait of the workers; the run ends as
    // stopped (see the top of this file). Callable from any thread, any number of times.
    void RequestStop();
    // True once RequestStop was called (since the last Start) or destruction began.
    bool StopRequested() const { return m_stop.Requested() || m_released.load(); }
    // Converts a main software file into its download image (engine/ImageConverter.h) and
    // keeps the image path. False (image path unchanged) on any failure; ConvertFailure()
    // then tells why.
    bool ConvertImage(const std::string& mainPath);
    const std::string& ImagePath() const { return m_imagePath; }
    const ConvertError& ConvertFailure() const { return m_convertError; }

    // True while a worker (ready worker or download thread) runs.
    bool IsBusy() const { return m_ready.IsRunning() || m_downloadRunning.load(); }
    CComm& Comm() { return m_comm; }
    const CComm& Comm() const { return m_comm; }
    IClock& Clock() const { return *m_clock; }

    // --- link (used by the workers; public for tests) ------------------------------------
    void SendFrame(const Payload& payload);
    void ResetFrameDecoder() { m_decoder.Reset(); }
    bool PutFrameByte(uint8_t byte, Payload& payload) { return m_decoder.Put(byte, payload); }
    // Waits up to timeout5ms * 5 ms for a complete frame. Time-out 0: at most one byte, one
    // pass. Ends at once (false) when the channel has failed and holds no byte.
    bool WaitFrame(uint16_t timeout5ms, Payload& payload);
    // Encode, purge, send, wait, check. True only when the target confirmed the same command
    // word with R = 0. Reports nothing.
    bool ExecuteCommand(uint16_t timeout5ms, const TargetCommand& command, TargetConfirmation& confirmation);
    // Outcome of checking one received confirmation, in the order the checks run.
    enum class Check { Passed, NoAnswer, Format, CommandWord, Result };
    // Checks a confirmation against the command word sent; on failure `text` gets the failure
    // text ("No answer ...", "Error in confirmation format ...", "Bad command word ...", or the
    // result-code text).
    static Check CheckConfirmation(bool frameArrived, const Payload& payload, uint8_t sentCw,
                                   TargetConfirmation& confirmation, char* text, std::size_t size);
    void ReportStatus();
    void ReportProgress();
    // Formats the message text and reports it with `code`.
    void Report(int code, const char* format, ...) __attribute__((format(printf, 3, 4)));

    // --- steps of the ready worker --------------------------------------------------------
    bool LoadMonitor();
    // True at the end of the file, false when a line was taken; `readError` set on a read error.
    // Lines are gathered and written a few KiB at a time (the bytes on the wire are the same,
    // back to back); everything gathered has been written when it returns true.
    bool SendMonitorLine(std::FILE* file, bool& readError);
    // The run address of the monitor map; kNoRunAddress when the map cannot be read. `tagFound`
    // tells whether a line carried the entry point tag (0 is returned without one).
    uint32_t ReadRunAddress(bool& tagFound);
    // True when the run command was confirmed; reports the failure otherwise.
    bool StartMonitor();
    // --- steps of the download thread -----------------------------------------------------
    bool EraseFlash();
    // 0: a line was sent; 1: the end of the image; 2: the download cannot go on (no
    // acknowledgement, a read error, the image changed; m_abortReason tells the known cause).
    int SendImageLine();
    bool VerifyDownload();

    // State read by the ready worker and tests.
    int LoaderType() const { return m_loaderType; }
    int LoaderVersion() const { return m_loaderVersion; }

private:
    friend class CDownload_Ready;
    void DownloadThread();
    std::string MonitorPath(const char* extension) const;
    // Repeats WaitFrame(unit) until a frame arrives or `limitMs` passed since `startTick`,
    // blocking on the ring in between (never spinning).
    bool WaitFrameUntil(uint32_t startTick, uint32_t limitMs, uint16_t unit, Payload& payload);
    // Waits for the confirmation of command `sentCw` like WaitFrameUntil, but drops frames that
    // answer an identify (command word 0) when `sentCw` is not 0: the identify is repeated every
    // 20 ms, so a slow target may still answer one that was sent while its first answer was on
    // the way, and that late answer must not pass for the next command's confirmation.
    bool WaitConfirmationUntil(uint32_t startTick, uint32_t limitMs, uint8_t sentCw, Payload& payload);
    // A fixed pause that a stop cuts short. True when the pause ran out (no stop).
    bool Pause(uint32_t ms);
    // True when the channel can bring no more bytes (failed or closed) and none is unread.
    bool ChannelGone() const;
    // Calls the sink unless the engine is being destroyed, counting the call as in flight.
    template <typename Call>
    void Deliver(Call&& call);
    void ReportRunEnded();
    // Reports `code` and the text with `reason` as the known cause of the failure.
    void ReportWithReason(int code, const char* reason, const char* format, ...) __attribute__((format(printf, 4, 5)));

    IClock* m_clock;
    const IPortDirectory* m_ports;
    ITraceSink* m_trace;
    std::string m_monitorDir;
    uint32_t m_monitorGathered = 0;  // converted monitor bytes in m_byteBuffer, not yet written
    std::atomic<IReportSink*> m_sink{nullptr};

    int m_portNumber = 0;
    int m_statusCode = 0;
    char m_message[kMessageChars] = {};
    const char* m_nextReason = nullptr;  // cause for the next status report (ReportWithReason)
    StatusReport m_statusReport;
    ProgressReport m_progressReport;
    int m_downloadPosition = 0;
    int m_downloadPercent = 0;

    // link state
    uint8_t m_txFrame[kTransmitFrameBytes + 2] = {};
    FrameDecoder m_decoder;
    TargetCommand m_command;
    Payload m_commandPayload{};
    Payload m_confirmationPayload{};
    TargetConfirmation m_confirmation;

    int m_loaderType = 0;
    int m_loaderVersion = 0;

    std::string m_imagePath;
    ConvertError m_convertError;
    int m_imageFd = -1;  // the download image while the download thread reads it
    long m_imageSize = 0;
    // What the image was when the download opened it: a change under the download aborts it.
    long long m_imageModified = 0;  // modification time, ns
    const char* m_abortReason = nullptr;
    bool ImageChanged() const;
    // The working buffers, allocated once per engine in one block with its pages present. The
    // ready worker reads lines into the text buffer, the download thread its image; the two
    // never run at once.
    PrefaultedBuffer m_buffers;
    uint8_t* m_byteBuffer;  // kLineBytesBuffer
    char* m_lineBuffer;     // kTextBufferBytes, of which kLineBufferChars for fgets
    ImageReader m_imageReader;

    std::atomic<bool> m_downloadRunning{false};
    StopSignal m_stop;
    std::atomic<bool> m_released{false};
    std::atomic<int> m_reportsInFlight{0};
    WorkerThread m_downloadThread;

    // Declared last among the workers' objects: destroyed first after the download thread.
    CComm m_comm;
    CDownload_Ready m_ready;
};

}  // namespace tarvo
