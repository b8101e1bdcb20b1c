// The station's side of the wire, as small as the simulator's tests need: a raw serial open
// of the simulated device, frames built and read independently of the simulator's own code,
// and the raw S-record lines the station writes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::sim::test {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Frame bytes for a payload: AA, raw length, payload with every AA doubled.
inline Bytes Frame(const Bytes& payload)
{
    Bytes out{0xAA, 0};
    for (uint8_t b : payload) {
        out.push_back(b);
        if (b == 0xAA)
            out.push_back(b);
    }
    out[1] = static_cast<uint8_t>(out.size() - 2);
    return out;
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline uint16_t Sum16(const Bytes& data)
{
    uint16_t s = 0;
    for (uint8_t b : data)
        s = static_cast<uint16_t>(s + b);
    return s;
}

// A monitor record as the station writes it: 'S', type, count, address, data, checksum.
inline Bytes Record(char type, uint32_t address, int addressBytes, const Bytes& data)
{
    const uint8_t count = static_cast<uint8_t>(addressBytes + data.size() + 1);
    Bytes out{'S', static_cast<uint8_t>(type), count};
    for (int i = addressBytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(address >> (8 * i)));
    for (uint8_t b : data)
        out.push_back(b);
    uint8_t sum = 0;
    for (std::size_t i = 2; i < out.size(); ++i)
        sum = static_cast<uint8_t>(sum + out[i]);
    out.push_back(static_cast<uint8_t>(~sum));
    return out;
}

// An image block: 'S', '3', 16-bit length, 32-bit address, data, checksum.
inline Bytes Block(uint32_t address, const Bytes& data)
{
    const uint16_t length = static_cast<uint16_t>(data.size() + 5);
    Bytes out{'S', '3', static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length),
              static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
              static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    out.insert(out.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (std::size_t i = 2; i < out.size(); ++i)
        sum = static_cast<uint8_t>(sum + out[i]);
    out.push_back(static_cast<uint8_t>(~sum));
    return out;
}

inline Bytes Termination(uint32_t address) { return Record('7', address, 4, {}); }

inline Bytes SumsAnswer(uint8_t cw, uint16_t v1, uint16_t v2)
{
    return Frame({cw, 0, static_cast<uint8_t>(v1 >> 8), static_cast<uint8_t>(v1),
                  static_cast<uint8_t>(v2 >> 8), static_cast<uint8_t>(v2)});
}

inline const Bytes kIdentify = Frame({0});
inline const Bytes kLoadMonitor = Frame({9});
inline const Bytes kErase = Frame({4});
inline const Bytes kDownload = Frame({5});
inline Bytes RunAt(uint32_t a)
{
    return Frame({10, static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16),
                  static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a)});
}

// The station's open device: raw 8N1 (unless told otherwise), non-blocking, every wait a
// poll() with a time-out.
class StationPort {
public:
    explicit StationPort(const std::string& path, bool raw = true)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) {
            m_error = "cannot open " + path + ": " + std::strerror(errno);
            return;
        }
        if (raw) {
            termios t{};
            ::tcgetattr(m_fd, &t);
            ::cfmakeraw(&t);
            t.c_cflag |= CLOCAL | CREAD;
            ::cfsetspeed(&t, B115200);
            if (::tcsetattr(m_fd, TCSANOW, &t) != 0)
                m_error = "cannot set raw mode on " + path + ": " + std::strerror(errno);
        }
    }
    ~StationPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    StationPort(const StationPort&) = delete;
    StationPort& operator=(const StationPort&) = delete;

    bool Ok() const { return m_fd >= 0 && m_error.empty(); }
    const std::string& Error() const { return m_error; }
    int Fd() const { return m_fd; }

    // Writes every byte, waiting for room at most `timeout` in all.
    bool Write(const Bytes& bytes, std::chrono::milliseconds timeout = 10s)
    {
        const auto deadline = Clock::now() + timeout;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            if (!WaitFor(POLLOUT, deadline))
                return false;
        }
        return true;
    }

    // Reads until `count` bytes arrived or `timeout` passed; returns what arrived.
    Bytes Read(std::size_t count, std::chrono::milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        Bytes out;
        while (out.size() < count) {
            uint8_t buffer[4096];
            const std::size_t want = std::min(sizeof buffer, count - out.size());
            const ssize_t n = ::read(m_fd, buffer, want);
            if (n > 0) {
                out.insert(out.end(), buffer, buffer + n);
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR))
                break;
            if (!WaitFor(POLLIN, deadline))
                break;
        }
        return out;
    }

    // Everything that arrives until the line has been quiet for `quiet`.
    Bytes ReadUntilQuiet(std::chrono::milliseconds quiet)
    {
        Bytes out;
        for (;;) {
            Bytes more = Read(4096, quiet);
            if (more.empty())
                return out;
            out.insert(out.end(), more.begin(), more.end());
        }
    }

    // The raw bytes of the next answer: everything up to the end of the first complete frame
    // and whatever follows within a few milliseconds; what arrived when no frame completes
    // within `timeout`.
    Bytes ReadAnswer(std::chrono::milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        Bytes out;
        while (!HoldsFrame(out)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms)
                return out;
            Bytes more = Read(4096, std::min(left, 5ms));
            out.insert(out.end(), more.begin(), more.end());
        }
        Bytes tail = ReadUntilQuiet(5ms);
        out.insert(out.end(), tail.begin(), tail.end());
        return out;
    }

    // The next frame's payload, skipping bytes outside frames; nothing after `timeout`.
    std::optional<Bytes> ReadFrame(std::chrono::milliseconds timeout)
    {
        const auto deadline = Clock::now() + timeout;
        auto next = [&]() -> std::optional<uint8_t> {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now());
            Bytes b = Read(1, std::max(left, 0ms));
            if (b.empty())
                return std::nullopt;
            return b[0];
        };
        for (;;) {
            auto b = next();
            if (!b)
                return std::nullopt;
            if (*b != 0xAA)
                continue;
            auto length = next();
            if (!length)
                return std::nullopt;
            if (*length == 0xAA)
                continue;  // a doubled AA outside a frame
            Bytes payload;
            for (int left = *length; left > 0;) {
                auto c = next();
                if (!c)
                    return std::nullopt;
                --left;
                if (*c == 0xAA) {
                    auto d = next();
                    if (!d)
                        return std::nullopt;
                    --left;
                }
                payload.push_back(*c);
            }
            return payload;
        }
    }

    // True when the device reported a hang-up within `timeout`.
    bool WaitHangUp(std::chrono::milliseconds timeout)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
            return false;
        return (p.revents & (POLLHUP | POLLERR)) != 0;
    }

private:
    bool WaitFor(short events, Clock::time_point deadline)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms)
            return false;
        pollfd p{m_fd, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()) + 1);
        return r > 0 && (p.revents & events) != 0;
    }

    static bool HoldsFrame(const Bytes& raw)
    {
        for (std::size_t i = 0; i + 1 < raw.size(); ++i) {
            if (raw[i] != 0xAA)
                continue;
            if (raw[i + 1] == 0xAA) {
                ++i;
                continue;
            }
            return raw.size() >= i + 2 + raw[i + 1];
        }
        return false;
    }

    int m_fd = -1;
    std::string m_error;
};

}  // namespace tarvo::sim::test
