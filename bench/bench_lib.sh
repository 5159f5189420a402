# Shared by the benchmark scripts (sourced, not run): timing jobs in turn, medians, the line
# that names the machine, and the tone tracks of the run benchmarks.

# Runs each job (a function run_<job>) once per round, in turn, for `runs` rounds, and writes
# "<job> <seconds>" lines into times.txt. After each job, the function named by $after_job
# runs, when it is set.
time_in_turn() {
  local runs=$1
  shift
  : > times.txt
  for _ in $(seq 1 "$runs"); do
    for job in "$@"; do
      local start
      start=$(date +%s.%N)
      "run_$job"
      echo "$job $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.4f", b - a }')" >> times.txt
      [ -z "${after_job:-}" ] || "$after_job"
    done
  done
}

# The median of one job's times in times.txt.
time_of() { awk -v j="$1" '$1 == j { print $2 }' times.txt | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# "(2 CPUs: <model>; ext4 file system):" for the current directory.
machine_line() {
  echo "($(nproc) CPUs: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); $(df -T . | awk 'NR == 2 { print $2 }') file system):"
}

# Tracks track1.wav .. trackN.wav of `seconds` at `rate` (a tone each, with a tremolo of its
# own), made with sox unless they are there with the right length, listed in play.txt.
make_tone_tracks() {
  local tracks=$1 seconds=$2 rate=$3 tag=$4
  : > play.txt
  for t in $(seq 1 "$tracks"); do
    local name=track$t.wav
    if [ ! -f "$name" ] || [ "$(soxi -s "$name")" != $((seconds * rate)) ]; then
      echo "$tag: making $name"
      sox -q -n -r "$rate" -c 1 -b 24 "$name" synth "$seconds" sine $((40 + 13 * t)) tremolo $((t % 7 + 1)) 40 gain -30
    fi
    echo "$name" >> play.txt
  done
}

# The paced card's ALSA device in alsa/asoundrc: the JACK server's two playback ports and its
# first `inputs` capture ports, through ALSA's jack plugin behind a plug device (the plugin
# takes only float samples).
write_jack_card() {
  local inputs=$1 capture_ports
  capture_ports=$(for k in $(seq 0 $((inputs - 1))); do printf '%s system:capture_%s ' "$k" $((k + 1)); done)
  mkdir -p alsa
  cat > alsa/asoundrc << EOF
pcm.tapeloom_jack_raw {
    type jack
    playback_ports { 0 system:playback_1 1 system:playback_2 }
    capture_ports { $capture_ports}
}
pcm.tapeloom_jack { type plug slave.pcm "tapeloom_jack_raw" }
EOF
}

# code.wav: `frames` of 24-bit mono noise at 48 kHz from a fixed seed, so that any stretch of
# 16 frames or more occurs once in it and shows where in the track a take's audio comes from.
# Levels within -12 dBFS pass the jack plugin's float conversion unchanged.
make_noise_track() {
  python3 - "$1" << 'EOF'
import random, struct, sys, wave
frames = int(sys.argv[1])
rnd = random.Random(20240611)
data = b"".join(struct.pack("<i", rnd.randint(-(1 << 21), 1 << 21))[:3] for _ in range(frames))
with wave.open("code.wav", "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(3)
    w.setframerate(48000)
    w.writeframes(data)
EOF
}
