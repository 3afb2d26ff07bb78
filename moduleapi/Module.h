#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Link.h"

namespace Halvik {
namespace Zepric {

// One addressed module on its module network. It owns the Link it talks over; modules
// reached through a router share the router's link underneath.
class Module {
 public:
  // Automatic networking on: after every connect the module asks which address answers.
  Module(uint8_t address, uint8_t model);
  Module(uint8_t address, bool automaticNetworking, uint8_t model);
  virtual ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  aErr connect(linkType type, uint32_t serialNumber);
  aErr discoverAndConnect(linkType type, uint32_t serialNumber);
  aErr connectFromSpec(const linkSpec& spec);
  // Talks over the router's link; keeps the address this module was made with.
  aErr connectThroughLinkModule(Module& router);
  aErr reconnect();
  aErr disconnect();
  bool isConnected() const;
  int32_t getStatus() const;

  uint8_t getModuleAddress() const { return m_address; }
  void setModuleAddress(uint8_t address) { m_address = address; }
  void setNetworkingMode(bool automatic) { m_automaticNetworking = automatic; }
  Link* getLink() const { return m_link.get(); }
  aErr getLinkSpecifier(linkSpec* spec) const;

  aErr enablePacketLog(const char* path);
  aErr disablePacketLog();

  // Echo test: the module must send the bytes back unchanged.
  aErr debug(const uint8_t* bytes, uint8_t length);

  // Module queries: which options an entity offers and how the entities are grouped.
  aErr hasUEI(uint8_t command, uint8_t option, uint8_t index, uint8_t access);
  aErr classQuantity(uint8_t command, uint8_t* count);
  aErr subClassQuantity(uint8_t command, uint8_t entityClass, uint8_t* count);
  aErr entityGroup(uint8_t command, uint8_t entityClass, uint8_t* group);

 private:
  void queryAddress();
  aErr query(const uint8_t* request, uint8_t length, uint8_t echoed, uint8_t replyLength,
             uint8_t* answer);

  std::unique_ptr<Link> m_link;
  uint8_t m_address;
  bool m_automaticNetworking;
  uint8_t m_model;
};

}  // namespace Zepric
}  // namespace Halvik
