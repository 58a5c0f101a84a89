// tormid-prf press: profiles of any format, calibrated once, written as a
// prepared library that tormid-scan loads without calibrating.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "converter/converter.h"
#include "output/output.h"
#include "search/search.h"

namespace tormid::converter {

namespace {

struct PressRequest {
  std::optional<std::string> params;
  std::string mode = "local";
  double open = kDefaultGapOpen, extend = kDefaultGapExtend;
  SearchConfig config;
  bool quiet = false;
  std::string output;
  std::vector<std::string> files;
};

bool whole_number(const std::string& text, unsigned long long& value) {
  if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  value = std::strtoull(text.c_str(), nullptr, 10);
  return errno == 0;
}

bool finite_number(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(value);
}

// The command line after "press"; an empty message means it is understood.
std::string parse(int argc, const char* const* argv, PressRequest& r) {
  std::vector<std::string> words;
  for (int k = 2; k < argc; ++k) {
    const std::string arg = argv[k];
    auto value = [&]() -> std::optional<std::string> {
      if (k + 1 == argc) return std::nullopt;
      return std::string(argv[++k]);
    };
    unsigned long long n = 0;
    if (arg == "--quiet") {
      r.quiet = true;
    } else if (arg == "--params" || arg == "--mode" || arg == "--open" || arg == "--extend" || arg == "--seed" ||
               arg == "--threads") {
      const std::optional<std::string> v = value();
      if (!v) return arg + " needs a value";
      if (arg == "--params") r.params = *v;
      if (arg == "--mode") {
        if (*v != "glocal" && *v != "local" && *v != "global") return "--mode is glocal, local or global, not " + *v;
        r.mode = *v;
      }
      if ((arg == "--open" || arg == "--extend") && (!finite_number(*v, arg == "--open" ? r.open : r.extend) ||
                                                     (arg == "--open" ? r.open : r.extend) < 0))
        return arg + " must be 0 or more, not " + *v;
      if (arg == "--seed") {
        if (!whole_number(*v, n)) return "--seed must be a whole number, not " + *v;
        r.config.seed = n;
      }
      if (arg == "--threads") {
        if (!whole_number(*v, n) || n < 1 || n > 1'000'000) return "--threads must be a whole number from 1, not " + *v;
        r.config.threads = static_cast<int>(n);
      }
    } else if (arg.rfind("--", 0) == 0 && arg != "--") {
      return "unknown option " + arg;
    } else {
      words.push_back(arg);
    }
  }
  if (words.size() < 2) return "press needs an output file and at least one profile file";
  r.output = words.front();
  r.files.assign(words.begin() + 1, words.end());
  return "";
}

// Every profile of the files; each needs a name of its own.
std::vector<Profile> load(const std::vector<std::string>& files) {
  std::vector<Profile> profiles;
  std::map<std::string, std::string> file_of;
  for (const std::string& path : files)
    for (Profile& p : load_profiles(path).library.profiles) {
      const auto [at, added] = file_of.emplace(p.name(), path);
      if (!added)
        throw InputError(path, 0, "a profile named " + p.name() + " is already pressed (from " + at->second +
                                      "); each profile needs a name of its own");
      profiles.push_back(std::move(p));
    }
  return profiles;
}

}  // namespace

int with_failures_told(const std::function<void()>& work) {
  try {
    work();
  } catch (const InputError& e) {
    std::fprintf(stderr, "tormid-prf: %s\n", e.what());
    return 1;
  } catch (const SearchError& e) {
    std::fprintf(stderr, "tormid-prf: %s\n", e.what());
    return 1;
  } catch (const OutputError& e) {
    std::fprintf(stderr, "tormid-prf: %s\n", e.what());
    return 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tormid-prf: out of memory\n");
    return 1;
  }
  return 0;
}

int press(int argc, const char* const* argv) {
  PressRequest r;
  if (const std::string problem = parse(argc, argv, r); !problem.empty()) {
    std::fprintf(stderr, "tormid-prf: %s\n", problem.c_str());
    return 1;
  }
  std::vector<NamedPath> inputs;
  for (const std::string& path : r.files) inputs.push_back({"the profile file", path});
  if (r.params) inputs.push_back({"the parameter file", *r.params});
  if (const std::optional<std::string> clash = same_file(inputs, {{"the output", r.output}})) {
    std::fprintf(stderr, "tormid-prf: %s\n", clash->c_str());
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const bool progress_shown = !r.quiet && ::isatty(STDERR_FILENO);
  return with_failures_told([&] {
    check_writable(r.output);
    const std::vector<Profile> profiles = load(r.files);
    r.config.alignment = r.params ? set_parameters(read_param_file(*r.params, LineReader::Compression::gzip))
                                  : mode_settings(r.mode == "local"    ? SearchMode::local
                                                  : r.mode == "global" ? SearchMode::global
                                                                       : SearchMode::glocal,
                                                  r.open, r.extend);
    check_searchable(profiles, r.config.alignment);
    const std::vector<StoredLaw> laws = calibrate_laws(profiles, r.config, [&](std::size_t done) {
      if (progress_shown) std::fprintf(stderr, "\rcalibrated %zu of %zu profiles\033[K", done, profiles.size());
    });
    if (progress_shown) std::fprintf(stderr, "\r\033[K");
    const std::string bytes = prepared_library(profiles, laws);
    OutputFile library(r.output);
    library.write(bytes);
    library.commit();
    if (!r.quiet) {
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::fprintf(stderr, "tormid-prf: %zu profile%s calibrated on %d thread%s in %.1f s, %s written (%.1f MB)\n",
                   profiles.size(), profiles.size() == 1 ? "" : "s", r.config.thread_count(),
                   r.config.thread_count() == 1 ? "" : "s", seconds, r.output.c_str(),
                   static_cast<double>(bytes.size()) / 1e6);
    }
  });
}

}  // namespace tormid::converter
