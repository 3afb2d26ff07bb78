#pragma once
#include <cstdint>
#include <map>
#include <vector>

namespace virtualmodule {

// Misbehaviour on request, to see how the host copes.
struct Faults {
  enum class Sequence { InOrder, Skip, Swap };

  bool silent = false;                  // answers nothing at all, not even heartbeats
  std::map<uint8_t, int> lengthChange;  // command byte -> bytes added to (or cut from) each reply
  std::vector<uint8_t> garbage = {0x05};
  bool garbageOnLinkStart = false;      // garbage right after the host starts the link
  int garbageBeforeReplies = 0;         // this many replies are each preceded by garbage
  int dropAfterPackets = 0;             // the link drops on this many-th data packet (once)
  Sequence sequence = Sequence::InOrder;  // numbering of multi-packet replies
  bool answerAbsent = false;            // UEI requests to absent addresses get an error at once
};

}  // namespace virtualmodule
