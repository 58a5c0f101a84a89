// The parameter reader on arbitrary bytes: penalties stay finite, and only
// a refusal of the file itself goes without a message.
#include <cmath>
#include <cstdint>

#include "fuzz_support.h"
#include "input/input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::write_scratch("params", data, size);
  tormid::ParamValues v;
  try {
    v = tormid::read_param_file(path);
  } catch (const tormid::InputError& e) {
    fuzz::check(e.messages().size() <= 1, "more than one message");
    fuzz::check(e.file() == path, "a refusal that names another file", e.what());
    return 0;
  }
  for (double p : {v.gap_open_penalty_prf, v.deletion_penalty_prf, v.gap_open_penalty_seq,
                   v.deletion_penalty_seq})
    fuzz::check(std::isfinite(p), "non-finite penalty stored");
  return 0;
}
