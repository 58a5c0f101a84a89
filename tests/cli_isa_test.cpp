// TORMID_ISA: every program caps its kernels at the instruction set it
// names, says which kernels run in --version, tells on standard error when
// the CPU lacks what was asked for, refuses a name it does not know, and
// prints the same results whatever the kernels.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/fixtures.h"

namespace {

const char* const kPrograms[] = {TORMID_BINARY, TORMID_PRF_BINARY, TORMID_SCAN_BINARY};

std::string program_name(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

fixtures::RunResult run_with_isa(const std::string& isa, const std::string& command) {
  fixtures::TempDir dir;
  return fixtures::run_shell("TORMID_ISA=" + fixtures::shell_quote(isa) + " " + command, dir.path());
}

bool cpu_runs(const std::string& kernel) {
  const std::vector<std::string> kernels = tormid::engine_kernels();  // this process has no cap
  return std::find(kernels.begin(), kernels.end(), kernel) != kernels.end();
}

// What --version should say, and standard error, for a value of TORMID_ISA
// on this CPU.
struct Expected {
  std::string kernels, err;
  int status = 0;
};

Expected expected_for(const std::string& isa) {
  const std::string widest_bound = tormid::bound_kernels().front(), widest = tormid::engine_kernels().front();
  const std::string all = "kernels: " + widest_bound + " (bound), " + widest + " (exact)\n";
  if (isa.empty()) return {all, ""};
  if (isa == "scalar" || isa == "sse2" || (isa == "avx2" && cpu_runs("avx2")))
    return {"kernels: " + isa + " (bound), " + isa + " (exact)\n", ""};
  if (isa == "avx512" && cpu_runs("avx512")) return {all, ""};
  if (isa == "avx512" || isa == "avx2" || isa == "neon")
    return {all, "TORMID_ISA=" + isa + ": this CPU has no " + isa + "; using " + widest + "\n"};
  return {"", "TORMID_ISA=" + isa + " is not an instruction set tormid knows: avx512, avx2, sse2, neon or scalar\n",
          -1};
}

TEST(IsaSwitch, VersionNamesTheKernelsAndTheCapHolds) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "the expectations are written for x86-64";
#endif
  for (const std::string isa : {"", "scalar", "sse2", "avx2", "avx512", "neon", "AVX2", "mmx"}) {
    for (const std::string program : kPrograms) {
      SCOPED_TRACE(program_name(program) + " with TORMID_ISA=" + isa);
      const Expected e = expected_for(isa);
      const fixtures::RunResult r = run_with_isa(isa, fixtures::shell_quote(program) + " --version");
      const std::string name = program_name(program);
      EXPECT_EQ(r.err, e.err.empty() ? "" : name + ": " + e.err);
      if (e.status < 0) {
        // tormid fails with its one failure status, the others as on a
        // wrong command line.
        EXPECT_EQ(r.status, name == "tormid" ? 1 : 2);
        EXPECT_EQ(r.out, "");
      } else {
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, name + " " + TORMID_VERSION_STRING + "\n" + e.kernels);
      }
    }
  }
}

TEST(IsaSwitch, ResultsAreTheSameWhateverTheKernels) {
  const std::string examples = std::string(TORMID_TEST_DATA) + "/../../examples/";
  const std::string scan = fixtures::shell_quote(TORMID_SCAN_BINARY) + " --quiet --alignments " +
                           fixtures::shell_quote(examples + "zinc_finger.hmm") + " " +
                           fixtures::shell_quote(examples + "proteome.fasta");
  const std::string tormid = fixtures::shell_quote(TORMID_BINARY) + " " +
                             fixtures::shell_quote(examples + "zinc_finger_protein.fasta") + " " +
                             fixtures::shell_quote(examples + "zinc_finger.prf") + " " +
                             fixtures::shell_quote(examples + "glocal.params");
  for (const std::string& command : {scan, tormid}) {
    const fixtures::RunResult widest = run_with_isa("", command);
    ASSERT_EQ(widest.status, 0) << widest.err;
    for (const std::string isa : {"scalar", "sse2", "avx2"}) {
      const fixtures::RunResult capped = run_with_isa(isa, command);
      EXPECT_EQ(capped.status, 0) << isa;
      EXPECT_EQ(capped.out, widest.out) << isa;
    }
  }
}

}  // namespace
