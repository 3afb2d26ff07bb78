#include "BirdFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>


#include "BirdWriter.h"
#include "StoreTestFiles.h"

namespace bw = birdwriter;

namespace {

class BirdFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::vector<uint8_t>& bytes, const std::string& name = "image.bird") {
    std::string path = dir_ / name;
    EXPECT_TRUE(bw::WriteBytes(path, bytes));
    return path;
  }
  std::string Write(const std::vector<bw::Block>& blocks) { return Write(bw::Encode(blocks)); }

  ScratchDirectory dir_{"birdfile"};
};

uint32_t LittleEndianAt(const uint8_t* bytes) {
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
         uint32_t(bytes[3]) << 24;
}

TEST_F(BirdFileTest, WriterFileRoundTripsEveryBlockAndDescriptorField) {
  bw::FirmwareOptions o;
  o.model = "Tamsel";
  o.serial = 0x40F5849A;
  o.build = 99528558;
  o.version = "2.1.7";
  o.imageSize = 3000;
  o.imageAddress = 0x8000;
  o.firmwareFlags = 5;
  o.generic = true;
  o.loaderSize = 700;
  o.loaderAddress = 0x10000000;
  o.loaderFlags = 3;
  o.loaderStart = 0x20000400;
  std::string path = dir_ / "99528558.bird";
  ASSERT_TRUE(bw::WriteFirmwareFile(path, o));

  TraceCapture trace(DEBUG_BirdFile);
  BirdFile file(path);
  EXPECT_FALSE(trace.has("mismatch")) << trace.text();
  EXPECT_TRUE(trace.has("BIRDFILE: Offsets: Serial number: 32800, Descriptor: 32832\n"));

  EXPECT_EQ(file.GetFilename(), path);
  EXPECT_EQ(file.GetSignature(), 0x62697264u);
  EXPECT_EQ(file.GetFileVersion(), 0x0101u);
  EXPECT_EQ(file.GetBlockCount(), 5u);
  EXPECT_TRUE(file.NeedsSerialPatch());
  EXPECT_EQ(file.GetSerialNumberOffset(), 0x8020u);
  EXPECT_EQ(file.GetDescriptorOffset(), 0x8040u);
  std::vector<uint8_t> payload = bw::Payload(bw::FirmwareBlocks(o));
  ASSERT_EQ(file.GetDataSize(), payload.size());
  EXPECT_EQ(file.GetChecksum(), bw::Checksum(payload.data(), payload.size() - 4));

  auto loaders = file.FindBlocks(BirdFile::BLOCK_TYPE_LOADER);
  ASSERT_EQ(loaders.size(), 1u);
  EXPECT_EQ(loaders[0].address, 0x10000000u);
  EXPECT_EQ(loaders[0].flags, 3);
  EXPECT_EQ(loaders[0].length, 704u);
  std::vector<uint8_t> loader = bw::LoaderImage(o);
  EXPECT_EQ(0, memcmp(loaders[0].data + 4, loader.data(), loader.size()));

  auto firmware = file.FindBlocks(BirdFile::BLOCK_TYPE_FIRMWARE);
  ASSERT_EQ(firmware.size(), 1u);
  EXPECT_EQ(firmware[0].address, 0x8000u);
  EXPECT_EQ(firmware[0].flags, 5);
  std::vector<uint8_t> image = bw::FirmwareImage(o);
  ASSERT_EQ(firmware[0].length, image.size() + 4);
  EXPECT_EQ(0, memcmp(firmware[0].data + 4, image.data(), image.size()));

  auto start = file.FindBlocks(BirdFile::BLOCK_TYPE_LOADER_START);
  ASSERT_EQ(start.size(), 1u);
  EXPECT_EQ(BirdFile::GetInt(start[0].data), 0x20000400u);
  EXPECT_EQ(start[0].address, 0u);
  EXPECT_TRUE(file.FindBlocks(3).empty());

  EXPECT_EQ(file.GetSerialNumber(), 0x40F5849Au);
  EXPECT_TRUE(file.ValidateSerialNumber(0x40F5849A));
  EXPECT_EQ(file.GetBuild(), 99528558u);
  EXPECT_EQ(file.GetVersion(), "2.1.7");
  EXPECT_TRUE(file.ValidateModel("Tamsel"));
  EXPECT_TRUE(trace.has("Model matches model number ([Tamsel] == [Tamsel])\n"));
}

TEST_F(BirdFileTest, MovedFileKeepsItsBlocksValid) {
  bw::FirmwareOptions o;
  o.imageSize = 64;
  BirdFile target;
  EXPECT_EQ(target.GetBlockCount(), 0u);
  EXPECT_EQ(target.GetBuild(), 0u);
  {
    BirdFile loaded(Write(bw::FirmwareBlocks(o)));
    target = std::move(loaded);
  }
  auto firmware = target.FindBlocks(BirdFile::BLOCK_TYPE_FIRMWARE);
  ASSERT_EQ(firmware.size(), 1u);
  EXPECT_EQ(0, memcmp(firmware[0].data + 4, bw::FirmwareImage(o).data(), 64));
  EXPECT_EQ(target.GetSerialNumber(), 0xDEADDEADu);
}

TEST_F(BirdFileTest, TypeByteSplitsIntoTypeAndFlags) {
  BirdFile file(Write({bw::FirmwareBlock(0x100, {1, 2, 3}, 7), bw::Block{31, 0, {9}}}));
  ASSERT_EQ(file.GetBlockCount(), 2u);
  EXPECT_EQ(file.GetBlocks()[0].type, 1);
  EXPECT_EQ(file.GetBlocks()[0].flags, 7);
  EXPECT_EQ(file.GetBlocks()[1].type, 31);
  EXPECT_EQ(file.GetBlocks()[1].flags, 0);
  EXPECT_EQ(file.GetBlocks()[1].address, 0u);
}

TEST_F(BirdFileTest, VerifyFileJudgesOnlyTheHeader) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool valid;
  };
  std::vector<uint8_t> good = bw::Encode(std::vector<bw::Block>{});
  const Case cases[] = {
      {"good", good, true},
      {"header only", {'b', 'i', 'r', 'd', 1, 1}, true},
      {"five bytes", {'b', 'i', 'r', 'd', 1}, false},
      {"empty", {}, false},
      {"wrong signature", {'B', 'i', 'r', 'd', 1, 1, 0}, false},
      {"low version byte zero", {'b', 'i', 'r', 'd', 1, 0}, false},
      {"high version byte zero", {'b', 'i', 'r', 'd', 0, 1}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(BirdFile::VerifyFile(Write(c.bytes)), c.valid) << c.name;

  TraceCapture trace(DEBUG_BirdFile);
  std::string missing = dir_ / "missing.bird";
  EXPECT_FALSE(BirdFile::VerifyFile(missing));
  EXPECT_TRUE(trace.has("BIRDFILE: Error - cannot open bird file: '" + missing + "'\n"));
}

TEST_F(BirdFileTest, ZeroVersionByteStillLoadsThroughTheConstructor) {
  std::string path = Write(bw::Encode(bw::FirmwareBlocks({}), 0x0100));
  EXPECT_FALSE(BirdFile::VerifyFile(path));
  BirdFile file(path);
  EXPECT_EQ(file.GetFileVersion(), 0x0100u);
  EXPECT_EQ(file.GetBlockCount(), 2u);
}

// Files that must not load: each gives its trace line and the exception, nothing worse.
TEST_F(BirdFileTest, UnloadableFilesThrowAfterTheirTraceLine) {
  std::vector<uint8_t> good = bw::Encode(bw::FirmwareBlocks({}));
  std::vector<uint8_t> truncated(good.begin(), good.begin() + long(good.size() / 2));
  std::vector<uint8_t> noise = bw::ImageBytes(5000, 7);
  std::vector<uint8_t> randomBody = {'b', 'i', 'r', 'd', 1, 1};
  randomBody.insert(randomBody.end(), noise.begin(), noise.end());
  // A megabyte of zeros deflates to about a kilobyte: far beyond the 8:1 bound.
  std::vector<uint8_t> bomb = bw::Encode(std::vector<uint8_t>(1 << 20, 0));
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* trace;
  };
  const Case cases[] = {
      {"empty", {}, "BIRDFILE: Error (-3) decompressing bird file.\n"},
      {"header only", {'b', 'i', 'r', 'd', 1, 1}, "BIRDFILE: Error (-3) decompressing bird file.\n"},
      {"random bytes", noise, "decompressing bird file.\n"},
      {"random body", randomBody, "BIRDFILE: Error (-3) decompressing bird file.\n"},
      {"truncated", truncated, "decompressing bird file.\n"},
      {"zlib bomb", bomb, "BIRDFILE: Error (-5) decompressing bird file.\n"},
  };
  for (const Case& c : cases) {
    std::string path = Write(c.bytes, std::string(c.name) + ".bird");
    TraceCapture trace(DEBUG_BirdFile);
    EXPECT_THROW(
        {
          try {
            BirdFile file(path);
          } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Failed to load bird data");
            throw;
          }
        },
        std::runtime_error)
        << c.name;
    EXPECT_TRUE(trace.has("BIRDFILE: Loading File [" + path + "]\n")) << c.name;
    EXPECT_TRUE(trace.has(c.trace)) << c.name << ": " << trace.text();
  }

  TraceCapture trace(DEBUG_BirdFile);
  std::string missing = dir_ / "missing.bird";
  EXPECT_THROW(BirdFile{missing}, std::runtime_error);
  EXPECT_TRUE(trace.has("BIRDFILE: BIRD file not found [" + missing + "]\n"));
}

// Payloads that decompress but do not scan cleanly: the load goes on with the sound blocks
// and never reads past a block's data.
TEST_F(BirdFileTest, MalformedPayloadsKeepTheSoundBlocks) {
  auto firmware = bw::FirmwareBlock(0x1000, bw::ImageBytes(40));
  auto descriptor = bw::DescriptorBlock(7, "1.0", 0x1234, "Tamsel");
  std::vector<uint8_t> overlong = bw::Payload({firmware, bw::Block{1, 0, {0, 0, 0, 0, 1, 2}}});
  // Claim 0x100 bytes for the second block, which really holds 6.
  overlong[4 + 5 + 44 + 3] = 0x01;
  std::vector<uint8_t> noChecksum = bw::Payload({firmware});
  noChecksum.resize(noChecksum.size() - 4);
  struct Case {
    const char* name;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> types;  // of the blocks kept
    uint32_t build;
    const char* trace;
  };
  const Case cases[] = {
      {"declares three, holds two", bw::Payload({firmware, descriptor}, 3), {1, 4}, 7,
       "BIRDFILE: Block parsing mismatch in number of blocks. (2 != 3)\n"},
      {"block runs past the payload", overlong, {1}, 0,
       "BIRDFILE: Block of type 01 claims 262 bytes but only 10 remain\n"},
      {"no checksum", noChecksum, {1}, 0,
       "BIRDFILE: Block parsing mismatch in data size. (-4 bytes remaining)\n"},
      {"short serial offsets", bw::Payload({firmware, bw::Block{2, 0, {0, 0, 0x10, 0, 0, 0, 0}}}),
       {1}, 0, "BIRDFILE: Block of type 02 too short (7 bytes), skipped\n"},
      {"short descriptor",
       bw::Payload({firmware, bw::Block{4, 0, std::vector<uint8_t>(63, '1')}}), {1}, 0,
       "BIRDFILE: Block of type 04 too short (63 bytes), skipped\n"},
      {"firmware without address", bw::Payload({bw::Block{1, 0, {1, 2, 3}}, descriptor}), {4}, 7,
       "BIRDFILE: Block of type 01 too short (3 bytes), skipped\n"},
      {"loader start without address", bw::Payload({bw::Block{5, 0, {1}}, firmware}), {1}, 0,
       "BIRDFILE: Block of type 05 too short (1 bytes), skipped\n"},
      {"two bytes", {0, 0}, {}, 0, "(-6 bytes remaining)"},
      {"count only", {0, 0, 0, 0}, {}, 0, "(-4 bytes remaining)"},
  };
  for (const Case& c : cases) {
    TraceCapture trace(DEBUG_BirdFile);
    std::string path = Write(bw::Encode(c.payload), std::string(c.name) + ".bird");
    BirdFile file(path);
    EXPECT_TRUE(trace.has(c.trace)) << c.name << ": " << trace.text();
    std::vector<uint8_t> types;
    for (const BirdBlock& block : file.GetBlocks()) types.push_back(block.type);
    EXPECT_EQ(types, c.types) << c.name;
    EXPECT_EQ(file.GetBlockCount(), c.types.size()) << c.name;
    EXPECT_FALSE(file.NeedsSerialPatch()) << c.name;
    // None of the getters may reach into a block that was refused.
    EXPECT_FALSE(file.ValidateModel("1")) << c.name;
    EXPECT_EQ(file.GetBuild(), c.build) << c.name;
  }
}

struct SerialPatchCase {
  const char* name;
  uint32_t serialOffset;
  uint32_t descriptorOffset;
  bool result;
  int serialAt;      // image offset expected to hold the serial word, -1 for none
  int descriptorAt;  // image offset expected to hold the serial text, -1 for none
};

// The image covers addresses 0x1000 up to, not including, 0x1040.
TEST_F(BirdFileTest, SerialPatchLandsOnlyWhollyInsideAnImage) {
  const SerialPatchCase cases[] = {
      {"serial in the last word", 0x103C, 0, true, 0x3C, -1},
      {"serial one byte past the end", 0x103D, 0, false, -1, -1},
      {"serial before the image", 0x0FFC, 0, false, -1, -1},
      {"serial at the first word", 0x1000, 0, true, 0, -1},
      {"text in the last sixteen bytes", 0, 0x1030, true, -1, 0x30},
      {"text one byte past the end", 0, 0x1031, false, -1, -1},
      {"both", 0x1004, 0x1010, true, 4, 0x10},
      {"serial outside, text inside", 0x2000, 0x1010, true, -1, 0x10},
      {"neither", 0, 0, false, -1, -1},
  };
  const std::vector<uint8_t> image = bw::ImageBytes(0x40, 3);
  for (const SerialPatchCase& c : cases) {
    BirdFile file(Write({bw::FirmwareBlock(0x1000, image),
                         bw::SerialOffsetsBlock(c.serialOffset, c.descriptorOffset)}));
    ASSERT_TRUE(file.NeedsSerialPatch()) << c.name;
    TraceCapture trace(DEBUG_BirdFile);
    EXPECT_EQ(file.ReplaceSerialNumber(0x0001ABCD), c.result) << c.name;

    std::vector<uint8_t> expected = image;
    if (c.serialAt >= 0) {
      for (int i = 0; i < 4; ++i) expected[c.serialAt + i] = uint8_t(0x0001ABCDu >> (8 * i));
      char line[96];
      snprintf(line, sizeof line, "BIRDFILE: updating serial number from %08X ==> 0001ABCD\n",
               LittleEndianAt(image.data() + c.serialAt));
      EXPECT_TRUE(trace.has(line)) << c.name << ": " << trace.text();
    }
    if (c.descriptorAt >= 0)
      for (int i = 0; i < 8; ++i) expected[c.descriptorAt + 2 * i] = uint8_t("0001ABCD"[i]);
    BirdBlock block = file.FindBlocks(BirdFile::BLOCK_TYPE_FIRMWARE)[0];
    EXPECT_EQ(std::vector<uint8_t>(block.data + 4, block.data + block.length), expected) << c.name;
    EXPECT_EQ(BirdFile::GetInt(block.data), 0x1000u) << c.name;
  }
}

TEST_F(BirdFileTest, SerialPatchFindsTheBlockThatHoldsTheAddress) {
  bw::FirmwareOptions o;
  o.imageAddress = 0x4000;
  o.imageSize = 0x100;
  o.generic = true;
  std::vector<bw::Block> blocks = bw::FirmwareBlocks(o);
  blocks.insert(blocks.begin(), bw::FirmwareBlock(0x0, bw::ImageBytes(0x100, 9)));
  BirdFile file(Write(blocks));
  ASSERT_TRUE(file.ReplaceSerialNumber(0xCAFEF00D));
  auto firmware = file.FindBlocks(BirdFile::BLOCK_TYPE_FIRMWARE);
  ASSERT_EQ(firmware.size(), 2u);
  EXPECT_EQ(std::vector<uint8_t>(firmware[0].data + 4, firmware[0].data + firmware[0].length),
            bw::ImageBytes(0x100, 9));
  EXPECT_EQ(LittleEndianAt(firmware[1].data + 4 + 0x20), 0xCAFEF00Du);
  EXPECT_EQ(firmware[1].data[4 + 0x40], 'C');
  EXPECT_EQ(firmware[1].data[4 + 0x40 + 14], 'D');
}

TEST_F(BirdFileTest, DescramblingChainsThroughThePreviousPlainByte) {
  // Key bytes come from each word most significant first; with an image of zeros the plain
  // bytes are key[0], key[1] ^ key[0], ...
  const uint32_t fingerprint[4] = {0x11223344, 0, 0, 0};
  BirdFile file(Write({bw::LoaderBlock(0, {0, 0, 0}), bw::FirmwareBlock(0x5000, {0, 0, 0, 0, 0})}));
  ASSERT_TRUE(file.DecodeFirmwareBlocks(fingerprint));
  BirdBlock firmware = file.FindBlocks(BirdFile::BLOCK_TYPE_FIRMWARE)[0];
  EXPECT_EQ(std::vector<uint8_t>(firmware.data, firmware.data + firmware.length),
            (std::vector<uint8_t>{0, 0, 0x50, 0, 0x11, 0x33, 0x00, 0x44, 0x44}));
  BirdBlock loader = file.FindBlocks(BirdFile::BLOCK_TYPE_LOADER)[0];
  EXPECT_EQ(std::vector<uint8_t>(loader.data + 4, loader.data + loader.length),
            (std::vector<uint8_t>{0, 0, 0}));

  const uint32_t zero[4] = {0, 0, 0, 0};
  BirdFile chained(Write({bw::FirmwareBlock(0, {1, 2, 3, 3})}));
  chained.DecodeFirmwareBlocks(zero);
  const BirdBlock& block = chained.GetBlocks()[0];
  EXPECT_EQ(std::vector<uint8_t>(block.data + 4, block.data + 8), (std::vector<uint8_t>{1, 3, 0, 3}));
}

TEST_F(BirdFileTest, DescramblingUndoesTheWritersScrambleOverManyKeyRounds) {
  bw::FirmwareOptions o;
  o.imageSize = 1000;
  o.scrambleFor = bw::Fingerprint{0xA1B2C3D4, 0x01020304, 0xDEADBEEF, 0x00FF00FF};
  BirdFile file(Write(bw::FirmwareBlocks(o)));
  BirdBlock firmware = file.FindBlocks(BirdFile::BLOCK_TYPE_FIRMWARE)[0];
  ASSERT_NE(std::vector<uint8_t>(firmware.data + 4, firmware.data + firmware.length), bw::FirmwareImage(o));
  file.DecodeFirmwareBlocks(o.scrambleFor->data());
  EXPECT_EQ(std::vector<uint8_t>(firmware.data + 4, firmware.data + firmware.length), bw::FirmwareImage(o));
}

TEST_F(BirdFileTest, VectorChecksumCoversEntriesZeroToSixButFive) {
  std::vector<uint8_t> table(40, 0);
  const uint32_t entries[8] = {0x10002000, 0x00000101, 0x00000201, 0x00000301,
                               0x00000401, 0xFFFFFFFF, 0x00000601, 0x12345678};
  for (int e = 0; e < 8; ++e)
    for (int i = 0; i < 4; ++i) table[4 * e + i] = uint8_t(entries[e] >> (8 * i));
  std::vector<uint8_t> shortTable(28, 0xAA);
  BirdFile file(Write({bw::FirmwareBlock(0, table), bw::FirmwareBlock(0x8000, table),
                       bw::FirmwareBlock(0, shortTable)}));
  TraceCapture trace(DEBUG_BirdFile);
  ASSERT_TRUE(file.ReplaceVectorChecksum());

  uint32_t sum = 0x10002000 + 0x101 + 0x201 + 0x301 + 0x401 + 0x601;
  auto firmware = file.FindBlocks(BirdFile::BLOCK_TYPE_FIRMWARE);
  EXPECT_EQ(LittleEndianAt(firmware[0].data + 4 + 28), 0u - sum);
  EXPECT_EQ(LittleEndianAt(firmware[1].data + 4 + 28), 0x12345678u);
  EXPECT_EQ(std::vector<uint8_t>(firmware[2].data + 4, firmware[2].data + 32), shortTable);
  char line[96];
  snprintf(line, sizeof line, "BIRDFILE: updating vector checksum from 12345678 ==> %08X\n", 0u - sum);
  EXPECT_TRUE(trace.has(line)) << trace.text();
}

TEST_F(BirdFileTest, PatternSearchCoversAddressBytesAndTheLastPosition) {
  BirdFile file(Write({bw::FirmwareBlock(0xAABB0000, {1, 2, 3, 4, 5}), bw::LoaderBlock(0, {9, 9, 9})}));
  TraceCapture trace(DEBUG_BirdFile);
  const uint8_t address[] = {0xAA, 0xBB};
  const uint8_t tail[] = {4, 5};
  const uint8_t whole[] = {0xAA, 0xBB, 0, 0, 1, 2, 3, 4, 5};
  const uint8_t tooLong[] = {0xAA, 0xBB, 0, 0, 1, 2, 3, 4, 5, 6};
  const uint8_t loaderOnly[] = {9, 9};
  EXPECT_TRUE(file.ValidateData(address, 2));
  EXPECT_TRUE(file.ValidateData(tail, 2));
  EXPECT_TRUE(file.ValidateData(whole, sizeof whole));
  EXPECT_FALSE(file.ValidateData(tooLong, sizeof tooLong));
  EXPECT_FALSE(file.ValidateData(loaderOnly, 2));
  EXPECT_TRUE(trace.has("Found data at 0\n"));
  EXPECT_TRUE(trace.has("Found data at 7\n"));
  EXPECT_TRUE(trace.has("BIRDFILE: looking for data pattern in [" + file.GetFilename() + "]\n"));
}

TEST_F(BirdFileTest, DescriptorTextsAreCutAtTheirFieldEnds) {
  struct Case {
    const char* name;
    bw::Block descriptor;
    uint32_t serial, build;
    const char* version;
    std::vector<std::pair<const char*, bool>> models;
  };
  const Case cases[] = {
      {"plain", bw::DescriptorBlock(99528558, "1.2.3", 0x0000ABCD, "Tamsel"), 0xABCD, 99528558, "1.2.3",
       {{"Tamsel", true}, {"", true}, {"Tam", true}, {"Tamsel2", false}, {"Umbrin", false}}},
      {"stops at first odd character", bw::DescriptorBlockText("12x4", "1.0 beta", "1234ZZZZ", "Quorby X"),
       0x1234, 12, "1.0", {{"Quorby X", true}, {"Quorby", true}}},
      {"full width", bw::DescriptorBlockText("1234567890123456", "123456789012345678", "ABCDEF0123", "ABCDEFGHIJKLMNOPQ"),
       0xABCDEF01, uint32_t(123456789012345ull), "123456789012345",
       {{"ABCDEFGHIJKLMNOP", true}, {"ABCDEFGHIJKLMNOPQ", false}}},
  };
  for (const Case& c : cases) {
    BirdFile file(Write({c.descriptor}));
    EXPECT_EQ(file.GetSerialNumber(), c.serial) << c.name;
    EXPECT_EQ(file.GetBuild(), c.build) << c.name;
    EXPECT_EQ(file.GetVersion(), c.version) << c.name;
    for (const auto& model : c.models) EXPECT_EQ(file.ValidateModel(model.first), model.second) << c.name << " " << model.first;
  }
  BirdFile bare(Write({bw::FirmwareBlock(0, {1})}));
  EXPECT_EQ(bare.GetSerialNumber(), 0u);
  EXPECT_EQ(bare.GetBuild(), 0u);
  EXPECT_EQ(bare.GetVersion(), "");
  EXPECT_FALSE(bare.ValidateModel(""));
}

TEST_F(BirdFileTest, DumpPrintsRowsOfFiftyWithTheirText) {
  std::vector<uint8_t> data(52, 'a');
  data[1] = 0x01;
  BirdFile file(Write({bw::Block{7, 0, {'A', 'B', 0x01}}, bw::Block{7, 0, data}, bw::Block{8, 0, {1}}}));
  testing::internal::CaptureStdout();
  EXPECT_TRUE(file.DumpBlocks(7));
  std::string out = testing::internal::GetCapturedStdout();
  std::string row50;
  for (int i = 0; i < 50; ++i) row50 += i == 1 ? "01 " : "61 ";
  EXPECT_EQ(out, "BIRDFILE: BLOCK DUMP [" + file.GetFilename() + "]\n" +
                     " \r\n000000: 41 42 01  AB \n" +
                     " \r\n000000: " + row50 + " a " + std::string(48, 'a') + "\r\n000050: 61 61  aa\n" +
                     "\n");
}

}  // namespace
