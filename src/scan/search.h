// The pieces of a search, for one process or many: a unit of work (the
// records of a byte range against a range of profiles) gives candidate
// domains; once every unit is done and the number of sequences is known,
// the candidates become the reported hits. Private to tormid-scan.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "input/input.h"
#include "scan/scan.h"
#include "scan/statistics.h"

namespace tormid::scan {

// The candidate domains of one sequence against one profile.
struct Candidates {
  int profile = 0;
  std::uint64_t record = 0;  // where the record starts in the text
  std::string name, description;
  int seq_len = 0;
  std::vector<Domain> found;
};

struct UnitResult {
  std::vector<Candidates> candidates;
  SearchStats stats;  // without the database size
};

// The records of a unit: those whose header starts in [begin, end) of the
// text (the whole text by default).
struct RecordRange {
  std::uint64_t begin = 0;
  std::uint64_t end = std::numeric_limits<std::uint64_t>::max();
};

// Searches the records of `lines` within `range` against profiles
// [first_profile, last_profile) on options.threads threads. `progress`,
// when set, is called after each batch read. Throws ScanError.
UnitResult search_unit(const std::vector<ProfileEntry>& profiles, const std::vector<ScoreLaw>& laws,
                       int first_profile, int last_profile, const Settings& settings, LineReader& lines,
                       RecordRange range, const SearchOptions& options, const std::string& file_name);

// The hits of a search of z sequences: the candidates that pass, numbered
// along their sequences, in report order.
std::vector<Hit> reported_hits(const std::vector<Candidates>& candidates, const std::vector<ScoreLaw>& laws,
                               const SearchOptions& options, double z);

// The calibrated laws of every profile, timed.
std::vector<ScoreLaw> calibrate_profiles(const std::vector<ProfileEntry>& profiles, const Settings& settings,
                                         const SearchOptions& options, double& seconds);

}  // namespace tormid::scan
