// A unit of the search as a pipeline: one thread reads the records in
// batches, a pool of threads runs the score bound over each batch and
// aligns every pair it does not dismiss, each thread with its own
// workspace, and the candidate domains of each batch are collected in
// input order. At most a few batches are in flight, so memory is bounded
// by them, the workspaces and the candidates, whatever the size of the
// source.
#include "search/units.h"

#include <tbb/parallel_for.h>
#include <tbb/parallel_pipeline.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <string_view>

#include "search/bound_filter.h"
#include "search/composition.h"
#include "search/reporting.h"
#include "input/thread_arenas.h"

namespace tormid {

namespace {

// The letters of nucleotide sequences, in either case.
constexpr auto kNucleotide = [] {
  std::array<bool, 256> is{};
  for (const char c : std::string_view("ACGTUNacgtun")) is[static_cast<unsigned char>(c)] = true;
  return is;
}();

// Records per batch, and residues: the 16-bit bound takes the pairs of a
// batch that the coarse bound lets through together, so larger batches
// fill its lanes better (real proteins against 8
// models: 1,024 records and 1 Mi residues 4.65 s, 4,096 4.28 s, 8,192 and
// 4 Mi residues 4.12 s in local mode; 8.80 and 8.30 s in glocal mode),
// for a few megabytes each.
constexpr std::size_t kBatchRecords = 8192;
constexpr std::size_t kBatchResidues = 1 << 22;
// Every pair of a batch keeps its domains, cells and bound until the batch
// is collected: with a library of many profiles, fewer records per batch
// (20,000 profiles: 52 records, some 40 MB per batch).
constexpr std::size_t kBatchPairs = 1 << 20;

struct Record {
  FastaRecord text;
  std::uint64_t index;  // among the records with letters of the unit
};

struct Batch {
  std::vector<Record> records;  // those with letters
  std::uint64_t empty_records = 0;
  // Per pair, record-major, then profile: its domains, the cells aligned,
  // whether the bound dismissed it; whether its best score showed it has
  // no domain, and its row ends where that score pass kept them.
  std::vector<std::vector<Domain>> found;
  std::vector<std::uint64_t> cells;
  std::vector<char> dismissed;
  std::vector<char> scored_out;
  std::vector<std::vector<RowEnd>> known_ends;
};

// Pairs of a batch of one profile (in the unit), to be worked on together.
struct PairGroup {
  std::size_t profile;
  std::vector<std::size_t> pairs;
};

// Reads up to a batch of records (at most `most`); false when there are
// none left.
bool read_batch(RecordStream& stream, std::size_t most, Batch& batch, std::uint64_t& searched) {
  FastaRecord record;
  std::size_t residues = 0;
  while (batch.records.size() < most && residues < kBatchResidues && stream.next(record)) {
    if (record.sequence.empty()) {
      ++batch.empty_records;
      continue;
    }
    residues += record.sequence.size();
    batch.records.push_back({std::move(record), searched++});
  }
  return !batch.records.empty() || batch.empty_records > 0;
}

// Whether a stretch whose best alignment scores this, in a sequence of
// this length, may hold a domain that is reported: a stretch of it may
// score up to gain more (stretch_gain()).
auto passes_for(const ScoreLaw& law, const SearchConfig& config, int length, double z, double gain) {
  return [&law, &config, length, z, gain](double score) {
    return config.reports(law.expected_count(score + gain, length), score + gain, z);
  };
}

// Whether the domain search looks at a flank whose best alignment scores
// this: where it may hold a domain that is reported or that the sequence's
// E-value sums (kSummedDomainsEvalue), whatever the threshold; the
// composition only raises chance counts, so none with a larger calibrated
// one can be either.
auto explores_for(const ScoreLaw& law, const SearchConfig& config, int length, double z, double gain) {
  return [&law, &config, length, z, gain](double best) {
    const double score = best + gain;
    if (!law.defined()) return config.reports(NAN, score, z);
    if (config.alignment.start == StartMode::local && !(score > 0)) return false;
    return law.expected_count(score, length) * z <= std::max(config.max_evalue, kSummedDomainsEvalue);
  };
}

// One sequence against one profile: its candidate domains, with their
// composition where composition() gives a model (asked only once there are
// domains); nothing when its bound rules it out (dismissed). ends: the
// sequence's row ends where they are known already.
template <class Composition>
std::vector<Domain> search_pair(const Profile& profile, const ScoreLaw& law, const Composition& composition,
                                const SearchConfig& config, const std::string& sequence, double z, double bound,
                                double gain, Workspace& workspace, std::uint64_t& cells, char& dismissed,
                                std::vector<RowEnd>&& ends, const std::function<const ScoreBound*()>& stretch_bound) {
  const int length = static_cast<int>(sequence.size());
  // The bound is one of every stretch of the sequence.
  if (!BoundFilter::may_pass(bound, law, length, passes_for(law, config, length, z, 0))) {
    dismissed = 1;
    return {};
  }
  // Unless no domain of the sequence passes (none scores more than gain
  // above its best), every flank that may matter is searched.
  const bool corrected = config.bias_correction && law.defined();
  const auto explores = explores_for(law, config, length, z, gain);
  // Flanks are bounded in local mode only: in glocal mode the bound drops
  // fewer of their rows (120 of 252 million cells on real proteins, against
  // 547 of 811 in local mode) and costs more: the run was no faster.
  MayExplore may_explore;
  // The bound is built by the first flank that needs it: a search of one
  // protein against a library would otherwise build one for every profile.
  if (config.alignment.start == StartMode::local)
    may_explore = [&](std::string_view stretch) {
      const ScoreBound* bound = stretch_bound();
      return !bound || BoundFilter::may_pass(bound->bound(stretch, workspace), law, length, explores);
    };
  std::vector<Domain> found =
      find_domains(profile, config.alignment, sequence, passes_for(law, config, length, z, gain), explores,
                   config.alignments || corrected, workspace, cells, std::move(ends), may_explore);
  if (corrected && !found.empty()) {
    const CompositionModel& model = composition();
    for (Domain& d : found) {
      d.composition = composition_of(d, profile, model, config.alignment, sequence);
      if (!config.alignments) {
        d.prf_line = std::string();
        d.seq_line = std::string();
      }
    }
  }
  return found;
}
// Pairs per call of the best scores of many sequences at once: enough to
// fill its lanes several times over.
constexpr std::size_t kScorePairs = 512;
constexpr int kCutRows = 64;
constexpr std::size_t kCutValues = std::size_t{1} << 23;  // 16 MB of gains per group
// The reversed bound runs many sequences at once, one per lane of 32: for
// a group of a few (one protein against a library) it would cost more
// than the lanes it frees.
constexpr std::size_t kCutPairs = 16;

class UnitSearch {
 public:
  UnitSearch(const UnitProfiles& profiles, const SearchConfig& config, RecordStream& stream,
             const RecordsKnown& known, const ProgressCallback& progress, std::stop_token stop)
      : profiles_(profiles),
        config_(config),
        stream_(stream),
        known_(known),
        progress_callback_(progress),
        stop_(std::move(stop)),
        filter_(profiles.all, profiles.laws, profiles.first, profiles.last, config),
        count_(static_cast<std::size_t>(profiles.last - profiles.first)),
        compositions_built_(std::make_unique<std::once_flag[]>(count_)),
        compositions_(count_) {
    for (int p = profiles.first; p < profiles.last; ++p) {
      const Profile& profile = profiles.all[static_cast<std::size_t>(p)];
      positions_ += static_cast<std::uint64_t>(profile.length());
      gains_.push_back(stretch_gain(profile, config.alignment));
    }
  }

  std::shared_ptr<Batch> next_batch(tbb::flow_control& control);
  std::shared_ptr<Batch> align_batch(std::shared_ptr<Batch> batch);
  void collect(std::shared_ptr<Batch> batch);
  UnitResult& result() { return result_; }

 private:
  // Stops the pipeline (an exception cancels every stage) when asked;
  // checked before each batch and each pair.
  void stop_if_asked() const {
    if (stop_.stop_requested()) throw SearchStopped();
  }
  void align_pair(Batch& batch, std::size_t pair, const std::vector<double>& bounds);
  void score_batch(Batch& batch, const std::vector<double>& bounds);
  std::vector<ScoreCut> score_cuts(const Batch& batch, const PairGroup& group, const std::vector<double>& bounds,
                                   const std::vector<std::string_view>& sequences, Workspace& workspace,
                                   std::vector<SuffixGains>& gains) const;
  // The composition model of profile p (in the unit), built by the first
  // thread that needs it.
  const CompositionModel& composition(std::size_t p) const {
    std::call_once(compositions_built_[p], [&] {
      compositions_[p].emplace(profiles_.all[static_cast<std::size_t>(profiles_.first) + p]);
    });
    return *compositions_[p];
  }
  // Whether this bound lets the record through against profile p (in the
  // unit); and the pair's own bound.
  bool may_pass(const Record& record, std::size_t p, double bound) const {
    const ScoreLaw& law = profiles_.laws[static_cast<std::size_t>(profiles_.first) + p];
    const int length = static_cast<int>(record.text.sequence.size());
    return BoundFilter::may_pass(bound, law, length, passes_for(law, config_, length, known_.z(config_, record.index), 0));
  }
  bool may_pass(const Batch& batch, std::size_t pair, const std::vector<double>& bounds) const {
    return may_pass(batch.records[pair / count_], pair % count_, bounds[pair]);
  }

  // The pairs of the batch that wanted(pair) picks, those of each profile
  // together, at most `most` at a time.
  template <class Wanted>
  std::vector<PairGroup> pair_groups(const Batch& batch, std::size_t most, const Wanted& wanted) const {
    std::vector<PairGroup> groups;
    for (std::size_t p = 0; p < count_; ++p)
      for (std::size_t pair = p; pair < batch.found.size(); pair += count_) {
        if (!wanted(pair)) continue;
        if (groups.empty() || groups.back().profile != p || groups.back().pairs.size() == most)
          groups.push_back({p, {}});
        groups.back().pairs.push_back(pair);
      }
    return groups;
  }
  const UnitProfiles& profiles_;
  const SearchConfig& config_;
  RecordStream& stream_;
  const RecordsKnown& known_;
  const ProgressCallback& progress_callback_;
  std::stop_token stop_;
  BoundFilter filter_;
  std::size_t count_;  // profiles of the unit
  std::unique_ptr<std::once_flag[]> compositions_built_;
  mutable std::vector<std::optional<CompositionModel>> compositions_;
  std::vector<double> gains_;  // stretch_gain() of each profile of the unit
  std::uint64_t positions_ = 0;
  Workspaces workspaces_;
  Progress progress_;
  std::uint64_t searched_ = 0;
  UnitResult result_;
};

std::shared_ptr<Batch> UnitSearch::next_batch(tbb::flow_control& control) {
  stop_if_asked();
  auto batch = std::make_shared<Batch>();
  const std::size_t most = std::clamp<std::size_t>(kBatchPairs / std::max<std::size_t>(count_, 1), 1, kBatchRecords);
  if (!read_batch(stream_, most, *batch, searched_)) {
    control.stop();
    return nullptr;
  }
  progress_.records += batch->records.size() + batch->empty_records;
  for (const Record& r : batch->records) progress_.residues += r.text.sequence.size();
  progress_.bytes = stream_.bytes_read();
  if (progress_callback_) progress_callback_(progress_);
  return batch;
}

std::shared_ptr<Batch> UnitSearch::align_batch(std::shared_ptr<Batch> batch) {
  const std::size_t pairs = batch->records.size() * count_;
  batch->found.resize(pairs);
  batch->cells.assign(pairs, 0);
  batch->dismissed.assign(pairs, 0);
  batch->scored_out.assign(pairs, 0);
  batch->known_ends.resize(pairs);
  // First the score bounds, each profile against many sequences at once.
  std::vector<std::string_view> sequences;
  for (const Record& r : batch->records) sequences.emplace_back(r.text.sequence);
  auto record_may_pass = [&](std::size_t k, std::size_t p, double bound) {
    return may_pass(batch->records[k], p, bound);
  };
  const std::vector<double> bounds = filter_.bounds(sequences, record_may_pass, workspaces_);
  if (config_.filter && config_.alignment.start != StartMode::local) score_batch(*batch, bounds);
  tbb::parallel_for(std::size_t{0}, pairs, [&](std::size_t pair) { align_pair(*batch, pair, bounds); });
  return batch;
}

// Where alignments may start anywhere in the sequence, the best scores of
// the pairs the bound lets through, the pairs of each profile together
// (kScorePairs at a time) and many sequences at once where the engine
// can: a pair whose best alignment does not pass has no domain. The bound
// follows every path, not align()'s rule of one move per cell, and lets
// through many pairs that score far lower (real proteins against 8
// models, glocal: 36,000 pairs, 3,234 of them with a domain).
void UnitSearch::score_batch(Batch& batch, const std::vector<double>& bounds) {
  const std::vector<PairGroup> groups =
      pair_groups(batch, kScorePairs, [&](std::size_t pair) { return may_pass(batch, pair, bounds); });
  // Where alignments end in the profile's last column, the domain search
  // starts from every row's end, which the same pass gives: it takes them
  // from here, and this pass costs nothing even one by one.
  const bool keep_ends = config_.alignment.end == EndMode::prf_free;
  tbb::parallel_for(std::size_t{0}, groups.size(), [&](std::size_t g) {
    stop_if_asked();
    const std::size_t p = static_cast<std::size_t>(profiles_.first) + groups[g].profile;
    const Profile& profile = profiles_.all[p];
    Workspace& workspace = workspaces_.local();
    if (!keep_ends && !aligns_many_at_once(profile, config_.alignment, workspace)) return;
    const std::vector<std::size_t>& pairs = groups[g].pairs;
    std::vector<std::string_view> sequences;
    for (const std::size_t pair : pairs) sequences.emplace_back(batch.records[pair / count_].text.sequence);
    std::vector<double> scores(pairs.size());
    std::vector<std::vector<RowEnd>> ends(keep_ends ? pairs.size() : 0);
    std::vector<SuffixGains> gains;
    const std::vector<ScoreCut> cuts = aligns_many_at_once(profile, config_.alignment, workspace)
                                           ? score_cuts(batch, groups[g], bounds, sequences, workspace, gains)
                                           : std::vector<ScoreCut>{};
    align_scores(profile, config_.alignment, sequences, workspace, scores, ends, cuts);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
      const Record& record = batch.records[pairs[k] / count_];
      const int length = static_cast<int>(record.text.sequence.size());
      batch.cells[pairs[k]] += static_cast<std::uint64_t>(length) * static_cast<std::uint64_t>(profile.length());
      // A score that is not finite is left to the domain search, which
      // reports it.
      const double score = scores[k];
      const auto passes = passes_for(profiles_.laws[p], config_, length, known_.z(config_, record.index), 0);
      batch.scored_out[pairs[k]] = std::isfinite(score) && !(score > kNoAlignment && passes(score));
      if (keep_ends && !batch.scored_out[pairs[k]]) batch.known_ends[pairs[k]] = std::move(ends[k]);
    }
  });
}

// Where the lanes may give up on a pair midway: once its score can no
// longer pass. Each pair's cut is the highest score that does not pass,
// found by halving (passing rises with the score wherever the bound may
// rule pairs out), checked at rows kCutRows or more apart (further where
// the group's gains would take more than kCutValues). Real proteins
// against 8 models, glocal: the lanes stop 26,000 of the 28,450 pairs that
// fail, saving 46% of their cells when checked every 16th row; but the
// reversed bound costs most of that back: checked every 64th row the whole
// search runs 4% faster, every 16th row 1%.
std::vector<ScoreCut> UnitSearch::score_cuts(const Batch& batch, const PairGroup& group,
                                             const std::vector<double>& bounds,
                                             const std::vector<std::string_view>& sequences, Workspace& workspace,
                                             std::vector<SuffixGains>& gains) const {
  if (group.pairs.size() < kCutPairs) return {};
  const std::optional<SuffixBound>& suffix = filter_.suffix_of(group.profile);
  if (!suffix) return {};
  const std::size_t p = static_cast<std::size_t>(profiles_.first) + group.profile;
  const ScoreLaw& law = profiles_.laws[p];
  std::vector<ScoreCut> cuts(group.pairs.size());
  std::vector<std::string_view> cut;  // the sequences with a threshold, in order
  std::vector<std::size_t> cut_index;
  std::size_t rows = 0;
  for (std::size_t k = 0; k < group.pairs.size(); ++k) {
    const std::size_t pair = group.pairs[k];
    const Record& record = batch.records[pair / count_];
    const int length = static_cast<int>(record.text.sequence.size());
    if (law.defined() && !(law.lambda(length) > 0)) continue;
    const auto passes = passes_for(law, config_, length, known_.z(config_, record.index), 0);
    auto fails = [&](double score) { return !(score > kNoAlignment && passes(score)); };
    double low = kNoAlignment, high = std::isfinite(bounds[pair]) ? bounds[pair] : 1e15;
    if (!fails(low) || fails(high)) continue;
    for (int step = 0; step < 80 && std::nextafter(low, high) < high; ++step) {
      const double middle = low + (high - low) / 2;
      (fails(middle) ? low : high) = middle;
    }
    cuts[k].below = low;
    cut.push_back(sequences[k]);
    cut_index.push_back(k);
    rows += sequences[k].size();
  }
  int every = kCutRows;
  while (rows / static_cast<std::size_t>(every) * static_cast<std::size_t>(profiles_.all[p].length()) > kCutValues)
    every *= 2;
  suffix->gains(cut, every, workspace, gains);
  for (std::size_t n = 0; n < cut_index.size(); ++n) cuts[cut_index[n]].gains = &gains[n];
  return cuts;
}

void UnitSearch::align_pair(Batch& batch, std::size_t pair, const std::vector<double>& bounds) {
  if (batch.scored_out[pair]) return;
  stop_if_asked();
  const Record& record = batch.records[pair / count_];
  const std::size_t p = static_cast<std::size_t>(profiles_.first) + pair % count_;
  const Profile& profile = profiles_.all[p];
  const auto model = [&]() -> const CompositionModel& { return composition(pair % count_); };
  try {
    batch.found[pair] = search_pair(profile, profiles_.laws[p], model, config_, record.text.sequence,
                                    known_.z(config_, record.index), bounds[pair], gains_[pair % count_],
                                    workspaces_.local(), batch.cells[pair], batch.dismissed[pair],
                                    std::move(batch.known_ends[pair]),
                                    [&] { return filter_.stretch_bound(pair % count_); });
  } catch (const SearchError& e) {
    throw SearchError("profile " + profile.name() + " against sequence " +
                      (record.text.name.empty() ? std::string("(unnamed)") : record.text.name) + ": " + e.what());
  }
}

void UnitSearch::collect(std::shared_ptr<Batch> batch) {
  SearchStats& stats = result_.stats;
  stats.records += batch->records.size();
  stats.empty_records += batch->empty_records;
  for (const Record& r : batch->records) {
    stats.residues += r.text.sequence.size();
    stats.nucleotides += static_cast<std::uint64_t>(std::count_if(
        r.text.sequence.begin(), r.text.sequence.end(), [](char c) { return kNucleotide[static_cast<unsigned char>(c)]; }));
    stats.cells += r.text.sequence.size() * positions_;
  }
  stats.aligned_cells += std::accumulate(batch->cells.begin(), batch->cells.end(), std::uint64_t{0});
  stats.pairs += batch->found.size();
  stats.pairs_dismissed += static_cast<std::uint64_t>(std::count(batch->dismissed.begin(), batch->dismissed.end(), 1));
  stats.pairs_scored_out +=
      static_cast<std::uint64_t>(std::count(batch->scored_out.begin(), batch->scored_out.end(), 1));
  // One label per record, shared by its candidates and hits.
  std::vector<std::shared_ptr<const SequenceLabel>> labels(batch->records.size());
  for (std::size_t pair = 0; pair < batch->found.size(); ++pair) {
    if (batch->found[pair].empty()) continue;
    FastaRecord& r = batch->records[pair / count_].text;
    auto& label = labels[pair / count_];
    if (!label) label = std::make_shared<const SequenceLabel>(SequenceLabel{std::move(r.name), std::move(r.description)});
    result_.candidates.push_back({profiles_.first + static_cast<int>(pair % count_), r.offset, label,
                                  static_cast<int>(r.sequence.size()), std::move(batch->found[pair])});
  }
}

}  // namespace

void merge(UnitResult& into, UnitResult&& more) {
  SearchStats& s = into.stats;
  s.records += more.stats.records;
  s.empty_records += more.stats.empty_records;
  s.residues += more.stats.residues;
  s.nucleotides += more.stats.nucleotides;
  s.cells += more.stats.cells;
  s.aligned_cells += more.stats.aligned_cells;
  s.pairs += more.stats.pairs;
  s.pairs_dismissed += more.stats.pairs_dismissed;
  s.pairs_scored_out += more.stats.pairs_scored_out;
  for (Candidates& c : more.candidates) into.candidates.push_back(std::move(c));
}

UnitResult search_unit(const UnitProfiles& profiles, const SearchConfig& config, RecordStream& records,
                       const RecordsKnown& known, const ProgressCallback& progress, std::stop_token stop) {
  UnitSearch unit(profiles, config, records, known, progress, std::move(stop));
  using BatchPtr = std::shared_ptr<Batch>;
  const int threads = config.thread_count();
  run_on_threads(threads, [&] {
    tbb::parallel_pipeline(
        static_cast<std::size_t>(2 * threads),
        tbb::make_filter<void, BatchPtr>(tbb::filter_mode::serial_in_order,
                                         [&](tbb::flow_control& control) { return unit.next_batch(control); }) &
            tbb::make_filter<BatchPtr, BatchPtr>(tbb::filter_mode::parallel,
                                                 [&](BatchPtr batch) { return unit.align_batch(std::move(batch)); }) &
            tbb::make_filter<BatchPtr, void>(tbb::filter_mode::serial_in_order,
                                             [&](BatchPtr batch) { unit.collect(std::move(batch)); }));
  });
  return std::move(unit.result());
}

}  // namespace tormid
