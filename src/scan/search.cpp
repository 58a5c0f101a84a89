// The search: one thread reads the database in batches of records; a pool
// of threads aligns every record of a batch against every profile, each
// thread with its own workspace; the hits of each batch are collected in
// input order. At most a few batches are in flight, so memory is bounded by
// them, the workspaces and the hits, whatever the size of the database.
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <numeric>

#include "input/input.h"
#include "scan/scan.h"

namespace tormid::scan {

namespace {

constexpr std::size_t kBatchRecords = 256;
constexpr std::size_t kBatchResidues = 1 << 20;

struct Batch {
  std::vector<FastaRecord> records;  // those with letters
  std::uint64_t empty_records = 0;
  std::vector<std::vector<Hit>> hits;  // per unit: record-major, then profile
  std::uint64_t cells = 0;
};

// The domains of one sequence that are reported, numbered along it.
std::vector<Hit> report_domains(const std::vector<Domain>& found, const FastaRecord& record, int profile,
                                const SearchOptions& options) {
  // A domain is reported when it passes and so did the domain whose flank
  // it was found in (parents come before their children).
  std::vector<std::size_t> kept;
  std::vector<char> reported(found.size(), 0);
  for (std::size_t k = 0; k < found.size(); ++k) {
    const int parent = found[k].parent;
    reported[k] = options.threshold.passes(found[k].score) &&
                  (parent < 0 || reported[static_cast<std::size_t>(parent)]);
    if (reported[k]) kept.push_back(k);
  }
  // The first found are the best: the sequence's own best alignment, then
  // the best of its flanks, and so on.
  if (options.max_domains > 0 && kept.size() > static_cast<std::size_t>(options.max_domains))
    kept.resize(static_cast<std::size_t>(options.max_domains));
  std::sort(kept.begin(), kept.end(),
            [&](std::size_t a, std::size_t b) { return found[a].seq_from < found[b].seq_from; });
  std::vector<Hit> hits;
  for (std::size_t k : kept) {
    const Domain& d = found[k];
    Hit h;
    h.profile = profile;
    h.record = record.offset;
    h.name = record.name;
    h.description = record.description;
    h.seq_len = static_cast<int>(record.sequence.size());
    h.domain = static_cast<int>(hits.size()) + 1;
    h.n_domains = static_cast<int>(kept.size());
    h.score = d.score;
    h.seq_from = d.seq_from;
    h.seq_to = d.seq_to;
    h.prf_from = d.prf_from;
    h.prf_to = d.prf_to;
    h.prf_line = d.prf_line;
    h.seq_line = d.seq_line;
    hits.push_back(std::move(h));
  }
  return hits;
}

// Reads up to a batch of records; false when there are none left.
bool read_batch(FastaReader& reader, Batch& batch) {
  FastaRecord record;
  std::size_t residues = 0;
  while (batch.records.size() < kBatchRecords && residues < kBatchResidues && reader.next(record)) {
    if (record.sequence.empty()) {
      ++batch.empty_records;
      continue;
    }
    residues += record.sequence.size();
    batch.records.push_back(std::move(record));
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

SearchResult search(const std::vector<ProfileEntry>& profiles, const Settings& settings,
                    const std::string& sequence_file, const SearchOptions& options) {
  LineReader lines = sequence_file == "-"
                         ? LineReader::standard_input(LineReader::Compression::gzip, "standard input")
                         : LineReader(sequence_file, LineReader::Compression::gzip);
  if (!lines.is_open()) throw ScanError(sequence_file + ": cannot open (" + lines.open_error() + ")");
  FastaReader reader(lines);

  std::uint64_t positions = 0;
  for (const ProfileEntry& p : profiles) positions += static_cast<std::uint64_t>(p.profile.length());

  SearchResult result;
  Progress progress;
  tbb::enumerable_thread_specific<Workspace> workspaces;
  const std::size_t profile_count = profiles.size();

  auto read = [&](tbb::flow_control& control) -> std::shared_ptr<Batch> {
    auto batch = std::make_shared<Batch>();
    try {
      if (!read_batch(reader, *batch)) {
        control.stop();
        return nullptr;
      }
    } catch (const ReadError& e) {
      throw ScanError(sequence_file + ": cannot read (" + e.reason() + ")");
    } catch (const std::bad_alloc&) {
      throw ScanError(sequence_file + ": a record too long for memory");
    }
    progress.records += batch->records.size() + batch->empty_records;
    for (const FastaRecord& r : batch->records) progress.residues += r.sequence.size();
    progress.bytes = lines.position();
    if (options.progress) options.progress(progress);
    return batch;
  };

  auto align_batch = [&](std::shared_ptr<Batch> batch) -> std::shared_ptr<Batch> {
    const std::size_t units = batch->records.size() * profile_count;
    batch->hits.resize(units);
    std::vector<std::uint64_t> cells(units, 0);
    tbb::parallel_for(std::size_t{0}, units, [&](std::size_t unit) {
      const FastaRecord& record = batch->records[unit / profile_count];
      const int p = static_cast<int>(unit % profile_count);
      const Profile& profile = profiles[static_cast<std::size_t>(p)].profile;
      try {
        const std::vector<Domain> found = find_domains(profile, settings, record.sequence, options.threshold,
                                                       options.alignments, workspaces.local(), cells[unit]);
        batch->hits[unit] = report_domains(found, record, p, options);
      } catch (const ScanError& e) {
        throw ScanError("profile " + profile.name() + " against sequence " +
                        (record.name.empty() ? std::string("(unnamed)") : record.name) + ": " + e.what());
      }
    });
    batch->cells = std::accumulate(cells.begin(), cells.end(), std::uint64_t{0});
    return batch;
  };

  auto collect = [&](std::shared_ptr<Batch> batch) {
    result.stats.records += batch->records.size();
    result.stats.empty_records += batch->empty_records;
    for (const FastaRecord& r : batch->records) {
      result.stats.residues += r.sequence.size();
      result.stats.cells += r.sequence.size() * positions;
    }
    result.stats.aligned_cells += batch->cells;
    for (std::vector<Hit>& unit : batch->hits)
      for (Hit& h : unit) result.hits.push_back(std::move(h));
  };

  const int threads = std::max(1, options.threads);
  tbb::task_arena arena(threads);
  arena.execute([&] {
    tbb::parallel_pipeline(
        static_cast<std::size_t>(2 * threads),
        tbb::make_filter<void, std::shared_ptr<Batch>>(tbb::filter_mode::serial_in_order, read) &
            tbb::make_filter<std::shared_ptr<Batch>, std::shared_ptr<Batch>>(tbb::filter_mode::parallel,
                                                                             align_batch) &
            tbb::make_filter<std::shared_ptr<Batch>, void>(tbb::filter_mode::serial_in_order, collect));
  });
  sort_hits(result.hits);
  return result;
}

}  // namespace tormid::scan
