#!/usr/bin/env python3
"""Writes proteome.fasta, the example database for tormid-scan: 400
synthetic proteins of realistic lengths drawn from the Swiss-Prot background
composition; 47 of them carry one to five C2H2 zinc fingers, each a copy of
a finger of the hand-written alignment in make_zinc_finger_profile.py with
about a fifth of its residues changed. No third-party data.

Run from this folder: python3 make_proteome.py
"""
import random

from make_zinc_finger_profile import ALPHABET, BACKGROUND, FINGERS

random.seed(20261207)


def residues(n):
    return "".join(random.choices(ALPHABET, weights=BACKGROUND, k=n))


def finger():
    copy = list(random.choice(FINGERS))
    for k in range(len(copy)):
        if random.random() < 0.2:
            copy[k] = residues(1)
    return "".join(copy)


records = []
for k in range(1, 401):
    length = max(60, min(3000, int(random.lognormvariate(5.8, 0.6))))
    sequence = residues(length)
    if k % 16 == 0 or k % 17 == 0:
        fingers = random.randint(1, 5)
        at = random.randint(0, len(sequence))
        sequence = sequence[:at] + "".join(finger() for _ in range(fingers)) + sequence[at:]
        records.append((f"ZNF{k:03d}_DEMO", f"zinc-finger protein {k}, {fingers} C2H2 repeats (example data)",
                        sequence))
    else:
        records.append((f"PRT{k:03d}_DEMO", f"protein {k} (example data)", sequence))

with open("proteome.fasta", "w") as out:
    for name, description, sequence in records:
        out.write(f">{name} {description}\n")
        for k in range(0, len(sequence), 60):
            out.write(sequence[k:k + 60] + "\n")
