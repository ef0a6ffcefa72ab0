// Throughput of the sample codec and of the crossfade blend, reported in
// frames per second ("items_per_second").
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dsp/codec.h"
#include "dsp/crossfade.h"
#include "dsp/curves.h"
#include "wav/sample_format.h"

namespace takeloom {
namespace {

// Stereo blocks of this many frames, as the renderer reads them.
constexpr int64_t kFrames = 1024;
constexpr int64_t kSamples = 2 * kFrames;
constexpr uint32_t kRate = 48000;

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
  const std::vector<std::byte> bytes = Noise(3 * kSamples, 1);
  std::array<int64_t, kSamples> values{};
  for (auto _ : state) {
    CHAR_TO_NUM32(bytes, values, 3, kSamples);
    benchmark::DoNotOptimize(values.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_Decode24Stereo);

void BM_Encode24Stereo(benchmark::State& state) {
  std::array<int64_t, kSamples> values{};
  CHAR_TO_NUM32(Noise(3 * kSamples, 2), values, 3, kSamples);
  std::vector<std::byte> bytes(3 * kSamples);
  for (auto _ : state) {
    NUM24MONO_TO_CHAR(values, bytes, kSamples);
    benchmark::DoNotOptimize(bytes.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_Encode24Stereo);

// One 24-bit stereo crossfade of `type` (argument 0) and `length` frames
// (argument 1) blended in blocks as the renderer does, from windows in
// memory. A 200 ms window takes its gains from the table; a 10 s one is
// longer than the table and computes them block by block.
void BM_Crossfade24Stereo(benchmark::State& state) {
  const auto type = static_cast<int32_t>(state.range(0));
  const int64_t length = state.range(1);
  TrackFormat format;
  format.sample_rate = kRate;
  format.bits_per_sample = 24;
  format.bytes_per_sample = 3;
  format.channels = 2;
  const auto frame = static_cast<size_t>(format.FrameSize());
  const size_t window_bytes = static_cast<size_t>(length) * frame;
  const std::vector<std::byte> previous = Noise(window_bytes, 3);
  const std::vector<std::byte> next = Noise(window_bytes, 4);
  std::vector<std::byte> out(window_bytes);
  GainTable gains;
  for (auto _ : state) {
    for (int64_t done = 0; done < length; done += kFrames) {
      const int64_t n = std::min(kFrames, length - done);
      const size_t at = static_cast<size_t>(done) * frame;
      const size_t bytes = static_cast<size_t>(n) * frame;
      Blend(std::span(previous).subspan(at, bytes),
            std::span(next).subspan(at, bytes),
            gains.Frames(type, length, done, n), format,
            std::span(out).subspan(at, bytes));
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * length);
}
BENCHMARK(BM_Crossfade24Stereo)
    ->ArgsProduct({{1, 2, 3, 4}, {kRate / 5, 10 * kRate}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace takeloom

BENCHMARK_MAIN();
