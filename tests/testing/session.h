// A session on disk for end-to-end tests: a job's three lists and takes of
// known audio in a test's temporary directory.
#pragma once

#include <string>

#include "testing/temp_dir.h"
#include "testing/wav_bytes.h"

namespace takeloom::testing {

// Writes base.txt, points.txt and loomrc.txt into `dir`; an empty `loomrc`
// writes no loomrc.txt, so that a run writes its template.
void WriteJob(const TempDir& dir, const std::string& base,
              const std::string& points, const std::string& loomrc);

// Writes `name` into `dir`: a take of format `f` holding `audio`, with
// `extra_chunks` before its data chunk. Returns `audio`.
Bytes WriteTake(const TempDir& dir, const std::string& name,
                const AudioFormat& f, const Bytes& audio,
                const Bytes& extra_chunks = {});

}  // namespace takeloom::testing
