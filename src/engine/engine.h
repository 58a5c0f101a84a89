// tormid engine: aligns a protein sequence against a position-specific
// scoring profile by dynamic programming.
//
// Everything the engine knows arrives through the arguments of align() and
// leaves through its result; nothing is process-wide but the constants
// below, so any number of threads may align at once, each with its own
// Workspace.
//
// The matrix. Cell (i, j) is the best path that has consumed the first i
// residues and the first j profile positions. A diagonal move pairs residue
// i with position j and earns that position's score for the residue (0.0
// for a letter outside the alphabet); a vertical move leaves residue i
// unpaired (a gap in the profile, charged with the _prf penalties); a
// horizontal move leaves position j unpaired (a gap in the sequence, _seq
// penalties). Each stretch of unpaired residues and positions between two
// pairs pays at most one opening penalty per side, plus one deletion
// penalty per unpaired residue or position, whatever the order of its
// moves. Each cell keeps one best move (ties go to the diagonal, then to
// the vertical move); a free end can only be a cell reached by a pairing.
//
// This header is self-contained (standard library only) and is installed
// as <tormid/engine.h>.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tormid {

// ---- Residues --------------------------------------------------------------

// Residue letters in profile column order; a residue's code is its index.
inline constexpr char alphabet[] = "ARNDCQEGHILKMFPSTWYV";
inline constexpr int kAlphabetSize = 20;

// Index of the upper-case form of c in alphabet, or -1.
int getIndex(char c);

// Background residue composition f(a) in alphabet order (Swiss-Prot 50.8):
// the reference of converted log-odds scores and the composition of the
// random sequences that calibrate significance.
inline constexpr std::array<double, kAlphabetSize> background = {
    0.0787945, 0.0540978, 0.0414386, 0.0535222, 0.0151600, 0.0395639, 0.0668298,
    0.0695071, 0.0229198, 0.0590092, 0.0963728, 0.0594422, 0.0237718, 0.0397062,
    0.0482904, 0.0683364, 0.0540687, 0.0114135, 0.0304133, 0.0673417};

// ---- Scores ----------------------------------------------------------------

// No candidate is expected below this floor; it is also the score of a
// free-end alignment that found no pair, and of a failed alignment.
inline constexpr double kScoreFloor = -100000.0;
// A score at or below this means that no alignment path was found.
inline constexpr double kNoAlignment = -50000.0;

// Index of the largest of n values, the last one on ties, considering only
// values at or above kScoreFloor; -1 when there is none.
int index_of_max(const double* values, int n);

// ---- Profile ---------------------------------------------------------------

// Scores of one profile position, indexed by residue code.
using ProfileRow = std::array<double, kAlphabetSize>;

// Lower-case consensus letter of each row: the best-scoring letter, the
// earlier letter of the alphabet on ties, "x" where no score rises above
// kScoreFloor.
std::string build_consensus(const std::vector<ProfileRow>& rows);

// What a profile's source says of it besides its scores, carried through
// tormid's files into reports: HMMER's ACC and DESC lines, and Pfam's
// curated cutoffs (GA, TC, NC: a sequence and a domain bit score of
// HMMER's) with the law that gives those bits a meaning, the model's
// "STATS LOCAL FORWARD tau lambda": P(score >= s) = exp(-lambda (s - tau)).
struct BitCutoff {
  double sequence = 0, domain = 0;
  friend bool operator==(const BitCutoff&, const BitCutoff&) = default;
};
struct ForwardLaw {
  double tau = 0, lambda = 0;
  friend bool operator==(const ForwardLaw&, const ForwardLaw&) = default;
};
struct ProfileNotes {
  std::string accession;    // "" where the source gives none
  std::string description;  // one line, "" where none
  std::optional<BitCutoff> gathering, trusted, noise;
  std::optional<ForwardLaw> forward;
  friend bool operator==(const ProfileNotes&, const ProfileNotes&) = default;
};

// The three cutoffs with HMMER's tags, in the order of its files.
struct CutoffField {
  const char* tag;
  std::optional<BitCutoff> ProfileNotes::*member;
};
inline constexpr CutoffField kCutoffFields[] = {
    {"GA", &ProfileNotes::gathering}, {"TC", &ProfileNotes::trusted}, {"NC", &ProfileNotes::noise}};

// The cutoff a tag ("GA", "TC", "NC") names, or null for another word.
inline std::optional<BitCutoff>* cutoff_named(ProfileNotes& notes, std::string_view tag) {
  for (const CutoffField& f : kCutoffFields)
    if (tag == f.tag) return &(notes.*f.member);
  return nullptr;
}

// A scoring profile: its rows, their consensus, and the residue-major score
// table the vectorised kernels read; the last two are built once, when
// first read (a library of thousands of profiles loads without them, and
// one sequence against it aligns few). Immutable, so one profile serves
// any number of threads; copies share what was built.
class Profile {
 public:
  Profile() = default;
  explicit Profile(std::vector<ProfileRow> rows, std::string name = "", ProfileNotes notes = {});

  int length() const { return static_cast<int>(rows_.size()); }
  const std::vector<ProfileRow>& rows() const { return rows_; }
  const ProfileRow& row(int k) const { return rows_[static_cast<std::size_t>(k)]; }
  const std::string& consensus() const;
  const std::string& name() const { return name_; }
  const ProfileNotes& notes() const { return notes_; }

  // Taken once, when the rows are fresh in the cache (a library's scores
  // do not fit in it, and every search asks): the largest score below
  // +infinity, 0 when none is above 0; the largest magnitude of a score,
  // NaN when one is NaN.
  double largest_score() const { return largest_score_; }
  double largest_magnitude() const { return largest_magnitude_; }

  // The kernels' table: one row of row_stride() doubles per residue code
  // (20 codes, then one row of zeros for letters outside the alphabet);
  // position k sits at index kTablePad + k, with zeros around it.
  static constexpr int kTablePad = 32;
  std::size_t row_stride() const { return rows_.size() + 3 * kTablePad; }
  const double* table() const;

 private:
  struct Built;
  std::vector<ProfileRow> rows_;
  std::string name_;
  ProfileNotes notes_;
  double largest_score_ = 0, largest_magnitude_ = 0;
  std::shared_ptr<Built> built_;
};

// ---- Settings --------------------------------------------------------------

// Where an alignment may begin. prf_free: residues before the first paired
// position are free (row 0 is penalised, column 0 free). seq_free: profile
// positions before the first paired residue are free (row 0 free). local:
// row 0 free and any cell whose best is 0.0 or less restarts at 0.0; column
// 0 keeps its penalties, and a move out of a restarted cell pays no opening.
enum class StartMode { global, prf_free, seq_free, local };

// Where an alignment may end. prf_free: the best pair in the last column;
// seq_free: the best pair in the last row; local: the best pair anywhere
// (strictly better wins, so the first cell in row-major order keeps a tie);
// global: cell (len, prf).
enum class EndMode { global, prf_free, seq_free, local };

// A gap of n residues facing no profile position (a gap in the profile)
// costs gap_open_penalty_prf + n * deletion_penalty_prf; a gap of n profile
// positions facing no residue (a gap in the sequence) costs
// gap_open_penalty_seq + n * deletion_penalty_seq.
struct Settings {
  double gap_open_penalty_prf = 0.0;
  double deletion_penalty_prf = 0.0;
  double gap_open_penalty_seq = 0.0;
  double deletion_penalty_seq = 0.0;
  StartMode start = StartMode::global;
  EndMode end = EndMode::global;
};

// The nine values of a parameter file, as written: the four penalties and
// the five switches.
struct ParamValues {
  double gap_open_penalty_prf = 0.0;
  double deletion_penalty_prf = 0.0;
  double gap_open_penalty_seq = 0.0;
  double deletion_penalty_seq = 0.0;
  bool prf_free_beg = false;
  bool prf_free_end = false;
  bool seq_free_beg = false;
  bool seq_free_end = false;
  bool show_alignment = false;
};

// The settings of a parameter file's values: both free switches of an end
// make that end local, one alone keeps its meaning. (SHOW_ALIGNMENT says how
// tormid prints, not how it aligns: it stays with the values.)
Settings set_parameters(const ParamValues& values);

// ---- Result ----------------------------------------------------------------

enum class AlignStatus {
  aligned,        // score and, where asked for, path and lines
  no_alignment,   // score at or below kNoAlignment: no path, empty lines
  out_of_memory,  // score kScoreFloor; failed_stage says where
};

// What an alignment call computes beyond the score.
enum class Detail {
  score,    // the score only: the fastest
  path,     // also the coordinates of the paired ends
  display,  // also the two aligned lines
};

struct Alignment {
  double score = kScoreFloor;
  AlignStatus status = AlignStatus::aligned;
  // With out_of_memory: 1 residue codes, 2 matrix rows, 3 traceback,
  // 4 aligned lines.
  int failed_stage = 0;
  // 1-based first and last paired residue and profile position (path and
  // display only; 0 when there is no pair).
  int seq_from = 0, seq_to = 0, prf_from = 0, prf_to = 0;
  // The aligned profile line (consensus letters) and sequence line, "."
  // marking gaps; every residue and position appears exactly once, and
  // between two pairs unpaired positions stand before unpaired residues.
  std::string prf_line;
  std::string seq_line;
};

// ---- Aligning --------------------------------------------------------------

// Instruction-set variants of the engine that this CPU runs, widest first
// ("avx512", "avx2", "sse2", "scalar"). Besides these, "reference" names the
// plain cell-by-cell engine that every variant matches bit for bit.
std::vector<std::string> engine_kernels();

// The environment variable TORMID_ISA (avx512, avx2, sse2, neon or scalar)
// caps the instruction set of every kernel, never above what the CPU has:
// to reproduce a report from another machine, or to measure a fallback.
// What was asked for, and what a program should tell about it: a value the
// CPU lacks (the widest it has is used) or one that names no instruction
// set (refused: the programs stop; the library runs uncapped).
struct IsaCap {
  std::string requested;  // empty without TORMID_ISA
  std::string problem;    // one line, empty when there is nothing to tell
  bool refused = false;
};
const IsaCap& isa_cap();
// "kernels: avx512bw (bound), avx512 (exact)": the widest kernels of each
// family that will run, for --version.
std::string kernels_line();
// The strip heights of those variants that pick one by profile length, as
// names a Workspace takes ("avx512/32", "avx512/16", ...): all give the
// same results; the heights exist for tests and benchmarks.
std::vector<std::string> engine_kernel_heights();

// Buffers reused from one alignment to the next (they only grow, so
// aligning many sequences allocates nothing once they have grown), and the
// kernel that fills the matrix. One per thread.
class Workspace {
 public:
  // The widest kernel this CPU runs.
  Workspace();
  // A kernel by name (engine_kernels() or "reference"); throws
  // std::invalid_argument for a name this CPU cannot run.
  explicit Workspace(std::string_view kernel);
  ~Workspace();
  Workspace(Workspace&&) noexcept;
  Workspace& operator=(Workspace&&) noexcept;

  const std::string& kernel() const;

  struct Impl;  // the engine's own
  Impl& impl() { return *impl_; }
  const Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// Aligns sequence (letters; case does not matter, letters outside the
// alphabet score 0.0) against profile under settings. Re-entrant: reads
// only its arguments and writes only the workspace and the result.
Alignment align(const Profile& profile, const Settings& settings, std::string_view sequence,
                Workspace& workspace, Detail detail);

// The scores align() gives every prefix of sequence (its first 1, 2, ...
// residues) where the settings end in the last column (EndMode::prf_free),
// all in one pass: scores[k] is the score of the first k + 1 residues.
// What calibrating the glocal law at many lengths needs. Throws
// std::invalid_argument for another end mode.
void prefix_scores(const Profile& profile, const Settings& settings, std::string_view sequence,
                   Workspace& workspace, std::vector<double>& scores);

// ---- Row by row ------------------------------------------------------------

// The best end in one row of align()'s matrix for an end mode that does
// not depend on the sequence's length (EndMode::local or prf_free): the
// score and column of the row's first best cell that the end mode takes
// (reached by a pair, above kScoreFloor), or score kNoRowEnd and column 0
// where it takes none.
inline constexpr double kNoRowEnd = -1e300;
struct RowEnd {
  double score = kNoRowEnd;
  int col = 0;
};

// Every row's end in one pass: ends[i] for row i + 1. The matrix of a
// prefix is that of the whole sequence's first rows, so align() of the
// first k residues ends in the first row among ends[0..k-1] whose score is
// strictly the best, from kScoreFloor up. Throws std::invalid_argument for
// another end mode.
void row_ends(const Profile& profile, const Settings& settings, std::string_view sequence, Workspace& workspace,
              std::vector<RowEnd>& ends);

// row_ends(), then align() of the first `rows` residues, rows picked from
// the ends by choose (1 to the sequence's length; 0 for none), with
// Detail::path or Detail::display. Where the fast kernels run, the one
// pass keeps the matrix's moves and the alignment comes from them, without
// computing the prefix's matrix again; the same alignment either way.
// Throws std::invalid_argument as row_ends() does, or for a choice beyond
// the sequence.
std::optional<Alignment> row_ends_and_prefix(const Profile& profile, const Settings& settings,
                                             std::string_view sequence, Workspace& workspace,
                                             std::vector<RowEnd>& ends,
                                             const std::function<int(const std::vector<RowEnd>&)>& choose,
                                             Detail detail);

// Where the matrix of a suffix of sequence, the residues from `from` on,
// meets the matrix of the whole sequence: the first row k of the suffix
// (1 to max_rows) whose cells are those of the whole sequence's row
// from + k in everything later rows read, so that every later row of the
// two is the same. ends gets the suffix's rows 1 to k (as row_ends()), and
// cells the matrix cells computed. -1 where the rows do not meet within
// max_rows (or where a later row could still tell them apart: column 0 of
// a penalised edge that may be chosen). Same end modes as row_ends().
int rows_meet(const Profile& profile, const Settings& settings, std::string_view sequence, std::size_t from,
              int max_rows, std::vector<RowEnd>& ends, std::uint64_t& cells);

// align()'s score of each sequence into scores (as many), to the bit,
// computed for many sequences at once, one per lane, where
// aligns_many_at_once() says so (faster than one by one); elsewhere one by
// one. Where ends is not empty (as many as sequences; settings that end in
// the profile's last column, EndMode::prf_free), ends[k] gets sequence k's
// row ends as row_ends() gives them. Throws std::invalid_argument on
// counts that differ, or row ends of another end mode.
//
// cuts (empty, or as many as sequences) let the lanes give up on a
// sequence that cannot score cut.below: at each row of cut.gains, where
// neither the best end so far nor any path from the row's cells (each
// cell's value plus its gain) nor any alignment starting below the row can
// reach below, the sequence stops; its score is then that bound (less than
// below) in place of align()'s, and its later rows have no end. A cut
// without gains changes nothing.
struct SuffixGains;
struct ScoreCut {
  double below = 0;
  const SuffixGains* gains = nullptr;
};
void align_scores(const Profile& profile, const Settings& settings, std::span<const std::string_view> sequences,
                  Workspace& workspace, std::span<double> scores, std::span<std::vector<RowEnd>> ends = {},
                  std::span<const ScoreCut> cuts = {});
// Whether align_scores() runs many sequences at once for this profile and
// settings in this workspace: where its instruction set has a kernel for
// it (AVX-512) and the alignments start anywhere in the sequence
// (StartMode::prf_free), with finite scores and penalties of moderate size.
bool aligns_many_at_once(const Profile& profile, const Settings& settings, const Workspace& workspace);

// The score of align() alone.
inline double score_sequence(const Profile& profile, const Settings& settings,
                             std::string_view sequence, Workspace& workspace) {
  return align(profile, settings, sequence, workspace, Detail::score).score;
}

// ---- Quick scores ----------------------------------------------------------

// A profile's scores in single precision, and as 16-bit integers, laid
// out for quick_score().
class QuickProfile {
 public:
  explicit QuickProfile(const Profile& profile);
  int length() const { return length_; }
  // As Profile's table, with more padding: the quick kernels' strips are
  // taller.
  static constexpr int kTablePad = 64;
  std::size_t row_stride() const { return static_cast<std::size_t>(length_) + 3 * kTablePad; }
  const float* table() const { return table_.data(); }

  // The scores times short_scale(), rounded to integers: the power of two
  // that brings the largest score in magnitude to between 512 and 1024
  // (0 where there is none: scores that are not finite). Padded as table().
  static constexpr int kShortTablePad = 64;
  static constexpr int kShortScoreLimit = 1024;
  // Penalties above this many units of the scale (or below 0) are left to
  // the floats.
  static constexpr int kShortPenaltyLimit = 4096;
  std::size_t short_row_stride() const { return static_cast<std::size_t>(length_) + 3 * kShortTablePad; }
  const std::int16_t* short_table() const { return short_table_.data(); }
  double short_scale() const { return short_scale_; }
  // The same integers position-major: per position kShortCodes values by
  // residue code, as the kernels of many sequences at once look them up.
  static constexpr int kShortCodes = 32;
  const std::int16_t* short_columns() const { return short_columns_.data(); }
  // The floats position-major in the same way.
  const float* columns() const { return columns_.data(); }

 private:
  int length_ = 0;
  std::vector<float> table_;
  std::vector<std::int16_t> short_table_;
  std::vector<std::int16_t> short_columns_;
  std::vector<float> columns_;
  double short_scale_ = 0;
};

// align()'s score computed in single precision: the same recurrence on
// floats (scores and penalties rounded to floats), twice the lanes per
// vector, and the same result on every CPU. It differs from align()'s by
// the rounding of floats, and where that breaks a tie otherwise, by the
// score of another path. Local alignments (local start and end) run on
// 16-bit integers instead, four times the lanes: scores and penalties
// times short_scale(), rounded, and the result divided by it; in single
// precision where the penalties do not fit that scale or the score
// reaches the top of the range. For what needs the scores of many random
// sequences more than exact ones: calibrating significance. The sequence
// and profile must not be empty (std::invalid_argument).
double quick_score(const QuickProfile& profile, const Settings& settings, std::string_view sequence,
                   Workspace& workspace);
// quick_score() of each sequence into scores (as many): the same numbers,
// where the 16-bit integers apply computed for many sequences at once, one
// per lane, which fills the vectors better than one sequence's strips.
void quick_scores(const QuickProfile& profile, const Settings& settings,
                  std::span<const std::string_view> sequences, Workspace& workspace, std::span<double> scores);
// prefix_scores() in single precision, as quick_score().
void quick_prefix_scores(const QuickProfile& profile, const Settings& settings, std::string_view sequence,
                         Workspace& workspace, std::vector<double>& scores);

// ---- Score bound -----------------------------------------------------------

// Instruction-set variants of the bound that this CPU runs, widest first
// ("avx512bw", "avx2", "sse2", "scalar"); all give the same number.
std::vector<std::string> bound_kernels();

// What a bound is never below: align()'s score of the sequence, or also
// align()'s score of every stretch of it aligned as a sequence of its own
// (as a search for several domains aligns the flanks of a domain), where
// alignments start anywhere in the sequence (StartMode::prf_free and
// local). The two differ only with a local start, where a residue inside
// the sequence may not pair with the first position (column 0 keeps its
// penalties) but a stretch's first may: the stretches' bound takes column
// 0 as free.
enum class BoundReach { sequence, stretches };

// A number never below the score that align() gives a sequence, computed in
// 16-bit integers several times faster than align(): a search may skip
// every sequence whose bound falls below its threshold without changing
// what it finds. Built once per profile and settings; immutable, so one
// serves any number of threads.
class ScoreBound {
 public:
  // Scores are rounded up, and penalties down, to multiples of 1 / scale
  // (a power of two from 1/16 to 1024); values from -32768 / scale to
  // 32767 / scale fit the integers. bound_scale() picks one. kernel: a
  // bound_kernels() name, empty for the widest. Throws
  // std::invalid_argument for a scale or kernel outside these.
  ScoreBound(const Profile& profile, const Settings& settings, double scale, std::string_view kernel = {},
             BoundReach reach = BoundReach::sequence);

  // False where the integers cannot follow the scores (a negative deletion
  // penalty, a large bonus for opening, a score above 32767 / scale, a
  // score or penalty that is not finite or beyond 2^40): bound() is then
  // always +infinity.
  bool usable() const;
  // Whether the bound is much faster than align() here: always with a
  // kernel that works on many sequences at once; with one that works along
  // the profile, only when the profile fills a few vectors.
  bool pays_off() const;
  const std::string& kernel() const;
  double scale() const;

  // At least align(profile, settings, sequence, any workspace, any
  // detail).score; +infinity where it cannot tell (a value reached
  // 32767 / scale, an empty sequence or profile).
  double bound(std::string_view sequence, Workspace& workspace) const;
  // bound() of each sequence, into bounds (as many); faster than one by
  // one where the kernel works on many sequences at once.
  void bound_many(std::span<const std::string_view> sequences, std::span<double> bounds,
                  Workspace& workspace) const;

  struct Tables;  // the bound's own

 private:
  friend class SuffixBound;
  std::shared_ptr<const Tables> tables_;
};

// What the rest of an alignment may still add, for alignments that start
// and end anywhere in the sequence in the profile's first and last position
// (StartMode::prf_free, EndMode::prf_free): the score bound of the reversed
// profile run along the reversed sequence, whose row len - r holds, for
// every cell (r, j), the best relaxed path from that cell to an end. Lets
// align_scores() give up on a sequence midway (ScoreCut). Immutable.
struct SuffixGains {
  // Rows of the sequence, descending, each before its last.
  std::vector<int> rows;
  // Per row, prf values: the gain of the path out of column j (0 to
  // prf - 1) is d[prf - 1 - j] * unit + added, and waiver more where the
  // cell lies inside a gap (the path may continue it without its opening);
  // out of column prf, added.
  std::vector<std::int16_t> d;
  // Per row: the score of any alignment that starts below the row is at
  // most start[n] * unit + waiver + added.
  std::vector<std::int16_t> start;
  double unit = 0, added = 0, waiver = 0;
};
class SuffixBound {
 public:
  SuffixBound(const Profile& profile, const Settings& settings, double scale);
  bool usable() const { return usable_; }
  // The gains: at least what any path out of cell (r, j), whatever move
  // brought it there, adds on its way to an end; and at least the score
  // of any alignment that starts below row r.
  // Gains of each sequence at rows about `every` apart (out[k] without rows
  // where the integers could not tell), many sequences at once.
  void gains(std::span<const std::string_view> sequences, int every, Workspace& workspace,
             std::vector<SuffixGains>& out) const;

 private:
  int prf_ = 0;
  Profile reversed_;  // with a position of zeros after the last, see gains()
  ScoreBound bound_;
  bool usable_ = false;
};

// The finest scale for thresholds from `lowest` to `highest`. Above zero,
// a threshold plus twice the profile's largest score leaves half the
// integers' range spare: a value that reaches the top makes the bound
// unknown. Below zero only the bottom matters, where a clipped value is
// merely raised, so a threshold with the same spare needs only to stay
// above it (glocal thresholds lie hundreds below zero for long profiles,
// and each halving of the scale doubles the rounding).
double bound_scale(const Profile& profile, double lowest, double highest);

// Instruction-set variants of the coarse bound that this CPU runs, widest
// first ("avx512vbmi", "avx2", "scalar"); all give the same number.
std::vector<std::string> coarse_bound_kernels();

// A first, coarser pass before ScoreBound for local alignments (local start
// and end, opening and deletion penalties at least 0): the same relaxed
// paths on unsigned bytes, 64 sequences at once with AVX-512 VBMI, 32 with
// AVX2. Its scale leaves room for values up to `reach` (a search's
// threshold), so it is looser than ScoreBound, but still never below
// align()'s score, nor that of any stretch of the sequence (column 0 counts
// as free: BoundReach::stretches); +infinity where a value came near the
// top of the bytes.
// A search runs ScoreBound only on the sequences this pass leaves.
class CoarseBound {
 public:
  // kernel: a coarse_bound_kernels() name, empty for the widest
  // (std::invalid_argument when there is none of that name).
  CoarseBound(const Profile& profile, const Settings& settings, double reach, std::string_view kernel = {});

  // Whether it gives bounds at all: the rules above hold, every score and
  // penalty is finite, and the scale is fine enough to tell a threshold of
  // `reach` from chance (at least 2 units per unit of score).
  bool usable() const;
  // Whether it is faster than ScoreBound alone: usable, with a wide kernel.
  bool pays_off() const;
  const std::string& kernel() const;
  double scale() const;

  // At least align()'s score of each sequence, into bounds (as many).
  void bound_many(std::span<const std::string_view> sequences, std::span<double> bounds,
                  Workspace& workspace) const;

  struct Tables;  // the bound's own

 private:
  std::shared_ptr<const Tables> tables_;
};

// Many profiles' coarse bounds of one sequence at once, the profiles side
// by side in the lanes: a search of a few sequences against a library
// fills no lanes of CoarseBound::bound_many(). The same numbers as
// CoarseBound(profiles[k], settings, reaches[k]) gives; +infinity where it
// is not usable. Immutable once built, so one serves any number of
// threads.
class CoarseBoundSet {
 public:
  // A reach per profile (std::invalid_argument otherwise). kernel: a
  // coarse_bound_kernels() name, empty for the widest
  // (std::invalid_argument when there is none of that name).
  CoarseBoundSet(std::span<const Profile> profiles, const Settings& settings, std::span<const double> reaches,
                 std::string_view kernel = {});

  std::size_t size() const;
  // Whether it is faster than the profiles one by one: a wide kernel.
  bool pays_off() const;
  const std::string& kernel() const;

  // Each profile's bound of the sequence, in the order they were given
  // (bounds: size() values).
  void bound(std::string_view sequence, std::span<double> bounds, Workspace& workspace) const;

  struct Tables;  // the set's own

 private:
  std::shared_ptr<const Tables> tables_;
};

}  // namespace tormid
