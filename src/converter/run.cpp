#include <cstdio>
#include <cstring>
#include <new>
#include <string>

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

}  // namespace

int run_tormid_prf(int argc, const char* const* argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  std::string text;
  try {
    if (command == "params" && argc == 3) {
      text = params_text(argv[2]);
      if (text.empty()) {
        report(std::string("unknown mode '") + argv[2] + "' (glocal, local or global)");
        return 1;
      }
    } else if (command == "hmm" && (argc == 3 || (argc == 5 && std::strcmp(argv[3], "--name") == 0))) {
      text = profile_text(read_hmm(argv[2], argc == 5 ? argv[4] : ""));
    } else if (command == "pssm" && argc == 3) {
      text = profile_text(read_pssm(argv[2]));
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
