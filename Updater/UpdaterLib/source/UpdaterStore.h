#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "UpdaterStoreItem.h"

// The per-user store: one directory per device serial number ("%08X") below the base path.
// Every operation goes to the file system afresh.
class UpdaterStore {
 public:
  // Creates the base directory when missing; throws std::runtime_error when it can't, or
  // when a file stands in its place.
  explicit UpdaterStore(const std::string& path);

  const std::string& BasePath() const { return basePath; }

  UpdaterStoreItem AddDevice(uint32_t serial);
  UpdaterStoreItem AddDevice(const std::string& serial);
  // True when an entry's name contains the text; fills `item` (when given) from the first.
  bool FindDevice(uint32_t serial, UpdaterStoreItem* item) const;
  bool FindDevice(const std::string& serial, UpdaterStoreItem* item) const;
  // Appends one item per visible entry of the device's directory. Always true.
  bool FindLocalBuilds(uint32_t serial, std::vector<UpdaterStoreItem>& items) const;
  bool FindLocalBuilds(const std::string& serial, std::vector<UpdaterStoreItem>& items) const;

 private:
  std::string basePath;
};
