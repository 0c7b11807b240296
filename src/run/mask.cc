#include "run/mask.h"

namespace run {

std::optional<int32_t> ReadDeviceMask(const std::string& text, size_t* end) {
  // Past the white space C's strtol skips, in the "C" locale.
  size_t i = text.find_first_not_of(" \t\n\v\f\r");
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  // The magnitude may reach 2^31 for a negative number.
  const int64_t limit = negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) return std::nullopt;
  }
  if (end) *end = i;
  return static_cast<int32_t>(negative ? -value : value);
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
