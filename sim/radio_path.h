// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated radio path: a wave-audio backend that feeds what the output device plays back
// into the input device the way an SSB link does: a delay, then the link model (sim/link.h).
// One clock, the platform's, paces both directions at the nominal rate; with a clock difference
// the input hands over, on each tick, what the link made of that tick's samples.
#pragma once

#include "platform/wave_backend.h"
#include "sim/link.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace radio_path {

class RadioPath final : public platform::wave::Backend,
                        public std::enable_shared_from_this<RadioPath> {
  public:
    // Samples the shifter delays everything by, whatever df is.
    static constexpr int shifter_delay = Link::group_delay;
    static constexpr int max_delay = (1 << 17) - 1; // samples, about 11.9 s

    static std::shared_ptr<RadioPath> create();
    ~RadioPath() override;

    // Settings take effect from the next sample on.
    void set_df(double hz);
    void set_gain(double gain);
    void set_noise(double rms, uint32_t seed = 1); // Gaussian, rms in 8-bit steps
    void set_delay_ms(double ms);
    void set_link(const LinkSettings& settings); // every setting of the link at once
    void set_output_absent(bool absent);         // opening fails with MMSYSERR_BADDEVICEID
    void set_input_absent(bool absent);
    // At `t_us` on the platform clock the host dies: open streams fail and later opens find
    // no device.
    void die_at(int64_t t_us);
    void set_recording(bool on); // keep a copy of everything played (on by default)
    // Another station on the air: its two-tone goes into the link whenever the output plays
    // nothing (the own transmitter, while it sends, is all the receiver hears).
    void set_station(bool on);
    // What the other station sends instead of its two-tone, looped: a recording in 8-bit steps
    // about the middle (empty: the two-tone again).
    void set_station_voice(std::vector<double> samples);

    // Samples from a byte leaving the output queue to the same byte reaching the input, with
    // the clocks agreeing and no band limit (its delay depends on the frequency).
    int latency() const;
    // Every byte taken from the output queue, in order.
    const std::vector<uint8_t>& played() const { return played_; }
    // Silence that filled in while the output was playing and its queue ran dry.
    uint64_t underrun_bytes() const { return underrun_; }
    // Bytes handed to the input device since it was started.
    uint64_t delivered_bytes() const { return delivered_; }
    bool dead() const { return dead_; }
    bool input_started() const { return input_started_; }

    MMRESULT open_output(platform::wave::OutputFeed& feed,
                         std::unique_ptr<platform::wave::OutputStream>& stream) override;
    // 8 or 16 bits: the link's output rounded as an input of that width rounds it.
    MMRESULT open_input(platform::wave::InputFeed& feed,
                        std::unique_ptr<platform::wave::InputStream>& stream, int bits) override;

    // Used by the streams.
    void detach(platform::wave::OutputFeed* feed);
    void detach(platform::wave::InputFeed* feed);
    void output_reset() {
        playing_ = false;
        taken_ = 0;
    }
    void input_started(bool on) { input_started_ = on; }

  private:
    RadioPath();
    void tick(size_t n);
    void clear_line();
    void update_clock();
    void die();

    int delay_ = 0;
    bool output_absent_ = false;
    bool input_absent_ = false;
    bool dead_ = false;
    bool recording_ = true;
    bool station_ = false;
    double station_phase_ = 0.0;
    std::vector<double> station_voice_;
    size_t station_voice_at_ = 0;
    platform::TaskId death_ = 0;

    platform::wave::OutputFeed* output_ = nullptr;
    platform::wave::InputFeed* input_ = nullptr;
    bool playing_ = false;
    uint64_t taken_ = 0; // bytes taken from the output since it opened or was reset
    bool input_started_ = false;
    int input_bits_ = 8;

    std::vector<double>
        line_; // delay line in 8-bit steps about the middle, a ring of max_delay + 1
    uint32_t line_pos_ = 0;
    Link link_;
    std::vector<double> sent_;     // what goes on the air in one tick
    std::vector<double> captured_; // what the link made of it
    std::vector<uint8_t> input_bytes_;

    std::vector<uint8_t> played_;
    std::vector<uint8_t> block_;
    uint64_t underrun_ = 0;
    uint64_t delivered_ = 0;
    platform::wave::Pacer pacer_;
};

} // namespace radio_path
