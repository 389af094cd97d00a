#include "poll_timer.h"

PollTimer::PollTimer(QObject* parent) : QObject(parent)
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &PollTimer::tick);
}

void PollTimer::tick()
{
    if (inTick_ || !handler_)
        return;
    inTick_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{inTick_};
    // The handler may swap itself out; run a copy so the running one stays
    // alive. A lambda holding one pointer is stored inline: no allocation.
    const Handler handler = handler_;
    handler();
    emit tickFinished();
}
