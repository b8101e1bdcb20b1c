// PosixPort: the one place where the serial channel talks to the operating system (open,
// termios, locks, modem lines, poll, read, write, flush). The channel's threading rules apply:
// the owner serialises every call except Read/Poll, which only the receive thread makes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace tarvo {

class HolderScan;

class PosixPort {
public:
    PosixPort();
    ~PosixPort();
    PosixPort(const PosixPort&) = delete;
    PosixPort& operator=(const PosixPort&) = delete;

    // Opens `path` raw 8N1 at `baudRate`, exclusively. On failure returns false with `error`
    // naming the device and the reason, and holds nothing. Other processes holding the device
    // are looked up in `holders` when given (a picture taken just before a burst of opens),
    // otherwise by a fresh walk.
    bool Open(const std::string& path, uint32_t baudRate, std::string& error, const HolderScan* holders = nullptr);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    struct PollEvents {
        bool readable = false;
        bool writable = false;
        bool woken = false;
        bool hangup = false;  // POLLHUP/POLLERR/POLLNVAL on the device
    };
    // Waits up to `timeoutMs` for the device to be readable (and writable when `wantWrite`),
    // or for Wake(). EINTR is retried within the same deadline.
    PollEvents Poll(bool wantWrite, int timeoutMs);
    // Makes a Poll in progress (or the next one) return at once.
    void Wake();

    // Non-blocking read/write. >= 0: bytes moved; -1: would block; -2: device error (errno kept
    // in LastErrno()).
    ssize_t Read(uint8_t* buffer, std::size_t size);
    ssize_t Write(const uint8_t* data, std::size_t size);
    // Drops what the driver holds in both directions.
    void Flush();
    int LastErrno() const { return m_errno; }

private:
    // Runs a non-blocking read or write, retrying EINTR; maps the result as Read/Write say.
    template <typename Transfer>
    ssize_t Retry(Transfer transfer);

    int m_fd = -1;
    int m_wakeFd = -1;  // eventfd
    bool m_locked = false;
    int m_errno = 0;
};

}  // namespace tarvo
