#include "EmulatedKernelNode.h"

#include "EmulatedUsbModule.h"

#include <errno.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

EmulatedKernelNode::EmulatedKernelNode(UMockdevTestbed* testbed, const std::string& serialText)
    : testbed_(testbed), path_("/dev/zepric." + serialText) {
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  std::string node = std::string(root) + path_;
  g_free(root);
  g_mkdir_with_parents((node.substr(0, node.rfind('/'))).c_str(), 0755);
  unlink(node.c_str());
  if (mkfifo(node.c_str(), 0666) != 0) throw std::runtime_error("cannot make the driver node");
  handler_ = umockdev_ioctl_base_new();
  g_signal_connect(handler_, "handle-read", G_CALLBACK(&EmulatedKernelNode::onRead), this);
  g_signal_connect(handler_, "handle-write", G_CALLBACK(&EmulatedKernelNode::onWrite), this);
  handOverEmulationState();
  if (!umockdev_testbed_attach_ioctl(testbed_, path_.c_str(), handler_, nullptr))
    throw std::runtime_error("cannot attach the driver node emulation");
  shareTestbedWithAllUsers(testbed_);
}

EmulatedKernelNode::~EmulatedKernelNode() {
  g_signal_handlers_disconnect_by_data(handler_, this);
  umockdev_testbed_detach_ioctl(testbed_, path_.c_str(), nullptr);
  handOverEmulationState();
  g_object_unref(handler_);
}

void EmulatedKernelNode::sendToHost(const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  toHost_.insert(toHost_.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> EmulatedKernelNode::bytesFromHost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fromHost_;
}

int EmulatedKernelNode::onRead(UMockdevIoctlBase*, void* clientPointer, void* self) {
  handOverEmulationState();
  auto* client = static_cast<UMockdevIoctlClient*>(clientPointer);
  static_cast<EmulatedKernelNode*>(self)->answerRead(client);
  handOverEmulationState();
  return TRUE;
}

int EmulatedKernelNode::onWrite(UMockdevIoctlBase*, void* clientPointer, void* self) {
  handOverEmulationState();
  auto* client = static_cast<UMockdevIoctlClient*>(clientPointer);
  static_cast<EmulatedKernelNode*>(self)->answerWrite(client);
  handOverEmulationState();
  return TRUE;
}

void EmulatedKernelNode::answerRead(UMockdevIoctlClient* client) {
  UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
  std::lock_guard<std::mutex> lock(mutex_);
  if (toHost_.empty()) {
    umockdev_ioctl_client_complete(client, -1, EFAULT);
    return;
  }
  size_t n = std::min(toHost_.size(), static_cast<size_t>(buffer->data_len));
  std::memcpy(buffer->data, toHost_.data(), n);
  toHost_.erase(toHost_.begin(), toHost_.begin() + static_cast<long>(n));
  umockdev_ioctl_client_complete(client, static_cast<long>(n), 0);
}

void EmulatedKernelNode::answerWrite(UMockdevIoctlClient* client) {
  UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
  std::lock_guard<std::mutex> lock(mutex_);
  fromHost_.insert(fromHost_.end(), buffer->data, buffer->data + buffer->data_len);
  umockdev_ioctl_client_complete(client, buffer->data_len, 0);
}
