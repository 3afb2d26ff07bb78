#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ModuleCore.h"
#include "TcpServer.h"
#include "aDiscovery.h"

// A virtual module listening on its own loopback address, and the specifier that reaches it.
// Links are shared by address, so every test uses an address of its own.
class VirtualModuleTest : public ::testing::Test {
 protected:
  void start(const std::string& address, virtualmodule::DeviceModel device = {}) {
    core_ = std::make_unique<virtualmodule::ModuleCore>(device);
    server_ = std::make_unique<virtualmodule::TcpServer>(*core_, address, 0);
    spec_ = linkSpec{};
    spec_.type = TCPIP;
    spec_.serialNumber = device.serialNumber;
    spec_.model = device.model;
    spec_.ipAddress = inet_addr(address.c_str());
    spec_.port = server_->port();
  }
  void TearDown() override {
    server_.reset();
    core_.reset();
  }

  // The payloads the host sent to a module address, in order.
  std::vector<std::vector<uint8_t>> payloadsTo(uint8_t address) const {
    std::vector<std::vector<uint8_t>> payloads;
    for (const auto& packet : core_->packetsFromHost())
      if (packet.address == address) payloads.push_back(packet.payload);
    return payloads;
  }

  std::unique_ptr<virtualmodule::ModuleCore> core_;
  std::unique_ptr<virtualmodule::TcpServer> server_;
  linkSpec spec_{};
};
