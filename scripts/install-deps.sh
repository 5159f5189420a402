#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, and nothing else.
# Usage: scripts/install-deps.sh [native|demo|armhf|fuzz|soak|mutation|package]...   (default: native)
#   native: compiler, CMake, Ninja, ALSA and libedit headers, GoogleTest, Google Benchmark, sox,
#           clang-format, groff (the manual page's check), strace (which thread makes which file call)
#   demo:   only what `make demo` needs: compiler, CMake, Ninja, ALSA and libedit headers, sox
#   armhf:  the armhf cross toolchain, armhf ALSA, libedit, GoogleTest and libstdc++, qemu-user-static
#   fuzz:   clang 14 and its runtime libraries (libFuzzer, the sanitizers), for `make fuzz`
#   soak:   the JACK server and ALSA's JACK plugin, for the paced card of `make soak`, and the
#           JACK headers and C compiler for the helpers of `make soak-stalls`
#   mutation: Python 3, which runs the mutation check of `make mutation`
#   package: dpkg-shlibdeps and lintian, for the Debian packages of `make deb`
set -euo pipefail

native_pkgs=(g++ cmake ninja-build make libasound2-dev libedit-dev libgtest-dev libbenchmark-dev sox clang-format groff-base strace)
demo_pkgs=(g++ cmake ninja-build make libasound2-dev libedit-dev sox)
armhf_pkgs=(crossbuild-essential-armhf libasound2-dev:armhf libedit-dev:armhf libgtest-dev:armhf libstdc++6:armhf qemu-user-static)
fuzz_pkgs=(clang-14 libclang-rt-14-dev)
soak_pkgs=(jackd2 libasound2-plugins python3 libjack-jackd2-dev gcc)
mutation_pkgs=(python3)
package_pkgs=(dpkg-dev lintian)

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(native)

wanted=()
need_armhf_arch=0
for g in "${groups[@]}"; do
  case "$g" in
    native) wanted+=("${native_pkgs[@]}") ;;
    demo) wanted+=("${demo_pkgs[@]}") ;;
    armhf) wanted+=("${armhf_pkgs[@]}"); need_armhf_arch=1 ;;
    fuzz) wanted+=("${fuzz_pkgs[@]}") ;;
    soak) wanted+=("${soak_pkgs[@]}") ;;
    mutation) wanted+=("${mutation_pkgs[@]}") ;;
    package) wanted+=("${package_pkgs[@]}") ;;
    *) echo "install-deps: unknown group '$g' (native, demo, armhf, fuzz, soak, mutation or package)" >&2; exit 2 ;;
  esac
done

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "${wanted[@]}"; do installed "$p" || missing+=("$p"); done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  as_root=(sudo)
else
  echo "install-deps: these Debian packages are missing: ${missing[*]}" >&2
  echo "install-deps: installing them needs root. Run 'sudo $0 ${groups[*]}' or install them by hand." >&2
  exit 1
fi

if ! command -v apt-get >/dev/null 2>&1; then
  echo "install-deps: apt-get not found; install these packages by hand: ${missing[*]}" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
if [ $need_armhf_arch -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx armhf; then
  "${as_root[@]}" dpkg --add-architecture armhf
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
