#include "wav/chunk_scan.h"

#include <gtest/gtest.h>

#include <cstring>

#include "testing/temp_dir.h"
#include "testing/wav_bytes.h"
#include "wav/file_io.h"
#include "wav/header.h"

namespace takeloom {
namespace {

using testing::Bytes;

// `size` bytes that hold nothing but `text` at each of `offsets`.
Bytes WithTextAt(size_t size, std::string_view text,
                 std::initializer_list<size_t> offsets) {
  Bytes out(size, std::byte{'x'});
  for (size_t at : offsets) std::memcpy(out.data() + at, text.data(), text.size());
  return out;
}

TEST(ChunkScanTest, FindsFirstEvenCandidateWithinLimitAndFile) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::string_view tag;
    int64_t limit;
    std::optional<int64_t> expected;
  };
  const Case cases[] = {
      {"canonical header", testing::MakeTake(testing::TakeParts()), "data", 15000, 36},
      {"odd offset only", WithTextAt(100, "data", {37}), "data", 15000, {}},
      {"offset 0 never examined", WithTextAt(100, "data", {0}), "data", 15000, {}},
      {"first of two", WithTextAt(100, "data", {60, 20}), "data", 15000, 20},
      {"at the limit", WithTextAt(15100, "data", {15000}), "data", 15000, 15000},
      {"past the limit", WithTextAt(15100, "data", {15002}), "data", 15000, {}},
      {"cut by end of file", WithTextAt(41, "dat", {38}), "data", 15000, {}},
      {"whole at end of file", WithTextAt(40, "data", {36}), "data", 15000, 36},
      {"fmt ignores 4th byte", WithTextAt(40, "fmtX", {12}), "fmt", 15000, 12},
      {"case matters", WithTextAt(40, "DATA", {12}), "data", 15000, {}},
      {"size field of a RIFF file", WithTextAt(40, "RIFFdata", {0}), "data",
       15000, {}},
      {"offset 4 of another file", WithTextAt(40, "RIFXdata", {0}), "data",
       15000, 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindTag(c.bytes, c.tag, c.limit), c.expected) << c.name;
  }
}

// An output long enough for its RIFF size to spell "data" still has its
// audio after the header, for every reader.
TEST(ChunkScanTest, SizeFieldThatSpellsATagIsNoTag) {
  const int64_t frames = (0x61746164 - 36) / 4;  // 16-bit stereo
  const auto header = HeaderBytes(44100, 16, frames, 2);
  ASSERT_EQ(std::memcmp(header.data() + 4, "data", 4), 0);
  EXPECT_EQ(FindTag(header, "data", kCopyScanLimit), 36);

  testing::TempDir dir;
  const std::string path = dir.File("long.wav");
  testing::WriteFile(path, Bytes(header.begin(), header.end()));
  const FilePtr f = OpenFile(path, "rb");
  ASSERT_TRUE(f);
  EXPECT_EQ(FindDataStart(f.get(), kPadScanLimit), 44);

  // So does a (far-fetched) sample rate that reads "data".
  const auto rate = HeaderBytes(0x61746164, 16, 10, 2);
  ASSERT_EQ(std::memcmp(rate.data() + 24, "data", 4), 0);
  EXPECT_EQ(FindTag(rate, "data", kCopyScanLimit), 36);
}

// Files are read in blocks: a tag straddling a block boundary, or lying in a
// later block, must be found exactly where the in-memory search finds it.
TEST(ChunkScanTest, FileScanAgreesWithMemoryAcrossBlocks) {
  testing::TempDir dir;
  const std::string path = dir.File("scan.wav");
  // Reads are a page first and 64 KiB after: the positions straddle both.
  for (size_t at : {36, 4092, 4094, 4095, 4096, 65534, 69626, 69628, 135158,
                    131070, 171032, 171034}) {
    const Bytes bytes = WithTextAt(180000, "data", {at});
    testing::WriteFile(path, bytes);
    const FilePtr f = OpenFile(path, "rb");
    ASSERT_TRUE(f);
    const auto expected =
        (at % 2 == 0 && at <= 171032) ? std::optional<int64_t>(at) : std::nullopt;
    EXPECT_EQ(FindTag(bytes, "data", kCopyScanLimit), expected) << at;
    EXPECT_EQ(ScanFileForTag(f.get(), "data", kCopyScanLimit), expected) << at;
    EXPECT_EQ(FindDataStart(f.get(), kCopyScanLimit),
              expected ? std::optional<int64_t>(*expected + 8) : std::nullopt)
        << at;
  }
}

}  // namespace
}  // namespace takeloom
