#include "StoreSlots.h"

#include <algorithm>

#include "ModuleNode.h"

namespace virtualmodule {

namespace {

constexpr uint8_t kCapacity = 1;
constexpr uint8_t kSize = 2;
constexpr uint8_t kOpenRead = 3;
constexpr uint8_t kOpenWrite = 4;
constexpr uint8_t kRead = 6;
constexpr uint8_t kWrite = 7;
constexpr uint8_t kClose = 8;
constexpr size_t kChunk = 25;
constexpr size_t kMaxOpen = 4;

Outcome reply(uint8_t address, std::vector<uint8_t> payload) {
  return Outcome::single(Packet{address, std::move(payload)});
}

// Slot requests carry the error code after store and slot, handle requests after the handle.
Outcome slotError(uint8_t address, uint8_t sub, uint8_t store, uint8_t slot, ErrorCode error) {
  return reply(address, {kStoreCommand, uint8_t(sub | 0x80), store, slot, code(error)});
}

Outcome handleError(uint8_t address, uint8_t sub, uint8_t handle, ErrorCode error) {
  return reply(address, {kStoreCommand, uint8_t(sub | 0x80), handle, code(error)});
}

}  // namespace

Outcome StoreSlots::handle(ModuleNode& node, const std::vector<uint8_t>& payload) {
  if (payload.size() < 2) return {};
  const uint8_t sub = payload[1];
  if (sub >= kCapacity && sub <= kOpenWrite) return slotRequest(node, payload);
  return handleRequest(node, payload);
}

Outcome StoreSlots::slotRequest(ModuleNode& node, const std::vector<uint8_t>& payload) {
  const uint8_t address = node.address();
  const uint8_t sub = payload[1];
  const uint8_t store = payload.size() > 2 ? payload[2] : 0;
  const uint8_t slotNumber = payload.size() > 3 ? payload[3] : 0;
  if (payload.size() != 4) return slotError(address, sub, store, slotNumber, ErrorCode::ShortCommand);
  auto& stores = node.device().stores;
  if (store >= stores.size() || slotNumber >= stores[store].size())
    return slotError(address, sub, store, slotNumber, ErrorCode::IndexRange);
  StoreSlot& slot = stores[store][slotNumber];

  std::vector<uint8_t> answer{kStoreCommand, sub, store, slotNumber};
  if (sub == kCapacity || sub == kSize) {
    appendBigEndian(answer, sub == kCapacity ? slot.capacity : uint32_t(slot.data.size()), 2);
    return reply(address, answer);
  }
  const bool writing = sub == kOpenWrite;
  for (const auto& open : handles_)
    if (open.second.store == store && open.second.slot == slotNumber && (writing || open.second.writing))
      return slotError(address, sub, store, slotNumber, ErrorCode::Busy);
  if (handles_.size() >= kMaxOpen) return slotError(address, sub, store, slotNumber, ErrorCode::Busy);
  while (handles_.count(nextHandle_) || nextHandle_ == 0xFF || nextHandle_ == 0) ++nextHandle_;
  const uint8_t handle = nextHandle_++;
  handles_[handle] = OpenSlot{store, slotNumber, writing, 0, {}};
  answer.push_back(handle);
  return reply(address, answer);
}

Outcome StoreSlots::handleRequest(ModuleNode& node, const std::vector<uint8_t>& payload) {
  const uint8_t address = node.address();
  const uint8_t sub = payload[1];
  const uint8_t handle = payload.size() > 2 ? payload[2] : 0;
  if (sub != kRead && sub != kWrite && sub != kClose)
    return handleError(address, sub, handle, ErrorCode::Unimplemented);
  if (payload.size() < 3) return handleError(address, sub, handle, ErrorCode::ShortCommand);
  auto found = handles_.find(handle);
  if (found == handles_.end()) return handleError(address, sub, handle, ErrorCode::Param);
  OpenSlot& open = found->second;
  StoreSlot& slot = node.device().stores[open.store][open.slot];
  std::vector<uint8_t> answer{kStoreCommand, sub, handle};

  if (sub == kRead) {
    if (open.writing || payload.size() != 3) return handleError(address, sub, handle, ErrorCode::Mode);
    const size_t count = std::min(kChunk, slot.data.size() - open.position);
    answer.insert(answer.end(), slot.data.begin() + open.position, slot.data.begin() + open.position + count);
    open.position += count;
    return reply(address, answer);
  }
  if (sub == kWrite) {
    if (!open.writing) return handleError(address, sub, handle, ErrorCode::Mode);
    if (open.written.size() + payload.size() - 3 > slot.capacity)
      return handleError(address, sub, handle, ErrorCode::Overrun);
    uint8_t sum = 0;
    for (size_t i = 3; i < payload.size(); ++i) sum = uint8_t(sum + payload[i]);
    open.written.insert(open.written.end(), payload.begin() + 3, payload.end());
    answer.push_back(sum);
    return reply(address, answer);
  }
  if (open.writing) slot.data = std::move(open.written);
  handles_.erase(found);
  answer.push_back(code(ErrorCode::None));
  return reply(address, answer);
}

}  // namespace virtualmodule
