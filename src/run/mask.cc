#include "run/mask.h"

#include <algorithm>
#include <charconv>

namespace run {

std::optional<int32_t> ReadDeviceMask(const std::string& text, size_t* end) {
  // Past the white space C's strtol skips, in the "C" locale, and a plus
  // sign, which from_chars does not take (a minus sign it does).
  size_t i = std::min(text.find_first_not_of(" \t\n\v\f\r"), text.size());
  if (text.compare(i, 1, "+") == 0 && text.compare(i + 1, 1, "-") != 0) ++i;
  int32_t value = 0;
  const auto [stop, error] =
      std::from_chars(text.data() + i, text.data() + text.size(), value);
  if (error != std::errc()) return std::nullopt;
  if (end) *end = stop - text.data();
  return value;
}

std::string MaskNote(const std::string& text) {
  size_t end = 0;
  std::optional<int32_t> mask = ReadDeviceMask(text, &end);
  if (!mask || end == text.size()) return "";
  return "mask \"" + text + "\" read as " + std::to_string(*mask) +
         ": reading stopped at \"" + text.substr(end) + "\"";
}

std::string StrictMaskProblem(const std::string& text) {
  std::optional<int32_t> mask = ReadDeviceMask(text);
  if (!mask) return "";
  const std::string quoted = "mask \"" + text + "\" ";
  if (text.find_first_not_of("0123456789") != std::string::npos)
    return quoted + "is not a plain decimal number: read as " +
           std::to_string(*mask);
  if (*mask & ~kDeviceTypeBits)
    return quoted + "names bits above 5, which name no device type";
  return "";
}

}  // namespace run
