#include "NullPorts.h"

namespace morvane {

namespace {

class NullHotKey final : public HotKey {
public:
    void registerKey() override {}
    void unregisterKey() override {}
    bool isRegistered() const override { return false; }
};

} // namespace

std::unique_ptr<HotKey> NullHotKeyFactory::create(std::function<void()>) {
    return std::make_unique<NullHotKey>();
}

} // namespace morvane
