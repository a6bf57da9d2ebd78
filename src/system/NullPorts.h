#pragma once

// What a session without the service gets: every answer is the negative one, every action a
// no-op. Chosen by the factory, never by an #ifdef.

#include "Ports.h"

namespace morvane {

class NullIdleTime final : public IdleTime {
public:
    double idleSeconds() override { return 0; }
    bool available() override { return false; }
};

class NullTrust final : public AccessibilityTrust {
public:
    bool trusted() override { return false; }
};

class NullScreenLock final : public ScreenLockProbe, public LockEvents {
public:
    bool screenLocked() override { return false; }
    void subscribe(std::function<void()>, std::function<void()>) override {}
};

class NullAudioProbe final : public AudioProbe {
public:
    bool audioPlaying() override { return false; }
};

class NullAppsProbe final : public AppsProbe {
public:
    std::optional<QString> runningApp(const QString&) override { return std::nullopt; }
    std::optional<QString> frontmostAppName() override { return std::nullopt; }
};

class NullOverlay final : public JiggleOverlay {
public:
    void flash() override {}
};

class NullHotKeyFactory final : public HotKeyFactory {
public:
    std::unique_ptr<HotKey> create(std::function<void()>) override;
};

} // namespace morvane
