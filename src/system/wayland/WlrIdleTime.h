#pragma once

#include "Ports.h"

namespace morvane {

class WlrClient;

// Seconds since the seat's last input, from the compositor's idle protocol (see WlrClient).
class WlrIdleTime final : public IdleTime {
public:
    explicit WlrIdleTime(WlrClient& client)
        : m_client(client) {}
    double idleSeconds() override;
    // The compositor offers an idle protocol and our connection to it holds.
    bool available() override;
    // The idle protocol's idle and resumed events are the edges.
    bool canWatch() override;
    void watch(std::function<void()> edge) override;

private:
    WlrClient& m_client;
};

} // namespace morvane
