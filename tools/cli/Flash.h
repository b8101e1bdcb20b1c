// The flash job of tarvo-cli: one port engine per port, all in parallel, each from its first
// identify to its final report, with the reports printed as lines for people or as JSON Lines.
//
// Threading: RunFlashJob runs on the calling thread, which receives every report (it starts
// each download on status 0, as the station view does); the engines' workers run beside it.
#pragma once

#include <string>
#include <vector>

namespace tarvo {
class IClock;
}

namespace tarvo::cli {

class SignalWatch;

struct PortTarget {
    int port = 0;        // COM number, shown in every report
    std::string device;  // device path; empty: /dev/ttyS<N-1>
};

struct FlashJob {
    std::string image;             // download image (.cp64)
    std::vector<PortTarget> ports;
    bool json = false;
    double waitSeconds = -1;       // < 0: wait for a target without limit
    std::string monitorDir;        // empty: the current directory
    IClock* clock = nullptr;       // null: real time
    // The watch that ends the job on SIGINT/SIGTERM/SIGHUP; null: the job installs its own.
    SignalWatch* signals = nullptr;
    // Every port runs again on each new device until a signal (tools/cli/Continuous.h).
    bool continuous = false;
};

// Runs the job and prints its reports and a summary; returns the exit status (0 when every port
// ended COMPLETE, 1 otherwise). A signal (see SignalWatch) ends every run at once: every engine
// is stopped and released, each port whose run had not ended ends ABORTED (with --json its last
// line is {"port":N,"end":"ABORTED"}), the summary is printed and 128 + the signal is returned.
int RunFlashJob(const FlashJob& job);

// Escapes `text` for a JSON string (without the quotes).
std::string JsonEscape(const std::string& text);

}  // namespace tarvo::cli
