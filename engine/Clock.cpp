#include "engine/Clock.h"

#include <algorithm>
#include <thread>

#include "engine/StopSignal.h"
#include "serial/Comm.h"

namespace tarvo {
namespace {

uint32_t MsSince(std::chrono::steady_clock::time_point start, double factor)
{
    auto elapsed = std::chrono::steady_clock::now() - start;
    double ms = std::chrono::duration<double, std::milli>(elapsed).count() * factor;
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

}  // namespace

bool IClock::PauseMs(uint32_t ms, StopSignal& stop)
{
    constexpr uint32_t kSlice = 10;
    const uint32_t start = TickMs();
    while (!stop.Requested()) {
        const uint32_t elapsed = TickMs() - start;
        if (elapsed >= ms)
            return false;
        SleepMs(std::min(ms - elapsed, kSlice));
    }
    return true;
}

uint32_t SteadyClock::TickMs() const
{
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SteadyClock::SleepMs(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool SteadyClock::PauseMs(uint32_t ms, StopSignal& stop)
{
    return stop.WaitFor(std::chrono::milliseconds(ms));
}

bool SteadyClock::WaitForData(CComm& comm, uint32_t ms)
{
    return comm.WaitForData(std::chrono::milliseconds(ms));
}

ScaledClock::ScaledClock(double factor)
    : m_factor(factor > 0 ? factor : 1.0), m_start(std::chrono::steady_clock::now())
{
}

uint32_t ScaledClock::TickMs() const
{
    return MsSince(m_start, m_factor);
}

std::chrono::nanoseconds ScaledClock::Real(uint32_t ms) const
{
    return std::chrono::nanoseconds(static_cast<int64_t>(ms * 1.0e6 / m_factor));
}

void ScaledClock::SleepMs(uint32_t ms)
{
    std::this_thread::sleep_for(Real(ms));
}

bool ScaledClock::PauseMs(uint32_t ms, StopSignal& stop)
{
    return stop.WaitFor(Real(ms));
}

bool ScaledClock::WaitForData(CComm& comm, uint32_t ms)
{
    return comm.WaitForData(Real(ms));
}

IClock& SystemClock()
{
    static SteadyClock clock;  // stateless
    return clock;
}

}  // namespace tarvo
