#pragma once

// The module's own kernel driver, as far as the host sees it: a device node
// "/dev/zepric.SERIAL" under the emulation whose write takes bytes and whose read hands out
// what the module sent, answering EFAULT when nothing is waiting.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

class EmulatedKernelNode {
 public:
  EmulatedKernelNode(UMockdevTestbed* testbed, const std::string& serialText);
  ~EmulatedKernelNode();
  EmulatedKernelNode(const EmulatedKernelNode&) = delete;
  EmulatedKernelNode& operator=(const EmulatedKernelNode&) = delete;

  void sendToHost(const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> bytesFromHost() const;
  const std::string& path() const { return path_; }

 private:
  static int onRead(UMockdevIoctlBase*, void* client, void* self);
  static int onWrite(UMockdevIoctlBase*, void* client, void* self);
  void answerRead(UMockdevIoctlClient* client);
  void answerWrite(UMockdevIoctlClient* client);

  UMockdevTestbed* testbed_;
  std::string path_;
  UMockdevIoctlBase* handler_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<uint8_t> toHost_;
  std::vector<uint8_t> fromHost_;
};
