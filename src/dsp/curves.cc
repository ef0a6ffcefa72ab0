#include "dsp/curves.h"

#include <algorithm>
#include <cmath>

namespace takeloom {
namespace {

// A quarter turn as a fixed decimal literal rather than pi / 2, so that the
// gains, and with them every blended sample, are reproducible to the bit.
constexpr double kQuarterTurn = 1.570796327;

}  // namespace

Gains CurveGains(int32_t type, int64_t index, int64_t length) {
  const double v = static_cast<double>(index) / static_cast<double>(length);
  const double angle = v * kQuarterTurn;
  Gains gains;
  switch (type) {
    case 1:
      gains.fade_out = std::cos(angle);
      gains.fade_in = std::sin(angle);
      return gains;
    case 2:
      gains.fade_out = 1.0 - v;
      break;
    case 3:
      gains.fade_out = std::cos(angle);
      break;
    case 4:
      gains.fade_out = 1.0 - std::sin(angle);
      break;
    default:  // unreached (see the header): a step at the centre
      gains.fade_out = index < length / 2 ? 1.0 : 0.0;
      break;
  }
  // The constant-gain curves take the fade-in gain as the complement of the
  // fade-out gain, not from v or a sine: the two then differ from those in
  // the last bits, and every blended sample depends on which one is used.
  gains.fade_in = 1.0 - gains.fade_out;
  return gains;
}

std::span<const Gains> GainTable::Frames(int32_t type, int64_t length,
                                         int64_t first, int64_t n) {
  if (length > kMaxTableFrames) {
    block_.resize(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
      block_[static_cast<size_t>(i)] = CurveGains(type, first + i, length);
    }
    return block_;
  }
  if (type != type_ || length != length_) {
    table_.resize(static_cast<size_t>(std::max<int64_t>(0, length)));
    for (int64_t i = 0; i < length; ++i) {
      table_[static_cast<size_t>(i)] = CurveGains(type, i, length);
    }
    type_ = type;
    length_ = length;
  }
  return std::span<const Gains>(table_).subspan(static_cast<size_t>(first),
                                                static_cast<size_t>(n));
}

}  // namespace takeloom
