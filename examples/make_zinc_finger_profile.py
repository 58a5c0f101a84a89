#!/usr/bin/env python3
"""Builds the zinc-finger examples from a small hand-written alignment of
C2H2 zinc-finger repeats (finger plus the TGEKP linker):

- zinc_finger.prf: a tormid profile, log-odds in half-bits, 2 * log2(p / f),
  where p is the column's residue frequency with background pseudocounts and
  f the background composition of Swiss-Prot proteins;
- zinc_finger.hmm: the same columns as a profile HMM in HMMER3 ASCII layout
  (match emissions -ln p; made-up but plausible insert emissions and
  transitions), for trying tormid-prf.
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


HMM_ORDER = "ACDEFGHIKLMNPQRSTVWY"


def column_probabilities(k):
    column = [f[k] for f in FINGERS]
    total = len(column) + PSEUDOCOUNTS
    return {a: (column.count(a) + PSEUDOCOUNTS * f) / total for a, f in zip(ALPHABET, BACKGROUND)}


def write_hmm(length):
    background = dict(zip(ALPHABET, BACKGROUND))
    cells = lambda values: "".join(v.rjust(9) for v in values)
    insert = cells(["%.5f" % -math.log(background[a]) for a in HMM_ORDER])
    lines = ["HMMER3/f [3.1b2 | February 2015]", "NAME  zf-C2H2_demo", "ACC   DEMO0001.1",
             "DESC  C2H2 zinc finger with linker (example data)", f"LENG  {length}", "ALPH  amino",
             "RF    no", "MM    no", "CONS  yes", "CS    no", "MAP   yes",
             "DATE  Mon Dec  7 00:00:00 2026", f"NSEQ  {len(FINGERS)}", "EFFN  6.000000",
             "CKSUM 271828", "GA    40.00 34.00;", "TC    44.00 38.00;", "NC    36.00 30.00;",
             "STATS LOCAL MSV       -8.2000  0.72000",
             "STATS LOCAL VITERBI   -8.9000  0.72000", "STATS LOCAL FORWARD   -4.1000  0.72000",
             "HMM     " + cells(list(HMM_ORDER)),
             "            m->m     m->i     m->d     i->m     i->i     d->m     d->d",
             "  COMPO " + insert, "        " + insert,
             "        " + cells(["0.01500", "4.90000", "5.60000", "0.61958", "0.77255", "0.00000", "*"])]
    for k in range(length):
        p = column_probabilities(k)
        best = max(HMM_ORDER, key=lambda a: p[a])
        cons = best if p[best] >= 0.5 else best.lower()
        lines.append(f"{k + 1:>7} " + cells(["%.5f" % -math.log(p[a]) for a in HMM_ORDER]) +
                     f"{k + 1:>7} {cons} - - -")
        lines.append("        " + insert)
        last = k == length - 1
        lines.append("        " + cells(["0.00000", "*", "*", "0.61958", "0.77255", "0.00000", "*"] if last
                                        else ["0.02500", "4.60000", "5.10000", "0.61958", "0.77255", "0.48576", "0.95510"]))
    lines.append("//")
    with open("zinc_finger.hmm", "w") as out:
        out.write("\n".join(lines) + "\n")


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
    write_hmm(length)


if __name__ == "__main__":
    main()
