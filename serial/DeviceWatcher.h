// DeviceWatcher: tells whether device paths exist, and counts each new appearance, without
// polling: an inotify watch on the folder of every watched path (and on the nearest existing
// folder above it, for /dev/serial/by-path that udev creates with the first adapter), served by
// one thread that sleeps in poll() until the kernel reports a change or the watcher stops.
//
// Appearance: a path's generation counts how often something appeared under it: 1 when it
// exists at Watch(), +1 each time it comes into existence after being absent, and +1 when its
// name is replaced in place (a new link renamed over the old one: a new device). A device that
// stays keeps its generation, so "generation changed" means "a different device may be there".
// A link whose target is gone counts as absent.
//
// A plug takes several steps (a link made beside the name and renamed over it), which the
// watcher may take in one batch of events or in several, and it may find the new device in
// place while the event of the rename is still to come. So a replacement counts only when the
// link and device found differ from the ones last counted (their inode and device numbers):
// the late event of a plug already counted is not a second device.
//
// Threading: Watch, Present and Generation may be called from any thread; the callback runs on
// the watcher's thread after every batch of changes (it must not call Watch or destroy the
// watcher; it may call Present and Generation). The destructor stops and joins the thread.
// Errors: Start() false with `error` when inotify or the thread cannot be set up.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <string>
#include <thread>
#include <vector>

namespace tarvo {

class DeviceWatcher {
public:
    using Callback = std::function<void()>;

    explicit DeviceWatcher(Callback onChange = {});
    ~DeviceWatcher();
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;

    // Sets up inotify and starts the thread. False with `error` on failure.
    bool Start(std::string& error);
    // Watches `path` (a device or a link to one); returns its index for Present/Generation.
    int Watch(const std::string& path);
    bool Present(int index) const;
    uint64_t Generation(int index) const;

private:
    struct Entry {
        std::string path;
        std::string folder;  // the folder of `path`
        std::string name;    // its last component
        bool present = false;
        uint64_t generation = 0;
        // The link (or device node) and device last counted.
        struct Identity {
            dev_t linkDev = 0;
            ino_t linkIno = 0;
            dev_t dev = 0;
            ino_t ino = 0;
            dev_t rdev = 0;
            bool operator==(const Identity&) const = default;
        } counted;
    };
    void Run();
    static bool Identify(const std::string& path, Entry::Identity& identity);
    // Adds the watches each entry needs (called with m_mutex held).
    void AddWatchesLocked(Entry& entry);
    // Re-reads every entry after a batch; `replaced` marks entries whose name was created or
    // renamed into place in the batch.
    void RefreshLocked(const std::vector<bool>& replaced, const std::vector<bool>& removed);

    Callback m_onChange;
    int m_inotify = -1;
    int m_wake = -1;  // eventfd: the destructor wakes the thread
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

}  // namespace tarvo
