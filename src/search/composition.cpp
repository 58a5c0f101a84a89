// The composition correction.
#include "search/composition.h"

#include <algorithm>
#include <array>
#include <span>
#include <cmath>
#include <functional>
#include <iterator>
#include <string>
#include <utility>

namespace tormid {

namespace {

// How a sequence's own composition moves the scores chance alone reaches.
// A stretch of the sequence is shuffled, each shuffle
// keeping its residues and destroying their order, and aligned against the
// profile. The mean and spread of those best scores, against the mean and
// spread of random sequences of the same length from the calibration, say
// how far the composition shifts and widens the whole law; a score is then
// as unusual for the composition as its standardized score,
// bulk_mean + (score - mean) / scale, is for random sequences of the
// stretch's length (times the number of such stretches in the sequence).
// The sequence is shuffled (or, for a sequence longer than
// composition_window(), that many residues around the domain); and where
// the domain with kDomainMargin residues on either side is of low
// complexity (below kLowComplexityBits of entropy), that stretch too, as
// the whole sequence dilutes its composition. The expected chance count of
// a domain is the largest of the calibrated law's and these: a composition
// can make chance hits likelier, never a domain more significant. (Measured on shuffled coiled-coil-like
// proteins, keeping the scale at least 1 made glocal E-values ten times too
// conservative; shuffling the whole sequence alone left E-K repeats inside
// plain proteins significant in local mode; shuffling every domain's own
// stretch made members of a coiled-coil family insignificant: 3.3 bits
// lies between coiled-coil compositions, 3.6 to 3.8 bits over 150
// residues, and repeats of two or three residues, 2.3 to 2.9.)
//
// Three shuffles come first; when their mean is within 1.2 standard
// deviations of the random mean the composition makes no material
// difference and the correction stops there; otherwise
// kCompositionShuffles in all are aligned. (On 20,000 proteins of a
// realistic spread of compositions, 20 shuffles after a check at 1.0
// cost 22% of the search time in glocal mode, 14 after 1.2 cost 16%, for
// the same decoy counts.)
//
// Where the composition is material, most domains end far from being
// reported (shuffled real proteins against a profile with a coiled-coil
// region: three in four of the domains that reach this point). After 4
// and after 8 shuffles the correction stops when, by the estimate so far,
// every domain sharing the shuffles would still miss the report threshold
// with kHopelessMargin times its chance count to spare: those domains are
// not reported whatever the remaining shuffles say, and their counts are
// shown nowhere. (Replayed on the 3,379 corrections of that search with
// each shuffle's score kept, stopping so lost no reported domain at
// margins of 30 and more, and saved 28% of the shuffles at 100.)
constexpr int kCompositionShuffles = 14;
constexpr int kCompositionFirstShuffles = 3;
constexpr double kCompositionMaterial = 1.2;  // standard deviations
constexpr int kHopelessChecks[] = {4, 8};
constexpr double kHopelessMargin = 100;
constexpr int kDomainMargin = 20;
constexpr double kLowComplexityBits = 3.3;

// The longest stretch shuffled for a profile of this length.
int composition_window(int profile_length) { return std::max(1000, 3 * profile_length); }

// Each profile shuffles differently; a stretch shuffles the same wherever
// it is met (content_hash).
std::uint64_t profile_seed(std::uint64_t search_seed, std::size_t profile_index) {
  return search_seed + 0x9E3779B97F4A7C15ull * (profile_index + 1);
}

// The sequence-wide stretch shuffled for a domain (1-based, inclusive):
// the whole sequence, or composition_window() residues centred on it.
std::pair<int, int> composition_stretch(int seq_from, int seq_to, int length, int profile_length) {
  const int window = composition_window(profile_length);
  if (length <= window) return {1, length};
  const int from = std::clamp((seq_from + seq_to) / 2 - window / 2, 1, length - window + 1);
  return {from, from + window - 1};
}

// FNV-1a over the stretch: identical stretches get identical shuffles,
// wherever and in whatever order they are met.
std::uint64_t content_hash(std::string_view text, std::uint64_t seed) {
  std::uint64_t h = 1469598103934665603ull ^ seed;
  for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return h;
}

std::uint64_t next(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A draw in [0, n), from the top 53 bits.
std::size_t below(std::uint64_t& state, std::size_t n) {
  return static_cast<std::size_t>(static_cast<double>(next(state) >> 11) * 0x1.0p-53 * static_cast<double>(n));
}

// The estimate from the shuffles so far: mean, and spread against that of
// random sequences of the stretch's length.
CompositionNull estimate(double n, double sum, double squares, double random_sd, int length) {
  const double mean = sum / n;
  const double sd = std::sqrt(std::max(0.0, (squares - n * mean * mean) / (n - 1)));
  return {mean, sd > 0 ? sd / random_sd : 1.0, length};
}

// A stretch whose shuffles say how the composition moves chance scores,
// and the domains of its pair that take the answer: a run of domains
// sharing a sequence-wide stretch (which may stop early, when none of them
// could be reported), or one domain's own stretch of low complexity.
struct NullRequest {
  NullRequest(std::size_t task_, std::string_view stretch_, std::size_t first_, std::size_t end_, bool own_)
      : task(task_), stretch(stretch_), first(first_), end(end_), own(own_) {}
  std::size_t task;
  std::string_view stretch;
  std::size_t first, end;  // the domains, [first, end)
  bool own;
  // Scores of this stretch's shuffles known already (in their order), and
  // where to keep the scores as they come, when not null.
  const std::vector<double>* known = nullptr;
  std::vector<double>* kept = nullptr;
  // The shuffles so far: the generator, the last shuffle, and the sums of
  // their scores.
  std::uint64_t state = 0;
  std::string shuffled;
  int scored = 0;
  double n = 0, sum = 0, squares = 0;
  bool done = false;
  CompositionNull null;
  // Random sequences of the stretch's length: their mean best score and
  // its spread.
  double random_mean = NAN, random_sd = NAN;
};

// The shuffles scored before each check of a request: the composition's
// materiality, then the early stops, then all.
constexpr int kRounds[] = {kCompositionFirstShuffles, kHopelessChecks[0], kHopelessChecks[1], kCompositionShuffles};
static_assert(kCompositionFirstShuffles < kHopelessChecks[0] && kHopelessChecks[1] < kCompositionShuffles);

// The nulls of many stretches against one profile. Each stretch's shuffles
// come in the order one stretch alone would shuffle them, and each check
// is made where it would be (after 3, 4, 8 and 14 shuffles), so every null
// is the one of that stretch alone; but every round's shuffles of all the
// stretches are scored together (quick_scores(), one shuffle per lane
// where it runs on 16-bit integers). The shuffles are scored as the
// calibration scores its random sequences: their statistics are compared
// with those, not with any one exact score. (Glocal shuffles were once
// scored exactly, against single-precision calibration scores; scoring
// both alike cut 14% of a glocal search of real proteins and left the
// chance hits among their shuffles as they were.) hopeless(request,
// estimate) tells whether no domain of a sequence-wide request could be
// reported; cells(request) counts the cells of its shuffles.
template <class Hopeless, class Cells>
void composition_nulls(std::vector<NullRequest>& requests, const QuickProfile& profile, const Settings& settings,
                       const ScoreLaw& law, std::uint64_t seed, Workspace& workspace, const Hopeless& hopeless,
                       const Cells& cells) {
  for (NullRequest& r : requests) {
    const int length = static_cast<int>(r.stretch.size());
    r.state = content_hash(r.stretch, seed);
    r.shuffled.assign(r.stretch);
    r.random_mean = law.bulk_mean(length);
    r.random_sd = law.bulk_sd(length);
    r.done = r.stretch.empty() || std::isnan(r.random_mean);
  }
  // One more shuffle's score for a request, and the checks it completes.
  auto take = [&](NullRequest& r, double score) {
    ++r.scored;
    if (r.kept) r.kept->push_back(score);
    // A shuffle without any alignment: this composition scores low.
    if (score <= kNoAlignment) {
      r.done = true;
      return;
    }
    r.n += 1;
    r.sum += score;
    r.squares += score * score;
    if (r.scored == kCompositionFirstShuffles && r.sum / r.n < r.random_mean + kCompositionMaterial * r.random_sd) {
      r.done = true;
      return;
    }
    const bool check = std::find(std::begin(kHopelessChecks), std::end(kHopelessChecks), r.scored) !=
                       std::end(kHopelessChecks);
    if (r.scored == kCompositionShuffles || (check && !r.own)) {
      const CompositionNull so_far = estimate(r.n, r.sum, r.squares, r.random_sd, static_cast<int>(r.stretch.size()));
      if (r.scored == kCompositionShuffles || hopeless(r, so_far)) {
        r.null = so_far;
        r.done = true;
      }
    }
  };
  // Each round's shuffles; the strings keep their memory from round to
  // round.
  std::vector<std::string> shuffles;
  std::vector<std::string_view> views;
  std::vector<std::size_t> owner;  // the request of each shuffle
  std::vector<double> scores;
  // Shuffles whose scores are known: request and score, in order.
  std::vector<std::pair<std::size_t, double>> known;
  for (const int round_end : kRounds) {
    owner.clear();
    known.clear();
    for (std::size_t k = 0; k < requests.size(); ++k) {
      NullRequest& r = requests[k];
      if (r.done) continue;
      for (int made = r.scored; made < round_end; ++made) {
        // Every shuffle is made, known or not: the next comes out of it.
        for (std::size_t i = r.shuffled.size(); i > 1; --i) std::swap(r.shuffled[i - 1], r.shuffled[below(r.state, i)]);
        if (r.known && static_cast<std::size_t>(made) < r.known->size()) {
          known.emplace_back(k, (*r.known)[static_cast<std::size_t>(made)]);
          continue;
        }
        if (owner.size() == shuffles.size()) shuffles.emplace_back();
        shuffles[owner.size()].assign(r.shuffled);
        owner.push_back(k);
      }
    }
    if (owner.empty() && known.empty()) return;
    // Views only once the strings stop moving.
    views.assign(shuffles.begin(), shuffles.begin() + static_cast<std::ptrdiff_t>(owner.size()));
    scores.assign(views.size(), 0);
    if (!views.empty()) quick_scores(profile, settings, views, workspace, scores);
    // A request's known shuffles come before those it scored this round.
    for (const auto& [k, score] : known)
      if (!requests[k].done) take(requests[k], score);
    for (std::size_t m = 0; m < scores.size(); ++m) {
      NullRequest& r = requests[owner[m]];
      if (r.done) continue;  // stopped at an earlier shuffle of this round
      cells(r);
      take(r, scores[m]);
    }
  }
}

}  // namespace

double composition_entropy(std::string_view stretch) {
  std::array<double, 256> counts{};
  for (const char c : stretch) counts[static_cast<unsigned char>(c)] += 1;
  double bits = 0;
  for (const double n : counts)
    if (n > 0) bits -= n / static_cast<double>(stretch.size()) * std::log2(n / static_cast<double>(stretch.size()));
  return bits;
}

void correct_for_composition(std::span<const CompositionTask> tasks, const Profile& profile,
                             std::size_t profile_index, const Settings& settings, const ScoreLaw& law,
                             std::uint64_t search_seed, Workspace& workspace) {
  if (!law.defined()) return;
  // What each pair's domains need: a run of domains sharing a sequence-wide
  // stretch (the domains of a short sequence share its shuffles), and for
  // a domain of low complexity its own stretch.
  std::vector<NullRequest> requests;
  for (std::size_t t = 0; t < tasks.size(); ++t) {
    const std::vector<Domain>& domains = *tasks[t].domains;
    const std::string_view sequence = tasks[t].sequence;
    const int length = static_cast<int>(sequence.size());
    auto part = [&](std::pair<int, int> stretch) {
      return sequence.substr(static_cast<std::size_t>(stretch.first - 1),
                             static_cast<std::size_t>(stretch.second - stretch.first + 1));
    };
    auto stretch_of = [&](const Domain& d) {
      return composition_stretch(d.seq_from, d.seq_to, length, profile.length());
    };
    std::pair<int, int> last_stretch{0, 0};
    for (std::size_t k = 0; k < domains.size(); ++k) {
      const Domain& d = domains[k];
      const std::pair<int, int> stretch = stretch_of(d);
      if (stretch != last_stretch) {
        last_stretch = stretch;
        std::size_t sharing = k + 1;
        while (sharing < domains.size() && stretch_of(domains[sharing]) == stretch) ++sharing;
        requests.emplace_back(t, part(stretch), k, sharing, false);
        if (stretch == std::pair<int, int>{1, length}) requests.back().known = tasks[t].shuffle_scores;
      }
      const std::pair<int, int> own = {std::max(1, d.seq_from - kDomainMargin),
                                       std::min(length, d.seq_to + kDomainMargin)};
      if (2 * (own.second - own.first + 1) <= stretch.second - stretch.first + 1 &&
          composition_entropy(part(own)) < kLowComplexityBits)
        requests.emplace_back(t, part(own), k, k + 1, true);
    }
  }
  if (requests.empty()) return;

  const std::uint64_t seed = profile_seed(search_seed, profile_index);
  auto length_of = [&](const NullRequest& r) { return static_cast<int>(tasks[r.task].sequence.size()); };
  // Whether, by an estimate of the null, no domain sharing the shuffles
  // could be reported.
  auto hopeless = [&](const NullRequest& r, const CompositionNull& null) {
    const std::vector<Domain>& domains = *tasks[r.task].domains;
    for (std::size_t j = r.first; j < r.end; ++j) {
      const Domain& other = domains[j];
      const double count = std::max(law.expected_count(other.score, length_of(r), null),
                                    law.expected_count(other.score, length_of(r)));
      if (tasks[r.task].reportable(count / kHopelessMargin, other.score)) return false;
    }
    return true;
  };
  auto cells = [&](const NullRequest& r) {
    *tasks[r.task].cells += r.stretch.size() * static_cast<std::size_t>(profile.length());
  };
  const QuickProfile quick(profile);
  composition_nulls(requests, quick, settings, law, seed, workspace, hopeless, cells);

  // A run's null sets its domains' counts; a domain's own may only raise
  // its count.
  for (const bool own : {false, true})
    for (const NullRequest& r : requests) {
      if (r.own != own) continue;
      std::vector<Domain>& domains = *tasks[r.task].domains;
      for (std::size_t j = r.first; j < r.end; ++j) {
        Domain& d = domains[j];
        const double count = law.expected_count(d.score, length_of(r), r.null);
        d.composition_expected = own ? std::max(d.composition_expected, count) : count;
      }
    }
}

bool shuffles_whole_sequence(int length, int profile_length) { return length <= composition_window(profile_length); }

void screen_for_composition(std::span<CompositionScreen> screens, const Profile& profile,
                            std::size_t profile_index, const Settings& settings, const ScoreLaw& law,
                            std::uint64_t search_seed, Workspace& workspace) {
  std::vector<NullRequest> requests;
  for (std::size_t t = 0; t < screens.size(); ++t) {
    CompositionScreen& s = screens[t];
    s.shuffle_scores.clear();
    s.could_report = true;
    if (!law.defined() || !shuffles_whole_sequence(static_cast<int>(s.sequence.size()), profile.length())) continue;
    requests.emplace_back(t, s.sequence, 0, 1, false);
    requests.back().kept = &s.shuffle_scores;
  }
  if (requests.empty()) return;
  auto length_of = [&](const NullRequest& r) { return static_cast<int>(screens[r.task].sequence.size()); };
  // The count of a domain scoring the bound, the lowest of any domain of
  // the pair.
  auto bound_count = [&](const NullRequest& r, const CompositionNull& null) {
    const double bound = screens[r.task].bound;
    return std::max(law.expected_count(bound, length_of(r), null), law.expected_count(bound, length_of(r)));
  };
  auto hopeless = [&](const NullRequest& r, const CompositionNull& null) {
    return !screens[r.task].reportable(bound_count(r, null) / kHopelessMargin, screens[r.task].bound);
  };
  auto cells = [&](const NullRequest& r) {
    *screens[r.task].cells += r.stretch.size() * static_cast<std::size_t>(profile.length());
  };
  const QuickProfile quick(profile);
  composition_nulls(requests, quick, settings, law, profile_seed(search_seed, profile_index), workspace, hopeless,
                    cells);
  // Where the shuffles stopped, the null the correction takes for a domain
  // scoring the bound (a composition that made no material difference
  // leaves the calibrated law's count).
  for (const NullRequest& r : requests)
    screens[r.task].could_report = screens[r.task].reportable(bound_count(r, r.null), screens[r.task].bound);
}

void correct_for_composition(std::vector<Domain>& domains, const Profile& profile, std::size_t profile_index,
                             const Settings& settings, const ScoreLaw& law, std::string_view sequence,
                             std::uint64_t search_seed, const std::function<bool(double, double)>& reportable,
                             Workspace& workspace, std::uint64_t& cells) {
  const CompositionTask task{&domains, sequence, reportable, &cells, nullptr};
  correct_for_composition(std::span(&task, 1), profile, profile_index, settings, law, search_seed, workspace);
}

}  // namespace tormid
