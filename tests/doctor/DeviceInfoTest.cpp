// Serial device information read from a prepared sysfs and /dev tree.

#include <gtest/gtest.h>

#include "doctor/SysFixture.h"
#include "serial/DeviceInfo.h"
#include "support/Pty.h"

using namespace tarvo;

TEST(DeviceInfo, StableLinkLeadsToTheAdapterAndItsSocket)
{
    test::Pty pty;
    test::SysFixture fix(pty.SlavePath());
    const SerialDeviceInfo info =
        DescribeSerialDevice("/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0", fix.roots);
    EXPECT_EQ(info.name, "ttyUSB0");
    EXPECT_EQ(info.devicePath, "/dev/ttyUSB0");
    EXPECT_EQ(info.usbLocation, "1-1.2");
    EXPECT_EQ(info.vendorId, "0403");
    EXPECT_EQ(info.productId, "6001");
    EXPECT_EQ(info.manufacturer, "FTDI");
    EXPECT_EQ(info.product, "FT232R USB UART");
    EXPECT_EQ(info.serial, "A1B2");
    EXPECT_EQ(info.driver, "ftdi_sio");
    EXPECT_EQ(info.deviceNumber, "188:0");
    EXPECT_EQ(info.byPath, std::vector<std::string>{"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0"});
    EXPECT_EQ(info.byId, std::vector<std::string>{"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2-if00-port0"});
    EXPECT_EQ(info.Summary(), "USB 1-1.2, 0403:6001 FTDI FT232R USB UART, serial A1B2, ftdi_sio");
    EXPECT_EQ(ResolveDevicePath("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2-if00-port0", fix.roots),
              "/dev/ttyUSB0");
}

TEST(DeviceInfo, ListHasHardwareOnlyUsbFirstAndAbsentDevicesStayUnknown)
{
    test::Pty pty;
    test::SysFixture fix(pty.SlavePath());
    fix.Write("sys/devices/platform/serial8250/tty/ttyS10/type", "4");  // natural order: S0 < S10
    fix.Link("sys/devices/platform/serial8250/tty/ttyS10/device", "../../../serial8250");
    fix.Link("sys/class/tty/ttyS10", "../../devices/platform/serial8250/tty/ttyS10");
    fix.Write("sys/devices/platform/serial8250/tty/ttyS2/type", "4");
    fix.Link("sys/devices/platform/serial8250/tty/ttyS2/device", "../../../serial8250");
    fix.Link("sys/class/tty/ttyS2", "../../devices/platform/serial8250/tty/ttyS2");

    std::vector<std::string> names;
    for (const SerialDeviceInfo& d : FindSerialDevices(fix.roots))
        names.push_back(d.name);
    EXPECT_EQ(names, (std::vector<std::string>{"ttyUSB0", "ttyUSB1", "ttyS0", "ttyS2", "ttyS10"}))
        << "ttyS1 has no UART, tty1 is virtual";

    const SerialDeviceInfo legacy = DescribeSerialDevice("/dev/ttyS0", fix.roots);
    EXPECT_FALSE(legacy.IsUsb());
    EXPECT_EQ(legacy.driver, "serial8250");
    EXPECT_TRUE(legacy.byPath.empty());

    const SerialDeviceInfo gone = DescribeSerialDevice("/dev/serial/by-path/pci-0000:00:14.0-usb-0:9:1.0-port0", fix.roots);
    EXPECT_TRUE(gone.name.empty());
    EXPECT_TRUE(ResolveDevicePath("/dev/ttyUSB7", fix.roots).empty());
    // The link stays but the adapter went: the name resolves to nothing.
    fix.Remove("dev/ttyUSB1");
    EXPECT_TRUE(ResolveDevicePath("/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0-port0", fix.roots).empty());
}
