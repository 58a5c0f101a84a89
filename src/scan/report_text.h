// How the reports show numbers, names and columns. Private to tormid-scan.
#pragma once

#include <cstdint>
#include <string>

#include "search/search.h"

namespace tormid::scan {

inline constexpr std::size_t kLineWidth = 100;

std::string format(const char* pattern, double value);
std::string number(double v);  // "%g"
std::string score_text(double score);
// "-" where there is no value (global mode).
std::string evalue_text(double evalue);
std::string bits_text(double bits);
// 1234567 as "1,234,567".
std::string grouped(std::uint64_t n);
std::string padded_left(const std::string& text, std::size_t width);
std::string padded_right(const std::string& text, std::size_t width);
// text cut to width, ".." marking the cut.
std::string cut(const std::string& text, std::size_t width);
std::string range(int from, int to);
std::string mode_name(const Settings& s);
std::string gap_costs(const Settings& s);

// Text from the files as the report shows it: control bytes (tab, line
// ends, escape ...) as \xHH, so that they cannot break the layout or reach
// the terminal; at most `limit` bytes of it, ".." marking the cut.
std::string shown(const std::string& text, std::size_t limit = 1000);
bool is_control(char c);
// A table field: control bytes (tab, line ends ...) become blanks, so that
// every row has its columns, and bytes that are not UTF-8 \xHH, so that
// the table reads as text.
std::string table_field(std::string text);
// The same for the first field of a row: a leading "#", which would make
// the row a comment, as \x23.
std::string first_table_field(const std::string& text);
// A name as a field of HMMER's space-separated tables, one word that no
// reader mistakes: blanks become "_", control bytes, bytes that are not
// UTF-8 and a leading "#" \xHH, as the report shows them; an empty name
// "(unnamed)", as in the report.
std::string table_name(const std::string& name);
std::string sequence_name(const Hit& h);

}  // namespace tormid::scan
