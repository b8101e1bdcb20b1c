// The clock seam of the engine: every tick, pause and wait of the protocol goes through it,
// so tests can run long protocol time-outs in short real time.
//
// Ticks are milliseconds on a 32-bit counter that wraps; elapsed time is taken as the
// unsigned difference of two ticks.
//
// Threading: one clock may serve several engines and threads at once; every implementation
// here is thread-safe.
#pragma once

#include <chrono>
#include <cstdint>

namespace tarvo {

class CComm;
class StopSignal;

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds since an arbitrary start, wrapping at 2^32.
    virtual uint32_t TickMs() const = 0;
    // Suspends the calling thread for `ms` milliseconds of this clock.
    virtual void SleepMs(uint32_t ms) = 0;
    // Like SleepMs, but ends at once when `stop` is requested (before or during the pause).
    // True when the pause was cut short by the stop. The default sleeps in SleepMs slices of
    // 10 ms and looks at the stop between them; the real clocks wait on the stop itself.
    virtual bool PauseMs(uint32_t ms, StopSignal& stop);
    // Blocks until `comm` holds an unread byte, has failed or closed, or `ms` milliseconds of
    // this clock have passed. True when an unread byte is there.
    virtual bool WaitForData(CComm& comm, uint32_t ms) = 0;
};

// Real time on the steady clock.
class SteadyClock final : public IClock {
public:
    uint32_t TickMs() const override;
    void SleepMs(uint32_t ms) override;
    bool PauseMs(uint32_t ms, StopSignal& stop) override;
    bool WaitForData(CComm& comm, uint32_t ms) override;
};

// Real time running `factor` times faster: 70 s of protocol time pass in 70 / factor real
// seconds. Tests and the simulator use the same factor so both sides agree on time.
class ScaledClock final : public IClock {
public:
    explicit ScaledClock(double factor);
    uint32_t TickMs() const override;
    void SleepMs(uint32_t ms) override;
    bool PauseMs(uint32_t ms, StopSignal& stop) override;
    bool WaitForData(CComm& comm, uint32_t ms) override;
    double Factor() const { return m_factor; }

private:
    std::chrono::nanoseconds Real(uint32_t ms) const;
    double m_factor;
    std::chrono::steady_clock::time_point m_start;
};

// The process's real clock (stateless, shared by every engine that is given no other).
IClock& SystemClock();

}  // namespace tarvo
