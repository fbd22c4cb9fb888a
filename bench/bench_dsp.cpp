// SPDX-License-Identifier: GPL-3.0-or-later
// Costs of the signal core. The synthesizer is measured next to the bare sines it must compute,
// which are its floor; the band-pass pair per 528-byte block; the df estimator per second of
// captured input; the voice estimator per second of received speech.
#include "bench/voice_channel.h"
#include "dsp/bandpass.h"
#include "dsp/df_estimator.h"
#include "dsp/synth.h"
#include "dsp/voice_estimator.h"
#include "sim/link.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

void BM_FillToneBlock(benchmark::State& state) {
    std::vector<unsigned char> block(dsp::tone_block_bytes);
    for (auto _ : state) {
        dsp::fill_tone_block(block.data(), dsp::base_frequency_hz);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * dsp::tone_block_bytes);
}
BENCHMARK(BM_FillToneBlock);

// The 8192 sines of one block (sin p and sin 2p for 4096 phases) and nothing else.
void BM_SinesOfOneBlock(benchmark::State& state) {
    std::vector<double> phases(dsp::tone_block_bytes);
    double p = 0.0;
    for (auto& v : phases) {
        v = p;
        p = p + (1000 * dsp::two_pi) / 11025.0;
        if (p > dsp::two_pi) {
            p -= dsp::two_pi;
        }
    }
    for (auto _ : state) {
        double sum = 0.0;
        for (double v : phases) {
            sum += std::sin(v);
            sum += std::sin(2.0 * v);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 2 * dsp::tone_block_bytes);
}
BENCHMARK(BM_SinesOfOneBlock);

void BM_ComputePoints(benchmark::State& state) {
    std::vector<unsigned char> block(dsp::capture_block_bytes);
    double phase = 0.0;
    dsp::synthesize(block.data(), block.size(), dsp::base_frequency_hz, phase);
    dsp::XYPoint points[dsp::xy_point_count];
    for (auto _ : state) {
        dsp::compute_points(block.data(), points);
        benchmark::DoNotOptimize(points);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ComputePoints);

// One second of a noisy, band-limited two-tone 0.37 Hz off through the estimator, from a 10 s
// capture fed round and round: 25 blocks, the spectrum and the fit with each.
void BM_DfEstimatorSecond(benchmark::State& state) {
    std::vector<uint8_t> played(10 * dsp::sample_rate_hz);
    double phase = 0.0;
    dsp::synthesize(played.data(), played.size(), dsp::base_frequency_hz, phase);
    radio_path::LinkSettings settings;
    settings.df_hz = 0.37;
    settings.noise_rms = 10.0;
    settings.clock_ppm = 100.0;
    settings.band_limit = true;
    std::vector<uint8_t> captured;
    radio_path::Link(settings).process(played.data(), played.size(), captured);
    const size_t second = dsp::sample_rate_hz;
    dsp::DfEstimator estimator;
    size_t at = 0;
    while (state.KeepRunning()) {
        if (at + second > captured.size()) {
            at = 0;
        }
        benchmark::DoNotOptimize(estimator.push(captured.data() + at, second));
        at += second;
    }
    state.SetItemsProcessed(state.iterations() * second);
}
BENCHMARK(BM_DfEstimatorSecond)->Unit(benchmark::kMicrosecond);

// One second of speech (codec2-examples' morig looped to 10 s, 77.8 Hz off, 20 dB, the receive
// filter and AGC) through the voice estimator, fed round and round.
void BM_VoiceEstimatorSecond(benchmark::State& state) {
    std::string error;
    std::vector<float> x = voice_channel::codec2_file("morig", error);
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    voice_channel::Settings settings;
    settings.df_hz = 77.8;
    settings.snr_db = 20.0;
    const std::vector<float> received =
        voice_channel::receive(voice_channel::loop_to(x, 10.0), settings);
    const size_t second = dsp::sample_rate_hz;
    dsp::VoiceEstimator estimator;
    size_t at = 0;
    while (state.KeepRunning()) {
        if (at + second > received.size()) {
            at = 0;
        }
        benchmark::DoNotOptimize(estimator.push(received.data() + at, second));
        at += second;
    }
    state.SetItemsProcessed(state.iterations() * second);
}
BENCHMARK(BM_VoiceEstimatorSecond)->Unit(benchmark::kMicrosecond);

} // namespace
