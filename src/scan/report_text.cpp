// Text of the reports: numbers, names and columns as they are shown.
#include "scan/report_text.h"

#include <cmath>
#include <cstdio>

namespace tormid::scan {

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string score_text(double score) { return format("%.3f", score); }

// "-" where there is no value (global mode).
std::string evalue_text(double evalue) { return std::isnan(evalue) ? "-" : format("%.2g", evalue); }
std::string bits_text(double bits) { return std::isnan(bits) ? "-" : format("%.1f", bits); }

// 1234567 as "1,234,567".
std::string grouped(std::uint64_t n) {
  std::string digits = std::to_string(n), text;
  for (std::size_t k = 0; k < digits.size(); ++k) {
    if (k > 0 && (digits.size() - k) % 3 == 0) text += ',';
    text += digits[k];
  }
  return text;
}

std::string padded_left(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string padded_right(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// text cut to width, ".." marking the cut.
std::string cut(const std::string& text, std::size_t width) {
  if (text.size() <= width) return text;
  if (width <= 2) return text.substr(0, width);
  return text.substr(0, width - 2) + "..";
}

std::string mode_name(const Settings& s) {
  if (s.start == StartMode::prf_free && s.end == EndMode::prf_free) return "glocal";
  if (s.start == StartMode::local && s.end == EndMode::local) return "local";
  if (s.start == StartMode::global && s.end == EndMode::global) return "global";
  const char* names[] = {"global", "profile-free", "sequence-free", "local"};
  return std::string("start ") + names[static_cast<int>(s.start)] + ", end " +
         names[static_cast<int>(s.end)];
}

std::string number(double v) { return format("%g", v); }

std::string gap_costs(const Settings& s) {
  if (s.gap_open_penalty_prf == s.gap_open_penalty_seq && s.deletion_penalty_prf == s.deletion_penalty_seq)
    return "gap opening " + number(s.gap_open_penalty_prf) + ", deletion " + number(s.deletion_penalty_prf);
  return "gap opening " + number(s.gap_open_penalty_prf) + " / " + number(s.gap_open_penalty_seq) +
         ", deletion " + number(s.deletion_penalty_prf) + " / " + number(s.deletion_penalty_seq) +
         " (profile / sequence gaps)";
}

std::string range(int from, int to) { return std::to_string(from) + "-" + std::to_string(to); }

// Text from the files as the report shows it: control bytes (tab, line
// ends, escape ...) as \xHH, so that they cannot break the layout or reach
// the terminal; at most `limit` bytes of it, ".." marking the cut.
std::string shown(const std::string& text, std::size_t limit) {
  std::string out;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (out.size() >= limit) return cut(out, limit);
    const auto c = static_cast<unsigned char>(text[k]);
    if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return cut(out, limit);
}

bool is_control(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

namespace {

void append_escaped(std::string& out, unsigned char c) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
  out += escaped;
}

// The length of the UTF-8 sequence that starts at text[at], or 0 where the
// bytes there are not one (a stray continuation byte, an overlong or cut
// sequence, a surrogate, beyond U+10FFFF).
std::size_t utf8_length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t n = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (n == 0 || at + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((byte(k) & 0xC0) != 0x80) return 0;
  if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) >= 0xA0) || (lead == 0xF0 && byte(1) < 0x90) ||
      (lead == 0xF4 && byte(1) >= 0x90))
    return 0;
  return n;
}

// Text with its control bytes as `control` says and bytes that are not
// UTF-8 as \xHH, so that a table reads as text everywhere (Python reads
// HMMER's tables as UTF-8).
template <class Control>
std::string as_text(std::string_view text, const Control& control) {
  std::string out;
  for (std::size_t k = 0; k < text.size();) {
    const std::size_t n = utf8_length(text, k);
    if (n == 0) {
      append_escaped(out, static_cast<unsigned char>(text[k]));
      ++k;
      continue;
    }
    if (n == 1 && is_control(text[k])) control(out, static_cast<unsigned char>(text[k]));
    else out.append(text, k, n);
    k += n;
  }
  return out;
}

}  // namespace

// A table field: control bytes (tab, line ends ...) become blanks, so that
// every row has its columns.
std::string table_field(std::string text) {
  return as_text(text, [](std::string& out, unsigned char) { out += ' '; });
}

std::string table_name(const std::string& name) {
  if (name.empty()) return "(unnamed)";
  std::string out = as_text(name, [](std::string& out, unsigned char c) { append_escaped(out, c); });
  for (char& c : out)
    if (c == ' ') c = '_';
  if (out[0] == '#') out.replace(0, 1, "\\x23");
  return out;
}

std::string first_table_field(const std::string& text) {
  std::string out = table_field(text);
  if (!out.empty() && out[0] == '#') out.replace(0, 1, "\\x23");
  return out;
}

std::string sequence_name(const Hit& h) { return h.name().empty() ? "(unnamed)" : shown(h.name()); }

}  // namespace tormid::scan
