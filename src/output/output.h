// Writing the programs' files: tormid-scan's tables and tormid-prf's
// prepared libraries alike. Private to the programs.
//
// A path of "-" is standard output. A regular file (or a new one) gets all
// of its text or nothing: it is written to a hidden temporary file beside
// it, ".NAME.partial.XXXXXX", renamed onto it at the end (onto the file a
// symbolic link points to, keeping that file's mode), and removed if the
// program stops first, on an error or on SIGINT, SIGTERM or SIGHUP. Anything
// else (a device, a pipe, /dev/stdout, a file with hard links) is opened
// and written in place.
#pragma once

#include <sys/types.h>

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tormid {

// A file that could not be written; the message names it and the reason,
// "PATH: cannot write (REASON)".
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws OutputError where path could not be written (its folder is
// missing, not writable or on a read-only file system; it is a folder, or
// a file this process may not write), so that a program does not run
// only to fail then.
void check_writable(const std::string& path);

// A file a program reads or writes, as its messages call it ("the
// sequence file", "--tsv").
struct NamedPath {
  std::string role;
  std::string path;
};

// Where an output would overwrite an input or another output: the first
// output that is the same regular file (device and inode, through links;
// or the same path, for files yet to be made) as an input or an earlier
// output, as a message naming both; nothing where none is. Devices and
// pipes (/dev/null, a terminal) may take several outputs; "-" is standard
// output, and standard input is no file here.
std::optional<std::string> same_file(const std::vector<NamedPath>& inputs, const std::vector<NamedPath>& outputs);

// Removes the temporary files of the outputs not yet committed when
// SIGINT, SIGTERM or SIGHUP ends the program, then ends it as the signal
// would. Once per program, before any output is opened.
void remove_temporaries_on_signals();

// A failure a program did not expect, in words: a thread the system would
// not start (under a memory limit) as "out of resources (...); fewer
// --threads may do", anything else as it says.
std::string unexpected_failure(const std::exception& e);

// A file written a piece at a time and committed at the end (see above).
// Errors throw OutputError; a file not committed is left as it was.
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
  int slot_ = -1;          // where the temporary is registered for signals
  int fd_ = -1;
  bool owned_ = false;  // fd_ is ours to close (not a standard stream)
  bool sync_ = false;   // a regular file: flushed to disk before it counts
  std::string buffer_;
};

}  // namespace tormid
