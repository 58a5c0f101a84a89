#!/usr/bin/python3
"""Biopython's HMMER readers on tormid-scan's --tblout and --domtblout.

Runs tormid-scan on the bundled example as a database search and, with
--per-sequence, as a library scan, each time writing the two HMMER tables
and tormid's own --tsv; then reads the HMMER tables with Bio.SearchIO
(hmmer3-tab, hmmsearch3-domtab, hmmscan3-domtab) and checks that they
hold the same pairs, domains, coordinates and E-values as the tsv, in
order of significance.

Then names that break such readers: a name starting with "#" (a comment
line), an empty header and a record named "-" (one hit twice), bytes that
are not UTF-8: each sequence is its own hit, read as text.

usage: hmmer_tables_biopython.py TORMID_SCAN EXAMPLES_DIR
"""
import csv
import os
import subprocess
import sys
import tempfile

try:
    from Bio import SearchIO
except ImportError:
    sys.exit("Biopython is needed for this test (Debian: apt install python3-biopython)")


def run(scan, examples, folder, per_sequence):
    tables = {k: os.path.join(folder, k) for k in ("tbl", "domtbl", "tsv")}
    args = [scan, "--quiet", "-E", "1", "--tblout", tables["tbl"], "--domtblout", tables["domtbl"],
            "--tsv", tables["tsv"]]
    if per_sequence:
        args.append("--per-sequence")
    # Two profiles, so that queries (or targets) change within a table.
    args += [os.path.join(examples, "zinc_finger.hmm"), os.path.join(examples, "zinc_finger.prf"),
             os.path.join(examples, "proteome.fasta")]
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    with open(tables["tsv"], newline="") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    return tables, rows


def check(condition, what):
    if not condition:
        sys.exit("FAIL: " + what)


def check_tables(tables, rows, per_sequence):
    # The tsv's domains, keyed as the HMMER tables see them.
    def key(row):
        query, target = (row["sequence"], row["#profile"]) if per_sequence else (row["#profile"], row["sequence"])
        return query, target

    if not per_sequence:
        # tormid's own table: each profile's domains by E-value.
        for k in range(1, len(rows)):
            if rows[k]["#profile"] == rows[k - 1]["#profile"]:
                check(float(rows[k - 1]["evalue"]) <= float(rows[k]["evalue"]), "tsv out of order at row %d" % k)

    domains = {}
    for row in rows:
        domains.setdefault(key(row), []).append(row)
    check(len(domains) > 10, "too few pairs to test (%d)" % len(domains))

    # Per-sequence table: one hit per pair, its best domain's E-value, and
    # the hits of each query by E-value.
    pairs = 0
    for query in SearchIO.parse(tables["tbl"], "hmmer3-tab"):
        evalues = [hit.evalue for hit in query.hits]
        check(evalues == sorted(evalues), "hits of %s not in order of E-value" % query.id)
        for hit in query.hits:
            pairs += 1
            found = domains.get((query.id, hit.id))
            check(found is not None, "pair %s / %s not in the tsv" % (query.id, hit.id))
            check(hit.domain_reported_num == len(found), "domain count of %s / %s" % (query.id, hit.id))
            best = min(float(r["evalue"]) for r in found)
            check(hit.hsps[0].evalue == best, "best domain E-value of %s / %s" % (query.id, hit.id))
            check(hit.evalue <= best, "sequence E-value above the best domain's for %s / %s" % (query.id, hit.id))
    check(pairs == len(domains), "%d pairs in --tblout, %d in the tsv" % (pairs, len(domains)))

    # Per-domain table: every domain with its coordinates and E-value.
    fmt = "hmmscan3-domtab" if per_sequence else "hmmsearch3-domtab"
    seen = 0
    for query in SearchIO.parse(tables["domtbl"], fmt):
        for hit in query.hits:
            found = sorted(domains[(query.id, hit.id)], key=lambda r: int(r["domain"]))
            check(len(hit.hsps) == len(found), "domains of %s / %s" % (query.id, hit.id))
            for hsp, row in zip(hit.hsps, found):
                seen += 1
                # hmmscan's hits are the profiles, hmmsearch's the sequences.
                prf, seq = (hsp.hit_range, hsp.query_range) if per_sequence else (hsp.query_range, hsp.hit_range)
                check(seq == (int(row["seq_from"]) - 1, int(row["seq_to"])), "residues of %s" % row)
                check(prf == (int(row["prf_from"]) - 1, int(row["prf_to"])), "positions of %s" % row)
                check(hsp.evalue == float(row["evalue"]), "E-value of %s" % row)
                check(hsp.domain_index == int(row["domain"]), "domain number of %s" % row)
    check(seen == len(rows), "%d domains in --domtblout, %d in the tsv" % (seen, len(rows)))
    print("%s: %d pairs, %d domains" % ("scan" if per_sequence else "search", pairs, seen))


def check_odd_names(scan, examples, folder):
    # One zinc finger in each record, under a name readers stumble on.
    finger = "PYKCEECGKAFSQSSNLIVHQRIHTGEKPYVC"
    names = [b"#start", b"", b"-", b"caf\xc3\xa9", b"bad\xffbyte", b"plain"]
    with open(os.path.join(folder, "odd.fa"), "wb") as f:
        for name in names:
            f.write(b">" + name + (b" a \xfe description" if name else b"") + b"\n" + finger.encode() + b"\n")
    tables = {k: os.path.join(folder, "odd." + k) for k in ("tbl", "domtbl")}
    subprocess.run([scan, "--quiet", "-Z", "1000", "--tblout", tables["tbl"], "--domtblout", tables["domtbl"],
                    os.path.join(examples, "zinc_finger.hmm"), os.path.join(folder, "odd.fa")],
                   check=True, stdout=subprocess.DEVNULL)
    expected = {"\\x23start", "(unnamed)", "-", "café", "bad\\xffbyte", "plain"}
    for path, fmt in ((tables["tbl"], "hmmer3-tab"), (tables["domtbl"], "hmmsearch3-domtab")):
        hits = [hit.id for query in SearchIO.parse(path, fmt) for hit in query.hits]
        check(set(hits) == expected and len(hits) == len(expected), "%s: hits %s" % (fmt, hits))
    print("odd names: %d hits, each its own, in both tables" % len(expected))


def main():
    scan, examples = sys.argv[1], sys.argv[2]
    for per_sequence in (False, True):
        with tempfile.TemporaryDirectory() as folder:
            tables, rows = run(scan, examples, folder, per_sequence)
            check_tables(tables, rows, per_sequence)
    with tempfile.TemporaryDirectory() as folder:
        check_odd_names(scan, examples, folder)
    print("Biopython reads both tables, in both layouts, as the tsv has them")


main()
