#include "Updater.h"

#include <stdexcept>

// Firmware update is not available in this build: it always fails.
bool Updater::Update_Firmware(uint32_t, uint32_t, const std::string&, uint8_t, uint32_t, bool) {
  return false;
}

std::unique_ptr<BirdFile> Updater::load_bird(const char*, const std::string&, uint32_t, uint32_t,
                                             bool) {
  throw std::runtime_error("Error reading birdfile");
}
