// The score bound as a filter: per profile, a ScoreBound built for the
// threshold it will meet, run on many of a batch's sequences at once.
// Private to the search.
#pragma once

#include <tbb/enumerable_thread_specific.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "search/score_law.h"

namespace tormid {

using Workspaces = tbb::enumerable_thread_specific<Workspace>;

class BoundFilter {
 public:
  // The bounds of profiles[first, last) (none where it would not save
  // time, or when the configuration turns the filter off), each built by
  // the thread that first needs it: a library of many profiles starts at
  // once, on every thread.
  BoundFilter(std::span<const Profile> profiles, const std::vector<ScoreLaw>& laws, int first, int last,
              const SearchConfig& config);

  // Whether a pair (a sequence's index, a profile's index in the range)
  // with this bound may have a domain.
  using MayPass = std::function<bool(std::size_t sequence, std::size_t profile, double bound)>;

  // The bound of every sequence against every profile of the range,
  // sequence-major, never below the best score of any stretch of the
  // sequence aligned alone (BoundReach::stretches); +infinity where there is
  // none. Where a profile has a
  // coarse bound, the score bound runs only on the pairs whose coarse bound
  // may pass; the others keep the coarse one.
  std::vector<double> bounds(const std::vector<std::string_view>& sequences, const MayPass& may_pass,
                             Workspaces& workspaces) const;

  // The suffix bound of a profile of the range (for alignments that start
  // and end in its first and last position), at the score bound's scale;
  // empty where it cannot be used.
  const std::optional<SuffixBound>& suffix_of(std::size_t k) const;

  // The score bound of a profile of the range, for a stretch of a sequence
  // on its own; null where it would not save time or the filter is off.
  const ScoreBound* stretch_bound(std::size_t k) const {
    const std::optional<ScoreBound>& fine = fine_of(k);
    return config_.filter && fine ? &*fine : nullptr;
  }

  // Whether a pair whose best score is at most `bound` may have a domain.
  // No domain is found unless the sequence's best alignment passes, so
  // where passing is monotone in the score (always without a law; with
  // one, where E-values fall as scores rise) a bound that does not pass
  // rules the pair out.
  template <class Passes>
  static bool may_pass(double bound, const ScoreLaw& law, int length, const Passes& passes) {
    const bool monotone = !law.defined() || law.lambda(length) > 0;
    return !monotone || passes(bound);
  }

 private:
  const std::optional<ScoreBound>& fine_of(std::size_t k) const;
  const std::optional<CoarseBound>& coarse_of(std::size_t k) const;
  // The coarse bounds of a few sequences, the profiles side by side:
  // kSetProfiles of the range's profiles to a set.
  const CoarseBoundSet& set_of(std::size_t chunk) const;
  std::vector<double> bounds_of_few(const std::vector<std::string_view>& sequences, const MayPass& may_pass,
                                    Workspaces& workspaces) const;

  std::span<const Profile> profiles_;
  const std::vector<ScoreLaw>& laws_;
  int first_;
  const SearchConfig& config_;
  // Per profile of the range, built once, by the thread that first needs
  // them; empty where the bound would not save time.
  std::unique_ptr<std::once_flag[]> fine_built_, coarse_built_;
  mutable std::vector<std::optional<ScoreBound>> fine_;
  mutable std::vector<std::optional<CoarseBound>> coarse_;
  std::unique_ptr<std::once_flag[]> suffix_built_;
  mutable std::vector<std::optional<SuffixBound>> suffix_;
  // Per kSetProfiles of the range, built once.
  std::unique_ptr<std::once_flag[]> set_built_;
  mutable std::vector<std::optional<CoarseBoundSet>> sets_;
  bool sets_pay_off_;
};

}  // namespace tormid
