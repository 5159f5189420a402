#!/usr/bin/env bash
# The mix export against two references, on a 16-track, 5-minute, 48 kHz session (mono 24-bit
# files made with sox): the real tapeloom binary exports it in mix mode 1 (exp-i), every track
# with its own volume and pan, on the simulated sound card; sox renders the same mix of the
# same files (-M, then a remix matrix of each track's left and right gains, to a 24-bit stereo
# file); cat reads the 16 inputs to /dev/null. Each runs 5 times after one run to warm the
# caches, in turn; the medians and the two ratios are printed.
#
# Usage: bench/export_bench.sh TAPELOOM_BINARY [WORK_DIR]
# WORK_DIR (default: the binary's directory/export-bench) keeps the generated tracks between
# calls, about 700 MB.
set -euo pipefail
export LC_ALL=C

binary=$(realpath "$1")
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/bench_lib.sh
source "$repo/bench/bench_lib.sh"
work=${2:-$(dirname "$binary")/export-bench}
runs=5
tracks=16
seconds=300
rate=48000
frames=$((seconds * rate))
# The stop is kept in whole periods of the simulated card (1024 frames): the export ends
# within the tracks.
stop=$((frames / 1024 * 1024))

mkdir -p "$work/alsa"
cd "$work"
cp "$repo/tests/simcard/alsa/asoundrc" alsa/asoundrc
: > card-in.raw
: > record.txt

# Tracks: a tone each, with a tremolo of its own.
: > play.txt
for t in $(seq 1 $tracks); do
  name=track$t.wav
  if [ ! -f "$name" ] || [ "$(soxi -s "$name")" != "$frames" ]; then
    echo "export-bench: making $name"
    sox -q -n -r $rate -c 1 -b 24 "$name" synth $seconds sine $((55 * t)) tremolo $((t + 1)) 50 gain -27
  fi
  echo "$name" >> play.txt
done

# Volumes from 0 to -7.5 dB and pans across the field, different on every track.
params="dv	tapeloom_sim
sr	$rate
inputs	2
outputs	2
ch	$tracks
buf	1024
int	0
clock	hc
meter	0
i	0
o	$stop
mix	1
"
for t in $(seq 1 $tracks); do
  params+="v	$t	-$(awk -v t="$t" 'BEGIN { printf "%.1f", (t - 1) * 0.5 }')
p	$t	$(( (t - 1) * 200 / (tracks - 1) - 100 ))
"
done
printf '%s' "$params" > param.txt

# The same gains for sox: each track's left and right gain as the mixer applies them (its
# pan law, the gain × 256 cut to an integer, the master at 0 dB dividing by 256). The mixer
# works in single precision, where the near side of a full pan is exactly 1: the small
# allowance makes the double-precision gains here cut to the same integers.
matrix=$(awk -v tracks=$tracks 'BEGIN {
  g0 = 0.70794576
  for (t = 1; t <= tracks; ++t) {
    v = -(t - 1) * 0.5
    p = int((t - 1) * 200 / (tracks - 1)) - 100
    a = p < 0 ? -p : p
    far = (100 - a) * g0 / 100
    near = exp(log(10) * (3 * a / 100) / 20) * g0
    left = p > 0 ? far : (p < 0 ? near : g0)
    right = p > 0 ? near : (p < 0 ? far : g0)
    level = 256 * exp(log(10) * v / 20)
    l = l (t > 1 ? "," : "") t "v" sprintf("%.8f", int(level * left + 0.001) / 256)
    r = r (t > 1 ? "," : "") t "v" sprintf("%.8f", int(level * right + 0.001) / 256)
  }
  print l " " r
}')
inputs=()
for t in $(seq 1 $tracks); do inputs+=("track$t.wav"); done

# The export replaces mix.wav (as sox replaces its output): it succeeded when it reports its peaks.
run_export() {
  printf 'exp-i\nmix\nc\n' | XDG_CONFIG_HOME="$work" "$binary" > export.log
  grep -q "Output Peaks:" export.log || { echo "export-bench: the export failed (see $work/export.log)" >&2; exit 1; }
}
run_sox() {
  # shellcheck disable=SC2086
  sox -M "${inputs[@]}" -b 24 sox-mix.wav remix $matrix trim 0 "${stop}s"
}
run_cat() { cat "${inputs[@]}" > /dev/null; }


run_export
run_sox
run_cat
[ "$(soxi -s mix.wav)" = "$stop" ] && [ "$(soxi -s sox-mix.wav)" = "$stop" ] || {
  echo "export-bench: the two mixes do not have $stop frames" >&2
  exit 1
}
time_in_turn $runs export sox cat

export_time=$(time_of export)
sox_time=$(time_of sox)
cat_time=$(time_of cat)
echo "Mix export of $tracks tracks x $seconds s at $rate Hz (mode 1, exp-i), medians of $runs runs, in $work"
machine_line
echo "  tapeloom export  $export_time s"
echo "  sox -M + remix   $sox_time s"
echo "  cat of inputs    $cat_time s"
awk -v e="$export_time" -v s="$sox_time" -v c="$cat_time" 'BEGIN {
  printf "  sox / export     %.2f (goal: at least 4)\n", s / e
  printf "  export / cat     %.2f (goal: at most 3)\n", e / c
}'
