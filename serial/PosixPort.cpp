#include "serial/PosixPort.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "serial/Holders.h"

namespace tarvo {
namespace {

bool BaudConstant(uint32_t baudRate, speed_t& speed)
{
    struct Entry { uint32_t rate; speed_t constant; };
    static constexpr Entry kRates[] = {
        {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
        {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
        {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const Entry& e : kRates) {
        if (e.rate == baudRate) {
            speed = e.constant;
            return true;
        }
    }
    return false;
}

std::string Reason(int err)
{
    switch (err) {
    case ENOENT: return "no such device";
    case EACCES: return "permission denied (is the user in the dialout group?)";
    case EBUSY:
    case EWOULDBLOCK: return "in use by another program";
    case ENOTTY: return "not a serial device";
    default: return std::strerror(err);
    }
}

// The device number of this process's controlling terminal (0: none), from /proc/self/stat.
dev_t ControllingTerminal()
{
    std::ifstream in("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // "pid (comm) state ppid pgrp session tty_nr ...": comm may hold spaces and parentheses.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string state;
    long ppid = 0, pgrp = 0, session = 0, ttyNr = 0;
    if (!(fields >> state >> ppid >> pgrp >> session >> ttyNr) || ttyNr == 0)
        return 0;
    const auto major = static_cast<unsigned>((ttyNr >> 8) & 0xFFF);
    const auto minor = static_cast<unsigned>((ttyNr & 0xFF) | ((ttyNr >> 12) & 0xFFF00));
    return makedev(major, minor);
}

// Why the character device `rdev` cannot be a serial port without opening it; empty when it
// may be one (a tty device, or one the kernel does not describe, such as a pseudo-terminal,
// which the open then checks). Nothing is opened here: opening an arbitrary device can have
// effects of its own (a watchdog starts counting).
std::string NotASerialPort(dev_t rdev)
{
    if (rdev == makedev(5, 0))
        return "the controlling terminal's alias, not a serial device";
    if (rdev == ControllingTerminal())
        return "the terminal this program runs in, not a serial device";
    for (int fd = 0; fd <= 2; ++fd) {
        struct stat st {};
        if (::isatty(fd) && ::fstat(fd, &st) == 0 && st.st_rdev == rdev)
            return "the terminal this program runs in, not a serial device";
    }
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", major(rdev), minor(rdev));
    char target[256];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n > 0) {
        target[n] = '\0';
        const char* name = std::strrchr(target, '/');
        if (std::strcmp(name ? name + 1 : target, "tty") != 0)
            return "not a serial device";
    }
    return {};
}

int RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

PosixPort::PosixPort()
{
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

PosixPort::~PosixPort()
{
    Close();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

bool PosixPort::Open(const std::string& path, uint32_t baudRate, std::string& error, const HolderScan* holders)
{
    Close();
    if (path.empty()) {
        error = "no device configured for this port";
        return false;
    }
    speed_t speed;
    if (!BaudConstant(baudRate, speed)) {
        error = path + ": unsupported bit rate " + std::to_string(baudRate);
        return false;
    }
    if (m_wakeFd < 0) {
        error = path + ": cannot create the wake-up event: " + std::strerror(errno);
        return false;
    }
    // Only a terminal device can be a serial port. This is settled before the look for
    // holders, so that the processes holding /dev/null or a pipe never reach a message (and a
    // record), and this program's own terminal is never put into raw mode.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = path + ": " + Reason(errno);
        return false;
    }
    if (!S_ISCHR(st.st_mode)) {
        error = path + ": not a serial device";
        return false;
    }
    if (std::string why = NotASerialPort(st.st_rdev); !why.empty()) {
        error = path + ": " + why;
        return false;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + Reason(errno);
        return false;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        error = path + ": not a serial device";
        return false;
    }
    // A program that does not lock the device would share it silently and steal its bytes.
    // (The scan skips this process, so the descriptor just opened is not counted.)
    if (std::vector<DeviceHolder> found = holders ? holders->Find(path) : FindDeviceHolders(path); !found.empty()) {
        ::close(fd);
        error = path + ": " + DescribeHolders(found);
        return false;
    }
    // flock keeps out every other program that locks the device, root included; TIOCEXCL keeps
    // out other non-root programs that do not lock. Both are wanted: root ignores TIOCEXCL.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd);
        // A holder that appeared since the look above is named; one this process cannot see
        // (another user's) or this process itself (another port) is not.
        std::vector<DeviceHolder> holders = FindDeviceHolders(path);
        error = path + ": " + (holders.empty() ? Reason(err == EWOULDBLOCK ? EBUSY : err) : DescribeHolders(holders));
        return false;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        int err = errno;
        ::close(fd);
        error = path + ": " + Reason(err);
        return false;
    }
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
        int err = errno;
        ::close(fd);
        error = path + ": " + Reason(err);
        return false;
    }
    // Raw 8N1: no input, output or local processing at all, so every byte value passes
    // unchanged (0x0D, 0x11 and 0x13 included). CLOCAL: ignore modem status lines; HUPCL off:
    // closing does not drop DTR. Reads never block in the driver; time-outs come from poll().
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        int err = errno;
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        error = path + ": cannot set the line settings: " + Reason(err);
        return false;
    }
    // DTR asserted, RTS negated. A pseudo-terminal has no modem lines and refuses both (ENOTTY
    // or EINVAL); that is harmless, so the result is not examined.
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIS, &dtr);
    (void)::ioctl(fd, TIOCMBIC, &rts);
    m_fd = fd;
    m_locked = true;
    // Drain a wake-up left from an earlier session.
    uint64_t drop;
    while (::read(m_wakeFd, &drop, sizeof drop) > 0) {
    }
    return true;
}

void PosixPort::Close()
{
    if (m_fd < 0)
        return;
    (void)::ioctl(m_fd, TIOCNXCL);
    if (m_locked)
        (void)::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
    m_locked = false;
}

PosixPort::PollEvents PosixPort::Poll(bool wantWrite, int timeoutMs)
{
    PollEvents events;
    pollfd fds[2] = {};
    int count = 0;
    fds[count++] = {m_wakeFd, POLLIN, 0};
    if (m_fd >= 0)
        fds[count++] = {m_fd, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int rc;
    for (;;) {
        rc = ::poll(fds, count, RemainingMs(deadline));
        if (rc >= 0 || errno != EINTR)
            break;
    }
    if (rc <= 0) {
        if (rc < 0) {
            m_errno = errno;
            events.hangup = true;
        }
        return events;
    }
    if (fds[0].revents & POLLIN) {
        uint64_t value;
        while (::read(m_wakeFd, &value, sizeof value) > 0) {
        }
        events.woken = true;
    }
    if (count > 1) {
        short r = fds[1].revents;
        events.readable = (r & POLLIN) != 0;
        events.writable = (r & POLLOUT) != 0;
        events.hangup = (r & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    return events;
}

void PosixPort::Wake()
{
    uint64_t one = 1;
    (void)!::write(m_wakeFd, &one, sizeof one);
}

template <typename Transfer>
ssize_t PosixPort::Retry(Transfer transfer)
{
    if (m_fd < 0)
        return -2;
    for (;;) {
        ssize_t n = transfer();
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -1;
        m_errno = errno;
        return -2;
    }
}

ssize_t PosixPort::Read(uint8_t* buffer, std::size_t size)
{
    return Retry([&] { return ::read(m_fd, buffer, size); });
}

ssize_t PosixPort::Write(const uint8_t* data, std::size_t size)
{
    return Retry([&] { return ::write(m_fd, data, size); });
}

void PosixPort::Flush()
{
    if (m_fd >= 0)
        (void)::tcflush(m_fd, TCIOFLUSH);
}

}  // namespace tarvo

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>

#include "serial/ThreadPriority.h"

namespace tarvo {

void LowerThreadPriority()
{
    // On Linux a thread's nice value is its own: PRIO_PROCESS with the thread id sets it alone.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    int current = ::getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0)
        return;
    (void)::setpriority(PRIO_PROCESS, tid, current + 2);
}

void NameThisThread(const char* name)
{
    char shortName[16];
    std::snprintf(shortName, sizeof shortName, "%s", name);
    (void)::pthread_setname_np(::pthread_self(), shortName);
}

}  // namespace tarvo
