// tormid-prf build: profiles from one protein or a family alignment,
// written one after another as tormid profiles.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "converter/converter.h"
#include "output/output.h"

namespace tormid::converter {

namespace {

// What a profile was built from, as the report line says it.
std::string described(const BuiltProfile& b) {
  const BuildReport& r = b.report;
  char text[200];
  if (r.from_matrix)
    std::snprintf(text, sizeof text, "%d positions from one sequence (BLOSUM62)", r.positions);
  else
    std::snprintf(text, sizeof text, "%d positions from %d sequences (effective number %.2f)", r.positions,
                  r.sequences, r.effective);
  return text;
}

}  // namespace

int build(int argc, const char* const* argv) {
  bool quiet = false;
  std::vector<std::string> words;
  for (int k = 2; k < argc; ++k) {
    const std::string arg = argv[k];
    if (arg == "--quiet") {
      quiet = true;
    } else if (arg.rfind("--", 0) == 0 && arg != "--") {
      std::fprintf(stderr, "tormid-prf: unknown option %s\n", arg.c_str());
      return 1;
    } else if (arg != "--") {
      words.push_back(arg);
    }
  }
  if (words.size() < 2) {
    std::fprintf(stderr, "tormid-prf: build needs an output file and at least one alignment or sequence file\n");
    return 1;
  }
  const std::string output = words.front();
  const std::vector<std::string> files(words.begin() + 1, words.end());
  std::vector<NamedPath> inputs;
  for (const std::string& path : files) inputs.push_back({"the input", path});
  if (const std::optional<std::string> clash = same_file(inputs, {{"the output", output}})) {
    std::fprintf(stderr, "tormid-prf: %s\n", clash->c_str());
    return 2;
  }
  return with_failures_told([&] {
    check_writable(output);
    std::string text;
    std::map<std::string, std::string> file_of;
    std::vector<std::string> reports;
    for (const std::string& path : files)
      for (BuiltProfile& b : build_profiles(path)) {
        const auto [at, added] = file_of.emplace(b.profile.name(), path);
        if (!added)
          throw InputError(path, 0, "a profile named " + b.profile.name() + " is already built (from " + at->second +
                                        "); each profile needs a name of its own");
        reports.push_back(b.profile.name() + ": " + described(b));
        text += profile_text({std::move(b.profile), std::move(b.labels)});
      }
    OutputFile out(output);
    out.write(text);
    out.commit();
    if (!quiet)
      for (const std::string& line : reports) std::fprintf(stderr, "tormid-prf: %s\n", line.c_str());
  });
}

}  // namespace tormid::converter
