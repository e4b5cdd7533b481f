#!/usr/bin/env bash
# Runs the commands of README.md as they stand. Every ```sh block follows a
# marker line "<!-- readme-test: MODE -->":
#   source  run in order in a scratch copy of the source tree, with HOME in
#           the scratch directory (so ~/.local stays in there too);
#   corpus  run in a scratch copy of the example data, with the programs on
#           PATH; its two output files must equal those of one plain run of
#           patterntally, byte for byte;
#   skip    not run (the reason follows on the marker line).
# Usage: readme_commands_test.sh SOURCE_DIR PATTERNTALLY
set -euo pipefail
source_dir=$(realpath "$1") patterntally=$(realpath "$2")
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# 1. The blocks and their modes, in README order.
modes=() blocks=() mode="" block="" in_block=0
while IFS= read -r line; do
  if ((in_block)); then
    if [[ $line == '```' ]]; then blocks+=("$block"); in_block=0; else block+="$line"$'\n'; fi
  elif [[ $line =~ ^\<!--\ readme-test:\ ([a-z]+) ]]; then
    mode=${BASH_REMATCH[1]}
  elif [[ $line == '```sh' ]]; then
    [[ -n $mode ]] || fail "a sh block of README.md has no readme-test marker"
    modes+=("$mode") block="" in_block=1 mode=""
  fi
done <"$source_dir/README.md"
((${#blocks[@]} > 0)) || fail "no sh blocks found in README.md"

# 2. Scratch copies: the source tree without build trees, and the example data.
mkdir "$work/src" "$work/home" "$work/bin" "$work/single" "$work/sharded"
tar -C "$source_dir" --exclude=./.git --exclude='./build*' -cf - . | tar -C "$work/src" -xf -
ln -s "$patterntally" "$work/bin/patterntally"
for dir in single sharded; do
  cp "$source_dir"/examples/{websites,patterns_valid_chars,patterns_recurrent,patterns_start}.txt \
     "$work/$dir/"
done

# 3. Run them.
run() {  # DIR BLOCK
  if ! output=$(cd "$1" && HOME="$work/home" PATH="$work/bin:$PATH" TMPDIR="$work" \
                 bash -euo pipefail -c "$2" 2>&1); then
    echo "$output"; fail "README block failed in $1:"$'\n'"$2"
  fi
}
for i in "${!blocks[@]}"; do
  case ${modes[$i]} in
    source) run "$work/src" "${blocks[$i]}"; echo "ran: ${blocks[$i]}" ;;
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
