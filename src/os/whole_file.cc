#include "os/whole_file.h"

#include <cerrno>
#include <cstring>
#include <span>

#include "os/file.h"
#include "os/identity.h"
#include "os/process.h"
#include "os/syscalls.h"

namespace takeloom {

Error ReadTextFile(const std::string& path, std::string* text) {
  File file;
  if (!file.OpenRead(path)) {
    const int reason = errno;
    if (OutOfDescriptors(reason)) return TooManyOpenFiles(path, reason);
    const NameLookup found = LookUpFollowing(path);
    if (found.absent()) return {Fault::kCannotOpen, path};
    return {Fault::kCannotRead, path, 0,
            path + ": " + (found.found() && !found.id.regular()
                               ? std::string("not a regular file")
                               : std::string(std::strerror(reason)))};
  }
  const int64_t length = file.Length();
  if (length < 0) {
    return {Fault::kCannotRead, path, 0, path + ": " + std::strerror(errno)};
  }
  std::string contents(static_cast<size_t>(length), '\0');
  const int64_t got = file.ReadSome(0, std::as_writable_bytes(std::span(contents)));
  if (got < 0) {
    return {Fault::kCannotRead, path, 0, path + ": " + std::strerror(errno)};
  }
  contents.resize(static_cast<size_t>(got));
  *text = std::move(contents);
  return {};
}

Error WriteNewFile(const std::string& path, std::string_view text) {
  File file;
  if (file.CreateNew(path) && file.WriteAt(0, std::as_bytes(std::span(text))) &&
      file.Close()) {
    return {};
  }
  const std::string reason = std::strerror(errno);
  if (file.is_open()) file.Close();
  Sys().Unlink(path.c_str());
  return {Fault::kCannotWrite, path, 0, path + ": " + reason};
}

}  // namespace takeloom
