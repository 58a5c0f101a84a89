#include "input/input.h"

namespace tormid {

namespace {

std::string located(const std::string& file, int line, const std::string& reason) {
  std::string text = file;
  if (line > 0) text.append(":").append(std::to_string(line));
  return text.append(": ").append(reason);
}

// A message without the line ends around it.
std::string trimmed(const std::string& text) {
  const std::size_t begin = text.find_first_not_of('\n');
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of('\n') - begin + 1);
}

}  // namespace

InputError::InputError(std::string file, int line, std::string reason, Kind kind)
    : std::runtime_error(located(file, line, reason)),
      kind_(kind),
      file_(std::move(file)),
      line_(line),
      reason_(std::move(reason)) {}

InputError InputError::cannot_open(const std::string& file, const std::string& cause) {
  InputError e(file, 0, "cannot open (" + cause + ")", Kind::open);
  e.cause_ = cause;
  return e;
}

InputError InputError::cannot_read(const std::string& file, const std::string& cause) {
  InputError e(file, 0, "cannot read (" + cause + ")", Kind::read);
  e.cause_ = cause;
  return e;
}

InputError InputError::printed(Kind kind, const std::string& file, std::vector<Message> messages,
                               std::string reason) {
  if (reason.empty())
    for (const Message& m : messages) reason += (reason.empty() ? "" : "; ") + trimmed(m.text);
  InputError e(file, 0, std::move(reason), kind);
  e.messages_ = std::move(messages);
  return e;
}

}  // namespace tormid
