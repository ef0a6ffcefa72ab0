#!/usr/bin/env bash
# Builds takeloom and runs it on a small example job in a fresh directory.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$repo" -B "$repo/build" >/dev/null
cmake --build "$repo/build" -j2 --target takeloom >/dev/null

session="$repo/demo-session"
rm -rf "$session"
mkdir -p "$session"
cd "$session"
printf 'kick\nsnare\n' > base.txt
printf '0\t_t1\n4\t_t2\n10\t_t2\n' > points.txt
"$repo/build/takeloom"
echo "The job is in $session"
