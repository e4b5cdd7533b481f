#!/usr/bin/env bash
# Runs the commands of README.md as they stand. Every ```sh block follows a
# marker line "<!-- readme-test: MODE -->":
#   source  run in order in a scratch copy of the source tree, with HOME in
#           the scratch directory (so ~/.local stays in there too);
#   list    run in order in one scratch directory that holds, at the first
#           of them, only a copy of examples/websites.txt, with the programs
#           that the source blocks built in build/release on PATH;
#   corpus  run in a scratch copy of the example data, with the programs on
#           PATH; its two output files must equal those of one plain run of
#           patterntally, byte for byte;
#   skip    not run (the reason follows on the marker line).
# A ```text block right after a block that is run (blank lines between at
# most) is what that block prints, standard output and standard error
# together, exactly. Each folder at the top of the source tree must be named
# in the README ("bench/"), so that its Layout misses none.
# Usage: readme_commands_test.sh SOURCE_DIR PATTERNTALLY
set -euo pipefail
source_dir=$(realpath "$1") patterntally=$(realpath "$2")
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# 1. The blocks, their modes and their shown outputs, in README order.
modes=() blocks=() outputs=() mode="" block="" in_block="" after_sh=0
while IFS= read -r line; do
  if [[ -n $in_block ]]; then
    if [[ $line != '```' ]]; then block+="$line"$'\n'
    elif [[ $in_block == sh ]]; then blocks+=("$block") outputs+=("") in_block="" after_sh=1
    else outputs[-1]=$block in_block=""
    fi
  elif [[ $line =~ ^\<!--\ readme-test:\ ([a-z]+) ]]; then
    mode=${BASH_REMATCH[1]} after_sh=0
  elif [[ $line == '```sh' ]]; then
    [[ -n $mode ]] || fail "a sh block of README.md has no readme-test marker"
    modes+=("$mode") block="" in_block=sh mode=""
  elif [[ $line == '```text' ]] && ((after_sh)); then
    block="" in_block=text after_sh=0
  elif [[ -n $line ]]; then
    after_sh=0
  fi
done <"$source_dir/README.md"
((${#blocks[@]} > 0)) || fail "no sh blocks found in README.md"

for dir in "$source_dir"/*/; do
  name=$(basename "$dir")
  [[ $name == build* ]] && continue
  grep -qF -- "\`$name/\`" "$source_dir/README.md" || fail "README.md does not name the folder $name/"
done

# 2. Scratch copies: the source tree without build trees, and the example data.
mkdir "$work/src" "$work/home" "$work/bin" "$work/list" "$work/list-bin" "$work/single" "$work/sharded"
tar -C "$source_dir" --exclude=./.git --exclude='./build*' -cf - . | tar -C "$work/src" -xf -
ln -s "$patterntally" "$work/bin/patterntally"
for program in patterntally/patterntally bitladder/bitladder varicode/varicode; do
  ln -s "$work/src/build/release/$program" "$work/list-bin/"
done
cp "$source_dir/examples/websites.txt" "$work/list/"
for dir in single sharded; do
  cp "$source_dir"/examples/{websites,patterns_valid_chars,patterns_recurrent,patterns_start}.txt \
     "$work/$dir/"
done

# 3. Run them.
run() {  # DIR BLOCK [BIN]
  if ! output=$(cd "$1" && HOME="$work/home" PATH="${3:-$work/bin}:$PATH" TMPDIR="$work" \
                 bash -euo pipefail -c "$2" 2>&1); then
    echo "$output"; fail "README block failed in $1:"$'\n'"$2"
  fi
}
shows() {  # INDEX: the output of block INDEX is the one the README shows
  local expected=${outputs[$1]}
  [[ -z $expected || $output == "${expected%$'\n'}" ]] && return 0
  diff <(printf '%s\n' "${expected%$'\n'}") <(printf '%s\n' "$output") || true
  fail "README block printed other lines than it shows (above, < shown, > printed):"$'\n'"${blocks[$1]}"
}
for i in "${!blocks[@]}"; do
  case ${modes[$i]} in
    source) run "$work/src" "${blocks[$i]}"; shows "$i"; echo "ran: ${blocks[$i]}" ;;
    list)
      for program in "$work"/list-bin/*; do
        [[ -x $program ]] || fail "no $(basename "$program") in build/release: a list block before the build"
      done
      run "$work/list" "${blocks[$i]}" "$work/list-bin"; shows "$i"; echo "ran: ${blocks[$i]}" ;;
    corpus)
      (cd "$work/single" && "$patterntally" >/dev/null)
      run "$work/sharded" "${blocks[$i]}"
      for file in patterns_and_frequencies.txt patterns_ordered_by_frequency.txt; do
        cmp "$work/single/$file" "$work/sharded/$file" || fail "merged $file differs from one run"
      done
      echo "ran the shard merge: same files as one run" ;;
    skip) echo "skipped: ${blocks[$i]}" ;;
    *) fail "unknown readme-test mode '${modes[$i]}'" ;;
  esac
done
