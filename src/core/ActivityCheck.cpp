#include "ActivityCheck.h"

#include "Fmt.h"

#include <algorithm>

namespace morvane {

QString verdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::verified:
        return QStringLiteral("verified");
    case Verdict::unverified:
        return QStringLiteral("unverified");
    case Verdict::unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString actionName(Action action) {
    switch (action) {
    case Action::standard:
        return QStringLiteral("standard");
    case Action::zen:
        return QStringLiteral("zen");
    case Action::click:
        return QStringLiteral("click");
    case Action::declaration:
        break;
    }
    return QStringLiteral("declaración");
}

QString outcomeName(Readback::Outcome outcome) {
    switch (outcome) {
    case Readback::Outcome::pending:
        return QStringLiteral("por comprobar");
    case Readback::Outcome::registered:
        return QStringLiteral("registrado");
    case Readback::Outcome::missed:
        return QStringLiteral("no registrado");
    case Readback::Outcome::userPresent:
        return QStringLiteral("sin juzgar: hubo entrada del usuario justo antes");
    case Readback::Outcome::cannotTell:
        break;
    }
    return QStringLiteral("no se puede saber");
}

void ActivityCheck::moved(const Instant& at, Action action, std::optional<double> idleBefore) {
    // Two movements before one read (the settings window's "try now" right after a tick's): the
    // read can only speak for the later one.
    if (!m_recent.empty() && m_recent.back().outcome == Readback::Outcome::pending)
        m_recent.back().outcome = Readback::Outcome::cannotTell;
    m_recent.push_back(
        Readback{at, action, idleBefore, std::nullopt, std::nullopt, Readback::Outcome::pending});
    while (m_recent.size() > kKept)
        m_recent.pop_front();
}

bool ActivityCheck::due(const Instant& now) const {
    return !m_recent.empty() && m_recent.back().outcome == Readback::Outcome::pending &&
           !(instant::secondsBetween(m_recent.back().movedAt, now) < kReadAfter);
}

OptInstant ActivityCheck::readBackAt() const {
    if (m_recent.empty() || m_recent.back().outcome != Readback::Outcome::pending)
        return std::nullopt;
    return instant::plusSeconds(m_recent.back().movedAt, 2 * kReadAfter);
}

bool ActivityCheck::readBack(const Instant& now, std::optional<double> idle) {
    if (m_recent.empty() || m_recent.back().outcome != Readback::Outcome::pending)
        return false;
    Readback& r = m_recent.back();
    const Verdict verdictBefore = m_verdict;
    const OptInstant verifiedBefore = m_lastVerified;
    const double elapsed = instant::secondsBetween(r.movedAt, now);
    r.readAt = now;
    r.idleAfter = idle;

    m_noSource = !idle;
    if (!idle) {
        // Without idle time nothing can be said, least of all "verified".
        r.outcome = Readback::Outcome::cannotTell;
        m_verdict = Verdict::unknown;
        m_misses = 0;
    } else if (!(elapsed <= kReadWithin) || !r.idleBefore) {
        r.outcome = Readback::Outcome::cannotTell;
    } else if (!(*r.idleBefore >= kAwayAtLeast)) {
        r.outcome = Readback::Outcome::userPresent;
    } else if (*idle <= elapsed + kMargin) {
        r.outcome = Readback::Outcome::registered;
        m_verdict = Verdict::verified;
        m_lastVerified = r.movedAt;
        m_misses = 0;
        m_lastRegistered = true;
    } else {
        r.outcome = Readback::Outcome::missed;
        m_lastRegistered = false;
        if (++m_misses >= kMissesForUnverified)
            m_verdict = Verdict::unverified;
    }
    return m_verdict != verdictBefore || m_lastVerified != verifiedBefore;
}

void ActivityCheck::shift(double seconds) {
    for (Readback& r : m_recent) {
        r.movedAt = instant::plusSeconds(r.movedAt, seconds);
        if (r.readAt)
            r.readAt = instant::plusSeconds(*r.readAt, seconds);
    }
    if (m_lastVerified)
        m_lastVerified = instant::plusSeconds(*m_lastVerified, seconds);
}

QString ActivityCheck::line(const Instant& now) const {
    if (m_noSource)
        return QStringLiteral("No se puede comprobar si la sesión registra los movimientos");
    switch (m_verdict) {
    case Verdict::unverified:
        return QStringLiteral("La sesión no está registrando los movimientos");
    case Verdict::verified: {
        const QString ago = Fmt::duration(std::max(0.0, instant::secondsBetween(*m_lastVerified, now)));
        if (m_lastRegistered)
            return QStringLiteral("La sesión registró el último movimiento (hace %1)").arg(ago);
        return QStringLiteral("La sesión no registró el último movimiento (el anterior sí, hace %1)")
            .arg(ago);
    }
    case Verdict::unknown:
        break;
    }
    return QStringLiteral("Todavía no se comprobó ningún movimiento");
}

} // namespace morvane
