// Fuzzes take inspection on arbitrary bytes: the fields, data start and frame
// count must be those a plain walk of the chunk list finds (or, where the
// walk does not reach a data chunk, a plain scan of the bytes), the frame
// count never more than the file holds, and inspecting the same bytes as a
// file (and scanning that file for tags in blocks) must agree with the
// in-memory forms.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "testing/memory_source.h"
#include "wav/file_source.h"
#include "wav/inspect.h"
#include "wav/riff.h"
#include "wav/sample_format.h"

namespace {

using takeloom::Fault;
using takeloom::Inspection;

// An inspection and the fault it ended with.
struct Outcome {
  Fault fault = Fault::kNone;
  Inspection inspection;
};

// Whether `bytes` hold `text` at `at`.
__attribute__((no_sanitize("coverage"))) bool TextAt(
    std::span<const uint8_t> bytes, size_t at, std::string_view text) {
  if (at + text.size() > bytes.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (bytes[at + i] != static_cast<uint8_t>(text[i])) return false;
  }
  return true;
}

// First even offset c >= 2 whose bytes equal `tag`, over the whole file; a
// scan up to a limit finds it when it lies at or below the limit. A header's
// own numbers are passed over: offset 4 of a RIFF file, and offsets 16 to 35
// of the 44-byte layout the tool writes. Compared byte by byte and left
// uninstrumented: it is the reference, not the target.
__attribute__((no_sanitize("coverage"))) std::optional<int64_t> FirstMatch(
    std::span<const uint8_t> bytes, std::string_view tag) {
  using namespace std::string_view_literals;
  const bool riff = TextAt(bytes, 0, "RIFF");
  const bool canonical = riff && TextAt(bytes, 8, "WAVEfmt ") &&
                         TextAt(bytes, 16, "\x10\0\0\0"sv) &&
                         TextAt(bytes, 36, "data");
  for (size_t c = 2; c + tag.size() <= bytes.size(); c += 2) {
    if ((riff && c == 4) || (canonical && c >= 16 && c < 36)) continue;
    size_t i = 0;
    while (i < tag.size() && bytes[c + i] == static_cast<uint8_t>(tag[i])) ++i;
    if (i == tag.size()) return static_cast<int64_t>(c);
  }
  return std::nullopt;
}

std::optional<int64_t> Within(std::optional<int64_t> match, int64_t limit) {
  return match && *match <= limit ? match : std::nullopt;
}

// Whether a chunk header lies at `at`: four letters, digits or spaces, and
// a size whose body fits in the file.
bool HeaderAt(std::span<const uint8_t> file, uint64_t at) {
  if (at + 8 > file.size()) return false;
  for (uint64_t i = at; i < at + 4; ++i) {
    if (!std::isalnum(file[i]) && file[i] != ' ') return false;
  }
  return (file[at + 4] | file[at + 5] << 8 | file[at + 6] << 16 |
          uint64_t{file[at + 7]} << 24) <= file.size() - at - 8;
}

struct Tags {
  std::optional<int64_t> fmt, data;
  std::optional<uint64_t> long_data_size;  // an RF64 or BW64 file's ds64
};

// The chunks a reader of the RIFF list finds: from offset 12, an id and a
// 32-bit size, the next chunk after the size and a pad byte when it is odd;
// the first of each id counts, and a size past the end stops the walk. An
// RF64 or BW64 file's ds64 chunk gives the 64-bit data size, which a data
// chunk of size 0xFFFFFFFF has; one of size 0 that no chunk header follows
// runs to the end. Where no data chunk is reached, both tags
// are the scan's, up to the limit, and so is a format chunk not reached.
__attribute__((no_sanitize("coverage"))) Tags ExpectedTags(
    std::span<const uint8_t> file) {
  Tags walked;
  const auto number = [&](uint64_t at, int width) {
    uint64_t value = 0;
    for (int i = 0; i < width; ++i) value |= uint64_t{file[at + i]} << (8 * i);
    return value;
  };
  const bool long_form = TextAt(file, 0, "RF64") || TextAt(file, 0, "BW64");
  if ((long_form || TextAt(file, 0, "RIFF")) && TextAt(file, 8, "WAVE")) {
    uint64_t at = 12;
    while (at + 8 <= file.size() && !(walked.fmt && walked.data)) {
      uint64_t size = number(at + 4, 4);
      if (!walked.fmt && TextAt(file, at, "fmt ")) walked.fmt = at;
      if (long_form && !walked.long_data_size && TextAt(file, at, "ds64") &&
          at + 24 <= file.size()) {
        walked.long_data_size = number(at + 16, 8);
      }
      if (!walked.data && TextAt(file, at, "data")) {
        walked.data = at;
        if (size == 0xFFFFFFFF && walked.long_data_size) {
          size = *walked.long_data_size;
        }
        if (size == 0 && !HeaderAt(file, at + 8)) break;
      }
      // Compared without overflow: the next chunk lies past the end.
      if (size > file.size() - at || 8 + size + size % 2 > file.size() - at) {
        break;
      }
      at += 8 + size + size % 2;
    }
  }
  // The scan finds what the walk does not (a ds64 the walk passed still
  // counts).
  const auto scan = [&](std::string_view tag) {
    return Within(FirstMatch(file, tag), takeloom::kInspectScanLimit);
  };
  if (!walked.data) return {scan("fmt"), scan("data"), walked.long_data_size};
  if (!walked.fmt) walked.fmt = scan("fmt");
  return walked;
}

uint32_t Le(std::span<const uint8_t> bytes, int64_t at, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) {
    const int64_t k = at + i;
    if (k < static_cast<int64_t>(bytes.size())) {
      value |= static_cast<uint32_t>(bytes[static_cast<size_t>(k)]) << (8 * i);
    }
  }
  return value;
}

void CheckInspection(std::span<const uint8_t> file, const Tags& tags,
                     const Outcome& got) {
  const int64_t length = static_cast<int64_t>(file.size());
  const auto& take = got.inspection.take;
  const auto fmt = tags.fmt;
  FUZZ_CHECK(got.inspection.format_chunk_missing == !fmt.has_value(),
             "fmt %d", got.inspection.format_chunk_missing);
  FUZZ_CHECK(got.fault != Fault::kCannotOpen,
             "bytes cannot fail to open");
  if (!fmt) {
    FUZZ_CHECK(got.fault == Fault::kUnreadableFormat,
               "no format chunk, fault %d", static_cast<int>(got.fault));
    return;
  }
  const int64_t f = *fmt;
  // An extensible format chunk names its real tag in the 16-byte GUID 32
  // bytes after "fmt".
  const bool extensible =
      f + 10 <= length && Le(file, f + 8, 2) == takeloom::kFormatTagExtensible;
  if (f + (extensible ? 48 : 24) > length) {
    FUZZ_CHECK(got.fault == Fault::kUnreadableFormat,
               "fields past the end accepted, fault %d",
               static_cast<int>(got.fault));
    return;
  }
  const auto data = tags.data;
  if (!data) {
    FUZZ_CHECK(got.fault == Fault::kNoDataChunk, "no data tag, fault %d",
               static_cast<int>(got.fault));
    return;
  }
  // A frame size of 0 cannot divide out a frame count.
  const bool empty_frames =
      (Le(file, f + 22, 2) / 8) * Le(file, f + 10, 2) == 0;
  FUZZ_CHECK(!empty_frames || got.fault == Fault::kUnreadableFormat,
             "fault %d, frame size 0", static_cast<int>(got.fault));
  if (empty_frames) return;
  // Copied are whole-byte integers and floats of the usual widths whose
  // frames are their samples.
  uint32_t tag = Le(file, f + 8, 2);
  if (extensible &&
      TextAt(file, static_cast<size_t>(f) + 34,
             std::string_view("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14))) {
    tag = Le(file, f + 32, 2);
  }
  const uint32_t bits = Le(file, f + 22, 2);
  const bool copied =
      ((tag == 1 && (bits == 16 || bits == 24 || bits == 32)) ||
       (tag == 3 && (bits == 32 || bits == 64))) &&
      Le(file, f + 20, 2) == Le(file, f + 10, 2) * bits / 8;
  FUZZ_CHECK(got.fault == (copied ? Fault::kNone : Fault::kUnsupportedFormat),
             "fault %d, tag %u, bits %u", static_cast<int>(got.fault), tag,
             bits);
  if (!copied) return;

  FUZZ_CHECK(take.channels == Le(file, f + 10, 2), "channels %u",
             take.channels);
  FUZZ_CHECK(take.sample_rate == Le(file, f + 12, 4), "rate %u",
             take.sample_rate);
  FUZZ_CHECK(take.bits_per_sample == Le(file, f + 22, 2), "bits %u",
             take.bits_per_sample);
  FUZZ_CHECK(take.bytes_per_sample == take.bits_per_sample / 8,
             "bytes per sample %u", take.bytes_per_sample);
  FUZZ_CHECK((take.format == takeloom::SampleFormat::kFloat) ==
                 (tag == takeloom::kFormatTagFloat),
             "format tag %u read as %d", tag, static_cast<int>(take.format));
  FUZZ_CHECK(take.data_start == *data + 8, "data start %lld, tag at %lld",
             static_cast<long long>(take.data_start),
             static_cast<long long>(*data));
  const int64_t frame_size =
      static_cast<int64_t>(take.bytes_per_sample) * take.channels;
  FUZZ_CHECK(frame_size > 0, "frame size 0 accepted");
  uint64_t data_size = Le(file, *data + 4, 4);
  if (data_size == 0xFFFFFFFF && tags.long_data_size) {
    data_size = *tags.long_data_size;
  }
  const bool unset = data_size == 0 && length > take.data_start &&
                     !HeaderAt(file, static_cast<uint64_t>(take.data_start));
  FUZZ_CHECK(got.inspection.data_size_unset == unset, "size unset %d",
             got.inspection.data_size_unset);
  if (unset) data_size = static_cast<uint64_t>(length - take.data_start);
  const int64_t declared = static_cast<int64_t>(
      std::min<uint64_t>(data_size / frame_size, INT64_MAX));
  const int64_t available =
      std::max<int64_t>(0, (length - take.data_start) / frame_size);
  FUZZ_CHECK(take.frames >= 0, "negative frames %lld",
             static_cast<long long>(take.frames));
  FUZZ_CHECK(take.frames <= available, "%lld frames, file holds %lld",
             static_cast<long long>(take.frames),
             static_cast<long long>(available));
  FUZZ_CHECK(take.frames == std::min(declared, available),
             "%lld frames, declared %lld, available %lld",
             static_cast<long long>(take.frames),
             static_cast<long long>(declared),
             static_cast<long long>(available));
}

bool SameInspection(const Outcome& a, const Outcome& b) {
  const auto& x = a.inspection;
  const auto& y = b.inspection;
  return a.fault == b.fault &&
         x.format_chunk_missing == y.format_chunk_missing &&
         x.data_size_unset == y.data_size_unset &&
         x.take.extensible.has_value() == y.take.extensible.has_value() &&
         x.take.bext.length == y.take.bext.length &&
         x.take.ixml.length == y.take.ixml.length &&
         x.take.channels == y.take.channels &&
         x.take.data_start == y.take.data_start &&
         x.take.sample_rate == y.take.sample_rate &&
         x.take.frames == y.take.frames &&
         x.take.bytes_per_sample == y.take.bytes_per_sample &&
         x.take.bits_per_sample == y.take.bits_per_sample &&
         x.take.format == y.take.format;
}

// The fuzzed bytes as a file in memory, rewritten for every input.
std::string MemoryFilePath(std::span<const uint8_t> bytes) {
  static const int fd = memfd_create("take", 0);
  FUZZ_CHECK(fd >= 0, "memfd_create failed");
  FUZZ_CHECK(ftruncate(fd, 0) == 0, "ftruncate failed");
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done,
                             static_cast<off_t>(done));
    FUZZ_CHECK(n > 0, "pwrite failed");
    done += static_cast<size_t>(n);
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

void CheckFileForms(std::span<const uint8_t> file, const Tags& tags,
                    const Outcome& expected) {
  const std::string path = MemoryFilePath(file);
  Outcome from_file;
  from_file.fault = takeloom::GET_ATTRIBUTES(path, &from_file.inspection).fault;
  FUZZ_CHECK(SameInspection(from_file, expected),
             "file inspection differs: fault %d frames %lld",
             static_cast<int>(from_file.fault),
             static_cast<long long>(from_file.inspection.take.frames));

  // Block-wise scans over the file find what a scan of the bytes finds: the
  // data start at the limit that reads takes, and both tags at a limit that
  // the input's last two bytes pick (anywhere up to 256 KiB, so also across
  // the scan's block boundaries). Each scan of a large file costs, so the
  // other users' limits are left to the picked one.
  takeloom::File f;
  FUZZ_CHECK(f.OpenRead(path), "cannot open %s", path.c_str());
  const takeloom::FileSource source(f);
  FUZZ_CHECK(takeloom::LocateChunks(source, takeloom::kInspectScanLimit).data ==
                 tags.data,
             "data chunk");
  const size_t n = file.size();
  const int64_t picked = n < 2 ? 0 : 4 * (file[n - 1] | file[n - 2] << 8);
  for (const char* tag : {"data", "fmt"}) {
    const auto want = Within(FirstMatch(file, tag), picked);
    const auto got = takeloom::ScanForTag(source, tag, picked);
    FUZZ_CHECK(got == want, "%s up to %lld: %lld, expected %lld", tag,
               static_cast<long long>(picked),
               static_cast<long long>(got.value_or(-1)),
               static_cast<long long>(want.value_or(-1)));
  }
}

// Tags far into a file need large files, which the fuzzer rarely builds
// byte by byte: an input that begins with 0xFF stands for the bytes after
// its 5-byte prefix with a run of zero bytes (4 x the little-endian 16-bit
// count at 1) inserted at the offset given at 3.
std::vector<uint8_t> FileOf(const uint8_t* data, size_t size) {
  if (size < 5 || data[0] != 0xFF)
    return std::vector<uint8_t>(data, data + size);
  const size_t gap = 4 * (data[1] | size_t{data[2]} << 8);
  const std::span<const uint8_t> rest(data + 5, size - 5);
  const size_t at =
      std::min<size_t>(data[3] | size_t{data[4]} << 8, rest.size());
  std::vector<uint8_t> file(rest.begin(), rest.begin() + at);
  file.resize(at + gap, 0);
  file.insert(file.end(), rest.begin() + at, rest.end());
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes = FileOf(data, size);
  const std::span<const uint8_t> file(bytes);
  size = bytes.size();
  Outcome got;
  got.fault = takeloom::InspectTake(takeloom::testing::MemorySource(std::as_bytes(file)),
                                    "take", &got.inspection)
                  .fault;
  const Tags tags = ExpectedTags(file);
  CheckInspection(file, tags, got);
  CheckFileForms(file, tags, got);
  return 0;
}
