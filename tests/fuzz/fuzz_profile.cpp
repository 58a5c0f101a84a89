// The profile reader on arbitrary bytes: it either refuses the file or
// returns as many finite positions as the header announces.
#include <cmath>
#include <cstdint>

#include "fuzz_support.h"
#include "input/input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::write_scratch("profile", data, size);
  profile.clear();
  const int length = read_prf_file(path.c_str());
  fuzz::check(length >= 0, "negative profile length");
  if (length > 0) {
    fuzz::check(profile.size() == static_cast<std::size_t>(length), "row count differs from N");
    for (const ProfileRow& row : profile)
      for (double s : row) fuzz::check(std::isfinite(s), "non-finite score stored");
  }
  return 0;
}
