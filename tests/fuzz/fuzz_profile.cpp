// The profile reader on arbitrary bytes: it either refuses the file with a
// message or returns as many finite positions as the header announces.
#include <cmath>
#include <cstdint>

#include "fuzz_support.h"
#include "input/input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::write_scratch("profile", data, size);
  tormid::Profile profile;
  try {
    profile = tormid::read_prf_file(path);
  } catch (const tormid::InputError& e) {
    fuzz::check(e.messages().size() == 1, "a refused profile without exactly one message");
    fuzz::check(e.file() == path, "a refusal that names another file", e.what());
    return 0;
  }
  fuzz::check(profile.length() > 0, "empty profile accepted");
  fuzz::check(profile.consensus().size() == static_cast<std::size_t>(profile.length()),
              "consensus length differs from the profile");
  for (const tormid::ProfileRow& row : profile.rows())
    for (double s : row) fuzz::check(std::isfinite(s), "non-finite score stored");
  return 0;
}
