#!/usr/bin/env bash
# The take menu's long file work against cp, on about 1 GB: the real tapeloom binary records a
# one-second take on the simulated sound card and then
#   - pads it (pad) with 1 GB of silence, its record start being 357,913,941 frames in;
#   - backs up a 1 GB record list file and inserts the take into it (cin);
#   - only inserts the take into that file (ins), to tell the backup from the insertion;
#   - deletes it (del): the session's own time, for comparison.
# Tapeloom flushes (fsync) the padded take and the backup before it renames them into place,
# so their reference is cp of the 1 GB file followed by an fsync of the copy (sync FILE); cp
# alone is shown beside it. Each job runs 5 times after one run to warm the caches, in turn,
# with the disk synced after each; the medians and the ratios are printed.
#
# Usage: bench/file_ops_bench.sh TAPELOOM_BINARY [WORK_DIR]
# WORK_DIR (default: the binary's directory/file-ops-bench) keeps the 1 GB source between
# calls; a run needs about 4 GB there.
set -euo pipefail
export LC_ALL=C

binary=$(realpath "$1")
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/bench_lib.sh
source "$repo/bench/bench_lib.sh"
work=${2:-$(dirname "$binary")/file-ops-bench}
runs=5
rate=48000
# 1 GiB of 24-bit mono frames, less one byte; the record start is rounded up to a whole
# period (1024 frames) when the session starts.
frames=357913941
take=$rate

mkdir -p "$work"
cd "$work"
work=$(pwd)
if [ ! -f big.wav ] || [ "$(soxi -s big.wav)" != "$frames" ]; then
  echo "file-ops-bench: making big.wav ($frames frames of noise)"
  head -c $((frames * 3)) /dev/urandom | sox -t s24 -r $rate -c 1 - -b 24 big.wav
fi

# Two session folders on the simulated card, one input recording into a.wav.
session() {
  local dir=$1 start=$2
  mkdir -p "$dir/alsa"
  cp "$repo/tests/simcard/alsa/asoundrc" "$dir/alsa/asoundrc"
  [ -f "$dir/card-in.raw" ] || head -c $((2 * take * 3)) /dev/urandom > "$dir/card-in.raw"
  : > "$dir/play.txt"
  echo a.wav > "$dir/record.txt"
  printf 'dv\ttapeloom_sim\nsr\t%s\ninputs\t1\noutputs\t1\nch\t1\nbuf\t1024\nint\t0\nclock\thc\nmeter\t0\ne\t%s\no\t%s\n' \
    $rate "$start" $((start + take)) > "$dir/param.txt"
}
session pad $frames
session cin $((10 * rate))

# Runs the session in $1 with the take menu's answer $2; the output must show that the take
# was recorded and nothing failed.
tapeloom() {
  (cd "$1" && printf 'R\n%s\n' "$2" | XDG_CONFIG_HOME="$work/$1" "$binary" > "../$2.log" 2>&1) || true
  if ! grep -q "Recording finished" "$2.log" || grep -q "Can't\|Cannot\|not padded\|not inserted" "$2.log"; then
    echo "file-ops-bench: $2 failed (see $work/$2.log)" >&2
    exit 1
  fi
}
run_del() { tapeloom pad del; }
run_pad() { tapeloom pad pad; }
run_ins() { tapeloom cin ins; }
run_cin() { tapeloom cin cin; }
run_cp() { cp big.wav copy.wav; }
run_cpsync() { cp big.wav copy.wav && sync copy.wav; }

# After each job its files go, and the disk is synced, so that no job pays for the write-back
# of another.
clean_up() {
  rm -f copy.wav pad/audio_ch_1_*.wav cin/audio_ch_1_*.wav cin/a_bkup_*.wav
  sync
}

# One checked run of each: the padded take holds the silence and the take, the backup is the
# source byte for byte. The insertions change a.wav in place from then on, never its size.
run_pad
padded=$(ls pad/audio_ch_1_*.wav)
[ "$(soxi -s "$padded")" -ge "$frames" ] || {
  echo "file-ops-bench: $padded is shorter than its silence" >&2
  exit 1
}
clean_up
cp big.wav cin/a.wav
sync
run_cin
cmp big.wav cin/a_bkup_*.wav || {
  echo "file-ops-bench: the backup differs from its source" >&2
  exit 1
}
clean_up

after_job=clean_up time_in_turn $runs del pad ins cin cp cpsync

echo "1 GB copies and silence, medians of $runs runs, in $work"
machine_line
# pad and cin are the whole sessions (the session alone, a few milliseconds, is shown above
# them); the backup alone is cin's session less ins's.
awk -v del="$(time_of del)" -v pad="$(time_of pad)" -v ins="$(time_of ins)" -v cin="$(time_of cin)" \
  -v cp="$(time_of cp)" -v cps="$(time_of cpsync)" 'BEGIN {
  printf "  session alone (R, del)           %.3f s\n", del
  printf "  cp of the 1 GB file              %.3f s\n", cp
  printf "  cp + fsync of the copy           %.3f s\n", cps
  printf "  insertion alone (R, ins)         %.3f s\n", ins
  printf "                                            / cp + fsync  / cp  (goal: at most 1.5 against cp + fsync)\n"
  row("pad: 1 GB of silence (R, pad)", pad)
  row("cin: backup, insertion (R, cin)", cin)
  row("backup alone (cin - ins)", cin - ins)
}
function row(what, t) { printf "  %-32s %.3f s   %.2f         %.2f\n", what, t, t / cps, t / cp }'
