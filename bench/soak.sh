#!/usr/bin/env bash
# The paced card: a recording on a card that runs in real time, under load. A JACK server with
# its dummy backend (no hardware, no real-time scheduling) paces 48 kHz periods of 256 frames;
# ALSA's jack plugin, behind a plug device for the sample format, is the card Tapeloom opens.
# Tapeloom plays 64 tracks in mix mode 3 while 8 inputs record, for 60 s, while a busy loop
# holds the other core. It prints the xruns Tapeloom reported, those the server logged, and
# how long the run took against the audio's length (the run is timed from Tapeloom's
# "Playing and Recording..." line to its first peak report).
#
# Usage: bench/soak.sh TAPELOOM_BINARY [WORK_DIR]
# WORK_DIR (default: the binary's directory/soak) keeps the generated tracks between calls.
# The server and the load are started here and stopped by their process IDs, whatever happens.
set -euo pipefail
export LC_ALL=C

binary=$(realpath "$1")
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/bench_lib.sh
source "$repo/bench/bench_lib.sh"
work=${2:-$(dirname "$binary")/soak}
tracks=64
inputs=8
seconds=60
rate=48000
period=256
frames=$((seconds * rate))

command -v jackd > /dev/null || { echo "soak: jackd not found (Debian package jackd2)" >&2; exit 1; }
mkdir -p "$work/alsa"
cd "$work"

# The card: two playback ports and eight capture ports of the server, as one ALSA device.
write_jack_card $inputs

make_tone_tracks $tracks $seconds $rate soak
: > record.txt
for k in $(seq 1 $inputs); do echo "input$k.wav" >> record.txt; done
{
  printf 'dv\ttapeloom_jack\nsr\t%s\ninputs\t%s\noutputs\t2\nch\t%s\nbuf\t%s\nint\t0\nclock\thc\nmeter\t0\n' \
    $rate $inputs $tracks $period
  printf 'i\t0\ne\t0\no\t%s\nmix\t3\n' $frames
  for t in $(seq 1 $tracks); do printf 'v\t%s\t-%s\np\t%s\t%s\n' "$t" $((t % 9)) "$t" $(((t - 1) * 200 / (tracks - 1) - 100)); done
  for b in 1 2 3 4; do printf 'bus\t%s\t%s,\n' $b "$(seq -s, $(((b - 1) * 16 + 1)) $((b * 16)))"; done
} > param.txt

jackd_pid=""
load_pid=""
stop_all() {
  [ -n "$load_pid" ] && kill "$load_pid" 2> /dev/null || true
  if [ -n "$jackd_pid" ]; then
    kill "$jackd_pid" 2> /dev/null || true
    wait "$jackd_pid" 2> /dev/null || true
  fi
}
trap stop_all EXIT

# Each line of the server's and of Tapeloom's output with the time it was printed.
stamp() { while IFS= read -r line; do printf '%s %s\n' "$(date +%s.%N)" "$line"; done; }

jackd --no-realtime -d dummy -r $rate -p $period -C $inputs -P 2 > >(stamp > jackd.log) 2>&1 &
jackd_pid=$!
sleep 2
kill -0 "$jackd_pid" 2> /dev/null || { echo "soak: jackd did not start (see $work/jackd.log)" >&2; exit 1; }

# The load: a busy loop on the second core (on the only core of a one-core machine).
cpus=$(nproc)
taskset -c $((cpus > 1 ? 1 : 0)) bash -c 'while :; do :; done' &
load_pid=$!

printf 'r\ndel\n' | XDG_CONFIG_HOME="$work" stdbuf -oL "$binary" 2>&1 | stamp > soak.log
stop_all
trap - EXIT
sleep 1  # the server's last lines reach its log

started=$(awk '/Playing and Recording\.\.\./ { print $1; exit }' soak.log)
ended=$(awk '/Input Channel Peaks:/ { print $1; exit }' soak.log)
[ -n "$started" ] && [ -n "$ended" ] || { echo "soak: the recording did not run (see $work/soak.log)" >&2; exit 1; }
underruns=$(awk '/Play Underruns = / { print $NF }' soak.log)
overruns=$(awk '/Record Overruns = / { print $NF }' soak.log)
# The server logs a client that had not finished its period when the period ended (an xrun
# of Tapeloom's), and apart from those, periods that its own timer started late (the dummy
# backend runs without real-time scheduling, so the load can delay the server itself).
# Only what happened between the start and the end of the run counts; the server also notes
# the device's clients as late while they are being opened or closed.
# The window closes at the line that follows the reports ("Recording finished."), as the
# server's lines reach its log a little after the event.
closed=$(awk '/Recording finished\./ { print $1; exit }' soak.log)
during() { awk -v a="$started" -v b="${closed:-$ended}" -v pattern="$1" '$1 >= a && $1 <= b && index($0, pattern) { n++ } END { print n + 0 }' jackd.log; }
client_xruns=$(during 'was not finished')
server_late=$(during 'JackTimedDriver::Process XRun')
outside=$(($(grep -c 'was not finished' jackd.log || true) - client_xruns))
echo "Paced card: $tracks tracks in mix mode 3 + $inputs inputs recorded, period $period at $rate Hz, $seconds s,"
echo "with a busy loop on another core ($cpus CPUs: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'))"
awk -v a="$started" -v b="$ended" -v s="$seconds" -v u="${underruns:-0}" -v o="${overruns:-0}" \
  -v x="$client_xruns" -v l="$server_late" -v out="$outside" 'BEGIN {
  printf "  play underruns       %d (reported by Tapeloom)\n", u
  printf "  record overruns      %d (reported by Tapeloom)\n", o
  printf "  client xruns         %d (Tapeloom late for a period, as the server saw it)\n", x
  printf "  server late          %d (periods the server itself started late)\n", l
  printf "  (client xruns while the device was opened or closed, not counted: %d)\n", out
  printf "  run took             %.3f s for %d s of audio: ratio %.4f (goal: zero xruns, within 1 %%)\n", b - a, s, (b - a) / s
}'
