// Several domains per sequence, best first: the best alignment of the
// sequence is the first domain; the residues left and right of it become
// stretches searched as sequences of their own; the best-scoring stretch
// gives the next domain, and so on while stretches pass the threshold.
//
// Aligning every flank afresh costs the square of the record where the
// domains come left to right (identical repeats tie, and the leftmost
// wins): each flank is nearly the whole rest. With ends that do not depend
// on a stretch's length (local and last-column ends) the search keeps one
// best end per row instead: a left flank's matrix is the first rows of
// its stretch's, and a right flank's meets its stretch's a few rows after
// the domain, so only those rows are computed again (in the plain engine,
// row by row, until they meet). A domain's traceback covers its stretch
// up to the row the domain ends in.
//
// Most right flanks hold nothing (on real proteins against 8 models, 3,226
// of 3,629 in local mode, with 74% of the rows they would compute): a
// flank that would be computed afresh is dropped first where its score
// bound fails.
#include <algorithm>
#include <cmath>
#include <optional>
#include <queue>
#include <string_view>

#include "search/best_ends.h"
#include "search/domains.h"

namespace tormid {

namespace {

Alignment checked(const Alignment& a) {
  if (a.status == AlignStatus::out_of_memory) throw SearchError("out of memory while aligning");
  if (!std::isfinite(a.score)) throw SearchError("score overflow: profile scores or penalties are too large");
  return a;
}

// The columns from the first pair to the last.
void keep_paired_stretch(Alignment& a) {
  auto paired = [&](std::size_t k) { return a.prf_line[k] != '.' && a.seq_line[k] != '.'; };
  std::size_t first = 0, last = a.prf_line.size();
  while (first < last && !paired(first)) ++first;
  while (last > first && !paired(last - 1)) --last;
  a.prf_line = a.prf_line.substr(first, last - first);
  a.seq_line = a.seq_line.substr(first, last - first);
}

// A stretch of residues (1-based, inclusive) whose best score passed.
struct Stretch {
  double score;
  int from, to;
  int parent;
};

// Highest score first, then the stretch further left.
struct Later {
  bool operator()(const Stretch& a, const Stretch& b) const {
    if (a.score != b.score) return a.score < b.score;
    return a.from > b.from;
  }
};

// A stretch's best alignment as a domain in the whole sequence's
// coordinates; nothing for an alignment without a single pair.
std::optional<Domain> domain_from(Alignment a, const Stretch& s, bool lines) {
  if (a.seq_from == 0) return std::nullopt;  // a global alignment without a single pair
  if (lines) keep_paired_stretch(a);
  const int offset = s.from - 1;
  return Domain{a.score, a.seq_from + offset, a.seq_to + offset, a.prf_from, a.prf_to, s.from, s.to,
                s.parent, std::move(a.prf_line), std::move(a.seq_line), {}};
}

// The best alignment of a stretch as a domain, from the stretch's matrix up
// to last_row (the stretch's end, or the row its best alignment ends in).
std::optional<Domain> domain_of(const Profile& profile, const Settings& settings, std::string_view whole,
                                const Stretch& s, int last_row, bool lines, Workspace& workspace,
                                std::uint64_t& cells) {
  Alignment a = checked(align(profile, settings,
                              whole.substr(static_cast<std::size_t>(s.from - 1),
                                           static_cast<std::size_t>(last_row - s.from + 1)),
                              workspace, lines ? Detail::display : Detail::path));
  cells += static_cast<std::uint64_t>(last_row - s.from + 1) * static_cast<std::uint64_t>(profile.length());
  return domain_from(std::move(a), s, lines);
}

// Where the ends depend on the stretch's length (global or last-row ends),
// each stretch is aligned afresh.
std::vector<Domain> domains_by_stretches(const Profile& profile, const Settings& settings,
                                         const std::string& sequence, const std::function<bool(double)>& first,
                                         const std::function<bool(double)>& explore, bool lines,
                                         Workspace& workspace, std::uint64_t& cells, const MayExplore& may_explore) {
  const std::string_view whole(sequence);
  const auto positions = static_cast<std::uint64_t>(profile.length());
  auto part = [&](int from, int to) {
    return whole.substr(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(to - from + 1));
  };
  std::priority_queue<Stretch, std::vector<Stretch>, Later> pending;
  // Scores a stretch and keeps it when its best alignment passes.
  auto offer = [&](int from, int to, int parent) {
    if (to < from || (parent >= 0 && may_explore && !may_explore(part(from, to)))) return;
    const Alignment best = checked(align(profile, settings, part(from, to), workspace, Detail::score));
    cells += static_cast<std::uint64_t>(to - from + 1) * positions;
    if (best.status == AlignStatus::aligned && (parent < 0 ? first : explore)(best.score))
      pending.push({best.score, from, to, parent});
  };

  std::vector<Domain> found;
  offer(1, static_cast<int>(sequence.size()), -1);
  while (!pending.empty()) {
    const Stretch s = pending.top();
    pending.pop();
    std::optional<Domain> domain = domain_of(profile, settings, whole, s, s.to, lines, workspace, cells);
    if (!domain) continue;
    found.push_back(std::move(*domain));
    const int index = static_cast<int>(found.size()) - 1;
    const int left_end = found.back().seq_from - 1, right_start = found.back().seq_to + 1;
    offer(s.from, left_end, index);
    offer(right_start, s.to, index);
  }
  return found;
}

// A fresh pass over the rest of a stretch costs its rows in the vector
// kernels; catching up with the stretch's own matrix costs rows of the
// plain engine, about this many times dearer each, from the stretch's
// start to the domain and then, twice, until the matrices meet (some rows
// past the domain; an attempt gives up where it would cost more than the
// fresh pass).
constexpr std::size_t kPlainRowCost = 32;
constexpr std::size_t kRowsToMeet = 64;

}  // namespace

double stretch_gain(const Profile& profile, const Settings& settings) {
  if (settings.start != StartMode::local || profile.length() == 0) return 0;
  const ProfileRow& first = profile.row(0);
  return std::max(0.0, *std::max_element(first.begin(), first.end()));
}

std::vector<Domain> find_domains(const Profile& profile, const Settings& settings,
                                 const std::string& sequence, const std::function<bool(double)>& first_passes,
                                 const std::function<bool(double)>& explore, bool lines, Workspace& workspace,
                                 std::uint64_t& cells, std::vector<RowEnd>&& known_ends,
                                 const MayExplore& may_explore) {
  if (settings.end != EndMode::local && settings.end != EndMode::prf_free)
    return domains_by_stretches(profile, settings, sequence, first_passes, explore, lines, workspace, cells,
                                may_explore);
  // Each row's best end, for the stretch that holds the row: a stretch's
  // best alignment ends in its first row with the best end. The matrix of
  // a stretch's left flank is the first rows of the stretch's own, so its
  // rows keep their ends; the right flank's matrix meets the stretch's a
  // few rows after the domain, and only those rows change.
  const std::string_view whole(sequence);
  const auto positions = static_cast<std::uint64_t>(profile.length());
  std::vector<RowEnd> ends = std::move(known_ends);
  // In local mode nearly every pair that gets here has a domain (88% of
  // those the bound let through on real proteins, against 9% in glocal
  // mode), and the first one's alignment is that of a prefix of the whole
  // sequence: the pass over it keeps its moves for that alignment.
  std::optional<Alignment> first;
  int first_rows = 0;
  if (settings.start == StartMode::local && settings.end == EndMode::local) {
    auto best_row = [&](const std::vector<RowEnd>& e) {
      double best = kScoreFloor;
      for (std::size_t k = 0; k < e.size(); ++k)
        if (e[k].score > best) {
          best = e[k].score;
          first_rows = static_cast<int>(k) + 1;
        }
      return std::isfinite(best) && best > kNoAlignment && first_passes(best) ? first_rows : 0;
    };
    first = row_ends_and_prefix(profile, settings, whole, workspace, ends, best_row,
                                lines ? Detail::display : Detail::path);
    cells += sequence.size() * positions;
  } else if (settings.end != EndMode::prf_free || ends.size() != sequence.size()) {
    row_ends(profile, settings, whole, workspace, ends);
    cells += sequence.size() * positions;
  }
  BestEnds best_ends(ends);
  auto part = [&](int from, int to) {
    return whole.substr(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(to - from + 1));
  };

  struct Pending {
    Stretch stretch;
    int end_row;  // where its best alignment ends
  };
  struct PendingLater {
    bool operator()(const Pending& a, const Pending& b) const { return Later()(a.stretch, b.stretch); }
  };
  std::priority_queue<Pending, std::vector<Pending>, PendingLater> pending;
  auto offer = [&](int from, int to, int parent) {
    if (to < from) return;
    const int row = best_ends.first_best(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(to - 1));
    const double score = row >= 0 && ends[static_cast<std::size_t>(row)].score > kScoreFloor
                             ? ends[static_cast<std::size_t>(row)].score
                             : kScoreFloor;
    if (!std::isfinite(score)) throw SearchError("score overflow: profile scores or penalties are too large");
    if (score > kNoAlignment && (parent < 0 ? first_passes : explore)(score))
      pending.push({{score, from, to, parent}, row + 1});
  };
  // The rows from `from` to `to` as the matrix of a stretch starting at
  // `from` has them, where they were those of a stretch from `start`.
  std::vector<RowEnd> met;
  std::vector<RowEnd> fresh;
  // False where the flank is dropped instead: before its rows are
  // computed afresh, a flank whose bound fails (most do: the left one's
  // rows are its stretch's, and a right one rarely holds another domain).
  // The bound costs a pass over the flank, so a flank that meets its
  // stretch's matrix soon is not bounded (a record of many repeats would
  // pay for its whole rest at every domain).
  auto refresh = [&](int start, int from, int to) {
    if (to < from) return false;
    const auto rest = static_cast<std::size_t>(to - from + 1);
    const auto before = static_cast<std::size_t>(from - start);
    if (rest > kPlainRowCost * (before + kRowsToMeet)) {
      const int budget = static_cast<int>((rest / kPlainRowCost - before) / 2);
      if (rows_meet(profile, settings, part(start, to), before, budget, met, cells) > 0) {
        for (std::size_t k = 0; k < met.size(); ++k) {
          ends[static_cast<std::size_t>(from - 1) + k] = met[k];
          best_ends.changed(static_cast<std::size_t>(from - 1) + k);
        }
        return true;
      }
    }
    if (may_explore && !may_explore(part(from, to))) return false;
    row_ends(profile, settings, part(from, to), workspace, fresh);
    cells += rest * positions;
    for (std::size_t k = 0; k < rest; ++k) {
      ends[static_cast<std::size_t>(from - 1) + k] = fresh[k];
      best_ends.changed(static_cast<std::size_t>(from - 1) + k);
    }
    return true;
  };

  std::vector<Domain> found;
  offer(1, static_cast<int>(sequence.size()), -1);
  while (!pending.empty()) {
    const Stretch s = pending.top().stretch;
    const int end_row = pending.top().end_row;
    pending.pop();
    // The stretch's matrix up to the row its best alignment ends in (for
    // the whole sequence, the pass above may have kept it).
    std::optional<Domain> domain;
    if (first && s.from == 1 && end_row == first_rows)
      domain = domain_from(checked(std::move(*first)), s, lines);
    else
      domain = domain_of(profile, settings, whole, s, end_row, lines, workspace, cells);
    first.reset();
    if (!domain) continue;
    found.push_back(std::move(*domain));
    const int index = static_cast<int>(found.size()) - 1;
    const int left_end = found.back().seq_from - 1, right_start = found.back().seq_to + 1;
    offer(s.from, left_end, index);
    if (refresh(s.from, right_start, s.to)) offer(right_start, s.to, index);
  }
  return found;
}

}  // namespace tormid
