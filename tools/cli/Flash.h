// The flash job of tarvo-cli: one port engine per port, all in parallel, each from its first
// identify to its final report, with the reports printed as lines for people or as JSON Lines.
//
// Threading: RunFlashJob runs on the calling thread, which receives every report (it starts
// each download on status 0, as the station view does); the engines' workers run beside it.
#pragma once

#include <string>
#include <vector>

#include "tools/cli/RecordSetup.h"

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
    std::string mainSoftware;      // the .m0 the image came from, when known (recorded)
    RecordSettings record;         // the production record of the runs
    // The watch that ends the job on SIGINT/SIGTERM/SIGHUP; null: the job installs its own.
    SignalWatch* signals = nullptr;
    // Every port runs again on each new device until a signal (tools/cli/Continuous.h).
    bool continuous = false;
};

// Runs the job and prints its reports and a summary; returns the exit status (0 when every port
// ended COMPLETE, 1 otherwise). A signal (see SignalWatch) ends every run at once: every engine
// is stopped and released, each port whose run had not ended ends ABORTED (with --json its last
// line is {"port":N,"end":"ABORTED"}), the summary is printed and 128 + the signal is returned.
// Each port's run leaves one record (RecordSettings), durable before its final word is printed
// and, for runs a signal ended, before the job returns; no run starts while the record cannot
// be written, and a job whose records could not be written fails. A port opens only once its
// run's RUNNING record is durable: when that write fails, the port is never opened and ends
// ERROR with the reason. The image is hashed for the record when the run begins, and the
// engine downloads from that same open file. With a forward target the records go to the line
// database while the job runs, and what is left when it ends is forwarded (at most 10 s).
// Standard output that cannot be written (its reader went away) is told once on stderr; the
// runs and their records go on.
int RunFlashJob(const FlashJob& job);

// Escapes `text` for a JSON string (without the quotes).
std::string JsonEscape(const std::string& text);
// Human-readable text: control characters (the write-error text starts with a carriage return)
// are shown escaped ("\r", others as '?') so they cannot garble the terminal.
std::string Printable(const std::string& text);

}  // namespace tarvo::cli
