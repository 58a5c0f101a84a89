#!/usr/bin/python3
"""tormid-scan --html in a real browser.

Writes the page for several runs of the bundled example (a database
search, per sequence, with overlaps resolved, without E-values, and
records whose names are markup and quotes), loads each in Debian's
chromium, headless, with "#by-evalue" in the address, and checks on the
DOM the page's scripts leave: no script error, as many drawn domains
(elements with data-domain) as the run reported (rows of its --tsv), the
table sorted by E-value, and nothing fetched from elsewhere or injected
by a name.

usage: html_report_chromium.py TORMID_SCAN EXAMPLES_DIR
"""
import csv
import os
import re
import shutil
import subprocess
import sys
import tempfile

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")

HOSTILE = (">a<img src=x onerror=\"document.title='owned'\"> desc with </svg><script>alert(1)</script>\n"
           "WWWWACDEFGHIKLMNPQWWWWACDEFGHIKWWWW\n"
           ">quote\"and'apostrophe & amp\nACDEFGHIKLMNPQ\n")


def dom_of(page):
    done = subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--dump-dom",
                           "file://" + page + "#by-evalue"], capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        sys.exit("chromium failed on %s: %s" % (page, done.stderr[-2000:]))
    return done.stdout


def check(scan, folder, name, args):
    page, tsv = os.path.join(folder, name + ".html"), os.path.join(folder, name + ".tsv")
    subprocess.run([scan, "--quiet", "--html", page, "--tsv", tsv] + args, check=True, stdout=subprocess.DEVNULL)
    with open(tsv, newline="") as f:
        reported = len(list(csv.DictReader(f, delimiter="\t")))
    problems = []
    dom = dom_of(page)
    if re.search(r"<[a-zA-Z][^>]*\s(src|href)\s*=|@import|url\(", dom):
        problems.append("the page refers to something outside itself")
    drawn = re.search(r'id="drawn">(\d*)<', dom)
    errors = re.search(r'id="errors">([^<]*)<', dom)
    if not drawn or drawn.group(1) != str(reported):
        problems.append("drew %s domains of %d reported" % (drawn.group(1) if drawn else "no", reported))
    if not errors or errors.group(1).strip():
        problems.append("script errors: %s" % (errors.group(1) if errors else "the page did not load"))
    if 'data-sorted="evalue"' not in dom:
        problems.append("the table was not sorted by E-value")
    ranks = [int(r) for r in re.findall(r'<tr data-domain-row="\d+" data-rank="(\d+)"', dom)]
    if ranks != sorted(ranks) or len(ranks) != reported:
        problems.append("table rows out of E-value order (%d rows)" % len(ranks))
    if "<img" in dom or "<script>alert" in dom or "owned" in dom:
        problems.append("a name reached the page as markup")
    print("%-12s %4d domains reported, %s drawn%s" % (name, reported, drawn.group(1) if drawn else "-",
                                                       "" if not problems else ": " + "; ".join(problems)))
    return not problems and reported > 0


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    if not CHROMIUM:
        sys.exit("chromium is needed for this test (Debian: apt install chromium)")
    scan, examples = sys.argv[1], sys.argv[2]
    models = [os.path.join(examples, f) for f in ("zinc_finger.hmm", "zinc_finger.prf")]
    proteome = os.path.join(examples, "proteome.fasta")
    with tempfile.TemporaryDirectory() as folder:
        hostile = os.path.join(folder, "hostile.fa")
        with open(hostile, "w") as f:
            f.write(HOSTILE)
        word = os.path.join(folder, "w.prf")
        with open(word, "w") as f:
            letters = "ARNDCQEGHILKMFPSTWYV"
            f.write("(Peptide) from w Length: 9\nCons\n")
            for c in "ACDEFGHIK":
                f.write(c + " " + " ".join("5" if a == c else "-1" for a in letters) + "\n")
        cases = [
            ("search", ["-E", "1e-3"] + models + [proteome]),
            ("per_seq", ["--per-sequence", "-E", "1e-3"] + models + [proteome]),
            ("resolved", ["--per-sequence", "--resolve-overlaps", "-E", "1e-3"] + models + [proteome]),
            ("global", ["--mode", "global", "--min-score", "-1000"] + models[1:] + [proteome]),
            ("names", ["-E", "10", word, hostile]),
        ]
        ok = all([check(scan, folder, name, args) for name, args in cases])
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
