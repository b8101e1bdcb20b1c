#include "tools/cli/SignalWatch.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tarvo::cli {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// What the handler may touch: lock-free atomics and a descriptor.
std::atomic<int> g_caught{0};
std::atomic<int> g_pipeWrite{-1};
std::atomic<bool> g_exitOnSecond{true};
struct sigaction g_previous[3];

void Handle(int signalNumber)
{
    int expected = 0;
    if (!g_caught.compare_exchange_strong(expected, signalNumber)) {
        if (g_exitOnSecond.load())
            ::_exit(128 + signalNumber);
        return;
    }
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    (void)!::write(g_pipeWrite.load(), &byte, 1);
    errno = saved;
}

}  // namespace

SignalWatch::SignalWatch(SecondSignal second)
{
    (void)!::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK);
    m_stopFd = ::eventfd(0, EFD_CLOEXEC);
    g_caught = 0;
    g_exitOnSecond = second == SecondSignal::ExitAtOnce;
    g_pipeWrite = m_pipe[1];
    m_thread = std::thread(&SignalWatch::Run, this);
    struct sigaction action {};
    action.sa_handler = Handle;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals)
        sigaddset(&action.sa_mask, s);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &action, &g_previous[i]);
}

SignalWatch::~SignalWatch()
{
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    const uint64_t one = 1;
    (void)!::write(m_stopFd, &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
    g_pipeWrite = -1;
    for (int fd : {m_pipe[0], m_pipe[1], m_stopFd})
        if (fd >= 0)
            ::close(fd);
}

void SignalWatch::OnSignal(std::function<void(int)> callback)
{
    std::unique_lock lock(m_mutex);
    if (std::this_thread::get_id() != m_thread.get_id())
        m_returned.wait(lock, [&] { return !m_calling; });
    m_callback = std::move(callback);
    if (m_delivered && m_callback) {
        auto call = m_callback;
        lock.unlock();
        call(Caught());
    }
}

int SignalWatch::Caught() const
{
    return g_caught.load();
}

void SignalWatch::Run()
{
    pollfd fds[2] = {{m_pipe[0], POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents == 0)
            continue;
        unsigned char byte;
        while (::read(m_pipe[0], &byte, 1) > 0) {
        }
        std::function<void(int)> call;
        {
            std::lock_guard lock(m_mutex);
            if (m_delivered)
                continue;
            m_delivered = true;
            call = m_callback;
            m_calling = static_cast<bool>(call);
        }
        if (call) {
            call(Caught());
            {
                std::lock_guard lock(m_mutex);
                m_calling = false;
            }
            m_returned.notify_all();
        }
    }
}

JobSignals::JobSignals(SignalWatch* given, std::function<void()> wake)
    : m_own(given ? nullptr : std::make_unique<SignalWatch>()), m_watch(given ? given : m_own.get())
{
    m_watch->OnSignal([this, wake = std::move(wake)](int) {
        m_interrupted = true;
        wake();
    });
}

}  // namespace tarvo::cli
