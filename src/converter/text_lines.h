// Numbered lines and words of an input file, for the readers' messages.
#pragma once

#include <string>
#include <vector>

#include "converter/converter.h"
#include "input/input.h"

namespace converter {

class NumberedLines {
 public:
  explicit NumberedLines(const std::string& path);
  // The next line without its line end; false at the end of the file.
  bool next(std::string& line);
  int number() const { return number_; }
  const std::string& path() const { return path_; }
  [[noreturn]] void fail(const std::string& what) const { throw InputError(path_, number_, what); }

 private:
  std::string path_;
  LineReader file_;
  int number_ = 0;
};

std::vector<std::string> split_words(const std::string& line);

// The whole of word as a finite number.
bool parse_number(const std::string& word, double& value);

}  // namespace converter
