// SPDX-License-Identifier: GPL-3.0-or-later
// The offset df of a received SSB voice, from the harmonics of voiced speech.
//
// A receiver tuned df off moves every component of the audio by df: the harmonics k F0 of a voice
// arrive at k F0 + df and are no longer whole multiples of one fundamental. F0 and df are fitted
// together on each voiced frame; a single frame cannot tell df from df +- F0, but F0 wanders while
// df stays put, so the frames of a stretch of speech agree on the true df only. Until they do the
// estimator says "listening", and "ambiguous" (naming the candidates) when a voice that barely
// moves leaves two or more open: a confident wrong reading is the one fault it must not have.
#pragma once

#include <cstddef>

namespace dsp {

enum class VoiceState {
    no_voice,  // nothing like voiced speech arrives (silence, noise, tones, a modem, music)
    listening, // voice arrives, but too little of it for a reading yet
    reading,   // df_hz +- uncertainty_hz
    ambiguous, // candidates_hz[0 .. candidate_count) are all open; none is shown as the reading
};

struct VoiceReading {
    VoiceState state = VoiceState::no_voice;
    double df_hz = 0.0;          // reading: positive when the voice comes out high
    double uncertainty_hz = 0.0; // reading: one standard deviation of df_hz
    double voiced_s = 0.0;       // seconds of voiced speech the reading (or the listening) rests on
    static constexpr int max_candidates = 4;
    int candidate_count = 0;                   // ambiguous: at least 2
    double candidates_hz[max_candidates] = {}; // ambiguous: the open values, likeliest first
    // Counts the voices: it changes when a new reading starts (another station, a retune, a
    // correction), so that a display or log can tell a new reading from the old one going on.
    // It changes on reset(), when the latest voiced frames stop agreeing with the reading, and
    // after 8 s without voice; df_hz and uncertainty_hz keep the last reading's values through a
    // pause ("no voice") until then.
    unsigned serial = 0;
};

class VoiceEstimator {
  public:
    static constexpr double max_df_hz = 250.0; // the range read: -max_df_hz .. +max_df_hz

    VoiceEstimator(); // every buffer is allocated here, nothing per sample
    ~VoiceEstimator();
    VoiceEstimator(const VoiceEstimator&) = delete;
    VoiceEstimator& operator=(const VoiceEstimator&) = delete;

    void reset(); // forget everything: the receiver was retuned, the capture restarted
    // Feeds captured audio at dsp::sample_rate_hz, full scale +-1. Returns how many times the
    // reading was updated (at least once a second of input); reading() is the latest.
    int push(const float* samples, size_t count);
    const VoiceReading& reading() const;

  private:
    struct State;
    void analyse_frame();
    void restart(long long from_frame);
    void update_reading(long long now);
    double f0_spread(long long now);
    State* state_;
};

const char* voice_state_text(VoiceState s); // "No voice", "Listening...", "Reading", "Ambiguous"

} // namespace dsp
