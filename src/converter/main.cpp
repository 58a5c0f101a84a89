#include <csignal>

#include "converter/converter.h"
#include "output/output.h"

int main(int argc, char** argv) {
  // A standard output that is gone is an error to tell, not an end.
  std::signal(SIGPIPE, SIG_IGN);
  tormid::remove_temporaries_on_signals();
  return tormid::converter::run_tormid_prf(argc, argv);
}
