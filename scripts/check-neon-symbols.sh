#!/usr/bin/env bash
# Fails when the NEON build of the mix kernels defines a global symbol outside
# tapeloom::neon. Such a symbol (an inline function or template the compiler emitted there)
# may be the one copy the linker keeps for the whole program, and would then run NEON code
# on a processor without it. Usage: check-neon-symbols.sh NM OBJECT...
set -euo pipefail
nm=$1
shift
foreign=$("$nm" -C --defined-only "$@" | awk '$2 ~ /^[A-Z]$/' | grep -v ' tapeloom::neon::' || true)
if [ -n "$foreign" ]; then
  echo "check-neon-symbols: defined outside tapeloom::neon:"
  echo "$foreign"
  exit 1
fi
echo "check-neon-symbols: only tapeloom::neon symbols are defined"
