#include "builder/iteration.h"

#include <map>
#include <set>
#include <tuple>

namespace tormid {

namespace {

// A domain as the inclusion compares rounds: its sequence and residues.
using DomainKey = std::tuple<std::uint64_t, int, int>;

std::string domain_name(const Hit& h) {
  return (h.name().empty() ? std::string("(unnamed)") : h.name()) + "/" + std::to_string(h.seq_from) + "-" +
         std::to_string(h.seq_to);
}

}  // namespace

Family family_of_hits(const std::string& name, int positions, const std::vector<const Hit*>& hits) {
  Family family;
  family.name = name;
  family.positions = positions;
  for (const Hit* h : hits) {
    std::string row(static_cast<std::size_t>(positions), '-');
    int position = h->prf_from - 1;
    for (std::size_t k = 0; k < h->prf_line.size(); ++k) {
      if (h->prf_line[k] == '.') continue;  // a residue between positions
      if (h->seq_line[k] != '.' && position < positions) row[static_cast<std::size_t>(position)] = h->seq_line[k];
      ++position;
    }
    family.names.push_back(domain_name(*h));
    family.residues.push_back(std::move(row));
  }
  return family;
}

IterativeResult search_iteratively(std::span<const Profile> profiles, std::span<const StoredLaw> laws,
                                   std::span<const Family> seeds, const IterationSettings& settings,
                                   const RoundSearch& search_round) {
  const std::size_t count = profiles.size();
  IterativeResult out;
  out.last_round.assign(count, 0);
  std::vector<Profile> current(profiles.begin(), profiles.end());
  std::vector<bool> built(count, false);  // stored laws hold only for the profiles as given
  std::vector<std::vector<Hit>> last_hits(count);
  std::vector<std::set<DomainKey>> included(count);
  std::map<std::pair<int, std::uint64_t>, int> joined;  // (profile, record) -> round
  std::vector<std::size_t> active(count);
  for (std::size_t p = 0; p < count; ++p) active[p] = p;

  for (int round = 1; round <= settings.rounds && !active.empty(); ++round) {
    const bool last = round == settings.rounds;
    std::vector<Profile> searched;
    std::vector<StoredLaw> searched_laws;
    for (const std::size_t p : active) {
      searched.push_back(current[p]);
      searched_laws.push_back(!built[p] && p < laws.size() ? laws[p] : StoredLaw{});
    }
    SearchResult result = search_round(searched, searched_laws, !last);

    RoundReport report;
    report.round = round;
    report.profiles_searched = static_cast<int>(active.size());
    report.stats = result.stats;
    report.calibration_seconds = result.calibration_seconds;
    for (Hit& h : result.hits) {
      h.profile = static_cast<int>(active[static_cast<std::size_t>(h.profile)]);
      if (joined.emplace(std::make_pair(h.profile, h.record), round).second) report.new_hits.push_back(h);
    }

    std::vector<std::vector<Hit>> hits_of(count);
    for (Hit& h : result.hits) hits_of[static_cast<std::size_t>(h.profile)].push_back(std::move(h));
    std::vector<std::size_t> next;
    for (const std::size_t p : active) {
      last_hits[p] = std::move(hits_of[p]);
      out.last_round[p] = round;
      if (last) continue;
      // A sequence joins when its sequence E-value passes; with it, each of
      // its domains whose E-value among the sequences reported (its
      // P-value times their number, as HMMER's domain inclusion) passes.
      std::set<std::uint64_t> reported;
      for (const Hit& h : last_hits[p]) reported.insert(h.record);
      const auto among_reported = static_cast<double>(reported.size());
      std::set<DomainKey> now;
      std::vector<const Hit*> members;
      for (const Hit& h : last_hits[p])
        if (h.sequence_evalue <= settings.inclusion_evalue && h.pvalue * among_reported <= settings.inclusion_evalue &&
            now.emplace(h.record, h.seq_from, h.seq_to).second)
          members.push_back(&h);
      // Nothing included, or what was included before: the profile stays.
      if (members.empty() || (round > 1 && now == included[p])) continue;
      included[p] = std::move(now);
      Family family = family_of_hits(current[p].name(), current[p].length(), members);
      if (p < seeds.size() && seeds[p].positions == current[p].length()) {
        family.names.insert(family.names.begin(), seeds[p].names.begin(), seeds[p].names.end());
        family.residues.insert(family.residues.begin(), seeds[p].residues.begin(), seeds[p].residues.end());
      }
      const BuiltProfile rebuilt = build_profile(family);
      current[p] = Profile(std::vector<ProfileRow>(rebuilt.profile.rows().begin(), rebuilt.profile.rows().end()),
                           current[p].name(), current[p].notes());
      built[p] = true;
      next.push_back(p);
    }
    out.rounds.push_back(std::move(report));
    active = std::move(next);
  }

  for (std::size_t p = 0; p < count; ++p)
    for (Hit& h : last_hits[p]) {
      out.joined.push_back(joined.at({h.profile, h.record}));
      out.result.hits.push_back(std::move(h));
    }
  // The sequences are those of the first round; the work, every round's.
  SearchStats& s = out.result.stats;
  for (const RoundReport& r : out.rounds) {
    if (r.round == 1) {
      s = r.stats;
    } else {
      s.cells += r.stats.cells;
      s.aligned_cells += r.stats.aligned_cells;
      s.pairs += r.stats.pairs;
      s.pairs_dismissed += r.stats.pairs_dismissed;
      s.pairs_scored_out += r.stats.pairs_scored_out;
    }
    out.result.calibration_seconds += r.calibration_seconds;
  }
  return out;
}

}  // namespace tormid
