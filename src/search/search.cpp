// search(): count, calibrate, search the source as one unit, report.
#include "search/search.h"

#include "search/calibration.h"
#include "search/reporting.h"
#include "search/units.h"

namespace tormid {

SearchResult search(std::span<const Profile> profiles, const SearchConfig& config, const SequenceSource& source,
                    const ProgressCallback& progress, std::span<const StoredLaw> stored, std::stop_token stop) {
  check_searchable(profiles, config.alignment);
  if (!config.cutoffs.empty() && (config.cutoffs.size() != profiles.size() || !config.has_evalues()))
    throw SearchError(config.has_evalues() ? "cutoffs for " + std::to_string(config.cutoffs.size()) + " of " +
                                                 std::to_string(profiles.size()) + " profiles"
                                           : "cutoffs need E-values: a free end (local or glocal mode)");
  // With E-values over a Z known only at the end, a source that can be
  // read twice is counted first: the score bound and the domain search
  // then meet the final threshold from the first record on, not a looser
  // one. (Where alignments must start at a stretch's first residue or end
  // at its last, a flank's alignments are not the sequence's, and how far
  // the domain search looks decides which of them it finds.)
  RecordsKnown known;
  const bool count_first = !config.database_size && can_read_twice(source);
  if (count_first) known.counted = count_records(source, config.max_record_length, stop);
  const std::unique_ptr<RecordStream> records = open_records(source, config.max_record_length);

  SearchResult result;
  const std::vector<ScoreLaw> laws = resolve_laws(profiles, stored, config, result.calibration_seconds, stop);
  const UnitResult unit =
      search_unit({profiles, laws, 0, static_cast<int>(profiles.size())}, config, *records, known, progress, stop);
  if (count_first && unit.stats.records != known.counted)
    throw SearchError(source.name() + ": changed during the search (" + std::to_string(known.counted) +
                      " records with letters, then " + std::to_string(unit.stats.records) + ")");
  result.stats = unit.stats;
  result.stats.database_size = config.database_size.value_or(static_cast<double>(unit.stats.records));
  result.hits = reported_hits(unit.candidates, laws, config, result.stats.database_size);
  return result;
}

}  // namespace tormid
