// A search in units of work, for one process or many: a unit searches a
// stream of records against a range of profiles and gives candidate
// domains; once every unit is done and the number of sequences is known,
// reported_hits() makes them the hits. Private to the search and to its
// distribution over processes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "search/domains.h"
#include "search/records.h"
#include "search/score_law.h"

namespace tormid {

struct UnitResult {
  std::vector<Candidates> candidates;
  SearchStats stats;  // without the database size
};

// Appends a unit's results to the results so far.
void merge(UnitResult& into, UnitResult&& more);

// The profiles of a unit: [first, last) of all, with every profile's law.
struct UnitProfiles {
  std::span<const Profile> all;
  const std::vector<ScoreLaw>& laws;
  int first = 0, last = 0;
};

// What a unit knows of the whole search while it runs. With Z unknown
// until the end, the number of sequences is at least those known to come
// before the unit's plus those of the unit read so far, or the count of
// the whole source when it was counted beforehand: the running threshold
// is looser than the final one and keeps every domain it may report.
struct RecordsKnown {
  std::uint64_t before = 0;   // records with letters before the unit's
  std::uint64_t counted = 0;  // records with letters of the whole source, when counted

  // Z for the running threshold at the unit's index-th record.
  double z(const SearchConfig& config, std::uint64_t index) const {
    return config.database_size.value_or(static_cast<double>(std::max(counted, before + index + 1)));
  }
};

// Searches every record of the stream against the unit's profiles on the
// configuration's threads; progress, when set, is called after each batch
// read. Throws InputError and SearchError (SearchStopped once stop is
// asked to stop).
UnitResult search_unit(const UnitProfiles& profiles, const SearchConfig& config, RecordStream& records,
                       const RecordsKnown& known, const ProgressCallback& progress = {}, std::stop_token stop = {});

}  // namespace tormid
