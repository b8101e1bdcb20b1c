// The device watcher against a real folder: links appear, go, come back and are replaced, also
// below a folder that does not exist yet, and every change wakes the callback.

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "serial/DeviceWatcher.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class Folder {
public:
    Folder()
    {
        char pattern[] = "/tmp/tarvo-watch-XXXXXX";
        m_path = ::mkdtemp(pattern);
    }
    ~Folder() { fs::remove_all(m_path); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Counts callbacks and lets the test wait for a condition checked after each one.
struct Changes {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;

    void Note()
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++count;
        changed.notify_all();
    }
    int Count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return count;
    }
    template <class Pred>
    bool WaitFor(Pred pred)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 2s, pred);
    }
};

}  // namespace

TEST(DeviceWatcher, CountsEachNewDeviceBehindALink)
{
    Folder dir;
    const std::string deviceA = dir.Path() + "/ttyA";
    const std::string deviceB = dir.Path() + "/ttyB";
    std::ofstream(deviceA) << "a";
    std::ofstream(deviceB) << "b";
    // The link's folder is made only when the first adapter comes, as udev does.
    const std::string link = dir.Path() + "/serial/by-path/usb-0:1.2:1.0-port0";

    Changes changes;
    tarvo::DeviceWatcher watcher([&] { changes.Note(); });
    const int present = watcher.Watch(deviceA);
    const int index = watcher.Watch(link);
    std::string error;
    ASSERT_TRUE(watcher.Start(error)) << error;
    EXPECT_TRUE(watcher.Present(present));
    EXPECT_EQ(watcher.Generation(present), 1u) << "present from the start: the first device";
    EXPECT_FALSE(watcher.Present(index));
    EXPECT_EQ(watcher.Generation(index), 0u);

    fs::create_directories(fs::path(link).parent_path());
    fs::create_symlink(deviceA, link);
    ASSERT_TRUE(changes.WaitFor([&] { return watcher.Present(index); })) << "appeared below a new folder";
    EXPECT_EQ(watcher.Generation(index), 1u);

    fs::remove(link);
    ASSERT_TRUE(changes.WaitFor([&] { return !watcher.Present(index); }));
    EXPECT_EQ(watcher.Generation(index), 1u);
    fs::create_symlink(deviceB, link);
    ASSERT_TRUE(changes.WaitFor([&] { return watcher.Generation(index) == 2; })) << "back again: a new device";
    EXPECT_TRUE(watcher.Present(index));

    // A new link renamed over the old one is a new device although the name never went.
    fs::create_symlink(deviceA, link + ".tmp");
    fs::rename(link + ".tmp", link);
    ASSERT_TRUE(changes.WaitFor([&] { return watcher.Generation(index) == 3; }));

    // Something else in the folder changes nothing for the link.
    const int before = changes.Count();
    std::ofstream(dir.Path() + "/serial/by-path/other") << "x";
    ASSERT_TRUE(changes.WaitFor([&] { return changes.count > before; }));
    EXPECT_EQ(watcher.Generation(index), 3u);
    EXPECT_EQ(watcher.Generation(present), 1u);

    // A link whose device went is absent, seen from the device's own folder.
    fs::create_directories(dir.Path() + "/pts");
    const std::string deviceC = dir.Path() + "/pts/3";
    std::ofstream(deviceC) << "c";
    fs::create_symlink(deviceC, link + ".tmp");
    fs::rename(link + ".tmp", link);
    ASSERT_TRUE(changes.WaitFor([&] { return watcher.Generation(index) == 4; }));
    fs::remove(deviceC);
    ASSERT_TRUE(changes.WaitFor([&] { return !watcher.Present(index); }));
    EXPECT_TRUE(watcher.Present(present));
}

TEST(DeviceWatcher, DestroyedPromptlyWhileIdle)
{
    Folder dir;
    const auto start = std::chrono::steady_clock::now();
    {
        tarvo::DeviceWatcher watcher;
        watcher.Watch(dir.Path() + "/missing/link");
        std::string error;
        ASSERT_TRUE(watcher.Start(error)) << error;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(DeviceWatcher, EachPlugCountsOnceWhateverTheWatcherSeesOfItsSteps)
{
    // A plug is three steps (a link made beside the name, renamed over it) that the watcher may
    // take in one batch or in several, and it may find the device already there while the
    // rename's event is still on its way. However the steps fall, one plug is one new device:
    // counting it twice would flash a handset that stayed a second time.
    Folder dir;
    const std::string device = dir.Path() + "/ttyA";
    std::ofstream(device) << "a";
    const std::string link = dir.Path() + "/usb-0:1.2:1.0-port0";
    const std::string barrier = dir.Path() + "/barrier";

    Changes changes;
    tarvo::DeviceWatcher watcher([&] { changes.Note(); });
    const int index = watcher.Watch(link);
    std::string error;
    ASSERT_TRUE(watcher.Start(error)) << error;
    // Waits until the watcher has taken every event made before this call.
    auto settle = [&] {
        const int before = changes.Count();
        std::ofstream(barrier) << "x";
        fs::remove(barrier);
        return changes.WaitFor([&] { return changes.count > before + 0 && !fs::exists(barrier); });
    };
    for (uint64_t plug = 1; plug <= 300; ++plug) {
        fs::create_symlink(device, link + ".tmp");
        fs::rename(link + ".tmp", link);
        ASSERT_TRUE(changes.WaitFor([&] { return watcher.Present(index); }));
        ASSERT_TRUE(settle());
        ASSERT_TRUE(settle());
        ASSERT_EQ(watcher.Generation(index), plug) << "plug " << plug;
        fs::remove(link);
        ASSERT_TRUE(changes.WaitFor([&] { return !watcher.Present(index); }));
    }
}
