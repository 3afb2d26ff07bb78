#include "ModuleCore.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "UeiCodec.h"

namespace virtualmodule {

namespace {

constexpr uint8_t kHeartbeatCommand = 0;

std::string addressNote(const char* text, uint8_t address) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s 0x%02X", text, address);
  return buffer;
}

void changeLength(Packet& packet, int change) {
  if (change < 0) {
    packet.payload.resize(packet.payload.size() - std::min<size_t>(packet.payload.size(), size_t(-change)));
  } else {
    packet.payload.resize(std::min<size_t>(kMaxPayload, packet.payload.size() + size_t(change)), 0);
  }
}

void misnumber(std::vector<Packet>& replies, Faults::Sequence sequence) {
  if (replies.size() < 2) return;
  if (sequence == Faults::Sequence::Swap) std::swap(replies[0], replies[1]);
  if (sequence == Faults::Sequence::Skip) {
    for (size_t i = 1; i < replies.size(); ++i) {
      uint8_t& last = replies[i].payload.back();
      last = uint8_t((last & 0x80) | ((i + 1) & 0x7F));
    }
  }
}

}  // namespace

ModuleCore::ModuleCore(DeviceModel primary) : primaryAddress_(primary.moduleAddress) {
  if (primaryAddress_ == 0 || (primaryAddress_ & 1)) throw std::invalid_argument("module address must be even and not 0");
  nodes_[primaryAddress_] = std::make_unique<ModuleNode>(std::move(primary));
}

void ModuleCore::addModule(DeviceModel device) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint8_t address = device.moduleAddress;
  if (address == 0 || (address & 1) || nodes_.count(address))
    throw std::invalid_argument("module address must be even, not 0 and not taken");
  device.routerAddress = primaryAddress_;
  nodes_[address] = std::make_unique<ModuleNode>(std::move(device));
}

void ModuleCore::attach(HostSink& sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sink_) event("connection replaced");
  sink_ = &sink;
  resetLinkState();
  event("connected");
}

void ModuleCore::detach() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!sink_) return;
  sink_ = nullptr;
  resetLinkState();
  event("disconnected");
}

void ModuleCore::resetLinkState() {
  framer_.reset();
  linkStarted_ = false;
  heartbeatOutstanding_ = false;
  heartbeatValue_ = 0;
  nextHeartbeat_ = {};
}

void ModuleCore::fromHost(const uint8_t* bytes, size_t count, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<HostFramer::Frame> frames;
  framer_.feed(bytes, count, now, frames);
  for (const auto& frame : frames) {
    // A dropped link takes the rest of what was in flight with it.
    if (!sink_) break;
    handleFrame(frame, now);
  }
}

void ModuleCore::handleFrame(const HostFramer::Frame& frame, Clock::time_point now) {
  using Kind = HostFramer::Kind;
  using Direction = TrafficEntry::Direction;
  switch (frame.kind) {
    case Kind::Garbage:
      record(Direction::FromHost, frame.bytes, "garbage");
      return;
    case Kind::AddressQuery:
      record(Direction::FromHost, frame.bytes, "address query");
      if (faults_.silent) return event("silent: address withheld");
      write(Packet{primaryAddress_, {}}.serialize());
      return;
    case Kind::LinkControl: {
      const uint8_t value = frame.packet.payload[0];
      record(Direction::FromHost, frame.bytes, value == 1 ? "link start" : value == 0 ? "link stop" : "link control");
      if (value == 0) {
        linkStarted_ = false;
        heartbeatOutstanding_ = false;
      } else if (value == 1) {
        linkStarted_ = true;
        nextHeartbeat_ = {};
        tickLocked(now);  // schedules the first heartbeat
        if (faults_.garbageOnLinkStart && !faults_.silent) write(faults_.garbage, "garbage");
      }
      return;
    }
    case Kind::Data:
      record(Direction::FromHost, frame.bytes, {});
      handleData(frame.packet);
      return;
  }
}

void ModuleCore::handleData(const Packet& packet) {
  if (packet.address == primaryAddress_ && packet.payload.size() == 2 && packet.payload[0] == kHeartbeatCommand)
    return handleHeartbeatAnswer(packet.payload[1]);

  if (faults_.dropAfterPackets > 0 && ++dataPackets_ >= faults_.dropAfterPackets) {
    faults_.dropAfterPackets = 0;
    dataPackets_ = 0;
    return dropLinkLocked("fault");
  }

  auto found = nodes_.find(packet.address);
  if (found == nodes_.end()) {
    auto request = parseUeiRequest(packet.payload);
    if (faults_.answerAbsent && request) {
      Outcome outcome;
      outcome.replies.push_back(ueiErrorReply(packet.address, *request, ErrorCode::NotFound));
      return sendReplies(outcome);
    }
    return event(addressNote("no module at", packet.address));
  }
  ModuleNode& node = *found->second;
  Outcome outcome = node.handle(packet.payload);
  if (outcome.replies.empty()) event("no reply");
  sendReplies(outcome);
  if (outcome.restart) {
    node.restart();
    event(addressNote("restart of", packet.address));
    // The module on the link takes the link down with it; those behind it just start over.
    if (packet.address == primaryAddress_) dropLinkLocked("restart");
  }
}

void ModuleCore::handleHeartbeatAnswer(uint8_t value) {
  if (heartbeatOutstanding_ && value == expectedAnswer_) {
    ++heartbeatStats_.answered;
    event("heartbeat answered");
  } else {
    ++heartbeatStats_.wrong;
    event("heartbeat answer wrong");
  }
  heartbeatOutstanding_ = false;
}

void ModuleCore::sendReplies(Outcome& outcome) {
  if (outcome.replies.empty()) return;
  if (faults_.silent) return event("silent: reply withheld");
  if (outcome.sequenced) misnumber(outcome.replies, faults_.sequence);
  for (Packet& reply : outcome.replies) {
    auto change = faults_.lengthChange.find(reply.payload.empty() ? 0 : reply.payload[0]);
    if (change != faults_.lengthChange.end()) changeLength(reply, change->second);
    if (faults_.garbageBeforeReplies > 0) {
      --faults_.garbageBeforeReplies;
      write(faults_.garbage, "garbage");
    }
    write(reply.serialize());
  }
}

void ModuleCore::tick(Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  tickLocked(now);
}

void ModuleCore::tickLocked(Clock::time_point now) {
  const uint8_t tenths = nodes_.at(primaryAddress_)->device().heartbeatTenths;
  if (!sink_ || !linkStarted_ || tenths == 0 || faults_.silent) return;
  const auto interval = std::chrono::milliseconds(100 * tenths);
  if (nextHeartbeat_ == Clock::time_point{}) nextHeartbeat_ = now + interval;
  if (now < nextHeartbeat_) return;
  if (heartbeatOutstanding_) {
    ++heartbeatStats_.missed;
    event("heartbeat missed");
  }
  ++heartbeatStats_.sent;
  expectedAnswer_ = uint8_t(heartbeatValue_ + 2);
  heartbeatOutstanding_ = true;
  write(Packet{primaryAddress_, {kHeartbeatCommand, heartbeatValue_}}.serialize(), "heartbeat");
  ++heartbeatValue_;
  nextHeartbeat_ = now + interval;
}

void ModuleCore::write(const std::vector<uint8_t>& bytes, std::string note) {
  if (!sink_) return;
  sink_->toHost(bytes);
  record(TrafficEntry::Direction::ToHost, bytes, std::move(note));
}

void ModuleCore::record(TrafficEntry::Direction direction, std::vector<uint8_t> bytes, std::string note) {
  traffic_.add(TrafficEntry{direction, std::move(bytes), std::move(note), Clock::now()});
}

void ModuleCore::dropLinkLocked(const char* reason) {
  if (!sink_) return;
  event(std::string("drop link: ") + reason);
  sink_->dropLink();
  sink_ = nullptr;
  resetLinkState();
}

void ModuleCore::sendGarbage(const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  write(bytes, "garbage");
}

void ModuleCore::dropLink() {
  std::lock_guard<std::mutex> lock(mutex_);
  dropLinkLocked("asked");
}

void ModuleCore::note(std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  event(std::move(text));
}

void ModuleCore::withModule(uint8_t address, const std::function<void(ModuleNode&)>& action) {
  std::lock_guard<std::mutex> lock(mutex_);
  action(*nodes_.at(address));
}

DeviceModel ModuleCore::device(uint8_t address) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodes_.at(address)->device();
}

Faults ModuleCore::faults() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return faults_;
}

void ModuleCore::setFaults(Faults faults) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_ = std::move(faults);
  dataPackets_ = 0;
}

bool ModuleCore::connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sink_ != nullptr;
}

bool ModuleCore::linkStarted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return linkStarted_;
}

HeartbeatStats ModuleCore::heartbeats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return heartbeatStats_;
}

std::vector<TrafficEntry> ModuleCore::traffic() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return traffic_.entries();
}

std::vector<Packet> ModuleCore::packetsFromHost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Packet> packets;
  for (const auto& entry : traffic_.entries())
    if (entry.direction == TrafficEntry::Direction::FromHost && entry.note.empty())
      packets.push_back(Packet{entry.bytes[0], {entry.bytes.begin() + 2, entry.bytes.end()}});
  return packets;
}

void ModuleCore::clearTraffic() {
  std::lock_guard<std::mutex> lock(mutex_);
  traffic_.clear();
}

void ModuleCore::setTrafficObserver(std::function<void(const TrafficEntry&)> observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  traffic_.setObserver(std::move(observer));
}

}  // namespace virtualmodule
