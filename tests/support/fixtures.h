// Helpers shared by the tests: scratch directories, input-file builders and
// a runner for the built binaries.
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TORMID_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TORMID_ASAN 1
#endif

namespace fixtures {

// Whether this build has AddressSanitizer, whose shadow memory no
// address-space limit (ulimit -v) leaves room for: tests of such limits
// skip there.
#ifdef TORMID_ASAN
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif

// A scratch directory, removed with everything in it when it goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes content to name inside the directory; returns the full path.
  std::string write(const std::string& name, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;
};

// prefix followed by n. (Built by appending: GCC 12 warns wrongly about
// some string concatenations, bug 105651.)
inline std::string numbered(const char* prefix, int n) {
  std::string text = prefix;
  text += std::to_string(n);
  return text;
}

// Quotes word for the shell.
std::string shell_quote(const std::string& word);
// Runs a shell command from inside dir, capturing both streams; the status
// is the command's exit status, or 128 + the signal that ended it.
RunResult run_shell(const std::string& command, const std::filesystem::path& dir);
// Runs program with args from inside dir, capturing both streams.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::filesystem::path& dir);
// The same for the built tormid binary.
RunResult run_tormid(const std::vector<std::string>& args, const std::filesystem::path& dir);
// tormid-prf and tormid-scan with these arguments, from inside dir.
RunResult run_prf(const std::vector<std::string>& args, const std::filesystem::path& dir);
RunResult run_scan(const std::vector<std::string>& args, const std::filesystem::path& dir);
// text cut at every separator (no empty last part for a final one).
std::vector<std::string> split(const std::string& text, char separator);

// Writes s.fa, p.prf and g.par into a fresh directory and runs tormid there,
// on those three files unless other arguments are given.
RunResult run_tormid_on(const std::string& fasta, const std::string& profile,
                        const std::string& params, const std::vector<std::string>& args = {});

// The contents of a file.
std::string read_file(const std::filesystem::path& path);

// Profile text with one position per letter of word: match at the word's
// letter, other everywhere else.
std::string word_profile(const std::string& word, double match = 5.0, double other = -1.0);
// Profile text from explicit rows of twenty scores.
std::string rows_profile(const std::vector<std::array<double, 20>>& rows);

// Parameter text with both opening penalties open, both deletion penalties
// extend, and the named switches (e.g. "PRF_FREE_BEG") set to YES.
std::string params(double open, double extend, const std::vector<std::string>& yes = {},
                   bool show = false);

}  // namespace fixtures
