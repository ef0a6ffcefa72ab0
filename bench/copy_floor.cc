// The floor a build is measured against: one process that copies each
// source file into a new file, in 256 KiB reads and writes through a
// page-aligned buffer, as a program that reads and writes (rather than
// copying inside the kernel) does at its best.
//
// With --sync each copy is written through to the disk before the next
// begins, as a program that promises durable files must.
//
//   copy_floor [--sync] SOURCE DESTINATION [SOURCE DESTINATION ...]
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kBlockBytes = 256 * 1024;

bool Copy(const char* source, const char* destination, char* block,
          bool sync) {
  const int in = open(source, O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const int out =
      open(destination, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  bool ok = out >= 0;
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
  }
  close(in);
  if (ok && sync && fdatasync(out) != 0) ok = false;
  if (out >= 0 && close(out) != 0) ok = false;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const bool sync = argc > 1 && std::strcmp(argv[1], "--sync") == 0;
  const int first = sync ? 2 : 1;
  if (argc - first < 2 || (argc - first) % 2 != 0) {
    std::fprintf(stderr,
                 "usage: copy_floor [--sync] SOURCE DESTINATION ...\n");
    return 2;
  }
  // Page-aligned, as the kernel copies fastest between the page cache and
  // a buffer that starts on a page.
  char* block = static_cast<char*>(std::aligned_alloc(4096, kBlockBytes));
  if (block == nullptr) return 1;
  for (int i = first; i + 1 < argc; i += 2) {
    if (!Copy(argv[i], argv[i + 1], block, sync)) {
      std::fprintf(stderr, "copy_floor: cannot copy %s to %s\n", argv[i],
                   argv[i + 1]);
      return 1;
    }
  }
  return 0;
}
