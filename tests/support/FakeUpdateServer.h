#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// A scripted update server for tests.
//
// It listens on 127.0.0.1 at an ephemeral port from construction to destruction and answers
// GET /cgi/u by the value of the request's "op" parameter:
//   - op=hi (ping) answers "ok" unless scripted otherwise;
//   - any op nobody scripted answers status 404;
//   - any other path answers 404.
// Script an op with a fixed Answer (set_answer, or the answer_* helpers that write the
// server's own line formats) or with a Handler that sees the query parameters.
//
// Every request is recorded as its target exactly as the client sent it (path and query,
// no decoding), for example "/cgi/u?op=qu&sn=40F5849A&", so tests can assert query strings
// byte for byte.
//
//   FakeUpdateServer server;
//   server.answer_current_build(99528558, "FW1");
//   server.answer_builds({{"99528558", "2.1.0"}});
//   server.answer_bird(bird_bytes);
//   run updater with -u server.url() ...
//   EXPECT_EQ(server.requests()[1], "/cgi/u?op=qu&sn=40F5849A&");
//
// Faults: an Answer can carry any status and body (non-200, redirects with a Location, a
// body without "ok", random bytes), be held back for a while or until the server is
// destroyed (a hang), or be cut off after half of its body with the connection closed.
class FakeUpdateServer {
 public:
  static constexpr int kHang = -1;  // Answer::delay_ms: hold the answer until destruction

  struct Answer {
    int status = 200;
    std::string body;
    std::string location;         // sent as a Location header when not empty
    int delay_ms = 0;             // wait this long before answering, or kHang
    bool close_mid_body = false;  // announce the whole body, send half of it, then close
  };
  // Query parameters exactly as sent (no percent-decoding); a repeated name keeps its first.
  using Parameters = std::map<std::string, std::string>;
  using Handler = std::function<Answer(const Parameters&)>;

  FakeUpdateServer();
  ~FakeUpdateServer();
  FakeUpdateServer(const FakeUpdateServer&) = delete;
  FakeUpdateServer& operator=(const FakeUpdateServer&) = delete;

  uint16_t port() const;
  std::string url() const;  // "http://127.0.0.1:PORT/cgi/u", for -u

  void set_answer(const std::string& op, const Answer& answer);
  void set_handler(const std::string& op, Handler handler);

  // 200 with the lines joined by line feeds, each line ended by one.
  static Answer Lines(const std::vector<std::string>& lines);

  // op=qu: "ok", the build number, the FW text.
  void answer_current_build(uint32_t build, const std::string& fw = "FW");
  // op=builds: "ok", then one "BUILD;VERSION" line per entry (just "BUILD" when the
  // version is empty), in the order given.
  void answer_builds(const std::vector<std::pair<std::string, std::string>>& builds);
  // op=bird: "ok", then the file in base64 on one line (BirdAnswer: the same answer, to be
  // changed, say delayed, before set_answer("bird", ...)).
  void answer_bird(const std::vector<uint8_t>& file);
  static Answer BirdAnswer(const std::vector<uint8_t>& file);
  // op=fix: "ok", the serial number as 8 hex digits, the build in decimal.
  void answer_recovery(uint32_t serialNumber, uint32_t build);

  // Targets of all requests so far, in arrival order.
  std::vector<std::string> requests() const;
  // The query parameters of the requests so far whose op is the given one.
  std::vector<Parameters> requests_for(const std::string& op) const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl;
};
