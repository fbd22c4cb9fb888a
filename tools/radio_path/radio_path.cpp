#include "tools/radio_path/radio_path.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace radio_path {

using platform::wave::InputFeed;
using platform::wave::InputStream;
using platform::wave::kRate;
using platform::wave::kSilence;
using platform::wave::OutputFeed;
using platform::wave::OutputStream;

namespace {

constexpr int kTaps = 2 * RadioPath::kShifterDelay + 1;
constexpr uint32_t kLineMask = RadioPath::kMaxDelay;

// Ideal Hilbert transformer 2/(pi n) at odd n, Blackman window, stored so that tap j meets the
// window's sample j (oldest first): the transform of the centre sample is their dot product.
std::vector<double> hilbert_taps() {
    std::vector<double> taps(kTaps, 0.0);
    const int m = RadioPath::kShifterDelay;
    for (int j = 0; j < kTaps; ++j) {
        int n = m - j;
        if (n % 2 == 0) {
            continue;
        }
        double a = 2.0 * std::numbers::pi * j / (kTaps - 1);
        double w = 0.42 - 0.5 * std::cos(a) + 0.08 * std::cos(2.0 * a);
        taps[static_cast<size_t>(j)] = w * 2.0 / (std::numbers::pi * n);
    }
    return taps;
}

class SimOutput final : public OutputStream {
  public:
    SimOutput(std::shared_ptr<RadioPath> path, OutputFeed& feed)
        : path_(std::move(path)), feed_(feed) {}
    ~SimOutput() override { path_->detach(&feed_); }
    void queued() override {} // the path pulls on its own clock
    void reset() override { path_->output_reset(); }

  private:
    std::shared_ptr<RadioPath> path_;
    OutputFeed& feed_;
};

class SimInput final : public InputStream {
  public:
    SimInput(std::shared_ptr<RadioPath> path, InputFeed& feed)
        : path_(std::move(path)), feed_(feed) {}
    ~SimInput() override { path_->detach(&feed_); }
    void start() override { path_->input_started(true); }
    void stop() override { path_->input_started(false); }

  private:
    std::shared_ptr<RadioPath> path_;
    InputFeed& feed_;
};

} // namespace

std::shared_ptr<RadioPath> RadioPath::create() {
    return std::shared_ptr<RadioPath>(new RadioPath());
}

RadioPath::RadioPath()
    : line_(kLineMask + 1, 0.0), window_(2 * kTaps, 0.0), taps_(hilbert_taps()),
      pacer_([this](size_t n) { tick(n); }) {}

RadioPath::~RadioPath() {
    if (death_) {
        platform::cancel_task(death_);
    }
}

void RadioPath::set_df(double hz) {
    df_ = hz;
}
void RadioPath::set_gain(double gain) {
    gain_ = gain;
}
void RadioPath::set_output_absent(bool absent) {
    output_absent_ = absent;
}
void RadioPath::set_input_absent(bool absent) {
    input_absent_ = absent;
}
void RadioPath::set_recording(bool on) {
    recording_ = on;
}

void RadioPath::set_noise(double rms, uint32_t seed) {
    noise_ = rms;
    rng_.seed(seed);
    gauss_.reset();
}

void RadioPath::set_delay_ms(double ms) {
    double samples = std::round(ms * kRate / 1000.0);
    delay_ = static_cast<int>(std::clamp(samples, 0.0, double(kMaxDelay)));
}

int RadioPath::latency() const {
    return delay_ + kShifterDelay;
}

void RadioPath::die_at(int64_t t_us) {
    if (death_) {
        platform::cancel_task(death_);
    }
    std::weak_ptr<RadioPath> self = weak_from_this();
    death_ = platform::schedule_at(t_us, [self] {
        if (auto path = self.lock()) {
            path->death_ = 0;
            path->die();
        }
    });
}

void RadioPath::die() {
    dead_ = true;
    OutputFeed* out = std::exchange(output_, nullptr);
    InputFeed* in = std::exchange(input_, nullptr);
    update_clock();
    // The feeds swap their streams out and destroy them later; nothing of ours is used after.
    if (out) {
        out->failed();
    }
    if (in) {
        in->failed();
    }
}

MMRESULT RadioPath::open_output(OutputFeed& feed, std::unique_ptr<OutputStream>& stream) {
    if (output_absent_ || dead_) {
        return MMSYSERR_BADDEVICEID;
    }
    if (output_) {
        return MMSYSERR_ALLOCATED;
    }
    output_ = &feed;
    playing_ = false;
    taken_ = 0;
    stream = std::make_unique<SimOutput>(shared_from_this(), feed);
    update_clock();
    return MMSYSERR_NOERROR;
}

MMRESULT RadioPath::open_input(InputFeed& feed, std::unique_ptr<InputStream>& stream) {
    if (input_absent_ || dead_) {
        return MMSYSERR_BADDEVICEID;
    }
    if (input_) {
        return MMSYSERR_ALLOCATED;
    }
    input_ = &feed;
    input_started_ = false;
    stream = std::make_unique<SimInput>(shared_from_this(), feed);
    update_clock();
    return MMSYSERR_NOERROR;
}

void RadioPath::detach(OutputFeed* feed) {
    if (output_ != feed) {
        return;
    }
    output_ = nullptr;
    playing_ = false;
    update_clock();
}

void RadioPath::detach(InputFeed* feed) {
    if (input_ != feed) {
        return;
    }
    input_ = nullptr;
    input_started_ = false;
    update_clock();
}

// The air runs while either end is open, so both see one timeline and a fixed latency.
void RadioPath::update_clock() {
    bool needed = output_ || input_;
    if (needed && !pacer_.running()) {
        pacer_.start();
    } else if (!needed && pacer_.running()) {
        pacer_.stop();
        clear_line();
    }
}

void RadioPath::clear_line() {
    std::fill(line_.begin(), line_.end(), 0.0);
    std::fill(window_.begin(), window_.end(), 0.0);
    phase_ = 0.0;
}

void RadioPath::tick(size_t n) {
    block_.resize(n);
    size_t got = 0;
    if (output_) {
        // What leaves the queue is on the air at once: played as soon as it is taken.
        while (size_t k = got < n ? output_->pull(block_.data() + got, n - got) : 0) {
            got += k;
        }
        taken_ += got;
        output_->played(taken_);
    }
    if (got) {
        playing_ = true;
    }
    if (recording_) {
        played_.insert(played_.end(), block_.begin(), block_.begin() + long(got));
    }
    if (playing_) {
        underrun_ += n - got;
    }
    std::fill(block_.begin() + long(got), block_.end(), kSilence);
    for (uint8_t& b : block_) {
        b = carry(b);
    }
    if (input_ && input_started_) {
        delivered_ += n;
        input_->deliver(block_.data(), n);
    }
}

uint8_t RadioPath::carry(uint8_t played) {
    line_[line_pos_ & kLineMask] = double(played) - kSilence;
    double x = line_[(line_pos_ - uint32_t(delay_)) & kLineMask];
    ++line_pos_;

    window_pos_ = (window_pos_ + 1) % kTaps;
    window_[window_pos_] = window_[window_pos_ + kTaps] = x;
    const double* w = &window_[window_pos_ + 1]; // oldest first, newest at kTaps - 1

    double y = w[kShifterDelay];
    if (df_ != 0.0) {
        double xh = 0.0;
        for (int j = 0; j < kTaps; ++j) {
            xh += taps_[size_t(j)] * w[j];
        }
        y = y * std::cos(phase_) - xh * std::sin(phase_);
        phase_ += 2.0 * std::numbers::pi * df_ / kRate;
        phase_ -= 2.0 * std::numbers::pi * std::floor(phase_ / (2.0 * std::numbers::pi));
    }
    y *= gain_;
    if (noise_ > 0.0) {
        y += noise_ * gauss_(rng_);
    }
    return static_cast<uint8_t>(std::clamp(std::lround(y) + kSilence, 0L, 255L));
}

} // namespace radio_path
