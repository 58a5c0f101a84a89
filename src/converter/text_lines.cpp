#include "converter/text_lines.h"

#include <cmath>
#include <cstdlib>

namespace converter {

NumberedLines::NumberedLines(const std::string& path) : path_(path), file_(path.c_str()) {
  if (!file_.is_open()) throw InputError(path, 0, "cannot open the file");
}

bool NumberedLines::next(std::string& line) {
  if (!file_.next(line)) return false;
  ++number_;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  std::size_t k = 0;
  while (k < line.size()) {
    while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) ++k;
    const std::size_t start = k;
    while (k < line.size() && line[k] != ' ' && line[k] != '\t') ++k;
    if (k > start) words.push_back(line.substr(start, k - start));
  }
  return words;
}

bool parse_number(const std::string& word, double& value) {
  if (word.empty()) return false;
  char* end = nullptr;
  value = std::strtod(word.c_str(), &end);
  return *end == '\0' && std::isfinite(value);
}

}  // namespace converter
