#include "WlrIdleTime.h"

#include "WlrClient.h"

namespace morvane {

double WlrIdleTime::idleSeconds() {
    return m_client.idleSeconds();
}

bool WlrIdleTime::available() {
    return m_client.hasIdleProtocol() && m_client.alive();
}

} // namespace morvane
