// The engine's kernels against the reference on generated cases, without
// GoogleTest, so that a cross build (AArch64 under qemu-user) runs it with
// nothing but the engine: every kernel this CPU has gives the reference's
// scores, ends, lines and row ends bit for bit; the quick kernels agree
// with each other, one by one and many at once; every bound kernel gives
// the plain kernel's bound, never below the exact score, one by one and
// many at once.
//
//   engine_check [CASES]     (default 3000; exit status 0 when all hold)
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/random_cases.h"

using namespace tormid;

namespace {

int failures = 0;

void check(bool holds, const std::string& what) {
  if (holds) return;
  if (++failures <= 20) std::fprintf(stderr, "FAILED: %s\n", what.c_str());
}

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

}  // namespace

int main(int argc, char** argv) {
  const int cases = argc > 1 ? std::atoi(argv[1]) : 3000;
  std::printf("%s\n", kernels_line().c_str());
  std::vector<std::string> names = engine_kernels();
  for (const std::string& h : engine_kernel_heights()) names.push_back(h);
  Workspace reference("reference");
  std::vector<Workspace> spaces;
  for (const std::string& name : names) spaces.emplace_back(name);
  Workspace plain("scalar");
  std::mt19937 rng(2027);
  long compared = 0;
  for (int n = 0; n < cases; ++n) {
    fixtures::RandomCase c = fixtures::random_case(rng, fixtures::varied_limits(n));
    const Profile profile = c.profile();
    const Settings settings = c.settings();
    const std::string where = "case " + std::to_string(n);
    for (const Detail detail : {Detail::score, Detail::path, Detail::display}) {
      const Alignment want = align(profile, settings, c.seq, reference, detail);
      for (std::size_t k = 0; k < spaces.size(); ++k) {
        const Alignment got = align(profile, settings, c.seq, spaces[k], detail);
        check(bits(got.score) == bits(want.score) && got.status == want.status && got.seq_from == want.seq_from &&
                  got.seq_to == want.seq_to && got.prf_from == want.prf_from && got.prf_to == want.prf_to &&
                  got.prf_line == want.prf_line && got.seq_line == want.seq_line,
              where + ", kernel " + names[k]);
        ++compared;
      }
    }
    if (!c.seq.empty() && !c.rows.empty()) {
      const QuickProfile quick(profile);
      const double want = quick_score(quick, settings, c.seq, plain);
      for (std::size_t k = 0; k < spaces.size(); ++k)
        check(bits(quick_score(quick, settings, c.seq, spaces[k])) == bits(want), where + ", quick " + names[k]);
      // Many at once, one per lane where the kernels have lanes: prefixes
      // of every length, as each alone (every third case, for time under
      // emulation).
      if (n % 3 == 0) {
        std::vector<std::string_view> prefixes;
        for (std::size_t len = 1; len <= c.seq.size(); len += 1 + c.seq.size() / 40)
          for (int copy = 0; copy < 2; ++copy) prefixes.push_back(std::string_view(c.seq).substr(0, len));
        std::vector<double> each, together(prefixes.size());
        for (const std::string_view p : prefixes) each.push_back(quick_score(quick, settings, p, plain));
        for (std::size_t k = 0; k < spaces.size(); ++k) {
          quick_scores(quick, settings, prefixes, spaces[k], together);
          bool same = true;
          for (std::size_t i = 0; i < each.size(); ++i) same = same && bits(together[i]) == bits(each[i]);
          check(same, where + ", quick many at once " + names[k]);
        }
      }
    }
    if (settings.end == EndMode::local || settings.end == EndMode::prf_free) {
      std::vector<RowEnd> want, got;
      row_ends(profile, settings, c.seq, reference, want);
      for (std::size_t k = 0; k < spaces.size(); ++k) {
        row_ends(profile, settings, c.seq, spaces[k], got);
        bool same = got.size() == want.size();
        for (std::size_t r = 0; same && r < got.size(); ++r)
          same = bits(got[r].score) == bits(want[r].score) && got[r].col == want[r].col;
        check(same, where + ", row ends " + names[k]);
      }
    }
    const double exact = align(profile, settings, c.seq, reference, Detail::score).score;
    const std::string part = c.seq.substr(0, c.seq.size() / 2);
    const std::vector<std::string_view> many(40, std::string_view(c.seq));
    for (const std::string& kernel : bound_kernels()) {
      const ScoreBound bound(profile, settings, 16, kernel);
      const ScoreBound scalar(profile, settings, 16, "scalar");
      const double ub = bound.bound(c.seq, reference);
      check(ub >= exact, where + ", bound " + kernel + " below the score");
      check(bits(ub) == bits(scalar.bound(c.seq, reference)), where + ", bound " + kernel + " differs");
      std::vector<double> out(many.size());
      bound.bound_many(many, out, reference);
      for (const double v : out) check(bits(v) == bits(ub), where + ", bound " + kernel + " many at once");
    }
  }
  std::printf("%d cases, %ld alignments compared on %zu kernels: %s\n", cases, compared, names.size(),
              failures ? "FAILED" : "all as the reference");
  return failures ? 1 : 0;
}
