"""The Python module against the programs: align() against tormid on
generated cases, scan() against tormid-scan on the bundled example, records
from iterables against paths, exceptions, and the GIL released while the
engine works.

Run by CTest with PYTHONPATH set to the module and TORMID_BIN to the
programs' folder."""
import csv
import gzip
import os
import random
import signal
import subprocess
import threading
import time

import pytest

import tormid

BIN = os.environ.get("TORMID_BIN", "build/test")
EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples")
ALPHABET = "ARNDCQEGHILKMFPSTWYV"
SWITCHES = ("PRF_FREE_BEG", "PRF_FREE_END", "SEQ_FREE_BEG", "SEQ_FREE_END")


def example(name):
    return os.path.join(EXAMPLES, name)


def profile_text(rows):
    lines = ["(Peptide) generated profile Length: %d" % len(rows), "Cons " + " ".join(ALPHABET)]
    for row in rows:
        lines.append(ALPHABET[row.index(max(row))] + " " + " ".join(repr(v) for v in row))
    return "\n".join(lines) + "\n"


def params_text(open_, extend, free):
    lines = ["PRF_GAP_OPEN_PENALTY %r" % open_, "PRF_DELETION_PENALTY %r" % extend,
             "SEQ_GAP_OPEN_PENALTY %r" % open_, "SEQ_DELETION_PENALTY %r" % extend]
    lines += ["%s %s" % (key, "YES" if key in free else "NO") for key in SWITCHES]
    return "\n".join(lines + ["SHOW_ALIGNMENT YES"]) + "\n"


def test_align_is_tormid_on_generated_cases(tmp_path):
    rng = random.Random(11)
    for case in range(40):
        rows = [[round(rng.uniform(-6, 6), rng.choice((0, 1, 3))) for _ in ALPHABET]
                for _ in range(rng.randint(1, 40))]
        sequence = "".join(rng.choice(ALPHABET + "xB") for _ in range(rng.randint(1, 80)))
        free = {key for key in SWITCHES if rng.random() < 0.5}
        (tmp_path / "p.prf").write_text(profile_text(rows))
        (tmp_path / "s.par").write_text(params_text(rng.choice((0, 3, 11)), rng.choice((0, 0.5, 1)), free))
        (tmp_path / "q.fa").write_text(">q\n" + sequence + "\n")
        done = subprocess.run([os.path.join(BIN, "tormid"), "q.fa", "p.prf", "s.par"], cwd=tmp_path,
                              capture_output=True, text=True, check=True)
        a = tormid.align(tormid.read_profiles(tmp_path / "p.prf")[0], sequence,
                         tormid.Settings.from_file(tmp_path / "s.par"))
        printed = "Seq: q  Profile: p.prf   Score: %8.3f\n\n%s\n%s\n" % (a.score, a.prf_line, a.seq_line)
        assert printed == done.stdout, "case %d" % case


def tsv_rows(path):
    with open(path, newline="") as f:
        return [(r["#profile"], r["sequence"], r["domain"], r["score"], r["evalue"], r["bits"], r["seq_from"],
                 r["seq_to"], r["prf_from"], r["prf_to"]) for r in csv.DictReader(f, delimiter="\t")]


def hit_rows(hits):
    return [(h.profile, h.sequence, str(h.domain), "%.3f" % h.score, "%.2g" % h.evalue, "%.1f" % h.bits,
             str(h.seq_from), str(h.seq_to), str(h.prf_from), str(h.prf_to)) for h in hits]


@pytest.mark.parametrize("mode,per_sequence", [("local", False), ("glocal", False), ("local", True)])
def test_scan_is_tormid_scan(tmp_path, mode, per_sequence):
    files = [example("zinc_finger.hmm"), example("zinc_finger.prf")]
    args = [os.path.join(BIN, "tormid-scan"), "--quiet", "--mode", mode, "-E", "1", "--tsv", str(tmp_path / "t.tsv")]
    subprocess.run(args + (["--per-sequence"] if per_sequence else []) + files + [example("proteome.fasta")],
                   check=True, stdout=subprocess.DEVNULL)
    profiles = [p for f in files for p in tormid.read_profiles(f)]
    hits = tormid.scan(profiles, example("proteome.fasta"), tormid.Settings(mode), evalue=1,
                       per_sequence=per_sequence)
    expected = tsv_rows(tmp_path / "t.tsv")
    assert len(expected) > 50
    assert hit_rows(hits) == expected


def fasta_records(path):
    records, current = [], None
    for line in open(path):
        line = line.rstrip("\n")
        if line.startswith(">"):
            if current:
                records.append(tuple(current))
            words = line[1:].split(None, 1)
            current = [words[0], "", words[1] if len(words) > 1 else ""]
        else:
            current[1] += line
    records.append(tuple(current))
    return records


def test_iterables_and_paths_find_the_same(tmp_path):
    profiles = tormid.read_profiles(example("zinc_finger.hmm"))
    records = fasta_records(example("proteome.fasta"))
    with gzip.open(tmp_path / "db.fa.gz", "wt") as f:
        f.write(open(example("proteome.fasta")).read())
    from_path = hit_rows(tormid.scan(profiles, example("proteome.fasta"), threads=2))
    assert hit_rows(tormid.scan(profiles, tmp_path / "db.fa.gz", threads=1)) == from_path
    assert hit_rows(tormid.scan(profiles, records)) == from_path
    assert hit_rows(tormid.scan(profiles, (r for r in records))) == from_path
    pairs = [(name, sequence) for name, sequence, _ in records]
    assert hit_rows(tormid.scan(profiles, iter(pairs))) == from_path
    described = tormid.scan(profiles, records)
    assert described[0].description.startswith("zinc-finger protein")


def test_errors_are_python_exceptions(tmp_path):
    profiles = tormid.read_profiles(example("zinc_finger.hmm"))
    with pytest.raises(OSError, match="missing.hmm: cannot open"):
        tormid.read_profiles(tmp_path / "missing.hmm")
    (tmp_path / "short.prf").write_text("(Peptide) short p Length: 3\nCons\nA 1 2\n")
    with pytest.raises(ValueError, match="short.prf has 1 of 3 positions"):
        tormid.read_profiles(tmp_path / "short.prf")
    with pytest.raises(OSError, match="none.fa: cannot open"):
        tormid.scan(profiles, tmp_path / "none.fa")
    with pytest.raises(ValueError, match="mode must be"):
        tormid.Settings("semi")
    with pytest.raises(ValueError):
        tormid.Settings(open=-1)
    with pytest.raises(ValueError, match="no letters"):
        tormid.align(profiles[0], "123", tormid.Settings())
    with pytest.raises(ValueError, match="tuples"):
        tormid.scan(profiles, ["MKV"])
    with pytest.raises(ValueError, match="strings"):
        tormid.scan(profiles, [("a", 5)])

    def failing():
        yield ("a", "ACDEFGHIK")
        raise KeyError("from the generator")

    with pytest.raises(KeyError, match="from the generator"):
        tormid.scan(profiles, failing())
    with pytest.raises(AttributeError):
        tormid.Settings().open = 3


def test_settings_read_as_they_were_made():
    assert repr(tormid.Settings()) == "Settings(mode='local', open=11.0, extend=1.0)"
    s = tormid.Settings("glocal", open=9, extend=0.5)
    assert (s.mode, s.open, s.extend) == ("glocal", 9.0, 0.5)
    from_file = tormid.Settings.from_file(example("glocal.params"))
    assert from_file.show_alignment
    assert "profile-free" in repr(from_file)


def test_align_releases_the_gil():
    # While one thread aligns a long sequence, another runs Python code:
    # its clock readings fall inside the alignment, not only before or after.
    profile = tormid.read_profiles(example("zinc_finger.prf"))[0]
    rng = random.Random(3)
    sequence = "".join(rng.choice(ALPHABET) for _ in range(3_000_000))
    settings = tormid.Settings("local")
    span = {}

    def align():
        span["start"] = time.monotonic()
        tormid.align(profile, sequence, settings)
        span["end"] = time.monotonic()

    worker = threading.Thread(target=align)
    readings = []
    worker.start()
    while worker.is_alive():
        readings.append(time.monotonic())
    worker.join()
    length = span["end"] - span["start"]
    inside = [t for t in readings if span["start"] + 0.25 * length < t < span["end"] - 0.25 * length]
    assert inside, "no Python code ran while the alignment did"


@pytest.mark.parametrize("work", ["calibration", "file", "iterable"])
def test_ctrl_c_stops_a_scan_within_a_second(tmp_path, work):
    # SIGINT half a second into a scan of several seconds (a thousand
    # profiles to calibrate, or every pair aligned under a loose E-value)
    # raises KeyboardInterrupt at once, and nothing of the search runs on.
    rng = random.Random(5)
    records = [("s%d" % i, "".join(rng.choices(ALPHABET, k=400))) for i in range(20000)]
    profiles = tormid.read_profiles(example("zinc_finger.hmm"))
    sequences = iter(records)
    if work == "calibration":
        profiles, sequences = profiles * 1000, records[:10]
    elif work == "file":
        sequences = tmp_path / "db.fa"
        sequences.write_text("".join(">%s\n%s\n" % r for r in records))
    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    start = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        tormid.scan(profiles, sequences, threads=2, evalue=1e6)
    assert time.monotonic() - start < 2
    cpu = time.process_time()
    time.sleep(0.3)
    assert time.process_time() - cpu < 0.1, "the search's threads still work"


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_many_calls_on_threads_keep_their_memory(tmp_path):
    subprocess.run([os.path.join(BIN, "tormid-prf"), "press", "--quiet", str(tmp_path / "lib.tlib"),
                    example("zinc_finger.hmm"), example("zinc_finger.prf")], check=True)
    records = [("a", "W" * 60), ("b", "K" * 90)]

    def calls(n):
        for _ in range(n):
            for threads in (0, 2):
                profiles = tormid.read_profiles(tmp_path / "lib.tlib", threads=threads)
                tormid.scan(profiles, records, threads=threads)

    calls(100)
    before = resident_bytes()
    calls(1500)
    assert resident_bytes() - before < 4e6


def test_built_profiles_are_those_of_tormid_prf_build(tmp_path):
    records = fasta_records(example("proteome.fasta"))
    query = records[0][:2]
    (tmp_path / "q.fa").write_text(">%s\n%s\n" % query)
    rows = [("a", "MKV-LAAG"), ("b", "MKILA-AG"), ("c", "MRVLSAAG")]
    (tmp_path / "fam.fa").write_text("".join(">%s\n%s\n" % r for r in rows))
    subprocess.run([os.path.join(BIN, "tormid-prf"), "build", "--quiet", str(tmp_path / "out.prf"),
                    str(tmp_path / "q.fa"), str(tmp_path / "fam.fa")], check=True)
    written = tormid.read_profiles(tmp_path / "out.prf")
    built = tormid.build([query]) + tormid.build(rows, name="fam")
    assert [(p.name, len(p), p.consensus) for p in built] == [(p.name, len(p), p.consensus) for p in written]
    assert [(p.name, len(p)) for p in tormid.build(tmp_path / "fam.fa")] == [("fam", len(built[1]))]
    settings = tormid.Settings("local")
    for b, w in zip(built, written):
        assert tormid.align(b, query[1], settings).score == tormid.align(w, query[1], settings).score
    with pytest.raises(ValueError, match="ragged rows"):
        tormid.build([("a", "MK-V"), ("b", "MK-")])
    with pytest.raises(ValueError, match="unknown character"):
        tormid.build([("a", "MK-V"), ("b", "MK*V")])


def test_scan_iterations_are_tormid_scan_iterations(tmp_path):
    records = fasta_records(example("proteome.fasta"))
    (tmp_path / "q.fa").write_text(">%s\n%s\n" % records[0][:2])
    subprocess.run([os.path.join(BIN, "tormid-scan"), "--quiet", "--iterations", "3", "--tsv", str(tmp_path / "t.tsv"),
                    str(tmp_path / "q.fa"), example("proteome.fasta")], check=True, stdout=subprocess.DEVNULL)
    with open(tmp_path / "t.tsv", newline="") as f:
        expected = [(row["sequence"], row["score"], row["evalue"], row["round"])
                    for row in csv.DictReader(f, delimiter="\t")]
    queries = tormid.read_profiles(tmp_path / "q.fa")
    for sequences in (example("proteome.fasta"), iter(records)):
        hits = tormid.scan(queries, sequences, iterations=3)
        assert [(h.sequence, "%.3f" % h.score, "%.2g" % h.evalue, str(h.round)) for h in hits] == expected
    assert {row[3] for row in expected} != {"1"}


@pytest.mark.parametrize("kind", ["ga", "tc", "nc"])
def test_cutoffs_are_tormid_scans_and_the_notes_are_the_models(tmp_path, kind):
    profile, = tormid.read_profiles(example("zinc_finger.hmm"))
    assert (profile.accession, profile.description) == ("DEMO0001.1", "C2H2 zinc finger with linker (example data)")
    assert profile.cutoffs == {"GA": (40.0, 34.0), "TC": (44.0, 38.0), "NC": (36.0, 30.0)}
    subprocess.run([os.path.join(BIN, "tormid-scan"), "--quiet", "--cut_" + kind, "--tsv", str(tmp_path / "t.tsv"),
                    example("zinc_finger.hmm"), example("proteome.fasta")], check=True, stdout=subprocess.DEVNULL)
    hits = tormid.scan([profile], example("proteome.fasta"), cutoffs=kind)
    assert hit_rows(hits) == tsv_rows(tmp_path / "t.tsv")
    assert 0 < len(hits) < len(tormid.scan([profile], example("proteome.fasta")))
    assert {h.accession for h in hits} == {"DEMO0001.1"}
    plain, = tormid.read_profiles(example("zinc_finger.prf"))
    assert (plain.accession, plain.description, plain.cutoffs) == (None, None, {})
    with pytest.raises(ValueError, match="carries no " + kind.upper() + " line"):
        tormid.scan([plain], example("proteome.fasta"), cutoffs=kind)
    with pytest.raises(ValueError, match="cutoffs must be 'ga', 'tc' or 'nc'"):
        tormid.scan([profile], example("proteome.fasta"), cutoffs="GA ")


def test_resolved_overlaps_are_tormid_scans(tmp_path):
    files = [example("zinc_finger.hmm"), example("zinc_finger.prf")]
    subprocess.run([os.path.join(BIN, "tormid-scan"), "--quiet", "--per-sequence", "--resolve-overlaps", "--tsv",
                    str(tmp_path / "t.tsv")] + files + [example("proteome.fasta")],
                   check=True, stdout=subprocess.DEVNULL)
    profiles = [p for f in files for p in tormid.read_profiles(f)]
    hits = tormid.scan(profiles, example("proteome.fasta"), per_sequence=True, resolve_overlaps=True)
    assert hit_rows(hits) == tsv_rows(tmp_path / "t.tsv")
    # The two profiles describe the same fingers: one of each overlap is left.
    assert len(hits) < len(tormid.scan(profiles, example("proteome.fasta"), per_sequence=True))
