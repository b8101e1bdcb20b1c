#include "serial/WorkerThread.h"

#include <cerrno>
#include <exception>
#include <memory>
#include <system_error>

namespace tarvo {
namespace {

void* RunBody(void* argument)
{
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return nullptr;
}

// Thread attributes with the worker stack size, released however the start ends.
class Attributes {
public:
    Attributes()
    {
        ::pthread_attr_init(&m_attr);
        // A size the system refuses leaves the default, which is only wasteful.
        (void)::pthread_attr_setstacksize(&m_attr, WorkerThread::kStackBytes);
    }
    ~Attributes() { ::pthread_attr_destroy(&m_attr); }
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
    const pthread_attr_t* Get() const { return &m_attr; }

private:
    pthread_attr_t m_attr;
};

}  // namespace

WorkerThread::WorkerThread(std::function<void()> body)
{
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    Attributes attributes;
    const int err = ::pthread_create(&m_thread, attributes.Get(), &RunBody, owned.get());
    if (err != 0)
        throw std::system_error(err, std::generic_category(), "cannot start a worker thread");
    owned.release();  // the thread owns its body now
    m_started = true;
}

WorkerThread::~WorkerThread()
{
    if (m_started)
        std::terminate();  // as std::thread: a running thread must be joined first
}

WorkerThread::WorkerThread(WorkerThread&& other) noexcept : m_thread(other.m_thread), m_started(other.m_started)
{
    other.m_started = false;
}

WorkerThread& WorkerThread::operator=(WorkerThread&& other) noexcept
{
    if (this != &other) {
        if (m_started)
            std::terminate();
        m_thread = other.m_thread;
        m_started = other.m_started;
        other.m_started = false;
    }
    return *this;
}

void WorkerThread::join()
{
    if (!m_started)
        throw std::system_error(EINVAL, std::generic_category(), "no worker thread to join");
    const int err = ::pthread_join(m_thread, nullptr);
    m_started = false;
    if (err != 0)
        throw std::system_error(err, std::generic_category(), "cannot join a worker thread");
}

}  // namespace tarvo
