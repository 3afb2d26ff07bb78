#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "BirdFile.h"
#include "BirdWriter.h"
#include "../Updater/UpdaterLib/source/StoreTestFiles.h"

namespace {

int RunWriter(const std::string& arguments) {
  std::string command = std::string(UPDATER_BINARY_DIR) + "/bird-writer " + arguments + " 2>/dev/null";
  int status = system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> ImageOf(const BirdBlock& block) {
  return std::vector<uint8_t>(block.data + 4, block.data + block.length);
}

TEST(BirdWriterProgram, WritesTheFileItsOptionsDescribe) {
  ScratchDirectory dir("writer");
  std::string path = dir / "99528558.bird";
  ASSERT_EQ(RunWriter("'" + path + "' --model Quorby --serial 40F5849A --build 99528558 --version 2.1.7"
                      " --size 10000 --address 8000 --seed 5 --flags 2 --generic --loader-size 300"
                      " --loader-start 20000400"),
            0);
  ASSERT_TRUE(BirdFile::VerifyFile(path));
  BirdFile file(path);
  EXPECT_EQ(file.GetSerialNumber(), 0x40F5849Au);
  EXPECT_EQ(file.GetBuild(), 99528558u);
  EXPECT_EQ(file.GetVersion(), "2.1.7");
  EXPECT_TRUE(file.ValidateModel("Quorby"));
  EXPECT_TRUE(file.NeedsSerialPatch());
  EXPECT_EQ(file.GetSerialNumberOffset(), 0x8020u);
  auto firmware = file.FindBlocks(BirdFile::BLOCK_TYPE_FIRMWARE);
  ASSERT_EQ(firmware.size(), 1u);
  EXPECT_EQ(firmware[0].address, 0x8000u);
  EXPECT_EQ(firmware[0].flags, 2);
  EXPECT_EQ(ImageOf(firmware[0]), birdwriter::ImageBytes(10000, 5));
  auto loader = file.FindBlocks(BirdFile::BLOCK_TYPE_LOADER);
  ASSERT_EQ(loader.size(), 1u);
  EXPECT_EQ(ImageOf(loader[0]), birdwriter::ImageBytes(300, 2));
  ASSERT_EQ(file.FindBlocks(BirdFile::BLOCK_TYPE_LOADER_START).size(), 1u);
}

TEST(BirdWriterProgram, TakesImagesFromFilesAndScramblesThem) {
  ScratchDirectory dir("writer");
  WriteText(dir / "image.bin", "plain firmware image bytes");
  std::string path = dir / "lpc.bird";
  ASSERT_EQ(RunWriter("'" + path + "' --image '" + (dir / "image.bin") +
                      "' --scramble 01020304,A0B0C0D0,0,FFFFFFFF --no-descriptor --file-version 0100"),
            0);
  EXPECT_FALSE(BirdFile::VerifyFile(path));
  BirdFile file(path);
  EXPECT_EQ(file.GetBlockCount(), 1u);
  const uint32_t fingerprint[4] = {0x01020304, 0xA0B0C0D0, 0, 0xFFFFFFFF};
  file.DecodeFirmwareBlocks(fingerprint);
  std::vector<uint8_t> image = ImageOf(file.GetBlocks()[0]);
  EXPECT_EQ(std::string(image.begin(), image.end()), "plain firmware image bytes");
}

TEST(BirdWriterProgram, RefusesBadArguments) {
  ScratchDirectory dir("writer");
  const std::string out = "'" + (dir / "x.bird") + "'";
  EXPECT_EQ(RunWriter(""), 2);
  EXPECT_EQ(RunWriter(out + " --bogus 1"), 2);
  EXPECT_EQ(RunWriter(out + " --serial XYZ"), 2);
  EXPECT_EQ(RunWriter(out + " --flags 8"), 2);
  EXPECT_EQ(RunWriter(out + " --scramble 1,2,3"), 2);
  EXPECT_EQ(RunWriter(out + " --size"), 2);
  EXPECT_EQ(RunWriter(out + " --image '" + (dir / "missing") + "'"), 2);
  EXPECT_EQ(RunWriter("'" + (dir / "no/such/dir.bird") + "'"), 1);
  EXPECT_EQ(EntryNames(dir.path()), std::vector<std::string>{});
}

}  // namespace
