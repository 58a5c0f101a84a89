// The composition shift of a domain, from shuffles of its stretch.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "scan/statistics.h"

namespace tormid::scan {

namespace {

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

}  // namespace

double composition_entropy(std::string_view stretch) {
  std::array<double, 256> counts{};
  for (const char c : stretch) counts[static_cast<unsigned char>(c)] += 1;
  double bits = 0;
  for (const double n : counts)
    if (n > 0) bits -= n / static_cast<double>(stretch.size()) * std::log2(n / static_cast<double>(stretch.size()));
  return bits;
}

CompositionNull composition_null(const Profile& profile, const Settings& settings, const ScoreLaw& law,
                                 std::string_view stretch, std::uint64_t seed, Workspace& workspace,
                                 std::uint64_t& cells) {
  const int length = static_cast<int>(stretch.size());
  const double random_mean = law.bulk_mean(length), random_sd = law.bulk_sd(length);
  if (!law.defined() || stretch.empty() || std::isnan(random_mean)) return {};
  std::uint64_t state = content_hash(stretch, seed);
  std::string shuffled(stretch);
  double n = 0, sum = 0, squares = 0;
  for (int k = 0; k < kCompositionShuffles; ++k) {
    for (std::size_t i = shuffled.size(); i > 1; --i) std::swap(shuffled[i - 1], shuffled[below(state, i)]);
    const double score = align(profile, settings, shuffled, workspace, Detail::score).score;
    cells += stretch.size() * static_cast<std::size_t>(profile.length());
    // A shuffle without any alignment: this composition scores low.
    if (score <= kNoAlignment) return {};
    n += 1;
    sum += score;
    squares += score * score;
    if (k + 1 == kCompositionFirstShuffles && sum / n < random_mean + kCompositionMaterial * random_sd) return {};
  }
  const double mean = sum / n;
  const double sd = std::sqrt(std::max(0.0, (squares - n * mean * mean) / (n - 1)));
  return {mean, sd > 0 ? sd / random_sd : 1.0, length};
}

}  // namespace tormid::scan
