#include "search/bound_filter.h"

#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numeric>
#include <utility>

namespace tormid {

namespace {

// Sequences per call of the score bound: enough to keep its lanes busy
// (the 16-bit bound takes only what the coarse one leaves of them), few
// enough to share a batch among threads. (Real proteins against 8 models,
// batches of 8,192 records: 512 to 2,048 took local mode 4.35 -> 4.25 s,
// glocal 8.80 -> 8.36 s.)
constexpr std::size_t kBoundGroup = 2048;

// The coarse kernel's lanes (32 wide): with fewer sequences than that in a
// batch, most of them idle. The profiles go side by side in them instead,
// kSetProfiles to a set (a few sets per thread in a library of a
// thousand), where that takes fewer passes along a sequence than the
// sequences take along the profiles (a library of 2,000 single-sequence
// models, local: 1 protein 0.31 -> 0.10 s, 15 proteins 0.80 -> 0.38 s, 63
// proteins 1.26 -> 1.15 s).
constexpr std::size_t kSetLanes = 32;
constexpr std::size_t kFewSequences = 64;
constexpr std::size_t kSetProfiles = 128;

bool few_enough(std::size_t sequences, std::size_t profiles) {
  auto passes = [](std::size_t n) { return (n + kSetLanes - 1) / kSetLanes; };
  return sequences < kFewSequences && sequences * passes(profiles) <= profiles * passes(sequences);
}

std::size_t chunks(std::size_t profiles) { return (profiles + kSetProfiles - 1) / kSetProfiles; }

// The lowest and highest scores the profile's threshold reaches at these
// sequence lengths, roughly, for a bound's scale: only its tightness
// depends on it, never its validity.
std::pair<double, double> threshold_range(const ScoreLaw& law, const SearchConfig& config,
                                          std::initializer_list<int> lengths) {
  double lowest = HUGE_VAL, highest = -HUGE_VAL;
  auto take = [&](double score) {
    if (!std::isfinite(score)) return;
    lowest = std::min(lowest, score);
    highest = std::max(highest, score);
  };
  if (config.min_score) take(*config.min_score);
  if (!law.defined()) take(config.score_threshold());
  const double z = config.database_size.value_or(1e6);
  if (law.defined())
    for (int length : lengths) take(law.location(length) - std::log(config.max_evalue / z) / law.lambda(length));
  return lowest <= highest ? std::pair{lowest, highest} : std::pair{0.0, 0.0};
}

// The same as one magnitude.
double threshold_reach(const ScoreLaw& law, const SearchConfig& config, std::initializer_list<int> lengths) {
  const auto [lowest, highest] = threshold_range(law, config, lengths);
  return std::max(std::fabs(lowest), std::fabs(highest));
}

}  // namespace

BoundFilter::BoundFilter(std::span<const Profile> profiles, const std::vector<ScoreLaw>& laws, int first, int last,
                         const SearchConfig& config)
    : profiles_(profiles),
      laws_(laws),
      first_(first),
      config_(config),
      fine_built_(std::make_unique<std::once_flag[]>(static_cast<std::size_t>(last - first))),
      coarse_built_(std::make_unique<std::once_flag[]>(static_cast<std::size_t>(last - first))),
      fine_(static_cast<std::size_t>(last - first)),
      coarse_(static_cast<std::size_t>(last - first)),
      suffix_built_(std::make_unique<std::once_flag[]>(static_cast<std::size_t>(last - first))),
      suffix_(static_cast<std::size_t>(last - first)),
      set_built_(std::make_unique<std::once_flag[]>(chunks(static_cast<std::size_t>(last - first)))),
      sets_(chunks(static_cast<std::size_t>(last - first))),
      sets_pay_off_(CoarseBoundSet({}, config.alignment, {}).pays_off()) {}

// Bounds of every stretch, which the domain search aligns as sequences of
// their own: no flank of a sequence ruled out holds a domain.
const std::optional<ScoreBound>& BoundFilter::fine_of(std::size_t k) const {
  std::call_once(fine_built_[k], [&] {
    const std::size_t p = static_cast<std::size_t>(first_) + k;
    const auto [lowest, highest] = threshold_range(laws_[p], config_, {100, 1000, 10000});
    ScoreBound fine(profiles_[p], config_.alignment, bound_scale(profiles_[p], lowest, highest), {},
                    BoundReach::stretches);
    if (fine.pays_off()) fine_[k] = std::move(fine);
  });
  return fine_[k];
}

const std::optional<SuffixBound>& BoundFilter::suffix_of(std::size_t k) const {
  std::call_once(suffix_built_[k], [&] {
    const std::size_t p = static_cast<std::size_t>(first_) + k;
    const auto [lowest, highest] = threshold_range(laws_[p], config_, {100, 1000, 10000});
    SuffixBound suffix(profiles_[p], config_.alignment, bound_scale(profiles_[p], lowest, highest));
    if (suffix.usable()) suffix_[k] = std::move(suffix);
  });
  return suffix_[k];
}

// The bytes' range covers the threshold of a protein of typical length:
// every finer scale lets fewer chance sequences through, and a longer
// sequence whose bound runs past the range gets the fine bound. (On 40,000
// real and shuffled proteins, room for the threshold at 10,000 residues let
// 23% of the pairs of a profile of 1,142 positions through, room for the
// threshold at 300 residues 16%.)
const std::optional<CoarseBound>& BoundFilter::coarse_of(std::size_t k) const {
  std::call_once(coarse_built_[k], [&] {
    const std::size_t p = static_cast<std::size_t>(first_) + k;
    CoarseBound coarse(profiles_[p], config_.alignment, threshold_reach(laws_[p], config_, {300}));
    if (coarse.pays_off()) coarse_[k] = std::move(coarse);
  });
  return coarse_[k];
}

const CoarseBoundSet& BoundFilter::set_of(std::size_t chunk) const {
  std::call_once(set_built_[chunk], [&] {
    const std::size_t first = chunk * kSetProfiles, last = std::min(coarse_.size(), first + kSetProfiles);
    std::vector<double> reaches;
    for (std::size_t k = first; k < last; ++k)
      reaches.push_back(threshold_reach(laws_[static_cast<std::size_t>(first_) + k], config_, {300}));
    sets_[chunk].emplace(profiles_.subspan(static_cast<std::size_t>(first_) + first, last - first),
                         config_.alignment, reaches);
  });
  return *sets_[chunk];
}

std::vector<double> BoundFilter::bounds(const std::vector<std::string_view>& sequences, const MayPass& may_pass,
                                        Workspaces& workspaces) const {
  const std::size_t count = sequences.size(), profiles = coarse_.size();
  if (config_.filter && few_enough(count, profiles) && sets_pay_off_) return bounds_of_few(sequences, may_pass, workspaces);
  std::vector<double> bound(count * profiles, HUGE_VAL);
  if (!config_.filter) return bound;
  // Longest first, so that the bound's lanes run out of work together.
  std::vector<std::size_t> order(count);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return sequences[a].size() > sequences[b].size(); });
  const std::size_t groups = (count + kBoundGroup - 1) / kBoundGroup;
  tbb::parallel_for(std::size_t{0}, groups * profiles, [&](std::size_t job) {
    const std::size_t p = job % profiles, first = job / profiles * kBoundGroup;
    const std::size_t last = std::min(count, first + kBoundGroup);
    const std::optional<ScoreBound>& fine = fine_of(p);
    if (!fine) return;
    const std::optional<CoarseBound>& coarse = coarse_of(p);
    Workspace& workspace = workspaces.local();
    std::vector<std::size_t> members;  // indices into sequences
    for (std::size_t k = first; k < last; ++k) members.push_back(order[k]);
    std::vector<std::string_view> group;
    std::vector<double> values;
    auto bound_members = [&](const auto& pass) {
      group.clear();
      for (const std::size_t k : members) group.push_back(sequences[k]);
      values.resize(group.size());
      pass.bound_many(group, values, workspace);
    };
    if (coarse) {
      bound_members(*coarse);
      std::vector<std::size_t> left;
      for (std::size_t n = 0; n < members.size(); ++n) {
        if (may_pass(members[n], p, values[n]))
          left.push_back(members[n]);
        else
          bound[members[n] * profiles + p] = values[n];
      }
      members = std::move(left);
    }
    bound_members(*fine);
    for (std::size_t n = 0; n < members.size(); ++n) bound[members[n] * profiles + p] = values[n];
  });
  return bound;
}

// Each sequence against the profiles of a set at once, with the coarse
// bounds the many-sequence path would give; then, profile by profile, the
// score bound (built only for a profile that needs it) of the sequences
// whose coarse bound may pass, together.
std::vector<double> BoundFilter::bounds_of_few(const std::vector<std::string_view>& sequences,
                                               const MayPass& may_pass, Workspaces& workspaces) const {
  const std::size_t count = sequences.size(), profiles = coarse_.size(), sets = sets_.size();
  std::vector<double> bound(count * profiles, HUGE_VAL);
  std::vector<char> left(count * profiles, 0);
  tbb::parallel_for(std::size_t{0}, count * sets, [&](std::size_t job) {
    const std::size_t s = job / sets, chunk = job % sets, first = chunk * kSetProfiles;
    const CoarseBoundSet& set = set_of(chunk);
    std::vector<double> values(set.size());
    set.bound(sequences[s], values, workspaces.local());
    for (std::size_t n = 0; n < values.size(); ++n) {
      const std::size_t pair = s * profiles + first + n;
      if (std::isfinite(values[n]) && !may_pass(s, first + n, values[n]))
        bound[pair] = values[n];
      else
        left[pair] = 1;
    }
  });
  tbb::parallel_for(std::size_t{0}, profiles, [&](std::size_t p) {
    std::vector<std::size_t> members;
    for (std::size_t s = 0; s < count; ++s)
      if (left[s * profiles + p]) members.push_back(s);
    if (members.empty()) return;
    const std::optional<ScoreBound>& fine = fine_of(p);
    if (!fine) return;
    std::vector<std::string_view> group;
    for (const std::size_t s : members) group.push_back(sequences[s]);
    std::vector<double> values(group.size());
    fine->bound_many(group, values, workspaces.local());
    for (std::size_t n = 0; n < members.size(); ++n) bound[members[n] * profiles + p] = values[n];
  });
  return bound;
}

}  // namespace tormid
