#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "DeviceModel.h"
#include "Faults.h"
#include "HostFramer.h"
#include "ModuleNode.h"
#include "TrafficLog.h"

namespace virtualmodule {

// Where the core's bytes go: the transport that carries the link to the host.
class HostSink {
 public:
  virtual ~HostSink() = default;
  virtual void toHost(const std::vector<uint8_t>& bytes) = 0;
  // The module drops off the link (a restart, or a fault asked for); the transport closes it.
  // Both are called with the core locked, so they must not call back into the core.
  virtual void dropLink() = 0;
};

struct HeartbeatStats {
  unsigned sent = 0;
  unsigned answered = 0;  // answered with the expected value
  unsigned wrong = 0;     // answered with another value, or unasked
  unsigned missed = 0;    // the next heartbeat was due before an answer came
};

// The module side of one link, independent of the transport: bytes from the host go in, bytes
// for the host come out through the sink, and the transport's clock drives the heartbeats. The
// first module is the one on the link; modules added later sit behind it on its module network
// and are reached through it, which makes the first one a router. All methods may be called
// from any thread.
class ModuleCore {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ModuleCore(DeviceModel primary);

  // Adds a module behind the router. Its router address becomes the router's own address.
  // Throws std::invalid_argument for an address that is odd, 0 or already taken.
  void addModule(DeviceModel device);

  // A transport connection came up (it replaces any previous one) or went away.
  void attach(HostSink& sink);
  void detach();

  void fromHost(const uint8_t* bytes, size_t count, Clock::time_point now);
  void tick(Clock::time_point now);

  // Immediate actions for tests.
  void sendGarbage(const std::vector<uint8_t>& bytes);
  void dropLink();
  // Records an event that happened outside the link (discovery, for instance).
  void note(std::string text);

  // Runs the action on one module under the core's lock (to change its device data or install
  // a handler); the action must not call back into the core. Throws std::out_of_range for an
  // address without a module.
  void withModule(uint8_t address, const std::function<void(ModuleNode&)>& action);
  DeviceModel device(uint8_t address) const;
  uint8_t primaryAddress() const { return primaryAddress_; }

  Faults faults() const;
  void setFaults(Faults faults);

  bool connected() const;
  bool linkStarted() const;
  HeartbeatStats heartbeats() const;

  std::vector<TrafficEntry> traffic() const;
  // The data packets the host sent, in order (control traffic and garbage left out).
  std::vector<Packet> packetsFromHost() const;
  void clearTraffic();
  // Called, under the core's lock, for every entry as it is recorded.
  void setTrafficObserver(std::function<void(const TrafficEntry&)> observer);

 private:
  void handleFrame(const HostFramer::Frame& frame, Clock::time_point now);
  void handleData(const Packet& packet);
  void handleHeartbeatAnswer(uint8_t value);
  void tickLocked(Clock::time_point now);
  void sendReplies(Outcome& outcome);
  void write(const std::vector<uint8_t>& bytes, std::string note = {});
  void record(TrafficEntry::Direction direction, std::vector<uint8_t> bytes, std::string note);
  void event(std::string note) { record(TrafficEntry::Direction::Event, {}, std::move(note)); }
  void dropLinkLocked(const char* reason);
  void resetLinkState();

  mutable std::mutex mutex_;
  uint8_t primaryAddress_;
  std::map<uint8_t, std::unique_ptr<ModuleNode>> nodes_;
  Faults faults_;
  TrafficLog traffic_;
  HostFramer framer_;
  HostSink* sink_ = nullptr;
  bool linkStarted_ = false;
  int dataPackets_ = 0;

  HeartbeatStats heartbeatStats_;
  Clock::time_point nextHeartbeat_{};
  uint8_t heartbeatValue_ = 0;
  bool heartbeatOutstanding_ = false;
  uint8_t expectedAnswer_ = 0;
};

}  // namespace virtualmodule
