// The audio a crossfade or a whole output must hold, worked out here from
// the takes' own bytes with the curve formulas and the blend arithmetic
// written out plainly, so that tests compare the tool's bytes with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testing/wav_bytes.h"

namespace takeloom::testing {

struct GainPair {
  double fade_out = 0.0;  // weights the previous take
  double fade_in = 0.0;   // weights the next take
};

// The gains of frame `index` of a window of `length` frames, straight from
// the formulas of curve types 1 to 4; fails the test for any other type.
GainPair ReferenceGains(int type, int64_t index, int64_t length);

// One blended sample as it must be stored, from the two samples as numbers
// (integers on their own scale): p g + q h in double; 16- and 24-bit samples
// on the 24-bit scale (a 16-bit blend is brought back by 1/256), integers
// truncated toward zero and held at the range of `bits`; singles rounded to
// nearest, doubles kept. `beyond`, when given, tells whether the sample went
// beyond full scale (held at the range, or a float beyond 1.0 in magnitude).
double ReferenceBlend(double previous, double next, const GainPair& gains,
                      uint32_t bits, bool is_float, bool* beyond = nullptr);

// Sample `s` (counted over all channels) of `audio` as a number: integers
// sign-extended, floats widened; 0 past the end of `audio`.
double SampleAt(const Bytes& audio, const AudioFormat& f, int64_t s);

// Interleaved samples as numbers, integers on their own scale (a double
// holds every sample of every layout exactly), from and to their bytes:
// integers as the low bytes of their two's complement, floats as IEEE 754
// (a single rounded to nearest).
std::vector<double> DecodeSamples(const Bytes& audio, const AudioFormat& f);
Bytes EncodeSamples(const std::vector<double>& samples, const AudioFormat& f);

// The expected output of one track, laid down piece by piece from frame 0;
// each piece must start where the previous one ended, so a table that
// leaves a gap or an overlap fails here rather than passing quietly.
class ExpectedOutput {
 public:
  ExpectedOutput(const AudioFormat& f, int64_t length);

  ExpectedOutput& Silence(int64_t begin, int64_t end);
  // Frames [begin, end) of `take` at the same positions (0 past its end).
  ExpectedOutput& Copy(int64_t begin, int64_t end, const Bytes& take);
  // Frames [begin, end) of the crossfade of `type` from `previous` into
  // `next` whose window of `window` frames starts at `begin` (it may be cut
  // off at `end`); every channel of a frame takes that frame's gains.
  ExpectedOutput& Blend(int64_t begin, int64_t end, const Bytes& previous,
                        const Bytes& next, int type, int64_t window);

  // The whole output: the 44-byte header, or for floats the 58-byte one
  // with its fact chunk, and the audio. An output keeps its first take's
  // extensible format (`channel_mask` >= 0) and the place of its audio
  // (`take_audio`) within a 4096-byte block, by a JUNK chunk before "data".
  std::string File(int64_t take_audio = 44, int64_t channel_mask = -1) const;

 private:
  void Advance(int64_t begin, int64_t end);
  void Put(int64_t s, uint64_t bits);

  AudioFormat f_;
  int64_t length_;
  Bytes audio_;
  int64_t next_ = 0;
};

}  // namespace takeloom::testing
