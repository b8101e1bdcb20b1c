// A prepared system tree for the device information and preflight checks: sysfs with one FTDI
// adapter (ttyUSB0 at USB 1-1.2), one CP210x adapter (ttyUSB1 at USB 1-4), a legacy port with a
// UART (ttyS0) and one without (ttyS1); /dev with the /dev/serial links; /proc; the udev database.
// The device nodes are real terminals: character devices with the numbers of a pseudo-terminal.
#pragma once

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "serial/DeviceInfo.h"

namespace tarvo::test {

class SysFixture {
public:
    // `ttyNode`: the terminal whose device numbers the /dev nodes get.
    explicit SysFixture(const std::string& ttyNode)
    {
        namespace fs = std::filesystem;
        char pattern[] = "/tmp/tarvo-sysfix-XXXXXX";
        m_dir = ::mkdtemp(pattern);
        roots.sys = m_dir + "/sys";
        roots.proc = m_dir + "/proc";
        roots.udev = m_dir + "/udev";
        roots.dev = m_dir + "/dev";
        const std::string usb = "devices/pci0000:00/0000:00:14.0/usb1";
        UsbAdapter(usb + "/1-1/1-1.2", "1-1.2", "0403", "6001", "FTDI", "FT232R USB UART", "A1B2", "ftdi_sio",
                   "ttyUSB0", "188:0");
        Write("sys/" + usb + "/1-1/1-1.2/1-1.2:1.0/ttyUSB0/latency_timer", "16");
        UsbAdapter(usb + "/1-4", "1-4", "10c4", "ea60", "Silicon Labs", "CP2102 USB to UART Bridge Controller",
                   "0001", "cp210x", "ttyUSB1", "188:1");
        for (const char* port : {"ttyS0", "ttyS1"}) {
            const std::string dir = std::string("sys/devices/platform/serial8250/tty/") + port;
            Write(dir + "/dev", std::string("4:") + (port[4] == '0' ? "64" : "65"));
            Write(dir + "/type", port[4] == '0' ? "4" : "0");
            Link("sys/class/tty/" + std::string(port), "../../devices/platform/serial8250/tty/" + std::string(port));
            Link(dir + "/device", "../../../serial8250");
        }
        fs::create_directories(m_dir + "/sys/bus/platform/drivers/serial8250");
        Link("sys/devices/platform/serial8250/driver", "../../../bus/platform/drivers/serial8250");
        // A pseudo-terminal-like entry without a device link is not listed.
        Write("sys/devices/virtual/tty/tty1/dev", "4:1");
        Link("sys/class/tty/tty1", "../../devices/virtual/tty/tty1");

        struct stat st {};
        ::stat(ttyNode.c_str(), &st);
        fs::create_directories(roots.dev + "/serial/by-path");
        fs::create_directories(roots.dev + "/serial/by-id");
        for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyS0"})
            ::mknod((roots.dev + "/" + name).c_str(), S_IFCHR | 0660, st.st_rdev);
        Link("dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0", "../../ttyUSB0");
        Link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2-if00-port0", "../../ttyUSB0");
        Link("dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0-port0", "../../ttyUSB1");
        fs::create_directories(roots.proc + "/1");
        Write("proc/1/comm", "systemd");
        fs::create_directories(roots.udev + "/data");
    }
    ~SysFixture() { std::filesystem::remove_all(m_dir); }

    void Write(const std::string& relative, const std::string& text)
    {
        const std::filesystem::path path = m_dir + "/" + relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text << "\n";
    }
    void Link(const std::string& relative, const std::string& target)
    {
        const std::filesystem::path path = m_dir + "/" + relative;
        std::filesystem::create_directories(path.parent_path());
        std::filesystem::create_symlink(target, path);
    }
    void Remove(const std::string& relative) { std::filesystem::remove_all(m_dir + "/" + relative); }

    SystemRoots roots;

private:
    void UsbAdapter(const std::string& usbDir, const std::string&, const std::string& vendor,
                    const std::string& product, const std::string& maker, const std::string& name,
                    const std::string& serial, const std::string& driver, const std::string& tty,
                    const std::string& number)
    {
        Write("sys/" + usbDir + "/idVendor", vendor);
        Write("sys/" + usbDir + "/idProduct", product);
        Write("sys/" + usbDir + "/manufacturer", maker);
        Write("sys/" + usbDir + "/product", name);
        Write("sys/" + usbDir + "/serial", serial);
        const std::string iface = usbDir + "/" + std::filesystem::path(usbDir).filename().string() + ":1.0";
        const std::string port = iface + "/" + tty;
        Write("sys/" + port + "/tty/" + tty + "/dev", number);
        std::filesystem::create_directories(m_dir + "/sys/bus/usb-serial/drivers/" + driver);
        // Link targets are relative, as the kernel makes them.
        std::string up = "../";
        for (char c : "sys/" + port)
            if (c == '/')
                up += "../";
        Link("sys/" + port + "/driver", up + "sys/bus/usb-serial/drivers/" + driver);
        Link("sys/" + port + "/tty/" + tty + "/device", "../../../" + tty);
        Link("sys/class/tty/" + tty, "../../" + port + "/tty/" + tty);
    }

    std::string m_dir;
};

}  // namespace tarvo::test
