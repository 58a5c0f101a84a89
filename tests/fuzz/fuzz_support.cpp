#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

std::string write_scratch(const std::string& tag, const void* data, std::size_t size) {
  const std::string path = "/tmp/tormid-fuzz-" + std::to_string(::getpid()) + "-" + tag;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) fail("cannot write scratch file", path);
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  return path;
}

void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "\ninvariant violated: %s\n%s\n", what, detail.c_str());
  std::abort();
}

namespace {
int captured_fd = -1;
}

void capture_stdout() {
  if (captured_fd >= 0) return;
  std::fflush(stdout);
  captured_fd = ::memfd_create("tormid-stdout", 0);
  if (captured_fd < 0 || ::dup2(captured_fd, STDOUT_FILENO) < 0) fail("cannot capture stdout");
}

std::string take_stdout() {
  std::fflush(stdout);
  const off_t size = ::lseek(captured_fd, 0, SEEK_END);
  std::string text(static_cast<std::size_t>(size), '\0');
  if (size > 0 && ::pread(captured_fd, text.data(), text.size(), 0) != size)
    fail("cannot read captured stdout");
  if (::ftruncate(captured_fd, 0) != 0 || ::lseek(STDOUT_FILENO, 0, SEEK_SET) != 0)
    fail("cannot reset captured stdout");
  return text;
}

}  // namespace fuzz
