// SPDX-License-Identifier: GPL-3.0-or-later
// The audio behind waveIn*/waveOut*. The device logic (wave.cpp) keeps the Win32 side: handles,
// header queues, flags and notifications. A backend only moves bytes: an output stream takes
// queued bytes and says how far the host has played them, an input stream delivers what its host
// recorded. Every call in either direction happens on the user-interface thread; a backend with
// threads of its own hands over with run_on_ui_thread.
#pragma once

#include "dsp/stream_format.h"
#include "platform/loop.h"
#include "platform/win32.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform::wave {

// The one stream format (dsp/stream_format.h, where the reasons are).
inline constexpr int sample_rate = dsp::sample_rate_hz;
inline constexpr uint8_t silence_byte = dsp::silence_byte;

// The device side of an open output, as its stream sees it. Positions count bytes from the
// stream's start or its last reset.
class OutputFeed {
  public:
    // Moves up to `max` queued bytes into `dst` and returns how many. A take never runs past the
    // end of a header, so every header ends where some take ended. Fewer than `max` bytes with
    // nothing left queued means the queue ran dry.
    virtual size_t pull(uint8_t* dst, size_t max) = 0;
    // The host has played the first `bytes` bytes taken: every header wholly inside them is
    // handed back to the application.
    virtual void played(uint64_t bytes) = 0;
    // The host is gone (server killed, device unplugged). The stream is destroyed soon after
    // and must not call the feed again.
    virtual void failed() = 0;

  protected:
    ~OutputFeed() = default;
};

// The device side of an open input.
class InputFeed {
  public:
    // Recorded bytes, in order. They fill the queued headers; with no header queued they are lost.
    virtual void deliver(const uint8_t* src, size_t n) = 0;
    // The host is gone for good; the device records silence from now on.
    virtual void failed() = 0;

  protected:
    ~InputFeed() = default;
};

class OutputStream {
  public:
    virtual ~OutputStream() = default;
    // Bytes were queued: take them when the host can.
    virtual void queued() = 0;
    // Stop at once and drop whatever the host still holds; positions start again from 0.
    virtual void reset() = 0;
};

class InputStream {
  public:
    virtual ~InputStream() = default;
    virtual void start() = 0;
    // Stop at once; later bytes are not delivered until the next start.
    virtual void stop() = 0;
};

class Backend {
  public:
    virtual ~Backend() = default;
    // The default device. An error (MMSYSERR_BADDEVICEID when there is none) when the stream
    // could not be made. The feed outlives the stream.
    virtual MMRESULT open_output(OutputFeed& feed, std::unique_ptr<OutputStream>& stream) = 0;
    // An input delivers samples of `bits` (8: unsigned about silence_byte; 16: signed
    // little-endian, as WAVE_FORMAT_PCM has them).
    virtual MMRESULT open_input(InputFeed& feed, std::unique_ptr<InputStream>& stream,
                                int bits) = 0;
};

// Chooses the backend for devices opened from now on (null: back to the default, the host's
// sound server through libpulse). Called by tests and tools before they open devices.
void set_backend(std::shared_ptr<Backend> backend);
std::shared_ptr<Backend> current_backend();
std::shared_ptr<Backend> make_pulse_backend();

// Closes every open device at once, without notifications. Runs when the toolkit shuts down;
// tests call it to start from a clean slate.
void close_all();
int open_device_count();

// A started input that has delivered nothing for this long records silence at the nominal rate
// until its host delivers again, so a stalled input never leaves stale bytes on view.
inline constexpr int64_t input_stall_us = 300'000;

// Calls `on_bytes(n)` with the samples due at the nominal rate since start(), every period of the
// platform clock. Real time in the program, virtual time in tests.
class Pacer {
  public:
    explicit Pacer(std::function<void(size_t)> on_bytes, int64_t period_us = 10'000);
    ~Pacer();
    Pacer(const Pacer&) = delete;
    Pacer& operator=(const Pacer&) = delete;

    void start();
    void stop();
    bool running() const { return running_; }

  private:
    void arm();
    void tick();

    std::function<void(size_t)> on_bytes_;
    int64_t period_us_;
    int64_t start_us_ = 0;
    uint64_t done_ = 0;
    TaskId task_ = 0;
    bool running_ = false;
};

} // namespace platform::wave
