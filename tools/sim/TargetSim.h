// TargetSim: a simulated handset on a pseudo-terminal, a real serial peer for the station.
//
// Start() creates the pseudo-terminal (and the optional link to it) and starts the handset's
// thread; from then on DevicePath() can be opened by a station at once, and the handset
// answers what the station sends (see Handset.h for the protocol and the choices made).
// The handset side of the pseudo-terminal is left in its default mode: the station must put
// its side into raw mode.
//
// Time: with `baud` set, bytes cross the simulated wire at baud/10 bytes per second in each
// direction: the station's bytes are taken no faster than that (the rest waits in the
// pseudo-terminal, so the station's writes back up as on a real port) and the answers leave
// no faster. Every handset delay (erase, late acknowledgements) and the wire pacing run
// `timeScale` times faster than real time.
//
// Hang-up faults close the pseudo-terminal in the middle of a run: the station's descriptor
// reports a hang-up / EIO, the device path and the link disappear, and the simulator's thread
// ends (Status().hungUp). A simulator is started once; a new handset needs a new TargetSim.
//
// Observability: every frame and raw line the station sent and every frame the handset sent
// is logged as a SimEvent with its time; the bytes of both directions are kept exactly as
// they crossed the pseudo-terminal (the first `wireLogLimit` bytes each way). The waits block
// on a condition variable with a time-out; ChangeFd() becomes readable after every change,
// for callers that wait in poll().
//
// Errors: Start returns false and names the device or link and the reason. An I/O error on
// the pseudo-terminal ends the thread and is kept in Status().error.
//
// Threading: Start, Stop and destruction on the owner's thread (Stop joins the handset's
// thread within a few milliseconds). Every accessor and wait may be called from any thread
// at any time, also while the handset runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/sim/Handset.h"
#include "tools/sim/SimConfig.h"
#include "tools/sim/UniqueFd.h"

namespace tarvo::sim {

class PseudoTerminal;

struct SimEvent {
    enum class Kind {
        FrameReceived,  // `bytes`: the payload the station sent in a frame
        LineReceived,   // `bytes`: a raw line from 'S' to its last byte, as received
        FrameSent,      // `bytes`: the payload of a frame the handset wrote (junk not included)
        CycleFinished,  // the final confirmation was written (or withheld by a fault)
        HungUp,         // the pseudo-terminal was closed by a hang-up fault
    };
    uint64_t sequence = 0;  // 0, 1, 2, ... over the simulator's life
    Kind kind = Kind::FrameReceived;
    std::chrono::steady_clock::time_point time;
    std::vector<uint8_t> bytes;
};

struct SimStatus {
    HandsetStats handset;
    HandsetState state = HandsetState::Resident;
    uint64_t cyclesFinished = 0;
    uint64_t framesSent = 0;
    uint64_t bytesReceived = 0;
    uint64_t bytesSent = 0;
    bool running = false;  // the handset's thread runs
    bool hungUp = false;
    std::string error;     // why the thread ended on its own, if it did on an error
};

class TargetSim {
public:
    explicit TargetSim(SimConfig config);
    ~TargetSim();  // Stop()
    TargetSim(const TargetSim&) = delete;
    TargetSim& operator=(const TargetSim&) = delete;

    // Creates the pseudo-terminal and starts the handset. Once per simulator. False with
    // `error` naming what failed (also for an invalid configuration).
    bool Start(std::string& error);
    // Ends the handset's thread and closes the pseudo-terminal (the device and its link
    // disappear). Returns promptly; idempotent.
    void Stop();

    // The device a station opens (/dev/pts/N), and the link to it; valid from Start on.
    const std::string& DevicePath() const { return m_devicePath; }
    const std::string& LinkPath() const { return m_config.linkPath; }
    const SimConfig& Config() const { return m_config; }

    SimStatus Status() const;
    // Blocks until `done(status)` holds (true) or `timeout` passed (false). `done` runs
    // under the simulator's lock: it must not call the simulator.
    bool WaitUntil(const std::function<bool(const SimStatus&)>& done,
                   std::chrono::milliseconds timeout) const;
    bool WaitCycles(uint64_t cycles, std::chrono::milliseconds timeout) const;
    bool WaitIdentifies(uint64_t identifies, std::chrono::milliseconds timeout) const;
    bool WaitHungUp(std::chrono::milliseconds timeout) const;
    // An eventfd that is readable after every logged event and status change; read its
    // 8-byte counter to clear it. Valid from Start until destruction.
    int ChangeFd() const { return m_changeFd.Get(); }

    // Events with a sequence number of at least `fromSequence` that are still kept (the
    // oldest are dropped once the event data exceed `eventLogLimit`).
    std::vector<SimEvent> Events(uint64_t fromSequence = 0) const;
    // Payloads of the frames the station sent, in order (from the kept events).
    std::vector<std::vector<uint8_t>> FramesReceived() const;
    // Raw lines the station sent, in order (from the kept events).
    std::vector<std::vector<uint8_t>> LinesReceived() const;
    // Bytes as read from / written to the pseudo-terminal, the first `wireLogLimit` each.
    std::vector<uint8_t> WireReceived() const;
    std::vector<uint8_t> WireSent() const;
    // Bytes the handset wrote that the station has not read yet; 0 once the device is gone.
    // Closing the device drops them, so whoever stops the simulator right after a cycle
    // lets the station take its last answer first.
    std::size_t UnreadByStation() const;
    // Forgets the events and the wire bytes kept so far (counters stay).
    void ClearLogs();

    // The handset's memories as they are now.
    std::vector<uint8_t> ReadFlash(uint32_t address, std::size_t length) const;
    std::vector<uint8_t> ReadRam(uint32_t address, std::size_t length) const;

private:
    struct Outgoing;
    void Run();
    // Feeds bytes that have crossed the wire to the handset; queues its answers.
    void Deliver(const std::vector<uint8_t>& bytes, std::chrono::steady_clock::time_point now,
                 std::deque<Outgoing>& out);
    void LogEventLocked(SimEvent::Kind kind, std::vector<uint8_t> bytes);
    static void AppendCapped(std::vector<uint8_t>& log, const uint8_t* data, std::size_t n,
                             std::size_t limit);
    void Notify();
    void EndThread(const std::string& error);
    std::chrono::nanoseconds Scaled(std::chrono::nanoseconds handsetTime) const;

    const SimConfig m_config;
    std::string m_devicePath;
    // Used by the handset's thread while it runs; replaced only under m_mutex.
    std::unique_ptr<PseudoTerminal> m_pty;
    UniqueFd m_wakeFd;    // Stop -> handset's thread
    UniqueFd m_changeFd;  // handset's thread -> observers
    std::thread m_thread;
    bool m_started = false;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    Handset m_handset;
    std::deque<SimEvent> m_events;
    std::size_t m_eventBytes = 0;
    uint64_t m_nextSequence = 0;
    std::vector<uint8_t> m_wireIn;
    std::vector<uint8_t> m_wireOut;
    SimStatus m_status;
};

}  // namespace tarvo::sim
