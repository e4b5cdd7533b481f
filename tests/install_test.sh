#!/usr/bin/env bash
# Checks what users get. "install": `cmake --install` into a scratch prefix,
# then the whole pipeline on the shipped example, run by the installed
# programs alone in a scratch copy. "package": CPack's .tar.gz and .deb hold
# the three programs and their manual pages, with the project version; the
# .deb is one Debian would take: copyright and changelog, gzipped pages,
# stripped programs, hardened when HARDENED is 1, and nothing lintian (if
# installed) calls an error or a warning. With MPI 1 (patterntally-mpi was
# built), patterntally-mpi is installed too, and packaged alone in
# patternladder-mpi, which depends on MPI while patternladder does not.
# libvaricode is installed with its header and varicode.pc, exports only its
# interface, and examples/embed.c builds and runs against the install with
# pkg-config alone; packaged, it is libvaricodeN and libvaricode-dev.
# Usage: install_test.sh install|package BUILD_DIR EXAMPLES_DIR VERSION BINDIR MANDIR HARDENED MPI
set -euo pipefail
mode=$1 build=$(realpath "$2") examples=$(realpath "$3") version=$4 bindir=$5 mandir=$6
hardened=${7:-0} mpi=${8:-0}
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
  programs=(patterntally bitladder varicode)
  ((mpi)) && programs+=(patterntally-mpi)
  for program in "${programs[@]}"; do
    [[ -x $prefix/$bindir/$program ]] || fail "$program is not installed in $bindir"
    stripped "$prefix/$bindir/$program"
    gzipped "$prefix/$mandir/man1/$program.1.gz"
    # (Built with the sanitizers, the MPI library's own allocations are not ours.)
    leaks=1; [[ $program == *-mpi ]] && leaks=0
    expect_eq "$(ASAN_OPTIONS=${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}detect_leaks=$leaks "$prefix/$bindir/$program" --version | sed -n 1p)" \
              "$program $version" "$program --version"
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
  expect_eq "$(grep -vc "^varicode: note: " encode.log)" "$(wc -l <messages.txt)" "varicode encode messages"
  PATH=$installed_path varicode decode codes.txt >decoded.txt || fail "varicode decode exit status $?"
  expect_eq "$(wc -l <decoded.txt)" "$(wc -l <websites.txt)" "decoded lines"
  PATH=$installed_path varicode report >report.txt || fail "varicode report exit status $?"
  expect_eq "$(sed -n 1p report.txt)" "websites: $(wc -l <websites.txt)" "varicode report"
  expect_eq "$(sed -n 4p report.txt)" "bits: $(tr -d '\n' <codes.txt | wc -c)" "varicode report bits"
  # libvaricode: it exports its varicode_ functions alone, and examples/embed.c
  # builds with pkg-config and nothing else against the scratch prefix, then
  # codes and decodes with the code map just made.
  pc=$(find "$prefix" -name varicode.pc)
  [[ -n $pc && -f $prefix/include/varicode.h ]] || fail "libvaricode's varicode.pc or varicode.h is not installed"
  library=$(find "$prefix" -name 'libvaricode.so.*.*')
  [[ -n $library && -f ${library%/*}/libvaricode.a && -L ${library%/*}/libvaricode.so ]] ||
    fail "libvaricode is not installed whole"
  stripped "$library"
  others=$(nm -D --defined-only "$library" | awk '$2 != "A" && $3 !~ /^varicode_/')
  [[ -z $others ]] || fail "libvaricode exports more than varicode_ functions: $others"
  if command -v pkg-config >/dev/null && command -v cc >/dev/null; then
    flags=$(PKG_CONFIG_PATH=${pc%/*} pkg-config --cflags --libs varicode) || fail "pkg-config varicode"
    # A library built with the sanitizers wants their runtime loaded first:
    # the program is then built with them too. (Not `ldd | grep -q`: under
    # pipefail, ldd cut short by grep would fail the test now and then.)
    sanitizers=()
    if [[ $(ldd "$library") == *libasan* ]]; then sanitizers=(-fsanitize=address,undefined); fi
    # shellcheck disable=SC2086  # the flags are words
    cc "$examples/embed.c" "${sanitizers[@]}" $flags -o embed >cc.log 2>&1 ||
      { cat cc.log; fail "embed.c does not build"; }
    ./embed . google.com wikipedia.org >embed.txt || fail "embed exit status $?"
    expect_eq "$(grep -c '^  decoded: google.com | google.com$' embed.txt)" 1 "embed decodes google.com"
    expect_eq "$(sed -n 2p embed.txt)" "google.com" "embed output"
    expect_eq "$(sed -n 3p embed.txt)" \
              "  text code: $(echo google.com | PATH=$installed_path varicode encode)" "embed's text code"
  fi
else
  cpack --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
  tgz=$(ls "$work"/*.tar.gz) || fail "no .tar.gz"
  listing=$(tar -tzf "$tgz")
  programs=(patterntally bitladder varicode)
  ((mpi)) && programs+=(patterntally-mpi)
  for program in "${programs[@]}"; do
    for file in "$bindir/$program" "$mandir/man1/$program.1.gz"; do
      grep -qx "[^/]*/$file" <<<"$listing" || fail ".tar.gz lacks $file"
    done
  done
  # A .deb: PACKAGE holds PROGRAMS, their pages, copyright and changelog.
  check_deb() {
    local package=$1 deb; shift
    deb=$(ls "$work/${package}_"*.deb) || fail "no .deb of $package"
    expect_eq "$(dpkg-deb -f "$deb" Version)" "$version" "$package version"
    [[ -n $(dpkg-deb -f "$deb" Maintainer) && -n $(dpkg-deb -f "$deb" Description) ]] ||
      fail "$package lacks a maintainer or description"
    dpkg-deb -x "$deb" "$work/$package"
    expect_eq "$(cd "$work/$package/usr/$bindir" && ls | xargs)" "$(printf '%s\n' "$@" | sort | xargs)" \
              "programs of $package"
    doc=$work/$package/usr/share/doc/$package
    expect_eq "$(sed -n 1p "$doc/copyright")" \
              "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
              "$package copyright header"
    gzipped "$doc/changelog.gz"
    [[ $(gzip -dc "$doc/changelog.gz" | sed -n 1p) == "patternladder ($version) "* ]] ||
      fail "$package changelog has no entry for $version on top"
    for program in "$@"; do
      binary=$work/$package/usr/$bindir/$program
      expect_eq "$("$binary" --version | sed -n 1p)" "$program $version" "$package $program"
      gzipped "$work/$package/usr/$mandir/man1/$program.1.gz"
      stripped "$binary"
      ((hardened)) || continue
      elf=$(readelf -hldW --dyn-syms "$binary")
      grep -Eq 'Type: +DYN' <<<"$elf" || fail "$program is not PIE"
      grep -q GNU_RELRO <<<"$elf" || fail "$program has no RELRO"
      grep -Eq 'BIND_NOW|FLAGS_1.* NOW' <<<"$elf" || fail "$program binds lazily"
      grep -q __stack_chk_fail <<<"$elf" || fail "$program has no stack protector"
    done
  }
  if command -v dpkg-deb >/dev/null; then
    check_deb patternladder patterntally bitladder varicode
    ! grep -Eiq 'mpi' <<<"$(dpkg-deb -f "$work"/patternladder_*.deb Depends)" ||
      fail "patternladder depends on MPI"
    if ((mpi)); then
      check_deb patternladder-mpi patterntally-mpi
      grep -Eq 'openmpi|mpich' <<<"$(dpkg-deb -f "$work"/patternladder-mpi_*.deb Depends)" ||
        fail "patternladder-mpi does not depend on MPI"
    fi
    # libvaricode: the shared library alone in libvaricodeN, the rest in -dev.
    lib_deb=$(ls "$work"/libvaricode[0-9]*_*.deb) || fail "no .deb of libvaricode"
    dev_deb=$(ls "$work"/libvaricode-dev_*.deb) || fail "no .deb of libvaricode-dev"
    grep -q '/libvaricode\.so\.[0-9.]*$' <<<"$(dpkg-deb -c "$lib_deb")" || fail "libvaricodeN lacks the library"
    for file in include/varicode.h 'libvaricode\.a' 'pkgconfig/varicode\.pc' 'libvaricode\.so '; do
      grep -q "$file" <<<"$(dpkg-deb -c "$dev_deb")" || fail "libvaricode-dev lacks $file"
    done
    [[ $(dpkg-deb -f "$dev_deb" Depends) == "libvaricode"[0-9]*" (= $version)" ]] ||
      fail "libvaricode-dev does not depend on its library"
    if command -v lintian >/dev/null; then
      # Its temporary files go where this script's go.
      TMPDIR=$work lintian --pedantic "$work"/*.deb >"$work/lintian.txt" 2>&1 || true
      ! grep '^[EW]: ' "$work/lintian.txt" || fail "lintian reports errors or warnings"
    fi
  fi
fi
echo "PASS: $mode"
