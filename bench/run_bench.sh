#!/usr/bin/env bash
# Measures patterntally and bitladder against floors taken in the same run
# and prints Markdown tables that can go into a README as they are.
#
#   bash bench/run_bench.sh [--size MiB] [--reps N] [--memory] [--micro] [--profile] [--all]
#
# With no mode flag it measures throughput: `cat` and read_floor (the line
# reader alone) over a generated corpus, patterntally on one thread on it with
# the example definitions and with large sets of 2,000 and 10,000 patterns,
# patterntally with 2 and with all threads (the default) on the 2,000 set,
# patterntally-mpi (when built) on 1 and 2 ranks of one thread, also on the
# corpus without the lines that draw a message and on a
# corpus where 1% of the bytes are invalid, and with --messages=FILE on a
# corpus where every 80th line draws a message more (about 900,000 messages
# a GiB) with 5,000 patterns, against patterntally -j1 >FILE; patterntally on
# an adversarial corpus with the adversarial set, bitladder against
# `awk '!seen[$0]++'` on ranked files of 100,000 and 1,000,000 distinct lines
# (and gawk too, when it is present and awk is another awk), and varicode
# with the code map of the 2,000 set: encode on the corpus and on its 1%
# invalid variant, decode on the encoded corpus against `cat` of it. The
# tokeniser of an earlier commit (BENCH_BASELINE, default b9ea5e0) is built
# beside this one, its patterntally alone, and times one thread with the
# example set, the 2,000 and 5,000 sets and the 100,000 set (which takes the
# sparse walk) on the same corpus, so that the speed-up is a ratio within one
# run; with --memory its peak memory is measured beside this build's.
#   --memory   peak memory of patterntally on a 64 MiB and a 1 GiB corpus (with
#              the 10,000 and 100,000 sets also that of the baseline), and
#              of varicode encode and decode on the corpus and on four copies
#              of it, both through a pipe
#   --micro    the microbenchmarks of tokenizer_bench
#   --profile  where patterntally spends its time with the 10,000-pattern set,
#              with perf (sampled) and callgrind (instructions) when present
#   --all      throughput, --memory and --micro
# Each command runs --reps times (default 5), in rounds that run every command
# once; medians and min-max are reported, and ratios are taken within a round.
# The page cache is warm: every input is read once before it is measured.
#
# Environment: BENCH_BUILD_DIR (default build/bench), BENCH_WORK_DIR for the
# generated inputs, kept between runs (default BUILD_DIR/work), BENCH_DATA for
# the domain lists gen_corpus.py reads (default: its own default),
# BENCH_BASELINE for the commit of the baseline (empty: none).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
size=256
reps=5
modes=()
while [[ $# -gt 0 ]]; do
  case "$1" in
    --size) size="$2"; shift 2 ;;
    --reps) reps="$2"; shift 2 ;;
    --memory) modes+=(memory); shift ;;
    --micro) modes+=(micro); shift ;;
    --profile) modes+=(profile); shift ;;
    --all) modes+=(throughput memory micro); shift ;;
    -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "run_bench.sh: unknown argument \"$1\" (see --help)" >&2; exit 2 ;;
  esac
done
[[ ${#modes[@]} -eq 0 ]] && modes=(throughput)
[[ "$size" =~ ^[1-9][0-9]*$ && "$reps" =~ ^[1-9][0-9]*$ ]] ||
  { echo "run_bench.sh: --size and --reps take positive whole numbers" >&2; exit 2; }
has_mode() { [[ " ${modes[*]} " == *" $1 "* ]]; }

build="$(realpath -m "${BENCH_BUILD_DIR:-$root/build/bench}")"
work="$(realpath -m "${BENCH_WORK_DIR:-$build/work}")"
data_args=()
[[ -n "${BENCH_DATA:-}" ]] && data_args=(--data "$(realpath "$BENCH_DATA")")
log="$work/log"
mkdir -p "$work"/{inputs,defs,runs}
: >"$log"
note() { echo "== $*" >&2; }

# 1. Build the programs, the floor and the stopwatch in Release.
note "building into ${build#"$root"/}"
targets=(patterntally bitladder varicode read_floor measure)
has_mode micro && targets+=(tokenizer_bench)
(cd "$root" && cmake --preset bench -B "$build" >>"$log" 2>&1 &&
  if cmake --build "$build" --target help | grep patterntally-mpi >/dev/null; then  # built with MPI
    targets+=(patterntally-mpi)
  fi &&
  cmake --build "$build" -j 2 --target "${targets[@]}" >>"$log" 2>&1) ||
  { echo "run_bench.sh: the build failed, see ${log#"$root"/}" >&2; tail -n 30 "$log" >&2; exit 1; }
patterntally="$build/patterntally/patterntally"
bitladder="$build/bitladder/bitladder"
varicode="$build/varicode/varicode"
read_floor="$build/bench/read_floor"
patterntally_mpi="$build/patterntally/patterntally-mpi"
mpirun="$(command -v mpirun || true)"
measure="$build/bench/measure"

# 2. Inputs, made once and kept in the work directory; a stamp marks each one
# complete, so an interrupted generation is made again.
made() { [[ -e "$1.done" ]]; }
mark() { touch "$1.done"; }
generate() {  # generate SCRIPT ARGS...: runs a generator, stops the run when it fails
  python3 "$root/bench/$1" "${@:2}" 2>>"$log" ||
    { echo "run_bench.sh: $1 failed; the end of its messages:" >&2; tail -n 5 "$log" >&2; exit 1; }
}

corpus() {  # corpus FILE MiB [--adversarial]
  local file="$1" mib="$2"; shift 2
  if ! made "$file"; then
    note "writing ${file##*/}"
    generate gen_corpus.py --size $((mib << 20)) --out "$file" "${data_args[@]}" "$@"
    mark "$file"
  fi
}

definitions() {  # definitions DIR SET [gen_defs.py options]
  local dir="$1" set="$2"; shift 2
  if ! made "$dir"; then
    note "writing the definition set ${dir##*/}"
    generate gen_defs.py --set "$set" --out "$dir" "$@"
    mark "$dir"
  fi
}

ranked() {  # ranked FILE LINES
  if ! made "$1"; then
    note "writing ${1##*/}"
    generate gen_ranked.py --lines "$2" --out "$1"
    mark "$1"
  fi
}

definitions "$work/defs/example" example
definitions "$work/defs/adversarial" adversarial
definitions "$work/defs/large2000" large --count 2000 "${data_args[@]}"
definitions "$work/defs/large10000" large --count 10000 "${data_args[@]}"

# The baseline: patterntally of an earlier commit, checked out as a worktree
# in the work directory and built in Release once.
baseline="${BENCH_BASELINE-b9ea5e0}"
base_patterntally=""
if [[ -n "$baseline" ]] && { has_mode throughput || has_mode memory; }; then
  if git -C "$root" rev-parse -q --verify "$baseline^{commit}" >/dev/null; then
    base_src="$work/baseline-$baseline"
    if ! made "$base_src"; then
      note "building patterntally of $baseline"
      rm -rf "$base_src"
      git -C "$root" worktree prune
      (git -C "$root" worktree add --detach "$base_src" "$baseline" &&
        cd "$base_src" && cmake --preset bench -B "$base_src/build" &&
        cmake --build "$base_src/build" -j 2 --target patterntally) >>"$log" 2>&1 ||
        { echo "run_bench.sh: building the baseline failed, see ${log#"$root"/}" >&2; exit 1; }
      mark "$base_src"
    fi
    base_patterntally="$base_src/build/patterntally/patterntally"
    definitions "$work/defs/large5000" large --count 5000 "${data_args[@]}"
    definitions "$work/defs/large100000" large --count 100000 "${data_args[@]}"
  else
    note "no commit $baseline here: no baseline"
  fi
fi

# 3. Runs: each in its own directory, which holds its inputs (linked) and
# receives its outputs. RUNS lists them for summarize.py.
runs="$work/runs.tsv"
results="$work/results.tsv"
: >"$runs"
: >"$results"
order=()  # the runs of a round, in order
cmds=()   # each run's command, quoted for eval
dirs=()
errs=()   # where each run's standard error goes

defs_bytes() { cat "$1"/patterns_*.txt | wc -c; }

# With copies=N set, the run reads N copies of INPUT; with run_stderr set, its
# standard error goes there instead of the log; with ok_status set, that exit
# status is the run's success rather than 0.
add_run() {  # add_run NAME LABEL INPUT DEFS_DIR_OR_- COMMAND...
  local name="$1" label="$2" input="$3" defs="$4"; shift 4
  local n="${copies:-1}"
  local dir="$work/runs/$name"
  rm -rf "$dir"
  mkdir -p "$dir"
  local defs_size=0
  if [[ "$defs" != - ]]; then
    cp "$defs"/patterns_*.txt "$dir"/
    defs_size="$(defs_bytes "$defs")"
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$label" "$((n * $(stat -L -c %s "$input")))" \
    "$((n * $(wc -l <"$input")))" "$defs_size" "${ok_status:-0}" >>"$runs"
  order+=("$name")
  dirs+=("$dir")
  errs+=("${run_stderr:-$log}")
  local quoted
  printf -v quoted '%q ' "$@"
  cmds+=("$quoted")
}

corpus_run() {  # corpus_run NAME LABEL CORPUS DEFS_DIR_OR_- COMMAND...
  local corpus_file="$3"
  add_run "$@"
  ln -s "$corpus_file" "$work/runs/$1/websites.txt"
}

pt_run() {  # pt_run NAME CORPUS SET LABEL_SUFFIX [OPTIONS]: patterntally with the set's definitions
  local count
  count="$(wc -l <"$work/defs/$3/patterns_recurrent.txt")"
  corpus_run "$1" "patterntally, $3 set ($count patterns)$4" "$2" "$work/defs/$3" "$patterntally" "${@:5}"
}

base_run() {  # base_run NAME CORPUS SET [OPTIONS]: the baseline's patterntally with the set's definitions
  corpus_run "$1" "patterntally of $baseline, $3 set$4" "$2" "$work/defs/$3" "$base_patterntally" "${@:5}"
}

# The ranks are not bound to cores: mpirun would bind rank 0 to the first
# core, which on a shared virtual machine may be slower than the others for a
# while, and patterntally, which the ranks are measured against, runs where
# the system puts it.
mpi_run() {  # mpi_run NAME CORPUS RANKS LABEL_SUFFIX [SET [OPTIONS]]: patterntally-mpi, ranks of one thread
  local set=${5:-large2000}
  corpus_run "$1" "patterntally-mpi, $3 rank(s) of 1 thread, $set set$4" "$2" "$work/defs/$set" \
    "$mpirun" --allow-run-as-root --oversubscribe --bind-to none -np "$3" "$patterntally_mpi" -j 1 "${@:6}"
}

# varicode needs a code map: patterntally and bitladder make one from the
# corpus with the 2,000 set, once. decode reads what encode wrote of the
# corpus, made again by each run of this script so that it is this build's.
codemap="$work/inputs/codemap-large2000"
encoded=""
packed=""
varicode_inputs() {  # varicode_inputs CORPUS: sets `encoded`
  if ! made "$codemap"; then
    note "writing the code map of the large2000 set"
    rm -rf "$codemap" && mkdir -p "$codemap"
    cp "$work/defs/large2000"/patterns_*.txt "$codemap"/
    ln -s "$1" "$codemap/websites.txt"
    (cd "$codemap" && "$patterntally" >/dev/null && "$bitladder" >/dev/null) ||
      { echo "run_bench.sh: making the code map failed" >&2; exit 1; }
    mark "$codemap"
  fi
  [[ -n "$encoded" ]] && return
  encoded="$work/inputs/${1##*/}"
  encoded="${encoded%.txt}-encoded.txt"
  note "writing ${encoded##*/}"
  # The corpus has bytes that are not valid: their messages make the status 1.
  (cd "$codemap" && "$varicode" encode websites.txt >"$encoded" 2>/dev/null) || [[ $? == 1 ]] ||
    { echo "run_bench.sh: varicode encode failed on the corpus" >&2; exit 1; }
  [[ "$(wc -l <"$encoded")" == "$(wc -l <"$1")" ]] ||
    { echo "run_bench.sh: varicode encode wrote another number of lines than the corpus has" >&2; exit 1; }
  packed="${encoded%.txt}.bin"
  (cd "$codemap" && "$varicode" encode --packed -o "$packed" websites.txt 2>/dev/null) || [[ $? == 1 ]] ||
    { echo "run_bench.sh: varicode encode --packed failed on the corpus" >&2; exit 1; }
}

# varicode encode reports each byte that is not valid on standard error, and
# its status is then 1: the corpus has a few. OK_STATUS is the status expected.
vc_run() {  # vc_run NAME LABEL INPUT OK_STATUS COMMAND...: with the code map, INPUT as input.txt
  local name="$1" input="$3"
  ok_status="$4" run_stderr=/dev/null add_run "$1" "$2" "$3" "$work/defs/large2000" "${@:5}"
  ln -s "$codemap/map_varicodes.txt" "$work/runs/$name/map_varicodes.txt"
  ln -s "$input" "$work/runs/$name/input.txt"
}

ranked_run() {  # ranked_run NAME LABEL RANKED_FILE COMMAND...
  local name="$1" label="$2" file="$3"; shift 3
  add_run "$name" "$label" "$file" - "$@"
  ln -s "$file" "$work/runs/$name/patterns_ordered_by_frequency.txt"
}

# Runs every run of `order` once per round, back to back. The "$@" inside is
# each run's command, set from its quoted form.
# shellcheck disable=SC2120
measure_rounds() {
  local round i
  for ((round = 1; round <= reps; round++)); do
    note "round $round of $reps"
    for i in "${!order[@]}"; do
      (cd "${dirs[$i]}" && eval "set -- ${cmds[$i]}" &&
        "$measure" "$results.one" "$@" >/dev/null 2>>"${errs[$i]}") || true
      printf '%s\t%s\t%s\n' "${order[$i]}" "$round" "$(tr ' ' '\t' <"$results.one")" >>"$results"
      rm -f "$results.one"
    done
  done
}

warm() { cat "$@" >/dev/null; }

header() {  # header TITLE [NOTE]
  local commit
  if commit="$(git -C "$root" rev-parse --short HEAD 2>/dev/null)"; then
    git -C "$root" diff --quiet HEAD -- 2>/dev/null || commit="$commit with local changes"
  else
    commit="unknown"
  fi
  echo
  echo "### $1"
  echo
  echo "Commit $commit; $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')," \
    "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end.${2:+ $2}"
  echo
}

if has_mode throughput; then
  web="$work/inputs/websites-${size}MiB.txt"
  adv="$work/inputs/adversarial-${size}MiB.txt"
  corpus "$web" "$size"
  corpus "$adv" "$size" --adversarial
  ranked "$work/inputs/ranked-100k.txt" 100000
  ranked "$work/inputs/ranked-1M.txt" 1000000
  awk_name="$(basename "$(realpath "$(command -v awk)")")"
  # shellcheck disable=SC2016  # an awk program, not shell
  dedup='!seen[$0]++'

  corpus_run cat "cat websites.txt" "$web" - cat websites.txt
  corpus_run read_floor "read_floor (line reader only)" "$web" - "$read_floor" websites.txt
  for set in example large2000 large10000; do
    pt_run "pt-$set" "$web" "$set" "" -j 1
  done
  if [[ -n "$base_patterntally" ]]; then
    for set in example large2000 large5000 large100000; do
      [[ "$set" == large5000 || "$set" == large100000 ]] && pt_run "pt-$set" "$web" "$set" "" -j 1
      base_run "base-$set" "$web" "$set" "" -j 1
    done
  fi
  pt_run pt-large2000-j2 "$web" large2000 ", 2 threads" -j 2
  pt_run pt-large2000-all "$web" large2000 ", all $(nproc) threads (the default)"
  invalid="$work/inputs/websites-${size}MiB-1pc-invalid.txt"
  if ! made "$invalid"; then  # every 100th byte that is no line feed becomes '#'
    note "writing ${invalid##*/}"
    python3 -c 'import sys
data = bytearray(open(sys.argv[1], "rb").read())
for i in range(50, len(data), 100):
    if data[i] != 10: data[i] = 35
open(sys.argv[2], "wb").write(data)' "$web" "$invalid"
    mark "$invalid"
  fi
  # The corpus without the lines that draw a message with the 2,000 set: the
  # ranks without the gather of messages, which rank 0 writes and mpirun carries.
  quiet="$work/inputs/websites-${size}MiB-no-messages.txt"
  if [[ -x "$patterntally_mpi" && -n "$mpirun" ]] && ! made "$quiet"; then
    note "writing ${quiet##*/}"
    rm -rf "$quiet.dir" && mkdir -p "$quiet.dir"
    cp "$work/defs/large2000"/patterns_*.txt "$quiet.dir"/
    ln -s "$web" "$quiet.dir/websites.txt"
    # shellcheck disable=SC2016  # an awk program, not shell
    (cd "$quiet.dir" && { "$patterntally" -j 1 2>/dev/null || true; } |
      LC_ALL=C sed -n 's/^- Invalid character ".\{1\}" in line \([0-9]*\) .*/\1/p' >lines.txt &&
      awk 'FILENAME == ARGV[1] { drop[$1] = 1; next } !(FNR in drop)' lines.txt websites.txt >"$quiet") ||
      { echo "run_bench.sh: writing the corpus without messages failed" >&2; exit 1; }
    rm -rf "$quiet.dir"
    mark "$quiet"
  fi
  if [[ -x "$patterntally_mpi" && -n "$mpirun" ]]; then
    mpi_run mpi-1 "$web" 1 ""
    mpi_run mpi-2 "$web" 2 ""
    mpi_run mpi-quiet-1 "$quiet" 1 ", no messages"
    mpi_run mpi-quiet-2 "$quiet" 2 ", no messages"
    pt_run pt-invalid "$invalid" large2000 ", 1% invalid bytes" -j 1
    mpi_run mpi-invalid-1 "$invalid" 1 ", 1% invalid bytes"
    mpi_run mpi-invalid-2 "$invalid" 2 ", 1% invalid bytes"
    # The messages kept in a file, as a user keeps them: by patterntally
    # through its standard output, by the ranks with --messages.
    definitions "$work/defs/large5000" large --count 5000 "${data_args[@]}"
    messages="$work/inputs/websites-${size}MiB-messages.txt"
    if ! made "$messages"; then  # every 80th line of more than 2 bytes gets a '#' in its middle
      note "writing ${messages##*/}"
      python3 -c 'import sys
with open(sys.argv[1], "rb") as i, open(sys.argv[2], "wb") as o:
    for n, line in enumerate(i):
        if n % 80 == 0 and len(line) > 3: line = line[:len(line) // 2] + b"#" + line[len(line) // 2 + 1:]
        o.write(line)' "$web" "$messages"
      mark "$messages"
    fi
    corpus_run pt-messages "patterntally -j1 >FILE, large5000 set, a message every 80 lines" "$messages" \
      "$work/defs/large5000" sh -c '"$0" -j 1 >messages.txt' "$patterntally"
    for ranks in 1 2; do
      mpi_run "mpi-messages-$ranks" "$messages" "$ranks" " --messages=FILE, a message every 80 lines" large5000 \
        --messages=messages.txt
    done
  fi
  corpus_run cat-adv "cat, adversarial corpus" "$adv" - cat websites.txt
  pt_run pt-adversarial "$adv" adversarial ", adversarial corpus"
  ranked_run awk-100k "awk '!seen[\$0]++' ($awk_name), 100k lines" "$work/inputs/ranked-100k.txt" \
    awk "$dedup" patterns_ordered_by_frequency.txt
  ranked_run bitladder-100k "bitladder, 100k lines" "$work/inputs/ranked-100k.txt" "$bitladder"
  ranked_run awk-1M "awk '!seen[\$0]++' ($awk_name), 1M lines" "$work/inputs/ranked-1M.txt" \
    awk "$dedup" patterns_ordered_by_frequency.txt
  ranked_run bitladder-1M "bitladder, 1M lines" "$work/inputs/ranked-1M.txt" "$bitladder"
  if command -v gawk >/dev/null && [[ "$awk_name" != gawk ]]; then  # a second awk, when present
    for n in 100k 1M; do
      ranked_run "gawk-$n" "gawk '!seen[\$0]++', $n lines" "$work/inputs/ranked-$n.txt" \
        gawk "$dedup" patterns_ordered_by_frequency.txt
    done
  fi

  varicode_inputs "$web"
  vc_run vc-encode "varicode encode, large2000 map" "$web" 1 "$varicode" encode input.txt
  vc_run vc-encode-invalid "varicode encode, large2000 map, 1% invalid bytes" "$invalid" 1 \
    "$varicode" encode input.txt
  vc_run cat-encoded "cat, encoded corpus" "$encoded" 0 cat input.txt
  vc_run vc-decode "varicode decode, encoded corpus" "$encoded" 0 "$varicode" decode input.txt
  # Text and packed codes side by side on one core, written to a file as a
  # user keeps them (-o syncs it), and decoded back.
  vc_run vc-encode-text-1 "varicode -j1 encode -o FILE, text" "$web" 1 "$varicode" -j1 encode -o out input.txt
  vc_run vc-encode-packed-1 "varicode -j1 encode --packed -o FILE" "$web" 1 \
    "$varicode" -j1 encode --packed -o out input.txt
  vc_run vc-decode-packed "varicode decode --packed, packed corpus" "$packed" 0 \
    "$varicode" decode --packed input.txt

  warm "$work"/inputs/websites-"${size}"MiB*.txt "$adv" "$work"/inputs/ranked-*.txt
  measure_rounds
  if [[ -e "$work/runs/mpi-messages-2/messages.txt" ]]; then  # what the messages runs wrote
    cmp -s "$work/runs/pt-messages/messages.txt" "$work/runs/mpi-messages-2/messages.txt" ||
      echo "run_bench.sh: patterntally-mpi --messages wrote other messages than patterntally" >&2
    note "the messages corpus draws $(wc -l <"$work/runs/pt-messages/messages.txt") messages," \
      "$(wc -c <"$work/runs/pt-messages/messages.txt") bytes"
  fi
fi

if has_mode memory; then
  # The same definitions on a small and a large corpus: memory must not grow
  # with the corpus. A second pass of `order` would rerun the throughput runs.
  order=() cmds=() dirs=() errs=()
  small="$work/inputs/websites-64MiB.txt"
  large="$work/inputs/websites-1024MiB.txt"
  corpus "$small" 64
  corpus "$large" 1024
  for set in example large10000; do
    pt_run "mem-small-$set" "$small" "$set" ", 64 MiB"
    pt_run "mem-large-$set" "$large" "$set" ", 1 GiB"
  done
  if [[ -n "$base_patterntally" ]]; then
    pt_run mem-new-large10000 "$small" large10000 ", 64 MiB"
    pt_run mem-new-large100000 "$small" large100000 ", 64 MiB"
    base_run mem-base-large10000 "$small" large10000 ", 64 MiB"
    base_run mem-base-large100000 "$small" large100000 ", 64 MiB"
  fi
  corpus_run mem-small-read_floor "read_floor, 64 MiB" "$small" - "$read_floor" websites.txt
  corpus_run mem-large-read_floor "read_floor, 1 GiB" "$large" - "$read_floor" websites.txt
  # varicode on the throughput corpus and on four copies of it, streamed
  # through a pipe: the pipe adds only cat's few hundred KiB.
  web="$work/inputs/websites-${size}MiB.txt"
  corpus "$web" "$size"
  varicode_inputs "$web"
  for command in encode decode; do
    input="$web" ok=1
    [[ "$command" == decode ]] && input="$encoded" ok=0
    vc_run "mem-small-vc-$command" "varicode $command, ${input##*/} through a pipe" "$input" "$ok" \
      sh -c "cat input.txt | \"\$0\" $command" "$varicode"
    copies=4 vc_run "mem-large-vc-$command" "varicode $command, 4 copies of ${input##*/} through a pipe" \
      "$input" "$ok" sh -c "cat input.txt input.txt input.txt input.txt | \"\$0\" $command" "$varicode"
  done
  warm "$small" "$large" "$web" "$encoded"
  measure_rounds
fi

# 4. Check the outputs once, then summarise.
for name in pt-example pt-large10000 mem-large-large10000; do
  dir="$work/runs/$name"
  [[ -d "$dir" ]] || continue
  [[ -s "$dir/patterns_ordered_by_frequency.txt" ]] ||
    echo "run_bench.sh: $name wrote no ranked pattern file" >&2
done
if [[ -d "$work/runs/bitladder-1M" ]]; then
  coded="$(wc -l <"$work/runs/bitladder-1M/map_varicodes.txt")"
  [[ "$coded" == 1000000 ]] || echo "run_bench.sh: bitladder coded $coded of 1000000 lines" >&2
fi

status=0
if [[ -s "$results" ]]; then
  header "Throughput and memory, ${size} MiB corpus" \
    "$reps runs each, warm page cache; MB = 10^6 bytes; CPU = user + system; peak RSS from wait4."
  python3 "$root/bench/summarize.py" "$runs" "$results" || status=1
fi

if has_mode micro; then
  # The generated corpus and sets rather than the shipped example: more lines
  # and patterns drawn as for the other runs.
  micro_corpus="$work/inputs/websites-16MiB.txt"
  corpus "$micro_corpus" 16
  definitions "$work/defs/large5000" large --count 5000 "${data_args[@]}"
  mkdir -p "$work/defs/micro"
  ln -sfn ../example "$work/defs/micro/example"
  ln -sfn ../large5000 "$work/defs/micro/large"
  ln -sfn ../adversarial "$work/defs/micro/adversarial"
  header "Microbenchmarks (tokenizer_bench)" \
    "Medians of $reps repetitions; lines from a 16 MiB generated corpus; large set: 5,000 patterns."
  echo '```'
  TOKENIZER_BENCH_CORPUS="$micro_corpus" TOKENIZER_BENCH_DEFS="$work/defs/micro" \
    "$build/bench/tokenizer_bench" --benchmark_repetitions="$reps" \
    --benchmark_report_aggregates_only=true 2>>"$log" |
    sed -n '/^---/,$p' | grep -v -E '_(mean|stddev|cv) '
  echo '```'
fi

if has_mode profile; then
  # A build with line tables (the same optimisation) attributes time to the
  # lines of the inlined hot loop. A small corpus keeps callgrind's slowdown
  # (about 50x) bearable.
  pbuild="$build-profile"
  (cd "$root" && cmake --preset bench -B "$pbuild" -DCMAKE_CXX_FLAGS=-g >>"$log" 2>&1 &&
    cmake --build "$pbuild" -j 2 --target patterntally >>"$log" 2>&1) ||
    { echo "run_bench.sh: the profile build failed, see ${log#"$root"/}" >&2; exit 1; }
  prof="$work/inputs/websites-16MiB.txt"
  corpus "$prof" 16
  for set in example large10000; do
    dir="$work/runs/profile-$set"
    rm -rf "$dir" && mkdir -p "$dir"
    cp "$work/defs/$set"/patterns_*.txt "$dir"/
    ln -s "$prof" "$dir/websites.txt"
    header "Profile of patterntally, $set set, 16 MiB corpus"
    echo '```'
    if command -v perf >/dev/null; then
      (cd "$dir" && perf record -q -e cpu-clock -o perf.data "$pbuild/patterntally/patterntally" \
        >/dev/null 2>>"$log")
      for key in symbol srcline; do
        echo "perf, cpu-clock samples by $key:"
        perf report -i "$dir/perf.data" --stdio --no-children --sort "$key" 2>>"$log" |
          grep -E '^ +[0-9.]+%' | sed -e 's/[ -]*$//' -n -e '1,10p'
      done
    fi
    if command -v valgrind >/dev/null; then
      (cd "$dir" && valgrind --tool=callgrind --cache-sim=yes --callgrind-out-file=callgrind.out \
        "$pbuild/patterntally/patterntally" >/dev/null 2>>"$log")
      echo "callgrind, instructions (Ir) and simulated L1 data read misses (D1mr) per function:"
      callgrind_annotate --inclusive=no --show=Ir,D1mr "$dir/callgrind.out" 2>>"$log" |
        sed -n '/PROGRAM TOTALS/p; /file:function/,$p' | grep -E '^ *[0-9,]+ ' |
        sed -E -n -e 's#[^ ]*/([^/ ]+:)#\1#' -e 's/([A-Za-z0-9_])\(.*$/\1/' \
          -e 's/ \[[^]]*\]$//' -e '1,12p'
      awk -v bytes="$(stat -L -c %s "$prof")" '/^summary:/ {
        printf "per corpus byte: %.1f instructions, %.2f L1 data read misses\n",
          $2 / bytes, $6 / bytes }' \
        "$dir/callgrind.out"
    fi
    echo '```'
  done
fi

exit "$status"
