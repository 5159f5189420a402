#!/usr/bin/env bash
# Fails when a source file includes a header of a higher layer. The layers are the source
# folders, lowest first, as docs/architecture.md draws them; the few files that sit in a
# subsystem's folder but at another layer are named below, each with its reason written in
# docs/architecture.md. Includes within one layer are allowed.
#
#   scripts/check-layers.sh            check every include
#   scripts/check-layers.sh --arrows   list the include arrows between folders, and count those
#                                      that run back up the folder order
set -euo pipefail
cd "$(dirname "$0")/.."

folders=(core wave tracks time mix takes audio console app)

# file pattern (relative to src/) and the folder whose layer it sits at
exceptions=(
  "app/settings_* wave"    # param.txt reading and writing: only text files below it
  "mix/mix_export.* audio" # the export renders through the run's play source and disk worker
  "takes/take_menu.* audio" # the take menu prepares the audition's run request
)

folder_rank() {
  local i
  for i in "${!folders[@]}"; do
    if [ "${folders[$i]}" = "$1" ]; then
      echo "$i"
      return
    fi
  done
  echo none
}

layer_of() {
  local file=$1 entry pattern
  for entry in "${exceptions[@]}"; do
    read -r pattern at <<<"$entry"
    # shellcheck disable=SC2053
    if [[ $file == $pattern ]]; then
      folder_rank "$at"
      return
    fi
  done
  folder_rank "${file%%/*}"
}

includes() {
  sed -n 's/^#include "\([^"]*\)".*/\1/p' "$1"
}

sources() {
  find src -name '*.h' -o -name '*.cpp' | sort
}

if [ "${1:-}" = --arrows ]; then
  while IFS= read -r path; do
    file=${path#src/}
    while IFS= read -r included; do
      [ -f "src/$included" ] || continue
      [ "${file%%/*}" = "${included%%/*}" ] || echo "${file%%/*} ${included%%/*}"
    done < <(includes "$path")
  done < <(sources) | sort -u | {
    total=0 back=0
    while read -r from to; do
      total=$((total + 1))
      if [ "$(folder_rank "$to")" -gt "$(folder_rank "$from")" ]; then
        back=$((back + 1))
        echo "$from -> $to (back up)"
      else
        echo "$from -> $to"
      fi
    done
    echo "folder arrows: $total, running back up: $back"
  }
  exit 0
fi

status=0
while IFS= read -r path; do
  file=${path#src/}
  own=$(layer_of "$file")
  if [ "$own" = none ]; then
    echo "check-layers: $path is in no layer's folder (add the folder to scripts/check-layers.sh)"
    status=1
    continue
  fi
  while IFS= read -r included; do
    [ -f "src/$included" ] || continue
    theirs=$(layer_of "$included")
    if [ "$theirs" != none ] && [ "$theirs" -gt "$own" ]; then
      echo "check-layers: $path (layer $own) includes $included (layer $theirs)"
      status=1
    fi
  done < <(includes "$path")
done < <(sources)
[ $status -eq 0 ] && echo "check-layers: every include runs downward or within its layer"
exit $status
