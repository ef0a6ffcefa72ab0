#!/usr/bin/env bash
# Builds takeloom, synthesises a small session (three tracks, three takes
# each with its own tone, a lead-in, three edit points and 200 ms
# crossfades) in a fresh directory, and builds its tracks there; installs
# what the build needs first when it is missing.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/tools/packages.sh"
install_missing "${build_packages[@]}"
cmake -S "$repo" -B "$repo/build" >/dev/null
cmake --build "$repo/build" -j2 --target takeloom make_session >/dev/null

session="$repo/demo-session"
rm -rf "$session"
"$repo/build/make_session" "$session" --tracks 3 --takes 3 --seconds 12 \
  --rate 48000 --bits 24 --channels 2 --edits 4 --lead-in 1 \
  --crossfade-ms 200 --type 1
cd "$session"
echo "Session in $session:"
echo "--- base.txt";   cat base.txt
echo "--- points.txt"; cat points.txt
echo "--- loomrc.txt"; cat loomrc.txt
"$repo/build/takeloom"
echo "Built tracks:"
for track in $(cat base.txt); do echo "  $session/${track}_bld.wav"; done
