#include "EmulatedUsbModule.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <stdexcept>
#include <utility>

namespace {

constexpr uint8_t kStringDescriptor = 3;
constexpr uint8_t kGetDescriptor = 6;
constexpr uint16_t kLangEnglishUs = 0x0409;
constexpr uint8_t kManufacturerIndex = 1;
constexpr uint8_t kProductIndex = 2;
constexpr uint8_t kSerialIndex = 3;
constexpr size_t kSetupSize = 8;

void putLe16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

std::vector<uint8_t> configurationDescriptor(const std::vector<UsbInterfaceLayout>& interfaces) {
  std::vector<uint8_t> body;
  uint8_t interfaceCount = 0;
  uint8_t lastNumber = 0xFF;
  for (const UsbInterfaceLayout& interface : interfaces) {
    if (interface.number != lastNumber) interfaceCount++;
    lastNumber = interface.number;
    uint8_t alternate = 0;
    for (const UsbInterfaceLayout& other : interfaces) {
      if (&other == &interface) break;
      if (other.number == interface.number) alternate++;
    }
    body.insert(body.end(), {9, 4, interface.number, alternate,
                             static_cast<uint8_t>(interface.endpoints.size()),
                             interface.interfaceClass, interface.subclass, interface.protocol, 0});
    for (const UsbEndpointLayout& endpoint : interface.endpoints) {
      body.insert(body.end(), {7, 5, endpoint.address, endpoint.attributes});
      putLe16(body, 64);
      body.push_back(0);
    }
  }
  std::vector<uint8_t> config = {9, 2};
  putLe16(config, static_cast<uint16_t>(9 + body.size()));
  config.insert(config.end(), {interfaceCount, 1, 0, 0x80, 50});
  config.insert(config.end(), body.begin(), body.end());
  return config;
}

std::vector<uint8_t> stringDescriptor(const std::string& text) {
  std::vector<uint8_t> out = {static_cast<uint8_t>(2 + 2 * text.size()), kStringDescriptor};
  for (char c : text) putLe16(out, static_cast<uint8_t>(c));
  return out;
}

int32_t& urbField(UMockdevIoctlData* urb, size_t offset) {
  return *reinterpret_cast<int32_t*>(urb->data + offset);
}

}  // namespace

static void shareTree(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || S_ISLNK(info.st_mode)) return;
  chmod(path.c_str(), S_ISDIR(info.st_mode) ? 0777 : (info.st_mode | 0666) & 07777);
  if (!S_ISDIR(info.st_mode)) return;
  GDir* directory = g_dir_open(path.c_str(), 0, nullptr);
  if (!directory) return;
  while (const gchar* name = g_dir_read_name(directory)) shareTree(path + "/" + name);
  g_dir_close(directory);
}

static std::atomic<unsigned> handOvers{0};

void handOverEmulationState() { handOvers.fetch_add(1, std::memory_order_acq_rel); }

void shareTestbedWithAllUsers(UMockdevTestbed* testbed) {
  gchar* root = umockdev_testbed_get_root_dir(testbed);
  shareTree(root);
  g_free(root);
}

UsbDeviceLayout::UsbDeviceLayout() : vendorId(ZEPRIC_USB_VENDOR_ID) {}

UsbDeviceLayout UsbDeviceLayout::module(const std::string& serial, uint16_t productId) {
  UsbDeviceLayout layout;
  layout.serial = serial;
  layout.productId = productId;
  return layout;
}

std::vector<uint8_t> UsbDeviceLayout::descriptors() const {
  std::vector<uint8_t> out = {18, 1};
  putLe16(out, 0x0200);
  out.insert(out.end(), {0, 0, 0, 64});
  putLe16(out, vendorId);
  putLe16(out, productId);
  putLe16(out, 0x0100);
  out.insert(out.end(), {kManufacturerIndex, kProductIndex, kSerialIndex, 1});
  std::vector<uint8_t> config = configurationDescriptor(interfaces);
  out.insert(out.end(), config.begin(), config.end());
  return out;
}

// A submitted URB, kept (with its resolved buffer) until the client reaps it.
struct EmulatedUsbModule::Urb {
  UMockdevIoctlData* urb = nullptr;
  UMockdevIoctlData* buffer = nullptr;
  uint8_t endpoint = 0;

  void complete(int status, int actualLength) {
    urbField(urb, offsetof(usbdevfs_urb, status)) = status;
    urbField(urb, offsetof(usbdevfs_urb, actual_length)) = actualLength;
  }
  void release() {
    if (buffer) g_object_unref(buffer);
    if (urb) g_object_unref(urb);
    buffer = urb = nullptr;
  }
};

// One stay of the module on the bus: its device number, node and usbfs clients.
struct EmulatedUsbModule::Plug {
  struct Client {
    std::deque<Urb> pendingIn;
    std::deque<Urb> heldOut;  // never taken: the host's time-out discards them
    std::deque<Urb> reapable;
  };

  EmulatedUsbModule& module;
  std::string serial;
  std::string syspath;
  std::string devnode;
  UMockdevIoctlBase* handler = nullptr;
  int fifo = -1;
  bool present = true;
  bool pollRaised = false;
  std::map<UMockdevIoctlClient*, Client> clients;
  std::map<uint32_t, UMockdevIoctlClient*> claims;
  std::vector<uint8_t> halted;
  int claimChange = 0;  // +1 claimed, -1 let go: told to the observer after the lock is dropped

  void noteClaims(bool before) {
    bool now = !claims.empty();
    if (now != before) claimChange = now ? 1 : -1;
    if (!now) module.toHost_.clear();
  }

  Plug(EmulatedUsbModule& owner, const std::string& serialText) : module(owner), serial(serialText) {}

  ~Plug() {
    if (handler) {
      g_signal_handlers_disconnect_by_data(handler, this);
      umockdev_testbed_detach_ioctl(module.testbed_, devnode.c_str(), nullptr);
      handOverEmulationState();
      g_object_unref(handler);
    }
    for (auto& entry : clients) dropClient(entry.second);
    if (fifo >= 0) close(fifo);
  }

  static void dropClient(Client& client) {
    for (auto* queue : {&client.pendingIn, &client.heldOut, &client.reapable})
      for (Urb& urb : *queue) urb.release();
  }

  // libusb polls the node for POLLOUT to learn that URBs wait to be reaped. An empty pipe
  // is writable; one byte in a one-page pipe makes it unwritable.
  void updatePoll() {
    bool anyReapable = false;
    for (auto& entry : clients) anyReapable = anyReapable || !entry.second.reapable.empty();
    if (anyReapable == pollRaised) return;
    uint8_t byte = 0;
    if (anyReapable) {
      while (read(fifo, &byte, 1) == 1) {
      }
    } else if (write(fifo, &byte, 1) != 1) {
      return;
    }
    pollRaised = anyReapable;
  }

  bool isHalted(uint8_t endpoint) const {
    return std::find(halted.begin(), halted.end(), endpoint) != halted.end();
  }

  void serveIn() {
    for (auto& entry : clients) {
      Client& client = entry.second;
      while (!client.pendingIn.empty() && !module.toHost_.empty()) {
        Urb urb = client.pendingIn.front();
        client.pendingIn.pop_front();
        size_t n = std::min(module.toHost_.size(), static_cast<size_t>(urb.buffer->data_len));
        std::memcpy(urb.buffer->data, module.toHost_.data(), n);
        module.toHost_.erase(module.toHost_.begin(), module.toHost_.begin() + static_cast<long>(n));
        urb.complete(0, static_cast<int>(n));
        client.reapable.push_back(urb);
      }
    }
    updatePoll();
  }

  void disconnect() {
    present = false;
    for (auto& entry : clients) {
      Client& client = entry.second;
      for (auto* queue : {&client.pendingIn, &client.heldOut}) {
        for (Urb& urb : *queue) {
          urb.complete(-ESHUTDOWN, 0);
          client.reapable.push_back(urb);
        }
        queue->clear();
      }
    }
    bool before = !claims.empty();
    claims.clear();
    noteClaims(before);
    updatePoll();
  }

  static void complete(UMockdevIoctlClient* client, long result, int error) {
    umockdev_ioctl_client_complete(client, result, error);
  }

  // The argument points at a value of `size` bytes; answers a new reference to it.
  static UMockdevIoctlData* pointee(UMockdevIoctlClient* client, size_t size) {
    return umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, nullptr);
  }

  static uint32_t argumentU32(UMockdevIoctlClient* client) {
    UMockdevIoctlData* data = pointee(client, sizeof(uint32_t));
    if (!data) return UINT32_MAX;
    uint32_t value;
    std::memcpy(&value, data->data, sizeof(value));
    g_object_unref(data);
    return value;
  }

  void answerControl(Urb& urb) {
    const uint8_t* setup = urb.buffer->data;
    int room = urb.buffer->data_len - static_cast<int>(kSetupSize);
    uint16_t value = static_cast<uint16_t>(setup[2] | setup[3] << 8);
    uint16_t length = static_cast<uint16_t>(setup[6] | setup[7] << 8);
    std::vector<uint8_t> answer;
    bool known = room >= 0 && setup[0] == 0x80 && setup[1] == kGetDescriptor &&
                 (value >> 8) == kStringDescriptor;
    if (known) {
      switch (value & 0xFF) {
        case 0: answer = {4, kStringDescriptor}; putLe16(answer, kLangEnglishUs); break;
        case kManufacturerIndex: answer = stringDescriptor("Emulated maker"); break;
        case kProductIndex: answer = stringDescriptor("Emulated module"); break;
        case kSerialIndex: answer = stringDescriptor(serial); break;
        default: known = false;
      }
    }
    if (!known) {
      urb.complete(-EPIPE, 0);
      return;
    }
    size_t n = std::min({answer.size(), static_cast<size_t>(length), static_cast<size_t>(room)});
    std::memcpy(urb.buffer->data + kSetupSize, answer.data(), n);
    urb.complete(0, static_cast<int>(n));
  }

  // Answers a submit; returns the OUT bytes the peer must see (after the lock is dropped,
  // and before the call completes).
  std::vector<uint8_t> submit(UMockdevIoctlClient* client) {
    Urb urb;
    urb.urb = pointee(client, sizeof(usbdevfs_urb));
    if (!urb.urb) {
      complete(client, -1, EFAULT);
      return {};
    }
    auto* header = reinterpret_cast<usbdevfs_urb*>(urb.urb->data);
    urb.endpoint = header->endpoint;
    urb.buffer = umockdev_ioctl_data_resolve(urb.urb, offsetof(usbdevfs_urb, buffer),
                                             static_cast<size_t>(std::max(header->buffer_length, 0)),
                                             nullptr);
    if (!urb.buffer) {
      urb.release();
      complete(client, -1, EFAULT);
      return {};
    }
    if (!present) {
      urb.release();
      complete(client, -1, ENODEV);
      return {};
    }
    Client& state = clients[client];
    std::vector<uint8_t> forPeer;
    if (header->type == USBDEVFS_URB_TYPE_CONTROL) {
      answerControl(urb);
      state.reapable.push_back(urb);
    } else if (isHalted(urb.endpoint)) {
      urb.complete(-EPIPE, 0);
      state.reapable.push_back(urb);
    } else if (urb.endpoint & 0x80) {
      state.pendingIn.push_back(urb);
    } else if (module.ignoreOut_ > 0) {
      module.ignoreOut_--;
      state.heldOut.push_back(urb);
    } else {
      forPeer.assign(urb.buffer->data, urb.buffer->data + urb.buffer->data_len);
      module.outSizes_.push_back(forPeer.size());
      module.fromHost_.insert(module.fromHost_.end(), forPeer.begin(), forPeer.end());
      urb.complete(0, urb.buffer->data_len);
      state.reapable.push_back(urb);
    }
    serveIn();
    // With bytes for the peer the call is completed only after the peer has had them, so no
    // host call returns while the module is still taking its data.
    if (forPeer.empty()) complete(client, 0, 0);
    return forPeer;
  }

  void reap(UMockdevIoctlClient* client) {
    Client& state = clients[client];
    if (state.reapable.empty()) {
      complete(client, -1, present ? EAGAIN : ENODEV);
      return;
    }
    Urb urb = state.reapable.front();
    state.reapable.pop_front();
    UMockdevIoctlData* slot = pointee(client, sizeof(void*));
    if (!slot) {
      state.reapable.push_front(urb);
      complete(client, -1, EFAULT);
      return;
    }
    umockdev_ioctl_data_set_ptr(slot, 0, urb.urb);
    complete(client, 0, 0);
    g_object_unref(slot);
    urb.release();
    updatePoll();
  }

  void discard(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    unsigned long address = 0;
    std::memcpy(&address, arg->data, std::min(sizeof(address), static_cast<size_t>(arg->data_len)));
    Client& state = clients[client];
    for (auto* queue : {&state.pendingIn, &state.heldOut}) {
      for (auto it = queue->begin(); it != queue->end(); ++it) {
        if (it->urb->client_addr != address) continue;
        Urb urb = *it;
        queue->erase(it);
        urb.complete(-ENOENT, 0);
        state.reapable.push_back(urb);
        complete(client, 0, 0);
        updatePoll();
        return;
      }
    }
    complete(client, -1, EINVAL);
  }

  void claim(UMockdevIoctlClient* client) {
    uint32_t number = argumentU32(client);
    auto holder = claims.find(number);
    if (!present) {
      complete(client, -1, ENODEV);
    } else if (module.claimError_ != 0) {
      complete(client, -1, module.claimError_);
    } else if (holder != claims.end() && holder->second != client) {
      complete(client, -1, EBUSY);
    } else {
      bool before = !claims.empty();
      claims[number] = client;
      noteClaims(before);
      complete(client, 0, 0);
    }
  }

  void release(UMockdevIoctlClient* client) {
    auto holder = claims.find(argumentU32(client));
    if (!present) {
      complete(client, -1, ENODEV);
    } else if (holder == claims.end() || holder->second != client) {
      complete(client, -1, EINVAL);
    } else {
      claims.erase(holder);
      noteClaims(true);
      complete(client, 0, 0);
    }
  }

  void clearHalt(UMockdevIoctlClient* client) {
    uint8_t endpoint = static_cast<uint8_t>(argumentU32(client));
    if (!present) {
      complete(client, -1, ENODEV);
    } else if (module.refuseClearHalt_) {
      complete(client, -1, EIO);
    } else {
      halted.erase(std::remove(halted.begin(), halted.end(), endpoint), halted.end());
      complete(client, 0, 0);
    }
  }

  void capabilities(UMockdevIoctlClient* client) {
    UMockdevIoctlData* data = pointee(client, sizeof(uint32_t));
    if (!data) {
      complete(client, -1, EFAULT);
      return;
    }
    uint32_t caps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                    USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT |
                    USBDEVFS_CAP_BULK_SCATTER_GATHER;
    std::memcpy(data->data, &caps, sizeof(caps));
    complete(client, 0, 0);
    g_object_unref(data);
  }

  // Every call completes at once: the preload serialises a node's calls, so a deferred
  // answer would stall the other thread's transfers.
  std::vector<uint8_t> handle(UMockdevIoctlClient* client) {
    unsigned long request = umockdev_ioctl_client_get_request(client);
    switch (request) {
      case USBDEVFS_SUBMITURB: return submit(client);
      case USBDEVFS_REAPURBNDELAY: reap(client); break;
      case USBDEVFS_DISCARDURB: discard(client); break;
      case USBDEVFS_CLAIMINTERFACE: claim(client); break;
      case USBDEVFS_RELEASEINTERFACE: release(client); break;
      case USBDEVFS_CLEAR_HALT: clearHalt(client); break;
      case USBDEVFS_GET_CAPABILITIES: capabilities(client); break;
      case USBDEVFS_GETDRIVER:
      case USBDEVFS_IOCTL: complete(client, -1, ENODATA); break;
      default: complete(client, -1, present ? ENOTTY : ENODEV); break;
    }
    return {};
  }

  void vanish(UMockdevIoctlClient* client) {
    auto found = clients.find(client);
    if (found != clients.end()) {
      dropClient(found->second);
      clients.erase(found);
    }
    bool before = !claims.empty();
    for (auto it = claims.begin(); it != claims.end();) {
      it = it->second == client ? claims.erase(it) : std::next(it);
    }
    noteClaims(before);
    updatePoll();
  }

  static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    handOverEmulationState();
    Plug& plug = *static_cast<Plug*>(self);
    std::vector<uint8_t> forPeer;
    int change;
    {
      std::lock_guard<std::mutex> lock(plug.module.mutex_);
      forPeer = plug.handle(client);
      change = std::exchange(plug.claimChange, 0);
    }
    plug.module.tellClaimChange(change);
    if (!forPeer.empty()) {
      plug.module.onHostData(forPeer.data(), forPeer.size());
      complete(client, 0, 0);
    }
    handOverEmulationState();
    return TRUE;
  }

  static void onVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    handOverEmulationState();
    Plug& plug = *static_cast<Plug*>(self);
    int change;
    {
      std::lock_guard<std::mutex> lock(plug.module.mutex_);
      plug.vanish(client);
      change = std::exchange(plug.claimChange, 0);
    }
    plug.module.tellClaimChange(change);
    handOverEmulationState();
  }
};

EmulatedUsbModule::EmulatedUsbModule(UMockdevTestbed* testbed, int busNumber, int portNumber,
                                     std::function<int()> nextDeviceNumber, UsbDeviceLayout layout)
    : testbed_(testbed),
      bus_(busNumber),
      port_(portNumber),
      nextDeviceNumber_(std::move(nextDeviceNumber)),
      layout_(std::move(layout)) {
  plug();
}

EmulatedUsbModule::~EmulatedUsbModule() {
  if (plugged()) unplug();
  // Detaching waits for umockdev's worker, which may be waiting for the lock.
  std::vector<std::unique_ptr<Plug>> plugs;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    plugs.swap(plugs_);
  }
}

void EmulatedUsbModule::setPeer(HostBytes peer) {
  std::lock_guard<std::mutex> lock(callbackMutex_);
  peer_ = std::move(peer);
}

void EmulatedUsbModule::setClaimObserver(ClaimObserver observer) {
  std::lock_guard<std::mutex> lock(callbackMutex_);
  claimObserver_ = std::move(observer);
}

void EmulatedUsbModule::tellClaimChange(int change) {
  if (change == 0) return;
  std::lock_guard<std::mutex> lock(callbackMutex_);
  if (claimObserver_) claimObserver_(change > 0);
}

void EmulatedUsbModule::onHostData(const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(callbackMutex_);
  if (peer_) peer_(data, length);
}

void EmulatedUsbModule::sendToHost(const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (plugs_.empty() || !plugs_.back()->present) return;
  toHost_.insert(toHost_.end(), data, data + length);
  plugs_.back()->serveIn();
}

void EmulatedUsbModule::unplug() {
  std::string syspath;
  int change;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (plugs_.empty() || !plugs_.back()->present) return;
    plugs_.back()->disconnect();
    toHost_.clear();
    syspath = plugs_.back()->syspath;
    change = std::exchange(plugs_.back()->claimChange, 0);
  }
  tellClaimChange(change);
  umockdev_testbed_uevent(testbed_, syspath.c_str(), "remove");
  umockdev_testbed_remove_device(testbed_, syspath.c_str());
}

void EmulatedUsbModule::plug() { plug(layout_.serial); }

void EmulatedUsbModule::plug(const std::string& serial) {
  if (plugged()) throw std::logic_error("module is already on the bus");
  int device = nextDeviceNumber_();
  char name[32], devnode[64], dev[32], busText[16], deviceText[16];
  std::snprintf(name, sizeof(name), "%d-%d", bus_, port_);
  std::snprintf(devnode, sizeof(devnode), "/dev/bus/usb/%03d/%03d", bus_, device);
  std::snprintf(dev, sizeof(dev), "189:%d\n", (bus_ - 1) * 128 + device - 1);
  std::snprintf(busText, sizeof(busText), "%d\n", bus_);
  std::snprintf(deviceText, sizeof(deviceText), "%d\n", device);

  auto plug = std::make_unique<Plug>(*this, serial);
  plug->devnode = devnode;
  gchar* syspath = umockdev_testbed_add_device(
      testbed_, "usb", name, nullptr, "dev", dev, "busnum", busText, "devnum", deviceText, "speed",
      "480\n", "bConfigurationValue", "1\n", nullptr, "DEVNAME", devnode, "DEVTYPE", "usb_device",
      nullptr);
  if (!syspath) throw std::runtime_error("umockdev refused the USB device");
  plug->syspath = syspath;
  g_free(syspath);
  std::vector<uint8_t> descriptors = layout_.descriptors();
  umockdev_testbed_set_attribute_binary(testbed_, plug->syspath.c_str(), "descriptors",
                                        descriptors.data(), static_cast<gssize>(descriptors.size()));

  // The node itself is a FIFO whose fill level drives libusb's poll (see updatePoll).
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  std::string node = std::string(root) + devnode;
  g_free(root);
  std::string directory = node.substr(0, node.rfind('/'));
  g_mkdir_with_parents(directory.c_str(), 0755);
  unlink(node.c_str());
  if (mkfifo(node.c_str(), 0666) != 0) throw std::runtime_error("cannot make the device FIFO");
  plug->fifo = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (plug->fifo < 0) throw std::runtime_error("cannot open the device FIFO");
  fcntl(plug->fifo, F_SETPIPE_SZ, 4096);
  uint8_t byte = 0;
  if (write(plug->fifo, &byte, 1) != 1) throw std::runtime_error("cannot prime the device FIFO");

  plug->handler = umockdev_ioctl_base_new();
  g_signal_connect(plug->handler, "handle-ioctl", G_CALLBACK(&Plug::onIoctl), plug.get());
  g_signal_connect(plug->handler, "client-vanished", G_CALLBACK(&Plug::onVanished), plug.get());
  GError* error = nullptr;
  handOverEmulationState();
  if (!umockdev_testbed_attach_ioctl(testbed_, devnode, plug->handler, &error)) {
    std::string message = error ? error->message : "unknown";
    if (error) g_error_free(error);
    throw std::runtime_error("cannot attach the usbfs emulation: " + message);
  }
  shareTestbedWithAllUsers(testbed_);
  std::string path = plug->syspath;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    toHost_.clear();
    plugs_.push_back(std::move(plug));
  }
  // The first "add" went out before the descriptors were there.
  umockdev_testbed_uevent(testbed_, path.c_str(), "add");
}

bool EmulatedUsbModule::plugged() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !plugs_.empty() && plugs_.back()->present;
}

void EmulatedUsbModule::failClaimsWith(int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  claimError_ = error;
}

void EmulatedUsbModule::stall(uint8_t endpoint) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (plugs_.empty()) return;
  Plug& plug = *plugs_.back();
  if (!plug.isHalted(endpoint)) plug.halted.push_back(endpoint);
  // Transfers already waiting on an IN endpoint end with the stall as well.
  for (auto& entry : plug.clients) {
    auto& pending = entry.second.pendingIn;
    for (auto it = pending.begin(); it != pending.end();) {
      if (it->endpoint != endpoint) {
        ++it;
        continue;
      }
      it->complete(-EPIPE, 0);
      entry.second.reapable.push_back(*it);
      it = pending.erase(it);
    }
  }
  plug.updatePoll();
}

void EmulatedUsbModule::refuseClearHalt(bool refuse) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuseClearHalt_ = refuse;
}

void EmulatedUsbModule::ignoreOutTransfers(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  ignoreOut_ = count;
}

std::vector<size_t> EmulatedUsbModule::outTransferSizes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return outSizes_;
}

std::vector<uint8_t> EmulatedUsbModule::bytesFromHost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fromHost_;
}

bool EmulatedUsbModule::interfaceClaimed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !plugs_.empty() && !plugs_.back()->claims.empty();
}
