#!/usr/bin/env bash
# Builds both programs and runs the whole pipeline on the shipped example in a
# scratch copy of this directory: patterntally, then bitladder. The source
# tree is never written to; the scratch directory is printed at the end.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

# What the build needs, named by the Debian and Ubuntu packages that bring it.
missing=()
if [[ -n ${CXX:-} ]]; then command -v "$CXX"; else command -v c++ || command -v g++ || command -v clang++
fi >/dev/null || missing+=(g++)
command -v cmake >/dev/null || missing+=(cmake)
[[ -n ${CMAKE_GENERATOR:-} ]] || command -v make >/dev/null || missing+=(make)
if ((${#missing[@]})); then
  for package in "${missing[@]}"; do echo "missing: $package (apt-get install $package)" >&2; done
  exit 1
fi
(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release -j >/dev/null)

work="$(mktemp -d "${TMPDIR:-/tmp}/patternladder-example.XXXXXX")"
cp "$root"/examples/websites.txt "$root"/examples/patterns_*.txt "$work"/
cd "$work"

echo "== patterntally (messages: $work/patterntally.log)"
"$root/build/release/patterntally/patterntally" >patterntally.log
echo "$(wc -l <patterntally.log) messages; count report, first lines:"
head -n 12 patterns_and_frequencies.txt
echo
echo "== bitladder"
"$root/build/release/bitladder/bitladder" >bitladder.log
echo "code map, first lines:"
head -n 12 map_varicodes.txt
tail -n 3 bitladder.log
echo
echo "All files are in $work"
