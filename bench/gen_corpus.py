#!/usr/bin/env python3
# Writes a benchmark corpus for patterntally of about --size bytes: website
# lines built from the domain lists in shared/data, in the forms of
# examples/websites.txt, a small share with blanks, CR LF ends, upper case,
# non-ASCII letters or queries. --adversarial writes long lines of 'a' instead.
import argparse
import random
import re
import sys
import time
from pathlib import Path

DEFAULT_DATA = Path(__file__).resolve().parents[2] / "shared" / "data"
POOL_LINES = 1 << 18     # distinct lines generated once per run
CHUNK_LINES = 1024       # the pool is written as shuffled chunks of this many lines

FORMS = ["https://www.{d}", "http://www.{d}", "https://{d}", "http://{d}",
         "www.{d}", "{d}", "https://{s}.{d}", "http://{s}.{d}", "{s}.{d}"]
FORM_WEIGHTS = [28, 6, 18, 6, 10, 18, 8, 3, 3]
SUBDOMAINS = ["shop", "mail", "blog", "news", "app", "m", "en", "de", "docs",
              "api", "store", "support", "my", "static", "cdn", "web"]
PATH_WORDS = ["about", "contact", "news", "blog", "login", "search", "products",
              "en", "de", "help", "faq", "user", "profile", "download", "pricing",
              "category", "tech", "docs", "getting-started", "wiki", "main_page",
              "index.html", "2023", "2024", "item-1234", "cart", "app", "settings"]
ACCENTED = {"a": "äá", "c": "ç", "e": "éè", "i": "í", "n": "ñ", "o": "öó", "u": "üú", "s": "ß"}
QUERIES = ["/search?q=shoes&page=2", "/index.php?id=42", "/#contact", "/?lang=en",
           "/watch?v=x7ab3"]
BLANKS = ["", " ", "  ", "\t", " \t"]
# Share of lines with each fault (a line may have several).
P_CASE, P_NON_ASCII, P_QUERY, P_BLANKS, P_CRLF = 0.001, 0.0003, 0.0005, 0.002, 0.003


def read_domains(path):
    names = path.read_text(encoding="utf-8").split()
    return [n for n in names if re.fullmatch(r"[a-z0-9.-]+", n)]


class LineMaker:
    """Makes website lines, without line ends, from one random generator."""

    def __init__(self, rng, data_dir):
        self.rng = rng
        self.top = [d.removeprefix("www.") for d in read_domains(data_dir / "top-sites.txt")]
        self.disposable = read_domains(data_dir / "domains-disposable.txt")

    def domain(self):
        rng = self.rng
        return rng.choice(self.top) if rng.random() < 0.4 else rng.choice(self.disposable)

    def website(self, domain):
        rng = self.rng
        line = rng.choices(FORMS, FORM_WEIGHTS)[0].format(d=domain, s=rng.choice(SUBDOMAINS))
        tail = rng.random()
        if tail < 0.15:
            line += "/"
        elif tail < 0.40:
            line += "/" + "/".join(rng.sample(PATH_WORDS, rng.choice([1, 1, 2, 3])))
        return line

    def accented(self, domain):
        name = domain[:domain.rfind(".")]  # leave the top-level domain alone
        spots = [i for i, ch in enumerate(name) if ch in ACCENTED]
        if not spots:
            return "ü" + domain
        i = self.rng.choice(spots)
        return domain[:i] + self.rng.choice(ACCENTED[domain[i]]) + domain[i + 1:]

    def line(self):
        rng = self.rng
        domain = self.domain()
        if rng.random() < P_NON_ASCII:
            domain = self.accented(domain)
        case = rng.random() < P_CASE
        if case and rng.random() < 0.6:
            domain = domain.capitalize()
            case = False
        line = self.website(domain)
        if case:
            line = line.upper()
        if rng.random() < P_QUERY:
            line += rng.choice(QUERIES)
        if rng.random() < P_BLANKS:
            lead, trail = "", ""
            while not lead + trail:
                lead, trail = rng.choice(BLANKS), rng.choice(BLANKS)
            line = lead + line + trail
        return line

    def lines(self, n):
        """n lines, each with its line end (LF, or CR LF for a few)."""
        return [self.line() + ("\r\n" if self.rng.random() < P_CRLF else "\n")
                for _ in range(n)]


def write_websites(f, size, rng, data_dir):
    pool = LineMaker(rng, data_dir).lines(POOL_LINES)
    chunks = [("".join(pool[i:i + CHUNK_LINES])).encode("utf-8")
              for i in range(0, len(pool), CHUNK_LINES)]
    written = 0
    while True:
        order = list(range(len(chunks)))
        rng.shuffle(order)
        for i in order:
            chunk = chunks[i]
            left = size - written
            if len(chunk) >= left:  # last, partial chunk: stop at a line end
                chunk = chunk[:chunk.rfind(b"\n", 0, left) + 1]
                f.write(chunk)
                return written + len(chunk)
            f.write(chunk)
            written += len(chunk)


def write_adversarial(f, size, rng):
    run = b"a" * 8000
    block = bytearray()
    written = 0
    while True:
        n = min(rng.randint(2000, 8000), size - written - 1)
        if n < 1:
            break
        block += run[:n]
        block += b"\n"
        written += n + 1
        if len(block) >= 1 << 22:
            f.write(block)
            block.clear()
    f.write(block)
    return written


def main():
    ap = argparse.ArgumentParser(description="Write a benchmark corpus for patterntally.")
    ap.add_argument("--size", type=int, required=True, help="bytes to write (at most)")
    ap.add_argument("--out", type=Path, required=True)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--data", type=Path, default=DEFAULT_DATA,
                    help="directory holding top-sites.txt and domains-disposable.txt")
    ap.add_argument("--adversarial", action="store_true",
                    help="lines of 2,000-8,000 'a' instead of websites")
    args = ap.parse_args()
    rng = random.Random(args.seed)
    start = time.perf_counter()
    with open(args.out, "wb") as f:
        if args.adversarial:
            written = write_adversarial(f, args.size, rng)
        else:
            written = write_websites(f, args.size, rng, args.data)
    secs = time.perf_counter() - start
    print(f"{args.out}: {written} bytes in {secs:.2f} s "
          f"({written / max(secs, 1e-9) / 1e6:.0f} MB/s)", file=sys.stderr)


if __name__ == "__main__":
    main()
