// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder until the estimator lands: it never reads a voice.
#include "dsp/voice_estimator.h"

namespace dsp {

struct VoiceEstimator::State {
    VoiceReading reading;
};

VoiceEstimator::VoiceEstimator() : state_(new State) {}
VoiceEstimator::~VoiceEstimator() {
    delete state_;
}
void VoiceEstimator::reset() {
    *state_ = State{};
}
int VoiceEstimator::push(const float* /*samples*/, size_t /*count*/) {
    return 0;
}
const VoiceReading& VoiceEstimator::reading() const {
    return state_->reading;
}

const char* voice_state_text(VoiceState s) {
    switch (s) {
    case VoiceState::listening:
        return "Listening...";
    case VoiceState::reading:
        return "Reading";
    case VoiceState::ambiguous:
        return "Ambiguous";
    case VoiceState::no_voice:
        break;
    }
    return "No voice";
}

} // namespace dsp
