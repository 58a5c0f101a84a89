// Numbered lines and words of an input file, for the converters' messages.
// Private to the input subsystem.
#pragma once

#include <string>
#include <vector>

#include "input/input.h"

namespace tormid {

class NumberedLines {
 public:
  // Opens path (gzip-compressed or not); throws InputError when it cannot.
  // Errors name the line being read.
  explicit NumberedLines(const std::string& path);
  // Reads a file already open, named path.
  NumberedLines(LineReader file, std::string path) : path_(std::move(path)), file_(std::move(file)) {}
  // The next line without its line end; false at the end of the file.
  // Throws InputError when the read fails.
  bool next(std::string& line);
  int number() const { return number_; }
  const std::string& path() const { return path_; }
  [[noreturn]] void fail(const std::string& what) const { throw InputError(path_, number_, what); }

 private:
  std::string path_;
  LineReader file_;
  int number_ = 0;
};

// The words of a line, split at blanks and tabs.
std::vector<std::string> split_words(const std::string& line);

// The line after its word k (0-based) as split_words() splits them,
// blanks around it dropped: a free-text field that ends a line.
std::string rest_after_word(const std::string& line, std::size_t k);

// The whole of word as a finite number.
bool parse_number(const std::string& word, double& value);

// The scores of a profile position line exactly as
// sscanf(line, "%*s%lf%lf...") with twenty %lf reads them: the first word
// skipped, then up to twenty numbers, stopping at the first that does not
// read (the rest stay as they were). Plain decimal numbers separated by
// white space take a fast path; anything else goes through sscanf itself.
void scan_position(const char* line, ProfileRow& scores);

// 0.0 for -0.0, else the value: converted scores are written as "0".
inline double without_negative_zero(double value) { return value == 0.0 ? 0.0 : value; }

// A name as one word of a profile header: every byte that tormid's reader
// takes for white space becomes "_".
std::string profile_word(std::string name);

// A profile's name from its file's: without directories and extensions
// ("zf" for "dir/zf.prf.gz").
std::string name_from_path(const std::string& path);

// The readers of each format on a file already open (pipes are read once).
Profile read_prf(LineReader& file, const std::string& path);
// Every profile of a tormid profile file: one, or several one after another.
std::vector<Profile> read_prf_profiles(LineReader& file, const std::string& path);
std::vector<ConvertedProfile> read_hmm_models(NumberedLines& in);
ConvertedProfile read_pssm(NumberedLines& in);
// The families of a Stockholm or FASTA file whose first line the reader
// has seen (and put back).
std::vector<SequenceAlignment> read_alignments(NumberedLines& in, bool stockholm);
// A prepared library whose first line the reader has seen (and put back).
ProfileLibrary read_prepared_library(LineReader& file, const std::string& path, int threads);

}  // namespace tormid
