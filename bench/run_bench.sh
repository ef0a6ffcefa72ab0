#!/usr/bin/env bash
# Times takeloom against the floor of one process copying the same number
# of bytes into new files (and, for reference, the same copy written through
# to the disk, as takeloom writes its outputs, and cat and dd doing it),
# and against a sox script doing the same edit as hard cuts, on a synthetic
# session, with the page cache warm. Prints medians of wall time, CPU time
# and peak memory, and their ratios to the floor.
#
#   bench/run_bench.sh [--tracks N] [--takes N] [--seconds S] [--rate HZ]
#                      [--bits 16|24] [--channels N] [--edits N]
#                      [--crossfade-ms MS] [--type 0..4] [--lead-in S]
#                      [--runs N] [--large | --smoke] [--scaling "S1 S2 ..."]
#                      [--no-sox] [--build-dir DIR] [--work-dir DIR]
#                      [--takeloom BINARY] [--second BINARY] [--recorder]
#                      [--fs xfs|btrfs]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)

tracks=4 takes=3 seconds=120 rate=48000 bits=24 channels=2 edits=6
crossfade_ms=200 type=1 lead_in=1 runs=5 scaling="" use_sox=1 recorder=0 fs=""
build_dir="$repo/build-bench-release"
takeloom=""
second=""
work_parent="${TMPDIR:-/tmp}"

usage() {
  sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
  cat <<'EOF'

Defaults: 4 tracks x 3 takes x 120 s, 48000 Hz, 24-bit stereo, 6 edit
points from a 1 s lead-in, 200 ms crossfades of type 1; 5 timed runs after
a warm-up. --large: 16 tracks x 3 takes x 600 s. --smoke: 2 tracks x
2 takes x 3 s, for checking that the script works. --scaling runs the
comparison for each take length in seconds and adds a table of time and
peak memory against the total audio length. --takeloom times the given
binary instead of the one built here; --second times another binary beside
it, in the same interleaved runs (to compare two versions). --recorder
writes takes as field recorders do (bext, iXML and JUNK chunks, audio from
byte 4096).

--fs xfs or --fs btrfs (root only; needs xfsprogs or btrfs-progs) makes a
file system of that kind in an image file under the work directory,
loop-mounts it, and runs the comparison there twice, with plain takes and
with recorder takes: takeloom against the floor and the durable floor on
the same file system, and the bytes the outputs hold in blocks of their own
(extents not shared with the takes, from filefrag). Everything is unmounted
and removed afterwards, also after a failure.
EOF
}

while [ $# -gt 0 ]; do
  case "$1" in
    --tracks) tracks=$2; shift ;;
    --takes) takes=$2; shift ;;
    --seconds) seconds=$2; shift ;;
    --rate) rate=$2; shift ;;
    --bits) bits=$2; shift ;;
    --channels) channels=$2; shift ;;
    --edits) edits=$2; shift ;;
    --crossfade-ms) crossfade_ms=$2; shift ;;
    --type) type=$2; shift ;;
    --lead-in) lead_in=$2; shift ;;
    --runs) runs=$2; shift ;;
    --large) tracks=16 takes=3 seconds=600 ;;
    --smoke) tracks=2 takes=2 seconds=3 edits=3 lead_in=0.5 ;;
    --scaling) scaling=$2; shift ;;
    --no-sox) use_sox=0 ;;
    --recorder) recorder=1 ;;
    --fs) fs=$2; shift ;;
    --takeloom) takeloom=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift ;;
    --second) second=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift ;;
    --build-dir) build_dir=$2; shift ;;
    --work-dir) work_parent=$2; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "unknown option: $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done
if [ "$runs" -lt 1 ]; then echo "--runs must be at least 1" >&2; exit 2; fi
if [ "$bits" != 16 ] && [ "$bits" != 24 ]; then
  echo "--bits must be 16 or 24 (the sox script copies integer PCM)" >&2
  exit 2
fi
if [ -n "$fs" ]; then
  case "$fs" in
    xfs) mkfs=(mkfs.xfs -q -m reflink=1) package=xfsprogs ;;
    btrfs) mkfs=(mkfs.btrfs -q) package=btrfs-progs ;;
    *) echo "--fs takes xfs or btrfs" >&2; exit 2 ;;
  esac
  if [ "$(id -u)" != 0 ]; then
    echo "--fs $fs must run as root: it loop-mounts a file system image" >&2
    exit 1
  fi
  for tool in "${mkfs[0]}" filefrag mount losetup; do
    if ! PATH=$PATH:/usr/sbin:/sbin command -v "$tool" >/dev/null; then
      echo "--fs $fs needs $tool (install $package and e2fsprogs)" >&2
      exit 1
    fi
  done
  # Timed here: takeloom against the floors on the same file system.
  use_sox=0
fi
if [ "$use_sox" = 1 ] && ! command -v sox >/dev/null; then
  echo "sox is not installed: timing takeloom and the floor only"
  use_sox=0
fi
gnu_time=/usr/bin/time
[ -x "$gnu_time" ] || gnu_time=""

# --- Build --------------------------------------------------------------------
# A build directory of its own, configured once for speed; an existing one
# (e.g. the default build, for the smoke run) is only brought up to date.
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
    -DTAKELOOM_TESTS=OFF >/dev/null
fi
cmake --build "$build_dir" -j2 --target takeloom make_session copy_floor \
  >/dev/null
[ -n "$takeloom" ] || takeloom="$build_dir/takeloom"
make_session="$build_dir/make_session"
copy_floor="$build_dir/copy_floor"
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build_dir/CMakeCache.txt")

# With --fs, the work directory lies on a loop-mounted file system in an
# image file; the trap unmounts and removes it, whatever happens.
fs_dir="" mounted=0 work=""
cleanup() {
  cd /
  [ -n "$work" ] && rm -rf "$work"
  if [ "$mounted" = 1 ]; then
    umount "$fs_dir/mnt" || umount -l "$fs_dir/mnt"
  fi
  [ -z "$fs_dir" ] || rm -rf "$fs_dir"
}
trap 'status=$?; cleanup; exit $status' EXIT
trap 'exit 130' INT TERM HUP
if [ -n "$fs" ]; then
  fs_dir=$(mktemp -d "$work_parent/takeloom-$fs.XXXXXX")
  # Room for the takes of both sessions in turn, the outputs of two jobs
  # and the floor's sources, with a margin (the image is sparse).
  take_bytes=$(awk -v s="$seconds" -v r="$rate" -v f="$((bits / 8 * channels))" \
    'BEGIN { printf "%d", 4096 + int(s * r) * f }')
  image_mib=$(( tracks * (takes + 4) * take_bytes / 1048576 * 3 / 2 + 1024 ))
  truncate -s "${image_mib}M" "$fs_dir/image"
  PATH=$PATH:/usr/sbin:/sbin "${mkfs[@]}" "$fs_dir/image" >/dev/null
  mkdir "$fs_dir/mnt"
  mount -o loop "$fs_dir/image" "$fs_dir/mnt"
  mounted=1
  work_parent="$fs_dir/mnt"
fi
work=$(mktemp -d "$work_parent/takeloom-bench.XXXXXX")

frame_size=$((bits / 8 * channels))

# --- Measuring one job ----------------------------------------------------------
# The command of a job: the tool itself, or a small shell running the job's
# script. Sets the array `command`.
job_command() {
  case "$1" in
    takeloom) command=("$takeloom") ;;
    second) command=("$second") ;;
    *) command=(sh "$work/$1.sh") ;;
  esac
}

# Runs a job in the session directory and appends "wall cpu rss" to its
# result file: wall and CPU (user + system, children included) in seconds
# from the shell's timer, peak resident memory in KiB of the largest process
# from GNU time, or - without it.
measure() {
  local job=$1 timing rss status
  local -a command
  job_command "$job"
  timing=$( { TIMEFORMAT='%3R %3U %3S'
              time {
                if [ -n "$gnu_time" ]; then
                  "$gnu_time" -f %M -o "$work/rss" "${command[@]}" \
                    >/dev/null 2>>"$work/errors"
                else
                  "${command[@]}" >/dev/null 2>>"$work/errors"
                fi
                echo $? >"$work/status"
              }; } 2>&1 )
  status=$(cat "$work/status")
  if [ "$status" != 0 ]; then
    echo "The $job job failed with status $status:" >&2
    cat "$work/errors" >&2
    exit 1
  fi
  rss=-
  [ -n "$gnu_time" ] && rss=$(tail -n 1 "$work/rss")
  echo "$timing $rss" |
    awk '{printf "%.3f %.3f %s\n", $1, $2 + $3, $4}' >>"$work/$job.times"
}

median() {  # column number, file
  awk -v c="$1" '{print $c}' "$2" | sort -n |
    awk '{v[NR] = $1} END {
      if (NR == 0 || v[1] == "-") { print "-"; exit }
      if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

ratio() {  # a / b, or - when b is zero or unknown
  awk -v a="$1" -v b="$2" 'BEGIN {
    if (b == "-" || a == "-" || b + 0 == 0) print "-"; else printf "%.2f", a / b }'
}

mib() { awk -v k="$1" 'BEGIN { if (k == "-") print "-"; else printf "%.1f MiB", k / 1024 }'; }

# Prints "own total": the bytes that FILES hold in extents they share with
# no other file (flags without "shared" in filefrag's list), each file's
# count at most its size, and the bytes of all of them.
own_bytes() {
  local f own=0 total=0 size mine
  for f in "$@"; do
    size=$(stat -c %s "$f")
    mine=$(PATH=$PATH:/usr/sbin:/sbin filefrag -v "$f" | awk -F: '
      /blocks? of [0-9]+ bytes/ {
        match($0, /of [0-9]+ bytes/); bs = substr($0, RSTART + 3, RLENGTH - 9) }
      /^ *[0-9]+:/ { if ($NF !~ /shared/) n += $4 }
      END { printf "%d", n * bs }')
    [ "$mine" -gt "$size" ] && mine=$size
    own=$((own + mine)) total=$((total + size))
  done
  echo "$own $total"
}

# --- The edit as frame positions -----------------------------------------------
# The hard-cut edit of one track in frames, formed as the tool forms them
# (each edit point's frame once, as a single-precision product truncated),
# so that the sox script cuts at the same frames. Prints "lead N", then
# "piece TAKE START FRAMES" for each segment in the order the output holds
# them, and "length N".
plan_frames() {  # session dir, frames per take
  perl -e '
    use strict;
    my ($points, $rate, $take_frames) = @ARGV;
    sub f32 { unpack("f", pack("f", $_[0])) }
    open(my $in, "<", $points) or die "cannot read $points\n";
    my (@t, @take);
    while (<$in>) {
      chomp; next if $_ eq "";
      my ($time, $name) = split /\t/;
      push @t, f32($time); push @take, $name;
    }
    $t[0] = 0 if $t[0] < 0;
    my $r = f32($rate);
    my @p = map { int(f32($_ * $r)) } @t;
    my $length = $take_frames < $p[-1] ? $take_frames : $p[-1];
    printf "lead %d\n", $p[0];
    for my $k (1 .. $#t) {
      my $end = $p[$k] < $length ? $p[$k] : $length;
      printf "piece %s %d %d\n", $take[$k - 1], $p[$k - 1], $end - $p[$k - 1]
        if $end > $p[$k - 1];
    }
    printf "length %d\n", $length;
  ' "$1/points.txt" "$rate" "$2"
}

# --- One comparison -------------------------------------------------------------
# Synthesises a session of `seconds` per take, times the jobs and prints
# their table; leaves "seconds tracks out_bytes takeloom-wall
# takeloom-cpu takeloom-rss floor-wall copy-wall" in $work/summary for
# --scaling.
compare() {
  local secs=$1
  local session="$work/session" b job run
  local take_bytes audio_start=44 kind="plain takes"
  if [ "$recorder" = 1 ]; then audio_start=4096 kind="recorder takes"; fi
  take_bytes=$(awk -v s="$secs" -v r="$rate" -v f="$frame_size" -v a="$audio_start" \
    'BEGIN { printf "%d", a + int(s * r) * f }')
  # Takes, the floor's sources, one job's outputs, the sox pieces and the
  # check's two outputs, with room to spare.
  local need_kib=$(( (tracks * (takes + 5) * take_bytes) / 1024 * 11 / 10 ))
  local free_kib
  free_kib=$(df -Pk "$work" | awk 'NR == 2 {print $4}')
  if [ "$free_kib" -lt "$need_kib" ]; then
    echo "Not enough free disk in $work_parent: need $((need_kib / 1024)) MiB," \
         "have $((free_kib / 1024)) MiB" >&2
    exit 1
  fi
  local avail_kib
  avail_kib=$(awk '/^MemAvailable:/ {print $2}' /proc/meminfo)
  if [ $(( tracks * (takes + 2) * take_bytes / 1024 )) -gt "$avail_kib" ]; then
    echo "warning: the session does not fit in free memory; the page cache" \
         "will not stay warm and the figures measure the disk" >&2
  fi

  rm -rf "$session"
  "$make_session" "$session" --tracks "$tracks" --takes "$takes" \
    --seconds "$secs" --rate "$rate" --bits "$bits" --channels "$channels" \
    --edits "$edits" --lead-in "$lead_in" --crossfade-ms "$crossfade_ms" \
    --type "$type" $([ "$recorder" = 1 ] && echo --recorder)
  sync
  cd "$session"
  mapfile -t bases < base.txt
  local take_frames=$(( ($(stat -c %s "${bases[0]}_t1.wav") - audio_start) / frame_size ))
  local plan
  plan=$(plan_frames "$session" "$take_frames")
  local out_frames
  out_frames=$(echo "$plan" | awk '$1 == "length" {print $2}')
  # An output puts its audio where its first take has it (44 or 4096).
  local out_bytes=$((audio_start + out_frames * frame_size))

  # The floor reads and writes as many bytes as each built track holds: one
  # file of exactly that size per track (a take, when the edit ends where
  # the takes end), copied into a new file by one process in 256 KiB reads
  # and writes. cat (one process per track, copying inside the kernel where
  # it can) and dd (128 KiB) do the same copy for reference.
  local floor_args="" durable_args=""
  : >"$work/cat.sh"
  : >"$work/copy.sh"
  : >"$work/clean.sh"
  for b in "${bases[@]}"; do
    local source="${b}_t1.wav"
    if [ "$(stat -c %s "$source")" != "$out_bytes" ]; then
      source="$work/${b}_src.wav"
      head -c "$out_bytes" "${b}_t1.wav" >"$source"
    fi
    floor_args="$floor_args '$source' '${b}_floor.wav'"
    durable_args="$durable_args '$source' '${b}_durable.wav'"
    echo "cat '$source' > '${b}_cat.wav'" >>"$work/cat.sh"
    echo "dd if='$source' of='${b}_dd.wav' bs=128K status=none" >>"$work/copy.sh"
    echo "rm -f '${b}_bld.wav' '${b}_floor.wav' '${b}_durable.wav'" \
         "'${b}_cat.wav' '${b}_dd.wav' '${b}_sox.wav'" >>"$work/clean.sh"
  done
  echo "exec '$copy_floor' $floor_args" >"$work/floor.sh"
  # The same copy made durable the best way a program that reads and
  # writes can: writeback started as each file is written, every file synced
  # once all are written, then the directory, as takeloom makes its outputs
  # durable before it puts them in place.
  echo "exec '$copy_floor' --durable $durable_args" >"$work/durable.sh"

  # The sox script: per track, each segment trimmed from its take (the first
  # one behind the lead-in's silence), then the pieces joined into one file.
  if [ "$use_sox" = 1 ]; then
    local lead
    lead=$(echo "$plan" | awk '$1 == "lead" {print $2}')
    : >"$work/sox.sh"
    for b in "${bases[@]}"; do
      local pieces="" n=0
      while read -r _ take start frames; do
        n=$((n + 1))
        local pad=""
        [ "$n" = 1 ] && [ "$lead" -gt 0 ] && pad="pad ${lead}s 0s"
        echo "sox '${b}${take}.wav' '${b}_piece$n.wav' trim ${start}s ${frames}s $pad" \
          >>"$work/sox.sh"
        pieces="$pieces '${b}_piece$n.wav'"
      done < <(echo "$plan" | grep '^piece ')
      echo "sox $pieces '${b}_sox.wav'" >>"$work/sox.sh"
      echo "rm -f $pieces" >>"$work/sox.sh"
    done
  fi

  local jobs="floor durable cat copy takeloom"
  [ -n "$fs" ] && jobs="floor durable takeloom"
  [ -n "$second" ] && jobs="$jobs second"
  [ "$use_sox" = 1 ] && jobs="$jobs sox"
  # Warm-up: every take and every source through the page cache, each job
  # once; then the timed runs, interleaved so that any background load
  # falls on all jobs alike. Outputs are removed and the disk synced before
  # each run, outside the timing.
  cat ./*.wav >/dev/null
  for job in $jobs; do
    : >"$work/$job.times"
    local -a command
    job_command "$job"
    if ! "${command[@]}" >/dev/null 2>"$work/errors"; then
      echo "The $job job failed:" >&2
      cat "$work/errors" >&2
      exit 1
    fi
  done

  # The built tracks hold exactly the floor's bytes.
  for b in "${bases[@]}"; do
    if [ "$(stat -c %s "${b}_bld.wav")" != "$out_bytes" ]; then
      echo "${b}_bld.wav holds $(stat -c %s "${b}_bld.wav") bytes," \
           "the floor copies $out_bytes" >&2
      exit 1
    fi
  done

  # The sox script does the same job: its audio equals a hard-cut build.
  local check="not run"
  if [ "$use_sox" = 1 ]; then
    cp loomrc.txt "$work/loomrc.saved"
    printf 'xf_all\t0\t0\n' >loomrc.txt
    "$takeloom" _cut.wav >/dev/null
    cp "$work/loomrc.saved" loomrc.txt
    check="sox audio equals a hard-cut build"
    for b in "${bases[@]}"; do
      if ! cmp -s <(sox "${b}_sox.wav" -t raw -) <(tail -c +45 "${b}_cut.wav"); then
        check="MISMATCH in track $b: the sox script does a different job"
      fi
      rm -f "${b}_cut.wav"
    done
  fi

  for run in $(seq "$runs"); do
    for job in $jobs; do
      sh "$work/clean.sh"
      sync
      measure "$job"
    done
  done
  sh "$work/clean.sh"

  local fw fc fr cw cc cr tw tc tr sw sc sr
  fw=$(median 1 "$work/floor.times"); fc=$(median 2 "$work/floor.times")
  fr=$(median 3 "$work/floor.times")
  tw=$(median 1 "$work/takeloom.times"); tc=$(median 2 "$work/takeloom.times")
  tr=$(median 3 "$work/takeloom.times")

  echo
  echo "Session: $tracks tracks x $takes takes x $secs s ($kind), $rate Hz," \
       "$bits-bit, $channels channels, $edits edit points, lead-in $lead_in s," \
       "${crossfade_ms} ms crossfades (type $type)${fs:+, on $fs}"
  echo "Each built track: $out_bytes bytes; the floor copies as many per track." \
       "Median of $runs runs after a warm-up, page cache warm, $build_type build."
  echo
  echo "| job | wall | x floor | CPU (user+sys) | x floor | peak memory |"
  echo "|---|---|---|---|---|---|"
  row() {  # label, job
    local w c r
    w=$(median 1 "$work/$2.times"); c=$(median 2 "$work/$2.times")
    r=$(median 3 "$work/$2.times")
    printf '| %s | %s s | %s | %s s | %s | %s |\n' "$1" "$w" "$(ratio "$w" "$fw")" \
      "$c" "$(ratio "$c" "$fc")" "$(mib "$r")"
  }
  local dw
  dw=$(median 1 "$work/durable.times")
  row "floor (one process, 256 KiB reads and writes)" floor
  row "durable floor (writeback as it writes, files and directory synced)" durable
  case " $jobs " in *" cat "*) row "cat, one process per track" cat ;; esac
  case " $jobs " in *" copy "*) row "dd, 128 KiB" copy ;; esac
  row "takeloom" takeloom
  [ -n "$second" ] && row "takeloom (second: $(basename "$second"))" second
  cw=-
  [ -f "$work/copy.times" ] && cw=$(median 1 "$work/copy.times")
  if [ "$use_sox" = 1 ]; then
    sw=$(median 1 "$work/sox.times"); sc=$(median 2 "$work/sox.times")
    sr=$(median 3 "$work/sox.times")
    printf '| sox script (hard cuts) | %s s | %s | %s s | %s | %s |\n' "$sw" \
      "$(ratio "$sw" "$fw")" "$sc" "$(ratio "$sc" "$fc")" "$(mib "$sr")"
  fi
  echo
  echo "Targets: takeloom wall $(ratio "$tw" "$dw")x the durable floor (at most" \
       "1.00), $(ratio "$tw" "$fw")x the floor that leaves its data in memory;" \
       "peak memory $(mib "$tr") (under 8 MiB)."
  if [ -n "$fs" ]; then
    # One more build, then the blocks its outputs hold of their own.
    sh "$work/clean.sh"
    "$takeloom" >/dev/null
    local own
    own=$(own_bytes ./*_bld.wav)
    echo "On $fs: takeloom builds $(ratio "$dw" "$tw")x as fast as the durable" \
         "floor (at least 10); its outputs hold $(echo "$own" | awk '{
           printf "%.1f MiB of their %.1f MiB (%.2f %%)", $1 / 1048576,
             $2 / 1048576, $2 ? 100 * $1 / $2 : 0 }') in blocks of their own" \
         "(at most 5 %)."
  fi
  if [ -n "$second" ]; then
    echo "The second binary takes $(ratio "$(median 1 "$work/second.times")" "$tw")x" \
         "takeloom's wall time."
  fi
  if [ "$use_sox" = 1 ]; then
    echo "The sox script takes $(ratio "$sw" "$tw")x takeloom's wall time" \
         "(at least 3); check: $check."
  fi
  echo "$secs $tracks $out_bytes $tw $tc $tr $fw $cw" >>"$work/summary"
  cd "$work"
  rm -rf "$session" "$work"/*_src.wav "$work/errors"
}

: >"$work/summary"
if [ -n "$fs" ]; then
  for recorder in 0 1; do compare "$seconds"; done
  exit 0
fi
if [ -z "$scaling" ]; then
  compare "$seconds"
  exit 0
fi

for secs in $scaling; do compare "$secs"; done
echo
echo "Scaling: $tracks tracks x $takes takes, $rate Hz, $bits-bit, $channels channels"
echo
echo "| seconds per take | audio built (track-minutes) | takeloom wall | ms per track-minute | floor | dd | takeloom peak memory |"
echo "|---|---|---|---|---|---|---|"
awk '{
  minutes = $2 * $1 / 60
  printf "| %s | %.1f | %.3f s | %.1f | %.3f s | %.3f s | %.1f MiB |\n",
         $1, minutes, $4, 1000 * $4 / minutes, $7, $8, $6 / 1024
}' "$work/summary"
# Least squares of wall time on audio length: a straight line through the
# sizes shows time proportional to length.
awk '{ x = $2 * $1 / 60; y = $4; n++; sx += x; sy += y; sxx += x * x; sxy += x * y; syy += y * y }
  END {
    d = n * sxx - sx * sx
    if (n < 2 || d == 0) exit
    slope = (n * sxy - sx * sy) / d; icpt = (sy - slope * sx) / n
    r = (n * sxy - sx * sy) / sqrt(d * (n * syy - sy * sy))
    printf "\nFit: wall = %.4f s + %.2f ms x track-minutes (r^2 = %.4f)\n", icpt, 1000 * slope, r * r
  }' "$work/summary"
awk '{ if (min == "" || $6 < min) min = $6; if ($6 > max) max = $6 }
  END { printf "Peak memory from %.1f to %.1f MiB across the sizes.\n", min / 1024, max / 1024 }' \
  "$work/summary"
