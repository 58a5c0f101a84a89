#include <algorithm>
#include <cmath>

#include "builder/builder.h"
#include "builder/dirichlet_prior.h"
#include "builder/substitution_matrix.h"
#include "builder/weights.h"

namespace tormid {

namespace {

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// A column of an alignment is a position where at least this share of the
// weighted sequences has a residue (hmmbuild's default).
constexpr double kResidueShare = 0.5;
// A sequence whose aligned part spans less than this share of the columns
// is a fragment: its gaps outside that part say nothing.
constexpr double kFragmentShare = 0.5;

// The relative entropy per position, in bits, that the effective number of
// sequences is chosen to reach (hmmbuild's defaults: at least 0.59 bits,
// more for short profiles, so that a profile carries 45 bits in all beyond
// what the choice of where a local alignment starts and ends costs,
// log2 of M (M + 1) / 2).
double relative_entropy_target(int positions) {
  const double m = positions;
  return std::max(0.59, (45.0 + std::log2(m * (m + 1) / 2)) / m);
}

// The counts a letter adds: a residue's own; B, Z and J shared between
// their two residues as the background has them; U as C and O as K; X and
// gaps nothing.
void count_letter(char letter, double weight, Residues& counts) {
  const auto add = [&](char a, double share) {
    counts[static_cast<std::size_t>(getIndex(a))] += weight * share;
  };
  const auto split = [&](char a, char b) {
    const double fa = background[static_cast<std::size_t>(getIndex(a))];
    const double fb = background[static_cast<std::size_t>(getIndex(b))];
    add(a, fa / (fa + fb));
    add(b, fb / (fa + fb));
  };
  const char c = upper(letter);
  if (getIndex(c) >= 0) return add(c, 1.0);
  switch (c) {
    case 'B': return split('N', 'D');
    case 'Z': return split('Q', 'E');
    case 'J': return split('I', 'L');
    case 'U': return add('C', 1.0);
    case 'O': return add('K', 1.0);
    default: return;
  }
}

double relative_entropy(const Residues& p) {
  double bits = 0;
  for (std::size_t a = 0; a < p.size(); ++a)
    if (p[a] > 0) bits += p[a] * std::log2(p[a] / background[a]);
  return bits;
}

// The mean relative entropy of the positions with their counts scaled to
// `effective` sequences of `sequences`.
double mean_relative_entropy(const std::vector<Residues>& counts, double effective, double sequences) {
  double sum = 0;
  for (const Residues& c : counts) {
    Residues scaled = c;
    for (double& v : scaled) v *= effective / sequences;
    sum += relative_entropy(posterior_probabilities(scaled));
  }
  return sum / static_cast<double>(counts.size());
}

// The effective number of sequences: all of them, or fewer where the
// positions would carry more than the target (bisection to 0.01, as
// hmmbuild's entropy weighting).
double effective_number(const std::vector<Residues>& counts, double sequences, double target) {
  if (mean_relative_entropy(counts, sequences, sequences) <= target) return sequences;
  double low = 0, high = sequences;
  while (high - low > 0.01) {
    const double middle = (low + high) / 2;
    (mean_relative_entropy(counts, middle, sequences) > target ? high : low) = middle;
  }
  return (low + high) / 2;
}

BuiltProfile from_matrix(const Family& family) {
  BuiltProfile built;
  std::vector<ProfileRow> rows;
  const std::string& residues = family.residues.front();
  for (const char c : residues) {
    rows.push_back(substitution_row(c == '-' ? 'X' : c));
    built.labels += c == '-' ? 'x' : upper(c);
  }
  built.profile = Profile(std::move(rows), family.name);
  built.report = {family.positions, 1, 1.0, true};
  return built;
}

}  // namespace

Family family_of(const SequenceAlignment& alignment) {
  Family family;
  family.name = alignment.name;
  family.names = alignment.names;
  const std::vector<std::string>& rows = alignment.rows;
  const std::size_t columns = rows.empty() ? 0 : rows.front().size();
  std::vector<bool> position(columns, false);
  if (!alignment.reference.empty()) {
    for (std::size_t c = 0; c < columns; ++c) {
      const char mark = alignment.reference[c];
      position[c] = mark != '.' && mark != '-' && mark != '_' && mark != '~';
    }
  } else {
    const std::vector<double> weights = position_based_weights(rows);
    std::vector<std::size_t> first(rows.size(), columns), last(rows.size(), 0);
    std::vector<bool> fragment(rows.size(), false);
    for (std::size_t s = 0; s < rows.size(); ++s) {
      for (std::size_t c = 0; c < columns; ++c)
        if (is_letter(rows[s][c])) first[s] = std::min(first[s], c), last[s] = c;
      fragment[s] = static_cast<double>(last[s] - first[s] + 1) < kFragmentShare * static_cast<double>(columns);
    }
    for (std::size_t c = 0; c < columns; ++c) {
      double residues = 0, counted = 0;
      for (std::size_t s = 0; s < rows.size(); ++s) {
        if (is_letter(rows[s][c])) {
          residues += weights[s];
          counted += weights[s];
        } else if (!fragment[s] || (c > first[s] && c < last[s])) {
          counted += weights[s];
        }
      }
      position[c] = counted > 0 && residues >= kResidueShare * counted;
    }
  }
  for (const std::string& row : rows) {
    std::string at;
    for (std::size_t c = 0; c < columns; ++c)
      if (position[c]) at += is_letter(row[c]) ? upper(row[c]) : '-';
    family.residues.push_back(std::move(at));
  }
  family.positions = family.residues.empty() ? 0 : static_cast<int>(family.residues.front().size());
  return family;
}

BuiltProfile build_profile(const Family& family) {
  if (family.residues.size() == 1) {
    BuiltProfile built = from_matrix(family);
    built.seed = family;
    return built;
  }
  const auto sequences = static_cast<double>(family.residues.size());
  const std::vector<double> weights = position_based_weights(family.residues);
  std::vector<Residues> counts(static_cast<std::size_t>(family.positions));
  for (std::size_t s = 0; s < family.residues.size(); ++s)
    for (std::size_t k = 0; k < counts.size(); ++k) count_letter(family.residues[s][k], weights[s], counts[k]);
  const double effective = effective_number(counts, sequences, relative_entropy_target(family.positions));

  BuiltProfile built;
  std::vector<ProfileRow> rows;
  for (Residues& c : counts) {
    for (double& v : c) v *= effective / sequences;
    const Residues p = posterior_probabilities(c);
    ProfileRow row{};
    for (std::size_t a = 0; a < row.size(); ++a) row[a] = 2.0 * std::log2(p[a] / background[a]);
    rows.push_back(row);
    const auto best = static_cast<std::size_t>(std::max_element(p.begin(), p.end()) - p.begin());
    const char letter = alphabet[best];
    built.labels += p[best] >= 0.5 ? letter : static_cast<char>(letter - 'A' + 'a');
  }
  built.profile = Profile(std::move(rows), family.name);
  built.seed = family;
  built.report = {family.positions, static_cast<int>(family.residues.size()), effective, false};
  return built;
}

std::vector<BuiltProfile> build_profiles(const std::string& path) { return build_profiles(path, read_alignments(path)); }

std::vector<BuiltProfile> build_profiles(const std::string& path, const std::vector<SequenceAlignment>& alignments) {
  std::vector<BuiltProfile> built;
  for (const SequenceAlignment& alignment : alignments) {
    const Family family = family_of(alignment);
    if (family.positions == 0)
      throw InputError(path, 0,
                       "alignment " + alignment.name +
                           ": no column has residues in at least half of its weighted sequences");
    built.push_back(build_profile(family));
  }
  return built;
}

LoadedProfiles load_profiles(const std::string& path, int threads) {
  LoadedProfiles loaded;
  loaded.library = read_library(path, threads);
  if (loaded.library.alignments.empty()) {
    loaded.seeds.resize(loaded.library.profiles.size());
    return loaded;
  }
  for (BuiltProfile& b : build_profiles(path, loaded.library.alignments)) {
    loaded.library.profiles.push_back(std::move(b.profile));
    loaded.seeds.push_back(std::move(b.seed));
  }
  loaded.library.alignments.clear();
  return loaded;
}

}  // namespace tormid
