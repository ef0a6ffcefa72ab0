// Fuzzes a whole build: the fuzzed bytes become the takes of a small session
// (fixed lists chosen by the first byte) in a scratch directory, the tool
// runs there, and afterwards the inputs must be unchanged, no temporary file
// may remain, and a finished output must be exactly what its header declares:
// the planned frames, holding each segment's frames from its take wherever no
// crossfade lies over them.
//
// Input layout: byte 0 picks the job (bits 0-1 the edit list, bits 2-4 the
// parameter file, bit 5 two different takes, bit 6 a second track). With two
// takes, bytes 1-2 (little-endian) give the length of take _A and the rest is
// take _B; otherwise the bytes after byte 0 are both takes.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/run.h"
#include "fuzz_check.h"
#include "testing/memory_source.h"
#include "wav/inspect.h"
#include "wav/riff.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct EditPoint {
  float time;
  int take;  // 0 = _A, 1 = _B
};

// Times that are no whole number of frames at most rates, so that a segment
// ending a frame short of the next one would show.
const std::vector<EditPoint> kEditLists[] = {
    {{0, 0}, {0.3f, 1}, {1.7f, 0}, {3, 1}},
    {{1, 0}, {2, 1}, {3, 1}},          // a lead-in; the same take twice
    {{0, 0}},                          // a single point: no segment
    {{0, 1}, {1, 0}, {1, 1}, {4, 0}},  // an empty segment
};

struct Params {
  const char* text;  // nullptr: no loomrc.txt (the template is written)
  int type[2];       // per track, after the all-tracks default
  float ms[2];
};

const Params kParams[] = {
    {nullptr, {0, 0}, {0, 0}},
    {"xf_all\t0\t0\n", {0, 0}, {0, 0}},
    {"xf_all\t500\t1\n", {1, 1}, {500, 500}},
    {"xf_all\t1000\t2\n", {2, 2}, {1000, 1000}},
    {"xf_all\t250\t3\n", {3, 3}, {250, 250}},
    {"xf_tr\t1\t750\t4\n", {4, 0}, {750, 0}},
    {"xf_all\t1500\t1\nxf_tr\t2\t0\t0\n", {1, 1}, {1500, 1500}},
    {"xf_tr\t2\t2000\t2\n", {0, 2}, {0, 2000}},
};

const char* const kTakeNames[] = {"_A", "_B"};

std::string ReadAll(const std::string& path) {
  std::string bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  char block[4096];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, f)) > 0)
    bytes.append(block, got);
  std::fclose(f);
  return bytes;
}

void WriteAll(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr, "cannot create %s", path.c_str());
  FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size(),
             "cannot write %s", path.c_str());
  FUZZ_CHECK(std::fclose(f) == 0, "cannot close %s", path.c_str());
}

uint32_t Le(std::string_view bytes, size_t at, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) {
    value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i]))
             << (8 * i);
  }
  return value;
}

struct Take {
  std::string bytes;
  takeloom::Inspection inspection;
};

// What a build with hard cuts writes into one output's data region, given the
// track's takes: zero, except each segment's frames that its take holds.
struct Model {
  int64_t length = 0;  // frames
  std::string data;
  std::vector<int64_t> edit_frames;  // S of every edit point after the first
  int heard = -1;  // the take of the first segment with frames, if any
};

Model HardCutModel(const std::vector<EditPoint>& edits, const Take (&takes)[2],
                   uint32_t frame_size, uint32_t rate) {
  Model model;
  for (const EditPoint& e : edits) {
    model.length = std::max(model.length, takes[e.take].inspection.take.frames);
  }
  // Each edit point's frame, once; a segment runs from one to the next.
  const float r = static_cast<float>(rate);
  struct Span {
    int64_t start, length;
  };
  std::vector<Span> segments;
  for (size_t k = 1; k < edits.size(); ++k) {
    const int64_t a = static_cast<int64_t>(edits[k - 1].time * r);
    const int64_t b = static_cast<int64_t>(edits[k].time * r);
    Span s{a, b - a};
    if (s.start + s.length > model.length) s.length = model.length - s.start;
    if (model.heard < 0 && s.length > 0) model.heard = edits[k - 1].take;
    segments.push_back(s);
    model.edit_frames.push_back(b);
  }
  if (!segments.empty()) {
    model.length =
        std::min(model.length, segments.back().start + segments.back().length);
  }
  model.data.assign(static_cast<size_t>(model.length * frame_size), '\0');
  for (size_t k = 0; k < segments.size(); ++k) {
    const Take& take = takes[edits[k].take];
    const int64_t have = take.inspection.take.frames;
    const int64_t from = take.inspection.take.data_start;
    for (int64_t f = segments[k].start;
         f < segments[k].start + segments[k].length && f < have; ++f) {
      std::memcpy(&model.data[static_cast<size_t>(f * frame_size)],
                  &take.bytes[static_cast<size_t>(from + f * frame_size)],
                  frame_size);
    }
  }
  return model;
}

void CheckOutput(const std::string& name, const Model& model, const Take& first,
                 const Take* heard, int type, float ms) {
  const std::string out = ReadAll(name);
  const auto& format = first.inspection.take;
  const uint32_t frame_size = format.bytes_per_sample * format.channels;
  const uint64_t data_size = static_cast<uint64_t>(model.length) * frame_size;
  FUZZ_CHECK(out.size() >= 44 + data_size, "%s: %zu bytes, planned %llu",
             name.c_str(), out.size(),
             static_cast<unsigned long long>(data_size));
  // The format chunk (40 bytes as the take heard first has it extensible,
  // 18 for float audio, else 16), a fact chunk for float audio, that take's
  // bext and iXML chunks, and the audio where that take has its own within
  // a 4096-byte block.
  const size_t header = out.size() - data_size;
  const bool is_float = format.format == takeloom::SampleFormat::kFloat;
  const bool extensible = heard && heard->inspection.take.extensible;
  const uint32_t fmt_size = extensible ? 40 : is_float ? 18 : 16;
  const size_t meta_at = 20 + fmt_size + (is_float ? 12 : 0);
  std::string metadata;
  if (heard) {
    const auto& h = heard->inspection.take;
    for (const auto& c : {h.bext, h.ixml}) {
      metadata += heard->bytes.substr(c.offset, c.length);
    }
  }
  const int64_t take_audio = heard ? heard->inspection.take.data_start : 1;
  FUZZ_CHECK(out.compare(0, 4, "RIFF") == 0 &&
                 out.compare(8, 8, "WAVEfmt ") == 0 &&
                 Le(out, 16, 4) == fmt_size &&
                 out.compare(header - 8, 4, "data") == 0 &&
                 (!is_float || (out.compare(meta_at - 12, 4, "fact") == 0 &&
                                Le(out, meta_at - 4, 4) == model.length)) &&
                 out.compare(meta_at, metadata.size(), metadata) == 0,
             "%s: chunks", name.c_str());
  FUZZ_CHECK(take_audio % 2 != 0
                 ? header == meta_at + metadata.size() + 8
                 : static_cast<int64_t>(header % 4096) == take_audio % 4096,
             "%s: audio at %zu, the take's at %lld", name.c_str(), header,
             static_cast<long long>(take_audio));
  FUZZ_CHECK(Le(out, header - 4, 4) == data_size &&
                 Le(out, 4, 4) == header - 8 + data_size,
             "%s: sizes %u %u", name.c_str(), Le(out, header - 4, 4),
             Le(out, 4, 4));
  const uint32_t tag = takeloom::FormatTagOf(format.format);
  FUZZ_CHECK(Le(out, 20, 2) == (extensible ? 0xFFFE : tag) &&
                 (!extensible || Le(out, 44, 2) == tag) &&
                 Le(out, 22, 2) == format.channels &&
                 Le(out, 24, 4) == format.sample_rate &&
                 Le(out, 34, 2) == format.bits_per_sample,
             "%s: format differs from the first take", name.c_str());
  // A crossfade replaces the frames of its window around an edit point, and
  // nothing else.
  const int64_t x =
      type == 0 ? 0
                : static_cast<int64_t>(static_cast<float>(format.sample_rate) *
                                       (ms / 1000.0f));
  for (int64_t f = 0; f < model.length; ++f) {
    bool in_window = false;
    for (int64_t edit : model.edit_frames) {
      in_window |= f >= edit - x / 2 && f < edit - x / 2 + x;
    }
    if (in_window) continue;
    const size_t at = static_cast<size_t>(f * frame_size);
    FUZZ_CHECK(
        out.compare(header + at, frame_size, model.data, at, frame_size) == 0,
        "%s: frame %lld differs", name.c_str(), static_cast<long long>(f));
  }
}

bool EndsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Where scratch directories go: under $TMPDIR when that is set (a run that
// is stopped mid-input leaves its directory there), else in memory when
// there is room for it.
std::string ScratchParent() {
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir != nullptr && *tmpdir != '\0') return tmpdir;
  if (fs::is_directory("/dev/shm")) return "/dev/shm";
  return fs::temp_directory_path().string();
}

// The tool works in its working directory: each input runs in a fresh
// scratch directory, removed afterwards, while the fuzzer's own paths stay
// relative to where it was started.
class ScratchDir {
 public:
  ScratchDir() : home_(fs::current_path()) {
    std::string name = ScratchParent() + "/takeloom_build_fuzz.XXXXXX";
    FUZZ_CHECK(mkdtemp(name.data()) != nullptr, "mkdtemp failed");
    dir_ = name;
    fs::current_path(dir_);
  }
  ~ScratchDir() {
    fs::current_path(home_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

 private:
  const fs::path home_;
  fs::path dir_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const std::vector<EditPoint>& edits = kEditLists[control & 3];
  const Params& params = kParams[(control >> 2) & 7];
  const bool two_takes = (control & 0x20) != 0;
  const bool two_tracks = (control & 0x40) != 0;

  const ScratchDir scratch;
  Take takes[2];
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1,
                              size - 1);
  if (two_takes) {
    if (rest.size() < 2) return 0;
    const size_t split = std::min<size_t>(Le(rest, 0, 2), rest.size() - 2);
    takes[0].bytes = rest.substr(2, split);
    takes[1].bytes = rest.substr(2 + split);
  } else {
    takes[0].bytes = takes[1].bytes = rest;
  }
  for (Take& take : takes) {
    takeloom::InspectTake(
        takeloom::testing::MemorySource(
            std::as_bytes(std::span(take.bytes.data(), take.bytes.size()))),
        "take", &take.inspection);
  }

  const std::vector<std::string> bases =
      two_tracks ? std::vector<std::string>{"kick", "snare"}
                 : std::vector<std::string>{"kick"};
  std::string base_txt, points_txt;
  for (const std::string& base : bases) {
    base_txt += base + "\n";
    for (int k = 0; k < 2; ++k)
      WriteAll(base + kTakeNames[k] + ".wav", takes[k].bytes);
  }
  for (const EditPoint& e : edits) {
    char line[32];
    std::snprintf(line, sizeof line, "%g\t%s\n", static_cast<double>(e.time),
                  kTakeNames[e.take]);
    points_txt += line;
  }
  WriteAll("base.txt", base_txt);
  WriteAll("points.txt", points_txt);
  if (params.text != nullptr) WriteAll("loomrc.txt", params.text);

  char* printed = nullptr;
  size_t printed_size = 0;
  std::FILE* out = open_memstream(&printed, &printed_size);
  FUZZ_CHECK(out != nullptr, "open_memstream failed");
  const int status = takeloom::RunTakeloom({}, out);
  std::fclose(out);
  const std::string text(printed, printed_size);
  std::free(printed);

  // Inputs are never touched.
  for (const std::string& base : bases) {
    for (int k = 0; k < 2; ++k) {
      FUZZ_CHECK(ReadAll(base + kTakeNames[k] + ".wav") == takes[k].bytes,
                 "take %s%s changed", base.c_str(), kTakeNames[k]);
    }
  }
  FUZZ_CHECK(
      ReadAll("base.txt") == base_txt && ReadAll("points.txt") == points_txt,
      "a list changed");
  if (params.text != nullptr) {
    FUZZ_CHECK(ReadAll("loomrc.txt") == params.text, "loomrc.txt changed");
  }
  FUZZ_CHECK(!fs::exists(fs::symlink_status("xfade_temp.wav")),
             "xfade_temp.wav left behind");

  if (status != 0) {
    FUZZ_CHECK(status == 1, "exit status %d", status);
    FUZZ_CHECK(text.find("Done") == std::string::npos, "Done after a failure");
    FUZZ_CHECK(EndsWith(text, ", exiting\n") ||
                   EndsWith(text, "Output files were not built\n"),
               "unexpected last message: %s", text.c_str());
    // Every failure these sessions can meet comes before any output.
    for (const std::string& base : bases) {
      FUZZ_CHECK(!fs::exists(base + "_bld.wav"),
                 "%s_bld.wav left after a failure", base.c_str());
    }
    return 0;
  }
  FUZZ_CHECK(EndsWith(text, "\n\nDone\n\n"), "finished without Done: %s",
             text.c_str());
  const auto& format = takes[edits[0].take].inspection.take;
  const uint32_t frame_size = format.bytes_per_sample * format.channels;
  const Model model =
      HardCutModel(edits, takes, frame_size, format.sample_rate);
  for (size_t t = 0; t < bases.size(); ++t) {
    CheckOutput(bases[t] + "_bld.wav", model, takes[edits[0].take],
                model.heard < 0 ? nullptr : &takes[model.heard],
                params.type[t], params.ms[t]);
  }
  return 0;
}
