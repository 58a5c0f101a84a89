#!/usr/bin/python3
"""The Python module's cost over the programs, in the same run:

- tormid.scan over a FASTA path, and over a generator of the same records,
  against tormid-scan on the same search (20,000 generated proteins of 100
  to 800 residues, 8 generated profiles of 100 to 400 positions, 2
  threads);
- the call overhead of tormid.align: a 300-residue sequence against a
  300-position profile, against a call that aligns one residue against one
  position.

usage: PYTHONPATH=build/test/python bench/python_bench.py [BUILD_DIR] [--records N] [--repeat N]
"""
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

import tormid

ALPHABET = "ARNDCQEGHILKMFPSTWYV"
FREQUENCIES = [8.25, 5.53, 4.06, 5.45, 1.37, 3.93, 6.75, 7.07, 2.27, 5.96, 9.66, 5.84, 2.42, 3.86, 4.70, 6.56, 5.34,
               1.08, 2.92, 6.87]


def profile_text(rng, length):
    rows = []
    for _ in range(length):
        scores = [rng.uniform(-4, 2) for _ in ALPHABET]
        scores[rng.randrange(20)] = rng.uniform(3, 8)
        rows.append(ALPHABET[scores.index(max(scores))] + "".join(f" {v:.2f}" for v in scores))
    return f"(Peptide) bench p{length} Length: {length}\nCons " + " ".join(ALPHABET) + "\n" + "\n".join(rows) + "\n"


def median_seconds(repeat, run):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    args = sys.argv[1:]
    build = args[0] if args and not args[0].startswith("--") else "build/test"
    records = int(args[args.index("--records") + 1]) if "--records" in args else 20000
    repeat = int(args[args.index("--repeat") + 1]) if "--repeat" in args else 3
    rng = random.Random(1)
    proteins = [(f"p{k}", "".join(rng.choices(ALPHABET, FREQUENCIES, k=rng.randint(100, 800))), "generated")
                for k in range(records)]
    with tempfile.TemporaryDirectory() as folder:
        files = []
        for length in (100, 140, 180, 220, 260, 300, 350, 400):
            files.append(os.path.join(folder, f"p{length}.prf"))
            with open(files[-1], "w") as f:
                f.write(profile_text(rng, length))
        profiles = [p for f in files for p in tormid.read_profiles(f)]
        db = os.path.join(folder, "db.fa")
        with open(db, "w") as f:
            for name, sequence, description in proteins:
                f.write(f">{name} {description}\n{sequence}\n")
        cli = [os.path.join(build, "tormid-scan"), "--quiet", "--threads", "2", "--tsv", os.path.join(folder, "t.tsv")]
        program = median_seconds(repeat, lambda: subprocess.run(cli + files + [db], check=True,
                                                                stdout=subprocess.DEVNULL))
        # A stream of unknown length (a pipe, a generator) is searched with a
        # running Z: the same hits, but the score bound dismisses less.
        piped = median_seconds(repeat, lambda: subprocess.run(["bash", "-c", " ".join(cli + files) + f" <(cat {db})"],
                                                              check=True, stdout=subprocess.DEVNULL))
        path = median_seconds(repeat, lambda: tormid.scan(profiles, db, threads=2))
        generated = median_seconds(repeat, lambda: tormid.scan(profiles, (r for r in proteins), threads=2))
        counted = median_seconds(repeat, lambda: tormid.scan(profiles, (r for r in proteins), threads=2, z=records))
    print(f"search of {records} generated proteins, {len(profiles)} profiles, 2 threads, medians of {repeat}:")
    print(f"  tormid-scan (the program, reading its profiles) {program:8.3f} s")
    print(f"  tormid.scan over the path                        {path:8.3f} s  ({path / program:.2f}x)")
    print(f"  tormid.scan over a generator, z={records:<6}          {counted:8.3f} s  ({counted / program:.2f}x)")
    print(f"  tormid-scan reading a pipe                       {piped:8.3f} s")
    print(f"  tormid.scan over a generator                     {generated:8.3f} s  ({generated / piped:.2f}x the pipe)")

    # The call's own cost is at most that of a call that aligns almost
    # nothing: one residue against a one-position profile.
    with tempfile.TemporaryDirectory() as folder:
        for length in (1, 300):
            with open(os.path.join(folder, f"p{length}.prf"), "w") as f:
                f.write(profile_text(rng, length))
        tiny, profile = (tormid.read_profiles(os.path.join(folder, f"p{n}.prf"))[0] for n in (1, 300))
    settings = tormid.Settings("glocal")
    sequence = "".join(rng.choices(ALPHABET, FREQUENCIES, k=300))
    calls = 2000

    def per_call(profile, sequence):
        return median_seconds(repeat, lambda: [tormid.align(profile, sequence, settings) for _ in range(calls)]) / calls

    full, bare = per_call(profile, sequence), per_call(tiny, "A")
    print(f"tormid.align, 300 residues against 300 positions: {full * 1e6:.1f} us a call; a call that aligns "
          f"1 x 1: {bare * 1e6:.2f} us ({100 * bare / full:.1f}% of the 300 x 300 call, at most the overhead)")


main()
