// The search's configuration and its sources.
#include <sched.h>

#include <thread>

#include "search/calibration.h"
#include "search/search.h"

namespace tormid {

Settings mode_settings(SearchMode mode, double open, double extend) {
  ParamValues v;
  v.gap_open_penalty_prf = v.gap_open_penalty_seq = open;
  v.deletion_penalty_prf = v.deletion_penalty_seq = extend;
  v.prf_free_beg = v.prf_free_end = mode != SearchMode::global;
  v.seq_free_beg = v.seq_free_end = mode == SearchMode::local;
  return set_parameters(v);
}

bool SearchConfig::has_evalues() const { return law_kind(alignment) != ScoreLaw::Kind::none; }

int SearchConfig::thread_count() const { return threads > 0 ? threads : available_cores(); }

int available_cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<int>(hardware) : 1;
}

SequenceSource SequenceSource::file(std::string path) { return {Kind::file, std::move(path)}; }

SequenceSource SequenceSource::standard_input() { return {Kind::standard_input, "-"}; }

const std::vector<SequenceRecord>& SequenceSource::record_list() const {
  static const std::vector<SequenceRecord> none;
  return records_ ? *records_ : none;
}

SequenceSource SequenceSource::records(std::vector<SequenceRecord> records) {
  SequenceSource source(Kind::records, "records");
  source.records_ = std::make_shared<const std::vector<SequenceRecord>>(std::move(records));
  return source;
}

}  // namespace tormid
