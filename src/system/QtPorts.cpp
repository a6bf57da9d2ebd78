#include "QtPorts.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <cstdint>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

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

QtTicker::QtTicker() = default;

QtTicker::~QtTicker() {
    delete m_alarm;
    if (m_alarmFd >= 0)
        ::close(m_alarmFd);
}

void QtTicker::start(double seconds, std::function<void()> tick) {
    m_timer.disconnect();
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(int(seconds * 1000));
    m_tick = tick;
    QObject::connect(&m_timer, &QTimer::timeout, std::move(tick));
    m_timer.start();
}

void QtTicker::rest(const OptInstant& until) {
    if (!m_alarm && m_alarmFd < 0)
        createAlarm();
    disarm();
    if (!m_alarm) {
        // Without an alarm the regular ticks stand in for it.
        m_timer.start();
        return;
    }
    m_timer.stop();
    if (!until)
        return;
    const qint64 ms = std::max<qint64>(until->toMSecsSinceEpoch(), 1);
    itimerspec wake{};
    wake.it_value.tv_sec = time_t(ms / 1000);
    wake.it_value.tv_nsec = long(ms % 1000) * 1000000;
    if (::timerfd_settime(m_alarmFd, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &wake, nullptr) != 0) {
        m_timer.start();
        return;
    }
    m_alarm->setEnabled(true);
}

void QtTicker::resume() {
    disarm();
    m_timer.start();
}

void QtTicker::createAlarm() {
    m_alarmFd = ::timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_alarmFd < 0)
        return;
    m_alarm = new QSocketNotifier(m_alarmFd, QSocketNotifier::Read);
    QObject::connect(m_alarm, &QSocketNotifier::activated, [this] {
        // Expired, or ECANCELED because the clock was set: either way the engine looks again.
        std::uint64_t expirations = 0;
        [[maybe_unused]] const ssize_t n = ::read(m_alarmFd, &expirations, sizeof expirations);
        disarm();
        m_timer.start();
        if (m_tick)
            m_tick();
    });
}

void QtTicker::disarm() {
    if (!m_alarm)
        return;
    m_alarm->setEnabled(false);
    const itimerspec off{};
    ::timerfd_settime(m_alarmFd, 0, &off, nullptr);
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
