#!/usr/bin/env bash
# patterntally-mpi on 1, 2, 3 and 5 ranks gives, byte for byte, the standard
# output, standard error, exit status and files of patterntally on one
# thread: on the example, on a corpus of many blocks with invalid bytes and a
# last line without a line feed, on fewer lines than ranks, on an empty or
# missing corpus, and with unusable definition lines; with --messages=FILE,
# FILE holds that standard output, on a corpus with many messages and on one
# with none, and is kept as it was when a rank fails or the disk is full; and
# a rank that cannot
# read the corpus, a definition file that cannot be read, a FIFO corpus, ranks that read other definitions, and a
# rank 0 that gets no thread.
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
    clean) LC_ALL=C tr '# \r\001\351' aaaaa <"$work/generated/websites.txt" >"$dir/websites.txt" ;;
    few-lines) printf 'ab#\n%*s#\n' 100000 '' | tr ' ' 'a' >"$dir/websites.txt" ;;
    empty) : >"$dir/websites.txt" ;;
    missing) ;;
    bad-definitions)
      cp "$examples/websites.txt" "$dir"/
      printf '<a>\nno brackets\n<a#>\n<ab\n' >>"$dir/patterns_recurrent.txt" ;;
  esac
}

no_temporaries() {  # WHAT DIR
  [[ $(ls -A "$2") != *tmp-patternladder* ]] || fail "$1: a temporary was left: $(ls -A "$2")"
}
# Runs with --messages on 1, 2 and 3 ranks, in the forms getopt_long takes:
# FILE holds what patterntally printed, nothing else is printed, and when the
# run fails, the old FILE is kept.
messages_same_as_patterntally() {  # NAME DIR
  local forms=(--messages=messages.txt "--messages messages.txt" --mess=messages.txt)
  for ranks in 1 2 3; do
    rm -f "$2"/patterns_and_frequencies.txt "$2"/patterns_ordered_by_frequency.txt
    echo old >"$2/messages.txt"
    status=0
    # shellcheck disable=SC2086  # the second form is two words
    (cd "$2" && run_mpi "$ranks" "$mpi" -j 1 ${forms[ranks - 1]} >"$work/got.out" 2>"$work/got.err") || status=$?
    what="$1, $ranks ranks, ${forms[ranks - 1]}"
    [[ $status == "$(cat "$work/expected.status")" ]] || fail "$what: exit status $status"
    [[ ! -s $work/got.out ]] || fail "$what: standard output is not empty"
    cmp -s "$work/expected.err" "$work/got.err" || fail "$what: standard error differs: $(head -c 300 "$work/got.err")"
    if [[ $status == 0 ]]; then
      cmp -s "$work/expected.out" "$2/messages.txt" || fail "$what: the messages differ"
      cat "$2"/patterns_and_frequencies.txt "$2"/patterns_ordered_by_frequency.txt >"$work/got.files"
      cmp -s "$work/expected.files" "$work/got.files" || fail "$what: the reports differ"
    else
      [[ $(cat "$2/messages.txt") == old ]] || fail "$what: the old messages file was replaced"
    fi
    no_temporaries "$what" "$2"
  done
  rm "$2/messages.txt"
}

for name in example generated clean few-lines empty missing bad-definitions; do
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
  messages_same_as_patterntally "$name" "$dir"
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
# With --messages, a failed rank keeps the old messages file and both old
# reports: the three are replaced together, when every rank succeeded.
echo old | tee "$dir"/{messages,patterns_and_frequencies,patterns_ordered_by_frequency}.txt >/dev/null
status=0
(cd "$dir" && run_mpi 3 sh -c '[ "$OMPI_COMM_WORLD_RANK" != 1 ] || cd elsewhere; exec "$0" -j 1 --messages=messages.txt' \
  "$mpi" >"$work/got.out" 2>"$work/got.err") || status=$?
[[ $status == 1 ]] || fail "a rank without the corpus, --messages: exit status $status"
[[ $(cat "$dir"/{messages,patterns_and_frequencies,patterns_ordered_by_frequency}.txt) == $'old\nold\nold' ]] ||
  fail "a rank without the corpus, --messages: a file was replaced"
no_temporaries "a rank without the corpus, --messages" "$dir"
rm "$dir/messages.txt"
echo "with --messages, a failed rank leaves the messages file and the reports as they were"

# A definition file that exists but cannot be read stops the run on every
# rank, with neither report replaced.
dir=$work/unreadable
mkdir -p "$dir/patterns_start.txt" && cp "$examples"/patterns_{valid_chars,recurrent}.txt "$examples/websites.txt" "$dir"/
echo old >"$dir/patterns_and_frequencies.txt" && echo old >"$dir/patterns_ordered_by_frequency.txt"
status=0
(cd "$dir" && run_mpi 2 "$mpi" -j 1 >"$work/got.out" 2>"$work/got.err") || status=$?
[[ $status == 1 ]] || fail "an unreadable definition file: exit status $status"
grep -q 'patterntally-mpi: cannot read "patterns_start.txt": Is a directory' "$work/got.err" ||
  fail "an unreadable definition file: no failure line"
[[ $(cat "$dir/patterns_and_frequencies.txt" "$dir/patterns_ordered_by_frequency.txt") == $'old\nold' ]] ||
  fail "an unreadable definition file: a report was replaced"
echo "an unreadable definition file stops the run, nothing replaced"

# Expected: patterntally -j 1 in $1 (standard output and both reports).
expect_from() {
  (cd "$1" && "$patterntally" -j 1 >"$work/expected.out")
  cat "$1"/patterns_and_frequencies.txt "$1"/patterns_ordered_by_frequency.txt >"$work/expected.files"
}
same_as_expected() {  # WHAT DIR
  cmp -s "$work/expected.out" "$work/got.out" || fail "$1: standard output differs"
  cat "$2"/patterns_and_frequencies.txt "$2"/patterns_ordered_by_frequency.txt >"$work/got.files"
  cmp -s "$work/expected.files" "$work/got.files" || fail "$1: the reports differ"
}

# --messages=FILE where FILE is a link (the file it points to is replaced),
# a FIFO (rank 0 writes it in place, in order), a directory or a full device
# (the run fails with one line, and no report is replaced).
dir=$work/generated
expect_from "$dir"
ln -s real.txt "$dir/link.txt" && echo old >"$dir/real.txt"
mkfifo "$dir/fifo"
for file in link.txt fifo "$dir" /dev/full; do
  echo old | tee "$dir"/patterns_{and_frequencies,ordered_by_frequency}.txt >/dev/null
  [[ $file != fifo ]] || { cat "$dir/fifo" >"$work/fifo.out" & }
  status=0
  (cd "$dir" && run_mpi 2 "$mpi" -j 1 --messages="$file" >"$work/got.out" 2>"$work/got.err") || status=$?
  wait
  case $file in
    link.txt | fifo)
      [[ $status == 0 ]] || fail "--messages=$file: exit status $status: $(head -c 300 "$work/got.err")"
      [[ $file == fifo ]] || { [[ -L $dir/link.txt ]] && cp "$dir/real.txt" "$work/fifo.out"; } ||
        fail "--messages=$file: the link was replaced"
      cmp -s "$work/expected.out" "$work/fifo.out" || fail "--messages=$file: the messages differ"
      cat "$dir"/patterns_and_frequencies.txt "$dir"/patterns_ordered_by_frequency.txt >"$work/got.files"
      cmp -s "$work/expected.files" "$work/got.files" || fail "--messages=$file: the reports differ"
      ;;
    *)
      reason=$([[ $file == /dev/full ]] && echo "No space left on device" || echo "Is a directory")
      [[ $status == 1 ]] || fail "--messages=$file: exit status $status"
      # The ranks' lines, before mpirun's own box.
      [[ $(sed '/^-----/,$d' "$work/got.err") == "patterntally-mpi: cannot write \"$file\": $reason" ]] ||
        fail "--messages=$file: not one failure line: $(head -c 300 "$work/got.err")"
      [[ $(cat "$dir"/patterns_{and_frequencies,ordered_by_frequency}.txt) == $'old\nold' ]] ||
        fail "--messages=$file: a report was replaced"
      ;;
  esac
  no_temporaries "--messages=$file" "$dir"
done
rm "$dir"/{link.txt,real.txt,fifo}
echo "--messages follows a link, writes a FIFO in place, and fails whole on a directory or a full device"

# A corpus that is a FIFO is read by rank 0 alone: no other rank waits for a
# writer that has come and gone before it started.
dir=$work/fifo
mkdir "$dir" && cp "$examples"/patterns_{valid_chars,recurrent,start}.txt "$dir"/
head -n 200 "$examples/websites.txt" >"$dir/websites.txt"
expect_from "$dir"
lines=$(cat "$dir/websites.txt") && rm "$dir/websites.txt" && mkfifo "$dir/websites.txt"
for ranks in 2 3; do
  (printf '%s\n' "$lines" >"$dir/websites.txt") &
  writer=$!
  status=0
  (cd "$dir" && timeout 60 "$mpiexec" --allow-run-as-root --oversubscribe -np "$ranks" "$mpi" -j 1 \
    >"$work/got.out" 2>"$work/got.err") || status=$?
  kill "$writer" 2>/dev/null || true
  [[ $status == 0 ]] || fail "a FIFO corpus, $ranks ranks: exit status $status: $(head -c 300 "$work/got.err")"
  same_as_expected "a FIFO corpus, $ranks ranks" "$dir"
done
echo "a FIFO corpus is counted by rank 0 alone"

# Ranks that read other definitions, even as many entries, fail the run before
# it counts: each is named, and neither report is replaced.
for side in ours theirs; do
  mkdir -p "$work/$side"
  cp "$examples"/{websites,patterns_valid_chars,patterns_start}.txt "$work/$side"/
done
cp "$examples/patterns_recurrent.txt" "$work/ours"/
sed '1s/.*/<zzq>/' "$examples/patterns_recurrent.txt" >"$work/theirs/patterns_recurrent.txt"
echo old | tee "$work"/ours/patterns_{and_frequencies,ordered_by_frequency}.txt >/dev/null
status=0
run_mpi 1 "$mpi" -C "$work/ours" -j 1 : -np 2 "$mpi" -C "$work/theirs" -j 1 >/dev/null 2>"$work/got.err" ||
  status=$?
[[ $status == 1 ]] || fail "other definitions: exit status $status"
for rank in 1 2; do
  grep -qx "patterntally-mpi: rank $rank read other definition files than rank 0" "$work/got.err" ||
    fail "other definitions: rank $rank not named: $(head -c 300 "$work/got.err")"
done
[[ $(cat "$work"/ours/patterns_{and_frequencies,ordered_by_frequency}.txt) == $'old\nold' ]] ||
  fail "other definitions: a report was replaced"
echo "ranks that read other definitions fail the run, named"

# Without a thread to spare (here no std::thread starts at all), rank 0
# counts and writes on its main thread, with a note, and the run is whole.
if cc -shared -fPIC -o "$work/no_threads.so" -x c - -ldl 2>/dev/null <<'C'; then
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <string.h>
/* Refuses the threads of std::thread, whose start routine is libstdc++'s. */
int pthread_create(pthread_t *t, const pthread_attr_t *a, void *(*f)(void *), void *arg) {
  Dl_info in;
  if (dladdr((void *)f, &in) && in.dli_fname && strstr(in.dli_fname, "libstdc++")) return EAGAIN;
  int (*next)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *) =
      (int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *))dlsym(RTLD_NEXT, "pthread_create");
  return next(t, a, f, arg);
}
C
  dir=$work/generated
  expect_from "$dir"
  for ranks in 1 2; do
    status=0
    (cd "$dir" && ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 run_mpi "$ranks" \
      -x LD_PRELOAD="$work/no_threads.so" "$mpi" -j 1 >"$work/got.out" 2>"$work/got.err") || status=$?
    [[ $status == 0 ]] || fail "no threads, $ranks ranks: exit status $status: $(head -c 300 "$work/got.err")"
    grep -q '^patterntally-mpi: .*thread.*main thread' "$work/got.err" ||
      fail "no threads, $ranks ranks: no note: $(head -c 300 "$work/got.err")"
    same_as_expected "no threads, $ranks ranks" "$dir"
    (cd "$dir" && ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 run_mpi "$ranks" \
      -x LD_PRELOAD="$work/no_threads.so" "$mpi" -j 1 --messages=messages.txt >/dev/null 2>&1) ||
      fail "no threads, $ranks ranks, --messages: the run failed"
    cmp -s "$work/expected.out" "$dir/messages.txt" || fail "no threads, $ranks ranks: the messages file differs"
    rm "$dir/messages.txt"
  done
  echo "without threads, rank 0 counts and writes on its main thread"
else
  echo "SKIPPED: no C compiler here, so a run without threads is not tried"
fi

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
  # A messages file on a full file system: one line, and the old messages
  # file and reports are kept, with no temporary left beside them; on 2 ranks,
  # which write it through MPI-IO, and on 1, which writes it as it counts.
  for ranks in 2 1; do
    echo old | tee "$spare"/case/patterns_{and_frequencies,ordered_by_frequency}.txt >/dev/null
    status=0
    unshare -m sh -c 'mkdir -p "$1/small" && mount -t tmpfs -o size=64k tmpfs "$1/small" &&
      echo old >"$1/small/messages.txt" && cd "$1/case" && TMPDIR="$1" "$2" --allow-run-as-root --oversubscribe \
      -np "$4" "$3" -j 1 --messages="$1/small/messages.txt" >"$1/got.out" 2>"$1/got.err"; s=$?;
      cat "$1/small/messages.txt" >"$1/kept.txt"; ls -A "$1/small" >"$1/left.txt"; exit $s' \
      sh "$spare" "$mpiexec" "$mpi" "$ranks" || status=$?
    [[ $status == 1 ]] || fail "a full messages file system, $ranks ranks: exit status $status"
    [[ $(sed '/^-----/,$d' "$spare/got.err") == \
      "patterntally-mpi: cannot write \"$spare/small/messages.txt\": No space left on device" ]] ||
      fail "a full messages file system, $ranks ranks: not one failure line: $(head -c 300 "$spare/got.err")"
    [[ $(cat "$spare/kept.txt") == old && $(cat "$spare/left.txt") == messages.txt ]] ||
      fail "a full messages file system, $ranks ranks: the old file is not kept alone: $(cat "$spare/left.txt")"
    [[ $(cat "$spare"/case/patterns_{and_frequencies,ordered_by_frequency}.txt) == $'old\nold' ]] ||
      fail "a full messages file system, $ranks ranks: a report was replaced"
  done
  echo "with the messages file's file system full, the run fails and says so, and nothing is replaced"
  rm -rf "$spare"
else
  echo "SKIPPED: no mount namespace here, so a read-only /tmp and a full \$TMPDIR are not tried"
fi
echo "PASS: patterntally-mpi"
