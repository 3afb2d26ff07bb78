#include "UpdaterStoreItem.h"

#include <stdexcept>

#include "AtomicFile.h"
#include "StoreDirectory.h"
#include "path.h"

UpdaterStoreItem::UpdaterStoreItem() : kind(STORE_ITEM_NONE) {}

UpdaterStoreItem::UpdaterStoreItem(const std::string& base, const std::string& name,
                                   store_item_t kind)
    : base(base), name(name), kind(kind) {
  settings.Load(BuildPath(base, name, KeyValueStore::DEFAULT_FILENAME).c_str());
}

bool UpdaterStoreItem::IsValid() const { return !base.empty() && !name.empty(); }

std::string UpdaterStoreItem::Path() const { return BuildPath(base, name); }

bool UpdaterStoreItem::FileExists(const std::string& file) const {
  return store_directory::Search(Path(), file, nullptr);
}

aErr UpdaterStoreItem::WriteFile(const std::string& file, const void* data, size_t length) const {
  if (!data) return aErrNotFound;
  switch (WriteFileAtomically(BuildPath(base, name, file), data, length)) {
    case AtomicWriteResult::Written:
      return aErrNone;
    case AtomicWriteResult::OpenFailed:
      return aErrNotFound;
    case AtomicWriteResult::WriteFailed:
      break;
  }
  return aErrIO;
}

BirdFile UpdaterStoreItem::ReadBirdFile(const std::string& file) const {
  std::string path = BuildPath(base, name, file);
  if (!BirdFile::VerifyFile(path)) throw std::runtime_error("Invalid bird " + path);
  return BirdFile(path);
}
