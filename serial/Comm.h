// CComm: the serial channel of one port engine.
//
// Opens one serial device raw 8N1 at the given bit rate (every input, output and local
// processing flag off, CLOCAL on, HUPCL off, DTR asserted, RTS negated where the device allows),
// exclusively: TIOCEXCL keeps other non-root programs out and an flock() keeps out every other
// program that locks, root included (root ignores TIOCEXCL). A second open of a device that is
// open here or elsewhere fails.
//
// A receive thread copies every byte the device delivers into a 5000-byte receive ring (single
// producer: the receive thread; single consumer: the engine worker that talks to the target).
// The consumer takes bytes with TakeByte and blocks for new ones with WaitForData instead of
// spinning.
//
// Write never holds its caller much beyond 20 ms: what the device does not take at once is kept
// in the channel's transmit backlog and sent by the receive thread in call order. A device that
// stops taking output (the backlog has no room for a write within those 20 ms, or pending output
// makes no progress for OutputStallLimit()) fails the channel with "device stopped taking
// output".
//
// Interrupt() (the engine's stop) wakes a WaitForData and a Write waiting for room at once; until
// ClearInterrupt() both return at once and Write sends nothing.
//
// Errors: Open returns false and LastError() names the device and the reason (another process
// holding the device is named: "in use by minicom (pid 1234)"). A persistent error (device
// unplugged, hang-up, EIO/ENXIO, output stalled) marks the channel failed: the device and its
// lock are released, the receive thread ends, writes fail, and WaitForData returns at once once
// the ring is empty, as a time-out would. FailureReason() then tells the cause alone ("device
// hung up", "input/output error", ...). Nothing is thrown.
//
// Threading: Open, Close and destruction on the owner's thread. Write, Purge, DiscardReceived,
// TakeByte and WaitForData from the one consuming worker at a time (Purge and DiscardReceived
// move the read index, so they belong to the consumer side). Interrupt, ClearInterrupt and the
// state queries from any thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "serial/WorkerThread.h"

namespace tarvo {

class HolderScan;
class IPortDirectory;
class ITraceSink;
class PosixPort;

class CComm {
public:
    static constexpr uint32_t kRingSize = 5000;
    // Bytes a write may leave for the background; larger than the longest image line.
    static constexpr uint32_t kTransmitBacklog = 256 * 1024;
    // Longest time Write waits for the device before leaving the rest to the background.
    static constexpr std::chrono::milliseconds kWriteWait{20};
    // Longest sleep of the receive thread without an event. Nothing depends on it: Close wakes
    // the thread through its wake-up event, a vanished device reports a hang-up at once and
    // pending output sets its own, shorter time-out, so it only bounds how long an unforeseen
    // state could go unnoticed. Each idle wake-up is a context switch on every port, and those
    // are most of the station's CPU time during downloads.
    static constexpr std::chrono::milliseconds kReceiveTimeout{30000};
    // Pending output that makes no progress for this long means the device stopped taking it.
    // At 115200 baud the driver's buffer drains in well under a second.
    static constexpr std::chrono::milliseconds kOutputStallLimit{5000};

    // `directory` maps port numbers to device paths (null: /dev/ttyS<N-1>); `trace` receives
    // "~0x%02x~" per received byte (null: no trace). Both must outlive the channel.
    explicit CComm(const IPortDirectory* directory = nullptr, ITraceSink* trace = nullptr);
    virtual ~CComm();
    CComm(const CComm&) = delete;
    CComm& operator=(const CComm&) = delete;

    // Opens the device of `portNumber` and starts the receive thread. Once per channel.
    // `holders`: a picture of the processes holding devices, taken once before a burst of
    // opens (serial/Holders.h); null: this open walks /proc itself.
    bool Open(int portNumber, uint32_t baudRate, const HolderScan* holders = nullptr);
    // Opens a device by path (same settings).
    bool OpenDevice(const std::string& devicePath, uint32_t baudRate, const HolderScan* holders = nullptr);
    // Drops what the driver holds, stops and joins the receive thread (at once, not after a
    // receive time-out) and releases the device. False when the channel is not running.
    bool Close();

    // Sends `length` bytes after every byte of earlier writes. True only when the device took
    // all of them at once; otherwise the rest goes on in the background and false is returned
    // as soon as it is in the backlog (at once, or within ~20 ms when the backlog must first
    // make room). `written` gets the bytes the device has taken of this write when the call
    // returns. False with `written` 0 on a closed or failed channel.
    bool Write(const void* data, int length, uint32_t& written);
    // Drops both directions of the driver's buffers, the transmit backlog and every unread
    // byte of the ring.
    void Purge();
    // Drops every unread byte of the ring (read index := write index) without touching the
    // device.
    void DiscardReceived();
    // Takes the next unread byte; false when there is none.
    bool TakeByte(uint8_t& byte);
    // True when the ring holds an unread byte.
    bool HasUnread() const;
    // Blocks until an unread byte is there (true), or the channel is failed or closed, or
    // `timeout` has passed (false). Never spins.
    bool WaitForData(std::chrono::nanoseconds timeout);
    // Wakes a WaitForData and a Write in progress; both return at once from now on, and Write
    // sends nothing, until ClearInterrupt().
    void Interrupt();
    void ClearInterrupt() { m_interrupted.store(false); }
    bool IsInterrupted() const { return m_interrupted.load(); }
    // Test seam: how long pending output may make no progress before the channel fails (set
    // before Open).
    void SetOutputStallLimit(std::chrono::milliseconds limit) { m_outputStallLimit = limit; }

    bool IsRunning() const { return m_running.load(); }
    bool HasFailed() const { return m_failed.load(); }
    // Bytes dropped because the ring was full (the oldest unread bytes are kept).
    uint64_t DroppedBytes() const { return m_dropped.load(); }
    const std::string& DevicePath() const { return m_devicePath; }
    // Why Open failed or why the channel failed, naming the device; empty otherwise.
    const std::string& LastError() const { return m_lastError; }
    // The cause alone of the channel's failure ("device hung up", "input/output error", "device
    // stopped taking output"); empty while the channel has not failed. Stays valid and unchanged
    // once HasFailed() is true.
    const char* FailureReason() const { return m_failed.load() ? m_failureReason : ""; }

private:
    void ReceiveThread();
    void StoreByte(uint8_t byte);
    void Fail(const char* reason);

    const IPortDirectory* m_directory;
    ITraceSink* m_trace;
    std::string m_devicePath;
    std::string m_lastError;
    std::unique_ptr<PosixPort> m_port;

    std::atomic<bool> m_running{false};
    std::atomic<bool> m_failed{false};
    std::atomic<bool> m_interrupted{false};
    std::atomic<bool> m_outputStalled{false};  // a write found no room: fail on the receive thread
    std::chrono::milliseconds m_outputStallLimit{kOutputStallLimit};
    char m_failureReason[128] = {};
    WorkerThread m_thread;

    // receive ring
    std::array<uint8_t, kRingSize> m_ring{};
    std::atomic<uint32_t> m_readIndex{0};
    std::atomic<uint32_t> m_writeIndex{0};
    std::atomic<uint64_t> m_dropped{0};
    std::mutex m_rxMutex;
    std::condition_variable m_rxCv;

    // transmit backlog (ring buffer), guarded by m_txMutex together with the device itself
    std::mutex m_txMutex;
    std::condition_variable m_txCv;
    std::unique_ptr<uint8_t[]> m_backlog;
    uint32_t m_backlogHead = 0;  // next byte to send
    uint32_t m_backlogSize = 0;  // bytes waiting
    uint64_t m_bytesSent = 0;    // bytes the device took, all writes
    uint64_t m_bytesQueued = 0;  // bytes handed to Write, all writes
};

}  // namespace tarvo
