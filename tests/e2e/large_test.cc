// A session beyond 4 GiB, as long field and concert recordings make them:
// an RF64 take of 5 GiB (sparse, so it costs no disk) and an output of
// 4.4 GB, which must be written as RF64 with its real frame count, hold the
// take's audio past the 4 GiB mark, and be read so by other programs, while
// the build's memory stays small. Where an XFS image can be mounted the
// session lives there: the output shares the take's blocks and holes, so it
// is built in moments rather than by writing 4.4 GB (its last frames are
// still read and written, past the 4 GiB mark); elsewhere it is written
// whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "e2e/run_tool.h"
#include "testing/session.h"

namespace takeloom::testing {
namespace {

constexpr uint64_t kTakeData = uint64_t{5} << 30;  // 5 GiB of 16-bit stereo
constexpr uint64_t kFrameBytes = 4;
constexpr uint64_t kHeader = 80;                   // RF64 with its ds64
constexpr uint64_t kOutFrames = 23000ull * 48000;  // 0 s to 23000 s
constexpr uint64_t kOutData = kOutFrames * kFrameBytes;

void PutU64(Bytes& out, uint64_t value) {
  PutU32(out, static_cast<uint32_t>(value));
  PutU32(out, static_cast<uint32_t>(value >> 32));
}

// The take's 80-byte RF64 header: the 32-bit sizes read 0xFFFFFFFF and the
// ds64 chunk after "WAVE" holds the real ones.
Bytes Rf64Header() {
  Bytes h;
  PutText(h, "RF64");
  PutU32(h, 0xFFFFFFFF);
  PutText(h, "WAVEds64");
  PutU32(h, 28);
  PutU64(h, kHeader - 8 + kTakeData);
  PutU64(h, kTakeData);
  PutU64(h, kTakeData / kFrameBytes);
  PutU32(h, 0);
  const Bytes fmt = FmtChunk(1, 2, 48000, 16);
  h.insert(h.end(), fmt.begin(), fmt.end());
  PutText(h, "data");
  PutU32(h, 0xFFFFFFFF);
  return h;
}

TEST(LargeTest, BuildsAnRf64OutputBeyond4GiBFromAnRf64Take) {
  TempDir image, dir;
  const ScopedXfs xfs(image, dir, "6G");
  if (!xfs.mounted()) {
    struct statvfs fs_info {};
    ASSERT_EQ(statvfs(dir.path().c_str(), &fs_info), 0);
    const uint64_t free_bytes = uint64_t{fs_info.f_bavail} * fs_info.f_frsize;
    if (free_bytes < kOutData + (uint64_t{2} << 30)) {
      GTEST_SKIP() << "needs " << ((kOutData >> 30) + 2)
                   << " GiB of free disk in " << dir.path() << ", has "
                   << (free_bytes >> 30) << " GiB";
    }
  }
  const std::string take = dir.File("big_t1.wav");
  WriteFile(take, Rf64Header());
  std::filesystem::resize_file(take, kHeader + kTakeData);  // sparse
  // Marker frames past the 4 GiB mark of the output's audio, and its last.
  const uint64_t markers[] = {(uint64_t{4} << 30) / kFrameBytes,
                              (uint64_t{4} << 30) / kFrameBytes + 7,
                              1100000000, kOutFrames - 1};
  {
    const int fd = open(take.c_str(), O_WRONLY);
    for (const uint64_t frame : markers) {
      const uint32_t mark = static_cast<uint32_t>(frame * 2654435761u) | 1;
      ASSERT_EQ(pwrite(fd, &mark, 4, static_cast<off_t>(kHeader + frame * 4)), 4);
    }
    close(fd);
  }
  WriteJob(dir, "big\n", "0\t_t1\n23000\t_t1\n", "xf_all\t0\t0\n");

  const auto start = std::chrono::steady_clock::now();
  const auto [status, peak_kib] = RunMeasured(dir);
  const double seconds = std::chrono::duration<double>(
                             std::chrono::steady_clock::now() - start)
                             .count();
  ASSERT_EQ(status, 0);
  std::printf("[ LARGE    ] %.1f GB built%s in %.1f s, peak memory %.1f MiB\n",
              static_cast<double>(kOutData) / 1e9,
              xfs.mounted() ? " on XFS" : "", seconds,
              static_cast<double>(peak_kib) / 1024);
#ifndef __SANITIZE_ADDRESS__
  // (An instrumented build carries the sanitizer's own memory besides.)
  EXPECT_LT(peak_kib, 8 * 1024);
#endif

  const std::string out = dir.File("big_bld.wav");
  EXPECT_EQ(std::filesystem::file_size(out), kHeader + kOutData);
  const std::string header = ReadAt(out, 0, kHeader);
  const Bytes h = ToBytes(header);
  EXPECT_EQ(header.substr(0, 4), "RF64");
  EXPECT_EQ(Le(h, 4, 4), 0xFFFFFFFFu);
  EXPECT_EQ(header.substr(8, 8), "WAVEds64");
  EXPECT_EQ(Le(h, 20, 8), kHeader - 8 + kOutData);
  EXPECT_EQ(Le(h, 28, 8), kOutData);
  EXPECT_EQ(Le(h, 36, 8), kOutFrames);
  EXPECT_EQ(header.substr(72, 8), "data\xFF\xFF\xFF\xFF");
  for (const uint64_t frame : markers) {
    EXPECT_EQ(ReadAt(out, kHeader + frame * 4, 4),
              ReadAt(take, kHeader + frame * 4, 4))
        << "frame " << frame;
  }
  // An independent reader finds the format and every frame. (sox reads an
  // RF64 file beyond 4 GiB whole, four bytes a call, to count it: minutes.)
  if (Installed("ffprobe")) {
    EXPECT_EQ(Capture(dir, "ffprobe -v error -show_entries "
                           "stream=sample_rate,channels,duration_ts "
                           "-of csv=p=0 big_bld.wav"),
              "48000,2," + std::to_string(kOutFrames) + "\n");
  }
}

}  // namespace
}  // namespace takeloom::testing
