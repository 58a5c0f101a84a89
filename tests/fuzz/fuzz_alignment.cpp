// Profiles from alignments and sequences on arbitrary bytes: the file is
// refused with a message that names it, or every profile built has
// positions, finite scores and a seed of its positions.
#include <cmath>
#include <cstdint>

#include "builder/builder.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::write_scratch("alignment", data, size);
  std::vector<tormid::BuiltProfile> built;
  try {
    built = tormid::build_profiles(path);
  } catch (const tormid::InputError& e) {
    fuzz::check(e.file() == path, "a refusal that names another file", e.what());
    fuzz::check(!e.reason().empty(), "a refusal without a reason");
    return 0;
  }
  fuzz::check(!built.empty(), "nothing built and nothing refused");
  for (const tormid::BuiltProfile& b : built) {
    fuzz::check(b.profile.length() > 0, "a profile without positions");
    fuzz::check(b.seed.positions == b.profile.length(), "a seed of other positions");
    fuzz::check(b.labels.size() == static_cast<std::size_t>(b.profile.length()), "labels of another length");
    for (const tormid::ProfileRow& row : b.profile.rows())
      for (const double s : row) fuzz::check(std::isfinite(s), "a score that is not finite");
  }
  return 0;
}
