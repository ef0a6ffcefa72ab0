#include "wav/inspect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "testing/memory_source.h"
#include "testing/temp_dir.h"
#include "testing/wav_bytes.h"

namespace takeloom {
namespace {

using testing::Bytes;
using namespace std::string_view_literals;

constexpr const char* kName = "take.wav";

Error InspectWhole(const Bytes& file, Inspection* out) {
  return InspectTake(testing::MemorySource(file), kName, out);
}

Bytes Take(uint32_t channels, uint32_t bits, size_t audio_bytes,
           int64_t declared_data_size = -1) {
  return testing::MakeTake({.channels = channels,
                            .bits_per_sample = bits,
                            .declared_data_size = declared_data_size,
                            .audio = Bytes(audio_bytes)});
}

Bytes Cut(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

TEST(InspectTest, ReadsFieldsAndClipsFramesToTheFile) {
  Bytes junk;  // a chunk between "fmt " and "data"
  testing::PutText(junk, "LIST");
  testing::PutU32(junk, 10);
  junk.resize(18, std::byte{0});
  struct Case {
    const char* name;
    Bytes file;
    TakeAttributes expected;
    bool size_unset = false;
  };
  const Bytes float_mono = testing::MakeTake({.channels = 1,
                                              .sample_rate = 96000,
                                              .bits_per_sample = 32,
                                              .format_tag = 3,
                                              .extra_chunks = junk,
                                              .audio = Bytes(40)});
  const Bytes stereo16 = Take(2, 16, 400000);
  const auto unfinished = [](uint32_t channels, uint32_t bits) {
    return Take(channels, bits, 4000, 0xFFFFFFFF);
  };
  // An RF64 (or BW64) take: its data size is the ds64 chunk's, here 40
  // bytes of the 400 the file holds; a RIFF take has no ds64 to believe.
  const auto long_form = [](std::string_view form) {
    Bytes ds64;
    testing::PutText(ds64, "ds64");
    testing::PutU32(ds64, 28);
    for (const uint32_t word : {436u, 0u, 40u, 0u, 10u, 0u, 0u}) {
      testing::PutU32(ds64, word);
    }
    Bytes file = testing::MakeTake(
        {.declared_data_size = 0xFFFFFFFF, .audio = Bytes(400)});
    file.insert(file.begin() + 12, ds64.begin(), ds64.end());
    std::copy(form.begin(), form.end(), reinterpret_cast<char*>(file.data()));
    return file;
  };
  // A data size of 0, as a recorder that stopped early leaves it, and what
  // follows the data chunk's header.
  const auto unset = [](std::string_view after) {
    Bytes file = Take(2, 16, 0, 0);
    testing::PutText(file, after);
    return file;
  };
  const Case cases[] = {
      {"whole file", stereo16, {2, 44, 44100, 100000, 2, 16}},
      {"cut short, partial frame dropped", Cut(stereo16, 200046),
       {2, 44, 44100, 50000, 2, 16}},
      {"trailing bytes not counted",
       Take(2, 16, 40, 8),
       {2, 44, 44100, 2, 2, 16}},
      {"unfinished size, 24-bit mono", unfinished(1, 24),
       {1, 44, 44100, 1333, 3, 24}},
      {"unfinished size, 24-bit stereo", unfinished(2, 24),
       {2, 44, 44100, 666, 3, 24}},
      {"data size 0, audio to the end", unset(std::string(27, '\xFF')),
       {2, 44, 44100, 6, 2, 16}, true},
      {"data size 0, a chunk after", unset("LIST\x04\0\0\0INFO"sv),
       {2, 44, 44100, 0, 2, 16}},
      {"data size 0, a chunk header past the end", unset("LIST\x05\0\0\0INFO"sv),
       {2, 44, 44100, 3, 2, 16}, true},
      {"data size 0, nothing after", unset(""), {2, 44, 44100, 0, 2, 16}},
      {"chunk between fmt and data, float tag", float_mono,
       {1, 62, 96000, 10, 4, 32}},
      {"RF64 size from ds64", long_form("RF64"), {2, 80, 44100, 10, 2, 16}},
      {"BW64 size from ds64", long_form("BW64"), {2, 80, 44100, 10, 2, 16}},
      {"RIFF ignores a ds64", long_form("RIFF"), {2, 80, 44100, 100, 2, 16}},
      {"ends inside the size field", Cut(stereo16, 42), {2, 44, 44100, 0, 2, 16}},
      {"ends right after the tag", Cut(stereo16, 40), {2, 44, 44100, 0, 2, 16}},
  };
  for (const Case& c : cases) {
    Inspection got;
    EXPECT_EQ(InspectWhole(c.file, &got).fault, Fault::kNone) << c.name;
    EXPECT_FALSE(got.format_chunk_missing) << c.name;
    EXPECT_EQ(got.data_size_unset, c.size_unset) << c.name;
    EXPECT_EQ(got.take.channels, c.expected.channels) << c.name;
    EXPECT_EQ(got.take.data_start, c.expected.data_start) << c.name;
    EXPECT_EQ(got.take.sample_rate, c.expected.sample_rate) << c.name;
    EXPECT_EQ(got.take.frames, c.expected.frames) << c.name;
    EXPECT_EQ(got.take.bytes_per_sample, c.expected.bytes_per_sample) << c.name;
    EXPECT_EQ(got.take.bits_per_sample, c.expected.bits_per_sample) << c.name;
  }
}

// No "fmt" tag, but format fields where the scan's last candidate would
// put them. The file is cut to `size` bytes.
constexpr size_t kLimit = kInspectScanLimit;
Bytes WithoutFmt(size_t size) {
  Bytes file(kLimit + 24, std::byte{0});
  Bytes tail;
  testing::PutText(tail, "data");
  testing::PutU32(tail, 8);
  std::memcpy(file.data() + 100, tail.data(), tail.size());
  const Bytes fields = testing::FmtChunk(1, 2, 48000, 24);
  std::copy(fields.begin(), fields.end(), file.begin() + kLimit);
  file[kLimit] = std::byte{'F'};  // no longer a "fmt" tag
  file.resize(size);
  return file;
}

// Bytes that happen to lie where a format chunk would be are no format.
TEST(InspectTest, RefusesATakeWithoutFormatTag) {
  Inspection got;
  const Error err = InspectWhole(WithoutFmt(kLimit + 24), &got);
  EXPECT_EQ(err.fault, Fault::kUnreadableFormat);
  EXPECT_EQ(err.detail, "take.wav has no format chunk");
  EXPECT_TRUE(got.format_chunk_missing);
}

// A take whose "fmt " chunk has the extensible layout (6 channels of 32
// bits, mask 0x3F), with `sub_tag` as the first bytes of its sub-format.
Bytes Extensible(uint16_t sub_tag) {
  return testing::MakeTake({.channels = 6,
                            .sample_rate = 48000,
                            .bits_per_sample = 32,
                            .format_tag = sub_tag,
                            .channel_mask = 0x3F,
                            .audio = Bytes(48)});
}

TEST(InspectTest, TellsFloatFromIntegerByTheFormatTag) {
  struct Case {
    const char* name;
    Bytes file;
    SampleFormat expected;
  };
  const Case cases[] = {
      {"pcm", testing::MakeTake({.bits_per_sample = 32, .audio = Bytes(16)}),
       SampleFormat::kInteger},
      {"float",
       testing::MakeTake(
           {.bits_per_sample = 32, .format_tag = 3, .audio = Bytes(16)}),
       SampleFormat::kFloat},
      {"extensible float", Extensible(3), SampleFormat::kFloat},
      {"extensible pcm", Extensible(1), SampleFormat::kInteger},
  };
  for (const Case& c : cases) {
    Inspection got;
    EXPECT_EQ(InspectWhole(c.file, &got).fault, Fault::kNone) << c.name;
    EXPECT_EQ(got.take.format, c.expected) << c.name;
    EXPECT_EQ(got.take.extensible.has_value(), c.name[0] == 'e') << c.name;
  }
  Inspection six;
  ASSERT_TRUE(InspectWhole(Extensible(1), &six).ok());
  EXPECT_EQ(six.take.channels, 6u);
  EXPECT_EQ(six.take.frames, 2);
  EXPECT_EQ(six.take.data_start, 68);
  EXPECT_EQ(six.take.extensible->valid_bits, 32u);
  EXPECT_EQ(six.take.extensible->channel_mask, 0x3Fu);
}

TEST(InspectTest, RefusesTakesItCannotMeasure) {
  Bytes late_data(kLimit + 100, std::byte{0});
  const Bytes fmt = testing::FmtChunk(1, 2, 44100, 16);
  std::copy(fmt.begin(), fmt.end(), late_data.begin() + 12);
  std::memcpy(late_data.data() + kLimit + 2, "data", 4);
  // Samples the tool cannot copy, as their format chunk describes them.
  const auto tagged = [](uint16_t tag, uint32_t bits) {
    return testing::MakeTake(
        {.bits_per_sample = bits, .format_tag = tag, .audio = Bytes(48)});
  };
  Bytes misaligned = Take(2, 16, 40);
  misaligned[32] = std::byte{6};  // block align 6 for 4-byte frames
  Bytes other_guid = Extensible(1);
  other_guid[50] = std::byte{1};
  struct Case {
    const char* name;
    Bytes file;
    Fault expected;
  };
  const Case cases[] = {
      {"no fmt, too short for the fields", WithoutFmt(kLimit + 23),
       Fault::kUnreadableFormat},
      {"8 bits", tagged(1, 8), Fault::kUnsupportedFormat},
      {"12 bits", tagged(1, 12), Fault::kUnsupportedFormat},
      {"64-bit integers", tagged(1, 64), Fault::kUnsupportedFormat},
      {"16-bit floats", tagged(3, 16), Fault::kUnsupportedFormat},
      {"A-law", tagged(6, 8), Fault::kUnsupportedFormat},
      {"ADPCM", tagged(2, 16), Fault::kUnsupportedFormat},
      {"block align other than the frame", misaligned,
       Fault::kUnsupportedFormat},
      {"extensible, another sub-format", other_guid,
       Fault::kUnsupportedFormat},
      {"format chunk cut short", Cut(Take(2, 16, 0), 35),
       Fault::kUnreadableFormat},
      {"extensible cut before its sub-format", Cut(Extensible(3), 45),
       Fault::kUnreadableFormat},
      {"no channels", Take(0, 16, 40), Fault::kUnreadableFormat},
      {"under 8 bits", Take(2, 7, 40), Fault::kUnreadableFormat},
      {"data tag past the limit", late_data, Fault::kNoDataChunk},
  };
  for (const Case& c : cases) {
    Inspection got;
    const Error err = InspectWhole(c.file, &got);
    EXPECT_EQ(err.fault, c.expected) << c.name;
    EXPECT_EQ(err.file, kName) << c.name;
  }
}

TEST(InspectTest, FindsAudioThatRecordersStartLate) {
  testing::TempDir dir;
  // The last one lies beyond every tag scan limit: the chunk walk finds it.
  for (const size_t audio_at : {16384u, 131072u, 204800u}) {
    // A padding chunk pushes the data chunk's tag to audio_at - 8.
    const Bytes pad =
        testing::Chunk("JUNK", std::string(audio_at - 8 - 36 - 8, '\0'));
    testing::WriteFile(
        dir.File("t.wav"),
        testing::MakeTake({.extra_chunks = pad, .audio = Bytes(400)}));
    Inspection got;
    EXPECT_EQ(GET_ATTRIBUTES(dir.File("t.wav"), &got).fault, Fault::kNone)
        << audio_at;
    EXPECT_EQ(got.take.data_start, static_cast<int64_t>(audio_at)) << audio_at;
    EXPECT_EQ(got.take.frames, 100) << audio_at;
  }
  // A data size field that straddles the end of the first bytes read.
  const Bytes pad = testing::Chunk("JUNK", std::string(4090 - 36 - 8, '\0'));
  // Every byte of the audio's size field matters.
  testing::WriteFile(
      dir.File("t.wav"),
      testing::MakeTake({.extra_chunks = pad, .audio = Bytes(0x10004)}));
  Inspection got;
  ASSERT_TRUE(GET_ATTRIBUTES(dir.File("t.wav"), &got).ok());
  EXPECT_EQ(got.take.data_start, 4098);
  EXPECT_EQ(got.take.frames, 0x4001);
}

TEST(InspectTest, GetAttributesMeasuresTheWholeFile) {
  testing::TempDir dir;
  // Longer than what inspection reads: the clip must use the file's length.
  const Bytes take = Take(2, 16, 40002, 0xFFFFFFFF);
  testing::WriteFile(dir.File("t.wav"), take);
  Inspection got;
  EXPECT_EQ(GET_ATTRIBUTES(dir.File("t.wav"), &got).fault, Fault::kNone);
  EXPECT_EQ(got.take.frames, 10000);
  // What tells a take replaced since.
  EXPECT_EQ(got.take.file_length, std::ssize(take));
  EXPECT_TRUE(got.take.identity.Unchanged(LookUp(dir.File("t.wav")).id));
  const Error missing = GET_ATTRIBUTES(dir.File("missing.wav"), &got);
  EXPECT_EQ(missing.fault, Fault::kCannotOpen);
  EXPECT_EQ(missing.file, dir.File("missing.wav"));
}

}  // namespace
}  // namespace takeloom
