// SPDX-License-Identifier: GPL-3.0-or-later
// The host's audio on its sound server, through libpulse: PulseAudio's client library, whose
// protocol PipeWire serves as well. Streams name no device, so the server's default input and
// output are used (the user's choice in the desktop's sound settings), and a stream the user moves
// keeps running on its new device. libpulse runs a thread of its own; every libpulse call below
// is made with that thread's lock held, and what the application must see crosses to the
// user-interface thread with run_on_ui_thread.
#include "platform/wave_backend.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace platform::wave {
namespace {

constexpr const char* client_name = "Tavrene";
constexpr const char* icon_name = "tavrene";
constexpr const char* output_stream_name = "Two-tone test signal";
constexpr const char* input_stream_name = "Returned signal";
constexpr pa_usec_t open_timeout_us = 2'000'000;
constexpr pa_usec_t reconnect_us = 500'000;
// The server gets 16-bit samples, each byte widened exactly ((b - 128) * 256) and narrowed back
// on the way in. A u8 stream would do as well on PulseAudio, but PipeWire fills the gaps of a u8
// stream (its start, a drain) with bytes of 0, full negative scale, where 16-bit streams get
// silence: an audible click at every On and Off.
constexpr pa_sample_format_t wire_format = PA_SAMPLE_S16NE;
constexpr uint32_t wire_frame = sizeof(int16_t);
// Latency asked of the server: output as a whole, input per fragment it hands over.
// The output's in whole frames: 2 * 11025 / 10 bytes is half a frame over.
constexpr uint32_t output_latency_bytes = wire_frame * (sample_rate / 10);
constexpr uint32_t input_fragment_bytes = wire_frame * sample_rate / 20;
constexpr size_t hand_over_bytes = input_fragment_bytes / wire_frame;

int16_t widen(uint8_t b) {
    return static_cast<int16_t>((b - silence_byte) * 256);
}
uint8_t narrow(int16_t s) {
    return static_cast<uint8_t>((s >> 8) + silence_byte);
}

class Loop {
  public:
    Loop() {
        loop_ = pa_threaded_mainloop_new();
        if (loop_ && pa_threaded_mainloop_start(loop_) != 0) {
            pa_threaded_mainloop_free(loop_);
            loop_ = nullptr;
        }
    }
    ~Loop() {
        if (loop_) {
            pa_threaded_mainloop_stop(loop_);
            pa_threaded_mainloop_free(loop_);
        }
    }
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    pa_threaded_mainloop* get() const { return loop_; }
    pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(loop_); }

  private:
    pa_threaded_mainloop* loop_ = nullptr;
};

class Locked {
  public:
    explicit Locked(const Loop& loop) : loop_(loop.get()) { pa_threaded_mainloop_lock(loop_); }
    ~Locked() { pa_threaded_mainloop_unlock(loop_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    pa_threaded_mainloop* loop_;
};

// A one-shot timer on libpulse's thread.
class Timer {
  public:
    Timer(const Loop& loop, std::function<void()> fire) : loop_(loop), fire_(std::move(fire)) {}
    ~Timer() { cancel(); }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void arm(pa_usec_t after_us) {
        timeval at{};
        pa_timeval_add(pa_gettimeofday(&at), after_us);
        if (event_) {
            loop_.api()->time_restart(event_, &at);
        } else {
            event_ = loop_.api()->time_new(loop_.api(), &at, &Timer::expired, this);
        }
        armed_ = true;
    }
    void cancel() {
        if (event_) {
            loop_.api()->time_free(event_);
            event_ = nullptr;
        }
        armed_ = false;
    }
    bool armed() const { return armed_; }

  private:
    static void expired(pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
        auto* timer = static_cast<Timer*>(self);
        timer->armed_ = false;
        timer->fire_();
    }

    const Loop& loop_;
    std::function<void()> fire_;
    pa_time_event* event_ = nullptr;
    bool armed_ = false;
};

void forget(pa_operation* op) {
    if (op) {
        pa_operation_unref(op);
    }
}

MMRESULT open_error(int pa_error) {
    switch (pa_error) {
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_NOENTITY:
    case PA_ERR_INVALIDSERVER:
        return MMSYSERR_BADDEVICEID; // no server, or no device on it
    case PA_ERR_TIMEOUT:
        return MMSYSERR_NODRIVER;
    default:
        return MMSYSERR_ALLOCATED; // the server refused the stream
    }
}

// One connection to the server with one stream on it, made and remade by the derived class.
// Every member is used with the loop locked.
class Connection {
  public:
    enum class State { Idle, Connecting, Ready, Broken };

    Connection(std::shared_ptr<Loop> loop, const char* stream_name)
        : loop_(std::move(loop)), name_(stream_name), deadline_(*loop_, [this] { give_up(); }) {}
    virtual ~Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Waits, with the lock held, until the stream is ready or has failed, at most open_timeout_us.
    MMRESULT open() {
        connect();
        waiting_ = true;
        deadline_.arm(open_timeout_us);
        while (state_ == State::Connecting) {
            pa_threaded_mainloop_wait(loop_->get());
        }
        waiting_ = false;
        deadline_.cancel();
        if (state_ == State::Ready) {
            return MMSYSERR_NOERROR;
        }
        const MMRESULT error = open_error(error_);
        close();
        return error;
    }

  protected:
    virtual pa_stream* make_stream(pa_context* context) = 0;
    virtual void stream_ready() {}
    virtual void stream_broken() {}

    // Starts connecting a new stream, on a new connection unless the last one still stands.
    void connect() {
        drop_stream();
        state_ = State::Connecting;
        if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) {
            add_stream();
            return;
        }
        close();
        state_ = State::Connecting;
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, client_name);
        pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, icon_name);
        context_ = pa_context_new_with_proplist(loop_->api(), client_name, props);
        pa_proplist_free(props);
        if (!context_) {
            fail(PA_ERR_INTERNAL);
            return;
        }
        pa_context_set_state_callback(context_, &Connection::context_changed, this);
        // A program does not start a sound server of its own.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            fail(pa_context_errno(context_));
        }
    }

    // Takes the stream off the server; the connection stays.
    void drop_stream() {
        if (pending_) {
            pa_operation_cancel(pending_);
            pa_operation_unref(pending_);
            pending_ = nullptr;
        }
        if (stream_) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
    }

    void close() {
        drop_stream();
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        state_ = State::Idle;
    }

    // Keeps the one operation in flight, so that a teardown can cancel its callback.
    void track(pa_operation* op) {
        if (pending_) {
            pa_operation_unref(pending_);
        }
        pending_ = op;
    }

    // A mono stream in the wire format (or another), named for the user.
    pa_stream* new_stream(pa_context* context, pa_sample_format_t format = wire_format) const {
        const pa_sample_spec spec{format, sample_rate, 1};
        pa_channel_map map;
        pa_channel_map_init_mono(&map);
        return pa_stream_new(context, name_, &spec, &map);
    }
    pa_threaded_mainloop* loop() const { return loop_->get(); }

    std::shared_ptr<Loop> loop_;
    const char* name_;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_operation* pending_ = nullptr;
    State state_ = State::Idle;

  private:
    void add_stream() {
        stream_ = make_stream(context_);
        if (!stream_) {
            fail(pa_context_errno(context_));
            return;
        }
        pa_stream_set_state_callback(stream_, &Connection::stream_changed, this);
    }

    void fail(int error) {
        error_ = error;
        if (state_ == State::Broken) {
            return;
        }
        state_ = State::Broken;
        pa_threaded_mainloop_signal(loop(), 0);
        if (!waiting_) {
            stream_broken();
        }
    }

    void give_up() {
        if (state_ == State::Connecting) {
            fail(PA_ERR_TIMEOUT);
        }
    }

    static void context_changed(pa_context* c, void* self) {
        auto* conn = static_cast<Connection*>(self);
        switch (pa_context_get_state(c)) {
        case PA_CONTEXT_READY:
            if (conn->state_ == State::Connecting) {
                conn->add_stream();
            }
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            conn->fail(pa_context_errno(c));
            break;
        default:
            break;
        }
    }

    static void stream_changed(pa_stream* s, void* self) {
        auto* conn = static_cast<Connection*>(self);
        switch (pa_stream_get_state(s)) {
        case PA_STREAM_READY:
            conn->state_ = State::Ready;
            pa_threaded_mainloop_signal(conn->loop(), 0);
            if (!conn->waiting_) {
                conn->stream_ready();
            }
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            conn->fail(pa_context_errno(pa_stream_get_context(s)));
            break;
        default:
            break;
        }
    }

    Timer deadline_;
    bool waiting_ = false;
    int error_ = PA_OK;
};

// What an output shares with the user-interface thread. Reports carry the epoch they were made
// in; a reset starts a new one, so a report still on its way is dropped.
struct OutputLink {
    explicit OutputLink(OutputFeed* f) : feed(f) {}
    OutputFeed* feed;
    uint64_t epoch = 0;
};

class PulseOutput final : public OutputStream, public Connection {
  public:
    PulseOutput(std::shared_ptr<Loop> loop, OutputFeed& feed)
        : Connection(std::move(loop), output_stream_name),
          link_(std::make_shared<OutputLink>(&feed)), check_(*loop_, [this] { ask_position(); }) {}

    ~PulseOutput() override {
        link_->feed = nullptr;
        Locked lock(*loop_);
        check_.cancel();
        close();
    }

    void queued() override {
        Locked lock(*loop_);
        switch (state_) {
        case State::Ready:
            write_queued();
            break;
        case State::Idle:
            connect(); // a new stream after a reset; written once it is ready
            break;
        default:
            break;
        }
    }

    void reset() override {
        ++link_->epoch;
        Locked lock(*loop_);
        ++epoch_;
        check_.cancel();
        drop_stream(); // what the server still holds goes with it
        if (state_ != State::Broken) {
            state_ = State::Idle;
        }
        ends_.clear();
        written_ = 0;
        played_ = 0;
    }

  private:
    pa_stream* make_stream(pa_context* context) override {
        pa_stream* stream = new_stream(context);
        if (!stream) {
            return nullptr;
        }
        // Playing starts with the first byte, as on Windows, and an underrun waits for more
        // instead of skipping what comes late.
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = output_latency_bytes;
        attr.prebuf = wire_frame;
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(-1);
        if (pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr,
                                       nullptr) < 0) {
            pa_stream_unref(stream);
            return nullptr;
        }
        return stream;
    }

    void stream_ready() override {
        post([](OutputFeed&, PulseOutput* self) { self->queued(); });
    }

    void stream_broken() override {
        check_.cancel();
        post([](OutputFeed& feed, PulseOutput*) { feed.failed(); });
    }

    // Runs `what` on the user-interface thread unless the device has gone or been reset since.
    template <class F> void post(F what) {
        run_on_ui_thread([link = link_, epoch = epoch_, self = this, what] {
            if (link->feed && link->epoch == epoch) {
                what(*link->feed, self);
            }
        });
    }

    // Everything queued goes to the server at once; each take ends a header or a chunk, and is
    // reported played once the server has played it.
    void write_queued() {
        uint8_t chunk[8192];
        int16_t wire[sizeof chunk];
        while (size_t n = link_->feed ? link_->feed->pull(chunk, sizeof chunk) : 0) {
            std::transform(chunk, chunk + n, wire, widen);
            if (pa_stream_write(stream_, wire, n * wire_frame, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                return; // the stream is failing; its state callback reports it
            }
            written_ += n;
            ends_.push_back(written_);
        }
        if (!ends_.empty() && !check_.armed() && !pending_) {
            check_.arm(time_until(ends_.front()));
        }
    }

    pa_usec_t time_until(uint64_t end) const {
        const uint64_t ahead = end > played_ ? end - played_ : 0;
        return std::max<pa_usec_t>(5'000, ahead * 1'000'000 / sample_rate);
    }

    void ask_position() {
        if (state_ != State::Ready) {
            return;
        }
        track(pa_stream_update_timing_info(stream_, &PulseOutput::position_known, this));
    }

    static void position_known(pa_stream* s, int success, void* me) {
        auto* self = static_cast<PulseOutput*>(me);
        self->track(nullptr);
        pa_usec_t usec = 0;
        if (success && pa_stream_get_time(s, &usec) == 0) {
            const auto bytes =
                static_cast<uint64_t>(std::llround(double(usec) * sample_rate / 1e6));
            self->played_ = std::min(bytes, self->written_);
        }
        self->passed();
    }

    void passed() {
        bool any = false;
        while (!ends_.empty() && ends_.front() <= played_) {
            ends_.pop_front();
            any = true;
        }
        if (any) {
            post([bytes = played_](OutputFeed& feed, PulseOutput*) { feed.played(bytes); });
        }
        if (!ends_.empty()) {
            check_.arm(time_until(ends_.front()));
        }
    }

    std::shared_ptr<OutputLink> link_; // user-interface thread only
    uint64_t epoch_ = 0;               // with the loop locked
    std::deque<uint64_t> ends_;        // positions still to be reported played
    uint64_t written_ = 0;
    uint64_t played_ = 0;
    Timer check_;
};

// What an input shares with the user-interface thread: the bytes read and not yet delivered.
struct InputLink {
    explicit InputLink(InputFeed* f) : feed(f) {}
    InputFeed* feed; // user-interface thread only
    std::mutex mutex;
    std::vector<uint8_t> bytes;
    bool posted = false;
};

class PulseInput final : public InputStream, public Connection {
  public:
    PulseInput(std::shared_ptr<Loop> loop, InputFeed& feed, int bits)
        : Connection(std::move(loop), input_stream_name), link_(std::make_shared<InputLink>(&feed)),
          sample_bytes_(bits == 16 ? 2 : 1), retry_(*loop_, [this] { connect(); }) {}

    ~PulseInput() override {
        link_->feed = nullptr;
        Locked lock(*loop_);
        retry_.cancel();
        close();
    }

    void start() override {
        Locked lock(*loop_);
        running_ = true;
        if (state_ == State::Ready) {
            forget(pa_stream_cork(stream_, 0, nullptr, nullptr));
        }
    }

    void stop() override {
        Locked lock(*loop_);
        running_ = false;
        if (state_ == State::Ready) {
            forget(pa_stream_cork(stream_, 1, nullptr, nullptr));
            forget(pa_stream_flush(stream_, nullptr, nullptr));
        }
        std::lock_guard hold(link_->mutex);
        link_->bytes.clear();
    }

  private:
    pa_stream* make_stream(pa_context* context) override {
        // 16-bit capture takes the server's samples as they are.
        pa_stream* stream = new_stream(context, sample_bytes_ == 2 ? PA_SAMPLE_S16LE : wire_format);
        if (!stream) {
            return nullptr;
        }
        pa_stream_set_read_callback(stream, &PulseInput::readable, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.fragsize = input_fragment_bytes;
        attr.tlength = attr.prebuf = attr.minreq = static_cast<uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                          (running_ ? 0 : PA_STREAM_START_CORKED));
        if (pa_stream_connect_record(stream, nullptr, &attr, flags) < 0) {
            pa_stream_unref(stream);
            return nullptr;
        }
        return stream;
    }

    // Gone (server stopped, device removed, stream killed): connect again to whatever is the
    // default input by then. Meanwhile the device records silence.
    void stream_broken() override { retry_.arm(reconnect_us); }

    static void readable(pa_stream* s, size_t, void* me) {
        auto* self = static_cast<PulseInput*>(me);
        const void* data = nullptr;
        size_t n = 0;
        bool post = false;
        while (pa_stream_peek(s, &data, &n) == 0 && n > 0) {
            std::lock_guard hold(self->link_->mutex);
            auto& bytes = self->link_->bytes;
            const size_t samples = n / wire_frame;
            if (self->sample_bytes_ == 2 && data) {
                const auto* from = static_cast<const uint8_t*>(data);
                bytes.insert(bytes.end(), from, from + samples * 2);
            } else if (self->sample_bytes_ == 2) {
                bytes.insert(bytes.end(), samples * 2, 0); // a hole
            } else if (data) {
                const auto* from = static_cast<const int16_t*>(data);
                std::transform(from, from + samples, std::back_inserter(bytes), narrow);
            } else {
                bytes.insert(bytes.end(), samples, silence_byte); // a hole the server reports
            }
            // The server hands over smaller pieces than asked for; waking the user-interface
            // thread once per fragment's worth halves its wake-ups and repaints sent to the
            // display.
            if (!self->link_->posted && bytes.size() >= hand_over_bytes * self->sample_bytes_) {
                self->link_->posted = true;
                post = true;
            }
            pa_stream_drop(s);
        }
        if (post) {
            run_on_ui_thread([link = self->link_] { hand_over(*link); });
        }
    }

    static void hand_over(InputLink& link) {
        std::vector<uint8_t> bytes;
        {
            std::lock_guard hold(link.mutex);
            bytes.swap(link.bytes);
            link.posted = false;
        }
        if (link.feed && !bytes.empty()) {
            link.feed->deliver(bytes.data(), bytes.size());
        }
    }

    std::shared_ptr<InputLink> link_;
    size_t sample_bytes_;
    bool running_ = false;
    Timer retry_;
};

class PulseBackend final : public Backend {
  public:
    MMRESULT open_output(OutputFeed& feed, std::unique_ptr<OutputStream>& stream) override {
        return open<PulseOutput>(feed, stream);
    }
    MMRESULT open_input(InputFeed& feed, std::unique_ptr<InputStream>& stream, int bits) override {
        return open<PulseInput>(feed, stream, bits);
    }

  private:
    // libpulse's thread, started with the first device and kept for the backend's life.
    std::shared_ptr<Loop> running_loop() {
        if (!loop_) {
            loop_ = std::make_shared<Loop>();
        }
        return loop_->get() ? loop_ : nullptr;
    }

    // The stream is handed over only once the server has it ready.
    template <class Stream, class Feed, class Base, class... Args>
    MMRESULT open(Feed& feed, std::unique_ptr<Base>& stream, Args... args) {
        auto loop = running_loop();
        if (!loop) {
            return MMSYSERR_NODRIVER;
        }
        auto made = std::make_unique<Stream>(loop, feed, args...);
        MMRESULT r;
        {
            Locked lock(*loop);
            r = made->open();
        }
        if (r == MMSYSERR_NOERROR) {
            stream = std::move(made);
        }
        return r;
    }

    std::shared_ptr<Loop> loop_;
};

} // namespace

std::shared_ptr<Backend> make_pulse_backend() {
    return std::make_shared<PulseBackend>();
}

} // namespace platform::wave
