#!/usr/bin/env bash
# Checks what users get. "install": `cmake --install` into a scratch prefix,
# then the whole pipeline on the shipped example, run by the installed
# programs alone in a scratch copy. "package": CPack's .tar.gz and .deb hold
# both programs and both manual pages, with the project version.
# Usage: install_test.sh install|package BUILD_DIR EXAMPLES_DIR VERSION BINDIR MANDIR
set -euo pipefail
mode=$1 build=$(realpath "$2") examples=$(realpath "$3") version=$4 bindir=$5 mandir=$6
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
expect_eq() { [[ $1 == "$2" ]] || fail "$3: got '$1', expected '$2'"; }

if [[ $mode == install ]]; then
  prefix=$work/prefix
  cmake --install "$build" --prefix "$prefix" >/dev/null
  for program in patterntally bitladder; do
    [[ -x $prefix/$bindir/$program ]] || fail "$program is not installed in $bindir"
    [[ -f $prefix/$mandir/man1/$program.1 ]] || fail "$program.1 is not installed in $mandir/man1"
    expect_eq "$("$prefix/$bindir/$program" --version)" "$program $version" "$program --version"
  done
  mkdir "$work/run" && cd "$work/run"
  cp "$examples"/websites.txt "$examples"/patterns_{valid_chars,recurrent,start}.txt .
  installed_path="$prefix/$bindir:/usr/bin:/bin"  # the installed programs and nothing else of ours
  PATH=$installed_path patterntally >messages.txt || fail "patterntally exit status $?"
  PATH=$installed_path bitladder >summary.txt || fail "bitladder exit status $?"
  [[ -s patterns_and_frequencies.txt ]] || fail "no count report"
  [[ -s patterns_ordered_by_frequency.txt ]] || fail "no ranked pattern file"
  patterns=$(wc -l <patterns_ordered_by_frequency.txt)
  expect_eq "$(wc -l <map_varicodes.txt)" "$patterns" "code map lines"
  expect_eq "$(head -n 1 map_varicodes.txt)" "1 $(head -n 1 patterns_ordered_by_frequency.txt)" \
            "first code map line"
  expect_eq "$(sed -n 2p summary.txt)" "TOTAL NUMBER OF CODES:   $patterns" "summary"
  expect_eq "$(cut -f 2 patterns_and_frequencies.txt)" "$(cat patterns_ordered_by_frequency.txt)" \
            "count report and ranked pattern file"
else
  cpack --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
  tgz=$(ls "$work"/*.tar.gz) || fail "no .tar.gz"
  listing=$(tar -tzf "$tgz")
  for file in "$bindir/patterntally" "$bindir/bitladder" "$mandir/man1/patterntally.1" \
              "$mandir/man1/bitladder.1"; do
    grep -qx "[^/]*/$file" <<<"$listing" || fail ".tar.gz lacks $file"
  done
  if command -v dpkg-deb >/dev/null; then
    deb=$(ls "$work"/*.deb) || fail "no .deb"
    expect_eq "$(dpkg-deb -f "$deb" Version)" "$version" ".deb version"
    [[ -n $(dpkg-deb -f "$deb" Maintainer) && -n $(dpkg-deb -f "$deb" Description) ]] ||
      fail ".deb lacks a maintainer or description"
    dpkg-deb -x "$deb" "$work/deb"
    for program in patterntally bitladder; do
      expect_eq "$("$work/deb/usr/$bindir/$program" --version)" "$program $version" ".deb $program"
      [[ -f $work/deb/usr/$mandir/man1/$program.1 ]] || fail ".deb lacks $program.1"
    done
  fi
fi
echo "PASS: $mode"
