#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include "distributed/distributed.h"
#include "output/output.h"
#include "scan/scan.h"

int main(int argc, char** argv) {
  // A standard output that is gone is an error to tell, not an end.
  std::signal(SIGPIPE, SIG_IGN);
  tormid::remove_temporaries_on_signals();
  const tormid::distributed::Session session(argc, argv);
  try {
    return tormid::scan::run_tormid_scan(argc, argv);
  } catch (const std::exception& e) {
    // What the run did not expect: the system refusing a thread (a memory
    // limit with threads) and the like, told plainly.
    std::fprintf(stderr, "tormid-scan: %s\n", tormid::unexpected_failure(e).c_str());
    return 1;
  }
}
