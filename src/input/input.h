// Input files: text lines (plain or gzip-compressed), FASTA records, the
// profile and parameter files, and the profile formats people already
// have (HMMER3 models, PSI-BLAST PSSMs), recognised by their content.
//
// Readers return values. Whatever keeps them from it, at whatever depth,
// leaves as one type, InputError, which names the file (and the line where
// there is one) and the reason; tormid's own readers also carry the exact
// messages tormid prints for it. Nothing here prints.
//
// Installed as <tormid/input.h>.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <tormid/engine.h>

namespace tormid {

// ---- Errors ----------------------------------------------------------------

enum class Stream { out, err };

// A message exactly as it is to be printed, and where.
struct Message {
  Stream stream;
  std::string text;
};

// Why an input file could not be read. what() is "FILE: REASON", or
// "FILE:LINE: REASON" where a line is to blame.
class InputError : public std::runtime_error {
 public:
  enum class Kind {
    open,     // the file did not open
    read,     // a read failed (a disk error, damaged compressed data)
    memory,   // a line or record too long for memory
    limit,    // a record longer than the reader was told to take
    content,  // the file is not what it should be
  };
  InputError(std::string file, int line, std::string reason, Kind kind = Kind::content);
  // The file did not open, or a read failed; cause is the system's words.
  static InputError cannot_open(const std::string& file, const std::string& cause);
  static InputError cannot_read(const std::string& file, const std::string& cause);
  // A failure of one of tormid's own readers, with the messages tormid
  // prints for it; the reason is given, or else those messages in a line.
  static InputError printed(Kind kind, const std::string& file, std::vector<Message> messages,
                            std::string reason = {});

  Kind kind() const { return kind_; }
  const std::string& file() const { return file_; }
  int line() const { return line_; }
  const std::string& reason() const { return reason_; }
  // For open and read failures, the system's words ("No such file or
  // directory"); else empty.
  const std::string& cause() const { return cause_; }
  // What tormid prints for this failure (tormid's own readers only).
  const std::vector<Message>& messages() const { return messages_; }

 private:
  Kind kind_;
  std::string file_;
  int line_;
  std::string reason_;
  std::string cause_;
  std::vector<Message> messages_;
};

// ---- Lines -----------------------------------------------------------------

// White space as the C library's "%s" scanning sees it in the "C" locale.
inline bool is_c_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Where a LineReader's bytes come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to n bytes into buffer; 0 at the end; throws the reason as a
  // std::runtime_error when the read fails.
  virtual std::size_t read(char* buffer, std::size_t n) = 0;
  // Bytes taken from the underlying file so far (compressed bytes for a
  // compressed file), for progress reports.
  virtual std::uint64_t position() const = 0;
};

// A text file read one whole line at a time.
class LineReader {
 public:
  enum class Compression {
    none,  // bytes as they are
    gzip,  // gzip-compressed data is decompressed (detected by content)
  };
  // Opens path; throws InputError (open) when it does not open, also for a
  // directory.
  explicit LineReader(const std::string& path, Compression compression = Compression::none);
  // Standard input, named `name` in errors.
  static LineReader standard_input(Compression compression, std::string name);
  // An uncompressed file read from byte `offset` on; line offsets count
  // from the start of the file. Throws InputError (open).
  static LineReader at_offset(const std::string& path, std::uint64_t offset);
  // Reads from source; path names it in errors.
  LineReader(std::unique_ptr<ByteSource> source, std::string path);
  ~LineReader();
  LineReader(LineReader&&) noexcept;

  const std::string& path() const { return path_; }
  // Bytes of the underlying file read so far.
  std::uint64_t position() const { return source_->position(); }
  // Where the line last returned by next() starts in the text (in
  // decompressed bytes, counted from where reading began).
  std::uint64_t line_offset() const { return line_offset_; }

  // Puts text back in front of what is still to be read, so that lines
  // read to look at a file (a pipe cannot be opened twice) are read again.
  void unread(const std::string& text);

  // Reads the next line, line end included, into line. A line is text: it
  // ends at its first NUL byte, as C string functions see it, and the bytes
  // after that NUL up to the line end are dropped. Returns false at the end
  // of the file. Throws InputError (read) when a read fails and
  // std::bad_alloc when a line does not fit in memory.
  bool next(std::string& line);

  // The next line in parts of at most `limit` bytes, so that a huge line
  // need not be held at once: `last` for the part that ends the line (the
  // text rules of next() hold), `none` at the end of the file.
  enum class Part { none, more, last };
  Part next_part(std::string& part, std::size_t limit);

  // Appends every byte still to be read to out, as it is (binary files).
  void read_rest(std::string& out);

 private:
  bool fill();

  std::string path_;
  std::unique_ptr<ByteSource> source_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0, end_ = 0;
  std::uint64_t consumed_ = 0;  // text bytes before buffer_[begin_]
  std::uint64_t line_offset_ = 0;
  bool in_line_ = false;     // a part of the current line was returned
  bool line_ended_ = false;  // a NUL ended the current line's text
};

// ---- FASTA -----------------------------------------------------------------

// Appends c to str.
void cat_char(std::string& str, char c);

// Appends every ASCII letter of line to seq, in upper case; everything else
// (digits, blanks, "*", "-", ".", line ends, bytes of 0x80 and above) is
// dropped.
void add_seq(const std::string& line, std::string& seq);

// Reads the first FASTA record that has sequence letters into seq; name is
// the first word of the last header line with a word before those letters
// (lines before the first header count as sequence lines). Reading stops at
// the first header line after some letters. Throws InputError (read) and
// std::bad_alloc.
void read_first_record(LineReader& fasta, std::string& name, std::string& seq);

struct FastaRecord {
  std::string name;         // first word of the header ("" without one)
  std::string description;  // the rest of the header, trimmed
  std::string sequence;     // its letters, upper case (add_seq)
  std::uint64_t offset = 0;  // where the record starts in the text
};

// Every record of a FASTA file in order, also those without letters. A
// file starts with a header after blank lines: other text before it is
// refused as not FASTA ("FILE:LINE: not FASTA: ..."); reading from the
// middle of a file, lines before the first header belong to a record
// before and are skipped.
class FastaReader {
 public:
  // Records of more than max_residues letters are refused; sequence lines
  // are read in parts, so that memory holds the letters, not the lines.
  explicit FastaReader(LineReader& lines, bool from_middle = false, std::size_t max_residues = SIZE_MAX)
      : lines_(lines), from_middle_(from_middle), max_residues_(max_residues) {}
  // The next record; false at the end. Throws InputError (read; memory for
  // a record too long for memory; limit beyond max_residues).
  bool next(FastaRecord& record);

 private:
  bool read_record(FastaRecord& record);
  // Appends the letters up to the next header (kept whole in line_) or the
  // end of the file to sequence, unless they are to be skipped.
  void read_letters(std::string& sequence, const std::string& name, bool skip);
  // Up to the first header, over blank lines only: any other text before it
  // is not FASTA (InputError at its line, naming what it looks like).
  void skip_to_first_header();
  InputError not_fasta(const std::string& text, std::uint64_t line) const;

  LineReader& lines_;
  std::string line_;
  bool have_header_ = false;  // line_ holds the next record's header
  std::uint64_t header_offset_ = 0;
  bool from_middle_ = false;
  std::size_t max_residues_;
  bool started_ = false;
};

// ---- tormid's profile and parameter files ----------------------------------

// The profile file: a header line "(Peptide) ... Length: ..." whose fifth
// word begins with the number of positions N, a line that is ignored, and N
// lines of a skipped word and twenty scores in alphabet order (missing
// scores are 0.0). The profile is named after the file (its name without
// directories and extension). Throws InputError with tormid's messages.
Profile read_prf_file(const std::string& path, LineReader::Compression compression = LineReader::Compression::none);

// The parameter file's nine key lines (see ParamValues); the file is
// accepted when its key lines add up to nine. Throws InputError with
// tormid's messages (none where the key lines do not add up).
ParamValues read_param_file(const std::string& path,
                            LineReader::Compression compression = LineReader::Compression::none);

// ---- Profiles from other formats -------------------------------------------
// These throw InputError naming the file and the line.

// A residue with zero probability (written "*") scores this instead of -inf.
inline constexpr double kImpossibleScore = -1000.0;

// A converted profile, named after its model (or its file), and the letter
// the file gives each position: its consensus residue, upper case where
// conserved.
struct ConvertedProfile {
  Profile profile;
  std::string labels;
};

// Every model of an HMMER3 ASCII file (plain or gzip-compressed), in file
// order; one position per match state scoring 2 log2(p(a) / f(a)) in
// half-bits.
std::vector<ConvertedProfile> read_hmm_models(const std::string& path);
// The model named `name` (the first model when empty).
ConvertedProfile read_hmm(const std::string& path, const std::string& name);
// A PSI-BLAST ASCII PSSM, named after its file; it keeps its own scores.
ConvertedProfile read_pssm(const std::string& path);

// ---- Alignments ------------------------------------------------------------

// A family as its file gives it, rows with their gaps. Stockholm files hold
// one or more (each named by "#=GF ID", else after the file); an aligned
// FASTA file one, named after the file (rows of one length, gaps '-' or
// '.'; A2M's lower-case insertions are padded into columns, its model's
// columns marked in the reference); an unaligned FASTA file one per
// sequence, named after it.
struct SequenceAlignment {
  enum class Kind { stockholm, fasta, a2m, single };
  Kind kind = Kind::stockholm;
  std::string name;
  std::vector<std::string> names;  // each row's sequence
  std::vector<std::string> rows;   // letters and gaps ('-', '.', '_', '~'), all of one length
  // "#=GC RF" (or A2M's model columns): a column marked with a letter or
  // 'x' is a position of the profile, one marked with a gap is not; empty
  // where the file marks none.
  std::string reference;
};

// Every family of a Stockholm or FASTA file (plain or gzip-compressed; "-"
// is standard input). Refused with file, line and reason: rows of
// different lengths, characters that are neither letters nor gaps, no
// sequences, a sequence of only gaps, a reference of another length.
std::vector<SequenceAlignment> read_alignments(const std::string& path);

// ---- Any profile file ------------------------------------------------------

// The formats tormid-scan takes as profiles: profiles, and alignments and
// sequences that tormid-scan builds profiles of.
enum class ProfileFormat { tormid, hmmer3, pssm, prepared, stockholm, fasta };

// The format of a profile file (compressed or not), told by its first line
// that is not blank.
ProfileFormat profile_format(const std::string& path);

// A profile's score law as a prepared library stores it: the alignment
// settings and seed it was calibrated for, and its numbers (the search
// knows what they mean).
struct StoredLaw {
  Settings settings;
  std::uint64_t seed = 0;
  std::uint32_t model = 0;  // the search's version of its law; another version calibrates again
  std::vector<double> numbers;
};

// The profiles of a file and, for a prepared library, their laws (one per
// profile; empty for the other formats). An alignment or sequence file
// gives no profiles but its families, for the caller to build profiles of
// (tormid's builder).
struct ProfileLibrary {
  std::vector<Profile> profiles;
  std::vector<StoredLaw> laws;
  std::vector<SequenceAlignment> alignments;
};

// Every profile of a file in any of these formats, in file order (or the
// families of an alignment or sequence file); "-" is standard input. The file is read once, so a pipe will do. A profile is
// named after its model (HMMER3's NAME), else after its file without
// directories and extensions. A prepared library is read on up to
// `threads` threads.
ProfileLibrary read_library(const std::string& path, int threads = 1);
std::vector<Profile> read_profiles(const std::string& path);

// ---- Prepared libraries ----------------------------------------------------
// Profiles with their laws in a binary form that loads in one pass
// (docs/prepared-library.md): a first line "TORMID-LIBRARY", a format
// version, the payload's size and CRC-32, then the payload: an index of
// the profiles and each profile's record.

// Format 2 adds each profile's notes (accession, description, cutoffs);
// format 1 is still read, its profiles without notes.
inline constexpr std::uint32_t kLibraryVersion = 2;
inline constexpr std::uint32_t kOldestLibraryVersion = 1;

// The bytes of a prepared library of the profiles and their laws (as
// many), in this format (an older one, for the tools of older installs,
// drops what it cannot hold).
std::string prepared_library(const std::vector<Profile>& profiles, const std::vector<StoredLaw>& laws,
                             std::uint32_t version = kLibraryVersion);

}  // namespace tormid
