// Number texts as the screens show them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tervix {

// Fixed notation: rounded to `precision` significant digits, printed with
// exactly `decimals` digits after `decimalSeparator`. A value whose integer
// part needs more than `precision` digits comes out in exponent notation with
// `precision` significant digits (e.g. "1.23457E+07"). NaN and infinities
// have no text.
std::optional<std::string> FixedText(double value, int precision, int decimals, char decimalSeparator = '.');

// The same, appended to out; false (out untouched) for NaN and infinities.
bool AppendFixedText(std::string& out, double value, int precision, int decimals, char decimalSeparator = '.');

void AppendDecimal(std::string& out, std::int64_t value);
std::string DecimalText(std::int64_t value);

} // namespace tervix
