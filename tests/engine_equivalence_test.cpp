// Every instruction-set variant of the engine against the plain reference
// engine on thousands of generated cases: same score to the bit, same
// aligned lines.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <string>

#include "engine/engine.h"
#include "support/random_cases.h"

namespace {

struct Outcome {
  double score;
  bool failed;
  std::string prf_line, seq_line;
};

Outcome run(double (*engine)(const std::string&), const std::string& seq) {
  const double score = engine(seq);
  return {score, score_failed, res_seq1, res_seq2};
}

// Sizes: mostly small, so that ties and edges are many; some up to a few
// hundred rows and columns, and some profiles shorter than a strip.
fixtures::RandomLimits limits_for(int n) {
  fixtures::RandomLimits limits;
  switch (n % 10) {
    case 0: limits.max_prf = 300; limits.max_len = 300; break;
    case 1: limits.max_prf = 3; limits.max_len = 100; break;
    case 2: limits.max_prf = 100; limits.max_len = 3; break;
    case 3: limits.score_range = 1; break;
    case 4: limits.huge_values = true; break;
    case 5: limits.max_penalty = 0; break;
    default: break;
  }
  return limits;
}

class EngineEquivalence : public testing::TestWithParam<std::string> {};

TEST_P(EngineEquivalence, MatchesReferenceBitForBit) {
  ASSERT_TRUE(select_engine_kernel(GetParam()));
  std::mt19937 rng(7u + static_cast<unsigned>(GetParam().size()));
  for (int n = 0; n < 3000; ++n) {
    const fixtures::RandomCase c = fixtures::random_case(rng, limits_for(n));
    const bool show = n % 3 != 0;
    const bool fold = n % 4 != 0;
    fixtures::install(c, show, fold);
    const Outcome expected = run(score_sequence_reference, c.seq);
    const Outcome got = run(score_sequence, c.seq);
    SCOPED_TRACE("case " + std::to_string(n) + ": seq " + c.seq + ", " +
                 std::to_string(c.rows.size()) + " positions, switches " +
                 std::to_string(c.prf_beg) + std::to_string(c.prf_end) + std::to_string(c.seq_beg) +
                 std::to_string(c.seq_end) + (fold ? " folded" : " raw"));
    ASSERT_EQ(std::bit_cast<std::uint64_t>(got.score), std::bit_cast<std::uint64_t>(expected.score))
        << got.score << " vs " << expected.score;
    ASSERT_EQ(got.failed, expected.failed);
    ASSERT_EQ(got.prf_line, expected.prf_line);
    ASSERT_EQ(got.seq_line, expected.seq_line);
  }
}

INSTANTIATE_TEST_SUITE_P(Engine, EngineEquivalence, testing::ValuesIn(engine_kernels()),
                         [](const auto& info) { return info.param; });

TEST(EngineKernels, ScalarAlwaysAvailableAndUnknownNamesRefused) {
  const std::vector<std::string> kernels = engine_kernels();
  ASSERT_FALSE(kernels.empty());
  EXPECT_EQ(kernels.back(), "scalar");
  EXPECT_EQ(engine_kernel(), kernels.front());
  EXPECT_FALSE(select_engine_kernel("no-such-unit"));
  EXPECT_EQ(engine_kernel(), kernels.front());
}

}  // namespace
