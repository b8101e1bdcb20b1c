// The ready worker of a port engine: its thread polls the port with the identify command until
// a target answers, loads and starts the monitor for a bootloader, and ends with status 0 or
// an error report.
//
// Threading: Start and Stop are called on the engine owner's thread; the flags are atomics
// written by one thread and read by the other.
#pragma once

#include <atomic>

#include "serial/WorkerThread.h"

namespace tarvo {

class CWinMonitorCtrl;

class CDownload_Ready {
public:
    CDownload_Ready() = default;
    virtual ~CDownload_Ready();
    CDownload_Ready(const CDownload_Ready&) = delete;
    CDownload_Ready& operator=(const CDownload_Ready&) = delete;

    // Starts the thread with DetectBootloader. When the worker already runs it is stopped
    // instead and false is returned.
    bool Start(CWinMonitorCtrl* engine);
    // Asks the thread to end (it looks before each identify command) and waits for it.
    bool Stop();
    bool IsRunning() const { return m_running.load(); }

private:
    void DetectBootloader();

    CWinMonitorCtrl* m_engine = nullptr;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    WorkerThread m_thread;
};

}  // namespace tarvo
