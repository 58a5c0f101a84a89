// Shared pieces of the fuzz harnesses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Writes data to a scratch file of this process named after tag; returns
// its path.
std::string write_scratch(const std::string& tag, const void* data, std::size_t size);

// Stops the process with a message when an invariant does not hold.
[[noreturn]] void fail(const char* what, const std::string& detail = "");
inline void check(bool ok, const char* what, const std::string& detail = "") {
  if (!ok) fail(what, detail);
}

// Sends standard output to memory from now on; take_stdout returns what was
// written since the last call and empties it.
void capture_stdout();
std::string take_stdout();

}  // namespace fuzz
