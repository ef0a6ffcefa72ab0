// Segments copied inside the kernel: the outputs hold the same bytes when
// the kernel refuses the copy and the tool reads and writes instead, and on
// a file system that shares blocks the outputs share their audio with the
// takes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/run_tool.h"
#include "testing/wav_bytes.h"

namespace takeloom::testing {
namespace {

const std::vector<std::string> kOutputs = {"plain_bld.wav",
                                           "recorder_bld.wav",
                                           "float_bld.wav"};

TakeParts Parts(uint16_t format_tag, uint32_t bits, double seconds,
                uint32_t seed) {
  TakeParts parts;
  parts.sample_rate = 48000;
  parts.bits_per_sample = bits;
  parts.format_tag = format_tag;
  parts.fact_chunk = format_tag == 3;
  parts.audio = Noise(static_cast<size_t>(seconds * 48000) * 2 * bits / 8,
                      seed);
  return parts;
}

// As recorders write takes: bext, iXML and JUNK chunks before the audio,
// which starts at byte 4096, and a LIST chunk after it.
Bytes RecorderTake(TakeParts parts) {
  const Bytes bext = Chunk("bext", std::string(602, 'b'));
  const Bytes ixml = Chunk("iXML", "<BWFXML>" + std::string(192, 'x'));
  const size_t used = 36 + bext.size() + ixml.size() + 8 + 8;
  const Bytes junk = Chunk("JUNK", std::string(4096 - used, '\0'));
  for (const Bytes* chunk : {&bext, &ixml, &junk}) {
    parts.extra_chunks.insert(parts.extra_chunks.end(), chunk->begin(),
                              chunk->end());
  }
  Bytes file = MakeTake(parts);
  const Bytes list = Chunk("LIST", std::string(3000, 'Z'));
  file.insert(file.end(), list.begin(), list.end());
  return file;
}

// Three tracks whose outputs lie differently against their takes: 24-bit
// takes with 44-byte headers, as the outputs have; recorder takes with
// their audio at 4096 and metadata after it; 32-bit float, whose outputs
// have 58-byte headers. Takes last `seconds`, and segments hold many
// 4096-byte blocks. With `gaps` the tracks begin with silence and the
// second take ends before its segment does, so that silence follows it.
void WriteSession(const TempDir& dir, double seconds, bool gaps) {
  char points[128];
  std::snprintf(points, sizeof points, "%g\t_t1\n%g\t_t2\n%g\t_t1\n%g\t_t1\n",
                gaps ? 0.1 : 0.0, 0.4 * seconds, 0.8 * seconds, seconds);
  WriteJob(dir, "plain\nrecorder\nfloat\n", points, "xf_all\t20\t1\n");
  uint32_t seed = 1;
  for (const char* take : {"_t1", "_t2"}) {
    const double length =
        gaps && take == std::string("_t2") ? 0.7 * seconds : seconds;
    WriteFile(dir.File(std::string("plain") + take + ".wav"),
              MakeTake(Parts(1, 24, length, seed++)));
    WriteFile(dir.File(std::string("recorder") + take + ".wav"),
              RecorderTake(Parts(1, 24, length, seed++)));
    WriteFile(dir.File(std::string("float") + take + ".wav"),
              MakeTake(Parts(3, 32, length, seed++)));
  }
}

// The copy_file_range calls a traced run made (as strace logs them), and
// how many of those failed.
struct Calls {
  int made = 0;
  int failed = 0;
};

Calls CountCalls(const std::string& log) {
  Calls calls;
  for (size_t at = 0; (at = log.find("copy_file_range(", at)) != std::string::npos;
       ++at) {
    ++calls.made;
    const size_t end = log.find('\n', at);
    if (log.substr(at, end - at).find("= -1 ") != std::string::npos) {
      ++calls.failed;
    }
  }
  return calls;
}

// The kernel's copy missing or refused (as on file systems apart, or on a
// system without the call) leaves the tool reading and writing, with the
// same outputs: the refusal costs one call per output, no more.
TEST(KernelCopyTest, OutputsAreTheSameWhenTheKernelRefusesToCopy) {
  if (!Installed("strace")) GTEST_SKIP() << "strace is not installed";
  TempDir dir;
  WriteSession(dir, 3, true);
  const ToolRun reference = RunTool(dir);
  ASSERT_EQ(reference.status, 0) << reference.out;
  std::vector<std::string> built;
  for (const std::string& name : kOutputs) built.push_back(ReadFile(dir.File(name)));

  for (const std::string error : {"", "ENOSYS", "EXDEV"}) {
    const std::string inject =
        error.empty() ? "" : " -e inject=copy_file_range:error=" + error;
    const std::string out = Capture(
        dir, "strace -f -o trace.log -e trace=copy_file_range" + inject + " " +
                 TAKELOOM_BINARY);
    EXPECT_EQ(out, reference.out) << error;
    const Calls calls = CountCalls(ReadFile(dir.File("trace.log")));
    if (error.empty()) {
      EXPECT_GT(calls.made, 0);
      EXPECT_EQ(calls.failed, 0);
    } else {
      EXPECT_EQ(calls.made, std::ssize(kOutputs)) << error;
      EXPECT_EQ(calls.failed, calls.made) << error;
    }
    for (size_t o = 0; o < kOutputs.size(); ++o) {
      EXPECT_TRUE(SameBytes(ReadFile(dir.File(kOutputs[o])), built[o]))
          << kOutputs[o] << " " << error;
    }
  }
}

// A loop-mounted XFS with shared blocks over the test's directory, and
// gone again when the test ends, also when an assertion fails.
class XfsMount {
 public:
  XfsMount(const TempDir& image_dir, const TempDir& dir)
      : image_(image_dir.File("xfs.img")), point_(dir.path().string()) {
    const std::string command =
        "truncate -s 400M '" + image_ + "' && mkfs.xfs -q -m reflink=1 '" +
        image_ + "' && mount -o loop '" + image_ + "' '" + point_ + "'";
    mounted_ = std::system((command + " >/dev/null 2>&1").c_str()) == 0;
  }
  ~XfsMount() {
    if (mounted_) std::system(("umount '" + point_ + "'").c_str());
  }
  bool mounted() const { return mounted_; }

 private:
  std::string image_;
  std::string point_;
  bool mounted_ = false;
};

// The bytes of `path` in extents it shares with no other file.
int64_t OwnBytes(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return -1;
  const off_t size = lseek(fd, 0, SEEK_END);
  constexpr size_t kExtents = 512;
  std::vector<char> space(sizeof(fiemap) + kExtents * sizeof(fiemap_extent));
  auto* map = reinterpret_cast<fiemap*>(space.data());
  int64_t own = 0;
  for (uint64_t start = 0;;) {
    std::fill(space.begin(), space.end(), 0);
    map->fm_start = start;
    map->fm_length = FIEMAP_MAX_OFFSET - start;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = kExtents;
    if (ioctl(fd, FS_IOC_FIEMAP, map) != 0) {
      own = -1;
      break;
    }
    const fiemap_extent* last = nullptr;
    for (uint32_t e = 0; e < map->fm_mapped_extents; ++e) {
      last = &map->fm_extents[e];
      if (!(last->fe_flags & FIEMAP_EXTENT_SHARED)) {
        own += std::min<int64_t>(last->fe_length, size - last->fe_logical);
      }
    }
    if (last == nullptr || (last->fe_flags & FIEMAP_EXTENT_LAST)) break;
    start = last->fe_logical + last->fe_length;
  }
  close(fd);
  return own;
}

// On XFS with reflink the outputs share the takes' blocks wherever they
// lie in step with them (here the 44-byte takes), so that they hold little
// of their own; the bytes are those of a build on any other disk.
TEST(KernelCopyTest, OutputsShareTheTakesBlocksOnXfs) {
  if (geteuid() != 0 || !Installed("mkfs.xfs")) {
    GTEST_SKIP() << "needs root and mkfs.xfs (xfsprogs) to mount an XFS image";
  }
  TempDir image_dir;
  TempDir elsewhere;
  TempDir dir;
  const XfsMount xfs(image_dir, dir);
  if (!xfs.mounted()) GTEST_SKIP() << "cannot mount an XFS image here";
  WriteSession(dir, 4, false);
  WriteSession(elsewhere, 4, false);
  const ToolRun run = RunTool(dir);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out, RunTool(elsewhere).out);
  for (const std::string& name : kOutputs) {
    EXPECT_TRUE(SameBytes(ReadFile(dir.File(name)),
                          ReadFile(elsewhere.File(name))))
        << name;
  }
  const std::string plain = dir.File("plain_bld.wav");
  const int64_t own = OwnBytes(plain);
  const auto size = static_cast<int64_t>(std::filesystem::file_size(plain));
  EXPECT_GE(own, 0);
  EXPECT_LE(own, size / 20) << own << " of " << size << " bytes not shared";
}

}  // namespace
}  // namespace takeloom::testing
