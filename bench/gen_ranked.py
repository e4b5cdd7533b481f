#!/usr/bin/env python3
# Writes a ranked pattern file for bitladder: --lines distinct lines
# "<fragment>", as patterntally writes them, with fragments of 2 to 12 bytes of
# the corpus alphabet. Each fragment begins with its line's index in base 38,
# so no two lines are equal, and is padded with random bytes.
import argparse
import random
import sys
import time
from pathlib import Path

ALPHABET = "abcdefghijklmnopqrstuvwxyz0123456789.-"


def fragment(i, rng):
    digits = []
    while True:
        i, d = divmod(i, len(ALPHABET))
        digits.append(ALPHABET[d])
        if i == 0:
            break
    text = "".join(digits) + "_"  # ends the index: padding cannot make two equal
    pad = rng.randint(2, 12) - len(text)
    if pad > 0:
        text += "".join(rng.choices(ALPHABET, k=pad))
    return text


def main():
    ap = argparse.ArgumentParser(description="Write a ranked pattern file for bitladder.")
    ap.add_argument("--lines", type=int, required=True, help="distinct lines to write")
    ap.add_argument("--out", type=Path, required=True)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    started = time.perf_counter()
    with open(args.out, "w", encoding="ascii", newline="\n") as f:
        for begin in range(0, args.lines, 1 << 16):
            end = min(args.lines, begin + (1 << 16))
            f.write("".join(f"<{fragment(i, rng)}>\n" for i in range(begin, end)))
    print(f"{args.out}: {args.lines} lines in {time.perf_counter() - started:.2f} s",
          file=sys.stderr)


if __name__ == "__main__":
    main()
