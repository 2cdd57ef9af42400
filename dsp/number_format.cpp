#include "dsp/number_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace dahlo {

std::string FormatPicture(double value, int minIntegerDigits, int decimals) {
    if (!std::isfinite(value)) return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
    const bool negative = std::signbit(value);
    // 18 significant digits, like the decimal conversion of an 80-bit float toolkit would use.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17e", std::fabs(value));
    // buf: d.ddddddddddddddddde[+-]xx
    std::string digits;
    digits.push_back(buf[0]);
    const char* p = buf + 2;
    while (*p != 'e') digits.push_back(*p++);
    const int exponent = std::atoi(p + 1);
    // The value is 0.digits * 10^(exponent + 1); position of the point within `digits`:
    int point = exponent + 1;
    // Pad so that the point and `decimals` digits after it are inside the string.
    if (point < 0) {
        digits.insert(0, static_cast<size_t>(-point), '0');
        point = 0;
    }
    while (static_cast<int>(digits.size()) < point + decimals + 1) digits.push_back('0');
    // Round half up at `point + decimals`.
    const int keep = point + decimals;
    const bool roundUp = digits[keep] >= '5';
    digits.resize(keep);
    if (roundUp) {
        int i = keep - 1;
        while (i >= 0 && digits[i] == '9') digits[i--] = '0';
        if (i >= 0) {
            ++digits[i];
        } else {
            digits.insert(digits.begin(), '1');
            ++point;
        }
    }
    std::string integer = digits.substr(0, point);
    const std::string fraction = digits.substr(point);
    size_t first = integer.find_first_not_of('0');
    integer = first == std::string::npos ? std::string() : integer.substr(first);
    if (static_cast<int>(integer.size()) < minIntegerDigits)
        integer = std::string(minIntegerDigits - integer.size(), '0') + integer;
    std::string out = integer;
    if (decimals > 0) out += "." + fraction;
    const bool zero = integer.find_first_not_of('0') == std::string::npos &&
                      fraction.find_first_not_of('0') == std::string::npos;
    return negative && !zero ? "-" + out : out;
}

}  // namespace dahlo
