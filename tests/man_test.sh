#!/usr/bin/env bash
# Checks the manual pages: each renders without a single warning and without
# words run together (an option glued to the text after it, "-C;every"), each
# shell session in its EXAMPLES section ("$ command" lines, each followed by
# its exact output) gives that output when run with the built programs, and
# each shows the lines its program prints for a missing input, for one that
# cannot be read, and for standard output sent into an input or an output.
# Each program's --help ends by naming its page, and
# where it is in the source tree.
# Usage: man_test.sh MAN_DIR PATTERNTALLY BITLADDER VARICODE [PATTERNTALLY_MPI]
set -euo pipefail
man_dir=$(realpath "$1")
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
ln -s "$(realpath "$2")" "$work/bin/patterntally"
ln -s "$(realpath "$3")" "$work/bin/bitladder"
ln -s "$(realpath "$4")" "$work/bin/varicode"
export PATH="$work/bin:$PATH" LC_ALL=C

render() {
  if command -v groff >/dev/null; then groff -man -Tutf8 -ww -z "$1" 2>&1
  else man --warnings -l "$1" 2>&1 >/dev/null; fi
}
# The page as plain text.
render_text() {
  if command -v groff >/dev/null; then groff -man -Tutf8 -P-cbou "$1" 2>/dev/null
  else MANWIDTH=80 man -l "$1" 2>/dev/null | col -b; fi
}

# Turns a line of roff no-fill text into the plain text it stands for.
plain() { sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/\\&//g' -e 's/\\e/\\/g'; }

# Runs the sessions of the EXAMPLES section of page $1 in a fresh directory.
check_examples() {
  local dir="$work/$(basename "$1")" expected="" actual="" command="" line failed=0
  mkdir "$dir"
  finish() {
    [[ -z $command ]] && return 0
    actual=$(cd "$dir" && sh -c "$command" 2>&1; echo "status $?")
    if [[ $actual != "${expected}status 0" ]]; then
      echo "FAIL: $1: '$command' gave:"; echo "$actual"; echo "expected:"; printf '%s' "$expected"
      return 1
    fi
  }
  while IFS= read -r line; do
    if [[ $line == '$ '* ]]; then
      finish "$1" || failed=1
      command=$(printf '%s\n' "${line#\$ }" | plain); expected=""
    elif [[ $line == .EE ]]; then
      finish "$1" || failed=1
      command=""
    else
      expected+="$(printf '%s\n' "$line" | plain)"$'\n'
    fi
  done < <(sed -n '/^\.SH EXAMPLES/,/^\.SH SEE ALSO/p' "$1" | sed -n '/^\.EX/,/^\.EE/p' |
           grep -v '^\.EX')
  return $failed
}

# Runs SETUP then PROGRAM ARGS in a fresh directory; each line it prints on
# standard error must stand, as printed, on PAGE, and there must be one.
shows_what_it_prints() {  # PAGE SETUP PROGRAM [ARGS]...
  local page=$1 setup=$2 dir line; shift 2
  dir=$(mktemp -d -p "$work")
  (cd "$dir" && eval "$setup" && "$@" </dev/null >/dev/null 2>"$dir.err") || true
  [[ -s $dir.err ]] || { echo "FAIL: $page: '$setup; $*' printed nothing on standard error"; return 1; }
  while IFS= read -r line; do
    grep -qxF -- "$line" < <(plain <"$man_dir/$page") || { echo "FAIL: $page does not show: $line"; return 1; }
  done <"$dir.err"
}

status=0
# A missing input and an input that cannot be read, as each page tells them.
defs='touch websites.txt patterns_valid_chars.txt patterns_recurrent.txt'
shows_what_it_prints patterntally.1 "$defs" patterntally || status=1
shows_what_it_prints patterntally.1 "$defs patterns_start.txt && rm websites.txt && mkdir websites.txt" \
  patterntally || status=1
for into in '>>websites.txt' '>patterns_and_frequencies.txt'; do
  shows_what_it_prints patterntally.1 "$defs patterns_start.txt" sh -c "exec patterntally $into" || status=1
done
shows_what_it_prints bitladder.1 true bitladder || status=1
shows_what_it_prints bitladder.1 'mkdir patterns_ordered_by_frequency.txt' bitladder || status=1
for into in '>>patterns_ordered_by_frequency.txt' '>map_varicodes.txt'; do
  shows_what_it_prints bitladder.1 'touch patterns_ordered_by_frequency.txt' sh -c "exec bitladder $into" ||
    status=1
done
shows_what_it_prints varicode.1 "$defs && echo '1 <a>' >map_varicodes.txt" varicode encode || status=1
shows_what_it_prints varicode.1 'mkdir map_varicodes.txt' varicode encode || status=1
for page in "$man_dir"/*.1; do
  check_examples "$page" || status=1
  command -v groff >/dev/null || command -v man >/dev/null || continue
  warnings=$(render "$page")
  if [[ -n $warnings ]]; then
    echo "FAIL: $page renders with warnings:"; echo "$warnings"; status=1
  fi
  if glued=$(render_text "$page" | grep -E -- '(^|[[:space:]])-{1,2}[[:alnum:]-]+[;,:.][[:alpha:]]'); then
    echo "FAIL: $page runs words together:"; echo "$glued"; status=1
  fi
done
for program in "${@:2}"; do
  # Not the leaks of the MPI library's own allocations, in a sanitizer build.
  last=$(ASAN_OPTIONS=${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}detect_leaks=0 "$program" --help | tail -n 1)
  name=$(basename "$program")
  if [[ $last != "The manual: man $name (man/$name.1 in the source tree)" || ! -f $man_dir/$name.1 ]]; then
    echo "FAIL: $name --help ends with '$last'"; status=1
  fi
done
if ((status == 0)) && ! command -v groff >/dev/null && ! command -v man >/dev/null; then
  echo "SKIPPED: neither groff nor man is installed, so the pages were not rendered"
  exit 77
fi
exit $status
