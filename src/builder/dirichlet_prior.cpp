// The nine-component Dirichlet mixture of Sjolander et al. (1996, CABIOS
// 12:327), trained on the Blocks database: the match emission prior of
// HMMER3's hmmbuild, so that profiles built here and HMMER models of the
// same alignment agree. Components as published, in alphabetical order of
// the one-letter codes (A C D E F G H I K L M N P Q R S T V W Y).
#include "builder/dirichlet_prior.h"

#include <algorithm>
#include <cmath>

namespace tormid {

namespace {

constexpr int kComponents = 9;
constexpr char kPublishedOrder[] = "ACDEFGHIKLMNPQRSTVWY";

constexpr std::array<double, kComponents> kMixture = {0.178091, 0.056591, 0.0960191, 0.0781233, 0.0834977,
                                                      0.0904123, 0.114468, 0.0682132, 0.234585};
// clang-format off
constexpr std::array<std::array<double, kAlphabetSize>, kComponents> kAlphas = {{
  {0.270671, 0.039848, 0.017576, 0.016415, 0.014268, 0.131916, 0.012391, 0.022599, 0.020358, 0.030727,
   0.015315, 0.048298, 0.053803, 0.020662, 0.023612, 0.216147, 0.147226, 0.065438, 0.003758, 0.009621},
  {0.021465, 0.010300, 0.011741, 0.010883, 0.385651, 0.016416, 0.076196, 0.035329, 0.013921, 0.093517,
   0.022034, 0.028593, 0.013086, 0.023011, 0.018866, 0.029156, 0.018153, 0.036100, 0.071770, 0.419641},
  {0.561459, 0.045448, 0.438366, 0.764167, 0.087364, 0.259114, 0.214940, 0.145928, 0.762204, 0.247320,
   0.118662, 0.441564, 0.174822, 0.530840, 0.465529, 0.583402, 0.445586, 0.227050, 0.029510, 0.121090},
  {0.070143, 0.011140, 0.019479, 0.094657, 0.013162, 0.048038, 0.077000, 0.032939, 0.576639, 0.072293,
   0.028240, 0.080372, 0.037661, 0.185037, 0.506783, 0.073732, 0.071587, 0.042532, 0.011254, 0.028723},
  {0.041103, 0.014794, 0.005610, 0.010216, 0.153602, 0.007797, 0.007175, 0.299635, 0.010849, 0.999446,
   0.210189, 0.006127, 0.013021, 0.019798, 0.014509, 0.012049, 0.035799, 0.180085, 0.012744, 0.026466},
  {0.115607, 0.037381, 0.012414, 0.018179, 0.051778, 0.017255, 0.004911, 0.796882, 0.017074, 0.285858,
   0.075811, 0.014548, 0.015092, 0.011382, 0.012696, 0.027535, 0.088333, 0.944340, 0.004373, 0.016741},
  {0.093461, 0.004737, 0.387252, 0.347841, 0.010822, 0.105877, 0.049776, 0.014963, 0.094276, 0.027761,
   0.010040, 0.187869, 0.050018, 0.110039, 0.038668, 0.119471, 0.065802, 0.025430, 0.003215, 0.018742},
  {0.452171, 0.114613, 0.062460, 0.115702, 0.284246, 0.140204, 0.100358, 0.550230, 0.143995, 0.700649,
   0.276580, 0.118569, 0.097470, 0.126673, 0.143634, 0.278983, 0.358482, 0.661750, 0.061533, 0.199373},
  {0.005193, 0.004039, 0.006722, 0.006121, 0.003468, 0.016931, 0.003647, 0.002184, 0.005019, 0.005990,
   0.001473, 0.004158, 0.009055, 0.003630, 0.006583, 0.003172, 0.003690, 0.002967, 0.002772, 0.002686},
}};
// clang-format on

struct Component {
  double log_mixture;
  Residues alpha;  // alphabet order
  double sum;
  double log_beta;  // ln B(alpha)
};

double log_beta(const Residues& x) {
  double sum = 0, lg = 0;
  for (const double v : x) {
    sum += v;
    lg += std::lgamma(v);
  }
  return lg - std::lgamma(sum);
}

const std::array<Component, kComponents>& components() {
  static const std::array<Component, kComponents> table = [] {
    std::array<Component, kComponents> c{};
    for (int k = 0; k < kComponents; ++k) {
      const auto ku = static_cast<std::size_t>(k);
      for (int p = 0; p < kAlphabetSize; ++p)
        c[ku].alpha[static_cast<std::size_t>(getIndex(kPublishedOrder[p]))] = kAlphas[ku][static_cast<std::size_t>(p)];
      c[ku].log_mixture = std::log(kMixture[ku]);
      c[ku].sum = 0;
      for (const double a : c[ku].alpha) c[ku].sum += a;
      c[ku].log_beta = log_beta(c[ku].alpha);
    }
    return c;
  }();
  return table;
}

}  // namespace

Residues posterior_probabilities(const Residues& counts) {
  const auto& mixture = components();
  double total = 0;
  for (const double n : counts) total += n;
  // ln P(k | counts) up to a constant: ln q_k + ln B(counts + alpha_k) - ln B(alpha_k).
  std::array<double, kComponents> log_posterior{};
  double best = -INFINITY;
  for (std::size_t k = 0; k < mixture.size(); ++k) {
    Residues sum{};
    for (std::size_t a = 0; a < sum.size(); ++a) sum[a] = counts[a] + mixture[k].alpha[a];
    log_posterior[k] = mixture[k].log_mixture + log_beta(sum) - mixture[k].log_beta;
    best = std::max(best, log_posterior[k]);
  }
  double norm = 0;
  for (double& v : log_posterior) norm += (v = std::exp(v - best));
  Residues p{};
  for (std::size_t k = 0; k < mixture.size(); ++k) {
    const double weight = log_posterior[k] / norm / (total + mixture[k].sum);
    for (std::size_t a = 0; a < p.size(); ++a) p[a] += weight * (counts[a] + mixture[k].alpha[a]);
  }
  return p;
}

}  // namespace tormid
