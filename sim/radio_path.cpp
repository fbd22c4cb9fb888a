// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/radio_path.h"

#include "dsp/synth.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace radio_path {

using platform::wave::InputFeed;
using platform::wave::InputStream;
using platform::wave::OutputFeed;
using platform::wave::OutputStream;
using platform::wave::sample_rate;
using platform::wave::silence_byte;

namespace {

constexpr uint32_t line_mask = RadioPath::max_delay;

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

RadioPath::RadioPath() : line_(line_mask + 1, 0.0), pacer_([this](size_t n) { tick(n); }) {
    // A tick's worth and more: nothing grows while it runs.
    captured_.reserve(1024);
    input_bytes_.reserve(2048);
}

RadioPath::~RadioPath() {
    if (death_) {
        platform::cancel_task(death_);
    }
}

void RadioPath::set_df(double hz) {
    LinkSettings s = link_.settings();
    s.df_hz = hz;
    link_.set(s);
}
void RadioPath::set_gain(double gain) {
    LinkSettings s = link_.settings();
    s.gain = gain;
    link_.set(s);
}
void RadioPath::set_link(const LinkSettings& settings) {
    link_.set(settings);
}
void RadioPath::set_output_absent(bool absent) {
    output_absent_ = absent;
}
void RadioPath::set_input_absent(bool absent) {
    input_absent_ = absent;
}
void RadioPath::set_station(bool on) {
    station_ = on;
}
void RadioPath::set_station_voice(std::vector<double> samples) {
    station_voice_ = std::move(samples);
    station_voice_at_ = 0;
}
void RadioPath::set_recording(bool on) {
    recording_ = on;
}

void RadioPath::set_noise(double rms, uint32_t seed) {
    LinkSettings s = link_.settings();
    s.noise_rms = rms;
    s.noise_seed = seed;
    link_.set(s);
}

void RadioPath::set_delay_ms(double ms) {
    double samples = std::round(ms * sample_rate / 1000.0);
    delay_ = static_cast<int>(std::clamp(samples, 0.0, double(max_delay)));
}

int RadioPath::latency() const {
    return delay_ + Link::group_delay;
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

MMRESULT RadioPath::open_input(InputFeed& feed, std::unique_ptr<InputStream>& stream, int bits) {
    if (input_absent_ || dead_) {
        return MMSYSERR_BADDEVICEID;
    }
    if (input_) {
        return MMSYSERR_ALLOCATED;
    }
    input_ = &feed;
    input_started_ = false;
    input_bits_ = bits;
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
    link_.reset();
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
    const bool voice = station_ && !station_voice_.empty();
    if (station_ && !voice && got < n) {
        dsp::synthesize(block_.data() + got, n - got, dsp::base_frequency_hz, station_phase_);
    } else {
        std::fill(block_.begin() + long(got), block_.end(), silence_byte);
    }
    sent_.resize(n);
    for (size_t i = 0; i < n; ++i) {
        double x = double(block_[i]) - silence_byte;
        if (voice && i >= got) {
            x = station_voice_[station_voice_at_];
            station_voice_at_ = (station_voice_at_ + 1) % station_voice_.size();
        }
        line_[line_pos_ & line_mask] = x;
        sent_[i] = line_[(line_pos_ - uint32_t(delay_)) & line_mask];
        ++line_pos_;
    }
    captured_.clear();
    link_.process(sent_.data(), n, captured_);
    if (!input_ || !input_started_) {
        return;
    }
    input_bytes_.clear();
    for (double y : captured_) {
        if (input_bits_ == 16) {
            const auto s = static_cast<uint16_t>(Link::to_16_bits(y));
            input_bytes_.push_back(static_cast<uint8_t>(s & 0xFF)); // little-endian, as PCM is
            input_bytes_.push_back(static_cast<uint8_t>(s >> 8));
        } else {
            input_bytes_.push_back(Link::to_8_bits(y));
        }
    }
    delivered_ += input_bytes_.size();
    input_->deliver(input_bytes_.data(), input_bytes_.size());
}

} // namespace radio_path
