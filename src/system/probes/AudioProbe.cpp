#include "Probes.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop-api.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <atomic>
#include <string>

namespace morvane {

// Threads: the main thread only reads the atomics, except when it asks for a new connection,
// which it does under the loop lock. Everything that touches the context runs on the loop's own
// thread, inside its callbacks, where the lock is already held.
struct PulseAudioProbe::Impl {
    enum class Link { Down, Connecting, Up };

    explicit Impl(std::chrono::milliseconds retry)
        : retryInterval(retry) {}

    // Main thread: hands a connection attempt to the loop thread, so a slow or absent server
    // never holds up the caller.
    void requestConnection() {
        link = Link::Connecting;
        lastAttempt = std::chrono::steady_clock::now();
        pa_threaded_mainloop_lock(loop);
        pa_mainloop_api_once(pa_threaded_mainloop_get_api(loop), &Impl::connectNow, this);
        pa_threaded_mainloop_unlock(loop);
    }

    // Loop thread (or after the loop stopped).
    void dropContext() {
        if (!context)
            return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    void forgetSink() {
        playing = false;
        sinkKnown = false;
        defaultSinkIndex = PA_INVALID_INDEX;
    }

    static void connectNow(pa_mainloop_api* api, void* userdata) {
        auto* self = static_cast<Impl*>(userdata);
        if (self->closing)
            return;
        self->dropContext();
        self->forgetSink();
        self->context = pa_context_new(api, "Morvane");
        if (!self->context) {
            self->link = Link::Down;
            return;
        }
        pa_context_set_state_callback(self->context, &Impl::onState, self);
        // Without NOAUTOSPAWN a machine that does not run a sound server would get one started
        // by us.
        if (pa_context_connect(self->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            self->dropContext();
            self->link = Link::Down;
        }
    }

    static void onState(pa_context* c, void* userdata) {
        auto* self = static_cast<Impl*>(userdata);
        switch (pa_context_get_state(c)) {
        case PA_CONTEXT_READY: {
            pa_context_set_subscribe_callback(c, &Impl::onEvent, self);
            const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);
            if (pa_operation* op = pa_context_subscribe(c, mask, nullptr, nullptr))
                pa_operation_unref(op);
            self->queryServer(c);
            self->link = Link::Up;
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            // The context is released by the next attempt: unref inside its own callback is not
            // allowed.
            self->forgetSink();
            self->link = Link::Down;
            break;
        default:
            break;
        }
    }

    static void onEvent(pa_context* c, pa_subscription_event_type_t event, std::uint32_t index,
                        void* userdata) {
        auto* self = static_cast<Impl*>(userdata);
        const unsigned facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const unsigned type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
            // A new default sink is announced as a server change.
            self->queryServer(c);
        } else if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
            if (index == self->defaultSinkIndex && type == PA_SUBSCRIPTION_EVENT_REMOVE)
                self->queryServer(c);
            else if (index == self->defaultSinkIndex)
                self->querySink(c, index);
            else if (self->defaultSinkIndex == PA_INVALID_INDEX && type == PA_SUBSCRIPTION_EVENT_NEW)
                self->queryServer(c);
        }
    }

    void queryServer(pa_context* c) {
        if (pa_operation* op = pa_context_get_server_info(c, &Impl::onServerInfo, this))
            pa_operation_unref(op);
    }

    void querySink(pa_context* c, std::uint32_t index) {
        if (pa_operation* op = pa_context_get_sink_info_by_index(c, index, &Impl::onSinkInfo, this))
            pa_operation_unref(op);
    }

    static void onServerInfo(pa_context* c, const pa_server_info* info, void* userdata) {
        auto* self = static_cast<Impl*>(userdata);
        if (!info || !info->default_sink_name || !*info->default_sink_name) {
            // No output device at all: nothing can be playing.
            self->defaultSinkIndex = PA_INVALID_INDEX;
            self->playing = false;
            self->sinkKnown = true;
            return;
        }
        if (pa_operation* op =
                pa_context_get_sink_info_by_name(c, info->default_sink_name, &Impl::onSinkInfo, self))
            pa_operation_unref(op);
    }

    static void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
        auto* self = static_cast<Impl*>(userdata);
        if (eol < 0) {
            // The default sink vanished between the two queries; its removal event follows.
            self->defaultSinkIndex = PA_INVALID_INDEX;
            self->playing = false;
            self->sinkKnown = true;
            return;
        }
        if (eol > 0 || !info)
            return;
        self->defaultSinkIndex = info->index;
        self->playing = info->state == PA_SINK_RUNNING;
        self->sinkKnown = true;
    }

    pa_threaded_mainloop* loop = nullptr;              // main thread; null while inactive
    pa_context* context = nullptr;                     // loop thread
    std::uint32_t defaultSinkIndex = PA_INVALID_INDEX; // loop thread
    bool closing = false;                              // written under the lock
    std::atomic<Link> link{Link::Down};
    std::atomic<bool> sinkKnown{false};
    std::atomic<bool> playing{false};
    const std::chrono::milliseconds retryInterval;
    std::chrono::steady_clock::time_point lastAttempt; // main thread
};

PulseAudioProbe::PulseAudioProbe(std::chrono::milliseconds retryInterval, bool active)
    : d(std::make_unique<Impl>(retryInterval)) {
    setActive(active);
}

PulseAudioProbe::~PulseAudioProbe() {
    setActive(false);
}

void PulseAudioProbe::setActive(bool active) {
    if (active == (d->loop != nullptr))
        return;
    if (active) {
        d->closing = false;
        d->loop = pa_threaded_mainloop_new();
        if (!d->loop)
            return;
        if (pa_threaded_mainloop_start(d->loop) < 0) {
            pa_threaded_mainloop_free(d->loop);
            d->loop = nullptr;
            return;
        }
        d->requestConnection();
        return;
    }
    pa_threaded_mainloop_lock(d->loop);
    d->closing = true;
    d->dropContext();
    d->forgetSink();
    pa_threaded_mainloop_unlock(d->loop);
    // Stops and joins the loop's thread: nothing of the connection stays but the library.
    pa_threaded_mainloop_stop(d->loop);
    pa_threaded_mainloop_free(d->loop);
    d->loop = nullptr;
    d->link = Impl::Link::Down;
}

bool PulseAudioProbe::audioPlaying() {
    if (!d->loop)
        return false;
    if (d->link == Impl::Link::Down && std::chrono::steady_clock::now() - d->lastAttempt >= d->retryInterval)
        d->requestConnection();
    return d->playing;
}

bool PulseAudioProbe::ready() const {
    return d->link == Impl::Link::Up && d->sinkKnown;
}

} // namespace morvane
