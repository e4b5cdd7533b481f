#!/usr/bin/env bash
# Builds the programs and runs the whole pipeline on the shipped example in a
# scratch copy of this directory: patterntally, bitladder, then varicode with
# the code map: one website encoded and decoded back, and the report of the
# whole list. Nothing is written outside build/release: the scratch directory
# is build/release/example, emptied first, and is printed at the end.
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
# One compiler a core: more would only wait for each other, and for memory.
jobs=$(nproc 2>/dev/null || getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)
echo "building the programs in build/release with $jobs jobs (a minute or two the first time)..."
(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release -j "$jobs" >/dev/null)

work="$root/build/release/example"
rm -rf "$work" && mkdir "$work"
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
echo "== varicode"
varicode="$root/build/release/varicode/varicode"
# A website with a start pattern and only valid characters, so that it is
# coded whole: what comes back is the line without its start pattern.
website=$(grep -m 1 -E '^https://www\.[a-z0-9.-]+/[a-z0-9/._-]+$' websites.txt)
code=$(printf '%s\n' "$website" | "$varicode" encode)
echo "website: $website"
echo "encoded: $code"
echo "decoded: $(printf '%s\n' "$code" | "$varicode" decode)"
echo "report of websites.txt:"
"$varicode" report
echo
echo "All files are in $work"
