#include "can_driver.h"

const char* DriverResultName(DriverResult result)
{
    switch (result) {
    case DriverResult::Ok: return "ok";
    case DriverResult::Empty: return "empty";
    case DriverResult::WrongBitRate: return "wrong bit rate";
    case DriverResult::ErrorFrame: return "error frame";
    case DriverResult::NotOpen: return "not open";
    case DriverResult::Missing: return "missing";
    case DriverResult::WriteFailed: return "write failed";
    case DriverResult::BadBitRate: return "bad bit rate";
    case DriverResult::Failed: return "failed";
    }
    return "?";
}

void CanDriver::setStatusText(const QString& text)
{
    if (text == status_)
        return;
    status_ = text;
    emit statusChanged(status_);
}

void CanDriver::setStatus(const QString& name, const QString& state)
{
    name_ = name;
    setStatusText(name + QStringLiteral(": ") + state);
}

tervix::TimePoint DeviceTimeMap::Map(std::chrono::microseconds stamp, tervix::TimePoint now)
{
    if (offset_) {
        const tervix::TimePoint at(stamp + *offset_);
        if (at <= now && at >= now - kMaxLag)
            return at;
    }
    offset_ = now.time_since_epoch() - stamp;
    return now;
}
