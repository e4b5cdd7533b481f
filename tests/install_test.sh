#!/usr/bin/env bash
# Checks what users get. "install": `cmake --install` into a scratch prefix,
# then the whole pipeline on the shipped example, run by the installed
# programs alone in a scratch copy. "package": CPack's .tar.gz and .deb hold
# the three programs and their manual pages, with the project version; the
# .deb is one Debian would take: copyright and changelog, gzipped pages,
# stripped programs, hardened when HARDENED is 1, and nothing lintian (if
# installed) calls an error or a warning.
# Usage: install_test.sh install|package BUILD_DIR EXAMPLES_DIR VERSION BINDIR MANDIR HARDENED
set -euo pipefail
mode=$1 build=$(realpath "$2") examples=$(realpath "$3") version=$4 bindir=$5 mandir=$6
hardened=${7:-0}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
expect_eq() { [[ $1 == "$2" ]] || fail "$3: got '$1', expected '$2'"; }
# As `gzip -9n` leaves it: valid, and no file name or time stamp in the header.
gzipped() {
  gzip -t "$1" 2>/dev/null || fail "$1 is not gzipped"
  expect_eq "$(od -An -tx1 -j3 -N5 "$1" | xargs)" "00 00 00 00 00" "name and time stamp of $1"
}
stripped() {
  ! grep -Eq '\] \.(symtab|comment) ' <<<"$(readelf -SW "$1")" || fail "$1 is not stripped"
}

if [[ $mode == install ]]; then
  prefix=$work/prefix
  cmake --install "$build" --prefix "$prefix" --strip >/dev/null
  for program in patterntally bitladder varicode; do
    [[ -x $prefix/$bindir/$program ]] || fail "$program is not installed in $bindir"
    stripped "$prefix/$bindir/$program"
    gzipped "$prefix/$mandir/man1/$program.1.gz"
    expect_eq "$("$prefix/$bindir/$program" --version | sed -n 1p)" "$program $version" \
              "$program --version"
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
  # varicode with that code map: every invalid byte is reported as patterntally
  # reports it (so encode ends with 1), every line decodes, and the report's
  # bits are those of the codes written.
  status=0
  PATH=$installed_path varicode encode websites.txt >codes.txt 2>encode.log || status=$?
  expect_eq "$status" 1 "varicode encode exit status (the example has invalid bytes)"
  expect_eq "$(wc -l <encode.log)" "$(wc -l <messages.txt)" "varicode encode messages"
  PATH=$installed_path varicode decode codes.txt >decoded.txt || fail "varicode decode exit status $?"
  expect_eq "$(wc -l <decoded.txt)" "$(wc -l <websites.txt)" "decoded lines"
  PATH=$installed_path varicode report >report.txt || fail "varicode report exit status $?"
  expect_eq "$(sed -n 1p report.txt)" "websites: $(wc -l <websites.txt)" "varicode report"
  expect_eq "$(sed -n 4p report.txt)" "bits: $(tr -d '\n' <codes.txt | wc -c)" "varicode report bits"
else
  cpack --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
  tgz=$(ls "$work"/*.tar.gz) || fail "no .tar.gz"
  listing=$(tar -tzf "$tgz")
  for file in "$bindir/patterntally" "$bindir/bitladder" "$bindir/varicode" \
              "$mandir/man1/patterntally.1.gz" "$mandir/man1/bitladder.1.gz" "$mandir/man1/varicode.1.gz"; do
    grep -qx "[^/]*/$file" <<<"$listing" || fail ".tar.gz lacks $file"
  done
  if command -v dpkg-deb >/dev/null; then
    deb=$(ls "$work"/*.deb) || fail "no .deb"
    expect_eq "$(dpkg-deb -f "$deb" Version)" "$version" ".deb version"
    [[ -n $(dpkg-deb -f "$deb" Maintainer) && -n $(dpkg-deb -f "$deb" Description) ]] ||
      fail ".deb lacks a maintainer or description"
    dpkg-deb -x "$deb" "$work/deb"
    doc=$work/deb/usr/share/doc/patternladder
    expect_eq "$(sed -n 1p "$doc/copyright")" \
              "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
              ".deb copyright header"
    gzipped "$doc/changelog.gz"
    [[ $(gzip -dc "$doc/changelog.gz" | sed -n 1p) == "patternladder ($version) "* ]] ||
      fail ".deb changelog has no entry for $version on top"
    for program in patterntally bitladder varicode; do
      binary=$work/deb/usr/$bindir/$program
      expect_eq "$("$binary" --version | sed -n 1p)" "$program $version" ".deb $program"
      gzipped "$work/deb/usr/$mandir/man1/$program.1.gz"
      stripped "$binary"
      ((hardened)) || continue
      elf=$(readelf -hldW --dyn-syms "$binary")
      grep -Eq 'Type: +DYN' <<<"$elf" || fail "$program is not PIE"
      grep -q GNU_RELRO <<<"$elf" || fail "$program has no RELRO"
      grep -Eq 'BIND_NOW|FLAGS_1.* NOW' <<<"$elf" || fail "$program binds lazily"
      grep -q __stack_chk_fail <<<"$elf" || fail "$program has no stack protector"
    done
    if command -v lintian >/dev/null; then
      lintian --pedantic "$deb" >"$work/lintian.txt" 2>&1 || true
      ! grep '^[EW]: ' "$work/lintian.txt" || fail "lintian reports errors or warnings"
    fi
  fi
fi
echo "PASS: $mode"
