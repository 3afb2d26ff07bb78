#include "UpdateServerRequest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "FakeUpdateServer.h"
#include "TraceCapture.h"
#include "Log.h"

namespace {

using Answer = FakeUpdateServer::Answer;
using Builds = std::map<std::string, std::string>;

constexpr uint32_t kSerial = 0x40F5849A;

Answer Body(const std::string& body, int status = 200) {
  Answer answer;
  answer.status = status;
  answer.body = body;
  return answer;
}

class UpdateServerRequestTest : public ::testing::Test {
 protected:
  const char* url() {
    url_ = server.url();
    return url_.c_str();
  }
  FakeUpdateServer server;
  std::string url_;
};

TEST_F(UpdateServerRequestTest, EachQuerySendsItsParametersInNameOrder) {
  std::string build, fw, bird;
  Builds builds;
  uint32_t serial = 0, recovered = 0;
  const uint32_t fingerprint[4] = {0x1, 0xABCDEF01, 0x0, 0xFFFFFFFF};
  for (const char* op : {"qu", "builds", "bird", "fix"}) server.set_answer(op, Body("ok\n"));

  EXPECT_TRUE(UpdateServerRequest::ping(url()));
  EXPECT_TRUE(UpdateServerRequest::QueryBuild(kSerial, build, fw, url()));
  EXPECT_TRUE(UpdateServerRequest::GetBuildList(0x1234, builds, url()));
  EXPECT_TRUE(UpdateServerRequest::GetBuild(kSerial, "FW-1.2", "99528558", bird, url(), false));
  EXPECT_TRUE(UpdateServerRequest::GetBuild(kSerial, "F", "1", bird, url(), true));
  EXPECT_TRUE(UpdateServerRequest::GetRecoveryInfo(fingerprint, serial, recovered, url()));

  std::vector<std::string> expected = {
      "/cgi/u?op=hi&rv=2&",
      "/cgi/u?op=qu&sn=40F5849A&",
      "/cgi/u?op=builds&sn=00001234&",
      "/cgi/u?bld=99528558&fw=FW-1.2&no_cal=false&op=bird&sn=40F5849A&",
      "/cgi/u?bld=1&fw=F&no_cal=true&op=bird&sn=40F5849A&",
      "/cgi/u?brief=true&fp=00000001%20ABCDEF01%2000000000%20FFFFFFFF&op=fix&",
  };
  EXPECT_EQ(server.requests(), expected);
}

// Every query shares the acceptance rule; ping shows it.
TEST_F(UpdateServerRequestTest, OnlyA200WhoseFirstLineBeginsWithOkSucceeds) {
  const struct {
    Answer answer;
    bool ok;
  } cases[] = {
      {Body("ok\n"), true},     {Body("okay\n"), true},      {Body("ok"), true},
      {Body("\n\nok\n"), true}, {Body("ok\r\n"), true},      {Body("OK\n"), false},
      {Body("o\nk\n"), false},  {Body(""), false},           {Body("\n\n"), false},
      {Body("ok\n", 404), false}, {Body("ok\n", 301), false}, {Body("ok\n", 500), false},
  };
  for (const auto& c : cases) {
    server.set_answer("hi", c.answer);
    EXPECT_EQ(UpdateServerRequest::ping(url()), c.ok)
        << "[" << c.answer.body << "] status " << c.answer.status;
  }
}

TEST_F(UpdateServerRequestTest, QueryBuildReadsPresentLinesOnly) {
  const struct {
    const char* body;
    const char* build;
    const char* fw;
  } cases[] = {
      {"ok\n99528558\nFW-2\n", "99528558", "FW-2"},
      {"ok\n\n\n99528558\n\nFW-2", "99528558", "FW-2"},  // blank lines don't shift lines
      {"ok\r\n99528558\r\nFW-2\r\n", "99528558\r", "FW-2"},
      {"ok\n77\n", "77", "before"},
      {"ok\n", "before", "before"},
  };
  for (const auto& c : cases) {
    server.set_answer("qu", Body(c.body));
    std::string build = "before", fw = "before";
    EXPECT_TRUE(UpdateServerRequest::QueryBuild(kSerial, build, fw, url())) << c.body;
    EXPECT_EQ(build, c.build) << c.body;
    EXPECT_EQ(fw, c.fw) << c.body;
  }
}

TEST_F(UpdateServerRequestTest, GetBuildListKeepsTheFirstEntryPerBuild) {
  const struct {
    const char* body;
    Builds expected;
  } cases[] = {
      {"ok\n1001;first\n1002\n1001;again\n", {{"1001", "first"}, {"1002", ""}}},
      {"ok\n12\n1003;v1;extra\r\n1004;\n", {{"1003", "v1"}, {"1004", ""}}},
      {"ok\r\n99\r\n100;2.1.0\r\n", {{"100", "2.1.0"}}},  // "99\r" is two characters
      {"ok\n", {}},
  };
  for (const auto& c : cases) {
    server.set_answer("builds", Body(c.body));
    Builds builds = {{"stale", "x"}};
    EXPECT_TRUE(UpdateServerRequest::GetBuildList(kSerial, builds, url())) << c.body;
    EXPECT_EQ(builds, c.expected) << c.body;
  }
}

TEST_F(UpdateServerRequestTest, GetBuildTakesTheWholeSecondLine) {
  const struct {
    const char* body;
    const char* bird;
  } cases[] = {
      {"ok\nYmlyZA==\n", "YmlyZA=="},
      {"ok\nYmlyZA==\r\n", "YmlyZA==\r"},  // kept: the decoder refuses it later
      {"ok\n", ""},
  };
  for (const auto& c : cases) {
    server.set_answer("bird", Body(c.body));
    std::string bird = "before";
    EXPECT_TRUE(UpdateServerRequest::GetBuild(kSerial, "FW", "1", bird, url(), false));
    EXPECT_EQ(bird, c.bird);
  }
}

TEST_F(UpdateServerRequestTest, GetRecoveryInfoReadsHexSerialAndAutomaticBaseBuild) {
  const struct {
    const char* body;
    uint32_t serial;
    uint32_t build;
  } cases[] = {
      {"ok\n40F5849A\n99528558\n", 0x40F5849A, 99528558},
      {"ok\n0x40f5849a\n010\n", 0x40F5849A, 8},
      {"ok\n1\n0x10\n", 1, 16},
      {"ok\n2\n", 2, 7},
      {"ok\n", 5, 7},
  };
  const uint32_t fingerprint[4] = {1, 2, 3, 4};
  for (const auto& c : cases) {
    server.set_answer("fix", Body(c.body));
    uint32_t serial = 5, build = 7;
    EXPECT_TRUE(UpdateServerRequest::GetRecoveryInfo(fingerprint, serial, build, url()));
    EXPECT_EQ(serial, c.serial) << c.body;
    EXPECT_EQ(build, c.build) << c.body;
  }
}

TEST_F(UpdateServerRequestTest, FailedQueriesLeaveTheirOutputsAlone) {
  for (const char* op : {"qu", "builds", "bird", "fix"}) server.set_answer(op, Body("ok\n1\n2\n", 404));
  std::string build = "b", fw = "f", bird = "x";
  Builds builds = {{"stale", ""}};
  uint32_t serial = 5, recovered = 7;
  const uint32_t fingerprint[4] = {1, 2, 3, 4};

  EXPECT_FALSE(UpdateServerRequest::QueryBuild(kSerial, build, fw, url()));
  EXPECT_FALSE(UpdateServerRequest::GetBuildList(kSerial, builds, url()));
  EXPECT_FALSE(UpdateServerRequest::GetBuild(kSerial, "FW", "1", bird, url(), false));
  EXPECT_FALSE(UpdateServerRequest::GetRecoveryInfo(fingerprint, serial, recovered, url()));
  EXPECT_EQ(build, "b");
  EXPECT_EQ(fw, "f");
  EXPECT_EQ(bird, "x");
  EXPECT_TRUE(builds.empty()) << "the list is emptied before it is asked for";
  EXPECT_EQ(serial, 5u);
  EXPECT_EQ(recovered, 7u);
}

// The trace is the only place a failure shows, so its lines are checked as written.
class UpdateServerTrace : public UpdateServerRequestTest {
 protected:
  std::string written() { return capture.text(); }
  TraceCapture capture{DEBUG_ServerComm};
};

TEST_F(UpdateServerTrace, FailuresAreTracedWithTheQueryName) {
  server.set_answer("hi", Body("down", 503));
  server.set_answer("qu", Body("no\n"));
  server.set_answer("builds", Body("gone", 404));
  std::string build, fw;
  Builds builds;
  EXPECT_FALSE(UpdateServerRequest::ping(url()));
  EXPECT_FALSE(UpdateServerRequest::QueryBuild(kSerial, build, fw, url()));
  EXPECT_FALSE(UpdateServerRequest::GetBuildList(kSerial, builds, url()));
  EXPECT_FALSE(UpdateServerRequest::GetBuild(kSerial, "FW", "1", build, "http://[::1/cgi/u", false));

  std::string trace = written();
  for (const std::string& line : {
           "GET(" + server.url() + "?op=hi&rv=2&)\n",
           std::string("PING ==> [503] [down]\n"),
           "ServerCommClass: QueryBuild failed [" + server.url() + "?op=qu&sn=40F5849A&]\n",
           std::string("GetBuildList ==> [404] [gone]\n"),
           std::string("GetBuild ==> [URL using bad/illegal format or missing URL]\n"),
       })
    EXPECT_NE(trace.find(line), std::string::npos) << line << "not in:\n" << trace;
}

TEST_F(UpdateServerTrace, SuccessfulListsAndRecoveryInfoTraceWhatTheyRead) {
  server.set_answer("builds", Body("ok\n12\n12345678901;version-text-long\n"));
  server.set_answer("fix", Body("ok\n0123456789ABCDEF0123456789\n8\n"));
  Builds builds;
  uint32_t serial = 0, build = 0;
  const uint32_t fingerprint[4] = {1, 2, 3, 4};
  EXPECT_TRUE(UpdateServerRequest::GetBuildList(kSerial, builds, url()));
  EXPECT_TRUE(UpdateServerRequest::GetRecoveryInfo(fingerprint, serial, build, url()));

  std::string trace = written();
  for (const char* line : {
           "rcv_data returns 36\n",
           "GetBuildList processing entry: [12345678901;version-text-long]\n",
           "GetBuildList [1234567890][version-te]\n",
           "GetRecoveryInfo [ok][0123456789ABCDEF0123][8]\n",
       })
    EXPECT_NE(trace.find(line), std::string::npos) << line << "not in:\n" << trace;
  EXPECT_EQ(trace.find("processing entry: [12]"), std::string::npos);
}

}  // namespace
