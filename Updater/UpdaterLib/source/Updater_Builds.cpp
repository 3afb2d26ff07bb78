#include "Updater.h"

// Build acquisition is not available in this build: every request fails.
uint32_t Updater::Download_Firmware(uint32_t, const std::string&, bool, bool) { return 0; }

uint32_t Updater::Download_Firmware(const Fingerprint&, const std::string&, bool) { return 0; }

std::map<std::string, std::string> Updater::Get_BuildList(uint32_t) { return {}; }
