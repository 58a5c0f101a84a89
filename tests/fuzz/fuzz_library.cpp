// The prepared-library reader on arbitrary bytes, read twice: as they are
// (the header's checks), and with the header's size and checksum made to
// match, so that mutations reach the index and the records. Either way it
// refuses the file with a message that names it, or returns profiles that
// are not empty, one law for each (none when the bytes make another
// format), and laws the search can read or refuse.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "input/input.h"
#include "search/search.h"

namespace {

constexpr std::size_t kHeader = 40;

void read_and_check(const std::string& bytes) {
  const std::string path = fuzz::write_scratch("library", bytes.data(), bytes.size());
  tormid::ProfileLibrary library;
  try {
    library = tormid::read_library(path, 2);
  } catch (const tormid::InputError& e) {
    fuzz::check(e.file() == path, "a refusal that names another file", e.what());
    fuzz::check(!e.reason().empty(), "a refusal without a reason");
    return;
  }
  // Other formats (the bytes may make a text profile) come without laws.
  fuzz::check(library.laws.empty() || library.laws.size() == library.profiles.size(),
              "profiles and laws differ in number");
  for (std::size_t p = 0; p < library.profiles.size(); ++p)
    fuzz::check(library.profiles[p].length() > 0, "an empty profile accepted");
  for (const tormid::StoredLaw& law : library.laws) tormid::law_readable(law);  // must not crash, whatever the numbers
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  read_and_check(bytes);
  if (bytes.size() >= kHeader) {
    const std::uint64_t payload = bytes.size() - kHeader;
    const auto crc = static_cast<std::uint32_t>(
        ::crc32(0L, reinterpret_cast<const Bytef*>(bytes.data() + kHeader), static_cast<uInt>(payload)));
    for (int k = 0; k < 8; ++k) bytes[24 + static_cast<std::size_t>(k)] = static_cast<char>(payload >> (8 * k));
    for (int k = 0; k < 4; ++k) bytes[32 + static_cast<std::size_t>(k)] = static_cast<char>(crc >> (8 * k));
    read_and_check(bytes);
  }
  return 0;
}
