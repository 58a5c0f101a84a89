// Several domains per sequence, best first: the best alignment of the
// sequence is the first domain; the residues left and right of it become
// stretches searched as sequences of their own; the best-scoring stretch
// gives the next domain, and so on while stretches pass the threshold.
#include <cmath>
#include <queue>
#include <string_view>

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

}  // namespace

std::vector<Domain> find_domains(const Profile& profile, const Settings& settings,
                                 const std::string& sequence, const std::function<bool(double)>& passes,
                                 bool lines, Workspace& workspace, std::uint64_t& cells) {
  const std::string_view whole(sequence);
  const auto positions = static_cast<std::uint64_t>(profile.length());
  auto part = [&](int from, int to) {
    return whole.substr(static_cast<std::size_t>(from - 1), static_cast<std::size_t>(to - from + 1));
  };
  std::priority_queue<Stretch, std::vector<Stretch>, Later> pending;
  // Scores a stretch and keeps it when its best alignment passes.
  auto offer = [&](int from, int to, int parent) {
    if (to < from) return;
    const Alignment best = checked(align(profile, settings, part(from, to), workspace, Detail::score));
    cells += static_cast<std::uint64_t>(to - from + 1) * positions;
    if (best.status == AlignStatus::aligned && passes(best.score))
      pending.push({best.score, from, to, parent});
  };

  std::vector<Domain> found;
  offer(1, static_cast<int>(sequence.size()), -1);
  while (!pending.empty()) {
    const Stretch s = pending.top();
    pending.pop();
    Alignment a = checked(align(profile, settings, part(s.from, s.to), workspace,
                                lines ? Detail::display : Detail::path));
    cells += static_cast<std::uint64_t>(s.to - s.from + 1) * positions;
    if (a.seq_from == 0) continue;  // a global alignment without a single pair
    if (lines) keep_paired_stretch(a);
    const int offset = s.from - 1;
    found.push_back({a.score, a.seq_from + offset, a.seq_to + offset, a.prf_from, a.prf_to, s.from, s.to,
                     s.parent, std::move(a.prf_line), std::move(a.seq_line)});
    const int index = static_cast<int>(found.size()) - 1;
    const int left_end = found.back().seq_from - 1, right_start = found.back().seq_to + 1;
    offer(s.from, left_end, index);
    offer(right_start, s.to, index);
  }
  return found;
}

}  // namespace tormid
