#pragma once

#include <string>

#include "UpdaterStoreItem.h"

// Shared by the store and its items: both search and walk directories the same way.
namespace store_directory {

// Makes sure `path` is a directory, creating it with its parents; throws
// std::runtime_error when it can't be created or a file stands in its place.
void Ensure(const std::string& path);

// Lists `directory` and answers whether an entry's own name contains `text`; when one does
// and `item` is given, fills it from the first such entry and loads its settings.
bool Search(const std::string& directory, const std::string& text, UpdaterStoreItem* item);

// Splits an entry's full path at its last "/" into the containing directory and the name.
void SplitPath(const std::string& path, std::string& base, std::string& name);

}  // namespace store_directory
