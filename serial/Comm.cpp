#include "serial/Comm.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "serial/PortDirectory.h"
#include "serial/PosixPort.h"
#include "serial/ThreadPriority.h"
#include "serial/Trace.h"

namespace tarvo {
namespace {

// Bytes taken from the device per read; every byte available at a wake-up is read.
constexpr std::size_t kReadChunk = 1024;
// A device that reports data but delivers none this many times in a row is gone.
constexpr int kEmptyReadLimit = 3;
constexpr char kOutputStalled[] = "device stopped taking output";

// strerror's text with a lower-case first letter, to stand after a colon.
std::string ErrorText(int err)
{
    std::string text = std::strerror(err);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' && !(text.size() > 1 && text[1] >= 'A' && text[1] <= 'Z'))
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

}  // namespace

CComm::CComm(const IPortDirectory* directory, ITraceSink* trace)
    : m_directory(directory), m_trace(trace), m_port(std::make_unique<PosixPort>()),
      m_backlog(std::make_unique_for_overwrite<uint8_t[]>(kTransmitBacklog))
{
}

CComm::~CComm()
{
    Close();
}

bool CComm::Open(int portNumber, uint32_t baudRate, const HolderScan* holders)
{
    if (m_running.load())
        return false;  // a channel is opened once in its life
    std::string path = m_directory ? m_directory->DevicePath(portNumber) : DefaultDevicePath(portNumber);
    if (path.empty()) {
        m_lastError = "COM" + std::to_string(portNumber) + ": no device configured for this port";
        return false;
    }
    return OpenDevice(path, baudRate, holders);
}

bool CComm::OpenDevice(const std::string& devicePath, uint32_t baudRate, const HolderScan* holders)
{
    if (m_running.load() || m_thread.joinable())
        return false;  // a channel is opened once in its life
    m_devicePath = devicePath;
    m_lastError.clear();
    if (!m_port->Open(devicePath, baudRate, m_lastError, holders))
        return false;
    m_failed = false;
    m_outputStalled = false;
    m_readIndex = 0;
    m_writeIndex = 0;
    m_backlogHead = 0;
    m_backlogSize = 0;
    m_running = true;
    m_thread = WorkerThread([this] { ReceiveThread(); });
    return true;
}

bool CComm::Close()
{
    if (!m_running.load())
        return false;
    {
        std::lock_guard lock(m_txMutex);
        m_port->Flush();
        m_bytesSent += m_backlogSize;
        m_backlogSize = 0;
    }
    m_running = false;
    m_port->Wake();  // the receive thread ends now, not after its poll time-out
    if (m_thread.joinable())
        m_thread.join();
    {
        std::lock_guard lock(m_txMutex);
        m_port->Close();
    }
    {
        std::lock_guard lock(m_rxMutex);
    }
    m_rxCv.notify_all();
    m_txCv.notify_all();
    return true;
}

bool CComm::Write(const void* data, int length, uint32_t& written)
{
    written = 0;
    if (!m_running.load() || m_failed.load() || m_interrupted.load() || length < 0)
        return false;
    if (length == 0)
        return true;
    // One deadline for the whole call: the caller is never held much beyond it.
    const auto deadline = std::chrono::steady_clock::now() + kWriteWait;
    const auto* bytes = static_cast<const uint8_t*>(data);
    auto left = static_cast<uint32_t>(length);
    std::unique_lock lock(m_txMutex);
    if (!m_port->IsOpen())
        return false;
    const uint64_t start = m_bytesQueued;
    m_bytesQueued += left;
    if (m_backlogSize == 0) {
        ssize_t n = m_port->Write(bytes, left);
        if (n > 0) {
            m_bytesSent += static_cast<uint64_t>(n);
            bytes += n;
            left -= static_cast<uint32_t>(n);
        }
        if (left == 0) {
            written = static_cast<uint32_t>(length);
            return true;
        }
        if (n == -2) {
            m_bytesQueued -= left;
            written = static_cast<uint32_t>(length) - left;
            return false;
        }
    }
    // An empty backlog starts again at the front of its ring, so a download reuses the same few
    // pages of it instead of touching (and faulting in) all of it on its way round.
    if (m_backlogSize == 0)
        m_backlogHead = 0;
    // The rest goes to the backlog, behind every byte of earlier writes. The protocol never
    // leaves more than one image block in flight, so room is normally there at once; a backlog
    // that stays full for the whole call belongs to a device that has stopped taking output.
    while (left > 0) {
        if (!m_port->IsOpen() || !m_running.load() || m_interrupted.load()) {
            m_bytesQueued -= left;
            break;
        }
        uint32_t room = kTransmitBacklog - m_backlogSize;
        if (room == 0) {
            m_port->Wake();
            const bool roomOrEnd = m_txCv.wait_until(lock, deadline, [&] {
                return m_backlogSize < kTransmitBacklog || !m_port->IsOpen() || !m_running.load() ||
                       m_interrupted.load();
            });
            if (!roomOrEnd) {
                m_bytesQueued -= left;
                m_outputStalled = true;  // the receive thread fails the channel
                break;
            }
            continue;
        }
        uint32_t take = left < room ? left : room;
        // The free part of the ring is at most two runs: up to the end, then from the start.
        uint32_t tail = (m_backlogHead + m_backlogSize) % kTransmitBacklog;
        uint32_t first = std::min(take, kTransmitBacklog - tail);
        std::memcpy(&m_backlog[tail], bytes, first);
        std::memcpy(&m_backlog[0], bytes + first, take - first);
        m_backlogSize += take;
        bytes += take;
        left -= take;
    }
    // The receive thread now also waits for the device to take output. The caller does not
    // wait for it: a protocol step that needs the bytes out waits for the target's answer
    // anyway, and a wait here would cost every image block a sleep and a wake-up.
    m_port->Wake();
    uint64_t done = m_bytesSent > start ? m_bytesSent - start : 0;
    written = static_cast<uint32_t>(done < static_cast<uint64_t>(length) ? done : static_cast<uint64_t>(length));
    return false;
}

void CComm::Interrupt()
{
    {
        std::lock_guard lock(m_rxMutex);
        m_interrupted.store(true);
    }
    m_rxCv.notify_all();
    {
        std::lock_guard lock(m_txMutex);
    }
    m_txCv.notify_all();
}

void CComm::Purge()
{
    {
        std::lock_guard lock(m_txMutex);
        m_port->Flush();
        m_bytesSent += m_backlogSize;
        m_backlogSize = 0;
    }
    m_txCv.notify_all();
    DiscardReceived();
}

void CComm::DiscardReceived()
{
    m_readIndex.store(m_writeIndex.load(std::memory_order_acquire), std::memory_order_release);
}

bool CComm::TakeByte(uint8_t& byte)
{
    uint32_t r = m_readIndex.load(std::memory_order_relaxed);
    if (r == m_writeIndex.load(std::memory_order_acquire))
        return false;
    byte = m_ring[r];
    m_readIndex.store(r + 1 == kRingSize ? 0 : r + 1, std::memory_order_release);
    return true;
}

bool CComm::HasUnread() const
{
    return m_readIndex.load(std::memory_order_relaxed) != m_writeIndex.load(std::memory_order_acquire);
}

bool CComm::WaitForData(std::chrono::nanoseconds timeout)
{
    if (HasUnread())
        return true;
    if (timeout <= std::chrono::nanoseconds::zero())
        return false;
    std::unique_lock lock(m_rxMutex);
    m_rxCv.wait_for(lock, timeout,
                    [&] { return HasUnread() || m_failed.load() || !m_running.load() || m_interrupted.load(); });
    return HasUnread();
}

void CComm::StoreByte(uint8_t byte)
{
    if (m_trace) {
        char line[16];
        std::snprintf(line, sizeof line, "~0x%02x~", byte);
        m_trace->Trace(line);
    }
    uint32_t w = m_writeIndex.load(std::memory_order_relaxed);
    uint32_t next = w + 1 == kRingSize ? 0 : w + 1;
    if (next == m_readIndex.load(std::memory_order_acquire)) {
        // Full: keep the oldest unread bytes, drop this one and count it.
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    m_ring[w] = byte;
    m_writeIndex.store(next, std::memory_order_release);
}

void CComm::Fail(const char* reason)
{
    {
        std::lock_guard lock(m_txMutex);
        std::snprintf(m_failureReason, sizeof m_failureReason, "%s", reason);
        m_lastError = m_devicePath + ": " + reason;
        m_port->Close();  // releases the device and its lock for a reconnect
        m_bytesSent += m_backlogSize;
        m_backlogSize = 0;
    }
    m_failed.store(true);
    {
        std::lock_guard lock(m_rxMutex);
    }
    m_rxCv.notify_all();
    m_txCv.notify_all();
}

void CComm::ReceiveThread()
{
    LowerThreadPriority();
    NameThisThread("tarvo receive");
    uint8_t chunk[kReadChunk];
    int emptyReads = 0;
    // Output stall watch: since when pending output has made no progress.
    bool outputPending = false;
    uint64_t sentMark = 0;
    auto stallSince = std::chrono::steady_clock::now();
    while (m_running.load()) {
        bool wantWrite;
        uint64_t sent;
        {
            std::lock_guard lock(m_txMutex);
            wantWrite = m_backlogSize > 0;
            sent = m_bytesSent;
        }
        auto now = std::chrono::steady_clock::now();
        int timeoutMs = static_cast<int>(kReceiveTimeout.count());
        if (wantWrite) {
            if (!outputPending || sent != sentMark) {
                outputPending = true;
                sentMark = sent;
                stallSince = now;
            }
            const auto stalled = std::chrono::duration_cast<std::chrono::milliseconds>(now - stallSince);
            if (m_outputStalled.load() || stalled >= m_outputStallLimit) {
                Fail(kOutputStalled);
                break;
            }
            timeoutMs = static_cast<int>(std::min<long long>(timeoutMs, (m_outputStallLimit - stalled).count() + 1));
        } else {
            outputPending = false;
        }
        PosixPort::PollEvents events = m_port->Poll(wantWrite, timeoutMs);
        if (!m_running.load())
            break;
        if (m_outputStalled.load()) {
            Fail(kOutputStalled);
            break;
        }
        if (events.readable || events.hangup) {
            bool stored = false;
            bool gotAny = false;
            bool error = false;
            for (;;) {
                ssize_t n = m_port->Read(chunk, sizeof chunk);
                if (n > 0) {
                    for (ssize_t i = 0; i < n; ++i)
                        StoreByte(chunk[i]);
                    stored = gotAny = true;
                    if (static_cast<std::size_t>(n) < sizeof chunk)
                        break;
                    continue;
                }
                error = (n == -2);
                break;
            }
            if (stored) {
                {
                    std::lock_guard lock(m_rxMutex);
                }
                m_rxCv.notify_all();
            }
            if (error) {
                // A pseudo-terminal whose other side just closed fails the read with EIO
                // before its hang-up is complete; the hang-up is the cause worth naming.
                const int cause = m_port->LastErrno();
                if (cause == EIO && (events.hangup || m_port->Poll(false, 0).hangup))
                    Fail("device hung up");
                else
                    Fail(ErrorText(cause).c_str());
                break;
            }
            if (events.hangup) {
                Fail("device hung up");
                break;
            }
            emptyReads = gotAny ? 0 : emptyReads + 1;
            if (emptyReads >= kEmptyReadLimit) {
                Fail("device delivers no data");
                break;
            }
        }
        if (events.writable) {
            std::unique_lock lock(m_txMutex);
            bool failed = false;
            while (m_backlogSize > 0) {
                uint32_t contiguous = kTransmitBacklog - m_backlogHead;
                uint32_t chunkSize = m_backlogSize < contiguous ? m_backlogSize : contiguous;
                ssize_t n = m_port->Write(&m_backlog[m_backlogHead], chunkSize);
                if (n <= 0) {
                    failed = (n == -2);
                    break;
                }
                m_backlogHead = (m_backlogHead + static_cast<uint32_t>(n)) % kTransmitBacklog;
                m_backlogSize -= static_cast<uint32_t>(n);
                m_bytesSent += static_cast<uint64_t>(n);
            }
            lock.unlock();
            m_txCv.notify_all();
            if (failed) {
                Fail(ErrorText(m_port->LastErrno()).c_str());
                break;
            }
        }
    }
}

}  // namespace tarvo
