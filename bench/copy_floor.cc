// The floor a build is measured against: one process that copies each
// source file into a new file, in 256 KiB reads and writes through a
// page-aligned buffer, as a program that reads and writes (rather than
// copying inside the kernel) does at its best.
//
// With --durable the copies end on the disk as a program that promises
// durable files makes them at its best: writeback starts on each range as
// soon as it is written, every file is synced once all are written, so that
// the disk works on one while the next is copied, and then the directory of
// the last destination is synced, so that the new names last too.
//
//   copy_floor [--durable] SOURCE DESTINATION [SOURCE DESTINATION ...]
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kBlockBytes = 256 * 1024;

// Copies `source` into the new file `destination`; returns its descriptor,
// still open, or -1.
int Copy(const char* source, const char* destination, char* block,
         bool durable) {
  const int in = open(source, O_RDONLY | O_CLOEXEC);
  if (in < 0) return -1;
  int out = open(destination, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  bool ok = out >= 0;
  off_t written = 0;
  while (ok) {
    const ssize_t got = read(in, block, kBlockBytes);
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < got;) {
      const ssize_t n = write(out, block + done, got - done);
      ok = n > 0;
      done += n;
    }
    if (durable) sync_file_range(out, written, got, SYNC_FILE_RANGE_WRITE);
    written += got;
  }
  close(in);
  if (!ok && out >= 0) {
    close(out);
    out = -1;
  }
  return out;
}

// Syncs the directory that holds `path`.
bool SyncDirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const bool durable = argc > 1 && std::strcmp(argv[1], "--durable") == 0;
  const int first = durable ? 2 : 1;
  if (argc - first < 2 || (argc - first) % 2 != 0) {
    std::fprintf(stderr,
                 "usage: copy_floor [--durable] SOURCE DESTINATION ...\n");
    return 2;
  }
  // Page-aligned, as the kernel copies fastest between the page cache and
  // a buffer that starts on a page.
  char* block = static_cast<char*>(std::aligned_alloc(4096, kBlockBytes));
  if (block == nullptr) return 1;
  std::vector<int> copies;
  for (int i = first; i + 1 < argc; i += 2) {
    const int out = Copy(argv[i], argv[i + 1], block, durable);
    if (out < 0) {
      std::fprintf(stderr, "copy_floor: cannot copy %s to %s\n", argv[i],
                   argv[i + 1]);
      return 1;
    }
    copies.push_back(out);
  }
  bool ok = true;
  for (const int out : copies) {
    if (durable && fdatasync(out) != 0) ok = false;
    if (close(out) != 0) ok = false;
  }
  if (ok && durable) ok = SyncDirectoryOf(argv[argc - 1]);
  if (!ok) std::fprintf(stderr, "copy_floor: cannot write the copies through\n");
  return ok ? 0 : 1;
}
