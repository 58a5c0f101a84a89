// Profile files of any format, told apart by their content.
#include "input/input.h"

namespace tormid {

namespace {

const char kExpected[] =
    "expected a tormid profile (\"(Peptide) ...\"), an HMMER3 model file (\"HMMER3/...\") or a "
    "PSI-BLAST ASCII PSSM";

// PSI-BLAST starts its ASCII PSSMs with this title, or (with some options)
// directly with the column header.
bool starts_pssm(const std::string& line) {
  if (line.rfind("Last position-specific scoring matrix", 0) == 0) return true;
  std::string letters;
  for (char c : line)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') letters += c;
  return letters.rfind(alphabet, 0) == 0;
}

}  // namespace

ProfileFormat profile_format(const std::string& path) {
  LineReader file(path, LineReader::Compression::gzip);
  std::string line;
  while (file.next(line)) {
    if (line.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    if (line.rfind("(Peptide)", 0) == 0) return ProfileFormat::tormid;
    if (line.rfind("HMMER3/", 0) == 0) return ProfileFormat::hmmer3;
    if (starts_pssm(line)) return ProfileFormat::pssm;
    throw InputError(path, 0, std::string("not a profile file: ") + kExpected);
  }
  throw InputError(path, 0, std::string("the file is empty; ") + kExpected);
}

std::vector<Profile> read_profiles(const std::string& path) {
  std::vector<Profile> profiles;
  switch (profile_format(path)) {
    case ProfileFormat::tormid:
      profiles.push_back(read_prf_file(path, LineReader::Compression::gzip));
      break;
    case ProfileFormat::hmmer3:
      for (ConvertedProfile& model : read_hmm_models(path)) profiles.push_back(std::move(model.profile));
      break;
    case ProfileFormat::pssm:
      profiles.push_back(read_pssm(path).profile);
      break;
  }
  return profiles;
}

}  // namespace tormid
