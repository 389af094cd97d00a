#include "candump_writer.h"

#include <charconv>

namespace tervix {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendHex(std::string& out, std::uint32_t value, int digits)
{
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += kHex[(value >> shift) & 0xF];
}

// Zero-padded decimal, as candump pads its seconds and microseconds.
void AppendPadded(std::string& out, std::int64_t value, int width)
{
    char buf[24];
    const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    for (auto n = end - buf; n < width; ++n)
        out += '0';
    out.append(buf, end);
}

} // namespace

void AppendCandumpLine(std::string& out, std::int64_t unixMicros, std::string_view interfaceName,
                       const BusFrame& frame)
{
    if (unixMicros < 0)
        unixMicros = 0;
    out += '(';
    AppendPadded(out, unixMicros / 1000000, 10);
    out += '.';
    AppendPadded(out, unixMicros % 1000000, 6);
    out += ") ";
    out += interfaceName;
    out += ' ';
    if (frame.extended)
        AppendHex(out, frame.id & 0x1FFFFFFFu, 8);
    else
        AppendHex(out, frame.id & 0x7FFu, 3);
    out += '#';
    const unsigned length = frame.length < 8 ? frame.length : 8u;
    if (frame.remote) {
        out += 'R';
        if (length != 0)
            out += static_cast<char>('0' + length);
    } else {
        for (unsigned i = 0; i < length; ++i)
            AppendHex(out, frame.data[i], 2);
    }
    out += '\n';
}

} // namespace tervix
