// Reads candump log lines, "(1436509052.249713) can0 705#05", into packets of
// the adapter's layout, so captured traffic can be named like live traffic.
#pragma once

#include "frame_packet.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tervix {

// Header and at most 8 data bytes: the adapter packet carries classic CAN only.
constexpr std::size_t kCandumpPacketSize = kPacketHeaderSize + 8;

// A fixed buffer the reader fills, so reading a line never allocates.
struct CandumpPacket {
    std::array<std::uint8_t, kCandumpPacketSize> bytes{};
    std::size_t size = 0;
    // The line's frame with every identifier bit, which the packet cannot
    // hold; valid when the line was a frame.
    BusFrame frame;

    ByteView View() const { return ByteView(bytes.data(), size); }
};

enum class CandumpLineKind : std::uint8_t { Frame, Blank, Skipped };

struct CandumpLineResult {
    CandumpLineKind kind = CandumpLineKind::Blank;
    std::string_view reason; // why a line was skipped; static text
};

// One line without its newline. Accepts "[(time)] [interface] FRAME [R|T]",
// FRAME being "ID#DATA", "ID#R" or "ID#Rn"; a 3-digit ID is a standard frame,
// an 8-digit one an extended frame, of which the packet keeps the low 11 bits
// (packet.frame keeps all 29).
// DATA is up to 8 bytes of two hex digits, optionally separated by dots.
CandumpLineResult ParseCandumpLine(std::string_view line, CandumpPacket& packet);

class CandumpSink {
public:
    virtual ~CandumpSink() = default;
    virtual void Frame(std::uint64_t lineNumber, ByteView message) = 0;
    virtual void Skipped(std::uint64_t lineNumber, std::string_view reason) = 0;
};

// Cuts text, fed in chunks of any size, into lines and parses each. Memory is
// fixed: a line longer than kMaxLine is skipped whole. Blank lines are passed
// over silently; the result never depends on where the chunks are cut.
class CandumpReader {
public:
    static constexpr std::size_t kMaxLine = 1024;

    void Feed(std::string_view chunk, CandumpSink& sink);
    // Ends the last line when the text does not end with a newline.
    void Finish(CandumpSink& sink);

    std::uint64_t LineCount() const { return lineNumber_; }

private:
    void Keep(std::string_view piece);
    void EndLine(std::string_view line, bool overLong, CandumpSink& sink);
    void EndCarriedLine(CandumpSink& sink);

    std::array<char, kMaxLine> carry_{};
    std::size_t carrySize_ = 0;
    bool carryOverLong_ = false;
    std::uint64_t lineNumber_ = 0;
    CandumpPacket packet_;
};

// The text entry point: all lines of text, the last one with or without a newline.
void ReadCandumpText(std::string_view text, CandumpSink& sink);

} // namespace tervix
