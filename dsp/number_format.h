#pragma once
// Picture formats of the status bar: "0000" (frequency), "0.000" (threshold), "###.0" (speed).
// Rounding is half away from zero on the decimal expansion of the value, so 0.0005 reads 0.001
// and 20.05 reads 20.1 (not the binary-exact 20.0499... of printf).

#include <string>

namespace dahlo {

// `minIntegerDigits` digits at least before the point (0: none when the integer part is 0),
// exactly `decimals` digits after it (no point when 0). A value that rounds to zero has no sign.
std::string FormatPicture(double value, int minIntegerDigits, int decimals);

inline std::string Format0000(double value) { return FormatPicture(value, 4, 0); }
inline std::string Format0_000(double value) { return FormatPicture(value, 1, 3); }
inline std::string FormatHashes0(double value) { return FormatPicture(value, 0, 1); }

}  // namespace dahlo
