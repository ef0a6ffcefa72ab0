#include "os/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#endif

#include <algorithm>
#include <cerrno>
#include <utility>

#include "os/syscalls.h"

namespace takeloom {

namespace {

// Errors by which the kernel declines a copy between two files rather than
// failing at one: no such call, files on different file systems, a file
// system or a kind of descriptor that does not take part, a file the
// kernel keeps from such copies. Reading and writing may still succeed.
bool Refusal(int error) {
  switch (error) {
    case ENOSYS:
    case EXDEV:
    case EINVAL:
    case EOPNOTSUPP:
    case EBADF:
    case ETXTBSY:
    case EPERM:
    case EOVERFLOW:
      return true;
    default:
      return false;
  }
}

}  // namespace

File::~File() {
  if (fd_ >= 0) Sys().Close(fd_);
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) Sys().Close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool File::OpenRead(const std::string& path) {
  if (fd_ >= 0) Sys().Close(fd_);
  // Without waiting: a FIFO would block the open until a writer came.
  fd_ = Sys().Open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
  struct stat st {};
  if (fd_ >= 0 && (Sys().Fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
    Sys().Close(std::exchange(fd_, -1));
  }
  return fd_ >= 0;
}

bool File::CreateNew(const std::string& path, mode_t mode) {
  if (fd_ >= 0) Sys().Close(fd_);
  // A directory of that name stays, and the exclusive open then fails.
  Sys().Unlink(path.c_str());
  fd_ = Sys().Open(path.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  return fd_ >= 0;
}

bool File::SetMode(mode_t mode) {
  return fd_ >= 0 && Sys().Fchmod(fd_, mode) == 0;
}

int64_t File::Length() const {
  struct stat st {};
  if (fd_ < 0 || Sys().Fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

std::optional<Identity> File::Id() const {
  struct stat st {};
  if (fd_ < 0 || Sys().Fstat(fd_, &st) != 0) return std::nullopt;
  return IdentityOf(st);
}

int64_t File::ReadSome(int64_t offset, std::span<std::byte> out) const {
  if (fd_ < 0 || offset < 0) return -1;
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = Sys().Pread(fd_, out.data() + done, out.size() - done,
                              static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

bool File::WriteAt(int64_t offset, std::span<const std::byte> data) {
  if (fd_ < 0 || offset < 0) return false;
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = Sys().Pwrite(fd_, data.data() + done, data.size() - done,
                               static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

KernelCopy File::CopyFrom(const File& source, int64_t source_offset,
                          int64_t offset, int64_t count) {
  if (fd_ < 0 || source.fd_ < 0 || source_offset < 0 || offset < 0) {
    return {.refused = true};
  }
#ifdef __linux__
  auto in = static_cast<off_t>(source_offset);
  auto out = static_cast<off_t>(offset);
  for (;;) {
    const ssize_t n = Sys().CopyFileRange(source.fd_, &in, fd_, &out,
                                          static_cast<size_t>(count));
    if (n >= 0) return {.bytes = static_cast<int64_t>(n)};
    if (errno != EINTR) return {.refused = Refusal(errno), .error = errno};
  }
#else
  (void)count;
  return {.refused = true, .error = ENOSYS};
#endif
}

bool File::OnExtFileSystem() const {
#ifdef __linux__
  constexpr decltype(statfs::f_type) kExtMagic = 0xEF53;
  struct statfs st {};
  return fd_ >= 0 && Sys().Fstatfs(fd_, &st) == 0 && st.f_type == kExtMagic;
#else
  return false;
#endif
}

bool File::SharesBlockAt(int64_t offset) const {
#ifdef __linux__
  // One extent is all the answer needs.
  alignas(fiemap) std::byte space[sizeof(fiemap) + sizeof(fiemap_extent)] = {};
  auto* map = reinterpret_cast<fiemap*>(space);
  map->fm_start = static_cast<uint64_t>(offset);
  map->fm_length = 1;
  map->fm_extent_count = 1;
  return fd_ >= 0 && offset >= 0 && Sys().Ioctl(fd_, FS_IOC_FIEMAP, map) == 0 &&
         map->fm_mapped_extents == 1 &&
         (map->fm_extents[0].fe_flags & FIEMAP_EXTENT_SHARED) != 0;
#else
  (void)offset;
  return false;
#endif
}

bool File::Resize(int64_t length) {
  return fd_ >= 0 && length >= 0 &&
         Sys().Ftruncate(fd_, static_cast<off_t>(length)) == 0;
}

void File::StartWriteback(int64_t offset, int64_t count) {
#ifdef __linux__
  if (fd_ >= 0 && count > 0) {
    Sys().SyncFileRange(fd_, static_cast<off_t>(offset),
                        static_cast<off_t>(count));
  }
#else
  (void)offset;
  (void)count;
#endif
}

bool File::Sync() { return fd_ >= 0 && Sys().Fdatasync(fd_) == 0; }

bool File::Close() {
  if (fd_ < 0) return false;
  return Sys().Close(std::exchange(fd_, -1)) == 0;
}

}  // namespace takeloom
