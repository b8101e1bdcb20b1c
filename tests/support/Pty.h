// A pseudo-terminal pair for tests: the test holds the master (the target's side), the code
// under test opens the slave path like a serial device.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvo::test {

class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }
    int MasterFd() const { return m_master; }
    bool ok() const { return m_master >= 0; }

    // Writes all bytes to the master (blocking with poll).
    void Send(const std::vector<uint8_t>& bytes);
    // Reads from the master until `count` bytes arrived or `timeout` passed.
    std::vector<uint8_t> Receive(std::size_t count, std::chrono::milliseconds timeout);
    // Reads whatever arrives within `timeout`.
    std::vector<uint8_t> Drain(std::chrono::milliseconds timeout);
    // Closes the master: the device disappears for the slave side.
    void HangUp();

private:
    int m_master = -1;
    std::string m_slavePath;
};

}  // namespace tarvo::test
