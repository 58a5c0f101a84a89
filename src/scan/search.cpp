// The search: the profiles are calibrated; then one thread reads the
// database in batches of records, a pool of threads aligns every record of
// a batch against every profile, each thread with its own workspace, and
// the candidate domains of each batch are collected in input order. At
// most a few batches are in flight, so memory is bounded by them, the
// workspaces and the candidates, whatever the size of the database. The
// domains reported are chosen at the end, when the number of sequences
// searched (the Z of the E-values) is known.
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_pipeline.h>

#include <algorithm>
#include <chrono>
#include <numeric>

#include "scan/search.h"
#include "scan/threads.h"

namespace tormid::scan {

namespace {

constexpr std::size_t kBatchRecords = 1024;
constexpr std::size_t kBatchResidues = 1 << 20;
// Sequences per call of the score bound: enough to keep its lanes busy,
// few enough to share a batch among threads.
constexpr std::size_t kBoundGroup = 512;

struct Record {
  FastaRecord text;
  std::uint64_t index;  // among the records of the unit
};

struct Batch {
  std::vector<Record> records;  // those with letters
  std::uint64_t empty_records = 0;
  std::vector<std::vector<Domain>> found;  // per unit: record-major, then profile
  std::uint64_t cells = 0;
  std::uint64_t dismissed = 0;  // units the score bound ruled out
};

// The score the profile's threshold reaches, roughly, for the bound's
// scale: only its tightness depends on it, never its validity.
double threshold_reach(const ScoreLaw& law, const Reporting& reporting) {
  double reach = std::isfinite(reporting.min_score) ? std::fabs(reporting.min_score) : 0.0;
  if (!law.defined()) return std::max(reach, std::fabs(reporting.fallback_min_score));
  const double z = reporting.database_size.value_or(1e6);
  for (int length : {100, 1000, 10000}) {
    const double score = law.location(length) - std::log(reporting.max_evalue / z) / law.lambda(length);
    if (std::isfinite(score)) reach = std::max(reach, std::fabs(score));
  }
  return reach;
}

// The candidate domains that are reported, numbered along the sequence.
void report(const Candidates& c, const ScoreLaw& law, const Reporting& reporting, double z, int max_domains,
            std::vector<Hit>& hits) {
  auto expected = [&](const Domain& d) {
    return std::max(law.expected_count(d.score, c.seq_len), d.composition_expected);
  };
  // A domain is reported when it passes and so did the domain whose flank
  // it was found in (parents come before their children). The first found
  // are the best: the sequence's own best alignment, then the best of its
  // flanks, and so on.
  std::vector<std::size_t> kept;
  std::vector<char> reported(c.found.size(), 0);
  for (std::size_t k = 0; k < c.found.size(); ++k) {
    const int parent = c.found[k].parent;
    reported[k] = reporting.reports(expected(c.found[k]), c.found[k].score, z) &&
                  (parent < 0 || reported[static_cast<std::size_t>(parent)]);
    if (reported[k]) kept.push_back(k);
  }
  if (max_domains > 0 && kept.size() > static_cast<std::size_t>(max_domains))
    kept.resize(static_cast<std::size_t>(max_domains));
  std::sort(kept.begin(), kept.end(),
            [&](std::size_t a, std::size_t b) { return c.found[a].seq_from < c.found[b].seq_from; });
  int number = 0;
  for (std::size_t k : kept) {
    const Domain& d = c.found[k];
    Hit h;
    h.profile = c.profile;
    h.record = c.record;
    h.name = c.name;
    h.description = c.description;
    h.seq_len = c.seq_len;
    h.domain = ++number;
    h.n_domains = static_cast<int>(kept.size());
    h.score = d.score;
    const double count = expected(d);
    h.evalue = count * z;
    h.pvalue = law.defined() ? -std::expm1(-count) : NAN;
    // The score that has this expected count under the calibrated law.
    const double equivalent = law.defined() ? law.location(c.seq_len) - std::log(count) / law.lambda(c.seq_len) : d.score;
    h.bias = std::max(0.0, d.score - equivalent);
    h.bits = law.has_bits() ? law.bits(d.score - h.bias) : NAN;
    h.seq_from = d.seq_from;
    h.seq_to = d.seq_to;
    h.prf_from = d.prf_from;
    h.prf_to = d.prf_to;
    h.prf_line = d.prf_line;
    h.seq_line = d.seq_line;
    hits.push_back(std::move(h));
  }
}

// Reads up to a batch of the range's records; false when there are none
// left.
bool read_batch(FastaReader& reader, RecordRange range, Batch& batch, std::uint64_t& searched) {
  FastaRecord record;
  std::size_t residues = 0;
  while (batch.records.size() < kBatchRecords && residues < kBatchResidues && reader.next(record) &&
         record.offset < range.end) {
    if (record.sequence.empty()) {
      ++batch.empty_records;
      continue;
    }
    residues += record.sequence.size();
    batch.records.push_back({std::move(record), searched++});
  }
  return !batch.records.empty() || batch.empty_records > 0;
}

}  // namespace

void sort_hits(std::vector<Hit>& hits) {
  std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
    if (a.profile != b.profile) return a.profile < b.profile;
    if (a.score != b.score) return a.score > b.score;
    if (a.record != b.record) return a.record < b.record;
    return a.seq_from < b.seq_from;
  });
}

std::vector<ScoreLaw> calibrate_profiles(const std::vector<ProfileEntry>& profiles, const Settings& settings,
                                         const SearchOptions& options, double& seconds) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<const Profile*> list;
  for (const ProfileEntry& p : profiles) list.push_back(&p.profile);
  std::vector<ScoreLaw> laws = calibrate(list, settings, options.seed, options.threads);
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return laws;
}

UnitResult search_unit(const std::vector<ProfileEntry>& profiles, const std::vector<ScoreLaw>& laws,
                       int first_profile, int last_profile, const Settings& settings, LineReader& lines,
                       RecordRange range, const SearchOptions& options, const std::string& file_name) {
  FastaReader reader(lines, range.begin > 0);
  if (range.begin > 0) {
    // The reader stands just before the range: the rest of that line
    // belongs to a record before it.
    std::string line;
    try {
      lines.next(line);
    } catch (const ReadError& e) {
      throw ScanError(file_name + ": cannot read (" + e.reason() + ")");
    }
  }
  std::uint64_t positions = 0;
  for (int p = first_profile; p < last_profile; ++p)
    positions += static_cast<std::uint64_t>(profiles[static_cast<std::size_t>(p)].profile.length());
  const std::size_t profile_count = static_cast<std::size_t>(last_profile - first_profile);
  const Reporting& reporting = options.reporting;

  UnitResult result;
  Progress progress;
  std::uint64_t searched = 0;
  tbb::enumerable_thread_specific<Workspace> workspaces;
  // The score bound of each profile, for the threshold it will meet (none
  // where it would not save time).
  std::vector<std::optional<ScoreBound>> bounds(profile_count);
  if (options.filter)
    for (std::size_t k = 0; k < profile_count; ++k) {
      const std::size_t p = static_cast<std::size_t>(first_profile) + k;
      const Profile& profile = profiles[p].profile;
      ScoreBound bound(profile, settings, bound_scale(profile, threshold_reach(laws[p], reporting)));
      if (bound.pays_off()) bounds[k] = std::move(bound);
    }

  auto read = [&](tbb::flow_control& control) -> std::shared_ptr<Batch> {
    auto batch = std::make_shared<Batch>();
    try {
      if (!read_batch(reader, range, *batch, searched)) {
        control.stop();
        return nullptr;
      }
    } catch (const ReadError& e) {
      throw ScanError(file_name + ": cannot read (" + e.reason() + ")");
    } catch (const std::bad_alloc&) {
      throw ScanError(file_name + ": a record too long for memory");
    }
    progress.records += batch->records.size() + batch->empty_records;
    for (const Record& r : batch->records) progress.residues += r.text.sequence.size();
    progress.bytes = lines.position();
    if (options.progress) options.progress(progress);
    return batch;
  };

  auto align_batch = [&](std::shared_ptr<Batch> batch) -> std::shared_ptr<Batch> {
    const std::size_t units = batch->records.size() * profile_count;
    batch->found.resize(units);
    std::vector<std::uint64_t> cells(units, 0);
    std::vector<char> dismissed(units, 0);
    // First the score bounds, each profile against many of the batch's
    // sequences at once (longest first, so that the bound's lanes run out
    // of work together).
    std::vector<double> bound(units, HUGE_VAL);
    if (std::any_of(bounds.begin(), bounds.end(), [](const auto& b) { return b.has_value(); })) {
      const std::size_t count = batch->records.size();
      const std::size_t groups = (count + kBoundGroup - 1) / kBoundGroup;
      std::vector<std::size_t> order(count);
      std::iota(order.begin(), order.end(), std::size_t{0});
      std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return batch->records[a].text.sequence.size() > batch->records[b].text.sequence.size();
      });
      tbb::parallel_for(std::size_t{0}, groups * profile_count, [&](std::size_t job) {
        const std::size_t p = job % profile_count, first = job / profile_count * kBoundGroup;
        const std::size_t last = std::min(count, first + kBoundGroup);
        if (!bounds[p]) return;
        std::vector<std::string_view> seqs;
        for (std::size_t k = first; k < last; ++k) seqs.emplace_back(batch->records[order[k]].text.sequence);
        std::vector<double> values(seqs.size());
        bounds[p]->bound_many(seqs, values, workspaces.local());
        for (std::size_t k = first; k < last; ++k) bound[order[k] * profile_count + p] = values[k - first];
      });
    }
    tbb::parallel_for(std::size_t{0}, units, [&](std::size_t unit) {
      const Record& record = batch->records[unit / profile_count];
      const std::size_t p = static_cast<std::size_t>(first_profile) + unit % profile_count;
      const Profile& profile = profiles[p].profile;
      const ScoreLaw& law = laws[p];
      const int length = static_cast<int>(record.text.sequence.size());
      // Until the end the number of sequences is only known to be at least
      // those before this unit and those of it read so far: a looser
      // threshold keeps every domain that the final one may report.
      const double z = reporting.database_size.value_or(
          static_cast<double>(std::max(options.records_counted, options.records_before + record.index + 1)));
      auto passes = [&](double score) { return reporting.reports(law.expected_count(score, length), score, z); };
      try {
        Workspace& ws = workspaces.local();
        // No domain is found unless the sequence's best alignment passes,
        // and passing is monotone in the score (E-values fall as scores
        // rise): a sequence whose bound does not pass has no domain.
        if ((!law.defined() || law.lambda(length) > 0) && !passes(bound[unit])) {
          dismissed[unit] = 1;
          return;
        }
        std::vector<Domain>& found = batch->found[unit];
        found = find_domains(profile, settings, record.text.sequence, passes, options.alignments, ws, cells[unit]);
        if (options.bias_correction && law.defined()) {
          const std::uint64_t seed = options.seed + 0x9E3779B97F4A7C15ull * (p + 1);
          const std::string_view sequence(record.text.sequence);
          auto part = [&](std::pair<int, int> stretch) {
            return sequence.substr(static_cast<std::size_t>(stretch.first - 1),
                                   static_cast<std::size_t>(stretch.second - stretch.first + 1));
          };
          auto null_of = [&](std::pair<int, int> stretch) {
            return composition_null(profile, settings, law, part(stretch), seed, ws, cells[unit]);
          };
          std::pair<int, int> last_stretch{0, 0};
          CompositionNull sequence_null;
          for (Domain& d : found) {
            const std::pair<int, int> stretch = composition_stretch(d.seq_from, d.seq_to, length, profile.length());
            if (stretch != last_stretch) {  // the domains of a short sequence share its shuffles
              last_stretch = stretch;
              sequence_null = null_of(stretch);
            }
            d.composition_expected = law.expected_count(d.score, length, sequence_null);
            const std::pair<int, int> own = {std::max(1, d.seq_from - kDomainMargin),
                                             std::min(length, d.seq_to + kDomainMargin)};
            if (2 * (own.second - own.first + 1) <= stretch.second - stretch.first + 1 &&
                composition_entropy(part(own)) < kLowComplexityBits)
              d.composition_expected =
                  std::max(d.composition_expected, law.expected_count(d.score, length, null_of(own)));
          }
        }
      } catch (const ScanError& e) {
        throw ScanError("profile " + profile.name() + " against sequence " +
                        (record.text.name.empty() ? std::string("(unnamed)") : record.text.name) + ": " + e.what());
      }
    });
    batch->cells = std::accumulate(cells.begin(), cells.end(), std::uint64_t{0});
    batch->dismissed = static_cast<std::uint64_t>(std::count(dismissed.begin(), dismissed.end(), 1));
    return batch;
  };

  auto collect = [&](std::shared_ptr<Batch> batch) {
    SearchStats& stats = result.stats;
    stats.records += batch->records.size();
    stats.empty_records += batch->empty_records;
    for (const Record& r : batch->records) {
      stats.residues += r.text.sequence.size();
      stats.cells += r.text.sequence.size() * positions;
    }
    stats.aligned_cells += batch->cells;
    stats.pairs += batch->found.size();
    stats.pairs_dismissed += batch->dismissed;
    for (std::size_t unit = 0; unit < batch->found.size(); ++unit) {
      if (batch->found[unit].empty()) continue;
      const Record& r = batch->records[unit / profile_count];
      result.candidates.push_back({first_profile + static_cast<int>(unit % profile_count), r.text.offset,
                                   r.text.name, r.text.description, static_cast<int>(r.text.sequence.size()),
                                   std::move(batch->found[unit])});
    }
  };

  const int threads = std::max(1, options.threads);
  run_on_threads(threads, [&] {
    tbb::parallel_pipeline(
        static_cast<std::size_t>(2 * threads),
        tbb::make_filter<void, std::shared_ptr<Batch>>(tbb::filter_mode::serial_in_order, read) &
            tbb::make_filter<std::shared_ptr<Batch>, std::shared_ptr<Batch>>(tbb::filter_mode::parallel,
                                                                             align_batch) &
            tbb::make_filter<std::shared_ptr<Batch>, void>(tbb::filter_mode::serial_in_order, collect));
  });
  return result;
}

std::vector<Hit> reported_hits(const std::vector<Candidates>& candidates, const std::vector<ScoreLaw>& laws,
                               const SearchOptions& options, double z) {
  std::vector<Hit> hits;
  for (const Candidates& c : candidates)
    report(c, laws[static_cast<std::size_t>(c.profile)], options.reporting, z, options.max_domains, hits);
  sort_hits(hits);
  return hits;
}

// The records with letters of a sequence file, read once through.
std::uint64_t count_records(const std::string& sequence_file) {
  LineReader lines(sequence_file, LineReader::Compression::gzip);
  if (!lines.is_open()) throw ScanError(sequence_file + ": cannot open (" + lines.open_error() + ")");
  FastaReader reader(lines);
  FastaRecord record;
  std::uint64_t count = 0;
  try {
    while (reader.next(record)) count += !record.sequence.empty();
  } catch (const ReadError& e) {
    throw ScanError(sequence_file + ": cannot read (" + e.reason() + ")");
  } catch (const std::bad_alloc&) {
    throw ScanError(sequence_file + ": a record too long for memory");
  }
  return count;
}

SearchResult search(const std::vector<ProfileEntry>& profiles, const Settings& settings,
                    const std::string& sequence_file, const SearchOptions& given) {
  SearchOptions options = given;
  // With E-values over a Z known only at the end, a file that can be read
  // twice is counted first: the score bound then meets the final threshold
  // from the first record on, not a looser one.
  const bool count_first = options.filter && sequence_file != "-" && !options.reporting.database_size;
  if (count_first) options.records_counted = count_records(sequence_file);
  LineReader lines = sequence_file == "-"
                         ? LineReader::standard_input(LineReader::Compression::gzip, "standard input")
                         : LineReader(sequence_file, LineReader::Compression::gzip);
  if (!lines.is_open()) throw ScanError(sequence_file + ": cannot open (" + lines.open_error() + ")");
  SearchResult result;
  const std::vector<ScoreLaw> laws = calibrate_profiles(profiles, settings, options, result.calibration_seconds);
  UnitResult unit = search_unit(profiles, laws, 0, static_cast<int>(profiles.size()), settings, lines, {}, options,
                                sequence_file);
  if (count_first && unit.stats.records != options.records_counted)
    throw ScanError(sequence_file + ": changed during the search (" + std::to_string(options.records_counted) +
                    " records with letters, then " + std::to_string(unit.stats.records) + ")");
  result.stats = unit.stats;
  result.stats.database_size = options.reporting.database_size.value_or(static_cast<double>(unit.stats.records));
  result.hits = reported_hits(unit.candidates, laws, options, result.stats.database_size);
  return result;
}

}  // namespace tormid::scan
