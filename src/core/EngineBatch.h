#pragma once

#include "Engine.h"

namespace morvane {

// Groups the changes of one operation so that observers hear a single `changed()` at its end,
// after every field has its new value. Nested batches emit only when the outermost one closes.
class Engine::Batch {
public:
    explicit Batch(Engine& engine)
        : m_engine(engine) {
        ++m_engine.m_batchDepth;
    }
    ~Batch() {
        if (--m_engine.m_batchDepth != 0)
            return;
        m_engine.planTicks();
        if (m_engine.m_dirty) {
            m_engine.m_dirty = false;
            Q_EMIT m_engine.changed();
        }
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

private:
    Engine& m_engine;
};

} // namespace morvane
