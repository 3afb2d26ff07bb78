#include <cstdio>
#include <cstdlib>
#include <string>

#include "CLI_Display.h"
#include "Log.h"
#include "Options.h"
#include "Parameters.h"
#include "Reports.h"
#include "Updater.h"
#include "UpdaterDirectory.h"
#include "Usage.h"
#include "aDirectory.h"

namespace {

constexpr auto INFO = UpdaterDisplayInterface::INFO;
constexpr auto ERROR = UpdaterDisplayInterface::ERROR;
constexpr uint32_t kNoDeviceSerialNumber = 0xDEADDEAD;
constexpr uint32_t kDirectoryMode = 0755;

// -N; the run goes on after a failure, which only marks the status.
bool _run_fingerprint(Updater& updater, CLI_Display& display, const Parameters& parameters,
                      int& status) {
  if (parameters.serialPort.empty()) {
    display.message(ERROR, "Must specify the serial port used for connecting");
    return false;
  }
  Fingerprint fingerprint;
  if (updater.Get_Fingerprint(fingerprint, parameters.serialPort, kNoDeviceSerialNumber,
                              parameters.birdFile, parameters.baudRate, true)) {
    _display_fingerprint(display, fingerprint);
  } else {
    display.message(ERROR, "Got no response from chip");
    status = 1;
  }
  return true;
}

// -G; the build obtained becomes the build a following -U uses.
bool _run_download(Updater& updater, CLI_Display& display, Parameters& parameters, int& status) {
  if (parameters.serialNumber == 0) {
    display.message(ERROR, "-G must specify a specific device via -d");
    display.message(ERROR, "--help for usage information");
    return false;
  }
  display.message(INFO, "Retrieving firmware for device with serial number %08X",
                  parameters.serialNumber);
  if (parameters.build.empty()) {
    display.message(INFO, "No build specified");
    display.message(INFO, "Using Latest build");
  } else {
    display.message(INFO, "Retrieving firmware build %s", parameters.build.c_str());
  }
  const uint32_t build = updater.Download_Firmware(parameters.serialNumber, parameters.build,
                                                   parameters.override, false);
  if (build != 0) parameters.build = std::to_string(build);
  status = build != 0 ? 0 : 1;
  return true;
}

int _run_discovery(Updater& updater, CLI_Display& display, const Parameters& parameters) {
  const uint32_t transport =
      parameters.transportGiven && parameters.transport != kTransportRecover ? parameters.transport
                                                                             : 0;
  if (parameters.routerSerialNumber != 0) {
    display.message(INFO, "Searching for Zepric Network devices connected to %08X",
                    parameters.routerSerialNumber);
    _display_device_list(
        display, updater.Discover_ZPNetwork_Devices(parameters.routerSerialNumber, transport),
        transport);
  } else {
    display.message(INFO, "Searching for Zepric devices");
    // A plain -D searches USB only.
    const uint32_t searched = transport == 0 ? USB : transport;
    _display_device_list(display, updater.Discover_Devices(searched), searched);
  }
  return 0;
}

int _run_update(Updater& updater, CLI_Display& display, const Parameters& parameters) {
  // build only ever holds decimal digits written by the parser or the download.
  const uint32_t build = static_cast<uint32_t>(strtoul(parameters.build.c_str(), nullptr, 10));
  if (parameters.transport == kTransportRecover) {
    return updater.Recover_Firmware(parameters.serialPort, build, parameters.baudRate,
                                    parameters.serialNumber, parameters.birdFile,
                                    parameters.override)
               ? 0
               : 1;
  }
  if (parameters.serialNumber == 0) {
    display.message(ERROR, "Must specify the specific device to be updated");
    return 1;
  }
  return updater.Update_Firmware(parameters.serialNumber, build, parameters.birdFile,
                                 parameters.moduleAddress, parameters.routerSerialNumber,
                                 parameters.override)
             ? 0
             : 1;
}

int _run_build_list(Updater& updater, CLI_Display& display, const Parameters& parameters) {
  if (parameters.serialNumber == 0) {
    display.message(ERROR, "Error must supply a serial number for the List Builds command");
    _display_usage(false, false);
    return 1;
  }
  _display_builds(display, updater.Get_BuildList(parameters.serialNumber),
                  parameters.serialNumber);
  return 0;
}

int _run(CLI_Display& display, Parameters& parameters, int argc, const char* const* argv) {
  if (_get_params(display, argc, argv, parameters) != 0) {
    _display_app_version(display);
    _display_copyright(display);
    _display_usage(false, false);
    return 1;
  }
  _display_app_version(display);

  if (parameters.commands.IsSet(CMD_HELP) || !parameters.commands.IsSet(kAnyCommand)) {
    _display_copyright(display);
    _display_zp_version(display);
    _display_usage(true, parameters.helpRequested);
    return 0;
  }

  const std::string updaterDirectory = _build_updater_directory();
  if (updaterDirectory.empty() ||
      aDirectory_Ensure(updaterDirectory.c_str(), kDirectoryMode) != aErrNone) {
    display.message(ERROR, "Could not find updater directory at %s", updaterDirectory.c_str());
    return 1;
  }

  Updater updater(parameters.serverURL, updaterDirectory, display);
  int status = 0;
  if (parameters.commands.IsSet(CMD_FINGERPRINT) &&
      !_run_fingerprint(updater, display, parameters, status)) {
    return 1;
  }
  if (parameters.commands.IsSet(CMD_GET_BUILD) &&
      !_run_download(updater, display, parameters, status)) {
    return 1;
  }
  if (parameters.commands.IsSet(CMD_DISCOVER)) return _run_discovery(updater, display, parameters);
  if (parameters.commands.IsSet(CMD_UPDATE)) return _run_update(updater, display, parameters);
  if (parameters.commands.IsSet(CMD_BUILD_LIST)) {
    return _run_build_list(updater, display, parameters);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Parameters parameters;
  CLI_Display display;
  Log::SetOutput(stderr);
  const int status = _run(display, parameters, argc, argv);
  _release_params(parameters);
  return status;
}
