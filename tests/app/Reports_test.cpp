#include "Reports.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "RecordingDisplay.h"

namespace {

using Texts = std::vector<std::string>;

DeviceInfo Device(linkType type, uint32_t serial, uint32_t model, aErr error) {
  DeviceInfo device;
  device.type = type;
  device.serialNumber = serial;
  device.moduleAddress = 2;
  device.routerAddress = 0x10;
  device.model = model;
  device.buildNumber = 99528558;
  device.major = 2;
  device.minor = 1;
  device.patch = 12;
  device.error = error;
  return device;
}

TEST(DeviceList, UsbListShowsErrorLinesForFailedDevices) {
  RecordingDisplay display;
  _display_device_list(display,
                       {Device(USB, 0x40F5849A, 4, aErrNone), Device(USB, 0x1234, 13, aErr(25))},
                       USB);
  EXPECT_EQ(display.Texts(UpdaterDisplayInterface::INFO),
            (Texts{"Discovered Devices: (USB)",
                   "    Device    Module   Router  Model          Firmware Version (Build)",
                   "    40F5849A  02       10      Larkel         2.1.12 (99528558)",
                   "    00001234  [Error (25): Is someone else connected to this device?]"}));
  EXPECT_TRUE(display.Texts(UpdaterDisplayInterface::ERROR).empty());
}

TEST(DeviceList, TcpDeviceShowsItsAddressEvenWithAnError) {
  RecordingDisplay display;
  DeviceInfo device = Device(TCPIP, 0xD272031D, 6, aErr(25));
  device.ipAddress = inet_addr("10.77.0.2");
  _display_device_list(display, {device}, TCPIP);
  EXPECT_EQ(display.Texts(UpdaterDisplayInterface::INFO),
            (Texts{"Discovered Devices: (TCPIP)",
                   "    Device    Module   Router  Model          Firmware Version (Build)   "
                   "[IP address]",
                   "    D272031D  02       10      Unknown        2.1.12 (99528558) [10.77.0.2]"}));
}

TEST(DeviceList, EmptyListAndUnknownTransport) {
  RecordingDisplay display;
  _display_device_list(display, {}, 7);
  EXPECT_EQ(display.Texts(UpdaterDisplayInterface::INFO),
            (Texts{"Discovered Devices: (Unknown)", "    No devices found."}));
}

TEST(BuildList, OrderedByVersionText) {
  RecordingDisplay display;
  _display_builds(display, {{"100", "2.1.0"}, {"99", "2.0.9"}, {"1234567890123456789", "10.0.0"}},
                  0x40F5849A);
  EXPECT_EQ(display.Texts(UpdaterDisplayInterface::INFO),
            (Texts{"Build List for device [40F5849A]:\n",
                   "Build          \tVersion        ",
                   // Byte-wise, "10.0.0" sorts first; both columns are cut to 15.
                   "123456789012345\t10.0.0         ",
                   "99             \t2.0.9          ",
                   "100            \t2.1.0          "}));
  RecordingDisplay empty;
  _display_builds(empty, {}, 0xAB);
  EXPECT_EQ(empty.Texts(UpdaterDisplayInterface::INFO),
            (Texts{"No builds found for device [000000AB]"}));
}

TEST(Banner, VersionReleaseCopyrightAndFingerprint) {
  RecordingDisplay display;
  _display_app_version(display);
  _display_zp_version(display);
  _display_copyright(display);
  Fingerprint fingerprint;
  fingerprint.word[0] = 0x1;
  fingerprint.word[1] = 0xDEADBEEF;
  fingerprint.word[2] = 0xAB;
  fingerprint.word[3] = 0xFFFFFFFF;
  _display_fingerprint(display, fingerprint);
  EXPECT_EQ(display.Texts(UpdaterDisplayInterface::INFO),
            (Texts{"Updater (Version: 1.1 Jan 21 2023)", "[Zepric Release: 2.9.26]",
                   "(Copyright (c) Halvik Inc.)", "[ 00000001 DEADBEEF 000000AB FFFFFFFF ]"}));
}

}  // namespace
