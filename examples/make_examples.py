#!/usr/bin/env python3
# Makes the example inputs of patterntally in this directory: websites.txt
# (about 2,000 websites built from the MIT-licensed domain lists top-sites.txt
# and domains-disposable.txt, with a few malformed lines) and the three
# definition files. Re-running it gives the same bytes.
import argparse
import random
import re
import shutil
from pathlib import Path

HERE = Path(__file__).resolve().parent
DEFAULT_DATA = HERE.parents[1] / "shared" / "data"
LINES = 2000

VALID = "abcdefghijklmnopqrstuvwxyz0123456789.-:/_"
STARTS = ["https://www.", "http://www.", "https://", "http://", "www."]
RECURRENT = [
    # top-level and second-level domains
    ".com", ".co.uk", ".co", ".com.br", ".org", ".net", ".de", ".fr", ".es",
    ".it", ".pl", ".ru", ".jp", ".in", ".ca", ".me", ".info", ".gov", ".edu",
    ".us", ".xyz", ".site", ".online", ".shop", ".live", ".club", ".space",
    ".ml", ".tk", ".ga", ".cf", ".gq",
    # words and syllables that recur in host names
    "google", "wikipedia", "amazon", "mail", "shop", "online", "news", "blog",
    "web", "info", "app", "cloud", "tech", "store", "www", "wiki", "support",
    "docs", "star", "live", "the", "art", "pro", "net", "ing", "er", "in", "my",
    # path fragments
    "/en/", "/user", "/faq", "/help", "/download", "login", "search", "about",
    "contact", "products", "index", ".html",
]
FORMS = ["https://www.{d}", "http://www.{d}", "https://{d}", "http://{d}",
         "www.{d}", "{d}", "https://{s}.{d}", "http://{s}.{d}", "{s}.{d}"]
FORM_WEIGHTS = [28, 6, 18, 6, 10, 18, 8, 3, 3]
SUBDOMAINS = ["shop", "mail", "blog", "news", "app", "m", "en", "de", "docs",
              "api", "store", "support", "my", "static", "cdn", "web"]
PATH_WORDS = ["about", "contact", "news", "blog", "login", "search", "products",
              "en", "de", "help", "faq", "user", "profile", "download", "pricing",
              "category", "tech", "docs", "getting-started", "wiki", "main_page",
              "index.html", "2023", "2024", "item-1234", "cart", "app", "settings"]
NON_ASCII = ["bücher.de", "café.fr", "müller-shop.de", "straße.de", "señor.es",
             "växjö.se", "crème-brûlée.fr", "zürich.ch", "łódź.pl", "日本語.jp"]
QUERIES = ["/search?q=shoes&page=2", "/index.php?id=42", "/#contact"]
BLANKS = ["", " ", "  ", "\t", " \t"]


def read_domains(path):
    names = path.read_text(encoding="utf-8").split()
    return [n for n in names if re.fullmatch(r"[a-z0-9.-]+", n)]


def website(rng, domain):
    line = rng.choices(FORMS, FORM_WEIGHTS)[0].format(d=domain, s=rng.choice(SUBDOMAINS))
    tail = rng.random()
    if tail < 0.15:
        line += "/"
    elif tail < 0.30:
        line += "/" + "/".join(rng.sample(PATH_WORDS, rng.choice([1, 1, 2, 3])))
    return line


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--data", type=Path, default=DEFAULT_DATA,
                    help="directory holding top-sites.txt and domains-disposable.txt")
    args = ap.parse_args()
    rng = random.Random(20240611)
    top = [d.removeprefix("www.") for d in read_domains(args.data / "top-sites.txt")]
    disposable = read_domains(args.data / "domains-disposable.txt")

    def pick():
        return rng.choice(top) if rng.random() < 0.5 else rng.choice(disposable)

    # Which lines get which fault; a line may get more than one.
    odd = {kind: set(rng.sample(range(LINES), k)) for kind, k in
           [("blanks", 30), ("crlf", 30), ("case", 25), ("non_ascii", 15), ("query", 3)]}
    out = []
    for i in range(LINES):
        if i in odd["non_ascii"]:
            line = website(rng, rng.choice(NON_ASCII))
        elif i in odd["case"]:  # all upper case, or a capitalised name
            line = website(rng, pick())
            line = line.upper() if rng.random() < 0.4 else website(rng, pick().capitalize())
        else:
            line = website(rng, pick())
        if i in odd["query"]:
            line += rng.choice(QUERIES)
        if i in odd["blanks"]:
            lead, trail = "", ""
            while not lead + trail:
                lead, trail = rng.choice(BLANKS), rng.choice(BLANKS)
            line = lead + line + trail
        out.append(line + ("\r\n" if i in odd["crlf"] else "\n"))

    (HERE / "websites.txt").write_bytes("".join(out).encode("utf-8"))
    for name, entries in [("patterns_valid_chars.txt", VALID),
                          ("patterns_start.txt", STARTS),
                          ("patterns_recurrent.txt", RECURRENT)]:
        (HERE / name).write_bytes("".join(f"<{e}>\n" for e in entries).encode("ascii"))
    for name in ["top-sites", "domains-disposable"]:
        shutil.copyfile(args.data / f"LICENSE.{name}", HERE / f"LICENSE.{name}")


if __name__ == "__main__":
    main()
