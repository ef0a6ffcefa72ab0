# The Debian packages that building, testing and CI need, listed once;
# sourced by tools/demo.sh, tools/test.sh and .ci/run.

# The tool and its unit tests.
build_packages=(g++ cmake make libgtest-dev)
# The end-to-end tests: sox and ffmpeg write and read files to check against
# independent tools; strace makes the kernel refuse or slow its calls;
# xfsprogs and btrfs-progs make the file systems that share blocks; time
# measures the benchmark's memory; tmux draws a terminal's screen; groff
# reads the manual page; chromium draws the report.
test_packages=(sox ffmpeg strace xfsprogs btrfs-progs time tmux groff-base
  chromium)
# Fuzzing (libFuzzer comes with clang) and the micro-benchmarks, in CI.
ci_packages=(clang libclang-rt-14-dev libbenchmark-dev)

# Installs those of the named packages that are not installed, through
# apt-get, with sudo unless run as root.
install_missing() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
      grep -q 'ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if ! command -v apt-get >/dev/null; then
    echo "Not a Debian system: install ${missing[*]} (or their like) yourself" >&2
    return 0
  fi
  local as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "Missing ${missing[*]}: run this as root, or install sudo" >&2
      return 1
    fi
    as_root=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq "${missing[@]}"
}
