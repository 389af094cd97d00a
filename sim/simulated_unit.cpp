#include "simulated_unit.h"

#include "status_texts.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

namespace tervix::sim {

namespace {

constexpr std::uint32_t kIdNmt = 0x000;
constexpr std::uint32_t kIdTpdo1 = 0x180, kIdTpdo2 = 0x280, kIdTpdo3 = 0x380, kIdTpdo4 = 0x480;
constexpr std::uint32_t kIdRpdo1 = 0x200;  // RPDO n on kIdRpdo1 + 0x100 * (n - 1) + node
constexpr std::uint32_t kIdSdoAnswer = 0x580, kIdSdoRequest = 0x600, kIdGuard = 0x700;

// Object codes and data types as the structure entry (sub-index 0xFF) gives them.
constexpr std::uint8_t kVar = 7, kArray = 8, kRecord = 9;
constexpr std::uint8_t kInteger32 = 4, kUnsigned8 = 5, kUnsigned16 = 6, kUnsigned32 = 7, kReal32 = 8,
                       kVisibleString = 9;
// 2Auu sub 1: the local gravity the unit corrects masses with (REAL32).
constexpr std::uint8_t kGravityIndexHigh = 0x2A;
constexpr float kStandardGravity = 9.80665f;
constexpr std::uint8_t kIdentityType = 0x23;

// Versions, shown by the tool in hexadecimal: firmware (sub 8), hardware (sub 9).
constexpr std::uint16_t kVersionIndex = 0x2900;
constexpr std::uint8_t kFirmwareSub = 8, kHardwareSub = 9;
constexpr std::uint16_t kFirmwareVersion = 0x0102, kHardwareVersion = 0x0003;
constexpr std::uint8_t kStatusValueNotInRange = 21;

// Texts longer than four bytes go out in segments.
constexpr std::string_view kDeviceName = "KRV weighing unit";
constexpr std::string_view kHardwareText = "KRV board rev. 3";
constexpr std::string_view kSoftwareText = "KRV firmware 1.02";
constexpr std::uint32_t kVendorId = 0x000003A7, kProductCode = 0x00000001, kRevision = 0x00010000;

struct ObjectDesc {
    std::uint8_t code;
    std::uint8_t type;
    std::uint8_t highestSub; // 0 for a plain variable
};

BusFrame Frame(std::uint32_t id, std::initializer_list<std::uint8_t> data)
{
    BusFrame f;
    f.id = id;
    f.length = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.data.begin());
    return f;
}

void PutU32(BusFrame& f, std::size_t at, std::uint32_t v)
{
    for (std::size_t i = 0; i < 4; ++i)
        f.data[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void PutU16(BusFrame& f, std::size_t at, std::uint16_t v)
{
    f.data[at] = static_cast<std::uint8_t>(v);
    f.data[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

} // namespace

SimulatedUnit::SimulatedUnit(const SimOptions& options)
    : options_(options), node_(options.node), nodeRandom_(options.seed ^ 0x5DEECE66Dull),
      dropRandom_(options.seed ^ 0xC2B2AE3D27D4EB4Full)
{
    for (unsigned i = 0; i < options.units; ++i)
        units_.emplace_back(static_cast<std::uint8_t>(options.firstUnit + i), options.seed);
    counters1_.assign(units_.size(), 0);
    counters2_.assign(units_.size(), 0);
    gravity_.assign(units_.size(), std::bit_cast<std::uint32_t>(kStandardGravity));
}

std::size_t SimulatedUnit::UnitSlot(unsigned address) const
{
    return address - options_.firstUnit;
}

WeighingChannel* SimulatedUnit::Unit(unsigned address)
{
    return const_cast<WeighingChannel*>(std::as_const(*this).FindUnit(address));
}

const WeighingChannel* SimulatedUnit::FindUnit(unsigned address) const
{
    for (const WeighingChannel& u : units_)
        if (u.Address() == address)
            return &u;
    return nullptr;
}

std::int64_t SimulatedUnit::Millis(Time now)
{
    if (!origin_) {
        origin_ = now;
        Send(Frame(kIdGuard + node_, {0x00})); // boot-up
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - *origin_).count();
    // Time never runs backwards for the node, whatever the caller passes.
    nowMs_ = std::max<std::int64_t>(nowMs_, ms);
    return nowMs_;
}

void SimulatedUnit::Send(const BusFrame& frame)
{
    if (options_.dropShare > 0 && dropRandom_.Unit() < options_.dropShare) {
        ++dropped_;
        return;
    }
    ready_.push_back(frame);
}

void SimulatedUnit::Answer(const BusFrame& frame)
{
    if (options_.answerDelay.count() <= 0) {
        Send(frame);
        return;
    }
    delayed_.push_back({nowMs_ + options_.answerDelay.count(), frame});
}

std::vector<BusFrame> SimulatedUnit::TakeFrames()
{
    std::vector<BusFrame> out;
    out.swap(ready_);
    return out;
}

void SimulatedUnit::SendState(bool toggled)
{
    std::uint8_t b = static_cast<std::uint8_t>(state_);
    if (toggled) {
        b |= toggle_ ? 0x80 : 0x00;
        toggle_ = !toggle_;
    }
    BusFrame f = Frame(kIdGuard + node_, {b});
    if (toggled)
        Answer(f);
    else
        Send(f);
}

void SimulatedUnit::Step(Time now)
{
    const std::int64_t ms = Millis(now);
    // After a long pause (a suspended machine) the samples in between are
    // skipped, not replayed.
    if (ms - nextSampleMs_ > 600'000)
        nextSampleMs_ = ms - ms % WeighingChannel::kSampleMs;
    while (nextSampleMs_ <= ms) {
        Cyclic();
        nextSampleMs_ += WeighingChannel::kSampleMs;
    }
    if (heartbeatMs_ > 0) {
        // One beat per period, even when the caller steps in larger strides.
        if (ms - nextHeartbeatMs_ > 10 * std::int64_t(heartbeatMs_))
            nextHeartbeatMs_ = ms;
        for (; nextHeartbeatMs_ <= ms; nextHeartbeatMs_ += heartbeatMs_)
            SendState(false);
    }
    while (!delayed_.empty() && delayed_.front().dueMs <= ms) {
        Send(delayed_.front().frame);
        delayed_.pop_front();
    }
}

void SimulatedUnit::Cyclic()
{
    for (WeighingChannel& u : units_)
        u.Sample();
    ++samples_;
    temperature_ = 23.0 + 0.5 * std::sin(double(samples_) / 3000.0) + 0.05 * nodeRandom_.Signed();
    if (state_ != NmtState::Operational)
        return;
    const bool everySecond = samples_ % 10 == 0;
    for (std::size_t i = 0; i < units_.size(); ++i) {
        const WeighingChannel& u = units_[i];
        if (!options_.silentUnit || *options_.silentUnit != u.Address()) {
            BusFrame f;
            f.id = kIdTpdo1 + node_;
            f.length = 8;
            PutU32(f, 0, u.Tpdo1Word());
            PutU16(f, 4, u.StatusWord());
            f.data[6] = u.Address();
            f.data[7] = counters1_[i]++;
            Send(f);
        }
        if (everySecond) {
            BusFrame f;
            f.id = kIdTpdo2 + node_;
            f.length = 8;
            PutU32(f, 0, u.Tpdo2Word());
            PutU16(f, 4, u.StatusWord());
            f.data[6] = u.Address();
            f.data[7] = counters2_[i]++;
            Send(f);
        }
    }
    if (everySecond) {
        // Reference voltage (mV, floating) and board temperature (0.1 degC, integer).
        BusFrame f;
        f.id = kIdTpdo4 + node_;
        f.length = 8;
        const float vref = static_cast<float>(4096.0 + 0.8 * nodeRandom_.Signed());
        PutU32(f, 0, std::bit_cast<std::uint32_t>(vref));
        PutU32(f, 4, static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(temperature_ * 10.0))));
        Send(f);
    }
}

void SimulatedUnit::Receive(const BusFrame& frame, Time now)
{
    Millis(now);
    if (frame.extended)
        return;
    if (frame.id == kIdNmt) {
        // A command without its node byte is not a valid NMT frame.
        if (!frame.remote && frame.length >= 2 && (frame.data[1] == 0 || frame.data[1] == node_))
            Nmt(frame.data[0]);
        return;
    }
    if (frame.id == kIdGuard + node_) {
        if (frame.remote || frame.length <= 1)
            SendState(true);
        return;
    }
    if (frame.remote || state_ == NmtState::Stopped)
        return;
    if (frame.id == kIdSdoRequest + node_) {
        Sdo(frame);
        return;
    }
    if (state_ != NmtState::Operational)
        return;
    for (int n = 1; n <= 4; ++n)
        if (frame.id == kIdRpdo1 + 0x100u * unsigned(n - 1) + node_)
            Rpdo(n, frame);
}

void SimulatedUnit::Nmt(std::uint8_t command)
{
    switch (command) {
    case 0x01: state_ = NmtState::Operational; break;
    case 0x02: state_ = NmtState::Stopped; break;
    case 0x80: state_ = NmtState::PreOperational; break;
    case 0x81: Reset(true); break;
    case 0x82: Reset(false); break;
    default: break;
    }
}

void SimulatedUnit::Reset(bool application)
{
    if (application)
        for (WeighingChannel& u : units_)
            u.ResetProcess();
    toggle_ = false;
    segments_.End();
    state_ = NmtState::PreOperational;
    Send(Frame(kIdGuard + node_, {0x00})); // boot-up
}

// --- SDO server ----------------------------------------------------------------

BusFrame SimulatedUnit::AbortFrame(std::uint16_t index, std::uint8_t sub, std::uint32_t code) const
{
    BusFrame f = Frame(kIdSdoAnswer + node_, {0x80, static_cast<std::uint8_t>(index),
                                              static_cast<std::uint8_t>(index >> 8), sub, 0, 0, 0, 0});
    const auto bytes =
        AbortCodeBytes(code, options_.abortOrderStandard ? AbortOrder::Standard : AbortOrder::Unit);
    std::copy(bytes.begin(), bytes.end(), f.data.begin() + 4);
    return f;
}

void SimulatedUnit::Sdo(const BusFrame& request)
{
    const std::uint8_t command = request.data[0];
    switch (command >> 5) {
    case 0:
    case 3: SdoSegment(request); return;
    case 4: segments_.End(); return; // the client's abort is not answered
    default: break;
    }
    // A new request replaces a transfer left open.
    segments_.End();
    const auto index = static_cast<std::uint16_t>(request.data[1] | (request.data[2] << 8));
    const std::uint8_t sub = request.data[3];
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= std::uint32_t(request.data[4 + i]) << (8 * i);

    SdoResult r;
    bool upload = false;
    const ForcedAbort* forced = options_.abortObject ? &*options_.abortObject : nullptr;
    if (forced && forced->index == index && forced->subIndex == sub) {
        r.abort = forced->code;
    } else if (command == 0x40) {
        upload = true;
        r = Upload(index, sub);
    } else if (command == 0x22 || command == 0x23 || command == 0x27 || command == 0x2B || command == 0x2F) {
        // Expedited download; with the size bit set, bits 3..2 count the unused bytes.
        const unsigned bytes = (command & 0x01) ? 4 - ((command >> 2) & 3u) : 4;
        r = Download(index, sub, value, bytes);
    } else if (command == 0x20 || command == 0x21) {
        r = BeginDownload(index, sub, command == 0x21 ? std::optional(value) : std::nullopt);
    } else {
        r.abort = kAbortUnknownCommand;
    }

    if (r.abort) {
        Answer(AbortFrame(index, sub, r.abort));
        return;
    }
    BusFrame f = Frame(kIdSdoAnswer + node_, {0x60, request.data[1], request.data[2], sub, 0, 0, 0, 0});
    if (upload && r.segmented) {
        f.data = segments_.BeginUpload(index, sub, std::string(*Text(index)));
    } else if (upload) {
        // Expedited, size indicated: bits 3..2 count the bytes not used.
        f.data[0] = static_cast<std::uint8_t>(0x43 | ((4 - r.size) << 2));
        PutU32(f, 4, r.size == 4 ? r.value : r.value & ((1u << (8 * r.size)) - 1));
    }
    Answer(f);
}

void SimulatedUnit::SdoSegment(const BusFrame& request)
{
    SdoSegments::Answer a = segments_.Segment(request.data);
    if (a.abort) {
        Answer(AbortFrame(segments_.Index(), segments_.SubIndex(), a.abort));
        return;
    }
    // The user text is the one object that takes segmented writes.
    if (a.written)
        userText_ = std::move(*a.written);
    BusFrame f;
    f.id = kIdSdoAnswer + node_;
    f.length = 8;
    f.data = a.data;
    Answer(f);
}

std::optional<std::string_view> SimulatedUnit::Text(std::uint16_t index) const
{
    switch (index) {
    case 0x1008: return kDeviceName;
    case 0x1009: return kHardwareText;
    case 0x100A: return kSoftwareText;
    case kUserTextIndex: return userText_;
    default: return std::nullopt;
    }
}

SimulatedUnit::SdoResult SimulatedUnit::Upload(std::uint16_t index, std::uint8_t sub) const
{
    ObjectDesc desc{kVar, kUnsigned32, 0};
    const GroupDef* group = nullptr;
    const WeighingChannel* unit = nullptr;
    switch (index) {
    case 0x1000: break;
    case 0x1001: desc.type = kUnsigned8; break;
    case 0x1002: break;
    case 0x1008:
    case 0x1009:
    case 0x100A:
    case kUserTextIndex: desc.type = kVisibleString; break;
    case 0x1017: desc.type = kUnsigned16; break;
    case 0x1018: desc = {kRecord, kIdentityType, 4}; break;
    case kVersionIndex: desc = {kRecord, kUnsigned16, kHardwareSub}; break;
    default:
        if ((index >> 8) == kGravityIndexHigh) {
            if (!FindUnit(index & 0xFF))
                return {kAbortNoObject};
            desc = {kArray, kReal32, 1};
            break;
        }
        group = GroupOfIndexHigh(static_cast<std::uint8_t>(index >> 8));
        unit = group ? FindUnit(index & 0xFF) : nullptr;
        if (!unit)
            return {kAbortNoObject};
        desc = {kArray, kInteger32, static_cast<std::uint8_t>(group->params.size())};
    }
    if (sub == 0xFF)
        return {0, (std::uint32_t(desc.code) << 24) | (std::uint32_t(desc.type) << 16), 4};
    if (desc.code == kVar) {
        if (sub != 0)
            return {kAbortNoSubIndex};
    } else if (sub == 0) {
        return {0, desc.highestSub, 1};
    } else if (sub > desc.highestSub || (index == kVersionIndex && sub < kFirmwareSub)) {
        return {kAbortNoSubIndex};
    }

    switch (index) {
    case 0x1000: return {0, std::uint32_t(units_.size()) << 16, 4}; // no standard profile
    case 0x1001: return {0, 0, 1};
    case 0x1002: return {0, deviceStatus_, 4};
    case 0x1008:
    case 0x1009:
    case 0x100A:
    case kUserTextIndex: {
        // Up to four bytes fit an expedited answer; none, or more, take segments.
        const std::string_view text = *Text(index);
        if (text.empty() || text.size() > 4)
            return {0, static_cast<std::uint32_t>(text.size()), 4, true};
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < text.size(); ++i)
            v |= std::uint32_t(static_cast<std::uint8_t>(text[i])) << (8 * i);
        return {0, v, static_cast<std::uint8_t>(text.size())};
    }
    case 0x1017: return {0, heartbeatMs_, 2};
    case 0x1018: {
        const std::uint32_t identity[4] = {kVendorId, kProductCode, kRevision, node_}; // serial: the node
        return {0, identity[sub - 1], 4};
    }
    case kVersionIndex: return {0, sub == kFirmwareSub ? kFirmwareVersion : kHardwareVersion, 2};
    default: break;
    }
    if ((index >> 8) == kGravityIndexHigh)
        return {0, gravity_[UnitSlot(index & 0xFF)], 4};
    if (group->params[sub - 1u].access == Access::WriteOnly)
        return {kAbortWriteOnly};
    return {0, static_cast<std::uint32_t>(unit->Read(group->group, sub)), 4};
}

SimulatedUnit::SdoResult SimulatedUnit::Refused(std::uint8_t why)
{
    deviceStatus_ = why;
    return {kAbortRefused};
}

SimulatedUnit::SdoResult SimulatedUnit::WriteCheck(std::uint16_t index, std::uint8_t sub) const
{
    // What exists and what may be read is the upload's business; a write
    // then only has to know what it may change.
    const SdoResult probe = Upload(index, sub);
    if (probe.abort == kAbortNoObject || probe.abort == kAbortNoSubIndex)
        return probe;
    const GroupDef* group = GroupOfIndexHigh(static_cast<std::uint8_t>(index >> 8));
    const bool writable =
        sub != 0xFF &&
        ((group && sub != 0 && group->params[sub - 1u].access != Access::ReadOnly) || index == 0x1017 ||
         ((index >> 8) == kGravityIndexHigh && sub == 1) || (index == kUserTextIndex && sub == 0));
    return writable ? SdoResult{} : SdoResult{kAbortReadOnly};
}

SimulatedUnit::SdoResult SimulatedUnit::BeginDownload(std::uint16_t index, std::uint8_t sub,
                                                      std::optional<std::uint32_t> size)
{
    if (const SdoResult check = WriteCheck(index, sub); check.abort)
        return check;
    // The numeric entries take their four bytes or fewer expedited.
    if (index != kUserTextIndex)
        return {kAbortLengthMismatch};
    if (size && *size > segments_.MaxDownload())
        return {kAbortLengthTooHigh};
    segments_.BeginDownload(index, sub, size);
    return {};
}

SimulatedUnit::SdoResult SimulatedUnit::Download(std::uint16_t index, std::uint8_t sub, std::uint32_t value,
                                                 unsigned bytes)
{
    if (bytes < 4) {
        // Unsigned entries take the bytes as they are; the signed parameters
        // extend the sign of the highest byte sent.
        const unsigned unused = 32 - 8 * bytes;
        const bool signedEntry = GroupOfIndexHigh(static_cast<std::uint8_t>(index >> 8)) != nullptr;
        value = signedEntry ? static_cast<std::uint32_t>(static_cast<std::int32_t>(value << unused) >> unused)
                            : value & (0xFFFFFFFFu >> unused);
    }
    if (const SdoResult check = WriteCheck(index, sub); check.abort)
        return check;
    if (index == kUserTextIndex) {
        userText_.clear();
        for (unsigned i = 0; i < bytes; ++i)
            userText_.push_back(static_cast<char>(value >> (8 * i)));
        return {};
    }
    const GroupDef* group = GroupOfIndexHigh(static_cast<std::uint8_t>(index >> 8));
    if ((index >> 8) == kGravityIndexHigh && sub == 1) {
        // Any finite gravity a site may have; no number is refused as such.
        const float g = std::bit_cast<float>(value);
        if (bytes != 4 || !std::isfinite(g) || g <= 0.0f || g > 100.0f)
            return Refused(kStatusValueNotInRange);
        gravity_[UnitSlot(index & 0xFF)] = value;
        return {};
    }
    if (index == 0x1017) {
        if (value > 0xFFFF)
            return Refused(kStatusValueNotInRange);
        heartbeatMs_ = static_cast<std::uint16_t>(value);
        nextHeartbeatMs_ = nowMs_ + heartbeatMs_;
        return {};
    }
    WeighingChannel* unit = Unit(index & 0xFF);
    if (const std::uint8_t why = unit->Write(group->group, sub, static_cast<std::int32_t>(value), nowMs_))
        return Refused(why);
    return {};
}

// --- Process data commands -------------------------------------------------------

void SimulatedUnit::AnswerReply(const WeighingChannel& unit, const Reply& reply)
{
    BusFrame f = Frame(kIdTpdo3 + node_, {unit.Address(), reply.code, 0, 0, 0, 0, 0, 0});
    switch (reply.code) {
    case kReplyDone: f.data[2] = reply.command; break;
    case kReplyRefused:
        f.data[2] = reply.command;
        f.data[3] = reply.status;
        break;
    case kReplyCalGain: PutU32(f, 2, std::bit_cast<std::uint32_t>(reply.value)); break;
    case kReplyInteger: PutU32(f, 3, static_cast<std::uint32_t>(reply.param)); break;
    case kReplyStandard:
        f.data[2] = reply.sub;
        PutU32(f, 3, static_cast<std::uint32_t>(reply.param));
        break;
    case kReplyFilling:
    case kReplyTrigger:
    case kReplyMassFlow:
        f.data[3] = reply.sub;
        PutU32(f, 4, static_cast<std::uint32_t>(reply.param));
        break;
    default: // 10..15
        PutU32(f, 4, std::bit_cast<std::uint32_t>(reply.value));
        break;
    }
    Answer(f);
}

void SimulatedUnit::Rpdo(int n, const BusFrame& frame)
{
    if (n == 4) {
        // Filling commands reach every unit of the node; each answers.
        const std::uint8_t command = frame.data[0];
        for (WeighingChannel& u : units_) {
            Reply r;
            if (frame.length < 1) {
                r = {kReplyRefused, 0, status::kBadComm};
            } else if (command == 0x80 || command == 0x81) {
                r = u.Fill(command == 0x80);
            } else {
                r = {kReplyRefused, command, status::kNotImplemented};
            }
            AnswerReply(u, r);
        }
        return;
    }
    WeighingChannel* unit = frame.length >= 1 ? Unit(frame.data[0]) : &units_.front();
    if (!unit)
        return; // a unit of another node
    const std::uint8_t command = frame.data[1];
    Reply r;
    if (frame.length < 2)
        r = {kReplyRefused, 0, status::kBadComm};
    else if (n == 1)
        r = unit->Select(command);
    else if (n == 2)
        r = unit->Command(command, nowMs_);
    else
        r = unit->ReadByPdo(command);
    AnswerReply(*unit, r);
}

} // namespace tervix::sim
