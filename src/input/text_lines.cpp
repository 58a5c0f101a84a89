#include "input/text_lines.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace tormid {

namespace {

// The converters' own words for a file that does not open or read.
LineReader open_numbered(const std::string& path) {
  try {
    return LineReader(path, LineReader::Compression::gzip);
  } catch (const InputError& e) {
    throw InputError(path, 0, "cannot open the file (" + e.cause() + ")", InputError::Kind::open);
  }
}

}  // namespace

NumberedLines::NumberedLines(const std::string& path) : path_(path), file_(open_numbered(path)) {}

bool NumberedLines::next(std::string& line) {
  try {
    if (!file_.next(line)) return false;
  } catch (const InputError& e) {
    throw InputError(path_, 0, "cannot read the file (" + e.cause() + ")", InputError::Kind::read);
  }
  ++number_;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

std::string rest_after_word(const std::string& line, std::size_t k) {
  std::size_t at = 0;
  // Words as split_words() splits them.
  auto skip = [&](bool space) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t') == space) ++at;
  };
  for (std::size_t word = 0; word <= k; ++word) {
    skip(true);
    skip(false);
  }
  skip(true);
  std::size_t end = line.size();
  while (end > at && is_c_space(static_cast<unsigned char>(line[end - 1]))) --end;
  return line.substr(at, end - at);
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

std::string name_from_path(const std::string& path) {
  std::filesystem::path name = std::filesystem::path(path).filename();
  if (name.extension() == ".gz") name = name.stem();
  if (!name.stem().empty()) name = name.stem();
  return name.empty() ? path : name.string();
}

std::string profile_word(std::string name) {
  for (char& c : name)
    if (is_c_space(static_cast<unsigned char>(c))) c = '_';
  return name;
}

}  // namespace tormid
