#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "aStream.h"

namespace {

// A transport whose input is scripted: bytes, then whatever `atEnd` says once they run out.
// A kNotReadyOnce entry answers aErrNotReady once, as a byte that has not arrived yet.
constexpr int kNotReadyOnce = -1;

struct Script {
  std::deque<int> input;
  aErr atEnd = aErrNotReady;
  std::vector<uint8_t> output;
  int puts = 0;
  int writes = 0;
  aErr putResult = aErrNone;
  int deletes = 0;

  void feed(const std::string& bytes) {
    for (unsigned char c : bytes) input.push_back(c);
  }
};

aErr scriptGet(uint8_t* byte, void* ref) {
  auto* s = static_cast<Script*>(ref);
  if (s->input.empty()) return s->atEnd;
  int next = s->input.front();
  s->input.pop_front();
  if (next == kNotReadyOnce) return aErrNotReady;
  *byte = static_cast<uint8_t>(next);
  return aErrNone;
}

aErr scriptPut(const uint8_t* byte, void* ref) {
  auto* s = static_cast<Script*>(ref);
  s->puts++;
  if (s->putResult != aErrNone) return s->putResult;
  s->output.push_back(*byte);
  return aErrNone;
}

aErr scriptWrite(const uint8_t* data, size_t length, void* ref) {
  auto* s = static_cast<Script*>(ref);
  s->writes++;
  s->output.insert(s->output.end(), data, data + length);
  return aErrNone;
}

aErr scriptDelete(void* ref) {
  static_cast<Script*>(ref)->deletes++;
  return aErrIO;  // distinctive, to see that destroy hands it on
}

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stream = aStream_Create(scriptGet, scriptPut, scriptWrite, scriptDelete, &script);
    ASSERT_NE(stream, nullptr);
  }
  void TearDown() override {
    if (stream != nullptr) aStream_Destroy(&stream);
  }

  std::string readString(size_t n) {
    std::string out(n, '\0');
    EXPECT_EQ(aStream_Read(stream, reinterpret_cast<uint8_t*>(&out[0]), n), aErrNone);
    return out;
  }

  Script script;
  aStream* stream = nullptr;
};

TEST_F(StreamTest, ReadIsAllOrNothingAndKeepsOrder) {
  script.feed("ab");
  uint8_t buf[3] = {'x', 'x', 'x'};
  EXPECT_EQ(aStream_Read(stream, buf, 3), aErrNotReady);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "xxx");

  script.feed("cd");
  EXPECT_EQ(readString(3), "abc");
  EXPECT_EQ(readString(1), "d");
}

TEST_F(StreamTest, ReadAtEndOfFileDeliversWhatCameBefore) {
  script.feed("ab");
  script.atEnd = aErrEOF;
  uint8_t buf[4] = {0};
  EXPECT_EQ(aStream_Read(stream, buf, 4), aErrEOF);
  EXPECT_EQ(buf[0], 'a');
  EXPECT_EQ(buf[1], 'b');
}

TEST_F(StreamTest, ReadPassesOtherErrorsOn) {
  script.feed("a");
  script.atEnd = aErrConnection;
  uint8_t buf[2];
  EXPECT_EQ(aStream_Read(stream, buf, 2), aErrConnection);
}

TEST_F(StreamTest, PushBackGrowsBeyondOneChunkInOrder) {
  // Enough to grow the ring twice, with the head moved first so that the copy must unwrap.
  for (int i = 0; i < 100; i++) ASSERT_EQ(aStreamBufferChar(stream, 0), aErrNone);
  std::vector<uint8_t> skip(100);
  ASSERT_EQ(aStream_Read(stream, skip.data(), skip.size()), aErrNone);

  const size_t total = 1500;
  for (size_t i = 0; i < total; i++)
    ASSERT_EQ(aStreamBufferChar(stream, static_cast<uint8_t>(i * 7)), aErrNone);
  std::vector<uint8_t> back(total);
  ASSERT_EQ(aStream_Read(stream, back.data(), total), aErrNone);
  for (size_t i = 0; i < total; i++) ASSERT_EQ(back[i], static_cast<uint8_t>(i * 7)) << i;
}

TEST_F(StreamTest, LongReadCutShortKeepsAllBytes) {
  // Longer than any small-read shortcut, so the heap path is covered too.
  std::string data(700, '\0');
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>('A' + i % 26);
  script.feed(data.substr(0, 650));
  std::vector<uint8_t> buf(700);
  EXPECT_EQ(aStream_Read(stream, buf.data(), buf.size()), aErrNotReady);
  script.feed(data.substr(650));
  EXPECT_EQ(readString(700), data);
}

TEST_F(StreamTest, WriteRoutesSingleBytesThroughPut) {
  const uint8_t one[] = {'x'};
  const uint8_t two[] = {'y', 'z'};
  EXPECT_EQ(aStream_Write(stream, one, 1), aErrNone);
  EXPECT_EQ(script.puts, 1);
  EXPECT_EQ(script.writes, 0);
  EXPECT_EQ(aStream_Write(stream, two, 2), aErrNone);
  EXPECT_EQ(script.puts, 1);
  EXPECT_EQ(script.writes, 1);
  EXPECT_EQ(aStream_Write(stream, two, 0), aErrNone);
  EXPECT_EQ(std::string(script.output.begin(), script.output.end()), "xyz");
}

TEST(StreamWrite, WithoutBlockWritePutsEachByteAndStopsAtFirstError) {
  Script script;
  aStream* stream = aStream_Create(scriptGet, scriptPut, nullptr, nullptr, &script);
  const uint8_t data[] = {1, 2, 3};
  EXPECT_EQ(aStream_Write(stream, data, 3), aErrNone);
  EXPECT_EQ(script.puts, 3);
  script.putResult = aErrWrite;
  EXPECT_EQ(aStream_Write(stream, data, 3), aErrWrite);
  EXPECT_EQ(script.puts, 4);
  EXPECT_EQ(aStream_Destroy(&stream), aErrNone);
}

TEST(StreamHandles, InvalidStreamsAndMissingOperations) {
  Script script;
  uint8_t buf[4] = {0};
  EXPECT_EQ(aStream_Read(nullptr, buf, 1), aErrParam);
  EXPECT_EQ(aStream_Write(nullptr, buf, 1), aErrParam);
  EXPECT_EQ(aStreamBufferChar(nullptr, 1), aErrParam);
  EXPECT_EQ(aStream_Flush(nullptr, nullptr), aErrParam);

  aStream* inputOnly = aStream_Create(scriptGet, nullptr, nullptr, nullptr, &script);
  aStream* outputOnly = aStream_Create(nullptr, scriptPut, nullptr, nullptr, &script);
  EXPECT_EQ(aStream_Write(inputOnly, buf, 2), aErrMode);
  EXPECT_EQ(aStream_Read(outputOnly, buf, 1), aErrMode);
  EXPECT_EQ(aStream_Read(inputOnly, nullptr, 1), aErrParam);
  EXPECT_EQ(aStream_Flush(outputOnly, inputOnly), aErrMode);
  aStream_Destroy(&inputOnly);
  aStream_Destroy(&outputOnly);
}

TEST(StreamHandles, DestroyRunsDeleteOnceAndNullsTheHandle) {
  Script script;
  aStream* stream = aStream_Create(scriptGet, scriptPut, scriptWrite, scriptDelete, &script);
  ASSERT_EQ(aStreamBufferChar(stream, 1), aErrNone);  // the buffer is freed too (ASan)
  EXPECT_EQ(aStream_Destroy(&stream), aErrIO);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(script.deletes, 1);
  EXPECT_EQ(aStream_Destroy(&stream), aErrParam);
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(script.deletes, 1);
  EXPECT_EQ(aStream_Destroy(nullptr), aErrParam);
}

struct RecordCase {
  const char* name;
  std::string input;
  std::string terminator;
  size_t size;
  aErr atEnd;
  aErr result;
  std::string record;
  std::string left;  // what a later read still finds
};

class StreamRecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(StreamRecordTest, ReadsUpToTheTerminator) {
  const RecordCase& c = GetParam();
  Script script;
  script.feed(c.input);
  script.atEnd = c.atEnd;
  aStream* stream = aStream_Create(scriptGet, nullptr, nullptr, nullptr, &script);
  std::vector<uint8_t> dst(c.size + 1, '#');
  size_t len = 999;
  aErr err = aStream_ReadRecord(stream, dst.data(), &len, c.size,
                                reinterpret_cast<const uint8_t*>(c.terminator.data()),
                                c.terminator.size());
  EXPECT_EQ(err, c.result);
  if (c.result == aErrNone) {
    EXPECT_EQ(std::string(dst.begin(), dst.begin() + len), c.record);
    EXPECT_EQ(dst[len], '#') << "wrote past the record";
  }
  std::string left;
  uint8_t byte;
  while (aStream_Read(stream, &byte, 1) == aErrNone) left += static_cast<char>(byte);
  EXPECT_EQ(left, c.left);
  aStream_Destroy(&stream);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamRecordTest,
    ::testing::Values(
        RecordCase{"SingleTerminator", "abc\ndef", "\n", 10, aErrNotReady, aErrNone, "abc",
                   "def"},
        RecordCase{"CrLfWithByteBetween", "ab\rc\nz", "\r\n", 10, aErrNotReady, aErrNone, "abc",
                   "z"},
        RecordCase{"FullRecordWithoutTerminator", "abcdefg", "\n", 4, aErrNotReady, aErrNone,
                   "abcd", "efg"},
        RecordCase{"EndOfFileWithBytes", "ab", "\n", 10, aErrEOF, aErrNone, "ab", ""},
        RecordCase{"EndOfFileEmpty", "", "\n", 10, aErrEOF, aErrEOF, "", ""},
        // Nothing is lost when the record is cut short, matched terminator bytes included.
        RecordCase{"NotReadyHandsEverythingBack", "ab\rc", "\r\n", 10, aErrNotReady,
                   aErrNotReady, "", "ab\rc"},
        RecordCase{"OtherErrorEndsTheRead", "ab", "\n", 10, aErrIO, aErrIO, "", ""}),
    [](const ::testing::TestParamInfo<RecordCase>& info) { return info.param.name; });

TEST_F(StreamTest, RecordCutShortThenCompletedReadsAsOne) {
  script.feed("ab\r");
  uint8_t dst[16];
  size_t len = 0;
  const uint8_t crlf[] = {'\r', '\n'};
  EXPECT_EQ(aStream_ReadRecord(stream, dst, &len, sizeof(dst), crlf, 2), aErrNotReady);
  script.feed("\nnext");
  ASSERT_EQ(aStream_ReadRecord(stream, dst, &len, sizeof(dst), crlf, 2), aErrNone);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dst), len), "ab");
}

TEST_F(StreamTest, RecordArgumentsAreChecked) {
  uint8_t dst[4];
  const uint8_t term[] = {0};
  EXPECT_EQ(aStream_ReadRecord(stream, nullptr, nullptr, 4, term, 1), aErrParam);
  EXPECT_EQ(aStream_ReadRecord(stream, dst, nullptr, 4, nullptr, 1), aErrParam);
  EXPECT_EQ(aStream_ReadRecord(stream, dst, nullptr, 4, term, 0), aErrParam);
  EXPECT_EQ(aStream_ReadRecord(stream, dst, nullptr, 0, term, 1), aErrParam);
  EXPECT_EQ(aStream_WriteRecord(stream, dst, 1, term, 0), aErrParam);
  EXPECT_EQ(aStream_WriteRecord(stream, nullptr, 1, term, 1), aErrParam);
  char text[1];
  EXPECT_EQ(aStream_ReadCString(stream, text, sizeof(text)), aErrParam);
  EXPECT_EQ(aStream_ReadCStringRecord(stream, text, 8, ""), aErrParam);
  EXPECT_EQ(script.output.size(), 0u);
}

TEST_F(StreamTest, CStringsRoundTrip) {
  script.feed(std::string("abcdefg"));
  char text[5];
  ASSERT_EQ(aStream_ReadCString(stream, text, sizeof(text)), aErrNone);
  EXPECT_STREQ(text, "abcd");
  EXPECT_EQ(readString(3), "efg");

  script.feed(std::string("ab\0more", 7));
  ASSERT_EQ(aStream_ReadCString(stream, text, sizeof(text)), aErrNone);
  EXPECT_STREQ(text, "ab");

  script.input.clear();
  script.feed("line one\r\nrest");
  char line[32];
  ASSERT_EQ(aStream_ReadCStringRecord(stream, line, sizeof(line), "\r\n"), aErrNone);
  EXPECT_STREQ(line, "line one");

  EXPECT_EQ(aStream_WriteCString(stream, "hi"), aErrNone);
  EXPECT_EQ(aStream_WriteCStringRecord(stream, "ok", "\r\n"), aErrNone);
  EXPECT_EQ(std::string(script.output.begin(), script.output.end()),
            std::string("hi\0ok\r\n\0", 8));
}

TEST_F(StreamTest, FlushCopiesPushedBackBytesFirstAndEndsAtEndOfFile) {
  script.feed("cd");
  script.atEnd = aErrEOF;
  ASSERT_EQ(aStreamBufferChar(stream, 'a'), aErrNone);
  ASSERT_EQ(aStreamBufferChar(stream, 'b'), aErrNone);
  Script sink;
  aStream* to = aStream_Create(nullptr, scriptPut, nullptr, nullptr, &sink);
  EXPECT_EQ(aStream_Flush(stream, to), aErrNone);
  EXPECT_EQ(std::string(sink.output.begin(), sink.output.end()), "abcd");

  script.feed("x");
  script.atEnd = aErrNotReady;
  EXPECT_EQ(aStream_Flush(stream, to), aErrNotReady);
  sink.putResult = aErrWrite;
  script.feed("y");
  EXPECT_EQ(aStream_Flush(stream, to), aErrWrite);
  aStream_Destroy(&to);
}

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/streamfileXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir + "'";
    ASSERT_EQ(system(cmd.c_str()), 0);
  }
  std::string dir;
};

TEST_F(FileStreamTest, FlushCopiesAWholeFile) {
  std::string content;
  for (int i = 0; i < 3000; i++) content += static_cast<char>(i * 31);
  std::string in = dir + "/in.bin", out = dir + "/out.bin";
  std::ofstream(in, std::ios::binary) << content;

  aStream* from = nullptr;
  aStream* to = nullptr;
  ASSERT_EQ(aStream_CreateFileInput(in.c_str(), &from), aErrNone);
  ASSERT_EQ(aStream_CreateFileOutput(out.c_str(), &to), aErrNone);
  EXPECT_EQ(aStream_Write(from, reinterpret_cast<const uint8_t*>("x"), 1), aErrMode);
  EXPECT_EQ(aStream_Flush(from, to), aErrNone);
  EXPECT_EQ(aStream_Destroy(&from), aErrNone);
  EXPECT_EQ(aStream_Destroy(&to), aErrNone);

  std::ifstream copy(out, std::ios::binary);
  std::string copied((std::istreambuf_iterator<char>(copy)), std::istreambuf_iterator<char>());
  EXPECT_EQ(copied, content);
}

TEST_F(FileStreamTest, BlockWritesAndRecordReadsOnRealFiles) {
  std::string path = dir + "/records.txt";
  aStream* out = nullptr;
  ASSERT_EQ(aStream_CreateFileOutput(path.c_str(), &out), aErrNone);
  EXPECT_EQ(aStream_WriteCStringRecord(out, "first", "\n"), aErrNone);
  EXPECT_EQ(aStream_WriteCString(out, "second"), aErrNone);
  aStream_Destroy(&out);

  aStream* in = nullptr;
  ASSERT_EQ(aStream_CreateFileInput(path.c_str(), &in), aErrNone);
  char text[16];
  ASSERT_EQ(aStream_ReadCStringRecord(in, text, sizeof(text), "\n"), aErrNone);
  EXPECT_STREQ(text, "first");
  uint8_t zero;
  ASSERT_EQ(aStream_Read(in, &zero, 1), aErrNone);  // the record's terminator carries its zero
  EXPECT_EQ(zero, 0);
  ASSERT_EQ(aStream_ReadCString(in, text, sizeof(text)), aErrNone);
  EXPECT_STREQ(text, "second");
  EXPECT_EQ(aStream_Read(in, &zero, 1), aErrEOF);
  aStream_Destroy(&in);
}

TEST_F(FileStreamTest, CreationFailuresLeaveTheHandleAlone) {
  aStream* sentinel = reinterpret_cast<aStream*>(0x1);
  aStream* handle = sentinel;
  EXPECT_EQ(aStream_CreateFileInput((dir + "/missing").c_str(), &handle), aErrResource);
  EXPECT_EQ(aStream_CreateFileOutput((dir + "/no/such/dir").c_str(), &handle), aErrResource);
  EXPECT_EQ(aStream_CreateFileInput(nullptr, &handle), aErrResource);
  EXPECT_EQ(aStream_CreateFileOutput(dir.c_str(), nullptr), aErrResource);
  EXPECT_EQ(handle, sentinel);
}

}  // namespace
