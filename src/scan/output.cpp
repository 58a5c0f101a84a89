#include "scan/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tormid::scan {

void write_file_atomically(const std::string& path, const std::string& text) {
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) throw OutputError(path + ": cannot write (" + std::strerror(errno) + ")");
  std::size_t written = 0;
  int error = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  // mkstemp makes the file private; give it the permissions any file the
  // user writes gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (!error && ::fchmod(fd, 0666 & ~mask) != 0) error = errno;
  if (!error && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  if (!error && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error) {
    std::remove(temporary.c_str());
    throw OutputError(path + ": cannot write (" + std::strerror(error) + ")");
  }
}

}  // namespace tormid::scan
