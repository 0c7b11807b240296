#include "run/mask.h"

namespace {

// The white space C's strtol skips before a number, in the "C" locale.
bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// Reads as ReadDeviceMask does; |end| is where reading stopped.
std::optional<int32_t> ReadDecimal(const std::string& text, size_t* end) {
  size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
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
  *end = i;
  return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace

std::optional<int32_t> ReadDeviceMask(const std::string& text) {
  size_t end = 0;
  return ReadDecimal(text, &end);
}

std::string MaskNote(const std::string& text) {
  size_t end = 0;
  std::optional<int32_t> mask = ReadDecimal(text, &end);
  if (!mask || end == text.size()) return "";
  return "mask \"" + text + "\" read as " + std::to_string(*mask) +
         ": reading stopped at \"" + text.substr(end) + "\"";
}

std::string StrictMaskProblem(const std::string& text) {
  size_t end = 0;
  std::optional<int32_t> mask = ReadDecimal(text, &end);
  if (!mask) return "";
  const std::string quoted = "mask \"" + text + "\" ";
  if (text.find_first_not_of("0123456789") != std::string::npos)
    return quoted + "is not a plain decimal number: read as " +
           std::to_string(*mask);
  if (*mask & ~kDeviceTypeBits)
    return quoted + "names bits above 5, which name no device type";
  return "";
}
