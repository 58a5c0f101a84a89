// The parameter reader on arbitrary bytes: penalties stay finite, and only
// a refusal of the file itself goes without a message.
#include <cmath>
#include <cstdint>

#include "fuzz_support.h"
#include "input/input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::write_scratch("params", data, size);
  const tormid::ReadResult<tormid::ParamValues> read = tormid::read_param_file(path);
  if (!read) {
    fuzz::check(read.messages().size() <= 1, "more than one message");
    return 0;
  }
  const tormid::ParamValues& v = read.value();
  for (double p : {v.gap_open_penalty_prf, v.deletion_penalty_prf, v.gap_open_penalty_seq,
                   v.deletion_penalty_seq})
    fuzz::check(std::isfinite(p), "non-finite penalty stored");
  return 0;
}
