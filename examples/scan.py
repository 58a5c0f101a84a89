import tormid

profiles = tormid.read_profiles("examples/zinc_finger.hmm")
hits = tormid.scan(profiles, "examples/proteome.fasta", evalue=1e-20)
for h in hits[:3]:
    print(f"{h.sequence} domain {h.domain}/{h.n_domains}, residues {h.seq_from}-{h.seq_to}, E = {h.evalue:.1e}")

# Sequences from Python work as well as files: any iterable of pairs.
finger = "PYKCEECGKAFSQSSNLIVHQRIHTGEKPY"
prefixes = ((str(k), finger[:k]) for k in range(2, len(finger) + 1))
found = [int(h.sequence) for h in tormid.scan(profiles, prefixes, evalue=1e-3)]
print(f"prefixes of a zinc finger found at E <= 1e-3: {min(found)} residues and longer")

a = tormid.align(profiles[0], finger, tormid.Settings("glocal"))
print(f"{a.score:.3f}\n{a.prf_line}\n{a.seq_line}")
