#include "scan/option_checks.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

namespace tormid::scan {

namespace {

// The value of text when all of it is a finite number.
std::optional<double> number_of(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

CLI::Validator checked_number(bool (*fits)(double), const char* what, const char* name) {
  return CLI::Validator(
      [fits, what](std::string& text) -> std::string {
        const std::optional<double> value = number_of(text);
        if (!value) return "a finite number is expected, not '" + text + "'";
        if (!fits(*value)) return std::string("must be ") + what + ", not " + text;
        return "";
      },
      name);
}

}  // namespace

CLI::Validator number_check() {
  return checked_number([](double) { return true; }, "a number", "NUMBER");
}

CLI::Validator non_negative_check() {
  return checked_number([](double v) { return v >= 0; }, "0 or more", "NONNEGATIVE");
}

CLI::Validator positive_check() {
  return checked_number([](double v) { return v > 0; }, "a positive number", "POSITIVE");
}

CLI::Validator whole_number_check(std::uint64_t least, std::uint64_t most, const std::string& name) {
  return CLI::Validator(
      [least, most](std::string& text) -> std::string {
        const std::string range = "a whole number from " + std::to_string(least) + " to " + std::to_string(most);
        // Plain decimal digits: no sign, no leading zero (which would read
        // as octal), and nothing that overflows.
        bool digits = !text.empty() && text.size() <= 20 && (text == "0" || text[0] != '0');
        for (const char c : text) digits = digits && c >= '0' && c <= '9';
        if (!digits) return "must be " + range + ", not '" + text + "'";
        errno = 0;
        const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
        if (errno == ERANGE || value < least || value > most) return "must be " + range + ", not " + text;
        return "";
      },
      name);
}

}  // namespace tormid::scan
