#include "os/identity.h"

#include <cerrno>
#include <filesystem>

#include "os/syscalls.h"

namespace takeloom {

Identity IdentityOf(const struct stat& st) {
  constexpr int64_t kBillion = 1000000000;
  return {.device = static_cast<uint64_t>(st.st_dev),
          .inode = static_cast<uint64_t>(st.st_ino),
          .size = static_cast<int64_t>(st.st_size),
          .modified_ns = st.st_mtim.tv_sec * kBillion + st.st_mtim.tv_nsec,
          .changed_ns = st.st_ctim.tv_sec * kBillion + st.st_ctim.tv_nsec,
          .mode = static_cast<uint32_t>(st.st_mode),
          .owner = static_cast<uint32_t>(st.st_uid),
          .links = static_cast<uint64_t>(st.st_nlink)};
}

bool NameLookup::absent() const { return error == ENOENT || error == ENOTDIR; }

NameLookup LookUp(const std::string& path) {
  struct stat st {};
  if (Sys().Lstat(path.c_str(), &st) != 0) return {.error = errno, .id = {}};
  return {.error = 0, .id = IdentityOf(st)};
}

NameLookup LookUpFollowing(const std::string& path) {
  struct stat st {};
  if (Sys().Stat(path.c_str(), &st) != 0) return {.error = errno, .id = {}};
  return {.error = 0, .id = IdentityOf(st)};
}

bool Names(const std::string& path, const Identity& id) {
  const NameLookup found = LookUp(path);
  return found.found() && found.id.SameFile(id);
}

std::string NormalName(const std::string& path) {
  return std::filesystem::path(path).lexically_normal().string();
}

std::string PlaceOf(const std::string& path) {
  const std::filesystem::path name(path);
  const std::filesystem::path parent =
      name.has_parent_path() ? name.parent_path() : ".";
  const NameLookup directory = LookUpFollowing(parent.string());
  if (!directory.found()) return name.lexically_normal().string();
  return std::to_string(directory.id.device) + ":" +
         std::to_string(directory.id.inode) + "/" + name.filename().string();
}

}  // namespace takeloom
