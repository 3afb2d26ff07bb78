#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "aDiscovery.h"
#include "aError.h"
#include "aLink.h"
#include "uei.h"

namespace Halvik {
namespace Zepric {

// One connection to a module (or to a router and the modules behind it), carried by one use
// of a link of the link engine. Every operation answers an aErr and none throws.
//
// Sends and receives first check that the link is connected (aErrConnection) and that the
// module address is even and non-zero (aErrPacket). Replies are awaited up to 1000 ms.
class Link {
 public:
  explicit Link(const char* name);
  Link(const linkSpec& spec, const char* name);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  aErr connect();
  // With a serial number, the module that has it; without, the first module of the model
  // (any model for 0).
  aErr discoverAndConnect(linkType type, uint32_t serialNumber, uint8_t model);
  aErr disconnect();
  aErr reset();
  bool isConnected() const;
  int32_t getStatus() const;
  aErr getLinkSpecifier(linkSpec* spec) const;
  aErr setLinkSpecifier(const linkSpec& spec);
  const char* getName() const;
  aLinkID getLinkID() const;

  // Asks which module answers at the far end.
  aErr getModuleAddress(uint8_t* address);

  aErr sendUEI(const uei& record);
  aErr sendUEI(const uei& record, uint8_t subindex);
  // Matching uses the record's module, command, option and specifier; the reply's value,
  // or the error bit and code of an error reply, is written into the record.
  aErr receiveUEI(uint8_t module, uint8_t command, uint8_t option, uint8_t specifier,
                  uei* record);
  aErr receiveUEI(uint8_t module, uint8_t command, uint8_t option, uint8_t specifier,
                  uei* record, aPacketFilter filter);
  aErr dropMatchingUEIPackets(uint8_t module, uint8_t command, uint8_t option,
                              uint8_t specifier);

  // A command byte and up to 27 data bytes.
  aErr sendPacket(uint8_t module, uint8_t command, uint8_t length, const uint8_t* data);
  // Waits for the first packet whose payload begins with the *length bytes of match.
  // On success *length is the reply's payload length and payload (room for 28 bytes)
  // holds the whole payload, command byte included.
  aErr receivePacket(uint8_t module, const uint8_t* match, uint8_t* length, uint8_t* payload);

  aErr loadStoreSlot(uint8_t module, uint8_t store, uint8_t slot, const uint8_t* data,
                     size_t length);
  aErr unloadStoreSlot(uint8_t module, uint8_t store, uint8_t slot, uint8_t* buffer,
                       size_t capacity, size_t* length);
  aErr storeSlotSize(uint8_t module, uint8_t store, uint8_t slot, size_t* size);
  aErr storeSlotCapacity(uint8_t module, uint8_t store, uint8_t slot, size_t* capacity);

  aErr getFactoryData(uint8_t module, uint8_t control, uint8_t* buffer, size_t capacity,
                      size_t* length);
  aErr setFactoryData(uint8_t module, uint8_t control, const uint8_t* data, size_t length);

  aErr enablePacketLog(const char* path);
  aErr disablePacketLog();

  struct impl;

 private:
  aErr checkTarget(uint8_t module) const;
  aErr awaitPacket(aPacketFilter filter, const void* reference, uint32_t msTimeout,
                   aPacket** packet);
  aErr openStoreSlot(uint8_t module, uint8_t subCommand, uint8_t store, uint8_t slot,
                     uint8_t* handle);
  aErr closeStoreSlot(uint8_t module, uint8_t handle);
  aErr storeSlotValue(uint8_t module, uint8_t subCommand, uint8_t store, uint8_t slot,
                      size_t* value);
  aErr endFactoryTransfer(uint8_t module, uint16_t count);

  std::unique_ptr<impl> m_impl;
};

}  // namespace Zepric
}  // namespace Halvik
