#pragma once

#include "Ports.h"

#include <QSocketNotifier>
#include <QTimer>

#include <random>

namespace morvane {

class SystemClock final : public Clock {
public:
    Instant now() const override { return QDateTime::currentDateTimeUtc(); }
    double monotonicSeconds() const override;
    QTimeZone timeZone() const override { return QTimeZone::systemTimeZone(); }
};

// A precise repeating QTimer on the thread that starts it. A rest waits on a wall-clock alarm (a
// timerfd on CLOCK_REALTIME), which also rings after a suspend that passed its time and when the
// clock is set, where a QTimer would count only the time the machine was awake.
class QtTicker final : public Ticker {
public:
    QtTicker();
    ~QtTicker() override;
    void start(double seconds, std::function<void()> tick) override;
    void rest(const OptInstant& until) override;
    void resume() override;

private:
    void createAlarm();
    void disarm();

    QTimer m_timer;
    std::function<void()> m_tick;
    int m_alarmFd = -1;
    QSocketNotifier* m_alarm = nullptr;
};

// QCoreApplication::quit, queued so that the caller's tick finishes first.
class QtTermination final : public Termination {
public:
    void requestQuit() override;
};

class StdRandomSource final : public RandomSource {
public:
    StdRandomSource();
    double unitClosed() override;

private:
    std::mt19937_64 m_engine;
};

} // namespace morvane
