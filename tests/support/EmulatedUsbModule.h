#pragma once

// One module on an emulated USB bus: sysfs attributes and descriptors that libusb reads, and
// an answering usbfs behind the device node (string descriptors, interface claims, bulk
// transfers, stalls, time-outs, unplug and re-plug). What the host writes to the OUT endpoint
// goes to a peer; what the peer sends comes back through the IN endpoint. Works for the test
// process and for every child it starts, since they all inherit the emulation.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

struct UsbEndpointLayout {
  uint8_t address;     // bit 7 set for IN
  uint8_t attributes;  // transfer type: 2 bulk, 3 interrupt, 0 control, 1 isochronous
};

struct UsbInterfaceLayout {
  uint8_t number = 0;
  uint8_t interfaceClass = 0xFF;
  uint8_t subclass = 0x88;
  uint8_t protocol = 0x10;
  std::vector<UsbEndpointLayout> endpoints = {{0x81, 2}, {0x02, 2}};
};

struct UsbDeviceLayout {
  uint16_t vendorId;
  uint16_t productId = 0x0113;
  std::string serial = "0001ABCD";
  std::vector<UsbInterfaceLayout> interfaces = {UsbInterfaceLayout{}};

  UsbDeviceLayout();
  // A module of that serial text and product id with the usual vendor interface.
  static UsbDeviceLayout module(const std::string& serial, uint16_t productId = 0x0113);
  // The bytes of the device descriptor followed by configuration descriptor 0.
  std::vector<uint8_t> descriptors() const;
};

// Opens the testbed's files to every user, so that a child running under another uid (the
// updater process runner) can use the emulated devices.
void shareTestbedWithAllUsers(UMockdevTestbed* testbed);

// umockdev hands calls to its worker thread, and waits for it on detach, through code the
// thread sanitizer can't see. Called by the test thread before attaching and after detaching
// a handler, and by every handler on entry and exit, it makes those hand-overs visible.
void handOverEmulationState();

class EmulatedUsbModule {
 public:
  using HostBytes = std::function<void(const uint8_t* data, size_t length)>;
  using ClaimObserver = std::function<void(bool claimed)>;

  EmulatedUsbModule(UMockdevTestbed* testbed, int busNumber, int portNumber,
                    std::function<int()> nextDeviceNumber, UsbDeviceLayout layout);
  ~EmulatedUsbModule();
  EmulatedUsbModule(const EmulatedUsbModule&) = delete;
  EmulatedUsbModule& operator=(const EmulatedUsbModule&) = delete;

  // Receives every OUT transfer's bytes, on umockdev's worker thread. May call sendToHost.
  // Replacing the peer (with null, before what it uses goes away) waits for a call under way.
  void setPeer(HostBytes peer);
  // Told when a host claims the module's interface and when it lets it go (release, close,
  // exit or unplug): the host's connection. Called without the module's lock held.
  void setClaimObserver(ClaimObserver observer);
  // Queues bytes for the host's IN transfers; any thread. Bytes nobody took are dropped when
  // the interface is let go.
  void sendToHost(const uint8_t* data, size_t length);
  void sendToHost(const std::vector<uint8_t>& data) { sendToHost(data.data(), data.size()); }

  // Transfers in flight end with "device gone"; the device leaves the bus.
  void unplug();
  // Back on the bus under a new device number, with the layout's serial text or a new one.
  void plug();
  void plug(const std::string& serial);
  bool plugged() const;

  // The next claim of any interface fails with this errno (0: claims behave normally, and an
  // interface claimed by one client is busy for all others).
  void failClaimsWith(int error);
  // The endpoint answers every transfer with a stall until the host clears the halt.
  void stall(uint8_t endpoint);
  // Clearing a halt fails with EIO from now on.
  void refuseClearHalt(bool refuse);
  // The next count OUT transfers are never taken, so the host's time-out ends them.
  void ignoreOutTransfers(int count);

  // Sizes of the OUT transfers the module accepted, in order, and their bytes.
  std::vector<size_t> outTransferSizes() const;
  std::vector<uint8_t> bytesFromHost() const;
  bool interfaceClaimed() const;

  struct Plug;
  struct Urb;

 private:
  friend struct Plug;
  void onHostData(const uint8_t* data, size_t length);
  void tellClaimChange(int change);

  UMockdevTestbed* testbed_;
  int bus_;
  int port_;
  std::function<int()> nextDeviceNumber_;
  UsbDeviceLayout layout_;
  mutable std::mutex mutex_;
  // Held while a callback runs, so that replacing a callback waits for a call in progress.
  // Taken before mutex_ (callbacks may send to the host), never while holding it.
  std::mutex callbackMutex_;
  HostBytes peer_;
  ClaimObserver claimObserver_;
  std::vector<uint8_t> toHost_;
  std::vector<size_t> outSizes_;
  std::vector<uint8_t> fromHost_;
  int claimError_ = 0;
  bool refuseClearHalt_ = false;
  int ignoreOut_ = 0;
  std::vector<std::unique_ptr<Plug>> plugs_;  // the last one is current; older ones are gone
};
