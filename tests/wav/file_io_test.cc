#include "wav/file_io.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "testing/temp_dir.h"
#include "testing/wav_bytes.h"

namespace takeloom {
namespace {

using testing::Bytes;

std::string Str(std::span<const std::byte> bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Random reads and writes, with random read-ahead limits, clustered around window boundaries and running
// past the end of the file, checked against a string that models the file:
// a read must see every earlier write, and nothing may land elsewhere.
TEST(BlockStreamTest, MatchesAModelAcrossWindowsAndDirections) {
  constexpr int64_t kWindow = BlockStream::kWindowBytes;
  testing::TempDir dir;
  const std::string path = dir.File("file.bin");
  std::string model = Str(testing::Noise(2 * kWindow + 5000, 1));
  testing::WriteFile(path, model);

  std::mt19937 random(7);
  const auto pick = [&random](int64_t below) {
    return std::uniform_int_distribution<int64_t>(0, below - 1)(random);
  };
  BlockStream stream(path, "rb+");
  ASSERT_TRUE(stream.is_open());
  for (int op = 0; op < 3000; ++op) {
    const int64_t size = 1 + pick(7000);
    const int64_t offset = std::max<int64_t>(0, (1 + pick(3)) * kWindow +
                                                    pick(20000) - 10000 -
                                                    (op % 2) * size);
    if (pick(2) == 0) {
      const Bytes data = testing::Noise(static_cast<size_t>(size), op);
      ASSERT_TRUE(stream.WriteAt(offset, data)) << "op " << op;
      if (offset > static_cast<int64_t>(model.size())) model.resize(offset, '\0');
      model.replace(offset, data.size(), Str(data));
    } else {
      // A read-ahead limit anywhere, even before the read, changes nothing
      // but the amount fetched.
      if (pick(4) == 0) stream.LimitReadAhead(offset + pick(2 * size) - size / 2);
      // Stale bytes in the caller's buffer must not survive a read.
      Bytes got = testing::Noise(static_cast<size_t>(size), 1000 + op);
      ASSERT_TRUE(stream.ReadAt(offset, got)) << "op " << op;
      std::string expected = offset < static_cast<int64_t>(model.size())
                                 ? model.substr(offset, size)
                                 : "";
      expected.resize(size, '\0');
      ASSERT_EQ(Str(got), expected) << "op " << op << " at " << offset;
    }
  }
  ASSERT_TRUE(stream.Close());
  EXPECT_EQ(testing::ReadFile(path), model);
}

TEST(BlockStreamTest, WritesPendingBytesBeforeOthersReadTheFile) {
  testing::TempDir dir;
  const std::string path = dir.File("file.bin");
  testing::WriteFile(path, std::string(100, 'a'));
  BlockStream stream(path, "rb+");
  const Bytes data = testing::Noise(300, 2);
  ASSERT_TRUE(stream.WriteAt(50, data));
  Bytes raw(400);
  ASSERT_EQ(ReadSome(stream.file(), 0, raw), 350);
  EXPECT_EQ(Str(raw).substr(0, 350), std::string(50, 'a') + Str(data));
  ASSERT_TRUE(stream.Close());
}

TEST(BlockStreamTest, ReportsAPendingWriteThatFailsOnClose) {
  testing::TempDir dir;
  const std::string path = dir.File("file.bin");
  testing::WriteFile(path, "");
  const testing::ScopedFileSizeLimit limit(1000);
  BlockStream stream(path, "rb+");
  // Held in the window, so the failure shows only when it is written.
  ASSERT_TRUE(stream.WriteAt(0, testing::Noise(5000, 3)));
  EXPECT_FALSE(stream.Close());
}

}  // namespace
}  // namespace takeloom
