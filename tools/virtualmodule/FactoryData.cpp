#include "FactoryData.h"

#include <algorithm>

#include "ModuleNode.h"

namespace virtualmodule {

namespace {

constexpr uint8_t kAreaMask = 0x0F;
constexpr uint8_t kWriteFlag = 0x10;
constexpr uint8_t kCloseFlag = 0x20;
constexpr uint8_t kFirstFlag = 0x40;
constexpr size_t kChunk = 26;

Outcome reply(uint8_t address, std::vector<uint8_t> payload) {
  return Outcome::single(Packet{address, std::move(payload)});
}

Outcome error(uint8_t address, uint8_t control, ErrorCode error) {
  return reply(address, {kFactoryCommand, uint8_t((control & kAreaMask) | 0x80), code(error)});
}

}  // namespace

Outcome FactoryData::handle(ModuleNode& node, const std::vector<uint8_t>& payload) {
  const uint8_t address = node.address();
  if (payload.size() < 2) return {};
  const uint8_t control = payload[1];
  if (control & kCloseFlag) return close(node, payload);

  const uint8_t area = control & kAreaMask;
  const bool first = (control & kFirstFlag) != 0;
  using Kind = Transfer::Kind;
  if (control & kWriteFlag) {
    if (first) transfer_ = Transfer{Kind::Writing, area, 0, {}};
    if (transfer_.kind != Kind::Writing || transfer_.area != area) return error(address, control, ErrorCode::Mode);
    if (transfer_.data.size() + payload.size() - 2 > node.device().factoryCapacity)
      return error(address, control, ErrorCode::Overrun);
    transfer_.data.insert(transfer_.data.end(), payload.begin() + 2, payload.end());
    return reply(address, {kFactoryCommand, area});
  }

  if (first) transfer_ = Transfer{Kind::Reading, area, 0, {}};
  if (transfer_.kind != Kind::Reading || transfer_.area != area || payload.size() != 2)
    return error(address, control, ErrorCode::Mode);
  const std::vector<uint8_t>& stored = node.device().factoryData[area];
  const size_t position = std::min(stored.size(), transfer_.count);
  const size_t count = std::min(kChunk, stored.size() - position);
  std::vector<uint8_t> answer{kFactoryCommand, area};
  answer.insert(answer.end(), stored.begin() + position, stored.begin() + position + count);
  transfer_.count += count;
  return reply(address, answer);
}

Outcome FactoryData::close(ModuleNode& node, const std::vector<uint8_t>& payload) {
  const uint8_t address = node.address();
  const uint8_t control = payload[1];
  Transfer done = std::move(transfer_);
  transfer_ = Transfer{};
  if (payload.size() != 4) return error(address, control, ErrorCode::ShortCommand);
  const size_t announced = readBigEndian(&payload[2], 2);
  using Kind = Transfer::Kind;
  if (done.kind == Kind::None) return error(address, control, ErrorCode::Mode);
  const size_t travelled = done.kind == Kind::Reading ? done.count : done.data.size();
  if (announced != travelled) return error(address, control, ErrorCode::Size);
  if (done.kind == Kind::Writing) node.device().factoryData[done.area] = std::move(done.data);
  return reply(address, {kFactoryCommand, uint8_t(control & kAreaMask)});
}

}  // namespace virtualmodule
