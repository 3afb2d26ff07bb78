#pragma once

#include <string>

#include "BirdFile.h"
#include "KeyValueStore.h"
#include "aError.h"

typedef enum {
  STORE_ITEM_FILE = 0,
  STORE_ITEM_DIRECTORY = 1,
  STORE_ITEM_NONE = 2,
} store_item_t;

// One entry of the updater store (normally a device directory) with its settings, which
// live in base / name / ".settings".
class UpdaterStoreItem {
 public:
  UpdaterStoreItem();
  // Loads the settings at once, creating the settings file when it is missing.
  UpdaterStoreItem(const std::string& base, const std::string& name, store_item_t kind);

  bool IsValid() const;
  bool FileExists(const std::string& file) const;
  // Replaces base / name / file as a whole: readers see the old content or the new one.
  aErr WriteFile(const std::string& file, const void* data, size_t length) const;
  // Throws std::runtime_error when the file is not a BIRD file or can't be loaded.
  BirdFile ReadBirdFile(const std::string& file) const;

  const std::string& Base() const { return base; }
  const std::string& Name() const { return name; }
  store_item_t Kind() const { return kind; }
  std::string Path() const;
  KeyValueStore& Settings() { return settings; }
  const KeyValueStore& Settings() const { return settings; }

 private:
  std::string base;
  std::string name;
  store_item_t kind;
  KeyValueStore settings;
};
