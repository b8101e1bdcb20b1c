// The printer of tarvo-cli flash, demo and flash --continuous: what a run of each port says on
// stdout, in one of three forms.
//
//  - JSON Lines (--json): one object per status, progress step and end on stdout; notes for
//    people on stderr.
//  - Plain lines (stdout is a pipe or a file, a terminal that cannot move its cursor, or
//    --progress plain): a line per status and note, and "COMn progress P %" each time a port
//    passes a tenth of its image; then the summary table. A log keeps every line.
//  - The live display (stdout is a terminal that can move its cursor up and clear a line):
//    one line per port, redrawn in place (tools/cli/TermDisplay.h): the port, its state word,
//    a progress bar, the percent, the bytes sent of the image's bytes, the rate and the time
//    left; at the end the port's result with its checksums or its reason. In continuous mode
//    a waiting port says what it waits for, and each line carries the port's counts. The
//    lines fit the terminal's width (shortened, never wrapped) and follow a resize. The
//    final lines stay on the screen as the summary.
//
// Ports are named by their index in the list given to the constructor.
//
// Threading: every call from one thread (the job's). The live display redraws on a thread of
// its own, at most ten times a second; Finish() (or the destructor) draws the final lines
// and stops it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarvo::cli {

class TermDisplay;

// --progress: Auto takes the live display where the terminal can show it; Plain keeps lines.
enum class ProgressStyle { Auto, Plain };

// A port's runs in continuous mode (NO TARGET counts as an error).
struct RunCounts {
    int runs = 0, pass = 0, fail = 0, error = 0, aborted = 0;
};

// One port's line of the live display, as the printer knows it.
struct PortLine {
    int port = 0;               // COM number
    std::string state;          // READY, ERASE, DOWNLOAD, WAITING, DONE, or the end word
    bool ended = false;         // `state` is the run's end word; `message` its result
    std::string message;        // the last status text (with its reason) or note
    int percent = -1;           // < 0: no progress yet
    long long position = 0;     // bytes sent
    long long size = 0;         // bytes of the image
    double rate = 0;            // bytes per second, 0 while unknown
    double secondsLeft = -1;    // < 0 while unknown
    bool continuous = false;    // show `counts`
    RunCounts counts;
};

// The line of `line` shortened to at most `width` columns: the least needed parts (the byte
// counts, the rate, the bar, the time left, the counts) go first, the text is cut last.
std::string FormatPortLine(const PortLine& line, int width);

class RunPrinter {
public:
    enum class Job { Flash, Continuous };

    // `ports`: the COM numbers, in the order of the indexes used below.
    RunPrinter(std::vector<int> ports, bool json, ProgressStyle style, Job job);
    ~RunPrinter();
    RunPrinter(const RunPrinter&) = delete;
    RunPrinter& operator=(const RunPrinter&) = delete;

    // True while the live display is in use.
    bool Live() const { return m_display != nullptr; }

    // A status report; `reason` is the known cause beside the text (empty when none);
    // `state` the port's state word from now on (READY, ERASE, ...).
    void Status(std::size_t port, const std::string& state, int code, const std::string& text,
                const std::string& reason);
    // A line about the port for people ("COMn text"; on stderr beside JSON Lines).
    void Note(std::size_t port, const std::string& text);
    // The download's progress: `percent` of the image, `position` of `size` bytes.
    void Progress(std::size_t port, int percent, long long position, long long size);
    // The port's run has ended with `word` (COMPLETE, ERROR, NO TARGET, ABORTED) and `result`
    // (its last text). Continuous mode passes the port's counts with the run just ended.
    void Ended(std::size_t port, const char* word, const std::string& result);
    void Ended(std::size_t port, const char* word, const std::string& result, const RunCounts& counts);

    // Continuous mode: run `counts.runs` begins on `device`.
    void RunBegun(std::size_t port, const std::string& device, const RunCounts& counts);
    // Continuous mode: the port waits for its device to appear (`present` false) or to go
    // (`present` true: the handset flashed last is still plugged).
    void Waiting(std::size_t port, bool present, const std::string& device);
    // A line that belongs to no port (a record problem), on stderr; above the live display.
    void Message(const std::string& text);

    // Flash: the result of every port (ended words and texts as given to Ended) as a table;
    // the live display's final lines are that table.
    void FlashSummary();
    // Continuous: the counts of every port after `signalNumber`, on stdout (stderr with
    // --json); the live display's final lines come first.
    void ContinuousSummary(const std::vector<RunCounts>& counts, int signalNumber);

    // Draws the live display's final lines and stops it; plain lines from here on.
    void Finish();

private:
    struct Port {
        PortLine line;
        int lastTenth = -1;  // plain lines: the tenth of the image last printed
        std::string endWord;
        std::string result;
        // The recent (time, position) samples the rate is taken over.
        std::deque<std::pair<std::chrono::steady_clock::time_point, long long>> samples;
    };

    void Changed();
    std::vector<std::string> Render(int width);

    bool m_json;
    Job m_job;
    std::vector<Port> m_ports;
    std::mutex m_mutex;  // m_ports' lines, read by the display's thread
    std::unique_ptr<TermDisplay> m_display;
};

}  // namespace tarvo::cli
