#!/usr/bin/env bash
# How well the patterns of `varicode suggest` carry over to websites it has
# not seen, and what learning them costs. Prints Markdown tables.
#
#   bash bench/heldout_eval.sh [BUILD_DIR]      (default build/release)
#
# The domain list (HELDOUT_DATA, default ../shared/data/domains-disposable.txt
# beside the project) is split in two: the odd lines to learn from, the even
# lines held out. For N = 25, 100, 200 and 800, `varicode suggest N` learns
# from the first half with the example's valid characters and start
# patterns; then the whole pipeline runs on the held-out half (patterntally,
# bitladder, varicode report) and its bits per website are printed, beside
# the example's own patterns_recurrent.txt and no recurrent patterns at all.
# Each suggest is timed with /usr/bin/time: wall-clock and CPU seconds, peak
# memory, and the CPU time as a ratio to one patterntally -j 1 pass over the
# same half (the floor, measured in the same run). A second table times
# suggest 100 on --sample=10000, 20000 and 40000 lines: how its time grows
# with the sample. Everything runs in a temporary directory, removed at the
# end.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m "${1:-$root/build/release}")"
data="$(realpath -m "${HELDOUT_DATA:-$root/../shared/data/domains-disposable.txt}")"
patterntally="$build/patterntally/patterntally"
bitladder="$build/bitladder/bitladder"
varicode="$build/varicode/varicode"
for program in "$patterntally" "$bitladder" "$varicode"; do
  [[ -x $program ]] || { echo "heldout_eval.sh: no $program: build it first" >&2; exit 1; }
done
[[ -r $data ]] || { echo "heldout_eval.sh: cannot read $data (set HELDOUT_DATA)" >&2; exit 1; }
examples="$root/examples"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

awk 'NR % 2 == 1' "$data" >"$work/train.txt"
awk 'NR % 2 == 0' "$data" >"$work/test.txt"

# A directory with the example's definitions, and patterns_recurrent.txt
# from $2 when given.
definitions() {
  mkdir "$1"
  cp "$examples/patterns_valid_chars.txt" "$examples/patterns_start.txt" "$1/"
  if [[ -n ${2:-} ]]; then cp "$2" "$1/patterns_recurrent.txt"; fi
}

# The pipeline on the held-out half in directory $1: its bits per website.
held_out_bits() {
  cp "$work/test.txt" "$1/websites.txt"
  # Invalid characters make patterntally's status 1; the files are still written.
  (cd "$1" && { "$patterntally" >/dev/null || true; } && "$bitladder" >/dev/null &&
    "$varicode" report >report.txt)
  sed -n 's/^bits per website: //p' "$1/report.txt"
}

# The floor: patterntally -j 1 on the learning half, CPU seconds of one pass
# out of 20.
definitions "$work/floor"
cp "$work/train.txt" "$work/floor/websites.txt"
# shellcheck disable=SC2016  # expanded by the inner shell
/usr/bin/time -f "%U %S" -o "$work/floor/time" bash -c \
  'cd "$1" && for _ in $(seq 20); do "$2" -j 1 >/dev/null || true; done' _ "$work/floor" "$patterntally"
floor="$(awk '{ printf "%.4f", ($1 + $2) / 20 }' "$work/floor/time")"

# Runs suggest in a fresh directory $1 with the arguments after it, and sets
# `cpu` (seconds), `timing` ("wall s | CPU s | CPU / floor | peak MiB") and
# `sample` (the lines it learnt from).
run_suggest() {
  local dir="$1"
  shift
  definitions "$dir"
  /usr/bin/time -f "%e %U %S %M" -o "$dir/time" "$varicode" -C "$dir" suggest "$@" "$work/train.txt" \
    >"$dir/suggested.txt" 2>"$dir/suggest.err" ||
    { echo "heldout_eval.sh: varicode suggest $* failed:" >&2; cat "$dir/suggest.err" >&2; exit 1; }
  cpu="$(awk '{ print $2 + $3 }' "$dir/time")"
  timing="$(awk -v floor="$floor" \
    '{ printf "%.1f | %.1f | %.0f | %.0f", $1, $2 + $3, ($2 + $3) / floor, $4 / 1024 }' "$dir/time")"
  sample="$(sed -n 's/^sample: \([0-9]*\) of.*/\1/p' "$dir/suggest.err")"
}

echo "Learnt from $(wc -l <"$work/train.txt") lines (the odd lines of $(basename "$data")), held out:" \
  "$(wc -l <"$work/test.txt") lines. Floor: patterntally -j 1 on the learning half, $floor CPU s."
echo
echo "| patterns | held-out bits per website | sample lines | bits per website on the sample |" \
  "wall s | CPU s | CPU / floor | peak MiB |"
echo "|---|---|---|---|---|---|---|---|"
definitions "$work/none"
echo "| none | $(held_out_bits "$work/none") | | | | | | |"
definitions "$work/example" "$examples/patterns_recurrent.txt"
example_size="$(wc -l <"$examples/patterns_recurrent.txt")"
echo "| the example's $example_size | $(held_out_bits "$work/example") | | | | | | |"
for n in 25 100 200 800; do
  run_suggest "$work/n$n" "$n"
  learnt="$(sed -n 's/^bits per website: \(.*\) with the .* suggested$/\1/p' "$work/n$n/suggest.err")"
  cp "$work/n$n/suggested.txt" "$work/n$n/patterns_recurrent.txt"
  size="$(wc -l <"$work/n$n/suggested.txt")"
  echo "| suggest $n ($size) | $(held_out_bits "$work/n$n") | $sample | $learnt | $timing |"
done

echo
echo "| suggest 100 | wall s | CPU s | CPU / floor | peak MiB | CPU / CPU at 10,000 lines |"
echo "|---|---|---|---|---|---|"
for size in 10000 20000 40000; do
  run_suggest "$work/s$size" --sample="$size" 100
  [[ $size == 10000 ]] && first="$cpu"
  echo "| --sample=$size | $timing | $(awk -v a="$cpu" -v b="$first" 'BEGIN { printf "%.2f", a / b }') |"
done
