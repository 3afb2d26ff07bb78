#include "HostFramer.h"

namespace virtualmodule {

namespace {

bool startsFrame(uint8_t byte) {
  return byte == kAddressQuery || byte == kLinkControl || (byte != 0 && (byte & 1) == 0);
}

// Control addresses carry a fixed length; anything else there is a broken frame.
bool lengthFits(uint8_t address, uint8_t length) {
  if (address == kAddressQuery) return length == 0;
  if (address == kLinkControl) return length == 1;
  return length <= kMaxPayload;
}

}  // namespace

void HostFramer::feed(const uint8_t* data, size_t count, Clock::time_point now, std::vector<Frame>& out) {
  if (count == 0) return;
  if (!partial_.empty() && now - lastByte_ > staleAfter_) emitGarbage(out);
  lastByte_ = now;
  for (size_t i = 0; i < count; ++i) consume(data[i], out);
}

void HostFramer::emitGarbage(std::vector<Frame>& out) {
  if (!out.empty() && out.back().kind == Kind::Garbage) {
    out.back().bytes.insert(out.back().bytes.end(), partial_.begin(), partial_.end());
  } else {
    out.push_back(Frame{Kind::Garbage, Packet{}, partial_});
  }
  partial_.clear();
}

void HostFramer::consume(uint8_t byte, std::vector<Frame>& out) {
  partial_.push_back(byte);
  if (partial_.size() == 1) {
    if (!startsFrame(byte)) emitGarbage(out);
    return;
  }
  const uint8_t address = partial_[0];
  const uint8_t length = partial_[1];
  if (partial_.size() == 2 && !lengthFits(address, length)) {
    emitGarbage(out);
    return;
  }
  if (partial_.size() < size_t(length) + 2) return;

  Frame frame{Kind::Data, Packet{address, {partial_.begin() + 2, partial_.end()}}, partial_};
  if (address == kAddressQuery) frame.kind = Kind::AddressQuery;
  if (address == kLinkControl) frame.kind = Kind::LinkControl;
  out.push_back(std::move(frame));
  partial_.clear();
}

}  // namespace virtualmodule
