#include "Updater.h"

// Recovery is not available in this build: no chip is ever reached.
bool Updater::Get_Fingerprint(Fingerprint&, const std::string&, uint32_t, const std::string&,
                              uint32_t, bool) {
  return false;
}

bool Updater::Recover_Firmware(const std::string&, uint32_t, uint32_t, uint32_t,
                               const std::string&, bool) {
  return false;
}
