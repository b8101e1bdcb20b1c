// A block of lines kept in place at the bottom of a terminal and redrawn there: the live
// display of tarvo-cli's runs (tools/cli/Printer.h).
//
// The terminal's own capabilities come from its terminfo entry (ncurses' setupterm): moving
// the cursor up (cuu or cuu1), clearing to the end of a line (el) and of the screen (ed). A
// terminal whose entry lacks cursor-up or clear-to-end-of-line (TERM=dumb, an unknown TERM)
// gets no display: Open() returns null and the caller prints plain lines.
//
// Each line the caller renders must fit the width it is given (the terminal's columns less
// one, so the last column is never written and the terminal never wraps). A resize (SIGWINCH)
// wakes the display, which reads the new size (TIOCGWINSZ) and redraws the block at once;
// other changes are drawn at most ten times a second, so a fast run costs no CPU. After the
// terminal has become narrower the screen is cleared (cursor home, clear to the end of the
// screen) and the block drawn at its top: terminals differ in how they wrap the lines already
// shown, so the block's old place is no longer known.
//
// One display at a time per process: it owns the SIGWINCH handler while it exists and gives
// the earlier one back when it goes.
//
// Threading: the display draws on a thread of its own and calls `render` there, so render
// must lock what it reads. Changed(), Above() and Finish() may be called from any one thread;
// the destructor calls Finish().
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvo::cli {

class TermDisplay {
public:
    // Lines for a terminal of `width` usable columns.
    using Render = std::function<std::vector<std::string>(int width)>;

    // The display on descriptor `fd` when it is a terminal that can show it; null otherwise.
    static std::unique_ptr<TermDisplay> Open(int fd, Render render);
    ~TermDisplay();
    TermDisplay(const TermDisplay&) = delete;
    TermDisplay& operator=(const TermDisplay&) = delete;

    // The lines have changed: they are redrawn within a tenth of a second.
    void Changed();
    // `line` is printed above the block, which moves down under it.
    void Above(const std::string& line);
    // Draws the final lines and stops; the block stays on the screen with the cursor under it.
    void Finish();

    // Usable columns of the terminal on `fd` (its width less one); `fallback` when unknown.
    static int Width(int fd, int fallback);

    struct Caps;  // the terminal's control strings

private:
    TermDisplay(int fd, Render render, std::unique_ptr<Caps> caps);
    void Run();
    void Draw(bool resized, bool final = false);

    int m_fd;
    Render m_render;
    std::unique_ptr<Caps> m_caps;
    int m_wake = -1;  // eventfd: a change, or the end
    std::mutex m_mutex;
    std::vector<std::string> m_above;  // lines waiting to go above the block
    std::atomic<bool> m_changed{false};  // Changed() has been called
    bool m_stop = false;
    bool m_finished = false;
    // Drawing state, used by one drawing thread at a time (the display's, then Finish's).
    std::vector<std::string> m_drawn;  // the lines on the screen now
    int m_width = 0;                   // the usable width they were drawn for
    std::chrono::steady_clock::time_point m_lastDraw{};
    std::thread m_thread;
};

}  // namespace tarvo::cli
