// The search's configuration and its sources.
#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
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

int SearchConfig::thread_count() const {
  const int cores = available_cores();
  return threads > 0 ? std::min(threads, kThreadsPerCore * cores) : cores;
}

void check_searchable(std::span<const Profile> profiles, const Settings& s) {
  auto number = [](double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return std::string(text);
  };
  const std::string penalties = "opening " + number(s.gap_open_penalty_prf) + " / " + number(s.gap_open_penalty_seq) +
                                ", deletion " + number(s.deletion_penalty_prf) + " / " +
                                number(s.deletion_penalty_seq) + " for profile / sequence gaps";
  for (const double p : {s.gap_open_penalty_prf, s.gap_open_penalty_seq, s.deletion_penalty_prf, s.deletion_penalty_seq}) {
    if (p < 0)
      throw SearchError("negative gap penalties make gaps pay, and scores and E-values mean nothing; a search "
                        "needs penalties of 0 or more (" + penalties + ")");
    if (p > kLargestMagnitude)
      throw SearchError("gap penalties beyond 1,000,000 leave scores and E-values without meaning (" + penalties + ")");
  }
  // The first profile at fault in order, in words.
  for (const Profile& profile : profiles) {
    if (profile.largest_magnitude() <= kLargestMagnitude) continue;
    for (int k = 0; k < profile.length(); ++k) {
      for (int a = 0; a < kAlphabetSize; ++a) {
        const double score = profile.row(k)[static_cast<std::size_t>(a)];
        if (!(std::fabs(score) <= kLargestMagnitude))
          throw SearchError("profile " + profile.name() + ": position " + std::to_string(k + 1) + " scores " +
                            number(score) + " for " + alphabet[a] +
                            ", beyond +-1,000,000, where scores and E-values lose their meaning");
      }
    }
  }
}

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

SequenceSource SequenceSource::generated(RecordGenerator next) {
  SequenceSource source(Kind::generated, "records");
  source.generator_ = std::make_shared<const RecordGenerator>(std::move(next));
  return source;
}

SequenceSource SequenceSource::records(std::vector<SequenceRecord> records) {
  SequenceSource source(Kind::records, "records");
  source.records_ = std::make_shared<const std::vector<SequenceRecord>>(std::move(records));
  return source;
}

std::optional<PvalueCutoff> pvalue_cutoff(const ProfileNotes& notes, CutoffKind kind) {
  const std::optional<BitCutoff>& bits = notes.*kCutoffFields[static_cast<int>(kind)].member;
  if (!bits || !notes.forward) return std::nullopt;
  const ForwardLaw& law = *notes.forward;
  auto pvalue = [&](double score) { return std::min(1.0, std::exp(-law.lambda * (score - law.tau))); };
  return PvalueCutoff{std::min(pvalue(bits->sequence), kHmmerForwardPvalue), pvalue(bits->domain)};
}

const char* cutoff_tag(CutoffKind kind) { return kCutoffFields[static_cast<int>(kind)].tag; }

std::vector<PvalueCutoff> pvalue_cutoffs(std::span<const Profile> profiles, CutoffKind kind) {
  std::vector<PvalueCutoff> cutoffs;
  std::vector<std::string> without;
  for (const Profile& p : profiles) {
    const std::optional<PvalueCutoff> cutoff = pvalue_cutoff(p.notes(), kind);
    if (!cutoff) without.push_back(p.name());
    cutoffs.push_back(cutoff.value_or(PvalueCutoff{}));
  }
  if (without.empty()) return cutoffs;
  constexpr std::size_t kNamed = 10;
  std::string names;
  for (std::size_t k = 0; k < std::min(without.size(), kNamed); ++k) names += (k ? ", " : "") + without[k];
  if (without.size() > kNamed) names += " and " + std::to_string(without.size() - kNamed) + " more";
  throw SearchError(std::to_string(without.size()) + (without.size() == 1 ? " profile carries" : " profiles carry") +
                    " no " + cutoff_tag(kind) +
                    " line with a STATS LOCAL FORWARD law (HMMER3 models from Pfam have both): " + names);
}

}  // namespace tormid
