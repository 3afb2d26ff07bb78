#include "HTTPRequest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <string>

#include "FakeUpdateServer.h"

namespace {

using Answer = FakeUpdateServer::Answer;

TEST(HTTPRequestURL, ParametersInNameOrderEachFollowedByAmpersandAndNeverEncoded) {
  const struct {
    HTTPRequest::Parameters parameters;
    const char* expected;
  } cases[] = {
      {{}, "http://h/cgi/u"},
      {{{"op", "hi"}, {"rv", "2"}}, "http://h/cgi/u?op=hi&rv=2&"},
      {{{"sn", "1"}, {"op", "qu"}, {"bld", "7"}}, "http://h/cgi/u?bld=7&op=qu&sn=1&"},
      {{{"fp", "A%20B"}, {"x", "a b&c"}}, "http://h/cgi/u?fp=A%20B&x=a b&c&"},
      {{{"Z", ""}, {"a", "v"}}, "http://h/cgi/u?Z=&a=v&"},  // byte order: upper case first
  };
  for (const auto& c : cases)
    EXPECT_EQ(HTTPRequest::BuildURL("http://h/cgi/u", c.parameters), c.expected);
}

class HTTPRequestGet : public ::testing::Test {
 protected:
  FakeUpdateServer server;
};

TEST_F(HTTPRequestGet, AnswersStatusBodyAndTheExactURLRequested) {
  server.set_answer("qu", FakeUpdateServer::Lines({"ok", "42"}));
  HTTPResponse response = HTTPRequest::GET(server.url(), {{"op", "qu"}, {"sn", "00000001"}});
  EXPECT_EQ(response.get_status(), 200);
  EXPECT_EQ(response.get_response(), "ok\n42\n");
  EXPECT_EQ(response.get_request(), server.url() + "?op=qu&sn=00000001&");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0], "/cgi/u?op=qu&sn=00000001&");
}

TEST_F(HTTPRequestGet, WithoutParametersRequestsTheBaseURLUnchanged) {
  HTTPResponse response = HTTPRequest::GET(server.url(), {});
  EXPECT_EQ(response.get_request(), server.url());
  EXPECT_EQ(server.requests(), std::vector<std::string>{"/cgi/u"});
  EXPECT_EQ(response.get_status(), 404);  // no op: the fake has nothing to say
}

TEST_F(HTTPRequestGet, ALargeBodyArrivingInManyPiecesIsJoinedInOrder) {
  std::string body;
  for (int i = 0; body.size() < 3 * 1024 * 1024; ++i) body += std::to_string(i) + ",";
  Answer answer;
  answer.body = body;
  server.set_answer("big", answer);
  HTTPResponse response = HTTPRequest::GET(server.url(), {{"op", "big"}});
  EXPECT_EQ(response.get_status(), 200);
  EXPECT_TRUE(response.get_response() == body) << "body of " << response.get_response().size()
                                               << " bytes differs";
}

TEST_F(HTTPRequestGet, ErrorStatusesAndRedirectsComeBackWithoutRetryOrFollowing) {
  Answer moved;
  moved.status = 302;
  moved.location = server.url() + "?op=elsewhere&";
  moved.body = "moved";
  server.set_answer("qu", moved);
  HTTPResponse redirected = HTTPRequest::GET(server.url(), {{"op", "qu"}});
  EXPECT_EQ(redirected.get_status(), 302);
  EXPECT_EQ(redirected.get_response(), "moved");

  Answer failed;
  failed.status = 500;
  failed.body = "broken";
  server.set_answer("qu", failed);
  HTTPResponse error = HTTPRequest::GET(server.url(), {{"op", "qu"}});
  EXPECT_EQ(error.get_status(), 500);
  EXPECT_EQ(error.get_response(), "broken");
  EXPECT_EQ(server.requests().size(), 2u);
}

// Each throws a runtime_error carrying the transport library's own text.
TEST_F(HTTPRequestGet, TransportFailuresThrow) {
  Answer cut;
  cut.body = std::string(100000, 'x');
  cut.close_mid_body = true;
  server.set_answer("cut", cut);

  std::string closedPort;
  {
    FakeUpdateServer gone;
    closedPort = std::to_string(gone.port());
  }
  const std::string malformed = "URL using bad/illegal format or missing URL";
  const struct {
    std::string url;
    HTTPRequest::Parameters parameters;
    std::string text;
  } cases[] = {
      {server.url(), {{"op", "cut"}}, "Transferred a partial file"},
      {"http://127.0.0.1:" + closedPort + "/cgi/u", {{"op", "hi"}}, "Couldn't connect to server"},
      {"htp://127.0.0.1/cgi/u", {{"op", "hi"}}, "Unsupported protocol"},
      {"http://[::1/cgi/u", {{"op", "hi"}}, malformed},
      {"http://127.0.0.1:99999/cgi/u", {}, malformed},
      {"", {}, malformed},
  };
  for (const auto& c : cases) {
    try {
      HTTPRequest::GET(c.url, c.parameters);
      ADD_FAILURE() << "no exception for [" << c.url << "]";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), c.text) << c.url;
    }
  }
}

// A GET waits while the server holds the answer back; a server that goes away releases it
// with an error.
TEST(HTTPRequestHang, AHeldAnswerBlocksUntilTheServerGoesAway) {
  auto server = std::make_unique<FakeUpdateServer>();
  Answer hang;
  hang.delay_ms = FakeUpdateServer::kHang;
  server->set_answer("bird", hang);
  std::string url = server->url();

  std::promise<std::string> outcome;
  std::future<std::string> done = outcome.get_future();
  std::thread client([&] {
    try {
      HTTPRequest::GET(url, {{"op", "bird"}});
      outcome.set_value("answered");
    } catch (const std::runtime_error& e) {
      outcome.set_value(e.what());
    }
  });
  while (server->requests().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(done.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  server.reset();
  client.join();
  EXPECT_EQ(done.get(), "Server returned nothing (no headers, no data)");
}

}  // namespace
