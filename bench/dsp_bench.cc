// Throughput of the sample codec and of the crossfade renderer, reported in
// frames per second ("items_per_second").
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dsp/codec.h"
#include "dsp/crossfade.h"
#include "wav/header.h"

namespace takeloom {
namespace {

constexpr int64_t kFrames = 1024;
constexpr uint32_t kRate = 48000;
constexpr int64_t kWindowFrames = 10 * kRate;  // a 10-second crossfade
constexpr int64_t kTakeFrames = 12 * kRate;
constexpr int64_t kCentre = 6 * kRate;

// Deterministic full-range noise, so no value is special.
std::vector<std::byte> Noise(size_t bytes, uint32_t seed) {
  std::vector<std::byte> out(bytes);
  uint32_t state = seed;
  for (std::byte& b : out) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<std::byte>(state >> 24);
  }
  return out;
}

void BM_Decode24Stereo(benchmark::State& state) {
  const std::vector<std::byte> bytes = Noise(6 * kFrames, 1);
  std::array<int64_t, kFrames> left{}, right{};
  for (auto _ : state) {
    CHAR_TO_NUM32_STEREO(bytes, left, right, 3, kFrames);
    benchmark::DoNotOptimize(left.data());
    benchmark::DoNotOptimize(right.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_Decode24Stereo);

void BM_Encode24Stereo(benchmark::State& state) {
  std::array<int64_t, kFrames> left{}, right{};
  CHAR_TO_NUM32_STEREO(Noise(6 * kFrames, 2), left, right, 3, kFrames);
  std::vector<std::byte> bytes(6 * kFrames);
  for (auto _ : state) {
    NUM24STER_TO_CHAR(left, right, bytes, kFrames);
    benchmark::DoNotOptimize(bytes.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_Encode24Stereo);

// Two 24-bit stereo takes, written once into a directory that is removed
// when the program ends.
class TakeFiles {
 public:
  TakeFiles() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "takeloom-bench-XXXXXX")
            .string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern;
    ok_ = Write(Previous(), 3) && Write(Next(), 4);
  }
  ~TakeFiles() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  bool ok() const { return ok_; }
  std::string Previous() const { return (dir_ / "previous.wav").string(); }
  std::string Next() const { return (dir_ / "next.wav").string(); }
  std::string Temp() const { return (dir_ / "xfade_temp.wav").string(); }

 private:
  bool Write(const std::string& path, uint32_t seed) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const auto header = HeaderBytes(kRate, 24, kTakeFrames, 2);
    out.write(reinterpret_cast<const char*>(header.data()), header.size());
    const std::vector<std::byte> audio = Noise(6 * kTakeFrames, seed);
    out.write(reinterpret_cast<const char*>(audio.data()),
              static_cast<std::streamsize>(audio.size()));
    return static_cast<bool>(out);
  }

  std::filesystem::path dir_;
  bool ok_ = false;
};

void BM_Crossfade24Stereo10s(benchmark::State& state) {
  static const TakeFiles files;
  if (!files.ok()) {
    state.SkipWithError("cannot write the takes");
    return;
  }
  const int32_t type = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    const bool header = MAKE_HEADER(files.Temp(), kRate, 24, kWindowFrames, 2);
    state.ResumeTiming();
    if (!header) {
      state.SkipWithError("cannot write the temporary header");
      break;
    }
    const CrossfadeResult result =
        CROSSFADE(kCentre, kCentre, kWindowFrames, type, files.Previous(),
                  files.Next(), files.Temp(), 2, 3);
    if (result.code != 0) {
      state.SkipWithError("crossfade failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kWindowFrames);
}
// Wall time, since the renderer's reads and appends are part of its cost.
BENCHMARK(BM_Crossfade24Stereo10s)
    ->DenseRange(1, 4)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace takeloom

BENCHMARK_MAIN();
