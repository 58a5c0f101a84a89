#include "output/output.h"

// Output files: written in place or through a temporary, removed on the
// signals that end a program.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace tormid {

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

// The folder of a path, with its slash ("./" for none).
std::string folder_of(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

// The temporary files not yet committed, for the signal handler: the only
// process-wide state here, as a handler sees nothing else. A slot holds a
// path owned by its OutputFile until that file is committed or discarded;
// an output beyond the slots goes unprotected.
constexpr std::size_t kSlots = 16;
std::array<std::atomic<const char*>, kSlots> temporaries{};
static_assert(std::atomic<const char*>::is_always_lock_free, "the handler may only touch lock-free atomics");

int register_temporary(const char* path) {
  for (std::size_t k = 0; k < kSlots; ++k) {
    const char* none = nullptr;
    if (temporaries[k].compare_exchange_strong(none, path)) return static_cast<int>(k);
  }
  return -1;
}

void unregister_temporary(int slot) {
  if (slot >= 0) temporaries[static_cast<std::size_t>(slot)].store(nullptr);
}

extern "C" void remove_temporaries_and_stop(int signal_number) {
  for (std::atomic<const char*>& slot : temporaries)
    if (const char* path = slot.exchange(nullptr)) ::unlink(path);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

}  // namespace

void remove_temporaries_on_signals() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction now {}, before {};
    now.sa_handler = remove_temporaries_and_stop;
    ::sigemptyset(&now.sa_mask);
    ::sigaction(signal_number, nullptr, &before);
    // A signal the program was started to ignore (nohup) stays ignored.
    if (before.sa_handler != SIG_IGN) ::sigaction(signal_number, &now, nullptr);
  }
}

void check_writable(const std::string& path) {
  if (path == "-") return;
  struct stat file {};
  if (::stat(path.c_str(), &file) == 0) {
    if (S_ISDIR(file.st_mode)) cannot_write(path, EISDIR);
    // A regular file is replaced through its folder; devices and pipes are
    // written in place.
    if (S_ISREG(file.st_mode) && ::access(path.c_str(), W_OK) != 0) cannot_write(path, errno);
    return;
  }
  const std::string folder = folder_of(path);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) cannot_write(path, errno);
  if (!S_ISDIR(info.st_mode)) cannot_write(path, ENOTDIR);
  // Also a read-only file system, which even root may not write.
  if (::access(folder.c_str(), W_OK | X_OK) != 0) cannot_write(path, errno);
}

OutputFile::OutputFile(const std::string& path) : path_(path) {
  if (path == "-") {
    fd_ = STDOUT_FILENO;
    return;
  }
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
  // Hidden and named partial: nothing takes it for the file it becomes.
  const std::size_t slash = target.find_last_of('/');
  const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
  temporary_ = target.substr(0, name) + "." + target.substr(name) + ".partial.XXXXXX";
  fd_ = ::mkstemp(temporary_.data());
  if (fd_ < 0) cannot_write(path_, errno);
  slot_ = register_temporary(temporary_.c_str());
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
  unregister_temporary(std::exchange(slot_, -1));
  temporary_.clear();
}

void OutputFile::discard() {
  if (owned_) ::close(fd_);
  owned_ = false;
  if (!temporary_.empty()) std::remove(temporary_.c_str());
  unregister_temporary(std::exchange(slot_, -1));
  temporary_.clear();
}

OutputFile::~OutputFile() { discard(); }

}  // namespace tormid
