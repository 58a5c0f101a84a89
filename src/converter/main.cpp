#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include "converter/converter.h"
#include "output/output.h"

int main(int argc, char** argv) {
  // A standard output that is gone is an error to tell, not an end.
  std::signal(SIGPIPE, SIG_IGN);
  tormid::remove_temporaries_on_signals();
  try {
    return tormid::converter::run_tormid_prf(argc, argv);
  } catch (const std::exception& e) {
    // What the run did not expect: the system refusing a thread (a memory
    // limit with threads) and the like, told plainly.
    std::fprintf(stderr, "tormid-prf: %s\n", tormid::unexpected_failure(e).c_str());
    return 1;
  }
}
