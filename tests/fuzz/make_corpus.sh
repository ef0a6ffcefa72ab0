#!/usr/bin/env bash
# Writes the fuzz targets' seed corpus from the project's own generators:
# make_session for takes and lists, takeloom itself for the loomrc.txt
# template, and short hand-written list texts.
#
#   tests/fuzz/make_corpus.sh BUILD_DIR [OUT_DIR]
#
# BUILD_DIR holds built takeloom and make_session; OUT_DIR defaults to
# tests/fuzz/corpus. Takes are a few frames long, so the corpus stays small.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: make_corpus.sh BUILD_DIR [OUT_DIR]}" && pwd)
out=${2:-$here/corpus}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rm -rf "$out"
mkdir -p "$out"/{lists_fuzz,params_fuzz,inspect_fuzz,build_fuzz}

# Sessions of two takes each: name, then make_session options.
sessions=(
  "m16 --rate 8 --bits 16 --channels 1 --seconds 4 --lead-in 0"
  "s24 --rate 6 --bits 24 --channels 2 --seconds 5 --lead-in 1"
  "s16 --rate 10 --bits 16 --channels 2 --seconds 4 --lead-in 0"
  "m24 --rate 4 --bits 24 --channels 1 --seconds 6 --lead-in 2"
)
for parts in "${sessions[@]}"; do
  read -r name options <<<"$parts"
  # shellcheck disable=SC2086  # options are words
  "$build/make_session" "$work/$name" --tracks 1 --takes 2 --edits 3 $options
done

# The lists and parameter files that make_session writes, and the template
# that takeloom writes on a first run (which then stops for want of base.txt).
for name in m16 s24; do
  cp "$work/$name/base.txt" "$out/lists_fuzz/base_$name"
  cp "$work/$name/points.txt" "$out/lists_fuzz/points_$name"
  cp "$work/$name/loomrc.txt" "$out/params_fuzz/loomrc_$name"
done
mkdir "$work/first_run"
(cd "$work/first_run" && "$build/takeloom" >/dev/null || true)
cp "$work/first_run/loomrc.txt" "$out/params_fuzz/template"

printf '\nSong1\n\n\nSong2' >"$out/lists_fuzz/empty_lines"
printf 'kick \t\r\nsnare\0hidden\n' >"$out/lists_fuzz/spaces_cr_zero"
printf '0\tA\n12.5\tB\n30\tA\n' >"$out/lists_fuzz/three_records"
printf '12.5\ttake 2\n13\t\tB\tx\n\n14\nC\n1,5 D\n' >"$out/lists_fuzz/odd_records"
printf '1e1\tA\n0x10\tB\n-inf\tC\nnan\tD\n5' >"$out/lists_fuzz/numbers_no_take"
printf '\357\273\2770.5\t_t1\r\n12.5s\t_t2\r\n1 \t_t3\r' >"$out/lists_fuzz/crlf_bom"
printf '0:00\t_t1\n1:02.5\t_t2\n1:00:00.25\t_t1\n 10:00 \t_t2\n1:5\t_t3\n' \
  >"$out/lists_fuzz/clock_times"
printf '\377\3760\000\t\000_\000t\0001\000\r\000\n\000=\330\265\337\n\000' \
  >"$out/lists_fuzz/utf16le_surrogates"

printf 'xf_tr\t3\t150.5\t2\n' >"$out/params_fuzz/track"
printf 'xf_tr\n2\n100\n3\nxf_all\t200ms\tx\n' >"$out/params_fuzz/spread"
printf 'xf_tr\t1\t200\nxf_all\t100\t2\n' >"$out/params_fuzz/type_missing"
printf 'xf_tr\t0\t1\t1\nxf_all\t200' >"$out/params_fuzz/invalid"
printf '\357\273\277(xf_all 200 1)\r\nxf_tr\t1\t5\t2\r\nxf_all 9 9\r\n' \
  >"$out/params_fuzz/crlf_spaces"

# Takes as recorded, cut short, with an unfilled size field, and with a
# chunk between the format and the data chunk.
take=$work/m16/kick_t1.wav
for name in m16 s24 s16 m24; do
  cp "$work/$name/kick_t1.wav" "$out/inspect_fuzz/take_$name"
done
head -c -5 "$work/s24/kick_t2.wav" >"$out/inspect_fuzz/cut_short"
cp "$take" "$out/inspect_fuzz/size_unfilled"
printf '\377\377\377\377' |
  dd of="$out/inspect_fuzz/size_unfilled" bs=1 seek=40 conv=notrunc 2>/dev/null
{ head -c 36 "$take"; printf 'LIST\4\0\0\0abcd'; tail -c +37 "$take"; } \
  >"$out/inspect_fuzz/extra_chunk"
# The same take in the RF64 form: a ds64 chunk with the 64-bit sizes after
# "WAVE", and 0xFFFFFFFF in the 32-bit ones.
data_bytes=$(( $(stat -c %s "$take") - 44 ))
{ printf 'RF64\377\377\377\377WAVEds64\034\000\000\000'
  perl -e 'print pack("Q<Q<Q<L<", $ARGV[0] + 72, $ARGV[0], $ARGV[0] / 2, 0)' \
    "$data_bytes"
  tail -c +13 "$take"; } >"$out/inspect_fuzz/rf64"
printf '\377\377\377\377' |
  dd of="$out/inspect_fuzz/rf64" bs=1 seek=76 conv=notrunc 2>/dev/null
"$build/make_session" "$work/float" --tracks 1 --takes 1 --edits 2 --rate 8 \
  --seconds 2 --lead-in 0 --bits 32 --float --channels 1
cp "$work/float/kick_t1.wav" "$out/inspect_fuzz/float"
# Prefix 0xFF, 16-bit count of 4-byte zero words, 16-bit offset: the data
# chunk moved to offset 131036 (found) or 131076 (beyond the scan).
{ printf '\377\356\177\044\000'; cat "$take"; } >"$out/inspect_fuzz/late_data"
{ printf '\377\370\177\044\000'; cat "$take"; } >"$out/inspect_fuzz/data_too_late"

# Build inputs: a byte choosing the job (see build_fuzz.cc), then either one
# take used for both take names, or a 16-bit length, take _A and take _B.
one_take() {  # control byte (octal), session, output name
  { printf "\\$1"; cat "$work/$2/kick_t1.wav"; } >"$out/build_fuzz/$3"
}
two_takes() {
  local a=$work/$2/kick_t1.wav b=$work/$2/kick_t2.wav
  local n
  n=$(stat -c %s "$a")
  { printf "\\$1"; printf "\\$(printf %o $((n % 256)))\\$(printf %o $((n / 256)))"
    cat "$a" "$b"; } >"$out/build_fuzz/$3"
}
one_take 000 m16 hard_cuts
one_take 011 s24 lead_in_cosine
one_take 017 s16 empty_segment_linear
one_take 002 m24 single_point
two_takes 041 m16 two_takes_lead_in
two_takes 060 s24 two_takes_curve3
two_takes 164 s16 two_tracks_curve4
one_take 131 m16 two_tracks_one_take
two_takes 174 m24 two_tracks_per_track
du -sh "$out"/*
