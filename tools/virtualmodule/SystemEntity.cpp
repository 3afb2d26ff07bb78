#include "SystemEntity.h"

#include <algorithm>

#include "ModuleNode.h"
#include "UeiCodec.h"

namespace virtualmodule {

namespace {

// Data bytes in one packet of a multi-packet value: 28 minus the three header bytes and the
// sequence byte.
constexpr size_t kBytesPerSequencePacket = 24;
constexpr unsigned kBytesValue = 0xFF;

struct SystemOption {
  uint8_t code;
  unsigned width;  // value bytes: 0 (call), 1, 2, 4, or kBytesValue for a multi-packet value
  bool readable;
  bool writable;
  uint8_t subindexes;  // 0: the option takes no subindex
  uint32_t (*read)(const DeviceModel&, uint8_t subindex);
  ErrorCode (*write)(DeviceModel&, uint32_t value);
  bool restarts;
};

ErrorCode storeFlag(uint8_t& field, uint32_t value) {
  if (value > 1) return ErrorCode::Range;
  field = uint8_t(value);
  return ErrorCode::None;
}

ErrorCode accept(DeviceModel&, uint32_t) { return ErrorCode::None; }

const SystemOption kOptions[] = {
    {systemOption::module, 1, true, false, 0, [](const DeviceModel& d, uint8_t) -> uint32_t { return d.moduleAddress; }, nullptr, false},
    {systemOption::router, 1, true, true, 0, [](const DeviceModel& d, uint8_t) -> uint32_t { return d.routerAddress; },
     [](DeviceModel& d, uint32_t v) { d.routerAddress = uint8_t(v); return ErrorCode::None; }, false},
    {systemOption::heartbeatInterval, 1, true, true, 0, [](const DeviceModel& d, uint8_t) -> uint32_t { return d.heartbeatTenths; },
     [](DeviceModel& d, uint32_t v) { d.heartbeatTenths = uint8_t(v); return ErrorCode::None; }, false},
    {systemOption::led, 1, true, true, 0, [](const DeviceModel& d, uint8_t) -> uint32_t { return d.led; },
     [](DeviceModel& d, uint32_t v) { return storeFlag(d.led, v); }, false},
    {systemOption::bootSlot, 1, true, true, 0, [](const DeviceModel& d, uint8_t) -> uint32_t { return d.bootSlot; },
     [](DeviceModel& d, uint32_t v) { d.bootSlot = uint8_t(v); return ErrorCode::None; }, false},
    {systemOption::version, 4, true, false, 0, [](const DeviceModel& d, uint8_t) { return d.version.packed(); }, nullptr, false},
    {systemOption::model, 1, true, false, 0, [](const DeviceModel& d, uint8_t) -> uint32_t { return d.model; }, nullptr, false},
    {systemOption::serialNumber, 4, true, false, 0, [](const DeviceModel& d, uint8_t) { return d.serialNumber; }, nullptr, false},
    {systemOption::save, 0, false, true, 0, nullptr, accept, false},
    {systemOption::reset, 0, false, true, 0, nullptr, accept, true},
    {systemOption::routeToMe, 1, false, true, 0, nullptr,
     [](DeviceModel& d, uint32_t v) {
       if (v > 1) return ErrorCode::Range;
       d.routeToMe = v != 0;
       return ErrorCode::None;
     },
     false},
    {systemOption::name, kBytesValue, true, false, 0, nullptr, nullptr, false},
    {systemOption::uniqueIdentifier, 4, true, false, 4,
     [](const DeviceModel& d, uint8_t sub) { return d.uniqueIdentifier[sub]; }, nullptr, false},
};

const SystemOption* findOption(uint8_t code) {
  for (const auto& option : kOptions)
    if (option.code == code) return &option;
  return nullptr;
}

Outcome sequencedBytes(uint8_t address, const UeiRequest& request, const std::string& bytes) {
  Outcome outcome;
  outcome.sequenced = true;
  size_t offset = 0;
  uint8_t sequence = 0;
  do {
    const size_t count = std::min(kBytesPerSequencePacket, bytes.size() - offset);
    Packet packet{address, {request.command, request.option, request.index}};
    packet.payload.insert(packet.payload.end(), bytes.begin() + offset, bytes.begin() + offset + count);
    offset += count;
    const bool more = offset < bytes.size();
    packet.payload.push_back(uint8_t((sequence & 0x7F) | (more ? 0x80 : 0)));
    outcome.replies.push_back(std::move(packet));
    ++sequence;
  } while (offset < bytes.size());
  return outcome;
}

Outcome readOption(ModuleNode& node, const UeiRequest& request, const SystemOption& option) {
  const uint8_t address = node.address();
  if (!option.readable) return Outcome::single(ueiErrorReply(address, request, ErrorCode::Mode));
  if (request.rest.size() != (option.subindexes ? 1u : 0u))
    return Outcome::single(ueiErrorReply(address, request, ErrorCode::Size));
  const uint8_t subindex = option.subindexes ? request.rest[0] : 0;
  if (option.subindexes && subindex >= option.subindexes)
    return Outcome::single(ueiErrorReply(address, request, ErrorCode::IndexRange));
  if (option.width == kBytesValue) return sequencedBytes(address, request, node.device().name);
  return Outcome::single(ueiValueReply(address, request, option.read(node.device(), subindex), option.width));
}

Outcome writeOption(ModuleNode& node, const UeiRequest& request, const SystemOption& option) {
  const uint8_t address = node.address();
  if (!option.writable) return Outcome::single(ueiErrorReply(address, request, ErrorCode::Mode));
  if (request.rest.size() != option.width) return Outcome::single(ueiErrorReply(address, request, ErrorCode::Size));
  const ErrorCode error = option.write(node.device(), readBigEndian(request.rest.data(), option.width));
  if (error != ErrorCode::None) return Outcome::single(ueiErrorReply(address, request, error));
  Outcome outcome = Outcome::single(Packet{address, {request.command, request.replyOption(), request.index}});
  outcome.restart = option.restarts;
  return outcome;
}

}  // namespace

Outcome SystemEntity::handle(ModuleNode& node, const std::vector<uint8_t>& payload) {
  const auto request = parseUeiRequest(payload);
  if (!request) return {};
  const uint8_t address = node.address();
  if (request->index != 0) return Outcome::single(ueiErrorReply(address, *request, ErrorCode::IndexRange));
  const SystemOption* option = findOption(request->option);
  if (!option) return Outcome::single(ueiErrorReply(address, *request, ErrorCode::InvalidOption));
  if (request->read == request->write) return Outcome::single(ueiErrorReply(address, *request, ErrorCode::Param));
  return request->read ? readOption(node, *request, *option) : writeOption(node, *request, *option);
}

ErrorCode SystemEntity::checkUEI(uint8_t optionCode, uint8_t index, uint8_t access) const {
  if (index != 0) return ErrorCode::IndexRange;
  const SystemOption* option = findOption(optionCode);
  if (!option) return ErrorCode::InvalidOption;
  if ((access & kReadBit) && !option->readable) return ErrorCode::Mode;
  if ((access & kWriteBit) && !option->writable) return ErrorCode::Mode;
  return ErrorCode::None;
}

}  // namespace virtualmodule
