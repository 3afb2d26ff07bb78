#pragma once

#include <memory>
#include <string>

#include "Link.h"
#include "aLogger.h"

namespace Halvik {
namespace Zepric {

struct Link::impl {
  std::string name;
  aLinkID id = 0;
  std::unique_ptr<linkSpec> spec;
  aLogger* logger = nullptr;

  // Runs over and over on the logger thread: moves one packet-log entry into the file.
  static void readDebugBuffer(aUnixFile* file, uint32_t linkID);
};

// Reply timeouts of module conversations.
constexpr uint32_t kReplyTimeoutMS = 1000;

}  // namespace Zepric
}  // namespace Halvik
