// tormid's database search as a library: every record of a sequence source
// against one or many profiles, several domains per sequence, calibrated
// E-values, on every core.
//
// One call: search(profiles, config, source) -> SearchResult. SearchConfig
// holds every choice of the search and its defaults, written once here;
// what a run learns as it goes (records so far, progress) never enters it.
// The stages inside are: reading batches of records, the score bound that
// dismisses pairs which cannot pass, exact alignment with the domain
// search, and significance (calibration, the composition correction,
// E-values). Scores are bit for bit those of align() on each domain's
// stretch, whatever the number of threads.
//
// Installed as <tormid/search.h>; link tormid::search.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include <tormid/engine.h>
#include <tormid/input.h>

namespace tormid {

// ---- Configuration ---------------------------------------------------------

inline constexpr double kDefaultGapOpen = 11.0;
inline constexpr double kDefaultGapExtend = 1.0;
inline constexpr double kDefaultMaxEvalue = 10.0;
// Without E-values (global mode) domains are reported by score alone.
inline constexpr double kDefaultMinScore = 30.0;
inline constexpr std::uint64_t kDefaultSeed = 42;
// The longest record a search takes by default, in residues: a hundred
// times the longest proteins known, and a bound on the memory one record
// may take.
inline constexpr std::size_t kDefaultMaxRecordLength = 10'000'000;

// The free ends of a search: glocal (the whole profile inside a longer
// sequence), local (any part of each), global (both whole).
enum class SearchMode { glocal, local, global };

// The alignment settings of a mode, with the same gap costs on both sides.
Settings mode_settings(SearchMode mode, double open = kDefaultGapOpen, double extend = kDefaultGapExtend);

// A profile's cutoffs as P-values of one sequence: of the pair (all its
// domains together, Hit::sequence_evalue / Z) and of each domain.
struct PvalueCutoff {
  double sequence = 1, domain = 1;
};

// Which of the curated cutoffs a profile may carry (Pfam's GA, TC, NC), in
// the order of kCutoffFields.
enum class CutoffKind { gathering, trusted, noise };

// HMMER gives no sequence a score, whatever its cutoffs, unless its
// forward score's P-value passes this (the last of its filters).
inline constexpr double kHmmerForwardPvalue = 1e-5;

// A profile's cutoff of this kind as P-values: each bit score read under
// the model's own law (HMMER's STATS LOCAL FORWARD, P = exp(-lambda
// (s - tau)), at most 1), the sequence's at most kHmmerForwardPvalue. No
// value where the profile carries no such cutoff or no law.
std::optional<PvalueCutoff> pvalue_cutoff(const ProfileNotes& notes, CutoffKind kind);
// HMMER's tag of the kind: "GA", "TC" or "NC".
const char* cutoff_tag(CutoffKind kind);

struct SearchConfig {
  Settings alignment = mode_settings(SearchMode::local);  // as tormid-scan and HMMER search
  // A domain is reported when its E-value is at most max_evalue and its
  // score at least min_score (when set); where the settings give no
  // E-values (no free end), when its score is at least min_score, or
  // kDefaultMinScore when unset.
  double max_evalue = kDefaultMaxEvalue;
  std::optional<double> min_score;
  // Z of the E-values; unset: the number of sequences searched.
  std::optional<double> database_size;
  // Seed of the random sequences that place each profile's law (its shape
  // comes from random sequences of a seed of the profile's own).
  std::uint64_t seed = kDefaultSeed;
  // Skip the pairs whose score bound proves them below the threshold; the
  // hits are the same either way.
  bool filter = true;
  // Correct E-values for each sequence's own composition.
  bool bias_correction = true;
  // At most this many domains per sequence and profile, the first found
  // (0: every domain that passes).
  int max_domains = 0;
  // Keep each domain's aligned lines in its hit.
  bool alignments = false;
  // 0: every core this process may use; at most kThreadsPerCore per core.
  int threads = 0;
  // A longer record ends the search with an InputError (limit).
  std::size_t max_record_length = kDefaultMaxRecordLength;
  // Per-profile cutoffs (one per profile searched, or none), as curated
  // libraries carry them: a domain is reported only where its P-value is
  // at most its profile's domain cutoff (besides max_evalue and
  // min_score), and a pair's domains only where the pair's sequence
  // P-value is at most the sequence cutoff. Needs E-values.
  std::vector<PvalueCutoff> cutoffs;

  // Whether the settings have E-values (a free end).
  bool has_evalues() const;
  // The score threshold where there are no E-values.
  double score_threshold() const { return min_score.value_or(kDefaultMinScore); }
  // Whether a domain is reported in a search of z sequences, from its
  // score and the expected number of chance domains this good per sequence
  // (NaN where there is no law).
  bool reports(double expected, double score, double z) const {
    // With a local start a score of 0 pairs nothing worth having.
    if (alignment.start == StartMode::local && !(score > 0)) return false;
    if (std::isnan(expected)) return score >= score_threshold();
    if (min_score && score < *min_score) return false;
    return expected * z <= max_evalue;
  }
  // The threads a search runs: threads, or every core when 0, and at most
  // kThreadsPerCore per core.
  int thread_count() const;
};

// More threads than this per core only slow a search down (and, by the
// thousand, exhaust the process).
inline constexpr int kThreadsPerCore = 4;

// The CPUs this process may run on.
int available_cores();

// ---- Sequences -------------------------------------------------------------

struct SequenceRecord {
  std::string name;
  std::string sequence;  // letters, either case; anything else is dropped, as from a FASTA file
  std::string description;
};

// Where the sequences come from: a FASTA file (plain or gzip-compressed),
// standard input, or the caller's records. Copies share the records.
class SequenceSource {
 public:
  static SequenceSource file(std::string path);
  static SequenceSource standard_input();  // named "-" in errors
  static SequenceSource records(std::vector<SequenceRecord> records);
  // Records from the caller one at a time, read once (as a pipe is): next
  // fills a record and returns true, or returns false at the end. It is
  // called from the search's reading thread, one call at a time.
  using RecordGenerator = std::function<bool(SequenceRecord&)>;
  static SequenceSource generated(RecordGenerator next);

  enum class Kind { file, standard_input, records, generated };
  Kind kind() const { return kind_; }
  // The file's path, "-" for standard input, "records" for the caller's.
  const std::string& name() const { return name_; }
  // The caller's records (none for a file).
  const std::vector<SequenceRecord>& record_list() const;
  const RecordGenerator& generator() const { return *generator_; }

 private:
  SequenceSource(Kind kind, std::string name) : kind_(kind), name_(std::move(name)) {}
  Kind kind_;
  std::string name_;
  std::shared_ptr<const std::vector<SequenceRecord>> records_;
  std::shared_ptr<const RecordGenerator> generator_;
};

// ---- Results ---------------------------------------------------------------

// A sequence's name and description, held once for all its hits (a
// description may be long).
struct SequenceLabel {
  std::string name, description;
};

// One domain of one sequence against one profile.
struct Hit {
  int profile = 0;           // index into the profiles searched
  std::uint64_t record = 0;  // input order: a file's byte offset of the record, a list's index
  std::shared_ptr<const SequenceLabel> sequence;
  const std::string& name() const { return sequence->name; }
  const std::string& description() const { return sequence->description; }
  int seq_len = 0;
  int domain = 0, n_domains = 0;  // k of n, numbered along the sequence
  double score = 0.0;
  // P(a random sequence of this length scores this well against the
  // profile); the E-value, the number of domains this good expected by
  // chance in the Z sequences searched; the score in bits, such that
  // E = Z * seq_len * 2^-bits (in local mode lambda (score - mu0) / ln 2,
  // whatever the length). NaN where the settings give no E-values.
  double pvalue = NAN, evalue = NAN, bits = NAN;
  // The E-value of the sequence against the profile, from all the pair's
  // reported domains together (the same on each of them): the chance of
  // domains this good in one random sequence, times Z. At most the best
  // domain's E-value; a protein of repeats, each weak alone, can be far
  // more significant as a whole (score_law.h, domains_expected_count).
  double sequence_evalue = NAN;
  // The sequence E-value read as bits the same way (at least the best
  // domain's bits).
  double sequence_bits = NAN;
  // How much of the score the composition of the domain's residues alone
  // explains: the E-value is that of score - bias under the calibrated law
  // (0 when the composition makes no difference).
  double bias = 0;
  double bias_bits = 0;  // the same in bits
  int seq_from = 0, seq_to = 0, prf_from = 0, prf_to = 0;  // 1-based
  std::string prf_line, seq_line;  // the aligned stretch, with alignments
};

struct SearchStats {
  std::uint64_t records = 0;        // records with letters, searched
  double database_size = 0;         // Z of the E-values
  std::uint64_t empty_records = 0;  // records without letters, skipped
  std::uint64_t residues = 0;
  std::uint64_t nucleotides = 0;    // of the residues, A, C, G, T, U and N: a DNA file looks like it
  std::uint64_t cells = 0;          // every residue against every profile position
  std::uint64_t aligned_cells = 0;  // cells the engine computed, domains and composition included
  std::uint64_t pairs = 0;            // sequence-profile pairs searched
  std::uint64_t pairs_dismissed = 0;  // of them, those whose score bound fell below the threshold
  // Of the rest (alignments that start anywhere in the sequence but not
  // locally), those whose best score, computed before the domain search,
  // does not pass.
  std::uint64_t pairs_scored_out = 0;
};

struct SearchResult {
  std::vector<Hit> hits;  // in report order (see sort_hits)
  SearchStats stats;
  double calibration_seconds = 0;
};

// Report order: per profile in the order given, by E-value (lowest first;
// without E-values, by score), then score, then input order, then position.
void sort_hits(std::vector<Hit>& hits);
// The order of a report per sequence (tormid-scan --per-sequence): by
// sequence in input order, then along it, then by profile.
std::vector<const Hit*> in_sequence_order(const std::vector<Hit>& hits);

// Where domains of different profiles overlap on a sequence by more than
// this share of the shorter one's residues, resolve_overlaps() keeps the
// more significant.
inline constexpr double kOverlapShare = 0.5;

// Hits and, for each, its index among the hits it was taken from.
struct ResolvedHits {
  std::vector<Hit> hits;
  std::vector<std::size_t> sources;
};

// The domain architecture of each sequence: of domains of different
// profiles that overlap by more than share, only the most significant (the
// lowest E-value; without E-values the highest score), the others dropped
// whatever their order. Hits keep their order and E-values; a pair's
// domains are numbered again among those kept.
ResolvedHits resolve_overlaps(const std::vector<Hit>& hits, double share = kOverlapShare);

// ---- Searching -------------------------------------------------------------

// A search's progress, reported from its reading thread after each batch.
struct Progress {
  std::uint64_t records = 0;
  std::uint64_t residues = 0;
  std::uint64_t bytes = 0;  // of the sequence file read so far
};
using ProgressCallback = std::function<void(const Progress&)>;

// An error of the search itself (a score that is not finite, a lack of
// memory while aligning, a file that changed while it was read); problems
// with the files throw InputError (<tormid/input.h>).
class SearchError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What search() throws when its stop token is asked to stop: it stops
// within a batch of records (or a chunk of the calibration), its threads
// done.
class SearchStopped : public SearchError {
 public:
  SearchStopped() : SearchError("the search was stopped") {}
};

// Every profile's cutoffs of this kind, for SearchConfig::cutoffs; throws
// SearchError naming the profiles that carry none (as HMMER refuses them).
std::vector<PvalueCutoff> pvalue_cutoffs(std::span<const Profile> profiles, CutoffKind kind);

// Refuses profiles and settings under which scores and E-values mean
// nothing: negative gap penalties (gaps would pay), and scores or
// penalties beyond kLargestMagnitude. Throws SearchError naming what.
inline constexpr double kLargestMagnitude = 1e6;
void check_searchable(std::span<const Profile> profiles, const Settings& settings);

// ---- Calibration -----------------------------------------------------------

// The profiles' score laws for the configuration's settings and seed, as
// a prepared library stores them: what search() otherwise calibrates at
// start-up. progress, when set, is called with the number of profiles done
// so far (from the calling thread).
std::vector<StoredLaw> calibrate_laws(std::span<const Profile> profiles, const SearchConfig& config,
                                      const std::function<void(std::size_t)>& progress = {});

// The version of the laws calibrate_laws() gives: a stored law of another
// version is calibrated again.
inline constexpr std::uint32_t kLawModel = 2;

// Whether a stored law was calibrated for the configuration: by this
// version, for the same alignment settings and seed.
bool law_made_for(const StoredLaw& law, const SearchConfig& config);
// Whether a stored law holds for the configuration: made for it, and a law
// of the kind its settings call for. A profile no law fits (a glocal one
// of a few positions) is stored without one and calibrated at each search,
// where it costs next to nothing.
bool law_holds(const StoredLaw& law, const SearchConfig& config);
// Whether a stored law's numbers are a law's (else the file is damaged);
// of another version, whether they look like one.
bool law_readable(const StoredLaw& law);

// Searches every record of the source against every profile; the
// profiles and settings pass check_searchable() first. laws, when given
// (one per profile, from a prepared library), spare the calibration of
// each profile whose law holds for the configuration. stop, when asked to
// stop from another thread, ends the search with SearchStopped.
SearchResult search(std::span<const Profile> profiles, const SearchConfig& config, const SequenceSource& source,
                    const ProgressCallback& progress = {}, std::span<const StoredLaw> laws = {},
                    std::stop_token stop = {});

}  // namespace tormid
