// Profile files of any format, told apart by their content.
#include "input/input.h"
#include "input/text_lines.h"

namespace tormid {

namespace {

const char kExpected[] =
    "expected a tormid profile (\"(Peptide) ...\"), an HMMER3 model file (\"HMMER3/...\"), a "
    "PSI-BLAST ASCII PSSM, a prepared library, a Stockholm alignment or FASTA";

// PSI-BLAST starts its ASCII PSSMs with this title, or (with some options)
// directly with the column header.
bool starts_pssm(const std::string& line) {
  if (line.rfind("Last position-specific scoring matrix", 0) == 0) return true;
  std::string letters;
  for (char c : line)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') letters += c;
  return letters.rfind(alphabet, 0) == 0;
}

// The format of the file, from its first line that is not blank; the lines
// read to tell are put back, so that a pipe is read once.
ProfileFormat recognise(LineReader& file, const std::string& path) {
  std::string line, seen;
  while (file.next(line)) {
    seen += line;
    if (line.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    file.unread(seen);
    if (line.rfind("(Peptide)", 0) == 0) return ProfileFormat::tormid;
    if (line.rfind("HMMER3/", 0) == 0) return ProfileFormat::hmmer3;
    if (line == "TORMID-LIBRARY\n") return ProfileFormat::prepared;
    if (starts_pssm(line)) return ProfileFormat::pssm;
    if (line.rfind("# STOCKHOLM", 0) == 0) return ProfileFormat::stockholm;
    if (line[0] == '>') return ProfileFormat::fasta;
    // Pfam before release 24 and many archived libraries are HMMER2 files.
    if (line.rfind("HMMER2", 0) == 0)
      throw InputError(path, 0, "an HMMER2 model file: tormid reads HMMER3 models (HMMER's hmmconvert writes them)");
    throw InputError(path, 0, std::string("not a profile file: ") + kExpected);
  }
  throw InputError(path, 0, std::string("the file is empty; ") + kExpected);
}

// Standard input is named "-".
LineReader open_profile_file(const std::string& path) {
  if (path == "-") return LineReader::standard_input(LineReader::Compression::gzip, path);
  return LineReader(path, LineReader::Compression::gzip);
}

}  // namespace

ProfileFormat profile_format(const std::string& path) {
  LineReader file = open_profile_file(path);
  return recognise(file, path);
}

ProfileLibrary read_library(const std::string& path, int threads) {
  LineReader file = open_profile_file(path);
  ProfileLibrary library;
  const ProfileFormat format = recognise(file, path);
  switch (format) {
    case ProfileFormat::tormid:
      library.profiles = read_prf_profiles(file, path);
      break;
    case ProfileFormat::hmmer3: {
      NumberedLines in(std::move(file), path);
      for (ConvertedProfile& model : read_hmm_models(in)) library.profiles.push_back(std::move(model.profile));
      break;
    }
    case ProfileFormat::pssm: {
      NumberedLines in(std::move(file), path);
      library.profiles.push_back(read_pssm(in).profile);
      break;
    }
    case ProfileFormat::prepared:
      library = read_prepared_library(file, path, threads);
      break;
    case ProfileFormat::stockholm:
    case ProfileFormat::fasta: {
      NumberedLines in(std::move(file), path);
      library.alignments = read_alignments(in, format == ProfileFormat::stockholm);
      break;
    }
  }
  return library;
}

std::vector<Profile> read_profiles(const std::string& path) { return read_library(path).profiles; }

}  // namespace tormid
