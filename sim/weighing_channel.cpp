#include "weighing_channel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace tervix::sim {

namespace {

constexpr std::int64_t kCalibrationTimeoutMs = 60'000;
constexpr std::size_t kHistorySize = 11;         // ten sample periods, one second
constexpr double kNoise = 0.02;                  // peak load noise with no filter
constexpr std::int32_t kMinimumPointSpan = 1000; // counts, one unit of load

std::int32_t Thousandths(double v)
{
    const double t = std::round(v * 1000.0);
    if (!(t > double(std::numeric_limits<std::int32_t>::min())))
        return std::numeric_limits<std::int32_t>::min();
    if (!(t < double(std::numeric_limits<std::int32_t>::max())))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(t);
}

bool Running(FillState s)
{
    return s == FillState::Coarse || s == FillState::Fine;
}

} // namespace

WeighingChannel::WeighingChannel(std::uint8_t address, std::uint64_t seed)
    : address_(address), random_(seed ^ (0xA24BAED4963EE407ull * (address + 1u))),
      baseLoad_(100.0 + 10.0 * address)
{
    for (int g = 0; g < kGroupCount; ++g) {
        const GroupDef& def = GroupDefOf(static_cast<Group>(g));
        for (const ParameterDef& p : def.params)
            values_[std::size_t(g)].push_back(p.defaultValue);
    }
    Param(Group::Standard, standard::kSerialNumber) = 240000 + address;
    raw_ = std::llround(baseLoad_ * 1000.0);
    UpdateGross();
    UpdateLiveParameters();
}

void WeighingChannel::ResetProcess()
{
    // Zero and calibration are kept, as a unit keeps them in its memory.
    tare_ = 0;
    flow_ = 0;
    extremesSet_ = false;
    history_.clear();
    if (Running(fill_))
        fill_ = FillState::Stopped;
    calOpen_ = false;
    UpdateGross();
    UpdateLiveParameters();
}

void WeighingChannel::Sample()
{
    const double dt = double(kSampleMs) / 1000.0;
    if (Running(fill_)) {
        const std::uint8_t rate = fill_ == FillState::Coarse ? filling::kCoarseRate : filling::kFineRate;
        fillMass_ += Param(Group::Filling, rate) / 1000.0 * dt;
        fillElapsedMs_ += kSampleMs;
    }
    // A slow walk pulled back towards the base load, plus noise the filter damps.
    drift_ = drift_ * 0.995 + 0.002 * random_.Signed();
    const double noise = kNoise / (1.0 + Param(Group::Standard, standard::kFilter)) * random_.Signed();
    raw_ = std::llround((baseLoad_ + drift_ + fillMass_ + noise) * 1000.0);
    const double before = gross_;
    UpdateGross();

    if (Running(fill_)) {
        const double target = Param(Group::Filling, filling::kTarget) / 1000.0;
        const double net = Net();
        if (net >= target - Param(Group::Filling, filling::kInFlight) / 1000.0) {
            // The material still in the air lands after the cut.
            fillMass_ += Param(Group::Filling, filling::kInFlight) / 1000.0;
            raw_ += Param(Group::Filling, filling::kInFlight);
            UpdateGross();
            fill_ = FillState::Done;
            Param(Group::Filling, filling::kLastResult) = Thousandths(Net());
            ++Param(Group::Filling, filling::kFills);
            if (std::abs(Net() - target) * 1000.0 > Param(Group::Filling, filling::kTolerance))
                ++Param(Group::Filling, filling::kOutOfTolerance);
        } else if (net >= target - Param(Group::Filling, filling::kCoarseCutoff) / 1000.0) {
            fill_ = FillState::Fine;
        }
        if (Running(fill_) && fillElapsedMs_ > Param(Group::Filling, filling::kMaxTime) * 1000ll)
            fill_ = FillState::TimedOut;
    }

    if (!history_.empty())
        total_ += std::max(0.0, gross_ - before);
    history_.push_back(gross_);
    if (history_.size() > kHistorySize)
        history_.erase(history_.begin());
    const std::size_t periods = std::size_t(Param(Group::MassFlow, massflow::kWindow) / kSampleMs);
    if (history_.size() > periods) {
        const double delta = gross_ - history_[history_.size() - 1 - periods];
        double flow = delta / (double(periods) * dt) * Param(Group::MassFlow, massflow::kTimeFactor);
        if (Param(Group::MassFlow, massflow::kReverse))
            flow = -flow;
        flow_ = std::abs(flow) * 1000.0 < Param(Group::MassFlow, massflow::kCutoff) ? 0.0 : flow;
    }
    if (!extremesSet_ || gross_ > max_)
        max_ = gross_;
    if (!extremesSet_ || gross_ < min_)
        min_ = gross_;
    extremesSet_ = true;
    UpdateLiveParameters();
}

void WeighingChannel::UpdateGross()
{
    gross_ = Calibrated() - zero_;
}

bool WeighingChannel::InMotion() const
{
    if (history_.size() < 2)
        return false;
    const auto first = history_.size() > 10 ? history_.end() - 10 : history_.begin();
    const auto [lo, hi] = std::minmax_element(first, history_.end());
    return (*hi - *lo) * 1000.0 > Param(Group::Standard, standard::kMotionBand);
}

std::uint16_t WeighingChannel::StatusWord() const
{
    const std::int32_t outputs = Param(Group::Trigger, trigger::kOutputs);
    std::uint16_t w = 0;
    w |= InMotion() ? 0x0001 : 0;
    w |= tare_ != 0 ? 0x0002 : 0;
    w |= Running(fill_) ? 0x0004 : 0;
    w |= calOpen_ ? 0x0008 : 0;
    w |= Integer() ? 0x0010 : 0;
    w |= (outputs & 1) ? 0x0020 : 0;
    w |= (outputs & 2) ? 0x0040 : 0;
    w |= static_cast<std::uint16_t>((Param(Group::Standard, standard::kSelectedValue) & 3) << 8);
    w |= gross_ > Param(Group::Standard, standard::kCapacity) ? 0x8000 : 0;
    return w;
}

std::uint32_t WeighingChannel::Word(double v) const
{
    if (!Integer())
        return std::bit_cast<std::uint32_t>(static_cast<float>(v));
    const double scaled = std::round(v * std::pow(10.0, Param(Group::Standard, standard::kIntegerDecimals)));
    const double clamped = std::clamp(scaled, double(std::numeric_limits<std::int32_t>::min()),
                                      double(std::numeric_limits<std::int32_t>::max()));
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(clamped));
}

std::uint32_t WeighingChannel::Tpdo1Word() const
{
    switch (Param(Group::Standard, standard::kSelectedValue)) {
    case 1: return Word(Net());
    case 2: return Word(flow_);
    default: return Word(gross_);
    }
}

std::uint32_t WeighingChannel::Tpdo2Word() const
{
    return Word(Net());
}

void WeighingChannel::UpdateLiveParameters()
{
    // Switching outputs with hysteresis: they keep their state inside the band.
    const double compared = Param(Group::Trigger, trigger::kSource) ? Net() : gross_;
    std::int32_t outputs = Param(Group::Trigger, trigger::kOutputs);
    const std::uint8_t modes[2] = {trigger::kMode1, trigger::kMode2};
    for (int i = 0; i < 2; ++i) {
        const std::int32_t mode = Param(Group::Trigger, modes[i]);
        const double level = Param(Group::Trigger, std::uint8_t(modes[i] + 1)) / 1000.0;
        const double hysteresis = Param(Group::Trigger, std::uint8_t(modes[i] + 2)) / 1000.0;
        const std::int32_t bit = 1 << i;
        bool on = (outputs & bit) != 0;
        if (mode == 1)
            on = on ? compared >= level - hysteresis : compared >= level;
        else if (mode == 2)
            on = on ? compared <= level + hysteresis : compared <= level;
        else
            on = false;
        outputs = on ? (outputs | bit) : (outputs & ~bit);
    }
    Param(Group::Trigger, trigger::kOutputs) = outputs;

    Param(Group::Standard, standard::kTare) = Thousandths(tare_);
    Param(Group::Standard, standard::kZeroOffset) = Thousandths(zero_);
    Param(Group::Standard, standard::kGross) = Thousandths(gross_);
    Param(Group::Standard, standard::kNet) = Thousandths(Net());
    Param(Group::Standard, standard::kStatusWord) = StatusWord();
    Param(Group::Filling, filling::kState) = static_cast<std::int32_t>(fill_);
    Param(Group::MassFlow, massflow::kFlow) = Thousandths(flow_);
    Param(Group::MassFlow, massflow::kTotal) = Thousandths(total_);
    Param(Group::CalState, calstate::kOpen) = calOpen_ ? 1 : 0;
    Param(Group::CalState, calstate::kGain) = static_cast<std::int32_t>(std::llround(calGain_ * 1e6));
}

Reply WeighingChannel::Refuse(std::uint8_t command, std::uint8_t why) const
{
    Reply r;
    r.code = kReplyRefused;
    r.command = command;
    r.status = why;
    return r;
}

Reply WeighingChannel::Select(std::uint8_t command)
{
    std::int32_t selected = 0;
    switch (command) {
    case 0x40: selected = 0; break;
    case 0x80: selected = 1; break;
    case 0x20: selected = 2; break;
    default: return Refuse(command, status::kNotImplemented);
    }
    Param(Group::Standard, standard::kSelectedValue) = selected;
    UpdateLiveParameters();
    Reply r;
    r.command = command;
    return r;
}

Reply WeighingChannel::Command(std::uint8_t command, std::int64_t nowMs)
{
    Reply r;
    r.command = command;
    const double capacity = Param(Group::Standard, standard::kCapacity);
    switch (command) {
    case 0x01: // tare
        if (Running(fill_))
            return Refuse(command, status::kNotReady);
        if (InMotion())
            return Refuse(command, status::kNotStable);
        if (gross_ < 0 || gross_ > capacity * Param(Group::Standard, standard::kTareRange) / 100.0)
            return Refuse(command, status::kBadGenValue);
        tare_ = gross_;
        break;
    case 0x02: // zero
        if (Running(fill_))
            return Refuse(command, status::kNotReady);
        if (InMotion())
            return Refuse(command, status::kNotStable);
        if (std::abs(Calibrated()) > capacity * Param(Group::Standard, standard::kZeroRange) / 100.0)
            return Refuse(command, status::kBadGenValue);
        zero_ = Calibrated();
        UpdateGross();
        break;
    case 0x03: // clear tare
        tare_ = 0;
        break;
    case 0x04: // clear maximum and minimum
        max_ = min_ = gross_;
        extremesSet_ = true;
        break;
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x0E:
    case 0x0F: {
        const double values[] = {gross_, Net(), tare_, flow_, max_, min_};
        r.code = command; // 10..15, the answer code names the value
        r.value = static_cast<float>(values[command - 0x0A]);
        return r;
    }
    case 0x12:
        r.code = kReplyInteger;
        r.param = Thousandths(gross_);
        return r;
    case 0x11:
        r.code = kReplyCalGain;
        r.value = static_cast<float>(calGain_);
        return r;
    default:
        if (command >= 0x20 && command <= 0x2F)
            return CalibrationStep(command, nowMs);
        return Refuse(command, status::kNotImplemented);
    }
    UpdateLiveParameters();
    return r;
}

Reply WeighingChannel::CalibrationStep(std::uint8_t command, std::int64_t nowMs)
{
    Reply r;
    r.command = command;
    if (command == 0x20) {
        if (Running(fill_))
            return Refuse(command, status::kNotReady);
        calOpen_ = true;
        calOpenedMs_ = nowMs;
        Param(Group::CalState, calstate::kCaptured) = 0;
        UpdateLiveParameters();
        return r;
    }
    const bool close = command == 0x2F;
    const int point = command - 0x20; // 1..4 capture a point
    if (!close && point > 4)
        return Refuse(command, status::kBadCalId);
    if (!calOpen_)
        return Refuse(command, status::kCalNotOpen);
    if (nowMs - calOpenedMs_ > kCalibrationTimeoutMs) {
        calOpen_ = false;
        UpdateLiveParameters();
        return Refuse(command, status::kTimeout);
    }
    if (close) {
        if (const std::uint8_t why = CloseCalibration())
            return Refuse(command, why);
    } else {
        if (InMotion())
            return Refuse(command, status::kNotStable);
        Param(Group::CalRaw, std::uint8_t(point)) = static_cast<std::int32_t>(raw_);
        Param(Group::CalState, calstate::kCaptured) |= 1 << (point - 1);
    }
    UpdateLiveParameters();
    return r;
}

std::uint8_t WeighingChannel::CloseCalibration()
{
    // The captured points, in point order, must rise in mass and in counts,
    // by at least one unit of load: closer points give no usable scale.
    std::vector<std::uint8_t> points;
    for (std::uint8_t p = 1; p <= 4; ++p)
        if (Param(Group::CalState, calstate::kCaptured) & (1 << (p - 1)))
            points.push_back(p);
    if (points.size() < 2)
        return status::kBadCalValue;
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (Param(Group::CalMass, points[i]) <= Param(Group::CalMass, points[i - 1]) ||
            Param(Group::CalRaw, points[i]) < Param(Group::CalRaw, points[i - 1]) + kMinimumPointSpan)
            return status::kBadCalValue;
    }
    const double m0 = Param(Group::CalMass, points.front()) / 1000.0;
    const double m1 = Param(Group::CalMass, points.back()) / 1000.0;
    const double r0 = Param(Group::CalRaw, points.front());
    const double r1 = Param(Group::CalRaw, points.back());
    calGain_ = (m1 - m0) / (r1 - r0);
    calOffset_ = m0 - r0 * calGain_;
    zero_ = 0;
    calOpen_ = false;
    ++Param(Group::CalState, calstate::kCount);
    UpdateGross();
    return 0;
}

Reply WeighingChannel::ReadByPdo(std::uint8_t command) const
{
    // High nibble the group, low nibble the sub-index less one.
    static constexpr struct {
        Group group;
        std::uint8_t code;
        std::uint8_t badId;
    } kPdoGroups[] = {{Group::Standard, kReplyStandard, status::kBadGenId},
                      {Group::Trigger, kReplyTrigger, status::kBadGenId},
                      {Group::Filling, kReplyFilling, status::kBadFillId},
                      {Group::MassFlow, kReplyMassFlow, status::kBadGenId}};
    const unsigned nibble = command >> 4;
    if (nibble < 1 || nibble > 4)
        return Refuse(command, status::kNotImplemented);
    const auto& g = kPdoGroups[nibble - 1];
    const auto sub = static_cast<std::uint8_t>((command & 0x0F) + 1);
    const GroupDef& def = GroupDefOf(g.group);
    if (sub > def.params.size() || def.params[sub - 1u].access == Access::WriteOnly)
        return Refuse(command, g.badId);
    Reply r;
    r.code = g.code;
    r.command = command;
    r.sub = sub;
    r.param = Param(g.group, sub);
    return r;
}

Reply WeighingChannel::Fill(bool start)
{
    const std::uint8_t command = start ? 0x80 : 0x81;
    Reply r;
    r.command = command;
    if (!start) {
        if (Running(fill_))
            fill_ = FillState::Stopped;
        UpdateLiveParameters();
        return r;
    }
    // Filling during a calibration is how a second point gets its load.
    if (Running(fill_))
        return Refuse(command, status::kNotReady);
    if (Param(Group::Filling, filling::kCoarseCutoff) >= Param(Group::Filling, filling::kTarget))
        return Refuse(command, status::kBadFillValue);
    // The previous fill is discharged before the next one starts.
    raw_ -= std::llround(fillMass_ * 1000.0);
    fillMass_ = 0;
    UpdateGross();
    if (Param(Group::Filling, filling::kTareFirst))
        tare_ = gross_;
    fill_ = FillState::Coarse;
    fillElapsedMs_ = 0;
    UpdateLiveParameters();
    return r;
}

std::int32_t WeighingChannel::Read(Group group, std::uint8_t sub) const
{
    return Param(group, sub);
}

std::uint8_t WeighingChannel::Write(Group group, std::uint8_t sub, std::int32_t value, std::int64_t nowMs)
{
    const GroupDef& def = GroupDefOf(group);
    const ParameterDef& p = def.params[sub - 1u];
    if (value < p.min || value > p.max)
        return def.badValueStatus;
    if (group == Group::Filling && Running(fill_))
        return status::kNotReady;
    if (group == Group::CalMass && !calOpen_)
        return status::kCalNotOpen;
    if (group == Group::Standard && sub == standard::kCommand) {
        static constexpr std::uint8_t kCommands[] = {0x01, 0x02, 0x03, 0x04};
        const Reply r = Command(kCommands[value - 1], nowMs);
        return r.code == kReplyRefused ? r.status : 0;
    }
    if (group == Group::Standard && sub == standard::kTare)
        tare_ = value / 1000.0;
    else
        Param(group, sub) = value;
    UpdateLiveParameters();
    return 0;
}

} // namespace tervix::sim
