#include <gtest/gtest.h>

#include <stdexcept>

#include "FakeUpdateServer.h"
#include "HTTPRequest.h"

namespace {

// A server that takes the request and then never answers must not hold the run for ever:
// after a minute without a byte the GET gives up with the transport's time-out error.
TEST(HTTPRequestStall, AServerThatNeverAnswersEndsInATimeout) {
  FakeUpdateServer server;
  FakeUpdateServer::Answer hang;
  hang.delay_ms = FakeUpdateServer::kHang;
  server.set_answer("bird", hang);
  try {
    HTTPRequest::GET(server.url(), {{"op", "bird"}});
    ADD_FAILURE() << "a stalled server answered";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Timeout was reached");
  }
}

}  // namespace
