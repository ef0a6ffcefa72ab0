// Which file a name or a descriptor stands for, decided in one place: the
// same file is the same device and inode; an unchanged file is also of the
// same size with the same modification and change times.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

namespace takeloom {

struct Identity {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modified_ns = 0;  // modification time
  int64_t changed_ns = 0;   // status change time
  uint32_t mode = 0;        // type and permission bits
  uint32_t owner = 0;
  uint64_t links = 0;

  bool SameFile(const Identity& other) const {
    return device == other.device && inode == other.inode;
  }
  // The same file holding what it held: nothing wrote into it, cut it or
  // put another file's bytes in it since `other` was taken.
  bool Unchanged(const Identity& other) const {
    return SameFile(other) && size == other.size &&
           modified_ns == other.modified_ns && changed_ns == other.changed_ns;
  }
  bool regular() const { return S_ISREG(mode); }
  bool directory() const { return S_ISDIR(mode); }
  bool link() const { return S_ISLNK(mode); }
};

Identity IdentityOf(const struct stat& st);

// What a name stands for: a file, nothing, or an error of the system's,
// which is never taken for "nothing".
struct NameLookup {
  int error = 0;  // 0: found; ENOENT or ENOTDIR: nothing of that name
  Identity id;

  bool found() const { return error == 0; }
  bool absent() const;
  // The identity when found, else nothing; only for callers that handle
  // errors apart (error != 0 && !absent()).
  std::optional<Identity> file() const {
    return found() ? std::optional<Identity>(id) : std::nullopt;
  }
};

// The file `path` names, a link itself rather than what it points to.
NameLookup LookUp(const std::string& path);
// The file `path` leads to, through links.
NameLookup LookUpFollowing(const std::string& path);

// Whether `path` names the very file `id` (same device and inode). False
// when it names another, nothing, or cannot be looked up.
bool Names(const std::string& path, const Identity& id);

// The name as a path: "./x" and "a/../x" are "x", whether or not it exists.
std::string NormalName(const std::string& path);

// Where `path` lands, as a key that is equal for two names of one place
// however they are spelled: its directory's identity (links followed) and
// its file name; the name as a path where the directory cannot be found.
std::string PlaceOf(const std::string& path);

}  // namespace takeloom
