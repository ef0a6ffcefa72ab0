#include "testing/expected_audio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>

namespace takeloom::testing {
namespace {

// The stored bits of sample `s`, zero past the end of `audio`.
uint64_t BitsAt(const Bytes& audio, const AudioFormat& f, int64_t s) {
  const int64_t at = s * f.Width();
  if (at + f.Width() > static_cast<int64_t>(audio.size())) return 0;
  uint64_t bits = 0;
  for (int64_t b = 0; b < f.Width(); ++b) {
    bits |= static_cast<uint64_t>(audio[at + b]) << (8 * b);
  }
  return bits;
}

// The bits that store `value`, a sample as ReferenceBlend gives it.
uint64_t BitsOf(double value, const AudioFormat& f) {
  if (!f.is_float) return static_cast<uint64_t>(static_cast<int64_t>(value));
  return f.bits == 32 ? std::bit_cast<uint32_t>(static_cast<float>(value))
                      : std::bit_cast<uint64_t>(value);
}

}  // namespace

GainPair ReferenceGains(int type, int64_t index, int64_t length) {
  const double v = static_cast<double>(index) / static_cast<double>(length);
  const double angle = v * 1.570796327;
  switch (type) {
    case 1: return {std::cos(angle), std::sin(angle)};
    case 2: return {1.0 - v, 1.0 - (1.0 - v)};
    case 3: return {std::cos(angle), 1.0 - std::cos(angle)};
    case 4: return {1.0 - std::sin(angle), 1.0 - (1.0 - std::sin(angle))};
  }
  ADD_FAILURE() << "no curve " << type;
  return {};
}

double ReferenceBlend(double previous, double next, const GainPair& gains,
                      uint32_t bits, bool is_float, bool* beyond) {
  bool past = false;
  if (beyond == nullptr) beyond = &past;
  if (is_float) {
    const double sum = previous * gains.fade_out + next * gains.fade_in;
    const double stored = bits == 32 ? static_cast<float>(sum) : sum;
    *beyond = std::abs(stored) > 1.0;
    return stored;
  }
  const double scale = bits == 16 ? 256.0 : 1.0;
  double sum = previous * scale * gains.fade_out + next * scale * gains.fade_in;
  if (bits == 16) sum *= 0.00390625;
  const int64_t top = (int64_t{1} << (bits - 1)) - 1;
  const auto value = static_cast<int64_t>(sum);
  *beyond = value > top || value < -top - 1;
  return static_cast<double>(std::clamp(value, -top - 1, top));
}

double SampleAt(const Bytes& audio, const AudioFormat& f, int64_t s) {
  const uint64_t bits = BitsAt(audio, f, s);
  if (f.is_float) {
    return f.bits == 32 ? std::bit_cast<float>(static_cast<uint32_t>(bits))
                        : std::bit_cast<double>(bits);
  }
  const int shift = static_cast<int>(64 - f.bits);
  return static_cast<double>(static_cast<int64_t>(bits << shift) >> shift);
}

std::vector<double> DecodeSamples(const Bytes& audio, const AudioFormat& f) {
  std::vector<double> out(audio.size() / static_cast<size_t>(f.Width()));
  for (size_t s = 0; s < out.size(); ++s) {
    out[s] = SampleAt(audio, f, static_cast<int64_t>(s));
  }
  return out;
}

Bytes EncodeSamples(const std::vector<double>& samples, const AudioFormat& f) {
  Bytes out;
  for (double s : samples) {
    const uint64_t bits = BitsOf(s, f);
    for (int64_t b = 0; b < f.Width(); ++b) {
      out.push_back(static_cast<std::byte>(bits >> (8 * b)));
    }
  }
  return out;
}

ExpectedOutput::ExpectedOutput(const AudioFormat& f, int64_t length)
    : f_(f), length_(length),
      audio_(static_cast<size_t>(length * f.FrameSize())) {}

ExpectedOutput& ExpectedOutput::Silence(int64_t begin, int64_t end) {
  Advance(begin, end);
  return *this;
}

ExpectedOutput& ExpectedOutput::Copy(int64_t begin, int64_t end,
                                     const Bytes& take) {
  Advance(begin, end);
  for (int64_t s = begin * f_.channels; s < end * f_.channels; ++s) {
    Put(s, BitsAt(take, f_, s));
  }
  return *this;
}

ExpectedOutput& ExpectedOutput::Blend(int64_t begin, int64_t end,
                                      const Bytes& previous, const Bytes& next,
                                      int type, int64_t window) {
  Advance(begin, end);
  for (int64_t frame = begin; frame < end; ++frame) {
    const GainPair gains = ReferenceGains(type, frame - begin, window);
    for (int64_t s = frame * f_.channels; s < (frame + 1) * f_.channels; ++s) {
      Put(s, BitsOf(ReferenceBlend(SampleAt(previous, f_, s),
                                   SampleAt(next, f_, s), gains, f_.bits,
                                   f_.is_float),
                    f_));
    }
  }
  return *this;
}

std::string ExpectedOutput::File(int64_t take_audio,
                                 int64_t channel_mask) const {
  EXPECT_EQ(next_, length_) << "the expected pieces stop short";
  TakeParts parts = PartsOf(f_, audio_);
  parts.fact_chunk = f_.is_float;
  parts.channel_mask = channel_mask;
  const int64_t header = static_cast<int64_t>(MakeTake(parts).size()) -
                         static_cast<int64_t>(audio_.size());
  if (header % 4096 != take_audio % 4096) {
    int64_t audio_at = header + 8;
    while (audio_at % 4096 != take_audio % 4096) audio_at += 2;
    parts.extra_chunks = Chunk(
        "JUNK", std::string(static_cast<size_t>(audio_at - header - 8), '\0'));
  }
  return Text(MakeTake(parts));
}

void ExpectedOutput::Advance(int64_t begin, int64_t end) {
  EXPECT_EQ(begin, next_) << "pieces must follow each other";
  EXPECT_LE(end, length_);
  next_ = end;
}

void ExpectedOutput::Put(int64_t s, uint64_t bits) {
  for (int64_t b = 0; b < f_.Width(); ++b) {
    audio_[s * f_.Width() + b] =
        static_cast<std::byte>((bits >> (8 * b)) & 0xFF);
  }
}

}  // namespace takeloom::testing
