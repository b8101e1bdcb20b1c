#include "tools/cli/TermDisplay.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

// ncurses' terminfo interface. term.h defines a macro for every capability name, so it comes
// last, and the two that clash with ordinary words are taken back.
#include <curses.h>
#include <term.h>
#undef lines
#undef columns

namespace tarvo::cli {
namespace {

// What the SIGWINCH handler may touch: the write end of the display's pipe.
std::atomic<int> g_resizeWrite{-1};

void OnResize(int)
{
    const int saved = errno;
    const unsigned char byte = 1;
    (void)!::write(g_resizeWrite.load(), &byte, 1);
    errno = saved;
}

// tputs() hands each byte to a plain function: the output is gathered here (only the drawing
// thread of the one display uses it).
thread_local std::string* t_out = nullptr;

int PutByte(int c)
{
    if (t_out)
        t_out->push_back(static_cast<char>(c));
    return c;
}

// A capability's string, or empty when the terminal lacks it.
std::string Capability(const char* name)
{
    char* value = ::tigetstr(const_cast<char*>(name));
    if (value == nullptr || value == reinterpret_cast<char*>(-1))
        return {};
    return value;
}

// Columns `text` takes: one per character of its UTF-8 (continuation bytes take none).
int Columns(const std::string& text)
{
    int n = 0;
    for (const char c : text)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

}  // namespace

struct TermDisplay::Caps {
    std::string cuu;   // parm_up_cursor (with a count), may be empty
    std::string cuu1;  // cursor_up
    std::string el;    // clr_eol
    std::string ed;    // clr_eos, may be empty
    std::string home;  // cursor_home, may be empty
    int resizeRead = -1;
    int resizeWrite = -1;
    struct sigaction previous {};

    ~Caps()
    {
        if (resizeWrite >= 0) {
            ::sigaction(SIGWINCH, &previous, nullptr);
            g_resizeWrite = -1;
        }
        for (int fd : {resizeRead, resizeWrite})
            if (fd >= 0)
                ::close(fd);
    }

    // Appends control string `s` through tputs, which honours its padding.
    void Put(std::string& out, const std::string& s) const
    {
        if (s.empty())
            return;
        t_out = &out;
        ::tputs(s.c_str(), 1, PutByte);
        t_out = nullptr;
    }

    void Up(std::string& out, int rows) const
    {
        if (rows <= 0)
            return;
        if (!cuu.empty()) {
            Put(out, ::tparm(const_cast<char*>(cuu.c_str()), rows, 0, 0, 0, 0, 0, 0, 0, 0));
            return;
        }
        for (int i = 0; i < rows; ++i)
            Put(out, cuu1);
    }
};

std::unique_ptr<TermDisplay> TermDisplay::Open(int fd, Render render)
{
    if (!::isatty(fd) || g_resizeWrite.load() >= 0)
        return nullptr;
    int error = 0;
    if (::setupterm(nullptr, fd, &error) != OK)
        return nullptr;  // no TERM, or no terminfo entry for it
    auto caps = std::make_unique<Caps>();
    caps->cuu = Capability("cuu");
    caps->cuu1 = Capability("cuu1");
    caps->el = Capability("el");
    caps->ed = Capability("ed");
    caps->home = Capability("home");
    if ((caps->cuu.empty() && caps->cuu1.empty()) || caps->el.empty())
        return nullptr;  // a terminal that cannot redraw a line in place (TERM=dumb)
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    caps->resizeRead = pipeFds[0];
    caps->resizeWrite = pipeFds[1];
    g_resizeWrite = caps->resizeWrite;
    struct sigaction action {};
    action.sa_handler = OnResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGWINCH, &action, &caps->previous);
    return std::unique_ptr<TermDisplay>(new TermDisplay(fd, std::move(render), std::move(caps)));
}

TermDisplay::TermDisplay(int fd, Render render, std::unique_ptr<Caps> caps)
    : m_fd(fd), m_render(std::move(render)), m_caps(std::move(caps)), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    std::fflush(stdout);  // what was printed before the display stays above it
    m_thread = std::thread(&TermDisplay::Run, this);
}

TermDisplay::~TermDisplay()
{
    Finish();
    if (m_wake >= 0)
        ::close(m_wake);
}

int TermDisplay::Width(int fd, int fallback)
{
    winsize size {};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 1)
        return size.ws_col - 1;
    return fallback;
}

void TermDisplay::Changed()
{
    m_changed = true;
    const uint64_t one = 1;
    (void)!::write(m_wake, &one, sizeof one);
}

void TermDisplay::Above(const std::string& line)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_finished)
            return;
        m_above.push_back(line);
    }
    Changed();
}

void TermDisplay::Finish()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_finished)
            return;
        m_stop = true;
    }
    Changed();
    if (m_thread.joinable())
        m_thread.join();
    // A job that ends before its first report (a record that cannot be written) leaves no
    // block under its error message.
    if (m_changed || !m_drawn.empty())
        Draw(false, true);
    std::lock_guard lock(m_mutex);
    m_finished = true;
}

void TermDisplay::Run()
{
    using Clock = std::chrono::steady_clock;
    constexpr auto kInterval = std::chrono::milliseconds(100);
    bool dirty = false;
    bool resized = false;
    pollfd fds[2] = {{m_wake, POLLIN, 0}, {m_caps->resizeRead, POLLIN, 0}};
    for (;;) {
        int timeout = -1;
        if (dirty || resized) {
            const auto due = m_lastDraw + kInterval;
            const auto now = Clock::now();
            if (resized || now >= due) {
                Draw(resized);
                dirty = resized = false;
            } else {
                timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
            }
        }
        if (::poll(fds, 2, timeout) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents) {
            uint64_t count;
            (void)!::read(m_wake, &count, sizeof count);
            dirty = true;
        }
        if (fds[1].revents) {
            unsigned char bytes[64];
            while (::read(m_caps->resizeRead, bytes, sizeof bytes) > 0) {
            }
            resized = !m_drawn.empty();
        }
        std::lock_guard lock(m_mutex);
        if (m_stop)
            return;
    }
}

void TermDisplay::Draw(bool resized, bool final)
{
    const int width = Width(m_fd, m_width > 0 ? m_width : 79);
    // A new width is a resize, whether or not its signal has been seen yet.
    resized |= m_width > 0 && width != m_width;
    winsize size {};
    const int height = ::ioctl(m_fd, TIOCGWINSZ, &size) == 0 && size.ws_row > 1 ? size.ws_row : 24;
    std::vector<std::string> lines = m_render(width);
    // A block taller than the screen could not be reached again by moving up: the lines that
    // do not fit are counted on the last one, until the final drawing, which shows them all.
    if (!final && static_cast<int>(lines.size()) > height - 1) {
        const std::size_t shown = static_cast<std::size_t>(std::max(1, height - 2));
        const std::string more = "... " + std::to_string(lines.size() - shown) + " more";
        lines.resize(shown);
        lines.push_back(more.substr(0, static_cast<std::size_t>(width)));
    }
    std::vector<std::string> above;
    {
        std::lock_guard lock(m_mutex);
        above.swap(m_above);
    }
    std::string out;
    const bool narrower = resized && width < m_width;
    if (narrower && !m_caps->home.empty() && !m_caps->ed.empty()) {
        // Terminals differ in what a narrower width does to the lines already shown: some cut
        // them, some wrap them anew (the lines above the block too), so where the block now
        // starts is unknown. The screen is cleared and the block starts again at its top;
        // what scrolled by stays in the terminal's history.
        m_caps->Put(out, m_caps->home);
        m_caps->Put(out, m_caps->ed);
    } else if (!m_drawn.empty()) {
        // The rows the block takes now: a terminal that wraps its lines anew on a resize
        // puts each line drawn wider than the new width on further rows.
        int rows = 0;
        for (const std::string& line : m_drawn) {
            const int columns = Columns(line);
            rows += resized && columns > width + 1 ? (columns + width) / (width + 1) : 1;
        }
        out += '\r';
        m_caps->Up(out, rows);
    }
    for (const std::string& line : above) {
        out += line;
        m_caps->Put(out, m_caps->el);
        out += '\n';
    }
    for (const std::string& line : lines) {
        out += line;
        m_caps->Put(out, m_caps->el);
        out += '\n';
    }
    if (resized || lines.size() < m_drawn.size())
        m_caps->Put(out, m_caps->ed);
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::write(m_fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // the terminal has gone: nothing more to show
        done += static_cast<std::size_t>(n);
    }
    m_drawn = std::move(lines);
    m_width = width;
    m_lastDraw = std::chrono::steady_clock::now();
}

}  // namespace tarvo::cli
