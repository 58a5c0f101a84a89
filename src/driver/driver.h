// Run driver: command line, FASTA reading and the run sequence.
#pragma once

#include <string>

#include "input/input.h"

// Appends c to str.
void cat_char(std::string& str, char c);

// Appends every ASCII letter of line to seq, in upper case; everything else
// (digits, blanks, "*", "-", ".", line ends, bytes of 0x80 and above) is
// dropped.
void add_seq(const std::string& line, std::string& seq);

// Reads the first FASTA record that has sequence letters into seq; name is
// the first word of the last header line with a word before those letters
// (lines before the first header count as sequence lines). Reading stops at
// the first header line after some letters. Throws std::bad_alloc.
void read_first_record(LineReader& fasta, std::string& name, std::string& seq);

// The whole run for a command line; returns the process exit status: 0 when
// the result line was printed after a completed alignment, 1 otherwise.
int run_tormid(int argc, const char* const* argv);
