#!/usr/bin/env python3
"""Writes the converter's test fixtures: small hand-made HMMER3 and PSSM
files, broken variants of them, and the profiles tormid-prf must print for
the good ones (computed here, independently of the C++ code).

Run from this folder: python3 make_fixtures.py
"""
import decimal
import math

HMM_ORDER = "ACDEFGHIKLMNPQRSTVWY"
COLUMNS = "ARNDCQEGHILKMFPSTWYV"
BACKGROUND = dict(zip(COLUMNS, [
    0.0787945, 0.0540978, 0.0414386, 0.0535222, 0.0151600, 0.0395639, 0.0668298,
    0.0695071, 0.0229198, 0.0590092, 0.0963728, 0.0594422, 0.0237718, 0.0397062,
    0.0482904, 0.0683364, 0.0540687, 0.0114135, 0.0304133, 0.0673417]))


def emissions(favoured, p_favoured, impossible=""):
    """-ln p per residue in HMMER order, as HMMER prints them (5 decimals)."""
    rest = [a for a in HMM_ORDER if a != favoured and a not in impossible]
    p = {a: (1 - p_favoured) / len(rest) for a in rest}
    p[favoured] = p_favoured
    return ["*" if a in impossible else "%.5f" % -math.log(p[a]) for a in HMM_ORDER]


def row(fields, width=9):
    return "".join(f.rjust(width) for f in fields)


def model(name, nodes, fmt="f", alph="amino", cons=True):
    """nodes: (favoured residue, probability, consensus letter, impossible)."""
    lines = [f"HMMER3/{fmt} [3.1b2 | February 2015]", f"NAME  {name}", f"ACC   TST{len(nodes):05d}.1",
             f"DESC  Test model {name}", f"LENG  {len(nodes)}", f"ALPH  {alph}", "RF    no"]
    if fmt >= "e":
        lines += ["MM    no", "CONS  " + ("yes" if cons else "no")]
    lines += ["CS    no", "MAP   yes", "DATE  Mon Dec  7 00:00:00 2026", "NSEQ  12",
              "EFFN  5.000000", "CKSUM 1234567",
              "STATS LOCAL MSV       -8.1000  0.71000",
              "STATS LOCAL VITERBI   -8.6000  0.71000",
              "STATS LOCAL FORWARD   -3.9000  0.71000",
              "HMM     " + "".join(a.rjust(9) for a in HMM_ORDER),
              "            m->m     m->i     m->d     i->m     i->i     d->m     d->d"]
    background = ["%.5f" % -math.log(BACKGROUND[a]) for a in HMM_ORDER]
    lines.append("  COMPO " + row(background))
    lines.append("        " + row(background))
    lines.append("        " + row(["0.01000", "5.00000", "5.50000", "0.60000", "0.80000", "0.00000", "*"]))
    for k, (favoured, p, letter, impossible) in enumerate(nodes, 1):
        annotation = f"{k:>7} {letter} - - -" if fmt >= "e" else f"{k:>7} - -"
        lines.append(f"{k:>7} " + row(emissions(favoured, p, impossible)) + annotation)
        lines.append("        " + row(background))
        last = k == len(nodes)
        lines.append("        " + row(["0.00000", "*", "*", "0.60000", "0.80000", "0.00000", "*"] if last else
                                       ["0.02000", "4.50000", "5.00000", "0.60000", "0.80000", "0.40000", "1.10000"]))
    lines.append("//")
    return lines


def shortest(x):
    """The text std::to_chars(double) writes: the shortest digits that read
    back as x, fixed or scientific whichever is shorter (fixed on a tie)."""
    if x == 0:
        return "0"
    sign = "-" if x < 0 else ""
    d = decimal.Decimal(repr(abs(x))).normalize()
    digits = "".join(map(str, d.as_tuple().digits))
    point = len(digits) + d.as_tuple().exponent  # the decimal point stands after `point` digits
    scientific = digits[0] + ("." + digits[1:] if len(digits) > 1 else "") + "e%+03d" % (point - 1)
    if point <= 0:
        fixed = "0." + "0" * -point + digits
    elif point >= len(digits):
        fixed = digits + "0" * (point - len(digits))
    else:
        fixed = digits[:point] + "." + digits[point:]
    return sign + (fixed if len(fixed) <= len(scientific) else scientific)


def expected_profile(name, nodes, consensus):
    # The header carries what model() writes: accession, the Forward law
    # of its STATS lines and description.
    header = f"(Peptide) from {name} Length: {len(nodes)} ACC TST{len(nodes):05d}.1 FORWARD -3.9 0.71 DESC Test model {name}"
    out = [header, "Cons " + " ".join(COLUMNS)]
    for (favoured, p, _, impossible), letter in zip(nodes, consensus):
        minus_ln = dict(zip(HMM_ORDER, emissions(favoured, p, impossible)))
        scores = []
        for a in COLUMNS:
            if minus_ln[a] == "*":
                scores.append(-1000.0)
            else:
                s = 2 * (-float(minus_ln[a]) - math.log(BACKGROUND[a])) / math.log(2)
                scores.append(max(s, -1000.0))
        out.append(letter + "".join(" " + shortest(s) for s in scores))
    return out


def write(name, lines, final_newline=True):
    with open(name, "w") as f:
        f.write("\n".join(lines) + ("\n" if final_newline else ""))


TINY = [("C", 0.62, "C", ""), ("P", 0.31, "p", "W"), ("E", 0.55, "E", ""), ("K", 0.28, "k", "")]
write("tiny.hmm", model("tiny", TINY))
write("tiny.prf", expected_profile("tiny", TINY, "CpEk"))

# A 3.0 file (format c): no consensus column, so the most probable residue,
# upper case where its probability is 0.5 or more.
OLD = [("H", 0.70, "-", ""), ("Y", 0.40, "-", "")]
write("old_format.hmm", model("old", OLD, fmt="c"))
write("old_format.prf", expected_profile("old", OLD, "Hy"))

SECOND = [("W", 0.5, "W", ""), ("G", 0.45, "g", ""), ("S", 0.9, "S", "")]
write("two_models.hmm", model("first", TINY) + model("second", SECOND))
write("two_models_first.prf", expected_profile("first", TINY, "CpEk"))
write("two_models_second.prf", expected_profile("second", SECOND, "WgS"))

# Strong consensus for the alignment test.
STRONG = [(a, 0.85, a, "") for a in "CPECGKSFSHKS"]
write("strong.hmm", model("strong", STRONG))

dna = model("dna", TINY, alph="DNA")
write("dna.hmm", dna)
tiny = model("tiny", TINY)
write("truncated.hmm", tiny[:tiny.index(next(l for l in tiny if l.startswith("      3 "))) + 1])
missing = [l for l in tiny if not l.startswith("      2 ")]
write("missing_match.hmm", missing)
write("not_hmm.txt", [">sp|P00001|TEST a FASTA file", "MKVLAAGICCSS"])
write("hmmer2.hmm", ["HMMER2.0  [2.3.2]", "NAME  old", "LENG  4"])

PSSM_ROWS = [
    (1, "M", [-1, -2, -2, -3, -2, -1, -2, -3, -2, 1, 2, -2, 6, 0, -3, -2, -1, -2, -1, 1]),
    (2, "K", [-1, 2, 0, -1, -3, 1, 1, -2, -1, -3, -2, 5, -2, -3, -1, 0, -1, -3, -2, -2]),
    (3, "W", [-3, -3, -4, -4, -2, -2, -3, -2, -2, -3, -2, -3, -1, 1, -4, -3, -2, 11, 2, -3]),
    (4, "C", [0, -3, -3, -3, 9, -3, -4, -3, -3, -1, -1, -3, -1, -2, -3, -1, -1, -2, -2, -1]),
]
pssm = ["", "Last position-specific scoring matrix computed, weighted observed percentages rounded down, "
        "information per position, and relative weight of gapless real matches to pseudocounts",
        "            " + "   ".join(COLUMNS) + "   " + "   ".join(COLUMNS)]
for n, letter, scores in PSSM_ROWS:
    percent = [100 if a == letter else 0 for a in COLUMNS]
    pssm.append(f"{n:>5} {letter}  " + "".join(f"{s:>4}" for s in scores) + "  " +
                "".join(f"{p:>4}" for p in percent) + "  1.23 0.45")
pssm += ["", "                      K         Lambda", "Standard Ungapped    0.1336     0.3176",
         "PSI Gapped           0.0410     0.2670"]
write("tiny.pssm", pssm)
write("tiny_pssm.prf", ["(Peptide) from tiny Length: 4", "Cons " + " ".join(COLUMNS)] +
      [letter + "".join(f" {s}" for s in scores) for _, letter, scores in PSSM_ROWS])
write("no_header.pssm", [l for l in pssm if "A   R   N" not in l])

# Damaged in ways that keep every other line as it was.
node1 = next(i for i, l in enumerate(tiny) if l.startswith("      1 "))
fields = tiny[node1].split()
write("missing_score.hmm", tiny[:node1] + ["      1 " + row(fields[1:20]) + "      1 C - - -"] + tiny[node1 + 1:])
blocks = [next(i for i, l in enumerate(tiny) if l.startswith(f"      {k} ")) for k in (2, 3)]
swapped = list(tiny)
swapped[blocks[0]] = swapped[blocks[0]].replace("      2 ", "      3 ", 1)
swapped[blocks[1]] = swapped[blocks[1]].replace("      3 ", "      2 ", 1)
write("misnumbered.hmm", swapped)
repeated = tiny[:blocks[1]] + tiny[blocks[0]:blocks[1]] + tiny[blocks[1]:]
write("repeated_node.hmm", repeated)
write("too_long.hmm", [l.replace("LENG  4", "LENG  100000000") for l in tiny])
first = next(i for i, l in enumerate(pssm) if l.startswith("    1 M"))
write("missing_score.pssm", pssm[:first] + [pssm[first].replace("  -1  -2  -2", "  -1  -2", 1)] + pssm[first + 1:])
