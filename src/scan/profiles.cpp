// Profiles by content, and the alignment settings of the command line.
#include "input/input.h"
#include "scan/scan.h"

namespace tormid::scan {

namespace {

enum class Format { tormid, hmmer3, pssm };

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
  return letters.rfind("ARNDCQEGHILKMFPSTWYV", 0) == 0;
}

// The first line of the file that is not blank tells its format.
Format sniff(const std::string& path) {
  LineReader file(path, LineReader::Compression::gzip);
  if (!file.is_open()) throw ScanError(path + ": cannot open (" + file.open_error() + ")");
  std::string line;
  try {
    while (file.next(line)) {
      if (line.find_first_not_of(" \t\r\n") == std::string::npos) continue;
      if (line.rfind("(Peptide)", 0) == 0) return Format::tormid;
      if (line.rfind("HMMER3/", 0) == 0) return Format::hmmer3;
      if (starts_pssm(line)) return Format::pssm;
      throw ScanError(path + ": not a profile file: " + kExpected);
    }
  } catch (const ReadError& e) {
    throw ScanError(path + ": cannot read (" + e.reason() + ")");
  }
  throw ScanError(path + ": the file is empty; " + kExpected);
}

// A reader's message without the line ends around it.
std::string trimmed(const std::string& text) {
  const std::size_t begin = text.find_first_not_of('\n');
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of('\n') - begin + 1);
}

std::string joined(const std::vector<Message>& messages) {
  std::string text;
  for (const Message& m : messages) text += (text.empty() ? "" : "; ") + trimmed(m.text);
  return text;
}

}  // namespace

std::vector<ProfileEntry> load_profiles(const std::vector<std::string>& files) {
  std::vector<ProfileEntry> entries;
  for (const std::string& path : files) {
    try {
      switch (sniff(path)) {
        case Format::tormid: {
          ReadResult<Profile> read = read_prf_file(path, LineReader::Compression::gzip);
          if (!read) throw ScanError(path + ": " + joined(read.messages()));
          entries.push_back({std::move(read.value()), path});
          break;
        }
        case Format::hmmer3:
          for (ConvertedProfile& model : read_hmm_models(path)) entries.push_back({std::move(model.profile), path});
          break;
        case Format::pssm:
          entries.push_back({read_pssm(path).profile, path});
          break;
      }
    } catch (const InputError& e) {
      throw ScanError(e.what());
    }
  }
  return entries;
}

Settings load_settings(const Options& options) {
  if (options.params) {
    const std::string& path = *options.params;
    ReadResult<ParamValues> read = read_param_file(path);
    if (!read) {
      if (read.messages().empty())
        throw ScanError(path + ": not a tormid parameter file: its key lines do not add up to the nine "
                               "keys (PRF_GAP_OPEN_PENALTY ... SHOW_ALIGNMENT)");
      throw ScanError(path + ": " + joined(read.messages()));
    }
    return set_parameters(read.value());
  }
  ParamValues v;
  v.gap_open_penalty_prf = v.gap_open_penalty_seq = options.open;
  v.deletion_penalty_prf = v.deletion_penalty_seq = options.extend;
  v.prf_free_beg = v.prf_free_end = options.mode != "global";
  v.seq_free_beg = v.seq_free_end = options.mode == "local";
  return set_parameters(v);
}

}  // namespace tormid::scan
