"""Protein sequence analysis with position-specific scoring profiles.

read profiles, align one sequence (as the tormid program), search many (as
tormid-scan). Files that cannot be opened or read raise OSError; malformed
profiles, settings or sequences raise ValueError, with the programs'
messages.
"""
import os
from typing import Iterable, Optional, Sequence, Tuple, Union

__version__: str
kernels: str  # e.g. "avx512bw (bound), avx512 (exact)"; TORMID_ISA caps them

class Profile:
    """A scoring profile: a row of 20 scores per position."""
    @property
    def name(self) -> str: ...
    @property
    def length(self) -> int: ...
    @property
    def consensus(self) -> str:
        """The best-scoring residue of each position, in lower case."""
    @property
    def accession(self) -> Optional[str]:
        """HMMER's ACC (Pfam's PF00069.17), or None."""
    @property
    def description(self) -> Optional[str]:
        """HMMER's DESC, or None."""
    @property
    def cutoffs(self) -> dict[str, Tuple[float, float]]:
        """The curated cutoffs the profile carries, as HMMER's model gives
        them: {'GA': (sequence bits, domain bits), 'TC': ..., 'NC': ...}."""
    def __len__(self) -> int: ...

class Settings:
    """Alignment settings: gap costs and free ends. Immutable."""
    def __init__(self, mode: str = "local", open: float = 11.0, extend: float = 1.0) -> None:
        """mode: 'local', 'glocal' (the whole profile inside the sequence) or 'global'."""
    @staticmethod
    def from_file(path: Union[str, os.PathLike]) -> "Settings":
        """The settings of a tormid parameter file."""
    @property
    def mode(self) -> str: ...
    @property
    def open(self) -> float: ...
    @property
    def extend(self) -> float: ...
    @property
    def show_alignment(self) -> bool: ...

class Alignment:
    """One alignment: its score, ends (1-based) and display lines."""
    score: float
    seq_from: int
    seq_to: int
    prf_from: int
    prf_to: int
    prf_line: str
    seq_line: str

class Hit:
    """One domain of one sequence against one profile, as the tables have it."""
    profile: str
    sequence: str
    description: str
    accession: Optional[str]  # the profile's
    seq_len: int
    score: float
    evalue: float
    bits: float
    bias: float
    sequence_evalue: float
    seq_from: int
    seq_to: int
    prf_from: int
    prf_to: int
    domain: int
    n_domains: int
    prf_line: str
    seq_line: str
    round: int

Record = Union[Tuple[str, str], Tuple[str, str, str]]

def read_profiles(path: Union[str, os.PathLike], threads: int = 0) -> list[Profile]:
    """Every profile of a file: tormid profiles, HMMER3 models, PSI-BLAST
    ASCII PSSMs or prepared libraries, plain or gzip-compressed; proteins
    and alignments (FASTA, Stockholm, A2M) are built into profiles."""

def build(source: Union[str, os.PathLike, Iterable[Tuple[str, str]]], name: Optional[str] = None) -> list[Profile]:
    """Profiles built as tormid-prf build builds them, from a path or from
    (name, sequence) records: rows with gaps are one alignment (the profile
    `name`, default 'alignment'), sequences without gaps a profile each."""

def align(profile: Profile, sequence: str, settings: Settings) -> Alignment:
    """Aligns one sequence against a profile, as tormid does."""

def scan(
    profiles: Sequence[Profile],
    sequences: Union[str, os.PathLike, Iterable[Record]],
    settings: Optional[Settings] = None,
    *,
    evalue: float = 10.0,
    min_score: Optional[float] = None,
    z: Optional[float] = None,
    max_domains: int = 0,
    threads: int = 0,
    per_sequence: bool = False,
    alignments: bool = False,
    iterations: int = 1,
    inc_evalue: float = 0.001,
    cutoffs: Optional[str] = None,
    resolve_overlaps: bool = False,
) -> list[Hit]:
    """Searches sequences (a FASTA path, plain or gzip, or an iterable of
    (name, sequence[, description]) tuples) with profiles, as tormid-scan
    does: the same hits in the same order. With iterations > 1, searches
    again with each profile built from its seed and the domains included
    (tormid-scan --iterations, --incE); Hit.round is the round a hit's
    sequence joined. cutoffs='ga', 'tc' or 'nc' reports what passes each
    profile's curated cutoffs (tormid-scan --cut_ga ...); resolve_overlaps
    keeps, of domains of different profiles overlapping by more than half,
    the most significant (--resolve-overlaps). Ctrl-C stops it at once
    (KeyboardInterrupt)."""
