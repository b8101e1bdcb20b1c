// CPU time of the whole test process (every thread), for "does it spin?" checks.
#pragma once

#include <chrono>
#include <sys/resource.h>

namespace tarvo::test {

inline std::chrono::microseconds ProcessCpuTime()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto us = [](const timeval& tv) { return std::chrono::seconds(tv.tv_sec) + std::chrono::microseconds(tv.tv_usec); };
    return std::chrono::duration_cast<std::chrono::microseconds>(us(usage.ru_utime) + us(usage.ru_stime));
}

// Share of one core the process used while `body` ran.
template <typename Body>
double CpuShare(Body&& body)
{
    auto cpu0 = ProcessCpuTime();
    auto wall0 = std::chrono::steady_clock::now();
    body();
    auto cpu = ProcessCpuTime() - cpu0;
    auto wall = std::chrono::steady_clock::now() - wall0;
    return std::chrono::duration<double>(cpu).count() / std::chrono::duration<double>(wall).count();
}

// The share of a core an idle or polling part may use. A spinning thread takes a whole core, so
// the bound catches spinning in every build; the sanitizers' own bookkeeping makes each wake-up
// several times dearer, so their builds get a looser bound.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr double kIdleCpuShare = 0.03;
#else
inline constexpr double kIdleCpuShare = 0.01;
#endif

// The share of a core a port polled for a target may use, with the test reading the other
// side. Polling every 20 ms wakes three threads 50 times a second; on a virtual machine where a
// context switch costs 25-75 µs of CPU (more while the host is busy) that comes to 1-4 % of a
// core, which the idle bound above does not allow for. Spinning still takes a whole core, and
// polling too often shows in the number of polls, which the tests count.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr double kPollingCpuShare = 0.15;
#else
inline constexpr double kPollingCpuShare = 0.08;
#endif

}  // namespace tarvo::test
