#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "converter/converter.h"

namespace tormid::converter {

namespace {

void report_usage() {
  std::fprintf(stderr,
               "usage: tormid-prf hmm MODEL.hmm [--name NAME]   profile HMM (HMMER3) to profile\n"
               "       tormid-prf pssm MATRIX.pssm              PSI-BLAST ASCII PSSM to profile\n"
               "       tormid-prf params glocal|local|global    a parameter file for that mode\n");
}

void report(const std::string& what) { std::fprintf(stderr, "tormid-prf: %s\n", what.c_str()); }

// The words after the command: --name NAME (or --name=NAME) wherever it
// stands, and the rest in order. False for an unknown option or a --name
// without its value.
bool split_arguments(int argc, const char* const* argv, std::vector<std::string>& words,
                     std::optional<std::string>& name) {
  for (int k = 2; k < argc; ++k) {
    const std::string arg = argv[k];
    if (arg == "--name") {
      if (k + 1 == argc) return false;
      name = argv[++k];
    } else if (arg.rfind("--name=", 0) == 0) {
      name = arg.substr(7);
    } else if (arg.rfind("--", 0) == 0) {
      return false;
    } else {
      words.push_back(arg);
    }
  }
  return true;
}

}  // namespace

int run_tormid_prf(int argc, const char* const* argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  std::vector<std::string> words;
  std::optional<std::string> name;
  const bool understood = split_arguments(argc, argv, words, name) && words.size() == 1 &&
                          (command == "hmm" || !name);
  std::string text;
  try {
    if (understood && command == "params") {
      text = params_text(words[0]);
      if (text.empty()) {
        report("unknown mode '" + words[0] + "' (glocal, local or global)");
        return 1;
      }
    } else if (understood && command == "hmm") {
      text = profile_text(read_hmm(words[0], name.value_or("")));
    } else if (understood && command == "pssm") {
      text = profile_text(read_pssm(words[0]));
    } else {
      report_usage();
      return 1;
    }
  } catch (const InputError& e) {
    report(e.what());
    return 1;
  } catch (const std::bad_alloc&) {
    report("out of memory");
    return 1;
  }
  // Nothing reaches standard output unless the whole profile is ready.
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    report("cannot write the output");
    return 1;
  }
  return 0;
}

}  // namespace tormid::converter
