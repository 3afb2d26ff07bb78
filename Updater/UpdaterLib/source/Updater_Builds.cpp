#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <future>
#include <memory>
#include <thread>

#include "Log.h"
#include "Updater.h"
#include "UpdaterStore.h"
#include "UpdateServerRequest.h"
#include "base64.h"
#include "path.h"

namespace {

constexpr auto kSpinnerPeriod = std::chrono::milliseconds(100);
const char* const kSpinnerLabel = "Downloading";

// Leading decimal digits, as the standard string-to-number conversions read them: white
// space first, anything after the digits ignored.
bool _decimal(const std::string& text, uint64_t& value) {
  const char* p = text.c_str();
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  if (*p == '+') ++p;
  if (!isdigit(static_cast<unsigned char>(*p))) return false;
  errno = 0;
  unsigned long long converted = strtoull(p, nullptr, 10);
  if (errno == ERANGE) return false;
  value = converted;
  return true;
}

// A build number of 32 bits from text, or false after tracing why not.
bool _build_number(const std::string& text, uint32_t& build) {
  uint64_t value = 0;
  if (!_decimal(text, value) || value > UINT32_MAX) {
    Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", text.c_str());
    return false;
  }
  build = static_cast<uint32_t>(value);
  return true;
}

std::string _now_text() {
  time_t now = time(nullptr);
  char text[64];
  if (ctime_r(&now, text) == nullptr) return std::string();
  std::string result = text;
  if (!result.empty() && result.back() == '\n') result.pop_back();
  return result;
}

bool _valid_build(uint32_t serialNumber, uint32_t build, const char* url) {
  std::map<std::string, std::string> builds;
  if (!UpdateServerRequest::GetBuildList(serialNumber, builds, url)) return false;
  for (const auto& entry : builds) {
    uint64_t listed = 0;
    if (!_decimal(entry.first, listed))
      Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", entry.first.c_str());
    if (static_cast<uint32_t>(listed) == build) return true;
  }
  return false;
}

// What the download thread needs; it touches nothing but the answer text.
struct DownloadJob {
  std::string serverURL;
  std::promise<bool> done;
  uint32_t serialNumber;
  std::string fw;
  std::string build;
  std::string& answer;
  bool no_cal;
};

void _download(DownloadJob job) {
  bool fetched = false;
  try {
    fetched = UpdateServerRequest::GetBuild(job.serialNumber, job.fw, job.build, job.answer,
                                            job.serverURL.c_str(), job.no_cal);
  } catch (const std::exception&) {
    // Out of memory for a huge answer: a failed download like any other.
    job.answer.clear();
  }
  job.done.set_value(fetched);
}

struct Freed {
  void operator()(void* p) const { free(p); }
};

}  // namespace

uint32_t Updater::Download_Firmware(uint32_t serialNumber, const std::string& build,
                                    bool override, bool no_cal) {
  uint32_t buildNumber = 0;
  if (!build.empty()) {
    uint64_t value = 0;
    if (!_decimal(build, value) || value > UINT32_MAX) {
      display.message(UpdaterDisplayInterface::ERROR, "Build number '%s' must be an number",
                      build.c_str());
      return 0;
    }
    buildNumber = static_cast<uint32_t>(value);
  }
  if (serialNumber == 0) {
    display.message(UpdaterDisplayInterface::ERROR, "Serial Number must be non-zero");
    return 0;
  }
  if (!UpdateServerRequest::ping(serverURL.c_str())) {
    display.message(UpdaterDisplayInterface::ERROR, "Server request failed for %s",
                    serverURL.c_str());
    return 0;
  }

  // Opened only now, so an unreachable server leaves no trace in the store.
  UpdaterStoreItem device;
  try {
    // The store root may have gone since start-up; that is the same failure as below.
    UpdaterStore store(updaterDirectory);
    if (!store.FindDevice(serialNumber, nullptr))
      Log::log(DEBUG_APP, "Could not find device in our update history.\n");
    device = store.AddDevice(serialNumber);
  } catch (const std::exception&) {
    display.message(UpdaterDisplayInterface::ERROR,
                    "Could not create directory for storing BIRD file");
    return 0;
  }

  // Asked even for a named build: the download needs the FW text.
  std::string currentBuild, fw;
  if (!UpdateServerRequest::QueryBuild(serialNumber, currentBuild, fw, serverURL.c_str())) {
    display.message(UpdaterDisplayInterface::ERROR, "No build information for device");
    return 0;
  }
  if (buildNumber == 0) _build_number(currentBuild, buildNumber);

  display.message(UpdaterDisplayInterface::INFO, "Retrieving build %u", buildNumber);
  if (override) {
    display.message(UpdaterDisplayInterface::INFO,
                    "Override specified, skipping validation of build %u", buildNumber);
  } else {
    display.message(UpdaterDisplayInterface::INFO, "Validating build %u with server",
                    buildNumber);
    if (!_valid_build(serialNumber, buildNumber, serverURL.c_str())) {
      display.message(UpdaterDisplayInterface::ERROR, "No valid build %u", buildNumber);
      return 0;
    }
    display.message(UpdaterDisplayInterface::INFO, "Build %u is valid", buildNumber);
  }

  std::string answer;
  std::promise<bool> done;
  std::future<bool> result = done.get_future();
  std::thread worker(_download, DownloadJob{serverURL, std::move(done), serialNumber, fw,
                                            std::to_string(buildNumber), answer, no_cal});
  display.update_spinner(true, kSpinnerLabel);
  while (result.wait_for(kSpinnerPeriod) != std::future_status::ready)
    display.update_spinner(true, kSpinnerLabel);
  display.update_spinner(false, kSpinnerLabel);
  if (!result.get()) display.message(UpdaterDisplayInterface::ERROR, "Download failed");
  worker.join();

  // Text that is not base64 is no more a firmware file than an empty answer.
  size_t length = 0;
  std::unique_ptr<unsigned char, Freed> bytes(
      answer.empty() ? nullptr : base64_decode(answer.data(), answer.size(), &length));
  if (!bytes) {
    display.message(UpdaterDisplayInterface::ERROR, "Failed to retreive a valid BIRD file");
    return 0;
  }

  // The bytes are proven loadable under a hidden name before they replace the stored file,
  // so the store never records a file that the update could not read.
  std::string time = _now_text();
  std::string fileName = std::to_string(buildNumber) + ".bird";
  std::string partName = "." + fileName + ".part";
  std::string partPath = BuildPath(device.Path(), partName);
  aErr written = device.WriteFile(partName, bytes.get(), length);
  bytes.reset();
  if (written != aErrNone) {
    display.message(UpdaterDisplayInterface::ERROR, "Failed to write file with %d", written);
    return 0;
  }
  try {
    device.ReadBirdFile(partName);
  } catch (const std::exception& e) {
    Log::log(DEBUG_Updater, "Downloaded build %u is unusable: %s\n", buildNumber, e.what());
    remove(partPath.c_str());
    display.message(UpdaterDisplayInterface::ERROR, "Failed to retreive a valid BIRD file");
    return 0;
  }
  if (rename(partPath.c_str(), BuildPath(device.Path(), fileName).c_str()) != 0) {
    remove(partPath.c_str());
    display.message(UpdaterDisplayInterface::ERROR, "Failed to write file with %d", aErrIO);
    return 0;
  }

  device.Settings().Add("LATEST_DOWNLOAD", fileName);
  device.Settings().Add("LAST_DOWNLOAD_DATE", time);
  device.Settings().Save();
  return buildNumber;
}

uint32_t Updater::Download_Firmware(const Fingerprint& fingerprint, const std::string& build,
                                    bool override) {
  uint32_t buildNumber = 0;
  _build_number(build, buildNumber);

  uint32_t serialNumber = 0, serverBuild = 0;
  if (!UpdateServerRequest::GetRecoveryInfo(fingerprint.word, serialNumber, serverBuild,
                                            serverURL.c_str())) {
    display.message(UpdaterDisplayInterface::ERROR,
                    "Failed to retreive recovery information from Halvik update server");
    return 0;
  }
  if (buildNumber == 0) buildNumber = serverBuild;
  return Download_Firmware(serialNumber, std::to_string(buildNumber), override, false);
}

std::map<std::string, std::string> Updater::Get_BuildList(uint32_t serialNumber) {
  std::map<std::string, std::string> builds;
  if (!UpdateServerRequest::ping(serverURL.c_str())) {
    display.message(UpdaterDisplayInterface::ERROR, "Server request failed for %s",
                    serverURL.c_str());
    return builds;
  }
  if (!UpdateServerRequest::GetBuildList(serialNumber, builds, serverURL.c_str()))
    display.message(UpdaterDisplayInterface::ERROR, "Failed to retrieve builds for %08X",
                    serialNumber);
  return builds;
}
