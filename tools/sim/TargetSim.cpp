#include "tools/sim/TargetSim.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>

#include "tools/sim/PseudoTerminal.h"
#include "tools/sim/SimFrame.h"

namespace tarvo::sim {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

namespace {

// Wire time a paced chunk stands for: small enough that an acknowledgement leaves close to
// the byte that caused it, large enough that the thread wakes only ~200 times a second.
constexpr nanoseconds kChunkTime = milliseconds(5);
constexpr std::size_t kUnpacedChunk = 4096;
// Bytes taken from the pseudo-terminal at a time while the station streams: what a UART's
// transmit side frees before its driver wakes the writer again (the tty layer's 256-character
// wake-up mark). The bytes still cross the wire in chunks of kChunkTime; taking them in one bite
// wakes the station's writer once per 256 bytes, as a real port does, not once per chunk.
constexpr std::size_t kUartBite = 256;
// How long the master is left alone after it reported that no slave is open (cannot happen
// while the pseudo-terminal keeps its own slave descriptor; guarded against all the same).
constexpr nanoseconds kHangupPause = milliseconds(50);

// Answers waiting for the wire beyond which the station's bytes are left unread.
constexpr std::size_t kMaxQueuedAnswers = 256;

// Junk written before frames by the garbage fault: anything but 0xAA.
constexpr uint8_t kJunk[] = {0x00, 0x55, 0x13, 0xFF, 0x0D, 0x0A, 0x53, 0x01, 0xA5, 0x7E};

void Signal(int fd)
{
    const uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

timespec ToTimespec(nanoseconds d)
{
    if (d < nanoseconds::zero())
        d = nanoseconds::zero();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(d.count() / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(d.count() % 1'000'000'000);
    return ts;
}

}  // namespace

// A frame (with any junk before it) waiting for its time on the wire.
struct TargetSim::Outgoing {
    std::vector<uint8_t> wire;     // junk + frame; empty: nothing to write
    std::vector<uint8_t> payload;  // for the log
    Clock::time_point due;         // not before this
    bool endsCycle = false;
    std::size_t offset = 0;        // bytes of `wire` written
};

TargetSim::TargetSim(SimConfig config) : m_config(std::move(config)), m_handset(m_config) {}

TargetSim::~TargetSim() { Stop(); }

nanoseconds TargetSim::Scaled(nanoseconds handsetTime) const
{
    return nanoseconds(
        static_cast<int64_t>(static_cast<double>(handsetTime.count()) / m_config.timeScale));
}

bool TargetSim::Start(std::string& error)
{
    if (m_started) {
        error = "the simulated handset was already started";
        return false;
    }
    if (!(m_config.timeScale > 0) || !std::isfinite(m_config.timeScale)) {
        error = "the time scale must be a positive number";
        return false;
    }
    if (!(m_config.baud >= 0) || !std::isfinite(m_config.baud)) {
        error = "the baud rate must be 0 (no pacing) or positive";
        return false;
    }
    m_wakeFd.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    m_changeFd.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!m_wakeFd.Valid() || !m_changeFd.Valid()) {
        error = std::string("cannot create an eventfd: ") + std::strerror(errno);
        return false;
    }
    std::unique_ptr<PseudoTerminal> pty = PseudoTerminal::Open(m_config.linkPath, error);
    if (!pty)
        return false;
    m_devicePath = pty->SlavePath();
    m_started = true;
    {
        std::lock_guard lock(m_mutex);
        m_pty = std::move(pty);
        m_status.running = true;
    }
    m_thread = std::thread([this] { Run(); });
    return true;
}

void TargetSim::Stop()
{
    if (m_thread.joinable()) {
        Signal(m_wakeFd.Get());
        m_thread.join();
    }
    std::lock_guard lock(m_mutex);
    m_pty.reset();
}

std::size_t TargetSim::UnreadByStation() const
{
    std::lock_guard lock(m_mutex);
    return m_pty ? m_pty->UnreadBySlave() : 0;
}

void TargetSim::Notify()
{
    m_changed.notify_all();
    Signal(m_changeFd.Get());
}

void TargetSim::EndThread(const std::string& error)
{
    {
        std::lock_guard lock(m_mutex);
        m_status.running = false;
        if (!error.empty())
            m_status.error = error + " (" + m_devicePath + ")";
    }
    Notify();
}

void TargetSim::AppendCapped(std::vector<uint8_t>& log, const uint8_t* data, std::size_t n,
                             std::size_t limit)
{
    const std::size_t room = log.size() < limit ? limit - log.size() : 0;
    log.insert(log.end(), data, data + std::min(n, room));
}

void TargetSim::LogEventLocked(SimEvent::Kind kind, std::vector<uint8_t> bytes)
{
    SimEvent e;
    e.sequence = m_nextSequence++;
    e.kind = kind;
    e.time = Clock::now();
    e.bytes = std::move(bytes);
    m_eventBytes += e.bytes.size() + sizeof(SimEvent);
    m_events.push_back(std::move(e));
    while (m_events.size() > 1 && m_eventBytes > m_config.eventLogLimit) {
        m_eventBytes -= m_events.front().bytes.size() + sizeof(SimEvent);
        m_events.pop_front();
    }
}

void TargetSim::Deliver(const std::vector<uint8_t>& bytes, Clock::time_point now,
                        std::deque<Outgoing>& out)
{
    std::vector<HandsetAction> actions;
    bool hangUp = false;
    {
        std::lock_guard lock(m_mutex);
        m_handset.Receive(bytes.data(), bytes.size(), actions);
        for (HandsetAction& a : actions) {
            switch (a.kind) {
            case HandsetAction::Kind::FrameReceived:
                LogEventLocked(SimEvent::Kind::FrameReceived, std::move(a.bytes));
                break;
            case HandsetAction::Kind::LineReceived:
                LogEventLocked(SimEvent::Kind::LineReceived, std::move(a.bytes));
                break;
            case HandsetAction::Kind::HangUp:
                hangUp = true;
                break;
            case HandsetAction::Kind::Send: {
                Outgoing o;
                if (!a.bytes.empty()) {
                    for (int i = 0; i < m_config.faults.garbageBytes; ++i)
                        o.wire.push_back(kJunk[static_cast<std::size_t>(i) % sizeof kJunk]);
                    const std::vector<uint8_t> frame = EncodeFrame(a.bytes);
                    o.wire.insert(o.wire.end(), frame.begin(), frame.end());
                }
                o.payload = std::move(a.bytes);
                o.due = now + Scaled(a.delay);
                o.endsCycle = a.endsCycle;
                out.push_back(std::move(o));
                break;
            }
            }
        }
        if (hangUp) {
            // The device is gone at once: what was still to be sent is lost with it.
            out.clear();
            m_pty->HangUp();
            m_status.hungUp = true;
            LogEventLocked(SimEvent::Kind::HungUp, {});
        }
    }
    Notify();
}

void TargetSim::Run()
{
    const bool paced = m_config.baud > 0;
    // Wire time of one byte (10 bits), scaled.
    const nanoseconds byteTime =
        paced ? nanoseconds(static_cast<int64_t>(1e10 / (m_config.baud * m_config.timeScale)))
              : nanoseconds::zero();
    const std::size_t chunk =
        paced ? std::clamp<std::size_t>(
                    static_cast<std::size_t>(kChunkTime / std::max(byteTime, nanoseconds(1))), 1,
                    kUnpacedChunk)
              : kUnpacedChunk;
    // A read that follows the previous chunk this closely continues the same stream.
    const nanoseconds streamSlack = std::max<nanoseconds>(milliseconds(2), byteTime * chunk * 2);

    const int master = m_pty->MasterFd();
    std::vector<uint8_t> readBuffer(std::max(chunk, kUartBite));

    // Bytes taken from the pseudo-terminal that have not started over the wire yet.
    std::vector<uint8_t> rxFifo;
    std::size_t rxHead = 0;
    // Received bytes on their way over the wire, and when the last one has arrived.
    std::optional<std::vector<uint8_t>> rx;
    Clock::time_point rxDue{};
    Clock::time_point rxWireFree{};
    // Answers in order; the front one's current chunk is on the wire until txChunkDue.
    std::deque<Outgoing> tx;
    bool txChunkActive = false;
    std::size_t txChunkEnd = 0;
    Clock::time_point txChunkDue{};
    Clock::time_point txWireFree{};
    Clock::time_point masterPausedUntil{};

    for (;;) {
        Clock::time_point now = Clock::now();

        if (rx && now >= rxDue) {
            Deliver(*rx, rxDue, tx);
            rx.reset();
            if (m_pty->MasterFd() < 0) {
                EndThread({});
                return;
            }
        }
        if (!rx && rxHead < rxFifo.size()) {
            // The next chunk follows the previous one without a gap; after an idle line it
            // starts now.
            const std::size_t n = std::min(chunk, rxFifo.size() - rxHead);
            const Clock::time_point start = (now - rxWireFree <= streamSlack) ? rxWireFree : now;
            rxDue = start + byteTime * static_cast<int64_t>(n);
            rxWireFree = rxDue;
            rx.emplace(rxFifo.begin() + static_cast<std::ptrdiff_t>(rxHead),
                       rxFifo.begin() + static_cast<std::ptrdiff_t>(rxHead + n));
            rxHead += n;
            if (rxHead == rxFifo.size()) {
                rxFifo.clear();
                rxHead = 0;
            }
        }

        if (!txChunkActive && !tx.empty() && tx.front().due <= now) {
            Outgoing& o = tx.front();
            if (o.wire.empty()) {
                // A withheld final confirmation still ends the cycle.
                {
                    std::lock_guard lock(m_mutex);
                    if (o.endsCycle) {
                        ++m_status.cyclesFinished;
                        LogEventLocked(SimEvent::Kind::CycleFinished, {});
                    }
                }
                Notify();
                tx.pop_front();
                continue;
            }
            const std::size_t n = std::min(chunk, o.wire.size() - o.offset);
            txChunkEnd = o.offset + n;
            const Clock::time_point start = std::max(o.due, txWireFree);
            txChunkDue = start + byteTime * static_cast<int64_t>(n);
            txWireFree = txChunkDue;
            txChunkActive = true;
        }

        bool wantWrite = false;
        if (txChunkActive && now >= txChunkDue) {
            Outgoing& o = tx.front();
            const ssize_t n = ::write(master, o.wire.data() + o.offset, txChunkEnd - o.offset);
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                EndThread(std::string("cannot write to the pseudo-terminal: ") +
                          std::strerror(errno));
                return;
            }
            if (n > 0) {
                std::lock_guard lock(m_mutex);
                AppendCapped(m_wireOut, o.wire.data() + o.offset, static_cast<std::size_t>(n),
                             m_config.wireLogLimit);
                m_status.bytesSent += static_cast<uint64_t>(n);
                o.offset += static_cast<std::size_t>(n);
            }
            if (o.offset < txChunkEnd) {
                wantWrite = true;  // the station is not reading: wait until it does
            } else {
                txChunkActive = false;
                if (o.offset == o.wire.size()) {
                    {
                        std::lock_guard lock(m_mutex);
                        ++m_status.framesSent;
                        LogEventLocked(SimEvent::Kind::FrameSent, std::move(o.payload));
                        if (o.endsCycle) {
                            ++m_status.cyclesFinished;
                            LogEventLocked(SimEvent::Kind::CycleFinished, {});
                        }
                    }
                    Notify();
                    tx.pop_front();
                }
                continue;
            }
        }

        // Sleep in ppoll until the next deadline, a byte from the station, or Stop.
        std::optional<Clock::time_point> deadline;
        auto consider = [&deadline](Clock::time_point t) {
            if (!deadline || t < *deadline)
                deadline = t;
        };
        if (rx)
            consider(rxDue);
        if (txChunkActive && !wantWrite)
            consider(txChunkDue);
        if (!txChunkActive && !tx.empty())
            consider(tx.front().due);
        const bool masterPaused = now < masterPausedUntil;
        if (masterPaused)
            consider(masterPausedUntil);

        pollfd fds[2] = {{m_wakeFd.Get(), POLLIN, 0}, {master, 0, 0}};
        // A station that sends but does not read is held off once enough answers wait.
        if (rxFifo.empty() && !masterPaused && tx.size() < kMaxQueuedAnswers)
            fds[1].events |= POLLIN;
        if (wantWrite)
            fds[1].events |= POLLOUT;
        timespec timeout{};
        if (deadline)
            timeout = ToTimespec(*deadline - now);
        const int ready = ::ppoll(fds, 2, deadline ? &timeout : nullptr, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            EndThread(std::string("poll failed: ") + std::strerror(errno));
            return;
        }
        if (fds[0].revents & POLLIN) {
            EndThread({});
            return;
        }
        const short revents = fds[1].revents;
        if (revents & POLLNVAL) {
            EndThread("the pseudo-terminal was closed under the simulator");
            return;
        }
        if (revents & POLLIN) {
            const ssize_t n = ::read(master, readBuffer.data(), paced ? kUartBite : readBuffer.size());
            now = Clock::now();
            if (n > 0) {
                std::vector<uint8_t> bytes(readBuffer.begin(), readBuffer.begin() + n);
                {
                    std::lock_guard lock(m_mutex);
                    AppendCapped(m_wireIn, bytes.data(), bytes.size(), m_config.wireLogLimit);
                    m_status.bytesReceived += bytes.size();
                }
                // Whatever exclusive-use flag the station set would outlive its session.
                m_pty->ClearExclusive();
                if (paced) {
                    rxFifo.insert(rxFifo.end(), bytes.begin(), bytes.end());
                } else {
                    Deliver(bytes, now, tx);
                    if (m_pty->MasterFd() < 0) {
                        EndThread({});
                        return;
                    }
                }
            } else if (n == 0 || errno == EIO) {
                masterPausedUntil = now + kHangupPause;
            } else if (errno != EAGAIN && errno != EINTR) {
                EndThread(std::string("cannot read from the pseudo-terminal: ") +
                          std::strerror(errno));
                return;
            }
        } else if (revents & (POLLHUP | POLLERR)) {
            masterPausedUntil = Clock::now() + kHangupPause;
        }
    }
}

SimStatus TargetSim::Status() const
{
    std::lock_guard lock(m_mutex);
    SimStatus s = m_status;
    s.handset = m_handset.Stats();
    s.state = m_handset.State();
    return s;
}

bool TargetSim::WaitUntil(const std::function<bool(const SimStatus&)>& done,
                          milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] {
        SimStatus s = m_status;
        s.handset = m_handset.Stats();
        s.state = m_handset.State();
        return done(s);
    });
}

bool TargetSim::WaitCycles(uint64_t cycles, milliseconds timeout) const
{
    return WaitUntil([cycles](const SimStatus& s) { return s.cyclesFinished >= cycles; },
                     timeout);
}

bool TargetSim::WaitIdentifies(uint64_t identifies, milliseconds timeout) const
{
    return WaitUntil(
        [identifies](const SimStatus& s) { return s.handset.identifies >= identifies; },
        timeout);
}

bool TargetSim::WaitHungUp(milliseconds timeout) const
{
    return WaitUntil([](const SimStatus& s) { return s.hungUp; }, timeout);
}

std::vector<SimEvent> TargetSim::Events(uint64_t fromSequence) const
{
    std::lock_guard lock(m_mutex);
    std::vector<SimEvent> out;
    for (const SimEvent& e : m_events)
        if (e.sequence >= fromSequence)
            out.push_back(e);
    return out;
}

std::vector<std::vector<uint8_t>> TargetSim::FramesReceived() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::vector<uint8_t>> out;
    for (const SimEvent& e : m_events)
        if (e.kind == SimEvent::Kind::FrameReceived)
            out.push_back(e.bytes);
    return out;
}

std::vector<std::vector<uint8_t>> TargetSim::LinesReceived() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::vector<uint8_t>> out;
    for (const SimEvent& e : m_events)
        if (e.kind == SimEvent::Kind::LineReceived)
            out.push_back(e.bytes);
    return out;
}

std::vector<uint8_t> TargetSim::WireReceived() const
{
    std::lock_guard lock(m_mutex);
    return m_wireIn;
}

std::vector<uint8_t> TargetSim::WireSent() const
{
    std::lock_guard lock(m_mutex);
    return m_wireOut;
}

void TargetSim::ClearLogs()
{
    std::lock_guard lock(m_mutex);
    m_events.clear();
    m_eventBytes = 0;
    m_wireIn.clear();
    m_wireOut.clear();
}

std::vector<uint8_t> TargetSim::ReadFlash(uint32_t address, std::size_t length) const
{
    std::lock_guard lock(m_mutex);
    return m_handset.Flash().Read(address, length);
}

std::vector<uint8_t> TargetSim::ReadRam(uint32_t address, std::size_t length) const
{
    std::lock_guard lock(m_mutex);
    return m_handset.Ram().Read(address, length);
}

}  // namespace tarvo::sim
