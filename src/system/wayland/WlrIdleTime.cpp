#include "WlrIdleTime.h"

#include "WlrClient.h"

namespace morvane {

double WlrIdleTime::idleSeconds() {
    return m_client.idleSeconds();
}

bool WlrIdleTime::canWatch() {
    return m_client.hasIdleProtocol();
}

void WlrIdleTime::watch(std::function<void()> edge) {
    m_client.onIdleEdge(std::move(edge));
}

bool WlrIdleTime::available() {
    return m_client.hasIdleProtocol() && m_client.alive();
}

} // namespace morvane
