#include "sim_options.h"

#include "bit_rates.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace tervix::sim {

namespace {

// Unit addresses double as value-box numbers in the tool, which has 64 boxes.
constexpr unsigned kUnitAddressLimit = 64;

template <typename T> std::optional<T> Number(std::string_view text, int base = 10)
{
    T v{};
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size())
        return std::nullopt;
    return v;
}

std::optional<double> Share(std::string_view text)
{
    double v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || !(v >= 0.0 && v <= 1.0))
        return std::nullopt;
    return v;
}

bool KnownRate(unsigned kbit)
{
    return std::any_of(kBitRates.begin(), kBitRates.end(),
                       [&](const BitRateEntry& e) { return e.bitsPerSecond == kbit * 1000u; });
}

// "2101.03" or "2101.03:08000020" (hex); the code defaults to a general error.
std::optional<ForcedAbort> AbortSpec(std::string_view text)
{
    ForcedAbort a{0, 0, 0x08000000};
    const auto colon = text.find(':');
    if (colon != std::string_view::npos) {
        const auto code = Number<std::uint32_t>(text.substr(colon + 1), 16);
        if (!code)
            return std::nullopt;
        a.code = *code;
        text = text.substr(0, colon);
    }
    const auto dot = text.find('.');
    if (dot == std::string_view::npos)
        return std::nullopt;
    const auto index = Number<std::uint16_t>(text.substr(0, dot), 16);
    const auto sub = Number<std::uint8_t>(text.substr(dot + 1), 16);
    if (!index || !sub)
        return std::nullopt;
    a.index = *index;
    a.subIndex = *sub;
    return a;
}

} // namespace

std::optional<SimOptions> ParseSimOptions(std::string_view text, std::string* error)
{
    SimOptions o;
    auto fail = [&](std::string why) -> std::optional<SimOptions> {
        if (error)
            *error = std::move(why);
        return std::nullopt;
    };
    while (!text.empty()) {
        const auto comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        if (item.empty())
            continue;
        const auto eq = item.find('=');
        if (eq == std::string_view::npos)
            return fail("expected key=value: " + std::string(item));
        const std::string_view key = item.substr(0, eq);
        const std::string_view value = item.substr(eq + 1);
        const std::string bad = "bad value for " + std::string(key) + ": " + std::string(value);
        if (key == "node") {
            const auto v = Number<unsigned>(value);
            if (!v || *v < 1 || *v > 127)
                return fail(bad + " (1..127)");
            o.node = *v;
        } else if (key == "rate") {
            const auto v = Number<unsigned>(value);
            if (!v || !KnownRate(*v))
                return fail(bad + " (kbit/s: 1000, 500, 250, 125, 100, 50, 20, 10, 5)");
            o.bitrateKbit = *v;
        } else if (key == "units") {
            const auto v = Number<unsigned>(value);
            if (!v || *v < 1 || *v > kUnitAddressLimit)
                return fail(bad + " (1..64)");
            o.units = *v;
        } else if (key == "first") {
            const auto v = Number<unsigned>(value);
            if (!v || *v >= kUnitAddressLimit)
                return fail(bad + " (0..63)");
            o.firstUnit = *v;
        } else if (key == "seed") {
            const auto v = Number<std::uint64_t>(value);
            if (!v)
                return fail(bad);
            o.seed = *v;
        } else if (key == "order") {
            if (value != "unit" && value != "standard")
                return fail(bad + " (unit or standard)");
            o.abortOrderStandard = value == "standard";
        } else if (key == "drop") {
            const auto v = Share(value);
            if (!v)
                return fail(bad + " (a share 0..1)");
            o.dropShare = *v;
        } else if (key == "delay") {
            const auto v = Number<unsigned>(value);
            if (!v || *v > 60000)
                return fail(bad + " (0..60000 ms)");
            o.answerDelay = std::chrono::milliseconds(*v);
        } else if (key == "silent") {
            const auto v = Number<unsigned>(value);
            if (!v || *v >= kUnitAddressLimit)
                return fail(bad + " (a unit address)");
            o.silentUnit = *v;
        } else if (key == "abort") {
            const auto v = AbortSpec(value);
            if (!v)
                return fail(bad + " (IIII.SS or IIII.SS:CCCCCCCC, hex)");
            o.abortObject = *v;
        } else {
            return fail("unknown option: " + std::string(key));
        }
    }
    if (o.firstUnit + o.units > kUnitAddressLimit)
        return fail("units beyond address 63");
    return o;
}

std::string FormatSimOptions(const SimOptions& o)
{
    std::string s = "node=" + std::to_string(o.node) + ",rate=" + std::to_string(o.bitrateKbit) +
                    ",units=" + std::to_string(o.units) + ",first=" + std::to_string(o.firstUnit) +
                    ",seed=" + std::to_string(o.seed) +
                    ",order=" + (o.abortOrderStandard ? "standard" : "unit");
    if (o.dropShare > 0) {
        // Shortest text that reads back as the same share.
        char buf[32];
        const auto r = std::to_chars(buf, buf + sizeof buf, o.dropShare);
        s += ",drop=" + std::string(buf, r.ptr);
    }
    if (o.answerDelay.count() > 0)
        s += ",delay=" + std::to_string(o.answerDelay.count());
    if (o.silentUnit)
        s += ",silent=" + std::to_string(*o.silentUnit);
    if (o.abortObject) {
        char buf[40];
        std::snprintf(buf, sizeof buf, ",abort=%04X.%02X:%08X", unsigned(o.abortObject->index),
                      unsigned(o.abortObject->subIndex), unsigned(o.abortObject->code));
        s += buf;
    }
    return s;
}

} // namespace tervix::sim
