// Input files: the profile file and the parameter file.
//
// The readers fill the process-wide profile and alignment settings declared
// here; nothing else writes them. Every reader reads its file line by line,
// whole lines of any length, and reports a failure by returning 0 after its
// own message.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// ---- Profile matrix --------------------------------------------------------

// Scores of one profile position, indexed by residue code (the order of
// the engine's alphabet "ARNDCQEGHILKMFPSTWYV").
using ProfileRow = std::array<double, 20>;

extern std::vector<ProfileRow> profile;  // one row per position, file order
extern int prf_length;                   // set by the driver from read_prf_file

// ---- Alignment settings ----------------------------------------------------
//
// A gap of n residues facing no profile position (a gap in the profile) costs
// gap_open_penalty_prf + n * deletion_penalty_prf; a gap of n profile
// positions facing no residue (a gap in the sequence) costs
// gap_open_penalty_seq + n * deletion_penalty_seq.
extern double gap_open_penalty_prf;
extern double deletion_penalty_prf;
extern double gap_open_penalty_seq;
extern double deletion_penalty_seq;

// Free-end switches, 1 for on. After set_parameters at most one beginning
// mode (prf_free_beg, seq_free_beg, all_free_beg) and at most one end mode
// (prf_free_end, seq_free_end, all_free_end) is on.
extern int prf_free_beg;
extern int prf_free_end;
extern int seq_free_beg;
extern int seq_free_end;
extern int all_free_beg;
extern int all_free_end;
extern int show_alignment;

// Loads the profile; returns its number of positions, or 0 after a message.
int read_prf_file(const char* path);

// Loads the nine settings; returns 1 when the file was accepted, else 0.
int read_param_file(const char* path);

// Folds paired free-end switches into all_free_beg / all_free_end.
void set_parameters();

// Puts every setting back to its initial value (0.0 or off).
void reset_settings();

// ---- Reading text files ----------------------------------------------------

// White space as the C library's "%s" scanning sees it in the "C" locale.
inline bool is_c_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A text file opened for reading, read one whole line at a time.
class LineReader {
 public:
  // Opens path; is_open() tells whether that worked (a directory does not
  // count as an open file).
  explicit LineReader(const char* path);
  bool is_open() const { return file_ != nullptr; }

  // Reads the next line, line end included, into line. A line is text: it
  // ends at its first NUL byte, as C string functions see it. Returns false
  // at the end of the file. Throws std::bad_alloc when a line does not fit.
  bool next(std::string& line);

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  std::unique_ptr<char, void (*)(void*)> buffer_;
  std::size_t capacity_ = 0;
};

// ---- Diagnostics -----------------------------------------------------------
// Each message of the readers is formatted in exactly one place.
void report_cant_open(const char* path);                       // standard output
void report_string_alloc_fail();                               // standard error
void report_unrecognized_profile(const char* path);
void report_matrix_alloc_fail(int which);
void report_missing_positions(const char* path, int read, int expected);
void report_profile_not_finite(const char* path, int position);
void report_param_not_finite(const char* path, const char* key);
