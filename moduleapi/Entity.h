#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "Module.h"
#include "uei.h"

namespace Halvik {
namespace Zepric {

// One entity of one module: an entity class (the UEI command byte) and an index. Turns typed
// reads, writes and calls of the entity's options into UEI requests and replies.
// Every operation answers aErrResource until init binds a module.
class EntityClass {
 public:
  EntityClass();
  virtual ~EntityClass();
  EntityClass(const EntityClass&) = delete;
  EntityClass& operator=(const EntityClass&) = delete;

  aErr init(Module* module, uint8_t command, uint8_t index);
  uint8_t getIndex() const;

  aErr getUEI(uint8_t option, uei* record);
  aErr setUEI(uint8_t option, uei* record);
  aErr setUEI(uint8_t option, uint8_t subindex, uei* record);
  aErr callUEI(uint8_t option);

  aErr setUEI8(uint8_t option, uint8_t value);
  aErr setUEI16(uint8_t option, uint16_t value);
  aErr setUEI32(uint8_t option, uint32_t value);
  aErr setUEI8(uint8_t option, uint8_t subindex, uint8_t value);
  aErr setUEI32(uint8_t option, uint8_t subindex, uint32_t value);

  // Reads store the value on aErrNone and aErrStreamStale and leave it untouched otherwise.
  aErr getUEI8(uint8_t option, uint8_t* value);
  aErr getUEI16(uint8_t option, uint16_t* value);
  aErr getUEI32(uint8_t option, uint32_t* value);
  aErr getUEI8(uint8_t option, uint8_t subindex, uint8_t* value);
  aErr getUEI16(uint8_t option, uint8_t subindex, uint16_t* value);
  aErr getUEI32(uint8_t option, uint8_t subindex, uint32_t* value);

  // Values that span several reply packets. *count must be 0 on entry and ends as the
  // number of bytes (or words) stored.
  aErr getUEIBytes8(uint8_t option, uint8_t* buffer, size_t capacity, size_t* count);
  aErr getUEIBytes32(uint8_t option, uint32_t* buffer, size_t capacity, size_t* count);
  static uint8_t getUEIBytesSequence(uint8_t byte) { return byte & 0x7F; }
  static bool getUEIBytesContinue(uint8_t byte) { return (byte & 0x80) != 0; }

  // A reply for this entity's option (exactly as its option byte reads) that arrives
  // without a request in this call, e.g. one announced by an earlier write.
  aErr awaitUEI32Val(uint8_t option, uint32_t* value, uint32_t unusedTimeout);
  aErr drainUEI(uint8_t option);

  aErr sendPacket(uint8_t command, uint8_t length, const uint8_t* data);
  aErr receivePacket(const uint8_t* match, uint8_t* length, uint8_t* payload);

 private:
  struct Impl;
  aErr bound() const;
  aErr read(uint8_t option, uei* record);
  aErr write(uint8_t option, const uint8_t* subindex, uei* record);
  std::unique_ptr<Impl> m_impl;
};

}  // namespace Zepric
}  // namespace Halvik
