#!/usr/bin/env bash
# Fails when a source file includes a header of a higher layer. The layers, lowest first, are
# written down in docs/architecture.md; a file's layer is that of the first pattern it matches.
# Includes within one layer are allowed.
set -euo pipefail
cd "$(dirname "$0")/.."

# layer number, then the shell patterns of its files (relative to src/)
layers=(
  "0 app/session_settings.* app/derived_values.* app/program_end.h time/time_base.* time/safe_convert.h console/console_input.* console/number_words.* console/session_signals.*"
  "1 wave/*"
  "2 tracks/* mix/[!m]* mix/mix_block.h mix/mix_engine.* app/settings_*"
  "3 time/* takes/file_steps.* takes/take_files.* takes/crossfade.* takes/take_naming.* takes/take_state.h"
  "4 audio/* mix/mix_export.*"
  "5 takes/*"
  "6 console/* mix/mixer_console.*"
  "7 app/*"
)

layer_of() {
  local file=$1 entry pattern
  for entry in "${layers[@]}"; do
    for pattern in ${entry#* }; do
      # shellcheck disable=SC2053
      if [[ $file == $pattern ]]; then
        echo "${entry%% *}"
        return
      fi
    done
  done
  echo "none"
}

status=0
while IFS= read -r path; do
  file=${path#src/}
  own=$(layer_of "$file")
  if [ "$own" = none ]; then
    echo "check-layers: $path belongs to no layer (add it to scripts/check-layers.sh)"
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
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$path")
done < <(find src -name '*.h' -o -name '*.cpp' | sort)
[ $status -eq 0 ] && echo "check-layers: every include runs downward or within its layer"
exit $status
