#include <gtest/gtest.h>

#include <string.h>
#include <sys/stat.h>

#include <string>

#include "ScratchDir.h"
#include "unix_file.h"

namespace {

void writeFile(const std::string& path, const std::string& content) {
    aUnixFile* file = aFile_Open(path.c_str(), aFileModeWrite);
    ASSERT_NE(file, nullptr);
    uint64_t count = 0;
    ASSERT_EQ(aFile_Write(file, content.data(), content.size(), &count), aErrNone);
    ASSERT_EQ(count, content.size());
    ASSERT_EQ(aFile_Close(&file), aErrNone);
}

std::string readAll(const std::string& path) {
    aUnixFile* file = aFile_Open(path.c_str(), aFileModeRead);
    std::string content;
    char buffer[64];
    uint64_t count = 0;
    while (file != nullptr && aFile_Read(file, buffer, sizeof(buffer), &count) == aErrNone) {
        content.append(buffer, count);
    }
    aFile_Close(&file);
    return content;
}

}  // namespace

TEST(aFile, OpenRefusesBadArguments) {
    ScratchDir dir;
    const std::string longPath(5000, 'a');
    EXPECT_EQ(aFile_Open(nullptr, aFileModeRead), nullptr);
    EXPECT_EQ(aFile_Open("", aFileModeRead), nullptr);
    EXPECT_EQ(aFile_Open(longPath.c_str(), aFileModeWrite), nullptr);
    EXPECT_EQ(aFile_Open((dir / "x").c_str(), 3), nullptr);
    EXPECT_EQ(aFile_Open((dir / "x").c_str(), -1), nullptr);
    EXPECT_EQ(aFile_Open((dir / "missing").c_str(), aFileModeRead), nullptr);
}

TEST(aFile, ExistsOnlyForFiles) {
    ScratchDir dir;
    writeFile(dir / "f", "x");
    EXPECT_TRUE(aFile_Exists((dir / "f").c_str()));
    EXPECT_FALSE(aFile_Exists(dir.path().c_str()));
    EXPECT_FALSE(aFile_Exists((dir / "missing").c_str()));
    EXPECT_FALSE(aFile_Exists(nullptr));
}

TEST(aFile, ModesGateReadingAndWriting) {
    ScratchDir dir;
    writeFile(dir / "f", "abc");
    char byte;
    aUnixFile* reader = aFile_Open((dir / "f").c_str(), aFileModeRead);
    EXPECT_EQ(aFile_Write(reader, "x", 1, nullptr), aErrMode);
    EXPECT_EQ(aFile_Printf(reader, "x"), aErrMode);
    EXPECT_EQ(aFile_SetUnbuffered(reader), aErrMode);
    aFile_Close(&reader);

    aUnixFile* writer = aFile_Open((dir / "f").c_str(), aFileModeWrite);
    EXPECT_EQ(aFile_Read(writer, &byte, 1, nullptr), aErrMode);
    aFile_Close(&writer);
    EXPECT_EQ(readAll(dir / "f"), "");  // write mode truncates
}

TEST(aFile, AppendModeReadsAndAppends) {
    ScratchDir dir;
    writeFile(dir / "f", "one\n");
    aUnixFile* file = aFile_Open((dir / "f").c_str(), aFileModeAppend);
    ASSERT_NE(file, nullptr);
    uint64_t position = 99;
    EXPECT_EQ(aFile_GetPosition(file, &position), aErrNone);
    EXPECT_EQ(position, 4u);
    EXPECT_EQ(aFile_Printf(file, "%s %d\n", "two", 2), aErrNone);
    // Turning between reading and writing on the one stream, with no seek in
    // between: every write still lands at the end.
    ASSERT_EQ(aFile_Seek(file, 0, aSeekStart), aErrNone);
    char line[16];
    uint64_t length = 0;
    EXPECT_EQ(aFile_ReadLine(file, line, sizeof(line), &length), aErrNone);
    EXPECT_STREQ(line, "one\n");
    EXPECT_EQ(aFile_Write(file, "3\n", 2, nullptr), aErrNone);
    EXPECT_EQ(aFile_ReadLine(file, line, sizeof(line), &length), aErrEOF);
    ASSERT_EQ(aFile_Seek(file, 4, aSeekStart), aErrNone);
    EXPECT_EQ(aFile_ReadLine(file, line, sizeof(line), &length), aErrNone);
    EXPECT_STREQ(line, "two 2\n");
    EXPECT_EQ(aFile_Write(file, "4\n", 2, nullptr), aErrNone);
    aFile_Close(&file);
    EXPECT_EQ(readAll(dir / "f"), "one\ntwo 2\n3\n4\n");
}

TEST(aFile, ReadAtEndOfFile) {
    ScratchDir dir;
    writeFile(dir / "f", "ab");
    aUnixFile* file = aFile_Open((dir / "f").c_str(), aFileModeRead);
    char buffer[8];
    uint64_t count = 77;
    EXPECT_EQ(aFile_Read(file, buffer, sizeof(buffer), &count), aErrNone);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(aFile_Read(file, buffer, 0, &count), aErrNone);
    EXPECT_EQ(aFile_Read(file, buffer, 1, &count), aErrEOF);
    EXPECT_EQ(count, 0u);
    aFile_Close(&file);
}

TEST(aFile, ReadLineBoundaries) {
    ScratchDir dir;
    // Buffer of 6: a 5-character line with its newline fits exactly.
    writeFile(dir / "f", "abcd\nabcdefgh\nlast");
    aUnixFile* file = aFile_Open((dir / "f").c_str(), aFileModeRead);
    char line[6];
    uint64_t length = 0;
    EXPECT_EQ(aFile_ReadLine(file, line, sizeof(line), &length), aErrNone);
    EXPECT_STREQ(line, "abcd\n");
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(aFile_ReadLine(file, line, sizeof(line), &length), aErrOverrun);
    EXPECT_STREQ(line, "abcde");
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(aFile_ReadLine(file, line, sizeof(line), &length), aErrNone);
    EXPECT_STREQ(line, "fgh\n");
    EXPECT_EQ(aFile_ReadLine(file, line, sizeof(line), &length), aErrNone);
    EXPECT_STREQ(line, "last");
    EXPECT_EQ(aFile_ReadLine(file, line, sizeof(line), &length), aErrEOF);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(aFile_ReadLine(file, line, 0, &length), aErrParam);
    aFile_Close(&file);
}

TEST(aFile, SeekStaysInsideTheFile) {
    ScratchDir dir;
    writeFile(dir / "f", "0123456789");
    aUnixFile* file = aFile_Open((dir / "f").c_str(), aFileModeRead);
    uint64_t size = 0;
    EXPECT_EQ(aFile_GetSize(file, &size), aErrNone);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(aFile_GetSize(file, nullptr), aErrParam);

    struct {
        int64_t offset;
        int32_t origin;
        aErr result;
        uint64_t position;  // afterwards
    } const steps[] = {
        {10, aSeekStart, aErrNone, 10},   {11, aSeekStart, aErrRange, 10}, {-1, aSeekStart, aErrRange, 10},
        {-4, aSeekEnd, aErrNone, 6},      {1, aSeekEnd, aErrRange, 6},     {2, aSeekCurrent, aErrNone, 8},
        {-9, aSeekCurrent, aErrRange, 8}, {3, 7, aErrNone, 3},             {INT64_MAX, aSeekEnd, aErrRange, 3},
        {0, aSeekStart, aErrNone, 0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(step.offset) + " from " + std::to_string(step.origin));
        EXPECT_EQ(aFile_Seek(file, step.offset, step.origin), step.result);
        uint64_t position = 12345;
        EXPECT_EQ(aFile_GetPosition(file, &position), aErrNone);
        EXPECT_EQ(position, step.position);
    }
    char byte = 0;
    EXPECT_EQ(aFile_Read(file, &byte, 1, nullptr), aErrNone);
    EXPECT_EQ(byte, '0');
    aFile_Close(&file);
}

TEST(aFile, CloseInvalidatesTheHandle) {
    ScratchDir dir;
    aUnixFile* file = aFile_Open((dir / "f").c_str(), aFileModeWrite);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(aFile_Close(&file), aErrNone);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(aFile_Close(&file), aErrParam);
    EXPECT_EQ(aFile_Close(nullptr), aErrParam);
    EXPECT_EQ(aFile_Read(nullptr, nullptr, 0, nullptr), aErrParam);
    EXPECT_EQ(aFile_Seek(nullptr, 0, aSeekStart), aErrParam);
}

TEST(aFile, DeleteResults) {
    ScratchDir dir;
    writeFile(dir / "f", "x");
    EXPECT_EQ(aFile_Delete((dir / "f").c_str()), aErrNone);
    EXPECT_FALSE(aFile_Exists((dir / "f").c_str()));
    EXPECT_EQ(aFile_Delete((dir / "f").c_str()), aErrNotFound);
    EXPECT_EQ(aFile_Delete(nullptr), aErrParam);
    EXPECT_EQ(aFile_Delete(std::string(5000, 'a').c_str()), aErrFileNameLength);
    EXPECT_EQ(aFile_Delete(dir.path().c_str()), aErrIO);  // a directory is not a file
}
