#!/usr/bin/env python3
# Writes the three patterntally definition files for a benchmark set into --out:
#   example      the definitions in examples/
#   large        --count most frequent fragments (2-10 bytes) of a corpus sample
#   adversarial  'a' and 'a'*k + 'b' for k = 1..64, no start patterns
import argparse
import heapq
import operator
import random
import re
import shutil
import sys
import time
from collections import Counter
from itertools import repeat
from pathlib import Path

sys.dont_write_bytecode = True  # keep bench/ free of __pycache__
import gen_corpus  # noqa: E402  (the line maker, beside this script)

EXAMPLES = Path(__file__).resolve().parents[1] / "examples"
FILES = ["patterns_valid_chars.txt", "patterns_recurrent.txt", "patterns_start.txt"]
SAMPLE_LINES = 200_000
MIN_LEN, MAX_LEN = 2, 10


def read_entries(path):
    return [line[1:-1] for line in path.read_text(encoding="latin-1").splitlines()
            if line.startswith("<") and line.endswith(">")]


def write_entries(path, entries):
    path.write_bytes("".join(f"<{e}>\n" for e in entries).encode("latin-1"))


def sample_text(lines, valid, starts):
    """The sample as the counter sees it: each line trimmed and stripped of its
    longest start pattern, with '\\n' wherever a line ends or an invalid byte
    stands, so that no fragment counted below can span one."""
    starts = sorted(starts, key=len, reverse=True)
    invalid = re.compile("[^" + re.escape("".join(sorted(valid))) + "]+")
    parts = []
    for line in lines:
        line = line.strip(" \t\r\n")
        for start in starts:
            if line.startswith(start):
                line = line[len(start):]
                break
        parts.append(invalid.sub("\n", line))
    return "\n".join(parts)


def frequent_fragments(text, count):
    """The `count` most frequent fragments of MIN_LEN..MAX_LEN valid bytes,
    overlapping occurrences included, by count then bytes.

    Fragments are counted one length at a time. A fragment occurs no more often
    than its prefix, so a position is extended to the next length only while
    its fragment could still be among the first `count`."""
    kept = {}                       # fragment -> count, for all lengths so far
    threshold = 1
    positions = range(len(text) - MIN_LEN + 1)
    for k in range(MIN_LEN, MAX_LEN + 1):
        ends = map(operator.add, positions, repeat(k))
        counts = Counter(map(text.__getitem__, map(slice, positions, ends)))
        for frag in [f for f in counts if "\n" in f]:
            del counts[frag]
        kept.update((f, c) for f, c in counts.items() if c >= threshold)
        if len(kept) >= count:
            threshold = heapq.nlargest(count, kept.values())[-1]
            kept = {f: c for f, c in kept.items() if c >= threshold}
        last = len(text) - k
        positions = [i for i in positions
                     if i < last and counts.get(text[i:i + k], 0) >= threshold]
    return sorted(kept, key=lambda f: (-kept[f], f))[:count]


def main():
    ap = argparse.ArgumentParser(description="Write patterntally definition files.")
    ap.add_argument("--set", required=True, choices=["example", "large", "adversarial"])
    ap.add_argument("--out", type=Path, required=True, help="directory to write into")
    ap.add_argument("--count", type=int, default=5000, help="recurrent patterns of the large set")
    ap.add_argument("--sample", type=Path,
                    help="corpus whose first lines the large set is drawn from "
                         "(default: lines made as gen_corpus.py makes them)")
    ap.add_argument("--sample-lines", type=int, default=SAMPLE_LINES)
    ap.add_argument("--seed", type=int, default=1, help="seed of the generated sample")
    ap.add_argument("--data", type=Path, default=gen_corpus.DEFAULT_DATA,
                    help="directory holding the domain lists, for the generated sample")
    args = ap.parse_args()
    args.out.mkdir(parents=True, exist_ok=True)
    started = time.perf_counter()

    if args.set == "example":
        for name in FILES:
            shutil.copyfile(EXAMPLES / name, args.out / name)
    elif args.set == "adversarial":
        shutil.copyfile(EXAMPLES / FILES[0], args.out / FILES[0])
        write_entries(args.out / FILES[1], ["a"] + ["a" * k + "b" for k in range(1, 65)])
        write_entries(args.out / FILES[2], [])
    else:
        valid = read_entries(EXAMPLES / FILES[0])
        starts = read_entries(EXAMPLES / FILES[2])
        if args.sample:
            with open(args.sample, encoding="latin-1", newline="") as f:
                lines = [line for line, _ in zip(f, range(args.sample_lines))]
        else:
            maker = gen_corpus.LineMaker(random.Random(args.seed), args.data)
            lines = maker.lines(args.sample_lines)
        fragments = frequent_fragments(sample_text(lines, valid, starts), args.count)
        if len(fragments) < args.count:
            print(f"only {len(fragments)} fragments in the sample", file=sys.stderr)
        shutil.copyfile(EXAMPLES / FILES[0], args.out / FILES[0])
        write_entries(args.out / FILES[1], fragments)
        shutil.copyfile(EXAMPLES / FILES[2], args.out / FILES[2])

    print(f"{args.set} set written to {args.out} in "
          f"{time.perf_counter() - started:.2f} s", file=sys.stderr)


if __name__ == "__main__":
    main()
