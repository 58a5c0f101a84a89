// The words for a failure no part of a program expected.
#include <system_error>

#include "output/output.h"

namespace tormid {

std::string unexpected_failure(const std::exception& e) {
  const std::string what = e.what();
  // oneTBB reports a worker it could not start so; std::thread with a
  // system_error.
  if (what.find("pthread_create") != std::string::npos || dynamic_cast<const std::system_error*>(&e))
    return "out of resources (" + what + "); fewer --threads may do";
  return what;
}

}  // namespace tormid
