#include <charconv>

#include "converter/converter.h"

namespace tormid::converter {

namespace {

// The shortest text that reads back as the same double.
std::string shortest(double value) {
  char number[32];
  const auto written = std::to_chars(number, number + sizeof number, value);
  return std::string(number, written.ptr);
}

// The header's words after the length: what the source said of the
// profile, the description last as it may hold spaces.
std::string notes_words(const ProfileNotes& notes) {
  std::string text;
  auto word = [](std::string w) {
    for (char& c : w)
      if (is_c_space(static_cast<unsigned char>(c))) c = '_';
    return w;
  };
  if (!notes.accession.empty()) text += " ACC " + word(notes.accession);
  for (const CutoffField& f : kCutoffFields)
    if (const std::optional<BitCutoff>& cutoff = notes.*f.member)
      text.append(" ").append(f.tag).append(" ") += shortest(cutoff->sequence) + " " + shortest(cutoff->domain);
  if (notes.forward) text += " FORWARD " + shortest(notes.forward->tau) + " " + shortest(notes.forward->lambda);
  if (!notes.description.empty()) {
    std::string line = notes.description;
    for (char& c : line)
      if (c == '\n' || c == '\r') c = ' ';
    text += " DESC " + line;
  }
  return text;
}

}  // namespace

std::string profile_text(const ConvertedProfile& converted) {
  const Profile& profile = converted.profile;
  // The name as one word, so that the length stays the header's fifth.
  std::string name = profile.name();
  for (char& c : name)
    if (is_c_space(static_cast<unsigned char>(c))) c = '_';
  std::string text = "(Peptide) from ";
  text.append(name).append(" Length: ").append(std::to_string(profile.length()));
  text += notes_words(profile.notes()) + "\n";
  text += "Cons";
  for (const char* c = alphabet; *c; ++c) (text += ' ') += *c;
  text += '\n';
  for (int k = 0; k < profile.length(); ++k) {
    text += converted.labels[static_cast<std::size_t>(k)];
    for (double s : profile.row(k)) {
      (text += ' ') += shortest(s);
    }
    text += '\n';
  }
  return text;
}

std::string params_text(const std::string& mode) {
  struct Mode {
    const char* name;
    const char* purpose;
    bool prf_free, seq_free;
  };
  static const Mode kModes[] = {
      {"glocal", "the whole profile somewhere inside the sequence (a domain in a protein)", true,
       false},
      {"local", "the best-scoring part of the profile against the best part of the sequence",
       true, true},
      {"global", "the whole sequence against the whole profile", false, false},
  };
  for (const Mode& m : kModes) {
    if (mode != m.name) continue;
    auto yes = [](bool on) { return on ? "YES" : "NO"; };
    std::string text = "# tormid parameters, ";
    text.append(mode).append(" mode: ").append(m.purpose).append(".\n");
    text +=
        "# Gap costs for scores in half-bits (BLOSUM62, PSI-BLAST and tormid-prf\n"
        "# profiles): a gap of n positions costs 11 + n.\n"
        "PRF_GAP_OPEN_PENALTY 11\n"
        "PRF_DELETION_PENALTY 1\n"
        "SEQ_GAP_OPEN_PENALTY 11\n"
        "SEQ_DELETION_PENALTY 1\n"
        "# Free ends: PRF_ switches free the residues before / after the profile,\n"
        "# SEQ_ switches free the profile positions before / after the sequence.\n";
    text.append("PRF_FREE_BEG ").append(yes(m.prf_free)).append("\n");
    text.append("PRF_FREE_END ").append(yes(m.prf_free)).append("\n");
    text.append("SEQ_FREE_BEG ").append(yes(m.seq_free)).append("\n");
    text.append("SEQ_FREE_END ").append(yes(m.seq_free)).append("\n");
    text += "# YES prints the alignment under the result line; NO prints the score only.\n";
    text += "SHOW_ALIGNMENT YES\n";
    return text;
  }
  return "";
}

}  // namespace tormid::converter
