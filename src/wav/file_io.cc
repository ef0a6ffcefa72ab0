#include "wav/file_io.h"

#include <algorithm>

namespace takeloom {

FilePtr OpenFile(const std::string& path, const char* mode) {
  return FilePtr(std::fopen(path.c_str(), mode));
}

int64_t FileLength(std::FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long length = std::ftell(f);
  return length < 0 ? -1 : static_cast<int64_t>(length);
}

int64_t ReadSome(std::FILE* f, int64_t offset, std::span<std::byte> out) {
  if (offset < 0) return -1;
  if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return -1;
  const size_t got = std::fread(out.data(), 1, out.size(), f);
  if (got < out.size() && std::ferror(f)) return -1;
  return static_cast<int64_t>(got);
}

bool ReadAt(std::FILE* f, int64_t offset, std::span<std::byte> out) {
  if (out.empty()) return true;
  // Bytes before the start of the file do not exist either; they read as
  // zero like those past its end.
  int64_t got = 0;
  if (offset >= 0) {
    got = ReadSome(f, offset, out);
    if (got < 0) return false;
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(got), out.end(),
            std::byte{0});
  return true;
}

bool WriteAt(std::FILE* f, int64_t offset, std::span<const std::byte> data) {
  if (offset < 0) return false;
  if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return false;
  return std::fwrite(data.data(), 1, data.size(), f) == data.size();
}

bool Append(std::FILE* f, std::span<const std::byte> data) {
  return std::fwrite(data.data(), 1, data.size(), f) == data.size();
}

bool CloseChecked(FilePtr f) {
  std::FILE* raw = f.release();
  if (raw == nullptr) return false;
  const bool flushed = std::fflush(raw) == 0 && !std::ferror(raw);
  return std::fclose(raw) == 0 && flushed;
}

}  // namespace takeloom
