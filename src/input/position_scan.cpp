// Profile position lines, read as sscanf reads them but without its cost
// for the common case: plain decimal numbers between white space. Anything
// else (a '+', hexadecimal, "inf", a number glued to the next, a number out
// of range) is left to sscanf itself, so the accepted texts and the values
// read are the same.
#include <charconv>
#include <cstdio>

#include "input/text_lines.h"

namespace tormid {

namespace {

bool space(char c) { return is_c_space(static_cast<unsigned char>(c)); }
bool digit(char c) { return c >= '0' && c <= '9'; }

// The end of a plain decimal number at p (optional '-', digits with an
// optional fraction, an optional complete exponent) that white space or the
// end of the line follows, with its value; null for anything else.
const char* plain_number(const char* p, double& value) {
  const char* q = p;
  if (*q == '-') ++q;
  bool digits = false;
  for (; digit(*q); ++q) digits = true;
  if (*q == '.')
    for (++q; digit(*q); ++q) digits = true;
  if (!digits) return nullptr;
  if (*q == 'e' || *q == 'E') {
    ++q;
    if (*q == '+' || *q == '-') ++q;
    if (!digit(*q)) return nullptr;
    while (digit(*q)) ++q;
  }
  if (*q != '\0' && !space(*q)) return nullptr;
  const auto [end, error] = std::from_chars(p, q, value);
  if (error != std::errc() || end != q) return nullptr;
  return q;
}

void scan_slowly(const char* line, ProfileRow& s) {
  std::sscanf(line, "%*s%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf%lf", &s[0], &s[1], &s[2], &s[3],
              &s[4], &s[5], &s[6], &s[7], &s[8], &s[9], &s[10], &s[11], &s[12], &s[13], &s[14], &s[15], &s[16],
              &s[17], &s[18], &s[19]);
}

}  // namespace

void scan_position(const char* line, ProfileRow& scores) {
  const char* p = line;
  while (space(*p)) ++p;
  if (*p == '\0') return;  // no first word: nothing is read
  while (*p != '\0' && !space(*p)) ++p;
  ProfileRow read = scores;
  for (std::size_t k = 0; k < read.size(); ++k) {
    while (space(*p)) ++p;
    if (*p == '\0') break;  // the line ends: the rest stay as they were
    const char* next = plain_number(p, read[k]);
    if (!next) {
      scan_slowly(line, scores);
      return;
    }
    p = next;
  }
  scores = read;
}

}  // namespace tormid
