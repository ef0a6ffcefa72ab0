#include "wav/riff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "testing/memory_source.h"
#include "testing/temp_dir.h"
#include "testing/wav_bytes.h"
#include "wav/file_source.h"
#include "wav/header.h"

namespace takeloom {
namespace {

using testing::Bytes;
using testing::Chunk;
using testing::MemorySource;

// A limit past every position these tests place a tag at.
constexpr int64_t kWideLimit = 171032;
using namespace std::string_view_literals;

// `size` bytes that hold nothing but `text` at each of `offsets`.
Bytes WithTextAt(size_t size, std::string_view text,
                 std::initializer_list<size_t> offsets) {
  Bytes out(size, std::byte{'x'});
  for (size_t at : offsets) std::memcpy(out.data() + at, text.data(), text.size());
  return out;
}

std::optional<int64_t> Scan(const Bytes& bytes, std::string_view tag,
                            int64_t limit) {
  return ScanForTag(MemorySource(bytes), tag, limit);
}

// "RIFF" (or `form`), a size, "WAVE" and the chunks, in order.
Bytes Riff(std::initializer_list<Bytes> chunks, std::string_view form = "RIFF") {
  Bytes out;
  testing::PutText(out, form);
  testing::PutU32(out, 0);
  testing::PutText(out, "WAVE");
  for (const Bytes& chunk : chunks) out.insert(out.end(), chunk.begin(), chunk.end());
  return out;
}

TEST(RiffTest, WalkFindsChunksByTheirSizesNotTheirText) {
  const Bytes fmt = testing::FmtChunk(1, 2, 48000, 24);
  const Bytes data = Chunk("data", std::string(12, '\x01'));
  // An RF64 data chunk whose 32-bit size reads 0xFFFFFFFF: its ds64 chunk
  // says it holds 12 bytes, after which the format chunk follows.
  Bytes long_data = data;
  std::fill(long_data.begin() + 4, long_data.begin() + 8, std::byte{0xFF});
  // A data chunk that declares more than the file holds before "fmt ".
  Bytes cut_data = Chunk("data", std::string(1000, '\x02'));
  cut_data[5] = std::byte{0x80};
  const Bytes ds64 = Chunk(
      "ds64", std::string("\0\0\0\0\0\0\0\0\x0C\0\0\0\0\0\0\0"
                          "\0\0\0\0\0\0\0\0\0\0\0\0", 28));
  // A comment as converters write it, and a Broadcast WAV description: the
  // text "data" lies at even offsets, where the tag scan would take it.
  const Bytes comment =
      Chunk("LIST", "INFOICMT\x11\0\0\0bad data at 0:12\0\0"sv);
  const Bytes bext = Chunk("bext", "take 3: data from the desk!");
  const Bytes late = Chunk("JUNK", std::string(200 * 1024, 'd'));
  const Bytes cut_short = [] {
    Bytes b = Chunk("LIST", "xxdata");
    b[4] = std::byte{0xFF};  // the size runs past the end of the file
    return b;
  }();
  struct Case {
    const char* name;
    Bytes file;
    std::optional<int64_t> fmt, data;
  };
  const Case cases[] = {
      {"canonical", Riff({fmt, data}), 12, 36},
      {"comment that says data", Riff({fmt, comment, data}), 12, 74},
      {"description that says data, odd size padded", Riff({bext, fmt, data}),
       48, 72},
      {"audio beyond every scan limit", Riff({fmt, late, data}), 12, 204844},
      {"RF64", Riff({fmt, data}, "RF64"), 12, 36},
      {"BW64", Riff({fmt, data}, "BW64"), 12, 36},
      {"RF64 data sized by its ds64", Riff({ds64, long_data, fmt}, "RF64"), 68,
       48},
      {"first of two data chunks", Riff({fmt, data, data}), 12, 36},
      {"data before fmt", Riff({data, fmt}), 32, 12},
      // A format chunk after audio cut short is left to the scan.
      {"fmt after a data chunk that runs past the end",
       Riff({cut_data, fmt}), 1020, 12},
      // Where the walk cannot reach "data", the tag scan decides.
      {"size runs past the end", Riff({fmt, cut_short}), 12, 46},
      {"not a RIFF form", Riff({fmt, comment, data}, "RIFX"), 12, 60},
  };
  for (const Case& c : cases) {
    const ChunkPlaces got = LocateChunks(MemorySource(c.file), kInspectScanLimit);
    EXPECT_EQ(got.fmt, c.fmt) << c.name;
    EXPECT_EQ(got.data, c.data) << c.name;
  }

  // The recorder's metadata counts wherever it stands: after the audio the
  // walk goes on where the declared audio ends, up to the first chunk that
  // does not fit the file or bytes that read as no chunk.
  const Bytes ixml = Chunk("iXML", "<BWFXML/>");
  Bytes broken_ixml = ixml;
  broken_ixml[5] = std::byte{0x10};  // 4105 bytes declared
  struct Meta {
    const char* name;
    Bytes file;
    int64_t bext_at, bext_length, ixml_at, ixml_length;
  };
  const Meta metas[] = {
      {"both before the audio", Riff({bext, fmt, ixml, data}), 12, 36, 72, 18},
      {"bext before, iXML after", Riff({bext, fmt, data, ixml}), 12, 36, 92,
       18},
      {"both after", Riff({fmt, data, bext, ixml}), 56, 36, 92, 18},
      {"after odd-sized audio and its pad byte",
       Riff({fmt, Chunk("data", "abc"), ixml}), 0, 0, 48, 18},
      {"after audio sized by its ds64",
       Riff({ds64, long_data, fmt, ixml}, "RF64"), 0, 0, 92, 18},
      {"between the audio and fmt", Riff({data, ixml, fmt}), 0, 0, 32, 18},
      {"broken iXML after the audio", Riff({fmt, data, bext, broken_ixml}), 56,
       36, 0, 0},
      {"after a broken chunk", Riff({fmt, data, cut_short, ixml}), 0, 0, 0, 0},
      {"after bytes that are no chunk", Riff({fmt, data, Bytes(8), ixml}), 0,
       0, 0, 0},
  };
  for (const Meta& m : metas) {
    const ChunkPlaces got = WalkChunks(MemorySource(m.file));
    EXPECT_EQ(got.bext.offset, m.bext_at) << m.name;
    EXPECT_EQ(got.bext.length, m.bext_length) << m.name;
    EXPECT_EQ(got.ixml.offset, m.ixml_at) << m.name;
    EXPECT_EQ(got.ixml.length, m.ixml_length) << m.name;
  }
}

TEST(RiffTest, ScanFindsFirstEvenCandidateWithinLimitAndFile) {
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
    EXPECT_EQ(Scan(c.bytes, c.tag, c.limit), c.expected) << c.name;
  }
}

// An output long enough for its RIFF size to spell "data" still has its
// audio after the header, for every reader.
TEST(RiffTest, SizeFieldThatSpellsATagIsNoTag) {
  const int64_t frames = (0x61746164 - 36) / 4;  // 16-bit stereo
  const auto header = HeaderBytes({44100, 16, 2, 2}, frames);
  ASSERT_EQ(std::memcmp(header.data() + 4, "data", 4), 0);
  const Bytes bytes(header.begin(), header.end());
  EXPECT_EQ(Scan(bytes, "data", kWideLimit), 36);

  // So does a (far-fetched) sample rate that reads "data".
  const auto rate = HeaderBytes({0x61746164, 16, 2, 2}, 10);
  ASSERT_EQ(std::memcmp(rate.data() + 24, "data", 4), 0);
  EXPECT_EQ(Scan(Bytes(rate.begin(), rate.end()), "data", kWideLimit), 36);
}

// Files are read in blocks: a tag straddling a block boundary, or lying in a
// later block, must be found exactly where the in-memory search finds it.
TEST(RiffTest, FileScanAgreesWithMemoryAcrossBlocks) {
  testing::TempDir dir;
  const std::string path = dir.File("scan.wav");
  // Reads are a page first and 64 KiB after: the positions straddle both.
  for (size_t at : {36, 4092, 4094, 4095, 4096, 65534, 69626, 69628, 135158,
                    131070, 171032, 171034}) {
    const Bytes bytes = WithTextAt(180000, "data", {at});
    testing::WriteFile(path, bytes);
    File file;
    ASSERT_TRUE(file.OpenRead(path));
    const auto expected =
        (at % 2 == 0 && at <= 171032) ? std::optional<int64_t>(at) : std::nullopt;
    EXPECT_EQ(Scan(bytes, "data", kWideLimit), expected) << at;
    EXPECT_EQ(ScanForTag(FileSource(file), "data", kWideLimit), expected)
        << at;
  }
}

// The chunk walk's small reads are served from cached pages: wherever they
// fall, across pages or past the end, they must return what the file holds.
TEST(RiffTest, FileSourceReadsWhatTheFileHolds) {
  testing::TempDir dir;
  const Bytes bytes = testing::Noise(3 * 4096 + 100, 8);
  testing::WriteFile(dir.File("f.wav"), bytes);
  File file;
  ASSERT_TRUE(file.OpenRead(dir.File("f.wav")));
  const FileSource source(file);
  EXPECT_EQ(source.Length(), std::ssize(bytes));
  // Back and forth, so that the cache is both refilled and reused.
  for (const int64_t offset : {0, 4090, 4095, 8190, 100, 12290, 12388, 12396,
                               20000, 8191}) {
    for (const int64_t size : {1, 8, 4096, 4097, 8000}) {
      Bytes got(static_cast<size_t>(size), std::byte{0xEE});
      const int64_t n =
          std::clamp<int64_t>(std::ssize(bytes) - offset, 0, size);
      EXPECT_EQ(source.ReadSome(offset, got), n) << offset << "+" << size;
      const auto from = bytes.begin() + std::min(offset, std::ssize(bytes));
      EXPECT_TRUE(std::equal(got.begin(), got.begin() + n, from))
          << offset << "+" << size;
    }
  }
}

}  // namespace
}  // namespace takeloom
