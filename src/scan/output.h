// Writing tormid-scan's files. Private to tormid-scan.
#pragma once

#include <stdexcept>
#include <sys/types.h>

#include <string>
#include <string_view>

namespace tormid::scan {

// A file that could not be written; the message names it and the reason.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws OutputError where path cannot be written (its folder is missing,
// or it is a folder), so that a search does not run only to fail then.
void check_writable(const std::string& path);

// A file written a piece at a time and committed at the end. A regular
// file (or a new one) gets all of it or nothing: a temporary file beside
// it is renamed onto it (onto the file a symbolic link points to, keeping
// its mode). Anything else (a device, a pipe, /dev/stdout, a file with
// hard links) is opened and written in place. Errors throw OutputError,
// "PATH: cannot write (REASON)"; a file not committed is left as it was.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(std::string_view text);
  void commit();

 private:
  void open_in_place(bool regular);
  void open_temporary(const std::string& target, mode_t mode);
  void flush();
  void discard();
  [[noreturn]] void fail(int error);

  std::string path_;       // as given, for messages
  std::string target_;     // what the temporary file replaces
  std::string temporary_;  // empty when writing in place
  int fd_ = -1;
  bool owned_ = false;  // fd_ is ours to close (not a standard stream)
  bool sync_ = false;   // a regular file: flushed to disk before it counts
  std::string buffer_;
};

}  // namespace tormid::scan
