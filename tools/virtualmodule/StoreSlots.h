#pragma once
#include <cstddef>
#include <map>

#include "CommandHandler.h"

namespace virtualmodule {

constexpr uint8_t kStoreCommand = 4;

// Command 4: byte slots in the module's stores, read and written through open handles.
class StoreSlots : public CommandHandler {
 public:
  Outcome handle(ModuleNode& node, const std::vector<uint8_t>& payload) override;
  void restart() override { handles_.clear(); }

 private:
  struct OpenSlot {
    uint8_t store;
    uint8_t slot;
    bool writing;
    size_t position;             // next byte to read
    std::vector<uint8_t> written;  // kept apart until the close, so a broken write leaves the slot as it was
  };

  Outcome slotRequest(ModuleNode& node, const std::vector<uint8_t>& payload);
  Outcome handleRequest(ModuleNode& node, const std::vector<uint8_t>& payload);

  std::map<uint8_t, OpenSlot> handles_;
  uint8_t nextHandle_ = 1;
};

}  // namespace virtualmodule
