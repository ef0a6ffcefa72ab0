#include "testing/session.h"

namespace takeloom::testing {

void WriteJob(const TempDir& dir, const std::string& base,
              const std::string& points, const std::string& loomrc) {
  WriteFile(dir.File("base.txt"), base);
  WriteFile(dir.File("points.txt"), points);
  if (!loomrc.empty()) WriteFile(dir.File("loomrc.txt"), loomrc);
}

Bytes WriteTake(const TempDir& dir, const std::string& name,
                const AudioFormat& f, const Bytes& audio,
                const Bytes& extra_chunks) {
  TakeParts parts = PartsOf(f, audio);
  parts.extra_chunks = extra_chunks;
  WriteFile(dir.File(name), MakeTake(parts));
  return audio;
}

}  // namespace takeloom::testing
