// The transport's repeating 3 ms timer. Its handler is swapped while it runs
// (USB poll, device search, serial poll), and a tick never starts while
// another is still running: a message box opened by the frame handler runs a
// nested event loop that fires the timer again, and that tick must leave the
// frames buffered so the handler is not re-entered and nothing is lost.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class PollTimer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void()>;
    static constexpr int kIntervalMs = 3;

    explicit PollTimer(QObject* parent = nullptr);

    void setHandler(Handler handler) { handler_ = std::move(handler); }
    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    bool isActive() const { return timer_.isActive(); }
    bool inTick() const { return inTick_; }

    // One tick, exactly as the timer runs it (tests and benchmarks call it).
    void tick();

signals:
    // After every tick that was not skipped.
    void tickFinished();

private:
    QTimer timer_;
    Handler handler_;
    bool inTick_ = false;
};
