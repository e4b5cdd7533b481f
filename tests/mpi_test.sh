#!/usr/bin/env bash
# patterntally-mpi on 1, 2, 3 and 5 ranks gives, byte for byte, the standard
# output, standard error, exit status and files of patterntally on one
# thread: on the example, on a corpus of many blocks with invalid bytes and a
# last line without a line feed, on fewer lines than ranks, on an empty or
# missing corpus, and with unusable definition lines; and a rank that cannot
# read the corpus.
# Usage: mpi_test.sh PATTERNTALLY_MPI|none PATTERNTALLY EXAMPLES_DIR [MPIEXEC]
set -euo pipefail
mpi=$1 patterntally=$(realpath "$2") examples=$(realpath "$3") mpiexec=${4:-mpirun}
if [[ $mpi == none ]] || ! command -v "$mpiexec" >/dev/null; then
  echo "SKIPPED: no MPI here (apt-get install openmpi-bin libopenmpi-dev), so patterntally-mpi is not tested"
  exit 77
fi
mpi=$(realpath "$mpi")
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
# Root may run MPI jobs here (CI runs as root); more ranks than cores.
run_mpi() { "$mpiexec" --allow-run-as-root --oversubscribe -np "$@"; }
export ASAN_OPTIONS=detect_leaks=0  # the MPI library's own allocations

make_case() {  # NAME: a directory with the example definitions and a corpus
  local dir=$work/$1
  mkdir "$dir"
  cp "$examples"/patterns_{valid_chars,recurrent,start}.txt "$dir"/
  case $1 in
    example) cp "$examples/websites.txt" "$dir"/ ;;
    generated)
      python3 - "$dir/websites.txt" <<'PY'
import random, sys
r = random.Random(3)
valid, invalid = "abcdefgh.:/-", "# \r\x01\xe9"
out = bytearray()
while len(out) < 3 << 20:
    n = r.randrange(3000) if r.randrange(1000) == 0 else r.randrange(60)
    out += bytes(ord(invalid[r.randrange(5)]) if r.randrange(64) == 0 else ord(valid[r.randrange(12)])
                 for _ in range(n))
    out += b"\r\n" if r.randrange(8) == 0 else b"\n"
out += b"https://www.ab#"
open(sys.argv[1], "wb").write(bytes(out))
PY
      ;;
    few-lines) printf 'ab#\n%*s#\n' 100000 '' | tr ' ' 'a' >"$dir/websites.txt" ;;
    empty) : >"$dir/websites.txt" ;;
    missing) ;;
    bad-definitions)
      cp "$examples/websites.txt" "$dir"/
      printf '<a>\nno brackets\n<a#>\n<ab\n' >>"$dir/patterns_recurrent.txt" ;;
  esac
}

for name in example generated few-lines empty missing bad-definitions; do
  make_case "$name"
  dir=$work/$name
  (cd "$dir" && "$patterntally" -j 1 >"$work/expected.out" 2>"$work/expected.err"; echo $? >"$work/expected.status")
  sed -i 's/^patterntally: /patterntally-mpi: /' "$work/expected.err"  # the notes name the program
  cat "$dir"/patterns_and_frequencies.txt "$dir"/patterns_ordered_by_frequency.txt >"$work/expected.files"
  for ranks in 1 2 3 5; do
    for threads in 1 2; do
      rm -f "$dir"/patterns_and_frequencies.txt "$dir"/patterns_ordered_by_frequency.txt
      status=0
      (cd "$dir" && run_mpi "$ranks" "$mpi" -j "$threads" >"$work/got.out" 2>"$work/got.err") || status=$?
      what="$name, $ranks ranks of $threads threads"
      [[ $status == "$(cat "$work/expected.status")" ]] || fail "$what: exit status $status"
      cmp -s "$work/expected.out" "$work/got.out" || fail "$what: standard output differs"
      cmp -s "$work/expected.err" "$work/got.err" || fail "$what: standard error differs: $(head -c 300 "$work/got.err")"
      cat "$dir"/patterns_and_frequencies.txt "$dir"/patterns_ordered_by_frequency.txt >"$work/got.files"
      cmp -s "$work/expected.files" "$work/got.files" || fail "$what: the reports differ"
    done
  done
  echo "same as patterntally: $name"
done
# A rank that cannot read the corpus says so and fails the run; the other
# ranks count its chunks, so the messages and reports are still complete.
dir=$work/generated
(cd "$dir" && "$patterntally" -j 1 >"$work/expected.out")
cat "$dir"/patterns_and_frequencies.txt "$dir"/patterns_ordered_by_frequency.txt >"$work/expected.files"
mkdir "$dir/elsewhere" && cp "$examples"/patterns_{valid_chars,recurrent,start}.txt "$dir/elsewhere"/
status=0
(cd "$dir" && run_mpi 3 sh -c '[ "$OMPI_COMM_WORLD_RANK" != 1 ] || cd elsewhere; exec "$0" -j 1' "$mpi" \
  >"$work/got.out" 2>"$work/got.err") || status=$?
[[ $status == 1 ]] || fail "a rank without the corpus: exit status $status"
grep -q 'patterntally-mpi: cannot read "websites.txt": No such file or directory' "$work/got.err" ||
  fail "a rank without the corpus: no failure line"
cmp -s "$work/expected.out" "$work/got.out" || fail "a rank without the corpus: standard output differs"
cat "$dir"/patterns_and_frequencies.txt "$dir"/patterns_ordered_by_frequency.txt >"$work/got.files"
cmp -s "$work/expected.files" "$work/got.files" || fail "a rank without the corpus: the reports differ"
echo "a rank without the corpus fails the run, and the others count its part"

# The messages wait in unnamed files: in $TMPDIR, else in /tmp, else in the
# working directory. With /tmp read-only and $TMPDIR unusable, the output is
# the same; with $TMPDIR full, the run says so and fails, and the reports are
# whole. Needs a mount namespace (root); skipped without one.
if unshare -m true 2>/dev/null; then
  spare=$(mktemp -d -p /var/tmp) && cp -r "$dir" "$spare/case" && rm -rf "$spare/case/elsewhere"
  # One run of 2 ranks with /tmp read-only and a full 64 KiB file system in
  # $spare/small; mpirun keeps its own files in $spare, the ranks' TMPDIR is $1.
  two_ranks_without_tmp() {
    status=0
    unshare -m sh -c 'mount -o bind,ro /tmp /tmp && mkdir -p "$1/small" &&
      mount -t tmpfs -o size=64k tmpfs "$1/small" && cd "$1/case" && TMPDIR="$1" "$2" --allow-run-as-root \
      --oversubscribe -np 2 -x TMPDIR="$4" "$3" -j 1 >"$1/got.out" 2>"$1/got.err"' \
      sh "$spare" "$mpiexec" "$mpi" "$1" || status=$?
  }
  two_ranks_without_tmp /proc
  [[ $status == 0 ]] || fail "/tmp read-only: exit status $status: $(head -c 300 "$spare/got.err")"
  cmp -s "$work/expected.out" "$spare/got.out" || fail "/tmp read-only: standard output differs"
  [[ $(ls -A "$spare/case" | wc -l) == 6 ]] || fail "/tmp read-only: files left behind: $(ls -A "$spare/case")"
  echo "with /tmp read-only, the messages wait in the working directory"
  rm "$spare"/case/patterns_{and_frequencies,ordered_by_frequency}.txt
  two_ranks_without_tmp "$spare/small"
  [[ $status == 1 ]] || fail "a full \$TMPDIR: exit status $status"
  grep -q "^patterntally-mpi: cannot write \"$spare/small\": No space left on device\$" "$spare/got.err" ||
    fail "a full \$TMPDIR: no failure line naming it: $(head -c 300 "$spare/got.err")"
  ! grep -q "cannot read" "$spare/got.err" || fail "a full \$TMPDIR: $(grep "cannot read" "$spare/got.err")"
  cat "$spare"/case/patterns_{and_frequencies,ordered_by_frequency}.txt >"$work/got.files"
  cmp -s "$work/expected.files" "$work/got.files" || fail "a full \$TMPDIR: the reports differ"
  echo "with \$TMPDIR full, the run fails and says so, and the reports are whole"
  rm -rf "$spare"
else
  echo "SKIPPED: no mount namespace here, so a read-only /tmp and a full \$TMPDIR are not tried"
fi
echo "PASS: patterntally-mpi"
