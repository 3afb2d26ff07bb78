#include "Options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Log.h"
#include "RecordingDisplay.h"

namespace {

struct Parsed {
  int result;
  Parameters parameters;
  std::vector<std::string> errors;
};

Parsed Parse(std::vector<std::string> words) {
  words.insert(words.begin(), "/usr/local/bin/updater");
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  RecordingDisplay display;
  Parsed parsed;
  parsed.result = _get_params(display, static_cast<int>(argv.size()), argv.data(),
                              parsed.parameters);
  parsed.errors = display.Texts(UpdaterDisplayInterface::ERROR);
  return parsed;
}

TEST(GetParams, DefaultsOfAnEmptyCommandLine) {
  Parsed parsed = Parse({});
  EXPECT_EQ(parsed.result, 0);
  const Parameters& p = parsed.parameters;
  EXPECT_FALSE(p.commands.IsSet(0xFFFFFFFF));
  EXPECT_EQ(p.transport, 1u);
  EXPECT_EQ(p.baudRate, 115200u);
  EXPECT_EQ(p.logFileName, "Updater.log");
  EXPECT_EQ(p.serverURL, UPDATER_DEFAULT_SERVER_URL);
  EXPECT_EQ(p.appName, "updater");
  EXPECT_TRUE(p.build.empty());
}

TEST(GetParams, AbbreviationsArgumentsAndSkippedWords) {
  struct Case {
    std::vector<std::string> words;
    uint32_t commands;  // every bit expected set
    uint32_t serial;
    std::string logFile;
  };
  const Case cases[] = {
      {{"-D"}, CMD_DISCOVER, 0, "Updater.log"},
      {{"-d=40F5849A", "-U"}, CMD_UPDATE, 0x40F5849A, "Updater.log"},
      {{"-d", "0X40f5849a"}, 0, 0x40F5849A, "Updater.log"},
      // The argument is the next word, whatever it looks like.
      {{"-k", "-d", "40F5849A", "-U"}, CMD_UPDATE, 0, "-d"},
      // Unknown words, words longer than an option and "=" on a plain option are skipped.
      {{"-Q", "-DU", "-D=1", "=", "", "plain", "\xff\xfe"}, 0, 0, "Updater.log"},
      // A missing argument at the end is skipped silently.
      {{"-G", "-d"}, CMD_GET_BUILD, 0, "Updater.log"},
      {{"-Z", "-D"}, CMD_Z, 0, "Updater.log"},
  };
  for (const Case& c : cases) {
    Parsed parsed = Parse(c.words);
    SCOPED_TRACE(c.words.front());
    EXPECT_EQ(parsed.result, 0);
    EXPECT_TRUE(parsed.errors.empty());
    if (c.commands != 0) {
      EXPECT_TRUE(parsed.parameters.commands.IsSet(c.commands));
    }
    EXPECT_EQ(parsed.parameters.serialNumber, c.serial);
    EXPECT_EQ(parsed.parameters.logFileName, c.logFile);
  }
  EXPECT_FALSE(Parse({"-Q", "-DU", "-D=1"}).parameters.commands.IsSet(kAnyCommand));
  EXPECT_FALSE(Parse({"-Z", "-D"}).parameters.commands.IsSet(CMD_DISCOVER));
}

TEST(GetParams, PrefixMustBeUnique) {
  EXPECT_TRUE(Parse({"-O"}).parameters.override);
  EXPECT_TRUE(Parse({"-OV"}).parameters.override);
  EXPECT_FALSE(Parse({"-OVERRIDEX"}).parameters.override);
  EXPECT_TRUE(Parse({"--he"}).parameters.helpRequested);
  EXPECT_FALSE(Parse({"--"}).parameters.helpRequested);
  EXPECT_FALSE(Parse({"-"}).parameters.commands.IsSet(0xFFFFFFFF));
}

TEST(GetParams, HelpStopsTheParse) {
  Parsed parsed = Parse({"-D", "-h", "-Y", "-d", "zz"});
  EXPECT_EQ(parsed.result, 0);
  EXPECT_TRUE(parsed.parameters.helpRequested);
  EXPECT_TRUE(parsed.parameters.commands.IsSet(CMD_HELP));
  EXPECT_TRUE(parsed.errors.empty());
}

TEST(GetParams, RejectedArgumentsFailWithTheirMessage) {
  struct Case {
    std::vector<std::string> words;
    std::string error;
  };
  const Case cases[] = {
      {{"-d", "0x"}, "Invalid serial number obtained from argument []"},
      {{"-d", "40F5849G"}, "Invalid serial number obtained from argument [40F5849G]"},
      {{"-d", "0"}, "Invalid serial number obtained from argument [0]"},
      // Nine digits do not fit: refused instead of naming another device.
      {{"-d", "140F5849A"}, "Invalid serial number obtained from argument [140F5849A]"},
      {{"-r", "0xZZ"}, "Invalid router serial number obtained from argument [ZZ]"},
      {{"-t", "tcp"}, "Invalid transport type:[tcp]\nMust be one of the following: USB, TCPIP, RECOVER"},
      {{"-Y"}, "Unhandled command: [-Y]"},
  };
  for (const Case& c : cases) {
    Parsed parsed = Parse(c.words);
    SCOPED_TRACE(c.words.front() + " " + (c.words.size() > 1 ? c.words[1] : ""));
    EXPECT_EQ(parsed.result, 1);
    ASSERT_EQ(parsed.errors.size(), 1u);
    EXPECT_EQ(parsed.errors[0], c.error);
  }
  // Every rejected option is reported, not just the first.
  EXPECT_EQ(Parse({"-Y", "-d", "x", "-U"}).errors.size(), 2u);
  EXPECT_EQ(Parse({"-t", "bogus"}).parameters.transport, 0u);
}

TEST(GetParams, TransportsAndNumbers) {
  struct Case {
    std::string text;
    uint32_t transport;
  };
  for (const Case& c : {Case{"USB", 1}, Case{"USBX", 1}, Case{"TCPIP", 2}, Case{"TCP", 2},
                        Case{"TCPxyz", 2}, Case{"RECOVER", 255}, Case{"RECOVERY", 255}}) {
    Parsed parsed = Parse({"-t", c.text});
    EXPECT_EQ(parsed.result, 0) << c.text;
    EXPECT_EQ(parsed.parameters.transport, c.transport) << c.text;
    EXPECT_TRUE(parsed.parameters.transportGiven);
  }
  EXPECT_EQ(Parse({"-b", "abc"}).parameters.build, "0");
  EXPECT_EQ(Parse({"-b", "0099528558"}).parameters.build, "99528558");
  EXPECT_EQ(Parse({"-b", "99999999999"}).parameters.build, "0");
  EXPECT_EQ(Parse({"-o", "9600"}).parameters.baudRate, 9600u);
  EXPECT_EQ(Parse({"-o", "96k"}).parameters.baudRate, 0u);
  EXPECT_EQ(Parse({"-u", "http://127.0.0.1:1/cgi/u"}).parameters.serverURL,
            "http://127.0.0.1:1/cgi/u");
}

TEST(GetParams, LogMaskActivatesOnlyWhenWholeTextIsANumber) {
  Log::DeactivatePackage(0xFFFFFFFF);
  Parsed bad = Parse({"-X", "12zz"});
  EXPECT_EQ(bad.result, 0);
  ASSERT_EQ(bad.errors.size(), 1u);
  EXPECT_EQ(bad.errors[0], "Invalid format for \"-X\" parameter, unprocessed characters [zz]");
  EXPECT_EQ(Log::package_bitmask, 0u);

  Parsed hex = Parse({"-X", "0x10000"});
  EXPECT_TRUE(hex.errors.empty());
  EXPECT_EQ(hex.parameters.logMask, 0x10000u);
  EXPECT_EQ(Log::package_bitmask, 0x10000u);
  EXPECT_EQ(Parse({"-X", "257"}).parameters.logMask, 257u);
  Log::DeactivatePackage(0xFFFFFFFF);
}

TEST(WholeWordParsers, RefuseAnythingButDigits) {
  const char* end = nullptr;
  EXPECT_EQ(_get_hex_arg("40F5849a", &end), 0x40F5849Au);
  EXPECT_EQ(*end, '\0');
  EXPECT_EQ(_get_hex_arg("40F5849A", nullptr), 0u);
  const char* untouched = "sentinel";
  end = untouched;
  EXPECT_EQ(_get_hex_arg(" 1", &end), 0u);
  EXPECT_EQ(_get_int_arg("-1", &end), 0u);
  EXPECT_EQ(_get_int_arg("1F", &end), 0u);
  EXPECT_EQ(end, untouched);
  EXPECT_EQ(_get_int_arg("", &end), 0u);
  EXPECT_EQ(_get_int_arg("4294967295", &end), 4294967295u);
  EXPECT_EQ(_get_int_arg("4294967296", &end), 0u);
}

TEST(GetParams, SurvivesHostileArgumentVectors) {
  // An empty vector, null words and very long words must not crash.
  Parameters parameters;
  RecordingDisplay display;
  EXPECT_EQ(_get_params(display, 0, nullptr, parameters), 0);
  const char* withNull[] = {"updater", nullptr, "-d", nullptr};
  EXPECT_EQ(_get_params(display, 4, withNull, parameters), 0);
  std::string longWord(100000, 'A');
  Parsed parsed = Parse({"-d", longWord, "-f", longWord, "-" + longWord});
  EXPECT_EQ(parsed.result, 1);
  ASSERT_EQ(parsed.errors.size(), 1u);
  EXPECT_EQ(parsed.errors[0].size(), 2047u);
  EXPECT_EQ(parsed.parameters.birdFile, longWord);
}

}  // namespace
