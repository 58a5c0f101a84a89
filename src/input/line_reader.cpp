#include <sys/types.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include "input/input.h"

LineReader::LineReader(const char* path) : buffer_(nullptr, std::free) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return;
  file_.reset(std::fopen(path, "r"));
}

bool LineReader::next(std::string& line) {
  if (!file_) return false;
  char* raw = buffer_.release();
  errno = 0;
  const ssize_t n = ::getline(&raw, &capacity_, file_.get());
  buffer_.reset(raw);
  if (n < 0) {
    if (errno == ENOMEM || errno == EOVERFLOW) throw std::bad_alloc();
    return false;
  }
  line.assign(raw, strnlen(raw, static_cast<std::size_t>(n)));
  return true;
}
