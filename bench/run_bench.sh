#!/usr/bin/env bash
# Transport runs of the real tapeloom binary on the simulated sound card, which never paces,
# so a run takes as long as the program's own work: 64 tracks of 60 s at 48 kHz played in mix
# mode 3 (four busses, three of them feeding the master) while 8 inputs record, and the same
# 64 tracks played in mode 1. The reference is the cost of reading the 64 files alone (cat to
# /dev/null). Figures are how many times faster than real time the run went, medians of 5
# runs after one to warm the caches.
#
# Usage: bench/run_bench.sh TAPELOOM_BINARY [WORK_DIR]
# WORK_DIR (default: the binary's directory/run-bench) keeps the generated tracks between
# calls, about 560 MB; each recording's takes are deleted at its take menu.
set -euo pipefail
export LC_ALL=C

binary=$(realpath "$1")
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/bench_lib.sh
source "$repo/bench/bench_lib.sh"
work=${2:-$(dirname "$binary")/run-bench}
runs=5
tracks=64
inputs=8
seconds=60
rate=48000
frames=$((seconds * rate))

mkdir -p "$work/alsa"
cd "$work"
cp "$repo/tests/simcard/alsa/asoundrc" alsa/asoundrc

make_tone_tracks $tracks $seconds $rate run-bench
# What the card's inputs deliver: 8 interleaved channels of noise, as long as the run.
if [ ! -f card-in.raw ] || [ "$(stat -c %s card-in.raw)" != $((frames * inputs * 3)) ]; then
  sox -q -n -r $rate -c $inputs -b 24 -e signed-integer -t raw card-in.raw synth $seconds whitenoise gain -20
fi
: > record.txt
for k in $(seq 1 $inputs); do echo "input$k.wav" >> record.txt; done

settings() {  # mix mode
  local text="dv	tapeloom_sim
sr	$rate
inputs	$inputs
outputs	2
ch	$tracks
buf	1024
int	0
clock	hc
meter	0
i	0
e	0
o	$frames
mix	$1
"
  for t in $(seq 1 $tracks); do
    text+="v	$t	-$(( t % 9 ))
p	$t	$(( (t - 1) * 200 / (tracks - 1) - 100 ))
"
  done
  for b in 1 2 3 4; do
    text+="bus	$b	$(seq -s, $(( (b - 1) * 16 + 1 )) $(( b * 16 ))),
busvl	$b	-$b.00
"
  done
  printf '%s' "$text" > param.txt
}

# A run succeeded when it printed its output channel peaks; a recording's takes are deleted at once.
run_record() {
  settings 3
  printf 'r\ndel\n' | XDG_CONFIG_HOME="$work" "$binary" > record.log
  grep -q "Output Channel Peaks:" record.log || { echo "run-bench: the recording failed (see $work/record.log)" >&2; exit 1; }
}
run_play() {
  settings 1
  printf 'p\n' | XDG_CONFIG_HOME="$work" "$binary" > play.log
  grep -q "Output Channel Peaks:" play.log || { echo "run-bench: the playback failed (see $work/play.log)" >&2; exit 1; }
}
run_cat() { cat track*.wav > /dev/null; }


run_record
run_play
run_cat
time_in_turn $runs record play cat

record_time=$(time_of record)
play_time=$(time_of play)
cat_time=$(time_of cat)
echo "Transport runs of $tracks tracks x $seconds s at $rate Hz on the simulated card, medians of $runs runs, in $work"
machine_line
awk -v r="$record_time" -v p="$play_time" -v c="$cat_time" -v s="$seconds" 'BEGIN {
  printf "  play mode 3 + record 8 inputs  %.3f s  %6.1fx real time (goal: at least 300x)\n", r, s / r
  printf "  play mode 1                    %.3f s  %6.1fx real time\n", p, s / p
  printf "  cat of the %d tracks           %.3f s  %6.1fx real time (reading alone)\n", 64, c, s / c
}'
