#include "search/bound_filter.h"

#include <tbb/parallel_for.h>

#include <algorithm>
#include <numeric>

namespace tormid {

namespace {

// Sequences per call of the score bound: enough to keep its lanes busy,
// few enough to share a batch among threads.
constexpr std::size_t kBoundGroup = 512;

// The score the profile's threshold reaches, roughly, for the bound's
// scale: only its tightness depends on it, never its validity.
double threshold_reach(const ScoreLaw& law, const SearchConfig& config) {
  double reach = config.min_score ? std::fabs(*config.min_score) : 0.0;
  if (!law.defined()) return std::max(reach, std::fabs(config.score_threshold()));
  const double z = config.database_size.value_or(1e6);
  for (int length : {100, 1000, 10000}) {
    const double score = law.location(length) - std::log(config.max_evalue / z) / law.lambda(length);
    if (std::isfinite(score)) reach = std::max(reach, std::fabs(score));
  }
  return reach;
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

const ScoreBound* BoundFilter::bound_of(std::size_t k) const {
  std::call_once(built_[k], [&] {
    const std::size_t p = static_cast<std::size_t>(first_) + k;
    const Profile& profile = profiles_[p];
    ScoreBound bound(profile, config_.alignment, bound_scale(profile, threshold_reach(laws_[p], config_)));
    if (bound.pays_off()) bounds_[k] = std::move(bound);
  });
  return bounds_[k] ? &*bounds_[k] : nullptr;
}

std::vector<double> BoundFilter::bounds(const std::vector<std::string_view>& sequences, Workspaces& workspaces) const {
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
    const ScoreBound* score_bound = bound_of(p);
    if (!score_bound) return;
    std::vector<std::string_view> group;
    for (std::size_t k = first; k < last; ++k) group.push_back(sequences[order[k]]);
    std::vector<double> values(group.size());
    score_bound->bound_many(group, values, workspaces.local());
    for (std::size_t k = first; k < last; ++k) bound[order[k] * profiles + p] = values[k - first];
  });
  return bound;
}

}  // namespace tormid
