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

    // Round once, at whichever limit is tighter: the decimals shown or the
    // significant digits. Rounding twice (first to digits, then to decimals)
    // lifts 12.34549 to 12.346.
    const int places = std::min(decimals, precision - 1 - exponent);
    char fixed[400];
    auto f = std::to_chars(fixed, fixed + sizeof fixed, value, std::chars_format::fixed, std::max(places, 0));
    const char* first = fixed;
    const char* last = f.ptr;
    if (*first == '-') {
        ++first;
        if (!AllZeroDigits(first, last))
            out.push_back('-');
    }
    AppendWithSeparator(out, first, last, decimalSeparator);
    if (decimals > 0 && places <= 0)
        out.push_back(decimalSeparator);
    for (int i = std::max(places, 0); i < decimals; ++i)
        out.push_back('0');
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
