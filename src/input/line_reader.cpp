// LineReader over a file descriptor, or over zlib for files that may be
// gzip-compressed (zlib passes other files through unchanged).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "input/input.h"

namespace tormid {

namespace {

constexpr std::size_t kBufferSize = 1 << 16;

std::string system_error(int error) { return std::strerror(error); }

// Opens path for reading; a directory counts as a failure (EISDIR).
int open_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw InputError::cannot_open(path, system_error(errno));
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    throw InputError::cannot_open(path, system_error(EISDIR));
  }
  return fd;
}

class FdSource : public ByteSource {
 public:
  FdSource(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~FdSource() override {
    if (owned_) ::close(fd_);
  }
  std::size_t read(char* buffer, std::size_t n) override {
    for (;;) {
      const ssize_t got = ::read(fd_, buffer, n);
      if (got >= 0) {
        position_ += static_cast<std::uint64_t>(got);
        return static_cast<std::size_t>(got);
      }
      if (errno != EINTR) throw std::runtime_error(system_error(errno));
    }
  }
  std::uint64_t position() const override { return position_; }
  bool seek(std::uint64_t offset) {
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return false;
    position_ = offset;
    return true;
  }

 private:
  int fd_;
  bool owned_;
  std::uint64_t position_ = 0;
};

class GzSource : public ByteSource {
 public:
  // Takes the descriptor; zlib closes it.
  explicit GzSource(int fd) : file_(::gzdopen(fd, "rb")) {
    if (!file_) {
      ::close(fd);
      throw std::bad_alloc();
    }
    ::gzbuffer(file_, kBufferSize);
  }
  ~GzSource() override { ::gzclose(file_); }
  std::size_t read(char* buffer, std::size_t n) override {
    errno = 0;
    const int got = ::gzread(file_, buffer, static_cast<unsigned>(n));
    if (got > 0) return static_cast<std::size_t>(got);
    // zlib reports a compressed stream cut short as an end with an error.
    int code = Z_OK;
    ::gzerror(file_, &code);
    if (got == 0 && code == Z_OK) return 0;
    if (code == Z_ERRNO) throw std::runtime_error(system_error(errno ? errno : EIO));
    if (code == Z_BUF_ERROR) throw std::runtime_error("the compressed data ends too early");
    throw std::runtime_error("the compressed data is damaged");
  }
  std::uint64_t position() const override {
    const z_off_t at = ::gzoffset(file_);
    return at < 0 ? 0 : static_cast<std::uint64_t>(at);
  }

 private:
  gzFile file_;
};

}  // namespace

LineReader::LineReader(const std::string& path, Compression compression) : path_(path) {
  const int fd = open_file(path);
  if (compression == Compression::gzip) source_ = std::make_unique<GzSource>(fd);
  else source_ = std::make_unique<FdSource>(fd, true);
}

LineReader LineReader::standard_input(Compression compression, std::string name) {
  if (compression == Compression::gzip) {
    const int fd = ::dup(STDIN_FILENO);
    if (fd >= 0) return LineReader(std::make_unique<GzSource>(fd), std::move(name));
  }
  return LineReader(std::make_unique<FdSource>(STDIN_FILENO, false), std::move(name));
}

LineReader LineReader::at_offset(const std::string& path, std::uint64_t offset) {
  LineReader reader(path);
  if (offset == 0) return reader;
  auto* source = static_cast<FdSource*>(reader.source_.get());
  if (!source->seek(offset)) throw InputError::cannot_open(path, system_error(errno));
  reader.consumed_ = offset;
  return reader;
}

LineReader::LineReader(std::unique_ptr<ByteSource> source, std::string path)
    : path_(std::move(path)), source_(std::move(source)) {}

LineReader::~LineReader() = default;
LineReader::LineReader(LineReader&&) noexcept = default;

bool LineReader::fill() {
  if (buffer_.empty()) buffer_.resize(kBufferSize);
  std::size_t got = 0;
  try {
    got = source_->read(buffer_.data(), buffer_.size());
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::runtime_error& e) {
    throw InputError::cannot_read(path_, e.what());
  }
  begin_ = 0;
  end_ = got;
  return got > 0;
}

void LineReader::unread(const std::string& text) {
  std::vector<char> joined(text.begin(), text.end());
  joined.insert(joined.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(begin_),
                buffer_.begin() + static_cast<std::ptrdiff_t>(end_));
  joined.resize(std::max(joined.size(), kBufferSize));
  end_ = text.size() + (end_ - begin_);
  begin_ = 0;
  buffer_ = std::move(joined);
  consumed_ -= text.size();
}

LineReader::Part LineReader::next_part(std::string& part, std::size_t limit) {
  part.clear();
  if (!in_line_) {
    line_offset_ = consumed_;
    line_ended_ = false;
  }
  bool any = in_line_;
  std::size_t taken = 0;
  for (;;) {
    if (begin_ == end_ && !fill()) {
      in_line_ = false;
      return any ? Part::last : Part::none;
    }
    any = true;
    const char* start = buffer_.data() + begin_;
    const std::size_t available = std::min(end_ - begin_, limit - taken);
    const void* newline = std::memchr(start, '\n', available);
    const std::size_t take =
        newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - start) + 1 : available;
    if (!line_ended_) {
      const void* nul = std::memchr(start, '\0', take);
      part.append(start, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - start) : take);
      line_ended_ = nul != nullptr;
    }
    begin_ += take;
    consumed_ += take;
    taken += take;
    if (newline) {
      in_line_ = false;
      return Part::last;
    }
    if (taken == limit) {
      in_line_ = true;
      return Part::more;
    }
  }
}

void LineReader::read_rest(std::string& out) {
  for (;;) {
    out.append(buffer_.data() + begin_, end_ - begin_);
    consumed_ += end_ - begin_;
    begin_ = end_;
    if (!fill()) return;
  }
}

bool LineReader::next(std::string& line) {
  line.clear();
  std::string part;
  for (;;) {
    const Part got = next_part(part, SIZE_MAX);
    if (got == Part::none) return false;
    line += part;
    if (got == Part::last) return true;
  }
}

}  // namespace tormid
