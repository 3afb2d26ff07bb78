#include "Entity.h"

#include "EntityImpl.h"

namespace Halvik {
namespace Zepric {

namespace {
uei sRequest(const Module& module, uint8_t command, uint8_t option, uint8_t index) {
  uei record;
  record.module = module.getModuleAddress();
  record.command = command;
  record.option = option;
  record.specifier = index | ueiSPECIFIER_REQUEST;
  return record;
}

// What a reply record means: its error code, or success.
aErr sOutcome(const uei& reply) {
  return reply.isError() ? static_cast<aErr>(reply.v.byteVal) : aErrNone;
}

template <typename T>
aErr sStore(aErr err, const uei& reply, T* value) {
  if (err == aErrNone || err == aErrStreamStale) *value = static_cast<T>(reply.value());
  return err;
}
}  // namespace

EntityClass::EntityClass() : m_impl(new Impl) {}

EntityClass::~EntityClass() = default;

aErr EntityClass::init(Module* module, uint8_t command, uint8_t index) {
  m_impl->module = module;
  m_impl->command = command;
  m_impl->index = index & ueiSPECIFIER_INDEX_MASK;
  return aErrNone;
}

uint8_t EntityClass::getIndex() const { return m_impl->index; }

aErr EntityClass::bound() const {
  return m_impl->module && m_impl->module->getLink() ? aErrNone : aErrResource;
}

// The record's value, if it has one, goes out with the request: that is how a subindex
// travels on a read.
aErr EntityClass::read(uint8_t option, uei* record) {
  aErr err = bound();
  if (err != aErrNone) return err;
  Link& link = *m_impl->module->getLink();
  uei request = sRequest(*m_impl->module, m_impl->command, option | ueiOPTION_GET,
                         m_impl->index);
  request.v = record->v;
  request.type = record->type;
  err = link.sendUEI(request);
  if (err != aErrNone) return err;
  *record = request;
  record->option = option;
  record->specifier = m_impl->index;
  err = link.receiveUEI(record->module, record->command, record->option, record->specifier,
                        record);
  return err != aErrNone ? err : sOutcome(*record);
}

aErr EntityClass::write(uint8_t option, const uint8_t* subindex, uei* record) {
  aErr err = bound();
  if (err != aErrNone) return err;
  Link& link = *m_impl->module->getLink();
  uei request = sRequest(*m_impl->module, m_impl->command, option | ueiOPTION_SET,
                         m_impl->index);
  request.v = record->v;
  request.type = record->type;
  err = subindex ? link.sendUEI(request, *subindex) : link.sendUEI(request);
  if (err != aErrNone) return err;
  *record = request;
  record->option = option | ueiOPTION_SET_REPLY;
  record->specifier = m_impl->index;
  err = link.receiveUEI(record->module, record->command, record->option, record->specifier,
                        record);
  return err != aErrNone ? err : sOutcome(*record);
}

aErr EntityClass::getUEI(uint8_t option, uei* record) {
  return record ? read(option, record) : aErrParam;
}

aErr EntityClass::setUEI(uint8_t option, uei* record) {
  return record ? write(option, nullptr, record) : aErrParam;
}

aErr EntityClass::setUEI(uint8_t option, uint8_t subindex, uei* record) {
  return record ? write(option, &subindex, record) : aErrParam;
}

aErr EntityClass::callUEI(uint8_t option) {
  uei record;
  return write(option, nullptr, &record);
}

aErr EntityClass::setUEI8(uint8_t option, uint8_t value) {
  uei record;
  record.set8(value);
  return write(option, nullptr, &record);
}

aErr EntityClass::setUEI16(uint8_t option, uint16_t value) {
  uei record;
  record.set16(value);
  return write(option, nullptr, &record);
}

aErr EntityClass::setUEI32(uint8_t option, uint32_t value) {
  uei record;
  record.set32(value);
  return write(option, nullptr, &record);
}

aErr EntityClass::setUEI8(uint8_t option, uint8_t subindex, uint8_t value) {
  uei record;
  record.set8(value);
  return write(option, &subindex, &record);
}

aErr EntityClass::setUEI32(uint8_t option, uint8_t subindex, uint32_t value) {
  uei record;
  record.set32(value);
  return write(option, &subindex, &record);
}

aErr EntityClass::getUEI8(uint8_t option, uint8_t* value) {
  if (!value) return aErrParam;
  uei record;
  return sStore(read(option, &record), record, value);
}

aErr EntityClass::getUEI16(uint8_t option, uint16_t* value) {
  if (!value) return aErrParam;
  uei record;
  return sStore(read(option, &record), record, value);
}

aErr EntityClass::getUEI32(uint8_t option, uint32_t* value) {
  if (!value) return aErrParam;
  uei record;
  return sStore(read(option, &record), record, value);
}

aErr EntityClass::getUEI8(uint8_t option, uint8_t subindex, uint8_t* value) {
  if (!value) return aErrParam;
  uei record;
  record.set8(subindex);
  return sStore(read(option, &record), record, value);
}

aErr EntityClass::getUEI16(uint8_t option, uint8_t subindex, uint16_t* value) {
  if (!value) return aErrParam;
  uei record;
  record.set8(subindex);
  return sStore(read(option, &record), record, value);
}

aErr EntityClass::getUEI32(uint8_t option, uint8_t subindex, uint32_t* value) {
  if (!value) return aErrParam;
  uei record;
  record.set8(subindex);
  return sStore(read(option, &record), record, value);
}

aErr EntityClass::awaitUEI32Val(uint8_t option, uint32_t* value, uint32_t) {
  aErr err = bound();
  if (err != aErrNone) return err;
  if (!value) return aErrParam;
  uei record = sRequest(*m_impl->module, m_impl->command, option, m_impl->index);
  record.specifier = m_impl->index;
  err = m_impl->module->getLink()->receiveUEI(record.module, record.command, record.option,
                                              record.specifier, &record);
  if (err == aErrNone) err = sOutcome(record);
  if (err == aErrNone) *value = record.value();
  return err;
}

aErr EntityClass::drainUEI(uint8_t option) {
  aErr err = bound();
  if (err != aErrNone) return err;
  return m_impl->module->getLink()->dropMatchingUEIPackets(
      m_impl->module->getModuleAddress(), m_impl->command, option, m_impl->index);
}

aErr EntityClass::sendPacket(uint8_t command, uint8_t length, const uint8_t* data) {
  aErr err = bound();
  if (err != aErrNone) return err;
  return m_impl->module->getLink()->sendPacket(m_impl->module->getModuleAddress(), command,
                                               length, data);
}

aErr EntityClass::receivePacket(const uint8_t* match, uint8_t* length, uint8_t* payload) {
  aErr err = bound();
  if (err != aErrNone) return err;
  return m_impl->module->getLink()->receivePacket(m_impl->module->getModuleAddress(), match,
                                                  length, payload);
}

}  // namespace Zepric
}  // namespace Halvik
