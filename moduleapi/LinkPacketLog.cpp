#include <cstring>

#include "Link.h"
#include "LinkImpl.h"
#include "unix_file.h"
#include "unix_time.h"

namespace Halvik {
namespace Zepric {

namespace {
constexpr uint32_t kEntryLimit = 64;
constexpr uint32_t kIdleSleepMS = 5;
const char kStartText[] = "START";
}  // namespace

void Link::impl::readDebugBuffer(aUnixFile* file, uint32_t linkID) {
  uint8_t entry[kEntryLimit];
  uint8_t direction = 0;
  uint32_t length = sizeof entry;
  if (aLink_PacketDebug_Read(linkID, &direction, &length, entry) != aErrNone) {
    aTime_MSSleep(kIdleSleepMS);
    return;
  }
  aFile_Printf(file, "%d %s ", static_cast<int>(length), direction == aLINK_LOG_SENT ? ">" : "<");
  for (uint32_t i = 0; i < length; ++i) {
    if (direction == aLINK_LOG_TEXT)
      aFile_Printf(file, "%c", entry[i]);
    else
      aFile_Printf(file, "0x%X ", entry[i]);
  }
  aFile_Printf(file, "\r\n");
}

aErr Link::enablePacketLog(const char* path) {
  if (m_impl->id == 0) return aErrConfiguration;
  aErr err = aLink_PacketDebug_Enable(m_impl->id);
  if (err != aErrNone) return err;
  if (!m_impl->logger) {
    m_impl->logger = aLogger_Create(m_impl->id, impl::readDebugBuffer, path);
    if (!m_impl->logger) return aErrIO;
  }
  err = aLogger_Enable(m_impl->logger);
  if (err == aErrNone)
    aLink_PacketDebug_Write(m_impl->id, aLINK_LOG_TEXT, sizeof kStartText,
                            reinterpret_cast<const uint8_t*>(kStartText));
  return err;
}

aErr Link::disablePacketLog() {
  aErr err = aLink_PacketDebug_Disable(m_impl->id);
  if (m_impl->logger) {
    aErr stopped = aLogger_Disable(m_impl->logger);
    if (err == aErrNone) err = stopped;
  }
  return err;
}

}  // namespace Zepric
}  // namespace Halvik
