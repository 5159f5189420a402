#!/usr/bin/env bash
# Recordings on slow storage, on the paced card. A JACK server with its dummy backend (no
# hardware, no real-time scheduling) paces 48 kHz periods of 256 frames; ALSA's jack plugin,
# behind a plug device, is the card Tapeloom opens. The session plays 64 tracks and records 8
# inputs (10.4 MB/s of disk traffic). Inside the server, output 1 is looped to input 1, and a
# frame counter (bench/jack_counter.c, a musician playing in time) feeds input 2.
#
# Mix mode 0 plays track k on output k untouched, so output 1 carries track 1 alone, bit for
# bit, while the disk worker still reads all 64 tracks (the other 62 have no output and are
# read all the same); a mix would have to be recomputed to check the loop. Track 1 is noise
# from a fixed seed, so any stretch of it shows where in the track it comes from.
#
# A first Tapeloom calibrates the loop ("cal" on output 1 and input 1) and saves the result
# in param.txt. Then each case is a Tapeloom of its own, started with a preload library
# (bench/stall_preload.c) that makes the calls on wave files stall or go slow, and records one
# named take set of `seconds`. For each case it prints what Tapeloom reported (xruns, disk
# shortfalls), the takes' checks (the loop take is the track from the record start on, frame
# for frame; the counter take counts up without a gap; every take has the planned length),
# the server's own hiccups in the run (periods it started late, periods a client missed), the
# run time and Tapeloom's peak memory. The last case holds Tapeloom's device loop still for
# 150 ms (one underrun and one overrun expected, silence in their place and the takes still on
# their frames), then five times for 5 ms (absorbed by the card's buffer).
#
# A case passes when Tapeloom reports no xrun (but those of the hold) and no shortfall, and the
# takes are exact. The server runs without real-time scheduling, and where it misses a period
# of the plugin's, the plugin drops or repeats it unseen: a case whose every discrepancy came
# within 0.3 s of the server's own hiccups is recorded again, up to 3 times, and is undecided
# when each run was disturbed so. A disk shortfall always fails.
#
# Usage: bench/soak_stalls.sh TAPELOOM_BINARY [WORK_DIR] [CASE...]
# WORK_DIR (default: the binary's directory/soak_stalls) keeps the tracks between calls.
# CASE names the cases to run (default: all). The server, the counter and every Tapeloom are
# started here and stopped by their process IDs, whatever happens.
# Exits 0 when every case passes, 1 otherwise (a failed or undecided case).
set -euo pipefail
export LC_ALL=C

binary=$(realpath "$1")
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/bench_lib.sh
source "$repo/bench/bench_lib.sh"
work=${2:-$(dirname "$binary")/soak_stalls}
shift $(($# > 1 ? 2 : 1))
tracks=64
inputs=8
seconds=25
rate=48000
period=256
record_start=24576
length=$(((seconds * rate + period - 1) / period * period))
# The counter starts 40 s before its wrap at 2^23, so that its values near full scale and the
# wrap itself pass through the conversion during the session.
counter_start=$(((1 << 23) - 40 * rate))

# name, then for writes and for reads: the stall (s) and its interval (s); the byte rate limit
# (0: none); and whether Tapeloom's device loop is held still during the take.
case_table="
baseline     0   0   0   0   0        no
wstall05     0.5 5   0   0   0        no
wstall2      2   10  0   0   0        no
rstall05     0   0   0.5 5   0        no
slow16       0.5 5   0.5 5   16000000 no
held         0   0   0   0   0        yes"
chosen=("$@")

for tool in jackd jack_connect jack_lsp gcc python3; do
  command -v $tool > /dev/null || { echo "soak-stalls: $tool not found (scripts/install-deps.sh soak)" >&2; exit 1; }
done
mkdir -p "$work/alsa"
cd "$work"
rm -f in*_*_stp_*.wav tapeloom*.log jackd.log counter.log

gcc -shared -fPIC -O2 -o stall_preload.so "$repo/bench/stall_preload.c" -ldl -lpthread
gcc -O2 -o jack_counter "$repo/bench/jack_counter.c" -ljack -lpthread

# The card: two playback ports and eight capture ports of the server. The plugin needs ports
# to connect its own to; the dummy backend's capture ports are silent, so what inputs 1 and 2
# receive is the loop and the counter.
write_jack_card $inputs

make_tone_tracks $tracks $((seconds + 2)) $rate soak-stalls
# Track 1: 24-bit mono noise within -12 dBFS (which passes the plugin's float conversion
# unchanged), long enough for the run.
make_noise_track $((record_start + length + rate))
sed -i '1s/.*/code.wav/' play.txt
: > record.txt
for k in $(seq 1 $inputs); do echo "in$k.wav" >> record.txt; done
printf 'dv\ttapeloom_jack\nsr\t%s\ninputs\t%s\noutputs\t2\nch\t%s\nbuf\t%s\nint\t0\nclock\thc\nmeter\t0\n' \
  $rate $inputs $tracks $period > param.txt
printf 'mix\t0\ni\t0\ne\t%s\no\t%s\n' $record_start $((record_start + length)) >> param.txt

jackd_pid=""
counter_pid=""
tapeloom_pid=""
stop_all() {
  exec 3>&- 4>&- 2> /dev/null || true
  for pid in "$tapeloom_pid" "$counter_pid" "$jackd_pid"; do
    [ -n "$pid" ] || continue
    kill "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
  done
  rm -f "$work/console.fifo" "$work/idle.fifo"
}
trap stop_all EXIT

# Each line of the server's and of Tapeloom's output with the time it was printed.
stamp() { while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done; }
jackd --no-realtime -d dummy -r $rate -p $period -C $inputs -P 2 > >(stamp > jackd.log) 2>&1 &
jackd_pid=$!
sleep 2
kill -0 "$jackd_pid" 2> /dev/null || { echo "soak-stalls: jackd did not start (see $work/jackd.log)" >&2; exit 1; }
./jack_counter counter $counter_start > counter.log 2>&1 &
counter_pid=$!
sleep 1
jack_lsp | grep -x 'counter:out' > /dev/null || { echo "soak-stalls: the counter did not start (see $work/counter.log)" >&2; exit 1; }

fail() {
  echo "soak-stalls: $*" >&2
  exit 1
}
# One Tapeloom, reading its words from a FIFO the script holds open (so that each can be
# typed when the one before has been answered), in the environment given after the log's
# name and whether its lines are stamped (a stamped line reaches the log only when it ends).
log=""
start_tapeloom() {
  log=$1
  local stamped=$2
  shift 2
  rm -f console.fifo
  mkfifo console.fifo
  if [ "$stamped" = stamped ]; then
    env XDG_CONFIG_HOME="$work" "$@" stdbuf -oL "$binary" < console.fifo > >(stamp > "$log") 2>&1 &
  else
    env XDG_CONFIG_HOME="$work" "$@" stdbuf -oL "$binary" < console.fifo > "$log" 2>&1 &
  fi
  tapeloom_pid=$!
  exec 3> console.fifo
  prompts=1
  await_prompt
  # The plugin's clients are named after the program, its process ID and the opening order.
  local ports playback capture counted
  ports=$(jack_lsp)
  playback=$(grep -E "\.P\.$tapeloom_pid\.[0-9]+:out_000$" <<< "$ports" || true)
  capture=$(grep -E "\.C\.$tapeloom_pid\.[0-9]+:in_000$" <<< "$ports" || true)
  counted=$(grep -E "\.C\.$tapeloom_pid\.[0-9]+:in_001$" <<< "$ports" || true)
  if [ -z "$playback" ] || [ -z "$capture" ] || [ -z "$counted" ]; then fail "the plugin's ports are not in the graph: $ports"; fi
  jack_connect "$playback" "$capture"
  jack_connect counter:out "$counted"
}
end_tapeloom() {
  type_words x
  exec 3>&-
  wait "$tapeloom_pid" || fail "Tapeloom exited with status $? (see $work/$log)"
  tapeloom_pid=""
}
type_words() { printf '%s\n' "$@" >&3; }
# Waiting starts no process: on two cores without real-time scheduling, the server missed
# several times more periods while a grep and a sleep ran ten times a second. `found` is how
# often the text is in Tapeloom's output so far, read with builtins; `pause` waits on a FIFO
# that nothing writes.
rm -f idle.fifo
mkfifo idle.fifo
exec 4<> idle.fifo
pause() { read -r -t "$1" -u 4 _ || true; }
found() {
  local text="" rest
  { IFS= read -r -d '' text < "$log"; } 2> /dev/null || true
  rest=${text//"$1"/}
  found=$(((${#text} - ${#rest}) / ${#1}))
}
# Waits until the text has appeared `count` times in Tapeloom's output.
await() {
  local text=$1 count=$2 timeout=$3 waited=0
  for ((;;)); do
    found "$text"
    [ "$found" -lt "$count" ] || return 0
    kill -0 "$tapeloom_pid" 2> /dev/null || fail "Tapeloom ended while waiting for \"$text\" (see $work/$log)"
    [ $waited -lt $((timeout * 4)) ] || fail "no \"$text\" after $timeout s (see $work/$log)"
    pause 0.25
    waited=$((waited + 1))
  done
}
await_prompt() { await 'Mem: ' "$prompts" $((seconds + 60)); prompts=$((prompts + 1)); }

# Waits until "cal" asks its question or the prompt is back.
await_end() {
  local waited=0
  for ((;;)); do
    found '(y,n) '
    [ "$found" -le $asked ] || return 0
    found 'Mem: '
    [ "$found" -lt "$prompts" ] || return 0
    kill -0 "$tapeloom_pid" 2> /dev/null || fail "Tapeloom ended during the calibration (see $work/$log)"
    [ $waited -lt 120 ] || fail "the calibration did not end within 30 s (see $work/$log)"
    pause 0.25
    waited=$((waited + 1))
  done
}

# The calibration, saved in param.txt for the Tapeloom of each case. Without real-time
# scheduling the server now and then drops a period of the plugin's unseen, and one "cal" in a
# few proposes a correction a period off: so "cal" runs until one correction has been proposed
# three times (each measured against the defaults, answered "n"), and that third time it is
# taken ("y"). A measurement disturbed by an xrun proposes nothing.
start_tapeloom tapeloom_cal.log plain
declare -A votes=()
asked=0
correction=""
for attempt in $(seq 1 12); do
  found 'Nothing to correct'
  nothing=$found
  type_words cal 1 1
  await_end
  proposal=""
  question=no
  found '(y,n) '
  if [ "$found" -gt $asked ]; then
    asked=$((asked + 1))
    question=yes
    proposal=$(grep -o 'Correction: odcomp [0-9]*, latcomp [-0-9]*' "$log" | tail -1 | cut -d' ' -f2-)
  elif found 'Nothing to correct' && [ "$found" -gt "$nothing" ]; then
    proposal="the defaults"
  fi
  if [ -n "$proposal" ]; then
    votes[$proposal]=$((${votes[$proposal]:-0} + 1))
    [ "${votes[$proposal]}" -lt 3 ] || correction=$proposal
  fi
  [ $question = no ] || type_words "$([ -n "$correction" ] && echo y || echo n)"
  await_prompt
  [ -z "$correction" ] || break
done
[ -n "$correction" ] || fail "no correction was proposed three times in $attempt cal runs (see $work/$log)"
type_words s
await_prompt
end_tapeloom
echo "Stalls on the paced card: $tracks tracks in mix mode 0 + $inputs inputs recorded, period $period at $rate Hz,"
echo "$seconds s per take $(machine_line)"
echo "calibration: $correction, proposed by 3 of $attempt cal runs; all proposals:" \
  "$(for p in "${!votes[@]}"; do printf '%s (%s), ' "$p" "${votes[$p]}"; done | sed 's/, $//')"

# Holds Tapeloom's device loop (its main thread) for 150 ms, 4 s after the run began, then
# from 4 s later five times for 5 ms, a second apart, with ptrace: only that thread stops. The
# plugin's JACK clients are threads of the same process, so SIGSTOP would stop the card with
# it: the server then skips those clients' periods and the plugin, not knowing, drops them
# with no xrun for ALSA to report; a card keeps running when the program stalls. Writes each
# hold's start (wall clock) and length (ms) into holds.txt.
hold_device_loop() {
  await 'Playing and Recording...' 1 30
  python3 - "$tapeloom_pid" 4:0.15 4:0.005 1:0.005 1:0.005 1:0.005 1:0.005 << 'EOF' > holds.txt ||
import ctypes, os, sys, time
libc = ctypes.CDLL(None, use_errno=True)
libc.ptrace.argtypes = [ctypes.c_long, ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p]
thread = int(sys.argv[1])
for step in sys.argv[2:]:
    wait, hold = map(float, step.split(":"))
    time.sleep(wait)
    if libc.ptrace(0x4206, thread, None, None) != 0:  # PTRACE_SEIZE
        raise OSError(ctypes.get_errno(), "ptrace")
    wall, start = time.time(), time.monotonic()
    libc.ptrace(0x4207, thread, None, None)  # PTRACE_INTERRUPT
    os.waitpid(thread, 0x40000000)  # __WALL: a thread stop
    time.sleep(max(0.0, hold - (time.monotonic() - start)))
    libc.ptrace(17, thread, None, None)  # PTRACE_DETACH
    print(f"{wall:.6f} {(time.monotonic() - start) * 1000:.1f}")
EOF
    fail "Tapeloom's device loop could not be held (ptrace)"
}

# The checks of one recording. The takes: all 8 of the planned length; the loop take (input 1)
# is track 1 from the record start on, frame for frame; the counter take (input 2) counts up
# by one. A frame that is not what it should be is silence or wrong; where a take is off, each
# period's audio is looked up (in the track, or by its counter value) and every change of where
# it lands is listed (a period dropped or repeated). Each such change, each stretch of silence
# and each xrun Tapeloom listed is a discrepancy, except the one underrun and one overrun and
# the silence at the 150 ms hold. The counter's log puts the take on the wall clock, and a
# discrepancy within 0.3 s of a moment where the server was late or missed a period (or, from
# the take's first frame on, after any such moment before it) is the server's. Exits 0 when
# there is no discrepancy, 2 when all are the server's, 1 otherwise.
# Arguments: TRACK E LENGTH LOG COUNTER_LOG STARTED HICCUPS HOLDS TAKE... (STARTED: the wall
# clock at "Playing and Recording..."; HICCUPS and HOLDS: wall clock times "t,t,..." or "-",
# the first hold the long one).
check_run=$(cat << 'EOF'
import re, sys, wave

WRAP, PERIOD, KEY, RATE, NEAR = 1 << 23, 256, 16, 48000, 0.3

def frames(path):
    with wave.open(path, "rb") as w:
        return w.readframes(w.getnframes())

def values(data):
    return [int.from_bytes(data[k:k + 3], "little", signed=True) for k in range(0, len(data), 3)]

def times(text):
    return [] if text == "-" else [float(t) for t in text.split(",")]

def spans(numbers):
    """Runs of frame numbers (16 frames apart at most), as (first, last)."""
    runs = []
    for j in numbers:
        if runs and j - runs[-1][1] <= KEY:
            runs[-1][1] = j
        else:
            runs.append([j, j])
    return runs

def shown(runs):
    return ", ".join(f"{a / RATE:.3f} s for {(b - a + 1) / RATE:.3f} s" for a, b in runs)

track_data, e, length, log = frames(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), open(sys.argv[4]).read()
stamps = [(float(w), int(c)) for w, c in re.findall(r"^([0-9]+\.[0-9]+) ([0-9]+)$", open(sys.argv[5]).read(), re.M)]
started, hiccups, holds, takes = float(sys.argv[6]), times(sys.argv[7]), times(sys.argv[8]), sys.argv[9:]

good_files = len(takes) == 8
for path in takes:
    with wave.open(path, "rb") as w:
        if w.getnframes() != length or w.getsampwidth() != 3 or w.getnchannels() != 1:
            print(f"  BAD: {path}: {w.getnframes()} frames of {w.getsampwidth()} bytes, {w.getnchannels()} channels")
            good_files = False
print(f"  {'ok' if good_files else 'BAD'}: {len(takes)} takes of {length} 24-bit mono frames")
track = values(track_data)
loop_data = frames(next(p for p in takes if p.startswith("in1_")))
counter = values(frames(next(p for p in takes if p.startswith("in2_"))))
first = next(((v - j) % WRAP for j, v in enumerate(counter) if v != 0), 0)

# The take's first frame on the wall clock: the counter's last stamp before its value there.
ahead = [(w + (first - c) % WRAP / RATE, (first - c) % WRAP) for w, c in stamps if w >= started - 2]
began = min(ahead, key=lambda a: a[1])[0] if ahead else None
hiccups = [h - began for h in hiccups] if began else []
hold = holds[0] - began if holds and began else None
at_hold = lambda x: hold is not None and x is not None and hold - NEAR <= x <= hold + 0.15 + NEAR
discrepancies = []  # (take time, what)

# Tapeloom's xruns, listed with their place on the timeline.
expected = {"play underrun": 1, "record overrun": 1} if holds else {}
for kind, place in re.findall(r"(play underrun|record overrun) at ([0-9.]+) s", log):
    x = float(place) - e / RATE
    if at_hold(x) and expected.get(kind, 0) > 0:
        expected[kind] -= 1
    else:
        discrepancies.append((x, f"{kind} at {place} s"))
for kind, left in expected.items():
    if left:
        discrepancies.append((hold, f"no {kind} at the 150 ms hold"))
if re.search(r"^[0-9.]* ?and [0-9]+ more$", log, re.M):
    discrepancies.append((None, "more xruns than listed"))

def check(what, should, take, expected, landing):
    # Silence is a run of zeros of 16 frames or more; a single zero (a sample of the track,
    # or the counter's wrap, out of place) is a wrong frame.
    off = [j for j, v in enumerate(take) if v != expected(j)]
    silent = [r for r in spans(j for j in off if take[j] == 0) if r[1] - r[0] + 1 >= KEY]
    quiet = {j for a, b in silent for j in range(a, b + 1)}
    wrong = spans(j for j in off if j not in quiet)
    # Silence is right only where the device loop was held (the frames the card dropped).
    fine = not wrong and all(at_hold(a / RATE) for a, b in silent)
    print(f"  {'ok' if fine else 'BAD'}: {what} take = {should}: {len(take) - len(off)} of {len(take)} frames exact"
          + (f"; silent {shown(silent)}" if silent else "") + (f"; wrong {shown(wrong)}" if wrong else ""))
    discrepancies.extend((a / RATE, f"{what} take silent") for a, b in silent if not at_hold(a / RATE))
    if wrong:
        # Where each period lands against where it should (frames; + late, - early).
        changes, last = [], "exact"
        for j in range(0, len(take) - KEY, PERIOD):
            now = landing(j)
            if now is not None and now != last:
                changes.append((j / RATE, now))
                last = now
        more = f"; and {len(changes) - 12} more changes" if len(changes) > 12 else ""
        print("    lands from " + "; from ".join(f"{x:.3f} s: {d}" for x, d in changes[:12]) + more)
        discrepancies.extend((x, f"{what} take lands {d}") for x, d in changes)
        if not changes:
            discrepancies.extend((a / RATE, f"{what} take wrong") for a, b in wrong)

def loop_landing(j):
    key = loop_data[3 * j:3 * (j + KEY)]
    if key.count(0) == len(key):
        return None
    at = track_data.find(key)
    while at >= 0 and at % 3:
        at = track_data.find(key, at + 1)
    return "not in the track" if at < 0 else ("exact" if at // 3 == e + j else f"{e + j - at // 3:+d}")
check("loop", f"track 1 from frame {e} on", values(loop_data), lambda j: track[e + j] if e + j < len(track) else None, loop_landing)

def counter_landing(j):
    v = counter[j]
    late = (first + j - v + WRAP // 2) % WRAP - WRAP // 2
    return None if v == 0 else ("exact" if late == 0 else f"{late:+d}")
check("counter", f"a count from {first}", counter, lambda j: (first + j) % WRAP, counter_landing)

# A take off from its first frame was put off by whatever happened before it began.
theirs = [d for d in discrepancies
          if d[0] is not None and any(h <= d[0] + NEAR and (d[0] == 0 or h >= d[0] - NEAR) for h in hiccups)]
ours = [d for d in discrepancies if d not in theirs]
if began is None:
    print("  (the counter's log does not place the take on the wall clock: every discrepancy counts)")
elif discrepancies:
    print(f"  {len(theirs)} of {len(discrepancies)} discrepancies within {NEAR} s of the server's lateness"
          f" (the take began {began - started:.2f} s after the run's first line)")
if ours:
    print("  not where the server was late: " + "; ".join(
        (f"{x:.2f} s " if x is not None else "") + what for x, what in ours[:8]) + (" ..." if len(ours) > 8 else ""))
sys.exit(1 if ours or not good_files else (2 if theirs else 0))
EOF
)

# One recording of a case, its take set named `take`; sets `verdict`: PASS, FAIL, or REPEAT
# when whatever failed came where the server itself was late.
record_case() {
  local take=$1
  start_tapeloom "tapeloom_$take.log" stamped LD_PRELOAD="$work/stall_preload.so" \
    STALL_WRITE_SECONDS="$write_stall" STALL_WRITE_EVERY="$write_every" \
    STALL_READ_SECONDS="$read_stall" STALL_READ_EVERY="$read_every" STALL_BYTES_PER_SECOND="$byte_rate"
  : > holds.txt
  type_words "r_$take"
  [ "$held" = no ] || hold_device_loop
  await_prompt
  local peak_rss
  peak_rss=$(awk '/^VmHWM:/ { printf "%.1f MiB", $2 / 1024 }' "/proc/$tapeloom_pid/status")
  end_tapeloom
  sleep 0.5  # the server's last lines reach its log

  # The run: from Tapeloom's "Playing and Recording..." to its first peak report; the
  # server's lines count up to the prompt after the reports, as they reach its log a little
  # after the event.
  local started peaks ended underruns overruns reported shortfalls server hiccups holds status
  started=$(awk '/Playing and Recording\.\.\./ { print $1; exit }' "$log")
  peaks=$(awk '/Input Channel Peaks:/ { print $1; exit }' "$log")
  ended=$(awk '/Mem: / && ++n == 2 { print $1; exit }' "$log")
  underruns=$(awk '/Play Underruns = / { print $NF }' "$log")
  overruns=$(awk '/Record Overruns = / { print $NF }' "$log")
  reported=$(grep -E 'play underrun at|record overrun at|the disk fell behind|errors = |and [0-9]+ more$' "$log" | cut -d' ' -f2- || true)
  shortfalls=$(grep -c 'the disk fell behind' "$log" || true)
  echo "  take set $take:"
  echo "  Tapeloom: play underruns ${underruns:-0}, record overruns ${overruns:-0}, disk shortfalls $shortfalls"
  # The server's lateness in the run, and the periods each client did not finish in time
  # (Tapeloom's playback client P, its capture client C, the counter), with when they were
  # (seconds after the run began). A period the plugin's client misses is dropped or repeated
  # unseen, and one the counter misses repeats or skips its values; after a period the server
  # started late (even by a fraction of a millisecond), takes were seen to lose periods too.
  server=$(awk -v a="$started" -v b="$ended" '$1 >= a && $1 <= b {
      if (index($0, "JackTimedDriver::Process XRun")) {
        late++
        if ($(NF - 1) >= 1000) long++
        when[++n] = $1
        what[n] = sprintf("late %.1f ms", $(NF - 1) / 1000)
      }
      if (index($0, "was not finished") || index($0, "finished after current callback")) {
        who = index($0, "counter") ? "counter" : (index($0, ".P.") ? "P" : "C")
        missed[who]++
        when[++n] = $1
        what[n] = who
      }
    }
    END {
      for (k = 1; k <= n; k++) {
        list = list sprintf("%s%.6f", (k > 1 ? "," : ""), when[k])
        if (k <= 12) shown = shown sprintf(" %.2f (%s)", when[k] - a, what[k])
      }
      printf "%s|  server: %d periods started late (%d by 1 ms or more); periods missed by P %d, C %d, counter %d%s\n",
        (n ? list : "-"), late, long, missed["P"], missed["C"], missed["counter"], (n ? "; at" shown (n > 12 ? " ..." : "") : "")
    }' jackd.log)
  hiccups=${server%%|*}
  echo "${server#*|}"
  awk -v a="$started" -v b="$peaks" -v s="$(awk -v f=$((record_start + length + 4096)) -v r=$rate 'BEGIN { print f / r }')" \
    -v m="$peak_rss" 'BEGIN { printf "  run took %.2f s for %.2f s of audio; peak RSS %s\n", b - a, s, m }'
  [ -z "$reported" ] || sed 's/^/  reported: /' <<< "$reported"
  holds=$(awk '{ printf "%s%s", (NR > 1 ? "," : ""), $1 }' holds.txt)
  [ "$held" = no ] || awk '{ printf "%s%s ms", (NR > 1 ? ", " : "  device loop held for "), $2 } END { print "" }' holds.txt
  status=0
  python3 -c "$check_run" code.wav $record_start $length "$log" counter.log "$started" "$hiccups" "${holds:--}" \
    in*_"${take}"_stp_$record_start.wav || status=$?
  case $status in
    0) verdict=PASS ;;
    2) verdict=REPEAT ;;
    *) verdict=FAIL ;;
  esac
  # The server has no part in the disk worker's pace.
  [ "$shortfalls" = 0 ] || verdict=FAIL
}

# Each case is recorded up to `tries` times, until it passes, or fails where the server kept
# its time. A case whose every run failed at the server's own hiccups is undecided.
tries=3
failed=()
ran=0
while read -r name write_stall write_every read_stall read_every byte_rate held; do
  [ -n "$name" ] || continue
  [ ${#chosen[@]} -eq 0 ] || [[ " ${chosen[*]} " == *" $name "* ]] || continue
  echo
  echo "$name: writes stall ${write_stall} s every ${write_every} s, reads ${read_stall} s every ${read_every} s," \
    "rate limit $byte_rate B/s, device loop held: $held"
  for try in $(seq 1 $tries); do
    record_case "${name}try$try"
    [ "$verdict" = REPEAT ] || break
    echo "  (everything that failed came where the server itself was late: recorded again)"
  done
  [ "$verdict" != REPEAT ] || verdict="UNDECIDED (the server was late where each of $tries runs failed)"
  echo "$verdict: $name"
  [ "$verdict" = PASS ] || failed+=("$name")
  ran=$((ran + 1))
done <<< "$case_table"
[ $ran -gt 0 ] || fail "no case is named ${chosen[*]}"

stop_all
trap - EXIT
echo
if [ ${#failed[@]} -eq 0 ]; then
  echo "PASS: every case"
else
  echo "FAIL: ${failed[*]} (logs in $work)"
  exit 1
fi
