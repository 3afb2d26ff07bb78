#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Updater.h"
#include "UpdaterDisplayInterface.h"

// Report printers for the results of the commands; all print at INFO level.
void _display_app_version(UpdaterDisplayInterface& display);
void _display_zp_version(UpdaterDisplayInterface& display);
void _display_copyright(UpdaterDisplayInterface& display);
void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fingerprint);
// builds maps build-number text to version text; printed in version order.
void _display_builds(UpdaterDisplayInterface& display,
                     const std::map<std::string, std::string>& builds, uint32_t serialNumber);
void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& devices,
                          uint32_t transport);
