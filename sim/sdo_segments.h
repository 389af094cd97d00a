// One segmented SDO transfer as the node serves it: an upload's bytes handed
// out seven to a segment, a download's collected up to a limit, the toggle
// checked on every segment. Which object the bytes belong to is the node's
// business.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tervix::sim {

class SdoSegments {
public:
    using Data = std::array<std::uint8_t, 8>;

    struct Answer {
        std::uint32_t abort = 0;            // nonzero: abort with it, the transfer is over
        Data data{};                        // the answer otherwise
        std::optional<std::string> written; // a download's bytes, once its last segment came
    };

    explicit SdoSegments(std::size_t maxDownload) : maxDownload_(maxDownload) {}

    // The initiate answer; the size is indicated.
    Data BeginUpload(std::uint16_t index, std::uint8_t subIndex, std::string bytes);
    // The caller has checked the object and the size against MaxDownload().
    void BeginDownload(std::uint16_t index, std::uint8_t subIndex, std::optional<std::uint32_t> size);
    // An upload segment request or a download segment.
    Answer Segment(const Data& request);
    void End() { open_ = false; }

    std::size_t MaxDownload() const { return maxDownload_; }
    // Of the transfer last begun, for the aborts of its segments.
    std::uint16_t Index() const { return index_; }
    std::uint8_t SubIndex() const { return subIndex_; }

private:
    void Begin(std::uint16_t index, std::uint8_t subIndex, bool upload);
    Answer Stop(std::uint32_t abort);
    Answer UploadSegment(bool toggle);
    Answer DownloadSegment(std::uint8_t command, const Data& request);

    std::size_t maxDownload_;
    bool open_ = false;
    bool upload_ = false;
    bool toggle_ = false; // expected in the next segment
    std::uint16_t index_ = 0;
    std::uint8_t subIndex_ = 0;
    std::string bytes_;
    std::size_t offset_ = 0; // upload: bytes sent so far
    std::optional<std::uint32_t> size_;
};

} // namespace tervix::sim
