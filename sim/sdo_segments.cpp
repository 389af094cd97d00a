#include "sdo_segments.h"

#include "status_texts.h"

#include <algorithm>
#include <utility>

namespace tervix::sim {

namespace {

constexpr std::uint8_t kToggleBit = 0x10, kLastBit = 0x01;
constexpr std::size_t kSegmentBytes = 7;
constexpr unsigned kCcsUploadSegment = 3;

} // namespace

void SdoSegments::Begin(std::uint16_t index, std::uint8_t subIndex, bool upload)
{
    open_ = true;
    upload_ = upload;
    toggle_ = false;
    index_ = index;
    subIndex_ = subIndex;
    bytes_.clear();
    offset_ = 0;
    size_.reset();
}

SdoSegments::Data SdoSegments::BeginUpload(std::uint16_t index, std::uint8_t subIndex, std::string bytes)
{
    Begin(index, subIndex, true);
    bytes_ = std::move(bytes);
    Data d{0x41, static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8), subIndex};
    for (std::size_t i = 0; i < 4; ++i)
        d[4 + i] = static_cast<std::uint8_t>(bytes_.size() >> (8 * i));
    return d;
}

void SdoSegments::BeginDownload(std::uint16_t index, std::uint8_t subIndex, std::optional<std::uint32_t> size)
{
    Begin(index, subIndex, false);
    size_ = size;
}

SdoSegments::Answer SdoSegments::Stop(std::uint32_t abort)
{
    open_ = false;
    Answer a;
    a.abort = abort;
    return a;
}

SdoSegments::Answer SdoSegments::Segment(const Data& request)
{
    const std::uint8_t command = request[0];
    const bool toggle = command & kToggleBit;
    // A segment of no open transfer, or of the other direction.
    if (!open_ || ((command >> 5) == kCcsUploadSegment) != upload_)
        return Stop(kAbortUnknownCommand);
    if (toggle != toggle_)
        return Stop(kAbortToggle);
    toggle_ = !toggle_;
    return upload_ ? UploadSegment(toggle) : DownloadSegment(command, request);
}

SdoSegments::Answer SdoSegments::UploadSegment(bool toggle)
{
    const std::size_t count = std::min(kSegmentBytes, bytes_.size() - offset_);
    const bool last = offset_ + count == bytes_.size();
    Answer a;
    a.data[0] = static_cast<std::uint8_t>((toggle ? kToggleBit : 0) | (kSegmentBytes - count) << 1 |
                                          (last ? kLastBit : 0));
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset_), count, a.data.begin() + 1);
    offset_ += count;
    open_ = !last;
    return a;
}

SdoSegments::Answer SdoSegments::DownloadSegment(std::uint8_t command, const Data& request)
{
    const bool last = command & kLastBit;
    const std::size_t count = last ? kSegmentBytes - ((command >> 1) & 7u) : kSegmentBytes;
    if (bytes_.size() + count > maxDownload_)
        return Stop(kAbortLengthTooHigh);
    bytes_.append(request.begin() + 1, request.begin() + 1 + static_cast<std::ptrdiff_t>(count));
    Answer a;
    a.data[0] = static_cast<std::uint8_t>(0x20 | (command & kToggleBit));
    if (last) {
        open_ = false; // over, whatever the outcome
        if (size_ && *size_ != bytes_.size())
            return Stop(kAbortLengthMismatch);
        a.written = std::move(bytes_);
    }
    return a;
}

} // namespace tervix::sim
