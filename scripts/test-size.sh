#!/bin/sh
# The suite's size against the code's: non-blank lines of C++ (.cpp and .h) in src/, and in
# tests/ with the fuzz harnesses, at the format's width of 120 columns (a longer line, as in a
# table the formatter is told to leave alone, counts as the lines it would fill). The project
# keeps the suite at most 0.35 of the code; with --check, a suite above that fails.
set -eu
cd "$(dirname "$0")/.."
count() {
  find "$@" \( -name '*.cpp' -o -name '*.h' \) -type f -exec cat {} + |
    awk '/[^[:space:]]/ { n += int((length($0) + 119) / 120) } END { print n + 0 }'
}
src=$(count src)
tests=$(count tests)
fuzz=$(count fuzz)
suite=$((tests + fuzz))
ratio=$(awk -v s="$suite" -v c="$src" 'BEGIN { printf "%.2f", s / c }')
echo "src $src, tests $tests, fuzz harnesses $fuzz: the suite is $ratio of the code"
if [ "${1:-}" = "--check" ]; then
  awk -v s="$suite" -v c="$src" 'BEGIN { exit !(s <= 0.35 * c) }' || {
    echo "the suite is above 0.35 of the code: fold or drop tests that repeat others" >&2
    exit 1
  }
fi
