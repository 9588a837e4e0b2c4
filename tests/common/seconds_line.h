// Checks a timing line whose only variable part is a count of seconds
// printed with three decimals.
#pragma once

#include <cctype>
#include <string>

namespace ryx_test {

// When text is exactly prefix + "<digits>.<3 digits>" + suffix, stores the
// number in *seconds and returns true.
inline bool match_seconds_line(const std::string &text, const std::string &prefix, const std::string &suffix,
                               double *seconds) {
  if (text.size() < prefix.size() + suffix.size() + 5) return false;
  if (text.compare(0, prefix.size(), prefix) != 0) return false;
  if (text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
  std::string number = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
  size_t dot = number.find('.');
  if (dot == std::string::npos || dot == 0 || number.size() - dot != 4) return false;
  for (size_t i = 0; i < number.size(); i++)
    if (i != dot && !isdigit(static_cast<unsigned char>(number[i]))) return false;
  *seconds = std::stod(number);
  return true;
}

}  // namespace ryx_test
