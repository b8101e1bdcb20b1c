#include "support/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace tarvo::test {

Pty::Pty()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return;
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        ::close(m_master);
        m_master = -1;
        return;
    }
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) != 0) {
        ::close(m_master);
        m_master = -1;
        return;
    }
    m_slavePath = name;
    int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
}

Pty::~Pty()
{
    HangUp();
}

void Pty::Send(const std::vector<uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size() && m_master >= 0) {
        ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        pollfd fd{m_master, POLLOUT, 0};
        ::poll(&fd, 1, 100);
    }
}

std::vector<uint8_t> Pty::Receive(std::size_t count, std::chrono::milliseconds timeout)
{
    std::vector<uint8_t> out;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    uint8_t buffer[4096];
    while (out.size() < count && m_master >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd fd{m_master, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            continue;
        std::size_t want = count - out.size();
        ssize_t n = ::read(m_master, buffer, want < sizeof buffer ? want : sizeof buffer);
        if (n > 0)
            out.insert(out.end(), buffer, buffer + n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return out;
}

std::vector<uint8_t> Pty::Drain(std::chrono::milliseconds timeout)
{
    return Receive(SIZE_MAX, timeout);
}

void Pty::HangUp()
{
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

}  // namespace tarvo::test
