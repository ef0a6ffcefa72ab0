// Writes a synthetic recording session into a directory: takes of every
// track with a distinct tone per take (so every edit is audible), base.txt,
// points.txt and loomrc.txt. Audio is written in blocks, so sessions of any
// length need little memory. With --recorder the takes carry metadata as
// field recorders write it (bext, iXML, and JUNK padding up to the audio,
// which starts at byte 4096).
//
//   make_session DIR [--tracks N] [--takes N] [--seconds S] [--rate HZ]
//                [--bits 16|24|32] [--float] [--channels N] [--edits N]
//                [--lead-in S] [--crossfade-ms MS] [--type 0..4]
//                [--recorder]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Options {
  std::string dir;
  int tracks = 3;
  int takes = 3;
  double seconds = 12;
  uint32_t rate = 48000;
  uint32_t bits = 24;
  bool is_float = false;
  bool recorder = false;
  uint32_t channels = 2;
  int edits = 4;
  double lead_in = 1;
  double crossfade_ms = 200;
  int type = 1;
};

void PutLe(std::vector<unsigned char>& out, uint64_t value, int bytes) {
  for (int b = 0; b < bytes; ++b) out.push_back((value >> (8 * b)) & 0xFF);
}

// Where the audio of a recorder's take starts.
constexpr uint64_t kRecorderAudioStart = 4096;

std::vector<unsigned char> Header(const Options& o, uint64_t frames) {
  const uint32_t frame_size = o.bits / 8 * o.channels;
  const uint64_t data = frames * frame_size;
  const uint64_t before_data = o.recorder ? kRecorderAudioStart - 8 : 36;
  std::vector<unsigned char> h;
  const auto text = [&h](const char* tag) {
    for (int i = 0; i < 4; ++i) h.push_back(static_cast<unsigned char>(tag[i]));
  };
  text("RIFF");
  PutLe(h, data + before_data > 0xFFFFFFFFu ? 0xFFFFFFFFu : data + before_data,
        4);
  text("WAVE");
  text("fmt ");
  PutLe(h, 16, 4);
  PutLe(h, o.is_float ? 3 : 1, 2);
  PutLe(h, o.channels, 2);
  PutLe(h, o.rate, 4);
  PutLe(h, o.rate * frame_size, 4);
  PutLe(h, frame_size, 2);
  PutLe(h, o.bits, 2);
  if (o.recorder) {
    // A broadcast extension of its fixed 602 bytes (all zero but the
    // description), a short iXML document, then padding to the audio.
    text("bext");
    PutLe(h, 602, 4);
    const size_t bext = h.size();
    h.resize(bext + 602, 0);
    const std::string description = "takeloom benchmark take";
    std::copy(description.begin(), description.end(), h.begin() + bext);
    const std::string ixml =
        "<?xml version=\"1.0\"?><BWFXML><IXML_VERSION>1.0</IXML_VERSION>"
        "<PROJECT>bench</PROJECT></BWFXML>";
    text("iXML");
    PutLe(h, ixml.size(), 4);
    h.insert(h.end(), ixml.begin(), ixml.end());
    if (ixml.size() % 2 != 0) h.push_back(0);
    // What is left between here and the data chunk's own 8 bytes.
    const uint64_t junk = kRecorderAudioStart - 8 - (h.size() + 8);
    text("JUNK");
    PutLe(h, junk, 4);
    h.resize(h.size() + junk, 0);
  }
  text("data");
  PutLe(h, data > 0xFFFFFFFFu ? 0xFFFFFFFFu : data, 4);
  return h;
}

bool WriteTake(const Options& o, const std::string& path, double frequency) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const uint64_t frames = static_cast<uint64_t>(o.seconds * o.rate);
  std::vector<unsigned char> block = Header(o, frames);
  const int bytes = static_cast<int>(o.bits / 8);
  const double full_scale = std::ldexp(1.0, static_cast<int>(o.bits) - 1) - 1;
  bool ok = true;
  for (uint64_t i = 0; i < frames && ok; ++i) {
    const double s =
        0.5 * std::sin(2 * M_PI * frequency * static_cast<double>(i) / o.rate);
    for (uint32_t c = 0; c < o.channels; ++c) {
      const double v = c % 2 == 0 ? s : -s;  // channels differ in sign
      if (o.is_float && bytes == 4) {
        const float x = static_cast<float>(v);
        uint32_t u;
        std::memcpy(&u, &x, 4);
        PutLe(block, u, 4);
      } else if (o.is_float) {
        uint64_t u;
        std::memcpy(&u, &v, 8);
        PutLe(block, u, 8);
      } else {
        PutLe(block, static_cast<uint64_t>(std::lround(v * full_scale)), bytes);
      }
    }
    if (block.size() >= 65536 || i + 1 == frames) {
      ok = std::fwrite(block.data(), 1, block.size(), f) == block.size();
      block.clear();
    }
  }
  if (!block.empty()) {
    ok = ok && std::fwrite(block.data(), 1, block.size(), f) == block.size();
  }
  return std::fclose(f) == 0 && ok;
}

bool WriteText(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

bool Parse(int argc, char** argv, Options* o) {
  // A first argument such as --help is a request, not a folder to fill.
  if (argc < 2 || argv[1][0] == '-') return false;
  o->dir = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--float") {
      o->is_float = true;
      continue;
    }
    if (flag == "--recorder") {
      o->recorder = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    if (flag == "--tracks") o->tracks = std::atoi(value);
    else if (flag == "--takes") o->takes = std::atoi(value);
    else if (flag == "--seconds") o->seconds = std::atof(value);
    else if (flag == "--rate") o->rate = std::atoi(value);
    else if (flag == "--bits") o->bits = std::atoi(value);
    else if (flag == "--channels") o->channels = std::atoi(value);
    else if (flag == "--edits") o->edits = std::atoi(value);
    else if (flag == "--lead-in") o->lead_in = std::atof(value);
    else if (flag == "--crossfade-ms") o->crossfade_ms = std::atof(value);
    else if (flag == "--type") o->type = std::atoi(value);
    else return false;
  }
  return o->tracks > 0 && o->takes > 0 && o->edits >= 2 && o->seconds > 0 &&
         o->lead_in < o->seconds;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: make_session DIR [--tracks N] [--takes N] "
                 "[--seconds S] [--rate HZ] [--bits 16|24|32] [--float] "
                 "[--channels N] [--edits N] [--lead-in S] "
                 "[--crossfade-ms MS] [--type 0..4] [--recorder]\n");
    return 2;
  }
  std::filesystem::create_directories(o.dir);
  const std::string names[] = {"kick", "snare", "bass", "guitar", "keys",
                               "vocal", "overhead", "room"};
  std::string base;
  for (int t = 0; t < o.tracks; ++t) {
    const std::string name =
        names[t % 8] + (t >= 8 ? std::to_string(t / 8 + 1) : "");
    base += name + "\n";
    for (int k = 0; k < o.takes; ++k) {
      // One tone per track and take: takes are told apart by ear.
      const double frequency = 110.0 * (t + 1) * (1.0 + 0.25 * k);
      const std::string path =
          o.dir + "/" + name + "_t" + std::to_string(k + 1) + ".wav";
      if (!WriteTake(o, path, frequency)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
      }
    }
  }
  // Edit points spread evenly from the lead-in to the end of the takes,
  // cycling through the takes; the last point marks the end.
  std::string points;
  for (int e = 0; e < o.edits; ++e) {
    const double time =
        o.lead_in + (o.seconds - o.lead_in) * e / (o.edits - 1);
    char line[64];
    std::snprintf(line, sizeof line, "%.3f\t_t%d\n", time, e % o.takes + 1);
    points += line;
  }
  char loomrc[64];
  std::snprintf(loomrc, sizeof loomrc, "xf_all\t%g\t%d\n", o.crossfade_ms,
                o.type);
  if (!WriteText(o.dir + "/base.txt", base) ||
      !WriteText(o.dir + "/points.txt", points) ||
      !WriteText(o.dir + "/loomrc.txt", loomrc)) {
    std::fprintf(stderr, "cannot write the lists in %s\n", o.dir.c_str());
    return 1;
  }
  return 0;
}
