// What the status server's tests share: a temporary folder, a program run in the background
// with its output in files (and a private profile folder), a free loopback port, plain HTTP
// requests over a socket, and an event stream read on a thread of its own.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "record/TestSupport.h"  // TempDir

namespace tarvo::test {

using namespace std::chrono_literals;

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A program run in the background in `dir`, its stdout and stderr in files there. The profile
// and data folders point into `dir`, so the user's own profile plays no part.
class Child {
public:
    Child(const std::string& path, const std::vector<std::string>& args, const std::string& dir,
          const std::string& name = {})
    {
        const std::string base = dir + "/" + (name.empty() ? std::filesystem::path(path).filename().string() : name);
        m_out = base + ".out";
        m_err = base + ".err";
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            const int out = ::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
            ::setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
            ::setenv("HOME", dir.c_str(), 1);
            if (::chdir(dir.c_str()) != 0)
                ::_exit(126);
            ::execv(path.c_str(), argv.data());
            ::_exit(127);
        }
    }
    ~Child()
    {
        if (m_pid > 0 && m_status < 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void Signal(int signalNumber) { ::kill(m_pid, signalNumber); }
    // The exit status (128 + signal when killed), or -1 when it has not ended within `timeout`.
    int Wait(std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (m_status < 0) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return -1;
            std::this_thread::sleep_for(20ms);
        }
        return m_status;
    }
    bool Running()
    {
        return Wait(0ms) < 0;
    }
    std::string Out() const { return ReadFile(m_out); }
    std::string Err() const { return ReadFile(m_err); }

private:
    std::string m_out, m_err;
    pid_t m_pid = -1;
    int m_status = -1;
};

inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                    std::chrono::milliseconds step = 50ms)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

inline int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

// A connection to 127.0.0.1:port (closed on destruction); -1 when it cannot connect.
class Connection {
public:
    explicit Connection(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Connection()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    bool Ok() const { return m_fd >= 0; }

    // Sends what it can of `bytes` (a server may close the connection before it took all).
    void Send(const std::string& bytes)
    {
        std::size_t sent = 0;
        while (m_fd >= 0 && sent < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += static_cast<std::size_t>(n);
        }
    }
    // Reads until `until` appears in what was read, the peer closes, or `timeout` passes.
    std::string Read(std::chrono::milliseconds timeout, const std::string& until = {})
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (m_fd >= 0 && (until.empty() || m_read.find(until) == std::string::npos)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left <= 0ms)
                break;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            char buffer[8192];
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            m_read.append(buffer, static_cast<std::size_t>(n));
        }
        return m_read;
    }

private:
    int m_fd = -1;
    std::string m_read;
};

struct HttpReply {
    int status = 0;  // 0: no answer
    std::string headers;
    std::string body;
};

// One request (`request` is the whole request text) and its reply, read until the server closes.
inline HttpReply Request(int port, const std::string& request, std::chrono::milliseconds timeout = 5s)
{
    HttpReply reply;
    Connection connection(port);
    if (!connection.Ok())
        return reply;
    connection.Send(request);
    const std::string text = connection.Read(timeout);
    if (text.rfind("HTTP/1.1 ", 0) == 0 && text.size() >= 12)
        reply.status = std::atoi(text.substr(9, 3).c_str());
    const auto split = text.find("\r\n\r\n");
    reply.headers = text.substr(0, split);
    if (split != std::string::npos)
        reply.body = text.substr(split + 4);
    return reply;
}

inline HttpReply Get(int port, const std::string& path)
{
    return Request(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

// An event stream read on a thread of its own until the server ends it.
class EventStream {
public:
    explicit EventStream(int port) : m_connection(port)
    {
        m_connection.Send("GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n\r\n");
        m_thread = std::thread([this] {
            const std::string text = m_connection.Read(60s, "\r\n0\r\n\r\n");
            std::lock_guard lock(m_mutex);
            m_text = text;
            m_done = true;
        });
    }
    ~EventStream()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    // Waits until the stream ended; false when it has not within `timeout`.
    bool WaitEnded(std::chrono::milliseconds timeout)
    {
        return WaitFor([this] {
            std::lock_guard lock(m_mutex);
            return m_done;
        }, timeout);
    }
    // The events (name, data) received, chunk framing removed.
    std::vector<std::pair<std::string, std::string>> Events()
    {
        std::string text;
        {
            std::lock_guard lock(m_mutex);
            text = m_text;
        }
        std::vector<std::pair<std::string, std::string>> events;
        std::string name;
        for (const std::string& raw : Lines(text)) {
            std::string line = raw;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.rfind("event: ", 0) == 0)
                name = line.substr(7);
            else if (line.rfind("data: ", 0) == 0)
                events.emplace_back(name, line.substr(6));
        }
        return events;
    }

private:
    Connection m_connection;
    std::thread m_thread;
    std::mutex m_mutex;
    std::string m_text;
    bool m_done = false;
};

}  // namespace tarvo::test
