#!/usr/bin/env bash
# Prepares demo-session/ (ignored by git) for the simulated sound card and starts Tapeloom
# there on this terminal. The session keeps what you do in it between demo runs; delete the
# folder to start afresh.
set -euo pipefail

binary=$(realpath "$1")
repo=$(cd "$(dirname "$0")/.." && pwd)
session="$repo/demo-session"
mkdir -p "$session/alsa"
cd "$session"

# The project's own ALSA configuration: a card that plays into card-out.raw and captures from
# card-in.raw, through the real libasound. XDG_CONFIG_HOME points alsa-lib at it for this
# process only.
cp "$repo/tests/simcard/alsa/asoundrc" alsa/asoundrc

if [ ! -f param.txt ]; then
  # Ten seconds to play; takes are inserted with 10 ms crossfades.
  printf 'dv\ttapeloom_sim\nsr\t48000\ninputs\t2\noutputs\t2\nch\t4\nbuf\t1024\nint\t1\no\t480256\nxfade\t10.0\n' > param.txt
fi

# Two tracks to play (mono 24-bit, as Tapeloom records them) and the lists that name them.
if [ ! -f play.txt ]; then
  sox -q -n -r 48000 -c 1 -b 24 bass.wav synth 30 sine 110 tremolo 2 40 gain -14
  sox -q -n -r 48000 -c 1 -b 24 keys.wav synth 30 sine 440 tremolo 4 60 gain -18
  printf 'bass.wav\nkeys.wav\n' > play.txt
  printf 'vocal.wav\nguitar.wav\n' > record.txt
fi

# What the simulated inputs "hear": two minutes of a tone on input 1 and another on input 2,
# interleaved packed 24-bit, the card's capture format.
if [ ! -f card-in.raw ]; then
  sox -q -n -r 48000 -c 2 -b 24 -e signed-integer -t raw card-in.raw \
    synth 120 sine 220 sine 330 gain -12
fi

echo "Tapeloom demo session in $session (simulated card; 'x' leaves)."
echo "Try: p (play), R then rep (record vocal.wav and guitar.wav), e4 o6 r then ins (punch in), + (all commands)."
XDG_CONFIG_HOME="$session" exec "$binary"
