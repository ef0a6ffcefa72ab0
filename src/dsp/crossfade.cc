#include "dsp/crossfade.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "dsp/sample_layouts.h"

namespace takeloom {
namespace {

// Samples are decoded, blended and encoded this many at a time, in working
// storage on the stack whatever the block's length.
constexpr int64_t kChunkSamples = 512;

template <typename Samples>
int64_t BlendAs(std::span<const std::byte> previous,
             std::span<const std::byte> next, std::span<const Gains> gains,
             int64_t channels, int64_t width, std::span<std::byte> out) {
  std::array<typename Samples::Decoded, kChunkSamples> p{}, q{};
  std::array<typename Samples::Blended, kChunkSamples> blended{};
  const int64_t total = std::ssize(gains) * channels;
  // The frame and channel of the chunk's first sample, carried along so
  // that no sample needs a division to find its frame's gains.
  int64_t frame = 0;
  int64_t channel = 0;
  int64_t beyond = 0;
  for (int64_t first = 0; first < total; first += kChunkSamples) {
    const int64_t n = std::min(kChunkSamples, total - first);
    const auto at = static_cast<size_t>(first * width);
    const auto bytes = static_cast<size_t>(n * width);
    Samples::Decode(previous.subspan(at, bytes), p, n);
    Samples::Decode(next.subspan(at, bytes), q, n);
    for (int64_t i = 0; i < n; ++i) {
      // Every channel of a frame shares its pair of gains.
      const Gains& g = gains[static_cast<size_t>(frame)];
      const double sum = static_cast<double>(p[i]) * g.fade_out +
                         static_cast<double>(q[i]) * g.fade_in;
      blended[i] = Samples::Finish(sum, &beyond);
      if (++channel == channels) {
        channel = 0;
        ++frame;
      }
    }
    Samples::Encode(blended, out.subspan(at, bytes), n);
  }
  return beyond;
}

}  // namespace

int64_t Blend(std::span<const std::byte> previous,
              std::span<const std::byte> next, std::span<const Gains> gains,
              const TrackFormat& format, std::span<std::byte> out) {
  const int64_t channels = format.channels;
  const int64_t width = format.bytes_per_sample;
  const auto blend = [&](auto layout) {
    return BlendAs<decltype(layout)>(previous, next, gains, channels, width,
                                     out);
  };
  if (format.format == SampleFormat::kFloat) {
    if (width == 4) return blend(FloatSamples<4>{});
    if (width == 8) return blend(FloatSamples<8>{});
    return 0;
  }
  if (width == 2) return blend(Int16Samples{});
  if (width == 3) return blend(Int24Samples{});
  if (width == 4) return blend(Int32Samples{});
  return 0;
}

}  // namespace takeloom
