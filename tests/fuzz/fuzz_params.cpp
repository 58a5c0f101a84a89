// The parameter reader on arbitrary bytes: penalties stay finite, switches
// stay 0 or 1, and folding leaves at most one mode per end.
#include <cmath>
#include <cstdint>

#include "fuzz_support.h"
#include "input/input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::write_scratch("params", data, size);
  const int accepted = read_param_file(path.c_str());
  fuzz::check(accepted == 0 || accepted == 1, "reader result not 0 or 1");
  for (double p : {gap_open_penalty_prf, deletion_penalty_prf, gap_open_penalty_seq,
                   deletion_penalty_seq})
    fuzz::check(std::isfinite(p), "non-finite penalty stored");
  for (int s : {prf_free_beg, prf_free_end, seq_free_beg, seq_free_end, show_alignment})
    fuzz::check(s == 0 || s == 1, "switch not 0 or 1");
  set_parameters();
  fuzz::check(prf_free_beg + seq_free_beg + all_free_beg <= 1, "two beginning modes");
  fuzz::check(prf_free_end + seq_free_end + all_free_end <= 1, "two end modes");
  return 0;
}
