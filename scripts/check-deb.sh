#!/usr/bin/env bash
# Checks a Debian package of Tapeloom as a user would meet it: lintian reports no error, the
# package depends on the libraries the program links (ALSA's and libedit's, which edits the lines
# typed at a terminal) and holds the user guide the README points to, and the program unpacked
# from it (dpkg -x into a temporary root) plays and records a short session on the simulated
# sound card, configured from the example file the package itself installs.
# An armhf package's program runs under qemu-arm-static, on the armhf libraries installed beside
# the native ones (as in the cross-built suite, cmake/armhf-toolchain.cmake).
# Usage: scripts/check-deb.sh PACKAGE.deb
set -euo pipefail
export LC_ALL=C

deb=$(realpath "$1")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

lintian --fail-on error "$deb" > "$root/lintian.txt" 2>&1 || { cat "$root/lintian.txt"; echo "check-deb: lintian found errors in $deb"; exit 1; }

depends=$(dpkg-deb -f "$deb" Depends)
for library in libasound2 libedit2; do
  grep -qE "(^|, )$library( |,|$)" <<< "$depends" || { echo "check-deb: Depends ($depends) lacks $library"; exit 1; }
done

dpkg -x "$deb" "$root/install"
[ -f "$root/install/usr/share/doc/tapeloom/guide.md" ] || { echo "check-deb: the user guide is not in $deb"; exit 1; }
program=("$root/install/usr/bin/tapeloom")
case "$(dpkg-deb -f "$deb" Architecture)" in
  armhf) program=(qemu-arm-static "${program[@]}") ;;
esac

session="$root/session"
mkdir -p "$session/alsa"
cp "$root/install/usr/share/doc/tapeloom/examples/asoundrc.simulated-card" "$session/alsa/asoundrc"
cd "$session"
sox -q -n -r 48000 -c 1 -b 24 tone.wav synth 1 sine 440 gain -6
sox -q -n -r 48000 -c 2 -b 24 -e signed-integer -t raw card-in.raw synth 2 sine 220 sine 330 gain -12
printf 'tone.wav\n' > play.txt
printf 'take.wav\n' > record.txt
printf 'dv\ttapeloom_sim\nsr\t48000\ninputs\t2\noutputs\t2\nch\t2\nbuf\t1024\nint\t0\nclock\thc\nmeter\t0\ni\t0\ne\t0\no\t47104\n' > param.txt

out=$(printf 'p\nR\nstp\nx\n' | XDG_CONFIG_HOME="$session" "${program[@]}")
grep -q '^Tapeloom 3.76 (r52)$' <<< "$out" || { echo "$out"; echo "check-deb: no banner"; exit 1; }
grep -q 'Output Channel Peaks:' <<< "$out" || { echo "$out"; echo "check-deb: the playback did not run"; exit 1; }
grep -q 'Input Channel Peaks:' <<< "$out" || { echo "$out"; echo "check-deb: the recording did not run"; exit 1; }
[ -s card-out.raw ] || { echo "check-deb: nothing reached the card"; exit 1; }
take=$(ls audio_ch_1_*.wav 2> /dev/null | head -1)
[ -n "$take" ] && [ "$(soxi -s "$take")" = 47104 ] || { echo "$out"; ls; echo "check-deb: no take of 47104 frames"; exit 1; }
echo "check-deb: $(basename "$deb"): lintian clean, plays and records on the simulated card"
