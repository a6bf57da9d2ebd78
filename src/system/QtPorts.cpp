#include "QtPorts.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <time.h>

namespace morvane {

double SystemClock::monotonicSeconds() const {
    // CLOCK_BOOTTIME rather than CLOCK_MONOTONIC: it also counts the time spent suspended, so
    // after a resume both clocks have moved alike and the engine does not take the suspend for
    // a step of the wall clock. It exists since Linux 2.6.39; the fallback only guards the call.
    timespec ts{};
    if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0)
        clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void QtTicker::start(double seconds, std::function<void()> tick) {
    m_timer.disconnect();
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(int(seconds * 1000));
    QObject::connect(&m_timer, &QTimer::timeout, std::move(tick));
    m_timer.start();
}

void QtTermination::requestQuit() {
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

StdRandomSource::StdRandomSource()
    : m_engine(std::random_device{}()) {}

double StdRandomSource::unitClosed() {
    // 53 random bits over 2^53 - 1, so that both 0 and 1 can come out.
    constexpr std::uint64_t kMax = (std::uint64_t(1) << 53) - 1;
    return double(m_engine() >> 11) / double(kMax);
}

} // namespace morvane
