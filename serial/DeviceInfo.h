// Serial device information from the kernel's sysfs and the /dev links that udev keeps: for
// each serial device its stable names (/dev/serial/by-path, /dev/serial/by-id), its USB
// location (bus-port path such as "1-1.2"), the adapter's vendor, product and serial number,
// and the kernel driver, so an engineer can tell which physical socket a station row drives.
//
// Every file system root is a member of SystemRoots, so tests point them at prepared folders.
// Device paths handed in and out are always spelled as on the running system ("/dev/ttyUSB0");
// they are looked up under `roots.dev` ("/dev/" is replaced by `roots.dev + "/"`).
//
// Threading: plain functions that only read files; call from any thread.
// Errors: nothing is thrown; what cannot be read stays empty.
#pragma once

#include <string>
#include <vector>

namespace tarvo {

struct SystemRoots {
    std::string sys = "/sys";
    std::string proc = "/proc";
    std::string udev = "/run/udev";  // the udev database (data/c<major>:<minor>)
    std::string dev = "/dev";
};

struct SerialDeviceInfo {
    std::string name;        // kernel name, e.g. "ttyUSB0" (empty when the device is unknown)
    std::string devicePath;  // "/dev/ttyUSB0"
    std::vector<std::string> byPath;  // "/dev/serial/by-path/..." links to it, sorted
    std::vector<std::string> byId;    // "/dev/serial/by-id/..." links to it, sorted
    std::string driver;       // "ftdi_sio", "cp210x", "cdc_acm", "serial8250", ...
    std::string usbLocation;  // USB bus-port path ("1-1.2"); empty for a device not on USB
    std::string vendorId;     // "0403"
    std::string productId;    // "6001"
    std::string manufacturer;
    std::string product;
    std::string serial;
    std::string deviceNumber;  // "188:0" (major:minor) from sysfs; empty when unknown

    bool IsUsb() const { return !usbLocation.empty(); }
    // One line for people: "USB 1-1.2, 0403:6001 FTDI FT232R USB UART, serial A1B2, ftdi_sio".
    std::string Summary() const;
};

// The device that `path` names, through links: "/dev/serial/by-path/x" -> "/dev/ttyUSB0".
// Empty when the path does not exist under `roots.dev`. Paths outside /dev are resolved as
// they stand.
std::string ResolveDevicePath(const std::string& path, const SystemRoots& roots = {});

// What sysfs and the /dev/serial links tell about the device `path` names (links followed).
// `name` stays empty when sysfs does not know the device (missing device, pseudo-terminal).
SerialDeviceInfo DescribeSerialDevice(const std::string& path, const SystemRoots& roots = {});

// Every serial device of the machine that has hardware behind it: USB adapters, ACM modems and
// serial ports whose UART exists (sysfs "type" other than 0), sorted by name with USB devices
// first.
std::vector<SerialDeviceInfo> FindSerialDevices(const SystemRoots& roots = {});

// True when `path`'s last component is a kernel name that changes with plugging order:
// "ttyUSB<n>" or "ttyACM<n>".
bool IsUnstableDeviceName(const std::string& path);

// Kernel drivers of USB serial adapters that a braille display daemon may take over (FTDI,
// Silicon Labs, Prolific, WCH and the like).
bool IsUsbSerialAdapterDriver(const std::string& driver);

}  // namespace tarvo
