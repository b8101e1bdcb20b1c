// Port directory: maps a COM port number to the device path that serves it.
//
// The station numbers its ports COM5..COM12; on this platform each number names a device
// path. The application's directory reads the profile (section "Device", keys "COM5" ..
// "COM12"); a number without an entry falls back to /dev/ttyS<N-1> (COM1 is ttyS0).
//
// Threading: DevicePath() may be called from any thread; implementations are immutable after
// construction or synchronise themselves.
#pragma once

#include <map>
#include <string>

namespace tarvo {

class IPortDirectory {
public:
    virtual ~IPortDirectory() = default;
    // The device path for `portNumber`; empty when the number cannot name a device.
    virtual std::string DevicePath(int portNumber) const = 0;
};

// "/dev/ttyS<N-1>" for N >= 1, empty otherwise.
std::string DefaultDevicePath(int portNumber);

// A fixed table with the default path for numbers it does not hold. Used by the tools and
// tests; the station builds one from its profile.
class MapPortDirectory final : public IPortDirectory {
public:
    MapPortDirectory() = default;
    explicit MapPortDirectory(std::map<int, std::string> paths) : m_paths(std::move(paths)) {}
    void Set(int portNumber, std::string path) { m_paths[portNumber] = std::move(path); }
    std::string DevicePath(int portNumber) const override;

private:
    std::map<int, std::string> m_paths;
};

}  // namespace tarvo
