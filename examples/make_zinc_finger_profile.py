#!/usr/bin/env python3
"""Builds examples/zinc_finger.prf from a small hand-written alignment of
C2H2 zinc-finger repeats (finger plus the TGEKP linker).

Scores are log-odds in half-bits, 2 * log2(p / f), where p is the column's
residue frequency with background pseudocounts and f the background
composition of Swiss-Prot proteins.
"""
import math

ALPHABET = "ARNDCQEGHILKMFPSTWYV"
BACKGROUND = [0.0787945, 0.0540978, 0.0414386, 0.0535222, 0.0151600, 0.0395639,
              0.0668298, 0.0695071, 0.0229198, 0.0590092, 0.0963728, 0.0594422,
              0.0237718, 0.0397062, 0.0482904, 0.0683364, 0.0540687, 0.0114135,
              0.0304133, 0.0673417]
PSEUDOCOUNTS = 2.0

FINGERS = """
YKCEECGKAFSQSSHLIRHQRIHTGEKP
FKCPICGKSFSRSDELTRHIRTHTGEKP
YECKECGKAFRQSSNLIKHQRTHTGEKP
YKCDVCGKSFSHKSSLVRHMRVHSGEKP
FRCEYCGKAFSQSGHLVRHQRIHTGERP
YKCNECGKTFSQSSALIVHQRIHTGEKP
HKCPECGKSFRRSDHLTTHLRTHTGEKP
YVCGECGKAFNRSSHLTRHQRIHTGEKP
YECEECGKTFGRSSKLIQHRRIHTGEKP
FQCKICGRSFSRSDNLQKHMRTHTGEKP
YKCDECGKSFSQKSHLAQHQRTHTGEKS
YRCGECGKAFSHKSTLIRHQRIHTGEKP
""".split()


def main():
    length = len(FINGERS[0])
    assert all(len(f) == length for f in FINGERS)
    lines = [f"(Peptide) zinc_finger C2H2 Length: {length}",
             "Cons " + " ".join(f"{a:>6}" for a in ALPHABET)]
    for k in range(length):
        column = [f[k] for f in FINGERS]
        total = len(column) + PSEUDOCOUNTS
        scores = []
        for a, f in zip(ALPHABET, BACKGROUND):
            p = (column.count(a) + PSEUDOCOUNTS * f) / total
            scores.append(2 * math.log2(p / f))
        best = ALPHABET[max(range(20), key=lambda i: scores[i])]
        lines.append(f"{best:<4} " + " ".join(f"{s:6.2f}" for s in scores))
    with open("zinc_finger.prf", "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
