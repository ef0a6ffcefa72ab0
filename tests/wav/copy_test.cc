#include "wav/copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "testing/faulty_syscalls.h"
#include "testing/temp_dir.h"
#include "testing/wav_bytes.h"
#include "wav/header.h"

namespace takeloom {
namespace {

// Where the audio of an integer file that fits 32-bit sizes starts.
constexpr int64_t kHeaderBytes = 44;

// In memory (tmpfs) the writer copies inside the kernel; on ext4 it reads
// and writes.
std::filesystem::path KernelCopies() {
  return std::filesystem::is_directory("/dev/shm")
             ? "/dev/shm"
             : std::filesystem::temp_directory_path();
}

// Opens a take with what inspection found of it, as the run does.
Error OpenTake(const std::string& path, TakeReader* take) {
  Inspection inspection;
  const Error err = GET_ATTRIBUTES(path, &inspection);
  return err.ok() ? take->Open(path, inspection.take) : err;
}

using testing::Bytes;

std::string Str(std::span<const std::byte> bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TrackFormat Format(uint32_t bytes_per_sample, uint32_t channels) {
  return {44100, 8 * bytes_per_sample, bytes_per_sample, channels,
          SampleFormat::kInteger};
}

std::string Header(const TrackFormat& format, int64_t frames) {
  return Str(HeaderBytes(format, frames));
}

// A take whose audio starts at byte 62, behind an 18-byte chunk, where the
// files the tool writes have it at 44. With `trailer`, a metadata chunk of
// nonzero bytes follows the audio, where frames past its end would lie.
Bytes TakeAt62(const TrackFormat& format, Bytes audio, bool trailer = false) {
  testing::TakeParts parts;
  parts.channels = format.channels;
  parts.bits_per_sample = format.bits_per_sample;
  parts.extra_chunks = testing::Chunk("junk", std::string(10, '\0'));
  parts.audio = std::move(audio);
  Bytes file = testing::MakeTake(parts);
  if (trailer) {
    const Bytes list = testing::Chunk("LIST", std::string(100, 'Z'));
    file.insert(file.end(), list.begin(), list.end());
  }
  return file;
}

// What a take holding `audio` reads as from `offset` on: its whole frames,
// and zeros wherever it has none.
std::string Expected(const Bytes& audio, int64_t frame_size, int64_t offset,
                     int64_t size) {
  const int64_t whole = std::ssize(audio) / frame_size * frame_size;
  std::string out(static_cast<size_t>(std::max<int64_t>(0, size)), '\0');
  for (int64_t i = 0; i < std::ssize(out); ++i) {
    const int64_t at = offset + i;
    if (at >= 0 && at < whole) out[i] = static_cast<char>(audio[at]);
  }
  return out;
}

TEST(TakeReaderTest, ReadsZerosWhereTheTakeHoldsNoAudio) {
  testing::TempDir dir;
  // Ten 4-byte frames and two bytes of an eleventh, then a metadata chunk.
  const Bytes audio = testing::Noise(42, 1);
  testing::WriteFile(dir.File("take.wav"), TakeAt62(Format(2, 2), audio, true));
  TakeReader take;
  ASSERT_TRUE(OpenTake(dir.File("take.wav"), &take).ok());
  struct Case {
    const char* name;
    int64_t offset, size;
  };
  const Case cases[] = {
      {"inside", 6, 8},
      {"before the audio", -12, 8},
      {"across its start", -6, 12},
      {"across its end, the partial frame and the chunk after", 36, 20},
      {"past its end", 44, 8},
      {"all of it and more", -4, 60},
  };
  for (const Case& c : cases) {
    Bytes got(static_cast<size_t>(c.size), std::byte{0xEE});
    EXPECT_TRUE(take.Read(c.offset, got).ok()) << c.name;
    EXPECT_EQ(Str(got), Expected(audio, 4, c.offset, c.size)) << c.name;
  }
}

TEST(TrackWriterTest, WritesAtAudioOffsetsAfterItsHeader) {
  testing::TempDir dir;
  const std::string path = dir.File("out.wav");
  testing::WriteFile(path, std::string(200000, 'x'));  // replaced, not kept
  const TrackFormat format = Format(3, 2);
  TrackWriter out;
  ASSERT_TRUE(out.Create(path, format, 100).ok());
  EXPECT_EQ(out.end(), 0);
  const Bytes audio = testing::Noise(80000, 3);
  const Bytes tail = testing::Noise(20, 4);
  ASSERT_TRUE(out.Write(0, audio).ok());
  // More zeros than one block of silence holds.
  ASSERT_TRUE(out.Silence(5, 70000).ok());
  EXPECT_EQ(out.end(), 80000);
  ASSERT_TRUE(out.Write(79990, tail).ok());
  EXPECT_EQ(out.end(), 80010);
  ASSERT_TRUE(out.Finish().ok());
  EXPECT_EQ(testing::ReadFile(path),
            Header(format, 100) + Str(audio).substr(0, 5) +
                std::string(70000, '\0') + Str(audio).substr(70005, 9985) +
                Str(tail));
}

TEST(TrackWriterTest, RemovesOnlyWhatItCreated) {
  testing::TempDir dir;
  for (const bool finished : {false, true}) {
    TrackWriter out;
    ASSERT_TRUE(out.Create(dir.File("out.wav"), Format(2, 2), 0).ok());
    if (finished) {
      ASSERT_TRUE(out.Finish().ok());
    }
    EXPECT_TRUE(out.Remove().ok());
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.wav"))) << finished;
  }
  // A name that cannot be looked up may hold another's file: it stays, and
  // the writer says so with the reason.
  TrackWriter kept;
  ASSERT_TRUE(kept.Create(dir.File("kept.wav"), Format(2, 2), 0).ok());
  ASSERT_TRUE(kept.Finish().ok());
  testing::FaultySyscalls faulty =
      testing::FaultySyscalls::Failing(testing::Call::kLstat, 1, EIO);
  Error left;
  {
    const ScopedSyscalls scope(&faulty);
    left = kept.Remove();
  }
  EXPECT_EQ(left.detail, dir.File("kept.wav") + " was left: Input/output error");
  EXPECT_TRUE(std::filesystem::exists(dir.File("kept.wav")));
  // An empty directory would go with the same call that removes a file.
  std::filesystem::create_directory(dir.File("sub"));
  TrackWriter out;
  EXPECT_EQ(out.Create(dir.File("sub"), Format(2, 2), 0).fault,
            Fault::kCannotWrite);
  EXPECT_TRUE(out.Remove().ok());
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("sub")));
}

TEST(TrackWriterTest, ReportsWritesThatFailWithThePath) {
  testing::TempDir dir;
  const std::string path = dir.File("out.wav");
  TrackWriter out;
  ASSERT_TRUE(out.Create(path, Format(2, 2), 0).ok());
  TrackWriter uncreated;
  ASSERT_FALSE(uncreated.Create(dir.path().string(), Format(2, 2), 0).ok());
  const testing::ScopedFileSizeLimit limit(kHeaderBytes + 1000);
  struct Case {
    const char* name;
    Error err;
    std::string file;
  };
  const Case cases[] = {
      {"write past a size limit", out.Write(990, testing::Noise(20, 1)), path},
      {"silence past a size limit", out.Silence(0, 2000), path},
      {"before the audio", out.Write(-4, testing::Noise(4, 2)), path},
      {"write after a failed create",
       uncreated.Write(0, testing::Noise(4, 3)), dir.path().string()},
      {"finish after a failed create", uncreated.Finish(), dir.path().string()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.err.fault, Fault::kCannotWrite) << c.name;
    EXPECT_EQ(c.err.file, c.file) << c.name;
  }
}

// An output is written under its partial name, named in errors by its own,
// and released whole to be renamed over a file or a link of its name, never
// through the link; nothing can be put over a directory, so that is refused
// before anything is written; a stop request refuses every later write.
TEST(TrackWriterTest, PartialOutputsAreReleasedWhole) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  const std::string name = dir.File("kick_bld.wav");
  const std::string outside = dir.File("outside.wav");
  testing::WriteFile(outside, "kept");
  fs::create_symlink(outside, name);
  TrackWriter out;
  ASSERT_TRUE(out.CreatePartial(name, Format(2, 2), 2).ok());
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(name)));  // not yet in place
  ASSERT_TRUE(out.Write(0, testing::Noise(8, 1)).ok());
  ASSERT_TRUE(out.Finish().ok());
  ASSERT_TRUE(out.Release().ok());
  fs::rename(out.path(), name);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name)));
  EXPECT_EQ(fs::file_size(name), static_cast<uintmax_t>(kHeaderBytes + 8));
  EXPECT_FALSE(fs::exists(name + ".partial"));
  EXPECT_EQ(testing::ReadFile(outside), "kept");

  bool stop = false;
  TrackWriter stopped;
  ASSERT_TRUE(stopped.CreatePartial(name, Format(2, 2), 2).ok());
  stopped.StopWhen([&] { return stop; });
  EXPECT_TRUE(stopped.Write(0, testing::Noise(4, 2)).ok());
  stop = true;
  const Error err = stopped.Write(4, testing::Noise(4, 3));
  EXPECT_EQ(err.fault, Fault::kInterrupted);
  EXPECT_EQ(err.file, name);
  int64_t copied = 0;
  EXPECT_EQ(stopped.CopyFrom(File(), 0, 4, 4, &copied).fault,
            Fault::kInterrupted);
  EXPECT_TRUE(stopped.Remove().ok());
  EXPECT_FALSE(fs::exists(name + ".partial"));
  EXPECT_EQ(fs::file_size(name), static_cast<uintmax_t>(kHeaderBytes + 8));

  // Another run replaced the partial file: this writer neither syncs,
  // renames nor removes that one.
  TrackWriter overtaken;
  ASSERT_TRUE(overtaken.CreatePartial(name, Format(2, 2), 2).ok());
  ASSERT_TRUE(overtaken.Write(0, testing::Noise(8, 4)).ok());
  ASSERT_TRUE(overtaken.Finish().ok());
  fs::remove(name + ".partial");
  testing::WriteFile(name + ".partial", "theirs");
  EXPECT_EQ(overtaken.MakeDurable().fault, Fault::kCannotWrite);
  EXPECT_EQ(overtaken.Release().fault, Fault::kCannotWrite);
  EXPECT_TRUE(overtaken.Remove().ok());
  EXPECT_EQ(testing::ReadFile(name + ".partial"), "theirs");
  EXPECT_EQ(fs::file_size(name), static_cast<uintmax_t>(kHeaderBytes + 8));
  fs::remove(name + ".partial");

  const std::string directory = dir.File("snare_bld.wav");
  fs::create_directory(directory);
  TrackWriter refused;
  const Error dir_err = refused.CreatePartial(directory, Format(2, 2), 2);
  EXPECT_EQ(dir_err.fault, Fault::kCannotWrite);
  EXPECT_EQ(dir_err.file, directory);
  EXPECT_FALSE(fs::exists(directory + ".partial"));
}

TEST(CopyTest, CopiesFramesBetweenDifferentDataStarts) {
  struct Case {
    const char* name;
    uint32_t bytes_per_sample, channels;
    size_t audio_bytes;
    bool trailer;
    int64_t destination_frame, frames, source_frame;
    size_t buffer_bytes;
  };
  const Case cases[] = {
      {"one buffer", 2, 2, 12000, false, 100, 1024, 100, 4096},
      {"a buffer and a frame", 2, 2, 12000, false, 100, 1025, 100, 4096},
      {"several buffers, the last short", 2, 2, 12000, false, 100, 2500, 100,
       4096},
      {"buffer no multiple of the frame", 3, 1, 9000, false, 1000, 2500, 7,
       1000},
      {"buffer smaller than a frame", 3, 2, 600, false, 5, 90, 3, 4},
      // 299 whole frames and half of one more.
      {"frames past the take's end are zero", 2, 2, 1198, false, 0, 1500, 100,
       4096},
      {"also before a metadata chunk", 2, 2, 1200, true, 10, 400, 250, 4096},
      {"no frames", 2, 2, 1200, false, 0, -5, 0, 4096},
      // File offsets in step modulo 4096 (62 + 200 = 44 + 218): the blocks
      // between go through the kernel, the pieces around them through the
      // buffer, and the take's trailing chunk never reaches the output.
      {"in step with the output", 2, 1, 40000, false, 109, 15000, 100, 4096},
      {"in step, the take ending first", 2, 1, 40000, true, 109, 25000, 100,
       4096},
  };
  for (const Case& c : cases) {
    testing::TempDir dir(KernelCopies());
    const TrackFormat format = Format(c.bytes_per_sample, c.channels);
    const int64_t frame_size = format.FrameSize();
    const Bytes audio = testing::Noise(c.audio_bytes, 1);
    testing::WriteFile(dir.File("take.wav"),
                       TakeAt62(format, audio, c.trailer));
    TakeReader take;
    ASSERT_TRUE(OpenTake(dir.File("take.wav"), &take).ok()) << c.name;
    TrackWriter out;
    ASSERT_TRUE(out.Create(dir.File("out.wav"), format, 0).ok()) << c.name;
    Bytes buffer(c.buffer_bytes);
    EXPECT_TRUE(INSERT_FILE(out, take, c.destination_frame, c.frames,
                            c.source_frame, buffer)
                    .ok())
        << c.name;
    ASSERT_TRUE(out.Finish().ok()) << c.name;
    // The gap before the first written frame reads as silence.
    EXPECT_EQ(testing::ReadFile(dir.File("out.wav")),
              Header(format, 0) +
                  std::string(c.destination_frame * frame_size, '\0') +
                  Expected(audio, frame_size, c.source_frame * frame_size,
                           c.frames * frame_size))
        << c.name;
  }
}

TEST(CopyTest, PadsBetweenUntouchedBytesAndGrowsTheFile) {
  testing::TempDir dir;
  TrackWriter out;
  ASSERT_TRUE(out.Create(dir.File("out.wav"), Format(2, 2), 0).ok());
  const Bytes audio = testing::Noise(100000, 4);
  ASSERT_TRUE(out.Write(0, audio).ok());
  // 80000 bytes, more than one block of silence.
  ASSERT_TRUE(PAD_FILE(out, 500, 20000).ok());
  ASSERT_TRUE(PAD_FILE(out, 25000, 10).ok());
  ASSERT_TRUE(PAD_FILE(out, 10, -3).ok());
  ASSERT_TRUE(out.Finish().ok());
  std::string expected = Str(audio) + std::string(40, '\0');
  expected.replace(2000, 80000, 80000, '\0');
  EXPECT_EQ(testing::ReadFile(dir.File("out.wav")).substr(kHeaderBytes),
            expected);
}

// A take cut short after it was inspected: the kernel's copy ends early,
// and the rest, read as before, fails as a read of the take.
TEST(CopyTest, ATakeCutShortStopsTheCopy) {
  testing::TempDir dir(KernelCopies());
  testing::WriteFile(dir.File("take.wav"),
                     TakeAt62(Format(2, 2), testing::Noise(40000, 7)));
  TakeReader take;
  ASSERT_TRUE(OpenTake(dir.File("take.wav"), &take).ok());
  std::filesystem::resize_file(dir.File("take.wav"), 62 + 20000);
  TrackWriter out;
  ASSERT_TRUE(out.Create(dir.File("out.wav"), Format(2, 2), 0).ok());
  Bytes buffer(4096);
  const Error err = INSERT_FILE(out, take, 0, 10000, 0, buffer);
  EXPECT_EQ(err.fault, Fault::kTakeChanged);
  EXPECT_EQ(err.file, dir.File("take.wav"));
}

TEST(CopyTest, ReportsWritesThatFail) {
  testing::TempDir dir;
  const std::string path = dir.File("out.wav");
  testing::WriteFile(dir.File("take.wav"),
                     TakeAt62(Format(2, 2), testing::Noise(10000, 5)));
  TakeReader take;
  ASSERT_TRUE(OpenTake(dir.File("take.wav"), &take).ok());
  TrackWriter out;
  ASSERT_TRUE(out.Create(path, Format(2, 2), 0).ok());
  Bytes buffer(4096);
  // Room for the first buffer only.
  const testing::ScopedFileSizeLimit limit(kHeaderBytes + 4096 + 100);
  const Error copy = INSERT_FILE(out, take, 0, 2500, 0, buffer);
  const Error pad = PAD_FILE(out, 0, 2500);
  EXPECT_EQ(copy.fault, Fault::kCannotWrite);
  EXPECT_EQ(copy.file, path);
  EXPECT_EQ(pad.fault, Fault::kCannotWrite);
  EXPECT_EQ(pad.file, path);
}

}  // namespace
}  // namespace takeloom
