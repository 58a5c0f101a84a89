#include "support/synthetic.h"

#include <cmath>
#include <cstdio>

namespace synthetic {

using namespace tormid;

std::uint64_t Random::next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double Random::uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

int Random::below(int n) { return static_cast<int>(uniform() * n); }

double Random::normal() {
  const double u = 1.0 - uniform(), v = uniform();
  return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * M_PI * v);
}

int Random::residue(const Composition& c) {
  double total = 0;
  for (double p : c) total += p;
  double x = uniform() * total;
  for (int k = 0; k < kAlphabetSize; ++k) {
    x -= c[static_cast<std::size_t>(k)];
    if (x < 0) return k;
  }
  return kAlphabetSize - 1;
}

std::string protein(Random& rng, int len, const Composition& c) {
  std::string s(static_cast<std::size_t>(len), 'A');
  for (char& ch : s) ch = alphabet[rng.residue(c)];
  return s;
}

int protein_length(Random& rng) {
  const double len = std::exp(std::log(350.0) + 0.7 * rng.normal());
  return std::max(30, std::min(5000, static_cast<int>(len)));
}

Family family(Random& rng, const std::string& name, int length, double conservation, const Composition& c) {
  Family f;
  f.name = name;
  std::vector<ProfileRow> rows;
  for (int k = 0; k < length; ++k) {
    const int favoured = rng.residue(c);
    // Conservation varies along the family, as in real alignments.
    const double p = std::min(0.95, std::max(0.1, conservation + 0.15 * rng.normal()));
    Composition e;
    for (int a = 0; a < kAlphabetSize; ++a)
      e[static_cast<std::size_t>(a)] = (1 - p) * c[static_cast<std::size_t>(a)] + (a == favoured ? p : 0.0);
    ProfileRow row;
    for (int a = 0; a < kAlphabetSize; ++a)
      row[static_cast<std::size_t>(a)] =
          2.0 * std::log2(e[static_cast<std::size_t>(a)] / background[static_cast<std::size_t>(a)]);
    f.consensus += alphabet[favoured];
    f.emissions.push_back(e);
    rows.push_back(row);
  }
  f.profile = Profile(std::move(rows), name);
  return f;
}

std::string member(Random& rng, const Family& f) {
  std::string s;
  for (const Composition& e : f.emissions) {
    const double r = rng.uniform();
    if (r < 0.02) continue;                                        // deletion
    if (r < 0.04) s += protein(rng, 1 + rng.below(3));             // insertion
    s += alphabet[rng.residue(e)];
  }
  return s;
}

std::string profile_text(const Profile& p) {
  std::string text = "(Peptide) from " + (p.name().empty() ? std::string("synthetic") : p.name()) +
                     " Length: " + std::to_string(p.length()) + "\nCons A R N D C Q E G H I L K M F P S T W Y V\n";
  for (int k = 0; k < p.length(); ++k) {
    text += static_cast<char>(p.consensus()[static_cast<std::size_t>(k)] - 'a' + 'A');
    for (double s : p.row(k)) {
      char number[40];
      std::snprintf(number, sizeof number, " %.17g", s);
      text += number;
    }
    text += '\n';
  }
  return text;
}

std::string fasta(const std::vector<Record>& records) {
  std::string text;
  for (const Record& r : records) {
    text += ">" + r.name + (r.description.empty() ? "" : " " + r.description) + "\n";
    for (std::size_t k = 0; k < r.sequence.size(); k += 60) text += r.sequence.substr(k, 60) + "\n";
  }
  return text;
}

std::string shuffled(Random& rng, std::string s) {
  for (std::size_t k = s.size(); k > 1; --k) std::swap(s[k - 1], s[static_cast<std::size_t>(rng.below(static_cast<int>(k)))]);
  return s;
}

std::vector<Record> planted_records(Random& rng, const std::vector<Family>& families, int records) {
  std::vector<Record> db;
  for (int k = 0; k < records; ++k) {
    std::string seq = protein(rng, protein_length(rng) / 4);
    if (k % 7 == 0) {
      const std::string copy = member(rng, families[static_cast<std::size_t>(k) % families.size()]);
      const std::size_t at = static_cast<std::size_t>(rng.below(static_cast<int>(seq.size())));
      seq.insert(at, copy);
    }
    db.push_back({"seq" + std::to_string(k), k % 5 ? "generated protein " + std::to_string(k) : "", seq});
  }
  db.push_back({"empty", "a record without letters", ""});
  return db;
}

}  // namespace synthetic
