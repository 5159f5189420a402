#!/usr/bin/env bash
# Installs a build into a temporary root as `make install` does (cmake --install with DESTDIR)
# and checks what lands there: the program, which answers --version (run through the build's
# emulator when it is a cross build), the manual page, which renders without a warning, the
# documentation (the README and the user guide it points to among it) and the example device file.
# Usage: scripts/check-install.sh BUILD_DIR [EMULATOR WORD ...]
set -euo pipefail

build=$1
shift
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR="$root" cmake --install "$build" --prefix /usr > /dev/null
status=0
for file in usr/bin/tapeloom usr/share/man/man1/tapeloom.1 usr/share/doc/tapeloom/README.md \
  usr/share/doc/tapeloom/guide.md usr/share/doc/tapeloom/commands.md usr/share/doc/tapeloom/reliability.md \
  usr/share/doc/tapeloom/examples/asoundrc.simulated-card; do
  [ -f "$root/$file" ] || { echo "check-install: $file was not installed"; status=1; }
done
[ $status -eq 0 ] || exit 1

version=$("$@" "$root/usr/bin/tapeloom" --version)
[ "$version" = "Tapeloom 3.76 (r52)" ] || { echo "check-install: --version said '$version'"; exit 1; }
warnings=$(groff -man -ww -z "$root/usr/share/man/man1/tapeloom.1" 2>&1)
[ -z "$warnings" ] || { echo "check-install: the manual page: $warnings"; exit 1; }
echo "check-install: the program, its manual page and the documentation are in place"
