#include "scan/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace tormid::scan {

namespace {

// Text is handed to the system in pieces of about this size.
constexpr std::size_t kBuffer = 1 << 20;

[[noreturn]] void cannot_write(const std::string& path, int error) {
  throw OutputError(path + ": cannot write (" + std::strerror(error) + ")");
}

// Writes all of text to fd; the error number of a failure, else 0.
int write_all(int fd, std::string_view text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    written += static_cast<std::size_t>(n);
  }
  return 0;
}

// The descriptor of standard output or standard error where the file is
// where it goes (/dev/stdout, /proc/self/fd/1, or the file it was
// redirected to), else -1: writing there through the stream's own
// descriptor continues after what it holds.
int standard_stream_of(const struct stat& file) {
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat stream {};
    if (::fstat(fd, &stream) == 0 && stream.st_dev == file.st_dev && stream.st_ino == file.st_ino) return fd;
  }
  return -1;
}

// The mode of a new file: what the process's umask leaves of 0666.
mode_t new_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void check_writable(const std::string& path) {
  struct stat file {};
  if (::stat(path.c_str(), &file) == 0) {
    if (S_ISDIR(file.st_mode)) cannot_write(path, EISDIR);
    return;
  }
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) cannot_write(path, errno);
  if (!S_ISDIR(info.st_mode)) cannot_write(path, ENOTDIR);
}

OutputFile::OutputFile(const std::string& path) : path_(path) {
  struct stat file {};
  if (::stat(path.c_str(), &file) != 0) {
    struct stat link {};
    // A link to a file yet to be made: make it where the link points.
    if (::lstat(path.c_str(), &link) == 0) open_in_place(true);
    else open_temporary(path, new_file_mode());
    return;
  }
  if ((fd_ = standard_stream_of(file)) >= 0) return;
  // Devices, pipes and files with other names (hard links) are written
  // where they are.
  if (!S_ISREG(file.st_mode) || file.st_nlink > 1) {
    open_in_place(S_ISREG(file.st_mode));
    return;
  }
  // A regular file, perhaps behind symbolic links: the file itself is
  // replaced, keeping its mode.
  const std::unique_ptr<char, decltype(&std::free)> target(::realpath(path.c_str(), nullptr), &std::free);
  if (!target) cannot_write(path, errno);
  open_temporary(target.get(), file.st_mode & 07777);
}

void OutputFile::open_in_place(bool regular) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_CREAT | (regular ? O_TRUNC : 0), 0666);
  if (fd_ < 0) cannot_write(path_, errno);
  owned_ = true;
  sync_ = regular;
}

void OutputFile::open_temporary(const std::string& target, mode_t mode) {
  target_ = target;
  temporary_ = target + ".XXXXXX";
  fd_ = ::mkstemp(temporary_.data());
  if (fd_ < 0) cannot_write(path_, errno);
  owned_ = true;
  sync_ = true;
  // mkstemp makes the file private; give it the mode it is to have.
  if (::fchmod(fd_, mode) != 0) fail(errno);
}

void OutputFile::fail(int error) {
  discard();
  cannot_write(path_, error);
}

void OutputFile::write(std::string_view text) {
  if (text.size() >= kBuffer) {  // a long piece goes as it is
    flush();
    if (const int error = write_all(fd_, text)) fail(error);
    return;
  }
  buffer_.append(text);
  if (buffer_.size() >= kBuffer) flush();
}

void OutputFile::flush() {
  if (const int error = write_all(fd_, buffer_)) fail(error);
  buffer_.clear();
}

void OutputFile::commit() {
  flush();
  int error = 0;
  if (sync_ && ::fsync(fd_) != 0) error = errno;
  if (owned_ && ::close(fd_) != 0 && !error) error = errno;
  owned_ = false;
  if (!error && !temporary_.empty() && std::rename(temporary_.c_str(), target_.c_str()) != 0) error = errno;
  if (error) fail(error);
  temporary_.clear();
}

void OutputFile::discard() {
  if (owned_) ::close(fd_);
  owned_ = false;
  if (!temporary_.empty()) std::remove(temporary_.c_str());
  temporary_.clear();
}

OutputFile::~OutputFile() { discard(); }

}  // namespace tormid::scan
