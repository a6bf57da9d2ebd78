#include "X11HotKey.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QObject>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace morvane {

namespace {

constexpr xcb_keysym_t kKeysymLowerJ = 0x006a;
constexpr xcb_keysym_t kKeysymNumLock = 0xff7f;
constexpr uint16_t kCombination = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
// The modifier bits of a key event's state; the higher bits hold buttons and the XKB group.
constexpr uint16_t kModifierBits = 0xff;

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T> Reply<T> reply(T* raw) {
    return Reply<T>(raw, &std::free);
}

xcb_connection_t* qtConnection() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The keyboard's keysym table, to find which keycodes carry a keysym.
class KeyboardMapping {
public:
    explicit KeyboardMapping(xcb_connection_t* connection)
        : m_minKeycode(xcb_get_setup(connection)->min_keycode)
        , m_reply(reply(xcb_get_keyboard_mapping_reply(
              connection,
              xcb_get_keyboard_mapping(connection, m_minKeycode,
                                       uint8_t(xcb_get_setup(connection)->max_keycode - m_minKeycode + 1)),
              nullptr))) {}

    // The first keycode that produces `keysym` without modifiers (in the first group), else the
    // first that produces it at all.
    std::optional<xcb_keycode_t> keycodeOf(xcb_keysym_t keysym) const {
        if (!m_reply || m_reply->keysyms_per_keycode == 0)
            return std::nullopt;
        const int perKeycode = m_reply->keysyms_per_keycode;
        const int count = xcb_get_keyboard_mapping_keysyms_length(m_reply.get());
        const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(m_reply.get());
        for (int column = 0; column < perKeycode; ++column) {
            for (int i = column; i < count; i += perKeycode) {
                if (keysyms[i] == keysym)
                    return xcb_keycode_t(m_minKeycode + i / perKeycode);
            }
        }
        return std::nullopt;
    }

private:
    xcb_keycode_t m_minKeycode;
    Reply<xcb_get_keyboard_mapping_reply_t> m_reply;
};

// The modifier bit NumLock sets in this keymap; Mod2 on almost every one.
uint16_t numLockMask(xcb_connection_t* connection, const KeyboardMapping& mapping) {
    const std::optional<xcb_keycode_t> numLock = mapping.keycodeOf(kKeysymNumLock);
    const auto modifiers =
        reply(xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
    if (!numLock || !modifiers)
        return XCB_MOD_MASK_2;
    const int perModifier = modifiers->keycodes_per_modifier;
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(modifiers.get());
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            if (keycodes[modifier * perModifier + i] == *numLock)
                return uint16_t(1u << modifier);
        }
    }
    return XCB_MOD_MASK_2;
}

class X11HotKey final : public HotKey, public QAbstractNativeEventFilter {
public:
    explicit X11HotKey(std::function<void()> action)
        : m_action(std::move(action)) {}

    ~X11HotKey() override { unregisterKey(); }

    void registerKey() override {
        if (m_registered)
            return;
        xcb_connection_t* connection = qtConnection();
        if (!connection)
            return;
        const KeyboardMapping mapping(connection);
        const std::optional<xcb_keycode_t> keycode = mapping.keycodeOf(kKeysymLowerJ);
        if (!keycode)
            return;
        m_numLock = numLockMask(connection, mapping);
        const uint16_t locks[] = {0, XCB_MOD_MASK_LOCK, m_numLock, uint16_t(XCB_MOD_MASK_LOCK | m_numLock)};

        // Send every grab before checking any, so that registering costs one round trip.
        struct Pending {
            Grab grab;
            xcb_void_cookie_t cookie;
        };
        std::vector<Pending> pending;
        for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem;
             xcb_screen_next(&it)) {
            for (uint16_t lock : locks) {
                const Grab grab{it.data->root, uint16_t(kCombination | lock)};
                // Not owner_events: presses are reported on the root whichever window has focus.
                pending.push_back(
                    {grab, xcb_grab_key_checked(connection, false, grab.root, grab.modifiers, *keycode,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
            }
        }
        bool refused = false;
        for (const Pending& p : pending) {
            // BadAccess when another client holds the same combination.
            if (xcb_generic_error_t* error = xcb_request_check(connection, p.cookie)) {
                std::free(error);
                refused = true;
            } else {
                m_grabs.push_back(p.grab);
            }
        }
        m_keycode = *keycode;
        if (refused) {
            ungrab(connection);
            return;
        }
        m_keyDown = false;
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_registered = true;
    }

    void unregisterKey() override {
        if (!m_registered)
            return;
        // Both go with the application, which may already have ended when the engine lets go.
        if (QCoreApplication* app = QCoreApplication::instance())
            app->removeNativeEventFilter(this);
        if (xcb_connection_t* connection = qtConnection())
            ungrab(connection);
        m_grabs.clear();
        m_registered = false;
    }

    bool isRegistered() const override { return m_registered; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const uint8_t type = event->response_type & 0x7f;
        if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
            return false;
        const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
        if (key->detail != m_keycode)
            return false;
        if (type == XCB_KEY_RELEASE) {
            m_keyDown = false;
            m_lastRelease = key->time;
            return false;
        }
        const uint16_t modifiers = key->state & kModifierBits & ~(XCB_MOD_MASK_LOCK | m_numLock);
        if (modifiers != kCombination)
            return false;
        // The server repeats a held key as a release and a press with the same timestamp, or as
        // presses alone for a connection that asked for detectable auto-repeat (Qt 6.4 does
        // not). Either way only the first press of a physical press counts.
        const bool repeat = m_keyDown || key->time == m_lastRelease;
        m_keyDown = true;
        if (!repeat) {
            QMetaObject::invokeMethod(
                &m_queue,
                [this] {
                    if (m_action)
                        m_action();
                },
                Qt::QueuedConnection);
        }
        return true;
    }

private:
    struct Grab {
        xcb_window_t root;
        uint16_t modifiers;
    };

    void ungrab(xcb_connection_t* connection) {
        for (const Grab& grab : m_grabs)
            xcb_ungrab_key(connection, m_keycode, grab.root, grab.modifiers);
        m_grabs.clear();
        xcb_flush(connection);
    }

    std::function<void()> m_action;
    bool m_registered = false;
    std::vector<Grab> m_grabs;
    xcb_keycode_t m_keycode = 0;
    uint16_t m_numLock = XCB_MOD_MASK_2;
    bool m_keyDown = false;
    xcb_timestamp_t m_lastRelease = 0;
    // Receives the queued actions; pending ones die with it.
    QObject m_queue;
};

} // namespace

std::unique_ptr<HotKey> X11HotKeyFactory::create(std::function<void()> action) {
    return std::make_unique<X11HotKey>(std::move(action));
}

} // namespace morvane
