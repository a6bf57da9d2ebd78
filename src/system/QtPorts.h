#pragma once

#include "Ports.h"

#include <QTimer>

#include <random>

namespace morvane {

class SystemClock final : public Clock {
public:
    Instant now() const override { return QDateTime::currentDateTimeUtc(); }
    double monotonicSeconds() const override;
    QTimeZone timeZone() const override { return QTimeZone::systemTimeZone(); }
};

// A precise repeating QTimer on the thread that starts it.
class QtTicker final : public Ticker {
public:
    void start(double seconds, std::function<void()> tick) override;

private:
    QTimer m_timer;
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
