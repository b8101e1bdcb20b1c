#include "serial/DeviceWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tarvo {
namespace {

constexpr uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

std::string Parent(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

// True when `path` exists, following links (a link to a missing device is not present), with
// the identity of its link and device.
bool DeviceWatcher::Identify(const std::string& path, Entry::Identity& identity)
{
    struct stat link {};
    struct stat device {};
    if (::lstat(path.c_str(), &link) != 0 || ::stat(path.c_str(), &device) != 0)
        return false;
    identity = Entry::Identity{link.st_dev, link.st_ino, device.st_dev, device.st_ino, device.st_rdev};
    return true;
}

DeviceWatcher::DeviceWatcher(Callback onChange) : m_onChange(std::move(onChange)) {}

DeviceWatcher::~DeviceWatcher()
{
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    if (m_inotify >= 0)
        ::close(m_inotify);
    if (m_wake >= 0)
        ::close(m_wake);
}

bool DeviceWatcher::Start(std::string& error)
{
    m_inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_inotify < 0 || m_wake < 0) {
        error = std::string("cannot watch devices (inotify): ") + std::strerror(errno);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (Entry& entry : m_entries)
            AddWatchesLocked(entry);
    }
    m_thread = std::thread([this] { Run(); });
    return true;
}

int DeviceWatcher::Watch(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Entry entry;
    entry.path = path;
    entry.folder = Parent(path);
    entry.name = path.substr(path.find_last_of('/') + 1);
    if (m_inotify >= 0)
        AddWatchesLocked(entry);
    // Watched first, then looked at: an appearance in between is not lost.
    entry.present = Identify(path, entry.counted);
    entry.generation = entry.present ? 1 : 0;
    m_entries.push_back(entry);
    return static_cast<int>(m_entries.size()) - 1;
}

bool DeviceWatcher::Present(int index) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.at(static_cast<std::size_t>(index)).present;
}

uint64_t DeviceWatcher::Generation(int index) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.at(static_cast<std::size_t>(index)).generation;
}

void DeviceWatcher::AddWatchesLocked(Entry& entry)
{
    // The folder of the device a link leads to: the device may go while its link stays.
    if (char* target = ::realpath(entry.path.c_str(), nullptr)) {
        ::inotify_add_watch(m_inotify, Parent(target).c_str(), kFolderEvents);
        std::free(target);
    }
    // The folder itself when it exists, else the nearest folder above it, to see it made.
    std::string folder = entry.folder;
    for (int depth = 0; depth < 32; ++depth) {
        if (::inotify_add_watch(m_inotify, folder.c_str(), kFolderEvents) >= 0)
            return;
        if (folder == "/" || folder == ".")
            return;
        folder = Parent(folder);
    }
}

void DeviceWatcher::RefreshLocked(const std::vector<bool>& replaced, const std::vector<bool>& removed)
{
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        Entry& entry = m_entries[i];
        AddWatchesLocked(entry);
        Entry::Identity found;
        const bool now = Identify(entry.path, found);
        // New: it was absent, or its name went and is back within the batch (whatever the
        // numbers, which a file system may give again), or a name event came and what is
        // there is not what was counted.
        const bool wasRemoved = i < removed.size() && removed[i];
        const bool wasReplaced = i < replaced.size() && replaced[i] && !(found == entry.counted);
        if (now && (!entry.present || wasRemoved || wasReplaced)) {
            ++entry.generation;
            entry.counted = found;
        }
        entry.present = now;
    }
}

void DeviceWatcher::Run()
{
    // Folder of each watch descriptor, learnt from the watches added (inotify gives the same
    // descriptor for the same folder).
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        pollfd fds[2] = {{m_inotify, POLLIN, 0}, {m_wake, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        std::vector<std::pair<int, std::string>> events;  // (mask, name) per event
        std::vector<int> descriptors;
        for (;;) {
            const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                events.emplace_back(static_cast<int>(event->mask), event->len ? std::string(event->name) : std::string());
                descriptors.push_back(event->wd);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            std::vector<bool> replaced(m_entries.size()), removed(m_entries.size());
            for (std::size_t i = 0; i < m_entries.size(); ++i) {
                // The folder's descriptor: adding an existing watch returns it.
                const int wd = ::inotify_add_watch(m_inotify, m_entries[i].folder.c_str(), kFolderEvents);
                for (std::size_t k = 0; k < events.size(); ++k) {
                    if (wd < 0 || descriptors[k] != wd || events[k].second != m_entries[i].name)
                        continue;
                    const auto mask = static_cast<uint32_t>(events[k].first);
                    if (mask & (IN_CREATE | IN_MOVED_TO))
                        replaced[i] = true;
                    if (mask & (IN_DELETE | IN_MOVED_FROM))
                        removed[i] = true;
                }
            }
            RefreshLocked(replaced, removed);
        }
        if (m_onChange)
            m_onChange();
    }
}

}  // namespace tarvo
