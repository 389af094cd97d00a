#include "number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tervix {

namespace {

// Replaces the '.' that to_chars writes with the locale's separator.
void AppendWithSeparator(std::string& out, const char* first, const char* last, char separator)
{
    for (const char* p = first; p != last; ++p)
        out.push_back(*p == '.' ? separator : *p);
}

bool AllZeroDigits(const char* first, const char* last)
{
    return std::all_of(first, last, [](char c) { return c < '1' || c > '9'; });
}

} // namespace

bool AppendFixedText(std::string& out, double value, int precision, int decimals, char decimalSeparator)
{
    if (!std::isfinite(value))
        return false;
    precision = std::clamp(precision, 1, 17);
    decimals = std::clamp(decimals, 0, 18);

    char sci[64];
    auto r = std::to_chars(sci, sci + sizeof sci - 1, value, std::chars_format::scientific, precision - 1);
    *r.ptr = '\0';
    const char* e = std::find(sci, r.ptr, 'e');
    const int exponent = std::atoi(e + 1);

    if (value != 0.0 && exponent + 1 > precision) {
        // d.ddddE+XX, at least two exponent digits.
        AppendWithSeparator(out, sci, e, decimalSeparator);
        out.push_back('E');
        out.push_back(exponent < 0 ? '-' : '+');
        const int mag = std::abs(exponent);
        if (mag < 10)
            out.push_back('0');
        char digits[8];
        auto d = std::to_chars(digits, digits + sizeof digits, mag);
        out.append(digits, d.ptr);
        return true;
    }

    // Round the significant digits once more, in decimal, at the last
    // decimal shown: 0.1235 with 3 decimals is 0.124.
    const bool negative = sci[0] == '-';
    char digits[24];
    int nd = 0;
    for (const char* p = sci; p != e && nd < 20; ++p)
        if (*p >= '0' && *p <= '9')
            digits[nd++] = *p;
    const int keep = exponent + 1 + decimals;  // significant digits left of the cut
    char n[64];  // the value times 10^decimals, as decimal digits
    int len = 0;
    if (keep <= 0) {
        n[len++] = (keep == 0 && digits[0] >= '5') ? '1' : '0';
    } else {
        for (int i = 0; i < keep && len < 60; ++i)
            n[len++] = i < nd ? digits[i] : '0';
        if (keep < nd && digits[keep] >= '5') {
            int i = len - 1;
            while (i >= 0 && n[i] == '9')
                n[i--] = '0';
            if (i >= 0) {
                ++n[i];
            } else {
                std::copy_backward(n, n + len, n + len + 1);
                n[0] = '1';
                ++len;
            }
        }
    }
    if (negative && !AllZeroDigits(n, n + len))
        out.push_back('-');
    const int intLen = len - decimals;
    if (intLen <= 0)
        out.push_back('0');
    else
        out.append(n, n + intLen);
    if (decimals > 0) {
        out.push_back(decimalSeparator);
        for (int i = intLen; i < 0; ++i)
            out.push_back('0');
        out.append(n + std::max(intLen, 0), n + len);
    }
    return true;
}

std::optional<std::string> FixedText(double value, int precision, int decimals, char decimalSeparator)
{
    std::string s;
    if (!AppendFixedText(s, value, precision, decimals, decimalSeparator))
        return std::nullopt;
    return s;
}

void AppendDecimal(std::string& out, std::int64_t value)
{
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

std::string DecimalText(std::int64_t value)
{
    std::string s;
    AppendDecimal(s, value);
    return s;
}

} // namespace tervix
