// Reading the device mask argument.
#ifndef MODREG_RUN_MASK_H_
#define MODREG_RUN_MASK_H_

#include <cstdint>
#include <optional>
#include <string>

namespace run {

// The bits that name device types: bits 0 to 5, types 1 to 6.
constexpr int32_t kDeviceTypeBits = 0x3F;

// Reads |text| as a decimal integer: leading white space is skipped, an
// optional sign is accepted, digits follow, and reading stops at the first
// character that cannot continue the number ("12abc" gives 12, "0x20"
// gives 0). Returns nothing when no digit follows the sign or the number
// lies outside the signed 32-bit range. Sets |end|, when given, to where
// reading stopped.
std::optional<int32_t> ReadDeviceMask(const std::string& text,
                                      size_t* end = nullptr);

// Returns how |text| was read, when characters follow its number:
// mask "0x5" read as 0: reading stopped at "x5". Empty otherwise, and for a
// mask that is refused.
std::string MaskNote(const std::string& text);

// Returns why --strict refuses |text|, a mask ReadDeviceMask reads: it is not
// plain decimal digits, or names bits above the device types'. Empty when
// it is such a mask, or one ReadDeviceMask refuses anyway.
std::string StrictMaskProblem(const std::string& text);

}  // namespace run

#endif  // MODREG_RUN_MASK_H_
