#!/usr/bin/env bash
# Latency calibration on the paced card, end to end. A JACK server with its dummy backend (no
# hardware, no real-time scheduling) paces 48 kHz periods of 256 frames; ALSA's jack plugin,
# behind a plug device, is the card Tapeloom opens. Inside the server, the plugin's first
# playback port is connected to its first capture port: a cable from output 1 to input 1.
#
# Tapeloom is then driven at its prompt: "cal" on output 1 and input 1, the correction stored;
# "cal" again, which must find both cases on their exact frame with nothing to correct; then
# recordings of input 1 while output 1 plays a track of position-coded noise, first with the
# play start before the record start (i = 0, e = 24576), then with both at e. Each take must
# hold the track's samples from the record start on, bit for bit: take frame j is track frame
# e + j for every j. Where it is not, the take's offset in the track is reported: an offset
# of whole periods from the first frame on shows where the capture started against the
# playback; an offset that changes partway shows a period lost or repeated, and the xruns of
# each step (the server's and Tapeloom's) are listed after the takes.
#
# Usage: bench/soak_latency.sh TAPELOOM_BINARY [WORK_DIR] [TAKES]
# WORK_DIR (default: the binary's directory/soak_latency) holds the session and its logs.
# TAKES (default 3) is the number of recordings of each case, all after the one calibration.
# The server and Tapeloom are started here and stopped by their process IDs, whatever happens.
# Exits 0 when both calibrations and every take are right, 1 otherwise.
set -euo pipefail
export LC_ALL=C

binary=$(realpath "$1")
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/bench_lib.sh
source "$repo/bench/bench_lib.sh"
work=${2:-$(dirname "$binary")/soak_latency}
takes_per_case=${3:-3}
rate=48000
period=256
record_start=24576
length=48000
track_frames=$((record_start + length + 2 * rate))
step_timeout=60

command -v jackd > /dev/null || { echo "soak-latency: jackd not found (Debian package jackd2)" >&2; exit 1; }
command -v python3 > /dev/null || { echo "soak-latency: python3 not found" >&2; exit 1; }
mkdir -p "$work/alsa"
cd "$work"
rm -f in1_before*_stp_*.wav in1_atstart*_stp_*.wav code.wav tapeloom.log jackd.log graph.txt steps.txt

# The card: two playback and two capture ports. The plugin needs ports to connect each of its
# own to; the dummy backend's capture ports are silent, so what input 1 receives is the loop.
write_jack_card 2

# The track: noise from a fixed seed (bench_lib.sh).
make_noise_track "$track_frames"
echo code.wav > play.txt
printf 'in1.wav\n-\n' > record.txt
# The points are read at the start; "cal" leaves them as they are.
printf 'dv\ttapeloom_jack\nsr\t%s\ninputs\t2\noutputs\t2\nch\t1\nbuf\t%s\nint\t0\nclock\thc\nmeter\t0\n' $rate $period > param.txt
printf 'mix\t0\ni\t0\ne\t%s\no\t%s\n' $record_start $((record_start + length)) >> param.txt

jackd_pid=""
tapeloom_pid=""
stop_all() {
  exec 3>&- 2> /dev/null || true
  if [ -n "$tapeloom_pid" ]; then
    kill "$tapeloom_pid" 2> /dev/null || true
    wait "$tapeloom_pid" 2> /dev/null || true
  fi
  if [ -n "$jackd_pid" ]; then
    kill "$jackd_pid" 2> /dev/null || true
    wait "$jackd_pid" 2> /dev/null || true
  fi
  rm -f "$work/console.fifo"
}
trap stop_all EXIT

# Each line of the server's output with the time it was printed, and the time each step of
# the session began and ended (and the prompts Tapeloom had shown by then), so that the xruns
# can be told apart by step.
stamp() { while IFS= read -r line; do printf '%s %s\n' "$(date +%s.%N)" "$line"; done; }
: > steps.txt
jackd --no-realtime -d dummy -r $rate -p $period -C 2 -P 2 > >(stamp > jackd.log) 2>&1 &
jackd_pid=$!
sleep 2
kill -0 "$jackd_pid" 2> /dev/null || { echo "soak-latency: jackd did not start (see $work/jackd.log)" >&2; exit 1; }

# Tapeloom reads its words from a FIFO the script holds open, so that each can be typed when
# the one before has been answered.
rm -f console.fifo
mkfifo console.fifo
XDG_CONFIG_HOME="$work" stdbuf -oL "$binary" < console.fifo > tapeloom.log 2>&1 &
tapeloom_pid=$!
exec 3> console.fifo

fail() {
  echo "soak-latency: $*" >&2
  echo "FAIL: latency calibration and take alignment (see $work/tapeloom.log)"
  exit 1
}
type_words() { printf '%s\n' "$@" >&3; }
# Waits until the text has appeared `count` times in Tapeloom's output.
await() {
  local text=$1 count=$2 waited=0
  while [ "$(grep -oF -- "$text" tapeloom.log | wc -l)" -lt "$count" ]; do
    kill -0 "$tapeloom_pid" 2> /dev/null || fail "Tapeloom ended while waiting for \"$text\""
    [ $waited -lt $((step_timeout * 10)) ] || fail "no \"$text\" after $step_timeout s"
    sleep 0.1
    waited=$((waited + 1))
  done
}
prompts=1
await_prompt() { await 'Mem: ' "$prompts"; prompts=$((prompts + 1)); }

# The device is open from the start: the plugin's clients are named after the program, its
# process ID and the order in which they were opened.
await_prompt
ports=$(jack_lsp)
playback=$(grep -E "\.P\.$tapeloom_pid\.[0-9]+:out_000$" <<< "$ports" || true)
capture=$(grep -E "\.C\.$tapeloom_pid\.[0-9]+:in_000$" <<< "$ports" || true)
if [ -z "$playback" ] || [ -z "$capture" ]; then fail "the plugin's ports are not in the server's graph: $ports"; fi
jack_connect "$playback" "$capture"
jack_lsp -c > graph.txt

# One calibration: the words of the last "Latency calibration:" on, once it has ended.
calibrations=0
calibrate() {
  calibrations=$((calibrations + 1))
  local began seen=$((prompts - 1))
  began=$(date +%s.%N)
  type_words cal 1 1
  local waited=0
  while :; do
    report=$(awk -v n="$calibrations" '/Latency calibration:/ { k++ } k == n' tapeloom.log)
    if grep -qF '(y,n) ' <<< "$report"; then
      type_words "$1"
      await_prompt
      break
    fi
    if grep -qE '^(Nothing to correct|Nothing was changed)\.' <<< "$report"; then
      await_prompt
      break
    fi
    kill -0 "$tapeloom_pid" 2> /dev/null || fail "Tapeloom ended during the calibration"
    [ $waited -lt $((step_timeout * 10)) ] || fail "the calibration did not end within $step_timeout s"
    sleep 0.1
    waited=$((waited + 1))
  done
  # What it printed after the test signal was played, up to the next prompt.
  report=$(awk -v n="$calibrations" '/Latency calibration:/ { k++ } k == n' tapeloom.log |
    awk '/Mem: / { exit } shown && NF { print } /Playing clicks/ { shown = 1 }')
  echo "cal$calibrations $began $(date +%s.%N) $seen $((prompts - 1))" >> steps.txt
}

# One recording, its take named after the case as it is typed ("r_name"): such a take is
# kept as it was recorded, with no take menu.
record() {
  local began seen=$((prompts - 1))
  began=$(date +%s.%N)
  type_words "r_$1"
  await_prompt
  echo "$1 $began $(date +%s.%N) $seen $((prompts - 1))" >> steps.txt
}

calibrate y
first=$report
calibrate n
second=$report
for k in $(seq 1 "$takes_per_case"); do record "before$k"; done
type_words e.i
await_prompt
for k in $(seq 1 "$takes_per_case"); do record "atstart$k"; done
type_words x
exec 3>&-
wait "$tapeloom_pid" || fail "Tapeloom exited with status $?"
tapeloom_pid=""
stop_all
trap - EXIT

echo "Latency calibration on the paced card (JACK dummy backend, period $period at $rate Hz),"
echo "output 1 looped to input 1 inside the server:"
echo "first cal:"
awk '{ print "  " $0 }' <<< "$first"
echo "second cal:"
awk '{ print "  " $0 }' <<< "$second"

status=0
grep -q 'odcomp is now' <<< "$first" || { echo "FAIL: the first cal stored no correction"; status=1; }
if grep -qxF '  play start at the record start:      on its exact frame' <<< "$second" &&
  grep -qxF '  play start before the record start:  on its exact frame' <<< "$second" &&
  grep -qxF 'Nothing to correct.' <<< "$second"; then
  echo "PASS: the second cal finds both cases on their exact frame"
else
  echo "FAIL: the second cal does not find both cases on their exact frame with nothing to correct"
  status=1
fi

# Each take against the track: frame j of the take must be frame e + j of the track.
takes=()
for k in $(seq 1 "$takes_per_case"); do takes+=("in1_before${k}_stp_$record_start.wav"); done
for k in $(seq 1 "$takes_per_case"); do takes+=("in1_atstart${k}_stp_$record_start.wav"); done
python3 - code.wav $record_start $length $period "${takes[@]}" << 'EOF' || status=1
import collections, sys, wave

def samples(path):
    with wave.open(path, "rb") as w:
        if w.getsampwidth() != 3 or w.getnchannels() != 1:
            raise ValueError("not 24-bit mono")
        data = w.readframes(w.getnframes())
    return [int.from_bytes(data[k:k + 3], "little", signed=True) for k in range(0, len(data), 3)]

def landing(e, d):
    return "exact" if d == e else f"{abs(e - d)} frames {'late' if e > d else 'early'}"

track = samples(sys.argv[1])
e, length, period = int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
key = 16
where = {}
for s in range(len(track) - key):
    where.setdefault(tuple(track[s:s + key]), s)
summary = collections.defaultdict(collections.Counter)
failed = 0
for path in sys.argv[5:]:
    case = "play start before the record start" if "before" in path else "play start at the record start"
    try:
        take = samples(path)
    except (OSError, EOFError, ValueError, wave.Error) as error:
        print(f"FAIL: {path} ({case}): {error}")
        summary[case]["no take"] += 1
        failed += 1
        continue
    if len(take) < length or len(take) > len(track) - e:
        print(f"FAIL: {path} ({case}): {len(take)} frames, for {length} recorded")
        summary[case]["wrong length"] += 1
        failed += 1
        continue
    wrong = sum(1 for j, v in enumerate(take) if v != track[e + j])
    if wrong == 0:
        print(f"PASS: {path} ({case}): all {len(take)} frames are the track's from frame {e} on")
        summary[case]["exact"] += 1
        continue
    # Where the take's audio sits in the track: the first stretch of each period found there,
    # listed where it is not where the one before puts it (a period dropped or repeated).
    offsets = []
    for j in range(0, len(take) - key, period):
        s = where.get(tuple(take[j:j + key]))
        if s is not None and (not offsets or offsets[-1][1] != s - j):
            offsets.append((j, s - j))
    failed += 1
    if not offsets:
        print(f"FAIL: {path} ({case}): {wrong} of {len(take)} frames differ, and none of it is in the track")
        summary[case]["not the track"] += 1
        continue
    shifts = ", ".join(f"from take frame {j}: {landing(e, d)}" for j, d in offsets)
    print(f"FAIL: {path} ({case}): {wrong} of {len(take)} frames differ; the audio lands {shifts}")
    summary[case][landing(e, offsets[0][1]) if len(offsets) == 1 else "shifted within the take"] += 1
for case, counts in summary.items():
    print(f"{case}, takes: " + ", ".join(f"{what} {n}" for what, n in sorted(counts.items())))
sys.exit(1 if failed else 0)
EOF

# The xruns Tapeloom reported, and those in the server's log: periods it started late, and
# periods the plugin's clients missed (two clients, playback and capture, so one late period
# on Tapeloom's side may count twice). The server's xruns need not reach the program as ALSA
# xruns, so both are shown.
sleep 1  # the server's last lines reach its log
echo "xruns during each step: periods the server started late / client periods missed (server's log)"
echo "  / play underruns / record overruns (Tapeloom's reports):"
while read -r step began ended seen shown; do
  server=$(awk -v a="$began" -v b="$ended" '$1 >= a && $1 <= b && /JackTimedDriver::Process XRun/ { l++ }
    $1 >= a && $1 <= b && /was not finished/ { c++ } END { printf "%d / %d", l, c }' jackd.log)
  # Tapeloom's output for the step: after the prompt it was typed at, up to the one it ended at.
  own=$(awk -v a="$seen" -v b="$shown" 'p >= a && p < b && /Play Underruns = / { u += $NF }
    p >= a && p < b && /Record Overruns = / { o += $NF } /Mem: / { p++ } END { printf "%d / %d", u, o }' tapeloom.log)
  printf '  %-10s %s / %s\n' "$step" "$server" "$own"
done < steps.txt
echo "  whole session: $(grep -c 'JackTimedDriver::Process XRun' jackd.log || true) / $(grep -c 'was not finished' jackd.log || true)" \
  "$(awk '/Play Underruns = / { u += $NF } /Record Overruns = / { o += $NF } END { printf "/ %d / %d", u, o }' tapeloom.log)"
if [ $status -eq 0 ]; then echo "PASS: latency calibration and take alignment"; else echo "FAIL: latency calibration and take alignment"; fi
exit $status
