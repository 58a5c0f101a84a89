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
      built_(std::make_unique<std::once_flag[]>(static_cast<std::size_t>(last - first))),
      bounds_(static_cast<std::size_t>(last - first)) {}

const BoundFilter::Bounds& BoundFilter::bounds_of(std::size_t k) const {
  std::call_once(built_[k], [&] {
    const std::size_t p = static_cast<std::size_t>(first_) + k;
    const Profile& profile = profiles_[p];
    const ScoreLaw& law = laws_[p];
    const auto [lowest, highest] = threshold_range(law, config_, {100, 1000, 10000});
    // Bounds of every stretch, which the domain search aligns as sequences
    // of their own: no flank of a sequence ruled out holds a domain.
    ScoreBound fine(profile, config_.alignment, bound_scale(profile, lowest, highest), {}, BoundReach::stretches);
    if (!fine.pays_off()) return;
    bounds_[k].fine = std::move(fine);
    // The bytes' range covers the threshold of a protein of typical length:
    // every finer scale lets fewer chance sequences through, and a longer
    // sequence whose bound runs past the range gets the fine bound. (On
    // 40,000 real and shuffled proteins, room for the threshold at 10,000
    // residues let 23% of the pairs of a profile of 1,142 positions
    // through, room for the threshold at 300 residues 16%.)
    CoarseBound coarse(profile, config_.alignment, threshold_reach(law, config_, {300}));
    if (coarse.pays_off()) bounds_[k].coarse = std::move(coarse);
  });
  return bounds_[k];
}

std::vector<double> BoundFilter::bounds(const std::vector<std::string_view>& sequences, const MayPass& may_pass,
                                        Workspaces& workspaces) const {
  const std::size_t count = sequences.size(), profiles = bounds_.size();
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
    const Bounds& b = bounds_of(p);
    if (!b.fine) return;
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
    if (b.coarse) {
      bound_members(*b.coarse);
      std::vector<std::size_t> left;
      for (std::size_t n = 0; n < members.size(); ++n) {
        if (may_pass(members[n], p, values[n]))
          left.push_back(members[n]);
        else
          bound[members[n] * profiles + p] = values[n];
      }
      members = std::move(left);
    }
    bound_members(*b.fine);
    for (std::size_t n = 0; n < members.size(); ++n) bound[members[n] * profiles + p] = values[n];
  });
  return bound;
}

}  // namespace tormid
