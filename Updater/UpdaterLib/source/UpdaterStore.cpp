#include "UpdaterStore.h"

#include <cstdio>

#include "Log.h"
#include "StoreDirectory.h"
#include "aDirectory.h"
#include "path.h"

namespace {
std::string _serial_text(uint32_t serial) {
  char text[9];
  snprintf(text, sizeof text, "%08X", serial);
  return text;
}

bool _find_items(const aDirectoryListData* data, void* ref) {
  auto* items = static_cast<std::vector<UpdaterStoreItem>*>(ref);
  Log::log(DEBUG_Updater, "%s([%s], %d, %d)\n", "_find_items", data->path, data->isDirectory,
           data->size);
  std::string base, name;
  store_directory::SplitPath(data->path, base, name);
  // Hidden entries include ".", ".." and the directory's own ".settings".
  if (name.empty() || name[0] == '.') return true;
  items->emplace_back(base, name, data->isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE);
  return true;
}
}  // namespace

UpdaterStore::UpdaterStore(const std::string& path) : basePath(path) {
  store_directory::Ensure(basePath);
}

UpdaterStoreItem UpdaterStore::AddDevice(uint32_t serial) { return AddDevice(_serial_text(serial)); }

UpdaterStoreItem UpdaterStore::AddDevice(const std::string& serial) {
  store_directory::Ensure(BuildPath(basePath, serial));
  return UpdaterStoreItem(basePath, serial, STORE_ITEM_DIRECTORY);
}

bool UpdaterStore::FindDevice(uint32_t serial, UpdaterStoreItem* item) const {
  return FindDevice(_serial_text(serial), item);
}

bool UpdaterStore::FindDevice(const std::string& serial, UpdaterStoreItem* item) const {
  return store_directory::Search(basePath, serial, item);
}

bool UpdaterStore::FindLocalBuilds(uint32_t serial, std::vector<UpdaterStoreItem>& items) const {
  return FindLocalBuilds(_serial_text(serial), items);
}

bool UpdaterStore::FindLocalBuilds(const std::string& serial,
                                   std::vector<UpdaterStoreItem>& items) const {
  UpdaterStoreItem device;
  if (!FindDevice(serial, &device)) return true;
  aDirectory_List(device.Path().c_str(), _find_items, &items);
  return true;
}
