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
